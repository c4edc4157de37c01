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

// Polls until done() holds, sleeping stepMs milliseconds between looks.  The
// condition is looked at first, so a board that is already there costs no
// sleep.  When the sum of the sleeps passes limitMs, throws runtime_error
// with timeoutText right after the sleep that passed it.
template <class Done>
void waitFor(Done done, unsigned long stepMs, unsigned long limitMs, const char* timeoutText) {
    unsigned long elapsed = 0;
    while (!done()) {
        OSInterface::sleep(stepMs * 1000);
        elapsed += stepMs;
        if (elapsed > limitMs)
            throw std::runtime_error(timeoutText);
    }
}

}  // namespace Tavex

#endif
