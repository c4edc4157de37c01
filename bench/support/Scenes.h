// Scenes for the benchmarks and the soak: a simulated PC with every board
// fitted (Rig), and on it one card with its tracks (Scene), next to a
// hand-written loop that makes the same device accesses through the same
// seam and the same mapped window and leaves the same values where a client
// would look for them.
//
// A hand-written loop is what a programmer who knows the board and the
// layout of the points would write for one fixed set of tracks: the masks
// of inputs and outputs worked out beforehand, one access after the other,
// the same packing of bits into values.  Comparing the two leaves the
// library's own cost: the track and card calls, the letters looked at
// during the update, the port objects.
#ifndef TAVEX_BENCH_SUPPORT_SCENES_H
#define TAVEX_BENCH_SUPPORT_SCENES_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tavex/tavex.h"
#include "tavex/sim/Machine.h"
#include "tavex/sim/PCIHostBridge.h"
#include "tavex/sim/boards/AB1784KTxBoard.h"
#include "tavex/sim/boards/AC28Board.h"
#include "tavex/sim/boards/AC5Board.h"
#include "tavex/sim/boards/BiosDataArea.h"
#include "tavex/sim/boards/GEPCIMBoard.h"
#include "tavex/sim/boards/PC7166Board.h"
#include "tavex/sim/boards/PCI72xxBoard.h"
#include "tavex/sim/boards/ParallelPortBoard.h"
#include "tavex/sim/boards/SST5136PFBBoard.h"

namespace Bench {

// The simulated PC with one of each board, every board at ports and memory
// of its own, so that scenes of every card can share one machine (the soak)
// or have one each (the benchmarks).  Installs its machine for its life.
struct Rig {
    Rig();
    ~Rig();
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    Tavex::Sim::ScopedMachine machine;
    Tavex::Sim::PCIHostBridge& bridge;
    Tavex::Sim::BiosDataArea& bios;
    Tavex::Sim::AC5Board& ac5;
    Tavex::Sim::PCI72xxBoard& pci7296;
    Tavex::Sim::ParallelPortBoard& lpt;
    Tavex::Sim::PC7166Board& pc7166;
    Tavex::Sim::AC28Board& ac28;
    Tavex::Sim::AB1784KTxBoard& ktx;
    Tavex::Sim::GEPCIMBoard& pcim;
    Tavex::Sim::GEMicroGENIBoard& genius;
    Tavex::Sim::SST5136PFBBoard& profibus;
};

// One card with its tracks on a rig, and the hand-written loop beside it.
// The hand-written loop keeps its own copy of every track's values and
// state; stir gives both copies the same client outputs.
class Scene {
public:
    virtual ~Scene();
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;

    // updateInputs of every track, then updateOutputs of every track, as a
    // control program's scan does.
    // Both are virtual, so that each costs its caller the same dispatch.
    virtual void scanCard();
    virtual void scanHand() = 0;

    // Moves the field (the board's inputs) and the client's outputs, the
    // same way for card and hand from the same step.
    void stir(unsigned step);

    // Every value and every track state the client sees, tracks in order.
    std::vector<long> cardView() const;
    std::vector<long> handView() const;

    unsigned points() const;
    std::size_t trackCount() const { return tracks_.size(); }
    // The mapped window the card works on, or none for a port card.
    const std::uint8_t* window() const { return window_; }
    std::size_t windowSize() const { return windowSize_; }

protected:
    Scene() : window_(0), windowSize_(0) {}
    // The scene's card, owned for the scene's life and destroyed after its
    // tracks.
    template <class C, class... Args>
    C& own(Args&&... args) {
        C* card = new C(std::forward<Args>(args)...);
        card_.reset(card);
        return *card;
    }
    Tavex::IOCard& card() { return *card_; }
    // Adds a track to the card and a hand copy of the same length.
    void addTrack(Tavex::IOCard& card, unsigned startingPoint, const std::string& letters);
    virtual void stirField(unsigned step) = 0;

    long* hand(std::size_t track) { return handValues_[track].data(); }
    long& handState(std::size_t track) { return handStates_[track]; }
    void setWindow(const std::uint8_t* window, std::size_t size) {
        window_ = window;
        windowSize_ = size;
    }

private:
    std::unique_ptr<Tavex::IOCard> card_;
    std::vector<std::unique_ptr<Tavex::IOTrack> > tracks_;
    std::vector<std::string> letters_;
    std::vector<std::vector<long> > handValues_;
    std::vector<long> handStates_;
    const std::uint8_t* window_;
    std::size_t windowSize_;
};

// How a scene of one card is built: its card, the kind of track, and the
// points it covers (the lengths a card allows; see Scenes.cpp).
struct ScenePlan {
    std::string card;    // class name
    std::string track;   // what the tracks are, in a few words
    unsigned points;
    std::function<std::unique_ptr<Scene>(Rig&)> make;
};

// Every card, each at several track lengths, the card's 1024-point or
// widest track last in its family.
std::vector<ScenePlan> benchmarkScenes();
// One scene of every card, all on one rig, for the soak.
std::vector<ScenePlan> soakScenes();

}  // namespace Bench

#endif
