// Delivery of jobs through the port monitor: StartDocPort, WritePort and EndDocPort as the host
// calls them, what the monitor sees meanwhile, and the job control that steers a delivery.
#include "test_spooler_jobs.h"

#include "pal/system.h"

using namespace spoolertest;

namespace {

class SpoolerDelivery : public SpoolerJobs {
protected:
    void SetUp() override
    {
        SpoolerJobs::SetUp();
        office_ = std::make_unique<Printer>(u"Office");
        port_ = std::make_unique<TestPort>(u"P1");
        ASSERT_TRUE(*office_);
        ASSERT_TRUE(port_->opened());
    }

    std::unique_ptr<Printer> office_;
    std::unique_ptr<TestPort> port_;
    std::vector<BYTE> data_ = randomBytes(300000, 7);
};

TEST_F(SpoolerDelivery, DeliversTheSubmittedBytesExactlyThroughPartialWrites)
{
    ASSERT_EQ(port_->script(u"chunk=1000"), 0u);
    DWORD job = office_->submit(data_, u"report", 7777);
    ASSERT_NE(job, 0u);
    ASSERT_TRUE(port_->await(u"end"));
    EXPECT_EQ(port_->data(job), data_);
    EXPECT_TRUE(office_->statusBecomes(job, isExactly(JOB_STATUS_PRINTED)));

    // The host hands over 64 KiB at a time and offers the rest again after each partial write.
    std::vector<std::string> writes = port_->lines("write");
    ASSERT_EQ(writes.size(), 4 * 66 + 38u);
    EXPECT_EQ(writes[0], "write 65536 -> 1000");
    EXPECT_EQ(writes[1], "write 64536 -> 1000");
    EXPECT_EQ(writes[65], "write 536 -> 536");
    EXPECT_EQ(writes[66], "write 65536 -> 1000");
    EXPECT_EQ(writes.back(), "write 856 -> 856"); // 300000 = 4 x 65536 + 37856
    std::vector<std::string> journal = port_->journal();
    EXPECT_EQ(journal.front(), "open");
    EXPECT_EQ(journal.back(), "end job=" + std::to_string(job) + " status=0x10");
}

TEST_F(SpoolerDelivery, StartDocPortSeesThePrintingJobAndRunsForItsOwner)
{
    ASSERT_EQ(port_->script(u"block-start=1"), 0u);
    palSetThreadUserName(W("alice"));
    DWORD job = office_->submit(data_, u"quarterly report");
    palSetThreadUserName(nullptr);
    ASSERT_TRUE(port_->await(u"blocked start"));

    // Meanwhile, from another process: printing, the whole size, not yet in the journal.
    std::vector<BYTE> info = office_->job(job, 2);
    ASSERT_FALSE(info.empty());
    const auto* job2 = reinterpret_cast<const JOB_INFO_2W*>(info.data());
    EXPECT_EQ(job2->Status, DWORD(JOB_STATUS_PRINTING));
    EXPECT_EQ(job2->Size, DWORD(data_.size()));
    EXPECT_EQ(std::u16string(job2->pUserName), u"alice");
    EXPECT_EQ(port_->release(), 0u);
    ASSERT_TRUE(port_->await(u"end"));

    // Inside: the monitor read the same, and GetUserNameW gave the owner except between
    // RevertToPrinterSelf and ImpersonatePrinterClient.
    WCHAR self[UNLEN + 1];
    DWORD size = UNLEN + 1;
    ASSERT_TRUE(GetUserNameW(self, &size));
    ASSERT_NE(std::u16string(self), u"alice");
    EXPECT_EQ(port_->lines("start"),
              std::vector<std::string>{"start job=" + std::to_string(job) +
                                       " printer=Office doc=quarterly report status=0x10 size=300000 pages=0 "
                                       "user=alice thread-user=alice self=" +
                                       utf8(self) + " back=alice"});
}

TEST_F(SpoolerDelivery, PauseStopsTheDeliveryAndResumeDeliversAgainFromTheFirstByte)
{
    ASSERT_EQ(port_->script(u"block-write=2"), 0u);
    DWORD job = office_->submit(data_);
    ASSERT_TRUE(port_->await(u"blocked write 2"));
    ASSERT_TRUE(office_->control(job, JOB_CONTROL_PAUSE));
    EXPECT_EQ(office_->status(job), DWORD(JOB_STATUS_PAUSED | JOB_STATUS_PRINTING));
    EXPECT_EQ(port_->release(), 0u);
    ASSERT_TRUE(port_->await(u"end"));

    // The write under way finished, no other followed; the job waits, paused.
    EXPECT_EQ(port_->lines("write").size(), 2u);
    EXPECT_EQ(port_->lines("end"), std::vector<std::string>{"end job=" + std::to_string(job) + " status=0x11"});
    EXPECT_TRUE(office_->statusBecomes(job, isExactly(JOB_STATUS_PAUSED)));

    ASSERT_TRUE(office_->control(job, JOB_CONTROL_RESUME));
    ASSERT_TRUE(port_->await(u"end", 2));
    EXPECT_EQ(port_->lines("start").size(), 2u);
    EXPECT_EQ(port_->data(job), data_);
    EXPECT_TRUE(office_->statusBecomes(job, isExactly(JOB_STATUS_PRINTED)));
}

TEST_F(SpoolerDelivery, APauseDuringTheLastWriteLeavesTheJobPrinted)
{
    // 300000 bytes go out in five writes; all of them are through when the pause takes effect.
    ASSERT_EQ(port_->script(u"block-write=5"), 0u);
    DWORD job = office_->submit(data_);
    ASSERT_TRUE(port_->await(u"blocked write 5"));
    ASSERT_TRUE(office_->control(job, JOB_CONTROL_PAUSE));
    EXPECT_EQ(port_->release(), 0u);
    ASSERT_TRUE(port_->await(u"end"));
    EXPECT_TRUE(office_->statusBecomes(job, isExactly(JOB_STATUS_PAUSED | JOB_STATUS_PRINTED)));
    ASSERT_TRUE(office_->control(job, JOB_CONTROL_RESUME));
    EXPECT_EQ(office_->status(job), DWORD(JOB_STATUS_PRINTED));
    EXPECT_EQ(port_->lines("start").size(), 1u);
}

TEST_F(SpoolerDelivery, DeleteWhileDeliveringEndsTheDeliveryAndTheJob)
{
    ASSERT_EQ(port_->script(u"block-write=2"), 0u);
    DWORD job = office_->submit(data_);
    ASSERT_TRUE(port_->await(u"blocked write 2"));
    ASSERT_TRUE(office_->control(job, JOB_CONTROL_DELETE));
    EXPECT_EQ(office_->status(job), DWORD(JOB_STATUS_DELETING | JOB_STATUS_PRINTING));
    EXPECT_EQ(port_->release(), 0u);
    ASSERT_TRUE(port_->await(u"end"));
    EXPECT_EQ(port_->lines("end"), std::vector<std::string>{"end job=" + std::to_string(job) + " status=0x14"});
    EXPECT_TRUE(office_->statusBecomes(job, gone));
    EXPECT_FALSE(office_->control(job, JOB_CONTROL_RESUME));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(port_->lines("write").size(), 2u);
}

TEST_F(SpoolerDelivery, RestartWhileDeliveringDeliversAgainFromTheFirstByte)
{
    ASSERT_EQ(port_->script(u"block-write=3"), 0u);
    DWORD job = office_->submit(data_);
    ASSERT_TRUE(port_->await(u"blocked write 3"));
    ASSERT_TRUE(office_->control(job, JOB_CONTROL_RESTART));
    EXPECT_EQ(office_->status(job), DWORD(JOB_STATUS_RESTART | JOB_STATUS_PRINTING));
    EXPECT_EQ(port_->release(), 0u);
    ASSERT_TRUE(port_->await(u"end", 2));
    // The restart shows until the next StartDocPort, which sees a plain printing job.
    std::vector<std::string> ends = port_->lines("end");
    EXPECT_EQ(ends[0], "end job=" + std::to_string(job) + " status=0x810");
    EXPECT_EQ(ends[1], "end job=" + std::to_string(job) + " status=0x10");
    EXPECT_NE(port_->lines("start")[1].find("status=0x10 "), std::string::npos);
    EXPECT_EQ(port_->data(job), data_);
    EXPECT_TRUE(office_->statusBecomes(job, isExactly(JOB_STATUS_PRINTED)));
}

TEST_F(SpoolerDelivery, MonitorsPauseAndRestartRequeuesTheJobUntilItIsResumed)
{
    // What the port monitor does on a network failure: PAUSE, RESTART, and the buffer counts as written.
    ASSERT_EQ(port_->script(u"control-write=2:1,4"), 0u);
    DWORD job = office_->submit(data_);
    ASSERT_TRUE(port_->await(u"end"));
    EXPECT_EQ(port_->lines("control"), (std::vector<std::string>{"control 1 -> 0", "control 4 -> 0"}));
    EXPECT_EQ(port_->lines("end"), std::vector<std::string>{"end job=" + std::to_string(job) + " status=0x811"});
    EXPECT_TRUE(office_->statusBecomes(job, isExactly(JOB_STATUS_PAUSED | JOB_STATUS_RESTART)));

    ASSERT_TRUE(office_->control(job, JOB_CONTROL_RESUME));
    ASSERT_TRUE(port_->await(u"end", 2));
    EXPECT_EQ(port_->data(job), data_);
    EXPECT_TRUE(office_->statusBecomes(job, isExactly(JOB_STATUS_PRINTED)));
}

TEST_F(SpoolerDelivery, RestartWinsOverALaterSentToPrinterOfTheSameDelivery)
{
    // The monitor restarts the job at EndDocPort and then reports it sent to the printer.
    ASSERT_EQ(port_->script(u"control-end=4,6"), 0u);
    DWORD job = office_->submit(data_);
    ASSERT_TRUE(port_->await(u"end", 2));
    EXPECT_EQ(port_->lines("start").size(), 2u);
    EXPECT_EQ(port_->data(job), data_);
    EXPECT_TRUE(office_->statusBecomes(job, isExactly(JOB_STATUS_PRINTED)));
}

TEST_F(SpoolerDelivery, RestartFromAnotherProcessWinsOverTheMonitorsSentToPrinter)
{
    ASSERT_EQ(port_->script(u"block-write=2;control-end=6"), 0u);
    DWORD job = office_->submit(data_);
    ASSERT_TRUE(port_->await(u"blocked write 2"));
    ASSERT_TRUE(office_->control(job, JOB_CONTROL_RESTART));
    // Another party's SENT_TO_PRINTER while the restart is pending does not end the job either.
    ASSERT_TRUE(office_->control(job, JOB_CONTROL_SENT_TO_PRINTER));
    EXPECT_EQ(office_->status(job), DWORD(JOB_STATUS_RESTART | JOB_STATUS_PRINTING));
    EXPECT_EQ(port_->release(), 0u);
    ASSERT_TRUE(port_->await(u"end", 2));
    EXPECT_EQ(port_->data(job), data_);
    EXPECT_TRUE(office_->statusBecomes(job, isExactly(JOB_STATUS_PRINTED)));
}

TEST_F(SpoolerDelivery, TheDeliveringMonitorsSentToPrinterDoesNotEndTheJob)
{
    ASSERT_EQ(port_->script(u"control-end=6,7"), 0u);
    DWORD job = office_->submit(data_);
    ASSERT_TRUE(port_->await(u"end"));
    EXPECT_TRUE(office_->statusBecomes(job, isExactly(JOB_STATUS_PRINTED | JOB_STATUS_COMPLETE)));

    // Another process (the tracking service, when the device says the job is done) ends it.
    Printer service(u"Office");
    ASSERT_TRUE(service.control(job, JOB_CONTROL_SENT_TO_PRINTER));
    EXPECT_FALSE(service.status(job).has_value());
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

TEST_F(SpoolerDelivery, LastPageEjectedFromAnotherProcessEndsAPrintedJob)
{
    DWORD job = office_->submit(data_);
    ASSERT_TRUE(office_->statusBecomes(job, isExactly(JOB_STATUS_PRINTED)));
    ASSERT_TRUE(office_->control(job, JOB_CONTROL_LAST_PAGE_EJECTED));
    EXPECT_TRUE(gone(office_->status(job)));
}

TEST_F(SpoolerDelivery, AnotherPartysSentToPrinterDuringDeliveryEndsTheJobWhenDeliveryEnds)
{
    ASSERT_EQ(port_->script(u"block-write=2"), 0u);
    DWORD job = office_->submit(data_);
    ASSERT_TRUE(port_->await(u"blocked write 2"));
    ASSERT_TRUE(office_->control(job, JOB_CONTROL_SENT_TO_PRINTER));
    EXPECT_EQ(office_->status(job), DWORD(JOB_STATUS_PRINTING | JOB_STATUS_COMPLETE));
    EXPECT_EQ(port_->release(), 0u);
    ASSERT_TRUE(port_->await(u"end"));
    EXPECT_TRUE(office_->statusBecomes(job, gone));
    EXPECT_EQ(port_->data(job), data_);
}

TEST_F(SpoolerDelivery, SentToPrinterBeforeAnyDeliveryDoesNothing)
{
    ASSERT_TRUE(SetPrinterW(office_->get(), 0, nullptr, PRINTER_CONTROL_PAUSE));
    DWORD job = office_->submit(data_);
    ASSERT_TRUE(office_->control(job, JOB_CONTROL_SENT_TO_PRINTER));
    EXPECT_EQ(office_->status(job), 0u);
    ASSERT_TRUE(SetPrinterW(office_->get(), 0, nullptr, PRINTER_CONTROL_RESUME));
    ASSERT_TRUE(port_->await(u"end"));
    EXPECT_EQ(port_->data(job), data_);
}

TEST_F(SpoolerDelivery, APrintedJobIsRemovedWhenItsRetentionTimePasses)
{
    setDwordValue(u"SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Office", W("RetentionMs"), 300);
    DWORD job = office_->submit(data_);
    ASSERT_TRUE(port_->await(u"end"));
    EXPECT_TRUE(office_->statusBecomes(job, gone));
    EXPECT_EQ(port_->lines("start").size(), 1u);
}

TEST_F(SpoolerDelivery, RestartOfAPrintedJobDeliversItAgain)
{
    DWORD job = office_->submit(data_);
    ASSERT_TRUE(office_->statusBecomes(job, isExactly(JOB_STATUS_PRINTED)));
    ASSERT_TRUE(office_->control(job, JOB_CONTROL_RESTART));
    ASSERT_TRUE(port_->await(u"end", 2));
    EXPECT_EQ(port_->data(job), data_);
    EXPECT_TRUE(office_->statusBecomes(job, isExactly(JOB_STATUS_PRINTED)));
}

TEST_F(SpoolerDelivery, FailedStartDocPortShowsAnErrorAndHoldsUpTheQueue)
{
    setRetryTimeout(u"Office", 60000);
    ASSERT_EQ(port_->script(u"fail-start=1"), 0u);
    DWORD first = office_->submit(data_, u"first");
    DWORD second = office_->submit(data_, u"second");
    ASSERT_TRUE(port_->await(u"fail start"));
    EXPECT_TRUE(office_->statusBecomes(first, isExactly(JOB_STATUS_ERROR)));
    EXPECT_EQ(office_->status(second), 0u);
    EXPECT_TRUE(port_->lines("start").empty());
    // A restart tries again at once; the error clears with the next StartDocPort.
    ASSERT_TRUE(office_->control(first, JOB_CONTROL_RESTART));
    ASSERT_TRUE(port_->await(u"end", 2));
    EXPECT_TRUE(office_->statusBecomes(first, isExactly(JOB_STATUS_PRINTED)));
    EXPECT_EQ(port_->lines("start")[0].rfind("start job=" + std::to_string(first) + " ", 0), 0u);
}

TEST_F(SpoolerDelivery, FailedStartDocPortIsRetriedAfterTheRetryTimeout)
{
    setRetryTimeout(u"Office", 200);
    ASSERT_EQ(port_->script(u"fail-start=2"), 0u);
    DWORD first = office_->submit(data_, u"first");
    DWORD second = office_->submit(data_, u"second");
    ASSERT_TRUE(port_->await(u"end", 2));
    EXPECT_TRUE(office_->statusBecomes(first, isExactly(JOB_STATUS_PRINTED)));
    EXPECT_TRUE(office_->statusBecomes(second, isExactly(JOB_STATUS_PRINTED)));
    std::vector<std::string> journal = port_->journal();
    ASSERT_GE(journal.size(), 5u);
    EXPECT_EQ(journal[1], "fail start");
    EXPECT_EQ(journal[2], "fail start");
    EXPECT_EQ(journal[3].rfind("start job=" + std::to_string(first) + " ", 0), 0u);
    EXPECT_EQ(port_->lines("start")[1].rfind("start job=" + std::to_string(second) + " ", 0), 0u);
}

TEST_F(SpoolerDelivery, FailedWritePortIsRetriedWithTheSameBytes)
{
    setRetryTimeout(u"Office", 60000);
    ASSERT_EQ(port_->script(u"chunk=50000;fail-write=1;zero-write=1"), 0u);
    DWORD job = office_->submit(data_);
    ASSERT_TRUE(port_->await(u"fail write"));
    EXPECT_TRUE(office_->statusBecomes(job, isExactly(JOB_STATUS_ERROR | JOB_STATUS_PRINTING)));
    // New settings wake the waiting delivery: the write is tried again at once.
    setRetryTimeout(u"Office", 200);
    ASSERT_TRUE(port_->await(u"end"));
    EXPECT_EQ(port_->data(job), data_);
    EXPECT_TRUE(office_->statusBecomes(job, isExactly(JOB_STATUS_PRINTED)));
    std::vector<std::string> journal = port_->journal();
    // The failed write, one that takes nothing (tried again a second later), then the same 64 KiB.
    ASSERT_GE(journal.size(), 5u);
    EXPECT_EQ(journal[2], "fail write");
    EXPECT_EQ(journal[3], "write 65536 -> 0");
    EXPECT_EQ(journal[4], "write 65536 -> 50000");
    EXPECT_EQ(journal[5], "write 15536 -> 15536");
}

TEST_F(SpoolerDelivery, PortStatusShowsInThePrintingJobAndThePrinter)
{
    // PORT_STATUS_* -> PRINTER_STATUS_* and the JOB_STATUS_* bits a printing job gets.
    const struct {
        DWORD port;
        DWORD printer;
        DWORD job;
    } expected[] = {
        {PORT_STATUS_OFFLINE, 0x80, 0x20},   {PORT_STATUS_PAPER_JAM, 0x8, 0x400},
        {PORT_STATUS_PAPER_OUT, 0x10, 0x40}, {PORT_STATUS_OUTPUT_BIN_FULL, 0x800, 0x400},
        {PORT_STATUS_PAPER_PROBLEM, 0x40, 0x400}, {PORT_STATUS_NO_TONER, 0x40000, 0x400},
        {PORT_STATUS_DOOR_OPEN, 0x400000, 0x400}, {PORT_STATUS_USER_INTERVENTION, 0x100000, 0x400},
        {PORT_STATUS_OUT_OF_MEMORY, 0x200000, 0}, {PORT_STATUS_TONER_LOW, 0x20000, 0},
        {PORT_STATUS_WARMING_UP, 0x10000, 0},  {PORT_STATUS_POWER_SAVE, 0x1000000, 0},
    };
    ASSERT_EQ(port_->script(u"block-write=1"), 0u);
    DWORD job = office_->submit(data_);
    ASSERT_TRUE(port_->await(u"blocked write 1"));
    std::u16string portName = u"P1";
    std::u16string text = u"Look at the printer";
    for (const auto& row : expected) {
        PORT_INFO_3W status = {row.port, text.data(), PORT_STATUS_TYPE_ERROR};
        ASSERT_TRUE(SetPortW(nullptr, portName.data(), 3, reinterpret_cast<LPBYTE>(&status)));
        std::vector<BYTE> info = office_->job(job, 1);
        ASSERT_FALSE(info.empty());
        const auto* job1 = reinterpret_cast<const JOB_INFO_1W*>(info.data());
        EXPECT_EQ(job1->Status, JOB_STATUS_PRINTING | row.job) << "port status " << row.port;
        ASSERT_NE(job1->pStatus, nullptr);
        EXPECT_EQ(std::u16string(job1->pStatus), text);
        DWORD needed = 0;
        GetPrinterW(office_->get(), 2, nullptr, 0, &needed);
        std::vector<BYTE> printer(needed);
        ASSERT_TRUE(GetPrinterW(office_->get(), 2, printer.data(), needed, &needed));
        EXPECT_EQ(reinterpret_cast<PRINTER_INFO_2W*>(printer.data())->Status, row.printer)
            << "port status " << row.port;
    }
    PORT_INFO_3W clear = {0, nullptr, 0};
    ASSERT_TRUE(SetPortW(nullptr, portName.data(), 3, reinterpret_cast<LPBYTE>(&clear)));
    EXPECT_EQ(office_->status(job), DWORD(JOB_STATUS_PRINTING));
    EXPECT_EQ(port_->release(), 0u);
    EXPECT_TRUE(office_->statusBecomes(job, isExactly(JOB_STATUS_PRINTED)));
}

TEST_F(SpoolerDelivery, APausedJobIsPassedOverAndAPausedPrinterDeliversNothing)
{
    ASSERT_TRUE(SetPrinterW(office_->get(), 0, nullptr, PRINTER_CONTROL_PAUSE));
    DWORD first = office_->submit(data_, u"first");
    DWORD second = office_->submit(data_, u"second");
    ASSERT_TRUE(office_->control(first, JOB_CONTROL_PAUSE));
    EXPECT_TRUE(port_->lines("start").empty());
    ASSERT_TRUE(SetPrinterW(office_->get(), 0, nullptr, PRINTER_CONTROL_RESUME));
    ASSERT_TRUE(port_->await(u"end"));
    EXPECT_EQ(port_->lines("start")[0].rfind("start job=" + std::to_string(second) + " ", 0), 0u);
    EXPECT_EQ(office_->status(first), DWORD(JOB_STATUS_PAUSED));
    ASSERT_TRUE(office_->control(first, JOB_CONTROL_RESUME));
    ASSERT_TRUE(port_->await(u"end", 2));
    EXPECT_EQ(port_->data(first), data_);
}

TEST_F(SpoolerDelivery, PrintersSharingAPortDeliverOneJobAtATime)
{
    ASSERT_EQ(addPrinter(u"Annex", u"P1"), 0u);
    Printer annex(u"Annex");
    std::vector<DWORD> jobs;
    for (int i = 0; i < 3; ++i) {
        jobs.push_back(office_->submit(randomBytes(100000, i), u"office"));
        jobs.push_back(annex.submit(randomBytes(100000, 10 + i), u"annex"));
    }
    ASSERT_TRUE(port_->await(u"end", 6));
    // Between two starts there is always an end.
    int open = 0;
    for (const std::string& line : port_->journal()) {
        if (line.rfind("start", 0) == 0) {
            EXPECT_EQ(++open, 1);
        }
        if (line.rfind("end", 0) == 0)
            --open;
    }
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(port_->data(jobs[2 * i]), randomBytes(100000, i));
        EXPECT_EQ(port_->data(jobs[2 * i + 1]), randomBytes(100000, 10 + i));
    }
}

TEST_F(SpoolerDelivery, APortClosesWhenItsLastPrinterMovesAwayAndOpensAgainForTheNext)
{
    ASSERT_EQ(addPrinter(u"Annex", u"P1"), 0u);
    DWORD first = office_->submit(data_);
    ASSERT_TRUE(office_->statusBecomes(first, isExactly(JOB_STATUS_PRINTED)));
    ASSERT_EQ(movePrinter(u"Office", u"P2"), 0u);
    EXPECT_TRUE(port_->lines("close").empty()) << "Annex is still on P1";
    ASSERT_EQ(movePrinter(u"Annex", u"P2"), 0u);
    ASSERT_TRUE(port_->await(u"close")); // at once, or when the delivery thread lets the port go
    EXPECT_EQ(port_->journal().back(), "close");

    ASSERT_EQ(movePrinter(u"Office", u"P1"), 0u);
    DWORD second = office_->submit(data_);
    ASSERT_TRUE(office_->statusBecomes(second, isExactly(JOB_STATUS_PRINTED)));
    EXPECT_EQ(port_->lines("open").size(), 2u);
    EXPECT_EQ(port_->data(second), data_);
}

TEST_F(SpoolerDelivery, APortLeftDuringADeliveryClosesWhenTheDeliveryEnds)
{
    ASSERT_EQ(port_->script(u"block-write=1"), 0u);
    DWORD job = office_->submit(data_);
    ASSERT_TRUE(port_->await(u"blocked write 1"));
    ASSERT_EQ(movePrinter(u"Office", u"P2"), 0u);
    EXPECT_TRUE(port_->lines("close").empty()) << "the job is still on the port";
    EXPECT_EQ(port_->release(), 0u);
    ASSERT_TRUE(port_->await(u"close"));
    EXPECT_EQ(port_->data(job), data_) << "the delivery went on through the port it started on";
    std::vector<std::string> journal = port_->journal();
    EXPECT_EQ(journal[journal.size() - 2], "end job=" + std::to_string(job) + " status=0x10");
}

TEST_F(SpoolerDelivery, PrintersOnDifferentPortsDeliverAtTheSameTime)
{
    TestPort lab(u"P2");
    ASSERT_EQ(port_->script(u"block-write=1"), 0u);
    ASSERT_EQ(lab.script(u"block-write=1"), 0u);
    Printer labPrinter(u"Lab");
    DWORD officeJob = office_->submit(data_);
    DWORD labJob = labPrinter.submit(data_);
    // Both deliveries are inside WritePort at once.
    ASSERT_TRUE(port_->await(u"blocked write 1"));
    ASSERT_TRUE(lab.await(u"blocked write 1"));
    EXPECT_EQ(port_->release(), 0u); // each Release lets one waiting slot of the monitor go on
    EXPECT_EQ(port_->release(), 0u);
    EXPECT_TRUE(office_->statusBecomes(officeJob, isExactly(JOB_STATUS_PRINTED)));
    EXPECT_TRUE(labPrinter.statusBecomes(labJob, isExactly(JOB_STATUS_PRINTED)));
    EXPECT_EQ(lab.data(labJob), data_);
}

} // namespace
