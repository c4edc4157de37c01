#include "Server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <modbus/modbus.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "FrameAssembler.h"

namespace Tavex {
namespace Gateway {

namespace {

std::int64_t nowMs() { return steadyNow() / 1000000; }

void nonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

}  // namespace

AddressRule::AddressRule(const std::string& text) : family_(AF_INET), bits_(32) {
    std::memset(bytes_, 0, sizeof bytes_);
    std::string address = text;
    const std::size_t slash = text.find('/');
    long bits = -1;
    if (slash != std::string::npos) {
        address = text.substr(0, slash);
        const std::string count = text.substr(slash + 1);
        char* end = 0;
        bits = count.empty() ? -1 : std::strtol(count.c_str(), &end, 10);
        if (count.empty() || *end != '\0' || bits < 0)
            throw std::invalid_argument("not an address: " + text);
    }
    if (inet_pton(AF_INET, address.c_str(), bytes_) == 1) {
        family_ = AF_INET;
        bits_ = 32;
    } else if (inet_pton(AF_INET6, address.c_str(), bytes_) == 1) {
        family_ = AF_INET6;
        bits_ = 128;
    } else {
        throw std::invalid_argument("not an address: " + text);
    }
    if (bits >= 0) {
        if (unsigned(bits) > bits_)
            throw std::invalid_argument("not an address: " + text);
        bits_ = unsigned(bits);
    }
}

bool AddressRule::matches(const void* address) const {
    const sockaddr* peer = static_cast<const sockaddr*>(address);
    std::uint8_t bytes[16];
    int family = peer->sa_family;
    if (family == AF_INET) {
        std::memcpy(bytes, &reinterpret_cast<const sockaddr_in*>(peer)->sin_addr, 4);
    } else if (family == AF_INET6) {
        const in6_addr& a6 = reinterpret_cast<const sockaddr_in6*>(peer)->sin6_addr;
        if (IN6_IS_ADDR_V4MAPPED(&a6)) {
            family = AF_INET;
            std::memcpy(bytes, a6.s6_addr + 12, 4);
        } else {
            std::memcpy(bytes, a6.s6_addr, 16);
        }
    } else {
        return false;
    }
    if (family != family_)
        return false;
    const unsigned whole = bits_ / 8, rest = bits_ % 8;
    if (std::memcmp(bytes, bytes_, whole) != 0)
        return false;
    if (rest == 0)
        return true;
    const std::uint8_t mask = std::uint8_t(0xFF << (8 - rest));
    return (bytes[whole] & mask) == (bytes_[whole] & mask);
}

struct Server::Connection {
    int fd;
    std::int64_t lastRequest;   // ms
    FrameAssembler frames;
};

Server::Server(Responder& responder, const ServerOptions& options)
    : responder_(responder), options_(options), listener_(-1), port_(0), ctx_(0),
      stopping_(false), dropped_(0) {
    wake_[0] = wake_[1] = -1;
    for (const std::string& rule : options.allow)
        allow_.push_back(AddressRule(rule));

    sockaddr_storage where;
    std::memset(&where, 0, sizeof where);
    socklen_t size = 0;
    sockaddr_in* v4 = reinterpret_cast<sockaddr_in*>(&where);
    sockaddr_in6* v6 = reinterpret_cast<sockaddr_in6*>(&where);
    if (inet_pton(AF_INET, options.address.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(std::uint16_t(options.port));
        size = sizeof *v4;
    } else if (inet_pton(AF_INET6, options.address.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(std::uint16_t(options.port));
        size = sizeof *v6;
    } else {
        throw std::runtime_error("cannot listen at " + options.address +
                                 ": not a numeric IPv4 or IPv6 address");
    }
    const std::string at = options.address + " port " + std::to_string(options.port);
    const auto fail = [&](const char* what) {
        const std::string reason = std::strerror(errno);
        if (listener_ >= 0)
            ::close(listener_);
        if (wake_[0] >= 0) {
            ::close(wake_[0]);
            ::close(wake_[1]);
        }
        if (ctx_)
            modbus_free(ctx_);
        throw std::runtime_error(std::string("cannot listen at ") + at + ": " + what + ": " +
                                 reason);
    };
    listener_ = ::socket(where.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0)
        fail("socket");
    const int on = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&where), size) != 0)
        fail("bind");
    if (::listen(listener_, SOMAXCONN) != 0)
        fail("listen");
    nonBlocking(listener_);
    size = sizeof where;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&where), &size);
    port_ = ntohs(where.ss_family == AF_INET ? v4->sin_port : v6->sin6_port);
    if (::pipe(wake_) != 0)
        fail("pipe");
    nonBlocking(wake_[0]);
    nonBlocking(wake_[1]);
    // The context only formats and sends answers, on the socket of the
    // connection at hand; it never connects.
    ctx_ = modbus_new_tcp("127.0.0.1", 502);
    if (!ctx_)
        fail("modbus_new_tcp");
}

