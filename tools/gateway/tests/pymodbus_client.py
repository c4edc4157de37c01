"""A client that no one here wrote, against tavex-gateway on the demo plant:
pymodbus writes and reads points and checks what comes back.

    /usr/bin/python3 pymodbus_client.py PORT

Prints one line per check and "all good" at the end; exits 1 at the first
check that fails.  Units: 5 is the test plug (coils 0-7, data lines; discrete
inputs 4-8 follow coils 0-4), 7 the Genius channel (holding registers 0-3:
the heater and the repeater, 32-bit, high word first).
"""
import sys
import time

from pymodbus.client import ModbusTcpClient


def check(what, ok):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    if not ok:
        sys.exit(1)


def main():
    client = ModbusTcpClient("127.0.0.1", port=int(sys.argv[1]), timeout=2)
    check("connect", client.connect())

    pattern = [True, True, False, True, False, False, False, False]
    check("write coils", not client.write_coils(0, pattern, slave=5).isError())
    deadline = time.monotonic() + 3
    seen = None
    while time.monotonic() < deadline:
        answer = client.read_discrete_inputs(4, 5, slave=5)
        check("read discrete inputs", not answer.isError())
        seen = list(answer.bits[:5])
        if seen == pattern[:5]:
            break
        time.sleep(0.05)
    check("the plug returns the data lines: %s" % seen, seen == pattern[:5])

    value = -100000 & 0xFFFFFFFF
    check("write a 32-bit holding register pair",
          not client.write_registers(2, [value >> 16, value & 0xFFFF], slave=7).isError())
    answer = client.read_holding_registers(0, 4, slave=7)
    check("read holding registers", not answer.isError())
    check("the repeater reads back: %s" % answer.registers,
          answer.registers[2:4] == [value >> 16, value & 0xFFFF])

    first = client.read_input_registers(9000, 2, slave=7)
    time.sleep(0.35)
    second = client.read_input_registers(9000, 2, slave=7)
    count = [(r.registers[0] << 16) | r.registers[1] for r in (first, second)]
    check("the scan counter moves: %s" % count, count[1] > count[0])

    answer = client.read_holding_registers(100, 2, slave=7)
    check("exception 2 past the points", answer.isError() and answer.exception_code == 2)
    answer = client.write_coil(0, True, slave=2)
    check("exception 2 for a coil of the encoder card",
          answer.isError() and answer.exception_code == 2)
    client.close()
    print("all good", flush=True)


if __name__ == "__main__":
    main()
