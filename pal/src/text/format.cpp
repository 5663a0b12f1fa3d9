// The printf family with the Microsoft rules: one engine, instantiated for narrow and wide output.
#include "pal/format.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <type_traits>

#include "text/text_codec.h"

namespace {

using pal::text::Charset;

constexpr size_t windowsFormatLimit = 1024; // wsprintf's buffer, terminator included

enum class Size { Default, Char, Short, Long, Int64, Pointer };

struct Conversion {
    bool left = false;
    bool plus = false;
    bool space = false;
    bool alt = false;
    bool zero = false;
    size_t width = 0;
    int precision = -1; // -1: none
    Size size = Size::Default;
    bool longDouble = false;
    char conversion = 0;
};

// A va_list that helpers can share by reference on every ABI.
struct Args {
    va_list list;
};

// Writes what fits into the buffer and counts everything.
template <class Char>
class Output {
public:
    Output(Char* buffer, size_t capacity) : buffer_(buffer), capacity_(buffer ? capacity : 0) {}

    void put(Char c)
    {
        if (length_ < capacity_)
            buffer_[length_] = c;
        ++length_;
    }
    template <class Unit>
    void write(const Unit* units, size_t count)
    {
        for (size_t i = 0; i < count; ++i)
            put(static_cast<Char>(static_cast<std::make_unsigned_t<Unit>>(units[i])));
    }
    void repeat(Char c, size_t count)
    {
        if (length_ < capacity_)
            std::fill_n(buffer_ + length_, std::min(count, capacity_ - length_), c);
        length_ += count;
    }
    size_t length() const { return length_; }

private:
    Char* buffer_;
    size_t capacity_;
    size_t length_ = 0;
};

template <class Char>
constexpr bool isWideOutput = std::is_same_v<Char, WCHAR>;

template <class Char>
bool takeFlag(Char c, Conversion& conv)
{
    switch (c) {
    case '-': conv.left = true; return true;
    case '+': conv.plus = true; return true;
    case ' ': conv.space = true; return true;
    case '#': conv.alt = true; return true;
    case '0': conv.zero = true; return true;
    default: return false;
    }
}

// A width or precision: '*' takes an int argument; digits that overflow an int are a bad format.
template <class Char>
bool parseCount(const Char*& p, Args& args, int& value)
{
    if (*p == '*') {
        ++p;
        value = va_arg(args.list, int);
        return true;
    }
    value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (value > (INT_MAX - 9) / 10)
            return false;
        value = value * 10 + (*p - '0');
    }
    return true;
}

template <class Char>
void parseSize(const Char*& p, Conversion& conv)
{
    switch (*p) {
    case 'h':
        ++p;
        conv.size = *p == 'h' ? Size::Char : Size::Short;
        p += conv.size == Size::Char;
        break;
    case 'l':
        ++p;
        conv.size = *p == 'l' ? Size::Int64 : Size::Long;
        p += conv.size == Size::Int64;
        break;
    case 'w':
        ++p;
        conv.size = Size::Long;
        break;
    case 'L':
        ++p;
        conv.longDouble = true;
        conv.size = Size::Int64;
        break;
    case 'j':
        ++p;
        conv.size = Size::Int64;
        break;
    case 'z':
    case 't':
        ++p;
        conv.size = Size::Pointer;
        break;
    case 'I':
        ++p;
        if (p[0] == '6' && p[1] == '4') {
            p += 2;
            conv.size = Size::Int64;
        } else if (p[0] == '3' && p[1] == '2') {
            p += 2;
            conv.size = Size::Long;
        } else {
            conv.size = Size::Pointer;
        }
        break;
    default:
        break;
    }
}

// Parses what follows a '%'; false for a bad format.
template <class Char>
bool parseSpec(const Char*& p, Args& args, Conversion& conv)
{
    while (takeFlag(*p, conv))
        ++p;
    int width = 0;
    if (!parseCount(p, args, width))
        return false;
    if (width < 0) {
        conv.left = true;
        width = width == INT_MIN ? INT_MAX : -width;
    }
    conv.width = static_cast<size_t>(width);
    if (*p == '.') {
        ++p;
        int precision = 0;
        if (!parseCount(p, args, precision))
            return false;
        conv.precision = precision < 0 ? -1 : precision;
    }
    parseSize(p, conv);
    std::string_view conversions = "diuoxXcCsSpeEfFgG%";
    if (*p == 0 || *p > 0x7F || conversions.find(static_cast<char>(*p)) == std::string_view::npos)
        return false;
    conv.conversion = static_cast<char>(*p++);
    return true;
}

