// The device-watch thread of a printer: started by clPrnComData::CreateDeviceThread, ended by the
// service's stop event. It owns its DeviceThreadParam and frees it when it ends. While the printer
// has jobs it polls the device, reports its status to the print manager, asks the user through the
// message manager on device errors and carries out the answers.
#pragma once

#include <windows.h>
#include <winspool.h>

#include "jtrkplatform.h"

#include "ClientJobId.h"
#include "DevMsgTable.h"
#include "JCSDK.h"
#include "JTRKCLIB.h"
#include "ServiceContext.h"

struct DeviceThreadParam {
    LPWSTR lpPrinterName; // copy of the entry's key
    LPWSTR lpPortName;    // copy of the port's key
    JTRKServiceContext* pContext;
    ULONGLONG ullMsgmEvent; // message-manager event value, filled by the thread
};

DeviceThreadParam* NewDeviceThreadParam(LPCWSTR printer, LPCWSTR port, JTRKServiceContext* context);
void FreeDeviceThreadParam(DeviceThreadParam* param);

#define SUBSCRIBE_PRINTER_CHARS 221

// The callback context of a printer's event subscription: filled on the first subscription, read by
// CBSubEvent on the protocol library's notification thread.
struct SubscribeContext {
    WCHAR wszPrinterName[SUBSCRIBE_PRINTER_CHARS];
    DWORD dwControlJobThreadId;
    DmlpInstance hAplh;
    JTRKServiceContext* pContext;
    DWORD dwIPAddress; // key of IPAddrMap; 0 until filled
};

// Limits of the INI settings (seconds).
#define WATCH_INTERVAL_DEFAULT 300
#define WATCH_INTERVAL_MIN 60
#define WATCH_INTERVAL_MAX 3600
#define WATCH_POLLING_DEFAULT 20
#define WATCH_POLLING_MIN 3
#define WATCH_POLLING_MAX 86400
#define WATCH_IDLE_WAIT_MS 2000
#define WATCH_BUSY_WAIT_MS 1000
#define WATCH_RETRY_STATUS_MS 5000
#define WATCH_HELD_PRINTING_MS 1000

// Print-manager statuses the watch thread sends.
#define PMSTATUS_ANSWERED 0x400
#define PMSTATUS_DELETED 0x1000
#define PMSTATUS_HELD 0x80000000
#define PMSTATUS_RESET 2

// The no-answer status and the unreadable status the service makes itself.
#define DEVSTATUS_NO_ANSWER 8
#define DEVSTATUS_UNREADABLE 0xFFFFFFFF

// Answers of a device-error dialog.
#define PARLEY_CONTINUE 1
#define PARLEY_DELETE 2
#define PARLEY_HOLD 3

unsigned __stdcall WatchDeviceThreadEx(void* param);

// [Event] Interval and [Device] PollingTime in seconds, clamped; a negative value takes the minimum.
DWORD GetEventInterval(LPCWSTR iniPath);
DWORD GetPollingTime(LPCWSTR iniPath);

void SubscribeEvent(JTRKServiceContext* context, LPCWSTR printer, SubscribeContext* subscriber, LPCWSTR port);
void UnSubscribeEvent(DmlpInstance hAplh, LPCWSTR printer, DmlpBinding handle, LPCWSTR port);
// TRUE: the thread must end; FALSE: back to idle. handles: {stop, message-manager event}.
BOOL DoWatchDevice(DeviceThreadParam* param, const HANDLE* handles, DWORD pollingTime, SubscribeContext* subscriber);
BOOL UpdateSpool(DeviceThreadParam* param, IJCSDKDevice* device, HANDLE msgmEvent, SubscribeContext* subscriber);
void UpdateDevice(DeviceThreadParam* param, IJCSDKDevice* device, HANDLE msgmEvent, SubscribeContext* subscriber);

void GetStatusInfo(JTRKServiceContext* context, LPCWSTR printer, StatusInfo* out, const ClJobID* clJobId, LPCWSTR port);
DevMsgRecord* GetStatusRecordCLIB(const StatusInfo* status);
int SendDeviceStatus(JTRKServiceContext* context, LPCWSTR printer, DWORD jobId, DevMsgRecord* record,
                     const JOB_INFO_1W* info, DWORD rawStatus);
void SetDeviceOffErrMessage(LPCWSTR printer, DWORD jobId, DevMsgRecord* record);
void ResetPrinterStatusAndParley(DeviceThreadParam* param, LONG messageId, DWORD jobId);

void NoticeParleyMessage(DeviceThreadParam* param, DWORD jobId, DevMsgRecord* record, HANDLE msgmEvent);
void DoParleyMessage(DeviceThreadParam* param, IJCSDKDevice* device, HANDLE msgmEvent);
void CancelPrintJob(DeviceThreadParam* param, DWORD jobId, BOOL* doCancel);

// Subscription contexts of ended watch threads stay readable by the protocol library's notification
// thread until the client library is terminated; then they are freed here.
void FreeRetiredSubscribeContexts();
