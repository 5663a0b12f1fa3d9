#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include <windows.h>

#include "ChildProcess.h"
#include "TempRoot.h"

namespace {

namespace fs = std::filesystem;
using testsupport::besideSelf;

constexpr int kWaitMs = 20000;

std::u16string wide(const std::string& text)
{
    return std::u16string(text.begin(), text.end());
}

std::string fileText(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Polls the service until it reports state (bounded).
bool reaches(SC_HANDLE service, DWORD state, SERVICE_STATUS* last = nullptr)
{
    SERVICE_STATUS status{};
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (!QueryServiceStatus(service, &status))
            return false;
        if (last)
            *last = status;
        if (status.dwCurrentState == state)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// Waits until the service's log holds text (bounded).
bool logShows(const testsupport::TempRoot& root, const std::string& name, const std::string& text)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (fileText(root.file("run/services/" + name + ".log")).find(text) != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// A manager handle and a service registered with the test service's image and script.
struct Installed {
    SC_HANDLE manager = OpenSCManagerW(nullptr, SERVICES_ACTIVE_DATABASEW, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = nullptr;

    const testsupport::TempRoot& root;
    const std::string name;

    Installed(const testsupport::TempRoot& root, const std::string& name, const std::string& script)
        : root(root), name(name)
    {
        std::u16string image = wide("\"" + besideSelf("PalTestService") + "\" " + script);
        service = CreateServiceW(manager, wide(name).c_str(), nullptr, SERVICE_ALL_ACCESS,
                                 SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                 image.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    }
    ~Installed()
    {
        SERVICE_STATUS status{};
        if (QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_RUNNING &&
            ControlService(service, SERVICE_CONTROL_STOP, &status))
            reaches(service, SERVICE_STOPPED);
        CloseServiceHandle(service);
        CloseServiceHandle(manager);
        EXPECT_EQ(fileText(root.file("run/services/" + name + ".log")).find("Sanitizer"), std::string::npos)
            << "the service's own process is checked too";
    }
};

TEST(ServiceDispatcher, AProgramNotStartedAsAServiceGets1063)
{
    testsupport::TempRoot root;
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(u"X"), [](DWORD, LPWSTR*) {}}, {nullptr, nullptr}};
    EXPECT_FALSE(StartServiceCtrlDispatcherW(table));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT));

    setenv("PAL_SERVICE_NAME", "X", 1);
    setenv("PAL_SERVICE_LAUNCH", "0,1", 1);
    EXPECT_FALSE(StartServiceCtrlDispatcherW(table)) << "variables inherited without the launch's descriptors";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT));
    unsetenv("PAL_SERVICE_NAME");
    unsetenv("PAL_SERVICE_LAUNCH");

    EXPECT_EQ(RegisterServiceCtrlHandlerExW(W("X"), [](DWORD, DWORD, LPVOID, LPVOID) -> DWORD { return 0; }, nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_NOT_IN_EXE));
    SERVICE_STATUS status{};
    status.dwCurrentState = SERVICE_RUNNING;
    EXPECT_FALSE(SetServiceStatus(reinterpret_cast<SERVICE_STATUS_HANDLE>(0x10), &status));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    testsupport::ChildResult console = testsupport::runProgram(besideSelf("PalTestService"), {});
    EXPECT_EQ(console.status, 1);
    EXPECT_EQ(console.out, "dispatcher failed 1063\n");
}

