#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <windows.h>

#include "ChildProcess.h"
#include "TempRoot.h"
#include "TestFiles.h"

namespace {

using testsupport::Bytes;
using testsupport::putCountedText;
using testsupport::putLittle;
using testsupport::readBytes;
using testsupport::writeBytes;

// A record written out by hand, field by field.
Bytes handRecord(uint64_t timeMs, uint32_t pid, uint32_t id, uint16_t type, uint16_t category,
                 std::u16string_view source, const std::vector<std::u16string>& strings, const Bytes& data)
{
    Bytes body;
    putLittle(body, timeMs, 8);
    putLittle(body, pid, 4);
    putLittle(body, id, 4);
    putLittle(body, type, 2);
    putLittle(body, category, 2);
    putLittle(body, strings.size(), 2);
    putLittle(body, 0, 2);
    putCountedText(body, source);
    for (const auto& text : strings)
        putCountedText(body, text);
    putLittle(body, data.size(), 4);
    body.insert(body.end(), data.begin(), data.end());
    const uint32_t size = static_cast<uint32_t>(body.size() + 12);
    Bytes record = {'P', 'E', 'V', 'T'};
    putLittle(record, size, 4);
    record.insert(record.end(), body.begin(), body.end());
    putLittle(record, size, 4);
    return record;
}

uint64_t nowMs()
{
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

class EventLog : public testing::Test {
protected:
    std::string logFile() const { return root.file("eventlog/Application.evt"); }
    testsupport::TempRoot root;
};

TEST_F(EventLog, ReportEventAppendsOneRecordByteForByte)
{
    HANDLE source = RegisterEventSourceW(nullptr, u"OutputBeaconPort2");
    ASSERT_NE(source, nullptr);
    LPCWSTR strings[] = {u"PORT1", u"OpenPort"};
    BYTE data[] = {1, 2, 3};
    const uint64_t before = nowMs();
    ASSERT_TRUE(ReportEventW(source, EVENTLOG_ERROR_TYPE, 5, 0xC0000011, nullptr, 2, 3, strings, data));
    const uint64_t after = nowMs();
    EXPECT_TRUE(DeregisterEventSource(source));

    const Bytes file = readBytes(logFile());
    ASSERT_GE(file.size(), 16u);
    uint64_t written = 0;
    std::memcpy(&written, file.data() + 8, 8);
    EXPECT_GE(written, before);
    EXPECT_LE(written, after);
    EXPECT_EQ(file, handRecord(written, uint32_t(getpid()), 0xC0000011, EVENTLOG_ERROR_TYPE, 5, u"OutputBeaconPort2",
                               {u"PORT1", u"OpenPort"}, {1, 2, 3}));
}

TEST_F(EventLog, ReaderGivesTheFieldsOfEachRecord)
{
    HANDLE source = RegisterEventSourceW(u"", u"OutputBeaconService2");
    ASSERT_TRUE(ReportEventW(source, EVENTLOG_WARNING_TYPE, 0, 0x80000002, nullptr, 0, 0, nullptr, nullptr));
    LPCWSTR one[] = {u"printer"};
    ASSERT_TRUE(ReportEventW(source, EVENTLOG_INFORMATION_TYPE, 0, 0x40000006, nullptr, 1, 0, one, nullptr));
    DeregisterEventSource(source);
    auto entries = pal::readEventLog();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].source, u"OutputBeaconService2");
    EXPECT_EQ(entries[0].eventType, EVENTLOG_WARNING_TYPE);
    EXPECT_EQ(entries[0].eventId, 0x80000002u);
    EXPECT_TRUE(entries[0].strings.empty());
    EXPECT_EQ(entries[0].processId, DWORD(getpid()));
    EXPECT_EQ(entries[1].eventType, EVENTLOG_INFORMATION_TYPE);
    EXPECT_EQ(entries[1].strings, (std::vector<std::u16string>{u"printer"}));
    EXPECT_TRUE(entries[1].data.empty());
}

TEST_F(EventLog, ReaderSkipsWhatIsNotAWholeRecord)
{
    const Bytes first = handRecord(1000, 7, 0xC0000001, EVENTLOG_ERROR_TYPE, 0, u"A", {}, {});
    const Bytes second = handRecord(2000, 8, 0xC0000008, EVENTLOG_ERROR_TYPE, 0, u"B", {u"5"}, {9});
    Bytes log = first;
    log.insert(log.end(), {'P', 'E', 'V', 'T', 0xFF, 0, 0, 0, 'x'}); // garbage that starts like a record
    Bytes cut = second;
    cut.resize(cut.size() - 1); // a record whose write was cut short
    log.insert(log.end(), cut.begin(), cut.end());
    log.insert(log.end(), second.begin(), second.end());
    Bytes torn = first;
    torn.resize(20);
    log.insert(log.end(), torn.begin(), torn.end());
    writeBytes(logFile(), log);

    auto entries = pal::readEventLog();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].timeMs, 1000u);
    EXPECT_EQ(entries[0].processId, 7u);
    EXPECT_EQ(entries[0].source, u"A");
    EXPECT_EQ(entries[1].timeMs, 2000u);
    EXPECT_EQ(entries[1].eventId, 0xC0000008u);
    EXPECT_EQ(entries[1].strings, (std::vector<std::u16string>{u"5"}));
    EXPECT_EQ(entries[1].data, Bytes{9});
}

TEST_F(EventLog, VisitorCanStopTheReading)
{
    HANDLE source = RegisterEventSourceW(nullptr, u"S");
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(ReportEventW(source, EVENTLOG_ERROR_TYPE, 0, DWORD(i), nullptr, 0, 0, nullptr, nullptr));
    DeregisterEventSource(source);
    int visited = 0;
    EXPECT_TRUE(palReadEventLog(
        [](const PAL_EVENTLOG_ENTRY*, void* context) -> BOOL { return ++*static_cast<int*>(context) < 2; },
        &visited));
    EXPECT_EQ(visited, 2);
}

