// Server: the gateway's network side.  One thread serves every client
// through select(): a socket is read only when it has bytes, each
// connection's frame is put together from whatever pieces arrive, and only
// a complete frame is answered, so a slow or silent client holds no one
// up.  Answers go out on non-blocking sockets; a client that does not take
// them until the kernel's buffer is full is dropped, as is one whose bytes
// are no Modbus TCP, one that has sent no complete request for the idle
// time, and one beyond the connection limit or not on the allow-list.
#ifndef TAVEX_TOOLS_GATEWAY_SERVER_H
#define TAVEX_TOOLS_GATEWAY_SERVER_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Responder.h"

namespace Tavex {
namespace Gateway {

struct ServerOptions {
    ServerOptions()
        : address("127.0.0.1"), port(502), maxConnections(128), idleTimeoutMs(60000) {}
    std::string address;              // numeric IPv4 or IPv6 address to listen on
    unsigned port;                    // 0: any free port (port() tells)
    unsigned maxConnections;
    unsigned long idleTimeoutMs;      // 0: none
    std::vector<std::string> allow;   // client addresses "ADDR" or "ADDR/BITS"; empty: any
};

// An allow-list entry: an address and how many leading bits must match.
// std::invalid_argument for a text that is no numeric address.
class AddressRule {
public:
    explicit AddressRule(const std::string& text);
    // address: a sockaddr_in or sockaddr_in6 (IPv4-mapped IPv6 addresses
    // match IPv4 rules).
    bool matches(const void* address) const;

private:
    int family_;
    std::uint8_t bytes_[16];
    unsigned bits_;
};

class Server {
public:
    // Listens at once; std::runtime_error naming the address and the
    // system's reason when it cannot.
    Server(Responder& responder, const ServerOptions& options);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    unsigned port() const { return port_; }
    std::size_t connections() const { return connections_.size(); }
    // Connections refused or dropped so far.
    std::uint64_t dropped() const { return dropped_; }

    // Serves until stop().
    void run();
    // Waits up to timeoutMs for a client, serves what came, and returns.
    void serveOnce(long timeoutMs);
    // Any thread, or a signal handler.
    void stop();

private:
    struct Connection;
    void accept();
    void read(Connection& connection);
    bool allowed(const void* address) const;

    Responder& responder_;
    ServerOptions options_;
    std::vector<AddressRule> allow_;
    int listener_;
    int wake_[2];
    unsigned port_;
    modbus_t* ctx_;
    std::vector<std::unique_ptr<Connection> > connections_;
    std::atomic<bool> stopping_;
    std::uint64_t dropped_;
};

}  // namespace Gateway
}  // namespace Tavex

#endif
