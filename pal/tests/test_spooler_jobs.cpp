// Printers and jobs through the spooler API: AddPrinterW, GetPrinterW, SetPrinterW, EnumPrintersW,
// submission, GetJobW / GetJobA packing, EnumJobsW and the job-control errors.
#include "test_spooler_jobs.h"

#include "pal/system.h"
#include "pal/testhooks.h"
#include "pal/threads.h"

using namespace spoolertest;

namespace {

size_t packed(const std::u16string& text)
{
    return (text.size() + 1) * sizeof(WCHAR);
}

std::u16string callerName()
{
    WCHAR name[UNLEN + 1];
    DWORD size = UNLEN + 1;
    return GetUserNameW(name, &size) ? std::u16string(name) : std::u16string();
}

std::u16string machineName()
{
    WCHAR name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    return GetComputerNameW(name, &size) ? u"\\\\" + std::u16string(name) : std::u16string();
}

// A job that stays as it is: started, some bytes written, not ended.
class SpoolingJob {
public:
    SpoolingJob(const Printer& printer, const std::u16string& document, size_t bytes)
    {
        std::u16string name = document;
        DOC_INFO_1W info = {name.data(), nullptr, nullptr};
        id_ = StartDocPrinterW(printer.get(), 1, reinterpret_cast<LPBYTE>(&info));
        std::vector<BYTE> data = randomBytes(bytes, 3);
        DWORD written = 0;
        if (id_ && !WritePrinter(printer.get(), data.data(), DWORD(data.size()), &written))
            id_ = 0;
    }
    DWORD id() const { return id_; }

private:
    DWORD id_ = 0;
};

TEST_F(SpoolerJobs, AddPrinterKeepsItsFieldsAndGetPrinterPacksLevels2And5)
{
    std::u16string name = u"Front Desk";
    std::u16string port = u"P2";
    std::u16string driver = u"Desk Driver";
    std::u16string comment = u"by the door";
    std::u16string location = u"ground floor";
    PRINTER_INFO_2W info{};
    info.pPrinterName = name.data();
    info.pPortName = port.data();
    info.pDriverName = driver.data();
    info.pComment = comment.data();
    info.pLocation = location.data();
    info.Attributes = PRINTER_ATTRIBUTE_SHARED;
    info.Priority = 7;
    HANDLE added = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
    ASSERT_NE(added, nullptr);
    Printer printer(added);

    const DWORD expected = sizeof(PRINTER_INFO_2W) + packed(name) + packed(u"") + packed(port) + packed(driver) +
                           packed(comment) + packed(location) + packed(u"") + packed(u"WinPrint") + packed(u"RAW") +
                           packed(u"");
    DWORD needed = 0;
    EXPECT_FALSE(GetPrinterW(printer.get(), 2, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(needed, expected);
    std::vector<BYTE> buffer(expected + 32, 0xEE);
    EXPECT_FALSE(GetPrinterW(printer.get(), 2, buffer.data(), expected - 1, &needed));
    EXPECT_EQ(buffer[0], 0xEE);
    ASSERT_TRUE(GetPrinterW(printer.get(), 2, buffer.data(), DWORD(buffer.size()), &needed));
    const auto* info2 = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
    // The strings run backwards from the end of the buffer in field order.
    EXPECT_EQ(reinterpret_cast<const BYTE*>(info2->pPrinterName), buffer.data() + buffer.size() - packed(name));
    EXPECT_EQ(info2->pServerName, nullptr);
    EXPECT_EQ(std::u16string(info2->pPrinterName), name);
    EXPECT_EQ(std::u16string(info2->pShareName), u"");
    EXPECT_EQ(std::u16string(info2->pPortName), port);
    EXPECT_EQ(std::u16string(info2->pDriverName), driver);
    EXPECT_EQ(std::u16string(info2->pComment), comment);
    EXPECT_EQ(std::u16string(info2->pLocation), location);
    EXPECT_EQ(std::u16string(info2->pPrintProcessor), u"WinPrint");
    EXPECT_EQ(std::u16string(info2->pDatatype), u"RAW");
    EXPECT_EQ(info2->pDevMode, nullptr);
    EXPECT_EQ(info2->pSecurityDescriptor, nullptr);
    EXPECT_EQ(info2->Attributes, DWORD(PRINTER_ATTRIBUTE_SHARED | PRINTER_ATTRIBUTE_LOCAL));
    EXPECT_EQ(info2->Priority, 7u);
    EXPECT_EQ(info2->Status, 0u);
    EXPECT_EQ(info2->cJobs, 0u);

    std::vector<BYTE> info5 = printerInfo(printer.get(), 5);
    ASSERT_EQ(info5.size(), sizeof(PRINTER_INFO_5W) + packed(name) + packed(port));
    const auto* printer5 = reinterpret_cast<const PRINTER_INFO_5W*>(info5.data());
    EXPECT_EQ(std::u16string(printer5->pPrinterName), name);
    EXPECT_EQ(std::u16string(printer5->pPortName), port);
    EXPECT_EQ(printer5->Attributes, DWORD(PRINTER_ATTRIBUTE_SHARED | PRINTER_ATTRIBUTE_LOCAL));
    EXPECT_EQ(printer5->DeviceNotSelectedTimeout, 15000u);
    EXPECT_EQ(printer5->TransmissionRetryTimeout, 45000u);

    EXPECT_FALSE(GetPrinterW(printer.get(), 1, buffer.data(), DWORD(buffer.size()), &needed));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_LEVEL));
}

TEST_F(SpoolerJobs, AddPrinterRefusals)
{
    EXPECT_EQ(addPrinter(u"Office", u"P1"), DWORD(ERROR_PRINTER_ALREADY_EXISTS));
    EXPECT_EQ(addPrinter(u"OFFICE", u"P1"), DWORD(ERROR_PRINTER_ALREADY_EXISTS));
    EXPECT_EQ(addPrinter(u"Nowhere", u"NOPORT"), DWORD(ERROR_UNKNOWN_PORT));
    EXPECT_EQ(addPrinter(u"No Driver", u"P1", u""), DWORD(ERROR_UNKNOWN_PRINTER_DRIVER));
    EXPECT_EQ(addPrinter(u"a,b", u"P1"), DWORD(ERROR_INVALID_PRINTER_NAME));
    EXPECT_EQ(addPrinter(u"a\\b", u"P1"), DWORD(ERROR_INVALID_PRINTER_NAME));
    EXPECT_EQ(addPrinter(u"", u"P1"), DWORD(ERROR_INVALID_PRINTER_NAME));
    EXPECT_EQ(addPrinter(std::u16string(221, u'x'), u"P1"), DWORD(ERROR_INVALID_PRINTER_NAME));
    EXPECT_EQ(addPrinter(std::u16string(220, u'x'), u"P1"), 0u);
    PRINTER_INFO_2W info{};
    EXPECT_EQ(AddPrinterW(nullptr, 1, reinterpret_cast<LPBYTE>(&info)), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_LEVEL));
    EXPECT_EQ(AddPrinterW(nullptr, 2, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

TEST_F(SpoolerJobs, OpenPrinterFindsPrintersByNameOnThisServer)
{
    EXPECT_TRUE(Printer(u"office", std::nullopt));
    EXPECT_TRUE(Printer(u"\\\\anyhost\\Office"));
    Printer missing(u"Basement");
    EXPECT_FALSE(missing);
    EXPECT_EQ(missing.error(), DWORD(ERROR_INVALID_PRINTER_NAME));
    // An Xcv handle is no printer, and a printer handle no Xcv handle.
    XcvHandle xcv(u",XcvPort P1");
    DWORD needed = 0;
    EXPECT_FALSE(GetJobW(xcv.get(), 1, 1, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    Printer office(u"Office");
    DWORD status = 0;
    EXPECT_FALSE(XcvDataW(office.get(), W("Echo"), nullptr, 0, nullptr, 0, &needed, &status));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

TEST_F(SpoolerJobs, SetPrinterLevel2MovesThePrinterToAnotherPortAndPersists)
{
    Printer office(u"Office");
    std::vector<BYTE> buffer = printerInfo(office.get(), 2);
    ASSERT_FALSE(buffer.empty());
    auto* info = reinterpret_cast<PRINTER_INFO_2W*>(buffer.data());
    std::u16string port = u"P2";
    info->pPortName = port.data();
    ASSERT_TRUE(SetPrinterW(office.get(), 2, buffer.data(), 0));

    std::u16string renamed = u"Elsewhere";
    info->pPrinterName = renamed.data();
    EXPECT_FALSE(SetPrinterW(office.get(), 2, buffer.data(), 0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PRINTER_NAME));
    std::u16string noPort = u"NOPORT";
    info->pPrinterName = nullptr;
    info->pPortName = noPort.data();
    EXPECT_FALSE(SetPrinterW(office.get(), 2, buffer.data(), 0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_UNKNOWN_PORT));
    EXPECT_FALSE(SetPrinterW(office.get(), 2, nullptr, 0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(SetPrinterW(office.get(), 0, nullptr, 99));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PRINTER_COMMAND));
    EXPECT_FALSE(SetPrinterW(office.get(), 3, buffer.data(), 0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_LEVEL));

    restartHost();
    Printer again(u"Office");
    std::vector<BYTE> reread = printerInfo(again.get(), 2);
    ASSERT_FALSE(reread.empty());
    EXPECT_EQ(std::u16string(reinterpret_cast<PRINTER_INFO_2W*>(reread.data())->pPortName), u"P2");
    TestPort p2(u"P2");
    DWORD job = again.submit(randomBytes(1000, 1));
    ASSERT_TRUE(p2.await(u"end"));
    EXPECT_EQ(p2.data(job), randomBytes(1000, 1));
}

TEST_F(SpoolerJobs, PrinterPauseShowsInItsStatusAndSurvivesARestart)
{
    Printer office(u"Office");
    ASSERT_TRUE(SetPrinterW(office.get(), 0, nullptr, PRINTER_CONTROL_PAUSE));
    EXPECT_EQ(reinterpret_cast<PRINTER_INFO_2W*>(printerInfo(office.get(), 2).data())->Status,
              DWORD(PRINTER_STATUS_PAUSED));
    restartHost();
    Printer again(u"Office");
    EXPECT_EQ(reinterpret_cast<PRINTER_INFO_2W*>(printerInfo(again.get(), 2).data())->Status,
              DWORD(PRINTER_STATUS_PAUSED));
    DWORD first = again.submit(randomBytes(10, 1));
    DWORD second = again.submit(randomBytes(10, 2));
    EXPECT_EQ(reinterpret_cast<PRINTER_INFO_2W*>(printerInfo(again.get(), 2).data())->cJobs, 2u);
    ASSERT_TRUE(SetPrinterW(again.get(), 0, nullptr, PRINTER_CONTROL_PURGE));
    EXPECT_TRUE(gone(again.status(first)));
    EXPECT_TRUE(gone(again.status(second)));
}

TEST_F(SpoolerJobs, EnumPrintersListsTheLocalPrintersAtLevels2And5)
{
    DWORD needed = 0;
    DWORD count = 0;
    EXPECT_FALSE(EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 5, nullptr, 0, &needed, &count));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(needed, 2 * sizeof(PRINTER_INFO_5W) + packed(u"Lab") + packed(u"P2") + packed(u"Office") + packed(u"P1"));
    std::vector<BYTE> buffer(needed);
    ASSERT_TRUE(EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 5, buffer.data(), needed, &needed, &count));
    ASSERT_EQ(count, 2u);
    const auto* printers = reinterpret_cast<const PRINTER_INFO_5W*>(buffer.data());
    EXPECT_EQ(std::u16string(printers[0].pPrinterName), u"Lab"); // in the order of their upper-cased names
    EXPECT_EQ(std::u16string(printers[1].pPrinterName), u"Office");
    EXPECT_EQ(std::u16string(printers[1].pPortName), u"P1");

    EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count);
    buffer.assign(needed, 0);
    ASSERT_TRUE(EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, buffer.data(), needed, &needed, &count));
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(std::u16string(reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data())[1].pDriverName), u"Test Driver");

    const DWORD size = DWORD(buffer.size());
    // Shared printers only; connections to other servers (there are none); a named server.
    ASSERT_TRUE(EnumPrintersW(PRINTER_ENUM_LOCAL | PRINTER_ENUM_SHARED, nullptr, 2, buffer.data(), size, &needed,
                              &count));
    EXPECT_EQ(count, 0u);
    ASSERT_TRUE(EnumPrintersW(PRINTER_ENUM_CONNECTIONS, nullptr, 2, buffer.data(), size, &needed, &count));
    EXPECT_EQ(count, 0u);
    std::u16string server = u"\\\\thishost";
    ASSERT_TRUE(EnumPrintersW(PRINTER_ENUM_NAME, server.data(), 2, buffer.data(), size, &needed, &count));
    EXPECT_EQ(count, 2u);
    std::u16string badServer = u"thishost";
    EXPECT_FALSE(EnumPrintersW(PRINTER_ENUM_NAME, badServer.data(), 2, buffer.data(), size, &needed, &count));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_NAME));
    EXPECT_FALSE(EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 1, buffer.data(), size, &needed, &count));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_LEVEL));
}