// Lays out a field: padding, prefix (sign or 0x), zero padding when asked, the body, padding.
template <class Char, class Body>
void field(Output<Char>& out, const Conversion& conv, std::string_view prefix, size_t bodyLength, Body body)
{
    size_t total = prefix.size() + bodyLength;
    size_t padding = conv.width > total ? conv.width - total : 0;
    bool zeroPadding = conv.zero && !conv.left;
    if (!conv.left && !zeroPadding)
        out.repeat(' ', padding);
    out.write(prefix.data(), prefix.size());
    if (zeroPadding)
        out.repeat('0', padding);
    body();
    if (conv.left)
        out.repeat(' ', padding);
}

template <class Char, class Unit>
void text(Output<Char>& out, const Conversion& conv, const Unit* units, size_t count)
{
    field(out, conv, {}, count, [&] { out.write(units, count); });
}

uint64_t fetchUnsigned(Size size, Args& args)
{
    switch (size) {
    case Size::Char: return static_cast<unsigned char>(va_arg(args.list, int));
    case Size::Short: return static_cast<uint16_t>(va_arg(args.list, int));
    case Size::Int64: return va_arg(args.list, unsigned long long);
    case Size::Pointer: return va_arg(args.list, uintptr_t);
    default: return va_arg(args.list, unsigned int);
    }
}

int64_t fetchSigned(Size size, Args& args)
{
    switch (size) {
    case Size::Char: return static_cast<signed char>(va_arg(args.list, int));
    case Size::Short: return static_cast<int16_t>(va_arg(args.list, int));
    case Size::Int64: return va_arg(args.list, long long);
    case Size::Pointer: return va_arg(args.list, intptr_t);
    default: return va_arg(args.list, int);
    }
}

template <class Char>
void integer(Output<Char>& out, Conversion conv, uint64_t magnitude, std::string_view sign, int base, bool upper)
{
    const char* digitSet = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string_view prefix = sign;
    if (conv.alt && base == 16 && magnitude != 0)
        prefix = upper ? "0X" : "0x";
    char digits[24];
    size_t count = 0;
    if (magnitude != 0 || conv.precision != 0) {
        do {
            digits[count++] = digitSet[magnitude % base];
            magnitude /= base;
        } while (magnitude);
    }
    size_t precision = conv.precision < 0 ? 0 : static_cast<size_t>(conv.precision);
    size_t zeros = precision > count ? precision - count : 0;
    if (conv.alt && base == 8 && zeros == 0 && (count == 0 || digits[count - 1] != '0'))
        zeros = 1;
    if (conv.precision >= 0)
        conv.zero = false;
    field(out, conv, prefix, zeros + count, [&] {
        out.repeat('0', zeros);
        for (size_t i = count; i-- > 0;)
            out.put(digits[i]);
    });
}

template <class Char>
void signedInteger(Output<Char>& out, const Conversion& conv, int64_t value)
{
    uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    std::string_view sign = value < 0 ? "-" : conv.plus ? "+" : conv.space ? " " : "";
    integer(out, conv, magnitude, sign, 10, false);
}

template <class Char>
void pointer(Output<Char>& out, Conversion conv, uintptr_t value)
{
    conv.precision = 2 * sizeof(void*);
    conv.alt = false;
    integer(out, conv, value, {}, 16, true);
}

// Whether %s/%c take a wide argument: h narrow, l/w wide, else the output's width (S/C: the other).
template <class Char>
bool wideArgument(const Conversion& conv)
{
    if (conv.size == Size::Short || conv.size == Size::Char)
        return false;
    if (conv.size == Size::Long)
        return true;
    bool otherWidth = conv.conversion == 'S' || conv.conversion == 'C';
    return isWideOutput<Char> != otherWidth;
}

// Narrow text in the ANSI code page as UTF-16, at most limit units, never half a character.
std::u16string widen(const unsigned char* p, size_t limit)
{
    std::u16string result;
    while (result.size() < limit && *p) {
        auto decoded = pal::text::decodeChar(Charset::Cp932, p, p + pal::text::charLength(Charset::Cp932, p));
        if (result.size() + decoded.unitCount > limit)
            break;
        result.append(decoded.units, decoded.unitCount);
        p += decoded.consumed;
    }
    return result;
}

// UTF-16 text in the ANSI code page, at most limit bytes, never half a character.
std::string narrow(const char16_t* p, size_t limit)
{
    std::string result;
    while (result.size() < limit && *p) {
        auto encoded = pal::text::encodeChar(Charset::Cp932, p, p + 1, true);
        std::string_view bytes = encoded.byteCount
                                     ? std::string_view(reinterpret_cast<const char*>(encoded.bytes), encoded.byteCount)
                                     : std::string_view("?");
        if (result.size() + bytes.size() > limit)
            break;
        result += bytes;
        p += encoded.consumed;
    }
    return result;
}

