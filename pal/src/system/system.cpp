// Computer and user names.
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "pal/codepage.h"
#include "pal/system.h"
#include "files/root.h"

namespace {

thread_local std::optional<std::u16string> t_impersonated;

std::u16string fromUtf8(const std::string& text)
{
    int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::u16string wide(static_cast<size_t>(std::max(length, 0)), u'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

std::string toAnsi(const std::u16string& text)
{
    int length = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                     nullptr);
    std::string narrow(static_cast<size_t>(std::max(length, 0)), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), narrow.data(), length, nullptr,
                        nullptr);
    return narrow;
}

std::string trimmed(const std::string& text)
{
    const char* blanks = " \t\r\n";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::string configuredComputerName()
{
    std::string root = pal::rootPath();
    if (root.empty())
        return {};
    std::ifstream file(root + "/config/computer-name");
    std::string line;
    std::getline(file, line);
    return trimmed(line);
}

std::string hostComputerName()
{
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    std::string name(host);
    name = name.substr(0, name.find('.'));
    for (char& c : name)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return name;
}

std::u16string computerName()
{
    std::string name = configuredComputerName();
    std::u16string wide = fromUtf8(name.empty() ? hostComputerName() : name);
    return wide.substr(0, MAX_COMPUTERNAME_LENGTH);
}

std::u16string processUserName()
{
    std::vector<char> scratch(4096);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, scratch.data(), scratch.size(), &found) == 0 && found)
        return fromUtf8(found->pw_name);
    const char* user = std::getenv("USER");
    return fromUtf8(user ? user : std::to_string(geteuid()));
}

std::u16string userName()
{
    return t_impersonated ? *t_impersonated : processUserName();
}

BOOL fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

// Copies name and its terminator; size in characters (bytes for narrow names) as the caller's
// call defines it.
template <class Char>
BOOL giveName(const std::basic_string<Char>& name, Char* buffer, LPDWORD size, DWORD shortError,
              bool sizeWithTerminator)
{
    if (!size)
        return fail(ERROR_INVALID_PARAMETER);
    DWORD needed = static_cast<DWORD>(name.size() + 1);
    if (*size < needed) {
        *size = needed;
        return fail(shortError);
    }
    if (!buffer)
        return fail(ERROR_INVALID_PARAMETER);
    name.copy(buffer, name.size());
    buffer[name.size()] = Char{};
    *size = sizeWithTerminator ? needed : needed - 1;
    return TRUE;
}

} // namespace

extern "C" {

BOOL GetComputerNameW(LPWSTR lpBuffer, LPDWORD nSize)
{
    return giveName(computerName(), lpBuffer, nSize, ERROR_BUFFER_OVERFLOW, false);
}

BOOL GetComputerNameA(LPSTR lpBuffer, LPDWORD nSize)
{
    return giveName(toAnsi(computerName()), lpBuffer, nSize, ERROR_BUFFER_OVERFLOW, false);
}

BOOL GetUserNameW(LPWSTR lpBuffer, LPDWORD pcbBuffer)
{
    return giveName(userName(), lpBuffer, pcbBuffer, ERROR_INSUFFICIENT_BUFFER, true);
}

BOOL GetUserNameA(LPSTR lpBuffer, LPDWORD pcbBuffer)
{
    return giveName(toAnsi(userName()), lpBuffer, pcbBuffer, ERROR_INSUFFICIENT_BUFFER, true);
}

void palSetThreadUserName(LPCWSTR name)
{
    if (name)
        t_impersonated = std::u16string(name);
    else
        t_impersonated.reset();
}

} // extern "C"
