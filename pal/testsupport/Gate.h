// A manual-reset event that one side opens and another waits for, with a bounded wait.
#pragma once

#include <windows.h>

namespace testsupport {

constexpr DWORD kBoundedWaitMs = 10000;

struct Gate {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    Gate() = default;
    Gate(const Gate&) = delete;
    Gate& operator=(const Gate&) = delete;
    ~Gate() { CloseHandle(event); }
    void open() { SetEvent(event); }
    bool waitOpen() { return WaitForSingleObject(event, kBoundedWaitMs) == WAIT_OBJECT_0; }
};

} // namespace testsupport