template <class Char>
void string(Output<Char>& out, const Conversion& conv, bool wide, const void* argument)
{
    size_t limit = conv.precision < 0 ? SIZE_MAX : static_cast<size_t>(conv.precision);
    if (!argument) {
        std::string_view null = "(null)";
        text(out, conv, null.data(), std::min(null.size(), limit));
    } else if (wide == isWideOutput<Char>) {
        auto units = static_cast<const Char*>(argument);
        size_t count = 0;
        while (count < limit && units[count])
            ++count;
        text(out, conv, units, count);
    } else if (wide) {
        std::string converted = narrow(static_cast<const char16_t*>(argument), limit);
        text(out, conv, converted.data(), converted.size());
    } else {
        std::u16string converted = widen(static_cast<const unsigned char*>(argument), limit);
        text(out, conv, converted.data(), converted.size());
    }
}

template <class Char>
void character(Output<Char>& out, const Conversion& conv, bool wide, int value)
{
    if (wide == isWideOutput<Char>) {
        Char unit = static_cast<Char>(value);
        text(out, conv, &unit, 1);
    } else if (wide) {
        char16_t unit[2] = {static_cast<char16_t>(value), 0};
        std::string converted = narrow(unit, SIZE_MAX);
        text(out, conv, converted.data(), converted.size());
    } else {
        auto byte = static_cast<unsigned char>(value);
        auto decoded = pal::text::decodeChar(Charset::Cp932, &byte, &byte + 1);
        text(out, conv, decoded.units, decoded.unitCount);
    }
}

template <class Char>
void floating(Output<Char>& out, const Conversion& conv, Args& args)
{
    double value = conv.longDouble ? static_cast<double>(va_arg(args.list, long double)) : va_arg(args.list, double);
    const std::pair<bool, char> flags[] = {
        {conv.left, '-'}, {conv.plus, '+'}, {conv.space, ' '}, {conv.alt, '#'}, {conv.zero, '0'}};
    std::string format = "%";
    for (auto [set, flag] : flags)
        if (set)
            format += flag;
    format += conv.precision < 0 ? "*" : "*.*";
    format += conv.conversion;
    int width = static_cast<int>(std::min<size_t>(conv.width, INT_MAX));
    auto print = [&](char* buffer, size_t size) {
        return conv.precision < 0 ? std::snprintf(buffer, size, format.c_str(), width, value)
                                  : std::snprintf(buffer, size, format.c_str(), width, conv.precision, value);
    };
    std::string digits(static_cast<size_t>(std::max(print(nullptr, 0), 0)), '\0');
    print(digits.data(), digits.size() + 1);
    out.write(digits.data(), digits.size());
}

// One conversion; false for %n (refused, as the CRT does by default).
template <class Char>
bool convert(Output<Char>& out, const Conversion& conv, Args& args)
{
    switch (conv.conversion) {
    case '%':
        out.put('%');
        return true;
    case 'd':
    case 'i':
        signedInteger(out, conv, fetchSigned(conv.size, args));
        return true;
    case 'u':
        integer(out, conv, fetchUnsigned(conv.size, args), {}, 10, false);
        return true;
    case 'o':
        integer(out, conv, fetchUnsigned(conv.size, args), {}, 8, false);
        return true;
    case 'x':
    case 'X':
        integer(out, conv, fetchUnsigned(conv.size, args), {}, 16, conv.conversion == 'X');
        return true;
    case 'p':
        pointer(out, conv, reinterpret_cast<uintptr_t>(va_arg(args.list, void*)));
        return true;
    case 'c':
    case 'C':
        character(out, conv, wideArgument<Char>(conv), va_arg(args.list, int));
        return true;
    case 's':
    case 'S':
        string(out, conv, wideArgument<Char>(conv), va_arg(args.list, const void*));
        return true;
    case 'e':
    case 'E':
    case 'f':
    case 'F':
    case 'g':
    case 'G':
        floating(out, conv, args);
        return true;
    default:
        return false;
    }
}

// Formats into buffer[0, capacity) without a terminator. Returns the whole output's length, or -1
// for a bad format or an output longer than INT_MAX.
template <class Char>
int formatInto(Char* buffer, size_t capacity, const Char* format, va_list args)
{
    Args shared;
    va_copy(shared.list, args);
    Output<Char> out(buffer, capacity);
    bool good = true;
    for (const Char* p = format; good && *p;) {
        if (*p != '%') {
            out.put(*p++);
            continue;
        }
        ++p;
        Conversion conv;
        good = parseSpec(p, shared, conv) && convert(out, conv, shared);
    }
    va_end(shared.list);
    return good && out.length() <= INT_MAX ? static_cast<int>(out.length()) : -1;
}

