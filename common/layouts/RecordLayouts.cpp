// The layouts (x64) of the Windows records that cross into or out of this system's modules: the
// spooler's, the service control's, the IP helper's and the Xcv records. Compiled in both builds,
// against the Windows headers and against the platform layer's, so that both agree with Windows.
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <icmpapi.h>
#include <winspool.h>
#include <winsplp.h>

#include <cstddef>

#include "jtrkportcfg.h"

static_assert(sizeof(void*) == 8, "the layouts below are those of x64");

// MONITOR2 gained pfnPowerEvent with Windows 8 (184 bytes); mingw-w64's header still ends before it.
static_assert(sizeof(MONITOR2) == 184 || sizeof(MONITOR2) == 176);
static_assert(offsetof(MONITOR2, pfnEnumPorts) == 8);
static_assert(offsetof(MONITOR2, pfnXcvOpenPort) == 120);
static_assert(offsetof(MONITOR2, pfnShutdown) == 144);
static_assert(offsetof(MONITOR2, pfnSendRecvBidiDataFromPort) == 152);
static_assert(offsetof(MONITOR2, pfnNotifyUnusedPorts) == 168);

static_assert(sizeof(MONITORUI) == 32);
static_assert(offsetof(MONITORUI, pfnAddPortUI) == 8);
static_assert(offsetof(MONITORUI, pfnConfigurePortUI) == 16);
static_assert(offsetof(MONITORUI, pfnDeletePortUI) == 24);

static_assert(sizeof(MONITORINIT) == 48);
static_assert(offsetof(MONITORINIT, hSpooler) == 8);
static_assert(offsetof(MONITORINIT, hckRegistryRoot) == 16);
static_assert(offsetof(MONITORINIT, pMonitorReg) == 24);
static_assert(offsetof(MONITORINIT, bLocal) == 32);
static_assert(offsetof(MONITORINIT, pszServerName) == 40);

static_assert(sizeof(MONITORREG) == 88);
static_assert(offsetof(MONITORREG, fpCreateKey) == 8);
static_assert(offsetof(MONITORREG, fpOpenKey) == 16);
static_assert(offsetof(MONITORREG, fpCloseKey) == 24);
static_assert(offsetof(MONITORREG, fpQueryValue) == 80);

static_assert(sizeof(PRINTER_INFO_2W) == 136);
static_assert(offsetof(PRINTER_INFO_2W, pPortName) == 24);
static_assert(offsetof(PRINTER_INFO_2W, pDevMode) == 56);
static_assert(offsetof(PRINTER_INFO_2W, Attributes) == 104);
static_assert(offsetof(PRINTER_INFO_2W, Status) == 124);
static_assert(offsetof(PRINTER_INFO_2W, cJobs) == 128);
static_assert(offsetof(PRINTER_INFO_2W, AveragePPM) == 132);

static_assert(sizeof(PRINTER_INFO_5W) == 32);
static_assert(offsetof(PRINTER_INFO_5W, pPortName) == 8);
static_assert(offsetof(PRINTER_INFO_5W, Attributes) == 16);
static_assert(offsetof(PRINTER_INFO_5W, TransmissionRetryTimeout) == 24);

static_assert(sizeof(JOB_INFO_1W) == 96);
static_assert(offsetof(JOB_INFO_1W, JobId) == 0);
static_assert(offsetof(JOB_INFO_1W, pPrinterName) == 8);
static_assert(offsetof(JOB_INFO_1W, pDocument) == 32);
static_assert(offsetof(JOB_INFO_1W, Status) == 56);
static_assert(offsetof(JOB_INFO_1W, Priority) == 60);
static_assert(offsetof(JOB_INFO_1W, TotalPages) == 68);
static_assert(offsetof(JOB_INFO_1W, Submitted) == 76);

static_assert(sizeof(JOB_INFO_2W) == 160);
static_assert(offsetof(JOB_INFO_2W, pDocument) == 32);
static_assert(offsetof(JOB_INFO_2W, pDevMode) == 80);
static_assert(offsetof(JOB_INFO_2W, Status) == 104);
static_assert(offsetof(JOB_INFO_2W, Size) == 128);
static_assert(offsetof(JOB_INFO_2W, Submitted) == 132);
static_assert(offsetof(JOB_INFO_2W, Time) == 148);
static_assert(offsetof(JOB_INFO_2W, PagesPrinted) == 152);

static_assert(sizeof(JOB_INFO_1A) == 96);
static_assert(offsetof(JOB_INFO_1A, pDocument) == 32);

static_assert(sizeof(PORT_INFO_1W) == 8);

static_assert(sizeof(PORT_INFO_2W) == 32);
static_assert(offsetof(PORT_INFO_2W, fPortType) == 24);

static_assert(sizeof(MONITOR_INFO_2W) == 24);
static_assert(offsetof(MONITOR_INFO_2W, pDLLName) == 16);

static_assert(sizeof(PRINTER_DEFAULTSW) == 24);
static_assert(offsetof(PRINTER_DEFAULTSW, DesiredAccess) == 16);

static_assert(sizeof(DOC_INFO_1W) == 24);
static_assert(offsetof(DOC_INFO_1W, pDatatype) == 16);

static_assert(sizeof(SERVICE_STATUS) == 28);
static_assert(offsetof(SERVICE_STATUS, dwWaitHint) == 24);

static_assert(sizeof(SERVICE_TABLE_ENTRYW) == 16);
static_assert(offsetof(SERVICE_TABLE_ENTRYW, lpServiceProc) == 8);

static_assert(sizeof(SYSTEMTIME) == 16);

static_assert(sizeof(DEVMODEW) == 220);

static_assert(sizeof(PORT_INFO_3W) == 24);

static_assert(sizeof(ICMP_ECHO_REPLY) == 40);
static_assert(offsetof(ICMP_ECHO_REPLY, Status) == 4);
static_assert(offsetof(ICMP_ECHO_REPLY, Data) == 16);

static_assert(sizeof(MIB_IPFORWARDROW) == 56);
static_assert(offsetof(MIB_IPFORWARDROW, dwForwardIfIndex) == 16);

static_assert(sizeof(MIB_IPADDRROW) == 24);
static_assert(offsetof(MIB_IPADDRROW, dwMask) == 8);

static_assert(sizeof(OSVERSIONINFOEXW) == 284);
static_assert(offsetof(OSVERSIONINFOEXW, wServicePackMajor) == 276);

static_assert(sizeof(DELETE_PORT_DATA_1) == 236);
