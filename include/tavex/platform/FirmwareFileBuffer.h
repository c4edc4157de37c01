// FirmwareFileBuffer: a whole file read into memory for download to a board.
#ifndef TAVEX_PLATFORM_FIRMWAREFILEBUFFER_H
#define TAVEX_PLATFORM_FIRMWAREFILEBUFFER_H

#include "tavex/Export.h"

namespace Tavex {

class TAVEX_API FirmwareFileBuffer {
public:
    explicit FirmwareFileBuffer(const char* const path);
    ~FirmwareFileBuffer();

    unsigned long size() const { return size_; }
    operator char*() { return buffer_; }

private:
    FirmwareFileBuffer(const FirmwareFileBuffer&);
    FirmwareFileBuffer& operator=(const FirmwareFileBuffer&);

    unsigned long size_;
    char* buffer_;
};

}  // namespace Tavex

#endif