TEST_F(SpoolerJobs, GetJobLevel1PacksTheJobAsSubmitted)
{
    Printer office(u"Office");
    SYSTEMTIME before;
    GetSystemTime(&before);
    SpoolingJob job(office, u"Minutes", 1234);
    ASSERT_EQ(job.id(), 1u); // the first job of this host

    const std::u16string user = callerName();
    const std::u16string machine = machineName();
    ASSERT_FALSE(user.empty());
    const DWORD expected = sizeof(JOB_INFO_1W) + packed(u"Office") + packed(machine) + packed(user) +
                           packed(u"Minutes") + packed(u"RAW");
    DWORD needed = 0;
    EXPECT_FALSE(GetJobW(office.get(), job.id(), 1, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(needed, expected);
    std::vector<BYTE> buffer(expected, 0xEE);
    ASSERT_TRUE(GetJobW(office.get(), job.id(), 1, buffer.data(), expected, &needed));
    const auto* info = reinterpret_cast<const JOB_INFO_1W*>(buffer.data());
    EXPECT_EQ(info->JobId, job.id());
    // Strings from the end in field order: printer, machine, user, document, datatype.
    const BYTE* end = buffer.data() + expected;
    EXPECT_EQ(reinterpret_cast<const BYTE*>(info->pPrinterName), end - packed(u"Office"));
    EXPECT_EQ(reinterpret_cast<const BYTE*>(info->pMachineName), end - packed(u"Office") - packed(machine));
    EXPECT_EQ(reinterpret_cast<const BYTE*>(info->pDatatype), buffer.data() + sizeof(JOB_INFO_1W));
    const BYTE tail[] = {'O', 0, 'f', 0, 'f', 0, 'i', 0, 'c', 0, 'e', 0, 0, 0};
    EXPECT_EQ(std::memcmp(end - sizeof tail, tail, sizeof tail), 0);
    EXPECT_EQ(std::u16string(info->pUserName), user);
    EXPECT_EQ(std::u16string(info->pDocument), u"Minutes");
    EXPECT_EQ(std::u16string(info->pDatatype), u"RAW");
    EXPECT_EQ(info->pStatus, nullptr);
    EXPECT_EQ(info->Status, DWORD(JOB_STATUS_SPOOLING));
    EXPECT_EQ(info->Priority, 1u);
    EXPECT_EQ(info->Position, 1u);
    EXPECT_EQ(info->TotalPages, 0u);
    EXPECT_EQ(info->PagesPrinted, 0u);
    // Submitted is the UTC time of StartDocPrinter.
    FILETIME submitted;
    FILETIME earliest;
    ASSERT_TRUE(SystemTimeToFileTime(&info->Submitted, &submitted));
    ASSERT_TRUE(SystemTimeToFileTime(&before, &earliest));
    ULONGLONG delta = ((ULONGLONG(submitted.dwHighDateTime) << 32) | submitted.dwLowDateTime) -
                      ((ULONGLONG(earliest.dwHighDateTime) << 32) | earliest.dwLowDateTime);
    EXPECT_LT(delta, 600000000ull); // within a minute, not before
}

TEST_F(SpoolerJobs, GetJobLevel2CarriesSizeAndThePrintersSettings)
{
    Printer office(u"Office");
    SpoolingJob job(office, u"Minutes", 1234);
    std::vector<BYTE> buffer = office.job(job.id(), 2);
    const std::u16string user = callerName();
    const std::u16string machine = machineName();
    ASSERT_EQ(buffer.size(), sizeof(JOB_INFO_2W) + packed(u"Office") + packed(machine) + 2 * packed(user) +
                                 packed(u"Minutes") + packed(u"RAW") + packed(u"WinPrint") + packed(u"") +
                                 packed(u"Test Driver"));
    const auto* info = reinterpret_cast<const JOB_INFO_2W*>(buffer.data());
    EXPECT_EQ(info->JobId, job.id());
    EXPECT_EQ(std::u16string(info->pNotifyName), user);
    EXPECT_EQ(std::u16string(info->pPrintProcessor), u"WinPrint");
    EXPECT_EQ(std::u16string(info->pParameters), u"");
    EXPECT_EQ(std::u16string(info->pDriverName), u"Test Driver");
    EXPECT_EQ(info->pDevMode, nullptr);
    EXPECT_EQ(info->pSecurityDescriptor, nullptr);
    EXPECT_EQ(info->Status, DWORD(JOB_STATUS_SPOOLING));
    EXPECT_EQ(info->Size, 1234u);
    EXPECT_EQ(info->Time, 0u);
    EXPECT_EQ(info->StartTime, 0u);
    EXPECT_EQ(info->UntilTime, 0u);

    DWORD needed = 0;
    EXPECT_FALSE(GetJobW(office.get(), job.id(), 3, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_LEVEL));
    EXPECT_FALSE(GetJobW(office.get(), job.id(), 1, nullptr, 10, &needed));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_USER_BUFFER));
}

