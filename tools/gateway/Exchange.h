// Exchange: what passes between the scan's thread and the server's, with
// no lock on either side and nothing allocated after construction.
//
// Snapshots go from the scan to the server through three buffers: the scan
// fills the one it owns and swaps it with the middle one; the server swaps
// its own with the middle one when that is newer.  Each side always holds a
// whole buffer, so a request is answered from one cycle's values, and a
// 32-bit value is never half of one cycle and half of the next.
//
// Written values go from the server to the scan through a ring.  All the
// values of one request are queued or none are, and the scan takes what
// the ring holds when it looks, so a request's values reach the tracks in
// one cycle.
#ifndef TAVEX_TOOLS_GATEWAY_EXCHANGE_H
#define TAVEX_TOOLS_GATEWAY_EXCHANGE_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace Tavex {
namespace Gateway {

struct Snapshot {
    std::vector<std::int32_t> values;   // every point of every track (RegisterMap::offset)
    std::vector<std::int32_t> states;   // every track's state
    std::uint64_t cycle;                // scan cycles so far
    std::int64_t published;             // steady clock, ns; 0: nothing published yet
    std::uint64_t applied;              // queued writes taken so far
};

struct Write {
    std::uint32_t value;   // index of the point's value
    std::int32_t data;
};

class Exchange {
public:
    Exchange(std::size_t values, std::size_t tracks, std::size_t queueCapacity = 8192);

    // ---- the scan's side
    Snapshot& back() { return buffers_[writer_]; }
    void publish();
    // Calls apply(const Write&) for every queued write; returns how many
    // writes were taken since the start.
    template <class Apply>
    std::uint64_t drain(Apply apply) {
        const std::uint64_t head = head_.load(std::memory_order_acquire);
        std::uint64_t tail = tail_.load(std::memory_order_relaxed);
        for (; tail != head; ++tail)
            apply(ring_[tail & mask_]);
        tail_.store(tail, std::memory_order_release);
        return tail;
    }

    // ---- the server's side
    // The newest snapshot; it stays put until the next call.
    const Snapshot& latest();
    // Queues all count writes, or none when the ring has no room for them
    // all.  Returns the sequence number of the last one (1 for the first
    // write ever), or 0 when they were refused.
    std::uint64_t push(const Write* writes, std::size_t count);
    std::size_t capacity() const { return ring_.size(); }
    // Writes the ring takes now.
    std::size_t room() const {
        return ring_.size() - std::size_t(head_.load(std::memory_order_relaxed) -
                                          tail_.load(std::memory_order_acquire));
    }

    // When a client last wrote (steady clock, ns), for the watchdog.
    void markWrite(std::int64_t now) { lastWrite_.store(now, std::memory_order_relaxed); }
    std::int64_t lastWrite() const { return lastWrite_.load(std::memory_order_relaxed); }

private:
    enum : unsigned { Fresh = 4 };
    Snapshot buffers_[3];
    unsigned writer_;
    unsigned reader_;
    std::atomic<unsigned> middle_;

    std::vector<Write> ring_;
    std::size_t mask_;
    std::atomic<std::uint64_t> head_;
    std::atomic<std::uint64_t> tail_;
    std::atomic<std::int64_t> lastWrite_;
};

}  // namespace Gateway
}  // namespace Tavex

#endif
