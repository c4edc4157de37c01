// PhysicalMemory over a board's RAM on the simulated machine: little-endian
// values at any offset, 32-bit meaning of long, exact block copies, and a
// window that is the board's memory itself.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "tavex/platform/PhysicalMemory.h"
#include "tavex/sim/Machine.h"

using Tavex::PhysicalMemory;
using Tavex::Sim::Machine;
using Tavex::Sim::Region;
using Tavex::Sim::ScopedMachine;

namespace {

const unsigned long ramAddress = 0xD0000;
const unsigned long ramSize = 0x100;

class PhysicalMemoryTest : public ::testing::Test {
protected:
    // The window is held through a pointer: its destructor may throw, which
    // the fixture's own destructor may not.
    PhysicalMemoryTest()
        : ram(machine.addRegion(0, ramAddress, ramSize, "dual-port RAM")),
          mapped(new PhysicalMemory(ramAddress, ramSize, true)),
          window(*mapped) {}
    void TearDown() override { mapped.reset(); }

    std::uint8_t byte(unsigned long offset) const {
        return static_cast<std::uint8_t>(window.readChar(offset));
    }
    static std::uint8_t powerUp(unsigned long offset) {
        return Region::powerUpByte(static_cast<std::uint32_t>(offset));
    }

    ScopedMachine machine;
    Region& ram;
    std::unique_ptr<PhysicalMemory> mapped;
    PhysicalMemory& window;
};

// Offsets at every alignment, including values that end on the last byte.
const unsigned long offsets[] = {1, 2, 3, 4, 0x41, 0x7E, 0xF9, 0xFC};

}  // namespace

TEST_F(PhysicalMemoryTest, ValuesAreLittleEndianAtAnyOffset) {
    for (unsigned long o : offsets) {
        SCOPED_TRACE(o);
        ram.fillPowerUpPattern();
        window.writeShort(o, 0x1234);
        EXPECT_EQ(0x34, byte(o));
        EXPECT_EQ(0x12, byte(o + 1));
        EXPECT_EQ(0x1234, ram.read16(static_cast<std::uint32_t>(o)));
        EXPECT_EQ(powerUp(o - 1), ram.read8(static_cast<std::uint32_t>(o - 1)));
        if (o + 2 < ramSize) {
            EXPECT_EQ(powerUp(o + 2), ram.read8(static_cast<std::uint32_t>(o + 2)));
        }

        ram.fillPowerUpPattern();
        window.writeLong(o, 0x12345678L);
        const std::uint8_t expected[] = {0x78, 0x56, 0x34, 0x12};
        for (unsigned i = 0; i < 4; ++i)
            EXPECT_EQ(expected[i], byte(o + i)) << "byte " << i;
        EXPECT_EQ(0x12345678u, ram.read32(static_cast<std::uint32_t>(o)));
        EXPECT_EQ(0x5678, window.readShort(o));
        EXPECT_EQ(0x1234, window.readShort(o + 2));
        EXPECT_EQ(powerUp(o - 1), ram.read8(static_cast<std::uint32_t>(o - 1)));
        if (o + 4 < ramSize) {
            EXPECT_EQ(powerUp(o + 4), ram.read8(static_cast<std::uint32_t>(o + 4)));
        }

        // What the board writes is what the window reads, at once.
        ram.write32(static_cast<std::uint32_t>(o), 0xCAFEBABEu);
        EXPECT_EQ(static_cast<long>(static_cast<std::int32_t>(0xCAFEBABEu)), window.readLong(o));
        EXPECT_EQ(static_cast<short>(0xBABE), window.readShort(o));
        EXPECT_EQ(static_cast<char>(0xCA), window.readChar(o + 3));
    }
}

TEST_F(PhysicalMemoryTest, LongKeepsItsThirtyTwoBitMeaning) {
    const struct {
        std::uint32_t board;
        long read;
    } reads[] = {
        {0xFFFFFFFFu, -1L},
        {0x80000000u, -2147483647L - 1},
        {0x7FFFFFFFu, 2147483647L},
        {0x00000001u, 1L},
    };
    for (const auto& r : reads) {
        ram.write32(0x21, r.board);
        EXPECT_EQ(r.read, window.readLong(0x21)) << std::hex << r.board;
    }
    ram.write16(0x30, 0xFFFF);
    EXPECT_EQ(-1, window.readShort(0x30));
    ram.write8(0x30, 0x80);
    EXPECT_EQ(static_cast<char>(0x80), window.readChar(0x30));

    const struct {
        long written;
        std::uint32_t board;
    } writes[] = {
        {-1L, 0xFFFFFFFFu},
        {-2147483647L - 1, 0x80000000u},
        {0x7FFFFFFFL, 0x7FFFFFFFu},
        // Where long is wider, only its low 32 bits reach the board.
        {static_cast<long>(static_cast<std::int64_t>(0x1122334455667788LL)), 0x55667788u},
    };
    for (const auto& w : writes) {
        ram.fillPowerUpPattern();
        window.writeLong(0x40, w.written);
        EXPECT_EQ(w.board, ram.read32(0x40)) << w.written;
        EXPECT_EQ(powerUp(0x44), ram.read8(0x44)) << "a long is four bytes wide";
        EXPECT_EQ(powerUp(0x3F), ram.read8(0x3F));
    }
}

