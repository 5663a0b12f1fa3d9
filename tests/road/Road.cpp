#include "Road.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace road {

namespace {

void setWide(WCHAR* field, size_t chars, const std::u16string& text)
{
    std::memset(field, 0, chars * sizeof(WCHAR));
    std::memcpy(field, text.data(), std::min(text.size(), chars - 1) * sizeof(WCHAR));
}

// A printer or Xcv handle, closed at the end of the scope.
class PrinterHandle {
public:
    explicit PrinterHandle(const std::u16string& name, ACCESS_MASK access)
    {
        std::u16string copy = name;
        PRINTER_DEFAULTSW defaults = {nullptr, nullptr, access};
        if (!OpenPrinterW(copy.data(), &handle_, &defaults))
            handle_ = nullptr;
    }
    ~PrinterHandle()
    {
        if (handle_)
            ClosePrinter(handle_);
    }
    PrinterHandle(const PrinterHandle&) = delete;
    PrinterHandle& operator=(const PrinterHandle&) = delete;
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_ = nullptr;
};

PortConfigData uiDefaults(const std::u16string& name, const std::u16string& address)
{
    PortConfigData config;
    std::memset(&config, 0, sizeof(config));
    setWide(config.sztPortName, _countof(config.sztPortName), name);
    setWide(config.sztServerName, _countof(config.sztServerName), address);
    setWide(config.sztQueue, _countof(config.sztQueue), JTRK_DEFAULT_QUEUE);
    config.dwProtocol = JTRK_DEFAULT_PROTOCOL;
    config.dwPortNumber = JTRK_DEFAULT_PORTNUMBER;
    config.dwRetryInfinity = JTRK_DEFAULT_RETRYINFINITY;
    config.dwRetryCount = JTRK_DEFAULT_RETRYCOUNT;
    config.dwRetryInterval = JTRK_DEFAULT_RETRYINTERVAL;
    config.dwLprRetryCount = JTRK_DEFAULT_LPRRETRYCOUNT;
    config.dwLprRetryTimeout = JTRK_DEFAULT_LPRRETRYTIMEOUT;
    config.dwWSAEventTimeout = JTRK_DEFAULT_WSAEVENTTIMEOUT;
    config.dwLprSendInterval = JTRK_DEFAULT_LPRSENDINTERVAL;
    config.dwLprRecvCount = JTRK_DEFAULT_LPRRECVCOUNT;
    config.dwLprRecvInterval = JTRK_DEFAULT_LPRRECVINTERVAL;
    config.dwLprCheckJobStatus = JTRK_DEFAULT_LPRCHECKJOBSTATUS;
    return config;
}

} // namespace

bool addMonitor()
{
    std::u16string name = kMonitorName;
    std::u16string dll = JTRK_MONITOR_DLL_NAME;
    MONITOR_INFO_2W info = {name.data(), nullptr, dll.data()};
    return AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&info)) != FALSE;
}

DWORD addPort(const PortConfigData& config)
{
    PrinterHandle xcv(u",XcvMonitor " + kMonitorName, SERVER_ACCESS_ADMINISTER);
    if (!xcv.get())
        return ~0u;
    PortConfigData input = config;
    DWORD needed = 0;
    DWORD status = 0;
    if (!XcvDataW(xcv.get(), JTRK_XCV_ADDPORT, reinterpret_cast<PBYTE>(&input), sizeof(input), nullptr, 0, &needed,
                  &status))
        return ~0u;
    return status;
}

PortConfigData rawPort(const std::u16string& name, const std::u16string& address, uint16_t port)
{
    PortConfigData config = uiDefaults(name, address);
    config.dwPortNumber = port;
    return config;
}

PortConfigData lprPort(const std::u16string& name, const std::u16string& address, DWORD transferMode)
{
    PortConfigData config = uiDefaults(name, address);
    config.dwProtocol = PROTOCOL_LPR_TYPE;
    config.dwTransferMode = transferMode;
    return config;
}

DWORD addPrinter(const std::u16string& name, const std::u16string& port)
{
    std::u16string printerName = name;
    std::u16string portName = port;
    std::u16string driverName = u"Generic";
    PRINTER_INFO_2W info{};
    info.pPrinterName = printerName.data();
    info.pPortName = portName.data();
    info.pDriverName = driverName.data();
    HANDLE handle = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
    if (!handle)
        return GetLastError();
    ClosePrinter(handle);
    return 0;
}

DWORD submit(const std::u16string& printer, const std::vector<BYTE>& data, const std::u16string& document,
             size_t piece)
{
    PrinterHandle handle(printer, PRINTER_ACCESS_USE);
    if (!handle.get())
        return 0;
    std::u16string name = document;
    std::u16string datatype = u"RAW";
    DOC_INFO_1W info = {name.data(), nullptr, datatype.data()};
    DWORD job = StartDocPrinterW(handle.get(), 1, reinterpret_cast<LPBYTE>(&info));
    if (!job)
        return 0;
    for (size_t offset = 0; offset < data.size(); offset += piece) {
        DWORD length = DWORD(std::min(piece, data.size() - offset));
        DWORD written = 0;
        if (!WritePrinter(handle.get(), const_cast<BYTE*>(data.data()) + offset, length, &written) ||
            written != length)
            return 0;
    }
    return EndDocPrinter(handle.get()) ? job : 0;
}

bool jobStatus(const std::u16string& printer, DWORD job, DWORD& status)
{
    PrinterHandle handle(printer, PRINTER_ACCESS_USE);
    DWORD needed = 0;
    GetJobW(handle.get(), job, 1, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed);
    if (needed == 0 || !GetJobW(handle.get(), job, 1, buffer.data(), needed, &needed))
        return false;
    status = reinterpret_cast<const JOB_INFO_1W*>(buffer.data())->Status;
    return true;
}

bool writeRootFile(const std::string& relative, const std::string& text)
{
    const char* root = std::getenv("PAL_ROOT");
    if (!root)
        return false;
    std::filesystem::path path = std::filesystem::path(root) / relative;
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    return bool(file);
}

} // namespace road
