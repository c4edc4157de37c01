#include "tavex/platform/FirmwareFileBuffer.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdarg>
#include <cstdio>
#include <new>
#include <stdexcept>

#include "platform/MessageText.h"

namespace Tavex {

namespace {

bool fileSize(const char* path, unsigned long& size) {
#if defined(_WIN32)
    struct _stat status;
    if (_stat(path, &status) != 0)
        return false;
#else
    struct stat status;
    if (stat(path, &status) != 0)
        return false;
#endif
    size = static_cast<unsigned long>(status.st_size);
    return true;
}

// The file errors name the file.
std::runtime_error fileError(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::runtime_error error(messageText(format, arguments));
    va_end(arguments);
    return error;
}

}  // namespace

FirmwareFileBuffer::FirmwareFileBuffer(const char* const path) : size_(0), buffer_(0) {
    // Opened for reading and writing without translation: a file the
    // process may not write is refused like a missing one.
    std::FILE* file = path ? std::fopen(path, "r+b") : 0;
    if (file == 0)
        throw fileError("FirmwareFileBuffer: Can not open the file %s.", path ? path : "(null)");

    unsigned long size = 0;
    if (!fileSize(path, size)) {
        std::fclose(file);
        throw fileError("FirmwareFileBuffer: can not retrieve file %s size.", path);
    }

    char* buffer = new (std::nothrow) char[size ? size : 1];
    if (buffer == 0) {
        std::fclose(file);
        throw std::bad_alloc();
    }

    if (std::fread(buffer, size, 1, file) != 1) {
        delete[] buffer;
        std::fclose(file);
        throw fileError("FirmwareFileBuffer: error occured while reading file %s.", path);
    }
    std::fclose(file);
    size_ = size;
    buffer_ = buffer;
}

FirmwareFileBuffer::~FirmwareFileBuffer() { delete[] buffer_; }

}  // namespace Tavex
