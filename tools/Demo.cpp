#include "Demo.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <sstream>
#include <string>
#include <vector>

#include "CardArguments.h"
#include "CardFacts.h"
#include "DemoPlant.h"
#include "DemoPlantFile.h"
#include "OpenCard.h"
#include "TrackView.h"
#include "tavex/model/IOTrack.h"
#include "tavex/plant/Plant.h"
#include "tavex/platform/OSInterface.h"

namespace Tavex {
namespace Tool {

namespace {

const unsigned long scanTime = 100;    // ms
const unsigned long fillTime = 600;    // ms the nozzle stays open for one bottle
const unsigned long faultCycle = 5000; // ms: the field's troubles come round again
const long fullScale = 0x7FFFFFFF;

// One track of the demo, as the table shows it.
struct Row {
    std::string label;   // its name in the demo plant's file
    std::string card;    // CARD string, as read and write take it
    std::string track;   // TRACK string
    bool percent;        // analog values as a share of full scale
};

// The tracks the control program uses, by their names in the demo plant's
// file, in the order of Track.
const char* const trackNames[] = {"eyes", "encoder", "level-switches", "tank-valves", "tank-level",
                                  "cylinders", "test-plug", "rack2", "rack4", "station3",
                                  "station9", "slave3-in", "slave3-out", "slave12", "scans"};
enum Track {
    Eyes, Encoder, LevelSwitches, TankValves, TankLevel, Cylinders, TestPlug, Rack2, Rack4,
    Station3, Station9, Slave3In, Slave3Out, Slave12, Scans, TrackCount
};

// The filler: a bottle that reaches photo-eye 4 stops there while the
// nozzle is open, then the conveyor takes it on.
enum Filler { Waiting, Filling, Leaving };

class Line {
public:
    // Every card and track of the demo plant's file, as PlantIO builds them.
    Line(DemoPlant& plant)
        : plant_(plant), file_(Plant::parse(demoPlantFile(), demoPlantFileName())),
          io_(file_, openOptions(&plant)), filler_(Waiting), fillStart_(0), filled_(0),
          tankFilling_(false), scan_(0) {
        for (const char* name : trackNames) {
            const PlantTrack* track = file_.findTrack(name);
            if (!track)
                throw std::logic_error(std::string("demo plant file: no track ") + name);
            const CardArguments& card = file_.findCard(track->card)->arguments;
            const bool analog = track->arguments.letters.find_first_of("AU") != std::string::npos;
            rows_.push_back(Row{track->name, card.text, track->text,
                                analog && cardFacts(card.kind).analogInput.fullScale});
            tracks_.push_back(&io_.track(name));
            worst_.push_back(0);
        }
        start_ = plant.machine().now();
    }

    // Tracks first, then their cards; a card that fails to go is reported.
    void close() { io_.close(); }

    unsigned long time() const { return plant_.machine().now() - start_; }

    void scan() {
        field();
        for (IOTrack* track : tracks_)
            track->updateInputs();
        control();
        for (IOTrack* track : tracks_)
            track->updateOutputs();
        for (std::size_t i = 0; i < tracks_.size(); ++i)
            if (tracks_[i]->trackState() != 0)
                worst_[i] = tracks_[i]->trackState();
        ++scan_;
    }

    // One line per track where the terminal is wide enough, else two: the
    // track, its state and values, then its CARD and TRACK strings below.
    std::vector<std::string> table(const Screen& screen, unsigned seconds) const {
        char title[160];
        std::snprintf(title, sizeof title,
                      "Tavex demo: a bottling line on a simulated PC     t = %lu.%03lu s of %u s",
                      time() / 1000, time() % 1000, seconds);
        std::vector<std::string> lines{title, process(), ""};
        std::size_t widest = 0;
        for (std::size_t i = 0; i < tracks_.size(); ++i)
            widest = std::max(widest, compactValues(*tracks_[i], rows_[i].percent).size());
        const bool wide = 15 + 22 + 28 + 22 + 2 + widest <= screen.columns();
        if (wide)
            lines.push_back(pad("track", 15) + pad("CARD", 22) + pad("TRACK", 28) +
                            pad("state", 24) + "values");
        else
            lines.push_back(pad("track", 15) + pad("state", 24) + "values");
        for (std::size_t i = 0; i < tracks_.size(); ++i) {
            const std::string state = screen.state(tracks_[i]->trackState(), 22) + "  " +
                                      compactValues(*tracks_[i], rows_[i].percent);
            if (wide) {
                lines.push_back(pad(rows_[i].label, 15) + pad(rows_[i].card, 22) +
                                pad(rows_[i].track, 28) + state);
            } else {
                lines.push_back(pad(rows_[i].label, 15) + state);
                lines.push_back("    " + pad(rows_[i].card, 22) + rows_[i].track);
            }
        }
        lines.push_back("");
        lines.push_back("state 2: card or network down; state 3: station, slave or module not "
                        "answering");
        return lines;
    }

    std::string logLine() const {
        std::ostringstream line;
        line << "t=" << time() / 1000 << '.' << pad3(time() % 1000) << "s  " << process();
        for (std::size_t i = 0; i < tracks_.size(); ++i) {
            line << " | " << rows_[i].label << ' ' << compactValues(*tracks_[i], rows_[i].percent);
            if (tracks_[i]->trackState() != 0)
                line << " [" << stateText(tracks_[i]->trackState()) << ']';
        }
        return line.str();
    }

