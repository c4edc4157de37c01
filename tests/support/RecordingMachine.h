// A simulated machine for tests that record the host's accesses to a
// board's window.  The boards run inside the machine: on every sleep and on
// every port access.  While a MemoryAccessRecorder runs, the machine pauses
// it around each of those, so that the board models' own reads and writes
// of the window are not taken for the host's, and the record shows where
// the boards had a chance to look (Access::BoardsRan).
#ifndef TAVEX_TESTS_SUPPORT_RECORDINGMACHINE_H
#define TAVEX_TESTS_SUPPORT_RECORDINGMACHINE_H

#include "support/MemoryAccessRecorder.h"
#include "tavex/sim/Machine.h"

namespace Tavex {
namespace Test {

class RecordingMachine : public Sim::ScopedMachine {
public:
    std::uint8_t inByte(std::uint16_t port) override {
        BoardsRun run;
        return ScopedMachine::inByte(port);
    }
    std::uint16_t inWord(std::uint16_t port) override {
        BoardsRun run;
        return ScopedMachine::inWord(port);
    }
    std::uint32_t inDword(std::uint16_t port) override {
        BoardsRun run;
        return ScopedMachine::inDword(port);
    }
    void outByte(std::uint16_t port, std::uint8_t value) override {
        BoardsRun run;
        ScopedMachine::outByte(port, value);
    }
    void outWord(std::uint16_t port, std::uint16_t value) override {
        BoardsRun run;
        ScopedMachine::outWord(port, value);
    }
    void outDword(std::uint16_t port, std::uint32_t value) override {
        BoardsRun run;
        ScopedMachine::outDword(port, value);
    }
    void sleep(unsigned long milliseconds) override {
        BoardsRun run;
        ScopedMachine::sleep(milliseconds);
    }
    void sleepUntil(std::uint64_t deadline) override {
        BoardsRun run;
        ScopedMachine::sleepUntil(deadline);
    }

private:
    // Pauses the running recorder, if any, for one call into the machine;
    // a call made while it is paused leaves it to the outer one.
    class BoardsRun {
    public:
        BoardsRun() : recorder_(MemoryAccessRecorder::running()) {
            if (recorder_ != 0 && recorder_->paused())
                recorder_ = 0;
            if (recorder_ != 0)
                recorder_->pause();
        }
        ~BoardsRun() {
            if (recorder_ != 0)
                recorder_->resume();
        }

    private:
        MemoryAccessRecorder* recorder_;
    };
};

}  // namespace Test
}  // namespace Tavex

#endif
