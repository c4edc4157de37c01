// The gateway's network side against any bytes a client can send: the
// frames put together from pieces of any size, and every complete frame
// checked and answered, writes stored and queued, on a map with points of
// every table.  The answers go out on a socket pair and are thrown away.
//
// Input: the size of the pieces the stream arrives in (1 to 64 bytes), the
// states of the three tracks (a bit each: card down), then the stream.
#include <sys/socket.h>
#include <unistd.h>

#include <modbus/modbus.h>

#include <cstdint>
#include <cstring>
#include <memory>

#include "Exchange.h"
#include "FrameAssembler.h"
#include "Harness.h"
#include "RegisterMap.h"
#include "Responder.h"

using namespace Tavex::Gateway;
using TavexFuzz::finding;

namespace {

struct Gateway {
    Gateway()
        : map({{"bits", "a", "IIIIOOOONIO", {}, {}},
               {"values", "a", "AUCRU", {}, {}},
               {"lamps", "b", "OOOOOOOOOOOOOOOOOOOO", {}, {}}},
              {{"a", 1}, {"b", 2}}, 40),
          exchange(map.valueCount(), map.tracks().size(), 64),
          responder(map, exchange, ServeOptions(), [] { return std::int64_t(1); }),
          ctx(modbus_new_tcp("127.0.0.1", 502)) {
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, sockets) != 0 || !ctx)
            finding("no socket pair or modbus context");
        modbus_set_socket(ctx, sockets[0]);
    }
    RegisterMap map;
    Exchange exchange;
    Responder responder;
    modbus_t* ctx;
    int sockets[2];
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Gateway* gateway = new Gateway;   // lives for the whole run
    if (size < 2)
        return 0;
    const std::size_t piece = 1 + data[0] % 64;
    Snapshot& snapshot = gateway->exchange.back();
    for (std::size_t t = 0; t < snapshot.states.size(); ++t)
        snapshot.states[t] = (data[1] >> t) & 1 ? 2 : 0;
    gateway->exchange.publish();
    data += 2;
    size -= 2;

    FrameAssembler frames;
    std::size_t n = 0;
    for (std::size_t at = 0; at < size && !frames.broken(); at += n) {
        const std::size_t room = frames.room();
        if (room == 0)
            finding("no room for bytes while the stream is good");
        n = size - at < piece ? size - at : piece;
        if (n > room)
            n = room;
        std::memcpy(frames.space(), data + at, n);
        frames.received(n);
        std::size_t frameSize = 0;
        while (const std::uint8_t* frame = frames.next(frameSize)) {
            const std::size_t length = (std::size_t(frame[4]) << 8) | frame[5];
            if (frameSize != length + 6 || length < 2 || length > 253 || frame[2] || frame[3])
                finding("frame of %zu bytes handed out with length %zu", frameSize, length);
            gateway->responder.answer(gateway->ctx, frame, frameSize);
            std::uint8_t answer[1024];
            while (::read(gateway->sockets[1], answer, sizeof answer) > 0) {
            }
        }
        if (frames.pending() > FrameAssembler::MaxFrame)
            finding("%zu bytes kept for a frame", frames.pending());
    }
    gateway->exchange.drain([](const Write&) {});
    return 0;
}
