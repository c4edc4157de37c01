#include "FrameAssembler.h"

#include <cstring>

namespace Tavex {
namespace Gateway {

FrameAssembler::FrameAssembler() : start_(0), filled_(0), broken_(false) {}

void FrameAssembler::received(std::size_t count) {
    if (count > room())
        count = room();
    filled_ += count;
}

void FrameAssembler::compact() {
    if (start_ == 0)
        return;
    std::memmove(buffer_, buffer_ + start_, filled_ - start_);
    filled_ -= start_;
    start_ = 0;
}

const std::uint8_t* FrameAssembler::next(std::size_t& size) {
    size = 0;
    if (broken_)
        return 0;
    const std::size_t waiting = filled_ - start_;
    if (waiting >= HeaderSize) {
        const std::uint8_t* header = buffer_ + start_;
        const unsigned protocol = (unsigned(header[2]) << 8) | header[3];
        const std::size_t length = (std::size_t(header[4]) << 8) | header[5];
        if (protocol != 0 || length < MinLength || length > MaxLength) {
            broken_ = true;
            start_ = filled_ = 0;
            return 0;
        }
        const std::size_t frame = HeaderSize - 1 + length;
        if (waiting >= frame) {
            start_ += frame;
            size = frame;
            return header;
        }
    }
    // Keep room for a whole frame behind what is waiting.
    if (sizeof buffer_ - filled_ < MaxFrame)
        compact();
    return 0;
}

}  // namespace Gateway
}  // namespace Tavex
