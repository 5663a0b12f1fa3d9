#include "PrnComData.h"

#include <mutex>
#include <vector>

#include <winspool.h>

#include "PrnJobData4V2.h"
#include "ServiceTrace.h"
#include "ThreadMessages.h"
#include "WatchDevice.h"

namespace {

const char kSource[] = "PrnComData";

#define COM_TRACE(function, ...) SVC_TRACE(kSource, "clPrnComData::" function, __VA_ARGS__)

#define XCV_NAME_CHARS 260
#define STARTJOB_RETRY_MS 100

const WCHAR kXcvPrefix[] = W(",XcvPort ");

BOOL xcvPortName(LPCWSTR port, WCHAR* name)
{
    if (!port || lstrlenW(kXcvPrefix) + lstrlenW(port) >= XCV_NAME_CHARS)
        return FALSE;
    lstrcpyW(name, kXcvPrefix);
    lstrcatW(name, port);
    return TRUE;
}

// The port of a printer as the spooler knows it, as an Xcv object name.
BOOL printerXcvPortName(LPCWSTR printer, WCHAR* name)
{
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    HANDLE handle = nullptr;
    if (!OpenPrinterW(const_cast<LPWSTR>(printer), &handle, &defaults)) {
        COM_TRACE("bGetXcvPortName", W("Failed to OpenPrinter API()."));
        return FALSE;
    }
    DWORD needed = 0;
    BOOL done = FALSE;
    GetPrinterW(handle, 2, nullptr, 0, &needed);
    if (GetLastError() == ERROR_INSUFFICIENT_BUFFER && needed > 0) {
        std::vector<BYTE> buffer(needed);
        if (GetPrinterW(handle, 2, buffer.data(), needed, &needed)) {
            auto* info = reinterpret_cast<PRINTER_INFO_2W*>(buffer.data());
            done = xcvPortName(info->pPortName, name);
        }
    }
    if (!done)
        COM_TRACE("bGetXcvPortName", W("Failed to GetPrinter API()."));
    ClosePrinter(handle);
    return done;
}

// XcvDataW on the port's Xcv object; TRUE when the call and its status succeed.
BOOL callXcv(LPCWSTR xcvName, LPCWSTR method, BYTE* input, DWORD inputSize, BYTE* output, DWORD outputSize,
             const char* function)
{
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, SERVER_ACCESS_ADMINISTER};
    HANDLE handle = nullptr;
    if (!OpenPrinterW(const_cast<LPWSTR>(xcvName), &handle, &defaults)) {
        SVC_TRACE(kSource, function, W("Error Code = %d"), GetLastError());
        SVC_TRACE(kSource, function, W("Failed to OpenPrinter API()."));
        return FALSE;
    }
    DWORD needed = 0;
    DWORD status = ERROR_GEN_FAILURE;
    BOOL called = XcvDataW(handle, method, input, inputSize, output, outputSize, &needed, &status);
    ClosePrinter(handle);
    SVC_TRACE(kSource, function, W("Return XcvData bRtn = [%ls]"), SvcBoolText(called));
    SVC_TRACE(kSource, function, W("dwStatus = [%d]"), status);
    return called && status == ERROR_SUCCESS;
}

// The value of key in map, read under lock; FALSE when the key is not there.
template <typename Map, typename Key>
BOOL lookUp(std::shared_mutex& lock, const Map& map, const Key& key, typename Map::mapped_type* value)
{
    std::shared_lock<std::shared_mutex> guard(lock);
    auto found = map.find(key);
    if (found == map.end())
        return FALSE;
    *value = found->second;
    return TRUE;
}

} // namespace

PrinterData::PrinterData()
    : pVxSpooler(nullptr),
      pVxDevice(nullptr),
      pEventSink(nullptr),
      hThread(nullptr),
      dwThreadId(0),
      dwState(SDKSTATE_AVAILABLE),
      ErrSent(ERRSENT_NONE),
      lRet(0),
      SysJobId(0),
      ResetFlg(0),
      bSDKUse(FALSE),
      ClibRetValue(0),
      bUnwatched(FALSE)
{
    InitializeCriticalSectionAndSpinCount(&cs, 0);
}

