// Unit-test harness of the port monitor: the monitor loaded in the test process with registry
// callbacks over the platform registry, port keys written by hand, records, trace and event log.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "RawSink.h"
#include "jtrkmon.h"
#include "port_defaults.h"
#include "portsettings.h"

namespace montest {

extern const std::u16string kMonitorKey;  // SYSTEM\...\Monitors\TALLY-DESK Output Beacon Port2

// The monitor as the spooler loads it: its key, MONITORINIT and the returned handle and table.
class LoadedMonitor {
public:
    LoadedMonitor() = default;
    ~LoadedMonitor();
    LoadedMonitor(const LoadedMonitor&) = delete;
    LoadedMonitor& operator=(const LoadedMonitor&) = delete;

    // InitializePrintMonitor2; false when it returned NULL (the last error is kept in error()).
    bool load();
    void shutdown();

    PMonitorContext context() const { return (PMonitorContext)handle_; }
    HANDLE handle() const { return handle_; }
    LPMONITOR2 table() const { return table_; }
    DWORD error() const { return error_; }
    PMONITORINIT init() { return &init_; }

    HANDLE xcvOpen(const std::u16string& object, ACCESS_MASK access = SERVER_ACCESS_ADMINISTER);
    // XcvDataPort on a fresh context; needed receives the out-size when given.
    DWORD xcv(const std::u16string& object, LPCWSTR method, const void* input, DWORD cbInput, void* output,
              DWORD cbOutput, DWORD* needed = nullptr, ACCESS_MASK access = SERVER_ACCESS_ADMINISTER);
    PPortEntry port(const std::u16string& name) const;

private:
    HKEY rootKey_ = nullptr;
    MONITORINIT init_ = {};
    HANDLE handle_ = nullptr;
    LPMONITOR2 table_ = nullptr;
    DWORD error_ = 0;
};

// Registry access below the monitor's key, by hand.
std::u16string portKey(const std::u16string& port, bool timeouts = false);
void writeDword(const std::u16string& key, const std::u16string& value, DWORD data);
void writeString(const std::u16string& key, const std::u16string& value, const std::u16string& text);
bool readDword(const std::u16string& key, const std::u16string& value, DWORD& data);
bool readValue(const std::u16string& key, const std::u16string& value, DWORD& type, std::vector<BYTE>& data);
bool keyExists(const std::u16string& key);
void deleteValue(const std::u16string& key, const std::u16string& value);
// Writes every registry value of a port as AddPort would, from the record.
void writePortKeys(const PortConfigData& config);

// Strings sent to the debugger output while it lives.
class TraceCapture {
public:
    TraceCapture();
    ~TraceCapture();
    std::vector<std::u16string> lines() const;

private:
    static void capture(LPCWSTR text, void* context);
    mutable std::mutex mutex_;
    std::vector<std::u16string> lines_;
};

std::vector<BYTE> bytesOf(const void* data, size_t size);
std::u16string narrowToWide(const std::string& text);

// A RAW sink on 127.0.0.1 at a port of the system's choosing, started; null (and a test failure)
// when it cannot start.
std::unique_ptr<devsim::RawSink> loopbackSink(devsim::RawSinkOptions options = {});

} // namespace montest
