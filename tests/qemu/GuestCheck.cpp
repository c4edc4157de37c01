// Checks the library's native Linux backend against the PC it runs on: run
// as root inside the emulated PCs of scripts/qemu-test.sh, where the kernel
// lets /dev/mem reach the BIOS data area, ROMs and PCI memory and lets the
// process do port I/O.  Each check compares what the library finds with
// what the kernel itself shows (sysfs, /proc/iomem, /dev/mem read directly)
// or with what the hardware must answer.
//
//   tavex_guest_check --in-emulated-pc [--lpt=none|0xPORT] [--bridge] [--gap]
//                     [--tool=PATH]
//
// It writes PCI command registers, the BIOS data area, a display's memory
// and the parallel port: never run it on a real machine.  Without
// --in-emulated-pc it refuses to start.
//
//   --lpt=none    the machine has no parallel port: the BIOS lists no LPT1
//   --lpt=0x378   LPT1 is at this port; the check prints bytes through it
//                 and shows them as "printed: xx xx ...", for the host to
//                 compare with what reached the printer
//   --bridge      the scene has a PCI-to-PCI bridge with a bridge behind it
//                 and functions after the bridge on its own bus
//   --gap         the scene has a multi-function device with a gap among
//                 its functions
//   --tool=PATH   the tavex tool: "tavex pci -n" must print the kernel's
//                 functions (class, vendor, device, revision) in depth-first
//                 order, and "tavex pci" their names from pci.ids
//
// One line per check ("check NAME: ok|FAILED|skipped: ..."), then
// "guest: N checks passed, N failed, N skipped"; exit status 1 on failure.
#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tavex/tavex.h"

using namespace Tavex;

namespace {

// ---- the check harness -------------------------------------------------------

struct Failure : std::runtime_error {
    explicit Failure(const std::string& what) : std::runtime_error(what) {}
};
struct Skip : std::runtime_error {
    explicit Skip(const std::string& what) : std::runtime_error(what) {}
};

std::string hex(unsigned long value, int width = 0) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%0*lX", width, value);
    return text;
}

void expect(bool condition, const std::string& what) {
    if (!condition)
        throw Failure(what);
}

template <class T>
void expectEqual(const T& expected, const T& actual, const std::string& what) {
    if (!(expected == actual)) {
        std::ostringstream text;
        text << what << ": expected " << expected << ", got " << actual;
        throw Failure(text.str());
    }
}

void expectHex(unsigned long expected, unsigned long actual, const std::string& what) {
    if (expected != actual)
        throw Failure(what + ": expected " + hex(expected) + ", got " + hex(actual));
}

// Runs fn and expects it to throw exactly E with this text.
template <class E>
void expectThrow(const std::function<void()>& fn, const std::string& text,
                 const std::string& what) {
    try {
        fn();
    } catch (const E& error) {
        if (text != error.what())
            throw Failure(what + ": threw \"" + error.what() + "\", expected \"" + text + "\"");
        return;
    } catch (const std::exception& error) {
        throw Failure(what + ": threw another type: \"" + error.what() + "\"");
    }
    throw Failure(what + ": did not throw");
}

unsigned passed = 0, failed = 0, skipped = 0;

