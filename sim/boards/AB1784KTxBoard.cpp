#include "tavex/sim/boards/AB1784KTxBoard.h"

#include <algorithm>
#include <stdexcept>

#include "tavex/sim/Machine.h"

namespace Tavex {
namespace Sim {

namespace {

const std::uint32_t startWordValue = 0xC3;
const std::uint8_t initByte5Value = 0xFD;
const std::uint8_t initByte6Value = 0x06;
const unsigned maxParameters = 253;
const std::uint8_t goodA = 0x03;
const std::uint8_t goodB = 0x20;

void checkBank(unsigned bank) {
    if (bank >= AB1784KTxBoard::Banks)
        throw std::out_of_range("Sim::AB1784KTxBoard: no such bank");
}

}  // namespace

AB1784KTxBoard::CommandFault::CommandFault()
    : response(-1),
      transactionDelta(0),
      neverClearsFlag(false),
      neverConfirms(false),
      neverTakesAcknowledgement(false) {}

AB1784KTxBoard::AB1784KTxBoard(std::uint32_t baseAddress)
    : base_(baseAddress),
      memory_(0),
      phase_(Held),
      phaseSince_(0),
      eventTime_(0),
      clearRamTime_(100),
      blockTime_(0),
      startupTime_(500),
      takeTime_(0),
      respondTime_(0),
      acknowledgeTime_(0),
      silentFrom_(~0u),
      programRamSize_(0x8000),
      initNeverFinishes_(false),
      initError_(0),
      scannerStatus_(0x0004),
      ramCleared_(false),
      linkSpeed_(0),
      clearedAtStart_(false),
      hostInterrupt_(false),
      strayInterrupts_(0),
      commandStuck_(false),
      loaderHung_(false) {
    for (unsigned q = 0; q < StatusEntries; ++q) {
        entries_[q][0] = goodA;
        entries_[q][1] = goodB;
        entries_[q][2] = 0;
    }
    std::fill(inputs_, inputs_ + Banks, 0);
    std::fill(outputs_, outputs_ + Banks, 0);
}

const char* AB1784KTxBoard::name() const { return "1784-KTx"; }

const char* AB1784KTxBoard::phaseName(Phase phase) {
    switch (phase) {
    case Held: return "held";
    case ClearingRam: return "clearing RAM";
    case Loading: return "loading";
    case ScannerStarting: return "scanner starting";
    case ScannerRunning: return "scanner running";
    case ScannerFailed: return "scanner failed";
    case UnknownProgram: return "unknown program";
    }
    return "?";
}

void AB1784KTxBoard::plugged() {
    memory_ = &machine().addRegion(this, base_, WindowSize, "1784-KTx dual-port memory");
    // The control registers come up clear; the RAM keeps its pattern.
    memory_->fill(SharedSize, WindowSize - SharedSize, 0);
}

Region& AB1784KTxBoard::memory() const {
    if (memory_ == 0)
        throw std::logic_error("Sim::AB1784KTxBoard: board not plugged");
    return *memory_;
}

// --- configuration -----------------------------------------------------------

AB1784KTxBoard& AB1784KTxBoard::setProtocolImages(const std::vector<std::uint8_t>& clrram,
                                                  const std::vector<std::uint8_t>& loadpcl,
                                                  const std::vector<std::uint8_t>& scanner) {
    clrram_ = clrram;
    loadpcl_ = loadpcl;
    scanner_ = scanner;
    return *this;
}

AB1784KTxBoard& AB1784KTxBoard::setClearRamTime(unsigned long ms) {
    clearRamTime_ = ms;
    return *this;
}

AB1784KTxBoard& AB1784KTxBoard::setBlockTime(unsigned long ms) {
    blockTime_ = ms;
    return *this;
}

AB1784KTxBoard& AB1784KTxBoard::setStartupTime(unsigned long ms) {
    startupTime_ = ms;
    return *this;
}

AB1784KTxBoard& AB1784KTxBoard::setCommandTimes(unsigned long take, unsigned long respond,
                                                unsigned long acknowledge) {
    takeTime_ = take;
    respondTime_ = respond;
    acknowledgeTime_ = acknowledge;
    return *this;
}

AB1784KTxBoard& AB1784KTxBoard::setDownloadResult(unsigned block, std::uint8_t result) {
    downloadResults_[block] = result;
    return *this;
}

AB1784KTxBoard& AB1784KTxBoard::setLoaderSilentFrom(unsigned block) {
    silentFrom_ = block;
    return *this;
}

AB1784KTxBoard& AB1784KTxBoard::setProgramRamSize(std::uint32_t bytes) {
    programRamSize_ = bytes;
    return *this;
}

AB1784KTxBoard& AB1784KTxBoard::setInitNeverFinishes(bool never) {
    initNeverFinishes_ = never;
    return *this;
}

AB1784KTxBoard& AB1784KTxBoard::setInitError(std::uint8_t code) {
    initError_ = code;
    return *this;
}

AB1784KTxBoard& AB1784KTxBoard::setCommandFault(unsigned sequence, const CommandFault& fault) {
    commandFaults_[sequence] = fault;
    return *this;
}

AB1784KTxBoard& AB1784KTxBoard::setResponseForCode(std::uint8_t code, std::uint8_t response) {
    responses_[code] = response;
    return *this;
}

// --- racks -------------------------------------------------------------------

AB1784KTxBoard& AB1784KTxBoard::setScannerRunning(bool running) {
    return setScannerStatus(static_cast<std::uint16_t>(running ? (scannerStatus_ | 0x0004)
                                                               : (scannerStatus_ & ~0x0004)));
}

AB1784KTxBoard& AB1784KTxBoard::setScannerStatus(std::uint16_t status) {
    scannerStatus_ = status;
    refresh();
    return *this;
}

AB1784KTxBoard& AB1784KTxBoard::setStatusEntry(unsigned entry, std::uint8_t a, std::uint8_t b,
                                               std::uint8_t c) {
    if (entry >= StatusEntries)
        throw std::out_of_range("Sim::AB1784KTxBoard: no such status entry");
    entries_[entry][0] = a;
    entries_[entry][1] = b;
    entries_[entry][2] = c;
    refresh();
    return *this;
}

AB1784KTxBoard& AB1784KTxBoard::setEntryGood(unsigned entry, bool good) {
    return good ? setStatusEntry(entry, goodA, goodB, 0) : setStatusEntry(entry, 0, 0, 0);
}

AB1784KTxBoard& AB1784KTxBoard::setInputs(unsigned bank, std::uint8_t value) {
    checkBank(bank);
    inputs_[bank] = value;
    refresh();
    return *this;
}

AB1784KTxBoard& AB1784KTxBoard::setInput(unsigned bank, unsigned point, bool on) {
    checkBank(bank);
    if (point >= 8)
        throw std::out_of_range("Sim::AB1784KTxBoard: no such point");
    const std::uint8_t bit = static_cast<std::uint8_t>(1u << point);
    return setInputs(bank, static_cast<std::uint8_t>(on ? (inputs_[bank] | bit)
                                                        : (inputs_[bank] & ~bit)));
}

std::uint8_t AB1784KTxBoard::inputs(unsigned bank) const {
    checkBank(bank);
    return inputs_[bank];
}

std::uint8_t AB1784KTxBoard::outputs(unsigned bank) const {
    checkBank(bank);
    return outputs_[bank];
}

std::uint8_t AB1784KTxBoard::inputImage(unsigned bank) const {
    checkBank(bank);
    return memory().read8(InputImage + bank);
}

std::uint8_t AB1784KTxBoard::outputImage(unsigned bank) const {
    checkBank(bank);
    return memory().read8(OutputImage + bank);
}

AB1784KTxBoard& AB1784KTxBoard::setOutputImage(unsigned bank, std::uint8_t value) {
    checkBank(bank);
    memory().write8(OutputImage + bank, value);
    return *this;
}

// --- inspection --------------------------------------------------------------

unsigned AB1784KTxBoard::writesOf(Latch latch) const {
    unsigned count = 0;
    for (std::size_t i = 0; i < controlWrites_.size(); ++i)
        if (controlWrites_[i].latch == latch)
            ++count;
    return count;
}

bool AB1784KTxBoard::resetLatched() const { return memory().read8(BoardReset) != 0; }

bool AB1784KTxBoard::lastConfirmationAcknowledged() const {
    if (commands_.empty())
        return false;
    const Command& c = commands_.back();
    return c.acknowledged && c.confirmationCleared && c.statusCleared && c.hostInterruptCleared;
}

// --- the Z80 -----------------------------------------------------------------

std::uint8_t AB1784KTxBoard::take(std::uint32_t offset) {
    const std::uint8_t value = memory_->read8(offset);
    if (value)
        memory_->write8(offset, 0);
    return value;
}

void AB1784KTxBoard::logWrite(Latch latch, std::uint8_t value, Phase before) {
    ControlWrite write = {latch, value, before, phase_, eventTime_};
    controlWrites_.push_back(write);
}

void AB1784KTxBoard::enter(Phase phase) {
    phase_ = phase;
    phaseSince_ = eventTime_;
    blockAnswer_ = Pending();
    clearFlag_ = Pending();
    confirm_ = Pending();
    clearAcknowledgement_ = Pending();
    commandStuck_ = false;
    loaderHung_ = false;
    if (phase == Held)
        hostInterrupt_ = false;
}

bool AB1784KTxBoard::imageAt(const std::vector<std::uint8_t>& image, bool loaderOverlay) const {
    if (image.empty() || image.size() > SharedSize)
        return false;
    for (std::uint32_t i = 0; i < image.size(); ++i) {
        if (loaderOverlay && ((i >= DownloadLength && i <= DownloadDone) || i >= DownloadBlock))
            continue;
        if (memory_->read8(i) != image[i])
            return false;
    }
    return true;
}

bool AB1784KTxBoard::scannerLoaded() const {
    return !programRam_.empty() && (scanner_.empty() || programRam_ == scanner_);
}

void AB1784KTxBoard::startProgram() {
    if (scannerLoaded() && memory_->read32(StartWord) == startWordValue &&
        memory_->read8(InitByte5) == initByte5Value &&
        memory_->read8(InitByte6) == initByte6Value) {
        linkSpeed_ = memory_->read8(LinkSpeedByte);
        clearedAtStart_ = memory_->read8(4) == 0;
        for (std::uint32_t i = LinkSpeedByte + 1; i < SharedSize && clearedAtStart_; ++i)
            clearedAtStart_ = memory_->read8(i) == 0;
        enter(ScannerStarting);
    } else if (imageAt(clrram_, false)) {
        ramCleared_ = false;
        enter(ClearingRam);
    } else if (imageAt(loadpcl_, true)) {
        blocks_.clear();
        programRam_.clear();
        enter(Loading);
    } else {
        enter(UnknownProgram);
    }
}

void AB1784KTxBoard::runLoader() {
    const unsigned long now = machine().now();
    if (blockAnswer_.active) {
        if (now >= blockAnswer_.due)
            answerBlock();
        return;
    }
    if (loaderHung_ || memory_->read8(DownloadDone) != 0)
        return;

    Block block;
    block.length = memory_->read16(DownloadLength);
    const std::uint32_t length = std::min<std::uint32_t>(block.length, MaxBlockLength);
    block.data.resize(length);
    if (length)
        memory_->read(DownloadBlock, &block.data[0], length);
    block.result = 0;
    block.answered = false;
    block.time = eventTime_;
    blocks_.push_back(block);

    if (blocks_.size() - 1 >= silentFrom_) {
        loaderHung_ = true;
        return;
    }
    blockAnswer_.active = true;
    blockAnswer_.due = eventTime_ + blockTime_;
    if (now >= blockAnswer_.due)
        answerBlock();
}

void AB1784KTxBoard::answerBlock() {
    blockAnswer_ = Pending();
    Block& block = blocks_.back();
    const unsigned index = static_cast<unsigned>(blocks_.size() - 1);
    std::uint8_t result = 0;
    std::map<unsigned, std::uint8_t>::const_iterator forced = downloadResults_.find(index);
    if (forced != downloadResults_.end())
        result = forced->second;
    else if (block.length > MaxBlockLength)
        result = 1;
    else if (programRam_.size() + block.length > programRamSize_)
        result = 2;
    if (result == 0)
        programRam_.insert(programRam_.end(), block.data.begin(), block.data.end());
    block.result = result;
    block.answered = true;
    memory_->write8(DownloadResult, result);
    memory_->write8(DownloadDone, 1);
}

void AB1784KTxBoard::finishStartup() {
    memory_->write8(InitError, initError_);
    memory_->write8(IntStatusToHost, 1);
    if (initError_) {
        enter(ScannerFailed);
    } else {
        enter(ScannerRunning);
        refresh();
    }
}

void AB1784KTxBoard::interrupted() {
    const std::uint8_t request = memory_->read8(IntStatusFromHost);
    if (request == 1 && !clearFlag_.active && !confirm_.active && !commandStuck_)
        takeCommand();
    else if (request == 2 && !commands_.empty() && commands_.back().confirmed &&
             !commands_.back().acknowledged)
        takeAcknowledgement();
    else
        ++strayInterrupts_;
}

void AB1784KTxBoard::takeCommand() {
    const unsigned long at = eventTime_;
    Command command;
    command.code = memory_->read8(CommandBlock);
    command.transaction = memory_->read8(CommandBlock + 1);
    command.length = memory_->read8(CommandBlock + 2);
    const unsigned count = std::min<unsigned>(command.length, maxParameters);
    command.parameters.resize(count);
    if (count)
        memory_->read(CommandBlock + 3, &command.parameters[0], count);
    command.time = at;
    command.confirmed = false;
    command.echoedTransaction = 0;
    command.response = 0;
    command.confirmedAt = 0;
    command.acknowledged = false;
    command.confirmationCleared = false;
    command.statusCleared = false;
    command.hostInterruptCleared = false;

    CommandFault fault;
    std::map<unsigned, CommandFault>::const_iterator found =
        commandFaults_.find(static_cast<unsigned>(commands_.size()));
    if (found != commandFaults_.end())
        fault = found->second;
    commands_.push_back(command);

    if (fault.neverClearsFlag) {
        commandStuck_ = true;
    } else {
        clearFlag_.active = true;
        clearFlag_.due = at + takeTime_;
    }
    if (!fault.neverConfirms) {
        confirm_.active = true;
        confirm_.due = at + takeTime_ + respondTime_;
    }
}

void AB1784KTxBoard::takeAcknowledgement() {
    Command& command = commands_.back();
    command.acknowledged = true;
    command.confirmationCleared = memory_->read8(Confirmation) == 0;
    command.statusCleared = memory_->read8(IntStatusToHost) == 0;
    command.hostInterruptCleared = !hostInterrupt_;

    std::map<unsigned, CommandFault>::const_iterator found =
        commandFaults_.find(static_cast<unsigned>(commands_.size() - 1));
    if (found != commandFaults_.end() && found->second.neverTakesAcknowledgement)
        return;
    // The confirmation area is the scanner's again: the echoed number and
    // the response code are gone.
    memory_->write8(Confirmation + 1, 0);
    memory_->write8(Confirmation + 2, 0);
    clearAcknowledgement_.active = true;
    clearAcknowledgement_.due = eventTime_ + acknowledgeTime_;
}

void AB1784KTxBoard::runCommands() {
    const unsigned long now = machine().now();
    if (clearFlag_.active && now >= clearFlag_.due) {
        clearFlag_ = Pending();
        memory_->write8(IntStatusFromHost, 0);
    }
    if (confirm_.active && now >= confirm_.due) {
        const unsigned long confirmedAt = confirm_.due;
        confirm_ = Pending();
        Command& command = commands_.back();
        const unsigned sequence = static_cast<unsigned>(commands_.size() - 1);
        CommandFault fault;
        std::map<unsigned, CommandFault>::const_iterator found = commandFaults_.find(sequence);
        if (found != commandFaults_.end())
            fault = found->second;
        int response = 0;
        std::map<std::uint8_t, std::uint8_t>::const_iterator byCode = responses_.find(command.code);
        if (fault.response >= 0)
            response = fault.response;
        else if (byCode != responses_.end())
            response = byCode->second;
        command.confirmed = true;
        command.echoedTransaction =
            static_cast<std::uint8_t>(command.transaction + fault.transactionDelta);
        command.response = static_cast<std::uint8_t>(response);
        command.confirmedAt = confirmedAt;
        memory_->write8(Confirmation + 1, command.echoedTransaction);
        memory_->write8(Confirmation + 2, command.response);
        memory_->write8(Confirmation, 1);
        memory_->write8(IntStatusToHost, 2);
        hostInterrupt_ = true;
    }
    if (clearAcknowledgement_.active && now >= clearAcknowledgement_.due) {
        clearAcknowledgement_ = Pending();
        memory_->write8(IntStatusFromHost, 0);
    }
}

void AB1784KTxBoard::refresh() {
    if (memory_ == 0 || phase_ != ScannerRunning)
        return;
    memory_->write16(ScannerStatus, scannerStatus_);
    for (unsigned q = 0; q < StatusEntries; ++q)
        memory_->write(StatusTable + 3 * q, entries_[q], 3);
    memory_->write(InputImage, inputs_, Banks);
    memory_->read(OutputImage, outputs_, Banks);
}

void AB1784KTxBoard::tick(unsigned long elapsedMs) {
    if (memory_ == 0)
        return;
    const unsigned long now = machine().now();
    // What the PC left in the window it wrote before this sleep began.
    eventTime_ = now - std::min(now, elapsedMs);

    if (const std::uint8_t value = take(HostInterruptClear)) {
        hostInterrupt_ = false;
        logWrite(HostInterruptClearLatch, value, phase_);
    }
    if (const std::uint8_t value = take(BoardReset)) {
        const Phase before = phase_;
        enter(Held);
        logWrite(BoardResetLatch, value, before);
    }
    if (const std::uint8_t value = take(BoardStart)) {
        const Phase before = phase_;
        startProgram();
        logWrite(BoardStartLatch, value, before);
    }

    switch (phase_) {
    case ClearingRam:
        if (!ramCleared_ && now - phaseSince_ >= clearRamTime_) {
            programRam_.clear();
            ramCleared_ = true;
        }
        break;
    case Loading:
        runLoader();
        break;
    case ScannerStarting:
        if (!initNeverFinishes_ && now - phaseSince_ >= startupTime_)
            finishStartup();
        break;
    default:
        break;
    }

    // A starting scanner has not enabled its interrupt yet: the request
    // stays latched until it runs.  Elsewhere it is taken, and only a
    // running scanner acts on it.
    if (phase_ != ScannerStarting) {
        if (const std::uint8_t value = take(BoardInterrupt)) {
            logWrite(BoardInterruptLatch, value, phase_);
            if (phase_ == ScannerRunning)
                interrupted();
        }
    }

    if (phase_ == ScannerRunning) {
        runCommands();
        refresh();
    }
}

}  // namespace Sim
}  // namespace Tavex
