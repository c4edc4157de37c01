// PollingWait: the one way the library waits for a board.  Intelligent
// boards answer in their shared memory or status registers in their own
// time; the card polls, sleeping a fixed step between looks.  A time limit
// is the sum of the nominal sleeps, not a clock reading, so a wait behaves
// the same on a loaded PC and on the simulated machine.  Internal to the
// library.
#ifndef TAVEX_SRC_PLATFORM_POLLINGWAIT_H
#define TAVEX_SRC_PLATFORM_POLLINGWAIT_H

#include <stdexcept>

#include "tavex/platform/OSInterface.h"

namespace Tavex {

// Looks at done() before each of at most `sleeps` sleeps of stepMs
// milliseconds and returns true as soon as it holds, so a board that is
// already there costs no sleep.  After the last sleep it looks once more
// when lookAfterLastSleep is set; otherwise the last sleep ends the wait.
template <class Done>
bool poll(Done done, unsigned long stepMs, unsigned long sleeps, bool lookAfterLastSleep) {
    for (unsigned long slept = 0; slept < sleeps; ++slept) {
        if (done())
            return true;
        OSInterface::sleep(stepMs * 1000);
    }
    return lookAfterLastSleep && done();
}

// Polls until done() holds, sleeping stepMs milliseconds between looks.
// When the sum of the sleeps passes limitMs, throws runtime_error with
// timeoutText right after the sleep that passed it.
template <class Done>
void waitFor(Done done, unsigned long stepMs, unsigned long limitMs, const char* timeoutText) {
    if (!poll(done, stepMs, limitMs / stepMs + 1, false))
        throw std::runtime_error(timeoutText);
}

}  // namespace Tavex

#endif
