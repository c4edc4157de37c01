// FrameAssembler: Modbus TCP frames out of a byte stream that arrives in
// pieces of any size, for a server that must never wait for the rest of a
// frame.  A frame is the 7-byte MBAP header (transaction, protocol,
// length, unit) and the PDU; its length field counts the unit byte and the
// PDU.  A length below 2 (no function code) or above 253 (a PDU longer than
// any request can be), or a protocol other than 0 (not Modbus), means the
// peer speaks something else or is out of step: the stream is then broken
// for good and the connection has to go.
#ifndef TAVEX_TOOLS_GATEWAY_FRAMEASSEMBLER_H
#define TAVEX_TOOLS_GATEWAY_FRAMEASSEMBLER_H

#include <cstddef>
#include <cstdint>

namespace Tavex {
namespace Gateway {

class FrameAssembler {
public:
    enum : std::size_t {
        HeaderSize = 7,
        MinLength = 2,
        MaxLength = 253,
        MaxFrame = HeaderSize - 1 + MaxLength   // 259
    };

    FrameAssembler();

    // Where the next received bytes go, and how many fit there (never 0
    // while the stream is good): a frame's worth at most, so that a peer
    // cannot make the server keep more than that per connection.
    std::uint8_t* space() { return buffer_ + filled_; }
    std::size_t room() const { return sizeof buffer_ - filled_; }
    // Takes the count of bytes just put at space().
    void received(std::size_t count);

    // The next complete frame, or null: none yet, or a broken stream
    // (broken() tells).  The frame stays valid until the next call of
    // next() or received().
    const std::uint8_t* next(std::size_t& size);
    bool broken() const { return broken_; }
    // Bytes waiting that are no complete frame yet.
    std::size_t pending() const { return filled_ - start_; }

private:
    void compact();

    std::uint8_t buffer_[2 * MaxFrame];
    std::size_t start_;    // first byte not yet handed out
    std::size_t filled_;   // bytes in the buffer
    bool broken_;
};

}  // namespace Gateway
}  // namespace Tavex

#endif
