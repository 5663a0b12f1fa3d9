// The process environment with Windows names (compared without regard to case) and results.
#include <cstdlib>
#include <mutex>
#include <optional>
#include <unistd.h>

#include "files/file_text.h"
#include "pal/files.h"
#include "text/text_case.h"
#include "text/text_utf8.h"

extern char** environ;

namespace pal {
namespace {

std::mutex& environmentMutex()
{
    static std::mutex* mutex = new std::mutex;
    return *mutex;
}

// The name under which a variable is stored: the exact name, else the first that equals it
// without regard to case.
std::optional<std::string> storedName(std::u16string_view name)
{
    std::string exact = toUtf8(name);
    if (getenv(exact.c_str()))
        return exact;
    for (char** entry = environ; entry && *entry; ++entry) {
        std::string_view text(*entry);
        size_t equals = text.find('=');
        if (equals != std::string_view::npos && sameName(fromUtf8(text.substr(0, equals)), name))
            return std::string(text.substr(0, equals));
    }
    return std::nullopt;
}

std::optional<std::u16string> lookupVariable(std::u16string_view name)
{
    std::lock_guard<std::mutex> lock(environmentMutex());
    std::optional<std::string> stored = storedName(name);
    if (!stored)
        return std::nullopt;
    return fromUtf8(getenv(stored->c_str()));
}

// The value of a variable, or ERROR_ENVVAR_NOT_FOUND; copied with the Windows result rule.
template <class Char, class Convert>
DWORD getVariable(std::u16string_view name, Char* buffer, DWORD size, Convert convert)
{
    std::optional<std::u16string> value = lookupVariable(name);
    if (!value) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    auto text = convert(*value);
    SetLastError(ERROR_SUCCESS);
    return copyOrNeed(std::basic_string_view<Char>(text), buffer, size);
}

BOOL setVariable(std::u16string_view name, const std::optional<std::u16string>& value)
{
    if (name.empty() || name.find(u'=') != std::u16string_view::npos) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(environmentMutex());
    std::string stored = storedName(name).value_or(toUtf8(name));
    int result = value ? setenv(stored.c_str(), toUtf8(*value).c_str(), 1) : unsetenv(stored.c_str());
    if (result != 0) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    return TRUE;
}

// %NAME% of a defined variable becomes its value. An undefined name is copied as written and its
// closing '%' may open the next name.
std::u16string expand(std::u16string_view source)
{
    std::u16string result;
    size_t i = 0;
    while (i < source.size()) {
        size_t close = source[i] == u'%' ? source.find(u'%', i + 1) : std::u16string_view::npos;
        if (close == std::u16string_view::npos) {
            result += source[i++];
            continue;
        }
        std::u16string_view name = source.substr(i + 1, close - i - 1);
        std::optional<std::u16string> value = name.empty() ? std::nullopt : lookupVariable(name);
        if (value) {
            result += *value;
            i = close + 1;
        } else {
            result += source.substr(i, close - i);
            i = close;
        }
    }
    return result;
}

std::u16string asWide(const std::u16string& text)
{
    return text;
}

std::string asAnsi(const std::u16string& text)
{
    return ansiFromWide(text);
}

template <class Char>
DWORD copyExpanded(const std::basic_string<Char>& text, Char* buffer, DWORD size)
{
    if (buffer && text.size() < size) {
        text.copy(buffer, text.size());
        buffer[text.size()] = Char();
    }
    return static_cast<DWORD>(text.size() + 1);
}

} // namespace
} // namespace pal

using namespace pal;

extern "C" {

DWORD GetEnvironmentVariableW(LPCWSTR lpName, LPWSTR lpBuffer, DWORD nSize)
{
    if (!lpName) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    return getVariable(lpName, lpBuffer, nSize, asWide);
}

DWORD GetEnvironmentVariableA(LPCSTR lpName, LPSTR lpBuffer, DWORD nSize)
{
    if (!lpName) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    return getVariable(wideFromAnsi(lpName), lpBuffer, nSize, asAnsi);
}

BOOL SetEnvironmentVariableW(LPCWSTR lpName, LPCWSTR lpValue)
{
    std::optional<std::u16string> value;
    if (lpValue)
        value = lpValue;
    return setVariable(lpName ? lpName : u"", value);
}

BOOL SetEnvironmentVariableA(LPCSTR lpName, LPCSTR lpValue)
{
    std::optional<std::u16string> value;
    if (lpValue)
        value = wideFromAnsi(lpValue);
    return setVariable(wideFromAnsi(lpName), value);
}

DWORD ExpandEnvironmentStringsW(LPCWSTR lpSrc, LPWSTR lpDst, DWORD nSize)
{
    if (!lpSrc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return copyExpanded(expand(lpSrc), lpDst, nSize);
}

DWORD ExpandEnvironmentStringsA(LPCSTR lpSrc, LPSTR lpDst, DWORD nSize)
{
    if (!lpSrc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return copyExpanded(ansiFromWide(expand(wideFromAnsi(lpSrc))), lpDst, nSize);
}

} // extern "C"
