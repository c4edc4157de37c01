#include "GatewayTool.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <csignal>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "DemoPlant.h"
#include "DemoPlantFile.h"
#include "Exchange.h"
#include "OpenCard.h"
#include "RegisterMap.h"
#include "Responder.h"
#include "ScanBridge.h"
#include "Server.h"
#include "tavex/plant/Plant.h"
#include "tavex/platform/Platform.h"
#include "tavex/scan/Scan.h"

namespace Tavex {
namespace Gateway {

namespace {

const char* const program = "tavex-gateway";

// What the [gateway] table and the command line set, the command line last.
struct Settings {
    Settings() : watchdogMs(0), statusBase(RegisterMap::DefaultStatusBase) {}
    std::vector<std::pair<std::string, int> > units;
    ServeOptions serve;
    ServerOptions server;
    unsigned long watchdogMs;
    unsigned statusBase;
};

// The [gateway] table:
//   listen = "127.0.0.1"   port = 502
//   unit = { line = 1, master = 2 }     every card, or none: 1, 2, ... in file order
//   word_order = "high-first"           or "low-first"
//   down_exception = 11                 0: answer with the last values
//   read_only = false
//   allow = ["127.0.0.1", "10.0.0.0/8"] empty: any client
//   max_connections = 128  idle_timeout_ms = 60000   watchdog_ms = 0
//   status_base = 9000
Settings readTable(const Plant& plant) {
    Settings settings;
    const PlantTable table = plant.table("gateway");
    for (const std::string& key : table.keys()) {
        static const char* const known[] = {"listen", "port", "unit", "word_order",
                                            "down_exception", "read_only", "allow",
                                            "max_connections", "idle_timeout_ms",
                                            "watchdog_ms", "status_base"};
        bool ok = false;
        for (const char* name : known)
            ok = ok || key == name;
        if (!ok)
            table.fail(key, "unknown key '" + key + "' in [gateway]");
    }
    settings.server.address = table.getString("listen", settings.server.address);
    settings.server.port = unsigned(table.getInteger("port", 0, 65535, 502));
    const std::string order = table.getString("word_order", "high-first");
    if (order != "high-first" && order != "low-first")
        table.fail("word_order", "expected \"high-first\" or \"low-first\"");
    settings.serve.lowWordFirst = order == "low-first";
    // Exception codes go up to 0x0B (gateway target device failed to respond).
    settings.serve.downCode = int(table.getInteger("down_exception", 0, 11, 0x0B));
    settings.serve.readOnly = table.getBool("read_only", false);
    settings.server.allow = table.getStringArray("allow", std::vector<std::string>());
    for (const std::string& rule : settings.server.allow) {
        try {
            AddressRule check(rule);
        } catch (const std::invalid_argument&) {
            table.fail("allow", "not a numeric address or ADDRESS/BITS: '" + rule + "'");
        }
    }
    settings.server.maxConnections =
        unsigned(table.getInteger("max_connections", 1, 1000, settings.server.maxConnections));
    settings.server.idleTimeoutMs = (unsigned long)table.getInteger(
        "idle_timeout_ms", 0, 86400000, (long long)settings.server.idleTimeoutMs);
    settings.watchdogMs = (unsigned long)table.getInteger("watchdog_ms", 0, 86400000, 0);
    settings.statusBase = unsigned(table.getInteger("status_base", 0, 65000,
                                                    RegisterMap::DefaultStatusBase));

    if (table.has("unit")) {
        const PlantTable units = table.subtable("unit");
        for (const std::string& card : units.keys()) {
            if (!plant.findCard(card))
                units.fail(card, "the plant has no card '" + card + "'");
            settings.units.push_back(std::make_pair(card, int(units.getInteger(card, 0, 255))));
        }
        for (const PlantCard& card : plant.cards()) {
            bool given = false;
            for (const auto& unit : settings.units)
                given = given || unit.first == card.name;
            if (!given)
                units.fail("card '" + card.name + "' has no unit");
        }
        for (std::size_t i = 0; i < settings.units.size(); ++i)
            for (std::size_t j = 0; j < i; ++j)
                if (settings.units[i].second == settings.units[j].second)
                    units.fail(settings.units[i].first,
                               "unit " + std::to_string(settings.units[i].second) +
                                   " is already card '" + settings.units[j].first + "'");
    } else {
        int next = 1;
        for (const PlantCard& card : plant.cards())
            settings.units.push_back(std::make_pair(card.name, next++));
    }
    return settings;
}

std::vector<TrackSpec> trackSpecs(const Plant& plant) {
    std::vector<TrackSpec> tracks;
    for (const PlantTrack& track : plant.tracks())
        tracks.push_back(TrackSpec{track.name, track.card, track.arguments.letters, track.points,
                                  track.safe});
    return tracks;
}

std::atomic<bool> signalled(false);
Server* volatile signalServer = 0;

extern "C" void onSignal(int) {
    signalled.store(true);
    if (Server* server = signalServer)
        server->stop();
}

}  // namespace

int runGateway(int argc, char** argv, std::ostream& out, std::ostream& err,
               const GatewayEnvironment& environment) {
    CLI::App app("Serves the tracks of a plant file over Modbus TCP while a scan runs them.",
                 program);
    std::string plantFile;
    bool sim = false, printMap = false, yes = false, readOnly = false;
    app.add_option("plant", plantFile, "The plant file (cards, tracks and a [gateway] table)");
    app.add_flag("--sim", sim, "Run on the simulated demo PC (its plant file if none is given)");
    app.add_flag("--print-map", printMap,
                 "List every point's unit, table and address (0-based and 5-digit), and exit");
    app.add_flag("--yes", yes, "Let clients move the outputs of this PC's boards");
    std::string listen, wordOrder;
    unsigned port = 0, maxConnections = 0;
    unsigned long idleMs = 0, watchdogMs = 0;
    int downCode = 0;
    std::vector<std::string> allow;
    CLI::Option* listenOption = app.add_option("--listen", listen,
                                               "The address to listen at (127.0.0.1)");
    CLI::Option* portOption =
        app.add_option("--port", port, "The TCP port (502; 0: any free one)")
            ->check(CLI::Range(0, 65535));
    // One address per --allow (or several with commas), so that the plant
    // file after it stays the plant file.
    CLI::Option* allowOption =
        app.add_option("--allow", allow,
                       "Client addresses let in, ADDRESS or ADDRESS/BITS (any if none)")
            ->allow_extra_args(false)
            ->delimiter(',');
    CLI::Option* orderOption =
        app.add_option("--word-order", wordOrder, "high-first (the default) or low-first")
            ->check(CLI::IsMember({"high-first", "low-first"}));
    CLI::Option* downOption =
        app.add_option("--down-exception", downCode,
                       "The exception for a point of a card that is down (11; 0: the last "
                       "values)")
            ->check(CLI::Range(0, 11));
    app.add_flag("--read-only", readOnly, "Refuse every write (exception 1)");
    CLI::Option* maxOption = app.add_option("--max-connections", maxConnections,
                                            "Clients at once (128)")
                                 ->check(CLI::Range(1, 1000));
    CLI::Option* idleOption = app.add_option(
        "--idle-timeout", idleMs, "Drop a client without a request for so many ms (60000; 0: never)");
    CLI::Option* watchdogOption = app.add_option(
        "--watchdog", watchdogMs,
        "Write the outputs' safe values when no client has written for so many ms (0: never)");
    app.set_version_flag("--version", std::string("tavex-gateway ") + TAVEX_VERSION);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e, out, err) == 0 ? ExitDone : ExitUsage;
    }

