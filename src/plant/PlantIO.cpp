// Building a plant's cards and tracks.
#include "tavex/plant/Plant.h"

#include <algorithm>
#include <exception>
#include <stdexcept>

namespace Tavex {

PlantIO::PlantIO(const Plant& plant, const OpenOptions& options) : plant_(plant) {
    // Room first: a vector that grows after a card is built would lose it.
    cards_.reserve(plant_.cards().size());
    tracks_.reserve(plant_.tracks().size());
    try {
        for (const PlantCard& card : plant_.cards())
            cards_.emplace_back(new OpenCard(card.arguments, options));
        for (const PlantTrack& track : plant_.tracks())
            tracks_.emplace_back(new IOTrack(card(track.card).card(), track.arguments.start,
                                             track.arguments.letters.c_str()));
    } catch (...) {
        // The members go as the destructor would let them: tracks first,
        // the last built first; a card that refuses to go is swallowed by
        // its OpenCard, since the error that brought us here is the one.
        while (!tracks_.empty())
            tracks_.pop_back();
        while (!cards_.empty())
            cards_.pop_back();
        throw;
    }
}

PlantIO::~PlantIO() {
    while (!tracks_.empty())
        tracks_.pop_back();
    while (!cards_.empty())
        cards_.pop_back();   // ~OpenCard swallows a refusal: close() reports it
}

void PlantIO::close() {
    while (!tracks_.empty())
        tracks_.pop_back();
    std::exception_ptr first;
    while (!cards_.empty()) {
        try {
            cards_.back()->close();
        } catch (...) {
            if (!first)
                first = std::current_exception();
        }
        cards_.pop_back();
    }
    if (first)
        std::rethrow_exception(first);
}

OpenCard& PlantIO::card(const std::string& name) {
    const PlantCard* card = plant_.findCard(name);
    if (!card)
        throw std::out_of_range("the plant has no card '" + name + "'");
    return *cards_[static_cast<std::size_t>(card - plant_.cards().data())];
}

IOTrack& PlantIO::track(const std::string& name) {
    const PlantTrack* track = plant_.findTrack(name);
    if (!track)
        throw std::out_of_range("the plant has no track '" + name + "'");
    return *tracks_[static_cast<std::size_t>(track - plant_.tracks().data())];
}

unsigned long PlantIO::settleTime() const {
    unsigned long longest = 0;
    for (const std::unique_ptr<OpenCard>& card : cards_)
        longest = std::max(longest, card->settleTime());
    return longest;
}

void PlantIO::setSafeValues() {
    for (std::size_t t = 0; t < tracks_.size(); ++t) {
        IOTrack& track = *tracks_[t];
        const PlantTrack& info = plant_.tracks()[t];
        for (unsigned int i = 0; i < track.numberOfPoints(); ++i)
            if (track.pointType(i) == IOTrack::DigitalOutput ||
                track.pointType(i) == IOTrack::AnalogOutput)
                track[i] = info.safe[i];
    }
}

}  // namespace Tavex
