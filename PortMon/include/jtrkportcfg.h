// Records and names of the port monitor's Xcv configuration interface, shared by the monitor,
// its UI and the installer.
#pragma once

#include <cstddef>

#include <windows.h>
#include <winspool.h>

#include "jtrkplatform.h"

// DELETE_PORT_DATA_1, the input of "DeletePort", is the record of the standard TCP/IP port
// monitor's Xcv interface. Its header belongs to the driver kit, which mingw-w64 does not ship.
#if __has_include(<tcpxcv.h>)
#include <tcpxcv.h>
#else
typedef struct _DELETE_PORT_DATA_1 {
    WCHAR psztPortName[64];
    WCHAR psztName[49];
    DWORD dwVersion;
    DWORD dwReserved;
} DELETE_PORT_DATA_1, *PDELETE_PORT_DATA_1;
#endif

#define JTRK_PORT_TYPE_NAME W("TALLY-DESK Output Beacon Port2")
#define JTRK_MONITOR_DLL_NAME W("JTRKMON2.DLL")
#define JTRK_MONITOR_UI_DLL_NAME W("JTRKMNUI2.DLL")

// Xcv method names (compared case-sensitively by the monitor).
#define JTRK_XCV_ADDPORT W("AddPort")
#define JTRK_XCV_CONFIGPORT W("ConfigPort")
#define JTRK_XCV_DELETEPORT W("DeletePort")
#define JTRK_XCV_GETCONFIGINFO W("GetConfigInfo")
#define JTRK_XCV_MONITORUI W("MonitorUI")
#define JTRK_XCV_GETORIGINALPORTNAME W("GetOriginalPortName")
#define JTRK_XCV_PORTEXIST W("PortExist")
#define JTRK_XCV_GETIPADDRESS W("GetIPAddress")
#define JTRK_XCV_SETPAUSEDFLAG W("SetPausedFlag")

#define PROTOCOL_RAWTCP_TYPE 1
#define PROTOCOL_LPR_TYPE 2
#define TRANSFER_BYTECOUNT 1

// Field sizes in characters, terminator included.
#define JTRK_MAX_PORTNAME_LEN 64
#define JTRK_MAX_SERVERNAME_LEN 64
#define JTRK_MAX_QUEUENAME_LEN 33

// Settings given to a new port by the UI and the installer.
#define JTRK_DEFAULT_PROTOCOL PROTOCOL_RAWTCP_TYPE
#define JTRK_DEFAULT_PORTNUMBER 9100
#define JTRK_DEFAULT_QUEUE W("lp")
#define JTRK_DEFAULT_TRANSFERMODE 0
#define JTRK_DEFAULT_BANNER 0
#define JTRK_DEFAULT_RETRYINFINITY 1
#define JTRK_DEFAULT_RETRYCOUNT 5
#define JTRK_DEFAULT_RETRYINTERVAL 5
#define JTRK_DEFAULT_LPRRETRYCOUNT 0
#define JTRK_DEFAULT_LPRRETRYTIMEOUT 10
#define JTRK_DEFAULT_WSAEVENTTIMEOUT 0
#define JTRK_DEFAULT_LPRSENDINTERVAL 0
// Also what the monitor assumes when the registry lacks the value.
#define JTRK_DEFAULT_LPRRECVCOUNT 30000
#define JTRK_DEFAULT_LPRRECVINTERVAL 10
#define JTRK_DEFAULT_LPRCHECKJOBSTATUS 1

// Carried by AddPort, ConfigPort, GetConfigInfo and GetOriginalPortName. Little-endian, strings
// UTF-16 padded with NULs.
typedef struct _PortConfigData {
    WCHAR sztPortName[JTRK_MAX_PORTNAME_LEN];
    WCHAR sztServerName[JTRK_MAX_SERVERNAME_LEN];  // dotted IPv4 address of the device
    WCHAR sztOriginalPortName[JTRK_MAX_PORTNAME_LEN];  // port this one replaced, or empty
    DWORD dwProtocol;  // PROTOCOL_RAWTCP_TYPE or PROTOCOL_LPR_TYPE
    DWORD dwPortNumber;  // RAW TCP port
    WCHAR sztQueue[JTRK_MAX_QUEUENAME_LEN];  // LPR queue
    WORD wReserved;
    DWORD dwTransferMode;  // TRANSFER_BYTECOUNT, else streaming
    DWORD dwBanner;
    DWORD dwRetryInfinity;
    DWORD dwRetryCount;
    DWORD dwRetryInterval;  // seconds
    DWORD dwLprRetryCount;
    DWORD dwLprRetryTimeout;  // seconds
    DWORD dwWSAEventTimeout;  // milliseconds
    DWORD dwLprSendInterval;  // milliseconds
    DWORD dwLprRecvCount;
    DWORD dwLprRecvInterval;  // milliseconds
    DWORD dwLprCheckJobStatus;
} PortConfigData, *PPortConfigData;

static_assert(sizeof(PortConfigData) == 508, "PortConfigData is 508 bytes");
static_assert(offsetof(PortConfigData, sztServerName) == 128);
static_assert(offsetof(PortConfigData, sztOriginalPortName) == 256);
static_assert(offsetof(PortConfigData, dwProtocol) == 384);
static_assert(offsetof(PortConfigData, dwPortNumber) == 388);
static_assert(offsetof(PortConfigData, sztQueue) == 392);
static_assert(offsetof(PortConfigData, wReserved) == 458);
static_assert(offsetof(PortConfigData, dwTransferMode) == 460);
static_assert(offsetof(PortConfigData, dwBanner) == 464);
static_assert(offsetof(PortConfigData, dwRetryInfinity) == 468);
static_assert(offsetof(PortConfigData, dwRetryCount) == 472);
static_assert(offsetof(PortConfigData, dwRetryInterval) == 476);
static_assert(offsetof(PortConfigData, dwLprRetryCount) == 480);
static_assert(offsetof(PortConfigData, dwLprRetryTimeout) == 484);
static_assert(offsetof(PortConfigData, dwWSAEventTimeout) == 488);
static_assert(offsetof(PortConfigData, dwLprSendInterval) == 492);
static_assert(offsetof(PortConfigData, dwLprRecvCount) == 496);
static_assert(offsetof(PortConfigData, dwLprRecvInterval) == 500);
static_assert(offsetof(PortConfigData, dwLprCheckJobStatus) == 504);

static_assert(sizeof(DELETE_PORT_DATA_1) == 236, "DELETE_PORT_DATA_1 is 236 bytes");
static_assert(offsetof(DELETE_PORT_DATA_1, psztName) == 128);
static_assert(offsetof(DELETE_PORT_DATA_1, dwVersion) == 228);
static_assert(offsetof(DELETE_PORT_DATA_1, dwReserved) == 232);