PrinterData::~PrinterData()
{
    DeleteCriticalSection(&cs);
}

clPrnComData::clPrnComData() = default;

clPrnComData::~clPrnComData() = default;

PrinterData* clPrnComData::findEntry(LPCWSTR port, LPCWSTR printer) const
{
    if (!port || !printer)
        return nullptr;
    std::shared_lock<std::shared_mutex> guard(m_lock);
    auto portData = m_ports.find(port);
    if (portData == m_ports.end())
        return nullptr;
    auto entry = portData->second.find(printer);
    return entry == portData->second.end() ? nullptr : const_cast<PrinterData*>(&entry->second);
}

template <typename T>
T clPrnComData::loadField(LPCWSTR port, LPCWSTR printer, std::atomic<T> PrinterData::*field) const
{
    PrinterData* entry = findEntry(port, printer);
    return entry ? (entry->*field).load() : T{};
}

template <typename T>
BOOL clPrnComData::storeField(LPCWSTR port, LPCWSTR printer, std::atomic<T> PrinterData::*field,
                              std::type_identity_t<T> value)
{
    PrinterData* entry = findEntry(port, printer);
    if (!entry)
        return FALSE;
    (entry->*field).store(value);
    return TRUE;
}

DWORD clPrnComData::GetPortPrinterStatus(LPCWSTR port, LPCWSTR printer)
{
    return loadField(port, printer, &PrinterData::dwState);
}

BOOL clPrnComData::watchThreadRuns(const PrinterData* entry) const
{
    HANDLE thread = entry->hThread.load();
    if (!thread || WaitForSingleObject(thread, 0) != WAIT_TIMEOUT)
        return FALSE;
    return !m_context || !m_context->hSvcEvent || WaitForSingleObject(m_context->hSvcEvent, 0) == WAIT_TIMEOUT;
}

BOOL clPrnComData::postToWatchThread(PrinterData* entry, UINT message, LPCWSTR printer)
{
    return PostThreadMessageW(entry->dwThreadId.load(), message, reinterpret_cast<WPARAM>(printer), 0);
}

BOOL clPrnComData::ChangeDeviceThreadStatus(LPCWSTR port, DWORD state, LPCWSTR printer)
{
    PrinterData* entry = findEntry(port, printer);
    if (!entry)
        return FALSE;
    switch (state) {
    case SDKSTATE_AVAILABLE:
        if (!postToWatchThread(entry, JTRK_MSG_ENDJOB, printer)) {
            COM_TRACE("ChangeDeviceThreadStatus", W("PostThreadMessage: JTRK_MSG_ENDJOB Fail"));
            return FALSE;
        }
        entry->dwState = SDKSTATE_AVAILABLE;
        COM_TRACE("ChangeDeviceThreadStatus", W("PostThreadMessage: JTRK_MSG_ENDJOB Success"));
        COM_TRACE("ChangeDeviceThreadStatus", W("Status Changed: SDKSTATE_AVAILABLE."));
        return TRUE;
    case SDKSTATE_NOTAVAILABLE:
        entry->dwState = SDKSTATE_NOTAVAILABLE;
        COM_TRACE("ChangeDeviceThreadStatus", W("Status Changed: SDKSTATE_NOTAVAILABLE."));
        return TRUE;
    case SDKSTATE_PRINTING:
        // A thread just started may not have its queue yet; one that has ended never will.
        while (!postToWatchThread(entry, JTRK_MSG_STARTJOB, printer)) {
            COM_TRACE("ChangeDeviceThreadStatus", W("PostThreadMessage: JTRK_MSG_STARTJOB Fail, ErrorCode [%d]"),
                      GetLastError());
            if (!watchThreadRuns(entry))
                return FALSE;
            Sleep(STARTJOB_RETRY_MS);
        }
        entry->dwState = SDKSTATE_PRINTING;
        COM_TRACE("ChangeDeviceThreadStatus", W("PostThreadMessage: JTRK_MSG_STARTJOB Success"));
        COM_TRACE("ChangeDeviceThreadStatus", W("Status Changed: SDKSTATE_PRINTING."));
        return TRUE;
    default:
        return FALSE;
    }
}

