// The update path allocates nothing: the program's operator new counts every
// allocation, in the library too where the platform lets a program replace
// it for its libraries.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "KTxScene.h"
#include "tavex/cards/AC5Card.h"
#include "tavex/sim/boards/AC5Board.h"

#if defined(__GNUC__) && !defined(_WIN32)
#define TAVEX_TEST_REPLACEMENT __attribute__((visibility("default")))
#else
#define TAVEX_TEST_REPLACEMENT
#endif

namespace {
unsigned long allocations = 0;

void* allocate(std::size_t size) {
    ++allocations;
    return std::malloc(size ? size : 1);
}
}  // namespace

TAVEX_TEST_REPLACEMENT void* operator new(std::size_t size) {
    if (void* p = allocate(size))
        return p;
    throw std::bad_alloc();
}
TAVEX_TEST_REPLACEMENT void* operator new[](std::size_t size) {
    if (void* p = allocate(size))
        return p;
    throw std::bad_alloc();
}
TAVEX_TEST_REPLACEMENT void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}
TAVEX_TEST_REPLACEMENT void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}
TAVEX_TEST_REPLACEMENT void operator delete(void* p) noexcept { std::free(p); }
TAVEX_TEST_REPLACEMENT void operator delete[](void* p) noexcept { std::free(p); }
TAVEX_TEST_REPLACEMENT void operator delete(void* p, std::size_t) noexcept { std::free(p); }
TAVEX_TEST_REPLACEMENT void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
TAVEX_TEST_REPLACEMENT void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
TAVEX_TEST_REPLACEMENT void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

// Whether the allocations of a track's construction (made inside the
// library) were seen at all; if not, counting proves nothing here.
bool libraryAllocationsVisible(unsigned long before) { return allocations > before; }

}  // namespace

TEST(UpdateAllocation, AC5Card) {
    Tavex::Sim::ScopedMachine machine;
    Tavex::Sim::AC5Board& board = machine.add<Tavex::Sim::AC5Board>(0x300);
    Tavex::AC5Card card(0x300);
    machine.setTracing(false);   // the trace itself allocates
    const unsigned long beforeTrack = allocations;
    Tavex::IOTrack track(card, 0, "IIIIIIIIOOOOOOOOIOIOIONN");
    if (!libraryAllocationsVisible(beforeTrack))
        GTEST_SKIP() << "allocations inside the library cannot be counted on this platform";

    const unsigned long before = allocations;
    for (unsigned scan = 0; scan < 1000; ++scan) {
        board.setInputLines(0, static_cast<std::uint8_t>(scan));
        track.updateInputs();
        track[8] = scan & 1;
        track.updateOutputs();
    }
    const unsigned long during = allocations - before;
    EXPECT_EQ(0u, during);
    EXPECT_EQ(0xFE, board.outputLatch(1));      // the last scan was odd: point 8 on
    EXPECT_EQ(0, track[0]);                     // lines of the last scan: 0xE7
    EXPECT_EQ(1, track[3]);
}

TEST(UpdateAllocation, AB1784Card) {
    KTxTest::Scene s;
    Tavex::AB1784Card card(0xC0000, s.path().c_str(), 0xFE);
    const unsigned long beforeTrack = allocations;
    Tavex::IOTrack inputs(card, 4, "IIIIIIIIIIIIIIII");
    Tavex::IOTrack outputs(card, 8, "OOOOOOOOIIIIOOOO");
    if (!libraryAllocationsVisible(beforeTrack))
        GTEST_SKIP() << "allocations inside the library cannot be counted on this platform";
    std::uint8_t* memory = s.board.memory().data();

    const unsigned long before = allocations;
    for (unsigned scan = 0; scan < 1000; ++scan) {
        memory[0x404] = static_cast<std::uint8_t>(scan);
        inputs.updateInputs();
        outputs[0] = inputs[0];
        outputs.updateOutputs();
    }
    EXPECT_EQ(0u, allocations - before);
    EXPECT_EQ(1, inputs[0]);                    // scan 999 is odd
    EXPECT_EQ(0x01, memory[0x608]);
}
