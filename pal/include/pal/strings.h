// String functions with the Windows and Microsoft CRT results, for UTF-16 (WCHAR) and ANSI text.
//
// - lstrcmpW/lstrcmpiW compare ordinally (by UTF-16 unit after case folding for lstrcmpi) and
//   return -1, 0 or 1; equality is Windows', order is ordinal rather than linguistic. NULL sorts
//   first. lstrcmpA/lstrcmpiA compare the text decoded from the ANSI code page (932).
// - Case folding (towupper/towlower, the i-compares of wide text): ASCII, Latin-1, Latin
//   Extended-A, basic Greek and Cyrillic and the full-width Latin letters; other characters are
//   their own case. The CRT compares fold to lower case and return the difference of the folded
//   units; _stricmp/_strnicmp fold ASCII bytes only (the CRT's "C" locale).
// - The _s functions return the CRT's errno_t (EINVAL, ERANGE, STRUNCATE) and set errno; where the
//   CRT would call its invalid-parameter handler they return the error instead, with an empty
//   destination whenever there is one.
// - strsafe: truncating copies end in a terminator and return STRSAFE_E_INSUFFICIENT_BUFFER; a NULL
//   source is STRSAFE_E_INVALID_PARAMETER (with an empty destination for the copies).
#pragma once

#include <cerrno>
#include <cstddef>
// Before the WCHAR overloads below, so that std:: names keep only libc's functions.
#include <cwchar>
#include <cwctype>

#include "pal/errors.h"
#include "pal/types.h"

typedef int errno_t;

#define STRUNCATE 80
#define _TRUNCATE ((size_t)-1)
#define _NLSCMPERROR 2147483647
#ifndef _countof
#define _countof(array) (sizeof(array) / sizeof((array)[0]))
#endif

#define STRSAFE_MAX_CCH 2147483647
#define STRSAFE_E_INSUFFICIENT_BUFFER ((HRESULT)0x8007007A)
#define STRSAFE_E_INVALID_PARAMETER ((HRESULT)0x80070057)

extern "C" {
PAL_EXPORT int lstrlenW(LPCWSTR lpString);
PAL_EXPORT int lstrlenA(LPCSTR lpString);
// The copies and lstrcat return NULL when a pointer is NULL. lstrcpyn writes at most
// iMaxLength - 1 characters and a terminator; 0 writes nothing.
PAL_EXPORT LPWSTR lstrcpyW(LPWSTR lpString1, LPCWSTR lpString2);
PAL_EXPORT LPSTR lstrcpyA(LPSTR lpString1, LPCSTR lpString2);
PAL_EXPORT LPWSTR lstrcpynW(LPWSTR lpString1, LPCWSTR lpString2, int iMaxLength);
PAL_EXPORT LPSTR lstrcpynA(LPSTR lpString1, LPCSTR lpString2, int iMaxLength);
PAL_EXPORT LPWSTR lstrcatW(LPWSTR lpString1, LPCWSTR lpString2);
PAL_EXPORT LPSTR lstrcatA(LPSTR lpString1, LPCSTR lpString2);
PAL_EXPORT int lstrcmpW(LPCWSTR lpString1, LPCWSTR lpString2);
PAL_EXPORT int lstrcmpA(LPCSTR lpString1, LPCSTR lpString2);
PAL_EXPORT int lstrcmpiW(LPCWSTR lpString1, LPCWSTR lpString2);
PAL_EXPORT int lstrcmpiA(LPCSTR lpString1, LPCSTR lpString2);

// NULL gives _NLSCMPERROR with errno EINVAL.
PAL_EXPORT int _wcsicmp(const WCHAR* string1, const WCHAR* string2);
PAL_EXPORT int _wcsnicmp(const WCHAR* string1, const WCHAR* string2, size_t count);
PAL_EXPORT int _stricmp(const char* string1, const char* string2);
PAL_EXPORT int _strnicmp(const char* string1, const char* string2, size_t count);

PAL_EXPORT errno_t wcscpy_s(WCHAR* dest, size_t destSize, const WCHAR* src);
PAL_EXPORT errno_t wcsncpy_s(WCHAR* dest, size_t destSize, const WCHAR* src, size_t count);
PAL_EXPORT errno_t wcscat_s(WCHAR* dest, size_t destSize, const WCHAR* src);
PAL_EXPORT errno_t wcsncat_s(WCHAR* dest, size_t destSize, const WCHAR* src, size_t count);
PAL_EXPORT errno_t strcpy_s(char* dest, size_t destSize, const char* src);
PAL_EXPORT errno_t strncpy_s(char* dest, size_t destSize, const char* src, size_t count);
PAL_EXPORT errno_t strcat_s(char* dest, size_t destSize, const char* src);
PAL_EXPORT errno_t strncat_s(char* dest, size_t destSize, const char* src, size_t count);
// memcpy_s clears the destination when the source is NULL or too large; memmove_s leaves it.
PAL_EXPORT errno_t memcpy_s(void* dest, size_t destSize, const void* src, size_t count);
PAL_EXPORT errno_t memmove_s(void* dest, size_t destSize, const void* src, size_t count);

PAL_EXPORT HRESULT StringCchCopyW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszSrc);
PAL_EXPORT HRESULT StringCchCopyA(LPSTR pszDest, size_t cchDest, LPCSTR pszSrc);
PAL_EXPORT HRESULT StringCchCopyNW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszSrc, size_t cchToCopy);
PAL_EXPORT HRESULT StringCchCatW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszSrc);
PAL_EXPORT HRESULT StringCchCatA(LPSTR pszDest, size_t cchDest, LPCSTR pszSrc);
PAL_EXPORT HRESULT StringCchLengthW(LPCWSTR psz, size_t cchMax, size_t* pcchLength);
PAL_EXPORT HRESULT StringCchLengthA(LPCSTR psz, size_t cchMax, size_t* pcchLength);
PAL_EXPORT HRESULT StringCbCopyW(LPWSTR pszDest, size_t cbDest, LPCWSTR pszSrc);
PAL_EXPORT HRESULT StringCbCopyA(LPSTR pszDest, size_t cbDest, LPCSTR pszSrc);
PAL_EXPORT HRESULT StringCbCatW(LPWSTR pszDest, size_t cbDest, LPCWSTR pszSrc);
}

