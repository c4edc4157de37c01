#include "tavex/model/IOTrack.h"

#include <cstring>
#include <stdexcept>

namespace Tavex {

IOTrack::IOTrack(IOCard& card, unsigned int startingPoint, const char* const pointTypes)
    : pointTypes_(0),
      numberOfPoints_(0),
      values_(0),
      startingPoint_(startingPoint),
      card_(card),
      trackState_(0) {
    const std::size_t length = pointTypes ? std::strlen(pointTypes) : 0;
    if (length == 0)
        throw std::logic_error("IOTrack must have at least one IO point.");
    pointTypes_ = new char[length + 1];
    std::memcpy(pointTypes_, pointTypes, length + 1);
    numberOfPoints_ = static_cast<unsigned int>(length);
    try {
        card_.addTrack(*this);
        values_ = new long[numberOfPoints_]();
    } catch (...) {
        delete[] pointTypes_;
        throw;
    }
}

IOTrack::~IOTrack() {
    delete[] values_;
    delete[] pointTypes_;
}

long& IOTrack::operator[](unsigned int index) {
    if (index >= numberOfPoints_)
        throw std::range_error("IOTrack::operator[] (..) Invalid io point number");
    return values_[index];
}

const long& IOTrack::operator[](unsigned int index) const {
    if (index >= numberOfPoints_)
        throw std::range_error("IOTrack::operator[] (..) const Invalid io point number");
    return values_[index];
}

void IOTrack::throwPointTypeRange() {
    throw std::range_error("IOTrack::pointType (..) Invalid io point number");
}

bool IOTrack::hasPointOfType(char type) const {
    return std::memchr(pointTypes_, type, numberOfPoints_) != 0;
}

}  // namespace Tavex