DWORD clPrnComData::GetPrinterErrSent(LPCWSTR port, LPCWSTR printer)
{
    return loadField(port, printer, &PrinterData::ErrSent);
}

BOOL clPrnComData::ChangeDeviceThreadErrSent(LPCWSTR port, LPCWSTR printer, DWORD value)
{
    return storeField(port, printer, &PrinterData::ErrSent, value);
}

LONG clPrnComData::GetPrinterlRetParley(LPCWSTR port, LPCWSTR printer)
{
    LONG value = loadField(port, printer, &PrinterData::lRet);
    COM_TRACE("GetPrinterlRetParley", W("Return Value:[%ld]"), value);
    return value;
}

BOOL clPrnComData::ChangeDeviceThreadlRetParley(LPCWSTR port, LPCWSTR printer, LONG value)
{
    PrinterData* entry = findEntry(port, printer);
    if (!entry)
        return FALSE;
    entry->lRet = value;
    if (value == 0) {
        entry->SysJobId = 0;
        entry->ResetFlg = 0;
    }
    return TRUE;
}

DWORD clPrnComData::GetPrinterSysJobIdParley(LPCWSTR port, LPCWSTR printer)
{
    DWORD value = loadField(port, printer, &PrinterData::SysJobId);
    COM_TRACE("GetPrinterSysJobIdParley", W("Return Value:[%ld]"), value);
    return value;
}

BOOL clPrnComData::ChangeDeviceThreadSysJobIdParley(LPCWSTR port, LPCWSTR printer, DWORD value)
{
    return storeField(port, printer, &PrinterData::SysJobId, value);
}

DWORD clPrnComData::GetPrinterResetFlgParley(LPCWSTR port, LPCWSTR printer)
{
    DWORD value = loadField(port, printer, &PrinterData::ResetFlg);
    COM_TRACE("GetPrinterResetFlgParley", W("Return Value:[%ls]"), SvcOnOffText(value != 0));
    return value;
}

BOOL clPrnComData::ChangeDeviceThreadResetFlgParley(LPCWSTR port, LPCWSTR printer, DWORD value)
{
    BOOL stored = storeField(port, printer, &PrinterData::ResetFlg, value);
    COM_TRACE("ChangeDeviceThreadResetFlgParley", W("Return Value:[%ls]"), SvcSuccessText(stored));
    return stored;
}

BOOL clPrnComData::GetSDKUse(LPCWSTR port, LPCWSTR printer)
{
    BOOL use = loadField(port, printer, &PrinterData::bSDKUse);
    COM_TRACE("GetSDKUse", W("Return Value bRet = [%ls]"), SvcBoolText(use));
    return use;
}

void clPrnComData::SetSDKUse(LPCWSTR port, LPCWSTR printer, BOOL use)
{
    storeField(port, printer, &PrinterData::bSDKUse, use);
}

DWORD clPrnComData::GetClibRetValue(LPCWSTR port, LPCWSTR printer)
{
    return loadField(port, printer, &PrinterData::ClibRetValue);
}

BOOL clPrnComData::SetClibRetValue(LPCWSTR port, LPCWSTR printer, DWORD value)
{
    return storeField(port, printer, &PrinterData::ClibRetValue, value);
}

BOOL clPrnComData::GetPrinterUnwatched(LPCWSTR port, LPCWSTR printer)
{
    return loadField(port, printer, &PrinterData::bUnwatched);
}

BOOL clPrnComData::SetPrinterUnwatched(LPCWSTR port, LPCWSTR printer)
{
    return storeField(port, printer, &PrinterData::bUnwatched, TRUE);
}

IJCSDKSpooler* clPrnComData::GetVxSpoolerPointer(LPCWSTR port, LPCWSTR printer)
{
    IJCSDKSpooler* spooler = loadField(port, printer, &PrinterData::pVxSpooler);
    if (spooler)
        spooler->AddRef();
    return spooler;
}

