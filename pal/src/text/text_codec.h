// Character-at-a-time conversion between UTF-16 and the code pages the layer knows; the engine
// behind MultiByteToWideChar, WideCharToMultiByte, the CRT conversions and the printf family.
#pragma once

#include <optional>

#include "pal/types.h"

namespace pal::text {

enum class Charset { Cp932, Utf8, Cp1252 };

constexpr UINT ansiCodePage = 932;

// CP_ACP, CP_OEMCP and CP_THREAD_ACP mean the ANSI code page; nullopt for a code page we lack.
std::optional<Charset> charsetOf(UINT codePage);

// One character decoded from [p, end) (end > p): one or two UTF-16 units.
struct Decoded {
    char16_t units[2];
    int unitCount;
    int consumed; // bytes, at least 1
    bool valid;   // false: the bytes were invalid and units hold the code page's replacement
};
Decoded decodeChar(Charset charset, const unsigned char* p, const unsigned char* end);

// One character encoded from [p, end) (end > p).
struct Encoded {
    unsigned char bytes[4];
    int byteCount; // 0 when the character has no code in the code page
    int consumed;  // UTF-16 units, at least 1
    bool mapped;   // false: unmappable (byteCount 0) or a lone surrogate written as U+FFFD in UTF-8
};
Encoded encodeChar(Charset charset, const char16_t* p, const char16_t* end, bool bestFit);

// The code point at p (end > p): a surrogate pair's, else the unit's own (a lone surrogate too).
char32_t codePointAt(const char16_t* p, const char16_t* end, int& units);
// The UTF-8 bytes of a code point; a surrogate code point gets the three bytes of its value.
Encoded utf8Of(char32_t code, int consumed);

// Bytes of the character that starts at p (1 or 2; 1 for a NUL or a lead byte before a NUL).
int charLength(Charset charset, const unsigned char* p);

} // namespace pal::text
