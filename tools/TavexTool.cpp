#include "TavexTool.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <iostream>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <CLI/CLI.hpp>

#include "CardArguments.h"
#include "CardFacts.h"
#include "Demo.h"
#include "DemoPlant.h"
#include "DemoPlantFile.h"
#include "Json.h"
#include "OpenCard.h"
#include "PciList.h"
#include "ScanCommand.h"
#include "TrackView.h"
#include "WriteValues.h"
#include "tavex/model/IOTrack.h"
#include "tavex/plant/Plant.h"
#include "tavex/platform/OSInterface.h"

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#ifndef TAVEX_VERSION
#define TAVEX_VERSION "unknown"
#endif

namespace Tavex {
namespace Tool {

namespace {

const char* const exitCodes =
    "Exit status:\n"
    "  0  done\n"
    "  1  the library refused or failed; its message is printed (or the output\n"
    "     could not be written)\n"
    "  2  the command line is wrong, a value does not fit its point, or --yes is\n"
    "     missing; nothing was done\n"
    "  3  read, write: done, but the track state is not 0 (2: card or network\n"
    "     down, 3: station, slave or module not answering)\n";

const char* const trackSyntax =
    "TRACK is START:LETTERS: the starting point (decimal or 0x hex, in the card's\n"
    "own unit: port, group, bank, channel, station, or slave * 0x10000 + byte)\n"
    "and one letter per point: I digital input, O digital output, A analog input,\n"
    "U analog output, C counter, R reverse counter, N not used.\n";

const char* const commonOptions =
    "Options of every subcommand, before or after it:\n"
    "  --sim          run on the demo plant, a simulated PC, instead of this PC's boards\n"
    "  --plant FILE   take tracks by their names in this plant file (on --sim: the demo\n"
    "                 plant's file, tools/demo-plant.toml)\n"
    "  -y, --yes      go ahead with what acts on the plant (off --sim)\n"
    "  --json         print JSON: one document, or one object per scan for watch\n"
    "  -q, --quiet    print no headers, notes or warnings\n"
    "  --color WHEN   auto (default: on a terminal, unless NO_COLOR is set), always, never\n";

// Options that every subcommand takes, before it or after it.
struct Options {
    Options() : sim(false), yes(false), json(false), quiet(false), color("auto") {}
    bool sim, yes, json, quiet;
    std::string color;
    std::string plant;   // --plant FILE
};

// What a command needs besides its own words.
struct Context {
    Context(std::ostream& o, std::ostream& e, const Environment& v, const Options& p)
        : out(o), err(e), env(v), options(p),
          colour(p.color == "always" || (p.color == "auto" && v.terminal && !v.noColor)) {}
    std::ostream& out;
    std::ostream& err;
    const Environment& env;
    const Options& options;
    bool colour;

    void note(const std::string& text) const {
        if (!options.quiet)
            err << "tavex: " << text << '\n';
    }
    // A write that failed on standard output ends the command.
    void checkOutput() const {
        if (!out)
            throw std::runtime_error("cannot write to standard output");
    }
};

// The plant a run uses: the environment's, or one of its own while needed.
class PlantInUse {
public:
    PlantInUse(bool wanted, DemoPlant* given)
        : own_(wanted && !given ? new DemoPlant : 0), plant_(wanted ? (given ? given : own_.get()) : 0) {}
    DemoPlant* get() const { return plant_; }

private:
    std::unique_ptr<DemoPlant> own_;
    DemoPlant* plant_;
};

struct TrackCommand {
    TrackCommand() : count("0"), raw(false), changes(false) {}
    std::vector<std::string> words;   // CARD TRACK, or NAME(s) of a plant file; write: then VALUES
    std::string rate, count;
    bool raw, changes;
};

// --rate: a number of scans per second, decimal with an optional fraction.
double parseRate(const std::string& text) {
    const std::string::size_type dot = text.find('.');
    const std::string whole = text.substr(0, dot);
    const std::string fraction = dot == std::string::npos ? "" : text.substr(dot + 1);
    const bool digits = !whole.empty() && whole.find_first_not_of("0123456789") == std::string::npos &&
                        (dot == std::string::npos ||
                         (!fraction.empty() &&
                          fraction.find_first_not_of("0123456789") == std::string::npos));
    const double rate = digits ? std::stod(text) : 0;
    if (!digits || !(rate > 0) || rate > 1000)
        throw UsageError("rate '" + text + "' is not a number of scans per second from 0.001 to 1000");
    return rate;
}

// One track a command acts on: given as CARD TRACK, or named in a plant file.
struct Target {
    Target() : safeGiven(false) {}
    std::string name;        // the track's name in the plant file; empty for CARD TRACK
    std::string cardKey;     // tracks with the same key share one card
    std::string cardName;    // the card's name in the plant file
    CardArguments card;
    std::string trackText;
    TrackArguments track;
    std::vector<std::string> points;   // point names, by position
    std::vector<long> safe;
    bool safeGiven;