TEST_F(SpoolerJobs, GetJobAGivesTheStringsInCodePage932)
{
    Printer office(u"Office");
    SpoolingJob job(office, u"テスト文書", 10);
    const std::string user = utf8(callerName());
    const std::string machine = utf8(machineName());
    // "テスト文書" in Shift_JIS.
    const std::string document = "\x83\x65\x83\x58\x83\x67\x95\xb6\x8f\x91";
    const DWORD expected =
        DWORD(sizeof(JOB_INFO_1A) + 7 + machine.size() + 1 + user.size() + 1 + document.size() + 1 + 4);
    DWORD needed = 0;
    EXPECT_FALSE(GetJobA(office.get(), job.id(), 1, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(needed, expected);
    std::vector<BYTE> buffer(expected);
    ASSERT_TRUE(GetJobA(office.get(), job.id(), 1, buffer.data(), expected, &needed));
    const auto* info = reinterpret_cast<const JOB_INFO_1A*>(buffer.data());
    EXPECT_EQ(reinterpret_cast<const BYTE*>(info->pPrinterName), buffer.data() + expected - 7);
    EXPECT_EQ(std::string(info->pPrinterName), "Office");
    EXPECT_EQ(std::string(info->pDocument), document);
    EXPECT_EQ(std::string(info->pDatatype), "RAW");
    EXPECT_EQ(info->Status, DWORD(JOB_STATUS_SPOOLING));
    EXPECT_EQ(info->JobId, job.id());
    EXPECT_FALSE(GetJobA(office.get(), job.id(), 2, buffer.data(), expected, &needed));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_LEVEL));
}

