#include "Exchange.h"

namespace Tavex {
namespace Gateway {

Exchange::Exchange(std::size_t values, std::size_t tracks, std::size_t queueCapacity)
    : writer_(0), reader_(1), middle_(2), mask_(0), head_(0), tail_(0), lastWrite_(0) {
    for (Snapshot& snapshot : buffers_) {
        snapshot.values.assign(values, 0);
        snapshot.states.assign(tracks, 0);
        snapshot.cycle = 0;
        snapshot.published = 0;
        snapshot.applied = 0;
    }
    std::size_t size = 1;
    while (size < queueCapacity)
        size *= 2;
    ring_.resize(size);
    mask_ = size - 1;
}

void Exchange::publish() {
    writer_ = middle_.exchange(writer_ | Fresh, std::memory_order_acq_rel) & ~unsigned(Fresh);
}

const Snapshot& Exchange::latest() {
    if (middle_.load(std::memory_order_relaxed) & Fresh)
        reader_ = middle_.exchange(reader_, std::memory_order_acq_rel) & ~unsigned(Fresh);
    return buffers_[reader_];
}

std::uint64_t Exchange::push(const Write* writes, std::size_t count) {
    const std::uint64_t head = head_.load(std::memory_order_relaxed);
    const std::uint64_t tail = tail_.load(std::memory_order_acquire);
    if (count == 0 || ring_.size() - (head - tail) < count)
        return 0;
    for (std::size_t i = 0; i < count; ++i)
        ring_[(head + i) & mask_] = writes[i];
    head_.store(head + count, std::memory_order_release);
    return head + count;
}

}  // namespace Gateway
}  // namespace Tavex
