// The installed machines and the leases on them.
#include <mutex>
#include <stdexcept>
#include <vector>

#include "Binding.h"
#include "tavex/platform/Platform.h"
#include "tavex/sim/Machine.h"

namespace TavexPython {

namespace {

struct Installed {
    std::shared_ptr<Tavex::Sim::Machine> machine;
    Tavex::Platform* previous;
    bool leaving;   // its `with` block has ended
};

struct Registry {
    std::mutex lock;
    std::vector<Installed> stack;   // innermost last
    long leases = 0;
};

Registry& registry() {
    // Never destroyed: cards that outlive the interpreter's shutdown still
    // drop their leases here.
    static Registry* r = new Registry;
    return *r;
}

// Takes out every machine whose block has ended, innermost first, as long
// as nothing holds a lease on it.
void unwind(Registry& r) {
    while (!r.stack.empty() && r.stack.back().leaving && r.leases == 0) {
        Tavex::Platform::install(r.stack.back().previous);
        r.stack.pop_back();
    }
}

}  // namespace

Lease::Lease() {
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.lock);
    if (!r.stack.empty())
        machine_ = r.stack.back().machine;
    ++r.leases;
}

Lease::~Lease() {
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.lock);
    --r.leases;
    unwind(r);
}

void installMachine(const std::shared_ptr<Tavex::Sim::Machine>& machine) {
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.lock);
    for (const Installed& i : r.stack)
        if (i.machine == machine)
            throw std::logic_error("tavex.sim.Machine: this machine is installed already");
    if (r.leases != 0)
        throw std::logic_error(
            "tavex.sim.Machine: cards of the platform installed now are still alive; "
            "delete them (and their tracks) before installing another machine");
    Installed entry = {machine, Tavex::Platform::install(machine.get()), false};
    r.stack.push_back(entry);
}

void uninstallMachine(const std::shared_ptr<Tavex::Sim::Machine>& machine) {
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.lock);
    for (Installed& i : r.stack)
        if (i.machine == machine) {
            i.leaving = true;
            unwind(r);
            return;
        }
    throw std::logic_error("tavex.sim.Machine: this machine is not installed");
}

bool isInstalled(const Tavex::Sim::Machine& machine) {
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.lock);
    for (const Installed& i : r.stack)
        if (i.machine.get() == &machine)
            return true;
    return false;
}

long liveLeases() {
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.lock);
    return r.leases;
}

}  // namespace TavexPython
