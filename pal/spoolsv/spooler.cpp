#include "spooler.h"

#include <cstdio>
#include <optional>

#include "text.h"

namespace spoolsv {

namespace {

using pal::spool::foldName;
using pal::spool::sameName;

constexpr const WCHAR* kEnvironment = W("Windows x64");
constexpr size_t kDeletePortNameLimit = 63;

// This host is the only server: "\\name" (any name) means it, as do NULL and "".
bool isLocalServer(const OptString& server)
{
    return !server || server->empty() || (server->size() > 2 && server->starts_with(u"\\\\"));
}

bool isOurEnvironment(const OptString& environment)
{
    return !environment || environment->empty() || sameName(*environment, kEnvironment);
}

struct XcvTarget {
    bool isMonitor;
    std::u16string name;
};

// ",XcvMonitor M" or ",XcvPort P", optionally behind "\\server\".
std::optional<XcvTarget> parseXcvName(std::u16string_view name)
{
    if (name.starts_with(u"\\\\")) {
        size_t end = name.find(u'\\', 2);
        if (end == std::u16string_view::npos)
            return std::nullopt;
        name.remove_prefix(end + 1);
    }
    constexpr std::u16string_view monitorPrefix = u",XcvMonitor ";
    constexpr std::u16string_view portPrefix = u",XcvPort ";
    if (name.starts_with(monitorPrefix) && name.size() > monitorPrefix.size())
        return XcvTarget{true, std::u16string(name.substr(monitorPrefix.size()))};
    if (name.starts_with(portPrefix) && name.size() > portPrefix.size())
        return XcvTarget{false, std::u16string(name.substr(portPrefix.size()))};
    return std::nullopt;
}

std::vector<std::u16string> registeredMonitorNames()
{
    std::vector<std::u16string> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMonitorsKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return names;
    WCHAR name[256];
    DWORD length = 256;
    for (DWORD index = 0; RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++index, length = 256)
        names.emplace_back(name, length);
    RegCloseKey(key);
    return names;
}

DWORD readDriver(const std::u16string& monitor, std::u16string& dll)
{
    std::u16string path = monitorKeyPath(monitor);
    DWORD size = 0;
    LONG status = RegGetValueW(HKEY_LOCAL_MACHINE, path.c_str(), W("Driver"), RRF_RT_REG_SZ, nullptr, nullptr, &size);
    if (status != ERROR_SUCCESS)
        return DWORD(status);
    std::u16string text(size / sizeof(WCHAR), u'\0');
    status = RegGetValueW(HKEY_LOCAL_MACHINE, path.c_str(), W("Driver"), RRF_RT_REG_SZ, nullptr, text.data(), &size);
    if (status != ERROR_SUCCESS)
        return DWORD(status);
    text.resize(text.find(u'\0') == std::u16string::npos ? text.size() : text.find(u'\0'));
    if (text.empty())
        return ERROR_INVALID_PRINT_MONITOR;
    dll = text;
    return ERROR_SUCCESS;
}

DWORD writeDriver(const std::u16string& monitor, const std::u16string& dll, bool& created)
{
    HKEY key = nullptr;
    DWORD disposition = 0;
    LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, monitorKeyPath(monitor).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, &disposition);
    if (status != ERROR_SUCCESS)
        return DWORD(status);
    created = disposition == REG_CREATED_NEW_KEY;
    status = RegSetValueExW(key, W("Driver"), 0, REG_SZ, reinterpret_cast<const BYTE*>(dll.c_str()),
                            DWORD((dll.size() + 1) * sizeof(WCHAR)));
    RegCloseKey(key);
    return DWORD(status);
}

void removeRegistration(const std::u16string& monitor)
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, monitorKeyPath(monitor).c_str());
}

} // namespace

void Spooler::loadRegisteredMonitors()
{
    for (const std::u16string& name : registeredMonitorNames()) {
        std::u16string dll;
        DWORD error = readDriver(name, dll);
        if (error == ERROR_SUCCESS)
            error = loadMonitor(name, dll);
        if (error != ERROR_SUCCESS)
            std::fprintf(stderr, "spoolsv: monitor \"%s\" (%s) not loaded: error %u\n", printable(name).c_str(),
                         printable(dll).c_str(), unsigned(error));
    }
}

