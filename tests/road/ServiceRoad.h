// The tracking service on the printing road: a fresh platform root with the spooler host, the port
// monitor, the print manager stand-in and JTRKSVC2 registered under the service control; a device
// simulator that speaks DMLP with its control socket; and what the tests read afterwards (the print
// manager's journal, the spooler's history, the service's trace).
#pragma once

#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "ChildProcess.h"
#include "JobMessages.h"
#include "Road.h"
#include "StandinTesting.h"
#include "TempRoot.h"
#include "test_spooler_host.h"
#include "TestServices.h"

namespace serviceroad {

const std::string kDmlpDevice = "127.0.3.17"; // DMLP on the fixed port 47545: an address of its own

inline std::u16string wide(const std::string& text)
{
    return std::u16string(text.begin(), text.end());
}

inline std::string fileText(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Starts devsim with args, which give a DMLP printer at address with a RAW port; that port, 0
// when devsim did not start. DMLP has a fixed port: when a socket of another program holds it for
// every address for a moment, devsim cannot open it and is started again (for 10 s at most).
inline uint16_t startDmlpDevice(std::optional<testsupport::ChildProcess>& devsim, const std::vector<std::string>& args,
                                const std::string& address = kDmlpDevice)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        devsim.emplace(testsupport::besideSelf("devsim"), args);
        for (std::string line = devsim->readLine(); !line.empty(); line = devsim->readLine()) {
            const size_t at = line.find("RAW on " + address + ":");
            if (at != std::string::npos)
                return uint16_t(std::strtoul(line.c_str() + at + 8 + address.size(), nullptr, 10));
        }
        const int portNotOpened = 1;
        if (devsim->wait() != portNotOpened || std::chrono::steady_clock::now() > deadline)
            return 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

class ServiceRoad : public ::testing::Test {
protected:
    static constexpr const char* kTimeScale = "0.05";
    static constexpr const char* kServiceTimeScale = "0.2";
    void SetUp() override
    {
        setenv("PAL_TIME_SCALE", kTimeScale, 1);
        ASSERT_TRUE(road::writeRootFile("config/icmp", "127.0.0.7 reply\n" + kDmlpDevice + " reply\n"));
        ASSERT_TRUE(road::writeRootFile("drive_c/trace/jtrksvc2.log", ""));
        ASSERT_TRUE(road::writeRootFile("drive_c/Program Files/JTRKSVC2.ini", serviceSettings()));
        // The service tracks only jobs that the print manager took.
        standin::installPrintManager("[PrintManager]\nLevel=2\n");
        ASSERT_TRUE(host.start());
        ASSERT_TRUE(road::addMonitor());
        manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        service = testsupport::createServiceBesideSelf(manager, "JTRKSVC2");
        ASSERT_NE(service, nullptr);
    }
    void TearDown() override
    {
        // A failed check may have left the service running: it must not outlive the test.
        SERVICE_STATUS status{};
        if (service && QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED) {
            ControlService(service, SERVICE_CONTROL_STOP, &status);
            EXPECT_TRUE(reaches(SERVICE_STOPPED));
        }
        DeleteService(service);
        CloseServiceHandle(service);
        CloseServiceHandle(manager);
        EXPECT_EQ(host.stop(), 0);
        unsetenv("PAL_TIME_SCALE");
    }
    virtual std::string serviceSettings() const
    {
        return "[LogOutput]\nLevel=3\nOut=1\nLogFile=C:\\trace\\jtrksvc2.log\n";
    }

    bool reaches(DWORD state)
    {
        SERVICE_STATUS status{};
        return spoolertest::eventually(
            [&] { return QueryServiceStatus(service, &status) && status.dwCurrentState == state; },
            std::chrono::seconds(30));
    }
    // Starts the service; a service that reported STOPPED may still be ending its process, which
    // holds the service until it is gone.
    // The service runs at a time scale of its own (unless the test set one): at 0.2 the pipe's
    // 1000 ms for a client's request is 200 ms, past the pause a loaded machine may put between the
    // monitor's connect and its write (at the others' 0.05 it was 50 ms, and a report was lost).
    bool startService()
    {
        const char* set = getenv("PAL_TIME_SCALE");
        const std::string others = set ? set : kTimeScale;
        if (others == kTimeScale)
            setenv("PAL_TIME_SCALE", kServiceTimeScale, 1);
        bool started = false;
        spoolertest::eventually(
            [&] {
                started = StartServiceW(service, 0, nullptr);
                return started || GetLastError() != ERROR_SERVICE_ALREADY_RUNNING;
            },
            std::chrono::seconds(30));
        setenv("PAL_TIME_SCALE", others.c_str(), 1);
        return started && reaches(SERVICE_RUNNING);
    }
    bool stopService()
    {
        SERVICE_STATUS status{};
        return ControlService(service, SERVICE_CONTROL_STOP, &status) && reaches(SERVICE_STOPPED);
    }
    DWORD print(const std::vector<BYTE>& job)
    {
        std::string file = root.file("report.prn");
        std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(job.data()), std::streamsize(job.size()));
        spoolertest::ProgramResult result = spoolertest::runProgram({"pal-print", "Office", file, "--user", "carol"});
        EXPECT_EQ(result.exitCode, 0) << result.output;
        return DWORD(std::strtoul(result.output.c_str(), nullptr, 10));
    }

    std::string journal() const { return root.file("drive_c/Harbor/journal.log"); }
    std::string trace() const { return root.file("drive_c/trace/jtrksvc2.log"); }
    // How many of the monitor's reports to the service failed (its event log entries).
    static DWORD failedReports()
    {
        DWORD failed = 0;
        palReadEventLog(
            [](const PAL_EVENTLOG_ENTRY* entry, void* context) -> BOOL {
                const DWORD reportFailed = 0xC0000012;
                if (entry->eventId == reportFailed)
                    ++*static_cast<DWORD*>(context);
                return TRUE;
            },
            &failed);
        return failed;
    }

    testsupport::TempRoot root;
    spoolertest::SpoolerHost host;
    SC_HANDLE manager = nullptr;
    SC_HANDLE service = nullptr;
};

} // namespace serviceroad
