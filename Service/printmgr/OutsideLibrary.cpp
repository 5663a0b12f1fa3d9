#include "OutsideLibrary.h"

#include <cstring>

int clOutsideLibrary::iResolve(LPCSTR name, OUTSIDE_ENTRY* slot, OUTSIDE_ENTRY* entry)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_module) {
        memset(m_path, 0, sizeof m_path);
        if (!m_buildPath(m_path, sizeof m_path))
            return OUTSIDE_NOT_AVAILABLE;
        m_module = LoadLibraryA(m_path);
        if (!m_module)
            return iLoadFailure(GetLastError());
    }
    if (!*slot)
        *slot = reinterpret_cast<OUTSIDE_ENTRY>(GetProcAddress(m_module, name));
    if (!*slot)
        return OUTSIDE_NOT_AVAILABLE;
    *entry = *slot;
    return 0;
}

int clOutsideLibrary::iLoadFailure(DWORD error) const
{
    bool missing = error == ERROR_FILE_NOT_FOUND || (m_missing == MISSING_FILE_OR_MODULE && error == ERROR_MOD_NOT_FOUND);
    return missing ? OUTSIDE_NOT_AVAILABLE : -1;
}

int clOutsideLibrary::iCall(LPCSTR name, OUTSIDE_ENTRY* slot, void* block, bool* resolved)
{
    OUTSIDE_ENTRY entry = nullptr;
    int result = iResolve(name, slot, &entry);
    if (resolved)
        *resolved = entry != nullptr;
    return entry ? entry(block) : result;
}