void run(const char* name, const std::function<std::string()>& check) {
    std::string line;
    try {
        const std::string detail = check();
        ++passed;
        line = std::string("check ") + name + ": ok" + (detail.empty() ? "" : ": " + detail);
    } catch (const Skip& skip) {
        ++skipped;
        line = std::string("check ") + name + ": skipped: " + skip.what();
    } catch (const Failure& failure) {
        ++failed;
        line = std::string("check ") + name + ": FAILED: " + failure.what();
    } catch (const std::exception& error) {
        ++failed;
        line = std::string("check ") + name + ": FAILED: unexpected exception: " + error.what();
    }
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// ---- what the kernel shows ------------------------------------------------------

const char* const mapError = "OS Interface: can not get pointer to physical memory block.";

// The library's mapping text, then the reason: the window's pages lie in
// System RAM.
bool refusedAsRam(const std::string& text) {
    const std::string lead = std::string(mapError) + " (pages ";
    return text.compare(0, lead.size(), lead) == 0 &&
           text.find("\"System RAM\" in /proc/iomem") != std::string::npos;
}

// Physical memory read and written through /dev/mem directly, not mapped.
class DevMem {
public:
    DevMem() : fd_(::open("/dev/mem", O_RDWR | O_SYNC | O_CLOEXEC)) {
        if (fd_ < 0)
            throw Failure(std::string("cannot open /dev/mem: ") + std::strerror(errno));
    }
    ~DevMem() { ::close(fd_); }
    std::vector<std::uint8_t> read(unsigned long address, unsigned long length) const {
        std::vector<std::uint8_t> bytes(length);
        const ssize_t got = ::pread(fd_, bytes.data(), length, static_cast<off_t>(address));
        if (got != static_cast<ssize_t>(length))
            throw Failure("read of /dev/mem at " + hex(address) +
                          " failed: " + std::strerror(errno));
        return bytes;
    }
    void write(unsigned long address, const std::vector<std::uint8_t>& bytes) const {
        const ssize_t put = ::pwrite(fd_, bytes.data(), bytes.size(), static_cast<off_t>(address));
        if (put != static_cast<ssize_t>(bytes.size()))
            throw Failure("write of /dev/mem at " + hex(address) +
                          " failed: " + std::strerror(errno));
    }
    // Whether the kernel itself lets the page at address be mapped.
    bool kernelMaps(unsigned long address) const {
        void* page = ::mmap(0, 4096, PROT_READ, MAP_SHARED, fd_, static_cast<off_t>(address));
        if (page == MAP_FAILED)
            return false;
        ::munmap(page, 4096);
        return true;
    }

private:
    int fd_;
};

std::vector<std::uint8_t> windowBytes(const PhysicalMemory& window, unsigned long length) {
    std::vector<std::uint8_t> bytes(length);
    for (unsigned long i = 0; i < length; ++i)
        bytes[i] = static_cast<std::uint8_t>(window.readChar(i));
    return bytes;
}

// First offset where the two differ, as text, or "".
std::string firstDifference(const std::vector<std::uint8_t>& expected,
                            const std::vector<std::uint8_t>& actual, unsigned long base) {
    for (std::size_t i = 0; i < expected.size() && i < actual.size(); ++i)
        if (expected[i] != actual[i])
            return "at " + hex(base + i) + " /dev/mem has " + hex(expected[i], 2) +
                   ", the window " + hex(actual[i], 2);
    if (expected.size() != actual.size())
        return "lengths differ";
    return "";
}

struct IomemRange {
    unsigned long long start, end;
    std::string name;
};

std::vector<IomemRange> iomem() {
    std::vector<IomemRange> ranges;
    std::ifstream file("/proc/iomem");
    for (std::string line; std::getline(file, line);) {
        IomemRange range;
        char name[128] = "";
        if (std::sscanf(line.c_str(), " %llx-%llx : %127[^\n]", &range.start, &range.end, name) ==
            3) {
            range.name = name;
            ranges.push_back(range);
        }
    }
    return ranges;
}

// One PCI function as the kernel lists it in /sys/bus/pci/devices.
struct KernelFunction {
    unsigned bus = 0, slot = 0;
    unsigned vendor = 0, device = 0;
    unsigned classCode = 0;  // base class, subclass, programming interface
    unsigned revision = 0;
    std::string name;    // 0000:bb:dd.f
    std::string parent;  // the bridge it sits behind, or ""
    std::vector<std::uint8_t> config;
};

bool parseAddress(const std::string& name, unsigned& bus, unsigned& slot) {
    unsigned domain, device, function;
    char tail;
    if (std::sscanf(name.c_str(), "%4x:%2x:%2x.%1x%c", &domain, &bus, &device, &function, &tail) !=
            4 ||
        domain != 0)
        return false;
    slot = device * 8 + function;
    return true;
}

unsigned readHexFile(const std::string& path) {
    std::ifstream file(path);
    unsigned long value = 0;
    if (!(file >> std::hex >> value))
        throw Failure("cannot read " + path);
    return static_cast<unsigned>(value);
}

std::string pciName(unsigned bus, unsigned slot) {
    char text[32];
    std::snprintf(text, sizeof text, "%02x:%02x.%x", bus, slot >> 3, slot & 7);
    return text;
}

// The kernel's functions in the order a depth-first scan meets them: each
// bus by device and function number, a bridge's buses right after it.
std::vector<KernelFunction> kernelFunctions() {
    std::map<std::string, KernelFunction> byName;
    DIR* dir = ::opendir("/sys/bus/pci/devices");
    if (dir == 0)
        throw Failure("cannot list /sys/bus/pci/devices");
    while (dirent* entry = ::readdir(dir)) {
        KernelFunction f;
        f.name = entry->d_name;
        if (!parseAddress(f.name, f.bus, f.slot))
            continue;
        const std::string path = std::string("/sys/bus/pci/devices/") + f.name;
        f.vendor = readHexFile(path + "/vendor");
        f.device = readHexFile(path + "/device");
        f.classCode = readHexFile(path + "/class");
        f.revision = readHexFile(path + "/revision");
        char* real = ::realpath(path.c_str(), 0);
        if (real != 0) {
            std::string dirName(real);
            std::free(real);
            dirName = dirName.substr(0, dirName.rfind('/'));
            const std::string parent = dirName.substr(dirName.rfind('/') + 1);
            unsigned bus, slot;
            if (parseAddress(parent, bus, slot))
                f.parent = parent;
        }
        std::ifstream config(path + "/config", std::ios::binary);
        f.config.assign(std::istreambuf_iterator<char>(config), std::istreambuf_iterator<char>());
        byName[f.name] = f;
    }
    ::closedir(dir);

    std::map<std::string, std::vector<std::string> > children;  // sorted by name = by bus, slot
    for (const auto& entry : byName)
        children[entry.second.parent].push_back(entry.first);
    std::vector<KernelFunction> order;
    std::function<void(const std::string&)> visit = [&](const std::string& parent) {
        for (const std::string& name : children[parent]) {
            order.push_back(byName[name]);
            visit(name);
        }
    };
    visit("");
    return order;
}

// The library's copy of a function's header, as bytes 0 to 255; the
// command register (offset 4), for which it has no accessor, left 0.
std::vector<std::uint8_t> libraryHeader(const PCIDeviceInfo& info) {
    std::vector<std::uint8_t> bytes(256, 0);
    auto put16 = [&](unsigned offset, unsigned value) {
        bytes[offset] = static_cast<std::uint8_t>(value);
        bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
    };
    put16(0x00, info.vendorId());
    put16(0x02, info.deviceId());
    put16(0x06, info.status());
    bytes[0x08] = info.revisionId();
    bytes[0x09] = info.progIf();
    bytes[0x0A] = info.subClass();
    bytes[0x0B] = info.baseClass();
    bytes[0x0C] = info.cacheLineSize();
    bytes[0x0D] = info.latencyTimer();
    bytes[0x0E] = info.headerType();
    bytes[0x0F] = info.BIST();
    for (unsigned n = 0; n < 60; ++n) {
        const std::uint32_t value = info.baseAddress(static_cast<unsigned char>(n));
        for (unsigned k = 0; k < 4; ++k)
            bytes[0x10 + 4 * n + k] = static_cast<std::uint8_t>(value >> (8 * k));
    }
    return bytes;
}

struct LibraryFunction {
    unsigned bus, slot;
    const PCIDeviceInfo* info;
};

std::vector<LibraryFunction> libraryFunctions() {
    std::vector<LibraryFunction> list;
    for (PCICursor cursor; cursor; ++cursor) {
        const PCIDeviceInfo& info = cursor.deviceAtCursor();
        list.push_back({info.busNumber(), info.slotNumber(), &info});
    }
    return list;
}

std::string describe(const LibraryFunction& f) {
    std::ostringstream text;
    text << pciName(f.bus, f.slot) << " " << hex(f.info->vendorId(), 4).substr(2) << ":"
         << hex(f.info->deviceId(), 4).substr(2) << " class "
         << hex(f.info->baseClass(), 2).substr(2) << hex(f.info->subClass(), 2).substr(2)
         << " header " << hex(f.info->headerType(), 2).substr(2);
    if ((f.info->headerType() & 0x7F) == 1)
        text << " -> bus " << ((f.info->baseAddress(2) >> 8) & 0xFF);
    return text.str();
}

// ---- PCI ---------------------------------------------------------------------------

std::string checkPciScan() {
    const std::vector<KernelFunction> kernel = kernelFunctions();
    const std::vector<LibraryFunction> library = libraryFunctions();
    expect(PCIBus::pciBus().exists(), "the library found no configuration mechanism");
    for (const LibraryFunction& f : library)
        std::printf("  pci %s\n", describe(f).c_str());

    std::ostringstream kernelOrder;
    for (const KernelFunction& f : kernel)
        kernelOrder << " " << pciName(f.bus, f.slot);
    for (std::size_t i = 0; i < std::max(kernel.size(), library.size()); ++i) {
        if (i >= kernel.size())
            throw Failure("the library lists " + pciName(library[i].bus, library[i].slot) +
                          " beyond the kernel's list:" + kernelOrder.str());
        if (i >= library.size())
            throw Failure("the library's scan ends before " + kernel[i].name +
                          "; depth-first, the kernel has:" + kernelOrder.str());
        const KernelFunction& k = kernel[i];
        const LibraryFunction& l = library[i];
        if (k.bus != l.bus || k.slot != l.slot)
            throw Failure("function " + std::to_string(i) + " of the scan is " +
                          pciName(l.bus, l.slot) + ", depth-first the kernel has " +
                          pciName(k.bus, k.slot) + ":" + kernelOrder.str());
        expectHex(k.vendor, l.info->vendorId(), pciName(k.bus, k.slot) + " vendor");
        expectHex(k.device, l.info->deviceId(), pciName(k.bus, k.slot) + " device");
        // The whole header the scan copied, against the kernel's own
        // reading of configuration space.
        expect(k.config.size() >= 256, "sysfs gives " + std::to_string(k.config.size()) +
                                           " bytes of " + k.name + "'s configuration space");
        std::vector<std::uint8_t> expected(k.config.begin(), k.config.begin() + 256);
        expected[4] = expected[5] = 0;
        const std::vector<std::uint8_t> copy = libraryHeader(*l.info);
        for (unsigned offset = 0; offset < 256; ++offset)
            if (expected[offset] != copy[offset])
                throw Failure(pciName(k.bus, k.slot) + " configuration byte " + hex(offset, 2) +
                              ": the kernel reads " + hex(expected[offset], 2) +
                              ", the scan copied " + hex(copy[offset], 2));
    }
    return std::to_string(library.size()) + " functions, the kernel's list in depth-first order";
}

std::string checkPciBridge() {
    const std::vector<LibraryFunction> list = libraryFunctions();
    // A bridge whose secondary bus holds a bridge, with a function on the
    // first bridge's own bus listed after everything behind it.
    for (std::size_t i = 0; i < list.size(); ++i) {
        const PCIDeviceInfo& bridge = *list[i].info;
        if ((bridge.headerType() & 0x7F) != 1)
            continue;
        const unsigned secondary = (bridge.baseAddress(2) >> 8) & 0xFF;
        const unsigned subordinate = (bridge.baseAddress(2) >> 16) & 0xFF;
        std::size_t j = i + 1;
        bool nested = false;
        unsigned behind = 0;
        for (; j < list.size() && list[j].bus >= secondary && list[j].bus <= subordinate; ++j) {
            ++behind;
            nested = nested || (list[j].info->headerType() & 0x7F) == 1;
        }
        if (nested && j < list.size() && list[j].bus == list[i].bus)
            return "bridge " + pciName(list[i].bus, list[i].slot) + " (buses " +
                   std::to_string(secondary) + "-" + std::to_string(subordinate) + ", " +
                   std::to_string(behind) + " functions behind it, one a bridge), then " +
                   pciName(list[j].bus, list[j].slot);
    }
    throw Failure(
        "no bridge with a bridge behind it and a function after it on its own bus: "
        "the machine is not the one the check was meant for");
}

std::string checkPciGap() {
    const std::vector<LibraryFunction> list = libraryFunctions();
    for (std::size_t i = 0; i < list.size(); ++i) {
        if ((list[i].slot & 7) != 0 || !(list[i].info->headerType() & 0x80))
            continue;
        std::string functions = "0";
        bool gap = false;
        unsigned last = 0;
        for (std::size_t j = i + 1; j < list.size() && list[j].bus == list[i].bus &&
                                    (list[j].slot >> 3) == (list[i].slot >> 3);
             ++j) {
            gap = gap || (list[j].slot & 7) != last + 1;
            last = list[j].slot & 7;
            functions += "," + std::to_string(last);
        }
        if (gap)
            return "device " + pciName(list[i].bus, list[i].slot).substr(0, 5) +
                   " with functions " + functions;
    }
    throw Failure("no multi-function device with a gap among its functions was listed");
}

// Configuration accesses of every width through the library's mechanism,
// and a write, on the function furthest down the bridges.
std::string checkPciConfigAccess() {
    const std::vector<KernelFunction> kernel = kernelFunctions();
    const KernelFunction* target = 0;
    for (const KernelFunction& f : kernel)
        if ((f.config[0x0E] & 0x7F) == 0 && (target == 0 || f.bus >= target->bus))
            target = &f;
    expect(target != 0, "no function to try");
    PCIConfig& config = PCIBus::pciBus().config();
    const unsigned char bus = static_cast<unsigned char>(target->bus);
    const unsigned char slot = static_cast<unsigned char>(target->slot);
    const std::string name = pciName(bus, slot);
    const std::vector<std::uint8_t>& bytes = target->config;
    for (unsigned offset = 0; offset < 64; ++offset) {
        if (offset == 6 || offset == 7)
            continue;  // status: bits may change between reads
        const unsigned char o = static_cast<unsigned char>(offset);
        expectHex(unsigned(bytes[offset]), unsigned(config.readChar(bus, slot, o)),
                  name + " readChar at " + hex(offset, 2));
        if (offset % 2 == 0)
            expectHex(unsigned(bytes[offset] | bytes[offset + 1] << 8),
                      unsigned(config.readShort(bus, slot, o)),
                      name + " readShort at " + hex(offset, 2));
        if (offset % 4 == 0 && offset != 4)
            expectHex(unsigned(bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16 |
                               unsigned(bytes[offset + 3]) << 24),
                      unsigned(config.readLong(bus, slot, o)),
                      name + " readLong at " + hex(offset, 2));
    }
    // The command register, written through the library, read by the kernel.
    const std::string path = "/sys/bus/pci/devices/0000:" + name + "/config";
    auto kernelCommand = [&]() {
        std::ifstream file(path, std::ios::binary);
        unsigned char two[2] = {0, 0};
        file.seekg(4);
        if (!file.read(reinterpret_cast<char*>(two), 2))
            throw Failure("cannot read " + path);
        return unsigned(two[0] | two[1] << 8);
    };
    const unsigned command = kernelCommand();
    const unsigned intxDisable = 0x400;
    const PCIDeviceInfo* info = 0;
    for (const LibraryFunction& f : libraryFunctions())
        if (f.bus == bus && f.slot == slot)
            info = f.info;
    expect(info != 0, name + " is not in the library's list");
    info->setCommand(static_cast<unsigned short>(command ^ intxDisable));
    const unsigned changed = kernelCommand();
    info->setCommand(static_cast<unsigned short>(command));
    expectHex(command ^ intxDisable, changed, name + " command register after setCommand");
    expectHex(command, kernelCommand(), name + " command register after restoring it");
    return name +
           " (the deepest bus): readChar, readShort, readLong over the header equal to "
           "the kernel's; a setCommand seen by the kernel";
}

std::string checkPciLookup() {
    const std::vector<LibraryFunction> list = libraryFunctions();
    // The IDs that occur most often: getDeviceInfo's index counts them in
    // scan order.
    std::map<std::pair<unsigned, unsigned>, std::vector<const PCIDeviceInfo*> > byId;
    for (const LibraryFunction& f : list)
        byId[std::make_pair(f.info->vendorId(), f.info->deviceId())].push_back(f.info);
    auto most = byId.begin();
    for (auto it = byId.begin(); it != byId.end(); ++it)
        if (it->second.size() > most->second.size())
            most = it;
    const unsigned short vendor = static_cast<unsigned short>(most->first.first);
    const unsigned short device = static_cast<unsigned short>(most->first.second);
    const std::vector<const PCIDeviceInfo*>& found = most->second;
    for (unsigned index = 0; index < found.size(); ++index)
        expect(PCIBus::pciBus().getDeviceInfo(vendor, device, index) == found[index],
               "getDeviceInfo index " + std::to_string(index) + " is not the function of index " +
                   std::to_string(index) + " among those IDs in scan order");
    expect(PCIBus::pciBus().getDeviceInfo(vendor, device, static_cast<unsigned>(found.size())) == 0,
           "getDeviceInfo finds one more than the list holds");
    expect(PCIBus::pciBus().getDeviceInfo(0xFFFF, 0xFFFF, 0) == 0, "getDeviceInfo finds FFFF:FFFF");
    return std::to_string(found.size()) + " of " + hex(vendor, 4).substr(2) + ":" +
           hex(device, 4).substr(2) + " found by index in scan order";
}

// ---- the tavex tool ------------------------------------------------------------

// What one run of the tool did.
struct ToolRun {
    std::string command;  // "tavex pci -n", for messages
    std::string ending;   // "" when it exited with status 0, else how it ended
    std::vector<std::string> lines;  // its standard output
    std::string errors;              // its standard error
};

std::string readWhole(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Runs the tool with these arguments, its standard output and error caught
// in files under /tmp.
ToolRun runTool(const std::string& tool, const std::vector<std::string>& args) {
    ToolRun run;
    run.command = "tavex";
    for (const std::string& arg : args)
        run.command += " " + arg;
    const std::string outPath = "/tmp/tavex-tool.out", errPath = "/tmp/tavex-tool.err";
    std::fflush(stdout);
    const pid_t child = ::fork();
    if (child < 0)
        throw Failure(std::string("cannot start ") + tool + ": " + std::strerror(errno));
    if (child == 0) {
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0)
            ::_exit(126);
        std::vector<char*> argv{const_cast<char*>(tool.c_str())};
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(0);
        ::execv(tool.c_str(), argv.data());
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0)
        if (errno != EINTR)
            throw Failure(std::string("waiting for ") + tool + ": " + std::strerror(errno));
    if (WIFSIGNALED(status))
        run.ending = "was killed by signal " + std::to_string(WTERMSIG(status));
    else if (WEXITSTATUS(status) == 127)
        run.ending = "could not be started (" + tool + " missing or its libraries)";
    else if (WEXITSTATUS(status) != 0)
        run.ending = "exited with status " + std::to_string(WEXITSTATUS(status));
    std::istringstream out(readWhole(outPath));
    for (std::string line; std::getline(out, line);)
        run.lines.push_back(line);
    run.errors = readWhole(errPath);
    std::printf("  $ %s\n", run.command.c_str());
    for (const std::string& line : run.lines)
        std::printf("    %s\n", line.c_str());
    if (!run.errors.empty())
        std::printf("    (standard error) %s", run.errors.c_str());
    return run;
}

// Exited with status 0 and wrote nothing to standard error.
void expectClean(const ToolRun& run) {
    std::string errors = run.errors;
    while (!errors.empty() && errors.back() == '\n')
        errors.pop_back();
    if (!run.ending.empty())
        throw Failure(run.command + " " + run.ending + (errors.empty() ? "" : ": " + errors));
    expect(errors.empty(), run.command + " wrote to standard error: " + errors);
}

std::string pciFormat(const char* pattern, unsigned a, unsigned b = 0, unsigned c = 0) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, a, b, c);
    return text;
}

