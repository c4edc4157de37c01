// The map and the answers through libmodbus's own client: where each point
// sits, the word order, written values reaching the tracks whole, and the
// exception code of every refusal.
#include <gtest/gtest.h>

#include <cerrno>
#include <sstream>

#include "Rig.h"

using namespace Tavex::Gateway;

namespace {

// Two cards: a has inputs, outputs, analog points and a counter on two
// tracks; b has one output track.
const std::vector<RigTrack> plant = {
    {"mixed", "a", 0, "IIOONA", {0, 0, 1, 0, 0, 0}},
    {"analog", "a", 4, "UCUR", {0, 0, -5, 0}},
    {"lamps", "b", 0, "OOO", {1, 1, 1}},
};

std::vector<std::uint16_t> readInput(modbus_t* ctx, int address, int count) {
    std::vector<std::uint16_t> r(count, 0xDEAD);
    EXPECT_EQ(modbus_read_input_registers(ctx, address, count, r.data()), count)
        << modbus_strerror(errno);
    return r;
}

// Sends a PDU as it is and returns 0 for an answer, or -1 with errno set
// as libmodbus sets it for an exception (MODBUS_ENOBASE + code).
int raw(modbus_t* ctx, std::vector<std::uint8_t> pdu) {
    pdu.insert(pdu.begin(), std::uint8_t(modbus_get_slave(ctx)));
    if (modbus_send_raw_request(ctx, pdu.data(), int(pdu.size())) < 0)
        return -1;
    std::uint8_t answer[MODBUS_TCP_MAX_ADU_LENGTH];
    if (modbus_receive_confirmation(ctx, answer) < 0)
        return -1;
    if (answer[7] & 0x80) {
        errno = MODBUS_ENOBASE + answer[8];
        return -1;
    }
    return 0;
}

}  // namespace