// The usual pair of calls, a size query and the call with a buffer of that size, reads the job
// once: the second call gets the record the first one measured (so the size it was told fits), for
// that job only and for a moment; after that a call reads the job anew.
TEST_F(SpoolerJobs, AGetJobSizeQueryServesTheCallThatFollowsIt)
{
    Printer office(u"Office");
    Printer other(u"Office");
    SpoolingJob first(office, u"Minutes", 10);
    SpoolingJob second(other, u"Agenda", 10);
    ASSERT_NE(first.id(), 0u);
    ASSERT_NE(second.id(), 0u);
    struct TestClock {
        TestClock() { palSetTestTickCount(1000000); }
        ~TestClock() { palResetTestClock(); }
    } clock;
    // The job's id and status as GetJobW gives them; {0, 0} when it fails.
    auto readJob = [&](DWORD id, DWORD size) {
        std::vector<BYTE> buffer(size);
        DWORD needed = 0;
        if (!GetJobW(office.get(), id, 1, buffer.data(), size, &needed))
            return std::make_pair(DWORD(0), DWORD(0));
        const auto* info = reinterpret_cast<const JOB_INFO_1W*>(buffer.data());
        return std::make_pair(info->JobId, info->Status);
    };
    auto sizeQuery = [&](DWORD id) {
        DWORD needed = 0;
        EXPECT_FALSE(GetJobW(office.get(), id, 1, nullptr, 0, &needed));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
        return needed;
    };

    DWORD size = sizeQuery(first.id());
    ASSERT_TRUE(other.control(first.id(), JOB_CONTROL_PAUSE));
    const DWORD spooling = JOB_STATUS_SPOOLING, paused = JOB_STATUS_SPOOLING | JOB_STATUS_PAUSED;
    EXPECT_EQ(readJob(first.id(), size), std::make_pair(first.id(), spooling));  // as measured
    EXPECT_EQ(readJob(first.id(), size), std::make_pair(first.id(), paused));

    // Another job is read from the host.
    sizeQuery(first.id());
    EXPECT_EQ(readJob(second.id(), 4096), std::make_pair(second.id(), spooling));

    // A record kept longer than a moment is not used.
    size = sizeQuery(first.id());
    ASSERT_TRUE(other.control(first.id(), JOB_CONTROL_RESUME));
    palAdvanceTestClock(100);
    EXPECT_EQ(readJob(first.id(), size), std::make_pair(first.id(), spooling));
}

