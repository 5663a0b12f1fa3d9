#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <windows.h>

#include "ChildProcess.h"
#include "TempRoot.h"
#include "TestFiles.h"

namespace {

using testsupport::Bytes;
using testsupport::bytesOf;
using testsupport::ChildOptions;
using testsupport::ChildResult;

// The tools are built into the folder of the test programs.
ChildResult runTool(const std::string& tool, const std::vector<std::string>& args, const ChildOptions& options = {})
{
    return testsupport::runProgram(testsupport::besideSelf(tool), args, options);
}

// Without a platform root in the environment, or with another one.
const ChildOptions kNoRoot{{}, {"PAL_ROOT"}};
ChildOptions withRoot(const std::string& root)
{
    return ChildOptions{{"PAL_ROOT=" + root}, {}};
}

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

class PalTools : public testing::Test {
protected:
    static Bytes query(const char16_t* keyPath, const char16_t* name, DWORD* type = nullptr)
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return Bytes{0xEE};
        DWORD size = 0;
        Bytes data(256);
        size = DWORD(data.size());
        LONG error = RegQueryValueExW(key, name, nullptr, type, data.data(), &size);
        RegCloseKey(key);
        if (error != ERROR_SUCCESS)
            return Bytes{0xEF};
        data.resize(size);
        return data;
    }
    static HKEY create(const char16_t* path)
    {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        return key;
    }
    static bool keyExists(const char16_t* path)
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return false;
        RegCloseKey(key);
        return true;
    }

    testsupport::TempRoot root; // the platform root (PAL_ROOT) of the test and its tools
};

// ---- pal-reg

TEST_F(PalTools, RegHelpExplainsTheToolAndSucceeds)
{
    ChildResult help = runTool("pal-reg", {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: pal-reg query KEY", 0), 0u) << help.out;
    EXPECT_NE(help.out.find("--root DIR"), std::string::npos);
}

TEST_F(PalTools, RegAddWritesEveryTypeAsTheApiReadsIt)
{
    const std::string key = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Mon\\Ports\\PORT1";
    const std::u16string path = u"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Mon\\Ports\\PORT1";
    const std::vector<std::vector<std::string>> adds = {
        {"/v", "ServerName", "/d", "10.1.2.3"},
        {"/v", "PortNumber", "/t", "REG_DWORD", "/d", "9100"},
        {"/v", "Mask", "/t", "reg_dword", "/d", "0xC0000011"},
        {"/v", "Big", "/t", "REG_QWORD", "/d", "0x100000002"},
        {"/v", "Raw", "/t", "REG_BINARY", "/d", "00FF7f"},
        {"/v", "List", "/t", "REG_MULTI_SZ", "/d", "lp\\0raw"},
        {"--value", "Name", "--type", "REG_EXPAND_SZ", "--data", "日本語"},
        {"/ve", "/d", "default"},
    };
    for (auto args : adds) {
        args.insert(args.begin(), {"add", key});
        ChildResult added = runTool("pal-reg", args);
        EXPECT_EQ(added.status, 0) << added.err;
        EXPECT_EQ(added.out, "The operation completed successfully.\n");
    }
    DWORD type = 0;
    EXPECT_EQ(query(path.c_str(), u"ServerName", &type), bytesOf(std::u16string(u"10.1.2.3\0", 9)));
    EXPECT_EQ(type, DWORD(REG_SZ));
    EXPECT_EQ(query(path.c_str(), u"PortNumber", &type), (Bytes{0x8C, 0x23, 0, 0}));
    EXPECT_EQ(type, DWORD(REG_DWORD));
    EXPECT_EQ(query(path.c_str(), u"Mask"), (Bytes{0x11, 0, 0, 0xC0}));
    EXPECT_EQ(query(path.c_str(), u"Big", &type), (Bytes{2, 0, 0, 0, 1, 0, 0, 0}));
    EXPECT_EQ(type, DWORD(REG_QWORD));
    EXPECT_EQ(query(path.c_str(), u"Raw", &type), (Bytes{0x00, 0xFF, 0x7F}));
    EXPECT_EQ(type, DWORD(REG_BINARY));
    EXPECT_EQ(query(path.c_str(), u"List", &type), bytesOf(std::u16string(u"lp\0raw\0\0", 8)));
    EXPECT_EQ(type, DWORD(REG_MULTI_SZ));
    EXPECT_EQ(query(path.c_str(), u"Name", &type), bytesOf(std::u16string(u"日本語\0", 4)));
    EXPECT_EQ(type, DWORD(REG_EXPAND_SZ));
    EXPECT_EQ(query(path.c_str(), nullptr), bytesOf(std::u16string(u"default\0", 8)));

    ChildResult keyOnly = runTool("pal-reg", {"add", "HKCU\\Empty\\Key"});
    EXPECT_EQ(keyOnly.status, 0);
    HKEY created = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"empty\\key", 0, KEY_READ, &created), ERROR_SUCCESS);
    RegCloseKey(created);
}

