"""A control loop with tavex.Scan on the simulated PC.

A conveyor carries bottles past a photo-eye to a filler.  The conveyor
motor (AC5 port 1, point 0) runs until the eye at the filler (port 0,
point 4) sees a bottle; the nozzle (point 1) then fills it for 30 cycles,
and the conveyor moves on.  The scan runs every 10 ms and stops after 500
cycles; when it stops, for whatever reason, motor and nozzle go off (the
safe values).

On the simulated PC the scan runs on the machine's virtual clock: five
seconds of plant time take a fraction of a second.  On real hardware, leave
the machine and the board model out and run the same scan as root.

    PYTHONPATH=build/default/python python3 python/examples/control_loop.py
"""

from datetime import timedelta

import tavex
from tavex import sim

MOTOR, NOZZLE = 0, 1
FILLER_EYE = 4
FILL_CYCLES = 30


class Filler:
    """The control logic: one call per cycle."""

    def __init__(self, eyes: tavex.IOTrack, drives: tavex.IOTrack) -> None:
        self.eyes, self.drives = eyes, drives
        self.filling = 0          # cycles of filling left
        self.filled = 0
        self.waiting = False      # the bottle at the filler is full: let it go

    def __call__(self) -> None:
        at_filler = bool(self.eyes[FILLER_EYE])
        if not at_filler:
            self.waiting = False
        elif self.filling == 0 and not self.waiting:
            self.filling = FILL_CYCLES
        if self.filling:
            self.filling -= 1
            if self.filling == 0:
                self.filled += 1
                self.waiting = True
        self.drives[MOTOR] = int(self.filling == 0)
        self.drives[NOZZLE] = int(self.filling > 0)


class Bottles(object):
    """The plant: a bottle reaches the filler after 40 cycles of the motor
    running, and leaves it after 10 more."""

    def __init__(self, board: sim.AC5Board) -> None:
        self.board = board
        self.position = 0

    def move(self) -> None:
        if self.board.output_on(1, MOTOR):
            self.position = (self.position + 1) % 50
        self.board.set_input_line(0, FILLER_EYE, not 40 <= self.position < 50)


def main() -> int:
    with sim.Machine(tracing=False) as machine:
        board = sim.AC5Board(machine, 0x300)
        card = tavex.AC5Card(base_io_port=0x300)
        eyes = tavex.IOTrack(card, 0, "IIIIIIII")
        drives = tavex.IOTrack(card, 1, "OOOOOOOO")

        scan = tavex.Scan(timedelta(milliseconds=10))
        scan.add(eyes)
        scan.add(drives, safe=[0] * 8)
        filler, bottles = Filler(eyes, drives), Bottles(board)

        def logic() -> None:
            filler()
            bottles.move()
            if scan.cycle >= 500:
                scan.stop()

        reason = scan.run(logic)
        figures = scan.statistics
        print(f"stopped: {reason.name} after {figures.cycles} cycles, "
              f"{machine.now} ms of plant time; {filler.filled} bottles filled; "
              f"motor {'on' if board.output_on(1, MOTOR) else 'off'}")
        return 0 if reason == tavex.Scan.StopReason.STOPPED and filler.filled > 0 else 1


if __name__ == "__main__":
    raise SystemExit(main())