TEST_F(SpoolerJobs, UnknownJobIdsFailWith87EvenWithoutABuffer)
{
    Printer office(u"Office");
    SpoolingJob job(office, u"Minutes", 10);
    Printer lab(u"Lab");
    for (DWORD id : {0u, 2u, 999u}) {
        DWORD needed = 0;
        EXPECT_FALSE(GetJobW(office.get(), id, 1, nullptr, 0, &needed));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER)) << id;
        EXPECT_FALSE(GetJobA(office.get(), id, 1, nullptr, 0, &needed));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER)) << id;
        EXPECT_FALSE(office.control(id, JOB_CONTROL_PAUSE));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER)) << id;
    }
    // A job belongs to its printer's queue only.
    EXPECT_FALSE(lab.status(job.id()).has_value());
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    // Known job, wrong arguments.
    EXPECT_FALSE(SetJobW(office.get(), job.id(), 1, nullptr, JOB_CONTROL_PAUSE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_LEVEL));
    EXPECT_FALSE(office.control(job.id(), 99));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(office.control(job.id(), JOB_CONTROL_RETAIN));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

TEST_F(SpoolerJobs, EnumJobsListsTheQueueInOrder)
{
    Printer office(u"Office");
    ASSERT_TRUE(SetPrinterW(office.get(), 0, nullptr, PRINTER_CONTROL_PAUSE));
    DWORD ids[3];
    for (DWORD i = 0; i < 3; ++i)
        ids[i] = office.submit(randomBytes(100 * (i + 1), i), u"doc" + std::u16string(1, char16_t(u'A' + i)));
    ASSERT_TRUE(office.control(ids[1], JOB_CONTROL_PAUSE));

    DWORD needed = 0;
    DWORD count = 0;
    EXPECT_FALSE(EnumJobsW(office.get(), 0, 10, 2, nullptr, 0, &needed, &count));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    std::vector<BYTE> buffer(needed);
    ASSERT_TRUE(EnumJobsW(office.get(), 0, 10, 2, buffer.data(), needed, &needed, &count));
    ASSERT_EQ(count, 3u);
    const auto* jobs = reinterpret_cast<const JOB_INFO_2W*>(buffer.data());
    for (DWORD i = 0; i < 3; ++i) {
        EXPECT_EQ(jobs[i].JobId, ids[i]);
        EXPECT_EQ(jobs[i].Position, i + 1);
        EXPECT_EQ(jobs[i].Size, 100 * (i + 1));
        EXPECT_EQ(std::u16string(jobs[i].pDocument), u"doc" + std::u16string(1, char16_t(u'A' + i)));
    }
    EXPECT_EQ(jobs[0].Status, 0u);
    EXPECT_EQ(jobs[1].Status, DWORD(JOB_STATUS_PAUSED));

    // A window of the queue: positions are zero-based here and one-based in the records.
    EnumJobsW(office.get(), 1, 1, 1, nullptr, 0, &needed, &count);
    buffer.assign(needed, 0);
    ASSERT_TRUE(EnumJobsW(office.get(), 1, 1, 1, buffer.data(), needed, &needed, &count));
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(reinterpret_cast<const JOB_INFO_1W*>(buffer.data())->JobId, ids[1]);
    EXPECT_EQ(reinterpret_cast<const JOB_INFO_1W*>(buffer.data())->Position, 2u);
    ASSERT_TRUE(EnumJobsW(office.get(), 5, 2, 1, nullptr, 0, &needed, &count));
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(needed, 0u);
    EXPECT_FALSE(EnumJobsW(office.get(), 0, 10, 3, nullptr, 0, &needed, &count));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_LEVEL));

    // Deleting a queued job takes it out at once; the others move up.
    ASSERT_TRUE(office.control(ids[0], JOB_CONTROL_DELETE));
    EXPECT_TRUE(gone(office.status(ids[0])));
    EXPECT_EQ(reinterpret_cast<const JOB_INFO_1W*>(office.job(ids[2], 1).data())->Position, 2u);
}

