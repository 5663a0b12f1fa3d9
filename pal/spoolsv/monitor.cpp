#include "monitor.h"

#include <cstring>

#include "pal/files.h"

namespace spoolsv {

namespace {

std::u16string stringAt(LPCWSTR text)
{
    return text ? std::u16string(text) : std::u16string();
}

} // namespace

std::u16string monitorKeyPath(const std::u16string& name)
{
    return std::u16string(kMonitorsKey) + u"\\" + name;
}

std::shared_ptr<Monitor> Monitor::load(const std::u16string& name, const std::u16string& dll, DWORD& error)
{
    std::shared_ptr<Monitor> monitor(new Monitor(name, dll));
    error = monitor->initialize();
    return error == ERROR_SUCCESS ? monitor : nullptr;
}

DWORD Monitor::initialize()
{
    module_ = LoadLibraryW(dll_.c_str());
    if (!module_)
        return GetLastError();
    auto entry = reinterpret_cast<PFN_InitializePrintMonitor2>(
        reinterpret_cast<void (*)()>(GetProcAddress(module_, "InitializePrintMonitor2")));
    if (!entry)
        return ERROR_PROC_NOT_FOUND;
    LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, monitorKeyPath(name_).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key_, nullptr);
    if (status != ERROR_SUCCESS)
        return DWORD(status);
    init_.cbSize = sizeof init_;
    init_.hSpooler = this;
    init_.hckRegistryRoot = key_;
    init_.pMonitorReg = const_cast<PMONITORREG>(palMonitorRegistry());
    init_.bLocal = TRUE;
    init_.pszServerName = nullptr;
    SetLastError(ERROR_SUCCESS);
    table_ = entry(&init_, &handle_);
    if (!table_) {
        DWORD reason = GetLastError();
        return reason != ERROR_SUCCESS ? reason : ERROR_INVALID_PRINT_MONITOR;
    }
    return ERROR_SUCCESS;
}

Monitor::~Monitor()
{
    if (auto shutdown = table_ ? slot(&MONITOR2::pfnShutdown) : nullptr)
        shutdown(handle_);
    if (key_)
        RegCloseKey(key_);
    if (module_)
        FreeLibrary(module_);
}

template <class Slot>
Slot Monitor::slot(Slot MONITOR2::*member) const
{
    const BYTE* field = reinterpret_cast<const BYTE*>(&(table_->*member));
    size_t end = size_t(field - reinterpret_cast<const BYTE*>(table_)) + sizeof(Slot);
    return end <= table_->cbSize ? table_->*member : nullptr;
}

DWORD Monitor::enumPorts(std::vector<PortRecord>& ports) const
{
    ports.clear();
    auto enumPortsSlot = slot(&MONITOR2::pfnEnumPorts);
    if (!enumPortsSlot)
        return ERROR_SUCCESS;
    // Records of pointers: the buffer is aligned for them. Ports may be added between the size
    // query and the call, so the size is asked again while it grows.
    std::vector<uint64_t> buffer;
    DWORD needed = 0;
    DWORD count = 0;
    for (;;) {
        DWORD size = DWORD(buffer.size() * sizeof(uint64_t));
        LPBYTE data = reinterpret_cast<LPBYTE>(buffer.data());
        if (enumPortsSlot(handle_, nullptr, 2, data, size, &needed, &count))
            break;
        DWORD error = GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER || needed <= size)
            return error != ERROR_SUCCESS ? error : ERROR_INVALID_PRINT_MONITOR;
        buffer.assign((needed + sizeof(uint64_t) - 1) / sizeof(uint64_t), 0);
    }
    if (size_t(count) * sizeof(PORT_INFO_2W) > buffer.size() * sizeof(uint64_t))
        return ERROR_INVALID_PRINT_MONITOR;
    const PORT_INFO_2W* info = reinterpret_cast<const PORT_INFO_2W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i)
        ports.push_back({stringAt(info[i].pPortName), stringAt(info[i].pMonitorName), stringAt(info[i].pDescription),
                         info[i].fPortType});
    return ERROR_SUCCESS;
}

bool Monitor::ownsPort(std::u16string_view port) const
{
    std::vector<PortRecord> ports;
    enumPorts(ports);
    for (const PortRecord& record : ports)
        if (pal::spool::sameName(record.name, port))
            return true;
    return false;
}

DWORD Monitor::xcvOpen(const std::u16string& object, ACCESS_MASK granted, HANDLE& xcv) const
{
    xcv = nullptr;
    auto open = slot(&MONITOR2::pfnXcvOpenPort);
    if (!open)
        return ERROR_NOT_SUPPORTED;
    SetLastError(ERROR_SUCCESS);
    if (open(handle_, object.c_str(), granted, &xcv))
        return ERROR_SUCCESS;
    DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : ERROR_INVALID_PRINTER_NAME;
}

bool Monitor::xcvData(HANDLE xcv, LPCWSTR method, PBYTE input, DWORD cbInput, PBYTE output, DWORD cbOutput,
                      PDWORD needed, DWORD& status) const
{
    auto data = slot(&MONITOR2::pfnXcvDataPort);
    if (!data)
        return false;
    status = data(xcv, method, input, cbInput, output, cbOutput, needed);
    return true;
}

void Monitor::xcvClose(HANDLE xcv) const
{
    if (auto close = slot(&MONITOR2::pfnXcvClosePort))
        close(xcv);
}

DWORD Monitor::openPort(const std::u16string& port, HANDLE& handle) const
{
    handle = nullptr;
    auto open = slot(&MONITOR2::pfnOpenPort);
    if (!open || !slot(&MONITOR2::pfnStartDocPort) || !slot(&MONITOR2::pfnWritePort) ||
        !slot(&MONITOR2::pfnEndDocPort))
        return ERROR_NOT_SUPPORTED;
    std::u16string name = port;
    SetLastError(ERROR_SUCCESS);
    if (open(handle_, name.data(), &handle))
        return ERROR_SUCCESS;
    DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : ERROR_UNKNOWN_PORT;
}

void Monitor::closePort(HANDLE handle) const
{
    if (auto close = slot(&MONITOR2::pfnClosePort))
        close(handle);
}

BOOL Monitor::startDocPort(HANDLE port, const std::u16string& printer, DWORD jobId, DOC_INFO_1W& document) const
{
    std::u16string name = printer;
    return slot(&MONITOR2::pfnStartDocPort)(port, name.data(), jobId, 1, reinterpret_cast<LPBYTE>(&document));
}

BOOL Monitor::writePort(HANDLE port, LPBYTE buffer, DWORD size, DWORD& written) const
{
    return slot(&MONITOR2::pfnWritePort)(port, buffer, size, &written);
}

BOOL Monitor::endDocPort(HANDLE port) const
{
    return slot(&MONITOR2::pfnEndDocPort)(port);
}

} // namespace spoolsv
