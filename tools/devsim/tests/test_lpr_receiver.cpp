// The simulated line printer daemon, driven by hand-written RFC 1179 byte streams.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "LprClient.h"
#include "LprReceiver.h"

namespace {

using namespace std::chrono_literals;
using devsim::LprAnswer;
using devsim::LprAnswerKind;
using devsim::LprEnd;
using devsim::LprJob;
using devsim::LprReceiver;
using devsim::LprReceiverOptions;
using devsim::LprScript;
using devsim::LprStep;
using lprtest::Heard;
using lprtest::kWait;
using lprtest::LprClient;

// Bytes of a literal, embedded 0 bytes included.
template <size_t Size>
std::string bytes(const char (&text)[Size])
{
    return std::string(text, Size - 1);
}

// Job 123 of "report.txt", by alice on PC1, to queue "lp".
const std::string kQueueCommand = bytes("\x02lp\n");
const std::string kControlFileCommand = bytes("\x02" "58 cfA123PC1\n");
const std::string kControlFile = "HPC1\nPalice\nJreport.txt\nNreport.txt\nldfA123PC1\nUdfA123PC1\n";
const std::string kDataFileCommand = bytes("\x03" "14 dfA123PC1\n");
const std::string kData = bytes("\x1b" "Ehello\0world\n");

// The bytes of each step, in the order of LprStep.
std::vector<std::string> jobSteps()
{
    return {kQueueCommand, kControlFileCommand, kControlFile + '\0', kDataFileCommand, kData + '\0'};
}

std::string pattern(size_t size, unsigned seed)
{
    std::string text(size, '\0');
    for (size_t i = 0; i < size; ++i)
        text[i] = static_cast<char>((i * 131 + seed) % 251);
    return text;
}

// Names parameterised cases after their `name` field.
template <typename Param>
std::string nameOf(const ::testing::TestParamInfo<Param>& info)
{
    return info.param.name;
}

const Heard kAck = Heard::of(0);
const Heard kClosed{Heard::Closed};
const Heard kReset{Heard::Reset};
const Heard kNothing{Heard::Nothing};

LprReceiverOptions onFreePort(LprScript script = {})
{
    LprReceiverOptions options;
    options.port = 0;
    options.script = std::move(script);
    return options;
}

LprScript answering(LprStep step, LprAnswer answer)
{
    LprScript script;
    script.answers[step] = answer;
    return script;
}

class LprReceiverTest : public ::testing::Test {
protected:
    void start(LprReceiverOptions options)
    {
        receiver = std::make_unique<LprReceiver>(std::move(options));
        std::string error;
        ASSERT_TRUE(receiver->start(error)) << error;
    }

    std::unique_ptr<LprClient> connect()
    {
        auto client = std::make_unique<LprClient>("127.0.0.1", receiver->port());
        EXPECT_TRUE(client->connected());
        return client;
    }

    // The first job once it has ended.
    LprJob firstJob()
    {
        EXPECT_TRUE(receiver->waitForJobs(1, kWait));
        return receiver->jobs().at(0);
    }

