// tavex.Plant: a plant file's cards and named tracks, built.
#include "Binding.h"
#include "CardTypes.h"

#if defined(TAVEX_PYTHON_PLANT)

#include <pybind11/stl.h>

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <pybind11/chrono.h>

#include "tavex/plant/Plant.h"
#include "tavex/plant/PlantScan.h"

namespace TavexPython {

namespace {

using Tavex::PlantIO;

// The cards and tracks of a plant, with a lease on the platform they were
// built on.  Tracks and cards handed to Python keep the plant alive.
class PlantObject : private Lease {
public:
    // Ends on the plant's own machine (Binding.h).
    ~PlantObject() { enterOwnMachine(); }

    PlantObject(const Tavex::Plant& plant, const std::string& ktxFirmwarePath) {
        Tavex::OpenOptions options;
        options.ktxFirmwarePath = ktxFirmwarePath;
        io_.reset(new PlantIO(plant, options));
    }

    PlantIO& io() {
        if (!io_)
            throw std::logic_error("tavex.Plant: the plant is closed");
        return *io_;
    }

    // Refused while Python holds one of its tracks or cards: they would be
    // left without their objects.
    void close() {
        if (!io_)
            return;
        for (std::size_t i = 0; i < io_->trackCount(); ++i)
            if (inUse(&io_->track(i)))
                throw std::logic_error("tavex.Plant: a track of the plant is still in use");
        for (const Tavex::PlantCard& card : io_->plant().cards())
            if (inUse(&io_->card(card.name).card()))
                throw std::logic_error("tavex.Plant: a card of the plant is still in use");
        PlantIO& io = *io_;
        {
            py::gil_scoped_release nogil;
            io.close();
        }
        io_.reset();
    }

private:
    static bool inUse(const void* object) {
        return py::detail::get_internals().registered_instances.count(const_cast<void*>(object)) !=
               0;
    }

    std::unique_ptr<PlantIO> io_;
};

const Tavex::PlantTrack& info(PlantObject& p, const std::string& name) {
    const Tavex::PlantTrack* track = p.io().plant().findTrack(name);
    if (track == nullptr)
        throw py::key_error("tavex.Plant: no track named '" + name + "'");
    return *track;
}

PlantObject* open(const std::string& path, const std::string* text, const std::string& ktx) {
    py::gil_scoped_release nogil;
    const Tavex::Plant plant = text ? Tavex::Plant::parse(*text, path) : Tavex::Plant::load(path);
    return new PlantObject(plant, ktx);
}

}  // namespace

void bindPlant(py::module_& m) {
    py::class_<Tavex::PlantScan, Tavex::Scan>(
        m, "PlantScan", "A scan of every track of a plant, with the plant's safe values.");

    py::class_<PlantObject>(m, "Plant", R"(A plant file's cards and named tracks, built.

path: the plant file (TOML).  Every card is built in the order of the file,
then every track; a refusal raises the library's error and leaves nothing
open; a mistake in the file raises PlantError, pointing into it.
ktx_firmware_path: the folder of the 1784-KTx protocol files for a ktx card
whose path is empty.)")
        .def(py::init([](const std::string& path, const std::string& ktx) {
                 return open(path, nullptr, ktx);
             }),
             py::arg("path"), py::arg("ktx_firmware_path") = "")
        .def_static(
            "from_text",
            [](const std::string& text, const std::string& file, const std::string& ktx) {
                return std::unique_ptr<PlantObject>(open(file, &text, ktx));
            },
            py::arg("text"), py::arg("file") = "plant.toml", py::arg("ktx_firmware_path") = "",
            "A plant from the text of a file; file names it in the errors.")
        .def_property_readonly("file",
                               [](PlantObject& p) { return p.io().plant().file(); })
        .def_property_readonly(
            "period", [](PlantObject& p) { return p.io().plant().period(); },
            "The scan period in microseconds.")
        .def_property_readonly(
            "settle_time", [](PlantObject& p) { return p.io().settleTime(); },
            "Microseconds the boards need between the first outputs and the first inputs.")
        .def_property_readonly("track_names",
                               [](PlantObject& p) {
                                   std::vector<std::string> names;
                                   for (const Tavex::PlantTrack& t : p.io().plant().tracks())
                                       names.push_back(t.name);
                                   return names;
                               })
        .def_property_readonly("card_names",
                               [](PlantObject& p) {
                                   std::vector<std::string> names;
                                   for (const Tavex::PlantCard& c : p.io().plant().cards())
                                       names.push_back(c.name);
                                   return names;
                               })
        .def(
            "track",
            [](PlantObject& p, const std::string& name) -> Tavex::IOTrack& {
                info(p, name);
                return p.io().track(name);
            },
            py::arg("name"), py::return_value_policy::reference_internal)
        .def(
            "__getitem__",
            [](PlantObject& p, const std::string& name) -> Tavex::IOTrack& {
                info(p, name);
                return p.io().track(name);
            },
            py::arg("name"), py::return_value_policy::reference_internal)
        .def("__contains__",
             [](PlantObject& p, const std::string& name) {
                 return p.io().plant().findTrack(name) != nullptr;
             })
        .def(
            "card",
            [](PlantObject& p, const std::string& name) -> Tavex::IOCard& {
                if (p.io().plant().findCard(name) == nullptr)
                    throw py::key_error("tavex.Plant: no card named '" + name + "'");
                return p.io().card(name).card();
            },
            py::arg("name"), py::return_value_policy::reference_internal)
        .def(
            "points", [](PlantObject& p, const std::string& name) { return info(p, name).points; },
            py::arg("track"), "The names of a track's points, by position.")
        .def(
            "point",
            [](PlantObject& p, const std::string& track, const std::string& point) {
                const long index = info(p, track).pointIndex(point);
                if (index < 0)
                    throw py::key_error("tavex.Plant: track '" + track + "' has no point named '" +
                                        point + "'");
                return index;
            },
            py::arg("track"), py::arg("point"), "The position of a named point in its track.")
        .def(
            "safe_values", [](PlantObject& p, const std::string& name) { return info(p, name).safe; },
            py::arg("track"), "A track's safe values, one per point (0 where none is given).")
        .def("set_safe_values", [](PlantObject& p) { p.io().setSafeValues(); },
             "Sets every output track's values to its safe values (update_outputs writes them).")
        .def(
            "scan",
            [](PlantObject& p, const std::optional<std::chrono::nanoseconds>& period) {
                return period ? new Tavex::PlantScan(p.io(), *period)
                              : new Tavex::PlantScan(p.io());
            },
            py::arg("period") = py::none(), py::keep_alive<0, 1>(),
            "A scan of every track of the plant, in the order of the file, with their safe "
            "values; its period is the plant's unless given.")
        .def("close", &PlantObject::close,
             "Deletes the cards and tracks now; refused while Python holds one of them.");
}

}  // namespace TavexPython

#else

namespace TavexPython {
void bindPlant(py::module_&) {}
}  // namespace TavexPython

#endif