int invalid()
{
    errno = EINVAL;
    return -1;
}

template <class Char>
int countOnly(const Char* format, va_list args)
{
    if (!format)
        return invalid();
    int length = formatInto<Char>(nullptr, 0, format, args);
    return length < 0 ? invalid() : length;
}

// _vsnprintf / _vsnwprintf.
template <class Char>
int legacyFormat(Char* buffer, size_t count, const Char* format, va_list args)
{
    if (!format || (!buffer && count != 0))
        return invalid();
    int length = formatInto(buffer, count, format, args);
    if (length < 0)
        return invalid();
    if (!buffer)
        return length;
    if (static_cast<size_t>(length) < count)
        buffer[length] = 0;
    return static_cast<size_t>(length) <= count ? length : -1;
}

// _vsnprintf_s / _vsnwprintf_s.
template <class Char>
int safeFormat(Char* buffer, size_t size, size_t count, const Char* format, va_list args)
{
    if (!format)
        return invalid();
    if (count == 0 && !buffer && size == 0)
        return 0;
    if (!buffer || size == 0)
        return invalid();
    bool limitedByCount = count < size;
    size_t capacity = limitedByCount ? count : size - 1;
    int length = formatInto(buffer, capacity, format, args);
    if (length < 0) {
        buffer[0] = 0;
        return invalid();
    }
    if (static_cast<size_t>(length) <= capacity) {
        buffer[length] = 0;
        return length;
    }
    if (limitedByCount || count == _TRUNCATE) {
        buffer[capacity] = 0;
        return -1;
    }
    buffer[0] = 0;
    errno = ERANGE;
    return -1;
}

// vsprintf_s / vswprintf_s.
template <class Char>
int wholeFormat(Char* buffer, size_t size, const Char* format, va_list args)
{
    if (!format || !buffer || size == 0)
        return invalid();
    return safeFormat(buffer, size, size, format, args);
}

// wvsprintfA / wvsprintfW.
template <class Char>
int windowsFormat(Char* buffer, const Char* format, va_list args)
{
    if (!buffer || !format)
        return invalid();
    int length = formatInto(buffer, windowsFormatLimit - 1, format, args);
    if (length < 0) {
        buffer[0] = 0;
        return invalid();
    }
    size_t written = std::min<size_t>(length, windowsFormatLimit - 1);
    buffer[written] = 0;
    return static_cast<int>(written);
}

template <class Char>
HRESULT strsafeFormat(Char* dest, size_t cchDest, const Char* format, va_list args)
{
    if (!dest || cchDest == 0)
        return STRSAFE_E_INVALID_PARAMETER;
    if (cchDest > STRSAFE_MAX_CCH || !format) {
        dest[0] = 0;
        return STRSAFE_E_INVALID_PARAMETER;
    }
    int length = formatInto(dest, cchDest - 1, format, args);
    if (length < 0) {
        dest[0] = 0;
        return STRSAFE_E_INVALID_PARAMETER;
    }
    if (static_cast<size_t>(length) < cchDest) {
        dest[length] = 0;
        return S_OK;
    }
    dest[cchDest - 1] = 0;
    return STRSAFE_E_INSUFFICIENT_BUFFER;
}

} // namespace

// The variadic entry points hand their arguments to the va_list form.
#define PAL_FORWARD_VARARGS(last, call) \
    va_list args;                       \
    va_start(args, last);               \
    auto result = call;                 \
    va_end(args);                       \
    return result

