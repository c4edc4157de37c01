// DigitalPort: eight digital lines of a board model, as the board's logic
// sees them.  Each line is an input or an output (the direction mask, bit
// set = output).  An output line is driven by its bit of the output latch;
// an input line carries whatever the field applies to it, and a line the
// field leaves alone is pulled high.  Reading the port gives the level of
// every line: the latch on outputs, the field on inputs.
//
// Levels are electrical (bit set = line high).  On an active-low board a
// point is on when its line is low; on an active-high board when it is high.
//
// Board models keep one DigitalPort per 8-line port and decode their own
// registers around it (a direction register, a control word, a data
// register); the field side of a test reaches the lines through it.
#ifndef TAVEX_SIM_DIGITALPORT_H
#define TAVEX_SIM_DIGITALPORT_H

#include <cstdint>

namespace Tavex {
namespace Sim {

class DigitalPort {
public:
    enum Polarity { ActiveLow, ActiveHigh };

    // Power-up state: the given latch and direction, every field line high.
    explicit DigitalPort(std::uint8_t latch = 0xFF, std::uint8_t outputs = 0x00,
                         Polarity polarity = ActiveLow);

    // --- board side ---------------------------------------------------------
    DigitalPort& setOutputs(std::uint8_t outputs);
    std::uint8_t outputs() const { return outputs_; }
    DigitalPort& setLatch(std::uint8_t latch);
    std::uint8_t latch() const { return latch_; }
    // The levels on the lines: the latch on outputs, the field on inputs.
    std::uint8_t lineLevels() const;

    // --- field side ---------------------------------------------------------
    // Levels the field applies, bit set = high; they show on input lines.
    DigitalPort& setFieldLevels(std::uint8_t levels);
    DigitalPort& setFieldLine(unsigned line, bool high);
    std::uint8_t fieldLevels() const { return field_; }
    // Levels the board drives; input lines read 1 (not driven, pulled high).
    std::uint8_t drivenLevels() const;
    bool lineLevel(unsigned line) const;
    bool isOutput(unsigned line) const;
    // The point of a line is on: its line is at the active level.
    bool pointOn(unsigned line) const;
    // An output line that the board drives to the active level.
    bool outputOn(unsigned line) const;
    // Field levels that switch the given points on (bit set = point on).
    DigitalPort& setInputPoints(std::uint8_t on);

    Polarity polarity() const { return polarity_; }

private:
    static std::uint8_t bit(unsigned line);

    std::uint8_t latch_;
    std::uint8_t outputs_;
    std::uint8_t field_;
    Polarity polarity_;
};

}  // namespace Sim
}  // namespace Tavex

#endif