// The C wide-string functions for WCHAR (libc's take wchar_t, which is 32 bits here).
PAL_EXPORT size_t wcslen(const WCHAR* string);
PAL_EXPORT size_t wcsnlen(const WCHAR* string, size_t maxCount);
PAL_EXPORT int wcscmp(const WCHAR* string1, const WCHAR* string2);
PAL_EXPORT int wcsncmp(const WCHAR* string1, const WCHAR* string2, size_t count);
PAL_EXPORT WCHAR* wcscpy(WCHAR* dest, const WCHAR* src);
PAL_EXPORT WCHAR* wcscat(WCHAR* dest, const WCHAR* src);
PAL_EXPORT const WCHAR* wcschr(const WCHAR* string, WCHAR c);
PAL_EXPORT WCHAR* wcschr(WCHAR* string, WCHAR c);
PAL_EXPORT const WCHAR* wcsrchr(const WCHAR* string, WCHAR c);
PAL_EXPORT WCHAR* wcsrchr(WCHAR* string, WCHAR c);
PAL_EXPORT const WCHAR* wcsstr(const WCHAR* string, const WCHAR* search);
PAL_EXPORT WCHAR* wcsstr(WCHAR* string, const WCHAR* search);
// 32-bit results as on Windows: out of range gives LONG_MIN/LONG_MAX (ULONG_MAX) and errno ERANGE;
// wcstoul negates a leading '-' in 32 bits.
PAL_EXPORT LONG wcstol(const WCHAR* string, WCHAR** end, int base);
PAL_EXPORT ULONG wcstoul(const WCHAR* string, WCHAR** end, int base);
PAL_EXPORT LONG _wtol(const WCHAR* string);
PAL_EXPORT int _wtoi(const WCHAR* string);
PAL_EXPORT WCHAR towupper(WCHAR c);
PAL_EXPORT WCHAR towlower(WCHAR c);

// The CRT's array forms, which take the destination size from the array.
template <size_t N>
errno_t wcscpy_s(WCHAR (&dest)[N], const WCHAR* src) { return wcscpy_s(dest, N, src); }
template <size_t N>
errno_t wcsncpy_s(WCHAR (&dest)[N], const WCHAR* src, size_t count) { return wcsncpy_s(dest, N, src, count); }
template <size_t N>
errno_t wcscat_s(WCHAR (&dest)[N], const WCHAR* src) { return wcscat_s(dest, N, src); }
template <size_t N>
errno_t wcsncat_s(WCHAR (&dest)[N], const WCHAR* src, size_t count) { return wcsncat_s(dest, N, src, count); }
template <size_t N>
errno_t strcpy_s(char (&dest)[N], const char* src) { return strcpy_s(dest, N, src); }
template <size_t N>
errno_t strncpy_s(char (&dest)[N], const char* src, size_t count) { return strncpy_s(dest, N, src, count); }
template <size_t N>
errno_t strcat_s(char (&dest)[N], const char* src) { return strcat_s(dest, N, src); }
template <size_t N>
errno_t strncat_s(char (&dest)[N], const char* src, size_t count) { return strncat_s(dest, N, src, count); }
