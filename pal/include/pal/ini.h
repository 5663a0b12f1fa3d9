// INI files with the Windows parse rules.
//
// The file name is a Windows path (see pal/files.h); a bare file name means the Windows folder
// (C:\Windows\name). Files are read as UTF-16LE when they start with FF FE, as UTF-8 after EF BB BF,
// otherwise in the ANSI code page (932); a write keeps the file's encoding and BOM, a new file is
// ANSI. Lines end in CR LF, LF or CR; new lines are written with CR LF.
//
// Parsing: "[name]" opens a section (blanks around the name are dropped); "key=value" is an entry,
// key and value trimmed of blanks and tabs, and a value enclosed in a pair of the same quote (' or ")
// loses the pair; a line whose first non-blank is ';' is a comment; a line without '=' is a key
// with an empty value. Section and key names compare without regard to case; of duplicate sections
// or keys the first one counts.
//
// GetPrivateProfileString: with a key, the value or else the default (NULL means "", trailing
// blanks dropped); the result is the length copied. A value cut short returns nSize - 1. With a NULL
// key the section's keys, with a NULL section the section names: each terminated, the list ended by
// one more NUL; a list cut short returns nSize - 2 (the last name cut, both final NULs written).
// A missing section or file gives an empty list.
#pragma once

#include "pal/types.h"

extern "C" {
PAL_EXPORT DWORD GetPrivateProfileStringW(LPCWSTR lpAppName, LPCWSTR lpKeyName, LPCWSTR lpDefault,
                                          LPWSTR lpReturnedString, DWORD nSize, LPCWSTR lpFileName);
PAL_EXPORT DWORD GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                                          LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName);
// Decimal: optional blanks, an optional sign, digits up to the first other character (none: 0),
// kept modulo 2^32, so -1 gives 0xFFFFFFFF. A missing or empty value gives nDefault.
PAL_EXPORT UINT GetPrivateProfileIntW(LPCWSTR lpAppName, LPCWSTR lpKeyName, INT nDefault, LPCWSTR lpFileName);
PAL_EXPORT UINT GetPrivateProfileIntA(LPCSTR lpAppName, LPCSTR lpKeyName, INT nDefault, LPCSTR lpFileName);
PAL_EXPORT DWORD GetPrivateProfileSectionNamesW(LPWSTR lpszReturnBuffer, DWORD nSize, LPCWSTR lpFileName);
PAL_EXPORT DWORD GetPrivateProfileSectionNamesA(LPSTR lpszReturnBuffer, DWORD nSize, LPCSTR lpFileName);
// The section's entries as "key=value" strings (value as written, quotes kept) in a list.
PAL_EXPORT DWORD GetPrivateProfileSectionW(LPCWSTR lpAppName, LPWSTR lpReturnedString, DWORD nSize,
                                           LPCWSTR lpFileName);
// Sets key to value, creating the file, the section (at the end of the file) and the key (after the
// section's last entry). A NULL value removes the key, a NULL key the whole section. All arguments
// NULL: nothing to flush, TRUE.
PAL_EXPORT BOOL WritePrivateProfileStringW(LPCWSTR lpAppName, LPCWSTR lpKeyName, LPCWSTR lpString,
                                           LPCWSTR lpFileName);
PAL_EXPORT BOOL WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString, LPCSTR lpFileName);
}

#define GetPrivateProfileString GetPrivateProfileStringW
#define GetPrivateProfileInt GetPrivateProfileIntW
#define GetPrivateProfileSectionNames GetPrivateProfileSectionNamesW
#define GetPrivateProfileSection GetPrivateProfileSectionW
#define WritePrivateProfileString WritePrivateProfileStringW
