// A print job across processes: pal-print submits a file to the spooler host, whose delivery thread
// runs the port monitor JTRKMON2, which reports the job on the service's pipe (played by the pipe
// stub in this process) and sends it to the simulated device by RAW or LPR.
#include <cstring>
#include <fstream>

#include <gtest/gtest.h>

#include "JobMessages.h"
#include "LprReceiver.h"
#include "RawSink.h"
#include "StubbedRoad.h"

namespace {

const std::string kDevice = "127.0.0.7";
const std::u16string kDeviceWide = u"127.0.0.7";
const jobmsg::ClientJobId kId = jobmsg::ClientJobId::make(0x11223344, 5, 6, "87654321", "JOBINFO1 printed by the road");

std::vector<BYTE> jobBytes(size_t dataBytes)
{
    std::vector<BYTE> job = jobmsg::typicalHeader(kId, 2);
    for (size_t i = 0; i < dataBytes; i++)
        job.push_back(BYTE(i * 7 + i / 4093));
    return job;
}

// The job as the device must receive it: JobInfo1 of the client job id carries the stamp.
std::vector<BYTE> stamped(std::vector<BYTE> job, const std::vector<BYTE>& reportedId)
{
    size_t jobInfo1 = jobmsg::jobStart().size() + 20 + 2 + 4 + 16;
    std::memcpy(job.data() + jobInfo1, reportedId.data() + 16, 8);
    return job;
}

class Road : public road::StubbedRoad {
protected:
    Road() : StubbedRoad(kDevice) {}

    // Submits the file with pal-print as the given user; the job id.
    DWORD print(const std::u16string& printer, const std::vector<BYTE>& job, const std::string& document,
                const std::string& user)
    {
        std::string file = root.file(document);
        std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(job.data()), std::streamsize(job.size()));
        spoolertest::ProgramResult result = spoolertest::runProgram(
            {"pal-print", std::string(printer.begin(), printer.end()), file, "--user", user});
        EXPECT_EQ(result.exitCode, 0) << result.output;
        return DWORD(std::strtoul(result.output.c_str(), nullptr, 10));
    }

    std::vector<BYTE> reportedId()
    {
        EXPECT_TRUE(service.waitForRequests(1, std::chrono::seconds(30)));
        std::vector<std::vector<uint8_t>> requests = service.requests();
        if (requests.empty() || requests[0].size() != 1028)
            return {};
        return std::vector<BYTE>(requests[0].begin() + 484, requests[0].begin() + 548);
    }
};

TEST_F(Road, RawJobReachesTheDeviceAndIsReported)
{
    devsim::RawSinkOptions options;
    options.address = kDevice;
    options.port = 0;
    devsim::RawSink sink(options);
    std::string error;
    ASSERT_TRUE(sink.start(error)) << error;
    ASSERT_EQ(road::addPort(road::rawPort(u"JT_127.0.0.7", kDeviceWide, sink.port())), 0u);
    ASSERT_EQ(road::addPrinter(u"Office", u"JT_127.0.0.7"), 0u);

    std::vector<BYTE> job = jobBytes(700 * 1024);
    DWORD id = print(u"Office", job, "report.prn", "carol");
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(sink.waitUntil([](const std::vector<devsim::RawJob>& jobs) {
        return !jobs.empty() && jobs[0].end != devsim::JobEnd::Open;
    }, std::chrono::seconds(60)));
    std::vector<BYTE> id64 = reportedId();
    ASSERT_EQ(id64.size(), 64u);
    std::vector<BYTE> expectedId = kId.host();
    EXPECT_EQ(std::vector<BYTE>(id64.begin(), id64.begin() + 16), std::vector<BYTE>(expectedId.begin(), expectedId.begin() + 16));
    devsim::RawJob device = sink.jobs()[0];
    EXPECT_EQ(device.end, devsim::JobEnd::SenderClosed);
    EXPECT_TRUE(std::vector<BYTE>(device.data.begin(), device.data.end()) == stamped(job, id64));

    jobmsg::Bytes request = service.requests()[0];
    DWORD messageId = 0;
    DWORD jobId = 0;
    std::memcpy(&messageId, request.data() + 4, 4);
    std::memcpy(&jobId, request.data() + 456, 4);
    EXPECT_EQ(messageId, 1u);
    EXPECT_EQ(jobId, id);
    // The monitor marked the job sent; the spooler keeps it listed as printed until the service ends it.
    DWORD status = 0;
    EXPECT_TRUE(spoolertest::eventually([&] { return road::jobStatus(u"Office", id, status) && (status & JOB_STATUS_PRINTED); }));
}