// The kernel's view of one function in the form of a `tavex pci -n` line:
// "BB:DD.F CCCC: VVVV:DDDD", then " (rev RR)" where the revision is not 0.
std::string numericLine(const KernelFunction& f) {
    return pciName(f.bus, f.slot) + pciFormat(" %04x: %04x:%04x", f.classCode >> 8, f.vendor,
                                              f.device) +
           (f.revision != 0 ? pciFormat(" (rev %02x)", f.revision) : std::string());
}

// The lines where what the tool printed and the kernel's list differ, each
// on its own indented line, or "" when they are the same lines in the same
// order.  Lines are matched by their address, "BB:DD.F".
std::string listDifferences(const std::vector<std::string>& tool,
                            const std::vector<std::string>& kernel) {
    auto address = [](const std::string& line) { return line.substr(0, 7); };
    std::map<std::string, std::string> kernelLine;
    for (const std::string& line : kernel)
        kernelLine[address(line)] = line;
    std::map<std::string, unsigned> printed;
    std::string text;
    for (const std::string& line : tool) {
        const std::string at = address(line);
        const auto k = kernelLine.find(at);
        if (++printed[at] > 1)
            text += "\n    tavex again:     " + line;
        else if (k == kernelLine.end())
            text += "\n    only tavex:      " + line;
        else if (k->second != line)
            text += "\n    tavex:           " + line + "\n    the kernel:      " + k->second;
    }
    for (const std::string& line : kernel)
        if (printed.count(address(line)) == 0)
            text += "\n    only the kernel: " + line;
    // The order of the functions both list.
    std::string toolOrder, kernelOrder;
    std::map<std::string, unsigned> once;
    for (const std::string& line : tool)
        if (kernelLine.count(address(line)) != 0 && ++once[address(line)] == 1)
            toolOrder += " " + address(line);
    for (const std::string& line : kernel)
        if (printed.count(address(line)) != 0)
            kernelOrder += " " + address(line);
    if (toolOrder != kernelOrder)
        text += "\n    order in tavex:         " + toolOrder +
                "\n    depth-first, the kernel:" + kernelOrder;
    return text;
}

