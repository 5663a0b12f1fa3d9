#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <windows.h>

#include "ChildProcess.h"
#include "TempRoot.h"
#include "TestFiles.h"

namespace {

namespace fs = std::filesystem;
using testsupport::readText;
using testsupport::writeText;

// A list literal with its embedded NULs (without the literal's own terminator).
template <size_t N>
std::u16string list(const char16_t (&text)[N])
{
    return std::u16string(text, N - 1);
}

const char kIni[] = "; leading comment\r\n"
                    "orphan=before any section\r\n"
                    "[Settings]\r\n"
                    "  Name  =  Value with blanks  \r\n"
                    "Quoted=\"  in quotes  \"\r\n"
                    "Single='x'\r\n"
                    "Mismatched=\"abc'\r\n"
                    "OneQuote=\"\r\n"
                    "Empty=\r\n"
                    "; Commented=1\r\n"
                    "NoEquals\r\n"
                    "dup=first\r\n"
                    "DUP=second\r\n"
                    "Number=42abc\r\n"
                    "Negative=-5\r\n"
                    "Plus=+7\r\n"
                    "Hex=0x1A\r\n"
                    "Big=4294967297\r\n"
                    "QuotedNumber=\"12\"\r\n"
                    "Blank=   \r\n"
                    "Tabbed=\tvalue\t\r\n"
                    "\r\n"
                    "[ settings ]\r\n"
                    "Name=from the duplicate section\r\n"
                    "Extra=only here\r\n"
                    "[LineFeeds]\n"
                    "a=lf\n"
                    "[Returns]\r"
                    "b=cr\r"
                    "[Last]\r\n"
                    "c=no line end";

class IniFile : public ::testing::Test {
protected:
    void SetUp() override { writeText(root.file("drive_c/App/app.ini"), kIni); }

    std::u16string value(const char16_t* section, const char16_t* key, const char16_t* fallback = u"default")
    {
        WCHAR buffer[256];
        DWORD length = GetPrivateProfileStringW(section, key, fallback, buffer, 256, path);
        EXPECT_EQ(length, std::char_traits<char16_t>::length(buffer));
        return std::u16string(buffer, length);
    }

    UINT number(const char16_t* key, INT fallback = 99)
    {
        return GetPrivateProfileIntW(W("Settings"), key, fallback, path);
    }

