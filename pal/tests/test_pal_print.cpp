// pal-print and the printer and job commands of pal-spool, end to end against a running host.
#include "test_spooler_jobs.h"

#include <fstream>

using namespace spoolertest;

namespace {

ProgramResult tool(const std::string& name, const std::vector<std::string>& args, const std::string& input = {})
{
    std::vector<std::string> command = {name};
    command.insert(command.end(), args.begin(), args.end());
    return runProgram(command, std::nullopt, input);
}

class PalPrint : public ::testing::Test {
protected:
    void SetUp() override
    {
        registerTestMonitor(u"Test Monitor", {u"P1"});
        ASSERT_TRUE(host_.start());
        ASSERT_EQ(tool("pal-spool", {"add-printer", "Office", "P1", "--comment", "2nd floor"}).exitCode, 0);
        std::ofstream(file_, std::ios::binary) << content_;
    }
    void TearDown() override { EXPECT_EQ(host_.stop(), 0); }

    testsupport::TempRoot root_;
    SpoolerHost host_;
    std::string file_ = root_.file("letter.txt");
    std::string content_ = std::string(100000, 'x') + "end of letter\n";
};

TEST_F(PalPrint, PrintsAFileAndPalSpoolListsAndControlsItsJob)
{
    EXPECT_EQ(tool("pal-spool", {"printers"}).output, "Office\tP1\tGeneric\tready\t0\n");
    TestPort port(u"P1");
    ProgramResult printed = tool("pal-print", {"Office", file_});
    ASSERT_EQ(printed.exitCode, 0) << printed.output;
    EXPECT_EQ(printed.output, "1\n");
    ASSERT_TRUE(port.await(u"end"));
    std::vector<BYTE> delivered = port.data(1);
    EXPECT_EQ(std::string(delivered.begin(), delivered.end()), content_);
    Printer office(u"Office");
    ASSERT_TRUE(office.statusBecomes(1, isExactly(JOB_STATUS_PRINTED)));
    const std::string size = std::to_string(content_.size());
    EXPECT_EQ(tool("pal-spool", {"jobs", "Office"}).output, "1\tletter.txt\tprinted\t" + size + "\n");
    EXPECT_EQ(tool("pal-spool", {"printers"}).output, "Office\tP1\tGeneric\tready\t1\n");

    EXPECT_EQ(tool("pal-spool", {"job", "Office", "1", "pause"}).exitCode, 0);
    EXPECT_EQ(tool("pal-spool", {"jobs", "Office"}).output, "1\tletter.txt\tpaused,printed\t" + size + "\n");
    EXPECT_EQ(tool("pal-spool", {"job", "Office", "1", "resume"}).exitCode, 0);
    EXPECT_EQ(tool("pal-spool", {"job", "Office", "1", "restart"}).exitCode, 0);
    ASSERT_TRUE(port.await(u"end", 2));
    ASSERT_TRUE(office.statusBecomes(1, isExactly(JOB_STATUS_PRINTED)));
    EXPECT_EQ(tool("pal-spool", {"job", "Office", "1", "delete"}).exitCode, 0);
    EXPECT_EQ(tool("pal-spool", {"jobs", "Office"}).output, "");
    ProgramResult again = tool("pal-spool", {"job", "Office", "1", "delete"});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_EQ(again.output, "pal-spool: SetJobW failed: error 87\n");
}

TEST_F(PalPrint, DocumentAndUserOptionsNameTheJob)
{
    TestPort port(u"P1");
    ASSERT_EQ(port.script(u"block-start=1"), 0u);
    ProgramResult printed = tool("pal-print", {"Office", file_, "--document", "週報", "--user", "carol"});
    ASSERT_EQ(printed.exitCode, 0) << printed.output;
    ASSERT_TRUE(port.await(u"blocked start"));
    EXPECT_EQ(tool("pal-spool", {"jobs", "Office"}).output,
              "1\t週報\tprinting\t" + std::to_string(content_.size()) + "\n");
    EXPECT_EQ(port.release(), 0u);
    ASSERT_TRUE(port.await(u"end"));
    std::string start = port.lines("start").at(0);
    EXPECT_NE(start.find(" doc=週報 "), std::string::npos) << start;
    EXPECT_NE(start.find(" user=carol thread-user=carol "), std::string::npos) << start;
}

TEST_F(PalPrint, ReadsStandardInput)
{
    TestPort port(u"P1");
    ProgramResult printed = tool("pal-print", {"--root", root_.path(), "Office", "-"}, "from a pipe\n");
    ASSERT_EQ(printed.exitCode, 0) << printed.output;
    ASSERT_TRUE(port.await(u"end"));
    std::vector<BYTE> delivered = port.data(1);
    EXPECT_EQ(std::string(delivered.begin(), delivered.end()), "from a pipe\n");
    EXPECT_EQ(tool("pal-spool", {"jobs", "Office"}).output, "1\tstdin\tprinted\t12\n");
}

TEST_F(PalPrint, StatusWordsOfJobsAndPrinters)
{
    TestPort port(u"P1");
    ASSERT_EQ(port.script(u"block-write=1"), 0u);
    ASSERT_EQ(tool("pal-print", {"Office", file_}).exitCode, 0);
    ASSERT_TRUE(port.await(u"blocked write 1"));
    ASSERT_EQ(tool("pal-spool", {"job", "Office", "1", "restart"}).exitCode, 0);
    std::u16string portName = u"P1";
    PORT_INFO_3W status = {PORT_STATUS_PAPER_OUT, nullptr, PORT_STATUS_TYPE_ERROR};
    ASSERT_TRUE(SetPortW(nullptr, portName.data(), 3, reinterpret_cast<LPBYTE>(&status)));
    const std::string size = std::to_string(content_.size());
    EXPECT_EQ(tool("pal-spool", {"jobs", "Office"}).output, "1\tletter.txt\tprinting,paperout,restart\t" + size + "\n");
    EXPECT_EQ(tool("pal-spool", {"printers"}).output, "Office\tP1\tGeneric\tpaper-out\t1\n");

    Printer office(u"Office");
    ASSERT_TRUE(SetPrinterW(office.get(), 0, nullptr, PRINTER_CONTROL_PAUSE));
    EXPECT_EQ(tool("pal-spool", {"printers"}).output, "Office\tP1\tGeneric\tpaused,paper-out\t1\n");
    EXPECT_EQ(port.release(), 0u);
    ASSERT_TRUE(port.await(u"end"));
    // Paused printer: the restarted job waits, queued.
    EXPECT_TRUE(office.statusBecomes(1, isExactly(JOB_STATUS_RESTART)));
    EXPECT_EQ(tool("pal-spool", {"jobs", "Office"}).output, "1\tletter.txt\trestart\t" + size + "\n");
    ASSERT_TRUE(office.control(1, JOB_CONTROL_DELETE));
    ASSERT_EQ(tool("pal-print", {"Office", file_}).exitCode, 0);
    EXPECT_EQ(tool("pal-spool", {"jobs", "Office"}).output, "2\tletter.txt\tqueued\t" + size + "\n");
}

TEST_F(PalPrint, RetentionOfAddPrinter)
{
    ASSERT_EQ(tool("pal-spool", {"add-printer", "Quick", "P1", "--driver", "Fast", "--retention", "200"}).exitCode, 0);
    EXPECT_EQ(readDword(u"SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\Quick", W("RetentionMs")), 200u);
    EXPECT_EQ(tool("pal-spool", {"printers"}).output,
              "Office\tP1\tGeneric\tready\t0\nQuick\tP1\tFast\tready\t0\n");
    ASSERT_EQ(tool("pal-print", {"Quick", file_}).exitCode, 0);
    Printer quick(u"Quick");
    EXPECT_TRUE(quick.statusBecomes(1, gone));
}

TEST_F(PalPrint, CommandLineErrors)
{
    ProgramResult help = tool("pal-print", {"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.output.rfind("usage: pal-print", 0), 0u);
    EXPECT_EQ(tool("pal-print", {"Office"}).exitCode, 2);
    EXPECT_EQ(tool("pal-print", {"Office", file_, "--color"}).exitCode, 2);
    EXPECT_EQ(tool("pal-print", {"Office", file_, "--user"}).exitCode, 2);
    ProgramResult missing = tool("pal-print", {"Office", root_.file("missing.txt")});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.output.find("cannot read"), std::string::npos);
    ProgramResult unknown = tool("pal-print", {"Basement", file_});
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_EQ(unknown.output, "pal-print: OpenPrinterW failed: error 1801\n");

    EXPECT_EQ(tool("pal-spool", {"add-printer", "Office", "P1"}).output,
              "pal-spool: AddPrinterW failed: error 1802\n");
    EXPECT_EQ(tool("pal-spool", {"add-printer", "X", "P1", "--retention"}).exitCode, 2);
    EXPECT_EQ(tool("pal-spool", {"add-printer", "X", "P1", "--retention", "soon"}).exitCode, 2);
    EXPECT_EQ(tool("pal-spool", {"jobs", "Basement"}).exitCode, 1);
    EXPECT_EQ(tool("pal-spool", {"job", "Office", "x", "pause"}).exitCode, 2);
    EXPECT_EQ(tool("pal-spool", {"job", "Office", "1", "shred"}).exitCode, 2);
    EXPECT_EQ(tool("pal-spool", {"jobs"}).exitCode, 2);
    // Nothing of it reached the queue.
    EXPECT_EQ(tool("pal-spool", {"jobs", "Office"}).output, "");
}

} // namespace
