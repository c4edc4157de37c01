// tavex.Scan: the periodic cycle, with a Python logic.  The scan runs
// without the GIL; the logic takes it for its call only, so the inputs,
// the outputs and the waits of every cycle leave other threads free.
#include <pybind11/chrono.h>
#include <pybind11/functional.h>
#include <pybind11/stl.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Binding.h"
#include "tavex/model/IOTrack.h"
#include "tavex/scan/Scan.h"

#if defined(TAVEX_PYTHON_PLANT)
#include "tavex/plant/PlantScan.h"
#endif

namespace TavexPython {

namespace {

using Tavex::Scan;

// The logic as the scan calls it: with the GIL, for the call only.  An
// exception of the logic goes through the scan (which stops to its safe
// values) to the caller of run() or step().
std::function<void()> withGil(const py::function& logic) {
    return [&logic]() {
        py::gil_scoped_acquire gil;
        logic();
    };
}

Scan::StopReason run(Scan& scan, const py::function& logic) {
    const std::function<void()> call = withGil(logic);
    py::gil_scoped_release nogil;
    return scan.run(call);
}

bool step(Scan& scan, const py::function& logic) {
    const std::function<void()> call = withGil(logic);
    py::gil_scoped_release nogil;
    return scan.step(call);
}

}  // namespace

void bindScan(py::module_& m) {
    py::class_<Scan> scan(m, "Scan", R"(The periodic cycle of a control program.

Each cycle reads every track that has inputs, runs the logic, and writes
every track that has outputs, on absolute deadlines one period apart (the
virtual clock on a simulated PC).  A track added with safe values gets them
written whenever the scan stops: stop(), the bad-cycle limit, or an exception
of the logic or a card (which then reaches the caller of run()).  The scan
keeps its tracks alive.)");

    py::enum_<Scan::StopReason>(scan, "StopReason")
        .value("RUNNING", Scan::Running)
        .value("STOPPED", Scan::Stopped)
        .value("BAD_CYCLES", Scan::BadCycles)
        .value("FAILED", Scan::Failed);

    py::class_<Scan::Figures>(scan, "Figures", "Figures of one quantity, in nanoseconds.")
        .def_readonly("count", &Scan::Figures::count)
        .def_readonly("min", &Scan::Figures::min)
        .def_readonly("max", &Scan::Figures::max)
        .def_readonly("mean", &Scan::Figures::mean)
        .def_readonly("p50", &Scan::Figures::p50)
        .def_readonly("p99", &Scan::Figures::p99)
        .def_readonly("p999", &Scan::Figures::p999);

    py::class_<Scan::Statistics>(scan, "Statistics", "The scan's counters and figures.")
        .def_readonly("cycles", &Scan::Statistics::cycles)
        .def_readonly("overruns", &Scan::Statistics::overruns)
        .def_readonly("missed_periods", &Scan::Statistics::missedPeriods)
        .def_readonly("bad_cycles", &Scan::Statistics::badCycles)
        .def_readonly("latency", &Scan::Statistics::latency)
        .def_readonly("duration", &Scan::Statistics::duration);

    scan.def(py::init<std::chrono::nanoseconds>(), py::arg("period"),
             "period: a datetime.timedelta (or seconds), at least 1 microsecond.")
        .def(
            "add",
            [](Scan& s, Tavex::IOTrack& track,
               const std::optional<std::vector<long> >& safe) -> Scan& {
                return safe ? s.add(track, *safe) : s.add(track);
            },
            py::arg("track"), py::arg("safe") = py::none(), py::keep_alive<1, 2>(),
            py::return_value_policy::reference,
            "Adds a track; safe: one value per point, written whenever the scan stops.")
        .def("set_bad_cycle_limit", &Scan::setBadCycleLimit, py::arg("n"),
             py::return_value_policy::reference)
        .def(
            "enter_real_time",
            [](Scan& s, int priority, bool lockMemory, int cpu, bool bestEffort) {
                Scan::RealTime options;
                options.priority = priority;
                options.lockMemory = lockMemory;
                options.cpu = cpu;
                options.bestEffort = bestEffort;
                return s.enterRealTime(options);
            },
            py::arg("priority") = 0, py::arg("lock_memory") = false, py::arg("cpu") = -1,
            py::arg("best_effort") = false,
            "Real-time scheduling for the calling thread; returns the warnings of a best "
            "effort.")
        .def("run", &run, py::arg("logic"),
             "Runs cycles until stop() or the bad-cycle limit, calling logic() in each; "
             "writes the safe values and returns why it stopped.")
        .def("step", &step, py::arg("logic"),
             "One cycle for a loop of the caller's; False (after writing the safe values) "
             "once the scan has stopped.")
        .def("stop", &Scan::stop, "Stops the scan before its next cycle (any thread).")
        .def("write_safe_values", &Scan::writeSafeValues,
             py::call_guard<py::gil_scoped_release>())
        .def_property_readonly("period", &Scan::period)
        .def_property_readonly("track_count", &Scan::trackCount)
        .def_property_readonly("bad_tracks", &Scan::badTracks)
        .def_property_readonly("cycle", &Scan::cycle)
        .def_property_readonly("stop_reason", &Scan::stopReason)
        .def_property_readonly("safe_state_error", &Scan::safeStateError)
        .def_property_readonly("statistics", &Scan::statistics);
}

}  // namespace TavexPython