extern "C" {

PAL_EXPORT int vswprintf_s(WCHAR* buffer, size_t sizeOfBuffer, const WCHAR* format, va_list args)
{
    return wholeFormat(buffer, sizeOfBuffer, format, args);
}
PAL_EXPORT int swprintf_s(WCHAR* buffer, size_t sizeOfBuffer, const WCHAR* format, ...)
{
    PAL_FORWARD_VARARGS(format, wholeFormat(buffer, sizeOfBuffer, format, args));
}
PAL_EXPORT int _vsnwprintf_s(WCHAR* buffer, size_t sizeOfBuffer, size_t count, const WCHAR* format, va_list args)
{
    return safeFormat(buffer, sizeOfBuffer, count, format, args);
}
PAL_EXPORT int _snwprintf_s(WCHAR* buffer, size_t sizeOfBuffer, size_t count, const WCHAR* format, ...)
{
    PAL_FORWARD_VARARGS(format, safeFormat(buffer, sizeOfBuffer, count, format, args));
}
PAL_EXPORT int _vsnwprintf(WCHAR* buffer, size_t count, const WCHAR* format, va_list args)
{
    return legacyFormat(buffer, count, format, args);
}
PAL_EXPORT int _snwprintf(WCHAR* buffer, size_t count, const WCHAR* format, ...)
{
    PAL_FORWARD_VARARGS(format, legacyFormat(buffer, count, format, args));
}
PAL_EXPORT int _vscwprintf(const WCHAR* format, va_list args) { return countOnly(format, args); }
PAL_EXPORT int _scwprintf(const WCHAR* format, ...) { PAL_FORWARD_VARARGS(format, countOnly(format, args)); }
PAL_EXPORT int wvsprintfW(LPWSTR buffer, LPCWSTR format, va_list args) { return windowsFormat(buffer, format, args); }
PAL_EXPORT int wsprintfW(LPWSTR buffer, LPCWSTR format, ...)
{
    PAL_FORWARD_VARARGS(format, windowsFormat(buffer, format, args));
}

PAL_EXPORT int vsprintf_s(char* buffer, size_t sizeOfBuffer, const char* format, va_list args)
{
    return wholeFormat(buffer, sizeOfBuffer, format, args);
}
PAL_EXPORT int sprintf_s(char* buffer, size_t sizeOfBuffer, const char* format, ...)
{
    PAL_FORWARD_VARARGS(format, wholeFormat(buffer, sizeOfBuffer, format, args));
}
PAL_EXPORT int _vsnprintf_s(char* buffer, size_t sizeOfBuffer, size_t count, const char* format, va_list args)
{
    return safeFormat(buffer, sizeOfBuffer, count, format, args);
}
PAL_EXPORT int _snprintf_s(char* buffer, size_t sizeOfBuffer, size_t count, const char* format, ...)
{
    PAL_FORWARD_VARARGS(format, safeFormat(buffer, sizeOfBuffer, count, format, args));
}
PAL_EXPORT int _vsnprintf(char* buffer, size_t count, const char* format, va_list args)
{
    return legacyFormat(buffer, count, format, args);
}
PAL_EXPORT int _snprintf(char* buffer, size_t count, const char* format, ...)
{
    PAL_FORWARD_VARARGS(format, legacyFormat(buffer, count, format, args));
}
PAL_EXPORT int _vscprintf(const char* format, va_list args) { return countOnly(format, args); }
PAL_EXPORT int _scprintf(const char* format, ...) { PAL_FORWARD_VARARGS(format, countOnly(format, args)); }
PAL_EXPORT int wvsprintfA(LPSTR buffer, LPCSTR format, va_list args) { return windowsFormat(buffer, format, args); }
PAL_EXPORT int wsprintfA(LPSTR buffer, LPCSTR format, ...)
{
    PAL_FORWARD_VARARGS(format, windowsFormat(buffer, format, args));
}

PAL_EXPORT HRESULT StringCchVPrintfW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszFormat, va_list args)
{
    return strsafeFormat(pszDest, cchDest, pszFormat, args);
}
PAL_EXPORT HRESULT StringCchVPrintfA(LPSTR pszDest, size_t cchDest, LPCSTR pszFormat, va_list args)
{
    return strsafeFormat(pszDest, cchDest, pszFormat, args);
}
PAL_EXPORT HRESULT StringCchPrintfW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszFormat, ...)
{
    PAL_FORWARD_VARARGS(pszFormat, strsafeFormat(pszDest, cchDest, pszFormat, args));
}
PAL_EXPORT HRESULT StringCchPrintfA(LPSTR pszDest, size_t cchDest, LPCSTR pszFormat, ...)
{
    PAL_FORWARD_VARARGS(pszFormat, strsafeFormat(pszDest, cchDest, pszFormat, args));
}
PAL_EXPORT HRESULT StringCbPrintfW(LPWSTR pszDest, size_t cbDest, LPCWSTR pszFormat, ...)
{
    PAL_FORWARD_VARARGS(pszFormat, strsafeFormat(pszDest, cbDest / sizeof(WCHAR), pszFormat, args));
}
PAL_EXPORT HRESULT StringCbPrintfA(LPSTR pszDest, size_t cbDest, LPCSTR pszFormat, ...)
{
    PAL_FORWARD_VARARGS(pszFormat, strsafeFormat(pszDest, cbDest, pszFormat, args));
}

} // extern "C"