TEST_F(EventLog, AMissingLogIsEmptyAndClearEmptiesIt)
{
    EXPECT_TRUE(pal::readEventLog().empty());
    EXPECT_TRUE(palClearEventLog());
    HANDLE source = RegisterEventSourceW(nullptr, u"S");
    ASSERT_TRUE(ReportEventW(source, EVENTLOG_ERROR_TYPE, 0, 1, nullptr, 0, 0, nullptr, nullptr));
    EXPECT_EQ(pal::readEventLog().size(), 1u);
    EXPECT_TRUE(palClearEventLog());
    EXPECT_TRUE(pal::readEventLog().empty());
    ASSERT_TRUE(ReportEventW(source, EVENTLOG_ERROR_TYPE, 0, 2, nullptr, 0, 0, nullptr, nullptr));
    auto entries = pal::readEventLog();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].eventId, 2u);
    DeregisterEventSource(source);
}

TEST_F(EventLog, WrongArgumentsFailWithTheLastError)
{
    LPCWSTR strings[] = {u"a", nullptr};
    SetLastError(0);
    EXPECT_FALSE(ReportEventW(reinterpret_cast<HANDLE>(0x9999), EVENTLOG_ERROR_TYPE, 0, 1, nullptr, 0, 0, nullptr,
                              nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    HANDLE source = RegisterEventSourceW(nullptr, u"S");
    EXPECT_FALSE(ReportEventW(source, EVENTLOG_ERROR_TYPE, 0, 1, nullptr, 1, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(ReportEventW(source, EVENTLOG_ERROR_TYPE, 0, 1, nullptr, 2, 0, strings, nullptr));
    EXPECT_FALSE(ReportEventW(source, EVENTLOG_ERROR_TYPE, 0, 1, nullptr, 0, 4, nullptr, nullptr));
    std::vector<BYTE> huge(2 << 20);
    EXPECT_FALSE(ReportEventW(source, EVENTLOG_ERROR_TYPE, 0, 1, nullptr, 0, DWORD(huge.size()), nullptr,
                              huge.data()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(pal::readEventLog().empty()) << "nothing written by failed calls";

    EXPECT_EQ(RegisterEventSourceW(u"\\\\elsewhere", u"S"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(RPC_S_SERVER_UNAVAILABLE));
    EXPECT_EQ(RegisterEventSourceW(nullptr, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(DeregisterEventSource(source));
    EXPECT_FALSE(DeregisterEventSource(source));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

TEST_F(EventLog, WithoutAPlatformRootReportingFails)
{
    HANDLE source = RegisterEventSourceW(nullptr, u"S");
    const std::string saved = root.path();
    unsetenv("PAL_ROOT");
    EXPECT_FALSE(ReportEventW(source, EVENTLOG_ERROR_TYPE, 0, 1, nullptr, 0, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
    setenv("PAL_ROOT", saved.c_str(), 1);
    DeregisterEventSource(source);
}

TEST_F(EventLog, AnsiFunctionsConvertWithCodePage932)
{
    HANDLE source = RegisterEventSourceA(nullptr, "\x83\x65\x83\x58\x83\x67"); // テスト
    ASSERT_NE(source, nullptr);
    LPCSTR strings[] = {"\x93\xfa\x96\x7b\x8c\xea", "ascii"}; // 日本語
    ASSERT_TRUE(ReportEventA(source, EVENTLOG_ERROR_TYPE, 0, 0xC000000F, nullptr, 2, 0, strings, nullptr));
    DeregisterEventSource(source);
    auto entries = pal::readEventLog();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].source, u"テスト");
    EXPECT_EQ(entries[0].strings, (std::vector<std::u16string>{u"日本語", u"ascii"}));
}

TEST_F(EventLog, RecordsOfConcurrentProcessesAreAllThereAndWhole)
{
    constexpr int kProcesses = 3;
    constexpr int kRecordsEach = 150;
    std::vector<testsupport::ChildProcess> children;
    for (int process = 0; process < kProcesses; ++process)
        children.push_back(testsupport::ChildProcess::fork([process] {
            HANDLE source = RegisterEventSourceW(nullptr, u"Writer");
            bool ok = source != nullptr;
            for (int i = 0; ok && i < kRecordsEach; ++i) {
                // long strings of varying length, so that writes are large and uneven
                std::u16string text(size_t(100 + (i * 37) % 3000), char16_t(u'a' + process));
                std::u16string index(1, char16_t(u'A' + i));
                LPCWSTR strings[] = {index.c_str(), text.c_str()};
                ok = ReportEventW(source, EVENTLOG_ERROR_TYPE, WORD(process), DWORD(i), nullptr, 2, 0, strings,
                                  nullptr) != FALSE;
            }
            return ok;
        }));
    for (auto& child : children)
        EXPECT_EQ(child.wait(), 0);
    auto entries = pal::readEventLog();
    ASSERT_EQ(entries.size(), size_t(kProcesses * kRecordsEach));
    std::vector<DWORD> next(kProcesses, 0);
    for (const auto& entry : entries) {
        ASSERT_LT(entry.category, kProcesses);
        ASSERT_EQ(entry.strings.size(), 2u);
        EXPECT_EQ(entry.eventId, next[entry.category]++) << "each process's records in its order";
        EXPECT_EQ(entry.strings[0], std::u16string(1, char16_t(u'A' + entry.eventId)));
        EXPECT_EQ(entry.strings[1], std::u16string(size_t(100 + (entry.eventId * 37) % 3000),
                                                   char16_t(u'a' + entry.category)));
    }
}

} // namespace
