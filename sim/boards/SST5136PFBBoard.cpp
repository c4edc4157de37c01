#include "tavex/sim/boards/SST5136PFBBoard.h"

#include <algorithm>
#include <stdexcept>

#include "tavex/sim/Machine.h"

namespace Tavex {
namespace Sim {

namespace {

typedef SST5136PFBBoard Pfb;

// Bits of a slave word.
const std::uint16_t dataValid = 0x8000;
const std::uint16_t noRecord = 0x00FF;

// Record fields the module fills in; the rest of the 128 bytes is 0.
const unsigned recordAddress = 0;
const unsigned recordInputSize = 2;
const unsigned recordOutputSize = 4;
const unsigned recordInputOffset = 8;
const unsigned recordOutputOffset = 10;

// Automatic configuration, and every command after it, need this version.
const std::uint16_t autoconfigurationVersion = 0x0155;

const unsigned long unknownCommandTime = 10;

void put16(std::uint8_t* to, std::uint16_t value) {
    to[0] = static_cast<std::uint8_t>(value);
    to[1] = static_cast<std::uint8_t>(value >> 8);
}

}  // namespace

Pfb::Answer::Answer()
    : status(-1), never(false), acknowledgementIgnored(false), state(-1), thenState(-1),
      thenAfter(0) {}

SST5136PFBBoard::SST5136PFBBoard(PCIHostBridge& bridge, std::uint8_t bus, std::uint8_t device,
                                 std::uint8_t function, std::uint32_t memoryAddress)
    : bridge_(bridge),
      bus_(bus),
      device_(device),
      functionNumber_(function),
      address_(memoryAddress),
      memory_(0),
      phase_(LoaderWaiting),
      eventTime_(0),
      hasExpectedModule_(false),
      loaderTime_(50),
      moduleStartTime_(1500),
      acknowledgeTime_(10),
      loaderSilent_(false),
      moduleNeverStarts_(false),
      moduleSilent_(false),
      startedAt_(0),
      cardId_(CardId),
      moduleId_(ModuleId),
      version_(DefaultVersion),
      startBaudRate_(DefaultBaudRate),
      recordPage_(0x05),
      inputPage_(0x08),
      outputPage_(0x0A),
      transferPage_(0x04),
      shown_(0),
      busy_(false),
      busySeen_(0),
      awaitingAcknowledgement_(false),
      failedSeen_(0),
      laterCode_(0),
      writesWhileBusy_(0),
      ignoredWrites_(0),
      online_(false),
      published_(false),
      autoconfigurationStarted_(false),
      transferOpen_(false),
      networkBaudRate_(0),
      flashValid_(false),
      flashWrites_(0) {
    if (memoryAddress == 0 || memoryAddress % WindowSize != 0)
        throw std::logic_error("Sim::SST5136PFBBoard: memory address not a multiple of 2 MiB");
    commandTimes_[CommandOnline] = 50;
    commandTimes_[CommandOffline] = 30;
    commandTimes_[CommandInitialise] = 20;
    commandTimes_[CommandStartAutoconfiguration] = 30;
    commandTimes_[CommandBlock] = 10;
    commandTimes_[CommandAutoconfigure] = 2000;
    commandTimes_[CommandApplyConfiguration] = 200;
    commandTimes_[CommandFromFlash] = 300;
    commandTimes_[CommandToFlash] = 1500;

    // The BIOS has placed the memory and enabled its decoding.
    function_.setIds(VendorId, DeviceId)
        .setSubsystem(VendorId, DeviceId)
        .setClassCode(0x02, 0x80)   // network controller, other
        .setRevisionId(0x01)
        .setStatus(0x0280)          // medium DEVSEL, fast back-to-back
        .setBaseAddress(0, address_, WindowSize)
        .setInterrupt(0x0A, 0x01)
        .set16(0x04, 0x0002);       // memory space enabled
}

SST5136PFBBoard::~SST5136PFBBoard() {}

const char* SST5136PFBBoard::name() const { return "5136-PFB-PCI"; }

const char* SST5136PFBBoard::phaseName(Phase phase) {
    switch (phase) {
    case LoaderWaiting: return "loader waiting";
    case LoaderTaking: return "loader taking the module";
    case LoaderAnswered: return "loader answered";
    case ModuleStarting: return "module starting";
    case ModuleRunning: return "module running";
    case Hung: return "hung";
    }
    return "?";
}

void SST5136PFBBoard::plugged() {
    memory_ = &machine().addRegion(this, address_, WindowSize, "5136-PFB-PCI shared memory");
    bridge_.attach(bus_, device_, functionNumber_, function_);
    // The loader runs from power-on and asks for a module at once.
    memory_->write8(HandshakeByte, LoaderRequest);
}

Region& SST5136PFBBoard::memory() const {
    if (memory_ == 0)
        throw std::logic_error("Sim::SST5136PFBBoard: board not plugged");
    return *memory_;
}

SST5136PFBBoard& SST5136PFBBoard::setPrefetchable(bool prefetchable) {
    function_.setBaseAddress(0, address_ | (prefetchable ? 0x8u : 0u), WindowSize);
    return *this;
}

SST5136PFBBoard& SST5136PFBBoard::powerUpRunning(bool online) {
    if (phase_ != LoaderWaiting || memory_ == 0)
        throw std::logic_error("Sim::SST5136PFBBoard: the board has already started");
    memory_->write8(HandshakeByte, LoaderGo);
    eventTime_ = machine().now();
    startModule();
    published_ = true;
    relayout();
    if (online) {
        online_ = true;
        networkBaudRate_ = startBaudRate_;
        showState(StateOnline);
    }
    refresh();
    return *this;
}

// --- module and timing -------------------------------------------------------

SST5136PFBBoard& SST5136PFBBoard::setExpectedModule(const Bytes& module) {
    expectedModule_ = module;
    hasExpectedModule_ = true;
    return *this;
}

SST5136PFBBoard& SST5136PFBBoard::setLoaderTime(unsigned long ms) {
    loaderTime_ = ms;
    return *this;
}

SST5136PFBBoard& SST5136PFBBoard::setModuleStartTime(unsigned long ms) {
    moduleStartTime_ = ms;
    return *this;
}

SST5136PFBBoard& SST5136PFBBoard::setCommandTime(std::uint8_t code, unsigned long ms) {
    commandTimes_[code] = ms;
    return *this;
}

SST5136PFBBoard& SST5136PFBBoard::setAcknowledgeTime(unsigned long ms) {
    acknowledgeTime_ = ms;
    return *this;
}

SST5136PFBBoard& SST5136PFBBoard::setCardId(std::uint16_t id) {
    cardId_ = id;
    publishIdentity();
    return *this;
}

SST5136PFBBoard& SST5136PFBBoard::setModuleId(std::uint16_t id) {
    moduleId_ = id;
    publishIdentity();
    return *this;
}

SST5136PFBBoard& SST5136PFBBoard::setModuleVersion(std::uint16_t version) {
    version_ = version;
    publishIdentity();
    return *this;
}

SST5136PFBBoard& SST5136PFBBoard::setStartBaudRate(std::uint8_t code) {
    startBaudRate_ = code;
    return *this;
}

SST5136PFBBoard& SST5136PFBBoard::setPages(std::uint8_t records, std::uint8_t inputs,
                                           std::uint8_t outputs, std::uint8_t transfer) {
    recordPage_ = records;
    inputPage_ = inputs;
    outputPage_ = outputs;
    transferPage_ = transfer;
    if (published_ && phase_ == ModuleRunning)
        relayout();
    return *this;
}

// --- fault knobs ---------------------------------------------------------------

SST5136PFBBoard& SST5136PFBBoard::setLoaderSilent(bool silent) {
    loaderSilent_ = silent;
    return *this;
}

SST5136PFBBoard& SST5136PFBBoard::setModuleNeverStarts(bool never) {
    moduleNeverStarts_ = never;
    return *this;
}

SST5136PFBBoard& SST5136PFBBoard::setModuleSilent(bool silent) {
    moduleSilent_ = silent;
    return *this;
}

SST5136PFBBoard& SST5136PFBBoard::setAnswer(std::uint8_t code, const Answer& answer) {
    answersByCode_[code] = answer;
    return *this;
}

SST5136PFBBoard& SST5136PFBBoard::setAnswerAt(unsigned sequence, const Answer& answer) {
    answersBySequence_[sequence] = answer;
    return *this;
}

SST5136PFBBoard& SST5136PFBBoard::failCommand(std::uint8_t code, std::uint8_t status) {
    Answer answer;
    answer.status = status;
    return setAnswer(code, answer);
}

// --- field side ------------------------------------------------------------------

void SST5136PFBBoard::checkAddress(unsigned address) const {
    if (address >= Slaves)
        throw std::out_of_range("Sim::SST5136PFBBoard: no such slave address");
}

const SST5136PFBBoard::Slave& SST5136PFBBoard::slave(unsigned address) const {
    checkAddress(address);
    std::map<unsigned, Slave>::const_iterator found = slaves_.find(address);
    if (found == slaves_.end())
        throw std::logic_error("Sim::SST5136PFBBoard: no slave at this address");
    return found->second;
}

SST5136PFBBoard::Slave& SST5136PFBBoard::slave(unsigned address) {
    return const_cast<Slave&>(static_cast<const SST5136PFBBoard*>(this)->slave(address));
}

SST5136PFBBoard& SST5136PFBBoard::addSlave(unsigned address, unsigned inputBytes,
                                           unsigned outputBytes, bool configured) {
    checkAddress(address);
    if (inputBytes > MaxDataBytes || outputBytes > MaxDataBytes)
        throw std::out_of_range("Sim::SST5136PFBBoard: a slave has at most 244 bytes each way");
    Slave s;
    s.sizes.inputBytes = inputBytes;
    s.sizes.outputBytes = outputBytes;
    s.answering = true;
    s.inputs.assign(inputBytes, 0);
    s.outputs.assign(outputBytes, 0);
    slaves_[address] = s;
    if (configured) {
        Configuration next = configuration_;
        next.slaves[address] = s.sizes;
        setConfiguration(next);
    } else {
        refresh();
    }
    return *this;
}

SST5136PFBBoard& SST5136PFBBoard::removeSlave(unsigned address) {
    slave(address);
    slaves_.erase(address);
    Configuration next = configuration_;
    next.slaves.erase(address);
    setConfiguration(next);
    return *this;
}

SST5136PFBBoard& SST5136PFBBoard::setConfigured(unsigned address, bool configured) {
    const Slave& s = slave(address);
    Configuration next = configuration_;
    if (configured)
        next.slaves[address] = s.sizes;
    else
        next.slaves.erase(address);
    setConfiguration(next);
    return *this;
}

SST5136PFBBoard& SST5136PFBBoard::setAnswering(unsigned address, bool answering) {
    slave(address).answering = answering;
    refresh();
    return *this;
}

SST5136PFBBoard& SST5136PFBBoard::setSlaveLayout(unsigned address, std::uint8_t record,
                                                 std::int16_t inputOffset,
                                                 std::int16_t outputOffset) {
    checkAddress(address);
    Layout fixed = {record, inputOffset, outputOffset};
    fixedLayouts_[address] = fixed;
    relayout();
    return *this;
}

SST5136PFBBoard& SST5136PFBBoard::setInputs(unsigned address, unsigned offset,
                                            const Bytes& bytes) {
    Slave& s = slave(address);
    if (offset + bytes.size() > s.inputs.size())
        throw std::out_of_range("Sim::SST5136PFBBoard: beyond the slave's inputs");
    std::copy(bytes.begin(), bytes.end(), s.inputs.begin() + offset);
    refresh();
    return *this;
}

SST5136PFBBoard& SST5136PFBBoard::setInput(unsigned address, unsigned byte, std::uint8_t value) {
    return setInputs(address, byte, Bytes(1, value));
}

const SST5136PFBBoard::Bytes& SST5136PFBBoard::outputs(unsigned address) const {
    return slave(address).outputs;
}

std::uint8_t SST5136PFBBoard::output(unsigned address, unsigned byte) const {
    const Bytes& out = outputs(address);
    if (byte >= out.size())
        throw std::out_of_range("Sim::SST5136PFBBoard: beyond the slave's outputs");
    return out[byte];
}

const SST5136PFBBoard::Bytes& SST5136PFBBoard::inputs(unsigned address) const {
    return slave(address).inputs;
}

bool SST5136PFBBoard::isConfigured(unsigned address) const {
    checkAddress(address);
    return configuration_.slaves.count(address) != 0;
}

SST5136PFBBoard::Layout SST5136PFBBoard::layout(unsigned address) const {
    checkAddress(address);
    std::map<unsigned, Layout>::const_iterator found = layouts_.find(address);
    if (found == layouts_.end())
        throw std::logic_error("Sim::SST5136PFBBoard: slave not configured");
    return found->second;
}

std::uint16_t SST5136PFBBoard::slaveWord(unsigned address) const {
    checkAddress(address);
    return memory().read16(SlaveWords + 2 * address);
}

std::int64_t SST5136PFBBoard::inputDataOffset(unsigned address) const {
    return areaOffset(inputPage_) + layout(address).inputOffset;
}

std::int64_t SST5136PFBBoard::outputDataOffset(unsigned address) const {
    return areaOffset(outputPage_) + layout(address).outputOffset;
}

// --- configuration and flash -------------------------------------------------------

SST5136PFBBoard& SST5136PFBBoard::storeInFlash() {
    flash_ = configuration_;
    flashValid_ = true;
    return *this;
}

SST5136PFBBoard& SST5136PFBBoard::eraseFlash() {
    flash_ = Configuration();
    flashValid_ = false;
    return *this;
}

SST5136PFBBoard::Bytes SST5136PFBBoard::receivedConfiguration() const {
    Bytes all;
    for (std::size_t i = 0; i < blocks_.size(); ++i)
        all.insert(all.end(), blocks_[i].data.begin(), blocks_[i].data.end());
    return all;
}

// --- inspection --------------------------------------------------------------------

bool SST5136PFBBoard::moduleImageStartsWith(const Bytes& bytes) const {
    return bytes.size() <= moduleImage_.size() &&
           std::equal(bytes.begin(), bytes.end(), moduleImage_.begin());
}

SST5136PFBBoard::Bytes SST5136PFBBoard::commandCodes() const {
    Bytes codes;
    for (std::size_t i = 0; i < commands_.size(); ++i)
        codes.push_back(commands_[i].code);
    return codes;
}

// --- the board's memory, as its processor writes it ---------------------------------

// The module's own pages all lie in its memory; a page byte that a test set
// beyond it names memory the board does not have.
std::int64_t SST5136PFBBoard::areaOffset(std::uint8_t page) const {
    return static_cast<std::int64_t>(page) * PageSize;
}

// Only the part of a record or data range that lies in the window is
// written: there is no memory beyond it on the board.
void SST5136PFBBoard::write8(std::int64_t offset, std::uint8_t value) {
    if (offset >= 0 && offset < WindowSize)
        memory_->write8(static_cast<std::uint32_t>(offset), value);
}

void SST5136PFBBoard::writeSpan(std::int64_t offset, const std::uint8_t* bytes,
                                std::uint32_t length) {
    for (std::uint32_t i = 0; i < length; ++i)
        write8(offset + i, bytes[i]);
}

void SST5136PFBBoard::fillSpan(std::int64_t offset, std::uint32_t length, std::uint8_t value) {
    for (std::uint32_t i = 0; i < length; ++i)
        write8(offset + i, value);
}

void SST5136PFBBoard::showState(std::uint8_t code) {
    memory_->write8(StateByte, code);
    shown_ = code;
}

void SST5136PFBBoard::publishIdentity() {
    if (memory_ == 0 || phase_ != ModuleRunning)
        return;
    memory_->write16(CardIdWord, cardId_);
    memory_->write16(ModuleIdWord, moduleId_);
    memory_->write16(VersionWord, version_);
}

void SST5136PFBBoard::startModule() {
    phase_ = ModuleRunning;
    startedAt_ = eventTime_;
    online_ = false;
    published_ = false;
    busy_ = false;
    awaitingAcknowledgement_ = false;
    answerDue_ = Pending();
    acknowledgement_ = Pending();
    laterState_ = Pending();
    publishIdentity();
    memory_->write8(BaudRateByte, startBaudRate_);
    memory_->write8(StatusByte, 0);
    showState(StateIdle);
}

void SST5136PFBBoard::setConfiguration(const Configuration& configuration) {
    configuration_ = configuration;
    relayout();
}

// Records in ascending slave address, data packed in that order, unless the
// test fixed a slave's place.
void SST5136PFBBoard::relayout() {
    layouts_.clear();
    unsigned record = 0;
    std::int32_t in = 0, out = 0;
    for (std::map<unsigned, SlaveSizes>::const_iterator it = configuration_.slaves.begin();
         it != configuration_.slaves.end(); ++it) {
        Layout place = {static_cast<std::uint8_t>(record), static_cast<std::int16_t>(in),
                        static_cast<std::int16_t>(out)};
        std::map<unsigned, Layout>::const_iterator fixed = fixedLayouts_.find(it->first);
        layouts_[it->first] = fixed != fixedLayouts_.end() ? fixed->second : place;
        ++record;
        in += static_cast<std::int32_t>(it->second.inputBytes);
        out += static_cast<std::int32_t>(it->second.outputBytes);
    }
    if (memory_ == 0 || phase_ != ModuleRunning || !published_)
        return;

    write8(RecordPageByte, recordPage_);
    write8(InputPageByte, inputPage_);
    write8(OutputPageByte, outputPage_);
    write8(TransferPageByte, transferPage_);
    for (std::map<unsigned, Layout>::const_iterator it = layouts_.begin(); it != layouts_.end();
         ++it) {
        const SlaveSizes& sizes = configuration_.slaves[it->first];
        std::uint8_t bytes[RecordSize] = {0};
        bytes[recordAddress] = static_cast<std::uint8_t>(it->first);
        put16(bytes + recordInputSize, static_cast<std::uint16_t>(sizes.inputBytes));
        put16(bytes + recordOutputSize, static_cast<std::uint16_t>(sizes.outputBytes));
        put16(bytes + recordInputOffset, static_cast<std::uint16_t>(it->second.inputOffset));
        put16(bytes + recordOutputOffset, static_cast<std::uint16_t>(it->second.outputOffset));
        writeSpan(areaOffset(recordPage_) + it->second.record * RecordSize, bytes, RecordSize);
        fillSpan(inputDataOffset(it->first), sizes.inputBytes, 0);
        fillSpan(outputDataOffset(it->first), sizes.outputBytes, 0);
    }
    refresh();
}

bool SST5136PFBBoard::exchanging(unsigned address) const {
    if (!online_ || configuration_.slaves.count(address) == 0)
        return false;
    std::map<unsigned, Slave>::const_iterator found = slaves_.find(address);
    return found != slaves_.end() && found->second.answering;
}

void SST5136PFBBoard::writeSlaveWords() {
    for (unsigned n = 0; n < Slaves; ++n) {
        std::uint16_t word = noRecord;
        std::map<unsigned, Layout>::const_iterator found = layouts_.find(n);
        if (found != layouts_.end())
            word = static_cast<std::uint16_t>(found->second.record |
                                              (exchanging(n) ? dataValid : 0));
        memory_->write16(SlaveWords + 2 * n, word);
    }
}

void SST5136PFBBoard::exchange() {
    for (std::map<unsigned, Layout>::const_iterator it = layouts_.begin(); it != layouts_.end();
         ++it) {
        if (!exchanging(it->first))
            continue;
        Slave& s = slaves_[it->first];
        const SlaveSizes& sizes = configuration_.slaves[it->first];
        const std::uint32_t in = std::min<std::uint32_t>(
            sizes.inputBytes, static_cast<std::uint32_t>(s.inputs.size()));
        if (in)
            writeSpan(inputDataOffset(it->first), &s.inputs[0], in);
        const std::int64_t from = outputDataOffset(it->first);
        const std::uint32_t out = std::min<std::uint32_t>(
            sizes.outputBytes, static_cast<std::uint32_t>(s.outputs.size()));
        for (std::uint32_t i = 0; i < out; ++i)
            if (from + i >= 0 && from + i < WindowSize)
                s.outputs[i] = memory_->read8(static_cast<std::uint32_t>(from + i));
    }
}

void SST5136PFBBoard::refresh() {
    if (memory_ == 0 || phase_ != ModuleRunning || !published_)
        return;
    writeSlaveWords();
    exchange();
}

// --- the module's command loop ----------------------------------------------------

// How the module answers the last command it took.
SST5136PFBBoard::Answer SST5136PFBBoard::answerFor() const {
    const unsigned sequence = static_cast<unsigned>(commands_.size() - 1);
    std::map<unsigned, Answer>::const_iterator bySequence = answersBySequence_.find(sequence);
    if (bySequence != answersBySequence_.end())
        return bySequence->second;
    std::map<std::uint8_t, Answer>::const_iterator byCode =
        answersByCode_.find(commands_.back().code);
    if (byCode != answersByCode_.end())
        return byCode->second;
    return Answer();
}

void SST5136PFBBoard::takeCommand(std::uint8_t code) {
    Command command;
    command.code = code;
    command.stateBefore = shown_;
    command.takenAt = eventTime_;
    command.parameters.p0E = memory_->read8(OnlineParameter0E);
    command.parameters.p10 = memory_->read8(OnlineParameter10);
    command.parameters.baudRate = memory_->read8(BaudRateByte);
    command.parameters.p28 = memory_->read8(OnlineParameter28);
    command.answered = false;
    command.answeredAt = 0;
    command.state = 0;
    command.status = 0;
    command.acknowledged = false;
    command.acknowledgedAt = 0;
    commands_.push_back(command);

    busy_ = true;
    busySeen_ = code;
    laterState_ = Pending();
    if (answerFor().never)
        return;
    std::map<std::uint8_t, unsigned long>::const_iterator time = commandTimes_.find(code);
    answerDue_.active = true;
    answerDue_.due = eventTime_ + (time != commandTimes_.end() ? time->second : unknownCommandTime);
}

std::uint8_t SST5136PFBBoard::takeBlock() {
    if (!transferOpen_) {
        blocks_.clear();
        transferOpen_ = true;
    }
    Block block;
    block.number = memory_->read8(BlockNumberByte);
    block.lengthByte = memory_->read8(BlockLengthByte);
    if (block.number != static_cast<std::uint8_t>(blocks_.size()))
        return StatusBlockSequence;
    // A length byte of 0 is a whole buffer.
    const std::uint32_t length =
        block.lengthByte ? static_cast<std::uint32_t>(block.lengthByte) : std::uint32_t(PageSize);
    const std::int64_t buffer = areaOffset(transferPage_);
    block.data.assign(length, 0);
    for (std::uint32_t i = 0; i < length && buffer + i < WindowSize; ++i)
        block.data[i] = memory_->read8(static_cast<std::uint32_t>(buffer + i));
    blocks_.push_back(block);
    return 0;
}

std::uint8_t SST5136PFBBoard::execute(Command& command) {
    const bool knowsAutoconfiguration = version_ >= autoconfigurationVersion;
    switch (command.code) {
    case CommandOnline:
        networkBaudRate_ = command.parameters.baudRate;
        online_ = true;
        return 0;
    case CommandOffline:
        online_ = false;
        return 0;
    case CommandInitialise:
        published_ = true;
        relayout();
        return 0;
    case CommandStartAutoconfiguration:
        if (!knowsAutoconfiguration)
            return StatusUnknownCommand;
        if (online_)
            return StatusOnline;
        autoconfigurationStarted_ = true;
        return 0;
    case CommandBlock:
        if (online_)
            return StatusOnline;
        return takeBlock();
    case CommandAutoconfigure: {
        if (!knowsAutoconfiguration)
            return StatusUnknownCommand;
        if (online_)
            return StatusOnline;
        if (!autoconfigurationStarted_)
            return StatusNoAutoconfiguration;
        networkBaudRate_ = command.parameters.baudRate;
        Configuration found;
        for (std::map<unsigned, Slave>::const_iterator it = slaves_.begin(); it != slaves_.end();
             ++it)
            if (it->second.answering)
                found.slaves[it->first] = it->second.sizes;
        setConfiguration(found);
        return 0;
    }
    case CommandApplyConfiguration: {
        if (online_)
            return StatusOnline;
        Configuration next = configuration_;
        next.bytes = transferOpen_ ? receivedConfiguration() : Bytes();
        setConfiguration(next);
        return 0;
    }
    case CommandFromFlash:
        if (online_)
            return StatusOnline;
        if (!flashValid_)
            return StatusFlashEmpty;
        setConfiguration(flash_);
        return 0;
    case CommandToFlash:
        if (online_)
            return StatusOnline;
        flash_ = configuration_;
        flashValid_ = true;
        ++flashWrites_;
        return 0;
    default:
        return StatusUnknownCommand;
    }
}

void SST5136PFBBoard::answerCommand() {
    const unsigned long answeredAt = answerDue_.due;
    answerDue_ = Pending();
    busy_ = false;
    Command& command = commands_.back();
    const Answer answer = answerFor();
    // A forced failure does nothing of what the command would have done.
    const bool forced = answer.status >= 0;
    const std::uint8_t status =
        forced ? static_cast<std::uint8_t>(answer.status) : execute(command);
    const bool success = !forced && status == 0;

    // A transfer goes on only from block to block, and automatic
    // configuration only straight after its start.
    if (!(success && command.code == CommandBlock))
        transferOpen_ = false;
    if (!(success && command.code == CommandStartAutoconfiguration))
        autoconfigurationStarted_ = false;

    command.answered = true;
    command.answeredAt = answeredAt;
    command.status = status;
    memory_->write8(StatusByte, status);
    if (!success) {
        command.state = StateFailed;
        showState(StateFailed);
        awaitingAcknowledgement_ = true;
        failedSeen_ = StateFailed;
        return;
    }
    std::uint8_t state = online_ ? StateOnline : StateIdle;
    if (answer.state >= 0) {
        state = static_cast<std::uint8_t>(answer.state);
        online_ = state == StateOnline;
    }
    command.state = state;
    showState(state);
    if (answer.thenState >= 0) {
        laterState_.active = true;
        laterState_.due = answeredAt + answer.thenAfter;
        laterCode_ = static_cast<std::uint8_t>(answer.thenState);
    }
}

void SST5136PFBBoard::runModule() {
    const unsigned long now = machine().now();
    const std::uint8_t seen = memory_->read8(StateByte);

    if (busy_) {
        if (seen != busySeen_) {
            ++writesWhileBusy_;
            busySeen_ = seen;
        }
        if (answerDue_.active && now >= answerDue_.due)
            answerCommand();
        return;
    }
    if (acknowledgement_.active) {
        if (now >= acknowledgement_.due) {
            acknowledgement_ = Pending();
            online_ = false;
            showState(StateIdle);
        }
        return;
    }
    if (awaitingAcknowledgement_) {
        if (seen == StateAcknowledge && failedSeen_ != StateAcknowledge) {
            failedSeen_ = StateAcknowledge;
            Command& command = commands_.back();
            if (answerFor().acknowledgementIgnored)
                return;
            awaitingAcknowledgement_ = false;
            // The failure is handed back: its detail goes with it.
            memory_->write8(StatusByte, 0);
            command.acknowledged = true;
            command.acknowledgedAt = eventTime_;
            acknowledgement_.active = true;
            acknowledgement_.due = eventTime_ + acknowledgeTime_;
            runModule();
        } else if (seen != failedSeen_) {
            ++ignoredWrites_;
            failedSeen_ = seen;
        }
        return;
    }
    if (seen != shown_ && !moduleSilent_) {
        takeCommand(seen);
        runModule();
        return;
    }
    if (laterState_.active && now >= laterState_.due) {
        laterState_ = Pending();
        online_ = laterCode_ == StateOnline;
        showState(laterCode_);
    }
}

void SST5136PFBBoard::tick(unsigned long elapsedMs) {
    if (memory_ == 0)
        return;
    const unsigned long now = machine().now();
    // What the PC left in the window it wrote before this sleep began.
    eventTime_ = now - std::min(now, elapsedMs);

    // One tick may carry the board through several steps when their delays
    // have passed; each step waits for what only the PC can do next.
    for (;;) {
        const Phase before = phase_;
        switch (phase_) {
        case LoaderWaiting:
            if (!loaderSilent_ && memory_->read8(HandshakeByte) == ModuleInPlace) {
                moduleImage_.resize(HandshakeByte - ModuleOffset);
                memory_->read(ModuleOffset, &moduleImage_[0],
                              static_cast<std::uint32_t>(moduleImage_.size()));
                loaderAnswer_.active = true;
                loaderAnswer_.due = eventTime_ + loaderTime_;
                phase_ = LoaderTaking;
            }
            break;
        case LoaderTaking:
            if (now >= loaderAnswer_.due) {
                loaderAnswer_ = Pending();
                memory_->write8(HandshakeByte, LoaderAnswer);
                phase_ = LoaderAnswered;
            }
            break;
        case LoaderAnswered:
            if (memory_->read8(HandshakeByte) == LoaderGo) {
                if (hasExpectedModule_ && !moduleImageStartsWith(expectedModule_)) {
                    phase_ = Hung;
                } else {
                    moduleStart_.active = true;
                    moduleStart_.due = eventTime_ + moduleStartTime_;
                    phase_ = ModuleStarting;
                }
            }
            break;
        case ModuleStarting:
            if (!moduleNeverStarts_ && now >= moduleStart_.due) {
                const unsigned long pcTime = eventTime_;
                eventTime_ = moduleStart_.due;
                moduleStart_ = Pending();
                startModule();
                eventTime_ = pcTime;
            }
            break;
        case ModuleRunning:
            runModule();
            refresh();
            break;
        case Hung:
            break;
        }
        if (phase_ == before)
            return;
    }
}

}  // namespace Sim
}  // namespace Tavex
