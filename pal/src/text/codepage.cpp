// MultiByteToWideChar, WideCharToMultiByte, DBCS helpers and the CRT locale conversions.
#include "pal/codepage.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <strings.h>

#include "pal/errors.h"
#include "text/text_codec.h"

using pal::text::Charset;

struct PalLocale {
    Charset charset;
};

namespace {

constexpr DWORD multiByteFlags = MB_PRECOMPOSED | MB_COMPOSITE | MB_USEGLYPHCHARS | MB_ERR_INVALID_CHARS;
constexpr DWORD wideCharFlags = WC_COMPOSITECHECK | WC_DISCARDNS | WC_SEPCHARS | WC_DEFAULTCHAR | WC_NO_BEST_FIT_CHARS;

int fail(DWORD error)
{
    SetLastError(error);
    return 0;
}

bool multiByteFlagsValid(Charset charset, DWORD flags)
{
    if (charset == Charset::Utf8)
        return (flags & ~DWORD(MB_ERR_INVALID_CHARS)) == 0;
    bool bothForms = (flags & MB_PRECOMPOSED) && (flags & MB_COMPOSITE);
    return (flags & ~multiByteFlags) == 0 && !bothForms;
}

bool wideCharFlagsValid(Charset charset, DWORD flags)
{
    if (charset == Charset::Utf8)
        return (flags & ~DWORD(WC_ERR_INVALID_CHARS)) == 0;
    return (flags & ~wideCharFlags) == 0;
}

// The default character for 932/1252 output: lpDefaultChar's first character or '?'.
pal::text::Encoded defaultCharacter(Charset charset, LPCSTR lpDefaultChar)
{
    pal::text::Encoded result{{'?', 0, 0, 0}, 1, 1, true};
    if (lpDefaultChar && lpDefaultChar[0]) {
        auto first = reinterpret_cast<const unsigned char*>(lpDefaultChar);
        result.byteCount = pal::text::charLength(charset, first);
        std::memcpy(result.bytes, first, result.byteCount);
    }
    return result;
}

pal::text::Charset localeCharset(_locale_t locale)
{
    return locale ? locale->charset : Charset::Cp932;
}

// End of the character at p for a NUL-terminated string: at most 4 bytes, never past the NUL.
const unsigned char* boundedEnd(const unsigned char* p) { return p + strnlen(reinterpret_cast<const char*>(p), 4); }

// One character converted by the CRT conversions: its output units and the input units it took.
template <class Unit>
struct Piece {
    template <class Source>
    Piece(const Source* source, int count, int consumed, bool valid) : count(count), consumed(consumed), valid(valid)
    {
        std::copy_n(source, count, units);
    }
    Unit units[4];
    int count;
    int consumed;
    bool valid;
};

// _wcstombs_l and _mbstowcs_l: the text up to its terminator, or the whole characters that fit in
// count (without a terminator then); the length without the terminator, or -1 with errno.
template <class Out, class In, class Convert>
size_t convertCounted(Out* out, const In* in, size_t count, Convert convert)
{
    if (!in) {
        errno = EINVAL;
        return static_cast<size_t>(-1);
    }
    size_t written = 0;
    for (const In* p = in; !out || written < count;) {
        if (*p == 0) {
            if (out)
                out[written] = 0;
            break;
        }
        const auto piece = convert(p);
        if (!piece.valid) {
            errno = EILSEQ;
            return static_cast<size_t>(-1);
        }
        if (out) {
            if (written + piece.count > count)
                break;
            std::copy_n(piece.units, piece.count, out + written);
        }
        written += piece.count;
        p += piece.consumed;
    }
    return written;
}

} // namespace

extern "C" {

PAL_EXPORT int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                                   LPWSTR lpWideCharStr, int cchWideChar)
{
    auto charset = pal::text::charsetOf(CodePage);
    if (!charset || !lpMultiByteStr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
        (!lpWideCharStr && cchWideChar != 0) ||
        static_cast<const void*>(lpMultiByteStr) == static_cast<const void*>(lpWideCharStr))
        return fail(ERROR_INVALID_PARAMETER);
    if (!multiByteFlagsValid(*charset, dwFlags))
        return fail(ERROR_INVALID_FLAGS);

    auto p = reinterpret_cast<const unsigned char*>(lpMultiByteStr);
    size_t length = cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
    const unsigned char* end = p + length;
    int written = 0;
    while (p < end) {
        auto decoded = pal::text::decodeChar(*charset, p, end);
        if (!decoded.valid && (dwFlags & MB_ERR_INVALID_CHARS))
            return fail(ERROR_NO_UNICODE_TRANSLATION);
        for (int i = 0; i < decoded.unitCount; ++i, ++written) {
            if (cchWideChar == 0)
                continue;
            if (written >= cchWideChar)
                return fail(ERROR_INSUFFICIENT_BUFFER);
            lpWideCharStr[written] = decoded.units[i];
        }
        p += decoded.consumed;
    }
    return written;
}

