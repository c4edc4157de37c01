// The PCI scan, ports, physical memory, files and sleeps of the platform
// the library runs on (the installed machine, else this PC).
#include <pybind11/stl.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "Binding.h"
#include "tavex/pci/PCIBus.h"
#include "tavex/platform/FirmwareFileBuffer.h"
#include "tavex/platform/IOPort.h"
#include "tavex/platform/OSInterface.h"
#include "tavex/platform/PhysicalMemory.h"

namespace TavexPython {

namespace {

using namespace Tavex;

// A PCI function as the scan found it, copied: the scan's own list goes
// when another platform is installed.
struct PCIDevice {
    unsigned bus, device, function;
    unsigned vendorId, deviceId, subVendorId, subSystemId;
    unsigned revisionId, progIf, subClass, baseClass, headerType;
    unsigned interruptLine, interruptPin;
    std::vector<std::uint32_t> baseAddresses;

    explicit PCIDevice(const PCIDeviceInfo& info)
        : bus(info.busNumber()),
          device(info.slotNumber() >> 3),
          function(info.slotNumber() & 7),
          vendorId(info.vendorId()),
          deviceId(info.deviceId()),
          subVendorId(info.subVendorId()),
          subSystemId(info.subSystemId()),
          revisionId(info.revisionId()),
          progIf(info.progIf()),
          subClass(info.subClass()),
          baseClass(info.baseClass()),
          headerType(info.headerType()),
          interruptLine(info.interruptLine()),
          interruptPin(info.interruptPin()) {
        for (unsigned char n = 0; n < 6; ++n)
            baseAddresses.push_back(info.baseAddress(n));
    }
};

std::vector<PCIDevice> scan() {
    std::vector<PCIDevice> devices;
    py::gil_scoped_release nogil;
    for (PCICursor cursor; cursor.isValid(); cursor.next())
        devices.push_back(PCIDevice(cursor.deviceAtCursor()));
    return devices;
}

// Offsets are checked here: the library's accessors take them as they come.
void checkWindow(const PhysicalMemory& memory, unsigned long offset, unsigned long width) {
    if (offset > memory.size() || width > memory.size() - offset)
        throw std::range_error("tavex.PhysicalMemory: access beyond the window");
}

}  // namespace

void bindPci(py::module_& m) {
    py::class_<PCIDevice>(m, "PCIDevice", "A PCI function as the library's scan found it.")
        .def_readonly("bus", &PCIDevice::bus)
        .def_readonly("device", &PCIDevice::device)
        .def_readonly("function", &PCIDevice::function)
        .def_readonly("vendor_id", &PCIDevice::vendorId)
        .def_readonly("device_id", &PCIDevice::deviceId)
        .def_readonly("sub_vendor_id", &PCIDevice::subVendorId)
        .def_readonly("sub_system_id", &PCIDevice::subSystemId)
        .def_readonly("revision_id", &PCIDevice::revisionId)
        .def_readonly("prog_if", &PCIDevice::progIf)
        .def_readonly("sub_class", &PCIDevice::subClass)
        .def_readonly("base_class", &PCIDevice::baseClass)
        .def_readonly("header_type", &PCIDevice::headerType)
        .def_readonly("interrupt_line", &PCIDevice::interruptLine)
        .def_readonly("interrupt_pin", &PCIDevice::interruptPin)
        .def_readonly("base_addresses", &PCIDevice::baseAddresses)
        .def("__repr__", [](const PCIDevice& d) {
            char text[64];
            std::snprintf(text, sizeof text, "<tavex.PCIDevice %02x:%02x.%u %04x:%04x>", d.bus,
                          d.device, d.function, d.vendorId, d.deviceId);
            return std::string(text);
        });
    m.def("pci_devices", &scan, "Every PCI function of the PC, in scan order.");
}

void bindExtras(py::module_& m) {
    m.def("sleep", &OSInterface::sleep, py::arg("microseconds"),
          py::call_guard<py::gil_scoped_release>(),
          "Sleeps as the library does: whole milliseconds; on a simulated PC the virtual "
          "clock moves instead.");

    py::class_<IOPort>(m, "IOPort", "One address of the processor's I/O space.")
        .def(py::init([](std::uint16_t port) { return new IOPort(port, false); }),
             py::arg("port"))
        .def("read_char", [](const IOPort& p) { return static_cast<std::uint8_t>(p.readChar()); })
        .def("read_short",
             [](const IOPort& p) { return static_cast<std::uint16_t>(p.readShort()); })
        .def("read_long",
             [](const IOPort& p) { return static_cast<std::uint32_t>(p.readLong()); })
        .def("write_char",
             [](IOPort& p, std::uint8_t v) { p.writeChar(static_cast<char>(v)); },
             py::arg("value"))
        .def("write_short",
             [](IOPort& p, std::uint16_t v) { p.writeShort(static_cast<short>(v)); },
             py::arg("value"))
        .def("write_long",
             [](IOPort& p, std::uint32_t v) { p.writeLong(static_cast<long>(v)); },
             py::arg("value"));

    // Registered as the held type itself: PhysicalMemory has no virtual
    // destructor to reach the lease through.
    typedef Held<PhysicalMemory> Window;
    py::class_<Window>(m, "PhysicalMemory",
                               "A window of physical memory, mapped while the object lives.")
        .def(py::init([](unsigned long address, unsigned long size) {
                 py::gil_scoped_release nogil;
                 return new Window(address, size, false);
             }),
             py::arg("physical_address"), py::arg("size"))
        .def_property_readonly("size", [](const Window& w) { return w.size(); })
        .def(
            "read_char",
            [](const Window& w, unsigned long offset) {
                checkWindow(w, offset, 1);
                return static_cast<std::uint8_t>(w.readChar(offset));
            },
            py::arg("offset"))
        .def(
            "read_short",
            [](const Window& w, unsigned long offset) {
                checkWindow(w, offset, 2);
                return static_cast<std::uint16_t>(w.readShort(offset));
            },
            py::arg("offset"))
        .def(
            "read_long",
            [](const Window& w, unsigned long offset) {
                checkWindow(w, offset, 4);
                return static_cast<std::uint32_t>(w.readLong(offset));
            },
            py::arg("offset"))
        .def(
            "write_char",
            [](Window& w, unsigned long offset, std::uint8_t v) {
                checkWindow(w, offset, 1);
                w.writeChar(offset, static_cast<char>(v));
            },
            py::arg("offset"), py::arg("value"))
        .def(
            "write_short",
            [](Window& w, unsigned long offset, std::uint16_t v) {
                checkWindow(w, offset, 2);
                w.writeShort(offset, static_cast<short>(v));
            },
            py::arg("offset"), py::arg("value"))
        .def(
            "write_long",
            [](Window& w, unsigned long offset, std::uint32_t v) {
                checkWindow(w, offset, 4);
                w.writeLong(offset, static_cast<long>(v));
            },
            py::arg("offset"), py::arg("value"))
        .def(
            "read",
            [](const Window& w, unsigned long offset, unsigned long length) {
                checkWindow(w, offset, length);
                std::string bytes(length, '\0');
                w.readMemoryBlock(&bytes[0], length, offset);
                return py::bytes(bytes);
            },
            py::arg("offset"), py::arg("length"))
        .def(
            "write",
            [](Window& w, unsigned long offset, const std::string& bytes) {
                checkWindow(w, offset, bytes.size());
                w.writeMemoryBlock(bytes.data(), bytes.size(), offset);
            },
            py::arg("offset"), py::arg("data"));

    m.def(
        "read_firmware_file",
        [](const std::string& path) {
            FirmwareFileBuffer file(path.c_str());
            return py::bytes(static_cast<char*>(file), file.size());
        },
        py::arg("path"), "A whole file as the library reads it for download to a board.");
}

}  // namespace TavexPython
