// The device-watch thread of a printer: started by clPrnComData::CreateDeviceThread, ended by the
// service's stop event. It owns its DeviceThreadParam and frees it when it ends.
#pragma once

#include <windows.h>

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
// CBSubEvent on the protocol library's notification thread while the watch thread lives.
struct SubscribeContext {
    WCHAR wszPrinterName[SUBSCRIBE_PRINTER_CHARS];
    DWORD dwControlJobThreadId;
    DmlpInstance hAplh;
    JTRKServiceContext* pContext;
    DWORD dwIPAddress; // key of IPAddrMap; 0 until filled
};

unsigned __stdcall WatchDeviceThreadEx(void* param);