TEST(ServiceManager, RegistersOpensAndDeletesServices)
{
    testsupport::TempRoot root;
    Installed installed(root, "Tracker", "--hint 0");
    ASSERT_NE(installed.service, nullptr) << GetLastError();
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, W("SYSTEM\\CurrentControlSet\\Services\\Tracker"), 0, KEY_READ, &key),
              ERROR_SUCCESS);
    DWORD type = 0;
    DWORD size = sizeof type;
    EXPECT_EQ(RegQueryValueExW(key, W("Type"), nullptr, nullptr, reinterpret_cast<BYTE*>(&type), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    WCHAR image[512];
    size = sizeof image;
    DWORD kind = 0;
    EXPECT_EQ(RegQueryValueExW(key, W("ImagePath"), nullptr, &kind, reinterpret_cast<BYTE*>(image), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(kind, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(std::u16string(image), wide("\"" + besideSelf("PalTestService") + "\" --hint 0"));
    RegCloseKey(key);

    EXPECT_EQ(CreateServiceW(installed.manager, W("TRACKER"), nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                             SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, W("/bin/true"), nullptr, nullptr, nullptr,
                             nullptr, nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_EXISTS));
    EXPECT_EQ(OpenServiceW(installed.manager, W("Nobody"), SERVICE_QUERY_STATUS), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_EQ(OpenServiceW(installed.manager, W("a\\b"), SERVICE_QUERY_STATUS), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));

    SC_HANDLE other = OpenServiceW(installed.manager, W("tracker"), SERVICE_ALL_ACCESS);
    ASSERT_NE(other, nullptr) << "names compare without regard to case";
    SERVICE_STATUS status{};
    ASSERT_TRUE(QueryServiceStatus(other, &status));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(status.dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_NEVER_STARTED));
    EXPECT_FALSE(ControlService(other, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE));

    EXPECT_TRUE(DeleteService(other)) << "a stopped service goes at once";
    EXPECT_FALSE(DeleteService(installed.service));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_EQ(OpenServiceW(installed.manager, W("Tracker"), SERVICE_QUERY_STATUS), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_TRUE(CloseServiceHandle(other));
    EXPECT_FALSE(CloseServiceHandle(other));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(ServiceManager, RefusesRemoteMachinesOtherDatabasesAndNonAdministrators)
{
    testsupport::TempRoot root;
    EXPECT_EQ(OpenSCManagerW(W("\\\\ELSEWHERE"), nullptr, SC_MANAGER_CONNECT), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
    EXPECT_EQ(OpenSCManagerW(nullptr, W("ServicesFailed"), SC_MANAGER_CONNECT), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DATABASE_DOES_NOT_EXIST));
    Installed installed(root, "Guarded", "");
    ASSERT_NE(installed.service, nullptr);
    SC_HANDLE queryOnly = OpenServiceW(installed.manager, W("Guarded"), SERVICE_QUERY_STATUS);
    EXPECT_FALSE(StartServiceW(queryOnly, 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << "the handle lacks SERVICE_START";
    CloseServiceHandle(queryOnly);

    setenv("PAL_NON_ADMIN", "1", 1);
    EXPECT_EQ(OpenSCManagerW(nullptr, SERVICES_ACTIVE_DATABASEW, SC_MANAGER_ALL_ACCESS), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    EXPECT_NE(manager, nullptr);
    EXPECT_EQ(OpenServiceW(manager, W("Guarded"), SERVICE_ALL_ACCESS), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    SC_HANDLE reader = OpenServiceW(manager, W("Guarded"), SERVICE_QUERY_STATUS);
    EXPECT_NE(reader, nullptr);
    unsetenv("PAL_NON_ADMIN");
    CloseServiceHandle(reader);
    CloseServiceHandle(manager);
}

TEST(ServiceLifecycle, StartsQueriesControlsAndStopsAService)
{
    testsupport::TempRoot root;
    Installed installed(root, "Lifecycle", "--hint 0 --query-self");
    ASSERT_NE(installed.service, nullptr);
    LPCWSTR arguments[] = {W("first"), W("second")};
    ASSERT_TRUE(StartServiceW(installed.service, 2, arguments)) << GetLastError();
    SERVICE_STATUS status{};
    ASSERT_TRUE(reaches(installed.service, SERVICE_RUNNING, &status));
    EXPECT_EQ(status.dwControlsAccepted, static_cast<DWORD>(SERVICE_ACCEPT_STOP));
    EXPECT_FALSE(StartServiceW(installed.service, 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING));
    EXPECT_TRUE(logShows(root, "Lifecycle", "main Lifecycle first second\n"));
    EXPECT_TRUE(logShows(root, "Lifecycle", "self 4\n")) << "the service queries itself in its own process";

    EXPECT_FALSE(ControlService(installed.service, SERVICE_CONTROL_PAUSE, &status));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_SERVICE_CONTROL));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING)) << "the status comes with the refusal";
    EXPECT_FALSE(ControlService(installed.service, SERVICE_CONTROL_SHUTDOWN, &status));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(ControlService(installed.service, SERVICE_CONTROL_INTERROGATE, &status));
    EXPECT_TRUE(logShows(root, "Lifecycle", "control 4\n"));

    ASSERT_TRUE(ControlService(installed.service, SERVICE_CONTROL_STOP, &status));
    ASSERT_TRUE(reaches(installed.service, SERVICE_STOPPED, &status));
    EXPECT_EQ(status.dwWin32ExitCode, 0u);
    EXPECT_TRUE(logShows(root, "Lifecycle", "control 1\n"));
    EXPECT_TRUE(logShows(root, "Lifecycle", "dispatcher returned\n"));
    EXPECT_FALSE(ControlService(installed.service, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE));

    ASSERT_TRUE(StartServiceW(installed.service, 0, nullptr)) << "started again once stopped";
    ASSERT_TRUE(reaches(installed.service, SERVICE_RUNNING));
    EXPECT_TRUE(logShows(root, "Lifecycle", "main Lifecycle\n"));
}

TEST(ServiceLifecycle, StopIsRefusedWhileStartPendingAndTheHandlerOnlySignals)
{
    testsupport::TempRoot root;
    Installed installed(root, "Slow", "--start-ms 1500 --hint 700 --stop-ms 500");
    ASSERT_NE(installed.service, nullptr);
    ASSERT_TRUE(StartServiceW(installed.service, 0, nullptr));
    SERVICE_STATUS status{};
    ASSERT_TRUE(reaches(installed.service, SERVICE_START_PENDING, &status));
    ASSERT_TRUE(logShows(root, "Slow", "status 2 reported"));
    ASSERT_TRUE(QueryServiceStatus(installed.service, &status));
    if (status.dwCurrentState == SERVICE_START_PENDING) {
        EXPECT_EQ(status.dwWaitHint, 700u);
        EXPECT_FALSE(ControlService(installed.service, SERVICE_CONTROL_STOP, &status));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_CANNOT_ACCEPT_CTRL));
    }
    ASSERT_TRUE(reaches(installed.service, SERVICE_RUNNING));
    ASSERT_TRUE(ControlService(installed.service, SERVICE_CONTROL_STOP, &status));
    EXPECT_NE(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED)) << "the stop comes later";
    ASSERT_TRUE(reaches(installed.service, SERVICE_STOP_PENDING, &status));
    EXPECT_EQ(status.dwWaitHint, 700u);
    EXPECT_FALSE(ControlService(installed.service, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_CANNOT_ACCEPT_CTRL));
    EXPECT_TRUE(reaches(installed.service, SERVICE_STOPPED));
}

TEST(ServiceLifecycle, AServiceThatEndsWithoutStoppingReadsAborted)
{
    testsupport::TempRoot root;
    Installed dying(root, "Dying", "--die-start");
    ASSERT_NE(dying.service, nullptr);
    ASSERT_TRUE(StartServiceW(dying.service, 0, nullptr)) << "the dispatcher connected before the end";
    SERVICE_STATUS status{};
    ASSERT_TRUE(reaches(dying.service, SERVICE_STOPPED, &status));
    EXPECT_EQ(status.dwWin32ExitCode, static_cast<DWORD>(ERROR_PROCESS_ABORTED));

    Installed killed(root, "Killed", "--hint 0");
    ASSERT_TRUE(StartServiceW(killed.service, 0, nullptr));
    ASSERT_TRUE(reaches(killed.service, SERVICE_RUNNING));
    std::string log = fileText(root.file("run/services/Killed.log"));
    size_t at = log.find("pid ");
    ASSERT_NE(at, std::string::npos);
    pid_t pid = std::atoi(log.c_str() + at + 4);
    ASSERT_GT(pid, 0);
    ASSERT_EQ(kill(pid, SIGKILL), 0);
    ASSERT_TRUE(reaches(killed.service, SERVICE_STOPPED, &status));
    EXPECT_EQ(status.dwWin32ExitCode, static_cast<DWORD>(ERROR_PROCESS_ABORTED));
    EXPECT_FALSE(ControlService(killed.service, SERVICE_CONTROL_STOP, &status));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE));

    Installed failing(root, "Failing", "--fail-start 1234 --hint 0");
    ASSERT_TRUE(StartServiceW(failing.service, 0, nullptr));
    ASSERT_TRUE(reaches(failing.service, SERVICE_STOPPED, &status));
    EXPECT_EQ(status.dwWin32ExitCode, 1234u) << "the exit code it reported";
}