TEST(GatewayMap, PointsFillEachTableInFileOrder) {
    RegisterMap map({{"mixed", "a", "IIOONA", {"start", "stop"}, {}},
                     {"analog", "a", "UCUR", {}, {}},
                     {"lamps", "b", "OOO", {}, {}}},
                    {{"a", 1}, {"b", 7}});
    const Unit& a = *map.unit(1);
    EXPECT_EQ(map.unit(2), nullptr);
    EXPECT_EQ(RegisterMap::size(a, DiscreteInputs), 2u);
    EXPECT_EQ(RegisterMap::size(a, Coils), 2u);
    EXPECT_EQ(RegisterMap::size(a, InputRegisters), 6u);   // A, C, R: two each
    EXPECT_EQ(RegisterMap::size(a, HoldingRegisters), 4u);
    // The counter of analog is the second input-register pair, after mixed's A.
    EXPECT_EQ(a.points[InputRegisters][1].track, 1u);
    EXPECT_EQ(a.points[InputRegisters][1].point, 1u);
    EXPECT_EQ(a.points[InputRegisters][1].value, 7u);
    EXPECT_EQ(RegisterMap::size(*map.unit(7), Coils), 3u);

    std::ostringstream out;
    map.print(out);
    const std::string text = out.str();
    for (const char* line : {
             "1     coil              0          00001  mixed.2           O\n",
             "1     discrete input    1          10002  mixed.1           I     stop\n",
             "1     holding register  2-3        40003  analog.2          U\n",
             "1     input register    4-5        30005  analog.3          R\n",
             "1     input register    9000-9001  39001  (scan counter)\n",
             "1     input register    9004       39005  (state of analog)\n",
             "7     coil              2          00003  lamps.2           O\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\nin\n" << text;

    EXPECT_EQ(fiveDigit(HoldingRegisters, 9998), "49999");
    EXPECT_EQ(fiveDigit(Coils, 9999), "-");
}

TEST(GatewayMap, RefusesMapsThatDoNotFit) {
    for (const auto& units : std::vector<std::vector<std::pair<std::string, int> > >{
             {{"a", 1}},               // b has no unit
             {{"a", 1}, {"b", 1}}})    // one unit for two cards
        EXPECT_THROW(RegisterMap({{"x", "a", "I", {}, {}}, {"y", "b", "O", {}, {}}}, units),
                     std::invalid_argument);
    // Two input-register pairs do not fit below status registers at 3.
    EXPECT_THROW(RegisterMap({{"x", "a", "AA", {}, {}}}, {{"a", 1}}, 3), std::invalid_argument);
}

TEST(GatewayMap, ReadsTheLastCycleAndWritesWholeValues) {
    for (const bool lowFirst : {false, true}) {
        SCOPED_TRACE(lowFirst ? "low word first" : "high word first");
        ServeOptions serve;
        serve.lowWordFirst = lowFirst;
        Rig rig(plant, serve);
        rig.a.field[0] = {1, 0, 0, 0, 0, -2};
        rig.a.field[4] = {0, 0x12345678, 0, 70000};
        rig.cycle();
        Client c(rig.client(1));
        ASSERT_TRUE(c.ctx);

        std::uint8_t bits[2];
        ASSERT_EQ(modbus_read_input_bits(c.ctx, 0, 2, bits), 2);
        EXPECT_EQ(bits[0], 1);
        EXPECT_EQ(bits[1], 0);
        const auto pair = [&](std::uint32_t v) {
            return lowFirst ? std::vector<std::uint16_t>{std::uint16_t(v), std::uint16_t(v >> 16)}
                            : std::vector<std::uint16_t>{std::uint16_t(v >> 16), std::uint16_t(v)};
        };
        std::vector<std::uint16_t> expected;
        for (std::uint32_t v : {0xFFFFFFFEu, 0x12345678u, 70000u})
            for (std::uint16_t w : pair(v))
                expected.push_back(w);
        EXPECT_EQ(readInput(c.ctx, 0, 6), expected);
        // The status block: one cycle, a fresh snapshot, every track ok.
        const std::vector<std::uint16_t> status = readInput(c.ctx, 9000, 5);
        EXPECT_EQ(std::vector<std::uint16_t>(status.begin(), status.begin() + 2), pair(1));
        EXPECT_EQ(status[2], 0);
        EXPECT_EQ(status[3], 0);
        EXPECT_EQ(status[4], 0);
        rig.now += 1500000000;   // 1.5 s later, no cycle
        EXPECT_EQ(readInput(c.ctx, 9002, 1)[0], 1500);

        // Writes: a whole pair, then only one half of the other, then coils.
        const std::vector<std::uint16_t> value = pair(0x80000001u);
        ASSERT_EQ(modbus_write_registers(c.ctx, 0, 2, value.data()), 2);
        ASSERT_EQ(modbus_write_register(c.ctx, lowFirst ? 2 : 3, 0x0042), 1);
        ASSERT_EQ(modbus_write_bit(c.ctx, 1, 1), 1);
        // Read back before the scan took them: what was written.
        std::uint16_t held[4];
        ASSERT_EQ(modbus_read_registers(c.ctx, 0, 4, held), 4);
        EXPECT_EQ(std::vector<std::uint16_t>(held, held + 2), value);
        EXPECT_EQ(rig.track(1)[0], 0);
        rig.cycle();
        EXPECT_EQ(rig.track(1)[0], long(std::int32_t(0x80000001u)));
        EXPECT_EQ(rig.track(1)[2], 0x42);
        EXPECT_EQ(rig.a.written[0][3], 1);
        EXPECT_EQ(rig.a.written[4][0], long(std::int32_t(0x80000001u)));

        // Unit 2 is card b, with coils only.
        Client b(rig.client(2));
        const std::uint8_t on[3] = {1, 0, 1};
        ASSERT_EQ(modbus_write_bits(b.ctx, 0, 3, on), 3);
        rig.cycle();
        EXPECT_EQ(rig.b.written[0], (std::vector<long>{1, 0, 1}));
    }
}

TEST(GatewayMap, RefusalsCarryTheirExceptionCode) {
    struct Case {
        const char* what;
        int unit;
        std::function<int(modbus_t*)> request;
        int code;   // 0: answered
    };
    std::uint16_t r[130];
    std::uint8_t bits[2000];
    const std::vector<Case> cases = {
        {"read holding registers", 1, [&](modbus_t* c) { return modbus_read_registers(c, 0, 4, r); }, 0},
        {"unknown unit", 9, [&](modbus_t* c) { return modbus_read_registers(c, 0, 1, r); }, 0x0A},
        {"report server id", 1, [&](modbus_t* c) { return modbus_report_slave_id(c, 10, bits); }, 0x01},
        {"function 0x2B", 1, [&](modbus_t* c) { return raw(c, {0x2B, 0x0E, 1, 0}); }, 0x01},
        {"function 0x07", 1, [&](modbus_t* c) { return raw(c, {0x07}); }, 0x01},
        {"126 registers", 1, [&](modbus_t* c) { return raw(c, {0x03, 0, 0, 0, 126}); }, 0x03},
        {"0 coils", 1, [&](modbus_t* c) { return raw(c, {0x01, 0, 0, 0, 0}); }, 0x03},
        {"coil value 0x1234", 1, [&](modbus_t* c) { return raw(c, {0x05, 0, 0, 0x12, 0x34}); }, 0x03},
        {"byte count short of the registers", 1, [&](modbus_t* c) {
             return raw(c, {0x10, 0, 0, 0, 2, 2, 0, 1}); }, 0x03},
        {"read request with a byte too many", 1, [&](modbus_t* c) {
             return raw(c, {0x03, 0, 0, 0, 1, 0}); }, 0x03},
        {"mask write", 1, [&](modbus_t* c) { return modbus_mask_write_register(c, 1, 0xFF00, 0x0012); }, 0},
        {"read/write registers", 1, [&](modbus_t* c) {
             const std::uint16_t w[2] = {1, 2};
             return modbus_write_and_read_registers(c, 2, 2, w, 0, 4, r); }, 0},
        {"past the holding registers", 1, [&](modbus_t* c) { return modbus_read_registers(c, 1, 4, r); }, 0x02},
        {"write to a discrete input's address", 1, [&](modbus_t* c) { return modbus_write_bit(c, 2, 1); }, 0x02},
        {"input registers between points and status", 1, [&](modbus_t* c) {
             return modbus_read_input_registers(c, 5, 2, r); }, 0x02},
        {"past the status block", 1, [&](modbus_t* c) {
             return modbus_read_input_registers(c, 9000, 6, r); }, 0x02},
        {"coils of a unit with none beyond 3", 2, [&](modbus_t* c) { return modbus_read_bits(c, 0, 4, bits); }, 0x02},
    };
    Rig rig(plant);
    rig.cycle();
    Client c1(rig.client(1));
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        Client c(rig.client(test.unit));
        ASSERT_TRUE(c.ctx);
        errno = 0;
        const int rc = test.request(c.ctx);
        if (test.code == 0) {
            EXPECT_GE(rc, 0) << modbus_strerror(errno);
        } else {
            EXPECT_EQ(rc, -1);
            EXPECT_EQ(errno, MODBUS_ENOBASE + test.code) << modbus_strerror(errno);
        }
    }
}

TEST(GatewayMap, DownCardAndReadOnly) {
    struct Case {
        const char* what;
        int downCode;
        bool readOnly;
        int readCode, writeCode;   // 0: answered
    };
    const Case cases[] = {
        {"down: 0x0B", 0x0B, false, 0x0B, 0x0B},
        {"down: code 0x04 configured", 0x04, false, 0x04, 0x04},
        {"down: answered with the last values", 0, false, 0, 0},
        {"read-only", 0, true, 0, 0x01},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        ServeOptions serve;
        serve.downCode = test.downCode;
        serve.readOnly = test.readOnly;
        Rig rig(plant, serve);
        rig.a.field[0] = {1, 1};
        rig.cycle();
        rig.a.state = test.readOnly ? 0 : 2;
        rig.a.field[0] = {0, 0};
        rig.cycle();
        Client c(rig.client(1));
        std::uint8_t bits[2] = {9, 9};
        errno = 0;
        const int read = modbus_read_input_bits(c.ctx, 0, 2, bits);
        EXPECT_EQ(read == -1 ? errno - MODBUS_ENOBASE : 0, test.readCode);
        const int write = modbus_write_bit(c.ctx, 0, 1);
        EXPECT_EQ(write == -1 ? errno - MODBUS_ENOBASE : 0, test.writeCode);
        // The state registers tell the down card however the points answer,
        // and a card that is up still answers.
        std::uint16_t state[2];
        ASSERT_EQ(modbus_read_input_registers(c.ctx, 9003, 2, state), 2);
        EXPECT_EQ(state[0], test.readOnly ? 0 : 2);
        Client b(rig.client(2));
        EXPECT_EQ(modbus_read_bits(b.ctx, 0, 3, bits), 3);
    }
}

TEST(GatewayWatchdog, WritesSafeValuesWhenNoClientWrites) {
    Rig rig(plant, ServeOptions(), ServerOptions(), 500);
    Client c(rig.client(2));
    const std::uint8_t off[3] = {0, 0, 0};
    ASSERT_EQ(modbus_write_bits(c.ctx, 0, 3, off), 3);
    rig.cycle();
    EXPECT_EQ(rig.b.written[0], (std::vector<long>{0, 0, 0}));
    rig.now += 499000000;
    rig.cycle();
    EXPECT_EQ(rig.b.written[0], (std::vector<long>{0, 0, 0}));
    EXPECT_EQ(rig.bridge->watchdogTrips(), 0u);
    rig.now += 1000000;
    rig.cycle();
    // Every output track of every card, once.
    EXPECT_EQ(rig.b.written[0], (std::vector<long>{1, 1, 1}));
    EXPECT_EQ(rig.a.written[4], (std::vector<long>{0, 0, -5, 0}));
    EXPECT_EQ(rig.a.written[0][2], 1);
    EXPECT_EQ(rig.bridge->watchdogTrips(), 1u);
    rig.now += 2000000000;
    rig.cycle();
    EXPECT_EQ(rig.bridge->watchdogTrips(), 1u);
    // A write arms it again, and stands until the time runs out once more.
    ASSERT_EQ(modbus_write_bit(c.ctx, 1, 0), 1);
    rig.cycle();
    EXPECT_EQ(rig.b.written[0], (std::vector<long>{1, 0, 1}));
    rig.now += 600000000;
    rig.cycle();
    EXPECT_EQ(rig.b.written[0], (std::vector<long>{1, 1, 1}));
    EXPECT_EQ(rig.bridge->watchdogTrips(), 2u);
}