std::string checkToolPciList(const std::string& tool) {
    const ToolRun run = runTool(tool, {"pci", "-n"});
    expectClean(run);
    std::vector<std::string> kernel;
    for (const KernelFunction& f : kernelFunctions())
        kernel.push_back(numericLine(f));
    const std::string differences = listDifferences(run.lines, kernel);
    if (!differences.empty())
        throw Failure(run.command + " (" + std::to_string(run.lines.size()) +
                      " lines) differs from /sys/bus/pci/devices (" +
                      std::to_string(kernel.size()) + " functions):" + differences);
    return std::to_string(kernel.size()) +
           " lines equal to /sys/bus/pci/devices (class, vendor, device, revision) in "
           "depth-first order";
}

// The names of the PCI ID database, read directly.
struct PciIds {
    std::map<unsigned, std::string> vendors;         // vendor
    std::map<unsigned, std::string> devices;         // vendor << 16 | device
    std::map<unsigned, std::string> subclasses;      // base class << 8 | subclass
};

const char* const pciIdsPath = "/usr/share/misc/pci.ids";

PciIds readPciIds() {
    std::ifstream file(pciIdsPath);
    if (!file)
        throw Failure(std::string("no ") + pciIdsPath + " in the guest");
    PciIds ids;
    // Vendors and their devices come first, then "C xx  name" starts a
    // class and its subclasses; deeper lines (subsystems, programming
    // interfaces) are not needed.
    bool inClass = false;
    unsigned outer = 0;
    auto entry = [](const std::string& text, unsigned& id, std::string& name) {
        const std::size_t gap = text.find("  ");
        if (gap == std::string::npos || gap == 0 ||
            text.find_first_not_of("0123456789abcdefABCDEF") != gap)
            return false;
        id = static_cast<unsigned>(std::stoul(text.substr(0, gap), 0, 16));
        name = text.substr(gap + 2);
        return true;
    };
    for (std::string line; std::getline(file, line);) {
        unsigned id;
        std::string name;
        if (line.empty() || line[0] == '#' || line.compare(0, 2, "\t\t") == 0)
            continue;
        if (line.compare(0, 2, "C ") == 0) {
            inClass = entry(line.substr(2), outer, name);
        } else if (line[0] == '\t') {
            if (entry(line.substr(1), id, name)) {
                if (inClass)
                    ids.subclasses[outer << 8 | id] = name;
                else
                    ids.devices[outer << 16 | id] = name;
            }
        } else if (entry(line, outer, name)) {
            inClass = false;
            ids.vendors[outer] = name;
        }
    }
    expect(!ids.vendors.empty(), std::string(pciIdsPath) + " names no vendor");
    return ids;
}

