// Activation of a printer (its entry and watch thread) and the release of every entry at shutdown.
#include <mutex>
#include <tuple>
#include <vector>

#include <windows.h>
#include <winspool.h>

#include "jtrkplatform.h"

#include "PrnComData.h"
#include "ServiceEvents.h"
#include "ServiceStrings.h"
#include "ServiceTrace.h"

namespace {

const char kSource[] = "PrnComData";

#define ACT_TRACE(function, ...) SVC_TRACE(kSource, "clPrnComData::" function, __VA_ARGS__)
#define WATCH_THREAD_WAIT_MS 2000

const WCHAR kNoError[] = W("0xFFFFFFFF");

// Reads the printer from the spooler once: a printer the spooler cannot describe is not watched.
BOOL readPrinter(LPCWSTR printer)
{
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    HANDLE handle = nullptr;
    if (!OpenPrinterW(const_cast<LPWSTR>(printer), &handle, &defaults)) {
        ACT_TRACE("SetPrinterActive", W("Failed to OpenPrinter API()."));
        return FALSE;
    }
    DWORD needed = 0;
    BOOL probed = !GetPrinterW(handle, 2, nullptr, 0, &needed) && GetLastError() == ERROR_INSUFFICIENT_BUFFER && needed;
    BOOL read = FALSE;
    if (!probed) {
        ACT_TRACE("SetPrinterActive", W("Failed to GetPrinter API() 1st Call."));
    } else {
        ACT_TRACE("SetPrinterActive", W("Success to GetPrinter API() 1st Call."));
        std::vector<BYTE> info(needed);
        read = GetPrinterW(handle, 2, info.data(), needed, &needed);
        ACT_TRACE("SetPrinterActive", read ? W("Success to GetPrinter API() 2nd Call.")
                                           : W("Failed to GetPrinter API() 2nd Call."));
    }
    if (!ClosePrinter(handle)) {
        ACT_TRACE("SetPrinterActive", W("Failed to ClosePrinter API(hPrinter)."));
        return FALSE;
    }
    return read;
}

// The state of this service; 0 when it cannot be queried.
DWORD currentServiceState()
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ACT_TRACE("SetPrinterActive", manager ? W("Success to OpenSCManager API().") : W("Failed to OpenSCManager API()."));
    if (!manager)
        return 0;
    SC_HANDLE service = OpenServiceW(manager, JTRK_SERVICE_NAME, SERVICE_ALL_ACCESS);
    ACT_TRACE("SetPrinterActive", service ? W("Success to OpenService API().") : W("Failed to OpenService API()."));
    SERVICE_STATUS status = {};
    if (service) {
        BOOL queried = QueryServiceStatus(service, &status);
        ACT_TRACE("SetPrinterActive", W("Return Value QueryServiceStatus = [%ls]"), SvcBoolText(queried));
        if (!queried)
            status.dwCurrentState = 0;
        ACT_TRACE("SetPrinterActive", W("Return Value CloseServiceHandle = [%ls]"), SvcBoolText(CloseServiceHandle(service)));
    }
    ACT_TRACE("SetPrinterActive", W("Return Value CloseServiceHandle = [%ls]"), SvcBoolText(CloseServiceHandle(manager)));
    return status.dwCurrentState;
}

// Asks JCSDK again for the job events of an SDK printer; FALSE with the HRESULT as text on a COM error.
bool renewJobEvents(PrinterData* entry, WString* errorText)
{
    IJCSDKSpooler* spooler = entry->pVxSpooler.load();
    if (!spooler)
        return true;
    try {
        SetJobEvents(spooler, JCSDK_JOB_EVENTS);
        ACT_TRACE("SetPrinterActive", W("Success to SetJobEvents(JCSDK)."));
        return true;
    } catch (const _com_error& error) {
        WCHAR text[16];
        swprintf_s(text, 16, W("0x%08x"), static_cast<DWORD>(error.Error()));
        *errorText = text;
        ACT_TRACE("SetPrinterActive", W("Failed to SetJobEvents(JCSDK)."));
        SVC_ERROR(SVC_ERROR_GENERAL, kSource, "clPrnComData::SetPrinterActive");
        return false;
    }
}

// Ends the job events of an SDK printer; a COM error is traced and passed over.
void stopJobEvents(IJCSDKSpooler* spooler, const char* function)
{
    try {
        ResetJobEvents(spooler);
        SVC_TRACE(kSource, function, W("Success to ResetJobEvents(JCSDK)."));
    } catch (const _com_error&) {
        SVC_TRACE(kSource, function, W("Failed to ResetJobEvents(JCSDK)."));
        SVC_ERROR(SVC_ERROR_GENERAL, kSource, function);
    }
}

} // namespace

void clPrnComData::releaseSdk(PrinterData* entry)
{
    if (IJCSDKSpooler* spooler = entry->pVxSpooler.exchange(nullptr)) {
        stopJobEvents(spooler, "clPrnComData::SetPrinterActive");
        spooler->Release();
    }
    if (IJCSDKDevice* device = entry->pVxDevice.exchange(nullptr))
        device->Release();
    delete entry->pEventSink.exchange(nullptr);
}

PrinterData* clPrnComData::addEntry(LPCWSTR port, LPCWSTR printer, bool* created)
{
    std::unique_lock<std::shared_mutex> guard(m_lock);
    PortData& portData = m_ports[port];
    auto [entry, inserted] = portData.try_emplace(printer);
    *created = inserted;
    return &entry->second;
}