    std::unique_ptr<Plant> plant;
    Settings settings;
    std::unique_ptr<RegisterMap> map;
    try {
        if (!plantFile.empty())
            plant.reset(new Plant(Plant::load(plantFile, {"gateway"})));
        else if (sim)
            plant.reset(new Plant(Plant::parse(demoPlantFile, "demo-plant.toml", {"gateway"})));
        else {
            err << program << ": give a plant file, or --sim for the demo plant\n";
            return ExitUsage;
        }
        settings = readTable(*plant);
        map.reset(new RegisterMap(trackSpecs(*plant), settings.units, settings.statusBase));
    } catch (const PlantError& e) {
        err << e.what() << "\n";
        return ExitUsage;
    } catch (const std::invalid_argument& e) {
        err << plant->file() << ": " << e.what() << "\n";
        return ExitUsage;
    }
    if (listenOption->count())
        settings.server.address = listen;
    if (portOption->count())
        settings.server.port = port;
    if (allowOption->count())
        settings.server.allow = allow;
    if (orderOption->count())
        settings.serve.lowWordFirst = wordOrder == "low-first";
    if (downOption->count())
        settings.serve.downCode = downCode;
    if (readOnly)
        settings.serve.readOnly = true;
    if (maxOption->count())
        settings.server.maxConnections = maxConnections;
    if (idleOption->count())
        settings.server.idleTimeoutMs = idleMs;
    if (watchdogOption->count())
        settings.watchdogMs = watchdogMs;
    for (const std::string& rule : settings.server.allow) {
        try {
            AddressRule check(rule);
        } catch (const std::invalid_argument& e) {
            err << program << ": --allow: " << e.what() << "\n";
            return ExitUsage;
        }
    }

