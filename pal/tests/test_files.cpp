#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include <windows.h>

#include "ChildProcess.h"
#include "TempRoot.h"
#include "TestFiles.h"
#include "fixtures/trace_lines.h"

namespace {

namespace fs = std::filesystem;
using testsupport::readText;
using testsupport::writeText;

HANDLE open(const WCHAR* path, DWORD access, DWORD share, DWORD disposition = OPEN_ALWAYS, DWORD flags = 0)
{
    return CreateFileW(path, access, share, nullptr, disposition, flags | FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string hex(DWORD value)
{
    char text[16];
    snprintf(text, sizeof text, "0x%x", value);
    return text;
}

// ---- Creation dispositions

struct DispositionCase {
    DWORD disposition;
    bool exists;
    bool opens;
    DWORD lastError;
    const char* contentAfter; // nullptr: no file
};

TEST(Opening, CreationDispositionMatrix)
{
    const DispositionCase cases[] = {
        {CREATE_NEW, false, true, ERROR_SUCCESS, ""},
        {CREATE_NEW, true, false, ERROR_FILE_EXISTS, "old"},
        {CREATE_ALWAYS, false, true, ERROR_SUCCESS, ""},
        {CREATE_ALWAYS, true, true, ERROR_ALREADY_EXISTS, ""},
        {OPEN_EXISTING, false, false, ERROR_FILE_NOT_FOUND, nullptr},
        {OPEN_EXISTING, true, true, ERROR_SUCCESS, "old"},
        {OPEN_ALWAYS, false, true, ERROR_SUCCESS, ""},
        {OPEN_ALWAYS, true, true, ERROR_ALREADY_EXISTS, "old"},
        {TRUNCATE_EXISTING, false, false, ERROR_FILE_NOT_FOUND, nullptr},
        {TRUNCATE_EXISTING, true, true, ERROR_SUCCESS, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("disposition " + std::to_string(c.disposition) + (c.exists ? " existing" : " new"));
        testsupport::TempRoot root;
        fs::create_directories(root.file("drive_c"));
        if (c.exists)
            writeText(root.file("drive_c/f.txt"), "old");
        SetLastError(12345);
        HANDLE file = open(W("C:\\f.txt"), GENERIC_READ | GENERIC_WRITE, 0, c.disposition);
        EXPECT_EQ(file != INVALID_HANDLE_VALUE, c.opens);
        EXPECT_EQ(GetLastError(), c.lastError);
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        EXPECT_EQ(fs::exists(root.file("drive_c/f.txt")), c.contentAfter != nullptr);
        if (c.contentAfter) {
            EXPECT_EQ(readText(root.file("drive_c/f.txt")), c.contentAfter);
        }
    }
}

TEST(Opening, RefusesBadArgumentsFoldersAndReadOnlyFiles)
{
    testsupport::TempRoot root;
    fs::create_directories(root.file("drive_c/Folder"));
    writeText(root.file("drive_c/ro.txt"), "keep");
    chmod(root.file("drive_c/ro.txt").c_str(), 0444);

    EXPECT_EQ(open(W("C:\\ro.txt"), GENERIC_READ, 0, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER)) << "TRUNCATE_EXISTING needs write access";
    EXPECT_EQ(open(W("C:\\ro.txt"), GENERIC_READ, 0, 0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(CreateFileW(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);

    EXPECT_EQ(open(W("C:\\ro.txt"), GENERIC_WRITE, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << "read-only, whoever runs the test";
    EXPECT_EQ(open(W("C:\\ro.txt"), GENERIC_READ, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(readText(root.file("drive_c/ro.txt")), "keep");
    HANDLE reader = open(W("C:\\ro.txt"), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    CloseHandle(reader);

    EXPECT_EQ(open(W("C:\\Folder"), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    HANDLE folder = open(W("C:\\Folder"), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    EXPECT_NE(folder, INVALID_HANDLE_VALUE) << "folders open with backup semantics";
    CloseHandle(folder);

    EXPECT_EQ(open(W("\\\\.\\nodevice"), GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(Opening, ReadOnlyAttributeAndDeleteOnClose)
{
    testsupport::TempRoot root;
    fs::create_directories(root.file("drive_c"));
    HANDLE file = open(W("C:\\made-ro.txt"), GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_READONLY);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, "x", 1, &written, nullptr)) << "the creating handle may still write";
    CloseHandle(file);
    EXPECT_EQ(GetFileAttributesW(W("C:\\made-ro.txt")), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);

    file = open(W("C:\\temp.txt"), GENERIC_WRITE, 0, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(fs::exists(root.file("drive_c/temp.txt")));
    CloseHandle(file);
    EXPECT_FALSE(fs::exists(root.file("drive_c/temp.txt")));
}

// ---- Reading, writing, the file pointer

TEST(FileIo, ReadWriteSeekAndEndOfFile)
{
    testsupport::TempRoot root;
    fs::create_directories(root.file("drive_c"));
    HANDLE file = open(W("C:\\io.bin"), GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD done = 99;
    ASSERT_TRUE(WriteFile(file, "hello world", 11, &done, nullptr));
    EXPECT_EQ(done, 11u);
    EXPECT_EQ(SetFilePointer(file, 6, nullptr, FILE_BEGIN), 6u);
    char text[16] = {};
    ASSERT_TRUE(ReadFile(file, text, 10, &done, nullptr));
    EXPECT_EQ(done, 5u);
    EXPECT_STREQ(text, "world");
    done = 99;
    EXPECT_TRUE(ReadFile(file, text, 10, &done, nullptr)) << "at the end a read succeeds";
    EXPECT_EQ(done, 0u);

    EXPECT_EQ(SetFilePointer(file, -5, nullptr, FILE_END), 6u);
    EXPECT_EQ(SetFilePointer(file, -2, nullptr, FILE_CURRENT), 4u);
    EXPECT_EQ(SetFilePointer(file, -5, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
    EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), 4u) << "a failed move leaves the pointer";
    EXPECT_EQ(SetFilePointer(file, 0, nullptr, 7), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    EXPECT_TRUE(SetEndOfFile(file));
    DWORD high = 7;
    EXPECT_EQ(GetFileSize(file, &high), 4u);
    EXPECT_EQ(high, 0u);
    EXPECT_TRUE(WriteFile(file, "", 0, &done, nullptr));
    EXPECT_TRUE(FlushFileBuffers(file));
    CloseHandle(file);
    EXPECT_EQ(readText(root.file("drive_c/io.bin")), "hell");
}

TEST(FileIo, PositionsBeyondFourGigabytesUseTheHighPart)
{
    testsupport::TempRoot root;
    fs::create_directories(root.file("drive_c"));
    HANDLE file = open(W("C:\\big.bin"), GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    LONG high = 1;
    EXPECT_EQ(SetFilePointer(file, 0x10, &high, FILE_BEGIN), 0x10u);
    EXPECT_EQ(high, 1);
    EXPECT_TRUE(SetEndOfFile(file)) << "a sparse file of 4 GiB + 16 bytes";
    DWORD sizeHigh = 0;
    EXPECT_EQ(GetFileSize(file, &sizeHigh), 0x10u);
    EXPECT_EQ(sizeHigh, 1u);
    LARGE_INTEGER size;
    EXPECT_TRUE(GetFileSizeEx(file, &size));
    EXPECT_EQ(size.QuadPart, 0x100000010ll);

    EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER)
        << "without a high part the position must fit 32 bits";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    high = 0;
    SetLastError(5);
    EXPECT_EQ(SetFilePointer(file, -1, &high, FILE_BEGIN), 0xFFFFFFFFu);
    EXPECT_EQ(GetLastError(), 0u) << "a low part of 0xFFFFFFFF that is no failure clears the last error";
    LARGE_INTEGER distance, position;
    distance.QuadPart = -0x10;
    EXPECT_TRUE(SetFilePointerEx(file, distance, &position, FILE_END));
    EXPECT_EQ(position.QuadPart, 0x100000000ll);
    CloseHandle(file);
}

TEST(FileIo, HandlesEnforceTheirAccessAndOverlappedOffsets)
{
    testsupport::TempRoot root;
    fs::create_directories(root.file("drive_c"));
    writeText(root.file("drive_c/a.txt"), "0123456789");
    HANDLE reader = open(W("C:\\a.txt"), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    HANDLE writer = open(W("C:\\a.txt"), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    DWORD done = 0;
    char text[8] = {};
    EXPECT_FALSE(WriteFile(reader, "x", 1, &done, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(ReadFile(writer, text, 1, &done, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(SetEndOfFile(reader));

    OVERLAPPED overlapped = {};
    overlapped.Offset = 3;
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_TRUE(WriteFile(writer, "abc", 3, &done, &overlapped));
    EXPECT_EQ(WaitForSingleObject(overlapped.hEvent, 0), WAIT_OBJECT_0);
    EXPECT_EQ(overlapped.InternalHigh, 3u);
    overlapped.Offset = 2;
    ResetEvent(overlapped.hEvent);
    EXPECT_TRUE(ReadFile(reader, text, 4, &done, &overlapped));
    EXPECT_EQ(std::string(text, done), "2abc");
    overlapped.Offset = 10;
    EXPECT_FALSE(ReadFile(reader, text, 4, &done, &overlapped));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HANDLE_EOF)) << "an overlapped read at the end";
    CloseHandle(overlapped.hEvent);

    EXPECT_FALSE(ReadFile(reinterpret_cast<HANDLE>(0x7777), text, 1, &done, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(GetFileSize(reinterpret_cast<HANDLE>(0x7777), nullptr), INVALID_FILE_SIZE);
    CloseHandle(reader);
    CloseHandle(writer);
}

TEST(FileIo, AppendHandlesAndHandlesMovedToTheEndWriteAtTheCurrentEnd)
{
    testsupport::TempRoot root;
    fs::create_directories(root.file("drive_c"));
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    HANDLE appender = open(W("C:\\log.txt"), FILE_APPEND_DATA, share);
    HANDLE positioned = open(W("C:\\log.txt"), GENERIC_WRITE, share);
    HANDLE plain = open(W("C:\\log.txt"), GENERIC_WRITE, share);
    DWORD done = 0;
    SetFilePointer(positioned, 0, nullptr, FILE_END);
    WriteFile(appender, "one\n", 4, &done, nullptr);
    WriteFile(positioned, "two\n", 4, &done, nullptr);
    WriteFile(appender, "three\n", 6, &done, nullptr);
    WriteFile(positioned, "four\n", 5, &done, nullptr);
    SetFilePointer(positioned, 0, nullptr, FILE_BEGIN);
    WriteFile(positioned, "ONE", 3, &done, nullptr);
    WriteFile(plain, "0", 1, &done, nullptr);
    CloseHandle(appender);
    CloseHandle(positioned);
    CloseHandle(plain);
    EXPECT_EQ(readText(root.file("drive_c/log.txt")), "0NE\ntwo\nthree\nfour\n")
        << "moving the pointer away ends appending; a plain handle writes where its pointer is";
}

// ---- Share modes

struct ShareCase {
    DWORD firstAccess, firstShare, secondAccess, secondShare;
    bool secondOpens;
};

TEST(ShareModes, MatrixBetweenTwoOpensInOneProcess)
{
    const DWORD R = GENERIC_READ, Wr = GENERIC_WRITE, SR = FILE_SHARE_READ, SW = FILE_SHARE_WRITE,
                SD = FILE_SHARE_DELETE;
    const ShareCase cases[] = {
        {R, SR, R, SR, true},
        {R, SR, Wr, SR | SW, false},     // the first does not share writing
        {Wr, SR | SW, R, SR, false},     // the second does not share writing, the first writes
        {Wr, SW, Wr, SW, true},          // two log writers
        {FILE_APPEND_DATA, SW, FILE_APPEND_DATA, SW, true},
        {FILE_APPEND_DATA, SW, R, SR | SW, false},
        {R, 0, FILE_READ_ATTRIBUTES, 0, true}, // no data access: no conflict
        {R | Wr, SR | SW | SD, DELETE, SR | SW | SD, true},
        {R, SR | SW, DELETE, SR | SW | SD, false},
        {R, 0, R, SR | SW | SD, false},
    };
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE("case " + std::to_string(index++));
        testsupport::TempRoot root;
        fs::create_directories(root.file("drive_c"));
        HANDLE first = open(W("C:\\shared.txt"), c.firstAccess, c.firstShare);
        ASSERT_NE(first, INVALID_HANDLE_VALUE);
        HANDLE second = open(W("C:\\shared.txt"), c.secondAccess, c.secondShare);
        EXPECT_EQ(second != INVALID_HANDLE_VALUE, c.secondOpens);
        if (second == INVALID_HANDLE_VALUE) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        } else {
            CloseHandle(second);
        }
        CloseHandle(first);
        HANDLE again = open(W("C:\\shared.txt"), c.secondAccess, c.secondShare);
        EXPECT_NE(again, INVALID_HANDLE_VALUE) << "closing the first open ends the conflict";
        CloseHandle(again);
    }
}

TEST(ShareModes, ConflictingCreateAlwaysDeleteAndMoveLeaveTheFileAlone)
{
    testsupport::TempRoot root;
    fs::create_directories(root.file("drive_c"));
    writeText(root.file("drive_c/held.txt"), "content");
    HANDLE holder = open(W("C:\\held.txt"), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);

    EXPECT_EQ(open(W("C:\\HELD.TXT"), GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(DeleteFileW(W("C:\\held.txt")));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(MoveFileExW(W("C:\\held.txt"), W("C:\\moved.txt"), 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(readText(root.file("drive_c/held.txt")), "content") << "a refused CREATE_ALWAYS truncates nothing";
    CloseHandle(holder);

    HANDLE deletable = open(W("C:\\held.txt"), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING);
    EXPECT_TRUE(DeleteFileW(W("C:\\held.txt"))) << "FILE_SHARE_DELETE lets it go";
    CloseHandle(deletable);
    EXPECT_FALSE(fs::exists(root.file("drive_c/held.txt")));
    EXPECT_TRUE(fs::is_empty(root.file("run/files"))) << "no share record outlives its opens";
}

TEST(ShareModes, AreEnforcedAcrossProcessesAndEndWithTheHolder)
{
    testsupport::TempRoot root;
    fs::create_directories(root.file("drive_c/Logs"));
    const std::string child = testsupport::besideSelf("pal_file_child");
    testsupport::ChildProcess holder(child, {"hold", "C:\\logs\\trace.log", hex(GENERIC_WRITE), hex(FILE_SHARE_WRITE),
                                          std::to_string(OPEN_ALWAYS)});
    ASSERT_TRUE(holder.started());
    ASSERT_EQ(holder.readLine(), "opened");

    HANDLE reader = open(W("C:\\Logs\\trace.log"), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
    EXPECT_EQ(reader, INVALID_HANDLE_VALUE) << "the other process denies reading";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    HANDLE writer = open(W("C:\\Logs\\trace.log"), GENERIC_WRITE, FILE_SHARE_WRITE);
    EXPECT_NE(writer, INVALID_HANDLE_VALUE) << "a second log writer shares";

    testsupport::ChildProcess refused(child, {"hold", "C:\\Logs\\trace.log", hex(GENERIC_READ | GENERIC_WRITE),
                                           hex(FILE_SHARE_READ | FILE_SHARE_WRITE), std::to_string(OPEN_EXISTING)});
    EXPECT_EQ(refused.readLine(), "failed 32");
    refused.closeInput();
    EXPECT_EQ(refused.wait(), 0);

    holder.closeInput();
    EXPECT_EQ(holder.wait(), 0);
    CloseHandle(writer);
    reader = open(W("C:\\Logs\\trace.log"), GENERIC_READ, FILE_SHARE_READ);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    CloseHandle(reader);
}

TEST(ShareModes, AKilledHolderLeavesNoStaleRecord)
{
    testsupport::TempRoot root;
    fs::create_directories(root.file("drive_c"));
    testsupport::ChildProcess holder(testsupport::besideSelf("pal_file_child"),
                                  {"hold", "C:\\locked.dat", hex(GENERIC_READ), "0", std::to_string(OPEN_ALWAYS)});
    ASSERT_EQ(holder.readLine(), "opened");
    EXPECT_EQ(open(W("C:\\locked.dat"), GENERIC_READ, FILE_SHARE_READ), INVALID_HANDLE_VALUE);
    holder.kill();
    holder.wait();
    HANDLE file = open(W("C:\\locked.dat"), GENERIC_READ, 0);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
}

// ---- Concurrent appends

// Every line "TAG NNNNNN ....\r\n" must be whole, and each writer's lines all there.
void expectWholeLines(const std::string& text, const std::map<std::string, int>& expected)
{
    std::map<std::string, int> counts;
    std::map<std::string, int> next;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        ASSERT_NE(end, std::string::npos) << "a line without its end at " << start;
        std::string line = text.substr(start, end - start);
        std::string tag = line.substr(0, line.find(' '));
        ASSERT_EQ(line.size(), tag.size() + 8 + 64) << "broken line: " << line;
        EXPECT_EQ(std::stoi(line.substr(tag.size() + 1, 6)), next[tag]++) << "lines of " << tag << " out of order";
        ++counts[tag];
        start = end + 2;
    }
    EXPECT_EQ(counts, expected);
}

TEST(Appending, LinesOfSeveralProcessesAndThreadsNeverOverwriteEachOther)
{
    testsupport::TempRoot root;
    fs::create_directories(root.file("drive_c/Logs"));
    const int lines = 400;
    const std::string child = testsupport::besideSelf("pal_file_child");
    testsupport::ChildProcess appender(child, {"append", "C:\\Logs\\shared.log", "procA", std::to_string(lines), "append"});
    testsupport::ChildProcess seeker(child, {"append", "C:\\Logs\\shared.log", "procS", std::to_string(lines), "seekend"});

    auto writeLines = [&](const std::string& tag, bool seekEnd) {
        for (int i = 0; i < lines; ++i)
            EXPECT_TRUE(fixtures::appendTraceLine(W("C:\\Logs\\shared.log"), tag, i, seekEnd));
    };
    std::thread threadA(writeLines, "thrA", false);
    std::thread threadS(writeLines, "thrS", true);
    threadA.join();
    threadS.join();
    EXPECT_EQ(appender.wait(), 0);
    EXPECT_EQ(seeker.wait(), 0);
    expectWholeLines(readText(root.file("drive_c/Logs/shared.log")),
                     {{"procA", lines}, {"procS", lines}, {"thrA", lines}, {"thrS", lines}});
}

// ---- Files and folders by name

TEST(FileNames, AttributesDeleteAndFolders)
{
    testsupport::TempRoot root;
    fs::create_directories(root.file("drive_c/Dir/Sub"));
    writeText(root.file("drive_c/Dir/file.txt"), "x");
    writeText(root.file("drive_c/Dir/ro.txt"), "x");
    chmod(root.file("drive_c/Dir/ro.txt").c_str(), 0444);

    EXPECT_EQ(GetFileAttributesW(W("C:\\DIR")), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(GetFileAttributesW(W("C:\\dir\\FILE.txt")), FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(GetFileAttributesA("C:\\dir\\ro.txt"), FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(GetFileAttributesW(W("C:\\dir\\none.txt")), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(GetFileAttributesW(W("C:\\none\\none.txt")), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

    EXPECT_FALSE(DeleteFileW(W("C:\\Dir\\none.txt")));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(DeleteFileW(W("C:\\Dir\\Sub")));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(DeleteFileW(W("C:\\Dir\\ro.txt")));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(DeleteFileA("C:\\DIR\\FILE.TXT"));
    EXPECT_FALSE(fs::exists(root.file("drive_c/Dir/file.txt")));

    EXPECT_FALSE(CreateDirectoryW(W("C:\\dir\\SUB"), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(CreateDirectoryW(W("C:\\a\\b"), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_TRUE(CreateDirectoryW(W("C:\\dir\\sub\\New"), nullptr));
    EXPECT_TRUE(fs::is_directory(root.file("drive_c/Dir/Sub/New")));

    EXPECT_FALSE(RemoveDirectoryW(W("C:\\dir\\sub")));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
    EXPECT_FALSE(RemoveDirectoryW(W("C:\\dir\\ro.txt")));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
    EXPECT_FALSE(RemoveDirectoryW(W("C:\\dir\\gone")));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(RemoveDirectoryW(W("C:\\dir\\sub\\new")));
}

TEST(FileNames, CopyAndMove)
{
    testsupport::TempRoot root;
    fs::create_directories(root.file("drive_c/Dir"));
    writeText(root.file("drive_c/Dir/src.txt"), "source");
    writeText(root.file("drive_c/Dir/dst.txt"), "old");

    EXPECT_FALSE(CopyFileW(W("C:\\dir\\src.txt"), W("C:\\dir\\dst.txt"), TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
    EXPECT_TRUE(CopyFileW(W("C:\\dir\\SRC.txt"), W("C:\\dir\\dst.txt"), FALSE));
    EXPECT_EQ(readText(root.file("drive_c/Dir/dst.txt")), "source");
    EXPECT_TRUE(CopyFileA("C:\\dir\\src.txt", "C:\\dir\\New.txt", TRUE));
    EXPECT_EQ(readText(root.file("drive_c/Dir/New.txt")), "source");
    EXPECT_FALSE(CopyFileW(W("C:\\dir\\none.txt"), W("C:\\dir\\x.txt"), FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    EXPECT_FALSE(MoveFileExW(W("C:\\dir\\src.txt"), W("C:\\dir\\dst.txt"), 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    writeText(root.file("drive_c/Dir/src.txt"), "moved");
    EXPECT_TRUE(MoveFileExW(W("C:\\dir\\src.txt"), W("C:\\dir\\dst.txt"), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(readText(root.file("drive_c/Dir/dst.txt")), "moved");
    EXPECT_FALSE(fs::exists(root.file("drive_c/Dir/src.txt")));
    EXPECT_TRUE(MoveFileW(W("C:\\dir\\dst.txt"), W("C:\\dir\\Renamed.txt")));
    EXPECT_TRUE(fs::exists(root.file("drive_c/Dir/Renamed.txt")));
}

TEST(FileNames, FindListsMatchesWithoutRegardToCaseInWindowsOrder)
{
    testsupport::TempRoot root;
    fs::create_directories(root.file("drive_c/Conf/sub.ini"));
    writeText(root.file("drive_c/Conf/b.INI"), "12345");
    writeText(root.file("drive_c/Conf/A.ini"), "");
    writeText(root.file("drive_c/Conf/c.txt"), "");

    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW(W("C:\\conf\\*.ini"), &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    std::vector<std::u16string> names{data.cFileName};
    std::vector<DWORD> attributes{data.dwFileAttributes};
    while (FindNextFileW(search, &data)) {
        names.push_back(data.cFileName);
        attributes.push_back(data.dwFileAttributes);
        if (names.back() == u"b.INI") {
            EXPECT_EQ(data.nFileSizeLow, 5u);
        }
    }
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_EQ(names, (std::vector<std::u16string>{u"A.ini", u"b.INI", u"sub.ini"}));
    EXPECT_EQ(attributes.back(), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_TRUE(FindClose(search));
    EXPECT_FALSE(FindClose(search));

    search = FindFirstFileW(W("C:\\conf\\?.*"), &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    FindClose(search);
    EXPECT_EQ(FindFirstFileW(W("C:\\conf\\*.dat"), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(FindFirstFileW(W("C:\\none\\*"), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

} // namespace
