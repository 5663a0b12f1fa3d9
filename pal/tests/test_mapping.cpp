#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <windows.h>

#include "ChildProcess.h"
#include "TempRoot.h"

namespace {

constexpr DWORD kSize = 4096;

std::vector<std::string> childCase(const std::string& name)
{
    return {"--gtest_filter=MappingChild.DISABLED_" + name, "--gtest_also_run_disabled_tests"};
}

// Skips the test runner's own lines.
bool readUntil(testsupport::ChildProcess& child, const std::string& wanted)
{
    for (std::string line = child.readLine(); !line.empty(); line = child.readLine())
        if (line == wanted)
            return true;
    return false;
}

TEST(SharedMemory, ANamedSectionIsSharedAndASecondCreateFindsIt)
{
    testsupport::TempRoot root;
    SetLastError(1234);
    HANDLE created = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kSize, "Global\\PalShared");
    ASSERT_NE(created, nullptr) << GetLastError();
    EXPECT_EQ(GetLastError(), 0u);
    auto* writer = static_cast<char*>(MapViewOfFile(created, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_NE(writer, nullptr);
    EXPECT_EQ(writer[0], 0) << "zero-filled";
    EXPECT_EQ(writer[kSize - 1], 0);
    std::strcpy(writer, "C:\\HB\\");

    HANDLE again = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 2 * kSize, "Local\\PalShared");
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS)) << "Global\\ and Local\\ share one namespace";
    EXPECT_EQ(MapViewOfFile(again, FILE_MAP_READ, 0, 0, 2 * kSize), nullptr) << "the existing size holds";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    HANDLE opened = OpenFileMappingA(FILE_MAP_READ, FALSE, "PalShared");
    ASSERT_NE(opened, nullptr);
    auto* reader = static_cast<const char*>(MapViewOfFile(opened, FILE_MAP_READ, 0, 0, 0));
    ASSERT_NE(reader, nullptr);
    EXPECT_STREQ(reader, "C:\\HB\\");
    writer[1] = ';';
    EXPECT_EQ(reader[1], ';') << "two views of one section";

    EXPECT_EQ(OpenFileMappingA(FILE_MAP_READ, FALSE, "palshared"), nullptr) << "names are case-sensitive";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    EXPECT_TRUE(UnmapViewOfFile(reader));
    EXPECT_TRUE(UnmapViewOfFile(writer));
    EXPECT_FALSE(UnmapViewOfFile(writer));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ADDRESS));
    for (HANDLE handle : {created, again, opened})
        EXPECT_TRUE(CloseHandle(handle));
    EXPECT_EQ(OpenFileMappingA(FILE_MAP_READ, FALSE, "Global\\PalShared"), nullptr) << "gone with its last handle";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    HANDLE fresh = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kSize, "PalShared");
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(GetLastError(), 0u);
    auto* view = static_cast<const char*>(MapViewOfFile(fresh, FILE_MAP_READ, 0, 0, 0));
    EXPECT_EQ(view[0], 0) << "a new section, not the old bytes";
    UnmapViewOfFile(view);
    CloseHandle(fresh);
}

TEST(SharedMemory, AViewKeepsItsSectionAfterTheHandleCloses)
{
    testsupport::TempRoot root;
    HANDLE created = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kSize, W("Kept"));
    auto* view = static_cast<char*>(MapViewOfFile(created, FILE_MAP_WRITE, 0, 0, 16));
    ASSERT_NE(view, nullptr);
    view[0] = 'k';
    CloseHandle(created);
    HANDLE opened = OpenFileMappingW(FILE_MAP_READ, FALSE, W("Kept"));
    ASSERT_NE(opened, nullptr);
    auto* reader = static_cast<const char*>(MapViewOfFile(opened, FILE_MAP_READ, 0, 0, 0));
    EXPECT_EQ(reader[0], 'k');
    UnmapViewOfFile(reader);
    UnmapViewOfFile(view);
    CloseHandle(opened);
    EXPECT_EQ(OpenFileMappingW(FILE_MAP_READ, FALSE, W("Kept")), nullptr);
}