PAL_EXPORT int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                                   LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                                   LPBOOL lpUsedDefaultChar)
{
    auto charset = pal::text::charsetOf(CodePage);
    if (!charset || !lpWideCharStr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
        (!lpMultiByteStr && cbMultiByte != 0) ||
        static_cast<const void*>(lpMultiByteStr) == static_cast<const void*>(lpWideCharStr) ||
        (*charset == Charset::Utf8 && (lpDefaultChar || lpUsedDefaultChar)))
        return fail(ERROR_INVALID_PARAMETER);
    if (!wideCharFlagsValid(*charset, dwFlags))
        return fail(ERROR_INVALID_FLAGS);

    size_t length = cchWideChar == -1 ? std::char_traits<char16_t>::length(lpWideCharStr) + 1
                                      : static_cast<size_t>(cchWideChar);
    const char16_t* p = lpWideCharStr;
    const char16_t* end = p + length;
    bool bestFit = !(dwFlags & WC_NO_BEST_FIT_CHARS);
    if (lpUsedDefaultChar)
        *lpUsedDefaultChar = FALSE;
    int written = 0;
    while (p < end) {
        auto encoded = pal::text::encodeChar(*charset, p, end, bestFit);
        if (!encoded.mapped && (dwFlags & WC_ERR_INVALID_CHARS))
            return fail(ERROR_NO_UNICODE_TRANSLATION);
        if (encoded.byteCount == 0) {
            encoded = defaultCharacter(*charset, lpDefaultChar);
            if (lpUsedDefaultChar)
                *lpUsedDefaultChar = TRUE;
        }
        if (cbMultiByte != 0) {
            if (written + encoded.byteCount > cbMultiByte)
                return fail(ERROR_INSUFFICIENT_BUFFER);
            std::memcpy(lpMultiByteStr + written, encoded.bytes, encoded.byteCount);
        }
        written += encoded.byteCount;
        p += encoded.consumed;
    }
    return written;
}

PAL_EXPORT BOOL IsDBCSLeadByteEx(UINT CodePage, BYTE TestChar)
{
    auto charset = pal::text::charsetOf(CodePage);
    unsigned char probe[2] = {TestChar, 'A'};
    return charset && pal::text::charLength(*charset, probe) == 2;
}

PAL_EXPORT BOOL IsDBCSLeadByte(BYTE TestChar) { return IsDBCSLeadByteEx(CP_ACP, TestChar); }

PAL_EXPORT LPSTR CharNextExA(WORD CodePage, LPCSTR lpCurrentChar, DWORD)
{
    auto p = reinterpret_cast<const unsigned char*>(lpCurrentChar);
    if (!p || *p == 0)
        return const_cast<LPSTR>(lpCurrentChar);
    auto charset = pal::text::charsetOf(CodePage);
    int step = charset ? pal::text::charLength(*charset, p) : 1;
    return const_cast<LPSTR>(lpCurrentChar + step);
}

PAL_EXPORT LPSTR CharNextA(LPCSTR lpsz) { return CharNextExA(CP_ACP, lpsz, 0); }

PAL_EXPORT UINT GetACP(void) { return pal::text::ansiCodePage; }

PAL_EXPORT UINT GetOEMCP(void) { return pal::text::ansiCodePage; }

PAL_EXPORT _locale_t _create_locale(int category, const char* locale)
{
    if ((category != LC_ALL && category != LC_CTYPE) || !locale)
        return nullptr;
    static const struct {
        const char* name;
        Charset charset;
    } names[] = {
        {"ja-JP", Charset::Cp932}, {"ja_JP", Charset::Cp932}, {"Japanese_Japan.932", Charset::Cp932},
        {".932", Charset::Cp932},  {".1252", Charset::Cp1252}, {".UTF8", Charset::Utf8},
        {".65001", Charset::Utf8},
    };
    for (const auto& entry : names)
        if (strcasecmp(entry.name, locale) == 0)
            return new PalLocale{entry.charset};
    return nullptr;
}

PAL_EXPORT void _free_locale(_locale_t locale) { delete locale; }

PAL_EXPORT size_t _wcstombs_l(char* mbstr, const WCHAR* wcstr, size_t count, _locale_t locale)
{
    const Charset charset = localeCharset(locale);
    return convertCounted(mbstr, wcstr, count, [charset](const WCHAR* p) {
        auto encoded = pal::text::encodeChar(charset, p, p + (p[1] != 0 ? 2 : 1), false);
        return Piece<char>(encoded.bytes, encoded.byteCount, encoded.consumed, encoded.mapped);
    });
}

PAL_EXPORT size_t _mbstowcs_l(WCHAR* wcstr, const char* mbstr, size_t count, _locale_t locale)
{
    const Charset charset = localeCharset(locale);
    return convertCounted(wcstr, mbstr, count, [charset](const char* text) {
        auto p = reinterpret_cast<const unsigned char*>(text);
        auto decoded = pal::text::decodeChar(charset, p, boundedEnd(p));
        return Piece<WCHAR>(decoded.units, decoded.unitCount, decoded.consumed, decoded.valid);
    });
}

} // extern "C"
