// The installation as an administrator runs it, across processes: pal-msiexec runs the installer's
// custom actions against the spooler host, which hosts the stand-in network monitors and JTRKMON2;
// a job is printed through a converted printer to the simulated device (the service's pipe is
// played by the pipe stub in this process). The host is never restarted.
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>

#include <gtest/gtest.h>

#include "JobMessages.h"
#include "JobPipeStub.h"
#include "RawSink.h"
#include "Road.h"
#include "TempRoot.h"
#include "test_spooler_host.h"
#include "test_spooler_jobs.h"

namespace {

using spoolertest::monitorKey;
using spoolertest::runProgram;
using spoolertest::setDwordValue;
using spoolertest::setStringValue;

const std::string kDevice = "127.0.0.9";
const std::u16string kDeviceWide = u"127.0.0.9";
const jobmsg::ClientJobId kId = jobmsg::ClientJobId::make(0x01020304, 7, 8, "13572468", "JOBINFO1 of the admin round");
const char kDeletePortsFailed[] = "error: ポートの削除に失敗しました。";

std::u16string portKey(const std::u16string& monitor, const std::u16string& port)
{
    return monitorKey(monitor) + u"\\Ports\\" + port;
}

// The printer's port, or "(none)".
std::u16string portOf(const std::u16string& printer)
{
    spoolertest::Printer handle(printer, PRINTER_ACCESS_USE);
    std::vector<BYTE> info = spoolertest::printerInfo(handle.get(), 2);
    return info.empty() ? u"(none)" : reinterpret_cast<const PRINTER_INFO_2W*>(info.data())->pPortName;
}

// Three of the maker's printers on a TCP/IP, an LPR and a PrintHub LAN port, the host running with
// their monitors (JTRKMON2 is not added yet) and the device at 127.0.0.9 behind the TCP/IP port.
class AdminRound : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(root.file("drive_c/Temp"));
        std::filesystem::create_directories(root.file("drive_c/JTRK"));
        ASSERT_TRUE(road::writeRootFile("config/icmp", kDevice + " reply\n"));
        DWORD error = 0;
        ASSERT_TRUE(service.start(error)) << error;
        devsim::RawSinkOptions options;
        options.address = kDevice;
        options.port = 0;
        options.stallAfter = stallAfter;
        sink = std::make_unique<devsim::RawSink>(options);
        std::string sinkError;
        ASSERT_TRUE(sink->start(sinkError)) << sinkError;

        setStringValue(monitorKey(u"Standard TCP/IP Port"), u"Driver", u"tcpmon.dll");
        setStringValue(monitorKey(u"LPR Port"), u"Driver", u"lprmon.dll");
        setStringValue(monitorKey(u"HARBOR PrintHub LAN Port"), u"Driver", u"phlanmon.dll");
        std::u16string tcp = portKey(u"Standard TCP/IP Port", u"IP_127.0.0.9");
        setStringValue(tcp, u"HostName", kDeviceWide);
        setDwordValue(tcp, u"Protocol", 1);
        setDwordValue(tcp, u"PortNumber", sink->port());
        std::u16string lpr = portKey(u"LPR Port", u"127.0.0.10:lp1");
        setStringValue(lpr, u"Server Name", u"127.0.0.10");
        setStringValue(lpr, u"Printer Name", u"lp1");
        std::u16string hub = portKey(u"HARBOR PrintHub LAN Port", u"HUB_127.0.0.11");
        setStringValue(hub, u"Server Address", u"127.0.0.11");
        setStringValue(hub, u"Printer Queue Name", u"q");
        ASSERT_TRUE(host.start());
        addMakersPrinter("Office", "IP_127.0.0.9");
        addMakersPrinter("Annex", "127.0.0.10:lp1");
        addMakersPrinter("Hall", "HUB_127.0.0.11");
    }

    void TearDown() override { EXPECT_EQ(host.stop(), 0); }

    void addMakersPrinter(const std::string& name, const std::string& port)
    {
        auto added = runProgram({"pal-spool", "add-printer", name, port, "--driver", "Vexil MX-1 Japanese",
                                 "--print-processor", "PRT ServerPrint"});
        ASSERT_EQ(added.exitCode, 0) << added.output;
    }

    // A custom action in a pal-msiexec process of its own; the INF is laid down first.
    spoolertest::ProgramResult msiexec(const std::string& action)
    {
        std::filesystem::copy_file(JTRKUTIL_INF, root.file("drive_c/JTRK/JTRKMON2.INF"),
                                   std::filesystem::copy_options::overwrite_existing);
        return runProgram({"pal-msiexec", "--property", "CustomActionData=,C:\\JTRK", "--env", "TEMP=C:\\Temp",
                           "JTRKUtil.dll", action});
    }

    // Every key and value of HKLM as the registry tool lists them.
    std::string machineRegistry() { return runProgram({"pal-reg", "query", "HKLM", "/s"}).output; }

    // Prints through Office with pal-print; the job id.
    DWORD print(size_t dataBytes)
    {
        std::vector<BYTE> job = jobmsg::typicalHeader(kId, 2);
        for (size_t i = 0; i < dataBytes; i++)
            job.push_back(BYTE(i * 11 + i / 509));
        jobSize = job.size();
        std::string file = root.file("job.prn");
        std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(job.data()), std::streamsize(job.size()));
        auto printed = runProgram({"pal-print", "Office", file});
        EXPECT_EQ(printed.exitCode, 0) << printed.output;
        return DWORD(std::strtoul(printed.output.c_str(), nullptr, 10));
    }

    bool deviceHasWholeJob()
    {
        return sink->waitUntil([this](const std::vector<devsim::RawJob>& jobs) {
            return !jobs.empty() && jobs[0].end == devsim::JobEnd::SenderClosed && jobs[0].data.size() == jobSize;
        }, std::chrono::seconds(60));
    }

    bool jobPrinted(DWORD job)
    {
        return spoolertest::Printer(u"Office", PRINTER_ACCESS_USE).statusBecomes(job, [](std::optional<DWORD> status) {
            return status && (*status & JOB_STATUS_PRINTED);
        });
    }

    testsupport::TempRoot root;
    jobmsg::JobPipeStub service;
    spoolertest::SpoolerHost host;
    std::optional<uint64_t> stallAfter; // the device reads no more after this many bytes until resumed
    std::unique_ptr<devsim::RawSink> sink;
    size_t jobSize = 0;
};

