// Print-manager notices against the spooler host and the print-manager stand-in HBPHSTD64.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "DevMsgTable.h"
#include "JobUtilities.h"
#include "NoticeJobState.h"
#include "Notices.h"
#include "ServiceEvents.h"
#include "StandinTesting.h"
#include "TempRoot.h"
#include "test_spooler_jobs.h"

using namespace spoolertest;
using standin::jsonText;
using standin::jsonValue;

// The job table and printer data as the notices see them.
namespace {
struct FakeJobState {
    std::u16string port = u"P1";
    bool sdk = false;
    ULONG jobs = 1;
    std::map<DWORD, DWORD> impressions;
};
FakeJobState g_state;
} // namespace

std::u16string NoticeJobPort(JTRKServiceContext*, DWORD)
{
    return g_state.port;
}
BOOL NoticeSdkMode(JTRKServiceContext*, LPCWSTR, LPCWSTR)
{
    return g_state.sdk;
}
ULONG NoticeJobCount(JTRKServiceContext*, LPCWSTR)
{
    return g_state.jobs;
}
BOOL NoticeImpressionCount(JTRKServiceContext*, LPCWSTR, DWORD jobId, DWORD* count)
{
    auto found = g_state.impressions.find(jobId);
    if (found == g_state.impressions.end())
        return FALSE;
    *count = found->second;
    return TRUE;
}

namespace {

struct Event {
    DWORD id;
    std::vector<std::u16string> strings;
};

std::vector<Event> serviceEvents()
{
    std::vector<Event> events;
    palReadEventLog(
        [](const PAL_EVENTLOG_ENTRY* entry, void* context) -> BOOL {
            if (std::u16string(entry->source) != u"OutputBeaconService2")
                return TRUE;
            Event event{entry->eventId, {}};
            for (WORD i = 0; i < entry->stringCount; ++i)
                event.strings.push_back(entry->strings[i]);
            static_cast<std::vector<Event>*>(context)->push_back(event);
            return TRUE;
        },
        &events);
    return events;
}

std::u16string utf16(const std::string& ascii)
{
    return std::u16string(ascii.begin(), ascii.end());
}

class Notices : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_state = FakeJobState();
        registerTestMonitor(u"Test Monitor", {u"P1"});
        ASSERT_TRUE(host.start());
        ASSERT_EQ(addPrinter(u"Office", u"P1"), 0u);
        Printer office(u"Office");
        ASSERT_TRUE(SetPrinterW(office.get(), 0, nullptr, PRINTER_CONTROL_PAUSE)); // jobs stay queued
        job = office.submit(randomBytes(100, 1), u"report.txt");
        ASSERT_NE(job, 0u);
        context.GetPageCount = TRUE;
    }
    void TearDown() override { EXPECT_EQ(host.stop(), 0); }

    std::vector<std::string> journal(const std::string& entry)
    {
        return standin::journalLines(root.file("drive_c/Harbor/journal.log"), entry);
    }

    testsupport::TempRoot root;
    SpoolerHost host;
    DWORD job = 0;
    JTRKServiceContext context = {};
};

TEST_F(Notices, TheStartNoticeCarriesTheJobsDocument)
{
    standin::installPrintManager("[PrintManager]\nLevel=2\n");
    EXPECT_EQ(SendNoticeStart(W("Office"), job), 0);
    auto lines = journal("PrStatusNoticeStartExD");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(jsonText(lines[0], "printer"), "Office");
    EXPECT_EQ(jsonText(lines[0], "document"), "report.txt");
    EXPECT_EQ(jsonValue(lines[0], "job"), std::to_string(job));
    EXPECT_EQ(jsonValue(lines[0], "fields"), "7");
    EXPECT_TRUE(serviceEvents().empty());
    EXPECT_EQ(SendNoticeStart(W("Office"), 999), -1) << "a job the spooler does not have";
    EXPECT_EQ(SendNoticeStart(W("Office"), 0), -1);
}

TEST_F(Notices, WithoutThePrintManagerTheStartIsRefusedWithItsReason)
{
    EXPECT_EQ(SendNoticeStart(W("Office"), job), -2);
    auto events = serviceEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].id, static_cast<DWORD>(JTRK_EVENT_NOTICE_REFUSED));
    std::vector<std::u16string> expected = {u"Office", utf16(std::to_string(job)), u"report.txt",
                                            u"Print Managerサービスが動作していません。"};
    EXPECT_EQ(events[0].strings, expected);
}