std::string lookUp(const std::map<unsigned, std::string>& names, unsigned id) {
    const auto found = names.find(id);
    return found == names.end() ? std::string() : found->second;
}

std::string checkToolPciNames(const std::string& tool) {
    const ToolRun run = runTool(tool, {"pci", "-nn"});
    expectClean(run);
    const PciIds ids = readPciIds();
    const std::vector<KernelFunction> kernel = kernelFunctions();
    expectEqual(kernel.size(), run.lines.size(),
                "lines of " + run.command + " against functions in /sys/bus/pci/devices");
    unsigned named = 0;
    std::string hostBridge;
    for (std::size_t i = 0; i < kernel.size(); ++i) {
        const KernelFunction& f = kernel[i];
        const std::string& line = run.lines[i];
        const unsigned classWord = f.classCode >> 8;
        const std::string cls = lookUp(ids.subclasses, classWord);
        const std::string vendor = lookUp(ids.vendors, f.vendor);
        const std::string device = lookUp(ids.devices, f.vendor << 16 | f.device);
        const std::string numbers =
            pciFormat(" [%04x:%04x]", f.vendor, f.device) +
            (f.revision != 0 ? pciFormat(" (rev %02x)", f.revision) : std::string());
        if (!cls.empty() && !vendor.empty() && !device.empty()) {
            const std::string expected = pciName(f.bus, f.slot) + " " + cls +
                                         pciFormat(" [%04x]: ", classWord) + vendor + " " +
                                         device + numbers;
            if (line != expected)
                throw Failure(run.command + " line " + std::to_string(i + 1) +
                              " differs from the names in " + pciIdsPath +
                              ":\n    tavex:    " + line + "\n    expected: " + expected);
            ++named;
            if (f.bus == 0 && f.slot == 0)
                hostBridge = line;
            continue;
        }
        // Partly unknown to the database: the numbers and the names it has.
        const std::string start = pciName(f.bus, f.slot) + " ";
        const std::string classPart = pciFormat(" [%04x]: ", classWord);
        const bool ok = line.compare(0, start.size(), start) == 0 &&
                        line.find(classPart) != std::string::npos && line.size() >= numbers.size() &&
                        line.compare(line.size() - numbers.size(), numbers.size(), numbers) == 0 &&
                        (cls.empty() || line.find(" " + cls + classPart) != std::string::npos) &&
                        (vendor.empty() || line.find(": " + vendor + " ") != std::string::npos) &&
                        (device.empty() || line.find(" " + device + numbers) != std::string::npos);
        expect(ok, run.command + " line " + std::to_string(i + 1) + " \"" + line +
                       "\" does not carry " + numericLine(f) + " and the names " + pciIdsPath +
                       " has for it");
    }
    expect(!hostBridge.empty(), "the host bridge 00:00.0 is not named from " +
                                    std::string(pciIdsPath) + " in " + run.command);
    return std::to_string(named) + " of " + std::to_string(kernel.size()) +
           " functions named as pci.ids names them, the rest with their numbers; host "
           "bridge \"" + hostBridge + "\"";
}