    if (printMap) {
        map->print(out);
        return ExitDone;
    }
    if (!sim && !yes && !settings.serve.readOnly) {
        err << program << ": clients of the gateway move the outputs of this PC's boards; "
                          "give --yes to let them (or --read-only, or --sim for the "
                          "simulated PC)\n";
        return ExitUsage;
    }

    std::unique_ptr<Tool::DemoPlant> ownDemo;
    Tool::DemoPlant* demo = environment.plant;
    if (sim && !demo) {
        ownDemo.reset(new Tool::DemoPlant);
        demo = ownDemo.get();
    }

    int result = ExitDone;
    try {
        PlantIO io(*plant, Tool::openOptions(sim ? demo : 0));
        std::vector<IOTrack*> tracks;
        for (std::size_t t = 0; t < io.trackCount(); ++t)
            tracks.push_back(&io.track(t));

        // Outputs start at their safe values, and the intelligent boards get
        // the time to pass them on before the first inputs are read.
        io.setSafeValues();
        for (std::size_t t = 0; t < tracks.size(); ++t)
            if (tracks[t]->hasPointOfType(IOTrack::DigitalOutput) ||
                tracks[t]->hasPointOfType(IOTrack::AnalogOutput))
                tracks[t]->updateOutputs();
        if (io.settleTime() > 0)
            Platform::current().sleep((io.settleTime() + 999) / 1000);

        Exchange exchange(map->valueCount(), tracks.size());
        ScanBridge bridge(*map, exchange, tracks, settings.watchdogMs);
        Responder responder(*map, exchange, settings.serve);
        Server server(responder, settings.server);

        const std::chrono::microseconds period(plant->period());
        Scan scan(period);
        for (std::size_t t = 0; t < tracks.size(); ++t)
            scan.add(*tracks[t], io.trackInfo(t).safe);

        err << program << ": serving " << tracks.size() << " tracks of "
            << plant->cards().size() << " cards at " << settings.server.address << " port "
            << server.port() << (sim ? " (simulated PC)" : "")
            << (settings.serve.readOnly ? ", read-only" : "") << "\n";
        if (environment.listening)
            environment.listening(server.port());

        signalled.store(false);
        signalServer = &server;
        void (*oldInt)(int) = std::signal(SIGINT, onSignal);
        void (*oldTerm)(int) = std::signal(SIGTERM, onSignal);

        std::atomic<bool> stopping(false);
        std::string scanError;
        std::thread scanThread([&] {
            try {
                const auto logic = [&] { bridge.cycle(scan.cycle()); };
                // The simulated PC's clock is virtual: its sleeps take no
                // time, so the gateway keeps the pace of the plant itself.
                auto next = std::chrono::steady_clock::now();
                while (!stopping.load()) {
                    if (sim) {
                        // A late cycle is not caught up with a burst.
                        next = std::max(next + period, std::chrono::steady_clock::now());
                        std::this_thread::sleep_until(next);
                    }
                    if (!scan.step(logic))
                        break;
                }
                scan.stop();
                scan.step(logic);   // the safe values, written
            } catch (const std::exception& e) {
                scanError = e.what();
            }
            stopping.store(true);
            server.stop();
        });
        while (!stopping.load() && !signalled.load() &&
               !(environment.stop && environment.stop->load()))
            server.serveOnce(100);
        stopping.store(true);
        scanThread.join();

        signalServer = 0;
        std::signal(SIGINT, oldInt);
        std::signal(SIGTERM, oldTerm);

        const Scan::Statistics figures = scan.statistics();
        err << program << ": stopped after " << figures.cycles << " cycles ("
            << figures.overruns << " overruns, " << figures.badCycles << " bad); ";
        if (!scanError.empty()) {
            err << "the scan failed: " << scanError << "\n";
            result = ExitFailed;
        } else if (!scan.safeStateError().empty()) {
            err << "safe values not written: " << scan.safeStateError() << "\n";
            result = ExitFailed;
        } else {
            err << "outputs at their safe values\n";
        }
        io.close();
    } catch (const std::exception& e) {
        err << program << ": " << e.what() << "\n";
        return ExitFailed;
    }
    return result;
}

}  // namespace Gateway
}  // namespace Tavex
