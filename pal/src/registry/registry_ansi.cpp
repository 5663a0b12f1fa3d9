// The ANSI registry functions: names and string data converted with the ANSI code page.
#include <algorithm>
#include <string>

#include "pal/registry.h"
#include "registry/registry_keys.h"
#include "text/text_ansi.h"

namespace pal::reg {
namespace {

size_t ansiLength(std::u16string_view name)
{
    return ansiFromWide(name).size();
}

// String data converted to the ANSI code page, unit for unit (an odd last byte is dropped).
std::vector<BYTE> ansiData(const Value& value)
{
    if (!isStringType(value.type))
        return value.data;
    std::u16string wide(value.data.size() / 2, u'\0');
    std::copy_n(value.data.begin(), wide.size() * 2, reinterpret_cast<BYTE*>(wide.data()));
    std::string ansi = ansiFromWide(wide);
    return std::vector<BYTE>(ansi.begin(), ansi.end());
}

} // namespace
} // namespace pal::reg

using namespace pal::reg;

extern "C" {

LSTATUS RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult)
{
    return RegOpenKeyExW(hKey, pal::AnsiArgument(lpSubKey).get(), ulOptions, samDesired, phkResult);
}

LSTATUS RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR, DWORD dwOptions, REGSAM samDesired,
                        const LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult, LPDWORD lpdwDisposition)
{
    return RegCreateKeyExW(hKey, pal::AnsiArgument(lpSubKey).get(), Reserved, nullptr, dwOptions, samDesired,
                           lpSecurityAttributes, phkResult, lpdwDisposition);
}

LSTATUS RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                         LPDWORD lpcbData)
{
    return queryValueAs(hKey, pal::AnsiArgument(lpValueName).view(), lpReserved, lpType, lpData, lpcbData, ansiData);
}

LSTATUS RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData)
{
    if (!lpData && cbData > 0)
        return ERROR_NOACCESS;
    const pal::AnsiArgument name(lpValueName);
    if (!isStringType(dwType))
        return setValue(hKey, name.view(), dwType, lpData, cbData);
    std::u16string wide = pal::wideFromAnsi(std::string_view(reinterpret_cast<const char*>(lpData), cbData));
    return setValue(hKey, name.view(), dwType, reinterpret_cast<const BYTE*>(wide.data()), wide.size() * 2);
}

LSTATUS RegDeleteValueA(HKEY hKey, LPCSTR lpValueName)
{
    return RegDeleteValueW(hKey, pal::AnsiArgument(lpValueName).get());
}

LSTATUS RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey)
{
    return RegDeleteKeyW(hKey, pal::AnsiArgument(lpSubKey).get());
}

LSTATUS RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved, LPSTR lpClass,
                      LPDWORD lpcchClass, PFILETIME lpftLastWriteTime)
{
    return enumKey(hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass, lpftLastWriteTime,
                   pal::ansiFromWide);
}

LSTATUS RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved,
                      LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData)
{
    return enumValue(hKey, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType, lpData, lpcbData, pal::ansiFromWide,
                     ansiData);
}

LSTATUS RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved, LPDWORD lpcSubKeys,
                         LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                         LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                         PFILETIME lpftLastWriteTime)
{
    return queryInfo(hKey, lpClass, lpcchClass, lpReserved, ansiLength, lpcSubKeys, lpcbMaxSubKeyLen,
                     lpcbMaxClassLen, lpcValues, lpcbMaxValueNameLen, lpcbMaxValueLen, lpcbSecurityDescriptor,
                     lpftLastWriteTime);
}

} // extern "C"
