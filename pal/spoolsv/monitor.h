// A print monitor loaded by the host: its module, its MONITORINIT and the MONITOR2 table it
// returned. The object is immutable once loaded, so its slots are called without any lock.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "pal/registry.h"
#include "pal/winspool.h"
#include "winspool/winspool_wire.h"

namespace spoolsv {

using pal::spool::PortRecord;

// HKLM\<kMonitorsKey>\<name> holds a monitor's registration (value "Driver") and its settings.
inline constexpr const WCHAR* kMonitorsKey = W("SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors");

std::u16string monitorKeyPath(const std::u16string& name);

class Monitor {
public:
    // Loads the module, opens the monitor's key and calls its InitializePrintMonitor2. NULL with
    // error set when any step fails.
    static std::shared_ptr<Monitor> load(const std::u16string& name, const std::u16string& dll, DWORD& error);
    // Shutdown, then the key is closed and the module freed.
    ~Monitor();
    Monitor(const Monitor&) = delete;
    Monitor& operator=(const Monitor&) = delete;

    const std::u16string& name() const { return name_; }
    const std::u16string& dll() const { return dll_; }

    // The monitor's ports at level 2; an empty list when it has no EnumPorts.
    DWORD enumPorts(std::vector<PortRecord>& ports) const;
    bool ownsPort(std::u16string_view port) const;

    // XcvOpenPort; 0 and the monitor's Xcv handle, or the error.
    DWORD xcvOpen(const std::u16string& object, ACCESS_MASK granted, HANDLE& xcv) const;
    // XcvDataPort; false when the monitor has no such slot.
    bool xcvData(HANDLE xcv, LPCWSTR method, PBYTE input, DWORD cbInput, PBYTE output, DWORD cbOutput,
                 PDWORD needed, DWORD& status) const;
    void xcvClose(HANDLE xcv) const;

    // The port slots that deliver jobs. openPort: 0 and the port handle, or the error.
    DWORD openPort(const std::u16string& port, HANDLE& handle) const;
    void closePort(HANDLE handle) const;
    BOOL startDocPort(HANDLE port, const std::u16string& printer, DWORD jobId, DOC_INFO_1W& document) const;
    BOOL writePort(HANDLE port, LPBYTE buffer, DWORD size, DWORD& written) const;
    BOOL endDocPort(HANDLE port) const;

private:
    Monitor(std::u16string name, std::u16string dll) : name_(std::move(name)), dll_(std::move(dll)) {}
    DWORD initialize();
    // A slot of the table, or NULL when the table lacks it (NULL entry, or cbSize too small).
    template <class Slot>
    Slot slot(Slot MONITOR2::*member) const;

    const std::u16string name_;
    const std::u16string dll_;
    HMODULE module_ = nullptr;
    HKEY key_ = nullptr;
    MONITORINIT init_{};
    LPMONITOR2 table_ = nullptr;
    HANDLE handle_ = nullptr;
};

} // namespace spoolsv
