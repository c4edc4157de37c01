// What every fuzz target checks, and the scene they share.
//
// A finding is reported on stderr as one line starting "FINDING:" and ends
// the process with abort(), so that libFuzzer keeps the input.  Besides the
// sanitizers' own reports (an access outside a mapped window faults on a
// guard page or a poisoned byte) these are findings:
//   - a failure that is not exactly std::logic_error, std::range_error or
//     std::runtime_error with a text;
//   - a failed construction that leaves a window mapped, or a card that
//     leaves one mapped when it is gone;
//   - an update that throws, sleeps or maps, or reports a track state
//     other than 0, 2 or 3.
// A hang is libFuzzer's own finding (-timeout).
#ifndef TAVEX_FUZZ_HARNESS_H
#define TAVEX_FUZZ_HARNESS_H

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Tape.h"
#include "tavex/model/IOCard.h"
#include "tavex/model/IOTrack.h"
#include "tavex/sim/Machine.h"

namespace TavexFuzz {

[[noreturn]] void finding(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// With TAVEX_FUZZ_TRACE in the environment: a line on stderr.
bool tracing();
void trace(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// True when e is exactly one of the library's three error types and has a text.
bool isLibraryError(const std::exception& e);

// Runs f.  True when it returned; false when it failed with a library
// error; any other failure is a finding.
bool libraryCall(const char* what, const std::function<void()>& f);

// A simulated PC installed for one run, with the system faults the first
// tape byte asks for (none unless its bit 7 is set):
//   bit 0  map requests refused          bit 3  DPMI mapping refused
//   bit 1  unmap requests refused        bit 4  the driver's service missing
//   bit 2  a Windows 9x system (DPMI windows, never released)
class Scene {
public:
    explicit Scene(Tape& tape);
    ~Scene();
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;

    Tavex::Sim::Machine& machine() { return machine_; }
    // Windows are given back when cards go: the checks of liveMappings hold.
    bool releasesWindows() { return !machine_.faults().unmapRefused; }
    // No window may stay mapped now (when windows can be released at all).
    void expectNothingMapped(const char* when);

private:
    Tavex::Sim::Machine machine_;
    Tavex::Platform* previous_;
};

// Builds a card with make(); false, with nothing left mapped, when that
// fails with a library error.
template <class Card, class Make>
bool build(Scene& scene, std::unique_ptr<Card>& card, Make make) {
    if (libraryCall("construction", [&] { card.reset(make()); }))
        return true;
    scene.expectNothingMapped("after a failed construction");
    return false;
}

// Deletes the card (its destructor may fail with a library error when the
// window cannot be released) and checks that it left nothing mapped.
template <class Card>
void destroy(Scene& scene, std::unique_ptr<Card>& card) {
    Card* raw = card.release();
    libraryCall("destruction", [&] { delete raw; });
    scene.expectNothingMapped("after the card was destroyed");
}

// The operations a run performs on a card once it is built, until the tape
// runs out or 200 operations have been made: build a track (at most 8 live),
// update one's inputs, set values and update its outputs, let time pass,
// drop a track, or one of the card's own operations.
struct TrackOps {
    // The starting point of a new track, from the tape.
    std::function<unsigned int(Tape&)> start;
    // Card operation number n (0 to cardOps - 1), run as a library call.
    std::function<void(unsigned n)> cardOp;
    unsigned cardOps = 0;
};
void exerciseTracks(Tape& tape, Scene& scene, Tavex::IOCard& card, const TrackOps& ops);

// Starting points: the next byte, or for a byte of 0xF0 and above any
// 32-bit number from the tape.
unsigned int smallStart(Tape& tape);

// Files written once per process into a temporary folder that goes at exit.
// path() joins the folder and a name; write() returns the path.
class Files {
public:
    static Files& instance();
    std::string path(const std::string& name) const;
    std::string write(const std::string& name, std::size_t size, unsigned char seed);

private:
    Files();
    std::string folder_;
};

}  // namespace TavexFuzz

#endif
