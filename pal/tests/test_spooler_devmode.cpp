// A job keeps the device mode of the handle that submitted it; every job that leaves the host is
// logged to spool/history.
#include "test_spooler_jobs.h"

#include <time.h>

#include <fstream>
#include <regex>

using namespace spoolertest;

namespace {

ProgramResult tool(const std::string& name, const std::vector<std::string>& args)
{
    std::vector<std::string> command = {name};
    command.insert(command.end(), args.begin(), args.end());
    return runProgram(command);
}

// A device mode with driver bytes after its public part.
struct DevModeWithExtra {
    DEVMODEW devMode{};
    BYTE extra[6] = {0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6};
};

DevModeWithExtra sampleDevMode()
{
    DevModeWithExtra sample;
    DEVMODEW& devMode = sample.devMode;
    std::u16string name = u"Office";
    name.copy(devMode.dmDeviceName, name.size());
    devMode.dmSpecVersion = DM_SPECVERSION;
    devMode.dmSize = sizeof(DEVMODEW);
    devMode.dmDriverExtra = sizeof sample.extra;
    devMode.dmFields = DM_COPIES | DM_COLLATE | DM_DUPLEX | DM_COLOR;
    devMode.dmCopies = 3;
    devMode.dmCollate = DMCOLLATE_TRUE;
    devMode.dmDuplex = DMDUP_VERTICAL;
    devMode.dmColor = DMCOLOR_COLOR;
    return sample;
}

// A printer handle opened with a device mode in its defaults.
HANDLE openWith(const std::u16string& printer, DEVMODEW* devMode)
{
    std::u16string name = printer;
    PRINTER_DEFAULTSW defaults = {nullptr, devMode, PRINTER_ACCESS_USE};
    HANDLE handle = nullptr;
    return OpenPrinterW(name.data(), &handle, &defaults) ? handle : nullptr;
}

const DEVMODEW* devModeIn(const std::vector<BYTE>& buffer)
{
    return buffer.empty() ? nullptr : reinterpret_cast<const JOB_INFO_2W*>(buffer.data())->pDevMode;
}

TEST_F(SpoolerJobs, AJobKeepsTheDeviceModeOfItsHandleForGetJobLevel2)
{
    ASSERT_TRUE(SetPrinterW(Printer(u"Office").get(), 0, nullptr, PRINTER_CONTROL_PAUSE));
    DevModeWithExtra sample = sampleDevMode();
    Printer withDevMode(openWith(u"Office", &sample.devMode));
    ASSERT_TRUE(withDevMode);
    DWORD job = withDevMode.submit({1, 2, 3});
    ASSERT_NE(job, 0u);
    Printer plain(u"Office");
    DWORD other = plain.submit({4});

    std::vector<BYTE> buffer = plain.job(job, 2);
    const DEVMODEW* devMode = devModeIn(buffer);
    ASSERT_NE(devMode, nullptr);
    EXPECT_GE(reinterpret_cast<const BYTE*>(devMode), buffer.data() + sizeof(JOB_INFO_2W));
    EXPECT_LE(reinterpret_cast<const BYTE*>(devMode) + sizeof(DevModeWithExtra), buffer.data() + buffer.size());
    EXPECT_EQ(reinterpret_cast<uintptr_t>(devMode) % 8, 0u);
    EXPECT_EQ(std::memcmp(devMode, &sample, sizeof(DEVMODEW) + sizeof sample.extra), 0)
        << "the public part and the driver's bytes, as given";
    EXPECT_EQ(devMode->dmCopies, 3);
    EXPECT_EQ(devMode->dmCollate, DMCOLLATE_TRUE);
    EXPECT_EQ(devMode->dmDuplex, DMDUP_VERTICAL);
    EXPECT_EQ(devMode->dmColor, DMCOLOR_COLOR);
    EXPECT_EQ(devModeIn(plain.job(other, 2)), nullptr) << "a job submitted without one has none";

    DWORD needed = 0;
    ASSERT_FALSE(GetJobW(plain.get(), job, 2, buffer.data(), DWORD(buffer.size()) - 1, &needed));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(needed, DWORD(buffer.size()));

    restartHost();
    Printer after(u"Office");
    std::vector<BYTE> afterRestart = after.job(job, 2);
    const DEVMODEW* kept = devModeIn(afterRestart);
    ASSERT_NE(kept, nullptr) << "kept across a restart of the host";
    EXPECT_EQ(std::memcmp(kept, &sample, sizeof(DEVMODEW) + sizeof sample.extra), 0);
}

TEST_F(SpoolerJobs, ADeviceModeTooShortToHoldItsPrintFieldsIsRefused)
{
    DEVMODEW devMode{};
    devMode.dmSize = 100;
    EXPECT_EQ(openWith(u"Office", &devMode), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    devMode.dmSize = sizeof(DEVMODEW) + 2;
    EXPECT_EQ(openWith(u"Office", &devMode), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

double monotonicMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) * 1000 + double(now.tv_nsec) / 1e6;
}

std::vector<std::string> historyLines(const testsupport::TempRoot& root)
{
    std::ifstream in(root.file("spool/history"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TEST_F(SpoolerJobs, EveryJobLeavingTheHostIsLoggedWithHowAndWhen)
{
    double before = monotonicMs();
    setDwordValue(u"SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Lab", W("RetentionMs"), 200);
    Printer office(u"Office");
    Printer lab(u"Lab");
    TestPort p1(u"P1");
    DWORD sent = office.submit({1});
    ASSERT_TRUE(office.statusBecomes(sent, isExactly(JOB_STATUS_PRINTED)));
    ASSERT_TRUE(office.control(sent, JOB_CONTROL_SENT_TO_PRINTER));
    DWORD retained = lab.submit({2});
    ASSERT_TRUE(lab.statusBecomes(retained, gone));
    ASSERT_TRUE(SetPrinterW(office.get(), 0, nullptr, PRINTER_CONTROL_PAUSE));
    DWORD deleted = office.submit({3});
    ASSERT_TRUE(office.control(deleted, JOB_CONTROL_DELETE));
    {
        std::u16string name = u"left open", datatype = u"RAW";
        DOC_INFO_1W info = {name.data(), nullptr, datatype.data()};
        Printer abandoning(u"Office");
        ASSERT_NE(StartDocPrinterW(abandoning.get(), 1, reinterpret_cast<LPBYTE>(&info)), 0u);
    }
    double after = monotonicMs();

    std::vector<std::string> lines = historyLines(root_);
    ASSERT_EQ(lines.size(), 4u);
    const std::regex format(R"((\d+) (sent|deleted|retention) (\d+\.\d{3}))");
    std::vector<std::pair<DWORD, std::string>> left;
    double previous = before;
    for (const std::string& line : lines) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, format)) << line;
        double when = std::stod(match[3]);
        EXPECT_GE(when, previous - 0.001) << "the monotonic clock, in order";
        EXPECT_LE(when, after + 0.001);
        previous = when;
        left.emplace_back(DWORD(std::stoul(match[1])), match[2]);
    }
    EXPECT_EQ(left[0], std::make_pair(sent, std::string("sent")));
    EXPECT_EQ(left[1], std::make_pair(retained, std::string("retention")));
    EXPECT_EQ(left[2], std::make_pair(deleted, std::string("deleted")));
    EXPECT_EQ(left[3].second, "deleted") << "a document never ended leaves as deleted";

    ProgramResult printed = tool("pal-spool", {"history"});
    EXPECT_EQ(printed.exitCode, 0);
    EXPECT_EQ(printed.output, lines[0] + "\n" + lines[1] + "\n" + lines[2] + "\n" + lines[3] + "\n");
}

TEST_F(SpoolerJobs, PalPrintGivesTheJobItsDeviceModeAndPalSpoolNamesThePrintProcessor)
{
    std::string file = root_.file("page.txt");
    std::ofstream(file) << "page";
    ASSERT_TRUE(SetPrinterW(Printer(u"Office").get(), 0, nullptr, PRINTER_CONTROL_PAUSE));
    ProgramResult printed =
        tool("pal-print", {"Office", file, "--copies", "3", "--collate", "--duplex", "2", "--color", "2"});
    ASSERT_EQ(printed.exitCode, 0) << printed.output;
    Printer office(u"Office");
    std::vector<BYTE> buffer = office.job(DWORD(std::stoul(printed.output)), 2);
    const DEVMODEW* devMode = devModeIn(buffer);
    ASSERT_NE(devMode, nullptr);
    EXPECT_EQ(devMode->dmSize, sizeof(DEVMODEW));
    EXPECT_EQ(devMode->dmFields, DWORD(DM_COPIES | DM_COLLATE | DM_DUPLEX | DM_COLOR));
    EXPECT_EQ(devMode->dmCopies, 3);
    EXPECT_EQ(devMode->dmCollate, DMCOLLATE_TRUE);
    EXPECT_EQ(devMode->dmDuplex, DMDUP_VERTICAL);
    EXPECT_EQ(devMode->dmColor, DMCOLOR_COLOR);
    EXPECT_EQ(std::u16string(devMode->dmDeviceName), u"Office");

    printed = tool("pal-print", {"Office", file, "--copies", "2"});
    devMode = devModeIn(buffer = office.job(DWORD(std::stoul(printed.output)), 2));
    ASSERT_NE(devMode, nullptr);
    EXPECT_EQ(devMode->dmCopies, 2);
    EXPECT_EQ(devMode->dmCollate, DMCOLLATE_FALSE);
    EXPECT_EQ(devMode->dmDuplex, DMDUP_SIMPLEX);
    EXPECT_EQ(devMode->dmColor, DMCOLOR_MONOCHROME);
    printed = tool("pal-print", {"Office", file});
    EXPECT_EQ(devModeIn(office.job(DWORD(std::stoul(printed.output)), 2)), nullptr);
    EXPECT_EQ(tool("pal-print", {"Office", file, "--copies", "0"}).exitCode, 2);
    EXPECT_EQ(tool("pal-print", {"Office", file, "--duplex", "4"}).exitCode, 2);

    ASSERT_EQ(tool("pal-spool", {"add-printer", "Mover", "P2", "--print-processor", "KPXProc"}).exitCode, 0);
    Printer mover(u"Mover");
    DWORD needed = 0;
    GetPrinterW(mover.get(), 2, nullptr, 0, &needed);
    std::vector<BYTE> info(needed);
    ASSERT_TRUE(GetPrinterW(mover.get(), 2, info.data(), needed, &needed));
    EXPECT_EQ(std::u16string(reinterpret_cast<const PRINTER_INFO_2W*>(info.data())->pPrintProcessor), u"KPXProc");
}

} // namespace
