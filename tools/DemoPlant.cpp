#include "DemoPlant.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace Tavex {
namespace Tool {

namespace {

typedef std::vector<std::uint8_t> Bytes;
typedef Sim::GEMicroGENIBoard Channel;

// The 1784-KTx protocol files as the plant makes them up: any bytes do, as
// long as the board model is told them.
Bytes standIn(std::size_t size, std::uint8_t seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(seed + 31 * i);
    return bytes;
}

void writeFile(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out)
        throw std::runtime_error("demo plant: cannot write " + path.string());
}

// The conveyor, in encoder edges.
const long long edgesPerMs = 4;
const long long eyePitch = 1000;       // from one photo-eye to the next
const long long eyeWindow = 800;       // a bottle is seen over this stretch
const long long bottleSpacing = 2500;  // from one bottle to the next
const unsigned eyes = 8;

// The tank, in fractions of full per second.
const double fillRate = 0.30;
const double nozzleRate = 0.40;
const double leakRate = 0.02;

const unsigned long cylinderTravel = 300;   // ms
const double heaterLag = 1500.0;            // ms

}  // namespace

// The bottling line behind the boards: a board with no ports of its own,
// plugged last, so that on every tick it sees what the others did.
class PlantProcess : public Sim::Board {
public:
    explicit PlantProcess(DemoPlant& plant)
        : plant_(plant), level_(0.5), temperature_(-0.2), lastSeen_(~0u), lastPanel_(-1) {
        for (unsigned long& p : cylinder_)
            p = 0;
        follow(0);
    }

    const char* name() const override { return "bottling line"; }

    void tick(unsigned long elapsedMs) override { follow(elapsedMs); }

    double level() const { return level_; }
    bool running() const { return plant_.ac5().outputOn(1, 0); }
    unsigned bottlesSeen() const {
        const long long last = plant_.pc7166().encoderPosition(0) - (eyes - 1) * eyePitch;
        return last < 0 ? 0 : static_cast<unsigned>(last / bottleSpacing + 1);
    }

private:
    void follow(unsigned long ms) {
        conveyor(ms);
        tank(ms);
        cylinders(ms);
        testPlug();
        racks();
        stations(ms);
        slaves();
    }

    void conveyor(unsigned long ms) {
        Sim::PC7166Board& encoder = plant_.pc7166();
        if (running())
            encoder.turn(0, edgesPerMs * static_cast<long long>(ms));
        const long long position = encoder.encoderPosition(0);
        std::uint8_t seen = 0;
        for (unsigned k = 0; k < eyes; ++k) {
            const long long x = position - k * eyePitch;
            if (x >= 0 && x % bottleSpacing < eyeWindow)
                seen = static_cast<std::uint8_t>(seen | (1u << k));
        }
        plant_.ac5().setInputLines(0, static_cast<std::uint8_t>(~seen));   // seen: line low
    }

    void tank(unsigned long ms) {
        Sim::AC28Board& ac28 = plant_.ac28();
        const double seconds = ms / 1000.0;
        const std::uint8_t valves = ac28.outputsOn(1);
        if (valves & 0x01)
            level_ += fillRate * seconds;
        if (valves & 0x02)
            level_ -= nozzleRate * seconds;
        level_ = std::min(1.0, std::max(0.0, level_ - leakRate * seconds));
        ac28.setInputCode(2, 0, static_cast<std::uint16_t>(0x800 + level_ * 0x7FF + 0.5));
        ac28.setInput(0, 0, level_ < 0.2);
        ac28.setInput(0, 1, level_ > 0.9);
    }

    void cylinders(unsigned long ms) {
        Sim::PCI72xxBoard& board = plant_.pci7248();
        typedef Sim::PCI72xxBoard Board;
        const std::uint8_t outputs = board.outputLines(0, Board::PortB);
        const std::uint8_t driven = board.drivenLevels(0, Board::PortB);
        for (unsigned k = 0; k < 8; ++k) {
            const bool open = (outputs >> k & 1) && !(driven >> k & 1);   // on: driven low
            unsigned long& p = cylinder_[k];
            p = open ? std::min(cylinderTravel, p + ms) : (p > ms ? p - ms : 0);
            board.setLineLevel(0, k, p < cylinderTravel);   // extended: switch pulls low
        }
    }

    void testPlug() {
        typedef Sim::ParallelPortBoard Port;
        Port& port = plant_.lpt();
        for (unsigned k = 0; k < 5; ++k)
            port.setPinLevel(Port::statusPin(3 + k), port.pinLevel(Port::dataPin(k)));
    }

    void racks() {
        Sim::AB1784KTxBoard& ktx = plant_.ktx();
        if (ktx.inputs(2) != ktx.outputs(3))
            ktx.setInputs(2, ktx.outputs(3));
        if (ktx.inputs(5) != ktx.outputs(4))
            ktx.setInputs(5, ktx.outputs(4));
    }

