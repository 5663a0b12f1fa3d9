// The ANSI registry functions: names and string data converted with the ANSI code page.
#include <algorithm>
#include <cstring>
#include <string>

#include "pal/codepage.h"
#include "pal/registry.h"
#include "registry_ansi.h"
#include "registry_keys.h"

namespace pal {

std::u16string ansiToWide(const char* text, size_t size)
{
    if (size == 0)
        return {};
    int length = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(size), nullptr, 0);
    std::u16string wide(static_cast<size_t>(std::max(length, 0)), u'\0');
    MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(size), wide.data(), length);
    return wide;
}

std::string wideToAnsi(std::u16string_view wide)
{
    if (wide.empty())
        return {};
    const int units = static_cast<int>(wide.size());
    int length = WideCharToMultiByte(CP_ACP, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
    std::string ansi(static_cast<size_t>(std::max(length, 0)), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), units, ansi.data(), length, nullptr, nullptr);
    return ansi;
}

} // namespace pal

namespace pal::reg {
namespace {

size_t ansiLength(std::u16string_view name)
{
    return wideToAnsi(name).size();
}

// A NUL-terminated ANSI name as a wide one; NULL stays NULL.
class WideName {
public:
    explicit WideName(LPCSTR name) : present_(name != nullptr), text_(name ? ansiToWide(name, std::strlen(name)) : u"")
    {
    }
    LPCWSTR get() const { return present_ ? text_.c_str() : nullptr; }
    std::u16string_view view() const { return text_; }

private:
    bool present_;
    std::u16string text_;
};

// String data converted to the ANSI code page, unit for unit (an odd last byte is dropped).
std::vector<BYTE> ansiData(const Value& value)
{
    if (!isStringType(value.type))
        return value.data;
    std::u16string wide(value.data.size() / 2, u'\0');
    std::copy_n(value.data.begin(), wide.size() * 2, reinterpret_cast<BYTE*>(wide.data()));
    std::string ansi = wideToAnsi(wide);
    return std::vector<BYTE>(ansi.begin(), ansi.end());
}

} // namespace
} // namespace pal::reg

using namespace pal::reg;

extern "C" {

LSTATUS RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult)
{
    return RegOpenKeyExW(hKey, WideName(lpSubKey).get(), ulOptions, samDesired, phkResult);
}

LSTATUS RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR, DWORD dwOptions, REGSAM samDesired,
                        const LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult, LPDWORD lpdwDisposition)
{
    return RegCreateKeyExW(hKey, WideName(lpSubKey).get(), Reserved, nullptr, dwOptions, samDesired,
                           lpSecurityAttributes, phkResult, lpdwDisposition);
}

LSTATUS RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                         LPDWORD lpcbData)
{
    return queryValueAs(hKey, WideName(lpValueName).view(), lpReserved, lpType, lpData, lpcbData, ansiData);
}

LSTATUS RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData)
{
    if (!lpData && cbData > 0)
        return ERROR_NOACCESS;
    const WideName name(lpValueName);
    if (!isStringType(dwType))
        return setValue(hKey, name.view(), dwType, lpData, cbData);
    std::u16string wide = pal::ansiToWide(reinterpret_cast<const char*>(lpData), cbData);
    return setValue(hKey, name.view(), dwType, reinterpret_cast<const BYTE*>(wide.data()), wide.size() * 2);
}

LSTATUS RegDeleteValueA(HKEY hKey, LPCSTR lpValueName)
{
    return RegDeleteValueW(hKey, WideName(lpValueName).get());
}

LSTATUS RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey)
{
    return RegDeleteKeyW(hKey, WideName(lpSubKey).get());
}

LSTATUS RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved, LPSTR lpClass,
                      LPDWORD lpcchClass, PFILETIME lpftLastWriteTime)
{
    return enumKey(hKey, dwIndex, lpName, lpcchName, lpReserved, lpClass, lpcchClass, lpftLastWriteTime,
                   pal::wideToAnsi);
}

LSTATUS RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved,
                      LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData)
{
    return enumValue(hKey, dwIndex, lpValueName, lpcchValueName, lpReserved, lpType, lpData, lpcbData, pal::wideToAnsi,
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
