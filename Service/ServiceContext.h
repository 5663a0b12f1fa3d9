// The service's one context record, given to every thread of the service, and the map of device
// addresses to the printers that share a device.
#pragma once

#include <atomic>
#include <list>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <windows.h>

#include "jtrkplatform.h"

#include "VxDmlp.h"

class clPrnComData;
class clPrnJobData;
class clPrnJobData4V2;

#define JTRK_SERVICE_NAME W("JTRKSVC2")
#define JTRK_EVENT_SOURCE W("OutputBeaconService2")

// Device address -> names of the printers that reach it. Names keep their addresses until the map
// is destroyed, so a name handed to another thread in a message stays valid.
class IPAddressPrinterMap {
public:
    // Appends the name to the address's list and returns the stored copy.
    LPCWSTR Append(DWORD address, LPCWSTR printer);
    // The stored names of the address in list order; empty when the address is unknown.
    std::vector<LPCWSTR> Names(DWORD address) const;
    // A stored copy of the name, kept as long as the map.
    LPCWSTR Intern(LPCWSTR printer);

private:
    std::set<WString> m_names;
    mutable std::mutex m_lock;
    std::map<DWORD, std::list<WString>> m_map;
};

struct JTRKServiceContext {
    clPrnComData* pPrnComData;
    clPrnJobData* pPrnJobData;
    clPrnJobData4V2* pPrnJobData4V2;
    std::atomic<DWORD> dwControlJobThreadId; // read by watch threads while the service starts
    HANDLE hPipe;
    HANDLE hSvcEvent;
    std::atomic<DmlpInstance> hAplh; // 0 when the client library could not be initialised
    IPAddressPrinterMap* IPAddrMap;
    BOOL GetPageCount;
    BOOL StraightDelete;
    BOOL SkipTrace;
    int MaxResetCount;
    DWORD Sleep;
};

// The settings of section [Device] of the service's INI file; without a path every setting is 0.
void ReadServiceSettings(JTRKServiceContext* context, LPCWSTR iniPath);