    testsupport::TempRoot root;
    const WCHAR* path = W("C:\\app\\APP.INI");
};

TEST_F(IniFile, ValuesAreTrimmedUnquotedAndFoundWithoutRegardToCase)
{
    EXPECT_EQ(value(u"SETTINGS", u"name"), u"Value with blanks");
    EXPECT_EQ(value(u"Settings", u"Quoted"), u"  in quotes  ");
    EXPECT_EQ(value(u"Settings", u"Single"), u"x");
    EXPECT_EQ(value(u"Settings", u"Mismatched"), u"\"abc'");
    EXPECT_EQ(value(u"Settings", u"OneQuote"), u"\"");
    EXPECT_EQ(value(u"Settings", u"Tabbed"), u"value");
    EXPECT_EQ(value(u"Settings", u"Empty"), u"") << "an empty value is a value, not the default";
    EXPECT_EQ(value(u"Settings", u"NoEquals"), u"");
    EXPECT_EQ(value(u"Settings", u"dup"), u"first") << "of duplicate keys the first counts";
    EXPECT_EQ(value(u"Settings", u"Extra"), u"default") << "of duplicate sections the first counts";
    EXPECT_EQ(value(u"Settings", u"Commented"), u"default");
    EXPECT_EQ(value(u"Settings", u"orphan"), u"default");
    EXPECT_EQ(value(u"LineFeeds", u"a"), u"lf");
    EXPECT_EQ(value(u"Returns", u"b"), u"cr");
    EXPECT_EQ(value(u"Last", u"c"), u"no line end");
}

TEST_F(IniFile, MissingKeysSectionsAndFilesGiveTheDefaultWithoutTrailingBlanks)
{
    SetLastError(0);
    EXPECT_EQ(value(u"Settings", u"Missing", u"  fallback  "), u"  fallback");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(value(u"Nowhere", u"Name", u"Error"), u"Error");
    EXPECT_EQ(value(u"Settings", u"Missing", nullptr), u"");
    WCHAR buffer[16];
    EXPECT_EQ(GetPrivateProfileStringW(W("S"), W("K"), W("dflt"), buffer, 16, W("C:\\none\\none.ini")), 4u);
    EXPECT_EQ(std::u16string(buffer), u"dflt");
}

TEST_F(IniFile, IntegersFollowTheDecimalRule)
{
    EXPECT_EQ(number(u"Number"), 42u) << "leading digits";
    EXPECT_EQ(number(u"Negative"), 0xFFFFFFFBu) << "two's complement of -5";
    EXPECT_EQ(number(u"Plus"), 7u);
    EXPECT_EQ(number(u"Hex"), 0u) << "no hexadecimal: the 0 before the x";
    EXPECT_EQ(number(u"Big"), 1u) << "kept modulo 2^32";
    EXPECT_EQ(number(u"QuotedNumber"), 12u);
    EXPECT_EQ(number(u"Name"), 0u) << "no digits";
    EXPECT_EQ(number(u"Blank"), 99u) << "an empty value gives the default";
    EXPECT_EQ(number(u"Missing"), 99u);
    EXPECT_EQ(number(u"Missing", -3), 0xFFFFFFFDu);
    EXPECT_EQ(GetPrivateProfileIntA("settings", "NUMBER", 0, "C:\\App\\app.ini"), 42u);
}

TEST_F(IniFile, NullKeyListsKeysAndNullSectionListsSections)
{
    WCHAR buffer[512];
    DWORD length = GetPrivateProfileStringW(W("Settings"), nullptr, W("ignored"), buffer, 512, path);
    std::u16string keys(buffer, length + 1);
    EXPECT_EQ(keys, list(u"Name\0Quoted\0Single\0Mismatched\0OneQuote\0Empty\0NoEquals\0dup\0Number\0"
                         u"Negative\0Plus\0Hex\0Big\0QuotedNumber\0Blank\0Tabbed\0\0"));
    length = GetPrivateProfileSectionNamesW(buffer, 512, path);
    EXPECT_EQ(std::u16string(buffer, length + 1), list(u"Settings\0LineFeeds\0Returns\0Last\0\0"));
    EXPECT_EQ(GetPrivateProfileStringW(nullptr, nullptr, nullptr, buffer, 512, path), length);

    buffer[0] = buffer[1] = u'x';
    EXPECT_EQ(GetPrivateProfileStringW(W("Nowhere"), nullptr, W("dflt"), buffer, 512, path), 0u);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(buffer[1], 0) << "an empty list";

    length = GetPrivateProfileSectionW(W("returns"), buffer, 512, path);
    EXPECT_EQ(std::u16string(buffer, length + 1), list(u"b=cr\0\0"));
    length = GetPrivateProfileSectionW(W("Settings"), buffer, 512, path);
    EXPECT_EQ(std::u16string(buffer, 40), list(u"Name=Value with blanks\0Quoted=\"  in quot"));
}

TEST_F(IniFile, TruncatedValuesReturnSizeMinusOne)
{
    WCHAR buffer[32];
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    EXPECT_EQ(GetPrivateProfileStringW(W("Settings"), W("Name"), W(""), buffer, 0, path), 0u);
    EXPECT_EQ(buffer[0], u'#') << "nothing is written with size 0";
    EXPECT_EQ(GetPrivateProfileStringW(W("Settings"), W("Name"), W(""), buffer, 1, path), 0u);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(GetPrivateProfileStringW(W("Settings"), W("Name"), W(""), buffer, 5, path), 4u);
    EXPECT_EQ(std::u16string(buffer), u"Valu");
    // "Value with blanks" has 17 characters.
    EXPECT_EQ(GetPrivateProfileStringW(W("Settings"), W("Name"), W(""), buffer, 17, path), 16u);
    EXPECT_EQ(GetPrivateProfileStringW(W("Settings"), W("Name"), W(""), buffer, 18, path), 17u);
    EXPECT_EQ(GetPrivateProfileStringW(W("Settings"), W("Missing"), W("defaultvalue"), buffer, 4, path), 3u);
    EXPECT_EQ(std::u16string(buffer), u"def") << "the default is cut the same way";
}

TEST_F(IniFile, TruncatedListsReturnSizeMinusTwoAndEndWithTwoNuls)
{
    // Full list: "Settings\0LineFeeds\0Returns\0Last\0\0": 32 characters before the final NUL.
    WCHAR buffer[40];
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    EXPECT_EQ(GetPrivateProfileSectionNamesW(buffer, 33, path), 32u) << "exactly fits";
    EXPECT_EQ(GetPrivateProfileSectionNamesW(buffer, 32, path), 30u);
    EXPECT_EQ(std::u16string(buffer, 32), list(u"Settings\0LineFeeds\0Returns\0Las\0\0"));
    EXPECT_EQ(GetPrivateProfileSectionNamesW(buffer, 5, path), 3u);
    EXPECT_EQ(std::u16string(buffer, 5), list(u"Set\0\0"));
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    EXPECT_EQ(GetPrivateProfileSectionNamesW(buffer, 2, path), 0u);
    EXPECT_EQ(std::u16string(buffer, 3), list(u"\0\0#"));
    EXPECT_EQ(GetPrivateProfileSectionNamesW(buffer, 1, path), 0u);
    EXPECT_EQ(buffer[0], 0);
    buffer[0] = u'#';
    EXPECT_EQ(GetPrivateProfileSectionNamesW(buffer, 0, path), 0u);
    EXPECT_EQ(buffer[0], u'#');
}

TEST(IniEncodings, Utf16FilesAreReadAndWrittenBackAsUtf16)
{
    testsupport::TempRoot root;
    // "[日本]\r\nキー=値\r\n" in UTF-16LE with its BOM.
    const std::string bytes("\xFF\xFE[\0\xE5\x65\x2C\x67]\0\r\0\n\0\xAD\x30\xFC\x30=\0\x24\x50\r\0\n\0", 26);
    writeText(root.file("drive_c/u16.ini"), bytes);
    WCHAR buffer[16];
    EXPECT_EQ(GetPrivateProfileStringW(u"日本", u"キー", W(""), buffer, 16, W("C:\\u16.ini")), 1u);
    EXPECT_EQ(std::u16string(buffer), u"値");

    EXPECT_TRUE(WritePrivateProfileStringW(u"日本", W("k"), W("v"), W("C:\\u16.ini")));
    EXPECT_EQ(readText(root.file("drive_c/u16.ini")), bytes + std::string("k\0=\0v\0\r\0\n\0", 10));
}

TEST(IniEncodings, AnsiFilesAreCodePage932)
{
    testsupport::TempRoot root;
    // "[日本]\r\nキー=値\r\n" in Shift_JIS.
    const std::string bytes = "[\x93\xFA\x96\x7B]\r\n\x83\x4C\x81\x5B=\x92\x6C\r\n";
    writeText(root.file("drive_c/Windows/sjis.ini"), bytes);
    WCHAR buffer[16];
    EXPECT_EQ(GetPrivateProfileStringW(u"日本", u"キー", W(""), buffer, 16, W("sjis.ini")), 1u)
        << "a bare name is in the Windows folder";
    EXPECT_EQ(std::u16string(buffer), u"値");

    char narrow[16];
    EXPECT_EQ(GetPrivateProfileStringA("\x93\xFA\x96\x7B", "\x83\x4C\x81\x5B", "", narrow, 16, "sjis.ini"), 2u);
    EXPECT_STREQ(narrow, "\x92\x6C");

    EXPECT_TRUE(WritePrivateProfileStringW(u"日本", u"表", u"値値", W("sjis.ini")));
    EXPECT_EQ(readText(root.file("drive_c/Windows/sjis.ini")), bytes + "\x95\x5C=\x92\x6C\x92\x6C\r\n");
    EXPECT_EQ(GetPrivateProfileStringA("\x93\xFA\x96\x7B", "\x95\x5C", "", narrow, 4, "sjis.ini"), 2u)
        << "3 bytes of room take one double-byte character, not a half";
    EXPECT_STREQ(narrow, "\x92\x6C");
}

TEST(IniWrite, CreatesFileSectionAndKeyWithCrLf)
{
    testsupport::TempRoot root;
    fs::create_directories(root.file("drive_c/App"));
    const WCHAR* path = W("C:\\App\\new.ini");
    const std::string file = root.file("drive_c/App/new.ini");
    EXPECT_TRUE(WritePrivateProfileStringW(W("Device"), W("PollingTime"), W("20"), path));
    EXPECT_EQ(readText(file), "[Device]\r\nPollingTime=20\r\n");
    EXPECT_TRUE(WritePrivateProfileStringW(W("device"), W("Retry"), W("3"), path));
    EXPECT_EQ(readText(file), "[Device]\r\nPollingTime=20\r\nRetry=3\r\n");
    EXPECT_TRUE(WritePrivateProfileStringW(W("Event"), W("On"), W("1"), path));
    EXPECT_EQ(readText(file), "[Device]\r\nPollingTime=20\r\nRetry=3\r\n[Event]\r\nOn=1\r\n");
    EXPECT_TRUE(WritePrivateProfileStringW(W("DEVICE"), W("pollingtime"), W(" 30 "), path));
    EXPECT_EQ(readText(file), "[Device]\r\nPollingTime= 30 \r\nRetry=3\r\n[Event]\r\nOn=1\r\n")
        << "the key keeps its spelling, the value is written as given";
    EXPECT_TRUE(WritePrivateProfileStringA("Device", "Retry", nullptr, "C:\\App\\new.ini"));
    EXPECT_EQ(readText(file), "[Device]\r\nPollingTime= 30 \r\n[Event]\r\nOn=1\r\n");
    EXPECT_TRUE(WritePrivateProfileStringW(W("Device"), nullptr, nullptr, path));
    EXPECT_EQ(readText(file), "[Event]\r\nOn=1\r\n");
}

TEST(IniWrite, NewKeysFollowTheSectionsLastEntryAndOtherLinesStay)
{
    testsupport::TempRoot root;
    const std::string file = root.file("drive_c/edit.ini");
    writeText(file, "; header\n[A]\nx = 1\n; note\n\n[B]\ny=2");
    EXPECT_TRUE(WritePrivateProfileStringW(W("a"), W("z"), W("3"), W("C:\\edit.ini")));
    EXPECT_EQ(readText(file), "; header\n[A]\nx = 1\nz=3\r\n; note\n\n[B]\ny=2");
    EXPECT_TRUE(WritePrivateProfileStringW(W("B"), W("w"), W("4"), W("C:\\edit.ini")));
    EXPECT_EQ(readText(file), "; header\n[A]\nx = 1\nz=3\r\n; note\n\n[B]\ny=2\r\nw=4\r\n");
    EXPECT_TRUE(WritePrivateProfileStringW(W("Empty"), nullptr, nullptr, W("C:\\edit.ini")));
    EXPECT_TRUE(WritePrivateProfileStringW(W("A"), W("none"), nullptr, W("C:\\edit.ini")));
    EXPECT_EQ(readText(file), "; header\n[A]\nx = 1\nz=3\r\n; note\n\n[B]\ny=2\r\nw=4\r\n");
}

TEST(IniWrite, RefusesMissingFoldersAndDeletesNothingThatIsNotThere)
{
    testsupport::TempRoot root;
    EXPECT_FALSE(WritePrivateProfileStringW(W("S"), W("K"), W("V"), W("C:\\missing\\x.ini")));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(WritePrivateProfileStringW(nullptr, W("K"), W("V"), W("C:\\x.ini")));
    EXPECT_TRUE(WritePrivateProfileStringW(nullptr, nullptr, nullptr, W("C:\\x.ini"))) << "a flush";
    EXPECT_TRUE(WritePrivateProfileStringW(W("S"), W("K"), nullptr, W("C:\\x.ini")));
    EXPECT_FALSE(fs::exists(root.file("drive_c/x.ini"))) << "deleting from a missing file creates nothing";
}

TEST(IniWrite, FailsWithoutTheWritersLockOrAReadableFileAndChangesNothing)
{
    testsupport::TempRoot root;
    const std::string kept = root.file("drive_c/kept.ini");
    writeText(kept, "[S]\r\nold=1\r\n");
    fs::create_directories(root.file("run/files/ini.lock")); // the writers' lock cannot be taken
    EXPECT_FALSE(WritePrivateProfileStringW(W("S"), W("new"), W("2"), W("C:\\kept.ini")));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(readText(kept), "[S]\r\nold=1\r\n");
    fs::remove(root.file("run/files/ini.lock"));
    EXPECT_TRUE(WritePrivateProfileStringW(W("S"), W("new"), W("2"), W("C:\\kept.ini")));
    EXPECT_EQ(readText(kept), "[S]\r\nold=1\r\nnew=2\r\n");

    fs::create_directories(root.file("drive_c/folder.ini/inside")); // there, but not readable as a file
    EXPECT_FALSE(WritePrivateProfileStringW(W("S"), W("K"), W("V"), W("C:\\folder.ini")));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(fs::is_directory(root.file("drive_c/folder.ini/inside")));
}

TEST(IniWrite, WritersInSeveralProcessesLoseNoUpdate)
{
    testsupport::TempRoot root;
    fs::create_directories(root.file("drive_c"));
    const int keys = 40;
    const std::string child = testsupport::besideSelf("pal_file_child");
    testsupport::ChildProcess first(child, {"ini", "C:\\shared.ini", "Keys", "first", std::to_string(keys)});
    testsupport::ChildProcess second(child, {"ini", "C:\\shared.ini", "Keys", "second", std::to_string(keys)});
    for (int i = 0; i < keys; ++i)
        WritePrivateProfileStringA("Keys", ("parent" + std::to_string(i)).c_str(), "value", "C:\\shared.ini");
    EXPECT_EQ(first.wait(), 0);
    EXPECT_EQ(second.wait(), 0);
    WCHAR buffer[4096];
    DWORD length = GetPrivateProfileStringW(W("Keys"), nullptr, W(""), buffer, 4096, W("C:\\shared.ini"));
    size_t count = 0;
    for (DWORD i = 0; i < length; ++i)
        count += buffer[i] == 0;
    EXPECT_EQ(count, static_cast<size_t>(3 * keys));
}

} // namespace
