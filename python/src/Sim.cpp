// tavex.sim: the simulated PC and its board models.  A board made from
// Python is plugged into its machine, which owns it; the Python object
// keeps the machine alive.  Everything here is the scene and the field
// side of a test: the GIL is released only where the boards run (sleep,
// advance).
#include <pybind11/stl.h>

#include <string>
#include <vector>

#include "Binding.h"
#include "tavex/sim/Board.h"
#include "tavex/sim/DigitalPort.h"
#include "tavex/sim/Machine.h"
#include "tavex/sim/PCIHostBridge.h"
#include "tavex/sim/Region.h"
#include "tavex/sim/boards/AB1784KTxBoard.h"
#include "tavex/sim/boards/AC28Board.h"
#include "tavex/sim/boards/AC5Board.h"
#include "tavex/sim/boards/BiosDataArea.h"
#include "tavex/sim/boards/GEMicroGENIBoard.h"
#include "tavex/sim/boards/GEPCIMBoard.h"
#include "tavex/sim/boards/PC7166Board.h"
#include "tavex/sim/boards/PCI72xxBoard.h"
#include "tavex/sim/boards/ParallelPortBoard.h"
#include "tavex/sim/boards/SST5136PFBBoard.h"

namespace TavexPython {

namespace {

using namespace Tavex::Sim;
typedef std::vector<std::uint8_t> Bytes;
typedef py::return_value_policy Policy;
const Policy self = Policy::reference;   // a setter returns its board, for chaining
const Policy inside = Policy::reference_internal;

// The machine owns its boards: a Python object of a board never deletes it.
template <class T>
using Owned = std::unique_ptr<T, py::nodelete>;

Bytes toBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }
py::bytes fromBytes(const Bytes& bytes) {
    return py::bytes(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

void bindMachine(py::module_& sim) {
    py::class_<Machine, std::shared_ptr<Machine>> machine(
        sim, "Machine", R"(A simulated PC: a virtual clock, a port space, physical memory, a
PCI host bridge where board models plug in, and the driver's service.

Use it as a context manager: the machine is installed on entering (every
card built inside then runs on it) and taken out on leaving, or, while cards
built on it still live, as soon as the last of them is gone.  Sleeps of the
library advance its clock instead of waiting.)");

    py::class_<Machine::Faults>(machine, "Faults", "What the simulated system refuses.")
        .def_readwrite("version_fails", &Machine::Faults::versionFails)
        .def_readwrite("no_service_manager", &Machine::Faults::noServiceManager)
        .def_readwrite("service_missing", &Machine::Faults::serviceMissing)
        .def_readwrite("start_fails", &Machine::Faults::startFails)
        .def_readwrite("driver_not_loaded", &Machine::Faults::driverNotLoaded)
        .def_readwrite("device_refuses", &Machine::Faults::deviceRefuses)
        .def_readwrite("map_refused", &Machine::Faults::mapRefused)
        .def_readwrite("unmap_refused", &Machine::Faults::unmapRefused)
        .def_readwrite("dpmi_refuses", &Machine::Faults::dpmiRefuses);

    py::class_<Machine::Event> event(machine, "Event", "One entry of the access trace.");
    py::enum_<Machine::Event::Kind>(event, "Kind")
        .value("PORT_READ", Machine::Event::PortRead)
        .value("PORT_WRITE", Machine::Event::PortWrite)
        .value("SLEEP", Machine::Event::Sleep);
    event.def_readonly("kind", &Machine::Event::kind)
        .def_readonly("port", &Machine::Event::port)
        .def_readonly("width", &Machine::Event::width)
        .def_readonly("value", &Machine::Event::value)
        .def_readonly("time", &Machine::Event::time)
        .def(
            "__eq__",
            [](const Machine::Event& a, const py::object& b) {
                return py::isinstance<Machine::Event>(b) && a == b.cast<const Machine::Event&>();
            },
            py::arg("other"))
        .def("__hash__", [](const Machine::Event& e) {
            return std::hash<unsigned long>()(e.time * 131u + e.port * 7u + e.value + e.kind);
        })
        .def("__repr__", [](const Machine::Event& e) {
            char text[96];
            if (e.kind == Machine::Event::Sleep)
                std::snprintf(text, sizeof text, "Event(sleep %u ms at %lu)", e.value, e.time);
            else
                std::snprintf(text, sizeof text, "Event(%s 0x%X width %u value 0x%X at %lu)",
                              e.kind == Machine::Event::PortRead ? "in" : "out", e.port,
                              e.width, e.value, e.time);
            return std::string(text);
        });
    machine.def_static("port_read", &Machine::portRead, py::arg("port"), py::arg("width"),
                       py::arg("value"))
        .def_static("port_write", &Machine::portWrite, py::arg("port"), py::arg("width"),
                    py::arg("value"))
        .def_static("sleep_event", &Machine::sleepEvent, py::arg("milliseconds"));

    machine
        .def(py::init([](bool tracing) {
                 std::shared_ptr<Machine> m = makeMachine();
                 m->setTracing(tracing);
                 return m;
             }),
             py::arg("tracing") = true,
             "tracing: keep a trace of every port access and sleep (trace()); a long-running "
             "loop turns it off.")
        .def("__enter__",
             [](Machine& self) -> Machine& {
                 installMachine(self);
                 return self;
             },
             py::return_value_policy::reference)
        .def("__exit__",
             [](const Machine& m, const py::object&, const py::object&, const py::object&) {
                 uninstallMachine(m);   // exceptions of the block go on
             })
        .def_property_readonly(
            "installed", [](const Machine& m) { return isInstalled(m); },
            "The library runs on this machine now.")
        .def_property_readonly("now", &Machine::now, "Virtual time in milliseconds.")
        .def("advance", &Machine::advance, py::arg("milliseconds"),
             py::call_guard<py::gil_scoped_release>(),
             "Lets time pass and the boards run, without a sleep of the library in the trace.")
        .def("sleep", &Machine::sleep, py::arg("milliseconds"),
             py::call_guard<py::gil_scoped_release>(), "A sleep, as the library sleeps.")
        .def_property_readonly("board_count", &Machine::boardCount)
        .def_property_readonly(
            "faults", [](Machine& m) -> Machine::Faults& { return m.faults(); }, inside)
        .def_property("platform_id", &Machine::platformId, &Machine::setPlatformId)
        .def_property("service_running", &Machine::serviceRunning, &Machine::setServiceRunning)
        .def("set_tracing", &Machine::setTracing, py::arg("on"))
        .def("trace", &Machine::trace)
        .def("port_trace", &Machine::portTrace)
        .def("sleeps", &Machine::sleeps)
        .def("clear_trace", &Machine::clearTrace)
        .def_property_readonly("sleep_count", &Machine::sleepCount)
        .def_property_readonly("port_access_count", &Machine::portAccessCount)
        .def_property_readonly("manager_opens", &Machine::managerOpens)
        .def_property_readonly("service_opens", &Machine::serviceOpens)
        .def_property_readonly("service_starts", &Machine::serviceStarts)
        .def_property_readonly("device_opens", &Machine::deviceOpens)
        .def_property_readonly("open_handles", &Machine::openHandles)
        .def_property_readonly("map_requests", &Machine::mapRequests)
        .def_property_readonly("unmap_requests", &Machine::unmapRequests)
        .def_property_readonly("live_mappings", &Machine::liveMappings)
        .def("mapped_at", &Machine::mappedAt, py::arg("physical_address"))
        .def(
            "find_region",
            [](Machine& m, std::uint32_t address, std::uint32_t size) {
                return m.findRegion(address, size);
            },
            py::arg("address"), py::arg("size") = 1, inside);

    sim.attr("PLATFORM_WIN32_WINDOWS") = static_cast<int>(Machine::PlatformWin32Windows);
    sim.attr("PLATFORM_WIN32_NT") = static_cast<int>(Machine::PlatformWin32NT);
}

void bindParts(py::module_& sim) {
    py::class_<Region, Owned<Region>>(sim, "Region",
                                      "Physical memory that a board owns, as the board sees it.")
        .def_property_readonly("address", &Region::address)
        .def_property_readonly("size", &Region::size)
        .def_property_readonly("name", &Region::name)
        .def("read8", &Region::read8, py::arg("offset"))
        .def("read16", &Region::read16, py::arg("offset"))
        .def("read32", &Region::read32, py::arg("offset"))
        .def("write8", &Region::write8, py::arg("offset"), py::arg("value"))
        .def("write16", &Region::write16, py::arg("offset"), py::arg("value"))
        .def("write32", &Region::write32, py::arg("offset"), py::arg("value"))
        .def(
            "read",
            [](const Region& r, std::uint32_t offset, std::uint32_t length) {
                Bytes bytes(length);
                r.read(offset, bytes.data(), length);
                return fromBytes(bytes);
            },
            py::arg("offset"), py::arg("length"))
        .def(
            "write",
            [](Region& r, std::uint32_t offset, const std::string& bytes) {
                r.write(offset, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
            },
            py::arg("offset"), py::arg("data"))
        .def("fill", &Region::fill, py::arg("offset"), py::arg("length"), py::arg("value"));

    py::class_<DigitalPort, Owned<DigitalPort>> port(
        sim, "DigitalPort", "Eight digital lines of a board, as the board's logic sees them.");
    py::enum_<DigitalPort::Polarity>(port, "Polarity")
        .value("ACTIVE_LOW", DigitalPort::ActiveLow)
        .value("ACTIVE_HIGH", DigitalPort::ActiveHigh);
    port.def_property_readonly("outputs", &DigitalPort::outputs)
        .def_property_readonly("latch", &DigitalPort::latch)
        .def_property_readonly("line_levels", &DigitalPort::lineLevels)
        .def_property_readonly("field_levels", &DigitalPort::fieldLevels)
        .def_property_readonly("driven_levels", &DigitalPort::drivenLevels)
        .def_property_readonly("polarity", &DigitalPort::polarity)
        .def("line_level", &DigitalPort::lineLevel, py::arg("line"))
        .def("is_output", &DigitalPort::isOutput, py::arg("line"))
        .def("point_on", &DigitalPort::pointOn, py::arg("line"))
        .def("output_on", &DigitalPort::outputOn, py::arg("line"));

    py::class_<Board, Owned<Board>>(sim, "Board", "A board model plugged into a machine.")
        .def_property_readonly("name", [](const Board& b) { return std::string(b.name()); })
        .def("__repr__", [](const Board& b) {
            return std::string("<tavex.sim board ") + b.name() + ">";
        });
}

void bindPciBus(py::module_& sim) {
    py::class_<PCIFunction, Owned<PCIFunction>>(sim, "PCIFunction",
                                                "The configuration space of one PCI function.")
        .def("set8", &PCIFunction::set8, py::arg("offset"), py::arg("value"), self)
        .def("set16", &PCIFunction::set16, py::arg("offset"), py::arg("value"), self)
        .def("set32", &PCIFunction::set32, py::arg("offset"), py::arg("value"), self)
        .def("get8", &PCIFunction::get8, py::arg("offset"))
        .def("get16", &PCIFunction::get16, py::arg("offset"))
        .def("get32", &PCIFunction::get32, py::arg("offset"))
        .def("set_ids", &PCIFunction::setIds, py::arg("vendor_id"), py::arg("device_id"), self)
        .def("set_class_code", &PCIFunction::setClassCode, py::arg("base_class"),
             py::arg("sub_class"), py::arg("prog_if") = 0, self)
        .def("set_header_type", &PCIFunction::setHeaderType, py::arg("header_type"), self)
        .def("set_multi_function", &PCIFunction::setMultiFunction, py::arg("multi_function"),
             self)
        .def("set_base_address", &PCIFunction::setBaseAddress, py::arg("n"), py::arg("value"),
             py::arg("size") = 0, self)
        .def("set_subsystem", &PCIFunction::setSubsystem, py::arg("sub_vendor_id"),
             py::arg("sub_system_id"), self)
        .def("set_interrupt", &PCIFunction::setInterrupt, py::arg("line"), py::arg("pin"), self)
        .def_property_readonly("vendor_id", &PCIFunction::vendorId)
        .def_property_readonly("device_id", &PCIFunction::deviceId)
        .def_property_readonly("command", &PCIFunction::command)
        .def_property_readonly("status", &PCIFunction::status)
        .def_property_readonly("header_type", &PCIFunction::headerType);

    py::class_<PCIHostBridge, Board, Owned<PCIHostBridge>> bridge(
        sim, "PCIHostBridge",
        "The host-to-PCI bridge: configuration mechanism #1, #2 or none, and the PCI "
        "functions behind it.");
    py::enum_<PCIHostBridge::Mechanism>(bridge, "Mechanism")
        .value("NONE", PCIHostBridge::NoMechanism)
        .value("MECHANISM1", PCIHostBridge::Mechanism1)
        .value("MECHANISM2", PCIHostBridge::Mechanism2);
    bridge
        .def(py::init([](Machine& m, PCIHostBridge::Mechanism mechanism) {
                 return &m.add<PCIHostBridge>(mechanism);
             }),
             py::arg("machine"), py::arg("mechanism") = PCIHostBridge::Mechanism1,
             py::keep_alive<1, 2>())
        .def_property_readonly("mechanism", &PCIHostBridge::mechanism)
        .def("add_function", &PCIHostBridge::addFunction, py::arg("bus"), py::arg("device"),
             py::arg("function"), py::arg("vendor_id"), py::arg("device_id"), inside)
        .def("add_bridge", &PCIHostBridge::addBridge, py::arg("bus"), py::arg("device"),
             py::arg("function"), py::arg("secondary_bus"), py::arg("header_type") = 1, inside)
        .def("function_at", &PCIHostBridge::functionAt, py::arg("bus"), py::arg("device"),
             py::arg("function"), inside)
        .def_property_readonly("config_cycles", &PCIHostBridge::configCycles)
        .def("set_runaway_limit", &PCIHostBridge::setRunawayLimit, py::arg("cycles"));
}

void bindDigitalBoards(py::module_& sim) {
    py::class_<AC5Board, Board, Owned<AC5Board>> ac5(sim, "AC5Board",
                                                     "The AC5 ISA digital I/O board model: "
                                                     "three ports of eight lines, active low.");
    py::enum_<AC5Board::Mode>(ac5, "Mode")
        .value("DIRECTION_REGISTER", AC5Board::DirectionRegister)
        .value("DATA_REGISTER", AC5Board::DataRegister)
        .value("UNDEFINED", AC5Board::Undefined);
    ac5.def(py::init([](Machine& m, std::uint16_t base) { return &m.add<AC5Board>(base); }),
            py::arg("machine"), py::arg("base_port"), py::keep_alive<1, 2>())
        .def_property_readonly("base_port", &AC5Board::basePort)
        .def("set_input_line", &AC5Board::setInputLine, py::arg("port"), py::arg("point"),
             py::arg("high"), self, "Field level of an input line (True: high, point off).")
        .def("set_input_lines", &AC5Board::setInputLines, py::arg("port"), py::arg("levels"),
             self)
        .def("field_levels", &AC5Board::fieldLevels, py::arg("port"))
        .def("line_level", &AC5Board::lineLevel, py::arg("port"), py::arg("point"))
        .def("line_levels", &AC5Board::lineLevels, py::arg("port"))
        .def("output_on", &AC5Board::outputOn, py::arg("port"), py::arg("point"))
        .def("driven_levels", &AC5Board::drivenLevels, py::arg("port"))
        .def("is_output", &AC5Board::isOutput, py::arg("port"), py::arg("point"))
        .def("direction_mask", &AC5Board::directionMask, py::arg("port"))
        .def("programming_count", &AC5Board::programmingCount, py::arg("port"))
        .def("output_latch", &AC5Board::outputLatch, py::arg("port"))
        .def("control_register", &AC5Board::controlRegister, py::arg("port"))
        .def("mode", &AC5Board::mode, py::arg("port"))
        .def("data_reads", &AC5Board::dataReads, py::arg("port"))
        .def("data_writes", &AC5Board::dataWrites, py::arg("port"))
        .def_property_readonly("stray_accesses", &AC5Board::strayAccesses)
        .def("lines", &AC5Board::lines, py::arg("port"), inside);

    py::class_<PC7166Board, Board, Owned<PC7166Board>>(
        sim, "PC7166Board", "The PC7166 encoder board model: four 24-bit counters.")
        .def(py::init([](Machine& m, std::uint16_t base) { return &m.add<PC7166Board>(base); }),
             py::arg("machine"), py::arg("base_port"), py::keep_alive<1, 2>())
        .def_property_readonly("base_port", &PC7166Board::basePort)
        .def("turn", &PC7166Board::turn, py::arg("channel"), py::arg("steps"), self,
             "Turns the channel's encoder by steps edges (negative: backwards).")
        .def("encoder_position", &PC7166Board::encoderPosition, py::arg("channel"))
        .def("count", &PC7166Board::count, py::arg("channel"))
        .def("preset", &PC7166Board::preset, py::arg("channel"))
        .def("output_latch", &PC7166Board::outputLatch, py::arg("channel"))
        .def("multiplier", &PC7166Board::multiplier, py::arg("channel"))
        .def("counting", &PC7166Board::counting, py::arg("channel"))
        .def("status", &PC7166Board::status, py::arg("channel"))
        .def("commands", &PC7166Board::commands, py::arg("channel"))
        .def("clear_commands", &PC7166Board::clearCommands, py::arg("channel"), self)
        .def("master_resets", &PC7166Board::masterResets, py::arg("channel"))
        .def("loads", &PC7166Board::loads, py::arg("channel"));

    py::class_<BiosDataArea, Board, Owned<BiosDataArea>>(
        sim, "BiosDataArea", "The BIOS data area at 0x400, where programs find the LPT ports.")
        .def(py::init([](Machine& m) { return &m.add<BiosDataArea>(); }), py::arg("machine"),
             py::keep_alive<1, 2>())
        .def("set_lpt_port", &BiosDataArea::setLptPort, py::arg("n"), py::arg("base_port"), self)
        .def("lpt_port", &BiosDataArea::lptPort, py::arg("n"))
        .def("set_com_port", &BiosDataArea::setComPort, py::arg("n"), py::arg("base_port"), self)
        .def("com_port", &BiosDataArea::comPort, py::arg("n"))
        .def("set_ebda_segment", &BiosDataArea::setEbdaSegment, py::arg("segment"), self)
        .def_property_readonly("equipment_word", &BiosDataArea::equipmentWord)
        .def_property_readonly("memory", &BiosDataArea::memory, inside);

    py::class_<ParallelPortBoard, Board, Owned<ParallelPortBoard>> lpt(
        sim, "ParallelPortBoard",
        "A PC parallel port model.  Plug a BiosDataArea as well and enter the port in its "
        "LPT table: that is how a program finds it.");
    py::enum_<ParallelPortBoard::ControlDrive>(lpt, "ControlDrive")
        .value("OPEN_COLLECTOR", ParallelPortBoard::OpenCollector)
        .value("PUSH_PULL", ParallelPortBoard::PushPull);
    lpt.def(py::init([](Machine& m, std::uint16_t base) {
                return &m.add<ParallelPortBoard>(base);
            }),
            py::arg("machine"), py::arg("base_port"), py::keep_alive<1, 2>())
        .def_property_readonly("base_port", &ParallelPortBoard::basePort)
        .def_static("data_pin", &ParallelPortBoard::dataPin, py::arg("bit"))
        .def_static("control_pin", &ParallelPortBoard::controlPin, py::arg("bit"))
        .def_static("status_pin", &ParallelPortBoard::statusPin, py::arg("bit"))
        .def("pin_level", &ParallelPortBoard::pinLevel, py::arg("pin"))
        .def("set_pin_level", &ParallelPortBoard::setPinLevel, py::arg("pin"), py::arg("high"),
             self)
        .def("applied_level", &ParallelPortBoard::appliedLevel, py::arg("pin"))
        .def("drives_low", &ParallelPortBoard::drivesLow, py::arg("pin"))
        .def_property_readonly("data_levels", &ParallelPortBoard::dataLevels)
        .def_property_readonly("control_levels", &ParallelPortBoard::controlLevels)
        .def_property_readonly("status_levels", &ParallelPortBoard::statusLevels)
        .def("set_data_applied", &ParallelPortBoard::setDataApplied, py::arg("levels"), self)
        .def("set_control_applied", &ParallelPortBoard::setControlApplied, py::arg("levels"),
             self)
        .def("set_status_applied", &ParallelPortBoard::setStatusApplied, py::arg("levels"),
             self)
        .def_property("bidirectional", &ParallelPortBoard::bidirectional,
                      &ParallelPortBoard::setBidirectional)
        .def_property("control_drive", &ParallelPortBoard::controlDrive,
                      &ParallelPortBoard::setControlDrive)
        .def_property_readonly("data_latch", &ParallelPortBoard::dataLatch)
        .def_property_readonly("control_latch", &ParallelPortBoard::controlLatch)
        .def_property_readonly("data_driven", &ParallelPortBoard::dataDriven)
        .def_property_readonly("data_writes", &ParallelPortBoard::dataWrites)
        .def_property_readonly("control_writes", &ParallelPortBoard::controlWrites);

    py::class_<PCI72xxBoard, Board, Owned<PCI72xxBoard>> pci72xx(
        sim, "PCI72xxBoard",
        "A PCI-7248 (2 groups) or PCI-7296 (4 groups) on the host bridge's bus.");
    py::enum_<PCI72xxBoard::Model>(pci72xx, "Model")
        .value("PCI7248", PCI72xxBoard::PCI7248)
        .value("PCI7296", PCI72xxBoard::PCI7296);
    py::enum_<PCI72xxBoard::Port>(pci72xx, "Port")
        .value("A", PCI72xxBoard::PortA)
        .value("B", PCI72xxBoard::PortB)
        .value("C", PCI72xxBoard::PortC);
    pci72xx
        .def(py::init([](Machine& m, PCIHostBridge& bridge, std::uint8_t bus, std::uint8_t device,
                         std::uint8_t function, PCI72xxBoard::Model model, std::uint16_t ioBase) {
                 return &m.add<PCI72xxBoard>(bridge, bus, device, function, model, ioBase);
             }),
             py::arg("machine"), py::arg("bridge"), py::arg("bus"), py::arg("device"),
             py::arg("function"), py::arg("model"), py::arg("io_base"), py::keep_alive<1, 2>(),
             py::keep_alive<1, 3>())
        .def_property_readonly("model", &PCI72xxBoard::model)
        .def_property_readonly("groups", &PCI72xxBoard::groups)
        .def_property_readonly("io_base", &PCI72xxBoard::ioBase)
        .def_property_readonly("function",
                               py::overload_cast<>(&PCI72xxBoard::function), inside)
        .def("set_input_levels", &PCI72xxBoard::setInputLevels, py::arg("group"), py::arg("port"),
             py::arg("levels"), self)
        .def("set_line_level", &PCI72xxBoard::setLineLevel, py::arg("group"), py::arg("line"),
             py::arg("high"), self)
        .def("output_lines", &PCI72xxBoard::outputLines, py::arg("group"), py::arg("port"))
        .def("driven_levels", &PCI72xxBoard::drivenLevels, py::arg("group"), py::arg("port"))
        .def("line_levels", &PCI72xxBoard::lineLevels, py::arg("group"), py::arg("port"))
        .def("latch", &PCI72xxBoard::latch, py::arg("group"), py::arg("port"))
        .def("control_word", &PCI72xxBoard::controlWord, py::arg("group"))
        .def("control_writes", &PCI72xxBoard::controlWrites, py::arg("group"));

    py::class_<AC28Board, Board, Owned<AC28Board>> ac28(
        sim, "AC28Board", "The Opto 22 AC28 adapter model and the brainboards on its cable.");
    py::enum_<AC28Board::Kind>(ac28, "Kind")
        .value("EMPTY", AC28Board::Empty)
        .value("DIGITAL", AC28Board::Digital)
        .value("ANALOG_DATA", AC28Board::AnalogData)
        .value("ANALOG_COMMAND", AC28Board::AnalogCommand);
    ac28.def(py::init([](Machine& m, std::uint16_t base, std::uint16_t reset, bool level) {
                 return &m.add<AC28Board>(base, reset, level);
             }),
             py::arg("machine"), py::arg("base_port"), py::arg("reset_port"),
             py::arg("reset_level"), py::keep_alive<1, 2>())
        .def_property_readonly("base_port", &AC28Board::basePort)
        .def_property_readonly("reset_port", &AC28Board::resetPort)
        .def_property_readonly("reset_level", &AC28Board::resetLevel)
        .def("place_digital", &AC28Board::placeDigital, py::arg("bank"), py::arg("banks") = 1,
             self)
        .def("place_analog", &AC28Board::placeAnalog, py::arg("bank"), self)
        .def("kind", &AC28Board::kind, py::arg("bank"))
        .def("set_inputs", &AC28Board::setInputs, py::arg("bank"), py::arg("on"), self)
        .def("set_input", &AC28Board::setInput, py::arg("bank"), py::arg("point"), py::arg("on"),
             self)
        .def("inputs", &AC28Board::inputs, py::arg("bank"))
        .def("outputs_on", &AC28Board::outputsOn, py::arg("bank"))
        .def("points_on", &AC28Board::pointsOn, py::arg("bank"))
        .def("set_input_code", &AC28Board::setInputCode, py::arg("bank"), py::arg("channel"),
             py::arg("code"), self)
        .def("input_code", &AC28Board::inputCode, py::arg("bank"), py::arg("channel"))
        .def("output_code", &AC28Board::outputCode, py::arg("bank"), py::arg("channel"))
        .def("output_word", &AC28Board::outputWord, py::arg("bank"), py::arg("channel"))
        .def("output_mask", &AC28Board::outputMask, py::arg("bank"))
        .def("is_output_channel", &AC28Board::isOutputChannel, py::arg("bank"),
             py::arg("channel"))
        .def("set_access_delay", &AC28Board::setAccessDelay, py::arg("bank"),
             py::arg("busy_reads"), self)
        .def("set_access_refused", &AC28Board::setAccessRefused, py::arg("bank"),
             py::arg("refused"), self)
        .def("set_link_fault", &AC28Board::setLinkFault, py::arg("fault"), self)
        .def("force_status", &AC28Board::forceStatus, py::arg("status"), self)
        .def("unforce_status", &AC28Board::unforceStatus, self)
        .def("set_minimum_reset_pulse", &AC28Board::setMinimumResetPulse, py::arg("ms"), self)
        .def_property_readonly("in_reset", &AC28Board::inReset)
        .def_property_readonly("resets_taken", &AC28Board::resetsTaken)
        .def_property_readonly("status", &AC28Board::status)
        .def_property_readonly("stray_accesses", &AC28Board::strayAccesses);
}

void bindKTx(py::module_& sim) {
    typedef AB1784KTxBoard KTx;
    py::class_<KTx, Board, Owned<KTx>> ktx(sim, "AB1784KTxBoard",
                                           "The 1784-KTx Remote I/O scanner model.");
    py::enum_<KTx::Phase>(ktx, "Phase")
        .value("HELD", KTx::Held)
        .value("CLEARING_RAM", KTx::ClearingRam)
        .value("LOADING", KTx::Loading)
        .value("SCANNER_STARTING", KTx::ScannerStarting)
        .value("SCANNER_RUNNING", KTx::ScannerRunning)
        .value("SCANNER_FAILED", KTx::ScannerFailed)
        .value("UNKNOWN_PROGRAM", KTx::UnknownProgram);
    py::class_<KTx::CommandFault>(ktx, "CommandFault", "What goes wrong with one command.")
        .def(py::init<>())
        .def_readwrite("response", &KTx::CommandFault::response)
        .def_readwrite("transaction_delta", &KTx::CommandFault::transactionDelta)
        .def_readwrite("never_clears_flag", &KTx::CommandFault::neverClearsFlag)
        .def_readwrite("never_confirms", &KTx::CommandFault::neverConfirms)
        .def_readwrite("never_takes_acknowledgement", &KTx::CommandFault::neverTakesAcknowledgement);
    ktx.def(py::init([](Machine& m, std::uint32_t address) { return &m.add<KTx>(address); }),
            py::arg("machine"), py::arg("base_address"), py::keep_alive<1, 2>())
        .def_property_readonly("base_address", &KTx::baseAddress)
        .def(
            "set_protocol_images",
            [](KTx& b, const std::string& clrram, const std::string& loadpcl,
               const std::string& scanner) -> KTx& {
                return b.setProtocolImages(toBytes(clrram), toBytes(loadpcl), toBytes(scanner));
            },
            py::arg("clrram"), py::arg("loadpcl"), py::arg("scanner"), self,
            "The bytes of the three protocol files, by which the board knows its programs.")
        .def("set_clear_ram_time", &KTx::setClearRamTime, py::arg("ms"), self)
        .def("set_block_time", &KTx::setBlockTime, py::arg("ms"), self)
        .def("set_startup_time", &KTx::setStartupTime, py::arg("ms"), self)
        .def("set_command_times", &KTx::setCommandTimes, py::arg("take"), py::arg("respond"),
             py::arg("acknowledge"), self)
        .def("set_download_result", &KTx::setDownloadResult, py::arg("block"), py::arg("result"),
             self)
        .def("set_loader_silent_from", &KTx::setLoaderSilentFrom, py::arg("block"), self)
        .def("set_program_ram_size", &KTx::setProgramRamSize, py::arg("bytes"), self)
        .def("set_init_never_finishes", &KTx::setInitNeverFinishes, py::arg("never"), self)
        .def("set_init_error", &KTx::setInitError, py::arg("code"), self)
        .def("set_command_fault", &KTx::setCommandFault, py::arg("sequence"), py::arg("fault"),
             self)
        .def("set_response_for_code", &KTx::setResponseForCode, py::arg("code"),
             py::arg("response"), self)
        .def("set_scanner_running", &KTx::setScannerRunning, py::arg("running"), self)
        .def_property("scanner_status", &KTx::scannerStatus, &KTx::setScannerStatus)
        .def("set_status_entry", &KTx::setStatusEntry, py::arg("entry"), py::arg("a"),
             py::arg("b"), py::arg("c") = 0, self)
        .def("set_entry_good", &KTx::setEntryGood, py::arg("entry"), py::arg("good"), self,
             "Entry q covers the racks of banks 4q to 4q + 3.")
        .def("set_inputs", &KTx::setInputs, py::arg("bank"), py::arg("value"), self)
        .def("set_input", &KTx::setInput, py::arg("bank"), py::arg("point"), py::arg("on"), self)
        .def("inputs", &KTx::inputs, py::arg("bank"))
        .def("outputs", &KTx::outputs, py::arg("bank"))
        .def("input_image", &KTx::inputImage, py::arg("bank"))
        .def("output_image", &KTx::outputImage, py::arg("bank"))
        .def_property_readonly("phase", &KTx::phase)
        .def_property_readonly("memory", &KTx::memory, inside)
        .def_property_readonly("board_start_count", &KTx::boardStartCount)
        .def_property_readonly("board_reset_count", &KTx::boardResetCount)
        .def_property_readonly("link_speed", &KTx::linkSpeed)
        .def_property_readonly("command_count", [](const KTx& b) { return b.commands().size(); })
        .def_property_readonly("command_codes",
                               [](const KTx& b) {
                                   std::vector<int> codes;
                                   for (const KTx::Command& c : b.commands())
                                       codes.push_back(c.code);
                                   return codes;
                               })
        .def_property_readonly("host_interrupt_pending", &KTx::hostInterruptPending);
}

void bindGenius(py::module_& sim) {
    typedef GEMicroGENIBoard Channel;
    py::class_<Channel, Owned<Channel>> channel(
        sim, "GEMicroGENIBoard",
        "One MicroGENI daughterboard of a PCIM model: a Genius bus of up to 32 stations.");
    py::enum_<Channel::PowerUp>(channel, "PowerUp")
        .value("RUNNING", Channel::Running)
        .value("HELD", Channel::Held);
    py::enum_<Channel::Phase>(channel, "Phase")
        .value("PROCESSOR_HELD", Channel::ProcessorHeld)
        .value("STARTING", Channel::Starting)
        .value("PROCESSOR_RUNNING", Channel::ProcessorRunning)
        .value("HUNG", Channel::Hung);
    channel.attr("INPUTS_ONLY") = static_cast<int>(Channel::InputsOnly);
    channel.attr("OUTPUTS_ONLY") = static_cast<int>(Channel::OutputsOnly);
    channel.attr("INPUTS_AND_OUTPUTS") = static_cast<int>(Channel::InputsAndOutputs);
    channel.def_property_readonly("place", [](const Channel& c) { return std::string(1, c.place()); })
        .def_property_readonly("base_port", &Channel::basePort)
        .def_property_readonly("memory_address", &Channel::memoryAddress)
        .def("set_startup_time", &Channel::setStartupTime, py::arg("ms"), self)
        .def("set_comm_delay", &Channel::setCommDelay, py::arg("ms"), self)
        .def("set_minimum_reset_time", &Channel::setMinimumResetTime, py::arg("ms"), self)
        .def_property("io_table_size", &Channel::ioTableSize, &Channel::setIOTableSize)
        .def("set_never_comes_up", &Channel::setNeverComesUp, py::arg("never"), self)
        .def("set_board_fault", &Channel::setBoardFault, py::arg("fault"), self)
        .def("set_bus_fault", &Channel::setBusFault, py::arg("fault"), self)
        .def("set_lockout_answers", &Channel::setLockoutAnswers, py::arg("answers"), self)
        .def("place_station", &Channel::placeStation, py::arg("station"),
             py::arg("io_configuration"), self,
             "Puts a station on the bus: INPUTS_ONLY, OUTPUTS_ONLY or INPUTS_AND_OUTPUTS.")
        .def("remove_station", &Channel::removeStation, py::arg("station"), self)
        .def("is_placed", &Channel::isPlaced, py::arg("station"))
        .def("is_logged_in", &Channel::isLoggedIn, py::arg("station"))
        .def("set_input_byte", &Channel::setInputByte, py::arg("station"), py::arg("byte"),
             py::arg("value"), self)
        .def("set_input", &Channel::setInput, py::arg("station"), py::arg("point"),
             py::arg("on"), self)
        .def("set_input_word", &Channel::setInputWord, py::arg("station"), py::arg("word"),
             py::arg("raw"), self)
        .def("input_byte", &Channel::inputByte, py::arg("station"), py::arg("byte"))
        .def("output_byte", &Channel::outputByte, py::arg("station"), py::arg("byte"))
        .def("output", &Channel::output, py::arg("station"), py::arg("point"))
        .def("output_word", &Channel::outputWord, py::arg("station"), py::arg("word"))
        .def_property_readonly("memory", &Channel::memory, inside)
        .def_property_readonly("phase", &Channel::phase)
        .def_property_readonly("bus_up", &Channel::busUp)
        .def_property_readonly("status", &Channel::status)
        .def_property_readonly("control_register", &Channel::controlRegister)
        .def_property_readonly("starts", &Channel::starts)
        .def("outputs_enabled", &Channel::outputsEnabled, py::arg("station"));

    py::class_<GEPCIMBoard, Board, Owned<GEPCIMBoard>>(
        sim, "GEPCIMBoard", "The PCIM motherboard model, carrier of one or two MicroGENI boards.")
        .def(py::init([](Machine& m, std::uint16_t base, unsigned type) {
                 return &m.add<GEPCIMBoard>(base, type);
             }),
             py::arg("machine"), py::arg("base_port"), py::arg("type") = 2,
             py::keep_alive<1, 2>())
        .def_property_readonly("base_port", &GEPCIMBoard::basePort)
        .def_property_readonly("type", &GEPCIMBoard::type)
        .def("add_micro_geni", &GEPCIMBoard::addMicroGENI, py::arg("base_port"),
             py::arg("memory_address"), py::arg("power_up") = Channel::Running, inside)
        .def_property_readonly("channel_a", &GEPCIMBoard::channelA, inside)
        .def_property_readonly("channel_b", &GEPCIMBoard::channelB, inside);
}

void bindProfibus(py::module_& sim) {
    typedef SST5136PFBBoard PFB;
    py::class_<PFB, Board, Owned<PFB>> pfb(sim, "SST5136PFBBoard",
                                           "The 5136-PFB-PCI Profibus DP master model on the "
                                           "host bridge's bus, with the slaves of its network.");
    py::enum_<PFB::Phase>(pfb, "Phase")
        .value("LOADER_WAITING", PFB::LoaderWaiting)
        .value("LOADER_TAKING", PFB::LoaderTaking)
        .value("LOADER_ANSWERED", PFB::LoaderAnswered)
        .value("MODULE_STARTING", PFB::ModuleStarting)
        .value("MODULE_RUNNING", PFB::ModuleRunning)
        .value("HUNG", PFB::Hung);
    py::class_<PFB::Answer>(pfb, "Answer", "How the module answers a command.")
        .def(py::init<>())
        .def_readwrite("status", &PFB::Answer::status)
        .def_readwrite("never", &PFB::Answer::never)
        .def_readwrite("acknowledgement_ignored", &PFB::Answer::acknowledgementIgnored)
        .def_readwrite("state", &PFB::Answer::state)
        .def_readwrite("then_state", &PFB::Answer::thenState)
        .def_readwrite("then_after", &PFB::Answer::thenAfter);
    pfb.attr("DEFAULT_MEMORY_ADDRESS") = static_cast<std::uint32_t>(PFB::DefaultMemoryAddress);
    pfb.def(py::init([](Machine& m, PCIHostBridge& bridge, std::uint8_t bus, std::uint8_t device,
                        std::uint8_t function, std::uint32_t address) {
                return &m.add<PFB>(bridge, bus, device, function, address);
            }),
            py::arg("machine"), py::arg("bridge"), py::arg("bus"), py::arg("device"),
            py::arg("function") = 0,
            py::arg("memory_address") = static_cast<std::uint32_t>(PFB::DefaultMemoryAddress),
            py::keep_alive<1, 2>(), py::keep_alive<1, 3>())
        .def_property_readonly("memory_address", &PFB::memoryAddress)
        .def("power_up_running", &PFB::powerUpRunning, py::arg("online") = false, self,
             "A board that already runs its module, the network online or not.")
        .def(
            "set_expected_module",
            [](PFB& b, const std::string& module) -> PFB& {
                return b.setExpectedModule(toBytes(module));
            },
            py::arg("module"), self)
        .def("set_loader_time", &PFB::setLoaderTime, py::arg("ms"), self)
        .def("set_module_start_time", &PFB::setModuleStartTime, py::arg("ms"), self)
        .def("set_command_time", &PFB::setCommandTime, py::arg("code"), py::arg("ms"), self)
        .def("set_module_version", &PFB::setModuleVersion, py::arg("version"), self)
        .def("set_loader_silent", &PFB::setLoaderSilent, py::arg("silent"), self)
        .def("set_module_never_starts", &PFB::setModuleNeverStarts, py::arg("never"), self)
        .def("set_module_silent", &PFB::setModuleSilent, py::arg("silent"), self)
        .def("set_answer", &PFB::setAnswer, py::arg("code"), py::arg("answer"), self)
        .def("set_answer_at", &PFB::setAnswerAt, py::arg("sequence"), py::arg("answer"), self)
        .def("fail_command", &PFB::failCommand, py::arg("code"), py::arg("status"), self)
        .def("add_slave", &PFB::addSlave, py::arg("address"), py::arg("input_bytes"),
             py::arg("output_bytes"), py::arg("configured") = true, self)
        .def("remove_slave", &PFB::removeSlave, py::arg("address"), self)
        .def("set_configured", &PFB::setConfigured, py::arg("address"), py::arg("configured"),
             self)
        .def("set_answering", &PFB::setAnswering, py::arg("address"), py::arg("answering"), self)
        .def(
            "set_inputs",
            [](PFB& b, unsigned address, unsigned offset, const std::string& bytes) -> PFB& {
                return b.setInputs(address, offset, toBytes(bytes));
            },
            py::arg("address"), py::arg("offset"), py::arg("data"), self)
        .def("set_input", &PFB::setInput, py::arg("address"), py::arg("byte"), py::arg("value"),
             self)
        .def(
            "outputs", [](const PFB& b, unsigned address) { return fromBytes(b.outputs(address)); },
            py::arg("address"))
        .def("output", &PFB::output, py::arg("address"), py::arg("byte"))
        .def(
            "inputs", [](const PFB& b, unsigned address) { return fromBytes(b.inputs(address)); },
            py::arg("address"))
        .def("is_configured", &PFB::isConfigured, py::arg("address"))
        .def("slave_word", &PFB::slaveWord, py::arg("address"))
        .def("store_in_flash", &PFB::storeInFlash, self)
        .def("erase_flash", &PFB::eraseFlash, self)
        .def_property_readonly("flash_holds", &PFB::flashHolds)
        .def_property_readonly("flash_writes", &PFB::flashWrites)
        .def_property_readonly("phase", &PFB::phase)
        .def_property_readonly("memory", &PFB::memory, inside)
        .def_property_readonly("online", &PFB::online)
        .def_property_readonly("network_baud_rate", &PFB::networkBaudRate)
        .def_property_readonly("command_codes",
                               [](const PFB& b) { return fromBytes(b.commandCodes()); });
}

}  // namespace

void bindSim(py::module_& sim) {
    bindMachine(sim);
    bindParts(sim);
    bindPciBus(sim);
    bindDigitalBoards(sim);
    bindKTx(sim);
    bindGenius(sim);
    bindProfibus(sim);
}

}  // namespace TavexPython
