#include <gtest/gtest.h>

#include <errno.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <windows.h>

#include "ChildProcess.h"
#include "Gate.h"

namespace {

using testsupport::Gate;
constexpr DWORD kBoundedWait = testsupport::kBoundedWaitMs;

DWORD WINAPI waitForGateThenReturn42(LPVOID parameter)
{
    return static_cast<Gate*>(parameter)->waitOpen() ? 42 : 1;
}

TEST(Threads, HandleIsSignalledWhenTheThreadEndsAndGivesItsExitCode)
{
    Gate gate;
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, waitForGateThenReturn42, &gate, 0, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(id, 0u);
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_TIMEOUT);

    gate.open();
    EXPECT_EQ(WaitForSingleObject(thread, kBoundedWait), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0) << "an ended thread stays signalled";
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 42u);
    EXPECT_TRUE(CloseHandle(thread));
}

struct BeginThreadCheck {
    unsigned idFromCreator = 0;
    std::atomic<unsigned> idSeenInside{0};
    std::atomic<unsigned> idFromCreatorSeenInside{0};
};

unsigned __stdcall recordIds(void* parameter)
{
    auto* check = static_cast<BeginThreadCheck*>(parameter);
    check->idSeenInside = GetCurrentThreadId();
    check->idFromCreatorSeenInside = check->idFromCreator;
    return 7;
}

TEST(Threads, BeginThreadExGivesAHandleAndAnIdTheNewThreadCanAlreadyRead)
{
    BeginThreadCheck check;
    uintptr_t handle = _beginthreadex(nullptr, 0, recordIds, &check, 0, &check.idFromCreator);
    ASSERT_NE(handle, 0u);
    HANDLE thread = reinterpret_cast<HANDLE>(handle);
    ASSERT_EQ(WaitForSingleObject(thread, kBoundedWait), WAIT_OBJECT_0);
    EXPECT_EQ(check.idSeenInside.load(), check.idFromCreator);
    EXPECT_EQ(check.idFromCreatorSeenInside.load(), check.idFromCreator) << "id stored before the thread ran";
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 7u);
    CloseHandle(thread);
}

std::atomic<bool> g_codeAfterExitRan{false};

void endFromDeepInside(unsigned code)
{
    _endthreadex(code);
}

unsigned __stdcall endThreadEx(void* parameter)
{
    endFromDeepInside(*static_cast<unsigned*>(parameter));
    g_codeAfterExitRan = true;
    return 0;
}

DWORD WINAPI exitThread(LPVOID)
{
    ExitThread(0xDEADBEEF);
}

TEST(Threads, EndThreadExAndExitThreadEndTheThreadWithTheirCode)
{
    unsigned code = 1234;
    HANDLE ended = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, endThreadEx, &code, 0, nullptr));
    HANDLE exited = CreateThread(nullptr, 0, exitThread, nullptr, 0, nullptr);
    ASSERT_NE(ended, nullptr);
    ASSERT_NE(exited, nullptr);
    HANDLE both[] = {ended, exited};
    ASSERT_EQ(WaitForMultipleObjects(2, both, TRUE, kBoundedWait), WAIT_OBJECT_0);
    DWORD exitCode = 0;
    GetExitCodeThread(ended, &exitCode);
    EXPECT_EQ(exitCode, 1234u);
    GetExitCodeThread(exited, &exitCode);
    EXPECT_EQ(exitCode, 0xDEADBEEFu);
    EXPECT_FALSE(g_codeAfterExitRan.load());
    CloseHandle(ended);
    CloseHandle(exited);
}

struct DetachCheck {
    Gate release;
    Gate finished;
};

DWORD WINAPI finishAfterRelease(LPVOID parameter)
{
    auto* check = static_cast<DetachCheck*>(parameter);
    if (check->release.waitOpen())
        check->finished.open();
    return 0;
}