TEST_F(Road, LprJobsReachTheDeviceByCountAndByStream)
{
    devsim::LprReceiverOptions options;
    options.address = kDevice;
    options.port = 0;
    devsim::LprReceiver receiver(options);
    std::string error;
    ASSERT_TRUE(receiver.start(error)) << error;
    ASSERT_TRUE(road::writeRootFile("config/connect-redirect",
                                    kDevice + ":515 " + kDevice + ":" + std::to_string(receiver.port()) + "\n"));
    ASSERT_EQ(road::addPort(road::lprPort(u"JT_LPR", kDeviceWide, TRANSFER_BYTECOUNT)), 0u);
    ASSERT_EQ(road::addPort(road::lprPort(u"JT_STREAM", kDeviceWide, 0)), 0u);
    ASSERT_EQ(road::addPrinter(u"Lab", u"JT_LPR"), 0u);
    ASSERT_EQ(road::addPrinter(u"Stream", u"JT_STREAM"), 0u);

    std::vector<BYTE> job = jobBytes(300 * 1024);
    DWORD first = print(u"Lab", job, "lab.prn", "dave");
    ASSERT_NE(first, 0u);
    ASSERT_TRUE(receiver.waitForJobs(1, std::chrono::seconds(60)));
    std::vector<BYTE> id64 = reportedId();
    ASSERT_EQ(id64.size(), 64u);
    DWORD second = print(u"Stream", job, "stream.prn", "erin");
    ASSERT_NE(second, 0u);
    ASSERT_TRUE(receiver.waitForJobs(2, std::chrono::seconds(60)));

    std::vector<devsim::LprJob> jobs = receiver.jobs();
    ASSERT_EQ(jobs.size(), 2u);
    char names[32];
    std::snprintf(names, sizeof(names), "%03uROADPC", unsigned(first % 1000));
    EXPECT_TRUE(jobs[0].complete());
    EXPECT_EQ(jobs[0].queue, std::optional<std::string>("lp"));
    ASSERT_TRUE(jobs[0].controlFile);
    EXPECT_EQ(jobs[0].controlFile->bytes, std::string("HROADPC\nPdave\nJlab.prn\nNlab.prn\nldfA") + names +
                                              "\nUdfA" + names + "\n");
    ASSERT_EQ(jobs[0].dataFiles.size(), 1u);
    EXPECT_FALSE(jobs[0].dataFiles[0].endedByClose);
    std::vector<BYTE> expected = stamped(job, id64);
    EXPECT_TRUE(jobs[0].dataFiles[0].bytes == std::string(expected.begin(), expected.end()));

    EXPECT_TRUE(jobs[1].complete());
    ASSERT_EQ(jobs[1].dataFiles.size(), 1u);
    EXPECT_TRUE(jobs[1].dataFiles[0].endedByClose);
    EXPECT_EQ(jobs[1].dataFiles[0].bytes.size(), job.size());
    ASSERT_TRUE(service.waitForRequests(2, std::chrono::seconds(30)));
}

TEST_F(Road, UnreachableDeviceLeavesTheJobPausedForALaterTry)
{
    ASSERT_TRUE(road::writeRootFile("config/icmp", kDevice + " silent\n"));
    ASSERT_EQ(road::addPort(road::rawPort(u"JT_GONE", kDeviceWide, 9)), 0u);
    ASSERT_EQ(road::addPrinter(u"Gone", u"JT_GONE"), 0u);
    host.stop();
    // The echoes of a silent device take 6 x 5 s; the platform's time knob makes that short.
    setenv("PAL_TIME_SCALE", "0.01", 1);
    ASSERT_TRUE(host.start());
    unsetenv("PAL_TIME_SCALE");
    DWORD id = print(u"Gone", jobBytes(1000), "gone.prn", "frank");
    ASSERT_NE(id, 0u);
    // The job's header is reported first, then the job is re-queued.
    ASSERT_TRUE(service.waitForRequests(2, std::chrono::seconds(60)));
    DWORD status = 0;
    EXPECT_TRUE(spoolertest::eventually([&] { return road::jobStatus(u"Gone", id, status) && (status & JOB_STATUS_PAUSED); }));
    std::vector<DWORD> messages;
    for (const jobmsg::Bytes& request : service.requests()) {
        DWORD messageId = 0;
        std::memcpy(&messageId, request.data() + 4, 4);
        messages.push_back(messageId);
    }
    EXPECT_EQ(messages, (std::vector<DWORD>{1, 2}));
}

} // namespace
