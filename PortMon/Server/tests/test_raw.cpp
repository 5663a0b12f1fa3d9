// RAW sending against the simulated device: the RAW entries driven as the job flow drives them,
// with the spooler's job calls served by a test double.
#include <cstring>

#include <gtest/gtest.h>

#include "RawSink.h"
#include "TempRoot.h"
#include "monitor_harness.h"
#include "spooler_double.h"

using namespace montest;

namespace {

constexpr DWORD kJob = 5;
const std::u16string kPrinter = u"PRN";

std::vector<BYTE> jobData(size_t size)
{
    std::vector<BYTE> data(size);
    for (size_t i = 0; i < size; i++)
        data[i] = BYTE((i * 131 + i / 251) & 0xFF);
    return data;
}

class MonRaw : public ::testing::Test {
protected:
    void SetUp() override
    {
        spooler.addPrinter(kPrinter);
        spooler.setSleepDivisor(1);
        context.dwMagic = JTMX_MONITOR_MAGIC;
    }

    void TearDown() override
    {
        if (port) {
            RawClosePort(port);
            EnterCriticalSection(&csPortList);
            RemovePortEntry(&context, port->pszPortName);
            LeaveCriticalSection(&csPortList);
        }
        if (sink)
            sink->stop();
    }

    void startSink(devsim::RawSinkOptions options = {})
    {
        sink = loopbackSink(options);
        ASSERT_NE(sink, nullptr);
    }

    // A RAW port at the sink, opened as OpenPort opens it.
    void openPort(const std::function<void(PortConfigData&)>& change = {})
    {
        PortConfigData config = defaultConfig(u"RAW1", u"127.0.0.1");
        config.dwPortNumber = sink ? sink->port() : 9;
        config.dwRetryInterval = 1;
        config.dwLprRecvCount = 50;
        if (change)
            change(config);
        port = AddPortEntry(&context, u"RAW1", &config);
        ASSERT_NE(port, nullptr);
        ASSERT_TRUE(RawOpenPort(port));
    }

    void startJob(size_t size)
    {
        spooler.setJob(kJob, {0, DWORD(size), u"doc"});
        ASSERT_TRUE(RawStartDocPort(port, kPrinter.c_str(), kJob));
    }

    // Writes the data in pieces of the given sizes, round and round; each write must take all.
    void writeAll(const std::vector<BYTE>& data, const std::vector<size_t>& pieces)
    {
        size_t offset = 0;
        for (size_t i = 0; offset < data.size(); i++) {
            DWORD size = DWORD(std::min(pieces[i % pieces.size()], data.size() - offset));
            DWORD written = 0;
            int error = 0;
            ASSERT_TRUE(RawWritePort(port, data.data() + offset, size, &written, &error)) << error;
            ASSERT_EQ(written, size);
            offset += size;
        }
    }

    bool waitForEnd(devsim::JobEnd end)
    {
        return sink->waitUntil([end](const std::vector<devsim::RawJob>& jobs) {
            return !jobs.empty() && jobs.back().end == end;
        }, std::chrono::seconds(30));
    }

