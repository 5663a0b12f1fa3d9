// Character-at-a-time codecs for CP932, UTF-8 and 1252.
#include "text/text_codec.h"

#include <algorithm>
#include <initializer_list>
#include <iterator>

#include "pal/codepage.h"
#include "text/text_cp932.h"

namespace pal::text {
namespace {

constexpr char16_t cp932DefaultUnicode = 0x30FB; // KATAKANA MIDDLE DOT, the code page's default
constexpr char16_t replacementCharacter = 0xFFFD;

// 1252 bytes 0x80-0x9F; the five bytes Windows leaves undefined map to the same code point.
constexpr char16_t cp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

bool isHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

Decoded one(char16_t unit, int consumed, bool valid) { return Decoded{{unit, 0}, 1, consumed, valid}; }

Decoded decodeCp932(const unsigned char* p, const unsigned char* end)
{
    if (!cp932IsLead(p[0]))
        return one(cp932SingleByte[p[0]], 1, true);
    if (end - p < 2 || !cp932IsTrail(p[1]))
        return one(cp932DefaultUnicode, 1, false);
    char16_t unit = cp932DoubleByte[cp932LeadIndex(p[0])][cp932TrailIndex(p[1])];
    return unit ? one(unit, 2, true) : one(cp932DefaultUnicode, 2, false);
}

Decoded decodeCp1252(const unsigned char* p)
{
    return one(p[0] >= 0x80 && p[0] <= 0x9F ? cp1252High[p[0] - 0x80] : p[0], 1, true);
}

// The well-formed UTF-8 sequences: by lead byte, their length and the range of their second byte.
struct Utf8Lead {
    unsigned char first, last;
    int length;
    unsigned char low, high;
};

constexpr Utf8Lead utf8Leads[] = {
    {0xC2, 0xDF, 2, 0x80, 0xBF}, {0xE0, 0xE0, 3, 0xA0, 0xBF}, {0xE1, 0xEC, 3, 0x80, 0xBF},
    {0xED, 0xED, 3, 0x80, 0x9F}, {0xEE, 0xEF, 3, 0x80, 0xBF}, {0xF0, 0xF0, 4, 0x90, 0xBF},
    {0xF1, 0xF3, 4, 0x80, 0xBF}, {0xF4, 0xF4, 4, 0x80, 0x8F},
};

// Unicode's "maximal subpart" rule: an invalid sequence is replaced by one U+FFFD per longest
// prefix that could have started a valid sequence.
Decoded decodeUtf8(const unsigned char* p, const unsigned char* end)
{
    unsigned char lead = p[0];
    if (lead < 0x80)
        return one(lead, 1, true);
    const Utf8Lead* rule = std::find_if(std::begin(utf8Leads), std::end(utf8Leads),
                                        [lead](const Utf8Lead& entry) { return lead >= entry.first && lead <= entry.last; });
    if (rule == std::end(utf8Leads))
        return one(replacementCharacter, 1, false);
    char32_t value = lead & (0x7F >> rule->length);
    for (int i = 1; i < rule->length; ++i) {
        const unsigned char low = i == 1 ? rule->low : 0x80;
        const unsigned char high = i == 1 ? rule->high : 0xBF;
        if (p + i >= end || p[i] < low || p[i] > high)
            return one(replacementCharacter, i, false);
        value = value << 6 | (p[i] & 0x3F);
    }
    if (value < 0x10000)
        return one(static_cast<char16_t>(value), rule->length, true);
    value -= 0x10000;
    return Decoded{{static_cast<char16_t>(0xD800 + (value >> 10)), static_cast<char16_t>(0xDC00 + (value & 0x3FF))},
                   2, rule->length, true};
}

Encoded bytes(std::initializer_list<unsigned char> values, int consumed, bool mapped = true)
{
    Encoded encoded{{0, 0, 0, 0}, 0, consumed, mapped};
    for (unsigned char value : values)
        encoded.bytes[encoded.byteCount++] = value;
    return encoded;
}

Encoded unmappable() { return Encoded{{0, 0, 0, 0}, 0, 1, false}; }

Encoded encodeCp932(char16_t unit, bool bestFit)
{
    if (unit < 0x80)
        return bytes({static_cast<unsigned char>(unit)}, 1);
    const Cp932Reverse* begin = cp932Reverse;
    const Cp932Reverse* end = cp932Reverse + cp932ReverseCount;
    auto found = std::lower_bound(begin, end, unit,
                                  [](const Cp932Reverse& entry, char16_t value) { return entry.unicode < value; });
    if (found != end && found->unicode == unit) {
        if (found->code < 0x100)
            return bytes({static_cast<unsigned char>(found->code)}, 1);
        return bytes({static_cast<unsigned char>(found->code >> 8), static_cast<unsigned char>(found->code)}, 1);
    }
    if (bestFit && unit == 0x00A5) // YEN SIGN
        return bytes({0x5C}, 1);
    if (bestFit && unit == 0x203E) // OVERLINE
        return bytes({0x7E}, 1);
    return unmappable();
}

Encoded encodeCp1252(char16_t unit)
{
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF))
        return bytes({static_cast<unsigned char>(unit)}, 1);
    const char16_t* found = std::find(std::begin(cp1252High), std::end(cp1252High), unit);
    if (found != std::end(cp1252High))
        return bytes({static_cast<unsigned char>(0x80 + (found - cp1252High))}, 1);
    return unmappable();
}