Server::~Server() {
    for (auto& connection : connections_)
        ::close(connection->fd);
    ::close(listener_);
    ::close(wake_[0]);
    ::close(wake_[1]);
    modbus_set_socket(ctx_, -1);
    modbus_free(ctx_);
}

void Server::stop() {
    stopping_.store(true);
    const char byte = 0;
    if (::write(wake_[1], &byte, 1) < 0) {
        // The pipe is full: a wake-up is already on its way.
    }
}

void Server::run() {
    while (!stopping_.load())
        serveOnce(1000);
}

bool Server::allowed(const void* address) const {
    if (allow_.empty())
        return true;
    for (const AddressRule& rule : allow_)
        if (rule.matches(address))
            return true;
    return false;
}

void Server::accept() {
    for (;;) {
        sockaddr_storage peer;
        socklen_t size = sizeof peer;
        const int fd = ::accept4(listener_, reinterpret_cast<sockaddr*>(&peer), &size,
                                 SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;   // EAGAIN: none left; anything else: the client is gone again
        if (fd >= FD_SETSIZE || connections_.size() >= options_.maxConnections ||
            !allowed(&peer)) {
            ::close(fd);
            ++dropped_;
            continue;
        }
        const int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        std::unique_ptr<Connection> connection(new Connection);
        connection->fd = fd;
        connection->lastRequest = nowMs();
        connections_.push_back(std::move(connection));
    }
}

void Server::read(Connection& connection) {
    FrameAssembler& frames = connection.frames;
    const ssize_t got = ::recv(connection.fd, frames.space(), frames.room(), 0);
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        ::close(connection.fd);
        connection.fd = -1;
        return;
    }
    if (got < 0)
        return;
    frames.received(std::size_t(got));
    std::size_t size = 0;
    while (const std::uint8_t* frame = frames.next(size)) {
        connection.lastRequest = nowMs();
        modbus_set_socket(ctx_, connection.fd);
        if (!responder_.answer(ctx_, frame, size)) {
            ::close(connection.fd);
            connection.fd = -1;
            ++dropped_;
            return;
        }
    }
    if (frames.broken()) {
        ::close(connection.fd);
        connection.fd = -1;
        ++dropped_;
    }
}

void Server::serveOnce(long timeoutMs) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(listener_, &readable);
    FD_SET(wake_[0], &readable);
    int top = std::max(listener_, wake_[0]);
    std::int64_t now = nowMs();
    for (const auto& connection : connections_) {
        FD_SET(connection->fd, &readable);
        top = std::max(top, connection->fd);
        if (options_.idleTimeoutMs > 0) {
            const std::int64_t left =
                connection->lastRequest + std::int64_t(options_.idleTimeoutMs) - now;
            timeoutMs = std::min<long>(timeoutMs, long(std::max<std::int64_t>(left, 0)));
        }
    }
    timeval timeout;
    timeout.tv_sec = timeoutMs / 1000;
    timeout.tv_usec = (timeoutMs % 1000) * 1000;
    const int ready = ::select(top + 1, &readable, 0, 0, &timeout);
    if (ready < 0)
        return;   // EINTR: a signal, perhaps the one that stops the server

    if (FD_ISSET(wake_[0], &readable)) {
        char drain[64];
        while (::read(wake_[0], drain, sizeof drain) > 0) {
        }
    }
    // Those that were there before this select() first, then the new ones.
    const std::size_t known = connections_.size();
    for (std::size_t i = 0; i < known; ++i)
        if (FD_ISSET(connections_[i]->fd, &readable))
            read(*connections_[i]);
    if (FD_ISSET(listener_, &readable))
        accept();

    now = nowMs();
    for (auto& connection : connections_)
        if (connection->fd >= 0 && options_.idleTimeoutMs > 0 &&
            now - connection->lastRequest >= std::int64_t(options_.idleTimeoutMs)) {
            ::close(connection->fd);
            connection->fd = -1;
            ++dropped_;
        }
    connections_.erase(std::remove_if(connections_.begin(), connections_.end(),
                                      [](const std::unique_ptr<Connection>& c) {
                                          return c->fd < 0;
                                      }),
                       connections_.end());
}

}  // namespace Gateway
}  // namespace Tavex
