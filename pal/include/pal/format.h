// The printf family with the Microsoft rules; one engine writes narrow (char) and wide (WCHAR) output.
//
// Conversions: d i u o x X c C s S p e E f F g G and %%. Flags - + space # 0, width and precision
// as numbers or '*' (a negative width means '-', a negative precision none).
// Sizes: none = int (32 bits), hh = char, h = 16 bits, l = 32 bits (LONG/DWORD), ll, I64 and j =
// 64 bits, I32 = 32 bits, I, z and t = pointer-sized, L (floating point) = long double.
// Text widths: in a wide format %s and %c are wide, in a narrow format narrow; %S and %C are the
// other width; %hs/%hc are always narrow, %ls/%lc and %ws/%wc always wide. Text of the other
// width is converted through the ANSI code page (932); a character without a code is written as
// WideCharToMultiByte writes it (best fit, else '?'). A string's precision counts the characters
// written (bytes in narrow output), and a double-byte character is never cut.
// Microsoft details kept: a NULL string prints "(null)"; %p prints the pointer as 16 upper-case hex
// digits; the 0 flag pads strings and characters with zeros too.
// Choices: %n, %a, an unknown conversion and a format that ends inside a conversion are bad
// formats: the call fails (-1, errno EINVAL; the _s and strsafe forms leave an empty string,
// strsafe returns STRSAFE_E_INVALID_PARAMETER). Floating-point digits come from the C library, so
// infinities and NaNs read "inf", "nan", "-nan".
//
// Results, where the Microsoft CRT would call its invalid-parameter handler the call here returns
// -1 with errno EINVAL or ERANGE instead:
// - swprintf_s/sprintf_s (and the v forms): the length without the terminator; output that does
//   not fit gives -1, ERANGE and an empty string.
// - _snwprintf_s/_snprintf_s (count): at most count characters. count _TRUNCATE: as much as fits,
//   -1 when cut. count below the buffer size: cut at count, terminated, -1. Otherwise output that
//   does not fit gives -1, ERANGE and an empty string. NULL buffer with size 0 and count 0 gives 0.
// - _snwprintf/_snprintf: the length when it fits, with a terminator only when there is room for
//   it; -1 and no terminator when it does not fit. NULL buffer with count 0 gives the length.
// - wsprintfW/wsprintfA: at most 1023 characters and a terminator (the Windows limit); the number
//   written.
// - _scwprintf/_scprintf: the length the output would have.
#pragma once

#include <cstdarg>

#include "pal/strings.h"

extern "C" {
PAL_EXPORT int swprintf_s(WCHAR* buffer, size_t sizeOfBuffer, const WCHAR* format, ...);
PAL_EXPORT int vswprintf_s(WCHAR* buffer, size_t sizeOfBuffer, const WCHAR* format, va_list args);
PAL_EXPORT int _snwprintf_s(WCHAR* buffer, size_t sizeOfBuffer, size_t count, const WCHAR* format, ...);
PAL_EXPORT int _vsnwprintf_s(WCHAR* buffer, size_t sizeOfBuffer, size_t count, const WCHAR* format,
                             va_list args);
PAL_EXPORT int _snwprintf(WCHAR* buffer, size_t count, const WCHAR* format, ...);
PAL_EXPORT int _vsnwprintf(WCHAR* buffer, size_t count, const WCHAR* format, va_list args);
PAL_EXPORT int _scwprintf(const WCHAR* format, ...);
PAL_EXPORT int _vscwprintf(const WCHAR* format, va_list args);
PAL_EXPORT int wsprintfW(LPWSTR buffer, LPCWSTR format, ...);
PAL_EXPORT int wvsprintfW(LPWSTR buffer, LPCWSTR format, va_list args);

PAL_EXPORT int sprintf_s(char* buffer, size_t sizeOfBuffer, const char* format, ...);
PAL_EXPORT int vsprintf_s(char* buffer, size_t sizeOfBuffer, const char* format, va_list args);
PAL_EXPORT int _snprintf_s(char* buffer, size_t sizeOfBuffer, size_t count, const char* format, ...);
PAL_EXPORT int _vsnprintf_s(char* buffer, size_t sizeOfBuffer, size_t count, const char* format, va_list args);
PAL_EXPORT int _snprintf(char* buffer, size_t count, const char* format, ...);
PAL_EXPORT int _vsnprintf(char* buffer, size_t count, const char* format, va_list args);
PAL_EXPORT int _scprintf(const char* format, ...);
PAL_EXPORT int _vscprintf(const char* format, va_list args);
PAL_EXPORT int wsprintfA(LPSTR buffer, LPCSTR format, ...);
PAL_EXPORT int wvsprintfA(LPSTR buffer, LPCSTR format, va_list args);

// strsafe: output that does not fit is cut, terminated and STRSAFE_E_INSUFFICIENT_BUFFER.
PAL_EXPORT HRESULT StringCchPrintfW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszFormat, ...);
PAL_EXPORT HRESULT StringCchPrintfA(LPSTR pszDest, size_t cchDest, LPCSTR pszFormat, ...);
PAL_EXPORT HRESULT StringCchVPrintfW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszFormat, va_list args);
PAL_EXPORT HRESULT StringCchVPrintfA(LPSTR pszDest, size_t cchDest, LPCSTR pszFormat, va_list args);
PAL_EXPORT HRESULT StringCbPrintfW(LPWSTR pszDest, size_t cbDest, LPCWSTR pszFormat, ...);
PAL_EXPORT HRESULT StringCbPrintfA(LPSTR pszDest, size_t cbDest, LPCSTR pszFormat, ...);
}

// The CRT's array forms, which take the buffer size from the array.
template <size_t N>
int vswprintf_s(WCHAR (&buffer)[N], const WCHAR* format, va_list args)
{
    return vswprintf_s(buffer, N, format, args);
}
template <size_t N>
int swprintf_s(WCHAR (&buffer)[N], const WCHAR* format, ...)
{
    va_list args;
    va_start(args, format);
    int result = vswprintf_s(buffer, N, format, args);
    va_end(args);
    return result;
}
template <size_t N>
int _vsnwprintf_s(WCHAR (&buffer)[N], size_t count, const WCHAR* format, va_list args)
{
    return _vsnwprintf_s(buffer, N, count, format, args);
}
template <size_t N>
int _snwprintf_s(WCHAR (&buffer)[N], size_t count, const WCHAR* format, ...)
{
    va_list args;
    va_start(args, format);
    int result = _vsnwprintf_s(buffer, N, count, format, args);
    va_end(args);
    return result;
}
template <size_t N>
int vsprintf_s(char (&buffer)[N], const char* format, va_list args)
{
    return vsprintf_s(buffer, N, format, args);
}
template <size_t N>
int sprintf_s(char (&buffer)[N], const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int result = vsprintf_s(buffer, N, format, args);
    va_end(args);
    return result;
}
template <size_t N>
int _vsnprintf_s(char (&buffer)[N], size_t count, const char* format, va_list args)
{
    return _vsnprintf_s(buffer, N, count, format, args);
}
template <size_t N>
int _snprintf_s(char (&buffer)[N], size_t count, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int result = _vsnprintf_s(buffer, N, count, format, args);
    va_end(args);
    return result;
}
