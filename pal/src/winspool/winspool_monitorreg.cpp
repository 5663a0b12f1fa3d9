// The registry callbacks of MONITORREG that the spooler host hands its monitors.
#include "pal/registry.h"
#include "pal/winspool.h"

namespace {

HKEY asKey(HANDLE key)
{
    return static_cast<HKEY>(key);
}

// The registry callbacks of MONITORREG: the monitor's key handles are registry handles, so each
// callback is the registry function itself (keys are relative to whatever handle the monitor
// passes: its hckRegistryRoot, a key opened below it, or HKEY_LOCAL_MACHINE).
LONG WINAPI createKey(HANDLE key, LPCWSTR subKey, DWORD options, REGSAM access, PSECURITY_ATTRIBUTES security,
                      PHANDLE result, PDWORD disposition, HANDLE)
{
    return RegCreateKeyExW(asKey(key), subKey, 0, nullptr, options, access, security, reinterpret_cast<PHKEY>(result),
                           disposition);
}

LONG WINAPI openKey(HANDLE key, LPCWSTR subKey, REGSAM access, PHANDLE result, HANDLE)
{
    return RegOpenKeyExW(asKey(key), subKey, 0, access, reinterpret_cast<PHKEY>(result));
}

LONG WINAPI closeKey(HANDLE key, HANDLE)
{
    return RegCloseKey(asKey(key));
}

LONG WINAPI deleteKey(HANDLE key, LPCWSTR subKey, HANDLE)
{
    return RegDeleteKeyW(asKey(key), subKey);
}

LONG WINAPI enumKey(HANDLE key, DWORD index, LPWSTR name, PDWORD cchName, PFILETIME lastWrite, HANDLE)
{
    return RegEnumKeyExW(asKey(key), index, name, cchName, nullptr, nullptr, nullptr, lastWrite);
}

LONG WINAPI queryInfoKey(HANDLE key, PDWORD subKeys, PDWORD maxSubKeyLength, PDWORD values,
                         PDWORD maxValueNameLength, PDWORD maxValueLength, PDWORD securityDescriptorSize,
                         PFILETIME lastWrite, HANDLE)
{
    return RegQueryInfoKeyW(asKey(key), nullptr, nullptr, nullptr, subKeys, maxSubKeyLength, nullptr, values,
                            maxValueNameLength, maxValueLength, securityDescriptorSize, lastWrite);
}

LONG WINAPI setValue(HANDLE key, LPCWSTR name, DWORD type, const BYTE* data, DWORD size, HANDLE)
{
    return RegSetValueExW(asKey(key), name, 0, type, data, size);
}

LONG WINAPI deleteValue(HANDLE key, LPCWSTR name, HANDLE)
{
    return RegDeleteValueW(asKey(key), name);
}

LONG WINAPI enumValue(HANDLE key, DWORD index, LPWSTR name, PDWORD cchName, PDWORD type, PBYTE data, PDWORD size,
                      HANDLE)
{
    return RegEnumValueW(asKey(key), index, name, cchName, nullptr, type, data, size);
}

LONG WINAPI queryValue(HANDLE key, LPCWSTR name, PDWORD type, PBYTE data, PDWORD size, HANDLE)
{
    return RegQueryValueExW(asKey(key), name, nullptr, type, data, size);
}

const MONITORREG kRegistryCallbacks = {
    sizeof(MONITORREG),
    createKey,
    openKey,
    closeKey,
    deleteKey,
    enumKey,
    queryInfoKey,
    setValue,
    deleteValue,
    enumValue,
    queryValue,
};

} // namespace

extern "C" const MONITORREG* palMonitorRegistry(void)
{
    return &kRegistryCallbacks;
}