    void stations(unsigned long ms) {
        Channel& genius = plant_.genius();
        const std::uint8_t lamps = genius.outputByte(DemoPlant::PanelStation, 1);
        if (genius.inputByte(DemoPlant::PanelStation, 0) != lamps)
            genius.setInputByte(DemoPlant::PanelStation, 0, lamps);
        const double heater =
            static_cast<std::int16_t>(genius.outputWord(DemoPlant::AnalogStation, 2)) / 32768.0;
        temperature_ += (heater - temperature_) * std::min(1.0, ms / heaterLag);
        const double raw = 0x8000 + temperature_ * 0x7FFF;
        genius.setInputWord(DemoPlant::AnalogStation, 0,
                            static_cast<std::uint16_t>(std::min(65535.0, std::max(0.0, raw))));
    }

    void slaves() {
        Sim::SST5136PFBBoard& pfb = plant_.pfb();
        const unsigned seen = bottlesSeen() & 0xFF;
        if (seen != lastSeen_ || pfb.inputs(DemoPlant::ConveyorSlave)[0] !=
                                     pfb.output(DemoPlant::ConveyorSlave, 0)) {
            lastSeen_ = seen;
            pfb.setInputs(DemoPlant::ConveyorSlave, 0,
                          {pfb.output(DemoPlant::ConveyorSlave, 0), static_cast<std::uint8_t>(seen)});
        }
        const int panel = pfb.output(DemoPlant::PanelSlave, 1);
        if (panel != lastPanel_) {
            lastPanel_ = panel;
            pfb.setInput(DemoPlant::PanelSlave, 0, static_cast<std::uint8_t>(panel));
        }
    }

    DemoPlant& plant_;
    double level_;
    double temperature_;   // -1 to 1 of the analog range
    unsigned long cylinder_[8];   // how far each cylinder is out, in ms of travel
    unsigned lastSeen_;
    int lastPanel_;
};

DemoPlant::ScratchFolder::ScratchFolder() {
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    for (unsigned attempt = 0;; ++attempt) {
        const std::filesystem::path folder =
            base / ("tavex-plant-" + std::to_string(stamp) + "-" + std::to_string(attempt));
        if (std::filesystem::create_directory(folder)) {
            path = folder.string();
            return;
        }
        if (attempt == 100)
            throw std::runtime_error("demo plant: cannot make a scratch folder in " + base.string());
    }
}

DemoPlant::ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

DemoPlant::DemoPlant() : process_(0) {
    const Bytes clrram = standIn(32, 0x01);
    const Bytes loadpcl = standIn(64, 0x02);
    const Bytes scanner = standIn(5000, 0x03);
    const std::filesystem::path folder(scratch_.path);
    writeFile(folder / "clrram.bin", clrram);
    writeFile(folder / "loadpcl.bin", loadpcl);
    writeFile(folder / "scanner.bin", scanner);
    firmwarePath_ = scratch_.path + static_cast<char>(std::filesystem::path::preferred_separator);

    // A plant runs for as long as the tool likes: no trace of its accesses.
    machine_.setTracing(false);

    ac5_ = &machine_.add<Sim::AC5Board>(AC5Port);
    pc7166_ = &machine_.add<Sim::PC7166Board>(PC7166Port);
    ac28_ = &machine_.add<Sim::AC28Board>(AC28Port, AC28ResetPort, true);
    ac28_->placeDigital(0, 2).placeAnalog(2);

    machine_.add<Sim::BiosDataArea>().setLptPort(1, LptPort);
    lpt_ = &machine_.add<Sim::ParallelPortBoard>(LptPort);

    Sim::GEPCIMBoard& pcim = machine_.add<Sim::GEPCIMBoard>(GeniusPort, 2);
    genius_ = &pcim.addMicroGENI(GeniusPort, GeniusMemory, Channel::Running);
    genius_->placeStation(PanelStation, Channel::InputsAndOutputs)
        .placeStation(AnalogStation, Channel::InputsAndOutputs)
        .setInputWord(AnalogStation, 1, 0xC000);   // a steady pressure, half of full scale

    ktx_ = &machine_.add<Sim::AB1784KTxBoard>(KTxMemory);
    ktx_->setProtocolImages(clrram, loadpcl, scanner);

    bridge_ = &machine_.add<Sim::PCIHostBridge>(Sim::PCIHostBridge::Mechanism1);
    bridge_->addFunction(0, 0, 0, 0x8086, 0x1237).setClassCode(0x06, 0x00).setRevisionId(0x02);
    bridge_->addFunction(0, 1, 0, 0x8086, 0x7000).setClassCode(0x06, 0x01).setMultiFunction(true);
    bridge_->addFunction(0, 1, 1, 0x8086, 0x7010).setClassCode(0x01, 0x01, 0x80);
    pci7248_ = &machine_.add<Sim::PCI72xxBoard>(*bridge_, 0, PCI7248Device, 0,
                                                 Sim::PCI72xxBoard::PCI7248, PCI7248Registers);
    pfb_ = &machine_.add<Sim::SST5136PFBBoard>(*bridge_, 0, PFBDevice, 0, PFBMemory);
    pfb_->powerUpRunning(true);
    pfb_->addSlave(ConveyorSlave, 2, 1).addSlave(PanelSlave, 1, 2);

    process_ = &machine_.add<PlantProcess>(*this);
}

DemoPlant::~DemoPlant() {}

double DemoPlant::tankLevel() const { return process_->level(); }
unsigned DemoPlant::bottlesSeen() const { return process_->bottlesSeen(); }
bool DemoPlant::conveyorRunning() const { return process_->running(); }

}  // namespace Tool
}  // namespace Tavex
