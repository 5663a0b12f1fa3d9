// String functions: lstr*, the CRT's bounded (_s) forms and compares, strsafe, C wide functions for WCHAR.
#include "pal/strings.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>

#include "text/text_codec.h"

namespace {

template <class Char>
size_t boundedLength(const Char* text, size_t maxCount)
{
    size_t length = 0;
    while (length < maxCount && text[length])
        ++length;
    return length;
}

template <class Char>
size_t length(const Char* text) { return boundedLength(text, SIZE_MAX); }

template <class Char>
void copyTerminated(Char* dest, const Char* src, size_t count)
{
    std::copy(src, src + count, dest);
    dest[count] = 0;
}

// Case folding: ranges of upper-case letters and the distance to their lower case. In an
// alternating range only every second code (from the first) is upper case.
struct CaseRange {
    char16_t first;
    char16_t last;
    int delta;
    bool alternating;
};

constexpr CaseRange caseRanges[] = {
    {0x0041, 0x005A, 32, false},   {0x00C0, 0x00D6, 32, false}, {0x00D8, 0x00DE, 32, false},
    {0x0100, 0x012E, 1, true},     {0x0132, 0x0136, 1, true},   {0x0139, 0x0147, 1, true},
    {0x014A, 0x0176, 1, true},     {0x0178, 0x0178, -121, false}, {0x0179, 0x017D, 1, true},
    {0x0391, 0x03A1, 32, false},   {0x03A3, 0x03A9, 32, false}, {0x0400, 0x040F, 80, false},
    {0x0410, 0x042F, 32, false},   {0xFF21, 0xFF3A, 32, false},
};

bool isUpperIn(const CaseRange& range, int c)
{
    return c >= range.first && c <= range.last && (!range.alternating || (c - range.first) % 2 == 0);
}

int foldAscii(int c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }

int foldWide(int c) { return towlower(static_cast<WCHAR>(c)); }

int same(int c) { return c; }

// Reads a NUL-terminated string one UTF-16 unit (or byte) at a time; stays on the terminator.
template <class Char>
struct UnitReader {
    const Char* p;
    int next()
    {
        int c = static_cast<std::make_unsigned_t<Char>>(*p);
        if (c)
            ++p;
        return c;
    }
};

// Reads ANSI (CP932) text as UTF-16 units.
struct AnsiReader {
    explicit AnsiReader(const char* text) : p(reinterpret_cast<const unsigned char*>(text)) {}
    const unsigned char* p;
    int next()
    {
        if (*p == 0)
            return 0;
        auto end = p + pal::text::charLength(pal::text::Charset::Cp932, p);
        auto decoded = pal::text::decodeChar(pal::text::Charset::Cp932, p, end);
        p += decoded.consumed;
        return decoded.units[0];
    }
};

template <class ReaderA, class ReaderB, class Fold>
int difference(ReaderA a, ReaderB b, size_t count, Fold fold)
{
    for (; count; --count) {
        int ca = fold(a.next());
        int cb = fold(b.next());
        if (ca != cb || ca == 0)
            return ca - cb;
    }
    return 0;
}

int sign(int value) { return (value > 0) - (value < 0); }

// lstrcmp: NULL before any string, else -1, 0 or 1 after reading both texts with Reader.
template <class Reader, class Char, class Fold>
int lstrCompare(const Char* a, const Char* b, Fold fold)
{
    if (!a || !b)
        return (a != nullptr) - (b != nullptr);
    return sign(difference(Reader{a}, Reader{b}, SIZE_MAX, fold));
}

template <class Char, class Fold>
int crtCompare(const Char* a, const Char* b, size_t count, Fold fold)
{
    if (!a || !b) {
        errno = EINVAL;
        return _NLSCMPERROR;
    }
    return difference(UnitReader<Char>{a}, UnitReader<Char>{b}, count, fold);
}

errno_t failWith(errno_t error)
{
    errno = error;
    return error;
}

template <class Char>
errno_t clearAndFail(Char* dest, errno_t error)
{
    dest[0] = 0;
    return failWith(error);
}

// The _s copy: at most limit characters of src; truncate says what to do when they do not fit.
template <class Char>
errno_t copySafe(Char* dest, size_t destSize, const Char* src, size_t limit, bool truncate)
{
    if (!dest || destSize == 0)
        return failWith(EINVAL);
    if (!src)
        return clearAndFail(dest, EINVAL);
    size_t count = boundedLength(src, std::min(limit, destSize));
    if (count < destSize) {
        copyTerminated(dest, src, count);
        return 0;
    }
    if (!truncate)
        return clearAndFail(dest, ERANGE);
    copyTerminated(dest, src, destSize - 1);
    return STRUNCATE;
}

template <class Char>
errno_t catSafe(Char* dest, size_t destSize, const Char* src, size_t limit, bool truncate)
{
    if (!dest || destSize == 0)
        return failWith(EINVAL);
    if (!src && limit != 0)
        return clearAndFail(dest, EINVAL);
    size_t used = boundedLength(dest, destSize);
    if (used == destSize)
        return clearAndFail(dest, EINVAL);
    if (limit == 0)
        return 0;
    errno_t result = copySafe(dest + used, destSize - used, src, limit, truncate);
    if (result == ERANGE)
        dest[0] = 0;
    return result;
}

template <class Char>
errno_t copyCounted(Char* dest, size_t destSize, const Char* src, size_t count)
{
    if (count == 0 && !dest && destSize == 0)
        return 0;
    if (count == 0) {
        if (!dest || destSize == 0)
            return failWith(EINVAL);
        dest[0] = 0;
        return 0;
    }
    return copySafe(dest, destSize, src, count, count == _TRUNCATE);
}

template <class Char>
errno_t catCounted(Char* dest, size_t destSize, const Char* src, size_t count)
{
    if (count == 0 && !dest && destSize == 0)
        return 0;
    return catSafe(dest, destSize, src, count, count == _TRUNCATE);
}

// strsafe copy of at most maxCopy characters into cchDest, truncating with a terminator.
template <class Char>
HRESULT strsafeCopy(Char* dest, size_t cchDest, const Char* src, size_t maxCopy)
{
    if (!dest || cchDest == 0)
        return STRSAFE_E_INVALID_PARAMETER;
    if (cchDest > STRSAFE_MAX_CCH || maxCopy > STRSAFE_MAX_CCH || !src) {
        dest[0] = 0;
        return STRSAFE_E_INVALID_PARAMETER;
    }
    size_t count = boundedLength(src, std::min(maxCopy, cchDest));
    if (count < cchDest) {
        copyTerminated(dest, src, count);
        return S_OK;
    }
    copyTerminated(dest, src, cchDest - 1);
    return STRSAFE_E_INSUFFICIENT_BUFFER;
}

template <class Char>
HRESULT strsafeCat(Char* dest, size_t cchDest, const Char* src)
{
    if (!dest || cchDest == 0 || cchDest > STRSAFE_MAX_CCH || !src)
        return STRSAFE_E_INVALID_PARAMETER;
    size_t used = boundedLength(dest, cchDest);
    if (used == cchDest)
        return STRSAFE_E_INVALID_PARAMETER;
    return strsafeCopy(dest + used, cchDest - used, src, STRSAFE_MAX_CCH);
}

template <class Char>
HRESULT strsafeLength(const Char* text, size_t cchMax, size_t* result)
{
    size_t found = text && cchMax <= STRSAFE_MAX_CCH ? boundedLength(text, cchMax) : cchMax;
    bool valid = text && cchMax <= STRSAFE_MAX_CCH && found < cchMax;
    if (result)
        *result = valid ? found : 0;
    return valid ? S_OK : STRSAFE_E_INVALID_PARAMETER;
}

template <class Char>
Char* lstrCopy(Char* dest, const Char* src)
{
    if (!dest || !src)
        return nullptr;
    copyTerminated(dest, src, length(src));
    return dest;
}

template <class Char>
Char* lstrCopyN(Char* dest, const Char* src, int maxLength)
{
    if (!dest || !src)
        return nullptr;
    if (maxLength == 0)
        return dest;
    // As on Windows, a negative length is taken as unsigned: the copy is unbounded.
    copyTerminated(dest, src, boundedLength(src, static_cast<UINT>(maxLength) - 1));
    return dest;
}

template <class Char>
Char* lstrCat(Char* dest, const Char* src)
{
    if (!dest || !src)
        return nullptr;
    lstrCopy(dest + length(dest), src);
    return dest;
}

template <class Char>
Char* findChar(const Char* text, Char c)
{
    for (;; ++text) {
        if (*text == c)
            return const_cast<Char*>(text);
        if (*text == 0)
            return nullptr;
    }
}

template <class Char>
Char* findLastChar(const Char* text, Char c)
{
    const Char* found = nullptr;
    for (;; ++text) {
        if (*text == c)
            found = text;
        if (*text == 0)
            return const_cast<Char*>(found);
    }
}

WCHAR* findString(const WCHAR* text, const WCHAR* search)
{
    size_t searchLength = length(search);
    for (; *text; ++text)
        if (std::char_traits<char16_t>::compare(text, search, searchLength) == 0)
            return const_cast<WCHAR*>(text);
    return searchLength == 0 ? const_cast<WCHAR*>(text) : nullptr;
}

int digitValue(WCHAR c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 10;
    return 99;
}

bool isSpace(WCHAR c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// wcstol/wcstoul's parse: the magnitude (saturated above 32 bits), its sign and where it ends.
struct ParsedNumber {
    uint64_t magnitude = 0;
    bool negative = false;
    bool overflow = false;
    const WCHAR* end;
};

ParsedNumber parseNumber(const WCHAR* text, int base)
{
    ParsedNumber result;
    result.end = text;
    if (base < 0 || base == 1 || base > 36)
        return result;
    const WCHAR* p = text;
    while (isSpace(*p))
        ++p;
    if (*p == '-' || *p == '+')
        result.negative = *p++ == '-';
    bool hexPrefix = p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && digitValue(p[2]) < 16;
    if ((base == 0 || base == 16) && hexPrefix) {
        p += 2;
        base = 16;
    } else if (base == 0) {
        base = *p == '0' ? 8 : 10;
    }
    const WCHAR* digits = p;
    for (; digitValue(*p) < base; ++p) {
        result.magnitude = result.magnitude * base + digitValue(*p);
        if (result.magnitude > UINT32_MAX) {
            result.overflow = true;
            result.magnitude = uint64_t(UINT32_MAX) + 1;
        }
    }
    if (p != digits)
        result.end = p;
    return result;
}

void storeEnd(WCHAR** end, const ParsedNumber& parsed)
{
    if (end)
        *end = const_cast<WCHAR*>(parsed.end);
}

} // namespace

extern "C" {

PAL_EXPORT int lstrlenW(LPCWSTR lpString) { return lpString ? static_cast<int>(length(lpString)) : 0; }
PAL_EXPORT int lstrlenA(LPCSTR lpString) { return lpString ? static_cast<int>(length(lpString)) : 0; }
PAL_EXPORT LPWSTR lstrcpyW(LPWSTR lpString1, LPCWSTR lpString2) { return lstrCopy(lpString1, lpString2); }
PAL_EXPORT LPSTR lstrcpyA(LPSTR lpString1, LPCSTR lpString2) { return lstrCopy(lpString1, lpString2); }
PAL_EXPORT LPWSTR lstrcpynW(LPWSTR lpString1, LPCWSTR lpString2, int iMaxLength)
{
    return lstrCopyN(lpString1, lpString2, iMaxLength);
}
PAL_EXPORT LPSTR lstrcpynA(LPSTR lpString1, LPCSTR lpString2, int iMaxLength)
{
    return lstrCopyN(lpString1, lpString2, iMaxLength);
}
PAL_EXPORT LPWSTR lstrcatW(LPWSTR lpString1, LPCWSTR lpString2) { return lstrCat(lpString1, lpString2); }
PAL_EXPORT LPSTR lstrcatA(LPSTR lpString1, LPCSTR lpString2) { return lstrCat(lpString1, lpString2); }

PAL_EXPORT int lstrcmpW(LPCWSTR lpString1, LPCWSTR lpString2)
{
    return lstrCompare<UnitReader<WCHAR>>(lpString1, lpString2, same);
}
PAL_EXPORT int lstrcmpiW(LPCWSTR lpString1, LPCWSTR lpString2)
{
    return lstrCompare<UnitReader<WCHAR>>(lpString1, lpString2, foldWide);
}
PAL_EXPORT int lstrcmpA(LPCSTR lpString1, LPCSTR lpString2)
{
    return lstrCompare<AnsiReader>(lpString1, lpString2, same);
}
PAL_EXPORT int lstrcmpiA(LPCSTR lpString1, LPCSTR lpString2)
{
    return lstrCompare<AnsiReader>(lpString1, lpString2, foldWide);
}

PAL_EXPORT int _wcsicmp(const WCHAR* string1, const WCHAR* string2)
{
    return crtCompare(string1, string2, SIZE_MAX, foldWide);
}
PAL_EXPORT int _wcsnicmp(const WCHAR* string1, const WCHAR* string2, size_t count)
{
    return count ? crtCompare(string1, string2, count, foldWide) : 0;
}
PAL_EXPORT int _stricmp(const char* string1, const char* string2)
{
    return crtCompare(string1, string2, SIZE_MAX, foldAscii);
}
PAL_EXPORT int _strnicmp(const char* string1, const char* string2, size_t count)
{
    return count ? crtCompare(string1, string2, count, foldAscii) : 0;
}

PAL_EXPORT errno_t wcscpy_s(WCHAR* dest, size_t destSize, const WCHAR* src)
{
    return copySafe(dest, destSize, src, SIZE_MAX, false);
}
PAL_EXPORT errno_t wcsncpy_s(WCHAR* dest, size_t destSize, const WCHAR* src, size_t count)
{
    return copyCounted(dest, destSize, src, count);
}
PAL_EXPORT errno_t wcscat_s(WCHAR* dest, size_t destSize, const WCHAR* src)
{
    return catSafe(dest, destSize, src, SIZE_MAX, false);
}
PAL_EXPORT errno_t wcsncat_s(WCHAR* dest, size_t destSize, const WCHAR* src, size_t count)
{
    return catCounted(dest, destSize, src, count);
}
PAL_EXPORT errno_t strcpy_s(char* dest, size_t destSize, const char* src)
{
    return copySafe(dest, destSize, src, SIZE_MAX, false);
}
PAL_EXPORT errno_t strncpy_s(char* dest, size_t destSize, const char* src, size_t count)
{
    return copyCounted(dest, destSize, src, count);
}
PAL_EXPORT errno_t strcat_s(char* dest, size_t destSize, const char* src)
{
    return catSafe(dest, destSize, src, SIZE_MAX, false);
}
PAL_EXPORT errno_t strncat_s(char* dest, size_t destSize, const char* src, size_t count)
{
    return catCounted(dest, destSize, src, count);
}

PAL_EXPORT errno_t memcpy_s(void* dest, size_t destSize, const void* src, size_t count)
{
    if (count == 0)
        return 0;
    if (!dest)
        return failWith(EINVAL);
    if (!src || destSize < count) {
        std::memset(dest, 0, destSize);
        return failWith(src ? ERANGE : EINVAL);
    }
    std::memcpy(dest, src, count);
    return 0;
}

PAL_EXPORT errno_t memmove_s(void* dest, size_t destSize, const void* src, size_t count)
{
    if (count == 0)
        return 0;
    if (!dest || !src)
        return failWith(EINVAL);
    if (destSize < count)
        return failWith(ERANGE);
    std::memmove(dest, src, count);
    return 0;
}

PAL_EXPORT HRESULT StringCchCopyW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszSrc)
{
    return strsafeCopy(pszDest, cchDest, pszSrc, STRSAFE_MAX_CCH);
}
PAL_EXPORT HRESULT StringCchCopyA(LPSTR pszDest, size_t cchDest, LPCSTR pszSrc)
{
    return strsafeCopy(pszDest, cchDest, pszSrc, STRSAFE_MAX_CCH);
}
PAL_EXPORT HRESULT StringCchCopyNW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszSrc, size_t cchToCopy)
{
    return strsafeCopy(pszDest, cchDest, pszSrc, cchToCopy);
}
PAL_EXPORT HRESULT StringCchCatW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszSrc)
{
    return strsafeCat(pszDest, cchDest, pszSrc);
}
PAL_EXPORT HRESULT StringCchCatA(LPSTR pszDest, size_t cchDest, LPCSTR pszSrc)
{
    return strsafeCat(pszDest, cchDest, pszSrc);
}
PAL_EXPORT HRESULT StringCchLengthW(LPCWSTR psz, size_t cchMax, size_t* pcchLength)
{
    return strsafeLength(psz, cchMax, pcchLength);
}
PAL_EXPORT HRESULT StringCchLengthA(LPCSTR psz, size_t cchMax, size_t* pcchLength)
{
    return strsafeLength(psz, cchMax, pcchLength);
}
PAL_EXPORT HRESULT StringCbCopyW(LPWSTR pszDest, size_t cbDest, LPCWSTR pszSrc)
{
    return StringCchCopyW(pszDest, cbDest / sizeof(WCHAR), pszSrc);
}
PAL_EXPORT HRESULT StringCbCopyA(LPSTR pszDest, size_t cbDest, LPCSTR pszSrc)
{
    return StringCchCopyA(pszDest, cbDest, pszSrc);
}
PAL_EXPORT HRESULT StringCbCatW(LPWSTR pszDest, size_t cbDest, LPCWSTR pszSrc)
{
    return StringCchCatW(pszDest, cbDest / sizeof(WCHAR), pszSrc);
}

} // extern "C"