// ---- physical memory ------------------------------------------------------------

std::string checkBiosDataArea() {
    const DevMem mem;
    const std::vector<std::uint8_t> direct = mem.read(0x400, 0x100);
    PhysicalMemory window(0x400, 0x100, false);
    const std::vector<std::uint8_t> mapped = windowBytes(window, 0x100);
    const std::string difference = firstDifference(direct, mapped, 0x400);
    expect(difference.empty(), "BIOS data area: " + difference);
    // Wider accessors at odd offsets: little-endian, unaligned.
    expectEqual(long(direct[0x13] | direct[0x14] << 8), long(window.readShort(0x13) & 0xFFFF),
                "readShort at 0x413 (memory size in KiB)");
    expectHex(
        direct[0x6D] | direct[0x6E] << 8 | direct[0x6F] << 16 | std::uint32_t(direct[0x70]) << 24,
        static_cast<std::uint32_t>(window.readLong(0x6D)), "readLong at 0x46D");
    std::printf("  bios 0x400:");
    for (unsigned i = 0; i < 0x20; ++i)
        std::printf(" %02x", direct[i]);
    std::printf("\n");
    return "0x400-0x4FF equal to /dev/mem (COM1 " + hex(direct[0] | direct[1] << 8, 3) + ", LPT1 " +
           hex(direct[8] | direct[9] << 8, 3) + ", " +
           std::to_string(direct[0x13] | direct[0x14] << 8) + " KiB base memory)";
}

// Writes through the window reach the physical page, and writes to the page
// are seen through the window at once: nothing cached, nothing copied.
std::string checkBiosWrite() {
    const DevMem mem;
    const unsigned long area = 0x4F0;  // the inter-application area
    const std::vector<std::uint8_t> saved = mem.read(area, 16);
    PhysicalMemory window(area, 16, false);
    window.writeChar(0, 0x5A).writeShort(1, 0x1234).writeLong(3, 0x0A0B0C0DL);
    const std::vector<std::uint8_t> seen = mem.read(area, 7);
    const std::vector<std::uint8_t> wanted = {0x5A, 0x34, 0x12, 0x0D, 0x0C, 0x0B, 0x0A};
    std::string difference = firstDifference(wanted, seen, area);
    mem.write(area + 8, {0xC3, 0x3C, 0x81, 0x18});
    const long fromWindow = window.readLong(8);
    mem.write(area, saved);
    expect(difference.empty(), "a write through the window: " + difference);
    expectHex(0x18813CC3UL, static_cast<unsigned long>(fromWindow),
              "readLong after a write to /dev/mem");
    return "byte, word and double word written at 0x4F0 reach /dev/mem; a /dev/mem write is "
           "read through the window";
}

// What a stretch of the first MiB must hold besides matching /dev/mem.
enum Content { ResetVector, OptionRom, AnyContent };

// A window over part of the first MiB against /dev/mem read directly.
std::string checkLowMemory(unsigned long address, unsigned long length, Content content) {
    const DevMem mem;
    const std::vector<std::uint8_t> direct = mem.read(address, length);
    PhysicalMemory window(address, length, false);
    std::vector<std::uint8_t> mapped(length);
    window.readMemoryBlock(mapped.data(), length, 0);
    const std::string difference = firstDifference(direct, mapped, address);
    expect(difference.empty(), difference);
    std::string text = hex(address) + "-" + hex(address + length - 1) + " equal to /dev/mem";
    if (content == OptionRom) {
        expect(mapped[0] == 0x55 && mapped[1] == 0xAA,
               "no option ROM signature 55 AA at " + hex(address));
        text += ", signature 55 AA";
    } else if (content == ResetVector) {
        expect(mapped[length - 16] == 0xEA || mapped[length - 16] == 0xE9,
               "no jump at the reset vector 0xFFFF0");
        text += ", reset vector a jump";
    } else {
        char first[32];
        std::snprintf(first, sizeof first, ", begins %02x %02x %02x %02x", mapped[0], mapped[1],
                      mapped[2], mapped[3]);
        text += first;
    }
    return text;
}

