// Jobs in the spool folder: a restart of the host, clean or not, loses no job, and job ids are
// never handed out twice.
#include "test_spooler_jobs.h"

#include <fstream>

using namespace spoolertest;

namespace {

class SpoolerPersist : public SpoolerJobs {
protected:
    void pausePrinter(const std::u16string& name, DWORD command = PRINTER_CONTROL_PAUSE)
    {
        Printer printer(name);
        ASSERT_TRUE(SetPrinterW(printer.get(), 0, nullptr, command));
    }
    void writeFile(const std::string& relative, const std::vector<BYTE>& bytes)
    {
        std::ofstream file(root_.file(relative), std::ios::binary);
        file.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
};

// Appends a u32 and strings the way the spool record stores them.
void put32(std::vector<BYTE>& bytes, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        bytes.push_back(BYTE(value >> shift));
}

void putString(std::vector<BYTE>& bytes, const std::u16string& text)
{
    put32(bytes, uint32_t(text.size()));
    for (char16_t unit : text) {
        bytes.push_back(BYTE(unit));
        bytes.push_back(BYTE(unit >> 8));
    }
}

TEST_F(SpoolerPersist, QueuedJobsSurviveARestart)
{
    pausePrinter(u"Office");
    std::vector<DWORD> jobs;
    {
        Printer office(u"Office");
        for (unsigned i = 0; i < 3; ++i)
            jobs.push_back(office.submit(randomBytes(50000 + i, i), u"doc"));
        ASSERT_TRUE(office.control(jobs[1], JOB_CONTROL_PAUSE));
    }
    restartHost();
    Printer office(u"Office");
    EXPECT_EQ(office.status(jobs[0]), 0u);
    EXPECT_EQ(office.status(jobs[1]), DWORD(JOB_STATUS_PAUSED));
    std::vector<BYTE> info = office.job(jobs[2], 2);
    ASSERT_FALSE(info.empty());
    EXPECT_EQ(reinterpret_cast<const JOB_INFO_2W*>(info.data())->Size, 50002u);
    EXPECT_EQ(reinterpret_cast<const JOB_INFO_2W*>(info.data())->Position, 3u);

    TestPort port(u"P1");
    pausePrinter(u"Office", PRINTER_CONTROL_RESUME);
    ASSERT_TRUE(port.await(u"end", 2));
    EXPECT_EQ(port.data(jobs[0]), randomBytes(50000, 0));
    EXPECT_EQ(port.data(jobs[2]), randomBytes(50002, 2));
    EXPECT_EQ(office.status(jobs[1]), DWORD(JOB_STATUS_PAUSED));
}

TEST_F(SpoolerPersist, AJobHalfDeliveredWhenTheHostDiesIsDeliveredAgainFromTheFirstByte)
{
    std::vector<BYTE> data = randomBytes(400000, 9);
    DWORD job = 0;
    {
        TestPort port(u"P1");
        ASSERT_EQ(port.script(u"block-write=3"), 0u);
        Printer office(u"Office");
        job = office.submit(data);
        ASSERT_TRUE(port.await(u"blocked write 3"));
    }
    EXPECT_EQ(host_.kill(), 128 + SIGKILL);
    ASSERT_TRUE(host_.start());
    TestPort port(u"P1");
    ASSERT_TRUE(port.await(u"end"));
    EXPECT_EQ(port.data(job), data);
    Printer office(u"Office");
    EXPECT_TRUE(office.statusBecomes(job, isExactly(JOB_STATUS_PRINTED)));
}

TEST_F(SpoolerPersist, AStoppingHostEndsTheDeliveryAndDeliversTheJobAgainNextTime)
{
    std::vector<BYTE> data = randomBytes(200000, 4);
    DWORD job = 0;
    {
        TestPort port(u"P1");
        // A write that takes nothing: the delivery waits before it tries again, and the stop ends it.
        ASSERT_EQ(port.script(u"zero-write=1"), 0u);
        Printer office(u"Office");
        job = office.submit(data);
        ASSERT_TRUE(port.await(u"write 65536 -> 0"));
    }
    restartHost();
    TestPort port(u"P1");
    ASSERT_TRUE(port.await(u"end"));
    EXPECT_EQ(port.data(job), data);
}

TEST_F(SpoolerPersist, PrintedAndRestartingJobsKeepTheirStateAcrossARestart)
{
    Printer office(u"Office");
    TestPort port(u"P1");
    ASSERT_EQ(port.script(u"control-end=6"), 0u);
    DWORD printed = office.submit(randomBytes(10, 1));
    ASSERT_TRUE(office.statusBecomes(printed, isExactly(JOB_STATUS_PRINTED | JOB_STATUS_COMPLETE)));
    ASSERT_EQ(port.script(u"control-write=1:1,4"), 0u);
    DWORD requeued = office.submit(randomBytes(10, 2));
    ASSERT_TRUE(office.statusBecomes(requeued, isExactly(JOB_STATUS_PAUSED | JOB_STATUS_RESTART)));

    restartHost();
    Printer again(u"Office");
    EXPECT_EQ(again.status(printed), DWORD(JOB_STATUS_PRINTED | JOB_STATUS_COMPLETE));
    EXPECT_EQ(again.status(requeued), DWORD(JOB_STATUS_PAUSED | JOB_STATUS_RESTART));
    ASSERT_TRUE(again.control(printed, JOB_CONTROL_SENT_TO_PRINTER));
    EXPECT_TRUE(gone(again.status(printed)));
    TestPort newPort(u"P1");
    ASSERT_TRUE(again.control(requeued, JOB_CONTROL_RESUME));
    ASSERT_TRUE(newPort.await(u"end"));
    EXPECT_EQ(newPort.data(requeued), randomBytes(10, 2));
}

TEST_F(SpoolerPersist, AJobStillSpoolingWhenTheHostDiesIsDropped)
{
    DWORD job = 0;
    {
        Printer office(u"Office");
        std::u16string name = u"unfinished";
        DOC_INFO_1W info = {name.data(), nullptr, nullptr};
        job = StartDocPrinterW(office.get(), 1, reinterpret_cast<LPBYTE>(&info));
        ASSERT_NE(job, 0u);
        BYTE byte = 1;
        DWORD written = 0;
        ASSERT_TRUE(WritePrinter(office.get(), &byte, 1, &written));
        EXPECT_EQ(host_.kill(), 128 + SIGKILL);
        // The handle is closed while the host is gone.
    }
    ASSERT_TRUE(std::filesystem::exists(root_.file(spoolFile(job, ".job"))));
    ASSERT_TRUE(host_.start());
    Printer office(u"Office");
    EXPECT_TRUE(gone(office.status(job)));
    EXPECT_FALSE(std::filesystem::exists(root_.file(spoolFile(job, ".job"))));
    EXPECT_FALSE(std::filesystem::exists(root_.file(spoolFile(job, ".spl"))));
    EXPECT_EQ(office.submit(randomBytes(3, 3)), job + 1);
}

TEST_F(SpoolerPersist, JobIdsStartAtOneAndAreNeverHandedOutTwice)
{
    Printer office(u"Office");
    DWORD first = office.submit(randomBytes(3, 1));
    EXPECT_EQ(first, 1u);
    ASSERT_TRUE(office.control(first, JOB_CONTROL_DELETE));
    restartHost();
    Printer again(u"Office");
    EXPECT_EQ(again.submit(randomBytes(3, 1)), 2u);
    Printer lab(u"Lab"); // one numbering for the whole host
    EXPECT_EQ(lab.submit(randomBytes(3, 1)), 3u);
}

TEST_F(SpoolerPersist, AJobRecordWrittenByHandIsLoaded)
{
    ASSERT_EQ(host_.stop(), 0);
    running_ = false;
    std::vector<BYTE> record = {0x53, 0x4A, 0x4F, 0x42, 1, 0, 0, 0, 7, 0, 0, 0};
    putString(record, u"Office");
    putString(record, u"Doc");
    putString(record, u"bob");
    putString(record, u"\\\\PC");
    putString(record, u"RAW");
    for (uint32_t part : {2024u, 5u, 5u, 17u, 10u, 20u, 30u, 500u})
        put32(record, part);
    put32(record, 2); // paused
    ASSERT_EQ(record.size(), 12u + 4 + 12 + 4 + 6 + 4 + 6 + 4 + 8 + 4 + 6 + 32 + 4);
    writeFile(spoolFile(7, ".job"), record);
    writeFile(spoolFile(7, ".spl"), {'h', 'e', 'l', 'l', 'o'});
    ASSERT_TRUE(host_.start());
    running_ = true;

    Printer office(u"Office");
    std::vector<BYTE> buffer = office.job(7, 1);
    ASSERT_FALSE(buffer.empty());
    const auto* info = reinterpret_cast<const JOB_INFO_1W*>(buffer.data());
    EXPECT_EQ(std::u16string(info->pDocument), u"Doc");
    EXPECT_EQ(std::u16string(info->pUserName), u"bob");
    EXPECT_EQ(std::u16string(info->pMachineName), u"\\\\PC");
    EXPECT_EQ(info->Status, DWORD(JOB_STATUS_PAUSED));
    EXPECT_EQ(info->Submitted.wYear, 2024);
    EXPECT_EQ(info->Submitted.wMonth, 5);
    EXPECT_EQ(info->Submitted.wDay, 17);
    EXPECT_EQ(info->Submitted.wMilliseconds, 500);
    EXPECT_EQ(reinterpret_cast<const JOB_INFO_2W*>(office.job(7, 2).data())->Size, 5u);
    // Ids go on after the highest one found.
    EXPECT_EQ(office.submit(randomBytes(1, 1)), 8u);

    TestPort port(u"P1");
    ASSERT_TRUE(office.control(7, JOB_CONTROL_RESUME));
    ASSERT_TRUE(port.await(u"end job=7"));
    EXPECT_EQ(port.data(7), (std::vector<BYTE>{'h', 'e', 'l', 'l', 'o'}));
}

TEST_F(SpoolerPersist, UnreadableRecordsAreLeftAloneAndRecordsWithoutDataRemoved)
{
    ASSERT_EQ(host_.stop(), 0);
    running_ = false;
    writeFile(spoolFile(3, ".job"), {'n', 'o', 'p', 'e'});
    std::vector<BYTE> record = {0x53, 0x4A, 0x4F, 0x42, 1, 0, 0, 0, 4, 0, 0, 0};
    for (const char16_t* text : {u"Office", u"Doc", u"bob", u"PC", u"RAW"})
        putString(record, text);
    for (int i = 0; i < 9; ++i)
        put32(record, 0);
    writeFile(spoolFile(4, ".job"), record); // no data file
    ASSERT_TRUE(host_.start());
    running_ = true;
    Printer office(u"Office");
    EXPECT_TRUE(gone(office.status(3)));
    EXPECT_TRUE(gone(office.status(4)));
    EXPECT_TRUE(std::filesystem::exists(root_.file(spoolFile(3, ".job"))));
    EXPECT_FALSE(std::filesystem::exists(root_.file(spoolFile(4, ".job"))));
    EXPECT_EQ(office.submit(randomBytes(1, 1)), 5u);
}

} // namespace