Encoded encodeUtf8(const char16_t* p, const char16_t* end)
{
    int units = 0;
    char32_t value = codePointAt(p, end, units);
    if (value >= 0xD800 && value <= 0xDFFF) // a lone surrogate
        return bytes({0xEF, 0xBF, 0xBD}, 1, false);
    return utf8Of(value, units);
}

} // namespace

std::optional<Charset> charsetOf(UINT codePage)
{
    switch (codePage) {
    case CP_ACP:
    case CP_OEMCP:
    case CP_THREAD_ACP:
    case 932:
        return Charset::Cp932;
    case CP_UTF8:
        return Charset::Utf8;
    case 1252:
        return Charset::Cp1252;
    default:
        return std::nullopt;
    }
}

Decoded decodeChar(Charset charset, const unsigned char* p, const unsigned char* end)
{
    switch (charset) {
    case Charset::Cp932:
        return decodeCp932(p, end);
    case Charset::Utf8:
        return decodeUtf8(p, end);
    case Charset::Cp1252:
        break;
    }
    return decodeCp1252(p);
}

Encoded encodeChar(Charset charset, const char16_t* p, const char16_t* end, bool bestFit)
{
    switch (charset) {
    case Charset::Cp932:
        return encodeCp932(p[0], bestFit);
    case Charset::Utf8:
        return encodeUtf8(p, end);
    case Charset::Cp1252:
        break;
    }
    return encodeCp1252(p[0]);
}

char32_t codePointAt(const char16_t* p, const char16_t* end, int& units)
{
    units = 1;
    if (!isHighSurrogate(p[0]) || end - p < 2 || !isLowSurrogate(p[1]))
        return p[0];
    units = 2;
    return 0x10000 + ((char32_t(p[0]) - 0xD800) << 10) + (p[1] - 0xDC00);
}

Encoded utf8Of(char32_t value, int consumed)
{
    auto byte = [](char32_t bits) { return static_cast<unsigned char>(bits); };
    if (value < 0x80)
        return bytes({byte(value)}, consumed);
    if (value < 0x800)
        return bytes({byte(0xC0 | value >> 6), byte(0x80 | (value & 0x3F))}, consumed);
    if (value < 0x10000)
        return bytes({byte(0xE0 | value >> 12), byte(0x80 | ((value >> 6) & 0x3F)), byte(0x80 | (value & 0x3F))},
                     consumed);
    return bytes({byte(0xF0 | value >> 18), byte(0x80 | ((value >> 12) & 0x3F)), byte(0x80 | ((value >> 6) & 0x3F)),
                  byte(0x80 | (value & 0x3F))},
                 consumed);
}

int charLength(Charset charset, const unsigned char* p)
{
    return charset == Charset::Cp932 && cp932IsLead(p[0]) && p[1] != 0 ? 2 : 1;
}

} // namespace pal::text
