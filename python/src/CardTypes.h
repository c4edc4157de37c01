// The most derived card class of an IOCard, so that a card reached through
// its base (a track's card) comes back as the Python object it was made as.
#ifndef TAVEX_PYTHON_CARDTYPES_H
#define TAVEX_PYTHON_CARDTYPES_H

#include <pybind11/pybind11.h>

#include <typeinfo>

#include "tavex/cards/AC28Card.h"
#include "tavex/cards/AC5Card.h"
#include "tavex/cards/PC7166Card.h"
#include "tavex/cards/PCI72xxCard.h"
#include "tavex/cards/ParallelPort.h"
#include "tavex/genius/GEMicroGENI.h"
#include "tavex/model/DummyCard.h"
#include "tavex/model/IOCard.h"
#include "tavex/profibus/SST5136PFBPCI.h"
#include "tavex/rio/AB1784Card.h"

namespace TavexPython {

template <class T>
bool cardOf(const Tavex::IOCard* card, const void*& found, const std::type_info*& type) {
    if (const T* p = dynamic_cast<const T*>(card)) {
        found = p;
        type = &typeid(T);
        return true;
    }
    return false;
}

}  // namespace TavexPython

namespace pybind11 {
template <>
struct polymorphic_type_hook<Tavex::IOCard> {
    static const void* get(const Tavex::IOCard* card, const std::type_info*& type) {
        using namespace Tavex;
        const void* found = card;
        if (card == nullptr)
            return found;
        TavexPython::cardOf<AC5Card>(card, found, type) ||
            TavexPython::cardOf<PCI72xxCard>(card, found, type) ||
            TavexPython::cardOf<ParallelPort>(card, found, type) ||
            TavexPython::cardOf<PC7166Card>(card, found, type) ||
            TavexPython::cardOf<AC28Card>(card, found, type) ||
            TavexPython::cardOf<Opto22AC28Base>(card, found, type) ||
            TavexPython::cardOf<AB1784Card>(card, found, type) ||
            TavexPython::cardOf<GEMicroGENI>(card, found, type) ||
            TavexPython::cardOf<SST5136PFBPCI>(card, found, type) ||
            TavexPython::cardOf<DummyCard>(card, found, type);
        return found;
    }
};
}  // namespace pybind11

#endif
