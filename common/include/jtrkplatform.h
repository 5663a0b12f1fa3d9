// The few spellings in which the Windows build and the build over the platform layer differ. Product
// code includes this header (after any winsock2.h, before or after windows.h) and no header of the
// platform layer itself.
#pragma once

#include <string>
#include <string_view>

#ifdef _WIN32
#define W(text) L##text
#define JTRK_EXPORT __declspec(dllexport)
typedef std::basic_string<wchar_t> WString;
typedef std::basic_string_view<wchar_t> WStringView;
// POSIX's setenv, for the programs' --root option, from the C runtime's _putenv_s.
#include <stdlib.h>
inline int setenv(const char* name, const char* value, int /*overwrite*/) { return _putenv_s(name, value); }
#else
#include "pal/types.h"
#define JTRK_EXPORT PAL_EXPORT
typedef std::basic_string<WCHAR> WString;
typedef std::basic_string_view<WCHAR> WStringView;
#endif
