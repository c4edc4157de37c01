#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets into fuzz/corpus/<target>/.

Each seed is a tape (fuzz/Tape.h): the run of one target, byte by byte in
the order the target and the cards take them.  The seeds play the boards'
side of whole protocols: a scanner that downloads, starts and confirms its
commands, Genius channels that come up healthy or after a reset, a
Profibus master that loads its module and answers every command, PCI buses
with bridges, gaps and boards, and direct-register cards that read back.
From there the fuzzer only has to change bytes to reach the failures.

    fuzz/make_corpus.py            (rewrites the seeds; run from anywhere)
"""
import os
import shutil
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

NO_FAULTS = b"\x00"
NO_PATCH = b"\x00"


def patch(*patches, offset_bytes=2):
    """A patch set: (offset, bytes) pairs."""
    out = bytes([len(patches)])
    for offset, data in patches:
        data = bytes(data)
        assert 0 < len(data) < 256
        out += offset.to_bytes(offset_bytes, "little") + bytes([len(data)]) + data
    return out


def letters(text):
    assert len(text) < 0xF0
    return bytes([len(text)]) + text.encode()


def u16(value):
    return struct.pack("<H", value & 0xFFFF)


def u32(value):
    return struct.pack("<I", value & 0xFFFFFFFF)


# The track operations of Harness.cpp (exerciseTracks).
def track(start, text):
    return b"\x00" + start + letters(text)


def long_track(start, points, pattern):
    """A track of 128 to 2048 points repeating an 8-letter pattern."""
    assert points % 128 == 0 and 128 <= points <= 2048 and len(pattern) == 8
    return b"\x00" + start + bytes([0xEF + points // 128]) + pattern.encode()


def small(start):
    """A starting point as smallStart reads it."""
    return bytes([start]) if start < 0xF0 else b"\xF0" + u32(start)


def inputs(which):
    return b"\x01" + bytes([which])


def outputs(which, values):
    out = b"\x02" + bytes([which, len(values)])
    for point, value in values:
        out += u16(point) + u32(value)
    return out


def time_passes(tens_of_ms, patches):
    return b"\x03" + bytes([tens_of_ms]) + patches


def drop(which):
    return b"\x04" + bytes([which])


def card_op(n):
    return bytes([5 + n])


# ---- 1784-KTx --------------------------------------------------------------------

KTX_BLOCKS = {0: 1, 1: 1, 2: 3, 5: 1, 6: 2}   # firmware set: download blocks


def ktx_command(transaction, response=0):
    """The board's side of one host command: confirmation, then the two
    clearings of int_status_from_host."""
    return (patch((0x00C, [2]), (0x300, [0, transaction, response])) +
            patch((0x00D, [0])) + patch((0x00D, [0])))


def ktx_start(firmware_set):
    tape = NO_FAULTS + b"\x00" + NO_PATCH       # memory all 0
    tape += b"\x00" + bytes([firmware_set]) + b"\x00"   # 0xD0000, the set, 0xFE
    tape += NO_PATCH                            # clrram.bin runs for 2 s
    for _ in range(KTX_BLOCKS[firmware_set]):
        tape += patch((0x074, [0, 1]))          # block taken: result 0, done
    tape += patch((0x00C, [1]))                 # initialised, no error
    return tape + ktx_command(1) + ktx_command(2)


def ktx_running(inputs_image):
    return time_passes(1, patch((0x07E, [4, 0]), (0x080, [3, 0x20, 0, 3, 0x20, 0]),
                                (0x400, inputs_image)))


def ab1784():
    seeds = {}
    for firmware_set in KTX_BLOCKS:
        seeds["start-firmware-%d" % firmware_set] = ktx_start(firmware_set)
    seeds["tracks"] = (ktx_start(0) +
                       track(small(0), "I" * 8 + "O" * 8) +
                       track(small(4), "IIIIOOOO" * 2) +
                       ktx_running([0x5A, 0xA5, 0, 0, 0x0F, 0xF0]) +
                       inputs(0) + outputs(0, [(8, 1), (9, 1), (15, -1)]) +
                       inputs(1) + outputs(1, [(4, 1), (12, 1)]) +
                       time_passes(1, patch((0x07E, [0, 0]))) + inputs(0) +
                       drop(0) + inputs(0))
    seeds["host-command"] = (ktx_start(0) + card_op(0) + b"\x03\x00" + ktx_command(3) +
                             card_op(0) + b"\x01\x01\x02" + ktx_command(4, 0x16) +
                             card_op(0) + b"\x01\xFE")
    seeds["widest-track"] = (ktx_start(0) + long_track(small(0), 2048, "IIIIOOOO") +
                             long_track(small(0), 2048, "I" * 8) +
                             ktx_running([0x11] * 32) + inputs(1) + outputs(0, [(2047, 1)]))
    seeds["refusals"] = (ktx_start(0) + track(small(250), "I" * 8) +
                         track(small(0xF0), "I" * 8) + track(small(0), "I" * 7) +
                         track(small(0), "IIIIAAAA"))
    seeds["download-fails"] = (NO_FAULTS + b"\x00" + NO_PATCH + b"\x00\x00\x00" + NO_PATCH +
                               patch((0x074, [2, 1])))
    seeds["bad-arguments"] = NO_FAULTS + b"\x00" + NO_PATCH + b"\x04\x00\x00"
    return seeds


# ---- Genius ----------------------------------------------------------------------

HEALTHY = 0xE7
STATIONS = (bytes([0, 1, 1, 0, 0, 0, 0, 3]) +    # station 0: inputs and outputs
            bytes([0, 1, 1, 0, 0, 0, 0, 1]) +    # 1: inputs
            bytes([0, 1, 1, 0, 0, 0, 0, 2]) +    # 2: outputs
            bytes([0, 1, 1, 0, 0, 0, 0, 3]) +    # 3: analog, both ways
            bytes([0, 1, 0, 0, 0, 0, 0, 0]))     # 4: absent


def genius_layout(table_size=32):
    return patch((0x0887, [table_size]), (0x0A48, [0, 0]), (0x1E00, STATIONS))


def genius_ops(channel="A", table_size=32):
    """Tracks and updates on stations 0 and 3 of a channel, and the
    refusals."""
    data = patch((0x2000, [0x5A, 0xC3]), (0x2000 + 3 * table_size, [0, 0x80, 0xFF, 0x7F]))
    ticks = data + NO_PATCH if channel == "A" else NO_PATCH + data
    return (track(small(0), "IIIIIIIIOOOOOOOO") + track(small(3), "AAAAUUUU") +
            time_passes(1, ticks) +
            inputs(0) + bytes([HEALTHY, HEALTHY]) +
            outputs(0, [(8, 1), (15, 1)]) + bytes([HEALTHY, HEALTHY]) +
            inputs(1) + bytes([HEALTHY, HEALTHY]) +
            outputs(1, [(4, 0x7FFF0000), (5, -1)]) + bytes([0xFF]) +
            track(small(1), "O" * 8) + track(small(2), "I" * 8) + track(small(4), "I" * 8) +
            track(small(0), "I" * 40) + track(small(32), "I" * 8) + track(small(5), "IIIIAAAA") +
            card_op(0) + bytes([HEALTHY]) + card_op(1) + bytes([0xEF]) + card_op(2) + b"\xFE" +
            card_op(3) + b"\x01\x42" + card_op(4) + b"\x42")


def genius():
    seeds = {}
    one = NO_FAULTS + b"\x00" + genius_layout() + b"\x00" + NO_PATCH   # A laid out, B blank
    seeds["one-channel"] = (one + b"\x00" + b"\x01\x00\x00" + bytes([HEALTHY] * 4) + b"\x00" +
                            genius_ops())
    # Channel A running; channel B held in reset until the card resets it.
    seeds["two-channels-reset"] = (
        one + b"\x00" + b"\x02" + b"\x00\x00" + bytes([HEALTHY] * 4) +
        b"\x01\x01" + b"\xFF" + b"\x00\x00" + NO_PATCH + genius_layout(128) + b"\x40\x40" +
        bytes([HEALTHY] * 2) + b"\x01" + genius_ops("B", 128))
    seeds["never-healthy"] = one + b"\x00\x01\x00\x00\xF7"
    seeds["bad-table-size"] = (NO_FAULTS + b"\x00" + patch((0x0887, [129])) + b"\x00" + NO_PATCH +
                               b"\x00\x01\x00\x00" + bytes([HEALTHY] * 4))
    seeds["third-channel"] = (one + b"\x01" + b"\x03\x00\x00" + bytes([HEALTHY] * 4) +
                              b"\x01\x01")
    return seeds


# ---- 5136-PFB-PCI ----------------------------------------------------------------

IDLE, ONLINE, FAILED = 0xE0, 0xE1, 0xEF


def pfb_patch(*patches):
    return patch(*patches, offset_bytes=3)


def pfb_state(state, status=None):
    if status is None:
        return pfb_patch((0x8000, [state]))
    return pfb_patch((0x8000, [state, status]))


PFB_LAYOUT = [
    (0x8000, [IDLE, 0, 0xD0, 0xAA, 0x01, 0xBB, 0x55, 0x01]),   # state, ids, version 0x155
    (0x802A, [4, 5, 6]),                                       # record, input, output pages
    (0x8100, [7]),                                             # transfer page
    (0x8906, [0x00, 0x80]),                                    # slave 3: record 0, valid
    (0x890A, [0x01, 0x00]),                                    # slave 5: record 1, not valid
    (0x10008, [0x10, 0x00, 0x20, 0x00]),                       # record 0: input 0x10, output 0x20
    (0x10088, [0xF0, 0xFF, 0xFF, 0x7F])]                       # record 1: -16, 0x7FFF


def pfb_start(loader=False, prefix=0):
    """Memory all 0xFF but the layout; with loader, the loader waits for
    the module and takes it after one sleep."""
    layout = PFB_LAYOUT + ([(0x1FFFFF, [0xBA])] if loader else [])
    tape = NO_FAULTS + b"\x00" + b"\xFF" + pfb_patch(*layout)
    tape += bytes([prefix]) + b"\x06\x00"                     # module, baud rate 6, card 0
    if loader:
        # The loader takes the module and starts it, which lays out the
        # memory again (a big module covers the layout).
        tape += pfb_patch((0x1FFFFF, [0x5A]), *layout[:-1])
    return tape + pfb_state(IDLE)                              # the start command


def profibus():
    seeds = {}
    seeds["start"] = pfb_start()
    seeds["start-with-loader"] = pfb_start(loader=True)
    seeds["loader-without-module"] = pfb_start(loader=True, prefix=2)
    seeds["module-too-big"] = pfb_start(loader=True, prefix=3)
    seeds["module-fills-the-window"] = pfb_start(loader=True, prefix=4)
    seeds["tracks"] = (pfb_start() +
                       track(bytes([3, 0]), "IIIIIIIIOOOOOOOO") +
                       track(bytes([5, 4]), "IIIIOOOO") +
                       time_passes(1, pfb_patch((0x14010, [0x5A, 0x3C]))) +
                       inputs(0) + outputs(0, [(8, 1), (10, 1)]) +
                       inputs(1) + outputs(1, [(4, 1)]) +
                       track(bytes([7, 0]), "I" * 8) + track(bytes([3, 240]), "I" * 32) +
                       track(bytes([127, 0]), "I" * 8) + track(bytes([3, 0]), "IIIIAAAA"))
    seeds["commands"] = (pfb_start() +
                         card_op(0) + pfb_state(ONLINE) +                     # online
                         card_op(1) + pfb_state(IDLE) + pfb_state(IDLE) +     # autoconfigure
                         pfb_state(IDLE) +
                         card_op(2) + b"\x00" + pfb_state(IDLE) + pfb_state(IDLE) +  # configure
                         card_op(2) + b"\x03" + pfb_state(IDLE) * 3 +
                         card_op(3) + pfb_state(FAILED, 0x42) + pfb_state(IDLE) +   # fails
                         card_op(4) + pfb_state(IDLE) +
                         card_op(5) + b"\x09" + card_op(6))
    # Records that put slave data before, across and exactly at the end of
    # the window: the updates must copy the last one only.
    edges = [(0x802A, [127, 0, 127]),                       # record, input, output pages
             (0x8906, [0xFE, 0x80, 0x00, 0x80, 0x01, 0x80]),  # slaves 3, 4, 5
             (0x1FC008, [0x00, 0x80, 0xFF, 0x7F]),          # record 0: -0x8000, 0x7FFF
             (0x1FC088, [0xF0, 0xFF, 0xE0, 0x3F])]          # record 1: -16, 0x3FE0
    seeds["slave-data-at-the-edges"] = (
        NO_FAULTS + b"\x00\xFF" + pfb_patch(*(PFB_LAYOUT + edges)) + b"\x00\x06\x00" +
        pfb_state(IDLE) +
        track(bytes([3, 0]), "IIIIOOOO") + track(bytes([4, 0]), "IIIIOOOO") +
        long_track(bytes([5, 20]), 256, "IIIIOOOO") + long_track(bytes([5, 0]), 256, "O" * 8) +
        inputs(0) + outputs(0, [(4, 1)]) + inputs(1) + outputs(1, [(4, 1)]) +
        inputs(2) + outputs(3, [(255, 1)]))
    seeds["no-answer"] = pfb_start() + card_op(0)
    seeds["not-found"] = NO_FAULTS + b"\x00\xFF" + pfb_patch(*PFB_LAYOUT) + b"\x00\x06\x07"
    return seeds


# ---- PCI scan --------------------------------------------------------------------


def header(vendor, device, **fields):
    space = bytearray(64)
    space[0:4] = u16(vendor) + u16(device)
    for offset, value in fields.items():
        at = int(offset[1:], 16)
        data = value if isinstance(value, bytes) else bytes([value])
        space[at:at + len(data)] = data
    length = max([4] + [int(o[1:], 16) + (len(v) if isinstance(v, bytes) else 1)
                        for o, v in fields.items()])
    return bytes(space[:length])


def function(bus, device, fn, space):
    return bytes([bus, device, fn, len(space)]) + space


def pci():
    host = function(0, 0, 0, header(0x8086, 0x7190, x0B=0x06))
    bridge = function(0, 1, 0, header(0x8086, 0x244E, x0A=0x04, x0B=0x06, x0E=0x01,
                                      x18=bytes([0, 1, 1])))
    multi = function(1, 0, 0, header(0x144A, 0x7248, x0E=0x80, x18=u32(0xE001)))
    gap = function(1, 0, 3, header(0x8086, 0x1234))
    plx = function(0, 2, 0, header(0x10B5, 0x9050, x18=u32(0xE101), x2C=u16(0x144A) + u16(0x7296),
                                   x3C=bytes([11, 1])))
    memory_bar = function(0, 3, 0, header(0x144A, 0x7296, x18=u32(0xF0000000)))
    functions = [host, bridge, multi, gap, plx, memory_bar]
    walk = b"\x02\x00" * 2 + b"\x3C\x01" + u16(7) + b"\x02\x00" * 3
    lookups = u16(0x144A) + u16(0x7248) + b"\x00"
    pci72xx_ops = (track(small(0), "IIIIIIIIOOOOOOOOIIIIOOOO") + inputs(0) +
                   outputs(0, [(8, 1), (20, 1)]) + track(small(3), "O" * 24) +
                   track(small(4), "I" * 24) + track(small(1), "IOIOIOIO" + "I" * 16))
    seeds = {}
    for mode, name in ((1, "mechanism1"), (2, "mechanism2")):
        seeds[name] = (NO_FAULTS + bytes([mode, len(functions)]) + b"".join(functions) + walk +
                       lookups + b"\x00" + pci72xx_ops)
    seeds["mechanism1-second-board"] = (NO_FAULTS + bytes([1, len(functions)]) +
                                        b"".join(functions) + walk + lookups + b"\x01" +
                                        track(small(0), "O" * 24) + outputs(0, [(0, 1)]))
    loop = function(1, 5, 0, header(0x8086, 0x244E, x0E=0x01, x18=bytes([1, 0, 0])))
    twin = function(0, 4, 0, header(0x8086, 0x244E, x0E=0x01, x18=bytes([0, 1, 1])))
    seeds["looping-bridges"] = (NO_FAULTS + b"\x01\x04" + host + bridge + loop + twin + walk)
    deep = b"".join(function(b, 0, 0, header(0x8086, 0x244E, x0E=0x01, x18=bytes([b, b + 1, b + 1])))
                    for b in range(0, 40))
    seeds["deep-bridges"] = NO_FAULTS + b"\x01" + bytes([40]) + deep
    unknown = function(0, 7, 0, header(0x8086, 0x0001, x0E=0x03))
    seeds["unknown-header"] = NO_FAULTS + b"\x01\x03" + host + unknown + plx + walk
    seeds["no-mechanism"] = NO_FAULTS + b"\x00\x01" + host
    # Raw configuration ports: the mechanism #1 probe twice (detection, then
    # the scan), then one function's 64 double words; everything else floats.
    probe = u32(0) + u32(0x80000000)
    space = bytearray(256)
    space[0:4] = u16(0x144A) + u16(0x7248)
    space[0x18:0x1C] = u32(0xE001)
    seeds["raw-ports"] = NO_FAULTS + b"\x03" + probe + probe + bytes(space)
    return seeds


# ---- direct-register cards ---------------------------------------------------------


def direct():
    bios = b"\x00" + patch((0x008, u16(0x378) + u16(0x278)))
    seeds = {}
    seeds["pc7166"] = (NO_FAULTS + bios + b"\x00\x00" +
                       track(small(0), "CRNC") +
                       inputs(0) + bytes([0x10, 0, 0, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x7F]) +
                       outputs(0, [(0, 100), (1, -5)]) +
                       inputs(0) + bytes([0xF0, 0xFF, 0xFF, 0, 0, 0, 0x01, 0, 0x80]) +
                       card_op(0) + track(small(3), "C") + track(small(2), "CC") +
                       track(small(0), "A"))
    seeds["ac28"] = (NO_FAULTS + bios + b"\x01\x00\x00\x01" + NO_PATCH +
                     track(small(0), "IIIIOOOO") + inputs(0) + b"\x0F\xFF" +
                     outputs(0, [(4, 1), (7, 1)]) +
                     track(small(2), "A" * 16) + inputs(1) + b"\x00" + bytes(range(32)) +
                     track(small(4), "U" * 8 + "N" * 8) + b"\x00" +
                     outputs(2, [(0, 0x7FFFFFFF), (7, -0x80000000)]) + b"\x7F" +
                     track(small(6), "U" * 16) + b"\x80" * 10 +
                     track(small(62), "A" * 8) + track(small(0), "IIIIAAAA") +
                     track(small(60), "I" * 40))
    seeds["parallel-by-name"] = (NO_FAULTS + bios + b"\x02\x00" +
                                 track(small(0), "OOOOOOOOIIIIIIIII") + b"\xC4" +
                                 inputs(0) + b"\xC0\x78" +
                                 outputs(0, [(0, 1), (7, 1)]) +
                                 track(small(0), "OOOOOOOOOOOOIIIII") + inputs(1) + b"\x87" +
                                 outputs(1, [(8, 1), (11, 1)]) +
                                 track(small(0), "IOOOOOOOIIIIIIIII"))
    seeds["parallel-by-port"] = (NO_FAULTS + bios + b"\x03" + u16(0x278) +
                                 track(small(0), "O" * 12 + "I" * 5) + outputs(0, [(11, 1)]))
    seeds["parallel-missing"] = NO_FAULTS + bios + b"\x02\x02"
    seeds["ac5"] = (NO_FAULTS + bios + b"\x04\x00" +
                    track(small(0), "IIIIIIIIOOOOOOOOIIIIOOOO") + inputs(0) + b"\x5A\xA5" +
                    outputs(0, [(8, 1), (23, 1)]) + track(small(2), "I" * 16) +
                    track(small(1), "IIIIAAAA"))
    return seeds


def gateway():
    """Modbus TCP streams for the gateway: the piece size, the track states
    (none down), then requests of every function it serves, whole or in
    pieces, two to a stream, and ones it refuses."""
    def frame(unit, pdu, transaction=1):
        return struct.pack(">HHH", transaction, 0, len(pdu) + 1) + bytes([unit]) + bytes(pdu)

    def head(piece=64, states=0):
        return bytes([piece - 1, states])

    seeds = {}
    seeds["read-coils"] = head() + frame(1, [1, 0, 0, 0, 4])
    seeds["read-inputs-in-bytes"] = head(1) + frame(1, [2, 0, 0, 0, 5])
    seeds["read-holding"] = head() + frame(1, [3, 0, 0, 0, 4])
    seeds["read-input-and-status"] = (head(7) + frame(1, [4, 0, 0, 0, 6]) +
                                      frame(1, [4, 0, 40, 0, 6], 2))
    seeds["write-coil"] = head() + frame(2, [5, 0, 3, 0xFF, 0])
    seeds["write-register"] = head() + frame(1, [6, 0, 1, 0x12, 0x34])
    seeds["write-coils"] = head(3) + frame(2, [15, 0, 0, 0, 20, 3, 0xFF, 0x0F, 0x0A])
    seeds["write-registers"] = head() + frame(1, [16, 0, 0, 0, 4, 8, 0, 1, 0, 2, 0, 3, 0, 4])
    seeds["mask-write"] = head() + frame(1, [22, 0, 2, 0xFF, 0, 0, 0x12])
    seeds["write-and-read"] = head() + frame(1, [23, 0, 0, 0, 4, 0, 2, 0, 2, 4, 0, 9, 0, 8])
    seeds["card-down"] = head(64, 7) + frame(1, [3, 0, 0, 0, 2]) + frame(2, [1, 0, 0, 0, 1], 2)
    seeds["unknown-unit-and-function"] = head() + frame(9, [3, 0, 0, 0, 1]) + frame(1, [0x2B, 14, 1, 0])
    seeds["too-long"] = head() + struct.pack(">HHH", 1, 0, 254) + bytes(254)
    return seeds


TARGETS = {"ab1784": ab1784, "genius": genius, "profibus": profibus, "pci_scan": pci,
           "direct_cards": direct, "gateway": gateway}


def main():
    for target, make in TARGETS.items():
        folder = os.path.join(HERE, "corpus", target)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        for name, tape in sorted(make().items()):
            with open(os.path.join(folder, name), "wb") as out:
                out.write(tape)


if __name__ == "__main__":
    main()
