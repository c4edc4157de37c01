#include "tavex/sim/boards/GEMicroGENIBoard.h"

#include <cstring>
#include <stdexcept>
#include <string>

#include "tavex/sim/Machine.h"
#include "tavex/sim/boards/GEPCIMBoard.h"

namespace Tavex {
namespace Sim {

namespace {

typedef GEMicroGENIBoard Channel;

const unsigned long defaultStartupTime = 400;
const unsigned long defaultCommDelay = 100;
const unsigned long defaultMinimumReset = 1;
const std::uint8_t defaultTableSize = 32;

// A board left running by an earlier program: reset line high, strobe idle.
const std::uint8_t runningControl = Channel::ControlResetLine | Channel::ControlClearReset;
const std::uint8_t powerUpControl = 0x00;

// Entry byte 1 as the processor leaves it: the station's outputs held off.
const std::uint8_t outputsHeldOff = 1;

bool hasInputs(std::uint8_t configuration) {
    return configuration == Channel::InputsOnly || configuration == Channel::InputsAndOutputs;
}

bool hasOutputs(std::uint8_t configuration) {
    return configuration == Channel::OutputsOnly || configuration == Channel::InputsAndOutputs;
}

void checkByte(unsigned byte) {
    if (byte >= Channel::MaxBlockSize)
        throw std::out_of_range("Sim::GEMicroGENIBoard: no such byte of station data");
}

void checkWord(unsigned word) {
    if (word >= Channel::MaxBlockSize / 2)
        throw std::out_of_range("Sim::GEMicroGENIBoard: no such word of station data");
}

}  // namespace

Channel::GEMicroGENIBoard(GEPCIMBoard& motherboard, char place, std::uint16_t basePort,
                          std::uint32_t memoryAddress, PowerUp powerUp)
    : motherboard_(motherboard),
      place_(place),
      base_(basePort),
      address_(memoryAddress),
      powerUp_(powerUp),
      memory_(0),
      startupTime_(defaultStartupTime),
      commDelay_(defaultCommDelay),
      minimumReset_(defaultMinimumReset),
      size_(defaultTableSize),
      neverComesUp_(false),
      boardFault_(false),
      busFault_(false),
      lockoutAnswers_(true),
      control_(powerUp == Running ? runningControl : powerUpControl),
      latched_(powerUp == Held),
      lowSince_(0),
      shortReset_(false),
      phase_(powerUp == Running ? ProcessorRunning : ProcessorHeld),
      upDue_(0),
      busUp_(false),
      busPending_(false),
      busDue_(0),
      clearPulses_(0),
      statusReads_(0),
      strayWrites_(0),
      starts_(0),
      releasedAt_(0),
      cameUpAt_(0),
      requestOpen_(false) {
    std::memset(stations_, 0, sizeof stations_);
}

// Fitted into a machine: the window first (the machine refuses an overlap
// without keeping anything), then the ports, checked beforehand so that a
// refusal leaves no window behind.
void Channel::attach() {
    Machine& machine = motherboard_.machine();
    if (base_ > 0xFFFF - (Ports - 1))
        throw std::logic_error("Sim::GEMicroGENIBoard: ports beyond 0xFFFF");
    for (unsigned p = 0; p < Ports; ++p)
        if (Board* owner = machine.portOwner(static_cast<std::uint16_t>(base_ + p)))
            throw std::logic_error(std::string("Sim::GEMicroGENIBoard: port conflict with ") +
                                   owner->name());
    memory_ = &machine.addRegion(&motherboard_, address_, WindowSize,
                                 std::string("MicroGENI ") + place_ + " dual-port RAM");
    machine.claimPorts(motherboard_, base_, Ports);
    lowSince_ = machine.now();
    if (powerUp_ == Running) {
        comeUp(machine.now());
        bringBusUp();
    }
}

bool Channel::decodes(std::uint16_t port) const {
    return memory_ != 0 && static_cast<std::uint16_t>(port - base_) < Ports;
}

unsigned long Channel::now() const { return motherboard_.machine().now(); }

Region& Channel::memory() const {
    if (memory_ == 0)
        throw std::logic_error("Sim::GEMicroGENIBoard: board not fitted in a machine");
    return *memory_;
}

const Channel::Station& Channel::at(unsigned station) const {
    if (station >= Stations)
        throw std::out_of_range("Sim::GEMicroGENIBoard: no such station");
    return stations_[station];
}

Channel::Station& Channel::at(unsigned station) {
    if (station >= Stations)
        throw std::out_of_range("Sim::GEMicroGENIBoard: no such station");
    return stations_[station];
}

// --- timing and knobs ----------------------------------------------------------

Channel& Channel::setStartupTime(unsigned long ms) {
    startupTime_ = ms;
    return *this;
}

Channel& Channel::setCommDelay(unsigned long ms) {
    commDelay_ = ms;
    return *this;
}

Channel& Channel::setMinimumResetTime(unsigned long ms) {
    minimumReset_ = ms;
    return *this;
}

Channel& Channel::setIOTableSize(std::uint8_t size) {
    size_ = size;
    if (memory_ != 0 && phase_ == ProcessorRunning) {
        layOutTable();
        scan();
    }
    return *this;
}

Channel& Channel::setNeverComesUp(bool never) {
    neverComesUp_ = never;
    return *this;
}

Channel& Channel::setBoardFault(bool fault) {
    boardFault_ = fault;
    return *this;
}

Channel& Channel::setBusFault(bool fault) {
    if (fault == busFault_)
        return *this;
    busFault_ = fault;
    if (memory_ == 0 || phase_ != ProcessorRunning)
        return *this;
    if (fault) {
        busPending_ = false;
        takeBusDown();
    } else {
        busPending_ = true;
        busDue_ = now() + commDelay_;
        catchUp();
    }
    return *this;
}

Channel& Channel::setLockoutAnswers(bool answers) {
    lockoutAnswers_ = answers;
    return *this;
}

// --- stations --------------------------------------------------------------------

Channel& Channel::placeStation(unsigned station, std::uint8_t ioConfiguration) {
    Station& s = at(station);
    s.placed = true;
    s.configuration = ioConfiguration;
    if (busUp_)
        logIn(station);
    return *this;
}

Channel& Channel::removeStation(unsigned station) {
    Station& s = at(station);
    s.placed = false;
    if (s.loggedIn)
        logOut(station);
    return *this;
}

bool Channel::isPlaced(unsigned station) const { return at(station).placed; }
bool Channel::isLoggedIn(unsigned station) const { return at(station).loggedIn; }

Channel& Channel::setInputByte(unsigned station, unsigned byte, std::uint8_t value) {
    Station& s = at(station);
    checkByte(byte);
    s.inputs[byte] = value;
    if (s.loggedIn && hasInputs(s.configuration) && canScan())
        sendInputs(station);
    return *this;
}

Channel& Channel::setInput(unsigned station, unsigned point, bool on) {
    const std::uint8_t bit = static_cast<std::uint8_t>(1u << (point % 8));
    const std::uint8_t byte = inputByte(station, point / 8);
    return setInputByte(station, point / 8,
                        static_cast<std::uint8_t>(on ? (byte | bit) : (byte & ~bit)));
}

Channel& Channel::setInputWord(unsigned station, unsigned word, std::uint16_t raw) {
    checkWord(word);
    at(station).inputs[2 * word] = static_cast<std::uint8_t>(raw);
    return setInputByte(station, 2 * word + 1, static_cast<std::uint8_t>(raw >> 8));
}

std::uint8_t Channel::inputByte(unsigned station, unsigned byte) const {
    const Station& s = at(station);
    checkByte(byte);
    return s.inputs[byte];
}

std::uint8_t Channel::outputByte(unsigned station, unsigned byte) const {
    const Station& s = at(station);
    checkByte(byte);
    return s.outputs[byte];
}

bool Channel::output(unsigned station, unsigned point) const {
    return (outputByte(station, point / 8) >> (point % 8)) & 1u;
}

std::uint16_t Channel::outputWord(unsigned station, unsigned word) const {
    checkWord(word);
    return static_cast<std::uint16_t>(outputByte(station, 2 * word) |
                                      (outputByte(station, 2 * word + 1) << 8));
}

// --- inspection --------------------------------------------------------------------

std::uint8_t Channel::status() const {
    std::uint8_t value = StatusUnused;
    if (phase_ != ProcessorHeld)
        value |= StatusNotInReset;
    if (phase_ != ProcessorRunning || boardFault_)
        value |= StatusBoardNotOK;
    if (phase_ != ProcessorRunning || !busUp_)
        value |= StatusCommNotOK;
    return value;
}

bool Channel::lockoutGranted() const { return memory().read8(LockoutState) != 0; }

bool Channel::outputsEnabled(unsigned station) const {
    at(station);
    return memory().read8(entry(station) + EntryOutputsHeld) == 0;
}

std::uint32_t Channel::inputBlock(unsigned station) const {
    at(station);
    return IOTable + static_cast<std::uint32_t>(size_) * station;
}

std::uint32_t Channel::outputBlock(unsigned station) const {
    at(station);
    return IOTable + static_cast<std::uint32_t>(size_) * (Stations + station);
}

// --- registers -----------------------------------------------------------------------

std::uint8_t Channel::readPort(std::uint16_t port) {
    catchUp();
    if (port == base_) {
        ++statusReads_;
        return status();
    }
    return control_;
}

void Channel::writePort(std::uint16_t port, std::uint8_t value) {
    catchUp();
    if (port == base_)
        ++strayWrites_;
    else
        writeControl(value);
}

// The reset line holds the processor and sets the latch for as long as it
// is low; the strobe clears the latch only once the line is high again, and
// the processor starts the moment nothing holds it.
void Channel::writeControl(std::uint8_t value) {
    const unsigned long t = now();
    const std::uint8_t old = control_;
    control_ = value;
    ControlWrite write = {value, t};
    controlWrites_.push_back(write);

    if (!(value & ControlResetLine)) {
        if (old & ControlResetLine)
            lowSince_ = t;
        latched_ = true;
        if (phase_ != ProcessorHeld)
            hold();
    } else {
        if (!(old & ControlResetLine)) {
            ResetPulse pulse = {lowSince_, t, t - lowSince_ < minimumReset_};
            resetPulses_.push_back(pulse);
            shortReset_ = pulse.tooShort;
        }
        if (!(value & ControlClearReset))
            latched_ = false;
        if (phase_ == ProcessorHeld && !latched_)
            release(t);
    }
    if ((value & ControlClearReset) && !(old & ControlClearReset))
        ++clearPulses_;
    catchUp();
}

// --- the processor ---------------------------------------------------------------------

// Held in reset, the processor forgets the bus and writes nothing more; the
// RAM keeps what it holds.
void Channel::hold() {
    phase_ = ProcessorHeld;
    busUp_ = false;
    busPending_ = false;
    requestOpen_ = false;
    for (unsigned s = 0; s < Stations; ++s)
        stations_[s].loggedIn = false;
}

void Channel::release(unsigned long at) {
    ++starts_;
    releasedAt_ = at;
    phase_ = Starting;
    upDue_ = at + startupTime_;
}

// What falls due by now: the end of the self-test, then the bus.
void Channel::catchUp() {
    if (memory_ == 0)
        return;
    const unsigned long t = now();
    if (phase_ == Starting && t >= upDue_) {
        if (neverComesUp_ || shortReset_)
            phase_ = Hung;
        else
            comeUp(upDue_);
    }
    if (phase_ == ProcessorRunning && busPending_ && t >= busDue_)
        bringBusUp();
}

void Channel::comeUp(unsigned long at) {
    phase_ = ProcessorRunning;
    cameUpAt_ = at;
    layOut();
    busUp_ = false;
    busPending_ = !busFault_;
    busDue_ = at + commDelay_;
}

void Channel::layOut() {
    memory_->write8(LockoutRequest, 0);
    memory_->write8(LockoutState, 0);
    requestOpen_ = false;
    std::uint8_t blank[EntrySize] = {0};
    blank[EntryOutputsHeld] = outputsHeldOff;
    for (unsigned s = 0; s < Stations; ++s) {
        memory_->write(entry(s), blank, EntrySize);
        stations_[s].loggedIn = false;
    }
    layOutTable();
}

void Channel::layOutTable() {
    memory_->write8(IOTableSizeByte, size_);
    if (size_ >= 1 && size_ <= MaxBlockSize)
        memory_->fill(IOTable, 2u * Stations * size_, 0);
}

void Channel::bringBusUp() {
    busUp_ = true;
    busPending_ = false;
    for (unsigned s = 0; s < Stations; ++s)
        if (stations_[s].placed)
            logIn(s);
}

void Channel::takeBusDown() {
    for (unsigned s = 0; s < Stations; ++s)
        if (stations_[s].loggedIn)
            logOut(s);
    busUp_ = false;
}

// The configuration is in place before the presence byte says so.
void Channel::logIn(unsigned station) {
    Station& s = stations_[station];
    s.loggedIn = true;
    memory_->write8(entry(station) + EntryConfiguration, s.configuration);
    memory_->write8(entry(station) + EntryPresence, 1);
    if (hasInputs(s.configuration) && canScan())
        sendInputs(station);
}

void Channel::logOut(unsigned station) {
    stations_[station].loggedIn = false;
    memory_->write8(entry(station) + EntryPresence, 0);
}

bool Channel::canScan() const {
    return memory_ != 0 && phase_ == ProcessorRunning && busUp_ && size_ >= 1 &&
           size_ <= MaxBlockSize && memory_->read8(LockoutState) == 0;
}

void Channel::sendInputs(unsigned station) {
    memory_->write(inputBlock(station), stations_[station].inputs, size_);
}

void Channel::takeOutputs(unsigned station) {
    memory_->read(outputBlock(station), stations_[station].outputs, size_);
}

void Channel::scan() {
    if (!canScan())
        return;
    for (unsigned s = 0; s < Stations; ++s) {
        const Station& st = stations_[s];
        if (!st.loggedIn)
            continue;
        if (hasInputs(st.configuration))
            sendInputs(s);
        if (hasOutputs(st.configuration) &&
            memory_->read8(entry(s) + EntryOutputsHeld) == 0)
            takeOutputs(s);
    }
}

void Channel::endLockout() {
    if (!lockoutAnswers_ || memory_->read8(LockoutRequest) != 0)
        return;
    if (memory_->read8(LockoutState) != 0)
        memory_->write8(LockoutState, 0);
    if (requestOpen_) {
        lockouts_.back().ended = true;
        lockouts_.back().endedAt = now();
        requestOpen_ = false;
    }
}

void Channel::grantLockout() {
    if (memory_->read8(LockoutRequest) == 0)
        return;
    if (!requestOpen_) {
        Lockout request = {now(), false, 0, false, 0};
        lockouts_.push_back(request);
        requestOpen_ = true;
    }
    if (lockoutAnswers_ && memory_->read8(LockoutState) == 0) {
        memory_->write8(LockoutState, 1);
        lockouts_.back().granted = true;
        lockouts_.back().grantedAt = now();
    }
}

// One pass of the processor's loop: a released lockout first, then the
// bus scan, then a new lockout request, granted between two scans.
void Channel::tick() {
    catchUp();
    if (memory_ == 0 || phase_ != ProcessorRunning)
        return;
    endLockout();
    scan();
    grantLockout();
}

}  // namespace Sim
}  // namespace Tavex
