#include "Responder.h"

#include <modbus/modbus.h>

#include <new>
#include <stdexcept>

namespace Tavex {
namespace Gateway {

namespace {

enum Function {
    ReadCoils = 0x01,
    ReadDiscreteInputs = 0x02,
    ReadHoldingRegisters = 0x03,
    ReadInputRegisters = 0x04,
    WriteSingleCoil = 0x05,
    WriteSingleRegister = 0x06,
    WriteMultipleCoils = 0x0F,
    WriteMultipleRegisters = 0x10,
    MaskWriteRegister = 0x16,
    ReadWriteRegisters = 0x17
};

enum Code {
    IllegalFunction = 0x01,
    IllegalAddress = 0x02,
    IllegalValue = 0x03,
    Busy = 0x06,
    PathUnavailable = 0x0A
};

unsigned word(const std::uint8_t* p) { return (unsigned(p[0]) << 8) | p[1]; }

}  // namespace

// What a request reads and what it writes.
struct Responder::Request {
    UnitState* state;
    bool reads;
    Table readTable;
    unsigned readAddress, readCount;
    bool writes;
    Table writeTable;
    unsigned writeAddress, writeCount;
};

Responder::Responder(const RegisterMap& map, Exchange& exchange, const ServeOptions& options,
                     Clock clock)
    : map_(map), exchange_(exchange), options_(options), clock_(clock), snapshot_(0),
      pendingValue_(map.valueCount(), 0), pendingSeq_(map.valueCount(), 0) {
    writes_.reserve(MODBUS_MAX_WRITE_BITS);
    for (const Unit& unit : map.units()) {
        modbus_mapping_t* mapping = modbus_mapping_new(
            int(RegisterMap::size(unit, Coils)), int(RegisterMap::size(unit, DiscreteInputs)),
            int(RegisterMap::size(unit, HoldingRegisters)),
            int(map.statusBase() + RegisterMap::statusSize(unit)));
        if (!mapping) {
            for (UnitState& done : units_)
                modbus_mapping_free(done.mapping);
            throw std::bad_alloc();
        }
        units_.push_back(UnitState{&unit, mapping});
    }
}

Responder::~Responder() {
    for (UnitState& state : units_)
        modbus_mapping_free(state.mapping);
}

bool Responder::covered(const Unit& unit, Table table, unsigned address, unsigned count) const {
    const unsigned long end = (unsigned long)address + count;
    const std::size_t points = RegisterMap::size(unit, table);
    if (end <= points)
        return true;
    if (table != InputRegisters)
        return false;
    const unsigned long base = map_.statusBase();
    const unsigned long statusEnd = base + RegisterMap::statusSize(unit);
    // The status block, or points running straight on into it.
    return end <= statusEnd && (address >= base || points >= base);
}

bool Responder::down(const Unit& unit, Table table, unsigned address, unsigned count) const {
    const bool pairs = table == HoldingRegisters || table == InputRegisters;
    const std::vector<PointRef>& points = unit.points[table];
    unsigned first = pairs ? address / 2 : address;
    unsigned last = pairs ? (address + count - 1) / 2 : address + count - 1;
    for (unsigned i = first; i <= last && i < points.size(); ++i)
        if (snapshot_->states[points[i].track] != 0)
            return true;
    return false;
}

std::int32_t Responder::effective(std::uint32_t value) const {
    return pendingSeq_[value] > snapshot_->applied ? pendingValue_[value]
                                                  : snapshot_->values[value];
}

int Responder::checkRequest(const std::uint8_t* frame, std::size_t size, Request& request) {
    request = Request();
    const int unitId = frame[6];
    request.state = 0;
    for (UnitState& state : units_)
        if (state.unit->id == unitId)
            request.state = &state;
    if (!request.state)
        return PathUnavailable;

    const std::uint8_t* pdu = frame + 7;
    const std::size_t length = size - 7;
    const unsigned function = pdu[0];
    const bool write = function == WriteSingleCoil || function == WriteSingleRegister ||
                       function == WriteMultipleCoils || function == WriteMultipleRegisters ||
                       function == MaskWriteRegister || function == ReadWriteRegisters;
    switch (function) {
    case ReadCoils: case ReadDiscreteInputs: case ReadHoldingRegisters: case ReadInputRegisters:
    case WriteSingleCoil: case WriteSingleRegister: case WriteMultipleCoils:
    case WriteMultipleRegisters: case MaskWriteRegister: case ReadWriteRegisters:
        break;
    default:
        return IllegalFunction;
    }
    if (write && options_.readOnly)
        return IllegalFunction;

    // The quantities and the frame's own length.
    switch (function) {
    case ReadCoils: case ReadDiscreteInputs: case ReadHoldingRegisters:
    case ReadInputRegisters: {
        if (length != 5)
            return IllegalValue;
        const unsigned count = word(pdu + 3);
        const unsigned max = function <= ReadDiscreteInputs ? MODBUS_MAX_READ_BITS
                                                            : MODBUS_MAX_READ_REGISTERS;
        if (count < 1 || count > max)
            return IllegalValue;
        static const Table tables[] = {Coils, DiscreteInputs, HoldingRegisters, InputRegisters};
        request.reads = true;
        request.readTable = tables[function - 1];
        request.readAddress = word(pdu + 1);
        request.readCount = count;
        break;
    }
    case WriteSingleCoil:
        if (length != 5 || (word(pdu + 3) != 0 && word(pdu + 3) != 0xFF00))
            return IllegalValue;
        request.writes = true;
        request.writeTable = Coils;
        request.writeAddress = word(pdu + 1);
        request.writeCount = 1;
        break;
    case WriteSingleRegister: case MaskWriteRegister:
        if (length != (function == WriteSingleRegister ? 5u : 7u))
            return IllegalValue;
        request.writes = true;
        request.writeTable = HoldingRegisters;
        request.writeAddress = word(pdu + 1);
        request.writeCount = 1;
        break;
    case WriteMultipleCoils: case WriteMultipleRegisters: {
        if (length < 6)
            return IllegalValue;
        const unsigned count = word(pdu + 3);
        const bool coils = function == WriteMultipleCoils;
        const unsigned max = coils ? MODBUS_MAX_WRITE_BITS : MODBUS_MAX_WRITE_REGISTERS;
        if (count < 1 || count > max)
            return IllegalValue;
        const unsigned bytes = coils ? (count + 7) / 8 : 2 * count;
        if (pdu[5] != bytes || length != 6 + bytes)
            return IllegalValue;
        request.writes = true;
        request.writeTable = coils ? Coils : HoldingRegisters;
        request.writeAddress = word(pdu + 1);
        request.writeCount = count;
        break;
    }
    case ReadWriteRegisters: {
        if (length < 10)
            return IllegalValue;
        const unsigned readCount = word(pdu + 3), writeCount = word(pdu + 7);
        if (readCount < 1 || readCount > MODBUS_MAX_WR_READ_REGISTERS || writeCount < 1 ||
            writeCount > MODBUS_MAX_WR_WRITE_REGISTERS || pdu[9] != 2 * writeCount ||
            length != 10 + 2 * writeCount)
            return IllegalValue;
        request.reads = request.writes = true;
        request.readTable = request.writeTable = HoldingRegisters;
        request.readAddress = word(pdu + 1);
        request.readCount = readCount;
        request.writeAddress = word(pdu + 5);
        request.writeCount = writeCount;
        break;
    }
    }

    const Unit& unit = *request.state->unit;
    if ((request.reads &&
         !covered(unit, request.readTable, request.readAddress, request.readCount)) ||
        (request.writes &&
         !covered(unit, request.writeTable, request.writeAddress, request.writeCount)))
        return IllegalAddress;

    snapshot_ = &exchange_.latest();
    if (options_.downCode != 0 &&
        ((request.reads &&
          down(unit, request.readTable, request.readAddress, request.readCount)) ||
         (request.writes &&
          down(unit, request.writeTable, request.writeAddress, request.writeCount))))
        return options_.downCode;

    if (request.writes) {
        const std::size_t values = request.writeTable == Coils
                                       ? request.writeCount
                                       : (request.writeAddress + request.writeCount + 1) / 2 -
                                             request.writeAddress / 2;
        if (exchange_.room() < values)
            return Busy;
    }
    return 0;
}

void Responder::fill(UnitState& state, Table table, unsigned address, unsigned count) {
    const Unit& unit = *state.unit;
    modbus_mapping_t& mapping = *state.mapping;
    const std::vector<PointRef>& points = unit.points[table];
    if (table == Coils || table == DiscreteInputs) {
        std::uint8_t* bits = table == Coils ? mapping.tab_bits : mapping.tab_input_bits;
        for (unsigned a = address; a < address + count; ++a)
            bits[a] = effective(points[a].value) != 0;
        return;
    }
    std::uint16_t* registers =
        table == HoldingRegisters ? mapping.tab_registers : mapping.tab_input_registers;
    const unsigned high = options_.lowWordFirst ? 1 : 0;
    const unsigned end = address + count;
    for (unsigned pair = address / 2; pair < points.size() && 2 * pair < end; ++pair) {
        const std::uint32_t value = std::uint32_t(effective(points[pair].value));
        registers[2 * pair + high] = std::uint16_t(value >> 16);
        registers[2 * pair + (1 - high)] = std::uint16_t(value);
    }
    if (table == InputRegisters && end > map_.statusBase()) {
        std::uint16_t* status = registers + map_.statusBase();
        const std::uint32_t cycle = std::uint32_t(snapshot_->cycle);
        status[RegisterMap::StatusCounter + high] = std::uint16_t(cycle >> 16);
        status[RegisterMap::StatusCounter + 1 - high] = std::uint16_t(cycle);
        std::int64_t age = 65535;
        if (snapshot_->published != 0)
            age = (clock_() - snapshot_->published) / 1000000;
        status[RegisterMap::StatusAge] = std::uint16_t(age < 0 ? 0 : age > 65535 ? 65535 : age);
        for (std::size_t i = 0; i < unit.tracks.size(); ++i)
            status[RegisterMap::StatusStates + i] =
                std::uint16_t(snapshot_->states[unit.tracks[i]]);
    }
}

std::size_t Responder::collect(UnitState& state, Table table, unsigned address, unsigned count) {
    const std::vector<PointRef>& points = state.unit->points[table];
    writes_.clear();
    if (table == Coils) {
        for (unsigned a = address; a < address + count; ++a)
            writes_.push_back(Write{points[a].value, state.mapping->tab_bits[a] ? 1 : 0});
    } else {
        const unsigned high = options_.lowWordFirst ? 1 : 0;
        const std::uint16_t* registers = state.mapping->tab_registers;
        for (unsigned pair = address / 2; 2 * pair < address + count; ++pair) {
            const std::uint32_t value = (std::uint32_t(registers[2 * pair + high]) << 16) |
                                        registers[2 * pair + 1 - high];
            writes_.push_back(Write{points[pair].value, std::int32_t(value)});
        }
    }
    return writes_.size();
}

void Responder::store(UnitState& state, const std::uint8_t* pdu) {
    modbus_mapping_t& mapping = *state.mapping;
    const unsigned address = word(pdu + 1);
    switch (pdu[0]) {
    case WriteSingleCoil:
        mapping.tab_bits[address] = word(pdu + 3) ? 1 : 0;
        break;
    case WriteSingleRegister:
        mapping.tab_registers[address] = std::uint16_t(word(pdu + 3));
        break;
    case WriteMultipleCoils:
        for (unsigned i = 0; i < word(pdu + 3); ++i)
            mapping.tab_bits[address + i] = (pdu[6 + i / 8] >> (i % 8)) & 1;
        break;
    case WriteMultipleRegisters:
        for (unsigned i = 0; i < word(pdu + 3); ++i)
            mapping.tab_registers[address + i] = std::uint16_t(word(pdu + 6 + 2 * i));
        break;
    case MaskWriteRegister: {
        const unsigned andMask = word(pdu + 3), orMask = word(pdu + 5);
        std::uint16_t& value = mapping.tab_registers[address];
        value = std::uint16_t((value & andMask) | (orMask & ~andMask));
        break;
    }
    case ReadWriteRegisters:
        for (unsigned i = 0; i < word(pdu + 7); ++i)
            mapping.tab_registers[word(pdu + 5) + i] = std::uint16_t(word(pdu + 10 + 2 * i));
        break;
    }
}

bool Responder::answer(modbus_t* ctx, const std::uint8_t* frame, std::size_t size) {
    Request request;
    const int code = checkRequest(frame, size, request);
    if (code != 0)
        return modbus_reply_exception(ctx, frame, unsigned(code)) >= 0;

    UnitState& state = *request.state;
    if (request.writes) {
        // The values are queued before the answer goes out: a client that
        // has its answer knows the next cycle writes them.  modbus_reply
        // then stores the same values again (a mask write too: applying
        // the masks twice gives what applying them once does).
        fill(state, request.writeTable, request.writeAddress, request.writeCount);
        store(state, frame + 7);
        const std::size_t count =
            collect(state, request.writeTable, request.writeAddress, request.writeCount);
        const std::uint64_t last = exchange_.push(writes_.data(), count);
        for (std::size_t i = 0; i < count && last != 0; ++i) {
            pendingValue_[writes_[i].value] = writes_[i].data;
            pendingSeq_[writes_[i].value] = last - count + 1 + i;
        }
        exchange_.markWrite(clock_());
    }
    if (request.reads)
        fill(state, request.readTable, request.readAddress, request.readCount);
    return modbus_reply(ctx, frame, int(size), state.mapping) >= 0;
}

}  // namespace Gateway
}  // namespace Tavex
