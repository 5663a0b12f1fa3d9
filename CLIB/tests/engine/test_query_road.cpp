// Across processes: the spooler host with the port monitor, the device simulator, and jtrk-query
// reading the printer's device through the client library: a printed job found, traced to its
// completion and watched, a held job cancelled.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <string>

#include "ChildProcess.h"
#include "JobMessages.h"
#include "Road.h"
#include "TempRoot.h"
#include "test_spooler_host.h"

namespace {

using testsupport::ChildProcess;

std::string deviceAddress()
{
    unsigned pid = static_cast<unsigned>(getpid());
    return "127." + std::to_string(128 + ((pid >> 16) & 63)) + "." + std::to_string((pid >> 8) & 0xFF) + "." +
           std::to_string(pid & 0xFF);
}

struct QueryRun {
    int exitCode = -1;
    std::string out;
};

class QueryRoad : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(road::writeRootFile("config/icmp", address + " reply\n"));
        controlSocket = root.file("devsim.sock");
        devsim = std::make_unique<ChildProcess>(
            testsupport::besideSelf("devsim"),
            std::vector<std::string>{"--device", address, "--raw", address + ":0", "--print-time", "600000",
                                     "--keep-done", "0", "--control", controlSocket});
        std::smatch found;
        bool dmlp = false;
        for (std::string line; (rawPort == 0 || !dmlp) && (line = devsim->readLine()) != "";) {
            if (std::regex_search(line, found, std::regex("RAW on [0-9.]+:([0-9]+)")))
                rawPort = static_cast<uint16_t>(std::stoi(found[1]));
            dmlp = dmlp || line.find("DMLP on") != std::string::npos;
        }
        ASSERT_NE(rawPort, 0);
        ASSERT_TRUE(started = host.start());
        ASSERT_TRUE(road::addMonitor());
        std::u16string wideAddress(address.begin(), address.end());
        ASSERT_EQ(road::addPort(road::rawPort(u"JT_QUERY", wideAddress, rawPort)), 0u);
        ASSERT_EQ(road::addPrinter(u"Office", u"JT_QUERY"), 0u);
    }
    void TearDown() override
    {
        if (started) {
            EXPECT_EQ(host.stop(), 0);
        }
    }

    QueryRun query(const std::vector<std::string>& args)
    {
        ChildProcess child(testsupport::besideSelf("jtrk-query"), args);
        QueryRun run;
        std::string err;
        run.exitCode = child.finish(run.out, err);
        return run;
    }
    void control(const std::vector<std::string>& words)
    {
        std::vector<std::string> args = {"--control", controlSocket};
        args.insert(args.end(), words.begin(), words.end());
        ChildProcess child(testsupport::besideSelf("devsim-ctl"), args);
        std::string out, err;
        ASSERT_EQ(child.finish(out, err), 0) << out << err;
    }
    // Prints a job and waits until the device lists it; its "#HANDLE" and client job id.
    std::pair<std::string, std::string> printJob(uint32_t number, size_t before)
    {
        auto id = jobmsg::ClientJobId::make(0x44000000 + number, 1, 2, "ABCDEFGH", "JOBINFO1 query road");
        std::vector<BYTE> data = jobmsg::typicalHeader(id, 1);
        data.resize(data.size() + 4096, 'x');
        EXPECT_NE(road::submit(u"Office", data, u"report"), 0u);
        std::regex line("#([0-9]+) ([0-9a-f]{128}) trace");
        for (int attempt = 0; attempt < 200; ++attempt) {
            QueryRun jobs = query({"Office", "jobs"});
            std::vector<std::pair<std::string, std::string>> listed;
            for (std::sregex_iterator it(jobs.out.begin(), jobs.out.end(), line), end; it != end; ++it)
                listed.emplace_back("#" + (*it)[1].str(), (*it)[2].str());
            if (listed.size() > before)
                return listed.back();
            usleep(50000);
        }
        ADD_FAILURE() << "the device never listed the job";
        return {};
    }

    testsupport::TempRoot root;
    std::string address = deviceAddress();
    std::string controlSocket;
    std::unique_ptr<ChildProcess> devsim;
    uint16_t rawPort = 0;
    spoolertest::SpoolerHost host;
    bool started = false;
};

