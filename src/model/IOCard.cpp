#include "tavex/model/IOCard.h"

namespace Tavex {

IOCard::IOCard(const char* type) : type_(type) {}

IOCard::~IOCard() noexcept(false) {}

IOCard& IOCard::reset() { return *this; }

}  // namespace Tavex