TEST(Threads, ClosingTheHandleOfARunningThreadLeavesItRunning)
{
    DetachCheck check;
    HANDLE thread = CreateThread(nullptr, 0, finishAfterRelease, &check, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_TRUE(CloseHandle(thread));
    DWORD code = 0;
    EXPECT_FALSE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    check.release.open();
    EXPECT_TRUE(check.finished.waitOpen());
}

DWORD WINAPI recordOwnId(LPVOID parameter)
{
    *static_cast<DWORD*>(parameter) = GetCurrentThreadId();
    return GetCurrentThreadId() == *static_cast<DWORD*>(parameter) ? 0 : 1;
}

TEST(Threads, IdsAreUniqueNonZeroAndStableAcrossPlatformAndOtherThreads)
{
    constexpr int kEach = 16;
    std::vector<DWORD> ids(2 * kEach + 1, 0);
    std::vector<HANDLE> handles;
    for (int i = 0; i < kEach; ++i) {
        DWORD createdId = 0;
        handles.push_back(CreateThread(nullptr, 0, recordOwnId, &ids[i], 0, &createdId));
        ASSERT_NE(handles.back(), nullptr);
    }
    std::vector<std::thread> others;
    for (int i = kEach; i < 2 * kEach; ++i)
        others.emplace_back([&ids, i] { recordOwnId(&ids[i]); });
    ids[2 * kEach] = GetCurrentThreadId();
    ASSERT_EQ(WaitForMultipleObjects(kEach, handles.data(), TRUE, kBoundedWait), WAIT_OBJECT_0);
    for (auto& other : others)
        other.join();
    for (HANDLE handle : handles) {
        DWORD code = 1;
        GetExitCodeThread(handle, &code);
        EXPECT_EQ(code, 0u) << "GetCurrentThreadId is stable within a thread";
        CloseHandle(handle);
    }
    std::set<DWORD> distinct(ids.begin(), ids.end());
    EXPECT_EQ(distinct.size(), ids.size());
    EXPECT_EQ(distinct.count(0u), 0u);
    EXPECT_EQ(GetCurrentThreadId(), ids[2 * kEach]);
}

DWORD WINAPI touchLargeStack(LPVOID)
{
    volatile char buffer[12 << 20]; // more than the default 8 MB
    for (size_t i = 0; i < sizeof(buffer); i += 4096)
        buffer[i] = 1;
    return buffer[4096];
}

TEST(Threads, ALargerStackThanTheDefaultIsHonoured)
{
    HANDLE thread = CreateThread(nullptr, 64 << 20, touchLargeStack, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION,
                                 nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, kBoundedWait), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    EXPECT_EQ(code, 1u);
    CloseHandle(thread);
}

TEST(Threads, BadArgumentsFailTheWindowsWay)
{
    const DWORD createSuspended = 0x4;
    SetLastError(0);
    EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(CreateThread(nullptr, 0, recordOwnId, nullptr, createSuspended, nullptr), nullptr)
        << "a thread that could never be resumed is refused";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    errno = 0;
    EXPECT_EQ(_beginthreadex(nullptr, 0, nullptr, nullptr, 0, nullptr), 0u);
    EXPECT_EQ(errno, EINVAL);

    DWORD code = 0;
    EXPECT_FALSE(GetExitCodeThread(reinterpret_cast<HANDLE>(0x7777), &code));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_FALSE(GetExitCodeThread(event, &code)) << "an event is not a thread";
    CloseHandle(event);
    EXPECT_TRUE(GetExitCodeThread(GetCurrentThread(), &code));
    EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
    EXPECT_EQ(GetCurrentProcessId(), static_cast<DWORD>(getpid()));
}

TEST(Threads, AProcessEndsWhileItsThreadsStillWait)
{
    const testsupport::ChildResult child = testsupport::runTestCases("ThreadsChild.*");
    EXPECT_EQ(child.status, 0) << child.out;
    EXPECT_NE(child.out.find("[  PASSED  ] 1 test"), std::string::npos) << child.out;
}

DWORD WINAPI waitForMessagesForever(LPVOID parameter)
{
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    static_cast<Gate*>(parameter)->open();
    GetMessageW(&msg, nullptr, 0, 0);
    return 0;
}

// Run only by the case above: the process ends with one thread in GetMessage and one in an
// endless wait, as the service does at shutdown.
TEST(ThreadsChild, DISABLED_EndWithThreadsBlocked)
{
    static Gate inGetMessage;
    static HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, waitForMessagesForever, &inGetMessage, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    CloseHandle(thread);
    std::thread([] { WaitForSingleObject(never, INFINITE); }).detach();
    EXPECT_TRUE(inGetMessage.waitOpen());
}

// ---- Critical sections

struct SectionProbe {
    CRITICAL_SECTION* section;
    std::atomic<bool> entered{false};
};

DWORD WINAPI tryEnterOnce(LPVOID parameter)
{
    auto* probe = static_cast<SectionProbe*>(parameter);
    if (!TryEnterCriticalSection(probe->section))
        return 0;
    probe->entered = true;
    LeaveCriticalSection(probe->section);
    return 1;
}

// Runs TryEnterCriticalSection on another thread; TRUE when it got in.
DWORD tryEnterFromAnotherThread(CRITICAL_SECTION* section)
{
    SectionProbe probe{section};
    HANDLE thread = CreateThread(nullptr, 0, tryEnterOnce, &probe, 0, nullptr);
    WaitForSingleObject(thread, kBoundedWait);
    DWORD code = 2;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    return code;
}

TEST(CriticalSections, AreRecursiveAndExcludeOtherThreadsUntilFullyLeft)
{
    CRITICAL_SECTION section;
    ASSERT_TRUE(InitializeCriticalSectionAndSpinCount(&section, 0x80000000));
    EnterCriticalSection(&section);
    EXPECT_TRUE(TryEnterCriticalSection(&section)) << "the owner enters again";
    EnterCriticalSection(&section);
    EXPECT_EQ(tryEnterFromAnotherThread(&section), 0u);
    LeaveCriticalSection(&section);
    LeaveCriticalSection(&section);
    EXPECT_EQ(tryEnterFromAnotherThread(&section), 0u) << "still owned after two of three leaves";
    LeaveCriticalSection(&section);
    EXPECT_EQ(tryEnterFromAnotherThread(&section), 1u);
    DeleteCriticalSection(&section);
}

struct Counter {
    CRITICAL_SECTION section;
    long long value = 0; // guarded by section only
};

DWORD WINAPI countUnderSection(LPVOID parameter)
{
    auto* counter = static_cast<Counter*>(parameter);
    for (int i = 0; i < 20000; ++i) {
        EnterCriticalSection(&counter->section);
        EnterCriticalSection(&counter->section);
        ++counter->value;
        LeaveCriticalSection(&counter->section);
        LeaveCriticalSection(&counter->section);
    }
    return 0;
}

TEST(CriticalSections, GuardSharedDataAcrossThreads)
{
    auto counter = std::make_unique<Counter>();
    InitializeCriticalSection(&counter->section);
    HANDLE threads[4];
    for (auto& thread : threads)
        thread = CreateThread(nullptr, 0, countUnderSection, counter.get(), 0, nullptr);
    ASSERT_EQ(WaitForMultipleObjects(4, threads, TRUE, 60000), WAIT_OBJECT_0);
    EXPECT_EQ(counter->value, 4 * 20000);
    for (auto thread : threads)
        CloseHandle(thread);
    DeleteCriticalSection(&counter->section);
}

TEST(Interlocked, ReturnTheWindowsValues)
{
    volatile LONG value = 5;
    EXPECT_EQ(InterlockedIncrement(&value), 6);
    EXPECT_EQ(InterlockedDecrement(&value), 5);
    EXPECT_EQ(InterlockedExchange(&value, 9), 5);
    EXPECT_EQ(InterlockedCompareExchange(&value, 1, 8), 9) << "no exchange: the current value";
    EXPECT_EQ(value, 9);
    EXPECT_EQ(InterlockedCompareExchange(&value, 1, 9), 9);
    EXPECT_EQ(value, 1);
    EXPECT_EQ(InterlockedExchangeAdd(&value, -3), 1);
    EXPECT_EQ(value, -2);
    volatile LONG wrap = 0x7FFFFFFF;
    EXPECT_EQ(InterlockedIncrement(&wrap), static_cast<LONG>(0x80000000u));
    volatile LONGLONG wide = 0xFFFFFFFFLL;
    EXPECT_EQ(InterlockedIncrement64(&wide), 0x100000000LL);
    int a = 0, b = 0;
    PVOID volatile pointer = &a;
    EXPECT_EQ(InterlockedCompareExchangePointer(&pointer, &b, &a), &a);
    EXPECT_EQ(InterlockedExchangePointer(&pointer, nullptr), &b);
}

TEST(Interlocked, CountWithoutLossAcrossThreads)
{
    volatile LONG count = 0;
    volatile LONGLONG wide = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 50000; ++i) {
                InterlockedIncrement(&count);
                InterlockedIncrement64(&wide);
                InterlockedExchangeAdd(&count, 2);
                InterlockedDecrement(&count);
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(count, 4 * 50000 * 2);
    EXPECT_EQ(wide, 4 * 50000);
}

} // namespace