TEST_F(Notices, RefusalReasonsAndFailures)
{
    const std::pair<int, std::u16string> reasons[] = {{-3, u"指定したプリンタが定義されていません。"},
                                                      {-4, u"指定した番号の印刷ドキュメントが存在しません。"},
                                                      {-5, u"指定したドキュメント名の印刷がありません。"},
                                                      {-9, u"Unknown Reason"}};
    standin::installPrintManager("[PrintManager]\nLevel=2\n");
    for (const auto& [result, reason] : reasons) {
        standin::configurePrintManager("[PrintManager]\nLevel=2\n[PrStatusNoticeStartExD]\nResult=" +
                                       std::to_string(result) + "\n");
        EXPECT_EQ(SendNoticeStart(W("Office"), job), result);
        auto events = serviceEvents();
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(events.back().id, static_cast<DWORD>(JTRK_EVENT_NOTICE_REFUSED));
        EXPECT_EQ(events.back().strings.back(), reason) << result;
    }
    standin::configurePrintManager("[PrintManager]\nLevel=2\n[PrStatusNoticeStartExD]\nResult=-1\nLastError=1722\n");
    EXPECT_EQ(SendNoticeStart(W("Office"), job), -1);
    auto events = serviceEvents();
    EXPECT_EQ(events.back().id, static_cast<DWORD>(JTRK_EVENT_NOTICE_FAILED));
    std::vector<std::u16string> expected = {u"1722", u"Office", utf16(std::to_string(job)), u"report.txt"};
    EXPECT_EQ(events.back().strings, expected);
}

TEST_F(Notices, ANoticeRowSendsItsTextWithTheJobsNames)
{
    standin::installPrintManager("[PrintManager]\nLevel=2\n");
    const DevMsgRecord* jam = GetDevMsgRecordCLIB(0x301);
    EXPECT_EQ(SendStatus(&context, W("Office"), job, jam->dwPrtStatus, jam), 0);
    auto lines = journal("PrStatusSendExD");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(jsonValue(lines[0], "status"), "8");
    EXPECT_EQ(jsonValue(lines[0], "notice"),
              "{\"msgNo\":1002,\"msgType\":0,\"sender\":\"TALLY-DESK Output Beacon Service2\"}");
    std::string text = jsonText(lines[0], "text");
    EXPECT_EQ(text.rfind("プリンタに用紙が詰まりました。\n用紙を取り除くと印刷を続行します。\n\nプリンタ名：Office\n文書名：report.txt\nユーザ名：", 0),
              0u)
        << text;
}

TEST_F(Notices, AJobGoneFromTheSpoolerGetsNoText)
{
    standin::installPrintManager("[PrintManager]\nLevel=2\n");
    const DevMsgRecord* jam = GetDevMsgRecordCLIB(0x301);
    EXPECT_EQ(SendStatus(&context, W("Office"), 999, jam->dwPrtStatus, jam), 0);
    auto lines = journal("PrStatusSendExD");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(jsonValue(lines[0], "notice"), "null");
    EXPECT_EQ(jsonValue(lines[0], "text"), "null");
}

TEST_F(Notices, StatusZeroIsNotSent)
{
    standin::installPrintManager("[PrintManager]\nLevel=2\n");
    EXPECT_EQ(SendStatus(&context, W("Office"), job, 0, nullptr), -1);
    EXPECT_TRUE(journal("PrStatusSendExD").empty());
}

TEST_F(Notices, AFailedStatusIsLoggedWithTheDocument)
{
    standin::installPrintManager("[PrintManager]\nLevel=2\n[PrStatusSendExD]\nResult=-1\nLastError=5\n");
    EXPECT_EQ(SendStatus(&context, W("Office"), job, JTRK_PRTSTATUS_PRINTING, nullptr), -1);
    EXPECT_EQ(SendStatus(&context, W("Office"), 999, JTRK_PRTSTATUS_PRINTING, nullptr), -1);
    auto events = serviceEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].id, static_cast<DWORD>(JTRK_EVENT_STATUS_FAILED));
    std::vector<std::u16string> withDocument = {u"5", u"Office", utf16(std::to_string(job)), u"report.txt"};
    EXPECT_EQ(events[0].strings, withDocument);
    std::vector<std::u16string> without = {u"5", u"Office", u"999"};
    EXPECT_EQ(events[1].strings, without);
}

// The statuses of one ending share the job's record read once: a job that left the spooler after
// the read still gives its document to the event of a failed status.
TEST_F(Notices, StatusesOfOneEndingUseTheJobReadOnce)
{
    standin::installPrintManager("[PrintManager]\nLevel=2\n[PrStatusSendExD]\nResult=-1\nLastError=5\n");
    SpoolerJobA read(W("Office"), job);
    ASSERT_EQ(read.read, JOBREAD_FOUND);
    Printer office(u"Office");
    ASSERT_TRUE(SetJobW(office.get(), job, 0, nullptr, JOB_CONTROL_DELETE));
    EXPECT_EQ(SendStatusOfJob(&context, W("Office"), job, JTRK_PRTSTATUS_COMPLETED, nullptr, read), -1);
    EXPECT_EQ(journal("PrStatusSendExD").size(), 1u);
    auto events = serviceEvents();
    ASSERT_EQ(events.size(), 1u);
    std::vector<std::u16string> withDocument = {u"5", u"Office", utf16(std::to_string(job)), u"report.txt"};
    EXPECT_EQ(events[0].strings, withDocument);
}