PAL_EXPORT size_t wcslen(const WCHAR* string) { return length(string); }
PAL_EXPORT size_t wcsnlen(const WCHAR* string, size_t maxCount) { return boundedLength(string, maxCount); }
PAL_EXPORT int wcscmp(const WCHAR* string1, const WCHAR* string2)
{
    return difference(UnitReader<WCHAR>{string1}, UnitReader<WCHAR>{string2}, SIZE_MAX, same);
}
PAL_EXPORT int wcsncmp(const WCHAR* string1, const WCHAR* string2, size_t count)
{
    return difference(UnitReader<WCHAR>{string1}, UnitReader<WCHAR>{string2}, count, same);
}
PAL_EXPORT WCHAR* wcscpy(WCHAR* dest, const WCHAR* src) { return lstrCopy(dest, src); }
PAL_EXPORT WCHAR* wcscat(WCHAR* dest, const WCHAR* src) { return lstrCat(dest, src); }
PAL_EXPORT const WCHAR* wcschr(const WCHAR* string, WCHAR c) { return findChar(string, c); }
PAL_EXPORT WCHAR* wcschr(WCHAR* string, WCHAR c) { return findChar<WCHAR>(string, c); }
PAL_EXPORT const WCHAR* wcsrchr(const WCHAR* string, WCHAR c) { return findLastChar(string, c); }
PAL_EXPORT WCHAR* wcsrchr(WCHAR* string, WCHAR c) { return findLastChar<WCHAR>(string, c); }
PAL_EXPORT const WCHAR* wcsstr(const WCHAR* string, const WCHAR* search) { return findString(string, search); }
PAL_EXPORT WCHAR* wcsstr(WCHAR* string, const WCHAR* search) { return findString(string, search); }