    testsupport::TempRoot root;
    SpoolerDouble spooler;
    MonitorContext context = {};
    PPortEntry port = nullptr;
    std::unique_ptr<devsim::RawSink> sink;
};

TEST_F(MonRaw, WholeJobInManyWritesArrivesByteExactWithAnOrderlyClose)
{
    startSink();
    openPort();
    std::vector<BYTE> data = jobData(1536 * 1024 + 7);
    startJob(data.size());
    writeAll(data, {1, 4096, 65536, 13, 200000, 333});
    EXPECT_EQ(port->ullSpooledBytes, data.size());
    EXPECT_EQ(port->dwFlags, DWORD(CONN_OPENED | CONN_ESTABLISHED));
    EXPECT_EQ(port->countdown, 1);
    EXPECT_EQ(port->dwIPAddress, htonl(INADDR_LOOPBACK));
    ASSERT_TRUE(RawEndDocPort(port));

    ASSERT_TRUE(waitForEnd(devsim::JobEnd::SenderClosed));
    std::vector<devsim::RawJob> jobs = sink->jobs();
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_TRUE(jobs[0].data == data);
    EXPECT_EQ(port->hSocket, INVALID_SOCKET);
    EXPECT_EQ(port->dwFlags, 0u);
    EXPECT_EQ(port->countdown, 0);
    EXPECT_EQ(port->dwJobBufSize, data.size());
    EXPECT_EQ(spooler.commands(), (std::vector<std::pair<DWORD, DWORD>>{{kJob, JOB_CONTROL_SENT_TO_PRINTER}}));
    EXPECT_EQ(spooler.openHandles(), 0);
    EXPECT_EQ(port->hPrinter, INVALID_HANDLE_VALUE);
}

TEST_F(MonRaw, TwoJobsUseTwoConnections)
{
    startSink();
    openPort();
    for (int n = 0; n < 2; n++) {
        std::vector<BYTE> data = jobData(1000 + n);
        startJob(data.size());
        writeAll(data, {300});
        ASSERT_TRUE(RawEndDocPort(port));
    }
    ASSERT_TRUE(sink->waitUntil([](const std::vector<devsim::RawJob>& jobs) {
        return jobs.size() == 2 && jobs[1].end == devsim::JobEnd::SenderClosed;
    }, std::chrono::seconds(30)));
    EXPECT_EQ(sink->jobs()[0].data.size(), 1000u);
    EXPECT_EQ(sink->jobs()[1].data.size(), 1001u);
}

TEST_F(MonRaw, StalledDeviceIsWaitedForInShortPauses)
{
    devsim::RawSinkOptions options;
    options.stallAfter = 32 * 1024;
    options.resumeAfter = std::chrono::milliseconds(300);
    startSink(options);
    openPort();
    std::vector<BYTE> data = jobData(4 * 1024 * 1024);
    startJob(data.size());
    writeAll(data, {1024 * 1024});
    ASSERT_TRUE(RawEndDocPort(port));
    ASSERT_TRUE(waitForEnd(devsim::JobEnd::SenderClosed));
    EXPECT_TRUE(sink->jobs()[0].data == data);
    // Would-block rounds wait for the socket's event, not by sleeping; no real error happened, and
    // the close paces in 10 ms.
    std::vector<DWORD> sleeps = spooler.sleeps();
    EXPECT_EQ(std::count_if(sleeps.begin(), sleeps.end(), [](DWORD s) { return s != 10; }), 0);
}

TEST_F(MonRaw, DeviceClosingMidSendEndsTheSendWithConnectionAborted)
{
    for (bool reset : {false, true}) {
        SCOPED_TRACE(reset ? "reset" : "close");
        devsim::RawSinkOptions options;
        if (reset)
            options.resetAfter = 100 * 1024;
        else
            options.closeAfter = 100 * 1024;
        startSink(options);
        openPort([](PortConfigData& c) { c.dwRetryInfinity = 0; });
        std::vector<BYTE> data = jobData(64 * 1024);
        startJob(8 * data.size());
        size_t commandsBefore = spooler.commands().size();
        BOOL result = TRUE;
        int error = 0;
        DWORD written = 0;
        for (int i = 0; i < 2000 && result; i++) {
            result = RawWritePort(port, data.data(), DWORD(data.size()), &written, &error);
            if (!result)
                break;
            // Wait until the device has seen what was sent, so that its close arrives.
            sink->waitUntil([](const std::vector<devsim::RawJob>& jobs) {
                return !jobs.empty() && jobs[0].end != devsim::JobEnd::Open;
            }, std::chrono::milliseconds(20));
        }
        EXPECT_FALSE(result);
        EXPECT_EQ(error, WSAECONNABORTED);
        EXPECT_EQ(written, 0u);
        EXPECT_EQ(port->hSocket, INVALID_SOCKET);
        EXPECT_EQ(port->dwFlags, 0u);
        EXPECT_EQ(port->countdown, 0);
        // Not the job's end: the job is neither completed nor released.
        EXPECT_EQ(spooler.commands().size(), commandsBefore);
        EXPECT_EQ(spooler.openHandles(), 1);
        ASSERT_TRUE(RawEndDocPort(port));
        TearDown();
        port = nullptr;
        sink.reset();
    }
}

TEST_F(MonRaw, RefusedConnectsAreRetriedUntilTheRetriesAreOver)
{
    devsim::RawSinkOptions options;
    options.listen = false;
    startSink(options);
    openPort([](PortConfigData& c) {
        c.dwRetryCount = 2;
        c.dwRetryInfinity = 0;
        c.dwRetryInterval = 3;
    });
    spooler.setSleepDivisor(20);
    startJob(100);
    std::vector<BYTE> data = jobData(100);
    DWORD written = 7;
    int error = 0;
    EXPECT_FALSE(RawWritePort(port, data.data(), DWORD(data.size()), &written, &error));
    EXPECT_EQ(error, WSAECONNREFUSED);
    EXPECT_EQ(written, 0u);
    // Each refusal pauses 1 s; the retry rule adds its shortest pause, as connect loops do not
    // wait RetryInterval.
    EXPECT_EQ(spooler.sleeps(), (std::vector<DWORD>{1000, 30, 1000, 30, 1000}));
    EXPECT_EQ(port->dwRetryInterval, 3u);
    EXPECT_EQ(port->dwFlags, 0u);
    EXPECT_TRUE(sink->jobs().empty());
}

TEST_F(MonRaw, PausingTheJobDuringASendRestartsIt)
{
    devsim::RawSinkOptions options;
    options.stallAfter = 0;
    startSink(options);
    openPort();
    startJob(8 * 1024 * 1024);
    int statusReads = 0;
    spooler.onJobQuery([&](DWORD, DWORD level) {
        if (level == 1 && ++statusReads == 3)
            spooler.setJobStatus(kJob, JOB_STATUS_PAUSED);
    });
    std::vector<BYTE> data = jobData(8 * 1024 * 1024);
    DWORD written = 7;
    int error = 0;
    EXPECT_TRUE(RawWritePort(port, data.data(), DWORD(data.size()), &written, &error));
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(spooler.commands(), (std::vector<std::pair<DWORD, DWORD>>{{kJob, JOB_CONTROL_RESTART}}));
    EXPECT_EQ(port->hSocket, INVALID_SOCKET);
    EXPECT_EQ(port->dwFlags, 0u);
    EXPECT_EQ(spooler.openHandles(), 1);  // released at EndDocPort
    spooler.onJobQuery({});
    ASSERT_TRUE(RawEndDocPort(port));
    EXPECT_EQ(spooler.openHandles(), 0);
}

TEST_F(MonRaw, DeletingTheJobDuringASendEndsItQuietly)
{
    devsim::RawSinkOptions options;
    options.stallAfter = 0;
    startSink(options);
    openPort();
    startJob(8 * 1024 * 1024);
    int statusReads = 0;
    spooler.onJobQuery([&](DWORD, DWORD level) {
        if (level == 1 && ++statusReads == 2)
            spooler.setJobStatus(kJob, JOB_STATUS_DELETING);
    });
    std::vector<BYTE> data = jobData(8 * 1024 * 1024);
    DWORD written = 7;
    int error = 0;
    EXPECT_TRUE(RawWritePort(port, data.data(), DWORD(data.size()), &written, &error));
    EXPECT_EQ(written, 0u);
    EXPECT_TRUE(spooler.commands().empty());
    spooler.onJobQuery({});
}

TEST_F(MonRaw, JobDeletedBeforeTheFirstWriteConnectsNowhere)
{
    startSink();
    openPort();
    startJob(100);
    spooler.setJobStatus(kJob, JOB_STATUS_DELETING);
    std::vector<BYTE> data = jobData(100);
    DWORD written = 7;
    int error = 0;
    EXPECT_TRUE(RawWritePort(port, data.data(), DWORD(data.size()), &written, &error));
    EXPECT_EQ(written, 0u);
    EXPECT_TRUE(sink->jobs().empty());
}

TEST_F(MonRaw, CloseWaitsForADeviceThatClosesLate)
{
    devsim::RawSinkOptions options;
    options.closeDelay = std::chrono::milliseconds(300);
    startSink(options);
    openPort([](PortConfigData& c) { c.dwLprRecvCount = 1000; });
    std::vector<BYTE> data = jobData(5000);
    startJob(data.size());
    writeAll(data, {5000});
    ASSERT_TRUE(RawEndDocPort(port));
    // The device closed first: the monitor waited for it, in 10 ms rounds.
    EXPECT_TRUE(waitForEnd(devsim::JobEnd::SenderClosed));
    std::vector<DWORD> sleeps = spooler.sleeps();
    EXPECT_GE(sleeps.size(), 5u);
    EXPECT_LT(sleeps.size(), 1000u);
    EXPECT_EQ(std::count(sleeps.begin(), sleeps.end(), 10u), (long)sleeps.size());
}

TEST_F(MonRaw, CloseGivesUpOnADeviceThatNeverCloses)
{
    devsim::RawSinkOptions options;
    options.closeDelay = std::chrono::hours(1);
    startSink(options);
    openPort([](PortConfigData& c) {
        c.dwLprRecvCount = 20;
        c.dwLprRecvInterval = 5;
    });
    std::vector<BYTE> data = jobData(100);
    startJob(data.size());
    writeAll(data, {100});
    ASSERT_TRUE(RawEndDocPort(port));
    EXPECT_EQ(spooler.sleeps(), std::vector<DWORD>(20, 5));
    EXPECT_EQ(port->hSocket, INVALID_SOCKET);
}

TEST_F(MonRaw, StartDocRefusesWhatIsNotAJobToFollow)
{
    openPort();
    spooler.addPrinter(u"DIRECT", PRINTER_ATTRIBUTE_DIRECT);
    struct Case {
        const char* what;
        std::u16string printer;
        bool job;
        DWORD size;
        DWORD status;
    } cases[] = {
        {"a printer that prints directly", u"DIRECT", true, 10, 0},
        {"a job the spooler does not know", kPrinter, false, 10, 0},
        {"an empty job", kPrinter, true, 0, 0},
        {"a job being deleted", kPrinter, true, 10, JOB_STATUS_DELETING},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        spooler.removeJob(kJob);
        if (c.job)
            spooler.setJob(kJob, {c.status, c.size, u"doc"});
        SetLastError(0);
        EXPECT_FALSE(RawStartDocPort(port, c.printer.c_str(), kJob));
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
        EXPECT_EQ(spooler.openHandles(), 0);
        EXPECT_EQ(port->hPrinter, INVALID_HANDLE_VALUE);
    }
    // A port that carries a job takes no other.
    spooler.setJob(kJob, {0, 10, u"doc"});
    port->dwFlags = CONN_OPENED;
    EXPECT_FALSE(RawStartDocPort(port, kPrinter.c_str(), kJob));
    port->dwFlags = 0;
}

TEST_F(MonRaw, StartDocRetriesOpeningThePrinter)
{
    openPort();
    spooler.setSleepDivisor(0);
    spooler.setJob(kJob, {0, 10, u"doc"});
    spooler.failOpens(2);
    EXPECT_TRUE(RawStartDocPort(port, kPrinter.c_str(), kJob));
    EXPECT_EQ(spooler.sleeps(), (std::vector<DWORD>{2000, 2000}));
    ASSERT_TRUE(RawEndDocPort(port));

    spooler.clearSleeps();
    spooler.failOpens(100);
    EXPECT_FALSE(RawStartDocPort(port, kPrinter.c_str(), kJob));
    EXPECT_EQ(spooler.opens(), 3 + 60);
    EXPECT_EQ(spooler.sleeps(), std::vector<DWORD>(59, 2000));
}

TEST_F(MonRaw, EndDocWithoutAJobFails)
{
    openPort();
    SetLastError(0);
    EXPECT_FALSE(RawEndDocPort(port));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
}

TEST_F(MonRaw, BadServerNameFailsTheWrite)
{
    startSink();
    openPort([](PortConfigData& c) { setField(c.sztServerName, 64, u"printer.local"); });
    startJob(10);
    BYTE data[10] = {};
    DWORD written = 7;
    int error = -1;
    EXPECT_FALSE(RawWritePort(port, data, sizeof(data), &written, &error));
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(error, 0);
}

TEST_F(MonRaw, RawEntriesAreTraced)
{
    startSink();
    openPort();
    startJob(3);
    TraceCapture trace;
    BYTE data[3] = {1, 2, 3};
    DWORD written = 0;
    int error = 0;
    ASSERT_TRUE(RawWritePort(port, data, sizeof(data), &written, &error));
    ASSERT_TRUE(RawEndDocPort(port));
    EXPECT_EQ(trace.lines(), (std::vector<std::u16string>{u"RawWritePort IN", u"RawWritePort OUT(TRUE)",
                                                           u"RawEndDocPort IN", u"RawEndDocPort OUT(TRUE)"}));
}

} // namespace