    std::unique_ptr<LprReceiver> receiver;
};

TEST_F(LprReceiverTest, AByteCountJobIsRecordedExactly)
{
    start(onFreePort());
    auto client = connect();
    EXPECT_EQ(client->exchange(kQueueCommand), kAck);
    EXPECT_EQ(client->exchange(kControlFileCommand), kAck);
    EXPECT_EQ(client->exchange(kControlFile + '\0'), kAck);
    EXPECT_EQ(client->exchange(kDataFileCommand), kAck);
    EXPECT_EQ(client->exchange(kData + '\0'), kAck);
    client->shutdownSend();
    EXPECT_EQ(client->next(), kClosed) << "the device closes after the sender";

    const LprJob job = firstJob();
    EXPECT_EQ(job.stream, bytes("\x02lp\n"
                                "\x02" "58 cfA123PC1\n"
                                "HPC1\nPalice\nJreport.txt\nNreport.txt\nldfA123PC1\nUdfA123PC1\n\0"
                                "\x03" "14 dfA123PC1\n"
                                "\x1b" "Ehello\0world\n\0"));
    EXPECT_EQ(job.queue, "lp");
    ASSERT_TRUE(job.controlFile);
    EXPECT_EQ(job.controlFile->name, "cfA123PC1");
    EXPECT_EQ(job.controlFile->announced, 58u);
    EXPECT_EQ(job.controlFile->bytes, kControlFile);
    EXPECT_TRUE(job.controlFile->whole);
    const std::multimap<char, std::string> lines{{'H', "PC1"},        {'P', "alice"},     {'J', "report.txt"},
                                                 {'N', "report.txt"}, {'l', "dfA123PC1"}, {'U', "dfA123PC1"}};
    EXPECT_EQ(job.controlLines(), lines);
    EXPECT_EQ(job.controlLine('P'), "alice");
    EXPECT_EQ(job.controlLine('M'), "");
    ASSERT_EQ(job.dataFiles.size(), 1u);
    EXPECT_EQ(job.dataFiles[0].name, "dfA123PC1");
    EXPECT_EQ(job.dataFiles[0].announced, 14u);
    EXPECT_FALSE(job.dataFiles[0].endedByClose);
    EXPECT_EQ(job.dataFiles[0].bytes, kData);
    EXPECT_TRUE(job.dataFiles[0].whole);
    EXPECT_TRUE(job.refused.empty());
    EXPECT_EQ(job.aborts, 0u);
    EXPECT_EQ(job.malformed, "");
    EXPECT_EQ(job.end, LprEnd::SenderClosed);
    EXPECT_TRUE(job.complete());
    EXPECT_EQ(job.peerPort, client->localPort());
    EXPECT_EQ(job.peer, "127.0.0.1:" + std::to_string(client->localPort()));
}

TEST_F(LprReceiverTest, StepsSentTogetherAreAnsweredInOrder)
{
    start(onFreePort());
    auto client = connect();
    std::string whole;
    for (const std::string& step : jobSteps())
        whole += step;
    ASSERT_TRUE(client->send(whole));
    client->shutdownSend();
    EXPECT_EQ(client->rest(), std::string(5, '\0'));
    const LprJob job = firstJob();
    EXPECT_EQ(job.stream, whole);
    EXPECT_TRUE(job.complete());
}

struct SizeUnknown {
    const char* name;
    const char* count;
    uint64_t announced;
};

class LprStreaming : public LprReceiverTest, public ::testing::WithParamInterface<SizeUnknown> {};

TEST_P(LprStreaming, ADataFileOfUnknownSizeEndsWithTheConnection)
{
    start(onFreePort());
    auto client = connect();
    EXPECT_EQ(client->exchange(kQueueCommand), kAck);
    EXPECT_EQ(client->exchange(kControlFileCommand), kAck);
    EXPECT_EQ(client->exchange(kControlFile + '\0'), kAck);
    const std::string command = "\x03" + std::string(GetParam().count) + " dfA123PC1\n";
    EXPECT_EQ(client->exchange(command), kAck);
    const std::string data = pattern(300000, 1);
    for (size_t offset = 0; offset < data.size(); offset += 65536)
        ASSERT_TRUE(client->send(data.substr(offset, 65536)));
    client->shutdownSend();
    EXPECT_EQ(client->next(), kClosed) << "no answer after a data file ended by close";

    const LprJob job = firstJob();
    ASSERT_EQ(job.dataFiles.size(), 1u);
    EXPECT_EQ(job.dataFiles[0].announced, GetParam().announced);
    EXPECT_TRUE(job.dataFiles[0].endedByClose);
    EXPECT_TRUE(job.dataFiles[0].whole);
    EXPECT_TRUE(job.dataFiles[0].bytes == data);
    EXPECT_TRUE(job.stream == kQueueCommand + kControlFileCommand + kControlFile + '\0' + command + data);
    EXPECT_TRUE(job.complete());
}

INSTANTIATE_TEST_SUITE_P(Counts, LprStreaming,
                         ::testing::Values(SizeUnknown{"Large", "125899906843000", 125899906843000u},
                                           SizeUnknown{"Zero", "0", 0u},
                                           SizeUnknown{"Beyond64Bits", "123456789012345678901234567890", UINT64_MAX}),
                         nameOf<SizeUnknown>);

TEST_F(LprReceiverTest, TheCountThatMeansSizeUnknownIsAnOption)
{
    LprReceiverOptions options = onFreePort();
    options.sizeUnknownFrom = 1000;
    start(options);
    auto client = connect();
    EXPECT_EQ(client->exchange(kQueueCommand), kAck);
    EXPECT_EQ(client->exchange(bytes("\x03" "999 dfA001h\n")), kAck);
    EXPECT_EQ(client->exchange(pattern(999, 2) + '\0'), kAck) << "999 bytes are a count";
    EXPECT_EQ(client->exchange(bytes("\x03" "1000 dfA002h\n")), kAck);
    ASSERT_TRUE(client->send(pattern(5, 3)));
    client->shutdownSend();
    EXPECT_EQ(client->next(), kClosed);
    const LprJob job = firstJob();
    ASSERT_EQ(job.dataFiles.size(), 2u);
    EXPECT_FALSE(job.dataFiles[0].endedByClose);
    EXPECT_TRUE(job.dataFiles[1].endedByClose);
    EXPECT_EQ(job.dataFiles[1].bytes, pattern(5, 3));
}

struct Refusal {
    const char* name;
    LprStep step;
    uint8_t byte;
};

class LprRefusal : public LprReceiverTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(LprRefusal, TheDeviceRefusesAtTheScriptedStepAndKeepsTheConnection)
{
    const Refusal refusal = GetParam();
    start(onFreePort(answering(refusal.step, {LprAnswerKind::Refuse, refusal.byte})));
    auto client = connect();
    const auto steps = jobSteps();
    const auto refusedAt = static_cast<size_t>(refusal.step);
    std::string sent;
    for (size_t i = 0; i <= refusedAt; ++i) {
        EXPECT_EQ(client->exchange(steps[i]), i == refusedAt ? Heard::of(refusal.byte) : kAck);
        sent += steps[i];
    }
    EXPECT_EQ(client->next(50ms), kNothing) << "a refusal does not close the connection";
    client->shutdownSend();
    EXPECT_EQ(client->next(), kClosed);

