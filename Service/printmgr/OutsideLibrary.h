// An outside library bound at run time: loaded on first use under a lock (a failure is not
// remembered, so the next call tries again), each entry resolved once into its cache slot.
#pragma once

#include <mutex>

#include <windows.h>

#include "jtrkplatform.h"

// Every outside entry takes one pointer to its parameter block and returns an int.
typedef int (*OUTSIDE_ENTRY)(void* block);

#define OUTSIDE_NOT_AVAILABLE (-2)

class clOutsideLibrary {
public:
    // Writes the library's full path into a buffer of pathBytes; FALSE: not installed.
    typedef BOOL (*PathBuilder)(char* path, size_t pathBytes);

    // The load errors that mean the library is not there: the file alone, or also the module (126).
    enum eMissingErrors { MISSING_FILE, MISSING_FILE_OR_MODULE };

    clOutsideLibrary(PathBuilder buildPath, eMissingErrors missing) : m_buildPath(buildPath), m_missing(missing) {}

    // The entry in *entry and 0; or OUTSIDE_NOT_AVAILABLE when the path cannot be built, the library
    // is not found or the entry is missing; -1 for other load failures.
    int iResolve(LPCSTR name, OUTSIDE_ENTRY* slot, OUTSIDE_ENTRY* entry);
    // What a failed LoadLibrary with this error gives.
    int iLoadFailure(DWORD error) const;
    // Resolves and calls; *resolved tells a missing entry from the entry's own result.
    int iCall(LPCSTR name, OUTSIDE_ENTRY* slot, void* block, bool* resolved = nullptr);

private:
    static constexpr size_t kPathBytes = 261;

    PathBuilder m_buildPath;
    eMissingErrors m_missing;
    std::mutex m_lock;
    HMODULE m_module = nullptr;
    char m_path[kPathBytes] = {};
};
