// The gateway's answer time against a bare libmodbus server, on the same
// machine in the same run: a client reads 125 holding registers again and
// again from each, over 127.0.0.1, in alternating rounds so that whatever
// else the machine does falls on both alike.
//
// The bare server is libmodbus's own loop (modbus_receive, modbus_reply on
// a mapping) doing nothing else.  The gateway is the whole network side of
// tavex-gateway (select() loop, frames, checks, snapshot) with a scan
// publishing a cycle every millisecond beside it.
//
//   tavex_gateway_bench [reads per round] [rounds]     (5000, 8)
//
// Prints p50 and p99 of both and their ratios; exits 1 when the gateway's
// p50 is above 1.25 times the bare server's or its p99 above 2 times.
#include <modbus/modbus.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "Exchange.h"
#include "RegisterMap.h"
#include "Responder.h"
#include "ScanBridge.h"
#include "Server.h"
#include "tavex/model/DummyCard.h"
#include "tavex/model/IOTrack.h"

using namespace Tavex::Gateway;
using Steady = std::chrono::steady_clock;

namespace {

const int Registers = 125;

// libmodbus's server loop for one client at a time.
class BareServer {
public:
    BareServer() : ctx_(modbus_new_tcp("127.0.0.1", 0)), mapping_(modbus_mapping_new(0, 0, 256, 0)) {
        for (int i = 0; i < 256; ++i)
            mapping_->tab_registers[i] = std::uint16_t(i * 7);
        // modbus_tcp_listen binds the port given; a free one is found by trying.
        for (port_ = 15020; port_ < 15120; ++port_) {
            modbus_free(ctx_);
            ctx_ = modbus_new_tcp("127.0.0.1", port_);
            listener_ = modbus_tcp_listen(ctx_, 1);
            if (listener_ >= 0)
                break;
        }
        thread_ = std::thread([this] {
            while (!stopping_) {
                int fd = modbus_tcp_accept(ctx_, &listener_);
                if (fd < 0)
                    break;
                for (;;) {
                    std::uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
                    const int rc = modbus_receive(ctx_, query);
                    if (rc > 0)
                        modbus_reply(ctx_, query, rc, mapping_);
                    else if (rc < 0)
                        break;
                }
                modbus_close(ctx_);
            }
        });
    }
    ~BareServer() {
        stopping_ = true;
        ::shutdown(listener_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
        modbus_mapping_free(mapping_);
        modbus_free(ctx_);
    }
    int port() const { return port_; }

private:
    modbus_t* ctx_;
    modbus_mapping_t* mapping_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

// The gateway's network side, with a scan beside it.
class GatewaySide {
public:
    GatewaySide()
        : track_(card_, 0, std::string(64, 'U').c_str()),
          map_({{"values", "dummy", std::string(64, 'U'), {}, {}}}, {{"dummy", 1}}),
          exchange_(map_.valueCount(), 1), bridge_(map_, exchange_, {&track_}, 0),
          responder_(map_, exchange_, ServeOptions()), server_(responder_, options()) {
        scan_ = std::thread([this] {
            std::uint64_t cycle = 0;
            auto next = Steady::now();
            while (!stopping_) {
                track_.updateInputs();
                for (unsigned p = 0; p < 64; ++p)
                    track_[p] = long(cycle * 64 + p);
                bridge_.cycle(++cycle);
                track_.updateOutputs();
                next += std::chrono::milliseconds(1);
                std::this_thread::sleep_until(next);
            }
        });
        serve_ = std::thread([this] {
            while (!stopping_)
                server_.serveOnce(100);
        });
    }
    ~GatewaySide() {
        stopping_ = true;
        server_.stop();
        serve_.join();
        scan_.join();
    }
    int port() const { return int(server_.port()); }

private:
    static ServerOptions options() {
        ServerOptions o;
        o.port = 0;
        return o;
    }
    Tavex::DummyCard card_;
    Tavex::IOTrack track_;
    RegisterMap map_;
    Exchange exchange_;
    ScanBridge bridge_;
    Responder responder_;
    Server server_;
    std::atomic<bool> stopping_{false};
    std::thread scan_, serve_;
};

modbus_t* connect(int port) {
    modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
    modbus_set_slave(ctx, 1);
    modbus_set_response_timeout(ctx, 2, 0);
    if (modbus_connect(ctx) != 0) {
        std::fprintf(stderr, "gateway bench: cannot connect to port %d: %s\n", port,
                     modbus_strerror(errno));
        std::exit(2);
    }
    return ctx;
}

void round(modbus_t* ctx, int reads, std::vector<double>& times) {
    std::uint16_t registers[Registers];
    for (int i = 0; i < reads; ++i) {
        const auto start = Steady::now();
        if (modbus_read_registers(ctx, 0, Registers, registers) != Registers) {
            std::fprintf(stderr, "gateway bench: read failed: %s\n", modbus_strerror(errno));
            std::exit(2);
        }
        times.push_back(std::chrono::duration<double, std::micro>(Steady::now() - start).count());
    }
}

double percentile(std::vector<double> times, double share) {
    std::sort(times.begin(), times.end());
    return times[std::min(times.size() - 1, std::size_t(share * double(times.size())))];
}

}  // namespace

int main(int argc, char** argv) {
    const int reads = argc > 1 ? std::atoi(argv[1]) : 5000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 8;
    BareServer bare;
    GatewaySide gateway;
    modbus_t* bareClient = connect(bare.port());
    modbus_t* gatewayClient = connect(gateway.port());
    std::vector<double> bareTimes, gatewayTimes, ignored;
    round(bareClient, 500, ignored);   // warm both up
    round(gatewayClient, 500, ignored);
    for (int r = 0; r < rounds; ++r) {
        round(bareClient, reads, bareTimes);
        round(gatewayClient, reads, gatewayTimes);
    }
    modbus_close(bareClient);
    modbus_free(bareClient);
    modbus_close(gatewayClient);
    modbus_free(gatewayClient);

    const double bare50 = percentile(bareTimes, 0.50), bare99 = percentile(bareTimes, 0.99);
    const double gw50 = percentile(gatewayTimes, 0.50), gw99 = percentile(gatewayTimes, 0.99);
    std::printf("read of %d holding registers over 127.0.0.1, %zu reads each\n", Registers,
                bareTimes.size());
    std::printf("%-22s %9s %9s\n", "", "p50 (us)", "p99 (us)");
    std::printf("%-22s %9.1f %9.1f\n", "bare libmodbus server", bare50, bare99);
    std::printf("%-22s %9.1f %9.1f\n", "tavex-gateway", gw50, gw99);
    std::printf("%-22s %8.2fx %8.2fx   (limits 1.25x, 2x)\n", "ratio", gw50 / bare50,
                gw99 / bare99);
    const bool ok = gw50 <= 1.25 * bare50 && gw99 <= 2.0 * bare99;
    std::printf("%s\n", ok ? "within the limits" : "OUT OF THE LIMITS");
    return ok ? 0 : 1;
}
