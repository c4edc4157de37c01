// The extension module tavex._tavex; the package tavex re-exports it.
#include "Binding.h"

namespace py = pybind11;

PYBIND11_MODULE(_tavex, m) {
    m.doc() = "Cards, tracks and the simulated PC of the Tavex I/O library.";
    TavexPython::registerExceptions(m);
    TavexPython::bindCards(m);
    TavexPython::bindTracks(m);
    TavexPython::bindPci(m);
    TavexPython::bindExtras(m);
    TavexPython::bindScan(m);
    TavexPython::bindPlant(m);
    py::module_ sim = m.def_submodule("sim", "The simulated PC and its board models.");
    TavexPython::bindSim(sim);
    // Importable by its name, as a submodule of a package is.
    py::module_::import("sys").attr("modules")["tavex._tavex.sim"] = sim;
}
