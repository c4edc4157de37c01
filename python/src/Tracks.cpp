// tavex.IOTrack: a run of points of one card, its values as Python ints and
// as a numpy view of the track's own array.
#include <pybind11/numpy.h>

#include <chrono>
#include <climits>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "Binding.h"
#include "CardTypes.h"
#include "tavex/model/IOTrack.h"

namespace TavexPython {
// Python objects with the names the type stubs give them.
struct TrackStateObject : py::object {
    using py::object::object;
    TrackStateObject(py::object o) : py::object(std::move(o)) {}
};
struct ValuesArray : py::array {
    using py::array::array;
};
struct PointValue : py::object {
    using py::object::object;
    static bool check_(py::handle h) { return h.ptr() != nullptr; }   // any object: checked later
};
}  // namespace TavexPython

namespace pybind11 {
namespace detail {
template <>
struct handle_type_name<TavexPython::TrackStateObject> {
    static constexpr auto name = const_name("tavex._state.TrackState");
};
template <>
struct handle_type_name<TavexPython::ValuesArray> {
    static constexpr auto name = const_name("numpy.typing.NDArray[numpy.int_]");
};
template <>
struct handle_type_name<TavexPython::PointValue> {
    static constexpr auto name = const_name("typing.SupportsIndex");
};
}  // namespace detail
}  // namespace pybind11

