// The printing road under faults, across processes: the spooler host with the port monitor, the
// simulated device and the service's pipe (played by the pipe stub in this process).
#include <memory>

#include <gtest/gtest.h>

#include "JobMessages.h"
#include "JobPipeStub.h"
#include "RawSink.h"
#include "Road.h"
#include "TempRoot.h"
#include "test_spooler_host.h"

#include "pal/eventlog.h"

namespace {

const std::string kDevice = "127.0.0.5";
const std::u16string kDeviceWide = u"127.0.0.5";
const jobmsg::ClientJobId kId = jobmsg::ClientJobId::make(0x0A0B0C0D, 1, 2, "11223344", "JOBINFO1 of a faulty road");

// A job whose header runs over several of the spooler's 64 KiB writes: 10,000 SetDocument records
// and the job end (about 230 KB), then the data.
std::vector<BYTE> longHeaderJob(size_t dataBytes)
{
    std::vector<jobmsg::Bytes> parts = {jobmsg::jobStart(), jobmsg::jobStart2({{jobmsg::kAttrClientJobId, kId.wire()}})};
    for (int i = 0; i < 10000; i++)
        parts.push_back(jobmsg::setDocumentByte(jobmsg::kAttrNup, BYTE(i % 4 + 1)));
    parts.push_back(jobmsg::jobEnd());
    std::vector<BYTE> job = jobmsg::concat(parts);
    for (size_t i = 0; i < dataBytes; i++)
        job.push_back(BYTE(i * 13 + i / 1021));
    return job;
}

// The offset of JobInfo1 in the client job id, which the monitor stamps with the local time.
size_t stampOffset()
{
    return jobmsg::jobStart().size() + jobmsg::kHeaderBytes + 2 + 4 + 16;
}

bool portFailureLogged(const std::u16string& port, const std::u16string& operation)
{
    for (const pal::EventLogEntry& entry : pal::readEventLog())
        if (entry.strings == std::vector<std::u16string>{port, operation})
            return true;
    return false;
}

class RoadFaults : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(road::writeRootFile("config/icmp", kDevice + " reply\n"));
        ASSERT_TRUE(road::writeRootFile("config/computer-name", "ROADPC\n"));
        DWORD error = 0;
        ASSERT_TRUE(service.start(error)) << error;
        ASSERT_TRUE(host.start());
        ASSERT_TRUE(road::addMonitor()) << GetLastError();
    }

    void TearDown() override { EXPECT_EQ(host.stop(), 0); }

    static spoolertest::ProgramResult spool(const std::vector<std::string>& args)
    {
        std::vector<std::string> command = {"pal-spool"};
        command.insert(command.end(), args.begin(), args.end());
        return spoolertest::runProgram(command);
    }

    testsupport::TempRoot root;
    jobmsg::JobPipeStub service;
    spoolertest::SpoolerHost host;
};

// Port names compare without regard to case: the port is deleted and no longer listed.
TEST_F(RoadFaults, DeletePortTakesTheNameInAnyCase)
{
    ASSERT_EQ(road::addPort(road::rawPort(u"JT_127.0.0.5", kDeviceWide, 9100)), 0u);
    spoolertest::ProgramResult deleted = spool({"delete-port", "jt_127.0.0.5"});
    EXPECT_EQ(deleted.exitCode, 0) << deleted.output;
    spoolertest::ProgramResult ports = spool({"ports"});
    EXPECT_EQ(ports.exitCode, 0);
    EXPECT_EQ(ports.output.find("127.0.0.5"), std::string::npos) << ports.output;
    // Gone for good: a restarted host does not list it either.
    EXPECT_EQ(host.stop(), 0);
    ASSERT_TRUE(host.start());
    EXPECT_EQ(spool({"ports"}).output.find("127.0.0.5"), std::string::npos);
}

// The device refuses the connection at the write that completes a long header, then comes back:
// it gets the whole job, the held header bytes first, and only then is the job printed.
TEST_F(RoadFaults, HeldHeaderBytesOutliveARefusedConnection)
{
    devsim::RawSinkOptions refusing;
    refusing.address = kDevice;
    refusing.port = 0;
    refusing.listen = false;
    auto closed = std::make_unique<devsim::RawSink>(refusing);
    std::string error;
    ASSERT_TRUE(closed->start(error)) << error;
    uint16_t devicePort = closed->port();
    PortConfigData config = road::rawPort(u"JT_127.0.0.5", kDeviceWide, devicePort);
    config.dwRetryInfinity = 0;
    config.dwRetryCount = 1;
    config.dwRetryInterval = 1;
    ASSERT_EQ(road::addPort(config), 0u);
    ASSERT_EQ(road::addPrinter(u"Office", u"JT_127.0.0.5"), 0u);

    std::vector<BYTE> job = longHeaderJob(200 * 1024);
    DWORD id = road::submit(u"Office", job, u"long.prn");
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(spoolertest::eventually([] { return portFailureLogged(u"JT_127.0.0.5", u"WritePort"); },
                                        std::chrono::seconds(60)));
    closed.reset();
    devsim::RawSinkOptions listening = refusing;
    listening.port = devicePort;
    listening.listen = true;
    devsim::RawSink device(listening);
    ASSERT_TRUE(device.start(error)) << error;
    ASSERT_TRUE(device.waitUntil([](const std::vector<devsim::RawJob>& jobs) {
        return !jobs.empty() && jobs[0].end != devsim::JobEnd::Open;
    }, std::chrono::seconds(60)));
    devsim::RawJob received = device.jobs()[0];
    ASSERT_EQ(received.data.size(), job.size());
    std::copy_n(received.data.begin() + std::ptrdiff_t(stampOffset()), 8, job.begin() + std::ptrdiff_t(stampOffset()));
    EXPECT_TRUE(std::vector<BYTE>(received.data.begin(), received.data.end()) == job);
    DWORD status = 0;
    EXPECT_TRUE(spoolertest::eventually(
        [&] { return road::jobStatus(u"Office", id, status) && (status & JOB_STATUS_PRINTED); }));
}

} // namespace
