// Machine: a simulated PC behind the Tavex::Platform seam.  It has a
// virtual clock driven by sleep, a port space in which board models claim
// ports, a physical address space of regions owned by board models, and a
// service manager with the service "tavex" and its device "\\.\tavex",
// answering the driver's map and unmap requests over the regions.
//
// Nothing runs on its own thread: port accesses reach their board at once,
// and every sleep advances the clock and lets every board run.
#ifndef TAVEX_SIM_MACHINE_H
#define TAVEX_SIM_MACHINE_H

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tavex/platform/Platform.h"
#include "tavex/sim/Board.h"
#include "tavex/sim/Region.h"

namespace Tavex {
namespace Sim {

class Machine : public Platform {
public:
    // Platform identifiers that GetVersionExA reports.
    enum { PlatformWin32Windows = 1, PlatformWin32NT = 2 };

    // One entry of the access trace.
    struct Event {
        enum Kind { PortRead, PortWrite, Sleep };
        Kind kind;
        std::uint16_t port;     // PortRead / PortWrite
        unsigned width;         // 1, 2 or 4 bytes
        std::uint32_t value;    // value read or written; milliseconds for Sleep
        unsigned long time;     // virtual time of the event, in milliseconds

        bool operator==(const Event& other) const;
        bool operator!=(const Event& other) const { return !(*this == other); }
    };
    static Event portRead(std::uint16_t port, unsigned width, std::uint32_t value);
    static Event portWrite(std::uint16_t port, unsigned width, std::uint32_t value);
    static Event sleepEvent(unsigned long milliseconds);

    // What the simulated system refuses; every knob is off on a new machine.
    struct Faults {
        Faults();
        bool versionFails;       // GetVersionExA fails
        bool noServiceManager;   // OpenSCManagerA fails
        bool serviceMissing;     // the service "tavex" is not installed
        bool startFails;         // StartServiceA fails (the driver still loads)
        bool driverNotLoaded;    // the service starts but the device never appears
        bool deviceRefuses;      // CreateFileA of the device fails
        bool mapRefused;         // the map request fails
        bool unmapRefused;       // the unmap request fails
        bool dpmiRefuses;        // the 9x DPMI mapping fails (carry set)
        bool realTimeRefused;    // priority, locked memory and CPU are refused (EPERM)
    };

    Machine();
    ~Machine() override;

    // --- boards -----------------------------------------------------------
    template <class B, class... Args>
    B& add(Args&&... args) {
        B* board = new B(std::forward<Args>(args)...);
        plug(std::unique_ptr<Board>(board));
        return *board;
    }
    Board& plug(std::unique_ptr<Board> board);
    std::size_t boardCount() const { return boards_.size(); }

    // Board side: claim count ports from first; overlapping claims are a
    // scene error (logic_error).
    void claimPorts(Board& board, std::uint16_t first, unsigned count);
    Board* portOwner(std::uint16_t port) const;

    // Board side: a region of physical memory.  Overlapping regions are a
    // scene error (logic_error).  The region starts with the power-up
    // pattern.
    Region& addRegion(Board* owner, std::uint32_t address, std::uint32_t size,
                      const std::string& name);
    Region* findRegion(std::uint32_t address, std::uint32_t size = 1);

    // --- clock ------------------------------------------------------------
    // The clock counts nanoseconds; now() is its whole milliseconds.  Boards
    // run (tick) for each whole millisecond the clock passes, however it got
    // there.
    unsigned long now() const { return now_; }
    std::uint64_t nanoseconds() const { return nanoseconds_; }
    // Lets time pass without a sleep of the library (no trace entry).
    void advance(unsigned long milliseconds);
    void advanceNanoseconds(std::uint64_t nanoseconds);

    // Runs the machine at the pace of another platform's clock, normally the
    // native one (Platform::current() taken before the machine is
    // installed): monotonicNanoseconds() follows that clock, sleepUntil()
    // and sleep() first let the boards run up to the deadline and then wait
    // for it for real, and the real-time requests go to that platform.  For a
    // scan whose wake-ups must be real while its I/O is simulated.  Null: the
    // virtual clock again (the default), from where paced time left it.
    void paceWith(Platform* clock);
    Platform* pacedBy() const { return pace_; }

    // --- system -----------------------------------------------------------
    Faults& faults() { return faults_; }
    void setPlatformId(unsigned long id) { platformId_ = id; }
    unsigned long platformId() const { return platformId_; }
    bool serviceRunning() const { return serviceRunning_; }
    void setServiceRunning(bool running) { serviceRunning_ = running; }

    // --- inspection -------------------------------------------------------
    const std::vector<Event>& trace() const { return trace_; }
    void clearTrace() { trace_.clear(); }
    void setTracing(bool on) { tracing_ = on; }
    std::vector<Event> portTrace() const;   // the trace without sleeps
    std::vector<unsigned long> sleeps() const;
    unsigned long sleepCount() const { return sleepCount_; }
    unsigned long portAccessCount() const { return portAccesses_; }