TEST_F(PhysicalMemoryTest, BlockCopiesMoveExactlyTheirLength) {
    const unsigned long blockOffsets[] = {0, 3, 0x80};
    for (unsigned long offset : blockOffsets) {
        for (unsigned long length = 0; length <= 9; ++length) {
            SCOPED_TRACE(::testing::Message() << "offset " << offset << " length " << length);

            // Board to client.
            ram.fillPowerUpPattern();
            std::vector<std::uint8_t> destination(12, 0xEE);
            const PhysicalMemory& constWindow = window;
            EXPECT_EQ(&window, &constWindow.readMemoryBlock(destination.data(), length, offset));
            for (unsigned long i = 0; i < destination.size(); ++i) {
                const std::uint8_t expected = i < length ? powerUp(offset + i) : 0xEE;
                EXPECT_EQ(expected, destination[i]) << "destination byte " << i;
            }

            // Client to board.
            ram.fillPowerUpPattern();
            std::vector<std::uint8_t> source(12);
            for (unsigned long i = 0; i < source.size(); ++i)
                source[i] = static_cast<std::uint8_t>(0xC0 + i);
            EXPECT_EQ(&window, &window.writeMemoryBlock(source.data(), length, offset));
            for (unsigned long i = 0; i < 12; ++i) {
                const std::uint8_t expected = i < length ? source[i] : powerUp(offset + i);
                EXPECT_EQ(expected, ram.read8(static_cast<std::uint32_t>(offset + i)))
                    << "board byte " << i;
            }
            if (offset > 0) {
                EXPECT_EQ(powerUp(offset - 1), ram.read8(static_cast<std::uint32_t>(offset - 1)));
            }
        }
    }
}

TEST_F(PhysicalMemoryTest, BlockCopiesReachTheLastByteOfTheWindow) {
    std::vector<std::uint8_t> source(ramSize);
    for (unsigned long i = 0; i < ramSize; ++i)
        source[i] = static_cast<std::uint8_t>(i ^ 0x5C);
    window.writeMemoryBlock(source.data(), ramSize, 0);
    EXPECT_EQ(0, std::memcmp(source.data(), ram.data(), ramSize));

    std::vector<std::uint8_t> back(ramSize + 1, 0xEE);
    window.readMemoryBlock(back.data(), 7, ramSize - 7);
    EXPECT_EQ(0, std::memcmp(back.data(), source.data() + ramSize - 7, 7));
    EXPECT_EQ(0xEE, back[7]);
}

TEST_F(PhysicalMemoryTest, WritesChainOnTheWindow) {
    PhysicalMemory& same = window.writeChar(0, 1).writeShort(1, 0x0302).writeLong(3, 0x07060504L);
    EXPECT_EQ(&window, &same);
    const std::uint8_t expected[] = {1, 2, 3, 4, 5, 6, 7};
    EXPECT_EQ(0, std::memcmp(expected, ram.data(), sizeof expected));
}

TEST_F(PhysicalMemoryTest, WindowIsTheBoardsMemoryBothWays) {
    // A window that starts inside the region sees the region from there.
    PhysicalMemory inner(ramAddress + 0x80, 0x10, false);
    EXPECT_TRUE(machine.mappedAt(static_cast<std::uint32_t>(ramAddress + 0x80)));
    for (std::uint32_t i = 0; i < 0x10; ++i)
        EXPECT_EQ(ram.read8(0x80 + i), static_cast<std::uint8_t>(inner.readChar(i)));

    // Board and program take turns without any sleep in between, as a
    // handshake over dual-port RAM does.
    for (int round = 0; round < 4; ++round) {
        ram.write8(0x85, static_cast<std::uint8_t>(0x10 + round));
        EXPECT_EQ(0x10 + round, static_cast<std::uint8_t>(inner.readChar(5)));
        EXPECT_EQ(0x10 + round, static_cast<std::uint8_t>(window.readChar(0x85)));
        inner.writeChar(6, static_cast<char>(0x20 + round));
        EXPECT_EQ(0x20 + round, ram.read8(0x86));
    }
    EXPECT_EQ(0u, machine.now());
}

TEST(PhysicalMemory, SizeIsAsRequestedAndTheMappingLivesWithTheObject) {
    ScopedMachine machine;
    machine.addRegion(0, 0xC0000, 0x4000, "adapter RAM");
    const unsigned long sizes[] = {1, 0x11C, 0x810, 0x4000};
    for (unsigned long size : sizes) {
        {
            PhysicalMemory window(0xC0000, size, true);
            EXPECT_EQ(size, window.size());
            EXPECT_TRUE(machine.mappedAt(0xC0000));
            EXPECT_EQ(1u, machine.liveMappings());
        }
        EXPECT_FALSE(machine.mappedAt(0xC0000));
        EXPECT_EQ(0u, machine.liveMappings());
    }
}
