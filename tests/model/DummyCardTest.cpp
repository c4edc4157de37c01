// DummyCard: accepts every track and leaves its values alone; its update
// path allocates nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <type_traits>

#include "support/AllocationCounter.h"
#include "tavex/model/DummyCard.h"
#include "tavex/model/IOTrack.h"

using Tavex::DummyCard;
using Tavex::IOCard;
using Tavex::IOTrack;

// A card that owns a memory window may throw the unmap error from its
// destructor, so the base destructor must allow it.
static_assert(!std::is_nothrow_destructible<IOCard>::value,
              "IOCard's destructor must be noexcept(false)");
static_assert(!std::is_nothrow_destructible<DummyCard>::value,
              "DummyCard's destructor must be noexcept(false)");

TEST(DummyCard, TypeIsDummyAndResetChains) {
    DummyCard card;
    EXPECT_STREQ("DUMMY", card.type());
    EXPECT_EQ(&card, &card.reset());
}

TEST(DummyCard, AcceptsAnyTrackAndItsUpdatesTouchNothing) {
    const struct {
        unsigned int start;
        std::string letters;
    } cases[] = {
        {0, "I"},
        {0xFFFFFFFFu, "OOOOOOOO"},
        {3, "IOAUCRN"},
        {12, "zz?!--"},
        {0, std::string(1000, 'A')},
    };
    DummyCard card;
    for (const auto& c : cases) {
        SCOPED_TRACE("letters \"" + c.letters.substr(0, 16) + "\"");
        IOTrack track(card, c.start, c.letters.c_str());
        ASSERT_EQ(c.letters.size(), track.numberOfPoints());

        // Inputs stay as constructed.
        EXPECT_EQ(&track, &track.updateInputs());
        for (unsigned int i = 0; i < track.numberOfPoints(); ++i)
            ASSERT_EQ(0, track[i]) << "point " << i;
        EXPECT_EQ(0, track.trackState());

        // Values the client stored survive both updates.
        for (unsigned int i = 0; i < track.numberOfPoints(); ++i)
            track[i] = static_cast<long>(i * 3) - 5;
        EXPECT_EQ(&track, &track.updateOutputs());
        track.updateInputs();
        for (unsigned int i = 0; i < track.numberOfPoints(); ++i)
            ASSERT_EQ(static_cast<long>(i * 3) - 5, track[i]) << "point " << i;
        EXPECT_EQ(0, track.trackState());
    }
}

TEST(DummyCard, UpdatePathAllocatesNothing) {
    DummyCard card;
    IOTrack small(card, 0, "I");
    IOTrack wide(card, 0, "IIIIIIIIOOOOOOOOAAAAUUUUCCRRNN");
    small[0] = 1;

    AllocationCounter::Window window;
    for (int scan = 0; scan < 1000; ++scan) {
        small.updateInputs().updateOutputs();
        wide.updateInputs();
        wide[3] = scan;
        wide.updateOutputs();
    }
    EXPECT_EQ(0u, window.allocated());
    EXPECT_EQ(1, small[0]);
    EXPECT_EQ(999, wide[3]);
}

TEST(DummyCard, CounterSeesAllocations) {
    // The counter must see a plain allocation, or a zero above would mean
    // nothing.  Where the library's allocations are visible, building a
    // track must show up too.
    AllocationCounter::Window window;
    int* p = new int(5);
    EXPECT_EQ(1u, window.allocated());
    EXPECT_EQ(1, window.leaked());
    delete p;
    EXPECT_EQ(0, window.leaked());

    if (AllocationCounter::seesLibrary()) {
        DummyCard card;
        AllocationCounter::Window building;
        IOTrack track(card, 0, "IOIO");
        EXPECT_GE(building.allocated(), 1u);
    }
}