// A PCI memory window over the display's first memory BAR, against the
// kernel's own mapping of that BAR (sysfs resource0): /dev/mem cannot be
// read() beyond RAM.
std::string checkPciMemory() {
    const PCIDeviceInfo* display = 0;
    for (const LibraryFunction& f : libraryFunctions())
        if (f.info->baseClass() == 0x03 && (f.info->headerType() & 0x7F) == 0 &&
            (f.info->baseAddress(0) & 1) == 0 && (f.info->baseAddress(0) & ~0xFu) != 0) {
            display = f.info;
            break;
        }
    if (display == 0)
        throw Skip("no display function with a memory BAR 0");
    const unsigned long base = display->baseAddress(0) & ~0xFul;
    const std::string name = pciName(display->busNumber(), display->slotNumber());
    const std::string path = "/sys/bus/pci/devices/0000:" + name + "/resource0";
    const int fd = ::open(path.c_str(), O_RDWR | O_SYNC | O_CLOEXEC);
    expect(fd >= 0, "cannot open " + path);
    void* page = ::mmap(0, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    expect(page != MAP_FAILED, "cannot map " + path);
    volatile std::uint32_t* kernel = static_cast<volatile std::uint32_t*>(page);
    std::string problem;
    {
        PhysicalMemory window(base, 64, false);
        std::uint32_t saved[16];
        window.readMemoryBlock(saved, sizeof saved, 0);
        for (unsigned i = 0; i < 16 && problem.empty(); ++i) {
            const std::uint32_t pattern = 0x01020304u * (i + 1) ^ 0xA5A55A5Au;
            window.writeLong(4 * i, static_cast<long>(pattern));
            if (kernel[i] != pattern)
                problem = "a double word written through the window at " + hex(base + 4 * i) +
                          " reads " + hex(kernel[i], 8) + " through sysfs";
            kernel[i] = ~pattern;
            if (static_cast<std::uint32_t>(window.readLong(4 * i)) != ~pattern && problem.empty())
                problem = "a double word written through sysfs at " + hex(base + 4 * i) +
                          " reads " + hex(std::uint32_t(window.readLong(4 * i)), 8) +
                          " through the window";
        }
        window.writeMemoryBlock(saved, sizeof saved, 0);
    }
    ::munmap(page, 4096);
    expect(problem.empty(), problem);
    return "BAR 0 of " + name + " at " + hex(base) +
           ": written and read through the window and through the kernel's mapping of the BAR";
}

// A map request over system RAM: the kernel refuses it above the first MiB;
// below, it would map the RAM, so only the library can refuse it there.
std::string checkSystemRam() {
    const DevMem mem;
    std::vector<IomemRange> ram;
    for (const IomemRange& range : iomem())
        if (range.name == "System RAM")
            ram.push_back(range);
    expect(!ram.empty(), "/proc/iomem lists no System RAM");
    const IomemRange* high = 0;
    const IomemRange* low = 0;
    for (const IomemRange& range : ram) {
        if (range.start >= 0x100000 && high == 0)
            high = &range;
        if (range.start < 0x100000 && low == 0)
            low = &range;
    }
    // Wherever the mapping fails, it fails with the library's mapping error.
    std::string text;
    if (high != 0) {
        const unsigned long address = static_cast<unsigned long>(high->start);
        std::string refusal = "did not throw";
        try {
            PhysicalMemory window(address, 0x1000, false);
        } catch (const std::runtime_error& error) {
            refusal = error.what();
        }
        expect(refusedAsRam(refusal), "map of System RAM at " + hex(address) + ": " + refusal);
        text = "System RAM at " + hex(address) + " refused";
    }
    if (low == 0)
        throw Skip(text + "; no System RAM below 1 MiB to try the library's own refusal");
    const unsigned long address = static_cast<unsigned long>(low->start);
    const bool kernelMaps = mem.kernelMaps(address);
    bool mapped = false;
    try {
        PhysicalMemory window(address, 0x100, false);
        mapped = true;
    } catch (const std::runtime_error& error) {
        if (!refusedAsRam(error.what()))
            throw Failure("map of System RAM at " + hex(address) + ": \"" + error.what() + "\"");
    }
    if (mapped)
        throw Skip(text + "; the library still maps System RAM at " + hex(address) +
                   " (the kernel allows it): no refusal of its own yet");
    return text + "; System RAM at " + hex(address) + " refused by the library" +
           (kernelMaps ? " (the kernel would map it)" : " (the kernel refuses it too)");
}

// ---- the parallel port ------------------------------------------------------------

const char* const noPort = "ParallelPort: specified parallel port does not exists.";
const char* const badPort =
    "ParallelPort: invalid base IO port number specified or port does not exist.";

std::string checkNoParallelPort() {
    const DevMem mem;
    const std::vector<std::uint8_t> bios = mem.read(0x408, 8);
    expect(bios[0] == 0 && bios[1] == 0, "the BIOS lists an LPT1 on a machine without one");
    expectThrow<std::logic_error>([]() { ParallelPort port; }, noPort, "ParallelPort()");
    expectThrow<std::logic_error>([]() { ParallelPort port(static_cast<unsigned short>(0x378)); },
                                  badPort, "ParallelPort(0x378)");
    return "no LPT1 in the BIOS data area; ParallelPort() refuses";
}

// The printer's status lines, from the track's status points (a point is 1
// when its line is low at the connector).
struct Printer {
    bool error, selected, paperOut, acknowledging, busy;
};

Printer status(IOTrack& track) {
    track.updateInputs();
    return {track[12] == 1, track[13] == 0, track[14] == 0, track[15] == 1, track[16] == 0};
}

std::string checkParallelPort(unsigned long expectedPort, std::string& printed) {
    const DevMem mem;
    const std::vector<std::uint8_t> bios = mem.read(0x408, 8);
    const unsigned listed = bios[0] | bios[1] << 8;
    expectHex(expectedPort, static_cast<unsigned long>(listed), "LPT1 in the BIOS data area");
    const unsigned short base = static_cast<unsigned short>(expectedPort);

    {
        ParallelPort byName("LPT1");
        expectHex(unsigned(base), unsigned(byName.baseIOPort()), "ParallelPort(\"LPT1\")");
        ParallelPort byPort(base);
        expectHex(unsigned(base), unsigned(byPort.baseIOPort()), "ParallelPort(base)");
    }
    if (bios[2] == 0 && bios[3] == 0)
        expectThrow<std::logic_error>([]() { ParallelPort port("LPT2"); }, noPort,
                                      "ParallelPort(\"LPT2\")");
    expectThrow<std::logic_error>(
        [&]() { ParallelPort port(static_cast<unsigned short>(base + 4)); }, badPort,
        "ParallelPort(base + 4)");

    ParallelPort lpt;
    expectHex(unsigned(base), unsigned(lpt.baseIOPort()), "ParallelPort()");
    IOPort data(base, false), control(base + 2u, false);
    {
        // Data and control as outputs, status as inputs.
        IOTrack track(lpt, 0, "OOOOOOOOOOOOIIIII");
        auto put = [&](unsigned byte, bool strobe, bool init) {
            for (unsigned i = 0; i < 8; ++i)
                track[i] = ((byte >> i) & 1) ? 0 : 1;  // 1: the line is low
            track[8] = strobe;
            track[9] = 0;  // auto feed
            track[10] = init;
            track[11] = 1;  // select in: the printer is selected
            track.updateOutputs();
        };
        // INIT pulsed: the printer resets, idle and ready.
        put(0, false, true);
        put(0, false, false);
        const Printer ready = status(track);
        expect(!ready.busy && !ready.acknowledging && !ready.error && ready.selected,
               std::string("after INIT the printer is not ready:") + (ready.busy ? " busy" : "") +
                   (ready.acknowledging ? " acknowledging" : "") + (ready.error ? " error" : "") +
                   (ready.selected ? "" : " not selected"));

        const std::uint8_t message[] = {'T', 'a', 'v', 'e', 'x', ' ', 0x00, 0xFF, 0x55, 0xAA, '\n'};
        for (std::uint8_t byte : message) {
            put(byte, false, false);
            // The chip reads its data latch back (data lines driven).
            expectHex(unsigned(byte), unsigned(static_cast<std::uint8_t>(data.readChar())),
                      "data register read back");
            // STROBE, AUTOFEED and SELECT IN inverted, INIT straight.
            expectHex(unsigned(0x0C), unsigned(control.readChar() & 0x0F),
                      "control register with SELECT IN active");
            put(byte, true, false);
            expectHex(unsigned(0x0D), unsigned(control.readChar() & 0x0F),
                      "control register with STROBE active");
            const Printer strobed = status(track);
            put(byte, false, false);
            // The printer takes the byte: busy, an acknowledge pulse, ready.
            bool busy = strobed.busy, acknowledged = false;
            Printer now = strobed;
            for (unsigned read = 0; read < 16 && !(acknowledged && !now.busy); ++read) {
                now = status(track);
                busy = busy || now.busy;
                acknowledged = acknowledged || now.acknowledging;
            }
            expect(busy, "the printer never went busy on byte " + hex(byte, 2));
            expect(acknowledged, "the printer never acknowledged byte " + hex(byte, 2));
            expect(!now.busy && !now.acknowledging,
                   "the printer did not become ready after byte " + hex(byte, 2));
            char text[4];
            std::snprintf(text, sizeof text, " %02x", byte);
            printed += text;
        }
    }
    {
        // Control lines as inputs: released (all high, none active), and read so.
        IOTrack track(lpt, 0, "OOOOOOOOIIIIIIIII");
        expectHex(unsigned(0x04), unsigned(control.readChar() & 0x0F),
                  "control register after releasing the control lines");
        track.updateInputs();
        for (unsigned i = 8; i < 12; ++i)
            expectEqual(0L, track[i], "released control line, point " + std::to_string(i));
    }
    return "LPT1 at " + hex(base, 3) +
           " from the BIOS data area; data read back, control "
           "lines out and in, busy and acknowledge per byte printed";
}

// ---- the program ---------------------------------------------------------------

}  // namespace

