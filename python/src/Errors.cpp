// The library's three exception types as Python exceptions, with the
// library's own texts; a destructor's error as an unraisable exception.
#include <stdexcept>

#include "Binding.h"
#if defined(TAVEX_PYTHON_PLANT)
#include "tavex/plant/Plant.h"
#endif
#include <cstdio>

namespace TavexPython {

namespace {

// Owned for the life of the process: translators may run at shutdown.
PyObject* logicError = nullptr;
PyObject* rangeError = nullptr;
PyObject* deviceError = nullptr;
PyObject* plantError = nullptr;

PyObject* keep(const py::module_& errors, const char* name) {
    return py::object(errors.attr(name)).release().ptr();
}

}  // namespace

void raiseOverflow(const char* text) {
    PyErr_SetString(PyExc_OverflowError, text);
    throw py::error_already_set();
}

void reportDestructorError(const char* type, const char* text) {
    (void)type;
    // A destructor may run without the GIL (a constructor that failed on
    // its way); the text goes nowhere but to stderr then.
    if (!PyGILState_Check()) {
        std::fprintf(stderr, "tavex: error while deleting a card: %s\n", text);
        return;
    }
    PyObject *type_, *value, *traceback;
    PyErr_Fetch(&type_, &value, &traceback);
    PyErr_SetString(deviceError ? deviceError : PyExc_OSError, text);
    PyErr_WriteUnraisable(nullptr);
    PyErr_Restore(type_, value, traceback);
}

void registerExceptions(py::module_&) {
    py::module_ errors = py::module_::import("tavex._errors");
    logicError = keep(errors, "LogicError");
    rangeError = keep(errors, "RangeError");
    deviceError = keep(errors, "DeviceError");
    plantError = keep(errors, "PlantError");

    py::register_exception_translator([](std::exception_ptr thrown) {
        try {
            if (thrown)
                std::rethrow_exception(thrown);
        } catch (const py::error_already_set&) {
            throw;
        } catch (const py::builtin_exception&) {
            throw;   // pybind11's own (stop_iteration, value_error, ...)
        } catch (const std::range_error& e) {
            PyErr_SetString(rangeError, e.what());
        } catch (const std::out_of_range& e) {
            // A board model's line, pin or channel number.
            PyErr_SetString(PyExc_IndexError, e.what());
        } catch (const std::logic_error& e) {
            PyErr_SetString(logicError, e.what());
        } catch (const std::runtime_error& e) {
#if defined(TAVEX_PYTHON_PLANT)
            if (const Tavex::PlantError* p = dynamic_cast<const Tavex::PlantError*>(&e)) {
                py::object error = py::reinterpret_borrow<py::object>(plantError)(p->what());
                error.attr("file") = p->file();
                error.attr("line") = p->line();
                error.attr("column") = p->column();
                error.attr("message") = p->message();
                PyErr_SetObject(plantError, error.ptr());
                return;
            }
#endif
            PyErr_SetString(deviceError, e.what());
        }
    });
}

}  // namespace TavexPython