namespace TavexPython {

namespace {

using Tavex::IOTrack;

PyObject* trackStateType = nullptr;

// A Python index as the library's point number: negative counts from the
// end; anything outside 0 .. 2^32 - 1 becomes a number the library itself
// refuses, with its own text.
unsigned int pointNumber(const IOTrack& track, long long index) {
    if (index < 0)
        index += track.numberOfPoints();
    if (index < 0 || index > static_cast<long long>(UINT_MAX))
        return UINT_MAX;
    return static_cast<unsigned int>(index);
}

// A value for a point: any int, checked to 32 bits, since every card takes
// its points' values as 32-bit numbers.
long pointValue(const PointValue& value) {
    py::object number = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
    if (!number)
        throw py::error_already_set();
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
    if (v == -1 && PyErr_Occurred())
        throw py::error_already_set();
    if (overflow != 0 || v < INT32_MIN || v > INT32_MAX)
        raiseOverflow("tavex.IOTrack: a point's value must fit in 32 bits "
                      "(-2147483648 to 2147483647)");
    return static_cast<long>(v);
}

std::string letters(const IOTrack& track) {
    std::string text;
    for (unsigned int i = 0; i < track.numberOfPoints(); ++i)
        text += static_cast<char>(track.pointType(i));
    return text;
}

// Outputs, analog outputs and counters are written by update_outputs (a
// counter's value presets its count); a track of inputs only is read-only.
bool writesOutputs(const IOTrack& track) {
    return track.hasPointOfType('O') || track.hasPointOfType('U') ||
           track.hasPointOfType('C') || track.hasPointOfType('R');
}

// A state no card gives (other than 0, 2, 3) comes as a plain int.
TrackStateObject state(const IOTrack& track) {
    const long value = track.trackState();
    if (value == 0 || value == 2 || value == 3)
        return py::reinterpret_borrow<py::object>(trackStateType)(value);
    return py::int_(value);
}

ValuesArray values(py::object self) {
    IOTrack& track = self.cast<IOTrack&>();
    long* data = &track[0];
    ValuesArray view(py::dtype::of<long>(), {static_cast<py::ssize_t>(track.numberOfPoints())},
                   {static_cast<py::ssize_t>(sizeof(long))}, data, self);
    if (!writesOutputs(track))
        py::detail::array_proxy(view.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
    return view;
}

std::string repr(const IOTrack& track) {
    std::string text = "tavex.IOTrack(card=";
    text += py::repr(py::cast(&track.card(), py::return_value_policy::reference));
    text += ", start=" + std::to_string(track.startingPoint());
    text += ", letters='" + letters(track) + "', values=[";
    for (unsigned int i = 0; i < track.numberOfPoints(); ++i)
        text += (i ? ", " : "") + std::to_string(track[i]);
    text += "], state=";
    py::object s = state(track);
    text += py::str(py::hasattr(s, "name") ? py::object(s.attr("name")) : s);
    return text + ")";
}

}  // namespace

void bindTracks(py::module_& m) {
    trackStateType = py::object(py::module_::import("tavex._state").attr("TrackState")).release().ptr();

    py::class_<IOTrack>(m, "IOTrack", R"(A run of consecutive I/O points of one card.

card: the card (the track keeps it alive).  start: the track's first point in
the card's own unit (a port, a bank, a station, a channel, ...).  letters: one
letter per point: I digital input, O digital output, A analog input, U analog
output, C counter, R reverse counter, N not used.  The card checks everything
here and raises LogicError, RangeError or DeviceError with its own text.

values: the values as a numpy view of the track's own array, no copy (read-only
for a track of inputs only); state: a TrackState after each update.)")
        .def(py::init([](Tavex::IOCard& card, unsigned int start, const std::string& letters) {
                 if (letters.find('\0') != std::string::npos)
                     throw std::logic_error("tavex.IOTrack: the letters hold a NUL character");
                 py::gil_scoped_release nogil;
                 return new IOTrack(card, start, letters.c_str());
             }),
             py::arg("card"), py::arg("start"), py::arg("letters"), py::keep_alive<1, 2>())
        .def("update_inputs", &IOTrack::updateInputs, py::return_value_policy::reference,
             "Reads the track's inputs from the card; returns the track.  Never raises: the "
             "card's health is in state.")
        .def("update_outputs", &IOTrack::updateOutputs, py::return_value_policy::reference,
             "Writes the track's outputs to the card; returns the track.  Never raises: the "
             "card's health is in state.")
        .def("__len__", &IOTrack::numberOfPoints)
        .def("__getitem__",
             [](const IOTrack& t, long long index) -> long { return t[pointNumber(t, index)]; },
             py::arg("index"))
        .def("__setitem__",
             [](IOTrack& t, long long index, const PointValue& value) {
                 const long v = pointValue(value);
                 t[pointNumber(t, index)] = v;
             },
             py::arg("index"), py::arg("value"))
        .def(
            "__iter__",
            [](const IOTrack& t) {
                const long* first = &t[0];
                return py::make_iterator(first, first + t.numberOfPoints());
            },
            py::keep_alive<0, 1>())
        .def("__repr__", &repr)
        // The values, one per point: a numpy view of the track's own array
        // (no copy), read-only for a track of inputs only.
        .def_property_readonly("values", &values)
        // After the last update: OK, CARD_DOWN or STATION_DOWN.
        .def_property_readonly("state", &state)
        .def_property_readonly(
            "card", [](const IOTrack& t) -> Tavex::IOCard& { return t.card(); },
            py::return_value_policy::reference)
        .def_property_readonly("start", &IOTrack::startingPoint)
        .def_property_readonly("starting_point", &IOTrack::startingPoint)
        .def_property_readonly("number_of_points", &IOTrack::numberOfPoints)
        .def_property_readonly("letters", &letters)
        .def(
            "point_type",
            [](const IOTrack& t, long long index) {
                return std::string(1, static_cast<char>(t.pointType(pointNumber(t, index))));
            },
            py::arg("index"))
        .def(
            "has_point_of_type",
            [](const IOTrack& t, char letter) { return t.hasPointOfType(letter); },
            py::arg("letter"));

    // The cost of update_inputs() called from C++, for the benchmark that
    // compares it with the same call from Python.
    m.def(
        "_update_inputs_ns",
        [](IOTrack& track, unsigned long calls) {
            const auto start = std::chrono::steady_clock::now();
            for (unsigned long i = 0; i < calls; ++i)
                track.updateInputs();
            const std::chrono::duration<double, std::nano> took =
                std::chrono::steady_clock::now() - start;
            return calls ? took.count() / static_cast<double>(calls) : 0.0;
        },
        py::arg("track"), py::arg("calls"));
}

}  // namespace TavexPython
