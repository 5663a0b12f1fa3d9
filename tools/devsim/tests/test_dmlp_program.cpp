// The devsim program's DMLP side from outside: its options, the control socket through devsim-ctl,
// the request log.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "ChildProcess.h"
#include "DmlpTestPeer.h"
#include "JobMessages.h"
#include "LprClient.h"
#include "TempRoot.h"

namespace {

using namespace dmlptest;
using testsupport::ChildProcess;

// The port of the first ready line "devsim: KIND on ADDRESS:PORT..." for that kind.
uint16_t readyPort(ChildProcess& devsim, const std::string& kind, std::vector<std::string>& lines)
{
    for (;;) {
        const std::string line = devsim.readLine();
        if (line.empty())
            return 0;
        lines.push_back(line);
        const std::string prefix = "devsim: " + kind + " on ";
        if (line.rfind(prefix, 0) == 0) {
            const size_t colon = line.find(':', prefix.size());
            return static_cast<uint16_t>(std::stoul(line.substr(colon + 1)));
        }
    }
}

testsupport::ChildResult ctl(const std::string& socket, const std::vector<std::string>& command)
{
    std::vector<std::string> arguments = {"--control", socket};
    arguments.insert(arguments.end(), command.begin(), command.end());
    return testsupport::runProgram(DEVSIM_CTL_PROGRAM, arguments);
}

TEST(DevsimDmlpProgram, AJobFollowedThroughTheControlSocketAndTheRequestLog)
{
    testsupport::TempRoot root;
    const std::string socket = root.path() + "/devsim.ctl";
    const std::string requests = root.path() + "/requests.log";
    ChildProcess devsim(DEVSIM_PROGRAM, {"--device", "127.0.0.5", "--raw", "0", "--dmlp", "0", "--print-time", "0",
                                         "--keep-done", "60000", "--impressions", "4", "--dmlp-fault", "Echo:drop/1",
                                         "--control", socket, "--request-log", requests, "--root", root.path()});
    std::vector<std::string> lines;
    const uint16_t dmlp = readyPort(devsim, "DMLP", lines);
    ASSERT_NE(dmlp, 0);
    const uint16_t raw = readyPort(devsim, "RAW", lines);
    ASSERT_NE(raw, 0);
    EXPECT_EQ(lines[0], "devsim: DMLP on 127.0.0.5:" + std::to_string(dmlp) + " (udp)");
    EXPECT_EQ(lines[1], "devsim: control on " + socket);

    const jobmsg::ClientJobId id = jobmsg::ClientJobId::make(1, 2, 3, "ABCDEFGH", "JobInfo1");
    const jobmsg::Bytes job = jobmsg::typicalHeader(id, 1);
    {
        lprtest::LprClient sender("127.0.0.5", raw);
        ASSERT_TRUE(sender.send(std::string_view(reinterpret_cast<const char*>(job.data()), job.size())));
    }
    bool done = false;
    for (std::string line; !done && !(line = devsim.readLine()).empty();)
        done = line.rfind("devsim: 127.0.0.5 job 1 done at ", 0) == 0;
    ASSERT_TRUE(done);

    const jobmsg::Bytes wire = id.wire();
    const auto jobs = ctl(socket, {"jobs"});
    EXPECT_EQ(jobs.status, 0);
    EXPECT_EQ(jobs.out, "127.0.0.5 1 9 4 " + std::string("000000010002000341424344454647484a6f62496e666f31") +
                            std::string(80, '0') + "\n");

    // The first Echo is dropped as told, the second answered.
    UdpPeer peer;
    peer.send("127.0.0.5", dmlp, request(1, 1, {'a'}));
    EXPECT_FALSE(peer.receive(kQuiet));
    EXPECT_TRUE(peer.ask("127.0.0.5", dmlp, request(1, 2, {'a'})));
    std::ifstream log(requests);
    std::string first, second;
    ASSERT_TRUE(std::getline(log, first));
    ASSERT_TRUE(std::getline(log, second));
    const std::string from = "127.0.0.5 udp 127.0.0.1:" + std::to_string(peer.port()) + " ";
    EXPECT_EQ(first, from + "Echo id=1 bytes=1 frame=cdca1004000100010001000000000000000000006" "1");
    EXPECT_EQ(second, from + "reply dropped");

    const auto logged = ctl(socket, {"requests", "127.0.0.5"});
    EXPECT_EQ(logged.out, first + "\n" + second + "\n" + from + "Echo id=2 bytes=1 frame=cdca10040001000200010000000000000000000061\n");
    EXPECT_EQ(ctl(socket, {"requests", "clear"}).status, 0);
    EXPECT_EQ(ctl(socket, {"requests"}).out, "");

    const auto cancel = ctl(socket, {"job", "1", "cancel"});
    EXPECT_EQ(cancel.status, 0);
    EXPECT_EQ(ctl(socket, {"jobs"}).out.substr(0, 14), "127.0.0.5 1 6 ");
    const auto wrong = ctl(socket, {"job", "77", "cancel"});
    EXPECT_EQ(wrong.status, 1);
    EXPECT_EQ(wrong.err, "devsim-ctl: no job 77\n");

    const auto off = ctl(socket, {"power", "off"});
    EXPECT_EQ(off.status, 0);
    std::ifstream icmp(root.path() + "/config/icmp");
    std::string stub;
    EXPECT_TRUE(std::getline(icmp, stub));
    EXPECT_EQ(stub, "127.0.0.5 silent");
    lprtest::LprClient refused("127.0.0.5", raw);
    EXPECT_FALSE(refused.connected());
    EXPECT_EQ(ctl(socket, {"power", "on"}).status, 0);
    lprtest::LprClient again("127.0.0.5", raw);
    EXPECT_TRUE(again.connected());
}

TEST(DevsimDmlpProgram, WrongCommandLines)
{
    const std::vector<std::vector<std::string>> wrong = {
        {"--dmlp-fault", "Get2:explode"}, {"--dmlp", "x"}, {"--print-time", "soon"},
        {"--no-raw", "--no-dmlp"},        {"--dmlp-fault", "event:status:3"}};
    for (const auto& arguments : wrong) {
        const auto result = testsupport::runProgram(DEVSIM_PROGRAM, arguments);
        EXPECT_EQ(result.status, 2) << arguments[0];
        EXPECT_NE(result.err.find("(see devsim --help)"), std::string::npos) << result.err;
    }
    const auto help = testsupport::runProgram(DEVSIM_PROGRAM, {"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* option : {"--dmlp [ADDRESS:]PORT", "--no-dmlp", "--dmlp-tcp", "--dmlp-fault RULE", "--print-time",
                               "--impressions", "--keep-done", "--no-282", "--no-106", "--control PATH",
                               "--request-log", "--subscription-lifetime", "--broadcast", "--completions-per-second"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    EXPECT_EQ(testsupport::runProgram(DEVSIM_CTL_PROGRAM, {"jobs"}).status, 2);
    EXPECT_EQ(testsupport::runProgram(DEVSIM_CTL_PROGRAM, {"--help"}).status, 0);
    const auto absent = testsupport::runProgram(DEVSIM_CTL_PROGRAM, {"--control", "/nonexistent/devsim.ctl", "jobs"});
    EXPECT_EQ(absent.status, 1);
    EXPECT_NE(absent.err.find("cannot reach devsim"), std::string::npos);
}

} // namespace
