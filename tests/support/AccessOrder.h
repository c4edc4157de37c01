// Order of the host's accesses to a board's shared memory around a
// handshake.  A board with its own processor looks at the memory while the
// PC writes it: a handshake write tells it that data are in place (a block,
// a command and its parameters, a program image), or that data the board
// left for the host may be taken back (a result, a status).  So, between
// two moments when the board could have run, every write of announced data
// and every read of released data must come before the handshake write.
//
// Checked on a MemoryAccessRecorder's record made on a RecordingMachine,
// where Access::BoardsRan marks the moments the board model ran.  What the
// host does after the board ran is the board model's to judge: a model
// takes announced data as they stand when it sees the handshake, and clears
// what it takes back, so that a late write or read shows in its answer.
#ifndef TAVEX_TESTS_SUPPORT_ACCESSORDER_H
#define TAVEX_TESTS_SUPPORT_ACCESSORDER_H

#include <cstddef>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/MemoryAccessRecorder.h"

namespace Tavex {
namespace Test {

// Offsets first to first + length - 1 of the window.
struct Span {
    std::size_t first;
    std::size_t length;
    bool contains(std::size_t offset) const { return offset - first < length; }
};

struct HandshakeRule {
    // What the rule guards, for the failure message.
    std::string name;
    // Writes to these bytes are the handshake.
    std::vector<Span> handshake;
    // Write: the data the handshake announces; Read: the data it releases.
    MemoryAccessRecorder::Access::Kind data;
    std::vector<Span> dataSpans;
};

struct OrderFinding {
    unsigned handshakeWrites;   // how often the handshake was written
    unsigned dataAccesses;      // accesses of the rule's kind to its data
    std::string fault;          // empty when the order holds
};

OrderFinding checkOrder(const std::vector<MemoryAccessRecorder::Access>& record,
                        const HandshakeRule& rule);

// For EXPECT_TRUE: the record keeps the rule and, when exercised, holds a
// write of the handshake and an access of its data (so that a case that
// never reached the exchange does not pass for one that kept its order).
::testing::AssertionResult keepsOrder(const std::vector<MemoryAccessRecorder::Access>& record,
                                      const HandshakeRule& rule, bool exercised);

}  // namespace Test
}  // namespace Tavex

#endif