IJCSDKDevice* clPrnComData::GetVxDevicePointer(LPCWSTR port, LPCWSTR printer)
{
    IJCSDKDevice* device = loadField(port, printer, &PrinterData::pVxDevice);
    if (device)
        device->AddRef();
    return device;
}

BOOL clPrnComData::SetSdkObjects(LPCWSTR port, LPCWSTR printer, IJCSDKSpooler* spooler, IJCSDKDevice* device,
                                 JCSDKEventSink* sink)
{
    PrinterData* entry = findEntry(port, printer);
    if (!entry)
        return FALSE;
    if (IJCSDKSpooler* previous = entry->pVxSpooler.exchange(spooler))
        previous->Release();
    if (IJCSDKDevice* previous = entry->pVxDevice.exchange(device))
        previous->Release();
    delete entry->pEventSink.exchange(sink);
    return TRUE;
}

LPCRITICAL_SECTION clPrnComData::GetCriticalObj(LPCWSTR port, LPCWSTR printer)
{
    PrinterData* entry = findEntry(port, printer);
    return entry ? &entry->cs : nullptr;
}

BOOL clPrnComData::GetIPAddress2(LPCWSTR port, DWORD* address)
{
    if (!port || !address)
        return FALSE;
    return lookUp(m_lock, IPAddrList, port, address);
}

BOOL clPrnComData::SetIPAddress2(LPCWSTR port, DWORD address)
{
    if (!port || address == 0)
        return FALSE;
    std::unique_lock<std::shared_mutex> guard(m_lock);
    auto [found, inserted] = IPAddrList.insert_or_assign(port, address);
    COM_TRACE("SetIPAddress2", inserted ? W("IPAddrList([%ls]) Insert") : W("IPAddrList([%ls]) Update"), port);
    return TRUE;
}

BOOL clPrnComData::GetClibEpHandle2(DWORD address, DmlpBinding* handle)
{
    if (address == 0 || !handle)
        return FALSE;
    return lookUp(m_lock, EPHList, address, handle);
}

BOOL clPrnComData::SetClibEpHandle2(DWORD address, DmlpBinding handle)
{
    if (address == 0 || !handle)
        return FALSE;
    std::unique_lock<std::shared_mutex> guard(m_lock);
    auto [found, inserted] = EPHList.insert_or_assign(address, handle);
    COM_TRACE("SetClibEpHandle2", inserted ? W("EPHList Insert") : W("EPHList Update"));
    return TRUE;
}

BOOL clPrnComData::RemoveClibEpHandle2(DWORD address)
{
    std::unique_lock<std::shared_mutex> guard(m_lock);
    BOOL removed = EPHList.erase(address) != 0;
    if (removed)
        COM_TRACE("RemoveClibEpHandle2", W("EPHList Erase"));
    return removed;
}

clPrnComData::AddressUse& clPrnComData::addressUse(DWORD address)
{
    std::unique_lock<std::shared_mutex> guard(m_lock);
    std::unique_ptr<AddressUse>& use = m_addressUse[address];
    if (!use)
        use = std::make_unique<AddressUse>();
    return *use;
}

std::shared_mutex& clPrnComData::GetAddressLock(DWORD address)
{
    return addressUse(address).lock;
}

void clPrnComData::AddAddressUser(DWORD address)
{
    AddressUse& use = addressUse(address);
    std::unique_lock<std::shared_mutex> guard(m_lock);
    ++use.users;
}

DWORD clPrnComData::RemoveAddressUser(DWORD address)
{
    AddressUse& use = addressUse(address);
    std::unique_lock<std::shared_mutex> guard(m_lock);
    if (use.users > 0)
        --use.users;
    return use.users;
}

void clPrnComData::AvailablePrinter(LPCWSTR printer)
{
    if (!printer)
        return;
    std::vector<std::pair<LPCWSTR, PrinterData*>> entries;
    {
        std::shared_lock<std::shared_mutex> guard(m_lock);
        for (auto& [port, portData] : m_ports) {
            auto entry = portData.find(printer);
            if (entry != portData.end())
                entries.emplace_back(port.c_str(), &entry->second);
        }
    }
    for (auto [port, entry] : entries) {
        EnterCriticalSection(&entry->cs);
        // A job reported since the caller counted keeps the printer watched.
        bool idle = !m_context || !m_context->pPrnJobData4V2 || m_context->pPrnJobData4V2->GetJobCountForDevice(printer) == 0;
        if (idle && entry->dwState.load() != SDKSTATE_AVAILABLE)
            ChangeDeviceThreadStatus(port, SDKSTATE_AVAILABLE, printer);
        LeaveCriticalSection(&entry->cs);
    }
}

