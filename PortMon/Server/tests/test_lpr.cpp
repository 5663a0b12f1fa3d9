// LPR sending through the job slots against a scripted LPR receiver: the byte-exact exchange of
// both modes, the acknowledgement and retry rules, pauses, the local port and the texts.
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "job_harness.h"
#include "lpr.h"
#include "lpr_control_file.h"
#include "lpr_peer.h"

#include "pal/testhooks.h"

using namespace montest;
using jobmsg::Bytes;

namespace {

constexpr DWORD kJob = 1234;
const std::u16string kPort = u"JT_LPR1";
const jobmsg::ClientJobId kId = jobmsg::ClientJobId::make(7, 8, 9, "12345678", "JOBINFO1 and the job's text");

Bytes textBytes(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

// The bytes of a byte-count job: receive job, control file, data file, each as RFC 1179 sends them.
Bytes byteCountExchange(const std::string& control, const Bytes& data, const std::string& names = "234PC1")
{
    return jobmsg::concat({textBytes("\2lp1\n"),
                           textBytes("\2" + std::to_string(control.size()) + " cfA" + names + "\n"),
                           textBytes(control), Bytes{0},
                           textBytes("\3" + std::to_string(data.size()) + " dfA" + names + "\n"), data, Bytes{0}});
}

Bytes streamingExchange(const std::string& control, const Bytes& data, const std::string& size = "125899906843000",
                        const std::string& names = "234PC1")
{
    return jobmsg::concat({textBytes("\2lp1\n"),
                           textBytes("\2" + std::to_string(control.size()) + " cfA" + names + "\n"),
                           textBytes(control), Bytes{0}, textBytes("\3" + size + " dfA" + names + "\n"), data});
}

// A temporary folder whose Windows path, with its final backslash, has this many characters.
std::u16string tempFolderOfLength(size_t length)
{
    std::u16string folder = u"C:\\";
    while (folder.size() < length) {
        size_t part = std::min<size_t>(100, length - folder.size() - 1);
        folder += std::u16string(part, u'd') + u"\\";
    }
    return folder;
}

class MonLpr : public ::testing::Test {
protected:
    void SetUp() override { palSetThreadUserName(u"alice"); }

    void TearDown() override
    {
        palSetThreadUserName(nullptr);
        palSetTimeScale(1.0);
        palReportCloseWithRead(FALSE);
        palFailSends(0);
        palSetTempPath(nullptr);
    }

    void startPeer(std::vector<int> acks = {})
    {
        peer = std::make_unique<LprPeer>(std::move(acks));
        std::string error;
        ASSERT_TRUE(peer->start(error)) << error;
        h.redirect("127.0.0.1", 515, peer->port());
    }

    void openLprPort(DWORD transferMode, const std::function<void(PortConfigData&)>& change = {})
    {
        PortConfigData config = lprPortConfig(kPort, transferMode);
        if (change)
            change(config);
        ASSERT_TRUE(h.openPort(config));
    }

    std::vector<std::pair<DWORD, DWORD>> commands() const { return h.spooler.commands(); }

    Bytes received(size_t connection)
    {
        EXPECT_TRUE(peer->waitForEnded(connection + 1, std::chrono::seconds(30)));
        std::vector<LprPeerConnection> connections = peer->connections();
        return connections.size() > connection ? Bytes(connections[connection].received.begin(),
                                                       connections[connection].received.end())
                                               : Bytes();
    }

    size_t sleepsOf(DWORD milliseconds) const
    {
        std::vector<DWORD> sleeps = h.spooler.sleeps();
        return size_t(std::count(sleeps.begin(), sleeps.end(), milliseconds));
    }

    JobHarness h;
    std::unique_ptr<LprPeer> peer;
};

TEST_F(MonLpr, ByteCountJobIsSentExactlyAndReportedAtItsEnd)
{
    ASSERT_TRUE(h.startService());
    startPeer();
    openLprPort(TRANSFER_BYTECOUNT);
    SYSTEMTIME now = {2026, 3, 0, 7, 9, 5, 3, 0};
    palSetTestClock(&now);
    Bytes header = jobmsg::typicalHeader(kId, 2);
    Bytes job = jobmsg::concat({header, patternData(200000)});
    h.addJob(kJob, DWORD(job.size()), u"report.txt");
    ASSERT_TRUE(h.startDoc(kJob));
    WCHAR tmp[JTMX_TMP_PATH_LEN + 1];
    std::memcpy(tmp, h.entry()->wszTmpFile, sizeof(tmp));
    EXPECT_NE(GetFileAttributesW(tmp), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(std::u16string(tmp).substr(std::u16string(tmp).size() - 9), u"01234.tmp");
    ASSERT_TRUE(h.writeAll(job, {7, 65536, 3000}));
    EXPECT_TRUE(h.reports().empty());  // byte count reports at the end
    EXPECT_TRUE(peer->connections().empty());
    ASSERT_TRUE(h.endDoc());
    palResetTestClock();

    Bytes sent = job;
    std::memcpy(sent.data() + jobmsg::jobStart().size() + 26 + 16, "07090503", 8);
    EXPECT_EQ(received(0), byteCountExchange(controlFile("report.txt"), sent));
    std::vector<LprPeerConnection> connections = peer->connections();
    EXPECT_EQ(connections[0].acks, Bytes(5, 0));
    EXPECT_TRUE(connections[0].senderClosed);
    EXPECT_EQ(h.spooler.binds(), std::vector<USHORT>{721});
    ASSERT_TRUE(h.waitForReports(1));
    JobReport report = h.reports()[0];
    EXPECT_EQ(report.messageId, DWORD(JOBEVENT_JOBSTART));
    EXPECT_EQ(report.jobId, kJob);
    EXPECT_EQ(report.port, kPort);
    EXPECT_EQ(std::string(report.clientJobId.begin() + 16, report.clientJobId.begin() + 24), "07090503");
    EXPECT_EQ(commands(), (std::vector<std::pair<DWORD, DWORD>>{{kJob, JOB_CONTROL_SENT_TO_PRINTER}}));
    EXPECT_EQ(GetFileAttributesW(tmp), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(h.spooler.openHandles(), 0);
    EXPECT_EQ(h.entry()->dwState, DWORD(PORT_STATE_IDLE));
    EXPECT_EQ(h.entry()->countdown, 0);
    EXPECT_TRUE(h.events().empty());
}

TEST_F(MonLpr, ByteCountJobWithoutAHeaderIsNotReported)
{
    ASSERT_TRUE(h.startService());
    startPeer();
    openLprPort(TRANSFER_BYTECOUNT);
    Bytes job = textBytes("%!PS-Adobe-3.0 no job messages here");
    h.addJob(kJob, DWORD(job.size()), u"plain.ps");
    ASSERT_TRUE(h.startDoc(kJob));
    ASSERT_TRUE(h.writeAll(job, {1000}));
    ASSERT_TRUE(h.endDoc());
    EXPECT_EQ(received(0), byteCountExchange(controlFile("plain.ps"), job));
    EXPECT_TRUE(h.reports().empty());
}

// The count of spooled bytes does not wrap: a job of exactly 4 GiB is sent, not released as empty.
TEST_F(MonLpr, ByteCountPastFourGibibytesIsNoEmptyJob)
{
    startPeer();
    openLprPort(TRANSFER_BYTECOUNT);
    Bytes job = textBytes("%!PS-Adobe-3.0 the last bytes of a very long job");
    h.addJob(kJob, DWORD(job.size()), u"huge.ps");
    ASSERT_TRUE(h.startDoc(kJob));
    ASSERT_TRUE(h.writeAll(job, {1000}));
    h.entry()->ullSpooledBytes += (1ull << 32) - job.size();  // as if 4 GiB had been written
    ASSERT_TRUE(h.endDoc());
    EXPECT_EQ(received(0), byteCountExchange(controlFile("huge.ps"), job));
}

// The transfer starts with nothing staged: bytes an earlier round left (a connection that failed
// in the middle of a step) do not go out on the new connection.
TEST_F(MonLpr, TransferStartsWithNothingStaged)
{
    startPeer();
    openLprPort(TRANSFER_BYTECOUNT);
    Bytes job = textBytes("%!PS-Adobe-3.0 a job after a broken round");
    h.addJob(kJob, DWORD(job.size()), u"after.ps");
    ASSERT_TRUE(h.startDoc(kJob));
    ASSERT_TRUE(h.writeAll(job, {1000}));
    std::memcpy(h.entry()->SendBuf, "\2stale\n", 7);
    h.entry()->cSendReqLen = 7;
    h.entry()->dwSendReqOffset = 2;
    ASSERT_TRUE(h.endDoc());
    EXPECT_EQ(received(0), byteCountExchange(controlFile("after.ps"), job));
}

// The job's file failing: a write counts only what it wrote, with the file's error; a read in the
// transfer stops it with stop code 6 and the file's error. (The file's handle is swapped for one of
// another file that does not allow the operation.)
TEST_F(MonLpr, JobFileFailuresAreCountedAndStopTheTransfer)
{
    startPeer();
    openLprPort(TRANSFER_BYTECOUNT);
    Bytes job = textBytes("%!PS-Adobe-3.0 bytes for a file that fails");
    h.addJob(kJob, DWORD(job.size()), u"broken.ps");
    ASSERT_TRUE(h.startDoc(kJob));
    std::u16string other = std::u16string(h.entry()->wszTmpFile) + u".other";
    HANDLE readOnly = CreateFileW(other.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(readOnly, INVALID_HANDLE_VALUE);
    CloseHandle(readOnly);
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    readOnly = CreateFileW(other.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(readOnly, INVALID_HANDLE_VALUE);
    HANDLE jobFile = h.entry()->hTmpFile;
    h.entry()->hTmpFile = readOnly;
    DWORD written = 99;
    int error = 0;
    EXPECT_FALSE(LPRWritePort(h.entry(), job.data(), DWORD(job.size()), &written, &error));
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(error, ERROR_ACCESS_DENIED);
    EXPECT_EQ(h.entry()->ullSpooledBytes, 0u);

    h.entry()->hTmpFile = jobFile;
    ASSERT_TRUE(LPRWritePort(h.entry(), job.data(), DWORD(job.size()), &written, &error));
    EXPECT_EQ(written, job.size());
    HANDLE writeOnly = CreateFileW(other.c_str(), GENERIC_WRITE, share, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writeOnly, INVALID_HANDLE_VALUE);
    h.entry()->hTmpFile = writeOnly;
    int stopCode = 0;
    error = 0;
    EXPECT_FALSE(LPREndDocPort(h.entry(), &stopCode, &error));
    EXPECT_EQ(stopCode, LPR_STOP_ERROR);
    EXPECT_EQ(error, ERROR_ACCESS_DENIED);
    CloseHandle(readOnly);
    CloseHandle(jobFile);
    DeleteFileW(other.c_str());
}

TEST_F(MonLpr, JobFileTakesTheLongestPathItsFieldAllows)
{
    startPeer();
    openLprPort(TRANSFER_BYTECOUNT);
    const size_t nameLength = std::u16string_view(u"01234.tmp").size();
    palSetTempPath(tempFolderOfLength(JTMX_TMP_PATH_LEN - nameLength).c_str());
    h.addJob(kJob, 10, u"doc");
    ASSERT_TRUE(h.startDoc(kJob));
    std::u16string path = h.entry()->wszTmpFile;
    EXPECT_EQ(path.size(), size_t(JTMX_TMP_PATH_LEN));
    EXPECT_NE(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
    ASSERT_TRUE(h.endDoc());
    EXPECT_EQ(GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);

    // One character more does not fit: no file, and nothing written past the field.
    palSetTempPath(tempFolderOfLength(JTMX_TMP_PATH_LEN - nameLength + 1).c_str());
    h.startDoc(kJob);
    EXPECT_EQ(h.entry()->wszTmpFile[0], u'\0');
    EXPECT_EQ(h.entry()->hTmpFile, INVALID_HANDLE_VALUE);
}

TEST_F(MonLpr, StreamingSendsThroughItsBufferAndEndsTheFileByClosing)
{
    ASSERT_TRUE(h.startService());
    startPeer();
    openLprPort(0);
    Bytes header = jobmsg::concat({jobmsg::jobStart(), jobmsg::jobEnd()});
    Bytes job = jobmsg::concat({header, patternData(65536 - header.size()), patternData(1, 1),
                                patternData(70000, 2), patternData(10, 3)});
    h.addJob(kJob, DWORD(job.size()), u"stream.txt");
    ASSERT_TRUE(h.startDoc(kJob));
    size_t commandBytes = streamingExchange(controlFile("stream.txt"), {}).size();
    auto peerHas = [&](size_t bytes) {
        return peer->waitUntil(
            [&](const std::vector<LprPeerConnection>& c) { return !c.empty() && c[0].received.size() >= bytes; },
            std::chrono::seconds(20));
    };
    // Exactly 64 KB fill the buffer: nothing of the data goes out yet.
    size_t offset = 0;
    for (size_t size : {size_t(65536), size_t(1), size_t(70000), size_t(10)}) {
        DWORD written = 0;
        ASSERT_TRUE(h.write(Bytes(job.begin() + offset, job.begin() + offset + size), &written));
        EXPECT_EQ(written, size);
        offset += size;
        if (offset == 65536) {
            EXPECT_EQ(h.entry()->dwTmpSplBufLen, 65536u);
            ASSERT_TRUE(peerHas(commandBytes));
            ASSERT_TRUE(h.waitForReports(1));  // streaming reports at the write that completed the header
        } else if (offset == 65537) {
            EXPECT_EQ(h.entry()->dwTmpSplBufLen, 1u);  // the full buffer went out, the new byte waits
            ASSERT_TRUE(peerHas(commandBytes + 65536));
        } else if (offset == 65537 + 70000) {
            EXPECT_EQ(h.entry()->dwTmpSplBufLen, 0u);  // the buffered byte, then 70000 bytes directly
            ASSERT_TRUE(peerHas(commandBytes + 65537 + 70000));
        }
    }
    EXPECT_EQ(h.entry()->dwTmpSplBufLen, 10u);
    ASSERT_TRUE(h.endDoc());
    EXPECT_EQ(received(0), streamingExchange(controlFile("stream.txt"), job));
    EXPECT_EQ(peer->connections()[0].acks, Bytes(4, 0));
    EXPECT_EQ(h.reports().size(), 1u);
    EXPECT_EQ(commands(), (std::vector<std::pair<DWORD, DWORD>>{{kJob, JOB_CONTROL_SENT_TO_PRINTER}}));
    EXPECT_EQ(h.entry()->countdown, 0);
}

TEST_F(MonLpr, StreamingSizeTextComesFromTheIniFile)
{
    struct Case {
        const char* value;
        std::string size;
    } cases[] = {{"99", "99"}, {"12x", "125899906843000"}, {"", "125899906843000"}};
    DWORD job = 1;
    startPeer();
    openLprPort(0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        h.writeRootFile("drive_c/Windows/System32/JTRKMON2.INI",
                        std::string("[LprSystem]\r\nNoByteCountMax=") + c.value + "\r\n");
        h.addJob(job, 5, u"d");
        ASSERT_TRUE(h.startDoc(job));
        ASSERT_TRUE(h.writeAll(textBytes("%!PS-Adobe-3.0 data of the job"), {100}));
        ASSERT_TRUE(h.endDoc());
        std::string names = "00" + std::to_string(job) + "PC1";
        EXPECT_EQ(received(job - 1),
                  streamingExchange(controlFile("d", "alice", names), textBytes("%!PS-Adobe-3.0 data of the job"),
                                    c.size, names));
        job++;
    }
}

TEST_F(MonLpr, NoSpoolSpaceWithTheDefaultsWaitsAndStops)
{
    ASSERT_TRUE(h.startService());
    startPeer({0, 1});
    openLprPort(TRANSFER_BYTECOUNT, [](PortConfigData& c) {
        c.dwLprRetryCount = 0;
        c.dwLprRetryTimeout = 10;
        c.dwRetryInfinity = 1;
    });
    h.addJob(kJob, 100, u"doc");
    ASSERT_TRUE(h.startDoc(kJob));
    ASSERT_TRUE(h.writeAll(patternData(100), {100}));
    ASSERT_TRUE(h.endDoc());
    EXPECT_EQ(sleepsOf(2000), 5u);
    EXPECT_EQ(peer->connections().size(), 1u);
    EXPECT_EQ(peer->connections()[0].acks, (Bytes{0, 1}));
    // Stopped on an error that does not re-queue: logged, and the job is released as sent.
    std::vector<pal::EventLogEntry> events = h.events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].eventId, 0xC0000011u);
    EXPECT_EQ(events[0].strings, (std::vector<std::u16string>{kPort, u"EndDoc"}));
    EXPECT_EQ(commands(), (std::vector<std::pair<DWORD, DWORD>>{{kJob, JOB_CONTROL_SENT_TO_PRINTER}}));
    EXPECT_TRUE(h.reports().empty());  // no header, no report
    EXPECT_EQ(h.entry()->hSocket, INVALID_SOCKET);
}

TEST_F(MonLpr, NoSpoolSpaceWithoutRetryInfinityStartsAgain)
{
    startPeer({0, 1});
    openLprPort(TRANSFER_BYTECOUNT, [](PortConfigData& c) {
        c.dwLprRetryCount = 0;
        c.dwLprRetryTimeout = 3;
        c.dwRetryInfinity = 0;
    });
    Bytes data = patternData(3000);
    h.addJob(kJob, DWORD(data.size()), u"doc");
    ASSERT_TRUE(h.startDoc(kJob));
    ASSERT_TRUE(h.writeAll(data, {1000}));
    ASSERT_TRUE(h.endDoc());
    EXPECT_EQ(sleepsOf(2000), 2u);  // (3 + 1) / 2 rounds
    ASSERT_TRUE(peer->waitForEnded(2, std::chrono::seconds(20)));
    EXPECT_EQ(received(1), byteCountExchange(controlFile("doc"), data));
    EXPECT_TRUE(h.events().empty());
}

TEST_F(MonLpr, LpdErrorStartsAgainAtOnce)
{
    startPeer({0, 0, 2});
    openLprPort(TRANSFER_BYTECOUNT);
    Bytes data = patternData(100);
    h.addJob(kJob, DWORD(data.size()), u"doc");
    ASSERT_TRUE(h.startDoc(kJob));
    ASSERT_TRUE(h.writeAll(data, {100}));
    ASSERT_TRUE(h.endDoc());
    EXPECT_EQ(sleepsOf(2000), 0u);
    EXPECT_EQ(peer->connections()[0].acks, (Bytes{0, 0, 2}));
    EXPECT_EQ(received(1), byteCountExchange(controlFile("doc"), data));
}

TEST_F(MonLpr, OtherRefusalsWaitLikeNoSpoolSpace)
{
    startPeer({0, 0, 0, 0, 0x7F});
    openLprPort(TRANSFER_BYTECOUNT, [](PortConfigData& c) {
        c.dwLprRetryCount = 1;
        c.dwLprRetryTimeout = 1;
    });
    Bytes data = patternData(100);
    h.addJob(kJob, DWORD(data.size()), u"doc");
    ASSERT_TRUE(h.startDoc(kJob));
    ASSERT_TRUE(h.writeAll(data, {100}));
    ASSERT_TRUE(h.endDoc());
    // One refusal is within LprRetryCount: one round of waiting, then the job again.
    EXPECT_EQ(sleepsOf(2000), 1u);
    EXPECT_EQ(received(1), byteCountExchange(controlFile("doc"), data));
    EXPECT_TRUE(h.events().empty());
}

TEST_F(MonLpr, StreamingRefusalEndsTheWriteOrStartsAgain)
{
    // RetryInfinity set: the refusal stops the write, which is logged.
    startPeer({0, 1});
    openLprPort(0, [](PortConfigData& c) { c.dwLprRetryTimeout = 2; });
    h.addJob(1, 30, u"doc");
    ASSERT_TRUE(h.startDoc(1));
    DWORD written = 7;
    ASSERT_TRUE(h.write(textBytes("%!PS-Adobe-3.0 data of the job"), &written));
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(sleepsOf(2000), 1u);
    ASSERT_EQ(h.events().size(), 1u);
    EXPECT_EQ(h.events()[0].strings, (std::vector<std::u16string>{kPort, u"WritePort"}));
    EXPECT_EQ(h.entry()->countdown, 0);
    ASSERT_TRUE(h.endDoc());

    // RetryInfinity 0: the job is announced again on a new connection.
    h.spooler.clearSleeps();
    h.monitor.shutdown();
    h.port = nullptr;
    startPeer({0, 0, 0, 1});
    openLprPort(0, [](PortConfigData& c) {
        c.dwLprRetryTimeout = 2;
        c.dwRetryInfinity = 0;
    });
    h.addJob(2, 30, u"doc");
    ASSERT_TRUE(h.startDoc(2));
    ASSERT_TRUE(h.write(textBytes("%!PS-Adobe-3.0 data of the job"), &written));
    EXPECT_EQ(written, 30u);
    ASSERT_TRUE(h.endDoc());
    EXPECT_EQ(received(1), streamingExchange(controlFile("doc", "alice", "002PC1"),
                                             textBytes("%!PS-Adobe-3.0 data of the job"), "125899906843000",
                                             "002PC1"));
}

TEST_F(MonLpr, DeviceClosingAtAnAcknowledgementReQueuesTheJob)
{
    ASSERT_TRUE(h.startService());
    startPeer({0, 0, 0, kAckClose});
    openLprPort(TRANSFER_BYTECOUNT);
    h.addJob(kJob, 100, u"doc");
    ASSERT_TRUE(h.startDoc(kJob));
    ASSERT_TRUE(h.writeAll(patternData(100), {100}));
    ASSERT_TRUE(h.endDoc());
    EXPECT_EQ(commands(), (std::vector<std::pair<DWORD, DWORD>>{{kJob, JOB_CONTROL_PAUSE},
                                                                {kJob, JOB_CONTROL_RESTART},
                                                                {kJob, JOB_CONTROL_SENT_TO_PRINTER}}));
    ASSERT_TRUE(h.waitForReports(1));
    EXPECT_EQ(h.reports()[0].messageId, DWORD(JOBEVENT_REQUEUED));
    EXPECT_TRUE(h.events().empty());
    EXPECT_EQ(h.spooler.openHandles(), 0);
}

TEST_F(MonLpr, AnAcknowledgementThatComesWithTheCloseIsTaken)
{
    palReportCloseWithRead(TRUE);
    startPeer({0, 0, 0, 0, kAckThenClose});
    openLprPort(TRANSFER_BYTECOUNT);
    Bytes data = patternData(5000);
    h.addJob(kJob, DWORD(data.size()), u"doc");
    ASSERT_TRUE(h.startDoc(kJob));
    ASSERT_TRUE(h.writeAll(data, {5000}));
    ASSERT_TRUE(h.endDoc());
    EXPECT_EQ(received(0), byteCountExchange(controlFile("doc"), data));
    // The job went out once and is done: not re-queued, not sent again.
    EXPECT_EQ(peer->connections().size(), 1u);
    EXPECT_EQ(commands(), (std::vector<std::pair<DWORD, DWORD>>{{kJob, JOB_CONTROL_SENT_TO_PRINTER}}));
    EXPECT_TRUE(h.events().empty());
}

TEST_F(MonLpr, StreamingTakesAnAcknowledgementThatComesWithTheClose)
{
    palReportCloseWithRead(TRUE);
    startPeer({0, 0, 0, kAckThenHalfClose});
    openLprPort(0);
    // An empty write opens the stream, so nothing is sent after the device's close.
    h.addJob(kJob, 0, u"");
    ASSERT_TRUE(h.startDoc(kJob));
    DWORD written = 1;
    int error = 0;
    ASSERT_TRUE(LPRWritePort(h.entry(), nullptr, 0, &written, &error)) << error;
    EXPECT_EQ(written, 0u);
    ASSERT_TRUE(h.endDoc());
    EXPECT_EQ(received(0), streamingExchange(controlFile(""), {}));
    EXPECT_EQ(peer->connections().size(), 1u);
}

TEST_F(MonLpr, StreamingPauseAtTheLastSendStopsAsPausedAndRestartsTheJob)
{
    startPeer();
    openLprPort(0, [](PortConfigData& c) { c.dwRetryCount = 1; });
    Bytes data = textBytes("%!PS-Adobe-3.0 the buffered rest");
    h.addJob(kJob, DWORD(data.size()), u"doc");
    ASSERT_TRUE(h.startDoc(kJob));
    ASSERT_TRUE(h.writeAll(data, {100}));
    // The buffered rest fails to go out; the job is paused during the retry wait.
    palFailSends(WSAENOBUFS);
    h.spooler.onSleep([&](DWORD) { h.spooler.setJobStatus(kJob, JOB_STATUS_PAUSED); });
    int stopCode = 0;
    int error = 0;
    EXPECT_TRUE(LPREndDocPort(h.entry(), &stopCode, &error));
    h.spooler.onSleep({});
    EXPECT_EQ(stopCode, LPR_STOP_PAUSED);
    EXPECT_EQ(commands(), (std::vector<std::pair<DWORD, DWORD>>{{kJob, JOB_CONTROL_RESTART},
                                                                {kJob, JOB_CONTROL_SENT_TO_PRINTER}}));
}

TEST_F(MonLpr, PauseDuringTheDataFileRestartsTheJob)
{
    startPeer();
    peer->stallDataAfter(100000);
    openLprPort(TRANSFER_BYTECOUNT);
    Bytes data = patternData(2 * 1024 * 1024);
    h.addJob(kJob, DWORD(data.size()), u"doc");
    ASSERT_TRUE(h.startDoc(kJob));
    ASSERT_TRUE(h.writeAll(data, {1024 * 1024}));
    std::thread pauser([&] {
        EXPECT_TRUE(peer->waitUntil(
            [](const std::vector<LprPeerConnection>& c) { return !c.empty() && c[0].received.size() >= 100000; },
            std::chrono::seconds(20)));
        h.spooler.setJobStatus(kJob, JOB_STATUS_PAUSED);
        peer->release();
    });
    ASSERT_TRUE(h.endDoc());
    pauser.join();
    EXPECT_EQ(commands(), (std::vector<std::pair<DWORD, DWORD>>{{kJob, JOB_CONTROL_RESTART},
                                                                {kJob, JOB_CONTROL_SENT_TO_PRINTER}}));
    Bytes got = received(0);
    EXPECT_LT(got.size(), data.size());
    EXPECT_TRUE(h.events().empty());
    EXPECT_EQ(h.entry()->hSocket, INVALID_SOCKET);
}

TEST_F(MonLpr, JobStateAtTheEnd)
{
    startPeer();
    openLprPort(TRANSFER_BYTECOUNT);
    // Nothing written: released without a connection.
    h.addJob(1, 10, u"doc");
    ASSERT_TRUE(h.startDoc(1));
    ASSERT_TRUE(h.endDoc());
    // Found restarting: released, not completed, no connection.
    h.addJob(2, 10, u"doc");
    ASSERT_TRUE(h.startDoc(2));
    std::u16string file2(h.entry()->wszTmpFile);
    ASSERT_TRUE(h.writeAll(patternData(10), {10}));
    h.spooler.setJobStatus(2, JOB_STATUS_RESTART);
    ASSERT_TRUE(h.endDoc());
    EXPECT_EQ(GetFileAttributesW(file2.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(h.spooler.openHandles(), 0);
    // Found paused: restarted so that it is sent when resumed, then released.
    h.addJob(3, 10, u"doc");
    ASSERT_TRUE(h.startDoc(3));
    ASSERT_TRUE(h.writeAll(patternData(10), {10}));
    h.spooler.setJobStatus(3, JOB_STATUS_PAUSED);
    ASSERT_TRUE(h.endDoc());
    // Found deleting: released as done.
    h.addJob(4, 10, u"doc");
    ASSERT_TRUE(h.startDoc(4));
    ASSERT_TRUE(h.writeAll(patternData(10), {10}));
    h.spooler.setJobStatus(4, JOB_STATUS_DELETING);
    ASSERT_TRUE(h.endDoc());
    EXPECT_TRUE(peer->connections().empty());
    EXPECT_EQ(h.spooler.commands(), (std::vector<std::pair<DWORD, DWORD>>{{1, JOB_CONTROL_SENT_TO_PRINTER},
                                                                          {3, JOB_CONTROL_RESTART},
                                                                          {3, JOB_CONTROL_SENT_TO_PRINTER},
                                                                          {4, JOB_CONTROL_SENT_TO_PRINTER}}));
    EXPECT_EQ(h.spooler.openHandles(), 0);
    EXPECT_TRUE(h.events().empty());
}

TEST_F(MonLpr, LocalPortIsTheFirstFreeReservedOne)
{
    startPeer();
    openLprPort(TRANSFER_BYTECOUNT);
    auto runJob = [&](DWORD job) {
        h.addJob(job, 10, u"doc");
        ASSERT_TRUE(h.startDoc(job));
        ASSERT_TRUE(h.writeAll(patternData(10), {10}));
        ASSERT_TRUE(h.endDoc());
        ASSERT_TRUE(peer->waitForEnded(job, std::chrono::seconds(20)));
    };
    h.spooler.failBind(721, WSAEADDRINUSE);
    h.spooler.failBind(722, WSAEADDRINUSE);
    runJob(1);
    EXPECT_EQ(h.spooler.binds(), (std::vector<USHORT>{721, 722, 723}));
    // All eleven busy: an ephemeral port.
    for (USHORT port = 721; port <= 731; port++)
        h.spooler.failBind(port, WSAEADDRINUSE);
    runJob(2);
    EXPECT_EQ(h.spooler.binds().size(), 3u + 11u);
    EXPECT_GE(peer->connections()[1].senderPort, 1024);
    // Binding refused for lack of privilege: an ephemeral port at once.
    h.spooler.failBind(721, WSAEACCES);
    runJob(3);
    EXPECT_EQ(h.spooler.binds().size(), 3u + 11u + 1u);
    // Any other bind error fails the connect.
    h.spooler.failBind(721, WSAENOBUFS);
    palSetTimeScale(0.01);
    h.addJob(4, 10, u"doc");
    ASSERT_TRUE(h.startDoc(4));
    ASSERT_TRUE(h.writeAll(patternData(10), {10}));
    h.spooler.onSleep([&](DWORD) { h.spooler.setJobStatus(4, JOB_STATUS_DELETING); });
    ASSERT_TRUE(h.endDoc());
    h.spooler.onSleep({});
    EXPECT_EQ(peer->connections().size(), 3u);
}

TEST_F(MonLpr, ReservedPortsAreBoundForReal)
{
    g_MonSys.pfnBind = bind;
    startPeer();
    openLprPort(TRANSFER_BYTECOUNT);
    h.addJob(kJob, 10, u"doc");
    ASSERT_TRUE(h.startDoc(kJob));
    ASSERT_TRUE(h.writeAll(patternData(10), {10}));
    ASSERT_TRUE(h.endDoc());
    ASSERT_TRUE(peer->waitForEnded(1, std::chrono::seconds(20)));
    uint16_t port = peer->connections()[0].senderPort;
    // A reserved port when the process may bind one and one is free, else an ephemeral one.
    EXPECT_TRUE((port >= 721 && port <= 731) || port >= 1024) << port;
    if (geteuid() != 0) {
        EXPECT_GE(port, 1024);
    }
}

TEST_F(MonLpr, StreamingPauseDuringTheDataRestartsTheJob)
{
    startPeer();
    peer->stallDataAfter(100000);
    openLprPort(0);
    h.addJob(kJob, 8 * 1024 * 1024, u"doc");
    ASSERT_TRUE(h.startDoc(kJob));
    size_t commandBytes = streamingExchange(controlFile("doc"), {}).size();
    std::thread pauser([&] {
        EXPECT_TRUE(peer->waitUntil(
            [&](const std::vector<LprPeerConnection>& c) {
                return !c.empty() && c[0].received.size() >= commandBytes + 100000;
            },
            std::chrono::seconds(20)));
        h.spooler.setJobStatus(kJob, JOB_STATUS_PAUSED);
        peer->release();
    });
    Bytes data = patternData(1024 * 1024);
    DWORD written = 0;
    BOOL result = TRUE;
    for (int round = 0; round < 8 && result; round++) {
        result = h.write(data, &written);
        if (written == 0)
            break;
    }
    pauser.join();
    EXPECT_TRUE(result);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(h.spooler.commands(), (std::vector<std::pair<DWORD, DWORD>>{{kJob, JOB_CONTROL_RESTART}}));
    ASSERT_TRUE(peer->waitForEnded(1, std::chrono::seconds(20)));
    ASSERT_TRUE(h.endDoc());
    EXPECT_EQ(h.entry()->countdown, 0);
    EXPECT_EQ(h.spooler.openHandles(), 0);
}

} // namespace
