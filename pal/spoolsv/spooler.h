// The spooler's state and its operations: loaded monitors, port status, open handles. One mutex
// guards the state; it is never held while a monitor slot runs, because a monitor may call back
// into the spooler (in-process) from any slot.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "caller.h"
#include "monitor.h"
#include "queues.h"

namespace spoolsv {

using pal::spool::MonitorRecord;
using pal::spool::OptString;

// An open Xcv channel to a monitor; XcvClosePort runs when the last user lets it go.
class XcvChannel {
public:
    XcvChannel(std::shared_ptr<const Monitor> monitor, HANDLE xcv) : monitor_(std::move(monitor)), xcv_(xcv) {}
    ~XcvChannel() { monitor_->xcvClose(xcv_); }
    XcvChannel(const XcvChannel&) = delete;
    XcvChannel& operator=(const XcvChannel&) = delete;

    const Monitor& monitor() const { return *monitor_; }
    HANDLE xcv() const { return xcv_; }

private:
    const std::shared_ptr<const Monitor> monitor_;
    const HANDLE xcv_;
};

// The parts of an XcvDataW call that the monitor sees.
struct XcvCall {
    LPCWSTR method = nullptr;
    PBYTE input = nullptr;
    DWORD cbInput = 0;
    PBYTE output = nullptr;
    DWORD cbOutput = 0;
    PDWORD needed = nullptr;
};

class Spooler : public PortDirectory {
public:
    Spooler() = default;
    Spooler(const Spooler&) = delete;
    Spooler& operator=(const Spooler&) = delete;

    // Loads every monitor registered under the Monitors key; failures are reported on stderr and
    // leave the monitor out.
    void loadRegisteredMonitors();
    // Loads the printers and their jobs (spool folder) and starts delivering; after the monitors.
    void startQueues(const std::string& spoolFolder) { queues_.start(spoolFolder); }
    // Ends the deliveries, closes every handle, then shuts the monitors down and unloads them.
    // False, with nothing else done, when a delivery is still in its monitor after limitMs.
    bool shutdown(DWORD limitMs = INFINITE);

    std::shared_ptr<const Monitor> portOwner(std::u16string_view port) const override;
    bool portStatus(std::u16string_view port, DWORD& status, std::u16string& text) const override;

    DWORD enumPorts(const OptString& server, DWORD level, std::vector<PortRecord>& ports) const;
    DWORD setPort(const Caller& caller, const OptString& server, const std::u16string& port, DWORD level,
                  const PORT_INFO_3W& status);
    DWORD deletePort(const Caller& caller, const OptString& server, const std::u16string& port);
    // A printer sits on the port: its monitor is not asked to delete it (ERROR_BUSY).
    bool portInUse(std::u16string_view port) const;
    bool deletesUsedPort(const XcvCall& call) const;
    DWORD enumMonitors(const OptString& server, DWORD level, std::vector<MonitorRecord>& monitors) const;
    DWORD addMonitor(const Caller& caller, const OptString& server, DWORD level, const std::u16string& name,
                     const OptString& environment, const std::u16string& dll);
    DWORD deleteMonitor(const Caller& caller, const OptString& server, const OptString& environment,
                        const std::u16string& name);

    // OpenPrinterW: ",XcvMonitor M", ",XcvPort P" or a printer, optionally after "\\server\".
    DWORD openPrinter(const Caller& caller, const OptString& name, bool hasDefaults, ACCESS_MASK desiredAccess,
                      const pal::spool::OptBlob& devMode,
                      uint32_t& handle, pal::spool::HandleKind& kind);
    DWORD addPrinter(const Caller& caller, const OptString& server, const pal::spool::PrinterFields& fields,
                     uint32_t& handle);
    DWORD enumPrinters(DWORD flags, const OptString& name, std::vector<PrinterRecord>& printers) const;
    // The printer behind a handle of the caller's session, or NULL.
    std::shared_ptr<PrinterHandle> printerHandle(const Caller& caller, uint32_t handle) const;
    Queues& queues() { return queues_; }
    DWORD closePrinter(const Caller& caller, uint32_t handle);
    // XcvDataW: 0 with the monitor's status, or the error of the call itself.
    DWORD xcvData(const Caller& caller, uint32_t handle, const XcvCall& call, DWORD& status);
    // Closes the handles a session left open (its connection ended).
    void closeSession(uint64_t session);

private:
    struct OpenHandle {
        uint64_t session;
        std::shared_ptr<XcvChannel> xcv;
        std::shared_ptr<PrinterHandle> printer;
    };
    struct PortStatus {
        DWORD status;
        std::u16string text;
        DWORD severity;
    };

    std::vector<std::shared_ptr<const Monitor>> monitors() const;
    std::shared_ptr<const Monitor> findMonitor(std::u16string_view name) const;
    DWORD loadMonitor(const std::u16string& name, const std::u16string& dll);
    std::shared_ptr<XcvChannel> xcvChannel(const Caller& caller, uint32_t handle) const;
    uint32_t insertHandle(OpenHandle handle);
    // Closes what the handles held, outside the lock (monitors and queues are called).
    void release(std::vector<OpenHandle>& handles);
    DWORD openXcv(std::shared_ptr<const Monitor> monitor, const std::u16string& object, ACCESS_MASK granted,
                  std::shared_ptr<XcvChannel>& channel) const;

    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<const Monitor>> monitors_;
    std::set<std::u16string> loading_; // upper-cased names of monitors being added
    std::map<std::u16string, PortStatus> portStatus_; // by upper-cased port name
    std::map<uint32_t, OpenHandle> handles_;
    uint32_t nextHandle_ = 1;
    Queues queues_{*this}; // last: stopped before the monitors go
};

} // namespace spoolsv
