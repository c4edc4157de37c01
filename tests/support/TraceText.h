// Readable trace entries in test failure messages.
#ifndef TAVEX_TESTS_SUPPORT_TRACETEXT_H
#define TAVEX_TESTS_SUPPORT_TRACETEXT_H

#include <ios>
#include <ostream>

#include "tavex/sim/Machine.h"

namespace Tavex {
namespace Sim {

inline void PrintTo(const Machine::Event& event, std::ostream* os) {
    switch (event.kind) {
    case Machine::Event::PortRead: *os << "in"; break;
    case Machine::Event::PortWrite: *os << "out"; break;
    case Machine::Event::Sleep: *os << "sleep(" << std::dec << event.value << " ms)"; return;
    }
    *os << event.width * 8 << "(0x" << std::hex << event.port << ", 0x" << event.value << ")"
        << std::dec;
}

}  // namespace Sim
}  // namespace Tavex

#endif