TEST_F(SpoolerJobs, SpoolingRules)
{
    Printer office(u"Office");
    BYTE byte = 0;
    DWORD written = 9;
    EXPECT_FALSE(WritePrinter(office.get(), &byte, 1, &written));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SPL_NO_STARTDOC));
    EXPECT_EQ(written, 0u);
    EXPECT_FALSE(EndDocPrinter(office.get()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SPL_NO_STARTDOC));
    std::u16string name = u"doc";
    DOC_INFO_1W info = {name.data(), nullptr, nullptr};
    EXPECT_EQ(StartDocPrinterW(office.get(), 2, reinterpret_cast<LPBYTE>(&info)), 0u);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_LEVEL));
    DWORD job = StartDocPrinterW(office.get(), 1, reinterpret_cast<LPBYTE>(&info));
    ASSERT_NE(job, 0u);
    EXPECT_EQ(StartDocPrinterW(office.get(), 1, reinterpret_cast<LPBYTE>(&info)), 0u);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PRINTER_STATE));
    EXPECT_TRUE(WritePrinter(office.get(), &byte, 0, &written));
    EXPECT_EQ(written, 0u);

    // Deleted while spooling: the writer learns it, and EndDocPrinter takes the job away.
    Printer other(u"Office");
    ASSERT_TRUE(other.control(job, JOB_CONTROL_DELETE));
    EXPECT_EQ(other.status(job), DWORD(JOB_STATUS_SPOOLING | JOB_STATUS_DELETING));
    EXPECT_FALSE(WritePrinter(office.get(), &byte, 1, &written));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PRINT_CANCELLED));
    EXPECT_TRUE(EndDocPrinter(office.get()));
    EXPECT_TRUE(gone(other.status(job)));
    EXPECT_FALSE(std::filesystem::exists(root_.file(spoolFile(job, ".spl"))));
    EXPECT_FALSE(std::filesystem::exists(root_.file(spoolFile(job, ".job"))));
}