    const LprJob job = firstJob();
    EXPECT_EQ(job.refused, std::vector<LprStep>{refusal.step});
    EXPECT_EQ(job.stream, sent);
    EXPECT_EQ(job.end, LprEnd::SenderClosed);
    EXPECT_FALSE(job.complete());
    EXPECT_EQ(job.controlFile.has_value(), refusal.step > LprStep::ControlFile) << "a refused file is dropped";
    EXPECT_TRUE(job.dataFiles.empty());
}

INSTANTIATE_TEST_SUITE_P(Steps, LprRefusal,
                         ::testing::Values(Refusal{"QueueCommand", LprStep::QueueCommand, 1},
                                           Refusal{"ControlFileCommand", LprStep::ControlFileCommand, 2},
                                           Refusal{"ControlFile", LprStep::ControlFile, 1},
                                           Refusal{"DataFileCommand", LprStep::DataFileCommand, 2},
                                           Refusal{"DataFile", LprStep::DataFile, 0x7f}),
                         nameOf<Refusal>);

TEST_F(LprReceiverTest, AfterARefusedSubcommandTheNextOneIsRead)
{
    start(onFreePort(answering(LprStep::ControlFileCommand, {LprAnswerKind::Refuse, 1})));
    auto client = connect();
    EXPECT_EQ(client->exchange(kQueueCommand), kAck);
    EXPECT_EQ(client->exchange(kControlFileCommand), Heard::of(1));
    EXPECT_EQ(client->exchange(kDataFileCommand), kAck) << "the refused control file is not expected";
    EXPECT_EQ(client->exchange(kData + '\0'), kAck);
    client->shutdownSend();
    EXPECT_EQ(client->next(), kClosed);
    const LprJob job = firstJob();
    EXPECT_FALSE(job.controlFile);
    ASSERT_EQ(job.dataFiles.size(), 1u);
    EXPECT_EQ(job.dataFiles[0].bytes, kData);
    EXPECT_FALSE(job.complete());
}

TEST_F(LprReceiverTest, AStalledAnswerComesWhenResumedAndHeldBytesAreReadThen)
{
    start(onFreePort(answering(LprStep::ControlFile, {LprAnswerKind::Stall})));
    auto client = connect();
    EXPECT_EQ(client->exchange(kQueueCommand), kAck);
    EXPECT_EQ(client->exchange(kControlFileCommand), kAck);
    ASSERT_TRUE(client->send(kControlFile + '\0' + kDataFileCommand));
    ASSERT_TRUE(receiver->waitUntil([](const auto& jobs) { return !jobs.empty() && jobs[0].stalled; }, kWait));
    EXPECT_EQ(client->next(50ms), kNothing);
    EXPECT_EQ(receiver->jobs()[0].stream, kQueueCommand + kControlFileCommand + kControlFile + '\0')
        << "a stalled device takes nothing more";

    receiver->resume();
    EXPECT_EQ(client->next(), kAck) << "the control file";
    EXPECT_EQ(client->next(), kAck) << "the data-file command sent before the answer";
    EXPECT_EQ(client->exchange(kData + '\0'), kAck);
    client->shutdownSend();
    EXPECT_EQ(client->next(), kClosed);
    const LprJob job = firstJob();
    EXPECT_FALSE(job.stalled);
    EXPECT_TRUE(job.complete());
}

TEST_F(LprReceiverTest, AStalledDeviceNoticesTheSenderGivingUp)
{
    start(onFreePort(answering(LprStep::QueueCommand, {LprAnswerKind::Stall})));
    auto client = connect();
    ASSERT_TRUE(client->send(kQueueCommand));
    ASSERT_TRUE(receiver->waitUntil([](const auto& jobs) { return !jobs.empty() && jobs[0].stalled; }, kWait));
    EXPECT_EQ(client->next(50ms), kNothing);
    client->shutdownSend();
    EXPECT_EQ(firstJob().end, LprEnd::SenderClosed);
    EXPECT_EQ(client->next(), kClosed);
}

TEST_F(LprReceiverTest, AStallInsideTheDataFileStopsReadingAtItsByte)
{
    LprScript script;
    script.dataBreak = devsim::LprDataBreak{100000, LprAnswerKind::Stall};
    start(onFreePort(script));
    auto client = connect();
    EXPECT_EQ(client->exchange(kQueueCommand), kAck);
    EXPECT_EQ(client->exchange(bytes("\x03" "2097152 dfA123PC1\n")), kAck);
    const std::string data = pattern(2 << 20, 4);
    std::atomic<bool> sent{false};
    std::thread sender([&] { sent = client->send(data + '\0'); });
    ASSERT_TRUE(receiver->waitUntil(
        [](const auto& jobs) {
            return !jobs.empty() && jobs[0].stalled && jobs[0].dataFiles.at(0).bytes.size() == 100000;
        },
        kWait));
    receiver->resume();
    sender.join();
    EXPECT_TRUE(sent);
    EXPECT_EQ(client->next(), kAck);
    client->shutdownSend();
    EXPECT_EQ(client->next(), kClosed);
    const LprJob job = firstJob();
    EXPECT_TRUE(job.dataFiles.at(0).bytes == data);
    EXPECT_TRUE(job.dataFiles.at(0).whole);
}

struct Interruption {
    const char* name;
    LprStep step;
    LprAnswerKind kind;
};

class LprInterruption : public LprReceiverTest, public ::testing::WithParamInterface<Interruption> {};

TEST_P(LprInterruption, TheDeviceClosesOrResetsInsteadOfAnswering)
{
    const Interruption interruption = GetParam();
    start(onFreePort(answering(interruption.step, {interruption.kind})));
    auto client = connect();
    const auto steps = jobSteps();
    const auto at = static_cast<size_t>(interruption.step);
    for (size_t i = 0; i < at; ++i)
        EXPECT_EQ(client->exchange(steps[i]), kAck);
    const bool reset = interruption.kind == LprAnswerKind::Reset;
    EXPECT_EQ(client->exchange(steps[at]), reset ? kReset : kClosed);
    const LprJob job = firstJob();
    EXPECT_EQ(job.end, reset ? LprEnd::ResetByDevice : LprEnd::ClosedByDevice);
    EXPECT_FALSE(job.complete());
}

INSTANTIATE_TEST_SUITE_P(
    Steps, LprInterruption,
    ::testing::Values(Interruption{"CloseAtQueue", LprStep::QueueCommand, LprAnswerKind::Close},
                      Interruption{"CloseAtControlFile", LprStep::ControlFile, LprAnswerKind::Close},
                      Interruption{"ResetAtDataFileCommand", LprStep::DataFileCommand, LprAnswerKind::Reset},
                      Interruption{"CloseAtDataFile", LprStep::DataFile, LprAnswerKind::Close},
                      Interruption{"ResetAtDataFile", LprStep::DataFile, LprAnswerKind::Reset}),
    nameOf<Interruption>);

struct DataBreak {
    const char* name;
    LprAnswerKind kind;
    const char* count;
};

class LprBreakInData : public LprReceiverTest, public ::testing::WithParamInterface<DataBreak> {};

TEST_P(LprBreakInData, TheDeviceTakesExactlyTheBytesBeforeItCloses)
{
    LprScript script;
    script.dataBreak = devsim::LprDataBreak{1000, GetParam().kind};
    start(onFreePort(script));
    auto client = connect();
    EXPECT_EQ(client->exchange(kQueueCommand), kAck);
    const std::string command = "\x03" + std::string(GetParam().count) + " dfA123PC1\n";
    EXPECT_EQ(client->exchange(command), kAck);
    const std::string data = pattern(100000, 5);
    const bool sent = client->send(data + '\0');
    const Heard heard = client->next();
    if (GetParam().kind == LprAnswerKind::Close)
        EXPECT_EQ(heard, kClosed);
    else // the reset shows at the send or at the read after it
        EXPECT_TRUE(heard == kReset || (!sent && heard == kClosed)) << lprtest::describe(heard);

    const LprJob job = firstJob();
    EXPECT_EQ(job.end, GetParam().kind == LprAnswerKind::Close ? LprEnd::ClosedByDevice : LprEnd::ResetByDevice);
    ASSERT_EQ(job.dataFiles.size(), 1u);
    EXPECT_TRUE(job.dataFiles[0].bytes == data.substr(0, 1000));
    EXPECT_FALSE(job.dataFiles[0].whole);
    EXPECT_TRUE(job.stream == kQueueCommand + command + data.substr(0, 1000));
}

INSTANTIATE_TEST_SUITE_P(Kinds, LprBreakInData,
                         ::testing::Values(DataBreak{"CloseInACountedFile", LprAnswerKind::Close, "100000"},
                                           DataBreak{"CloseInAFileEndedByClose", LprAnswerKind::Close,
                                                     "125899906843000"},
                                           DataBreak{"ResetInACountedFile", LprAnswerKind::Reset, "100000"}),
                         nameOf<DataBreak>);

TEST_F(LprReceiverTest, AnAbortDropsTheFilesReceivedSoFarWithoutAnAnswer)
{
    start(onFreePort());
    {
        auto client = connect();
        for (const std::string& step : jobSteps())
            EXPECT_EQ(client->exchange(step), kAck);
        ASSERT_TRUE(client->send(bytes("\x01\n")));
        client->shutdownSend();
        EXPECT_EQ(client->rest(), "") << "no answer to the abort";
    }
    const LprJob aborted = firstJob();
    EXPECT_EQ(aborted.aborts, 1u);
    EXPECT_FALSE(aborted.controlFile);
    EXPECT_TRUE(aborted.dataFiles.empty());
    EXPECT_FALSE(aborted.complete());

    auto client = connect();
    const std::string second = "HPC1\nPbob\n";
    EXPECT_EQ(client->exchange(kQueueCommand), kAck);
    EXPECT_EQ(client->exchange(kControlFileCommand), kAck);
    EXPECT_EQ(client->exchange(kControlFile + '\0'), kAck);
    ASSERT_TRUE(client->send(bytes("\x01\n")));
    EXPECT_EQ(client->exchange(bytes("\x02" "10 cfA124PC1\n")), kAck);
    EXPECT_EQ(client->exchange(second + '\0'), kAck);
    EXPECT_EQ(client->exchange(kDataFileCommand), kAck);
    EXPECT_EQ(client->exchange(kData + '\0'), kAck);
    client->shutdownSend();
    EXPECT_EQ(client->rest(), "");
    ASSERT_TRUE(receiver->waitForJobs(2, kWait));
    const LprJob job = receiver->jobs()[1];
    EXPECT_EQ(job.aborts, 1u);
    ASSERT_TRUE(job.controlFile);
    EXPECT_EQ(job.controlFile->bytes, second);
    EXPECT_TRUE(job.complete());
}

struct Malformed {
    const char* name;
    std::string bytes;
    std::string answers; // everything the device sends before it closes
    const char* complaint;
};

class LprMalformed : public LprReceiverTest, public ::testing::WithParamInterface<Malformed> {};

TEST_P(LprMalformed, TheDeviceAnswersLpdErrorAndCloses)
{
    start(onFreePort());
    auto client = connect();
    ASSERT_TRUE(client->send(GetParam().bytes));
    EXPECT_EQ(client->rest(), GetParam().answers);
    const LprJob job = firstJob();
    EXPECT_NE(job.malformed.find(GetParam().complaint), std::string::npos) << job.malformed;
    EXPECT_EQ(job.end, LprEnd::ClosedByDevice);
    EXPECT_FALSE(job.complete());
}

const std::string kAccepted = bytes("\x02lp\n");

INSTANTIATE_TEST_SUITE_P(
    Commands, LprMalformed,
    ::testing::Values(
        Malformed{"OtherDaemonCommand", bytes("\x04lp\n"), bytes("\x02"), "not a receive-job command: 0x04"},
        Malformed{"NoQueueName", bytes("\x02\n"), bytes("\x02"), "without a queue name"},
        Malformed{"EmptyLine", bytes("\n"), bytes("\x02"), "an empty line"},
        Malformed{"NoSpace", kAccepted + bytes("\x02" "58cfA123PC1\n"), bytes("\0\x02"), "cannot read"},
        Malformed{"CountNotDigits", kAccepted + bytes("\x02" "5x8 cfA123PC1\n"), bytes("\0\x02"), "cannot read"},
        Malformed{"NoName", kAccepted + bytes("\x02" "58 \n"), bytes("\0\x02"), "cannot read"},
        Malformed{"NoCount", kAccepted + bytes("\x03 dfA123PC1\n"), bytes("\0\x02"), "cannot read"},
        Malformed{"ControlFileNamedDf", kAccepted + bytes("\x02" "58 dfA123PC1\n"), bytes("\0\x02"),
                  "a control file named 'dfA123PC1'"},
        Malformed{"DataFileNamedCf", kAccepted + bytes("\x03" "5 cfA123PC1\n"), bytes("\0\x02"),
                  "a data file named 'cfA123PC1'"},
        Malformed{"HugeControlFile", kAccepted + bytes("\x02" "2000000 cfA123PC1\n"), bytes("\0\x02"),
                  "a control file of 2000000 bytes"},
        Malformed{"UnknownSubcommand", kAccepted + bytes("\x05x\n"), bytes("\0\x02"), "not a subcommand: 0x05"},
        Malformed{"AbortWithOperands", kAccepted + bytes("\x01now\n"), bytes("\0\x02"),
                  "abort subcommand with operands"},
        Malformed{"FileWithoutItsZeroByte", kAccepted + bytes("\x02" "3 cfA123PC1\nHx\nX"), bytes("\0\0\x02"),
                  "the control file does not end with a 0 byte"},
        Malformed{"EndlessLine", kAccepted + std::string(5000, 'a'), bytes("\0\x02"), "longer than 4096 bytes"}),
    nameOf<Malformed>);

TEST_F(LprReceiverTest, ASenderClosingMidFileLeavesTheFileIncomplete)
{
    start(onFreePort());
    auto client = connect();
    EXPECT_EQ(client->exchange(kQueueCommand), kAck);
    EXPECT_EQ(client->exchange(kControlFileCommand), kAck);
    EXPECT_EQ(client->exchange(kControlFile + '\0'), kAck);
    EXPECT_EQ(client->exchange(bytes("\x03" "1000 dfA123PC1\n")), kAck);
    ASSERT_TRUE(client->send(pattern(400, 6)));
    client->shutdownSend();
    EXPECT_EQ(client->next(), kClosed);
    const LprJob job = firstJob();
    EXPECT_EQ(job.end, LprEnd::SenderClosed);
    ASSERT_EQ(job.dataFiles.size(), 1u);
    EXPECT_EQ(job.dataFiles[0].bytes, pattern(400, 6));
    EXPECT_FALSE(job.dataFiles[0].whole);
    EXPECT_FALSE(job.complete());
}

// A device that closes late holds the connection after the sender's close; a reset meanwhile ends it.
TEST_F(LprReceiverTest, ALateCloseHoldsTheConnectionUntilItsTimeOrTheSendersReset)
{
    LprReceiverOptions options = onFreePort();
    options.closeDelay = 300ms;
    start(options);
    const std::string data = pattern(400, 7);
    for (bool resetting : {false, true}) {
        auto client = connect();
        EXPECT_EQ(client->exchange(kQueueCommand), kAck);
        EXPECT_EQ(client->exchange(kControlFileCommand), kAck);
        EXPECT_EQ(client->exchange(kControlFile + '\0'), kAck);
        EXPECT_EQ(client->exchange(bytes("\x03" "0 dfA123PC1\n")), kAck);
        ASSERT_TRUE(client->send(data));
        const auto start = std::chrono::steady_clock::now();
        client->shutdownSend();
        const size_t index = resetting ? 1 : 0;
        ASSERT_TRUE(receiver->waitUntil(
            [&](const auto& jobs) {
                return jobs.size() > index && !jobs[index].dataFiles.empty() && jobs[index].dataFiles[0].whole;
            },
            kWait));
        if (resetting) {
            client->reset();
            ASSERT_TRUE(receiver->waitForJobs(2, kWait));
            EXPECT_EQ(receiver->jobs()[1].end, LprEnd::SenderReset);
        } else {
            EXPECT_EQ(client->next(), kClosed);
            EXPECT_GE(std::chrono::steady_clock::now() - start, 250ms);
            ASSERT_TRUE(receiver->waitForJobs(1, kWait));
            EXPECT_EQ(receiver->jobs()[0].end, LprEnd::SenderClosed);
            EXPECT_TRUE(receiver->jobs()[0].complete());
        }
    }
}

TEST_F(LprReceiverTest, ASenderResettingMidCommandBreaksTheJob)
{
    start(onFreePort());
    auto client = connect();
    EXPECT_EQ(client->exchange(kQueueCommand), kAck);
    ASSERT_TRUE(client->send(bytes("\x02" "58 cfA")));
    ASSERT_TRUE(
        receiver->waitUntil([](const auto& jobs) { return !jobs.empty() && jobs[0].stream.size() == 11; }, kWait));
    client->reset();
    const LprJob job = firstJob();
    EXPECT_EQ(job.end, LprEnd::SenderReset);
    EXPECT_FALSE(job.controlFile);
    EXPECT_EQ(job.stream, bytes("\x02lp\n\x02" "58 cfA"));
}

// Sends the standard job with `data` and closes; true when every step was acknowledged.
bool sendJob(LprClient& client, const std::string& queue, const std::string& data)
{
    bool acknowledged = client.exchange("\x02" + queue + "\n") == kAck &&
                        client.exchange(kControlFileCommand) == kAck &&
                        client.exchange(kControlFile + '\0') == kAck &&
                        client.exchange("\x03" + std::to_string(data.size()) + " dfA123PC1\n") == kAck &&
                        client.exchange(data + '\0') == kAck;
    client.shutdownSend();
    return acknowledged && client.next() == kClosed;
}

TEST(LprDevices, TwoDevicesOnTheirOwnAddressesTakeTheirOwnJobsAtOnce)
{
    LprReceiverOptions first = onFreePort();
    first.address = "127.0.0.5";
    LprReceiver five(first);
    std::string error;
    ASSERT_TRUE(five.start(error)) << error;
    LprReceiverOptions second = first;
    second.address = "127.0.0.6";
    second.port = five.port();
    LprReceiver six(second);
    ASSERT_TRUE(six.start(error)) << "the same port on another address: " << error;

    const std::string fiveData = pattern(500000, 7);
    const std::string sixData = pattern(300000, 8);
    std::atomic<bool> fiveSent{false}, sixSent{false};
    std::thread toFive([&] {
        LprClient client("127.0.0.5", five.port());
        fiveSent = sendJob(client, "five", fiveData);
    });
    std::thread toSix([&] {
        LprClient client("127.0.0.6", six.port());
        sixSent = sendJob(client, "six", sixData);
    });
    toFive.join();
    toSix.join();
    EXPECT_TRUE(fiveSent);
    EXPECT_TRUE(sixSent);
    ASSERT_TRUE(five.waitForJobs(1, kWait));
    ASSERT_TRUE(six.waitForJobs(1, kWait));
    ASSERT_EQ(five.jobs().size(), 1u);
    ASSERT_EQ(six.jobs().size(), 1u);
    EXPECT_EQ(five.jobs()[0].queue, "five");
    EXPECT_TRUE(five.jobs()[0].dataFiles.at(0).bytes == fiveData);
    EXPECT_EQ(six.jobs()[0].queue, "six");
    EXPECT_TRUE(six.jobs()[0].dataFiles.at(0).bytes == sixData);

    LprClient elsewhere("127.0.0.7", five.port());
    EXPECT_FALSE(elsewhere.connected());
    EXPECT_EQ(elsewhere.connectError(), ECONNREFUSED);
}

TEST_F(LprReceiverTest, QueuedScriptsAnswerTheNextConnectionsInOrder)
{
    start(onFreePort());
    receiver->queueScript(answering(LprStep::ControlFile, {LprAnswerKind::Refuse, 1}));
    receiver->queueScript(answering(LprStep::QueueCommand, {LprAnswerKind::Refuse, 2}));
    {
        auto client = connect();
        EXPECT_EQ(client->exchange(kQueueCommand), kAck);
        EXPECT_EQ(client->exchange(kControlFileCommand), kAck);
        EXPECT_EQ(client->exchange(kControlFile + '\0'), Heard::of(1));
    }
    {
        auto client = connect();
        EXPECT_EQ(client->exchange(kQueueCommand), Heard::of(2));
    }
    auto client = connect();
    EXPECT_TRUE(sendJob(*client, "lp", kData)) << "then the options' script";
    ASSERT_TRUE(receiver->waitForJobs(3, kWait));
    EXPECT_TRUE(receiver->jobs()[2].complete());
}

TEST_F(LprReceiverTest, StoppingEndsOpenJobsAndFreesThePort)
{
    start(onFreePort());
    auto client = connect();
    EXPECT_EQ(client->exchange(kQueueCommand), kAck);
    EXPECT_FALSE(receiver->waitForJobs(1, 10ms));
    receiver->stop();
    EXPECT_EQ(receiver->jobs().at(0).end, LprEnd::Stopped);
    EXPECT_EQ(client->next(), kClosed);

    LprReceiverOptions again = onFreePort();
    again.port = receiver->port();
    LprReceiver second(again);
    std::string error;
    EXPECT_TRUE(second.start(error)) << "a stopped receiver frees its port: " << error;
}

TEST_F(LprReceiverTest, ManySendersAtOnce)
{
    start(onFreePort());
    constexpr int kSenders = 8;
    constexpr int kJobsEach = 5;
    std::atomic<int> acknowledged{0};
    std::vector<std::thread> senders;
    for (int sender = 0; sender < kSenders; ++sender)
        senders.emplace_back([&, sender] {
            for (int job = 0; job < kJobsEach; ++job) {
                LprClient client("127.0.0.1", receiver->port());
                const std::string name = std::to_string(sender * kJobsEach + job);
                acknowledged += sendJob(client, name, pattern(20000 + 1000 * job, sender));
            }
        });
    for (auto& sender : senders)
        sender.join();
    EXPECT_EQ(acknowledged, kSenders * kJobsEach);
    ASSERT_TRUE(receiver->waitForJobs(kSenders * kJobsEach, kWait));
    for (const LprJob& job : receiver->jobs()) {
        ASSERT_TRUE(job.complete()) << *job.queue;
        const int number = std::stoi(*job.queue);
        EXPECT_TRUE(job.dataFiles[0].bytes == pattern(20000 + 1000 * (number % kJobsEach), number / kJobsEach))
            << number;
    }
}

TEST(LprScripts, ScriptTextsAreReadStrictly)
{
    LprScript script;
    std::string complaint;
    const char* all = "queue=ack,cf-command=refuse,cf=refuse:2,df-command=stall,df=reset,df@4096=close";
    ASSERT_TRUE(devsim::parseLprScript(all, script, complaint))
        << complaint;
    EXPECT_EQ(script.answer(LprStep::QueueCommand).kind, LprAnswerKind::Accept);
    EXPECT_EQ(script.answer(LprStep::ControlFileCommand).kind, LprAnswerKind::Refuse);
    EXPECT_EQ(script.answer(LprStep::ControlFileCommand).refusal, 1);
    EXPECT_EQ(script.answer(LprStep::ControlFile).refusal, 2);
    EXPECT_EQ(script.answer(LprStep::DataFileCommand).kind, LprAnswerKind::Stall);
    EXPECT_EQ(script.answer(LprStep::DataFile).kind, LprAnswerKind::Reset);
    ASSERT_TRUE(script.dataBreak);
    EXPECT_EQ(script.dataBreak->afterBytes, 4096u);
    EXPECT_EQ(script.dataBreak->kind, LprAnswerKind::Close);
    EXPECT_EQ(devsim::lprStepName(LprStep::DataFileCommand), std::string("df-command"));

    for (const char* wrong : {"", "cf", "cf=", "cf=maybe", "file=ack", "cf=refuse:0", "cf=refuse:256",
                              "cf=close:3", "df@=close", "df@12=refuse", "df@12=ack", "cf@12=close", "cf=ack,"}) {
        LprScript untouched = answering(LprStep::ControlFile, {LprAnswerKind::Stall});
        EXPECT_FALSE(devsim::parseLprScript(wrong, untouched, complaint)) << wrong;
        EXPECT_EQ(untouched.answer(LprStep::ControlFile).kind, LprAnswerKind::Stall) << wrong;
    }
}

} // namespace
