// Handles that ReadFile, WriteFile and FlushFileBuffers work on: files here, pipes elsewhere.
#pragma once

#include <string>

#include "threads/object.h"
#include "pal/files.h"

namespace pal {

// Each operation returns a Windows error (ERROR_SUCCESS, ERROR_IO_PENDING, ...) and sets done to
// the bytes transferred, also when it fails.
class Stream : public Waitable {
public:
    // A handle is signalled while no I/O is pending on it.
    bool signaled() const override { return true; }
    virtual DWORD read(void* buffer, DWORD size, DWORD& done, LPOVERLAPPED overlapped) = 0;
    virtual DWORD write(const void* buffer, DWORD size, DWORD& done, LPOVERLAPPED overlapped) = 0;
    virtual DWORD flush() { return ERROR_SUCCESS; }
};

// CreateFileW hands names of the device namespace that start with prefix ("\\.\pipe\", compared
// without regard to case) to opener, which returns a handle or INVALID_HANDLE_VALUE with the last
// error set. Names of the namespace without an opener give ERROR_FILE_NOT_FOUND.
using DeviceOpener = HANDLE (*)(LPCWSTR name, DWORD access, DWORD share, DWORD disposition, DWORD flags);
void registerDeviceOpener(std::u16string prefix, DeviceOpener opener);

} // namespace pal
