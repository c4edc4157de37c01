#include "tavex/model/DummyCard.h"

namespace Tavex {

DummyCard::DummyCard() : IOCard("DUMMY") {}

DummyCard::~DummyCard() noexcept(false) {}

IOCard& DummyCard::updateInputs(const IOTrack&, long*, long&) { return *this; }

IOCard& DummyCard::updateOutputs(const IOTrack&, const long* const, long&) { return *this; }

IOCard& DummyCard::addTrack(IOTrack&) { return *this; }

}  // namespace Tavex