    std::string label() const { return name.empty() ? trackText : name; }
};

// What the words of read, write and watch name.
struct Request {
    Request() : period(0), named(false) {}
    std::vector<Target> targets;
    std::vector<std::string> values;   // write
    unsigned long period;              // the plant file's scan period in us; 0 without one
    bool named;                        // the tracks come from a plant file
};

// The plant file of --plant, or on --sim the demo plant's; null otherwise.
std::unique_ptr<Plant> plantOf(const Context& x) {
    try {
        if (!x.options.plant.empty())
            return std::unique_ptr<Plant>(new Plant(Plant::load(x.options.plant)));
        if (x.options.sim)
            return std::unique_ptr<Plant>(new Plant(Plant::parse(demoPlantFile(), demoPlantFileName())));
    } catch (const PlantError& e) {
        throw UsageError(e.what());
    }
    return std::unique_ptr<Plant>();
}

// The card of a command, with its decimal ports said back.
CardArguments cardOf(const std::string& text, const Context& x) {
    const CardArguments card = parseCard(text);
    for (const std::string& warning : card.warnings)
        x.note("warning: " + warning);
    return card;
}

Target namedTarget(const Plant& plant, const std::string& name) {
    const PlantTrack* track = plant.findTrack(name);
    if (!track) {
        std::string names;
        for (const PlantTrack& t : plant.tracks())
            names += (names.empty() ? "" : ", ") + t.name;
        throw UsageError("no track named '" + name + "' in " + plant.file() + "; the tracks are " + names);
    }
    Target target;
    target.name = track->name;
    target.cardKey = "plant card " + track->card;
    target.cardName = track->card;
    target.card = plant.findCard(track->card)->arguments;
    target.trackText = track->text;
    target.track = track->arguments;
    target.points = track->points;
    target.safe = track->safe;
    target.safeGiven = track->safeGiven;
    return target;
}

Target givenTarget(const std::string& card, const std::string& track, const Context& x) {
    Target target;
    target.card = cardOf(card, x);
    target.cardKey = card;
    target.trackText = track;
    target.track = parseTrack(track);
    return target;
}

// read NAME | CARD TRACK; write NAME VALUES... | CARD TRACK VALUES...;
// watch [NAME...] | CARD TRACK.  With --plant every track is a name; on
// --sim a word that names a track of the demo plant is one too.
Request requestOf(const std::string& command, const std::vector<std::string>& words, const Context& x) {
    const std::unique_ptr<Plant> plant = plantOf(x);
    const bool plantGiven = !x.options.plant.empty();
    auto isName = [&](const std::string& word) { return plant && plant->findTrack(word) != 0; };
    Request request;
    if (command == "write") {
        if (plantGiven || (!words.empty() && isName(words[0]))) {
            if (words.empty())
                throw UsageError("NAME is required");
            if (words.size() < 2)
                throw UsageError("VALUES is required");
            request.targets.push_back(namedTarget(*plant, words[0]));
            request.values.assign(words.begin() + 1, words.end());
            request.named = true;
        } else {
            const char* const missing[] = {"CARD is required", "TRACK is required", "VALUES is required"};
            if (words.size() < 3)
                throw UsageError(missing[words.size()]);
            request.targets.push_back(givenTarget(words[0], words[1], x));
            request.values.assign(words.begin() + 2, words.end());
        }
    } else {
        bool names = plantGiven || (plant && !words.empty());
        for (const std::string& word : words)
            names = names && (plantGiven || isName(word));
        // One word that is no CARD string: a name, which the plant then judges.
        names = names || (plant && words.size() == 1 && words[0].find(':') == std::string::npos);
        if (names || (plant && words.empty() && command == "watch")) {
            if (command == "read" && words.size() != 1)
                throw UsageError(words.empty() ? "NAME is required"
                                               : "The following argument was not expected: " + words[1]);
            for (const PlantTrack& track : plant->tracks())
                if (words.empty())
                    request.targets.push_back(namedTarget(*plant, track.name));
            for (const std::string& word : words)
                request.targets.push_back(namedTarget(*plant, word));
            request.named = true;
        } else {
            if (words.size() < 2)
                throw UsageError(words.empty() ? "CARD is required" : "TRACK is required");
            if (words.size() > 2)
                throw UsageError("The following argument was not expected: " + words[2]);
            request.targets.push_back(givenTarget(words[0], words[1], x));
        }
    }
    if (plant && request.named)
        request.period = plant->period();
    return request;
}

// Off the simulated PC, what acts on the plant is said first and needs --yes.
void consent(const Context& x, const std::string& subject, const std::vector<std::string>& actions) {
    if (x.options.sim || actions.empty())
        return;
    if (!x.options.yes) {
        std::string text = subject + " would act on the plant:";
        for (const std::string& action : actions)
            text += "\n  " + action;
        throw UsageError(text + "\nnothing done: give --yes (-y) to go ahead, or --sim to try it "
                                "on the demo plant");
    }
    for (const std::string& action : actions)
        x.note(action);
}

std::string subjectOf(const std::string& command, const Request& request) {
    if (!request.named)
        return command + " " + request.targets[0].card.text;
    std::string names;
    for (const Target& target : request.targets)
        names += " " + target.name;
    return command + names;
}

// What building the cards and tracks of the request does, card by card.
std::vector<std::string> buildEffects(const Request& request) {
    std::vector<std::string> actions;
    std::vector<std::string> seen;
    for (const Target& target : request.targets) {
        const CardFacts& facts = cardFacts(target.card.kind);
        if (!facts.sideEffects ||
            std::find(seen.begin(), seen.end(), target.cardKey) != seen.end())
            continue;
        seen.push_back(target.cardKey);
        actions.push_back(request.named ? "card " + target.cardName + " (" + target.card.text +
                                              "): " + facts.sideEffects
                                        : std::string(facts.sideEffects));
    }
    return actions;
}

// The cards and tracks of a request, built in its order: a card once for
// all the tracks on it.  The tracks go first, then the cards.
class Opened {
public:
    Opened(const Request& request, const DemoPlant* plant) {
        for (const Target& target : request.targets) {
            OpenCard*& card = byKey_[target.cardKey];
            if (!card) {
                cards_.emplace_back(new OpenCard(target.card, plant));
                card = cards_.back().get();
            }
            cardOfTrack_.push_back(card);
            tracks_.emplace_back(
                new IOTrack(card->card(), target.track.start, target.track.letters.c_str()));
        }
    }
    IOTrack& track(std::size_t i) { return *tracks_[i]; }
    const OpenCard& card(std::size_t i) const { return *cardOfTrack_[i]; }
    unsigned long settleTime() const {
        unsigned long longest = 0;
        for (const std::unique_ptr<OpenCard>& card : cards_)
            longest = std::max(longest, card->settleTime());
        return longest;
    }
    // Tracks first, then their cards; a card that fails to go is reported.
    void close() {
        tracks_.clear();
        for (std::unique_ptr<OpenCard>& card : cards_)
            card->close();
    }

private:
    std::map<std::string, OpenCard*> byKey_;
    std::vector<std::unique_ptr<OpenCard> > cards_;
    std::vector<OpenCard*> cardOfTrack_;
    std::vector<std::unique_ptr<IOTrack> > tracks_;
};

std::string header(const Target& target, const OpenCard& card) {
    return (target.name.empty() ? "" : target.name + ": ") + card.description() + ", track " +
           target.trackText;
}

// "point 4 (filler)" where the plant file names it.
std::string pointName(const Target& target, unsigned point) {
    return "point " + std::to_string(point) +
           (point < target.points.size() ? " (" + target.points[point] + ")" : std::string());
}

// A read as JSON: {"card":...,"points":[{"point":0,"type":"I","value":1},...]}.
std::string jsonReading(const Target& target, const std::string& description, const Reading& reading,
                        const ViewOptions& view) {
    std::string text = "{";
    if (!target.name.empty())
        text += "\"name\":" + jsonString(target.name) + ",";
    text += "\"card\":" + jsonString(target.card.text) + ",\"description\":" +
            jsonString(description) + ",\"track\":" + jsonString(target.trackText) +
            ",\"state\":" + std::to_string(reading.state) +
            ",\"state_text\":" + jsonString(stateLabel(reading.state)) + ",\"points\":[";
    for (unsigned i = 0; i < reading.values.size(); ++i) {
        text += std::string(i ? "," : "") + "{\"point\":" + std::to_string(i);
        if (i < target.points.size())
            text += ",\"name\":" + jsonString(target.points[i]);
        text += ",\"type\":\"" + std::string(1, reading.letters[i]) + "\",\"value\":" +
                (reading.known[i] ? std::to_string(reading.values[i]) : std::string("null"));
        if (!view.raw && view.facts && reading.known[i] &&
            encodingOf(*view.facts, reading.letters[i]).fullScale)
            text += ",\"percent\":" + jsonNumber(reading.values[i] / 2147483648.0 * 100.0, 3);
        text += "}";
    }
    return text + "]}";
}

ViewOptions viewOf(const Target& target, bool raw, const Context& x) {
    ViewOptions view;
    view.facts = &cardFacts(target.card.kind);
    view.raw = raw;
    view.columns = x.env.columns;
    return view;
}

int readCommand(const TrackCommand& c, const Context& x) {
    const Request request = requestOf("read", c.words, x);
    const Target& target = request.targets[0];
    consent(x, subjectOf("read", request), buildEffects(request));
    PlantInUse plant(x.options.sim, x.env.plant);
    Opened opened(request, plant.get());
    const ViewOptions view = viewOf(target, c.raw, x);
    Reading reading;
    {
        IOTrack& track = opened.track(0);
        if (opened.settleTime())
            OSInterface::sleep(opened.settleTime());
        markOutputs(track);
        track.updateInputs();
        reading = readingOf(track);
    }
    if (x.options.json) {
        x.out << jsonReading(target, opened.card(0).description(), reading, view) << '\n';
    } else {
        // The values last, as write takes them: a script takes the last line.
        if (!x.options.quiet) {
            x.out << header(target, opened.card(0)) << '\n';
            for (const std::string& row : pointRows(reading, view))
                x.out << row << '\n';
            if (reading.anyUnknown())
                x.out << notReadBackNote(reading) << '\n';
            x.out << stateText(reading.state) << '\n';
        }
        x.out << "values " << valueList(reading) << '\n';
    }
    x.out.flush();
    opened.close();
    return reading.state == 0 ? ExitDone : ExitTrackState;
}

bool isOutputLetter(char letter) {
    return letter == 'O' || letter == 'U' || letter == 'C' || letter == 'R';
}

int writeCommand(const TrackCommand& c, const Context& x) {
    const Request request = requestOf("write", c.words, x);
    const Target& target = request.targets[0];
    const CardFacts& facts = cardFacts(target.card.kind);
    const std::string& letters = target.track.letters;
    const WriteValues values = parseWriteValues(request.values, letters, facts, target.points,
                                                target.safeGiven ? &target.safe : 0);

    std::string written;   // "8=1 9=0": what reaches the outputs
    for (unsigned i = 0; i < letters.size(); ++i)
        if (isOutputLetter(letters[i]))
            written += (written.empty() ? "" : " ") + std::to_string(i) + "=" +
                       std::to_string(values.values[i]);
    std::vector<std::string> actions = buildEffects(request);
    if (target.card.kind != CardArguments::Dummy)
        actions.push_back("write to track " + target.label() + ": " + written);
    consent(x, subjectOf("write", request), actions);
    if (!values.unnamed.empty())
        x.note("outputs not named are written " +
               std::string(target.safeGiven ? "at their safe values" : "as 0") + ": point" +
               (values.unnamed.size() == 1 ? " " : "s ") + pointRanges(values.unnamed));

    PlantInUse plant(x.options.sim, x.env.plant);
    Opened opened(request, plant.get());
    long state;
    {
        IOTrack& track = opened.track(0);
        // An encoder card writes only the counts that changed since it last
        // read them: it must know them, or a count equal to the one it last
        // preset would silently not be written.
        if (track.hasPointOfType(IOTrack::Counter) || track.hasPointOfType(IOTrack::ReverseCounter))
            track.updateInputs();
        for (unsigned i = 0; i < track.numberOfPoints(); ++i)
            track[i] = values.values[i];
        track.updateOutputs();
        // An intelligent board sends the outputs on by itself; give it the
        // time before the card goes, then ask whether the station, rack or
        // slave was there to take them.
        if (opened.settleTime()) {
            OSInterface::sleep(opened.settleTime());
            const long sent = track.trackState();
            track.updateInputs();   // these boards set the state on every update
            state = sent != 0 ? sent : track.trackState();
        } else {
            state = track.trackState();
        }
    }
    if (x.options.json) {
        std::string points;
        for (unsigned i = 0; i < letters.size(); ++i)
            if (isOutputLetter(letters[i]))
                points += std::string(points.empty() ? "" : ",") + "{\"point\":" + std::to_string(i) +
                          (i < target.points.size() ? ",\"name\":" + jsonString(target.points[i]) : "") +
                          ",\"type\":\"" + letters[i] + "\",\"value\":" +
                          std::to_string(values.values[i]) + "}";
        x.out << "{" << (target.name.empty() ? "" : "\"name\":" + jsonString(target.name) + ",")
              << "\"card\":" << jsonString(target.card.text) << ",\"description\":"
              << jsonString(opened.card(0).description()) << ",\"track\":" << jsonString(target.trackText)
              << ",\"state\":" << state << ",\"state_text\":" << jsonString(stateLabel(state))
              << ",\"written\":[" << points << "]}\n";
    } else if (!x.options.quiet) {
        x.out << header(target, opened.card(0)) << '\n'
              << "wrote " << written << '\n'
              << stateText(state) << '\n';
    }
    x.out.flush();
    opened.close();
    return state == 0 ? ExitDone : ExitTrackState;
}

// "2026-12-08T10:32:14.123Z"
std::string isoTime(std::chrono::system_clock::time_point when) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm utc = std::tm();
#if defined(_WIN32)
    gmtime_s(&utc, &seconds);
#else
    gmtime_r(&seconds, &utc);
#endif
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(ms % 1000));
    return text;
}

// One track that watch follows, and what it showed last.
struct Watched {
    Watched(const Target& t, IOTrack& k, const OpenCard& c, const ViewOptions& v)
        : target(t), track(k), card(c), view(v), seen(false) {}
    const Target& target;
    IOTrack& track;
    const OpenCard& card;
    ViewOptions view;
    Reading last;
    bool seen;
};

// --changes: the points and states that moved since the last scan; all of
// them at the first.
void printChanges(const Context& x, unsigned long scan, double t, std::vector<Watched>& tracks) {
    const std::string when = isoTime(x.env.wallClock());
    std::string json;
    for (Watched& w : tracks) {
        const Reading now = readingOf(w.track);
        const std::string label = w.target.label();
        const std::string prefix = when + "  scan " + std::to_string(scan) + "  " + label + "  ";
        const std::string jsonTrack = "{\"track\":" + jsonString(label);
        if (!w.seen || now.state != w.last.state) {
            if (x.options.json)
                json += std::string(json.empty() ? "" : ",") + jsonTrack + ",\"state_from\":" +
                        (w.seen ? std::to_string(w.last.state) : std::string("null")) +
                        ",\"state_to\":" + std::to_string(now.state) + "}";
            else
                x.out << prefix << "state "
                      << (w.seen ? std::to_string(w.last.state) + " -> " : std::string())
                      << now.state << " (" << stateLabel(now.state) << ")\n";
        }
        for (unsigned i = 0; i < now.values.size(); ++i) {
            const bool moved = !w.seen || now.known[i] != w.last.known[i] ||
                               (now.known[i] && now.values[i] != w.last.values[i]);
            if (!moved || (!w.seen && !now.known[i]))
                continue;
            const std::string value = now.known[i] ? std::to_string(now.values[i]) : "-";
            const std::string before =
                w.seen ? (w.last.known[i] ? std::to_string(w.last.values[i]) : "-") : "";
            if (x.options.json) {
                json += std::string(json.empty() ? "" : ",") + jsonTrack + ",\"point\":" +
                        std::to_string(i) +
                        (i < w.target.points.size() ? ",\"name\":" + jsonString(w.target.points[i]) : "") +
                        ",\"type\":\"" + now.letters[i] + "\",\"from\":" +
                        (w.seen && w.last.known[i] ? before : std::string("null")) +
                        ",\"to\":" + (now.known[i] ? value : std::string("null")) + "}";
            } else {
                std::string extra;
                if (!w.view.raw && w.view.facts && now.known[i] &&
                    encodingOf(*w.view.facts, now.letters[i]).fullScale)
                    extra = " (" + percentText(now.values[i]) + ")";
                x.out << prefix << pointName(w.target, i) << " " << now.letters[i] << " "
                      << (w.seen ? before + " -> " : std::string()) << value << extra << '\n';
            }
        }
        w.last = now;
        w.seen = true;
    }
    if (x.options.json && !json.empty())
        x.out << "{\"scan\":" << scan << ",\"t\":" << jsonNumber(t, 3) << ",\"time\":"
              << jsonString(when) << ",\"changes\":[" << json << "]}\n";
}

int watchCommand(const TrackCommand& c, const Context& x) {
    const Request request = requestOf("watch", c.words, x);
    // Without --rate, a plant file's period, else 10 scans a second.
    const double rate = !c.rate.empty() ? parseRate(c.rate)
                        : request.period ? 1000000.0 / request.period
                                         : 10.0;
    const unsigned long count = parseCount(c.count, 0, 0xFFFFFFFFu, "count");
    const unsigned long period = static_cast<unsigned long>(1000000.0 / rate + 0.5);   // us
    consent(x, subjectOf("watch", request), buildEffects(request));

    PlantInUse plant(x.options.sim, x.env.plant);
    Opened opened(request, plant.get());
    std::vector<Watched> tracks;
    for (std::size_t i = 0; i < request.targets.size(); ++i) {
        tracks.emplace_back(request.targets[i], opened.track(i), opened.card(i),
                            viewOf(request.targets[i], c.raw, x));
        markOutputs(opened.track(i));
    }
    const bool table = x.env.terminal && !x.options.json && !c.changes;
    Screen screen(x.out, table, x.colour, x.env.columns);
    if (!table && !x.options.json && !x.options.quiet)
        for (const Watched& w : tracks)
            x.out << header(w.target, w.card) << '\n';
    if (opened.settleTime())
        OSInterface::sleep(opened.settleTime());

    // Scans on absolute time: scan n is due n periods after the first, so
    // that the time one takes does not push the next ones back.
    const unsigned long startMs = x.env.steadyMs();
    for (unsigned long n = 0; count == 0 || n < count; ++n) {
        if (n > 0) {
            if (x.options.sim)
                OSInterface::sleep(period);
            const unsigned long due = startMs + static_cast<unsigned long>(n * (period / 1000.0) + 0.5);
            const unsigned long now = x.env.steadyMs();
            if (x.env.realSleep && due > now)
                x.env.realSleep(due - now);
        }
        for (Watched& w : tracks)
            w.track.updateInputs();
        const unsigned long ms = static_cast<unsigned long>(n * (period / 1000.0) + 0.5);
        char when[64];
        std::snprintf(when, sizeof when, "scan %lu  t=%lu.%03lus", n + 1, ms / 1000, ms % 1000);
        if (c.changes) {
            printChanges(x, n + 1, ms / 1000.0, tracks);
        } else if (x.options.json) {
            std::string objects;
            for (const Watched& w : tracks)
                objects += std::string(objects.empty() ? "" : ",") +
                           jsonReading(w.target, w.card.description(), readingOf(w.track), w.view);
            x.out << "{\"scan\":" << n + 1 << ",\"t\":" << jsonNumber(ms / 1000.0, 3)
                  << ",\"tracks\":[" << objects << "]}\n";
        } else if (table) {
            std::vector<std::string> lines{when};
            for (const Watched& w : tracks) {
                const Reading reading = readingOf(w.track);
                lines.push_back(header(w.target, w.card));
                for (const std::string& row : pointRows(reading, w.view))
                    lines.push_back(row);
                lines.push_back("state " + screen.state(reading.state));
            }
            screen.frame(lines);
        } else {
            for (const Watched& w : tracks) {
                const Reading reading = readingOf(w.track);
                const std::string percent = percentList(reading, w.view);
                x.out << when << "  " << (request.named ? w.target.name + "  " : std::string())
                      << stateText(reading.state) << "  values " << valueList(reading)
                      << (percent.empty() ? "" : "  percent " + percent) << '\n';
            }
        }
        x.out.flush();
        x.checkOutput();
    }
    tracks.clear();
    opened.close();
    return ExitDone;
}

int pciCommand(const PciListing& how, const PciFilter& filter, const Context& x) {
    PlantInUse plant(x.options.sim, x.env.plant);
    PciNames names;
    if (how.numeric != 1 && !names.available() && !x.options.json && !x.options.quiet)
        x.err << PciNames::missing() << '\n';
    try {
        listPci(x.out, names, how, filter);
    } catch (const std::runtime_error& e) {
        if (x.options.sim)
            throw;
        throw std::runtime_error(std::string(e.what()) +
                                 "\n(tavex pci --sim lists the functions of the demo plant instead)");
    }
    return ExitDone;
}

int infoCommand(const std::string& cardText, const Context& x) {
    const std::string word = cardText.substr(0, cardText.find(':'));
    const CardFacts* facts = cardFactsByWord(word);
    if (!facts)
        throw UsageError("unknown card '" + word + "'; CARD is one of:\n" + cardSyntax());
    if (x.options.json) {
        const Encoding* codes[] = {&facts->analogInput, &facts->analogOutput, &facts->counter};
        const char* names[] = {"analog_inputs", "analog_outputs", "counters"};
        x.out << "{\"card\":" << jsonString(facts->word) << ",\"name\":" << jsonString(facts->name)
              << ",\"syntax\":" << jsonString(facts->syntax) << ",\"accepts\":"
              << jsonString(facts->where) << ",\"starting_point\":" << jsonString(facts->starts)
              << ",\"point_types\":" << jsonString(facts->points) << ",\"track_length\":"
              << jsonString(facts->lengths) << ",\"read_shows\":" << jsonString(facts->readBack);
        for (int i = 0; i < 3; ++i)
            if (codes[i]->text[0])
                x.out << ",\"" << names[i] << "\":{\"text\":" << jsonString(codes[i]->text)
                      << ",\"min\":" << codes[i]->min << ",\"max\":" << codes[i]->max
                      << ",\"step\":" << codes[i]->step << "}";
        x.out << ",\"side_effects\":"
              << (facts->sideEffects ? jsonString(facts->sideEffects) : std::string("null")) << "}\n";
    } else {
        x.out << describeCard(*facts);
    }
    return ExitDone;
}

int demoCommand(const std::string& secondsText, const Context& x) {
    const unsigned seconds = parseCount(secondsText, 1, 86400, "seconds");
    PlantInUse plant(true, x.env.plant);
    runDemo(x.out, x.env, *plant.get(), seconds, x.colour);
    return ExitDone;
}

void sleepForReal(unsigned long milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

unsigned long steadyMilliseconds() {
    return static_cast<unsigned long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

std::chrono::system_clock::time_point timeOfDay() { return std::chrono::system_clock::now(); }

}  // namespace

Environment::Environment()
    : terminal(false), realSleep(&sleepForReal), steadyMs(&steadyMilliseconds),
      wallClock(&timeOfDay), plant(0), noColor(false), columns(80) {}

bool isTerminal(const std::ostream& out) {
    if (&out != &std::cout)
        return false;
#if defined(_WIN32)
    if (!_isatty(_fileno(stdout)))
        return false;
    // A console shows escape sequences only once asked to.
    HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    return GetConsoleMode(console, &mode) &&
           SetConsoleMode(console, mode | 0x0004 /* ENABLE_VIRTUAL_TERMINAL_PROCESSING */);
#else
    return isatty(STDOUT_FILENO) != 0;
#endif
}

unsigned terminalColumns() {
#if defined(_WIN32)
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info))
        return static_cast<unsigned>(info.srWindow.Right - info.srWindow.Left + 1);
#else
    struct winsize size;
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
#endif
    const char* columns = std::getenv("COLUMNS");
    const long value = columns ? std::strtol(columns, 0, 10) : 0;
    return value >= 20 && value <= 1000 ? static_cast<unsigned>(value) : 80;
}