    unsigned managerOpens() const { return managerOpens_; }
    unsigned serviceOpens() const { return serviceOpens_; }
    unsigned serviceStarts() const { return serviceStarts_; }
    unsigned deviceOpens() const { return deviceOpens_; }
    unsigned openHandles() const { return static_cast<unsigned>(handles_.size()); }
    unsigned mapRequests() const { return mapRequests_; }
    unsigned unmapRequests() const { return unmapRequests_; }
    unsigned liveMappings() const { return static_cast<unsigned>(mappings_.size()); }
    unsigned dpmiMappings() const { return static_cast<unsigned>(dpmiWindows_.size()); }
    // The physical address of a live mapping's window, or 0.
    bool mappedAt(std::uint32_t physicalAddress) const;
    // What the real-time requests asked for and were granted: the priority
    // (0: none), memory locked, the CPU (-1: none).
    int realTimePriority() const { return realTimePriority_; }
    bool memoryLocked() const { return memoryLocked_; }
    int threadCpu() const { return threadCpu_; }

    // --- Platform ---------------------------------------------------------
    std::uint8_t inByte(std::uint16_t port) override;
    std::uint16_t inWord(std::uint16_t port) override;
    std::uint32_t inDword(std::uint16_t port) override;
    void outByte(std::uint16_t port, std::uint8_t value) override;
    void outWord(std::uint16_t port, std::uint16_t value) override;
    void outDword(std::uint16_t port, std::uint32_t value) override;

    bool getVersionEx(unsigned long& platformId) override;
    Handle openSCManager(unsigned long access) override;
    Handle openService(Handle manager, const char* name, unsigned long access) override;
    bool startService(Handle service) override;
    bool closeServiceHandle(Handle handle) override;
    Handle createFile(const char* name, unsigned long access) override;
    bool deviceIoControl(Handle device, unsigned long code, const void* in, unsigned long inSize,
                         void* out, unsigned long outSize, unsigned long& bytesReturned) override;
    bool closeHandle(Handle handle) override;
    void sleep(unsigned long milliseconds) override;
    void* dpmiMapPhysical(unsigned long address, unsigned long size) override;
    // On the virtual clock a wait to a deadline takes no real time and
    // leaves no trace entry (it is not a sleep of a card).
    std::uint64_t monotonicNanoseconds() override;
    void sleepUntil(std::uint64_t deadline) override;
    int setRealTimePriority(int priority) override;
    int lockMemory() override;
    int setThreadCpu(unsigned cpu) override;

private:
    Machine(const Machine&);
    Machine& operator=(const Machine&);

    enum HandleKind { ManagerHandle, ServiceHandle, DeviceHandle };
    struct Mapping {
        std::uint32_t address;
        std::uint32_t size;
        std::unique_ptr<GuardedBuffer> openBus;   // memory where no board answers
    };

    std::uint32_t readPort(std::uint16_t port, unsigned width);
    void writePort(std::uint16_t port, unsigned width, std::uint32_t value);
    std::uint32_t busRead(std::uint16_t port, unsigned width);
    void busWrite(std::uint16_t port, unsigned width, std::uint32_t value);
    void record(Event::Kind kind, std::uint16_t port, unsigned width, std::uint32_t value);
    void runBoards(unsigned long elapsed);
    void floatOpenBus();
    void unplug(Board& board);
    Handle newHandle(HandleKind kind);
    bool isHandle(Handle handle, HandleKind kind) const;
    void* mapWindow(std::uint32_t address, std::uint32_t size, bool dpmi);

    std::vector<std::unique_ptr<Board> > boards_;
    std::map<std::uint16_t, Board*> ports_;
    std::vector<std::unique_ptr<Region> > regions_;

    unsigned long now_;
    std::uint64_t nanoseconds_;
    Platform* pace_;
    std::uint64_t paceOffset_;   // virtual time minus the pacing clock's time
    int realTimePriority_;
    bool memoryLocked_;
    int threadCpu_;
    Faults faults_;
    unsigned long platformId_;
    bool serviceRunning_;

    std::map<Handle, HandleKind> handles_;
    std::uintptr_t nextHandle_;
    std::multimap<void*, Mapping> mappings_;
    std::vector<Mapping> dpmiWindows_;

    std::vector<Event> trace_;
    bool tracing_;
    unsigned long sleepCount_;
    unsigned long portAccesses_;
    unsigned managerOpens_, serviceOpens_, serviceStarts_, deviceOpens_;
    unsigned mapRequests_, unmapRequests_;
};

// Installs a machine for the life of the object and puts back the platform
// that was installed before.
class ScopedInstall {
public:
    explicit ScopedInstall(Machine& machine);
    ~ScopedInstall();

private:
    ScopedInstall(const ScopedInstall&);
    ScopedInstall& operator=(const ScopedInstall&);
    Platform* previous_;
};

// A machine that installs itself for its own lifetime.
class ScopedMachine : public Machine {
public:
    ScopedMachine();
    ~ScopedMachine();

private:
    Platform* previous_;
};

}  // namespace Sim
}  // namespace Tavex

#endif
