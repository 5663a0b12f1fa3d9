// JTRKUtil: the installer's custom actions (monitor, port conversion, service), shared helpers.
#pragma once

#include <windows.h>
#include <msi.h>
#include <msiquery.h>
#include <shlwapi.h>
#include <strsafe.h>
#include <winspool.h>

#include "jtrkplatform.h"
#include "resource.h"

#define UTIL_MSG_ASK_YESNO ((INSTALLMESSAGE)0x02000104)
#define UTIL_MSG_WARNING ((INSTALLMESSAGE)0x02000000)
#define UTIL_MSG_ERROR ((INSTALLMESSAGE)0x01000000)

#define UTIL_ENVIRONMENT W("Windows x64")
#define UTIL_SPECIAL_MONITOR_PREFIX W("JTRKMON2")
#define UTIL_MONITORS_KEY W("SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\")
#define UTIL_SPECIAL_MONITOR_NAME W("TALLY-DESK Output Beacon Port2")
#define UTIL_MONITOR_NAME_MAX 256
#define UTIL_MONITOR_DLL_MAX 513
#define UTIL_FOLDER_MAX 260
#define UTIL_CUSTOM_ACTION_DATA_MAX 1025

// Log line through the installer handle (nothing without one); at most 1023 characters.
void UtilLog(MSIHANDLE session, LPCWSTR format, ...);
// Shows string id with the message type; the user's answer (0 without a UI).
int UtilShowMessage(MSIHANDLE session, UINT id, INSTALLMESSAGE type);
// Writes key=digit to a section of JTRKSetup.ini while the stored value reads as 0.
void UtilWriteResult(MSIHANDLE session, LPCWSTR section, LPCWSTR key, int value);
void UtilWriteResultCode(MSIHANDLE session, int value);
// The n-th comma-separated field (0-based) of CustomActionData into field (size characters).
void UtilCustomActionField(MSIHANDLE session, int index, LPWSTR field, DWORD size);
// ASCII-case-insensitive comparisons.
BOOL UtilStartsWith(LPCWSTR text, LPCWSTR prefix);
BOOL UtilSameName(LPCWSTR a, LPCWSTR b);

// Buffers of the spooler's Enum calls (size query, then the call); free with LocalFree.
DWORD UtilEnumPorts(PORT_INFO_2W** ports, DWORD* count);
DWORD UtilEnumPrinters(PRINTER_INFO_2W** printers, DWORD* count);
// A port of JTRKMON2 of exactly this name.
BOOL UtilIsSpecialPort(const PORT_INFO_2W* ports, DWORD count, LPCWSTR name);

DWORD UtilGetPortMonitorInfo(MSIHANDLE session, LPWSTR monitorName, LPWSTR monitorDll);
DWORD UtilGetMonitorUiName(LPCWSTR monitorName, LPWSTR uiName, DWORD size);
DWORD UtilDeleteSpecialPorts(void);
DWORD UtilReadOriginalPortName(LPCWSTR specialPort, LPWSTR name, DWORD size);
DWORD UtilToSpecialPort(MSIHANDLE session, LPCWSTR uiDllName);

extern "C" {
JTRK_EXPORT DWORD WINAPI JTMXAddMonitor(LPCWSTR monitorName, LPCWSTR monitorDll);
JTRK_EXPORT DWORD WINAPI JTMXDeleteMonitor(LPCWSTR monitorName);
JTRK_EXPORT UINT WINAPI JTMXInstallPort(MSIHANDLE session);
JTRK_EXPORT UINT WINAPI JTMXInstallPortforReInst(MSIHANDLE session);
JTRK_EXPORT DWORD WINAPI JTMXIsMonitorExists(LPCWSTR monitorName);
JTRK_EXPORT UINT WINAPI JTMXStartService(MSIHANDLE session);
JTRK_EXPORT UINT WINAPI JTMXStopService(MSIHANDLE session);
JTRK_EXPORT DWORD WINAPI JTMXToOriginalPort(void);
JTRK_EXPORT DWORD WINAPI JTMXToSecialPort(MSIHANDLE session, LPCWSTR uiDllName);
JTRK_EXPORT UINT WINAPI JTMXUninstallPort(MSIHANDLE session);
}