TEST_F(QueryRoad, APrintedJobIsTracedToCompletion)
{
    auto [handle, id] = printJob(1, 0);
    ASSERT_FALSE(handle.empty());
    QueryRun trace = query({"Office", "trace", handle});
    EXPECT_EQ(trace.exitCode, 0) << trace.out;
    EXPECT_NE(trace.out.find("result 0x00060001"), std::string::npos) << trace.out;
    EXPECT_NE(trace.out.find("trace 3 in progress"), std::string::npos) << trace.out;
    control({"job", handle.substr(1), "state", "9"});
    QueryRun done = query({"Office", "trace", id});
    EXPECT_NE(done.out.find("trace 1 completed"), std::string::npos) << done.out;
    QueryRun status = query({"--count", "Office", "status", id});
    EXPECT_EQ(status.exitCode, 0) << status.out;
    EXPECT_NE(status.out.find("result 0x00060001"), std::string::npos) << status.out;
}

TEST_F(QueryRoad, AJobIsWatchedToItsEnd)
{
    auto [handle, id] = printJob(1, 0);
    ASSERT_FALSE(handle.empty());
    ChildProcess watch(testsupport::besideSelf("jtrk-query"), {"--count", "Office", "watch", "--for", "20"});
    std::string line;
    while ((line = watch.readLine()) != "" && line.find("watching") == std::string::npos) {
    }
    control({"job", handle.substr(1), "state", "9"});
    bool seen = false;
    while (!seen && (line = watch.readLine()) != "")
        seen = line.find("event 154 job " + handle + " state 9") != std::string::npos;
    EXPECT_TRUE(seen) << "the watch saw the job end";
}

TEST_F(QueryRoad, AHeldJobIsCancelled)
{
    auto [handle, id] = printJob(2, 0);
    ASSERT_FALSE(handle.empty());
    QueryRun cancel = query({"Office", "cancel", handle});
    EXPECT_EQ(cancel.exitCode, 0) << cancel.out;
    EXPECT_NE(cancel.out.find("result 0x00090001"), std::string::npos) << cancel.out;
    QueryRun trace = query({"Office", "trace", id});
    EXPECT_NE(trace.out.find("trace 2 cancelled"), std::string::npos) << trace.out;
    QueryRun again = query({"Office", "cancel", id});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_NE(again.out.find("status 8"), std::string::npos) << again.out;
}

TEST_F(QueryRoad, TheLibraryTracesThroughTheProgramsIniFile)
{
    ASSERT_TRUE(road::writeRootFile("drive_c/Program Files/jtrk-query.ini",
                                    "[LogOutput]\nLevel=3\nOut=1\nLogFile=C:\\trace\\clib.log\n"));
    ASSERT_TRUE(road::writeRootFile("drive_c/trace/keep", ""));
    QueryRun status = query({"Office", "status"});
    EXPECT_EQ(status.exitCode, 0) << status.out;
    std::ifstream log(root.file("drive_c/trace/clib.log"), std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("[CSM]DMLLIB_GetStatusInfo("), std::string::npos) << text.substr(0, 2000);
    EXPECT_NE(text.find("JTRKCLIB.cpp) Return Value: dwRetStatus = [00060001]\r\n"), std::string::npos);
    EXPECT_NE(text.find("[CSM]DMLLIB_Initialize("), std::string::npos);
}

TEST_F(QueryRoad, WrongCommandLinesAndUnknownPorts)
{
    EXPECT_EQ(query({"Office"}).exitCode, 2);
    EXPECT_EQ(query({"Office", "trace", "#x"}).exitCode, 2);
    EXPECT_EQ(query({"Office", "trace", "1234"}).exitCode, 2);
    QueryRun unknown = query({"JT_NOWHERE", "status"});
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_NE(unknown.out.find("0x0003FFF0"), std::string::npos) << unknown.out;
}

} // namespace
