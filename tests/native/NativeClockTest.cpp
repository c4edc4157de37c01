// The native backend's clock and absolute wait, on this system: the scan's
// time on a real PC (clock_nanosleep, a waitable timer).  The one real wait
// here is 2 ms.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>

#include "tavex/platform/Platform.h"

TEST(NativeClock, WaitsToAnAbsoluteDeadlineInNanoseconds) {
    ASSERT_EQ(nullptr, Tavex::Platform::install(nullptr)) << "a platform was left installed";
    Tavex::Platform& native = Tavex::Platform::current();
    const auto steady0 = std::chrono::steady_clock::now();
    const std::uint64_t t0 = native.monotonicNanoseconds();
    native.sleepUntil(t0 + 2000000);
    const std::uint64_t t1 = native.monotonicNanoseconds();
    const auto steady = std::chrono::duration_cast<std::chrono::nanoseconds>(
                            std::chrono::steady_clock::now() - steady0)
                            .count();
    EXPECT_GE(t1, t0 + 2000000);   // never early
    EXPECT_LT(t1 - t0, 1000000000u);
    // Nanoseconds, as the steady clock counts them (a wrong unit is off by 1000s).
    EXPECT_GT(static_cast<double>(t1 - t0), 0.5 * static_cast<double>(steady));
    EXPECT_LT(static_cast<double>(t1 - t0), 2.0 * static_cast<double>(steady));

    native.sleepUntil(t0);   // in the past: at once
    EXPECT_LT(native.monotonicNanoseconds() - t1, 500000000u);
}