PAL_EXPORT LONG wcstol(const WCHAR* string, WCHAR** end, int base)
{
    ParsedNumber parsed = parseNumber(string, base);
    storeEnd(end, parsed);
    uint64_t limit = parsed.negative ? uint64_t(INT32_MAX) + 1 : INT32_MAX;
    if (parsed.overflow || parsed.magnitude > limit) {
        errno = ERANGE;
        return parsed.negative ? INT32_MIN : INT32_MAX;
    }
    return static_cast<LONG>(parsed.negative ? -static_cast<int64_t>(parsed.magnitude) : parsed.magnitude);
}

PAL_EXPORT ULONG wcstoul(const WCHAR* string, WCHAR** end, int base)
{
    ParsedNumber parsed = parseNumber(string, base);
    storeEnd(end, parsed);
    if (parsed.overflow) {
        errno = ERANGE;
        return UINT32_MAX;
    }
    auto value = static_cast<ULONG>(parsed.magnitude);
    return parsed.negative ? 0u - value : value;
}

PAL_EXPORT LONG _wtol(const WCHAR* string) { return wcstol(string, nullptr, 10); }
PAL_EXPORT int _wtoi(const WCHAR* string) { return wcstol(string, nullptr, 10); }

PAL_EXPORT WCHAR towlower(WCHAR c)
{
    for (const CaseRange& range : caseRanges)
        if (isUpperIn(range, c))
            return static_cast<WCHAR>(c + range.delta);
    return c;
}

PAL_EXPORT WCHAR towupper(WCHAR c)
{
    for (const CaseRange& range : caseRanges)
        if (isUpperIn(range, c - range.delta))
            return static_cast<WCHAR>(c - range.delta);
    return c;
}
