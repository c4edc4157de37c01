#include "support/AccessOrder.h"

#include <sstream>

namespace Tavex {
namespace Test {

namespace {

bool inSpans(const std::vector<Span>& spans, std::size_t offset) {
    for (std::size_t i = 0; i < spans.size(); ++i)
        if (spans[i].contains(offset))
            return true;
    return false;
}

std::string hex(std::size_t value) {
    std::ostringstream text;
    text << "0x" << std::hex << std::uppercase << value;
    return text.str();
}

}  // namespace

OrderFinding checkOrder(const std::vector<MemoryAccessRecorder::Access>& record,
                        const HandshakeRule& rule) {
    typedef MemoryAccessRecorder::Access Access;
    OrderFinding finding = {0, 0, std::string()};
    bool handshakeWritten = false;   // since the board last ran
    std::size_t handshakeOffset = 0;
    for (std::size_t i = 0; i < record.size(); ++i) {
        const Access& a = record[i];
        if (a.kind == Access::BoardsRan) {
            handshakeWritten = false;
            continue;
        }
        if (a.kind == Access::Write && inSpans(rule.handshake, a.offset)) {
            ++finding.handshakeWrites;
            handshakeWritten = true;
            handshakeOffset = a.offset;
            continue;
        }
        if (a.kind != rule.data || !inSpans(rule.dataSpans, a.offset))
            continue;
        ++finding.dataAccesses;
        if (handshakeWritten && finding.fault.empty())
            finding.fault = rule.name + ": " + (a.kind == Access::Write ? "write" : "read") +
                            " of " + hex(a.offset) + " after the handshake write of " +
                            hex(handshakeOffset) + " (access " + std::to_string(i) +
                            " of the record)";
    }
    return finding;
}

::testing::AssertionResult keepsOrder(const std::vector<MemoryAccessRecorder::Access>& record,
                                      const HandshakeRule& rule, bool exercised) {
    const OrderFinding found = checkOrder(record, rule);
    if (!found.fault.empty())
        return ::testing::AssertionFailure() << found.fault;
    if (exercised && (found.handshakeWrites == 0 || found.dataAccesses == 0))
        return ::testing::AssertionFailure()
               << rule.name << ": not exercised (" << found.handshakeWrites
               << " handshake writes, " << found.dataAccesses << " data accesses)";
    return ::testing::AssertionSuccess();
}

}  // namespace Test
}  // namespace Tavex
