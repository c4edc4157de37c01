#include "tavex/platform/Platform.h"

#include <chrono>

#include "native/NativePlatform.h"
#include "tavex/pci/PCIBus.h"
#include "tavex/platform/OSInterface.h"

namespace Tavex {

Platform* Platform::installed_ = 0;

Platform::Handle Platform::invalidHandle() { return reinterpret_cast<Handle>(-1); }

Platform::~Platform() {}

namespace {

// Per thread, the time a platform's sleep() was asked for and did not take
// for real: a client's simulated platform whose sleeps pass only its own
// time.  Its clock is the steady clock plus this, so that its time passes
// with its sleeps.  A scan reads and waits on one thread.
thread_local std::uint64_t unslept = 0;

}  // namespace

std::uint64_t Platform::monotonicNanoseconds() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count()) +
           unslept;
}

void Platform::sleepUntil(std::uint64_t deadline) {
    const std::uint64_t before = monotonicNanoseconds();
    if (deadline <= before)
        return;
    const unsigned long milliseconds =
        static_cast<unsigned long>((deadline - before + 999999) / 1000000);
    sleep(milliseconds);
    const std::uint64_t woke = before + static_cast<std::uint64_t>(milliseconds) * 1000000u;
    const std::uint64_t after = monotonicNanoseconds();
    if (after < woke)
        unslept += woke - after;
}

int Platform::setRealTimePriority(int) { return notAvailable; }
int Platform::lockMemory() { return notAvailable; }
int Platform::setThreadCpu(unsigned) { return notAvailable; }

std::string Platform::lastErrorText() { return std::string(); }

Platform& Platform::native() { return detail::nativePlatform(); }

Platform* Platform::install(Platform* p) {
    // The singletons belong to the machine they were built on: the OS
    // interface closes its device through the platform that opened it.
    OSInterface::drop();
    PCIBus::drop();
    Platform* previous = installed_;
    installed_ = p;
    return previous;
}

}  // namespace Tavex
