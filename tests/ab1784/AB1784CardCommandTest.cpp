// Commands of a class derived from AB1784Card, sent after the start-up:
// the command block, the transaction numbers and the parameter checks.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "KTxScene.h"

using namespace KTxTest;

namespace {

// A card that sends commands of its own, as a derived class may.
class CommandingCard : public Tavex::AB1784Card {
public:
    CommandingCard(unsigned int address, const char* path, unsigned int speed)
        : AB1784Card(address, path, speed) {}
    void send(unsigned char command, const unsigned char* parameters, unsigned int length) {
        commandToHost(command, parameters, length);
    }
};

class AB1784CardCommand : public ::testing::Test {
protected:
    AB1784CardCommand() : owned(new CommandingCard(0xC0000, s.path().c_str(), 0xFE)), card(*owned) {}

    std::vector<std::uint8_t> commandArea() const {
        const std::uint8_t* d = s.board.memory().data();
        return std::vector<std::uint8_t>(d + KTx::CommandBlock, d + KTx::Confirmation + 3);
    }

    Scene s;
    // Held by pointer: the card's destructor may throw, a fixture's may not.
    std::unique_ptr<CommandingCard> owned;
    CommandingCard& card;
};

}  // namespace

TEST_F(AB1784CardCommand, SendsTheBlockAndItsParameters) {
    Bytes parameters = pattern(253, 0x61);
    card.send(0x2A, &parameters[0], 253);
    card.send(0x2B, &parameters[0], 5);
    card.send(0x2C, 0, 0);
    const std::vector<KTx::Command>& commands = s.board.commands();
    ASSERT_EQ(5u, commands.size());
    EXPECT_EQ(0x2A, commands[2].code);
    EXPECT_EQ(253, commands[2].length);
    EXPECT_EQ(parameters, commands[2].parameters);
    EXPECT_EQ(0x2B, commands[3].code);
    EXPECT_EQ(Bytes(parameters.begin(), parameters.begin() + 5), commands[3].parameters);
    EXPECT_EQ(0x2C, commands[4].code);
    EXPECT_EQ(0, commands[4].length);
    EXPECT_TRUE(s.board.lastConfirmationAcknowledged());
    EXPECT_EQ(0u, s.board.strayInterrupts());
}

TEST_F(AB1784CardCommand, TransactionNumbersRunOnAndWrap) {
    for (unsigned i = 0; i < 256; ++i)
        card.send(0x20, 0, 0);
    const std::vector<KTx::Command>& commands = s.board.commands();
    ASSERT_EQ(258u, commands.size());
    unsigned wraps = 0;
    for (std::size_t i = 1; i < commands.size(); ++i) {
        EXPECT_EQ(static_cast<std::uint8_t>(commands[i - 1].transaction + 1),
                  commands[i].transaction)
            << i;
        wraps += commands[i - 1].transaction == 255 && commands[i].transaction == 0;
    }
    EXPECT_EQ(1u, wraps);
    EXPECT_TRUE(s.board.lastConfirmationAcknowledged());
}

TEST_F(AB1784CardCommand, RefusedParametersWriteNothing) {
    const std::vector<std::uint8_t> before = commandArea();
    Bytes parameters(300, 0x77);
    struct Case {
        const unsigned char* parameters;
        unsigned length;
        const char* text;
    } cases[] = {
        {&parameters[0], 254, "AB1784KTx: command parameters too long."},
        {&parameters[0], 256, "AB1784KTx: command parameters too long."},
        {&parameters[0], 257, "AB1784KTx: command parameters too long."},
        {&parameters[0], 0x10001, "AB1784KTx: command parameters too long."},
        {0, 1, "AB1784KTx host command parameters not provided"},
        {0, 253, "AB1784KTx host command parameters not provided"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        const std::size_t writes = s.board.controlWrites().size();
        EXPECT_TRUE(throwsExactly<std::logic_error>(
            [&] { card.send(0x21, c.parameters, c.length); }, c.text));
        EXPECT_EQ(before, commandArea());
        EXPECT_EQ(0, s.board.memory().read8(KTx::IntStatusFromHost));
        EXPECT_EQ(0, s.board.memory().read8(KTx::BoardInterrupt));
        s.machine.advance(0);
        EXPECT_EQ(writes, s.board.controlWrites().size());
        EXPECT_EQ(2u, s.board.commands().size());
    }

    // The card goes on; the missing parameters had already taken a number.
    const std::uint8_t last = s.board.commands().back().transaction;
    card.send(0x22, 0, 0);
    EXPECT_EQ(0x22, s.board.commands().back().code);
    EXPECT_NE(last, s.board.commands().back().transaction);
    card.send(0x23, 0, 0);
    EXPECT_TRUE(throwsExactly<std::logic_error>([&] { card.send(0x24, 0, 1); },
                                                "AB1784KTx host command parameters not provided"));
    card.send(0x25, 0, 0);
    const std::vector<KTx::Command>& commands = s.board.commands();
    EXPECT_EQ(static_cast<std::uint8_t>(commands[commands.size() - 2].transaction + 2),
              commands.back().transaction);
}

TEST_F(AB1784CardCommand, ResponseErrorsLeaveTheCardUsable) {
    s.board.setResponseForCode(0x30, 0x0F);
    EXPECT_TRUE(throwsExactly<std::runtime_error>(
        [&] { card.send(0x30, 0, 0); },
        "AB1784KTx command response: scanner must be in Program mode."));
    EXPECT_TRUE(s.board.lastConfirmationAcknowledged());
    card.send(0x31, 0, 0);
    EXPECT_EQ(4u, s.board.commands().size());
    EXPECT_TRUE(s.board.lastConfirmationAcknowledged());
}
