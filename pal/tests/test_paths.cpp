#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include <windows.h>

#include "TempRoot.h"

namespace {

namespace fs = std::filesystem;

bool touch(const WCHAR* path)
{
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    return file != INVALID_HANDLE_VALUE && CloseHandle(file);
}

DWORD openError(const WCHAR* path)
{
    SetLastError(0);
    HANDLE file = CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return 0;
    }
    return GetLastError();
}

TEST(PathMapping, DriveCMapsBelowTheRootAndMatchesExistingComponentsWithoutCase)
{
    testsupport::TempRoot root;
    fs::create_directories(root.file("drive_c/Program Files/Vendor"));
    ASSERT_TRUE(touch(W("c:/PROGRAM FILES\\vendor/New Name.INI")));
    EXPECT_TRUE(fs::exists(root.file("drive_c/Program Files/Vendor/New Name.INI")))
        << "existing folders keep their spelling, a new name gets the case it was given";
    EXPECT_EQ(openError(W("C:\\program files\\VENDOR\\new name.ini")), 0u);
}

TEST(PathMapping, AnExactMatchWinsOverOneThatDiffersInCase)
{
    testsupport::TempRoot root;
    fs::create_directories(root.file("drive_c/Data"));
    std::ofstream(root.file("drive_c/Data/a.txt")) << "lower";
    std::ofstream(root.file("drive_c/Data/A.txt")) << "upper";
    HANDLE file = CreateFileW(W("C:\\Data\\A.txt"), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    char text[8] = {};
    DWORD read = 0;
    ReadFile(file, text, sizeof text - 1, &read, nullptr);
    CloseHandle(file);
    EXPECT_STREQ(text, "upper");
}

TEST(PathMapping, DotsTrailingBlanksAndPrefixesAreResolvedLikeWindows)
{
    testsupport::TempRoot root;
    fs::create_directories(root.file("drive_c/Windows/Temp"));
    ASSERT_TRUE(touch(W("C:\\Windows\\Temp\\log.txt")));
    EXPECT_EQ(openError(W("C:\\Windows\\System32\\..\\Temp\\.\\LOG.TXT")), 0u);
    EXPECT_EQ(openError(W("C:\\..\\..\\Windows\\Temp\\log.txt")), 0u) << "the drive root cannot be left";
    EXPECT_EQ(openError(W("C:\\Windows\\Temp\\log.txt. . ")), 0u) << "trailing dots and blanks are dropped";
    EXPECT_EQ(openError(W("\\\\?\\C:\\Windows\\Temp\\log.txt")), 0u);
    EXPECT_EQ(openError(W("\\Windows\\Temp\\log.txt")), 0u) << "a rooted path without drive is on C:";
    EXPECT_EQ(openError(W("C:Windows\\Temp\\log.txt")), 0u);
}

TEST(PathMapping, UnknownDrivesNetworkPathsAndInvalidNamesFail)
{
    testsupport::TempRoot root;
    EXPECT_EQ(openError(W("D:\\file.txt")), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(openError(W("\\\\server\\share\\file.txt")), static_cast<DWORD>(ERROR_BAD_NETPATH));
    EXPECT_EQ(openError(W("C:\\bad|name.txt")), static_cast<DWORD>(ERROR_INVALID_NAME));
    EXPECT_EQ(openError(W("C:\\what?.txt")), static_cast<DWORD>(ERROR_INVALID_NAME));
    EXPECT_EQ(openError(W("")), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(openError(W("C:\\missing.txt")), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(openError(W("C:\\missing\\file.txt")), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST(PathMapping, RelativePathsStartAtTheCurrentFolderAndLinuxPathsStayAsTheyAre)
{
    testsupport::TempRoot root;
    fs::create_directories(root.file("work/Sub"));
    fs::path previous = fs::current_path();
    fs::current_path(root.file("work"));
    bool created = touch(W("sub\\Relative.txt"));
    fs::current_path(previous);
    ASSERT_TRUE(created);
    EXPECT_TRUE(fs::exists(root.file("work/Sub/Relative.txt")));

    std::u16string linuxPath = u"";
    for (char c : root.file("work/Sub/Relative.txt"))
        linuxPath += static_cast<char16_t>(c);
    EXPECT_EQ(openError(linuxPath.c_str()), 0u);
}

TEST(WindowsFolders, AreCreatedAndFollowTheShortBufferRule)
{
    testsupport::TempRoot root;
    WCHAR buffer[MAX_PATH];
    const std::u16string system = u"C:\\Windows\\System32";
    EXPECT_EQ(GetSystemDirectoryW(buffer, MAX_PATH), system.size());
    EXPECT_EQ(std::u16string(buffer), system);
    EXPECT_TRUE(fs::is_directory(root.file("drive_c/Windows/System32")));

    buffer[0] = u'x';
    EXPECT_EQ(GetSystemDirectoryW(buffer, static_cast<UINT>(system.size())), system.size() + 1)
        << "too short by the terminator: the size needed with it";
    EXPECT_EQ(buffer[0], u'x') << "nothing is copied into a short buffer";
    EXPECT_EQ(GetSystemDirectoryW(nullptr, 0), system.size() + 1);
    EXPECT_EQ(GetSystemDirectoryW(buffer, static_cast<UINT>(system.size() + 1)), system.size());

    EXPECT_EQ(GetWindowsDirectoryW(buffer, MAX_PATH), 10u);
    EXPECT_EQ(std::u16string(buffer), u"C:\\Windows");

    const std::u16string temp = u"C:\\Windows\\Temp\\";
    EXPECT_EQ(GetTempPathW(MAX_PATH, buffer), temp.size());
    EXPECT_EQ(std::u16string(buffer), temp);
    EXPECT_TRUE(fs::is_directory(root.file("drive_c/Windows/Temp")));
    EXPECT_EQ(GetTempPathW(static_cast<DWORD>(temp.size()), buffer), temp.size() + 1);

    char narrow[MAX_PATH];
    EXPECT_EQ(GetSystemDirectoryA(narrow, MAX_PATH), system.size());
    EXPECT_STREQ(narrow, "C:\\Windows\\System32");
    EXPECT_EQ(GetTempPathA(4, narrow), temp.size() + 1);
}

TEST(PathHelpers, ExistsRemoveFileSpecAndAppend)
{
    testsupport::TempRoot root;
    fs::create_directories(root.file("drive_c/Dir"));
    EXPECT_TRUE(PathFileExistsW(W("C:\\dir")));
    EXPECT_FALSE(PathFileExistsW(W("C:\\dir\\none.txt")));
    EXPECT_TRUE(PathFileExistsA("C:\\DIR"));

    struct Case {
        const char16_t* path;
        const char16_t* result;
        BOOL removed;
    } cases[] = {
        {u"C:\\a\\b.txt", u"C:\\a", TRUE}, {u"C:\\a", u"C:\\", TRUE}, {u"C:\\", u"C:\\", FALSE},
        {u"name.txt", u"", TRUE},          {u"\\a", u"\\", TRUE},     {u"", u"", FALSE},
        {u"C:/a/b", u"C:/a", TRUE},
    };
    for (const auto& c : cases) {
        WCHAR path[MAX_PATH];
        std::char_traits<char16_t>::copy(path, c.path, std::char_traits<char16_t>::length(c.path) + 1);
        EXPECT_EQ(PathRemoveFileSpecW(path), c.removed);
        EXPECT_EQ(std::u16string(path), std::u16string(c.result));
    }

    WCHAR path[MAX_PATH] = u"C:\\Windows";
    EXPECT_TRUE(PathAppendW(path, W("\\System32")));
    EXPECT_EQ(std::u16string(path), u"C:\\Windows\\System32");
    EXPECT_TRUE(PathAppendW(path, W("x.ini")));
    EXPECT_EQ(std::u16string(path), u"C:\\Windows\\System32\\x.ini");
    std::u16string longName(MAX_PATH - 10, u'n');
    EXPECT_FALSE(PathAppendW(path, longName.c_str()));
    EXPECT_EQ(std::u16string(path), u"C:\\Windows\\System32\\x.ini") << "unchanged when it does not fit";
}

struct Split {
    std::u16string drive, dir, fname, ext;
};

Split splitW(const char16_t* path)
{
    WCHAR drive[_MAX_DRIVE], dir[_MAX_DIR], fname[_MAX_FNAME], ext[_MAX_EXT];
    EXPECT_EQ(_wsplitpath_s(path, drive, _MAX_DRIVE, dir, _MAX_DIR, fname, _MAX_FNAME, ext, _MAX_EXT), 0);
    return {drive, dir, fname, ext};
}

TEST(SplitPath, AcceptsBothSeparatorsAndTakesTheLastDotOfTheName)
{
    struct Case {
        const char16_t* path;
        Split expected;
    } cases[] = {
        {u"C:\\Program Files\\Svc\\JTRKSVC2.exe", {u"C:", u"\\Program Files\\Svc\\", u"JTRKSVC2", u".exe"}},
        {u"c:/mixed\\seps/file.tar.gz", {u"c:", u"/mixed\\seps/", u"file.tar", u".gz"}},
        {u"dir.d\\file", {u"", u"dir.d\\", u"file", u""}},
        {u"\\\\server\\share\\x.y", {u"", u"\\\\server\\share\\", u"x", u".y"}},
        {u".hidden", {u"", u"", u"", u".hidden"}},
        {u"name.", {u"", u"", u"name", u"."}},
        {u"C:", {u"C:", u"", u"", u""}},
        {u"", {u"", u"", u"", u""}},
    };
    for (const auto& c : cases) {
        Split got = splitW(c.path);
        SCOPED_TRACE(std::string(c.path, c.path + std::char_traits<char16_t>::length(c.path)));
        EXPECT_EQ(got.drive, c.expected.drive);
        EXPECT_EQ(got.dir, c.expected.dir);
        EXPECT_EQ(got.fname, c.expected.fname);
        EXPECT_EQ(got.ext, c.expected.ext);
    }
}

TEST(SplitPath, SecureFormReportsBadArgumentsAndShortBuffersAndEmptiesEveryPart)
{
    WCHAR drive[_MAX_DRIVE] = u"X", dir[8] = u"X", fname[4] = u"X", ext[_MAX_EXT] = u"X";
    EXPECT_EQ(_wsplitpath_s(W("C:\\long\\name.txt"), drive, _MAX_DRIVE, dir, 8, fname, 4, ext, _MAX_EXT), ERANGE)
        << "\"name\" needs 5 characters";
    EXPECT_EQ(drive[0], 0);
    EXPECT_EQ(dir[0], 0);
    EXPECT_EQ(fname[0], 0);
    EXPECT_EQ(ext[0], 0);

    EXPECT_EQ(_wsplitpath_s(W("C:\\a.b"), drive, 2, nullptr, 0, nullptr, 0, nullptr, 0), ERANGE);
    EXPECT_EQ(_wsplitpath_s(W("a.b"), drive, 1, nullptr, 0, fname, 4, ext, _MAX_EXT), 0)
        << "a part that is not there needs only its terminator";
    EXPECT_EQ(std::u16string(fname), u"a");

    ext[0] = u'X';
    EXPECT_EQ(_wsplitpath_s(nullptr, drive, _MAX_DRIVE, nullptr, 0, nullptr, 0, ext, _MAX_EXT), EINVAL);
    EXPECT_EQ(ext[0], 0);
    EXPECT_EQ(_wsplitpath_s(W("a"), nullptr, 3, nullptr, 0, nullptr, 0, nullptr, 0), EINVAL);
    EXPECT_EQ(_wsplitpath_s(W("a"), drive, 0, nullptr, 0, nullptr, 0, nullptr, 0), EINVAL);
    EXPECT_EQ(_wsplitpath_s(W("C:\\x.y"), nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), 0);

    WCHAR fullDrive[_MAX_DRIVE], fullDir[_MAX_DIR], fullName[_MAX_FNAME], fullExt[_MAX_EXT];
    _wsplitpath(W("D:/x/y.z"), fullDrive, fullDir, fullName, fullExt);
    EXPECT_EQ(std::u16string(fullDir), u"/x/");
    EXPECT_EQ(std::u16string(fullExt), u".z");
}

TEST(SplitPath, NarrowFormsStepOverDoubleByteCharactersWhoseSecondByteIsABackslash)
{
    // "表" is 0x95 0x5C in code page 932: its second byte is the backslash.
    const char path[] = "C:\\dir\\\x95\x5C";
    char drive[_MAX_DRIVE], dir[_MAX_DIR], fname[_MAX_FNAME], ext[_MAX_EXT];
    ASSERT_EQ(_splitpath_s(path, drive, _MAX_DRIVE, dir, _MAX_DIR, fname, _MAX_FNAME, ext, _MAX_EXT), 0);
    EXPECT_STREQ(dir, "\\dir\\");
    EXPECT_STREQ(fname, "\x95\x5C");
    _splitpath("x\\y.txt", drive, dir, fname, ext);
    EXPECT_STREQ(fname, "y");

    char made[_MAX_PATH];
    ASSERT_EQ(_makepath_s(made, _MAX_PATH, "C", "\\\x95\x5C", "a", "ini"), 0);
    EXPECT_STREQ(made, "C:\\\x95\x5C\\a.ini") << "a trail byte 0x5C does not end the folder";
}

TEST(MakePath, JoinsThePartsWithTheirSeparators)
{
    WCHAR path[_MAX_PATH];
    ASSERT_EQ(_wmakepath_s(path, _MAX_PATH, W("C:"), W("\\Program Files\\Svc\\"), W("JTRKSVC2"), W(".ini")), 0);
    EXPECT_EQ(std::u16string(path), u"C:\\Program Files\\Svc\\JTRKSVC2.ini");
    ASSERT_EQ(_wmakepath_s(path, _MAX_PATH, W("d"), W("dir"), W("name"), W("txt")), 0);
    EXPECT_EQ(std::u16string(path), u"d:dir\\name.txt");
    ASSERT_EQ(_wmakepath_s(path, _MAX_PATH, nullptr, W("dir/"), W("name"), nullptr), 0);
    EXPECT_EQ(std::u16string(path), u"dir/name");
    ASSERT_EQ(_wmakepath_s(path, _MAX_PATH, W(""), W(""), W(""), W("")), 0);
    EXPECT_EQ(std::u16string(path), u"");
}

TEST(MakePath, ReportsRangeAndInvalidArguments)
{
    WCHAR path[11] = u"previous";
    EXPECT_EQ(_wmakepath_s(path, 11, W("C:"), W("\\a"), W("b"), W(".ini")), 0) << "10 characters and the terminator";
    EXPECT_EQ(std::u16string(path), u"C:\\a\\b.ini");
    EXPECT_EQ(_wmakepath_s(path, 10, W("C:"), W("\\a"), W("b"), W(".ini")), ERANGE);
    EXPECT_EQ(path[0], 0);
    EXPECT_EQ(_wmakepath_s(nullptr, 10, W("C:"), nullptr, nullptr, nullptr), EINVAL);
    EXPECT_EQ(_wmakepath_s(path, 0, W("C:"), nullptr, nullptr, nullptr), EINVAL);
}

} // namespace
