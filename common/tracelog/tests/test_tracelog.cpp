#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <windows.h>
#include <pal/testhooks.h>

#include "TempRoot.h"
#include "TraceLog.h"

namespace {

std::vector<WString>* g_captured = nullptr;
std::mutex g_captureMutex;

void capture(LPCWSTR text, void*)
{
    std::lock_guard<std::mutex> lock(g_captureMutex);
    g_captured->push_back(text);
}

// A path of the platform root as wide text (narrow in the ANSI code page).
WString widePath(const std::string& path)
{
    int chars = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
    WString wide(size_t(chars > 0 ? chars : 1), W('\0'));
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide.data(), chars);
    wide.resize(wide.size() - 1);
    return wide;
}

class TraceLogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(root.file("drive_c/Program Files"));
        std::filesystem::create_directories(root.file("drive_c/logs"));
        palSetModuleFileName(widePath(root.windowsPath("C:\\Program Files\\JTRKSVC2.exe")).c_str());
        g_captured = &captured;
        palSetDebugOutputCapture(capture, nullptr);
        SYSTEMTIME fixed = {2026, 3, 0, 4, 5, 6, 7, 0};
        palSetTestClock(&fixed);
    }
    void TearDown() override
    {
        palSetDebugOutputCapture(nullptr, nullptr);
        palResetTestClock();
        palSetModuleFileName(nullptr);
    }

    void set(const WCHAR* key, const WCHAR* value)
    {
        WritePrivateProfileStringW(W("LogOutput"), key, value, ini.c_str());
    }

    void fileSettings(const WCHAR* level, const WCHAR* maxKB)
    {
        set(W("Level"), level);
        set(W("Out"), W("1"));
        set(W("LogFile"), widePath(root.windowsPath("C:\\logs\\trace.log")).c_str());
        if (maxKB)
            set(W("MaxFileSize"), maxKB);
    }

    std::string logText() const
    {
        std::ifstream in(root.file("drive_c/logs/trace.log"), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    testsupport::TempRoot root;
    const WString ini = widePath(root.windowsPath("C:\\Program Files\\JTRKSVC2.ini"));
    std::vector<WString> captured;
};

TEST_F(TraceLogTest, DebuggerLinesHaveMarkerFunctionBaseNameAndMessageWithoutTimeStamp)
{
    set(W("Level"), W("3"));
    clTraceLog log;
    ASSERT_TRUE(log.bEnabled());
    log.vPrintMessage("C:\\src\\Service\\PrnComData.cpp", "bGetIPAddress", W("port %s id %d"), W("P1"), 42);
    log.vPrintError(TRACE_ERROR_PARAMETER, "WatchDevice.cpp", "Run");
    log.vPrintMessage("../../CLIB/JTRKCLIB.cpp", "DMLLIB_TraceJob", W("built here"));
    ASSERT_EQ(captured.size(), 3u);
    EXPECT_EQ(captured[2], W("[CSM]DMLLIB_TraceJob(JTRKCLIB.cpp) built here\r\n")) << "a __FILE__ with '/'";
    EXPECT_EQ(captured[0], W("[CSM]bGetIPAddress(PrnComData.cpp) port P1 id 42\r\n"));
    EXPECT_EQ(captured[1], W("[ERR]Run(WatchDevice.cpp) Check Parameter Error.\r\n"));
}

TEST_F(TraceLogTest, ErrorKindsHaveTheirTexts)
{
    set(W("Level"), W("1"));
    clTraceLog log;
    log.vPrintError(TRACE_ERROR_MEMORY, "a.cpp", "f");
    log.vPrintError(TRACE_ERROR_EXCEPTION, "a.cpp", "f");
    log.vPrintError(0, "a.cpp", "f");
    log.vPrintError(9, "a.cpp", "f");
    ASSERT_EQ(captured.size(), 4u);
    EXPECT_EQ(captured[0], W("[ERR]f(a.cpp) Memory Allocate Error.\r\n"));
    EXPECT_EQ(captured[1], W("[ERR]f(a.cpp) Exception Error.\r\n"));
    EXPECT_EQ(captured[2], W("[ERR]f(a.cpp) Error.\r\n"));
    EXPECT_EQ(captured[3], W("[ERR]f(a.cpp) Error.\r\n"));
}

TEST_F(TraceLogTest, LevelsBelowThreeWriteOnlyErrorsAndTheHookNeverWrites)
{
    for (const WCHAR* level : {W("1"), W("2")}) {
        captured.clear();
        set(W("Level"), level);
        clTraceLog log;
        log.vPrintMessage("a.cpp", "f", W("info"));
        log.vTraceFunction(W(""), 1, TRACE_MARKER_FUNCTION_IN, "a.cpp", "f");
        log.vPrintError(TRACE_ERROR_PARAMETER, "a.cpp", "f");
        ASSERT_EQ(captured.size(), 1u);
        EXPECT_EQ(captured[0].substr(0, 5), W("[ERR]"));
    }
}

TEST_F(TraceLogTest, InvalidSettingsSwitchTheLogOff)
{
    struct Case {
        const WCHAR* level;
        const WCHAR* out;
        const WCHAR* logFile; // nullptr: key absent
        const WCHAR* maxKB;   // nullptr: key absent
    };
    WString longPath = W("C:\\logs\\") + WString(251, W('a')); // 259 characters
    const Case cases[] = {
        {nullptr, nullptr, nullptr, nullptr},           // no section
        {W("0"), W("0"), nullptr, nullptr},             // level 0
        {W("4"), W("0"), nullptr, nullptr},             // above 3
        {W("-1"), W("0"), nullptr, nullptr},            // negative: a huge unsigned value
        {W("3"), W("2"), nullptr, nullptr},             // unknown output
        {W("3"), W("1"), nullptr, nullptr},             // file output without a file
        {W("3"), W("1"), W("eRRoR"), nullptr},          // the default's text in any case
        {W("3"), W("1"), W("\"\""), nullptr},           // empty
        {W("3"), W("1"), longPath.c_str(), nullptr},    // fills the buffer: taken as truncated
        {W("3"), W("1"), W("C:\\logs\\t.log"), W("0")}, // no room at all
    };
    for (const Case& c : cases) {
        WritePrivateProfileStringW(W("LogOutput"), nullptr, nullptr, ini.c_str());
        if (c.level)
            set(W("Level"), c.level);
        if (c.out)
            set(W("Out"), c.out);
        if (c.logFile)
            set(W("LogFile"), c.logFile);
        if (c.maxKB)
            set(W("MaxFileSize"), c.maxKB);
        clTraceLog log;
        EXPECT_FALSE(log.bEnabled()) << "level " << (c.level ? "set" : "absent");
        log.vPrintError(TRACE_ERROR_PARAMETER, "a.cpp", "f");
    }
    EXPECT_TRUE(captured.empty());
}

TEST_F(TraceLogTest, MissingArgumentsAndOverlongMessagesDropOnlyThatLine)
{
    set(W("Level"), W("3"));
    clTraceLog log;
    log.vPrintMessage(nullptr, "f", W("x"));
    log.vPrintMessage("a.cpp", nullptr, W("x"));
    log.vPrintError(TRACE_ERROR_PARAMETER, nullptr, "f");
    WString fits(1023, W('y'));
    WString tooLong(1024, W('z'));
    log.vPrintMessage("a.cpp", "f", W("%s"), tooLong.c_str());
    log.vPrintMessage("a.cpp", "f", W("%s"), fits.c_str());
    log.vPrintMessage("noBackslash", "f", W(""));
    ASSERT_EQ(captured.size(), 2u);
    EXPECT_EQ(captured[0], W("[CSM]f(a.cpp) ") + fits + W("\r\n"));
    EXPECT_EQ(captured[1], W("[CSM]f(noBackslash)\r\n")) << "an empty message adds no blank";
}

TEST_F(TraceLogTest, FileLinesCarryTheTimeStampAndAreAnsi)
{
    fileSettings(W("3"), nullptr);
    clTraceLog log;
    log.vPrintMessage("C:\\src\\JTRKSvc.cpp", "ServiceMain", W("printer %s"), W("\u65e5\u672c"));
    log.vPrintError(TRACE_ERROR_MEMORY, "x\\y.cpp", "g");
    EXPECT_EQ(logText(), "[03/04 05:06:07][CSM]ServiceMain(JTRKSvc.cpp) printer \x93\xfa\x96\x7b\r\n"
                         "[03/04 05:06:07][ERR]g(y.cpp) Memory Allocate Error.\r\n");
    EXPECT_TRUE(captured.empty());
}

TEST_F(TraceLogTest, AFullFileGetsOneEofLineAndThenNothing)
{
    fileSettings(W("3"), W("1"));
    clTraceLog log;
    WString chunk(100, W('m'));
    for (int i = 0; i < 30; ++i)
        log.vPrintMessage("a.cpp", "f", W("%s"), chunk.c_str());
    std::string text = logText();
    ASSERT_GE(text.size(), 1024u);
    const std::string eof = "[03/04 05:06:07][EOF]--- Over MaxFileSize ---\n";
    size_t at = text.find(eof);
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(at + eof.size(), text.size()) << "nothing follows once the file is at its cap";
    EXPECT_EQ(text.find(eof, at + 1), std::string::npos);
    // every line before the EOF line is whole
    const std::string line = "[03/04 05:06:07][CSM]f(a.cpp) " + std::string(100, 'm') + "\r\n";
    EXPECT_EQ(at % line.size(), 0u);
}

TEST_F(TraceLogTest, ALargeCapDoesNotWrapToZero)
{
    fileSettings(W("3"), W("4194304")); // 4 GiB: zero in 32 bits
    clTraceLog log;
    log.vPrintMessage("a.cpp", "f", W("kept"));
    EXPECT_EQ(logText(), "[03/04 05:06:07][CSM]f(a.cpp) kept\r\n");
}

TEST_F(TraceLogTest, ConcurrentWritersNeverOverwriteEachOther)
{
#ifdef _WIN32
    // Windows writes each append of a handle opened for appending only at the end, whole; wine 8 does
    // not across handles (lines of one writer overwrite another's).
    if (GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version"))
        GTEST_SKIP() << "appends of several handles are not atomic under wine";
#endif
    fileSettings(W("3"), W("100000"));
    clTraceLog service;
    clTraceLog clientLibrary; // a second module writing to the same file
    const int linesEach = 300;
    auto writer = [&](clTraceLog* log, const char* function, bool errors) {
        for (int i = 0; i < linesEach; ++i) {
            if (errors)
                log->vPrintError(TRACE_ERROR_PARAMETER, "b.cpp", function);
            else
                log->vPrintMessage("a.cpp", function, W("line %04d"), i);
        }
    };
    std::thread a(writer, &service, "first", false);
    std::thread b(writer, &clientLibrary, "second", true);
    std::thread c(writer, &service, "third", false);
    a.join();
    b.join();
    c.join();

    std::istringstream lines(logText());
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        ++count;
        ASSERT_EQ(line.back(), '\r');
        bool message = line.find("[CSM]first(a.cpp) line ") == 16 || line.find("[CSM]third(a.cpp) line ") == 16;
        bool error = line == "[03/04 05:06:07][ERR]second(b.cpp) Check Parameter Error.\r";
        EXPECT_TRUE(message || error) << line;
        EXPECT_TRUE(!error || line.find("[ERR]") == 16) << "each line carries its own marker";
    }
    EXPECT_EQ(count, 3 * linesEach);
}

TEST(ModuleIniPath, ReplacesTheExtensionOfTheExecutablePath)
{
    testsupport::TempRoot root;
    palSetModuleFileName(W("C:\\Program Files\\Vexil\\JTRKSVC2.exe"));
    WCHAR path[MAX_PATH];
    ASSERT_TRUE(GetModuleIniPath(path, MAX_PATH));
    EXPECT_EQ(WString(path), W("C:\\Program Files\\Vexil\\JTRKSVC2.ini"));
    EXPECT_FALSE(GetModuleIniPath(path, 10)) << "a buffer too small fails";
    palSetModuleFileName(nullptr);
}

} // namespace