TEST_F(PalTools, RegQueryPrintsWhatTheApiWrote)
{
    HKEY key = create(u"Software\\Vendor");
    const Bytes server = bytesOf(u"192.168.0.5"); // no terminator
    const DWORD protocol = 2;
    const Bytes raw = {0x00, 0xFF, 0x10};
    const Bytes list = bytesOf(std::u16string(u"a\0b😀\0\0", 7)); // a character of two units
    RegSetValueExW(key, u"ServerName", 0, REG_SZ, server.data(), DWORD(server.size()));
    RegSetValueExW(key, u"Protocol", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&protocol), 4);
    RegSetValueExW(key, u"Raw", 0, REG_BINARY, raw.data(), 3);
    RegSetValueExW(key, u"List", 0, REG_MULTI_SZ, list.data(), DWORD(list.size()));
    RegSetValueExW(key, u"", 0, REG_SZ, bytesOf(u"def").data(), 6);
    RegCloseKey(create(u"Software\\Vendor\\Sub\\Deeper"));
    RegCloseKey(key);

    ChildResult all = runTool("pal-reg", {"query", "HKLM\\Software\\Vendor"});
    EXPECT_EQ(all.status, 0) << all.err;
    EXPECT_EQ(all.out, "HKEY_LOCAL_MACHINE\\Software\\Vendor\n"
                       "    ServerName    REG_SZ    192.168.0.5\n"
                       "    Protocol    REG_DWORD    0x2\n"
                       "    Raw    REG_BINARY    00FF10\n"
                       "    List    REG_MULTI_SZ    a\\0b😀\n"
                       "    (Default)    REG_SZ    def\n"
                       "\n"
                       "HKEY_LOCAL_MACHINE\\Software\\Vendor\\Sub\n");

    ChildResult one = runTool("pal-reg", {"query", "HKEY_LOCAL_MACHINE\\software\\vendor", "PROTOCOL"});
    EXPECT_EQ(one.status, 0);
    EXPECT_EQ(one.out, "HKEY_LOCAL_MACHINE\\software\\vendor\n    Protocol    REG_DWORD    0x2\n");

    ChildResult recursive = runTool("pal-reg", {"query", "hklm\\Software\\Vendor\\Sub", "/s"});
    EXPECT_EQ(recursive.status, 0);
    EXPECT_EQ(recursive.out, "HKEY_LOCAL_MACHINE\\Software\\Vendor\\Sub\n\n"
                             "HKEY_LOCAL_MACHINE\\Software\\Vendor\\Sub\\Deeper\n\n");
}

// A damaged key file below does not hide the rest of the tree: it is named on standard error and
// the exit status tells that the listing is incomplete.
TEST_F(PalTools, RecursiveQueryListsWhatCanBeReadAroundADamagedKey)
{
    RegCloseKey(create(u"Tree\\A"));
    RegCloseKey(create(u"Tree\\B\\Below"));
    RegCloseKey(create(u"Tree\\C"));
    const std::string damaged = root.file("registry/HKLM/TREE/B/.key");
    std::ofstream(damaged, std::ios::binary | std::ios::app).put('\0'); // nothing may follow the last value

    ChildResult tree = runTool("pal-reg", {"query", "HKLM\\Tree", "/s"});
    EXPECT_EQ(tree.status, 1);
    EXPECT_EQ(tree.out, "HKEY_LOCAL_MACHINE\\Tree\n\n"
                        "HKEY_LOCAL_MACHINE\\Tree\\A\n\n"
                        "HKEY_LOCAL_MACHINE\\Tree\\C\n\n");
    EXPECT_NE(tree.err.find("HKEY_LOCAL_MACHINE\\Tree\\B cannot be read (error 1015)"), std::string::npos)
        << tree.err;
}

