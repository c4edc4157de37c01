// Responder: the answer to one complete request frame, from the newest
// snapshot, through libmodbus's modbus_reply on a mapping that holds the
// requested range only.  What modbus_reply leaves to its caller is checked
// here first, in the order a Modbus server checks it:
//
//   0x0A  a unit no card has
//   0x01  a function the gateway does not serve, and every write in
//         read-only mode
//   0x03  a quantity out of range, a byte count that does not match, a
//         frame too short or too long for its function, a coil value
//         other than 0x0000 and 0xFF00
//   0x02  an address where the unit has no point of that table (a write
//         to an input point included, a gap between the points and the
//         status registers)
//   0x0B  a point of a track whose card is down (state not 0); another
//         code, or 0 to answer with the last values read, as configured
//   0x06  written values that the queue to the scan cannot take now
//
// Written values go to the scan's queue and show in the answers at once
// (an overlay on the snapshot until the scan has taken them).  A write to
// one register of a 32-bit pair keeps the other half as it was.
#ifndef TAVEX_TOOLS_GATEWAY_RESPONDER_H
#define TAVEX_TOOLS_GATEWAY_RESPONDER_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "Exchange.h"
#include "RegisterMap.h"
#include "ScanBridge.h"

typedef struct _modbus modbus_t;
typedef struct _modbus_mapping_t modbus_mapping_t;

namespace Tavex {
namespace Gateway {

struct ServeOptions {
    ServeOptions() : lowWordFirst(false), downCode(0x0B), readOnly(false) {}
    bool lowWordFirst;   // the low word of a 32-bit value in the first register
    int downCode;        // exception for a down card; 0: answer with the last values
    bool readOnly;       // refuse every write (0x01)
};

class Responder {
public:
    Responder(const RegisterMap& map, Exchange& exchange, const ServeOptions& options,
              Clock clock = steadyNow);
    ~Responder();
    Responder(const Responder&) = delete;
    Responder& operator=(const Responder&) = delete;

    // Answers frame (MBAP header and PDU, complete) on the socket of ctx.
    // False when the answer could not be sent: the connection is done for.
    bool answer(modbus_t* ctx, const std::uint8_t* frame, std::size_t size);

private:
    struct Request;
    struct UnitState {
        const Unit* unit;
        modbus_mapping_t* mapping;
    };

    int checkRequest(const std::uint8_t* frame, std::size_t size, Request& request);
    bool covered(const Unit& unit, Table table, unsigned address, unsigned count) const;
    bool down(const Unit& unit, Table table, unsigned address, unsigned count) const;
    std::int32_t effective(std::uint32_t value) const;
    void fill(UnitState& state, Table table, unsigned address, unsigned count);
    void store(UnitState& state, const std::uint8_t* pdu);
    std::size_t collect(UnitState& state, Table table, unsigned address, unsigned count);

    const RegisterMap& map_;
    Exchange& exchange_;
    ServeOptions options_;
    Clock clock_;
    std::vector<UnitState> units_;
    const Snapshot* snapshot_;
    std::vector<std::int32_t> pendingValue_;   // by value index
    std::vector<std::uint64_t> pendingSeq_;    // queue sequence of the value, 0: none
    std::vector<Write> writes_;
};

}  // namespace Gateway
}  // namespace Tavex

#endif