TEST_F(Notices, HeldJobsAnswerThePrintingQuestion)
{
    standin::installPrintManager("[PrintManager]\nLevel=2\nHeldJobs=" + std::to_string(job) + "\n");
    EXPECT_EQ(SendStatus(&context, W("Office"), job, JTRK_PRTSTATUS_PRINTING, nullptr), JTRK_PRINTMGR_PAUSED);
}

TEST_F(Notices, PageCountInAZeroedEightByteSlot)
{
    standin::installPrintManager("[PrintManager]\nLevel=2\n");
    g_state.impressions[job] = 10;
    EXPECT_EQ(SendStatus(&context, W("Office"), job, JTRK_PRTSTATUS_COMPLETED, nullptr), 0);
    g_state.jobs = 0;
    EXPECT_EQ(SendStatus(&context, W("Office"), job, JTRK_PRTSTATUS_COMPLETED, nullptr), 0);
    g_state.jobs = 1;
    context.GetPageCount = FALSE;
    EXPECT_EQ(SendStatus(&context, W("Office"), job, JTRK_PRTSTATUS_COMPLETED, nullptr), 0);
    auto lines = journal("PrStatusSendExD");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(jsonValue(lines[0], "extCount"), "1");
    EXPECT_EQ(jsonValue(lines[0], "extSize"), "8");
    EXPECT_EQ(jsonValue(lines[0], "ext"), "[10,0]") << "one copy: every impression is a page";
    EXPECT_EQ(jsonValue(lines[1], "ext"), "[]") << "no jobs: no count";
    EXPECT_EQ(jsonValue(lines[2], "ext"), "[]") << "page count off";
}

TEST_F(Notices, PrintAttributesWithoutDevmodeKeepTheLeadingOneAndTheNupCode)
{
    standin::installPrintManager("[PrintManager]\nLevel=2\n");
    EXPECT_EQ(SendPrintStatus(&context, W("Office"), job, 4), 0);
    EXPECT_EQ(SendPrintStatus(&context, W("Office"), 999, 9), 0);
    auto lines = journal("PrStatusSendExD");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(jsonValue(lines[0], "status"), "0");
    EXPECT_EQ(jsonValue(lines[0], "extCount"), "4");
    EXPECT_EQ(jsonValue(lines[0], "extSize"), "24");
    EXPECT_EQ(jsonValue(lines[0], "ext"), "[1,4,0,0,0,0]");
    EXPECT_EQ(jsonValue(lines[1], "ext"), "[1,6,0,0,0,0]");
    g_state.sdk = true;
    EXPECT_EQ(SendPrintStatus(&context, W("Office"), job, 4), 0);
    EXPECT_EQ(journal("PrStatusSendExD").size(), 2u) << "nothing sent in SDK mode";
}

TEST_F(Notices, TheEndNoticeAndItsFailure)
{
    standin::installPrintManager("[PrintManager]\nLevel=2\n");
    EXPECT_EQ(SendNoticeEnd(W("Office"), job), 0);
    EXPECT_EQ(journal("PrStatusNoticeEndD").size(), 1u);
    standin::configurePrintManager("[PrintManager]\nLevel=2\n[PrStatusNoticeEndD]\nResult=-1\nLastError=6\n");
    EXPECT_EQ(SendNoticeEnd(W("Office"), job), -1);
    EXPECT_EQ(SendNoticeEnd(W("Office"), 999), -1);
    auto events = serviceEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].id, static_cast<DWORD>(JTRK_EVENT_NOTICE_END_FAILED));
    std::vector<std::u16string> withDocument = {u"6", u"Office", utf16(std::to_string(job)), u"report.txt"};
    EXPECT_EQ(events[0].strings, withDocument);
    std::vector<std::u16string> without = {u"6", u"Office", u"999"};
    EXPECT_EQ(events[1].strings, without);
}

// A job submitted through a handle whose defaults carry a device mode.
DWORD submitWithDevmode(SHORT copies, SHORT collate, SHORT duplex, SHORT color)
{
    DEVMODEW devmode{};
    devmode.dmSpecVersion = DM_SPECVERSION;
    devmode.dmSize = sizeof devmode;
    devmode.dmFields = DM_COPIES | DM_COLLATE | DM_DUPLEX | DM_COLOR;
    devmode.dmCopies = copies;
    devmode.dmCollate = collate;
    devmode.dmDuplex = duplex;
    devmode.dmColor = color;
    std::u16string name = u"Office";
    PRINTER_DEFAULTSW defaults = {nullptr, &devmode, PRINTER_ACCESS_USE};
    HANDLE handle = nullptr;
    if (!OpenPrinterW(name.data(), &handle, &defaults))
        return 0;
    Printer printer(handle);
    return printer.submit(randomBytes(10, 2), u"copies.txt");
}