class AdminRoundSlowDevice : public AdminRound {
protected:
    AdminRoundSlowDevice() { stallAfter = 4096; }
};

TEST_F(AdminRound, InstallConvertPrintUninstallLeavesTheRegistryAsItWas)
{
    std::string before = machineRegistry();
    auto install = msiexec("JTMXInstallPort");
    ASSERT_EQ(install.exitCode, 0) << install.output;
    EXPECT_EQ(portOf(u"Office"), u"KPX2_IP_127.0.0.9");
    EXPECT_EQ(portOf(u"Annex"), u"KPX2_127.0.0.10:lp1");
    EXPECT_EQ(portOf(u"Hall"), u"KPX2_HUB_127.0.0.11");

    DWORD job = print(200 * 1024);
    ASSERT_NE(job, 0u);
    ASSERT_TRUE(deviceHasWholeJob());
    ASSERT_TRUE(jobPrinted(job));

    auto uninstall = msiexec("JTMXUninstallPort");
    EXPECT_EQ(uninstall.exitCode, 0) << uninstall.output;
    EXPECT_NE(uninstall.output.find("result: 0\n"), std::string::npos) << uninstall.output;
    EXPECT_EQ(portOf(u"Office"), u"IP_127.0.0.9");
    EXPECT_EQ(portOf(u"Annex"), u"127.0.0.10:lp1");
    EXPECT_EQ(portOf(u"Hall"), u"HUB_127.0.0.11");
    EXPECT_EQ(machineRegistry(), before);
    EXPECT_EQ(runProgram({"pal-spool", "monitors"}).output.find("TALLY-DESK Output Beacon Port2"), std::string::npos);
}

TEST_F(AdminRoundSlowDevice, UninstallWithAJobInFlightAsksToFinishAndTheNextTrySucceeds)
{
    auto install = msiexec("JTMXInstallPort");
    ASSERT_EQ(install.exitCode, 0) << install.output;
    DWORD job = print(32 * 1024 * 1024); // more than the sockets hold: the delivery waits for the device
    ASSERT_NE(job, 0u);
    ASSERT_TRUE(sink->waitUntil([](const std::vector<devsim::RawJob>& jobs) { return !jobs.empty() && jobs[0].stalled; },
                               std::chrono::seconds(60)));

    auto first = msiexec("JTMXUninstallPort");
    EXPECT_EQ(first.exitCode, 1) << first.output;
    EXPECT_NE(first.output.find("JTMXDeleteSpecialPort failed. ErrorCode = "), std::string::npos) << first.output;
    EXPECT_NE(first.output.find(kDeletePortsFailed), std::string::npos) << first.output;
    EXPECT_NE(first.output.find("result: 1602\n"), std::string::npos) << first.output;
    EXPECT_EQ(portOf(u"Office"), u"IP_127.0.0.9") << "the printers went back all the same";

    sink->resume();
    ASSERT_TRUE(deviceHasWholeJob());
    ASSERT_TRUE(jobPrinted(job));
    auto second = msiexec("JTMXUninstallPort");
    EXPECT_EQ(second.exitCode, 0) << second.output;
    EXPECT_NE(second.output.find("result: 0\n"), std::string::npos) << second.output;
    EXPECT_EQ(runProgram({"pal-spool", "delete-port", "KPX2_IP_127.0.0.9"}).exitCode, 1) << "the port is gone";
}

} // namespace
