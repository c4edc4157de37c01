// A gateway in the test's own process: tracks on a card whose field the
// test sets, the map, the exchange, the bridge, and the server on a free
// loopback port, served by a thread of its own.  The test runs the cycles
// (cycle()), as the scan would, and talks to the server with libmodbus's
// own client.
#ifndef TAVEX_GATEWAY_TESTS_RIG_H
#define TAVEX_GATEWAY_TESTS_RIG_H

#include <modbus/modbus.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Exchange.h"
#include "RegisterMap.h"
#include "Responder.h"
#include "ScanBridge.h"
#include "Server.h"
#include "tavex/model/IOCard.h"
#include "tavex/model/IOTrack.h"

// A card without hardware whose input points read what the test put in
// field and whose tracks all report state.
class FieldCard : public Tavex::IOCard {
public:
    FieldCard() : IOCard("field"), state(0) {}
    ~FieldCard() noexcept(false) override {}

    std::map<unsigned, std::vector<long> > field;     // by starting point
    std::map<unsigned, std::vector<long> > written;   // by starting point
    std::atomic<long> state;

protected:
    IOCard& updateInputs(const Tavex::IOTrack& track, long* values, long& trackState) override {
        const std::vector<long>& in = field[track.startingPoint()];
        for (unsigned p = 0; p < track.numberOfPoints() && p < in.size(); ++p) {
            const char letter = track.pointType(p);
            if (letter == 'I' || letter == 'A' || letter == 'C' || letter == 'R')
                values[p] = in[p];
        }
        trackState = state;
        return *this;
    }
    IOCard& updateOutputs(const Tavex::IOTrack& track, const long* const values,
                          long& trackState) override {
        written[track.startingPoint()].assign(values, values + track.numberOfPoints());
        trackState = state;
        return *this;
    }
    IOCard& addTrack(Tavex::IOTrack&) override { return *this; }
};

struct RigTrack {
    const char* name;
    const char* card;   // "a" or "b"
    unsigned start;
    const char* letters;
    std::vector<long> safe;
};

class Rig {
public:
    explicit Rig(const std::vector<RigTrack>& tracks,
                 Tavex::Gateway::ServeOptions serve = Tavex::Gateway::ServeOptions(),
                 Tavex::Gateway::ServerOptions server = Tavex::Gateway::ServerOptions(),
                 unsigned long watchdogMs = 0)
        : now(1000000000) {
        std::vector<Tavex::Gateway::TrackSpec> layouts;
        for (const RigTrack& t : tracks) {
            FieldCard& card = std::string(t.card) == "a" ? a : b;
            tracks_.emplace_back(new Tavex::IOTrack(card, t.start, t.letters));
            layouts.push_back(Tavex::Gateway::TrackSpec{t.name, t.card, t.letters, {}, t.safe});
            pointers_.push_back(tracks_.back().get());
        }
        map.reset(new Tavex::Gateway::RegisterMap(layouts, {{"a", 1}, {"b", 2}}));
        exchange.reset(new Tavex::Gateway::Exchange(map->valueCount(), layouts.size()));
        const Tavex::Gateway::Clock clock = [this] { return now.load(); };
        bridge.reset(new Tavex::Gateway::ScanBridge(*map, *exchange, pointers_, watchdogMs,
                                                     clock));
        responder.reset(new Tavex::Gateway::Responder(*map, *exchange, serve, clock));
        server.port = 0;
        this->server.reset(new Tavex::Gateway::Server(*responder, server));
        thread_ = std::thread([this] {
            while (!stopping_)
                this->server->serveOnce(20);
        });
    }
    ~Rig() {
        stopping_ = true;
        server->stop();
        thread_.join();
    }

    Tavex::IOTrack& track(std::size_t i) { return *tracks_[i]; }
    // One scan cycle.
    void cycle() {
        for (Tavex::IOTrack* track : pointers_)
            track->updateInputs();
        bridge->cycle(++cycles_);
        for (Tavex::IOTrack* track : pointers_)
            track->updateOutputs();
    }
    unsigned port() const { return server->port(); }

    // A connected libmodbus client for unit, with a 2 s answer timeout.
    modbus_t* client(int unit = 1) {
        modbus_t* ctx = modbus_new_tcp("127.0.0.1", int(port()));
        modbus_set_slave(ctx, unit);
        modbus_set_response_timeout(ctx, 2, 0);
        if (modbus_connect(ctx) != 0) {
            modbus_free(ctx);
            return 0;
        }
        return ctx;
    }

    FieldCard a, b;
    std::atomic<std::int64_t> now;   // the clock of the bridge and the responder, ns
    std::unique_ptr<Tavex::Gateway::RegisterMap> map;
    std::unique_ptr<Tavex::Gateway::Exchange> exchange;
    std::unique_ptr<Tavex::Gateway::ScanBridge> bridge;
    std::unique_ptr<Tavex::Gateway::Responder> responder;
    std::unique_ptr<Tavex::Gateway::Server> server;

private:
    std::vector<std::unique_ptr<Tavex::IOTrack> > tracks_;
    std::vector<Tavex::IOTrack*> pointers_;
    std::uint64_t cycles_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

// Closes and frees a libmodbus client at the end of a scope.
struct Client {
    explicit Client(modbus_t* c) : ctx(c) {}
    ~Client() {
        if (ctx) {
            modbus_close(ctx);
            modbus_free(ctx);
        }
    }
    modbus_t* ctx;
};

#endif
