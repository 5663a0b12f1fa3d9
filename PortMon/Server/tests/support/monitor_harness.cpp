#include "monitor_harness.h"

#include <cstring>

#include <gtest/gtest.h>

namespace montest {

const std::u16string kMonitorKey = JTMX_MONITOR_KEY_PATH;

namespace {

HKEY createKeyByHand(const std::u16string& key)
{
    HKEY handle = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle,
                              nullptr),
              ERROR_SUCCESS);
    return handle;
}

} // namespace

LoadedMonitor::~LoadedMonitor()
{
    shutdown();
}

bool LoadedMonitor::load()
{
    if (!rootKey_)
        rootKey_ = createKeyByHand(kMonitorKey);
    init_.cbSize = sizeof(init_);
    init_.hSpooler = this;
    init_.hckRegistryRoot = rootKey_;
    init_.pMonitorReg = const_cast<PMONITORREG>(palMonitorRegistry());
    init_.bLocal = TRUE;
    SetLastError(ERROR_SUCCESS);
    table_ = InitializePrintMonitor2(&init_, &handle_);
    error_ = table_ ? 0 : GetLastError();
    return table_ != nullptr;
}

void LoadedMonitor::shutdown()
{
    if (table_)
        table_->pfnShutdown(handle_);
    table_ = nullptr;
    handle_ = nullptr;
    if (rootKey_)
        RegCloseKey(rootKey_);
    rootKey_ = nullptr;
}

HANDLE LoadedMonitor::xcvOpen(const std::u16string& object, ACCESS_MASK access)
{
    HANDLE xcv = nullptr;
    EXPECT_TRUE(table_->pfnXcvOpenPort(handle_, object.c_str(), access, &xcv));
    return xcv;
}

DWORD LoadedMonitor::xcv(const std::u16string& object, LPCWSTR method, const void* input, DWORD cbInput,
                         void* output, DWORD cbOutput, DWORD* needed, ACCESS_MASK access)
{
    HANDLE xcv = xcvOpen(object, access);
    if (!xcv)
        return ~0u;
    DWORD result = table_->pfnXcvDataPort(xcv, method, (PBYTE)input, cbInput, (PBYTE)output, cbOutput, needed);
    EXPECT_TRUE(table_->pfnXcvClosePort(xcv));
    return result;
}

PPortEntry LoadedMonitor::port(const std::u16string& name) const
{
    for (PPortEntry entry = context()->pPortList; entry; entry = entry->pNext)
        if (name == entry->pszPortName)
            return entry;
    return nullptr;
}

std::u16string portKey(const std::u16string& port, bool timeouts)
{
    return kMonitorKey + u"\\Ports\\" + port + (timeouts ? u"\\Timeouts" : u"");
}

void writeDword(const std::u16string& key, const std::u16string& value, DWORD data)
{
    HKEY handle = createKeyByHand(key);
    EXPECT_EQ(RegSetValueExW(handle, value.c_str(), 0, REG_DWORD, (const BYTE*)&data, sizeof(data)), ERROR_SUCCESS);
    RegCloseKey(handle);
}

void writeString(const std::u16string& key, const std::u16string& value, const std::u16string& text)
{
    HKEY handle = createKeyByHand(key);
    EXPECT_EQ(RegSetValueExW(handle, value.c_str(), 0, REG_SZ, (const BYTE*)text.c_str(),
                             DWORD((text.size() + 1) * sizeof(WCHAR))),
              ERROR_SUCCESS);
    RegCloseKey(handle);
}

bool readValue(const std::u16string& key, const std::u16string& value, DWORD& type, std::vector<BYTE>& data)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    DWORD size = 0;
    LONG status = RegQueryValueExW(handle, value.c_str(), nullptr, &type, nullptr, &size);
    data.assign(size, 0);
    if (status == ERROR_SUCCESS && size)
        status = RegQueryValueExW(handle, value.c_str(), nullptr, &type, data.data(), &size);
    RegCloseKey(handle);
    return status == ERROR_SUCCESS;
}

bool readDword(const std::u16string& key, const std::u16string& value, DWORD& data)
{
    DWORD type = 0;
    std::vector<BYTE> bytes;
    if (!readValue(key, value, type, bytes) || type != REG_DWORD || bytes.size() != 4)
        return false;
    std::memcpy(&data, bytes.data(), 4);
    return true;
}

bool keyExists(const std::u16string& key)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

void deleteValue(const std::u16string& key, const std::u16string& value)
{
    HKEY handle = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_ALL_ACCESS, &handle), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(handle, value.c_str()), ERROR_SUCCESS);
    RegCloseKey(handle);
}

void writePortKeys(const PortConfigData& config)
{
    std::u16string name = config.sztPortName;
    std::u16string port = portKey(name);
    std::u16string timeouts = portKey(name, true);
    writeString(port, u"ServerName", config.sztServerName);
    writeDword(port, u"Protocol", config.dwProtocol);
    writeDword(port, u"PortNumber", config.dwPortNumber);
    writeString(port, u"Queue", config.sztQueue);
    writeDword(port, u"TransferMode", config.dwTransferMode);
    writeDword(port, u"Banner", config.dwBanner);
    writeDword(timeouts, u"RetryInfinity", config.dwRetryInfinity);
    writeDword(timeouts, u"RetryCount", config.dwRetryCount);
    writeDword(timeouts, u"RetryInterval", config.dwRetryInterval);
    writeDword(timeouts, u"LprRetryCount", config.dwLprRetryCount);
    writeDword(timeouts, u"LprRetryTimeout", config.dwLprRetryTimeout);
    writeDword(timeouts, u"WSAEventTimeout", config.dwWSAEventTimeout);
    writeDword(timeouts, u"LprSendInterval", config.dwLprSendInterval);
}

TraceCapture::TraceCapture()
{
    palSetDebugOutputCapture(&TraceCapture::capture, this);
}

TraceCapture::~TraceCapture()
{
    palSetDebugOutputCapture(nullptr, nullptr);
}

void TraceCapture::capture(LPCWSTR text, void* context)
{
    auto* self = static_cast<TraceCapture*>(context);
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->lines_.emplace_back(text);
}

std::vector<std::u16string> TraceCapture::lines() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

std::vector<BYTE> bytesOf(const void* data, size_t size)
{
    const BYTE* begin = static_cast<const BYTE*>(data);
    return std::vector<BYTE>(begin, begin + size);
}

std::u16string narrowToWide(const std::string& text)
{
    return std::u16string(text.begin(), text.end());
}

std::unique_ptr<devsim::RawSink> loopbackSink(devsim::RawSinkOptions options)
{
    options.address = "127.0.0.1";
    options.port = 0;
    auto sink = std::make_unique<devsim::RawSink>(options);
    std::string error;
    if (!sink->start(error)) {
        ADD_FAILURE() << "the RAW sink did not start: " << error;
        return nullptr;
    }
    return sink;
}

} // namespace montest