DWORD Spooler::loadMonitor(const std::u16string& name, const std::u16string& dll)
{
    DWORD error = ERROR_SUCCESS;
    std::shared_ptr<const Monitor> monitor = Monitor::load(name, dll, error);
    if (!monitor)
        return error;
    std::lock_guard<std::mutex> lock(mutex_);
    monitors_.push_back(std::move(monitor));
    return ERROR_SUCCESS;
}

bool Spooler::shutdown(DWORD limitMs)
{
    if (!queues_.stop(limitMs))
        return false;
    std::vector<OpenHandle> handles;
    std::vector<std::shared_ptr<const Monitor>> monitors;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& [id, handle] : handles_)
            handles.push_back(std::move(handle));
        handles_.clear();
        monitors.swap(monitors_);
    }
    release(handles);
    while (!monitors.empty())
        monitors.pop_back();
    return true;
}

void Spooler::release(std::vector<OpenHandle>& handles)
{
    for (OpenHandle& handle : handles)
        if (handle.printer)
            queues_.closeHandle(*handle.printer);
    handles.clear(); // XcvClosePort for the Xcv handles
}

std::vector<std::shared_ptr<const Monitor>> Spooler::monitors() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return monitors_;
}

std::shared_ptr<const Monitor> Spooler::findMonitor(std::u16string_view name) const
{
    for (const auto& monitor : monitors())
        if (sameName(monitor->name(), name))
            return monitor;
    return nullptr;
}

std::shared_ptr<const Monitor> Spooler::portOwner(std::u16string_view port) const
{
    for (const auto& monitor : monitors())
        if (monitor->ownsPort(port))
            return monitor;
    return nullptr;
}

DWORD Spooler::enumPorts(const OptString& server, DWORD level, std::vector<PortRecord>& ports) const
{
    if (!isLocalServer(server))
        return ERROR_INVALID_NAME;
    if (level != 1 && level != 2)
        return ERROR_INVALID_LEVEL;
    ports.clear();
    for (const auto& monitor : monitors()) {
        std::vector<PortRecord> own;
        if (monitor->enumPorts(own) == ERROR_SUCCESS) // a failing monitor does not hide the others' ports
            ports.insert(ports.end(), own.begin(), own.end());
    }
    return ERROR_SUCCESS;
}

bool Spooler::portStatus(std::u16string_view port, DWORD& status, std::u16string& text) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = portStatus_.find(foldName(port));
    if (it == portStatus_.end())
        return false;
    status = it->second.status;
    text = it->second.text;
    return true;
}

DWORD Spooler::setPort(const Caller& caller, const OptString& server, const std::u16string& port, DWORD level,
                       const PORT_INFO_3W& status)
{
    if (!isLocalServer(server))
        return ERROR_INVALID_NAME;
    if (!caller.admin)
        return ERROR_ACCESS_DENIED;
    if (level != 3)
        return ERROR_INVALID_LEVEL;
    if (!portOwner(port))
        return ERROR_UNKNOWN_PORT;
    std::u16string text = status.pszStatus ? std::u16string(status.pszStatus) : std::u16string();
    std::lock_guard<std::mutex> lock(mutex_);
    if (status.dwStatus == 0 && text.empty())
        portStatus_.erase(foldName(port));
    else
        portStatus_[foldName(port)] = {status.dwStatus, text, status.dwSeverity};
    return ERROR_SUCCESS;
}

DWORD Spooler::deletePort(const Caller& caller, const OptString& server, const std::u16string& port)
{
    if (!isLocalServer(server))
        return ERROR_INVALID_NAME;
    if (!caller.admin)
        return ERROR_ACCESS_DENIED;
    std::shared_ptr<const Monitor> owner = portOwner(port);
    if (!owner)
        return ERROR_UNKNOWN_PORT;
    if (port.size() > kDeletePortNameLimit)
        return ERROR_INVALID_PARAMETER;
    if (portInUse(port))
        return ERROR_BUSY;
    // The monitor deletes its own ports through its Xcv method "DeletePort".
    std::shared_ptr<XcvChannel> channel;
    DWORD error = openXcv(owner, owner->name(), SERVER_ACCESS_ADMINISTER, channel);
    if (error != ERROR_SUCCESS)
        return error;
    DELETE_PORT_DATA_1 data{};
    port.copy(data.psztPortName, port.size());
    data.dwVersion = 1;
    DWORD needed = 0;
    DWORD status = ERROR_SUCCESS;
    if (!owner->xcvData(channel->xcv(), W("DeletePort"), reinterpret_cast<PBYTE>(&data), sizeof data, nullptr, 0,
                        &needed, status))
        return ERROR_NOT_SUPPORTED;
    if (status == ERROR_SUCCESS) {
        std::lock_guard<std::mutex> lock(mutex_);
        portStatus_.erase(foldName(port));
    }
    return status;
}