TEST(SharedMemory, BadArgumentsAndAccessGiveTheirErrors)
{
    testsupport::TempRoot root;
    EXPECT_EQ(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 0, "Empty"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << "a paging-file section needs a size";
    EXPECT_EQ(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, 0x40, 0, kSize, "Exec"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kSize, "A\\B"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(OpenFileMappingA(FILE_MAP_READ, FALSE, "Nothing"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(MapViewOfFile(reinterpret_cast<HANDLE>(0x4321), FILE_MAP_READ, 0, 0, 0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    HANDLE big = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 3 * 65536, "Big");
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(MapViewOfFile(big, FILE_MAP_READ, 0, 4096, 0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MAPPED_ALIGNMENT));
    EXPECT_EQ(MapViewOfFile(big, FILE_MAP_READ, 0, 3 * 65536, 0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    auto* tail = static_cast<char*>(MapViewOfFile(big, FILE_MAP_WRITE, 0, 2 * 65536, 0));
    ASSERT_NE(tail, nullptr);
    tail[65535] = 'e';
    auto* whole = static_cast<const char*>(MapViewOfFile(big, FILE_MAP_READ, 0, 0, 0));
    EXPECT_EQ(whole[3 * 65536 - 1], 'e') << "an offset view sees the same bytes";
    UnmapViewOfFile(whole);
    UnmapViewOfFile(tail);

    HANDLE reading = OpenFileMappingA(FILE_MAP_READ, FALSE, "Big");
    EXPECT_EQ(MapViewOfFile(reading, FILE_MAP_WRITE, 0, 0, 0), nullptr) << "a handle opened for reading";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    CloseHandle(reading);
    CloseHandle(big);

    HANDLE unnamed = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READONLY, 0, kSize, nullptr);
    ASSERT_NE(unnamed, nullptr);
    EXPECT_EQ(MapViewOfFile(unnamed, FILE_MAP_WRITE, 0, 0, 0), nullptr) << "a read-only section";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    void* view = MapViewOfFile(unnamed, FILE_MAP_READ, 0, 0, 0);
    EXPECT_NE(view, nullptr);
    UnmapViewOfFile(view);
    CloseHandle(unnamed);
}

TEST(SharedMemory, ConcurrentCreatesMakeOneSection)
{
    testsupport::TempRoot root;
    constexpr int kThreads = 8;
    std::atomic<int> fresh{0};
    std::atomic<int> found{0};
    std::vector<HANDLE> handles(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&, i] {
            handles[i] = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kSize, "Race");
            (GetLastError() == ERROR_ALREADY_EXISTS ? found : fresh)++;
            auto* view = static_cast<std::atomic<int>*>(MapViewOfFile(handles[i], FILE_MAP_WRITE, 0, 0, 0));
            view->fetch_add(1);
            UnmapViewOfFile(view);
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(fresh.load(), 1);
    EXPECT_EQ(found.load(), kThreads - 1);
    auto* view = static_cast<std::atomic<int>*>(MapViewOfFile(handles[0], FILE_MAP_READ, 0, 0, 0));
    EXPECT_EQ(view->load(), kThreads) << "no creator wiped another's writes";
    UnmapViewOfFile(view);
    for (HANDLE handle : handles)
        CloseHandle(handle);
}

TEST(SharedMemory, AnotherProcessReadsAndWritesTheSection)
{
    testsupport::TempRoot root;
    HANDLE section = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kSize, "Global\\Across");
    auto* view = static_cast<char*>(MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, 0));
    ASSERT_NE(view, nullptr);
    std::strcpy(view, "from parent");
    testsupport::ChildResult child = testsupport::runTestCases("MappingChild.DISABLED_AnswersInTheSection");
    EXPECT_EQ(child.status, 0) << child.out;
    EXPECT_STREQ(view + 64, "from child");
    UnmapViewOfFile(view);
    CloseHandle(section);
}

TEST(MappingChild, DISABLED_AnswersInTheSection)
{
    HANDLE section = OpenFileMappingA(FILE_MAP_WRITE, FALSE, "Local\\Across");
    ASSERT_NE(section, nullptr);
    auto* view = static_cast<char*>(MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, 0));
    ASSERT_NE(view, nullptr);
    EXPECT_STREQ(view, "from parent");
    std::strcpy(view + 64, "from child");
    UnmapViewOfFile(view);
    CloseHandle(section);
}

TEST(SharedMemory, ASectionOfAKilledProcessIsGone)
{
    testsupport::TempRoot root;
    testsupport::ChildProcess child(testsupport::selfPath(), childCase("HoldsTheSection"));
    ASSERT_TRUE(readUntil(child, "holding"));
    HANDLE held = OpenFileMappingA(FILE_MAP_READ, FALSE, "Global\\Held");
    ASSERT_NE(held, nullptr) << "alive while its creator holds it";
    CloseHandle(held);
    child.kill();
    EXPECT_EQ(child.wait(), -1);
    EXPECT_EQ(OpenFileMappingA(FILE_MAP_READ, FALSE, "Global\\Held"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    HANDLE created = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kSize, "Global\\Held");
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(GetLastError(), 0u) << "the name is free again";
    auto* view = static_cast<const char*>(MapViewOfFile(created, FILE_MAP_READ, 0, 0, 0));
    EXPECT_EQ(view[0], 0);
    UnmapViewOfFile(view);
    CloseHandle(created);
}

TEST(MappingChild, DISABLED_HoldsTheSection)
{
    HANDLE section = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kSize, "Held");
    ASSERT_NE(section, nullptr);
    static_cast<char*>(MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, 0))[0] = 'x';
    std::printf("holding\n");
    std::fflush(stdout);
    char line[8];
    while (std::fgets(line, sizeof line, stdin)) {
    }
}

} // namespace