int runTavexTool(int argc, char** argv, std::ostream& out, std::ostream& err) {
    Environment environment;
    environment.terminal = isTerminal(out);
    const char* noColor = std::getenv("NO_COLOR");
    environment.noColor = noColor && noColor[0];
    environment.columns = environment.terminal ? terminalColumns() : 80;
    return runTavexTool(argc, argv, out, err, environment);
}

int runTavexTool(int argc, char** argv, std::ostream& out, std::ostream& err,
                 const Environment& environment) {
    CLI::App app("tavex: reads and writes the I/O points of the boards in this PC, or of a "
                 "simulated one",
                 "tavex");
    app.require_subcommand(1);
    // The common options may also follow the subcommand.
    app.fallthrough();
    app.set_version_flag("-V,--version", std::string("tavex ") + TAVEX_VERSION);
    app.footer(std::string("CARD is one of:\n") + cardSyntax() + trackSyntax + "\n" + exitCodes);

    Options options;
    app.add_flag("--sim", options.sim,
                 "run on the demo plant, a simulated PC with one board of every kind, instead of "
                 "this PC's hardware");
    app.add_flag("-y,--yes", options.yes,
                 "go ahead with what acts on the plant: a reset, a preset, a network going "
                 "online, outputs written (needed off --sim)");
    app.add_option("--plant", options.plant,
                   "the plant file whose named tracks read, write and watch take (on --sim: the "
                   "demo plant's)")
        ->type_name("FILE");
    app.add_flag("--json", options.json, "print JSON: one document, or one object per scan for watch");
    app.add_flag("-q,--quiet", options.quiet, "print no headers, notes or warnings");
    app.add_option("--color", options.color,
                   "auto (on a terminal, unless NO_COLOR is set), always or never")
        ->check(CLI::IsMember({"auto", "always", "never"}))
        ->type_name("WHEN");

    PciListing listing;
    PciFilter filter;
    std::string slotText, deviceText;
    int numericCount = 0, machineCount = 0;
    CLI::App* pci = app.add_subcommand("pci", "list the PCI functions that the library's scan finds");
    pci->add_flag("-n,--numeric", numericCount, "numbers only; -nn names and numbers");
    pci->add_flag("-v,--verbose", listing.verbose,
                  "also base address registers, interrupt line and subsystem IDs");
    pci->add_flag("-m", machineCount, "-mm: the machine-readable form of lspci -mm");
    pci->add_option("-s", slotText, "only the functions in [[[domain]:]bus:][dev][.func] (hex)")
        ->type_name("SLOT");
    pci->add_option("-d", deviceText, "only the functions with [vendor]:[device][:class] (hex)")
        ->type_name("ID");
    pci->footer(std::string(commonOptions) + "\n" + exitCodes);

    TrackCommand readArgs, writeArgs, watchArgs;
    CLI::App* read = app.add_subcommand("read", "build the card and a track, read its inputs once");
    CLI::App* write =
        app.add_subcommand("write", "build the card and a track, write its outputs once");
    CLI::App* watch = app.add_subcommand(
        "watch", "build the card and a track and keep reading it: in a terminal the table is "
                 "redrawn in place, elsewhere one line per scan");
    const std::string trackFooter = std::string("CARD is one of:\n") + cardSyntax() + trackSyntax +
                                    "\n" + sideEffectsHelp() + "\n" + commonOptions + "\n" +
                                    exitCodes;
    for (auto& [command, args] : {std::pair<CLI::App*, TrackCommand*>{read, &readArgs},
                                  {write, &writeArgs}, {watch, &watchArgs}}) {
        const char* what =
            command == write
                ? "CARD TRACK VALUES: the card (ac5:0x300), the track (1:OOOOOOOO) and the values: "
                  "one per point, separated by commas (1,0,0,1; values of inputs are ignored), or "
                  "POINT=VALUE pairs (3=1 5=0; outputs not named are written as 0, or at their "
                  "safe values where the plant file gives them).  A value is decimal or 0x hex, "
                  "or for an analog point a per cent of full scale (50%).  With a plant file, NAME "
                  "VALUES: the track's name, and points by number or name"
            : command == read
                ? "CARD TRACK: the card (ac5:0x300) and the track (0:IIIIIIII); with a plant file, "
                  "NAME: the name of one of its tracks"
                : "CARD TRACK, or with a plant file NAME...: the tracks of that name (all of them "
                  "when none is named)";
        command->add_option("WHAT", args->words, what)->type_name("");
        if (command != write)
            command->add_flag("--raw", args->raw, "analog values raw only, not also in per cent");
        const std::string name = command->get_name();
        command->footer("Forms: tavex " + name + " CARD TRACK" + (command == write ? " VALUES" : "") +
                        "\n       tavex " + name + " --plant FILE NAME" +
                        (command == write ? " VALUES" : command == watch ? "..." : "") +
                        "\n       tavex " + name + " --sim NAME" +
                        (command == write ? " VALUES" : command == watch ? "..." : "") +
                        "   (the demo plant's tracks)\n\n" + trackFooter);
    }
    watch->add_option("--rate", watchArgs.rate,
                      "scans per second (default: the plant file's period, else 10)")
        ->type_name("HZ");
    watch->add_option("--count", watchArgs.count, "stop after N scans (default: go on until stopped)")
        ->type_name("N");
    watch->add_flag("--changes", watchArgs.changes,
                    "print only the points and states that changed, with the time of day");

    std::string infoCard;
    CLI::App* info = app.add_subcommand(
        "info", "what a kind of card accepts: ports or addresses, starting points, point types, "
                "track lengths, value encodings, side effects");
    info->add_option("CARD", infoCard, "a card kind or CARD string, e.g. ac28")
        ->required()
        ->type_name("");
    info->footer(std::string("CARD is one of:\n") + cardSyntax() + "\n" + exitCodes);

    std::string seconds = "6";
    CLI::App* demo = app.add_subcommand(
        "demo", "run a bottling line on the demo plant, a simulated PC with one board of every "
                "kind, and show every track; it ends by itself");
    demo->add_option("--seconds", seconds, "how long, in seconds of plant time (default 6)")
        ->type_name("N");
    demo->footer(exitCodes);

    ScanArguments scanArgs;
    CLI::App* scan = addScanCommand(app, scanArgs);

    // A mistyped subcommand would otherwise be reported as a missing one.
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--color" || word == "--plant") {
            ++i;
            continue;
        }
        if (word.empty() || word[0] == '-')
            continue;
        bool known = false;
        for (const CLI::App* command : {pci, read, write, watch, info, demo, scan})
            known = known || command->get_name() == word;
        if (!known) {
            err << "tavex: unknown subcommand '" << word
                << "' (pci, read, write, watch, info, demo, scan)\n"
                << "Run with --help for more information.\n";
            return ExitUsage;
        }
        break;
    }

    std::vector<std::string> arguments;
    for (int i = argc - 1; i > 0; --i)
        arguments.push_back(argv[i]);
    try {
        app.parse(arguments);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) {
            app.exit(e, out, err);
            if (out.flush())
                return ExitDone;
            err << "tavex: cannot write to standard output\n";
            return ExitRefused;
        }
        err << "tavex: " << e.what() << '\n' << "Run with --help for more information.\n";
        return ExitUsage;
    }

    const Context x(out, err, environment, options);
    int code;
    try {
        if (*pci) {
            if (numericCount > 2)
                throw UsageError("-n is given once (numbers) or twice (names and numbers)");
            if (machineCount == 1)
                throw UsageError("-m alone is not served; -mm gives the machine-readable form");
            listing.numeric = static_cast<unsigned>(numericCount);
            listing.machine = machineCount >= 2;
            listing.json = options.json;
            if (!slotText.empty())
                filter.slot(slotText);
            if (!deviceText.empty())
                filter.device(deviceText);
            code = pciCommand(listing, filter, x);
        } else if (*read) {
            code = readCommand(readArgs, x);
        } else if (*write) {
            code = writeCommand(writeArgs, x);
        } else if (*watch) {
            code = watchCommand(watchArgs, x);
        } else if (*info) {
            code = infoCommand(infoCard, x);
        } else if (*scan) {
            // The common options reach the scan as its own.
            scanArgs.sim = options.sim;
            scanArgs.yes = options.yes;
            scanArgs.plant = options.plant;
            scanArgs.json = options.json;
            code = scanCommand(scanArgs, out, err, environment);
        } else {
            code = demoCommand(seconds, x);
        }
    } catch (const UsageError& e) {
        out.flush();
        err << "tavex: " << e.what() << '\n';
        return ExitUsage;
    } catch (const std::exception& e) {
        out.flush();
        err << "tavex: " << e.what() << '\n';
        return ExitRefused;
    }
    // Data that did not reach standard output is no success.
    if (!out.flush()) {
        err << "tavex: cannot write to standard output\n";
        return ExitRefused;
    }
    return code;
}

}  // namespace Tool
}  // namespace Tavex
