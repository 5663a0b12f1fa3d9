// Pipe servers and clients in separate processes.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include <windows.h>

#include "ChildProcess.h"
#include "TempRoot.h"
#include "fixtures/pipe_test_server.h"

namespace {

using pipetest::pipeName;
using testsupport::ChildProcess;

constexpr DWORD kMessagePipe = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT;

class PipeProcesses : public ::testing::Test {
protected:
    std::string call(const std::string& name, const std::string& request)
    {
        char reply[128];
        DWORD got = 0;
        if (!CallNamedPipeW(pipeName(name).c_str(), const_cast<char*>(request.data()),
                            static_cast<DWORD>(request.size()), reply, sizeof reply, &got, NMPWAIT_WAIT_FOREVER))
            return "failed " + std::to_string(GetLastError());
        return std::string(reply, got);
    }

    testsupport::TempRoot root;
    const std::string peer = testsupport::besideSelf("pal_pipe_peer");
};

TEST_F(PipeProcesses, ClientCallsAServerInAnotherProcess)
{
    ChildProcess server(peer, {"serve", "xproc", "3"});
    ASSERT_EQ(server.readLine(), "ready");
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(call("xproc", "request " + std::to_string(i)), "echo:request " + std::to_string(i));
    EXPECT_EQ(server.readLine(), "served 3");
    EXPECT_EQ(server.wait(), 0);
    EXPECT_EQ(call("xproc", "too late"), "failed 2") << "the pipe went with its process";
}

TEST_F(PipeProcesses, ServerAnswersAClientInAnotherProcess)
{
    pipetest::ServicePipe service("reverse", pipetest::Reply::Echo);
    ASSERT_TRUE(service.created());
    ChildProcess client(peer, {"call", "reverse", "from child"});
    EXPECT_EQ(client.readLine(), "reply echo:from child");
    EXPECT_EQ(client.wait(), 0);
    EXPECT_EQ(service.lastRequest(), "from child");
}

TEST_F(PipeProcesses, InstanceLimitHoldsAcrossProcessesUntilTheHolderEnds)
{
    ChildProcess holder(peer, {"hold", "limited", "1"});
    ASSERT_EQ(holder.readLine(), "created");
    HANDLE second =
        CreateNamedPipeW(pipeName("limited").c_str(), PIPE_ACCESS_DUPLEX, kMessagePipe, 1, 0, 0, 0, nullptr);
    EXPECT_EQ(second, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_BUSY));

    HANDLE client = CreateFileW(pipeName("limited").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                0, nullptr);
    ASSERT_NE(client, INVALID_HANDLE_VALUE) << "the other process's instance takes this client";
    ChildProcess other(peer, {"open", "limited"});
    EXPECT_EQ(other.readLine(), "failed 231");

    holder.kill();
    holder.wait();
    char buffer[8];
    DWORD got = 0;
    EXPECT_FALSE(ReadFile(client, buffer, sizeof buffer, &got, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BROKEN_PIPE));
    CloseHandle(client);
    HANDLE third = CreateNamedPipeW(pipeName("limited").c_str(), PIPE_ACCESS_DUPLEX, kMessagePipe, 1, 0, 0, 0, nullptr);
    EXPECT_NE(third, INVALID_HANDLE_VALUE) << "the ended process's instance is free again";
    CloseHandle(third);
}

TEST_F(PipeProcesses, NullDaclAdmitsOtherUsersAndOwnerOnlyDoesNot)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "a client of another user can only be started by root";
    constexpr const char* kNobody = "65534";
    pipetest::ServicePipe everyone("everyone", pipetest::Reply::Echo, true);
    pipetest::ServicePipe ownerOnly("owneronly", pipetest::Reply::Echo, false);
    ASSERT_TRUE(everyone.created() && ownerOnly.created());
    for (const char* folder : {"", "/run", "/run/pipes"})
        chmod((root.path() + folder).c_str(), 0755);

    ChildProcess admitted(peer, {"call", "everyone", "hi", kNobody});
    std::string line = admitted.readLine();
    if (line == "failed setuid")
        GTEST_SKIP() << "this machine does not let root become user " << kNobody;
    EXPECT_EQ(line, "reply echo:hi");

    ChildProcess refused(peer, {"call", "owneronly", "hi", kNobody});
    EXPECT_EQ(refused.readLine(), "failed 5");
    EXPECT_EQ(ownerOnly.requests(), 0);
    EXPECT_EQ(call("owneronly", "mine"), "echo:mine") << "the owner itself is admitted";
}

} // namespace
