// Code-page conversions with the Windows results. The ANSI code page is 932 (Shift_JIS).
//
// Code pages: 932 (Windows' CP932: NEC and IBM extensions, user-defined area F040-F9FC as
// U+E000-U+E757, half-width katakana A1-DF), CP_UTF8 and 1252; CP_ACP, CP_OEMCP and CP_THREAD_ACP
// are 932. Other code pages fail with ERROR_INVALID_PARAMETER.
//
// Choices where Windows leaves room:
// - 932 to UTF-16: an undefined pair, a lead byte before a byte that cannot trail it and a lead
//   byte at the end of the input become U+30FB (the code page's default character); a lead byte
//   before a non-trail byte consumes the lead byte only, so a NUL or a line end is never swallowed.
// - UTF-16 to 932: where several codes decode to one character, the code Windows writes (JIS X 0208
//   first, then NEC row 13, then the IBM extensions before the NEC-selected IBM extensions). Best
//   fit covers U+00A5 -> 0x5C and U+203E -> 0x7E only; WC_NO_BEST_FIT_CHARS turns it off. Each unit
//   of a surrogate pair is one unmappable character.
// - UTF-8: invalid input becomes U+FFFD per maximal invalid subsequence; lone surrogates become
//   U+FFFD (EF BF BD). MB_ERR_INVALID_CHARS / WC_ERR_INVALID_CHARS turn both into error 1113.
// - A too small output buffer is filled as far as it goes before the call fails with 122.
#pragma once

#include <clocale>

#include "pal/types.h"

#define CP_ACP 0
#define CP_OEMCP 1
#define CP_THREAD_ACP 3
#define CP_UTF8 65001
#define MB_PRECOMPOSED 0x00000001
#define MB_COMPOSITE 0x00000002
#define MB_USEGLYPHCHARS 0x00000004
#define MB_ERR_INVALID_CHARS 0x00000008
#define WC_DISCARDNS 0x00000010
#define WC_SEPCHARS 0x00000020
#define WC_DEFAULTCHAR 0x00000040
#define WC_ERR_INVALID_CHARS 0x00000080
#define WC_COMPOSITECHECK 0x00000200
#define WC_NO_BEST_FIT_CHARS 0x00000400

// CRT locale object of _create_locale; only its code page matters here.
struct PalLocale;
typedef PalLocale* _locale_t;

extern "C" {
PAL_EXPORT int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                                   LPWSTR lpWideCharStr, int cchWideChar);
PAL_EXPORT int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                                   LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                                   LPBOOL lpUsedDefaultChar);
// Next character of a 932 string (a lead byte and its trail byte are one); stays on the NUL.
// Code pages other than 932 (and CP_ACP) step one byte.
PAL_EXPORT LPSTR CharNextExA(WORD CodePage, LPCSTR lpCurrentChar, DWORD dwFlags);
PAL_EXPORT LPSTR CharNextA(LPCSTR lpsz);
PAL_EXPORT BOOL IsDBCSLeadByteEx(UINT CodePage, BYTE TestChar);
PAL_EXPORT BOOL IsDBCSLeadByte(BYTE TestChar);
PAL_EXPORT UINT GetACP(void);
PAL_EXPORT UINT GetOEMCP(void);

// Locales of the CRT: "ja-JP", "ja_JP", "Japanese_Japan.932" and ".932" mean code page 932,
// ".1252" 1252, ".UTF8" and ".65001" UTF-8 (names compare case-insensitively). Category LC_ALL or
// LC_CTYPE; anything else gives NULL.
PAL_EXPORT _locale_t _create_locale(int category, const char* locale);
PAL_EXPORT void _free_locale(_locale_t locale);
// Converts up to count bytes (NULL mbstr: counts all, count ignored) and a terminator when it fits.
// Returns the bytes written without the terminator; a character without a code (best fit off)
// gives (size_t)-1 with errno EILSEQ. A character that does not fit whole is not started.
// NULL locale means the ANSI code page.
PAL_EXPORT size_t _wcstombs_l(char* mbstr, const WCHAR* wcstr, size_t count, _locale_t locale);
// Converts up to count wide characters (NULL wcstr: counts all); invalid bytes give (size_t)-1 and
// errno EILSEQ. Returns the characters written without the terminator.
PAL_EXPORT size_t _mbstowcs_l(WCHAR* wcstr, const char* mbstr, size_t count, _locale_t locale);
}