int main(int argc, char** argv) {
    std::string lpt, tool;
    bool bridge = false, gap = false, emulated = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--in-emulated-pc")
            emulated = true;
        else if (arg.compare(0, 6, "--lpt=") == 0)
            lpt = arg.substr(6);
        else if (arg.compare(0, 7, "--tool=") == 0)
            tool = arg.substr(7);
        else if (arg == "--bridge")
            bridge = true;
        else if (arg == "--gap")
            gap = true;
        else {
            std::fprintf(stderr, "tavex_guest_check: unknown argument %s\n", arg.c_str());
            return 2;
        }
    }
    if (!emulated) {
        std::fprintf(stderr,
                     "tavex_guest_check: writes to PCI devices, the BIOS data area and the "
                     "parallel port; it runs only inside the emulated PCs of "
                     "scripts/qemu-test.sh (--in-emulated-pc)\n");
        return 2;
    }
    if (::geteuid() != 0)
        std::printf("tavex_guest_check: not root; expect failures\n");

    run("pci-scan", checkPciScan);
    if (bridge)
        run("pci-bridge", checkPciBridge);
    if (gap)
        run("pci-multifunction-gap", checkPciGap);
    run("pci-config-access", checkPciConfigAccess);
    run("pci-lookup", checkPciLookup);
    if (!tool.empty()) {
        run("tool-pci-list", [&]() { return checkToolPciList(tool); });
        run("tool-pci-names", [&]() { return checkToolPciNames(tool); });
    }
    run("bios-data-area", checkBiosDataArea);
    run("bios-data-area-write", checkBiosWrite);
    run("system-rom", []() { return checkLowMemory(0xF0000, 0x10000, ResetVector); });
    run("video-rom", []() { return checkLowMemory(0xC0000, 0x1000, OptionRom); });
    // Where an ISA board's dual-port memory would sit.
    run("adapter-memory", []() { return checkLowMemory(0xD0000, 0x4000, AnyContent); });
    run("pci-memory", checkPciMemory);
    run("system-ram-refused", checkSystemRam);
    std::string printed;
    if (lpt == "none")
        run("no-parallel-port", checkNoParallelPort);
    else if (!lpt.empty())
        run("parallel-port",
            [&]() { return checkParallelPort(std::strtoul(lpt.c_str(), 0, 0), printed); });
    if (!printed.empty())
        std::printf("printed:%s\n", printed.c_str());
    std::printf("guest: %u checks passed, %u failed, %u skipped\n", passed, failed, skipped);
    return failed == 0 ? 0 : 1;
}