TEST_F(SpoolerJobs, ClosingAHandleDeletesTheDocumentItDidNotEnd)
{
    DWORD job = 0;
    {
        Printer writer(u"Office");
        SpoolingJob unfinished(writer, u"half", 100);
        job = unfinished.id();
        ASSERT_NE(job, 0u);
    }
    Printer office(u"Office");
    EXPECT_TRUE(gone(office.status(job)));
    // The next job still gets a new id.
    EXPECT_EQ(office.submit(randomBytes(5, 5)), job + 1);
}

TEST_F(SpoolerJobs, JobsAndPrintersNeedAdministratorsToChangeThem)
{
    ASSERT_EQ(host_.stop(), 0);
    ASSERT_TRUE(host_.start({"--non-admin"}));
    Printer all(u"Office");
    EXPECT_FALSE(all);
    EXPECT_EQ(all.error(), DWORD(ERROR_ACCESS_DENIED));
    Printer user(u"Office", PRINTER_ACCESS_USE);
    ASSERT_TRUE(user);
    DWORD job = user.submit(randomBytes(10, 1));
    ASSERT_NE(job, 0u);
    EXPECT_FALSE(user.control(job, JOB_CONTROL_PAUSE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(SetPrinterW(user.get(), 0, nullptr, PRINTER_CONTROL_PAUSE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(addPrinter(u"Another", u"P1"), DWORD(ERROR_ACCESS_DENIED));
}

} // namespace
