// The installed machines and the leases on them.
#include <map>
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
    long leases;    // cards built on it that live
};

struct Registry {
    std::mutex lock;
    std::vector<Installed> stack;   // innermost last
    long nativeLeases = 0;   // cards built with no machine installed
    // Every machine made from Python, by the address that its Python
    // object and its boards see.
    std::map<const Tavex::Sim::Machine*, std::weak_ptr<Tavex::Sim::Machine> > machines;
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
    while (!r.stack.empty() && r.stack.back().leaving && r.stack.back().leases == 0) {
        Tavex::Platform::install(r.stack.back().previous);
        r.stack.pop_back();
    }
}

std::shared_ptr<Tavex::Sim::Machine> coreOf(Registry& r, const Tavex::Sim::Machine& machine) {
    std::map<const Tavex::Sim::Machine*, std::weak_ptr<Tavex::Sim::Machine> >::iterator it =
        r.machines.find(&machine);
    std::shared_ptr<Tavex::Sim::Machine> core;
    if (it != r.machines.end())
        core = it->second.lock();
    if (!core)
        throw std::logic_error("tavex.sim.Machine: not a machine made from Python");
    return core;
}

// The Python object's own reference is gone: the machine is taken out as
// if its block had ended.
void abandon(const std::shared_ptr<Tavex::Sim::Machine>& core) {
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.lock);
    r.machines.erase(core.get());
    for (Installed& i : r.stack)
        if (i.machine == core)
            i.leaving = true;
    unwind(r);
}

}  // namespace

Lease::Lease() : swapped_(false), swappedFrom_(nullptr) {
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.lock);
    if (r.stack.empty()) {
        ++r.nativeLeases;
        return;
    }
    machine_ = r.stack.back().machine;
    ++r.stack.back().leases;
}

void Lease::enterOwnMachine() {
    if (machine_ && &Tavex::Platform::current() != machine_.get()) {
        swappedFrom_ = Tavex::Platform::install(machine_.get());
        swapped_ = true;
    }
}

Lease::~Lease() {
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.lock);
    if (swapped_)
        Tavex::Platform::install(swappedFrom_);
    if (!machine_)
        --r.nativeLeases;
    for (Installed& i : r.stack)
        if (i.machine == machine_)
            --i.leases;
    unwind(r);
}

std::shared_ptr<Tavex::Sim::Machine> makeMachine() {
    std::shared_ptr<Tavex::Sim::Machine> core = std::make_shared<Tavex::Sim::Machine>();
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> hold(r.lock);
        r.machines[core.get()] = core;
    }
    // What Python holds: its own count, and when it ends the machine is
    // abandoned; cards keep the core.
    return std::shared_ptr<Tavex::Sim::Machine>(core.get(), [core](Tavex::Sim::Machine*) mutable {
        abandon(core);
        core.reset();
    });
}

void installMachine(const Tavex::Sim::Machine& machine) {
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.lock);
    const std::shared_ptr<Tavex::Sim::Machine> core = coreOf(r, machine);
    for (const Installed& i : r.stack)
        if (i.machine == core)
            throw std::logic_error("tavex.sim.Machine: this machine is installed already");
    // Cards of a machine whose block has ended may live on (a traceback
    // holds them); cards of a machine still in its block, or of this PC,
    // would find their boards gone.
    if (r.nativeLeases != 0 ||
        (!r.stack.empty() && !r.stack.back().leaving && r.stack.back().leases != 0))
        throw std::logic_error(
            "tavex.sim.Machine: cards of the platform installed now are still alive; "
            "delete them (and their tracks) before installing another machine");
    Installed entry = {core, Tavex::Platform::install(core.get()), false, 0};
    r.stack.push_back(entry);
}

void uninstallMachine(const Tavex::Sim::Machine& machine) {
    Registry& r = registry();
    std::lock_guard<std::mutex> hold(r.lock);
    for (Installed& i : r.stack)
        if (i.machine.get() == &machine && !i.leaving) {
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
    long leases = r.nativeLeases;
    for (const Installed& i : r.stack)
        leases += i.leases;
    return leases;
}

}  // namespace TavexPython
