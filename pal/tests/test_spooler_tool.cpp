// pal-spool end to end against a running spooler host.
#include "test_spooler_host.h"

#include "TempRoot.h"

using namespace spoolertest;

namespace {

ProgramResult palSpool(const std::vector<std::string>& args)
{
    std::vector<std::string> command = {"pal-spool"};
    command.insert(command.end(), args.begin(), args.end());
    return runProgram(command);
}

TEST(SpoolerTool, ManagesMonitorsAndPorts)
{
    testsupport::TempRoot root;
    registerTestMonitor(u"Test Monitor A", {u"P1"}, u"Alpha");
    setDwordValue(monitorKey(u"Later") + u"\\Ports\\L1", W("Unused"), 0);
    SpoolerHost host;
    ASSERT_TRUE(host.start());

    EXPECT_EQ(palSpool({"monitors"}).output, "Test Monitor A\tTESTMON.DLL\n");
    ProgramResult added = palSpool({"add-monitor", "Later", "TESTMON.DLL"});
    EXPECT_EQ(added.exitCode, 0);
    EXPECT_EQ(palSpool({"monitors"}).output, "Test Monitor A\tTESTMON.DLL\nLater\tTESTMON.DLL\n");
    EXPECT_EQ(palSpool({"ports"}).output, "P1\tTESTMON.DLL\tAlpha\nL1\tTESTMON.DLL\tTest Port\n");

    EXPECT_EQ(palSpool({"delete-port", "L1"}).exitCode, 0);
    EXPECT_EQ(palSpool({"ports"}).output, "P1\tTESTMON.DLL\tAlpha\n");
    ProgramResult again = palSpool({"delete-port", "L1"});
    EXPECT_EQ(again.exitCode, 1);

    EXPECT_EQ(palSpool({"delete-monitor", "Later"}).exitCode, 0);
    EXPECT_EQ(palSpool({"monitors"}).output, "Test Monitor A\tTESTMON.DLL\n");
    EXPECT_EQ(palSpool({"add-monitor", "Test Monitor A", "TESTMON.DLL"}).exitCode, 1);
    EXPECT_EQ(host.stop(), 0);
}

TEST(SpoolerTool, CallsXcvMethods)
{
    testsupport::TempRoot root;
    registerTestMonitor(u"Test Monitor A", {u"P1"});
    SpoolerHost host;
    ASSERT_TRUE(host.start());

    EXPECT_EQ(palSpool({"xcv", "P1", "Echo", "0102ff"}).output, "status: 0\nneeded: 3\noutput: 0102ff\n");
    EXPECT_EQ(palSpool({"xcv", "--monitor", "Test Monitor A", "GrantedAccess"}).output,
              "status: 0\nneeded: 4\noutput: 01000000\n");
    ProgramResult shortOutput = palSpool({"xcv", "P1", "Echo", "0102ff", "--out-size", "2"});
    EXPECT_EQ(shortOutput.exitCode, 1);
    EXPECT_EQ(shortOutput.output, "status: 122\nneeded: 3\noutput: \n");

    EXPECT_EQ(palSpool({"xcv", "--monitor", "Test Monitor A", "AddPort", "--text", "NEW1"}).exitCode, 0);
    EXPECT_EQ(palSpool({"xcv", "NEW1", "Object"}).output, "status: 0\nneeded: 10\noutput: 4e004500570031000000\n");
    EXPECT_EQ(host.stop(), 0);
}

TEST(SpoolerTool, ErrorsAndHelp)
{
    testsupport::TempRoot root;
    ProgramResult help = palSpool({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.output.find("usage: pal-spool"), std::string::npos);
    EXPECT_EQ(palSpool({}).exitCode, 2);
    EXPECT_EQ(palSpool({"frobnicate"}).exitCode, 2);
    EXPECT_EQ(palSpool({"xcv", "P1"}).exitCode, 2);
    EXPECT_EQ(palSpool({"xcv", "P1", "Echo", "abc"}).exitCode, 2);
    // No host on this root: the call fails with 1722.
    ProgramResult noHost = palSpool({"ports"});
    EXPECT_EQ(noHost.exitCode, 1);
    EXPECT_EQ(noHost.output, "pal-spool: EnumPortsW failed: error 1722\n");
}

} // namespace
