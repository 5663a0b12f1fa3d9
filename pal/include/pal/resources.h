// Resources: string tables, message tables and dialog templates that a module carries as data.
//
// A module (shared object or executable) exports one PAL_RESOURCES record named palResources; the
// functions below find it by module handle (NULL is the executable, which must then be linked with
// its symbols exported, ENABLE_EXPORTS in CMake). One string table per module, language 1041:
//
//     #include <windows.h>
//
//     static const PAL_STRING_RESOURCE strings[] = {
//         {IDS_GREETING, W("こんにちは、%1さん")},
//         {IDS_FAREWELL, W("さようなら")},
//     };
//     static const PAL_DIALOG_ITEM addItems[] = {
//         {W("STATIC"), W("名前(&N) :"), -1, WS_VISIBLE},
//         {W("EDIT"), W(""), 1001, WS_VISIBLE | WS_TABSTOP},
//         {W("BUTTON"), W("OK"), IDOK, WS_VISIBLE | BS_DEFPUSHBUTTON},
//     };
//     static const PAL_DIALOG_TEMPLATE dialogs[] = {
//         {100, W("追加"), addItems, PAL_COUNT(addItems)},
//     };
//     PAL_DECLARE_RESOURCES(LANG_JAPANESE_JAPAN, strings, dialogs);
//
// A module without dialogs writes PAL_DECLARE_STRINGS(LANG_JAPANESE_JAPAN, strings).
//
// LoadStringW copies at most cchBufferMax - 1 characters and a terminator and returns the number
// copied; cchBufferMax 0 stores a read-only pointer to the text in *lpBuffer and returns its length.
// A missing id, an empty text or a module without resources returns 0 (ERROR_RESOURCE_NAME_NOT_FOUND
// or ERROR_RESOURCE_DATA_NOT_FOUND). LoadStringA does the same in bytes of the ANSI code page (932),
// never splitting a double-byte character.
//
// FormatMessageA/W: FORMAT_MESSAGE_FROM_STRING (the only source here) with the inserts %1 to %99,
// each optionally followed by a printf conversion in '!' ("%1!d!", "%2!08lX!"; plain %n is "!s!",
// a string of the call's width); ARGUMENT_ARRAY takes the values from a DWORD_PTR array, else from
// the va_list; IGNORE_INSERTS copies the inserts unchanged. Escapes: %0 ends the text, %n is "\r\n",
// %r "\r", %t a tab, %% "%", and % before any other character is that character ("%.", "%!").
// ALLOCATE_BUFFER stores a LocalAlloc block (freed with LocalFree) of at least nSize characters in
// *(LPWSTR*)lpBuffer; otherwise the result and its terminator must fit nSize (else 0 with
// ERROR_INSUFFICIENT_BUFFER). Returns the length without the terminator, 0 with the last error on
// failure: ERROR_INVALID_PARAMETER for a missing source, arguments or a bad conversion.
#pragma once

#include <cstdarg>

#include "pal/errors.h"
#include "pal/types.h"

#define LANG_JAPANESE_JAPAN 0x0411

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100u
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200u
#define FORMAT_MESSAGE_FROM_STRING 0x00000400u
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800u
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000u
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000u
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FFu

typedef struct _PAL_STRING_RESOURCE {
    UINT id;
    LPCWSTR text;
} PAL_STRING_RESOURCE;

// One control of a dialog template: window class ("EDIT", "COMBOBOX", "BUTTON", "STATIC",
// "msctls_updown32"), text, id (-1 for a label without one) and styles (WS_VISIBLE, WS_DISABLED,
// BS_AUTOCHECKBOX, CBS_DROPDOWNLIST, UDS_*, ... of pal/dialogs.h).
typedef struct _PAL_DIALOG_ITEM {
    LPCWSTR className;
    LPCWSTR text;
    INT id;
    DWORD style;
} PAL_DIALOG_ITEM;

typedef struct _PAL_DIALOG_TEMPLATE {
    UINT id;
    LPCWSTR title;
    const PAL_DIALOG_ITEM* items;
    UINT itemCount;
} PAL_DIALOG_TEMPLATE;

typedef struct _PAL_RESOURCES {
    LANGID language;
    const PAL_STRING_RESOURCE* strings;
    UINT stringCount;
    const PAL_DIALOG_TEMPLATE* dialogs;
    UINT dialogCount;
} PAL_RESOURCES;

#define PAL_COUNT(array) ((UINT)(sizeof(array) / sizeof((array)[0])))
#define PAL_RESOURCES_EXPORT "palResources"
#define PAL_DECLARE_RESOURCES(language, strings, dialogs)                                                  \
    extern "C" PAL_EXPORT const PAL_RESOURCES palResources;                                                \
    const PAL_RESOURCES palResources = {(language), (strings), PAL_COUNT(strings), (dialogs), PAL_COUNT(dialogs)}
#define PAL_DECLARE_STRINGS(language, strings)                                                             \
    extern "C" PAL_EXPORT const PAL_RESOURCES palResources;                                                \
    const PAL_RESOURCES palResources = {(language), (strings), PAL_COUNT(strings), nullptr, 0}

extern "C" {
PAL_EXPORT int LoadStringW(HINSTANCE hInstance, UINT uID, LPWSTR lpBuffer, int cchBufferMax);
PAL_EXPORT int LoadStringA(HINSTANCE hInstance, UINT uID, LPSTR lpBuffer, int cchBufferMax);
PAL_EXPORT DWORD FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                                LPWSTR lpBuffer, DWORD nSize, va_list* Arguments);
PAL_EXPORT DWORD FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                                LPSTR lpBuffer, DWORD nSize, va_list* Arguments);

// The resources of a module (NULL: the executable), or NULL with ERROR_RESOURCE_DATA_NOT_FOUND.
PAL_EXPORT const PAL_RESOURCES* palModuleResources(HINSTANCE hInstance);
}

#define LoadString LoadStringW
#define FormatMessage FormatMessageW
