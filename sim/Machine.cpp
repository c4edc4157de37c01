#include "tavex/sim/Machine.h"

#include <cstring>
#include <stdexcept>

#include "platform/DriverRequest.h"

namespace Tavex {
namespace Sim {

namespace {

using namespace DriverRequest;

std::uint32_t widthMask(unsigned width) {
    return width >= 4 ? 0xFFFFFFFFu : ((1u << (8 * width)) - 1);
}

}  // namespace

bool Machine::Event::operator==(const Event& other) const {
    if (kind != other.kind)
        return false;
    if (kind == Sleep)
        return value == other.value;
    return port == other.port && width == other.width && value == other.value;
}

Machine::Event Machine::portRead(std::uint16_t port, unsigned width, std::uint32_t value) {
    Event event = {Event::PortRead, port, width, value, 0};
    return event;
}

Machine::Event Machine::portWrite(std::uint16_t port, unsigned width, std::uint32_t value) {
    Event event = {Event::PortWrite, port, width, value, 0};
    return event;
}

Machine::Event Machine::sleepEvent(unsigned long milliseconds) {
    Event event = {Event::Sleep, 0, 0, static_cast<std::uint32_t>(milliseconds), 0};
    return event;
}

Machine::Faults::Faults()
    : versionFails(false),
      noServiceManager(false),
      serviceMissing(false),
      startFails(false),
      driverNotLoaded(false),
      deviceRefuses(false),
      mapRefused(false),
      unmapRefused(false),
      dpmiRefuses(false),
      realTimeRefused(false) {}

Machine::Machine()
    : now_(0),
      nanoseconds_(0),
      pace_(0),
      paceOffset_(0),
      realTimePriority_(0),
      memoryLocked_(false),
      threadCpu_(-1),
      platformId_(PlatformWin32NT),
      serviceRunning_(false),
      nextHandle_(0x1000),
      tracing_(true),
      sleepCount_(0),
      portAccesses_(0),
      managerOpens_(0),
      serviceOpens_(0),
      serviceStarts_(0),
      deviceOpens_(0),
      mapRequests_(0),
      unmapRequests_(0) {}

Machine::~Machine() {
    if (&Platform::current() == this)
        Platform::install(0);
}

Board& Machine::plug(std::unique_ptr<Board> board) {
    if (!board)
        throw std::logic_error("Sim::Machine: no board to plug");
    if (board->machine_ != 0)
        throw std::logic_error(std::string("Sim::Machine: board already plugged: ") +
                               board->name());
    Board& plugged = *board;
    boards_.push_back(std::move(board));
    plugged.machine_ = this;
    try {
        plugged.plugged();
    } catch (...) {
        // A board that cannot take its place leaves nothing behind.
        unplug(plugged);
        throw;
    }
    return plugged;
}

void Machine::unplug(Board& board) {
    for (std::map<std::uint16_t, Board*>::iterator it = ports_.begin(); it != ports_.end();) {
        if (it->second == &board)
            ports_.erase(it++);
        else
            ++it;
    }
    for (std::size_t i = regions_.size(); i-- > 0;)
        if (regions_[i]->owner() == &board)
            regions_.erase(regions_.begin() + static_cast<std::ptrdiff_t>(i));
    for (std::size_t i = boards_.size(); i-- > 0;)
        if (boards_[i].get() == &board) {
            boards_[i]->machine_ = 0;
            boards_.erase(boards_.begin() + static_cast<std::ptrdiff_t>(i));
        }
}

void Machine::claimPorts(Board& board, std::uint16_t first, unsigned count) {
    if (static_cast<unsigned long>(first) + count > 0x10000UL)
        throw std::logic_error(std::string("Sim::Machine: ports beyond 0xFFFF claimed by ") +
                               board.name());
    for (unsigned i = 0; i < count; ++i) {
        const std::uint16_t port = static_cast<std::uint16_t>(first + i);
        std::map<std::uint16_t, Board*>::const_iterator found = ports_.find(port);
        if (found != ports_.end() && found->second != &board)
            throw std::logic_error(std::string("Sim::Machine: port conflict between ") +
                                   found->second->name() + " and " + board.name());
    }
    for (unsigned i = 0; i < count; ++i)
        ports_[static_cast<std::uint16_t>(first + i)] = &board;
}

Board* Machine::portOwner(std::uint16_t port) const {
    std::map<std::uint16_t, Board*>::const_iterator found = ports_.find(port);
    return found == ports_.end() ? 0 : found->second;
}

Region& Machine::addRegion(Board* owner, std::uint32_t address, std::uint32_t size,
                           const std::string& name) {
    if (size == 0)
        throw std::logic_error("Sim::Machine: empty region " + name);
    const std::uint64_t start = address;
    const std::uint64_t end = start + size;
    if (end > 0x100000000ULL)
        throw std::logic_error("Sim::Machine: region beyond 4 GiB: " + name);
    for (std::size_t i = 0; i < regions_.size(); ++i) {
        const Region& other = *regions_[i];
        if (start < static_cast<std::uint64_t>(other.address()) + other.size() &&
            other.address() < end)
            throw std::logic_error("Sim::Machine: region " + name + " overlaps " + other.name());
    }
    regions_.push_back(std::unique_ptr<Region>(new Region(owner, address, size, name)));
    return *regions_.back();
}

Region* Machine::findRegion(std::uint32_t address, std::uint32_t size) {
    for (std::size_t i = 0; i < regions_.size(); ++i)
        if (regions_[i]->contains(address, size))
            return regions_[i].get();
    return 0;
}

void Machine::advance(unsigned long milliseconds) {
    nanoseconds_ += static_cast<std::uint64_t>(milliseconds) * 1000000u;
    now_ += milliseconds;
    floatOpenBus();
    runBoards(milliseconds);
}

void Machine::advanceNanoseconds(std::uint64_t nanoseconds) {
    const std::uint64_t before = nanoseconds_ / 1000000u;
    nanoseconds_ += nanoseconds;
    const unsigned long elapsed = static_cast<unsigned long>(nanoseconds_ / 1000000u - before);
    now_ += elapsed;
    floatOpenBus();
    runBoards(elapsed);
}

void Machine::paceWith(Platform* clock) {
    if (clock == this)
        throw std::logic_error("Sim::Machine: a machine cannot be paced by its own clock");
    pace_ = clock;
    if (clock != 0)
        paceOffset_ = nanoseconds_ - clock->monotonicNanoseconds();
}

std::uint64_t Machine::monotonicNanoseconds() {
    return pace_ != 0 ? pace_->monotonicNanoseconds() + paceOffset_ : nanoseconds_;
}

// Paced, the boards do their work up to the deadline before the wait, as
// they would have done during it, so that the wake-up is not delayed by it.
void Machine::sleepUntil(std::uint64_t deadline) {
    if (deadline > nanoseconds_)
        advanceNanoseconds(deadline - nanoseconds_);
    if (pace_ != 0)
        pace_->sleepUntil(deadline - paceOffset_);
}

int Machine::setRealTimePriority(int priority) {
    if (pace_ != 0)
        return pace_->setRealTimePriority(priority);
    if (faults_.realTimeRefused)
        return 1;
    realTimePriority_ = priority;
    return 0;
}

int Machine::lockMemory() {
    if (pace_ != 0)
        return pace_->lockMemory();
    if (faults_.realTimeRefused)
        return 1;
    memoryLocked_ = true;
    return 0;
}

int Machine::setThreadCpu(unsigned cpu) {
    if (pace_ != 0)
        return pace_->setThreadCpu(cpu);
    if (faults_.realTimeRefused)
        return 1;
    threadCpu_ = static_cast<int>(cpu);
    return 0;
}

// Where no board answers there is no memory: whatever was written there is
// gone by the time anybody looks again.  The window is plain memory, so a
// write reads back until the next sleep.
void Machine::floatOpenBus() {
    for (std::multimap<void*, Mapping>::iterator it = mappings_.begin(); it != mappings_.end();
         ++it)
        if (it->second.openBus)
            std::memset(it->second.openBus->data(), 0xFF, it->second.size);
    for (std::size_t i = 0; i < dpmiWindows_.size(); ++i)
        if (dpmiWindows_[i].openBus)
            std::memset(dpmiWindows_[i].openBus->data(), 0xFF, dpmiWindows_[i].size);
}

void Machine::runBoards(unsigned long elapsed) {
    for (std::size_t i = 0; i < boards_.size(); ++i)
        boards_[i]->tick(elapsed);
}

std::vector<Machine::Event> Machine::portTrace() const {
    std::vector<Event> ports;
    for (std::size_t i = 0; i < trace_.size(); ++i)
        if (trace_[i].kind != Event::Sleep)
            ports.push_back(trace_[i]);
    return ports;
}

std::vector<unsigned long> Machine::sleeps() const {
    std::vector<unsigned long> result;
    for (std::size_t i = 0; i < trace_.size(); ++i)
        if (trace_[i].kind == Event::Sleep)
            result.push_back(trace_[i].value);
    return result;
}

bool Machine::mappedAt(std::uint32_t physicalAddress) const {
    for (std::multimap<void*, Mapping>::const_iterator it = mappings_.begin();
         it != mappings_.end(); ++it)
        if (it->second.address == physicalAddress)
            return true;
    return false;
}

void Machine::record(Event::Kind kind, std::uint16_t port, unsigned width, std::uint32_t value) {
    ++portAccesses_;
    if (!tracing_)
        return;
    Event event = {kind, port, width, value, now_};
    trace_.push_back(event);
}

// A port access goes to the board that claimed its port; nobody answers
// elsewhere, and the ISA bus floats high.  An access wider than the board's
// registers is split into byte accesses at ascending ports, each going to
// whoever decodes that port.  The trace keeps the access as the processor
// made it.
std::uint32_t Machine::busRead(std::uint16_t port, unsigned width) {
    Board* owner = portOwner(port);
    if (owner == 0)
        return 0xFFFFFFFFu;
    if (width <= owner->busWidth())
        return owner->readPort(port, width);
    std::uint32_t value = 0;
    for (unsigned i = 0; i < width; ++i)
        value |= (busRead(static_cast<std::uint16_t>(port + i), 1) & 0xFFu) << (8 * i);
    return value;
}

void Machine::busWrite(std::uint16_t port, unsigned width, std::uint32_t value) {
    Board* owner = portOwner(port);
    if (owner == 0)
        return;
    if (width <= owner->busWidth()) {
        owner->writePort(port, width, value);
        return;
    }
    for (unsigned i = 0; i < width; ++i)
        busWrite(static_cast<std::uint16_t>(port + i), 1, (value >> (8 * i)) & 0xFFu);
}

std::uint32_t Machine::readPort(std::uint16_t port, unsigned width) {
    const std::uint32_t value = busRead(port, width) & widthMask(width);
    record(Event::PortRead, port, width, value);
    return value;
}

void Machine::writePort(std::uint16_t port, unsigned width, std::uint32_t value) {
    value &= widthMask(width);
    record(Event::PortWrite, port, width, value);
    busWrite(port, width, value);
}

std::uint8_t Machine::inByte(std::uint16_t port) {
    return static_cast<std::uint8_t>(readPort(port, 1));
}
std::uint16_t Machine::inWord(std::uint16_t port) {
    return static_cast<std::uint16_t>(readPort(port, 2));
}
std::uint32_t Machine::inDword(std::uint16_t port) { return readPort(port, 4); }
void Machine::outByte(std::uint16_t port, std::uint8_t value) { writePort(port, 1, value); }
void Machine::outWord(std::uint16_t port, std::uint16_t value) { writePort(port, 2, value); }
void Machine::outDword(std::uint16_t port, std::uint32_t value) { writePort(port, 4, value); }

bool Machine::getVersionEx(unsigned long& platformId) {
    if (faults_.versionFails)
        return false;
    platformId = platformId_;
    return true;
}

Platform::Handle Machine::newHandle(HandleKind kind) {
    Handle handle = reinterpret_cast<Handle>(nextHandle_);
    nextHandle_ += 4;
    handles_[handle] = kind;
    return handle;
}

bool Machine::isHandle(Handle handle, HandleKind kind) const {
    std::map<Handle, HandleKind>::const_iterator found = handles_.find(handle);
    return found != handles_.end() && found->second == kind;
}

Platform::Handle Machine::openSCManager(unsigned long access) {
    if (faults_.noServiceManager || access == 0)
        return 0;
    ++managerOpens_;
    return newHandle(ManagerHandle);
}

Platform::Handle Machine::openService(Handle manager, const char* name, unsigned long) {
    if (!isHandle(manager, ManagerHandle) || name == 0 || faults_.serviceMissing ||
        std::strcmp(name, serviceName) != 0)
        return 0;
    ++serviceOpens_;
    return newHandle(ServiceHandle);
}

bool Machine::startService(Handle service) {
    if (!isHandle(service, ServiceHandle))
        return false;
    ++serviceStarts_;
    // A service that already runs cannot be started again.
    if (serviceRunning_)
        return false;
    serviceRunning_ = true;
    return !faults_.startFails;
}

bool Machine::closeServiceHandle(Handle handle) {
    if (!isHandle(handle, ManagerHandle) && !isHandle(handle, ServiceHandle))
        return false;
    handles_.erase(handle);
    return true;
}

Platform::Handle Machine::createFile(const char* name, unsigned long access) {
    if (name == 0 || std::strcmp(name, deviceName) != 0)
        return invalidHandle();
    if (!serviceRunning_ || faults_.driverNotLoaded || faults_.deviceRefuses)
        return invalidHandle();
    if ((access & (genericRead | genericWrite)) != (genericRead | genericWrite))
        return invalidHandle();
    ++deviceOpens_;
    return newHandle(DeviceHandle);
}

void* Machine::mapWindow(std::uint32_t address, std::uint32_t size, bool dpmi) {
    Mapping mapping;
    mapping.address = address;
    mapping.size = size;
    void* window;
    if (Region* region = findRegion(address, size)) {
        window = region->data() + (address - region->address());
    } else {
        // No board answers here: reads float high, and writes are lost at
        // the next sleep.
        mapping.openBus.reset(new GuardedBuffer(size));
        std::memset(mapping.openBus->data(), 0xFF, size);
        window = mapping.openBus->data();
    }
    if (dpmi)
        dpmiWindows_.push_back(std::move(mapping));
    else
        mappings_.insert(std::make_pair(window, std::move(mapping)));
    return window;
}

bool Machine::deviceIoControl(Handle device, unsigned long code, const void* in,
                              unsigned long inSize, void* out, unsigned long outSize,
                              unsigned long& bytesReturned) {
    bytesReturned = 0;
    if (!isHandle(device, DeviceHandle))
        return false;
    if (code == mapCode) {
        ++mapRequests_;
        if (faults_.mapRefused || in == 0 || inSize != sizeof(MapRequest) || out == 0 ||
            outSize != addressSize)
            return false;
        MapRequest request;
        std::memcpy(&request, in, sizeof request);
        if (request.addressHigh != 0 || request.length == 0)
            return false;
        void* window = mapWindow(request.addressLow, request.length, false);
        std::memcpy(out, &window, sizeof window);
        bytesReturned = sizeof window;
        return true;
    }
    if (code == unmapCode) {
        ++unmapRequests_;
        if (faults_.unmapRefused || in == 0 || inSize != addressSize || outSize != 0)
            return false;
        void* window = 0;
        std::memcpy(&window, in, sizeof window);
        std::multimap<void*, Mapping>::iterator found = mappings_.find(window);
        if (found == mappings_.end())
            return false;
        mappings_.erase(found);
        return true;
    }
    return false;
}

bool Machine::closeHandle(Handle handle) {
    if (!isHandle(handle, DeviceHandle))
        return false;
    handles_.erase(handle);
    return true;
}

void Machine::sleep(unsigned long milliseconds) {
    ++sleepCount_;
    if (tracing_) {
        Event event = {Event::Sleep, 0, 0, static_cast<std::uint32_t>(milliseconds), now_};
        trace_.push_back(event);
    }
    if (pace_ != 0)
        sleepUntil(monotonicNanoseconds() + static_cast<std::uint64_t>(milliseconds) * 1000000u);
    else
        advance(milliseconds);
}

void* Machine::dpmiMapPhysical(unsigned long address, unsigned long size) {
    if (platformId_ == PlatformWin32NT || faults_.dpmiRefuses || size == 0)
        return 0;
    // Windows mapped under 9x are never released; they stay for the life
    // of the machine.
    return mapWindow(static_cast<std::uint32_t>(address), static_cast<std::uint32_t>(size), true);
}

ScopedInstall::ScopedInstall(Machine& machine) : previous_(Platform::install(&machine)) {}

ScopedInstall::~ScopedInstall() { Platform::install(previous_); }

ScopedMachine::ScopedMachine() : previous_(Platform::install(this)) {}

ScopedMachine::~ScopedMachine() { Platform::install(previous_); }

}  // namespace Sim
}  // namespace Tavex