TEST_F(PalTools, RegFailuresHaveClearMessagesAndExitCodes)
{
    ChildResult missingKey = runTool("pal-reg", {"query", "HKLM\\Nowhere"});
    EXPECT_EQ(missingKey.status, 1);
    EXPECT_NE(missingKey.err.find("unable to find the specified registry key or value"), std::string::npos);
    EXPECT_EQ(missingKey.out, "");

    RegCloseKey(create(u"Here"));
    ChildResult missingValue = runTool("pal-reg", {"query", "HKLM\\Here", "/v", "Nothing"});
    EXPECT_EQ(missingValue.status, 1);
    EXPECT_EQ(missingValue.out, "") << "no key line before the error";

    const std::vector<std::vector<std::string>> misuses = {
        {},
        {"query"},
        {"rename", "HKLM\\Here"},
        {"query", "HKXX\\Here"},
        {"add", "HKLM\\Here", "/v", "N", "/t", "REG_DWORD", "/d", "12x"},
        {"add", "HKLM\\Here", "/v", "N", "/t", "REG_DWORD", "/d", "0x100000000"},
        {"add", "HKLM\\Here", "/v", "N", "/t", "REG_BINARY", "/d", "ABC"},
        {"add", "HKLM\\Here", "/v", "N", "/t", "REG_LINK"},
        {"add", "HKLM\\Here", "/d", "data without a value name"},
        {"add", "HKLM\\Here", "/v"},
        {"query", "HKLM\\Here", "/bogus"},
        {"delete", "HKLM"},
    };
    for (const auto& args : misuses) {
        ChildResult misuse = runTool("pal-reg", args);
        EXPECT_EQ(misuse.status, 2) << (args.empty() ? "" : args[0]) << " " << misuse.out;
        EXPECT_NE(misuse.err.find("pal-reg: "), std::string::npos);
    }
    DWORD values = 9;
    HKEY here = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Here", 0, KEY_READ, &here), ERROR_SUCCESS);
    RegQueryInfoKeyW(here, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                     nullptr);
    RegCloseKey(here);
    EXPECT_EQ(values, 0u) << "refused data is not written";
}

TEST_F(PalTools, RegNeedsAPlatformRootAndTakesOneFromTheCommandLine)
{
    ChildResult noRoot = runTool("pal-reg", {"add", "HKLM\\X"}, kNoRoot);
    EXPECT_EQ(noRoot.status, 2);
    EXPECT_NE(noRoot.err.find("PAL_ROOT"), std::string::npos);

    testsupport::TempRoot other; // the tool's PAL_ROOT; it gets root by --root
    ChildResult added =
        runTool("pal-reg", {"--root", root.path(), "add", "HKLM\\FromRootOption"}, withRoot(other.path()));
    EXPECT_EQ(added.status, 0) << added.err;
    EXPECT_TRUE(std::filesystem::exists(root.file("registry/HKLM/FROMROOTOPTION/.key")));
    EXPECT_FALSE(std::filesystem::exists(other.file("registry/HKLM/FROMROOTOPTION")));
}

TEST_F(PalTools, RegDeleteRemovesValuesAndKeysButATreeOnlyWhenForced)
{
    HKEY key = create(u"Doomed\\Child");
    const DWORD one = 1;
    RegSetValueExW(key, u"V", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4);
    RegCloseKey(key);

    ChildResult value = runTool("pal-reg", {"delete", "HKLM\\Doomed\\Child", "/v", "v"});
    EXPECT_EQ(value.status, 0) << value.err;
    EXPECT_EQ(query(u"Doomed\\Child", u"V"), Bytes{0xEF});
    EXPECT_EQ(runTool("pal-reg", {"delete", "HKLM\\Doomed\\Child", "/v", "v"}).status, 1);

    ChildResult refused = runTool("pal-reg", {"delete", "HKLM\\Doomed"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("has subkeys"), std::string::npos);
    EXPECT_TRUE(keyExists(u"Doomed\\Child"));

    ChildResult forced = runTool("pal-reg", {"delete", "HKLM\\Doomed", "/f"});
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_FALSE(keyExists(u"Doomed"));
    EXPECT_EQ(runTool("pal-reg", {"delete", "HKLM\\Doomed"}).status, 1);
}

TEST_F(PalTools, RegToolsAndThisProcessWritingAtOnceLoseNoUpdate)
{
    constexpr int kTools = 8;
    constexpr int kOwnValues = 40;
    RegCloseKey(create(u"Busy"));
    std::vector<testsupport::ChildProcess> tools;
    for (int i = 0; i < kTools; ++i)
        tools.emplace_back(testsupport::besideSelf("pal-reg"),
                           std::vector<std::string>{"add", "HKLM\\Busy", "/v", "tool" + std::to_string(i), "/t",
                                                    "REG_DWORD", "/d", std::to_string(i)});
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Busy", 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
    for (int i = 0; i < kOwnValues; ++i) {
        const std::u16string name = u"own" + std::u16string{char16_t(u'0' + i / 10), char16_t(u'0' + i % 10)};
        const DWORD value = DWORD(i);
        EXPECT_EQ(RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4),
                  ERROR_SUCCESS);
    }
    RegCloseKey(key);
    for (auto& tool : tools)
        EXPECT_EQ(tool.wait(), 0);
    for (int i = 0; i < kTools; ++i) {
        const std::u16string name = u"tool" + std::u16string(1, char16_t(u'0' + i));
        EXPECT_EQ(query(u"Busy", name.c_str()), (Bytes{BYTE(i), 0, 0, 0}));
    }
    DWORD values = 0;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Busy", 0, KEY_READ, &key), ERROR_SUCCESS);
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                     nullptr);
    RegCloseKey(key);
    EXPECT_EQ(values, DWORD(kTools + kOwnValues));
}