BOOL clPrnComData::CreateDeviceThread(LPCWSTR printer, LPCWSTR port)
{
    LPCWSTR printerKey = nullptr;
    LPCWSTR portKey = nullptr;
    PrinterData* entry = nullptr;
    {
        std::shared_lock<std::shared_mutex> guard(m_lock);
        auto portData = m_ports.find(port);
        if (portData == m_ports.end())
            return FALSE;
        auto found = portData->second.find(printer);
        if (found == portData->second.end())
            return FALSE;
        portKey = portData->first.c_str();
        printerKey = found->first.c_str();
        entry = &found->second;
    }
    BOOL started = FALSE;
    DeviceThreadParam* param = NewDeviceThreadParam(printerKey, portKey, m_context);
    if (param) {
        unsigned threadId = 0;
        HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, WatchDeviceThreadEx, param, 0, &threadId));
        if (thread) {
            entry->hThread = thread;
            entry->dwThreadId = threadId;
            entry->dwState = SDKSTATE_AVAILABLE;
            entry->ErrSent = ERRSENT_NONE;
            entry->lRet = 0;
            started = TRUE;
        } else {
            FreeDeviceThreadParam(param);
        }
    }
    DWORD address = 0;
    if (GetIPAddress(port, &address) && address != 0 && m_context && m_context->IPAddrMap)
        m_context->IPAddrMap->Append(address, printerKey);
    return started;
}

BOOL clPrnComData::InitializePrinterInstance()
{
    WCHAR iniPath[MAX_PATH];
    if (GetModuleIniPath(iniPath, MAX_PATH))
        Port = static_cast<WORD>(GetPrivateProfileIntW(W("Device"), W("Port"), DEVICE_PORT_DEFAULT, iniPath));
    COM_TRACE("InitializePrinterInstance", W("Return Value bReturn = [%ls]"), SvcBoolText(TRUE));
    return TRUE;
}

BOOL clPrnComData::GetIPAddress(LPCWSTR port, DWORD* address)
{
    *address = 0;
    WCHAR name[XCV_NAME_CHARS];
    if (!xcvPortName(port, name)) {
        COM_TRACE("GetIPAddress", W("Failed to bGetXcvPortName()."));
        return FALSE;
    }
    COM_TRACE("GetIPAddress", W("Port Name = %s"), name);
    DWORD value = 0;
    BOOL done = callXcv(name, W("GetIPAddress"), nullptr, 0, reinterpret_cast<BYTE*>(&value), sizeof value,
                        "clPrnComData::GetIPAddress");
    if (done)
        *address = value;
    COM_TRACE("GetIPAddress", W("Return Value bRtn = [%ls]"), SvcBoolText(done));
    return done;
}

BOOL clPrnComData::SetPausedFlag(LPCWSTR printer, DWORD sysJobId)
{
    if (!printer) {
        COM_TRACE("SetPausedFlag", W("NULL == lpwszPrinterName"));
        return FALSE;
    }
    if (sysJobId == 0) {
        COM_TRACE("SetPausedFlag", W("0 == dwSysJobID"));
        return FALSE;
    }
    WCHAR name[XCV_NAME_CHARS];
    if (!printerXcvPortName(printer, name)) {
        COM_TRACE("SetPausedFlag", W("Failed to bGetXcvPortName()."));
        return FALSE;
    }
    COM_TRACE("SetPausedFlag", W("OpenPrinter() Success. Call XcvData"));
    return callXcv(name, W("SetPausedFlag"), reinterpret_cast<BYTE*>(&sysJobId), sizeof sysJobId, nullptr, 0,
                   "clPrnComData::SetPausedFlag");
}
