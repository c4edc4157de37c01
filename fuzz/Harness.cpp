#include "Harness.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <typeinfo>

namespace TavexFuzz {

void finding(const char* format, ...) {
    std::fputs("FINDING: ", stderr);
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    std::fputc('\n', stderr);
    std::fflush(stderr);
    std::abort();
}

bool isLibraryError(const std::exception& e) {
    const std::type_info& type = typeid(e);
    const bool known = type == typeid(std::logic_error) || type == typeid(std::range_error) ||
                       type == typeid(std::runtime_error);
    return known && e.what() != 0 && e.what()[0] != '\0';
}

// With TAVEX_FUZZ_TRACE set in the environment, the runs tell what they
// did on stderr: for checking that a seed goes where it is meant to.
bool tracing() {
    static const bool on = std::getenv("TAVEX_FUZZ_TRACE") != 0;
    return on;
}

void trace(const char* format, ...) {
    if (!tracing())
        return;
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    std::fputc('\n', stderr);
}

bool libraryCall(const char* what, const std::function<void()>& f) {
    try {
        f();
        trace("%s: done", what);
        return true;
    } catch (const std::exception& e) {
        if (!isLibraryError(e))
            finding("%s failed with %s (\"%s\"), not a library error", what, typeid(e).name(),
                    e.what());
        trace("%s: %s \"%s\"", what, typeid(e).name(), e.what());
        return false;
    } catch (...) {
        finding("%s failed with something that is no std::exception", what);
    }
}

// ---- Scene ----------------------------------------------------------------------

Scene::Scene(Tape& tape) : previous_(0) {
    machine_.setTracing(false);
    const unsigned faults = tape.byte();
    if (faults & 0x80) {
        machine_.faults().mapRefused = (faults & 0x01) != 0;
        machine_.faults().unmapRefused = (faults & 0x02) != 0;
        if (faults & 0x04)
            machine_.setPlatformId(Tavex::Sim::Machine::PlatformWin32Windows);
        machine_.faults().dpmiRefuses = (faults & 0x08) != 0;
        machine_.faults().serviceMissing = (faults & 0x10) != 0;
    }
    previous_ = Tavex::Platform::install(&machine_);
}

Scene::~Scene() { Tavex::Platform::install(previous_); }

void Scene::expectNothingMapped(const char* when) {
    if (releasesWindows() && machine_.liveMappings() != 0)
        finding("%u window(s) still mapped %s", machine_.liveMappings(), when);
}

// ---- tracks ---------------------------------------------------------------------

namespace {

const unsigned maximumTracks = 8;
const unsigned maximumOps = 200;

void update(Scene& scene, Tavex::IOTrack& track, bool inputs) {
    Tavex::Sim::Machine& machine = scene.machine();
    const unsigned long sleeps = machine.sleepCount();
    const unsigned mappings = machine.liveMappings();
    const char* what = inputs ? "updateInputs" : "updateOutputs";
    try {
        if (inputs)
            track.updateInputs();
        else
            track.updateOutputs();
    } catch (const std::exception& e) {
        finding("%s threw %s (\"%s\")", what, typeid(e).name(), e.what());
    } catch (...) {
        finding("%s threw something that is no std::exception", what);
    }
    if (machine.sleepCount() != sleeps)
        finding("%s slept", what);
    if (machine.liveMappings() != mappings)
        finding("%s changed the mappings", what);
    const long state = track.trackState();
    if (state != 0 && state != 2 && state != 3)
        finding("%s reported track state %ld", what, state);
    if (tracing()) {
        std::string values;
        for (unsigned i = 0; i < track.numberOfPoints() && i < 32; ++i)
            values += " " + std::to_string(track[i]);
        trace("%s at %u: state %ld, values%s", what, track.startingPoint(), state,
              values.c_str());
    }
}

}  // namespace

void exerciseTracks(Tape& tape, Scene& scene, Tavex::IOCard& card, const TrackOps& ops) {
    std::vector<std::unique_ptr<Tavex::IOTrack> > tracks;
    for (unsigned n = 0; n < maximumOps && !tape.empty(); ++n) {
        const unsigned op = tape.byte() % (5 + ops.cardOps);
        if (op == 0) {
            if (tracks.size() >= maximumTracks)
                continue;
            const unsigned int start = ops.start(tape);
            const std::string letters = tape.letters();
            std::unique_ptr<Tavex::IOTrack> track;
            if (libraryCall("track construction", [&] {
                    track.reset(new Tavex::IOTrack(card, start, letters.c_str()));
                }))
                tracks.push_back(std::move(track));
            continue;
        }
        if (op == 3) {
            scene.machine().advance(10u * tape.byte());
            continue;
        }
        if (op >= 5) {
            libraryCall("card operation", [&] { ops.cardOp(op - 5); });
            continue;
        }
        if (tracks.empty())
            continue;
        const std::size_t which = tape.byte() % tracks.size();
        Tavex::IOTrack& track = *tracks[which];
        if (op == 1) {
            update(scene, track, true);
        } else if (op == 2) {
            for (unsigned k = tape.byte() % 16; k > 0; --k) {
                const unsigned point = tape.word() % track.numberOfPoints();
                track[point] = static_cast<long>(static_cast<std::int32_t>(tape.dword()));
            }
            update(scene, track, false);
        } else {
            tracks.erase(tracks.begin() + static_cast<std::ptrdiff_t>(which));
        }
    }
}

unsigned int smallStart(Tape& tape) {
    const unsigned first = tape.byte();
    return first < 0xF0 ? first : tape.dword();
}

// ---- files ----------------------------------------------------------------------

Files& Files::instance() {
    static Files files;
    return files;
}

namespace {

std::string& folderToRemove() {
    static std::string folder;
    return folder;
}

void removeFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(folderToRemove(), ignored);
}

}  // namespace

Files::Files() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tavex-fuzz-XXXXXX").string();
    if (::mkdtemp(&pattern[0]) == 0)
        finding("cannot make a temporary folder %s", pattern.c_str());
    folder_ = pattern;
    folderToRemove() = folder_;
    std::atexit(removeFolder);
}

std::string Files::path(const std::string& name) const { return folder_ + "/" + name; }

std::string Files::write(const std::string& name, std::size_t size, unsigned char seed) {
    const std::string file = path(name);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    for (std::size_t i = 0; i < size; ++i)
        out.put(static_cast<char>(seed + i * 7 + (i >> 8)));
    if (!out)
        finding("cannot write %s", file.c_str());
    return file;
}

}  // namespace TavexFuzz