void clPrnComData::removeEntry(LPCWSTR port, LPCWSTR printer)
{
    std::unique_lock<std::shared_mutex> guard(m_lock);
    auto portData = m_ports.find(port);
    if (portData != m_ports.end())
        portData->second.erase(printer);
}

void clPrnComData::reportActivationFailure(LPCWSTR printer, const WString& errorText)
{
    UINT reasonId = currentServiceState() == SERVICE_START_PENDING ? IDS_ACTION_SUBSCRIBE_AGAIN : IDS_REASON_NOT_TRACKED;
    WCHAR reason[SERVICE_TEXT_CHARS];
    if (LoadStringW(nullptr, reasonId, reason, SERVICE_TEXT_CHARS) <= 0)
        lstrcpyW(reason, W("Unknown Reason"));
    LPCWSTR strings[3] = {printer, reason, errorText.c_str()};
    WriteServiceEvent(EVENTLOG_WARNING_TYPE, JTRK_EVENT_SUBSCRIBE_FAILED, 3, strings);
}

BOOL clPrnComData::SetPrinterActive(LPCWSTR printer, LPCWSTR port, BOOL firstVersion)
{
    if (!printer || !port)
        return FALSE;
    bool portKnown;
    {
        std::shared_lock<std::shared_mutex> guard(m_lock);
        portKnown = m_ports.count(port) != 0;
    }
    WString errorText = kNoError;
    bool failed = false;
    bool created = false;
    BOOL result = FALSE;
    if (!portKnown) {
        ACT_TRACE("SetPrinterActive", W("Start New Port Register."));
        if (!readPrinter(printer)) {
            failed = true;
        } else {
            addEntry(port, printer, &created);
            if (firstVersion) {
                // A device of the first protocol version: the port is kept, the printer is not watched.
                result = FALSE;
            } else if (CreateDeviceThread(printer, port)) {
                result = TRUE;
            } else {
                ACT_TRACE("SetPrinterActive", W("Failed to CreateDeviceThread()."));
                failed = true;
            }
        }
    } else {
        ACT_TRACE("SetPrinterActive", W("Port Data is already registed."));
        PrinterData* entry = findEntry(port, printer);
        if (entry) {
            result = TRUE;
            if (entry->dwState.load() == SDKSTATE_NOTAVAILABLE) {
                ACT_TRACE("SetPrinterActive", W("Status of Printer Data is SDKSTATE_NOTAVAILABLE."));
                if (!renewJobEvents(entry, &errorText)) {
                    result = FALSE;
                    failed = true;
                }
            }
        } else {
            addEntry(port, printer, &created);
            if (CreateDeviceThread(printer, port)) {
                result = TRUE;
            } else {
                ACT_TRACE("SetPrinterActive", W("Failed to CreateDeviceThread()."));
                failed = true;
            }
        }
    }
    if (failed)
        reportActivationFailure(printer, errorText);
    // Only an entry made by this call goes again; an entry another report made stays.
    if (!result && created) {
        if (PrinterData* entry = findEntry(port, printer))
            releaseSdk(entry);
        removeEntry(port, printer);
    }
    ACT_TRACE("SetPrinterActive", W("Return Value bReturn = [%ls]"), SvcBoolText(result));
    return result;
}

HRESULT clPrnComData::EndReceiver(LPCWSTR port, LPCWSTR printer)
{
    PrinterData* entry = findEntry(port, printer);
    if (!entry)
        return E_FAIL;
    return UnadviseJobEvents(entry->pVxSpooler.load(), entry->pEventSink.load());
}

BOOL clPrnComData::TerminatePrinterInstance()
{
    std::vector<std::tuple<LPCWSTR, LPCWSTR, PrinterData*>> entries;
    {
        std::shared_lock<std::shared_mutex> guard(m_lock);
        for (auto& [port, portData] : m_ports) {
            for (auto& [printer, entry] : portData)
                entries.emplace_back(port.c_str(), printer.c_str(), &entry);
        }
    }
    for (auto [port, printer, entry] : entries) {
        if (IJCSDKSpooler* spooler = entry->pVxSpooler.load()) {
            stopJobEvents(spooler, "clPrnComData::TerminatePrinterInstance");
            EndReceiver(port, printer);
            entry->pVxSpooler = nullptr;
            spooler->Release();
        }
        if (IJCSDKDevice* device = entry->pVxDevice.exchange(nullptr))
            device->Release();
        delete entry->pEventSink.exchange(nullptr);
    }
    bool running = false;
    for (auto [port, printer, entry] : entries) {
        HANDLE thread = entry->hThread.load();
        if (!thread)
            continue;
        if (WaitForSingleObject(thread, WATCH_THREAD_WAIT_MS) != WAIT_OBJECT_0) {
            running = true;
            continue;
        }
        entry->hThread = nullptr;
        CloseHandle(thread);
    }
    // A watch thread that did not end still reaches its entry and the maps: they stay.
    m_threadsRunning = running;
    if (running) {
        ACT_TRACE("TerminatePrinterInstance", W("Watch threads still running: printer data kept."));
        return TRUE;
    }
    std::unique_lock<std::shared_mutex> guard(m_lock);
    for (auto& [port, portData] : m_ports)
        portData.clear();
    m_ports.clear();
    return TRUE;
}
