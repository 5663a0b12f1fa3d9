// The service actions against the scripted test service under the service control emulation.
#include <chrono>
#include <thread>

#include "ChildProcess.h"
#include "pal/testhooks.h"
#include "util_testing.h"

using namespace utiltest;

namespace {

std::u16string wide(const std::string& text)
{
    return std::u16string(text.begin(), text.end());
}

class ServiceActions : public UtilRoot {
protected:
    void SetUp() override
    {
        UtilRoot::SetUp();
        manager = OpenSCManagerW(nullptr, u"ServicesActive", SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(manager, nullptr);
    }
    void TearDown() override
    {
        if (service) {
            SERVICE_STATUS status{};
            if (QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_STOPPED) {
                ControlService(service, SERVICE_CONTROL_STOP, &status);
                reaches(SERVICE_STOPPED);
            }
            CloseServiceHandle(service);
        }
        CloseServiceHandle(manager);
        unsetenv("PAL_NON_ADMIN");
        UtilRoot::TearDown();
    }
    void install(const std::string& script)
    {
        std::u16string image = wide("\"" + testsupport::besideSelf("PalTestService") + "\" " + script);
        service = CreateServiceW(manager, u"TestTracker", nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                 SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, image.c_str(), nullptr, nullptr, nullptr,
                                 nullptr, nullptr);
        ASSERT_NE(service, nullptr);
        session.set(u"JTRK_SERVICE_NAME", u"TestTracker");
    }
    DWORD state()
    {
        SERVICE_STATUS status{};
        return QueryServiceStatus(service, &status) ? status.dwCurrentState : 0;
    }
    bool reaches(DWORD wanted)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            if (state() == wanted)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    SC_HANDLE manager = nullptr;
    SC_HANDLE service = nullptr;
    Session session;
};

TEST_F(ServiceActions, SlowStartWithWaitHintsEndsRunningAndWritesZero)
{
    install("--start-ms 700 --hint 100");
    EXPECT_EQ(util.action("JTMXStartService", session.handle), 0u);
    EXPECT_EQ(state(), (DWORD)SERVICE_RUNNING) << "returns only once running";
    EXPECT_TRUE(session.logged(u"ServiceName is TestTracker"));
    EXPECT_TRUE(session.logged(u"JTMXStartService success."));
    EXPECT_EQ(resultCode(), 0);
    EXPECT_TRUE(session.shown().empty());
}

TEST_F(ServiceActions, AlreadyRunningServiceNeedsNoStartRequest)
{
    install("");
    ASSERT_TRUE(StartServiceW(service, 0, nullptr));
    ASSERT_TRUE(reaches(SERVICE_RUNNING));
    EXPECT_EQ(util.action("JTMXStartService", session.handle), 0u);
    EXPECT_TRUE(session.logged(u"JTMXStartService success."));
}

TEST_F(ServiceActions, ServiceEndingDuringStartIsAFailureWithMessage102)
{
    install("--die-start");
    EXPECT_EQ(util.action("JTMXStartService", session.handle), 0u) << "a failed start never fails the installation";
    EXPECT_EQ(resultCode(), 6);
    ASSERT_EQ(session.shown().size(), 1u);
    EXPECT_EQ(session.shown()[0], INSTALLMESSAGE_WARNING);
    EXPECT_EQ(session.shownText(0).substr(0, 30), u"TALLY-DESK Output Beacon Servi");
}

TEST_F(ServiceActions, FailedStartKeepsItsExitCodeAndTheFirstResult)
{
    install("--fail-start 1064");
    EXPECT_EQ(util.action("JTMXStartService", session.handle), 0u);
    EXPECT_TRUE(session.logged(u"dwStartService failed. ErrorCode = 1064"));
    EXPECT_EQ(resultCode(), 6);
    Session later;
    later.set(u"JTRK_SERVICE_NAME", u"NoSuchService");
    EXPECT_EQ(util.action("JTMXStartService", later.handle), 0u);
    EXPECT_EQ(resultCode(), 6) << "the first failure stays";
}

TEST_F(ServiceActions, StopReturnsOnlyWhenStoppedThoughTheHandlerOnlySignals)
{
    install("--stop-ms 800");
    ASSERT_TRUE(StartServiceW(service, 0, nullptr));
    ASSERT_TRUE(reaches(SERVICE_RUNNING));
    EXPECT_EQ(util.action("JTMXStopService", session.handle), 0u);
    EXPECT_EQ(state(), (DWORD)SERVICE_STOPPED);
    EXPECT_TRUE(session.logged(u"JTMXStopService success."));
}

TEST_F(ServiceActions, StoppingAServiceNotInstalledSucceeds)
{
    session.set(u"JTRK_SERVICE_NAME", u"NoSuchService");
    EXPECT_EQ(util.action("JTMXStopService", session.handle), 0u);
    EXPECT_TRUE(session.logged(u"OpenService failed. ErrorCode = 1060"));
    EXPECT_TRUE(session.shown().empty());
}

TEST_F(ServiceActions, NoServiceManagerGives4And102OrCancelsTheStopWith106)
{
    install("");
    setenv("PAL_NON_ADMIN", "1", 1);
    EXPECT_EQ(util.action("JTMXStartService", session.handle), 0u);
    EXPECT_EQ(resultCode(), 4);
    EXPECT_EQ(util.action("JTMXStopService", session.handle), (UINT)ERROR_INSTALL_USEREXIT);
    ASSERT_EQ(session.shown().size(), 2u);
    EXPECT_EQ(session.shownText(1).substr(0, 34), u"TALLY-DESK Output Beacon Service2 ");
    EXPECT_EQ(session.shown()[1], INSTALLMESSAGE_ERROR);
}

TEST_F(ServiceActions, AStopLongerThanTheTimeLimitFailsWith1053)
{
    install("--stop-ms 5000");
    ASSERT_TRUE(StartServiceW(service, 0, nullptr));
    ASSERT_TRUE(reaches(SERVICE_RUNNING));
    ASSERT_TRUE(palSetTimeScale(0.02));
    UINT result = util.action("JTMXStopService", session.handle);
    palSetTimeScale(1);
    EXPECT_EQ(result, (UINT)ERROR_INSTALL_USEREXIT);
    EXPECT_TRUE(session.logged(u"dwStopService failed. ErrorCode = 1053"));
}

} // namespace