    std::string summary() const {
        std::ostringstream text;
        text << "demo: " << scan_ << " scans in " << time() / 1000 << '.' << pad3(time() % 1000)
             << " s of plant time, " << filled_ << (filled_ == 1 ? " bottle" : " bottles")
             << " filled";
        std::string states;
        for (std::size_t i = 0; i < tracks_.size(); ++i)
            if (worst_[i] != 0)
                states += std::string(states.empty() ? "" : ", ") + rows_[i].label + " " +
                          std::to_string(worst_[i]);
        text << "; track states seen: " << (states.empty() ? "all 0" : states);
        return text.str();
    }

private:
    static std::string pad(const std::string& text, std::size_t width) {
        return text.size() < width ? text + std::string(width - text.size(), ' ') : text + ' ';
    }
    static std::string pad3(unsigned long ms) {
        char text[8];
        std::snprintf(text, sizeof text, "%03lu", ms);
        return text;
    }

    IOTrack& track(Track t) { return *tracks_[t]; }

    std::string process() const {
        char text[160];
        const char* filler = filler_ == Filling ? "filling a bottle" : "running";
        if (!plant_.conveyorRunning() && filler_ != Filling)
            filler = "stopped";
        std::snprintf(text, sizeof text, "conveyor %s, tank %.0f %%%s, %u %s filled", filler,
                      plant_.tankLevel() * 100, tankFilling_ ? " (filling)" : "", filled_,
                      filled_ == 1 ? "bottle" : "bottles");
        return text;
    }

    // The field's troubles, played on the boards as the examples do: a rack
    // off its link, the Genius bus down, a Profibus slave not answering.
    void field() {
        const unsigned long t = time() % faultCycle;
        plant_.ktx().setEntryGood(1, !(t >= 1500 && t < 2500));
        plant_.genius().setBusFault(t >= 2000 && t < 2500);
        plant_.pfb().setAnswering(DemoPlant::PanelSlave, !(t >= 3000 && t < 4000));
    }

    void control() {
        const bool atFiller = track(Eyes)[4] != 0;
        switch (filler_) {
        case Waiting:
            if (atFiller) {
                filler_ = Filling;
                fillStart_ = time();
            }
            break;
        case Filling:
            if (time() - fillStart_ >= fillTime) {
                filler_ = Leaving;
                ++filled_;
            }
            break;
        case Leaving:
            if (!atFiller)
                filler_ = Waiting;
            break;
        }
        const long motor = filler_ != Filling;
        const long nozzle = filler_ == Filling;

        // The tank: fill from 30 % to 80 %, or whenever a level switch says so.
        const double level = track(TankLevel)[0] / 2147483648.0;
        if (level < 0.3 || track(LevelSwitches)[0])
            tankFilling_ = true;
        if (level > 0.8 || track(LevelSwitches)[1])
            tankFilling_ = false;

        IOTrack& ac5 = track(Eyes);
        ac5[8] = motor;
        ac5[9] = nozzle;
        ac5[10] = tankFilling_;
        for (unsigned k = 0; k < 5; ++k)
            ac5[11 + k] = ac5[k];
        track(TankValves)[0] = tankFilling_;
        track(TankValves)[1] = nozzle;
        track(TankLevel)[1] = track(TankLevel)[0];

        const unsigned walking = (scan_ / 5) % 8;   // one cylinder after another, 0.5 s each
        for (unsigned k = 0; k < 8; ++k) {
            track(Cylinders)[8 + k] = k == walking;
            track(Station3)[8 + k] = track(Cylinders)[k];   // the panel shows the switches
            track(TestPlug)[k] = (filled_ >> k) & 1;
            track(Rack2)[8 + k] = ac5[k];
            track(Rack4)[k] = k == (scan_ / 3) % 8;
            track(Slave12)[8 + k] = ac5[k];
        }
        // The oven of station 9: heat while below half scale.
        IOTrack& oven = track(Station9);
        oven[2] = oven[0] < fullScale / 2 ? fullScale : 0;
        oven[3] = oven[0];
        IOTrack& valves = track(Slave3Out);
        valves[0] = motor;
        valves[1] = nozzle;
        valves[2] = tankFilling_;
        track(Scans)[0] = static_cast<long>(scan_);
    }

    DemoPlant& plant_;
    Plant file_;
    PlantIO io_;
    std::vector<Row> rows_;
    std::vector<IOTrack*> tracks_;   // io_'s, in the order of Track
    std::vector<long> worst_;   // per track, the last state other than 0 it reported
    unsigned long start_;
    Filler filler_;
    unsigned long fillStart_;
    unsigned filled_;
    bool tankFilling_;
    unsigned scan_;
};

}  // namespace

void runDemo(std::ostream& out, const Environment& environment, DemoPlant& plant,
             unsigned seconds, bool colour) {
    Line line(plant);
    Screen screen(out, environment.terminal, colour, environment.columns);
    const unsigned scans = seconds * 1000 / scanTime;
    if (!screen.terminal())
        out << "tavex demo: " << scans << " scans of " << scanTime
            << " ms on a simulated PC, one line each\n";
    for (unsigned n = 0; n < scans; ++n) {
        if (n > 0) {
            OSInterface::sleep(scanTime * 1000);
            if (screen.terminal() && environment.realSleep)
                environment.realSleep(scanTime);
        }
        line.scan();
        if (screen.terminal())
            screen.frame(line.table(screen, seconds));
        else
            out << line.logLine() << '\n';
        if (!out)
            break;   // the caller reports it
    }
    out << line.summary() << '\n';
    out.flush();
    line.close();
}

}  // namespace Tool
}  // namespace Tavex
