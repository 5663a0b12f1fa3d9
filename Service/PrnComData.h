// The printers the service watches: per port and printer a PrinterData entry with its watch thread,
// job state, dialog state and lock; the device address of each port and the client-library binding
// of each device address; the two Xcv calls the service makes to the port monitor.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <shared_mutex>
#include <string>
#include <type_traits>

#include <windows.h>

#include "jtrkplatform.h"

#include "ServiceContext.h"

#define SDKSTATE_AVAILABLE 1    // watch thread idle, no job
#define SDKSTATE_NOTAVAILABLE 2
#define SDKSTATE_PRINTING 3     // jobs being watched

#define ERRSENT_NONE 0x10000000 // no device status reported for the printer
#define DEVICE_PORT_DEFAULT 47616

#include "JCSDK.h"

// One printer on one port. Emplaced in its port's map and never moved; the fields are read and
// written by several threads.
struct PrinterData {
    PrinterData();
    ~PrinterData();
    PrinterData(const PrinterData&) = delete;
    PrinterData& operator=(const PrinterData&) = delete;

    std::atomic<IJCSDKSpooler*> pVxSpooler;
    std::atomic<IJCSDKDevice*> pVxDevice;
    std::atomic<JCSDKEventSink*> pEventSink;
    std::atomic<HANDLE> hThread;
    std::atomic<DWORD> dwThreadId;
    std::atomic<DWORD> dwState;
    std::atomic<DWORD> ErrSent;
    std::atomic<LONG> lRet;
    std::atomic<DWORD> SysJobId;
    std::atomic<DWORD> ResetFlg;
    std::atomic<BOOL> bSDKUse;
    std::atomic<DWORD> ClibRetValue;
    std::atomic<BOOL> bUnwatched; // the watch thread ended for good: nobody would end the jobs
    CRITICAL_SECTION cs;
};

typedef std::map<WString, PrinterData> PortData;

class clPrnComData {
public:
    clPrnComData();
    ~clPrnComData();
    clPrnComData(const clPrnComData&) = delete;
    clPrnComData& operator=(const clPrnComData&) = delete;

    void SetContext(JTRKServiceContext* context) { m_context = context; }
    JTRKServiceContext* GetContext() const { return m_context; }
    WORD GetPort() const { return Port.load(); }
    void SetPort(WORD port) { Port.store(port); }

    DWORD GetPortPrinterStatus(LPCWSTR port, LPCWSTR printer);
    // 1 posts JTRK_MSG_ENDJOB, 3 posts JTRK_MSG_STARTJOB (retried while the watch thread lives and
    // the service runs), 2 only sets the state.
    BOOL ChangeDeviceThreadStatus(LPCWSTR port, DWORD state, LPCWSTR printer);
    DWORD GetPrinterErrSent(LPCWSTR port, LPCWSTR printer);
    BOOL ChangeDeviceThreadErrSent(LPCWSTR port, LPCWSTR printer, DWORD value);
    LONG GetPrinterlRetParley(LPCWSTR port, LPCWSTR printer);
    // 0 also clears SysJobId and ResetFlg.
    BOOL ChangeDeviceThreadlRetParley(LPCWSTR port, LPCWSTR printer, LONG value);
    DWORD GetPrinterSysJobIdParley(LPCWSTR port, LPCWSTR printer);
    BOOL ChangeDeviceThreadSysJobIdParley(LPCWSTR port, LPCWSTR printer, DWORD value);
    DWORD GetPrinterResetFlgParley(LPCWSTR port, LPCWSTR printer);
    BOOL ChangeDeviceThreadResetFlgParley(LPCWSTR port, LPCWSTR printer, DWORD value);
    BOOL GetSDKUse(LPCWSTR port, LPCWSTR printer);
    void SetSDKUse(LPCWSTR port, LPCWSTR printer, BOOL use);
    DWORD GetClibRetValue(LPCWSTR port, LPCWSTR printer);
    BOOL SetClibRetValue(LPCWSTR port, LPCWSTR printer, DWORD value);
    // Set by a watch thread that cannot watch its printer, under the printer's critical section.
    BOOL GetPrinterUnwatched(LPCWSTR port, LPCWSTR printer);
    BOOL SetPrinterUnwatched(LPCWSTR port, LPCWSTR printer);
    LPCRITICAL_SECTION GetCriticalObj(LPCWSTR port, LPCWSTR printer);
    // An added reference, or NULL.
    IJCSDKSpooler* GetVxSpoolerPointer(LPCWSTR port, LPCWSTR printer);
    IJCSDKDevice* GetVxDevicePointer(LPCWSTR port, LPCWSTR printer);
    // Gives the entry the printer's JCSDK objects (their references and the sink pass to the entry;
    // those it held before are released).
    BOOL SetSdkObjects(LPCWSTR port, LPCWSTR printer, IJCSDKSpooler* spooler, IJCSDKDevice* device,
                       JCSDKEventSink* sink);