// A spooler host that keeps the device mode of a job's handle gives it back at level 2.
bool keepsDevmode(DWORD job)
{
    std::vector<BYTE> info = Printer(u"Office").job(job, 2);
    return !info.empty() && reinterpret_cast<const JOB_INFO_2W*>(info.data())->pDevMode;
}

TEST_F(Notices, CopiesTurnImpressionsIntoPages)
{
    standin::installPrintManager("[PrintManager]\nLevel=2\n");
    DWORD uncollated = submitWithDevmode(3, DMCOLLATE_FALSE, DMDUP_SIMPLEX, DMCOLOR_COLOR);
    DWORD collated = submitWithDevmode(3, DMCOLLATE_TRUE, DMDUP_SIMPLEX, DMCOLOR_COLOR);
    ASSERT_NE(uncollated, 0u);
    ASSERT_NE(collated, 0u);
    if (!keepsDevmode(uncollated))
        GTEST_SKIP() << "the spooler host keeps no device mode of a job";
    g_state.impressions[uncollated] = 10;
    g_state.impressions[collated] = 10;
    EXPECT_EQ(SendStatus(&context, W("Office"), uncollated, JTRK_PRTSTATUS_COMPLETED, nullptr), 0);
    EXPECT_EQ(SendStatus(&context, W("Office"), collated, JTRK_PRTSTATUS_COMPLETED, nullptr), 0);
    auto lines = journal("PrStatusSendExD");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(jsonValue(lines[0], "ext"), "[3,0]") << "10 impressions of 3 uncollated copies";
    EXPECT_EQ(jsonValue(lines[1], "ext"), "[0,0]") << "collated copies report 0";
}

// The page counts of one ending take the job's print settings from the record read for it: a job
// that left the spooler meanwhile still counts its copies.
TEST_F(Notices, TheCopiesOfOneEndingAreReadOnce)
{
    standin::installPrintManager("[PrintManager]\nLevel=2\n");
    DWORD uncollated = submitWithDevmode(3, DMCOLLATE_FALSE, DMDUP_SIMPLEX, DMCOLOR_COLOR);
    ASSERT_NE(uncollated, 0u);
    if (!keepsDevmode(uncollated))
        GTEST_SKIP() << "the spooler host keeps no device mode of a job";
    g_state.impressions[uncollated] = 10;
    SpoolerJobA read(W("Office"), uncollated);
    EXPECT_EQ(SendStatusOfJob(&context, W("Office"), uncollated, JTRK_PRTSTATUS_PRINTING, nullptr, read), 0);
    Printer office(u"Office");
    ASSERT_TRUE(SetJobW(office.get(), uncollated, 0, nullptr, JOB_CONTROL_DELETE));
    EXPECT_EQ(SendStatusOfJob(&context, W("Office"), uncollated, JTRK_PRTSTATUS_COMPLETED, nullptr, read), 0);
    auto lines = journal("PrStatusSendExD");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(jsonValue(lines[0], "ext"), "[3,0]");
    EXPECT_EQ(jsonValue(lines[1], "ext"), "[3,0]") << "10 impressions of 3 uncollated copies, read before";
}

TEST_F(Notices, PrintAttributesFromTheJobsDevmode)
{
    standin::installPrintManager("[PrintManager]\nLevel=2\n");
    DWORD job = submitWithDevmode(2, DMCOLLATE_TRUE, DMDUP_VERTICAL, -1);
    ASSERT_NE(job, 0u);
    if (!keepsDevmode(job))
        GTEST_SKIP() << "the spooler host keeps no device mode of a job";
    EXPECT_EQ(SendPrintStatus(&context, W("Office"), job, 3), 0);
    auto lines = journal("PrStatusSendExD");
    ASSERT_EQ(lines.size(), 1u);
    // 1, N-up code, duplex, copies, 0, color sign-extended.
    EXPECT_EQ(jsonValue(lines[0], "ext"), "[1,2,2,2,0,4294967295]");
}

TEST(NupCodes, ByTheReportsValue)
{
    const std::pair<DWORD, DWORD> codes[] = {{0, 0}, {1, 0}, {2, 1}, {3, 2}, {4, 4}, {5, 8},
                                             {6, 9}, {7, 16}, {8, 0}, {9, 6}, {10, 0}};
    for (auto [nup, code] : codes)
        EXPECT_EQ(NupCode(nup), code) << nup;
}

} // namespace