bool Spooler::portInUse(std::u16string_view port) const
{
    std::vector<PrinterRecord> printers;
    queues_.enumPrinters(PRINTER_ENUM_LOCAL, printers);
    for (const PrinterRecord& printer : printers)
        if (printer.fields.port && sameName(*printer.fields.port, port))
            return true;
    return false;
}

DWORD Spooler::enumMonitors(const OptString& server, DWORD level, std::vector<MonitorRecord>& monitors) const
{
    if (!isLocalServer(server))
        return ERROR_INVALID_NAME;
    if (level != 1 && level != 2)
        return ERROR_INVALID_LEVEL;
    monitors.clear();
    for (const auto& monitor : this->monitors())
        monitors.push_back({monitor->name(), kEnvironment, monitor->dll()});
    return ERROR_SUCCESS;
}

DWORD Spooler::addMonitor(const Caller& caller, const OptString& server, DWORD level, const std::u16string& name,
                          const OptString& environment, const std::u16string& dll)
{
    if (!isLocalServer(server))
        return ERROR_INVALID_NAME;
    if (!caller.admin)
        return ERROR_ACCESS_DENIED;
    if (level != 2)
        return ERROR_INVALID_LEVEL;
    if (!isOurEnvironment(environment))
        return ERROR_INVALID_ENVIRONMENT;
    if (name.empty() || dll.empty())
        return ERROR_INVALID_PARAMETER;
    if (name.find(u'\\') != std::u16string::npos)
        return ERROR_INVALID_NAME;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& monitor : monitors_)
            if (sameName(monitor->name(), name))
                return ERROR_PRINT_MONITOR_ALREADY_INSTALLED;
        if (!loading_.insert(foldName(name)).second)
            return ERROR_PRINT_MONITOR_ALREADY_INSTALLED;
    }
    bool created = false;
    DWORD error = writeDriver(name, dll, created);
    if (error == ERROR_SUCCESS)
        error = loadMonitor(name, dll);
    if (error != ERROR_SUCCESS && created)
        removeRegistration(name);
    std::lock_guard<std::mutex> lock(mutex_);
    loading_.erase(foldName(name));
    return error;
}

DWORD Spooler::deleteMonitor(const Caller& caller, const OptString& server, const OptString& environment,
                             const std::u16string& name)
{
    if (!isLocalServer(server))
        return ERROR_INVALID_NAME;
    if (!caller.admin)
        return ERROR_ACCESS_DENIED;
    if (!isOurEnvironment(environment))
        return ERROR_INVALID_ENVIRONMENT;
    std::shared_ptr<const Monitor> removed;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = monitors_.begin(); it != monitors_.end(); ++it)
            if (sameName((*it)->name(), name)) {
                removed = std::move(*it);
                monitors_.erase(it);
                break;
            }
    }
    if (!removed)
        return ERROR_UNKNOWN_PRINT_MONITOR;
    removeRegistration(removed->name());
    // Shutdown runs here, or when the last Xcv handle open on the monitor is closed.
    removed.reset();
    return ERROR_SUCCESS;
}

DWORD Spooler::openXcv(std::shared_ptr<const Monitor> monitor, const std::u16string& object, ACCESS_MASK granted,
                       std::shared_ptr<XcvChannel>& channel) const
{
    HANDLE xcv = nullptr;
    DWORD error = monitor->xcvOpen(object, granted, xcv);
    if (error == ERROR_SUCCESS)
        channel = std::make_shared<XcvChannel>(std::move(monitor), xcv);
    return error;
}

uint32_t Spooler::insertHandle(OpenHandle handle)
{
    std::lock_guard<std::mutex> lock(mutex_);
    uint32_t id;
    do
        id = nextHandle_++;
    while (id == 0 || handles_.count(id));
    handles_[id] = std::move(handle);
    return id;
}