    BOOL GetIPAddress2(LPCWSTR port, DWORD* address);
    BOOL SetIPAddress2(LPCWSTR port, DWORD address);
    BOOL GetClibEpHandle2(DWORD address, DmlpBinding* handle);
    BOOL SetClibEpHandle2(DWORD address, DmlpBinding handle);
    BOOL RemoveClibEpHandle2(DWORD address);

    // One reader/writer lock per device address: exclusive while its binding is looked up, made and
    // stored, rebound or released; shared by the other calls on the binding. Lives as long as this.
    std::shared_mutex& GetAddressLock(DWORD address);
    // Watch threads using the address's binding; the one that leaves last releases the binding.
    void AddAddressUser(DWORD address);
    // The users left after this one.
    DWORD RemoveAddressUser(DWORD address);

    // Every entry of the printer that is not available goes back to available under its own lock,
    // when the printer still has no job.
    void AvailablePrinter(LPCWSTR printer);
    BOOL CreateDeviceThread(LPCWSTR printer, LPCWSTR port);
    BOOL InitializePrinterInstance();
    BOOL GetIPAddress(LPCWSTR port, DWORD* address);
    BOOL SetPausedFlag(LPCWSTR printer, DWORD sysJobId);

    BOOL SetPrinterActive(LPCWSTR printer, LPCWSTR port, BOOL firstVersion);
    HRESULT EndReceiver(LPCWSTR port, LPCWSTR printer);
    BOOL TerminatePrinterInstance();
    // TRUE when a watch thread outlived TerminatePrinterInstance: the object must then stay.
    BOOL WatchThreadsRunning() const { return m_threadsRunning.load(); }

private:
    PrinterData* findEntry(LPCWSTR port, LPCWSTR printer) const;
    // A field of the entry found by port and printer: its value (zero without an entry), or stored
    // (FALSE without an entry).
    template <typename T>
    T loadField(LPCWSTR port, LPCWSTR printer, std::atomic<T> PrinterData::*field) const;
    template <typename T>
    BOOL storeField(LPCWSTR port, LPCWSTR printer, std::atomic<T> PrinterData::*field, std::type_identity_t<T> value);
    BOOL postToWatchThread(PrinterData* entry, UINT message, LPCWSTR printer);
    BOOL watchThreadRuns(const PrinterData* entry) const;
    void removeEntry(LPCWSTR port, LPCWSTR printer);
    PrinterData* addEntry(LPCWSTR port, LPCWSTR printer, bool* created);
    BOOL activateEntry(LPCWSTR printer, LPCWSTR port, WString* errorText);
    void reportActivationFailure(LPCWSTR printer, const WString& errorText);
    void releaseSdk(PrinterData* entry);

    mutable std::shared_mutex m_lock; // the three maps
    std::map<WString, PortData> m_ports;
    std::map<WString, DWORD> IPAddrList;
    std::map<DWORD, DmlpBinding> EPHList;
    struct AddressUse {
        std::shared_mutex lock;
        DWORD users = 0;
    };
    std::map<DWORD, std::unique_ptr<AddressUse>> m_addressUse;
    AddressUse& addressUse(DWORD address);
    JTRKServiceContext* m_context = nullptr;
    std::atomic<WORD> Port{0};
    std::atomic<BOOL> m_threadsRunning{FALSE};
};
