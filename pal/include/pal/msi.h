// Windows Installer calls for custom actions, with the session a runner creates around them.
//
// MSIHANDLEs are 32-bit numbers of one table per process; 0 is no handle. Strings come back as
// the Windows calls give them: the count in characters without the terminator; a buffer too
// short gets what fits, terminated, and ERROR_MORE_DATA with the count needed; an unknown
// property reads ""; a handle of the wrong kind or none gives ERROR_INVALID_HANDLE.
//
// MsiProcessMessage hands the text of field 0 (verbatim: no [n] templates) to the session's sink.
// INSTALLMESSAGE_INFO is logged and gives 0; a WARNING or an ERROR is answered by the session's
// policy from its buttons (MB_OK: IDOK; MB_YESNO: IDYES or IDNO; ...), or 0 when the policy is
// "no user interface".
#pragma once

#include "pal/errors.h"
#include "pal/types.h"

typedef DWORD MSIHANDLE;
typedef int INSTALLMESSAGE;

#define INSTALLMESSAGE_FATALEXIT 0x00000000
#define INSTALLMESSAGE_ERROR 0x01000000
#define INSTALLMESSAGE_WARNING 0x02000000
#define INSTALLMESSAGE_USER 0x03000000
#define INSTALLMESSAGE_INFO 0x04000000
#define INSTALLMESSAGE_TYPEMASK 0xFF000000u

#define ERROR_INSTALL_USEREXIT 1602L
#define ERROR_INSTALL_FAILURE 1603L

// The runner's choices for the messages that ask the user.
typedef enum { PAL_MSI_ANSWER_NONE, PAL_MSI_ANSWER_YES, PAL_MSI_ANSWER_NO } PAL_MSI_ANSWER;
// Receives each message: its type (with the button bits), the text, and the answer given.
typedef void (*PAL_MSI_MESSAGE_SINK)(void* context, INSTALLMESSAGE type, LPCWSTR text, int answer);

extern "C" {
PAL_EXPORT UINT MsiGetPropertyW(MSIHANDLE hInstall, LPCWSTR szName, LPWSTR szValueBuf, LPDWORD pcchValueBuf);
// A NULL or empty value removes the property.
PAL_EXPORT UINT MsiSetPropertyW(MSIHANDLE hInstall, LPCWSTR szName, LPCWSTR szValue);
// A record of fields 0 to cParams, all empty; 0 when cParams is over 65535.
PAL_EXPORT MSIHANDLE MsiCreateRecord(UINT cParams);
PAL_EXPORT UINT MsiRecordSetStringW(MSIHANDLE hRecord, UINT iField, LPCWSTR szValue);
PAL_EXPORT UINT MsiRecordGetStringW(MSIHANDLE hRecord, UINT iField, LPWSTR szValueBuf, LPDWORD pcchValueBuf);
PAL_EXPORT UINT MsiRecordGetFieldCount(MSIHANDLE hRecord);
// -1 for a bad session or record handle, else as described above.
PAL_EXPORT int MsiProcessMessage(MSIHANDLE hInstall, INSTALLMESSAGE eMessageType, MSIHANDLE hRecord);
PAL_EXPORT UINT MsiCloseHandle(MSIHANDLE hAny);

// For runners and tests: a new session answering by policy and handing messages to sink (may be
// NULL); closed with MsiCloseHandle.
PAL_EXPORT MSIHANDLE palMsiCreateSession(PAL_MSI_ANSWER answer, PAL_MSI_MESSAGE_SINK sink, void* context);
}

#define MsiGetProperty MsiGetPropertyW
#define MsiSetProperty MsiSetPropertyW
#define MsiRecordSetString MsiRecordSetStringW
#define MsiRecordGetString MsiRecordGetStringW
