// The Windows rules for copying a result to a caller's buffer, shared by the file, path, module,
// environment and INI functions.
#pragma once

#include <string>
#include <string_view>

#include "pal/errors.h"
#include "pal/types.h"
#include "text/text_ansi.h"

namespace pal {

// The result rule of GetSystemDirectory, GetTempPath and GetEnvironmentVariable: when text and its
// terminator fit, they are copied and the length is returned; otherwise nothing is copied and the
// size needed with the terminator is returned.
template <class Char>
DWORD copyOrNeed(std::basic_string_view<Char> text, Char* buffer, DWORD size)
{
    if (!buffer || text.size() >= size)
        return static_cast<DWORD>(text.size() + 1);
    text.copy(buffer, text.size());
    buffer[text.size()] = Char();
    return static_cast<DWORD>(text.size());
}

// The result rule of GetModuleFileName: the text cut to size - 1 characters and terminated; returns
// the length copied, or size (with ERROR_INSUFFICIENT_BUFFER) when it was cut. cut(text, n) gives
// the length of the longest prefix of at most n characters that keeps characters whole.
template <class Char, class Cut>
DWORD copyTruncated(std::basic_string_view<Char> text, Char* buffer, DWORD size, Cut cut)
{
    if (size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (text.size() < size) {
        text.copy(buffer, text.size());
        buffer[text.size()] = Char();
        SetLastError(ERROR_SUCCESS);
        return static_cast<DWORD>(text.size());
    }
    size_t kept = cut(text, size - 1);
    text.copy(buffer, kept);
    buffer[kept] = Char();
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
}

inline size_t wholeUnits(std::u16string_view, size_t limit)
{
    return limit;
}

inline size_t wholeAnsiChars(std::string_view text, size_t limit)
{
    return ansiPrefix(text, limit);
}

} // namespace pal
