// The card classes.  Every constructor and every command that may wait on
// the board runs without the GIL; each card holds a lease on the platform
// it was built on (Binding.h).
#include <cstdio>
#include <string>

#include "Binding.h"
#include "CardTypes.h"
#include "tavex/cards/AC28Card.h"
#include "tavex/cards/AC5Card.h"
#include "tavex/cards/PC7166Card.h"
#include "tavex/cards/PCI72xxCard.h"
#include "tavex/cards/ParallelPort.h"
#include "tavex/genius/GEMicroGENI.h"
#include "tavex/genius/GEPCIMCard.h"
#include "tavex/model/DummyCard.h"
#include "tavex/model/IOCard.h"
#include "tavex/profibus/SST5136PFBPCI.h"
#include "tavex/rio/AB1784Card.h"

namespace TavexPython {

namespace {

using namespace Tavex;
typedef py::call_guard<py::gil_scoped_release> NoGil;

// Builds a card without the GIL, with its lease.
template <class T, class... Args>
T* make(Args... args) {
    py::gil_scoped_release nogil;
    return new Held<T>(args...);
}

std::string hex(unsigned long value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%lX", value);
    return text;
}

template <class T>
std::string describe(const T& card, const std::string& where) {
    return std::string("<tavex.") + py::str(py::type::of(py::cast(&card)).attr("__name__")).cast<std::string>() +
           " " + card.type() + (where.empty() ? "" : " at " + where) + ">";
}

}  // namespace

void bindCards(py::module_& m) {
    py::class_<IOCard>(m, "IOCard", "The base of every card: a board driver that tracks are built on.")
        .def_property_readonly("type", [](const IOCard& c) { return std::string(c.type()); },
                               "The card's type name, as the library's texts give it.")
        .def("reset", &IOCard::reset, NoGil(), py::return_value_policy::reference,
             "Re-initialises the board (cards with nothing to reset do nothing); returns the "
             "card.")
        .def("__repr__", [](const IOCard& c) { return describe(c, ""); });

    py::class_<DummyCard, IOCard>(m, "DummyCard", "A card with no hardware: it accepts every "
                                                  "track and leaves its values alone.")
        .def(py::init([]() { return make<DummyCard>(); }));

    py::class_<AC5Card, IOCard>(m, "AC5Card",
                                "The AC5 ISA digital I/O board: three ports of eight points, "
                                "active low.  A track starts at port 0, 1 or 2.")
        .def(py::init([](unsigned int port) { return make<AC5Card>(port); }),
             py::arg("base_io_port"))
        .def_property_readonly("base_io_port", &AC5Card::baseIOPort)
        .def("__repr__", [](const AC5Card& c) { return describe(c, hex(c.baseIOPort())); });

    py::class_<PCI72xxCard, IOCard>(m, "PCI72xxCard",
                                    "The PCI-7248/7296 digital I/O boards: the card_index-th "
                                    "such board in the PCI scan.  A track is one group of 24.")
        .def(py::init([](unsigned int index) { return make<PCI72xxCard>(index); }),
             py::arg("card_index") = 0);

    py::class_<ParallelPort, IOCard>(m, "ParallelPort",
                                     "The PC's parallel port: one track of 17 points (eight "
                                     "data outputs, four control lines, five status inputs).")
        .def(py::init([](const std::string& name) { return make<ParallelPort>(name.c_str()); }),
             py::arg("name"), "By name: LPT1 to LPT4 (or lpt1 to lpt4, PRN, prn).")
        .def(py::init([](unsigned short port) { return make<ParallelPort>(port); }),
             py::arg("base_io_port"), "By base port, one the BIOS lists.")
        .def(py::init([]() { return make<ParallelPort>(static_cast<const char*>(nullptr)); }),
             "LPT1.")
        .def_property_readonly("base_io_port", &ParallelPort::baseIOPort)
        .def("__repr__", [](const ParallelPort& c) { return describe(c, hex(c.baseIOPort())); });

    py::class_<PC7166Card, IOCard>(m, "PC7166Card",
                                   "The PC7166 encoder counter: four 24-bit counters counted "
                                   "on in 32 bits.  Letters C (counter), R (reversed), N.")
        .def(py::init([](unsigned int port) { return make<PC7166Card>(port); }),
             py::arg("base_io_port"))
        .def_property_readonly("base_io_port", &PC7166Card::baseIOPort)
        .def("__repr__", [](const PC7166Card& c) { return describe(c, hex(c.baseIOPort())); });

    py::class_<Opto22AC28Base, IOCard>(m, "Opto22AC28Base",
                                       "The Opto 22 AC28 adapter's banks of brainboards.")
        .def_property_readonly("base_io_port", &Opto22AC28Base::baseIOPort)
        .def_property_readonly("reset_port", &Opto22AC28Base::resetPort)
        .def_property_readonly("reset_level", &Opto22AC28Base::resetLevel)
        .def("__repr__",
             [](const Opto22AC28Base& c) { return describe(c, hex(c.baseIOPort())); });

    py::class_<AC28Card, Opto22AC28Base>(m, "AC28Card",
                                         "The Opto 22 AC28 adapter.  Building it resets the "
                                         "brainboards (a 30 ms pulse: every output goes off).")
        .def(py::init([](unsigned int port, unsigned int resetPort, bool resetLevel) {
                 return make<AC28Card>(port, resetPort, resetLevel);
             }),
             py::arg("base_io_port"), py::arg("reset_port"), py::arg("reset_level"));

    py::class_<AB1784Card, IOCard>(m, "AB1784Card",
                                   "The 1784-KTx Remote I/O scanner.  Building it loads and "
                                   "starts the scanner (2 seconds or more).")
        .def(py::init([](unsigned int address, const std::string& path, unsigned int speed) {
                 return make<AB1784Card>(address, path.c_str(), speed);
             }),
             py::arg("base_memory_address"), py::arg("firmware_path"), py::arg("link_speed"))
        .def_property_readonly("base_memory_address", &AB1784Card::baseMemoryAddress)
        .def_property_readonly("link_speed", &AB1784Card::linkSpeed)
        .def_property_readonly("firmware_path",
                               [](const AB1784Card& c) { return std::string(c.firmwarePath()); })
        .def("__repr__",
             [](const AB1784Card& c) { return describe(c, hex(c.baseMemoryAddress())); });

    py::class_<GEMicroGENI, IOCard>(m, "GEMicroGENI",
                                    "One Genius bus channel.  A channel that is not healthy is "
                                    "reset and waited for, up to 50 seconds.  A track is one "
                                    "station (0-31).")
        .def(py::init([](unsigned int port, unsigned long address) {
                 return make<GEMicroGENI>(port, address);
             }),
             py::arg("base_io_address"), py::arg("memory_address"))
        .def("is_board_ok", &GEMicroGENI::isBoardOK, NoGil())
        .def("is_comm_ok", &GEMicroGENI::isCommOK, NoGil())
        .def("is_reset", &GEMicroGENI::isReset, NoGil())
        .def("reset", py::overload_cast<bool>(&GEMicroGENI::reset), py::arg("flag"), NoGil(),
             py::return_value_policy::reference,
             "Sets (True) or clears bit 6 of the control register; returns the channel.")
        .def("reset", [](GEMicroGENI& c) -> IOCard& {
                 py::gil_scoped_release nogil;
                 return c.reset();
             }, py::return_value_policy::reference, "Does nothing (no reset of the card).")
        .def("clear_reset", &GEMicroGENI::clearReset, NoGil(), py::return_value_policy::reference)
        .def_property_readonly("base_io_address", &GEMicroGENI::baseIOAddress)
        .def("__repr__",
             [](const GEMicroGENI& c) { return describe(c, hex(c.baseIOAddress())); });

    py::class_<GEPCIMCard>(m, "GEPCIMCard",
                           "The Genius PCIM motherboard, owner of its MicroGENI channels "
                           "(one, or two on a type 2 motherboard); tracks are built on them.")
        .def(py::init([](unsigned int port, unsigned int type) {
                 return make<GEPCIMCard>(port, type);
             }),
             py::arg("base_io_address"), py::arg("motherboard_type"))
        .def("add_micro_geni", &GEPCIMCard::addMicroGENI, py::arg("base_io_address"),
             py::arg("memory_address"), NoGil(), py::return_value_policy::reference,
             "Builds the next channel, A then B; returns the motherboard.")
        .def_property_readonly("channel_a", &GEPCIMCard::channelA,
                               py::return_value_policy::reference_internal)
        .def_property_readonly("channel_b", &GEPCIMCard::channelB,
                               py::return_value_policy::reference_internal)
        .def_property_readonly("base_io_address", &GEPCIMCard::baseIOAddress)
        .def_property_readonly("motherboard_type", &GEPCIMCard::motherboardType)
        .def("__repr__", [](const GEPCIMCard& c) {
            return "<tavex.GEPCIMCard type " + std::to_string(c.motherboardType()) + " at " +
                   hex(c.baseIOAddress()) + ">";
        });

    py::class_<SST5136PFBPCI, IOCard>(
        m, "SST5136PFBPCI",
        "The 5136-PFB-PCI Profibus DP master: the card_index-th such board in the PCI scan.  "
        "A track's start is the slave address times 0x10000 plus a byte offset.")
        .def(py::init([](const std::string& prefix, unsigned long baud, unsigned int index) {
                 return make<SST5136PFBPCI>(prefix.c_str(), baud, index);
             }),
             py::arg("module_prefix"), py::arg("baud_rate"), py::arg("card_index"))
        .def("set_baud_rate", &SST5136PFBPCI::setBaudRate, py::arg("baud_rate"), NoGil(),
             py::return_value_policy::reference)
        .def_property_readonly("baud_rate", &SST5136PFBPCI::baudRate,
                               "The code the board holds now.")
        .def("online", &SST5136PFBPCI::online, NoGil(), py::return_value_policy::reference,
             "Brings the network online; returns the card.")
        .def("autoconfigure", &SST5136PFBPCI::autoconfigure, NoGil(),
             py::return_value_policy::reference)
        .def(
            "configure",
            [](SST5136PFBPCI& c, const std::string& file) -> SST5136PFBPCI& {
                py::gil_scoped_release nogil;
                return c.configure(file.c_str());
            },
            py::arg("configuration_file"), py::return_value_policy::reference)
        .def("configuration_to_flash", &SST5136PFBPCI::configurationToFlash, NoGil(),
             py::return_value_policy::reference)
        .def("configuration_from_flash", &SST5136PFBPCI::configurationFromFlash, NoGil(),
             py::return_value_policy::reference);
}

}  // namespace TavexPython
