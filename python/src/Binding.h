// What the parts of the Python module share: the platform lease that every
// card holds, the wrapper that gives a card its lease, and the binders of
// each part.
#ifndef TAVEX_PYTHON_BINDING_H
#define TAVEX_PYTHON_BINDING_H

#include <pybind11/pybind11.h>

#include <memory>
#include <utility>

namespace Tavex {
class Platform;
namespace Sim {
class Machine;
}
}  // namespace Tavex

namespace TavexPython {

namespace py = pybind11;

// Every object that reaches the hardware through the installed platform (a
// card, a plant's cards) holds a lease on it.  A machine whose `with` block
// ends while cards built on it live stays installed until the last of them
// goes.  Another machine is not installed over one still in its block with
// live cards, nor over cards of this PC; over a machine whose block has
// ended it is (a failed test's traceback may hold that machine's cards),
// and such a card ends on its own machine.
//
// Pure C++, no Python object: a lease may be taken and dropped without the
// GIL, as a card constructor that runs without it and throws does.
class Lease {
public:
    Lease();
    ~Lease();
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;

    // The machine installed when the lease was taken, or null (native).
    const std::shared_ptr<Tavex::Sim::Machine>& machine() const { return machine_; }

protected:
    // For a card's destructor: another machine may have come in since the
    // card's machine's block ended; the card ends on its own machine (its
    // window is unmapped there), which the lease puts back afterwards.
    void enterOwnMachine();

private:
    std::shared_ptr<Tavex::Sim::Machine> machine_;
    bool swapped_;
    Tavex::Platform* swappedFrom_;
};

// Installing and taking out machines (tavex.sim.Machine's `with`).
// A new machine for Python: when the Python object goes, the machine is
// taken out as if its block had ended (once no card holds it).
std::shared_ptr<Tavex::Sim::Machine> makeMachine();
void installMachine(const Tavex::Sim::Machine& machine);
void uninstallMachine(const Tavex::Sim::Machine& machine);
bool isInstalled(const Tavex::Sim::Machine& machine);
long liveLeases();

// A library object made from Python: the lease is the first base, so that
// it is taken before the object is built and dropped after it is gone.
// A destructor that throws (a card whose window the system refuses to
// unmap) cannot reach a Python caller from the garbage collector: its text
// goes to the interpreter's unraisable hook instead of ending the process.
void reportDestructorError(const char* type, const char* text);

template <class T>
class Held : protected Lease, public T {
public:
    template <class... Args>
    explicit Held(Args&&... args) : Lease(), T(std::forward<Args>(args)...) {}
    ~Held();
};

template <class T>
Held<T>::~Held() try {
    this->enterOwnMachine();
} catch (const std::exception& e) {
    reportDestructorError(typeid(T).name(), e.what());
    return;
} catch (...) {
    reportDestructorError(typeid(T).name(), "unknown exception");
    return;
}

// Raises the Python exception for what a call of the library threw.
void registerExceptions(py::module_& m);
void raiseOverflow(const char* text);

void bindTracks(py::module_& m);
void bindCards(py::module_& m);
void bindPci(py::module_& m);
void bindSim(py::module_& sim);
void bindExtras(py::module_& m);
void bindScan(py::module_& m);
void bindPlant(py::module_& m);

}  // namespace TavexPython

#endif