TEST(ServiceLifecycle, ImagesByWindowsPathAndImagesThatNeverConnect)
{
    testsupport::TempRoot root;
    fs::create_directories(root.file("drive_c/Program Files/Svc"));
    fs::create_symlink(besideSelf("PalTestService"), root.file("drive_c/Program Files/Svc/PalTestService"));
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = CreateServiceW(manager, W("Windowsy"), W("A service"), SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                       W("C:\\Program Files\\Svc\\PalTestService.exe --hint 0"), nullptr, nullptr,
                                       nullptr, nullptr, nullptr);
    ASSERT_NE(service, nullptr);
    ASSERT_TRUE(StartServiceW(service, 0, nullptr)) << GetLastError();
    SERVICE_STATUS status{};
    ASSERT_TRUE(reaches(service, SERVICE_RUNNING));
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    ASSERT_TRUE(reaches(service, SERVICE_STOPPED));
    CloseServiceHandle(service);

    service = CreateServiceW(manager, W("Quitter"), nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                             SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, W("/bin/true"), nullptr, nullptr, nullptr,
                             nullptr, nullptr);
    EXPECT_FALSE(StartServiceW(service, 0, nullptr)) << "ended before connecting";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_REQUEST_TIMEOUT));
    ASSERT_TRUE(QueryServiceStatus(service, &status));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(status.dwWin32ExitCode, static_cast<DWORD>(ERROR_PROCESS_ABORTED));
    CloseServiceHandle(service);

    service = CreateServiceW(manager, W("Missing"), nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                             SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, W("C:\\Nowhere\\svc.exe"), nullptr, nullptr,
                             nullptr, nullptr, nullptr);
    EXPECT_FALSE(StartServiceW(service, 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    CloseServiceHandle(service);

    service = CreateServiceW(manager, W("Off"), nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                             SERVICE_DISABLED, SERVICE_ERROR_NORMAL, W("/bin/true"), nullptr, nullptr, nullptr,
                             nullptr, nullptr);
    EXPECT_FALSE(StartServiceW(service, 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DISABLED));
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

TEST(ServiceLifecycle, AnImageThatNeverConnectsTimesOut)
{
    testsupport::ChildResult child =
        testsupport::runTestCases("ServiceChild.DISABLED_NeverConnects", {"PAL_TIME_SCALE=0.02"});
    EXPECT_EQ(child.status, 0) << child.out;
}

TEST(ServiceChild, DISABLED_NeverConnects)
{
    testsupport::TempRoot root;
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = CreateServiceW(manager, W("Sleeper"), nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                       SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, W("/bin/sleep 60"), nullptr,
                                       nullptr, nullptr, nullptr, nullptr);
    auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(StartServiceW(service, 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_REQUEST_TIMEOUT));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(15)) << "30 s, scaled";
    SERVICE_STATUS status{};
    EXPECT_TRUE(reaches(service, SERVICE_STOPPED, &status)) << "the process that never connected is ended";
    EXPECT_EQ(status.dwWin32ExitCode, static_cast<DWORD>(ERROR_PROCESS_ABORTED));
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

TEST(ServiceLifecycle, ARunningServiceDeletedGoesWhenItStops)
{
    testsupport::TempRoot root;
    Installed installed(root, "Doomed", "--hint 0");
    ASSERT_TRUE(StartServiceW(installed.service, 0, nullptr));
    ASSERT_TRUE(reaches(installed.service, SERVICE_RUNNING));
    EXPECT_TRUE(DeleteService(installed.service));
    EXPECT_FALSE(DeleteService(installed.service));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
    EXPECT_EQ(CreateServiceW(installed.manager, W("Doomed"), nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                             SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, W("/bin/true"), nullptr, nullptr, nullptr,
                             nullptr, nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
    SERVICE_STATUS status{};
    ASSERT_TRUE(ControlService(installed.service, SERVICE_CONTROL_STOP, &status));
    ASSERT_TRUE(logShows(root, "Doomed", "dispatcher returned\n"));
    EXPECT_EQ(OpenServiceW(installed.manager, W("Doomed"), SERVICE_QUERY_STATUS), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
}

TEST(PalSc, CreatesStartsQueriesStopsAndDeletes)
{
    testsupport::TempRoot root;
    const std::string sc = besideSelf("pal-sc");
    testsupport::ChildResult created =
        testsupport::runProgram(sc, {"create", "Tool", "binPath=", besideSelf("PalTestService") + " --hint 0"});
    EXPECT_EQ(created.status, 0) << created.out;
    EXPECT_EQ(created.out, "[SC] CreateService SUCCESS\n");

    testsupport::ChildResult started = testsupport::runProgram(sc, {"start", "Tool", "one", "--wait", "20"});
    EXPECT_EQ(started.status, 0) << started.out << started.err;
    EXPECT_NE(started.out.find("SERVICE_NAME: Tool\n"), std::string::npos) << started.out;
    EXPECT_NE(started.out.find("        STATE : 4 RUNNING\n"
                               "                (STOPPABLE, NOT_PAUSABLE, IGNORES_SHUTDOWN)\n"),
              std::string::npos)
        << started.out;
    EXPECT_TRUE(logShows(root, "Tool", "main Tool one\n"));

    testsupport::ChildResult again = testsupport::runProgram(sc, {"start", "Tool"});
    EXPECT_EQ(again.status, 1);
    EXPECT_EQ(again.out, "[SC] StartService FAILED 1056:\n\nAn instance of the service is already running.\n");

    testsupport::ChildResult queried = testsupport::runProgram(sc, {"query", "tool"});
    EXPECT_EQ(queried.status, 0);
    EXPECT_EQ(queried.out, "\nSERVICE_NAME: tool\n"
                           "        TYPE : 10 WIN32_OWN_PROCESS\n"
                           "        STATE : 4 RUNNING\n"
                           "                (STOPPABLE, NOT_PAUSABLE, IGNORES_SHUTDOWN)\n"
                           "        WIN32_EXIT_CODE : 0 (0x0)\n"
                           "        SERVICE_EXIT_CODE : 0 (0x0)\n"
                           "        CHECKPOINT : 0x0\n"
                           "        WAIT_HINT : 0x0\n");

    testsupport::ChildResult stopped = testsupport::runProgram(sc, {"stop", "Tool", "--wait", "20"});
    EXPECT_EQ(stopped.status, 0) << stopped.out << stopped.err;
    EXPECT_NE(stopped.out.find("STATE : 1 STOPPED\n"), std::string::npos) << stopped.out;
    testsupport::ChildResult deleted = testsupport::runProgram(sc, {"delete", "Tool"});
    EXPECT_EQ(deleted.status, 0);
    EXPECT_EQ(deleted.out, "[SC] DeleteService SUCCESS\n");
    testsupport::ChildResult gone = testsupport::runProgram(sc, {"query", "Tool"});
    EXPECT_EQ(gone.status, 1);
    EXPECT_NE(gone.out.find("[SC] OpenService FAILED 1060:"), std::string::npos);

    EXPECT_EQ(testsupport::runProgram(sc, {"create", "X"}).status, 2);
    EXPECT_EQ(testsupport::runProgram(sc, {"query"}).status, 2);
    EXPECT_EQ(testsupport::runProgram(sc, {"start", "X", "--wait", "soon"}).status, 2);
    EXPECT_EQ(testsupport::runProgram(sc, {"--help"}).status, 0);
}

} // namespace
