// The digital port that board models share: what the lines carry for each
// direction, latch and field level, and when a point is on.
#include <gtest/gtest.h>

#include <cstdint>

#include "tavex/sim/DigitalPort.h"

using Tavex::Sim::DigitalPort;

TEST(DigitalPort, LinesCarryTheLatchOnOutputsAndTheFieldOnInputs) {
    const struct {
        std::uint8_t outputs, latch, field;
        std::uint8_t lines, driven;
    } cases[] = {
        {0x00, 0x00, 0xFF, 0xFF, 0xFF},   // all inputs, nothing applied: pulled high
        {0x00, 0x00, 0x5A, 0x5A, 0xFF},   // inputs show the field, the latch is not driven
        {0xFF, 0x0F, 0x00, 0x0F, 0x0F},   // all outputs: the field cannot pull them
        {0xF0, 0x3C, 0x96, 0x36, 0x3F},   // mixed halves
    };
    for (const auto& c : cases) {
        DigitalPort port;
        port.setOutputs(c.outputs).setLatch(c.latch).setFieldLevels(c.field);
        EXPECT_EQ(c.lines, port.lineLevels());
        EXPECT_EQ(c.driven, port.drivenLevels());
    }
}

TEST(DigitalPort, APointIsOnAtItsActiveLevel) {
    for (DigitalPort::Polarity polarity : {DigitalPort::ActiveLow, DigitalPort::ActiveHigh}) {
        DigitalPort port(0x00, 0x0F, polarity);   // lines 0-3 outputs, latch low
        port.setInputPoints(0x30);                // points 4 and 5 switched on by the field
        const bool low = polarity == DigitalPort::ActiveLow;
        for (unsigned line = 0; line < 8; ++line) {
            SCOPED_TRACE(line);
            const bool expected = line < 4 ? low : (line == 4 || line == 5);
            EXPECT_EQ(expected, port.pointOn(line));
            EXPECT_EQ(line < 4 && low, port.outputOn(line));
        }
        EXPECT_EQ(low ? 0xCF : 0x30, port.fieldLevels());
    }
    EXPECT_THROW(DigitalPort().lineLevel(8), std::out_of_range);
}
