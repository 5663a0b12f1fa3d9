// ANSI code page conversions of whole strings, for the A functions of the registry and event log.
#pragma once

#include <string>
#include <string_view>

namespace pal {

// `size` bytes (embedded NULs included) as UTF-16.
std::u16string ansiToWide(const char* text, size_t size);
std::string wideToAnsi(std::u16string_view wide);

} // namespace pal