DWORD Spooler::openPrinter(const Caller& caller, const OptString& name, bool hasDefaults, ACCESS_MASK desiredAccess,
                           const pal::spool::OptBlob& devMode, uint32_t& handle, pal::spool::HandleKind& kind)
{
    if (!name)
        return ERROR_INVALID_PRINTER_NAME;
    std::optional<XcvTarget> target = parseXcvName(*name);
    if (!target) {
        std::shared_ptr<PrinterHandle> printer;
        DWORD error = queues_.openPrinter(caller, *name, hasDefaults, desiredAccess, devMode, printer);
        if (error != ERROR_SUCCESS)
            return error;
        handle = insertHandle({caller.session, nullptr, std::move(printer)});
        kind = pal::spool::HandleKind::Printer;
        return ERROR_SUCCESS;
    }
    std::shared_ptr<const Monitor> monitor = target->isMonitor ? findMonitor(target->name) : portOwner(target->name);
    if (!monitor)
        return ERROR_INVALID_PRINTER_NAME;
    ACCESS_MASK granted = hasDefaults ? desiredAccess : 0;
    if (!caller.admin)
        granted &= ~ACCESS_MASK(SERVER_ACCESS_ADMINISTER);
    std::shared_ptr<XcvChannel> channel;
    DWORD error = openXcv(std::move(monitor), target->name, granted, channel);
    if (error != ERROR_SUCCESS)
        return error;
    handle = insertHandle({caller.session, std::move(channel), nullptr});
    kind = pal::spool::HandleKind::Xcv;
    return ERROR_SUCCESS;
}

DWORD Spooler::addPrinter(const Caller& caller, const OptString& server, const pal::spool::PrinterFields& fields,
                          uint32_t& handle)
{
    if (!isLocalServer(server))
        return ERROR_INVALID_NAME;
    std::shared_ptr<PrinterHandle> printer;
    DWORD error = queues_.addPrinter(caller, fields, printer);
    if (error == ERROR_SUCCESS)
        handle = insertHandle({caller.session, nullptr, std::move(printer)});
    return error;
}

DWORD Spooler::enumPrinters(DWORD flags, const OptString& name, std::vector<PrinterRecord>& printers) const
{
    if (!isLocalServer(name))
        return ERROR_INVALID_NAME;
    return queues_.enumPrinters(flags, printers);
}

DWORD Spooler::closePrinter(const Caller& caller, uint32_t handle)
{
    std::vector<OpenHandle> closing;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = handles_.find(handle);
        if (it == handles_.end() || it->second.session != caller.session)
            return ERROR_INVALID_HANDLE;
        closing.push_back(std::move(it->second));
        handles_.erase(it);
    }
    release(closing);
    return ERROR_SUCCESS;
}

std::shared_ptr<PrinterHandle> Spooler::printerHandle(const Caller& caller, uint32_t handle) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = handles_.find(handle);
    if (it == handles_.end() || it->second.session != caller.session)
        return nullptr;
    return it->second.printer;
}

std::shared_ptr<XcvChannel> Spooler::xcvChannel(const Caller& caller, uint32_t handle) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = handles_.find(handle);
    if (it == handles_.end() || it->second.session != caller.session)
        return nullptr;
    return it->second.xcv;
}

// Xcv "DeletePort" of a port that a printer uses.
bool Spooler::deletesUsedPort(const XcvCall& call) const
{
    if (std::u16string_view(call.method) != u"DeletePort" || !call.input || call.cbInput < sizeof(DELETE_PORT_DATA_1))
        return false;
    const auto* data = reinterpret_cast<const DELETE_PORT_DATA_1*>(call.input);
    size_t length = 0;
    while (length < std::size(data->psztPortName) && data->psztPortName[length])
        ++length;
    return portInUse(std::u16string_view(data->psztPortName, length));
}

DWORD Spooler::xcvData(const Caller& caller, uint32_t handle, const XcvCall& call, DWORD& status)
{
    std::shared_ptr<XcvChannel> channel = xcvChannel(caller, handle);
    if (!channel)
        return ERROR_INVALID_HANDLE;
    if (!call.method)
        return ERROR_INVALID_PARAMETER;
    if (deletesUsedPort(call)) {
        status = ERROR_BUSY;
        return ERROR_SUCCESS;
    }
    if (!channel->monitor().xcvData(channel->xcv(), call.method, call.input, call.cbInput, call.output,
                                    call.cbOutput, call.needed, status))
        return ERROR_NOT_SUPPORTED;
    return ERROR_SUCCESS;
}

void Spooler::closeSession(uint64_t session)
{
    std::vector<OpenHandle> closing;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = handles_.begin(); it != handles_.end();) {
            if (it->second.session == session) {
                closing.push_back(std::move(it->second));
                it = handles_.erase(it);
            } else {
                ++it;
            }
        }
    }
    release(closing);
}

} // namespace spoolsv
