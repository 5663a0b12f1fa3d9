// The registry layout of a port's settings below the monitor's key.
#pragma once

#include "jtrkmon.h"

#define JTMX_MONITOR_KEY_PATH W("SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\") JTRK_PORT_TYPE_NAME
#define JTMX_PORTS_KEY W("Ports")
#define JTMX_TIMEOUTS_KEY W("Timeouts")
#define JTMX_ORIGINAL_PORT_NAME_VALUE W("Original PortNname")
#define JTMX_SERVER_NAME_VALUE W("ServerName")
// "Ports\" + name + "\Timeouts" + NUL
#define JTMX_PORT_KEY_PATH_LEN (6 + JTMX_MAX_PORT_NAME + 9 + 1)

// Who writes a setting.
#define SETTING_ADDPORT 0x1
#define SETTING_ADDPORT_WHEN_SET 0x2  // only when the string is not empty
#define SETTING_CONFIGPORT 0x4

// How the port-configuration reader treats a setting.
#define SETTING_NOT_READ 0
#define SETTING_READ_REQUIRED 1
#define SETTING_READ_OPTIONAL 2  // dwDefault when the value is missing

typedef struct _PortSetting {
    LPCWSTR pszValue;
    BOOL bTimeouts;  // in Ports\<port>\Timeouts, else in Ports\<port>
    size_t cbOffset;  // field of PortConfigData
    DWORD cbField;  // its size in bytes
    DWORD dwType;  // REG_SZ or REG_DWORD
    DWORD dwWriters;
    int nRead;
    DWORD dwDefault;
} PortSetting;

extern const PortSetting g_PortSettings[];
extern const size_t g_cPortSettings;

DWORD* SettingDword(PortConfigData* pConfig, const PortSetting* pSetting);
WCHAR* SettingString(PortConfigData* pConfig, const PortSetting* pSetting);
// The spooler's registry callbacks, its handle and the monitor's key.
PMONITORREG MonitorReg(PMonitorContext pMonitor);
HANDLE MonitorSpooler(PMonitorContext pMonitor);
HANDLE MonitorRoot(PMonitorContext pMonitor);
BOOL BuildPortKeyPath(LPCWSTR pszPortName, BOOL bTimeouts, LPWSTR pszPath, size_t cchPath);
// Opens Ports\<port> (or its Timeouts subkey) through the spooler's registry callbacks.
LONG OpenPortKey(PMonitorContext pMonitor, LPCWSTR pszPortName, BOOL bTimeouts, REGSAM samDesired, PHANDLE phKey);
void ClosePortKey(PMonitorContext pMonitor, HANDLE hKey);
// Reads a string value into a field of cchField characters (see jtrkutil.cpp for the checks);
// ERROR_INVALID_DATA for a value that is no sound string. *pcbData (when given): its size in bytes.
LONG ReadPortString(PMonitorContext pMonitor, HANDLE hKey, LPCWSTR pszValue, LPWSTR pszField, DWORD cchField,
                    LPDWORD pcbData);
// The same for a value of Ports\<port>.
LONG ReadPortKeyString(PMonitorContext pMonitor, LPCWSTR pszPortName, LPCWSTR pszValue, LPWSTR pszField,
                       DWORD cchField, LPDWORD pcbData);
