// Harness of the job-flow tests: the monitor loaded with one port and opened as the spooler opens
// it, the spooler double (Xcv calls go to the monitor's own Xcv methods), the service's pipe played
// by the pipe stub, and the job reports and event-log entries read back.
#pragma once

#include <string>
#include <vector>

#include "JobMessages.h"
#include "JobPipeStub.h"
#include "TempRoot.h"
#include "monitor_harness.h"
#include "spooler_double.h"

#include "pal/eventlog.h"

namespace montest {

// A JobEventRequest as it came through the pipe, its fields read from the bytes.
struct JobReport {
    std::vector<BYTE> bytes;
    DWORD size = 0;
    DWORD messageId = 0;
    DWORD flags = 0;
    std::u16string printer;
    DWORD jobId = 0;
    std::string label;
    std::vector<BYTE> clientJobId;
    std::u16string port;
    DWORD nup = 0;
};
JobReport decodeReport(const std::vector<BYTE>& bytes);

// A RAW port at address:port with the UI's defaults and short waits.
PortConfigData rawPortConfig(const std::u16string& name, uint16_t devicePort, const std::u16string& address = u"127.0.0.1");
// An LPR port at address with the UI's defaults and short waits.
PortConfigData lprPortConfig(const std::u16string& name, DWORD transferMode, const std::u16string& address = u"127.0.0.1");

class JobHarness {
public:
    static constexpr const char16_t* kPrinter = u"PRN";

    JobHarness();
    ~JobHarness();
    JobHarness(const JobHarness&) = delete;
    JobHarness& operator=(const JobHarness&) = delete;

    // A file below the platform root, written whole.
    void writeRootFile(const std::string& relative, const std::string& text) const;
    // The device at address answers echoes ("reply") or stays silent ("silent").
    void setEcho(const std::string& address, const std::string& answer) const;
    // connect() to address:from reaches address:to.
    void redirect(const std::string& address, uint16_t from, uint16_t to) const;
    bool startService();

    // Registers the port, loads the monitor and opens the port; false when a step failed.
    bool openPort(const PortConfigData& config);
    PPortEntry entry() const { return (PPortEntry)port; }

    // A job of the spooler double; its Size is the job's size.
    void addJob(DWORD jobId, DWORD size, const std::u16string& document = u"doc");
    BOOL startDoc(DWORD jobId, const std::u16string& printer = kPrinter);
    // WritePort with a copy of the bytes (the spooler's buffer is writable).
    BOOL write(const std::vector<BYTE>& data, DWORD* written);
    // The data in pieces of the given sizes, round and round; false when a write failed or took less.
    bool writeAll(const std::vector<BYTE>& data, const std::vector<size_t>& pieces);
    BOOL endDoc();

    std::vector<JobReport> reports() const;
    bool waitForReports(size_t count) const;
    // Event-log entries of the monitor's source.
    std::vector<pal::EventLogEntry> events() const;

    testsupport::TempRoot root;
    SpoolerDouble spooler;
    LoadedMonitor monitor;
    jobmsg::JobPipeStub service;
    HANDLE port = nullptr;
};

std::vector<BYTE> patternData(size_t size, unsigned seed = 0);

} // namespace montest
