#include "Measure.h"

#include <cstdio>
#include <sstream>

#include "support/MemoryAccessRecorder.h"

#if defined(__linux__)
#include <unistd.h>
#endif

namespace Bench {

namespace {

std::string text(const Tavex::Sim::Machine::Event& event) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%s%u(0x%X, 0x%X)",
                  event.kind == Tavex::Sim::Machine::Event::PortRead ? "in" : "out",
                  event.width * 8, static_cast<unsigned>(event.port),
                  static_cast<unsigned>(event.value));
    return buffer;
}

}  // namespace

Observation observe(const ScenePlan& plan, bool hand) {
    Rig rig;
    std::unique_ptr<Scene> scene = plan.make(rig);
    const Scan scan = scanOf(hand);
    Observation seen;
    seen.windowed = scene->window() != 0;
    seen.memoryRecorded = seen.windowed && Tavex::Test::MemoryAccessRecorder::isSupported();
    std::unique_ptr<Tavex::Test::MemoryAccessRecorder> recorder;
    if (seen.memoryRecorded)
        recorder.reset(
            new Tavex::Test::MemoryAccessRecorder(scene->window(), scene->windowSize()));

    for (unsigned s = 0; s < Observation::scans; ++s) {
        if (s < 2)
            scene->stir(s);
        rig.machine.clearTrace();
        rig.machine.setTracing(true);
        if (recorder) {
            recorder->clear();
            recorder->start();
        }
        ((*scene).*scan)();
        if (recorder)
            recorder->stop();
        rig.machine.setTracing(false);
        seen.ports.push_back(rig.machine.portTrace());
        seen.memory.push_back(recorder ? recorder->offsets() : std::vector<std::size_t>());
        seen.views.push_back(hand ? scene->handView() : scene->cardView());
    }
    return seen;
}

std::string difference(const Observation& card, const Observation& hand) {
    std::ostringstream out;
    for (unsigned s = 0; s < Observation::scans; ++s) {
        const auto& cp = card.ports[s];
        const auto& hp = hand.ports[s];
        for (std::size_t i = 0; i < cp.size() || i < hp.size(); ++i) {
            if (i < cp.size() && i < hp.size() && cp[i] == hp[i])
                continue;
            out << "scan " << s << ", port access " << i << ": card "
                << (i < cp.size() ? text(cp[i]) : "nothing") << ", hand "
                << (i < hp.size() ? text(hp[i]) : "nothing");
            return out.str();
        }
        const auto& cm = card.memory[s];
        const auto& hm = hand.memory[s];
        for (std::size_t i = 0; i < cm.size() || i < hm.size(); ++i) {
            if (i < cm.size() && i < hm.size() && cm[i] == hm[i])
                continue;
            out << "scan " << s << ", memory access " << i << ": card at 0x" << std::hex;
            if (i < cm.size())
                out << cm[i];
            else
                out << "(none)";
            out << ", hand at 0x";
            if (i < hm.size())
                out << hm[i];
            else
                out << "(none)";
            return out.str();
        }
        const auto& cv = card.views[s];
        const auto& hv = hand.views[s];
        for (std::size_t i = 0; i < cv.size() || i < hv.size(); ++i) {
            if (i < cv.size() && i < hv.size() && cv[i] == hv[i])
                continue;
            out << "scan " << s << ", value " << i << " (values then state, track by track): card ";
            if (i < cv.size())
                out << cv[i];
            else
                out << "(none)";
            out << ", hand ";
            if (i < hv.size())
                out << hv[i];
            else
                out << "(none)";
            return out.str();
        }
    }
    return std::string();
}

std::size_t pageBytes() {
#if defined(__linux__)
    return static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
#else
    return 0;
#endif
}

std::size_t residentBytes() {
#if defined(__linux__)
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == 0)
        return 0;
    unsigned long size = 0, resident = 0;
    const int read = std::fscanf(statm, "%lu %lu", &size, &resident);
    std::fclose(statm);
    return read == 2 ? resident * pageBytes() : 0;
#else
    return 0;
#endif
}

}  // namespace Bench
