// The RAW retry rule, case by case, with the sleeps it takes.
#include <cstring>

#include <gtest/gtest.h>

#include "TempRoot.h"
#include "monitor_harness.h"
#include "spooler_double.h"

using namespace montest;

namespace {

constexpr DWORD kJob = 7;

struct RetryCase {
    const char* what;
    bool socket;
    int error;
    DWORD counter;
    DWORD retryCount;
    DWORD retryInfinity;
    DWORD retryInterval;
    DWORD jobStatus;
    int result;
    DWORD counterAfter;
    std::vector<DWORD> sleeps;
};

TEST(MonRetryRule, DecidesAndSleepsAsTheTableSays)
{
    const DWORD WOULDBLOCK = WSAEWOULDBLOCK;
    const DWORD RESET = WSAECONNRESET;
    const std::vector<RetryCase> cases = {
        {"a partial send goes on at once", true, 0, 2, 5, 1, 5, 0, 1, 2, {}},
        {"would-block is a short pause", true, (int)WOULDBLOCK, 2, 5, 1, 5, 0, 1, 2, {30}},
        {"first real error", true, (int)RESET, 0, 5, 1, 5, 0, 1, 1, {5000}},
        {"last counted real error", true, (int)RESET, 4, 5, 1, 5, 0, 1, 5, {5000}},
        {"counter wraps with RetryInfinity", true, (int)RESET, 5, 5, 1, 5, 0, 1, 0, {5000}},
        {"retries over without RetryInfinity", true, (int)RESET, 5, 5, 0, 5, 0, 5, 5, {}},
        {"RetryCount 0 ends at the first error", true, (int)RESET, 0, 0, 0, 5, 0, 5, 0, {}},
        {"RetryCount 0 with RetryInfinity never spins", true, (int)RESET, 0, 0, 1, 5, 0, 1, 0, {30}},
        {"RetryInterval 0 never spins", true, (int)RESET, 0, 5, 1, 0, 0, 1, 1, {30}},
        {"a missing socket is a real error", false, 0, 0, 5, 1, 2, 0, 1, 1, {2000}},
        {"deleting job ends the loop", true, (int)RESET, 0, 5, 1, 5, JOB_STATUS_DELETING, 0, 1, {5000}},
        {"paused job ends the loop", true, 0, 0, 5, 1, 5, JOB_STATUS_PAUSED, 6, 0, {}},
        {"deleting wins over paused", true, 0, 0, 5, 1, 5, JOB_STATUS_DELETING | JOB_STATUS_PAUSED, 0, 0, {}},
    };
    testsupport::TempRoot root;
    SpoolerDouble spooler;
    spooler.setSleepDivisor(0);
    spooler.addPrinter(u"PRN");
    HANDLE printer = nullptr;
    ASSERT_TRUE(g_MonSys.pfnOpenPrinterW((LPWSTR)u"PRN", &printer, nullptr));
    PortEntry port;
    std::memset(&port, 0, sizeof(port));
    port.hPrinter = printer;
    port.dwJobId = kJob;
    for (const RetryCase& c : cases) {
        SCOPED_TRACE(c.what);
        spooler.setJob(kJob, {c.jobStatus, 1, u"doc"});
        spooler.clearSleeps();
        port.hSocket = c.socket ? (SOCKET)42 : INVALID_SOCKET;
        // Without a socket event to wait on, a blocked send sleeps the shortest pause.
        port.SockEvent = WSA_INVALID_EVENT;
        port.bSendBlocked = c.error == (int)WOULDBLOCK;
        port.dwRetryCount = c.retryCount;
        port.dwRetryInfinity = c.retryInfinity;
        port.dwRetryInterval = c.retryInterval;
        DWORD counter = c.counter;
        EXPECT_EQ(OnOccurError(&counter, c.error, &port), c.result);
        EXPECT_EQ(counter, c.counterAfter);
        EXPECT_EQ(spooler.sleeps(), c.sleeps);
    }
    g_MonSys.pfnClosePrinter(printer);
}

TEST(MonRetryRule, BlockedSendWaitsForTheSocketEvent)
{
    testsupport::TempRoot root;
    SpoolerDouble spooler;
    spooler.addPrinter(u"PRN");
    spooler.setJob(kJob, {0, 1, u"doc"});
    HANDLE printer = nullptr;
    ASSERT_TRUE(g_MonSys.pfnOpenPrinterW((LPWSTR)u"PRN", &printer, nullptr));
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    PortEntry port;
    std::memset(&port, 0, sizeof(port));
    port.hPrinter = printer;
    port.dwJobId = kJob;
    port.hSocket = (SOCKET)42;
    port.bSendBlocked = TRUE;
    port.SockEvent = WSACreateEvent();
    ASSERT_TRUE(WSASetEvent(port.SockEvent));
    DWORD counter = 0;
    EXPECT_EQ(OnOccurError(&counter, WSAEWOULDBLOCK, &port), 1);
    EXPECT_TRUE(spooler.sleeps().empty());
    WSACloseEvent(port.SockEvent);
    WSACleanup();
    g_MonSys.pfnClosePrinter(printer);
}

} // namespace
