// Shared by the pal-* command-line tools: UTF-8 text, help, usage errors and the platform root.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include <windows.h>

namespace tool {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

inline std::u16string widen(std::string_view utf8)
{
    if (utf8.empty())
        return {};
    const int size = static_cast<int>(utf8.size());
    int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::u16string wide(static_cast<size_t>(length > 0 ? length : 0), u'\0');
    if (length > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
    return wide;
}

inline std::string narrow(std::u16string_view text)
{
    if (text.empty())
        return {};
    const int size = static_cast<int>(text.size());
    int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(length > 0 ? length : 0), '\0');
    if (length > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), size, utf8.data(), length, nullptr, nullptr);
    return utf8;
}

// --help, -h or /? anywhere on the command line.
inline bool wantsHelp(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h") || !std::strcmp(argv[i], "/?"))
            return true;
    return false;
}

// Makes root (from --root), when given, the platform root; false when there is none at all.
inline bool usePlatformRoot(const std::string& root)
{
    if (!root.empty())
        setenv("PAL_ROOT", root.c_str(), 1);
    const char* current = std::getenv("PAL_ROOT");
    return current && *current;
}

constexpr const char* kNoPlatformRoot = "no platform root: set PAL_ROOT or pass --root DIR";

// "TOOL: PROBLEM" and where to find help, on standard error; returns the usage exit status.
inline int usageError(const char* tool, const std::string& problem)
{
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", tool, problem.c_str(), tool);
    return kExitUsage;
}

} // namespace tool