// ---- pal-eventlog

TEST_F(PalTools, EventlogPrintsOneLinePerRecordOldestFirst)
{
    HANDLE port = RegisterEventSourceW(nullptr, u"OutputBeaconPort2");
    HANDLE service = RegisterEventSourceW(nullptr, u"OutputBeaconService2");
    LPCWSTR portStrings[] = {u"PORT1", u"OpenPort"};
    LPCWSTR tricky[] = {u"say \"hi\"\nback\\slash", u"日本"};
    BYTE data[] = {1, 2, 3};
    ASSERT_TRUE(ReportEventW(port, EVENTLOG_ERROR_TYPE, 0, 0xC0000011, nullptr, 2, 0, portStrings, nullptr));
    ASSERT_TRUE(ReportEventW(service, EVENTLOG_WARNING_TYPE, 3, 0x80000002, nullptr, 2, 3, tricky, data));
    ASSERT_TRUE(ReportEventW(port, EVENTLOG_INFORMATION_TYPE, 0, 0x40000006, nullptr, 0, 0, nullptr, nullptr));
    DeregisterEventSource(port);
    DeregisterEventSource(service);

    ChildResult all = runTool("pal-eventlog", {});
    EXPECT_EQ(all.status, 0) << all.err;
    auto lines = linesOf(all.out);
    ASSERT_EQ(lines.size(), 3u) << all.out;
    const std::string time = R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} )";
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(time + R"(OutputBeaconPort2 Error 0xC0000011 cat=0 "PORT1" "OpenPort"$)")))
        << lines[0];
    EXPECT_TRUE(std::regex_match(
        lines[1], std::regex(time + R"(OutputBeaconService2 Warning 0x80000002 cat=3 "say \\"hi\\"\\nback\\\\slash" "日本" data=3$)")))
        << lines[1];
    EXPECT_TRUE(std::regex_match(lines[2], std::regex(time + R"(OutputBeaconPort2 Information 0x40000006 cat=0$)")))
        << lines[2];

    ChildResult filtered = runTool("pal-eventlog", {"--source", "outputbeaconport2"});
    EXPECT_EQ(filtered.status, 0);
    lines = linesOf(filtered.out);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("0xC0000011"), std::string::npos);
    EXPECT_NE(lines[1].find("0x40000006"), std::string::npos);
}

TEST_F(PalTools, EventlogClearsAndReportsMisuse)
{
    HANDLE source = RegisterEventSourceW(nullptr, u"S");
    ASSERT_TRUE(ReportEventW(source, EVENTLOG_ERROR_TYPE, 0, 1, nullptr, 0, 0, nullptr, nullptr));
    DeregisterEventSource(source);
    EXPECT_EQ(runTool("pal-eventlog", {"--clear"}).status, 0);
    ChildResult empty = runTool("pal-eventlog", {});
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.out, "");
    EXPECT_TRUE(pal::readEventLog().empty());

    ChildResult help = runTool("pal-eventlog", {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: pal-eventlog", 0), 0u);
    for (const auto& args : std::vector<std::vector<std::string>>{{"--bogus"}, {"--source"}, {"--clear", "--source", "S"}}) {
        ChildResult misuse = runTool("pal-eventlog", args);
        EXPECT_EQ(misuse.status, 2) << args[0];
        EXPECT_NE(misuse.err.find("pal-eventlog: "), std::string::npos);
    }
    EXPECT_EQ(runTool("pal-eventlog", {}, kNoRoot).status, 2);
    ChildResult viaOption = runTool("pal-eventlog", {"--root", root.path()}, withRoot("/nonexistent-root"));
    EXPECT_EQ(viaOption.status, 0) << viaOption.err;
}

} // namespace
