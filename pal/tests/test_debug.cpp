#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <windows.h>

#include "TempRoot.h"
#include "TestFiles.h"

namespace {

namespace fs = std::filesystem;
using testsupport::readText;

void collect(LPCWSTR text, void* context)
{
    static_cast<std::vector<std::u16string>*>(context)->push_back(text);
}

TEST(DebugOutput, IsOffByDefault)
{
    testsupport::TempRoot root;
    unsetenv("PAL_DEBUG_OUTPUT");
    OutputDebugStringW(W("nobody listens\r\n"));
    OutputDebugStringA("nobody listens\r\n");
    EXPECT_TRUE(fs::is_empty(root.path())) << "no file appears anywhere in the root";
}

TEST(DebugOutput, CaptureGetsEveryStringAsGiven)
{
    std::vector<std::u16string> seen;
    palSetDebugOutputCapture(collect, &seen);
    OutputDebugStringW(u"[CSM]Func(file.cpp) 日本\r\n");
    OutputDebugStringA("LprSend IN");
    OutputDebugStringA("\x93\xFA\x96\x7B"); // 日本 in code page 932
    OutputDebugStringW(nullptr);
    palSetDebugOutputCapture(nullptr, nullptr);
    OutputDebugStringW(W("after the capture ended"));
    EXPECT_EQ(seen, (std::vector<std::u16string>{u"[CSM]Func(file.cpp) 日本\r\n", u"LprSend IN", u"日本"}));
}

TEST(DebugOutput, TheAFormKeepsTheLastError)
{
    SetLastError(1234);
    OutputDebugStringA("x");
    OutputDebugStringW(W("x"));
    EXPECT_EQ(GetLastError(), 1234u);
}

TEST(DebugOutput, TheEnvironmentNamesAFileThatGetsLinesInUtf8)
{
    testsupport::TempRoot root;
    std::string sink = root.file("debug.txt");
    setenv("PAL_DEBUG_OUTPUT", sink.c_str(), 1);
    OutputDebugStringW(u"line one\r\n");
    OutputDebugStringA("LprSend OUT(FALSE)");
    OutputDebugStringW(u"日本\n");
    unsetenv("PAL_DEBUG_OUTPUT");
    OutputDebugStringW(W("not written"));
    EXPECT_EQ(readText(sink), "line one\r\nLprSend OUT(FALSE)\n\xE6\x97\xA5\xE6\x9C\xAC\n")
        << "a line feed is added only where the string has none";
}

TEST(DebugOutput, AFileInTheRootSwitchesTheInstallationOn)
{
    testsupport::TempRoot root;
    unsetenv("PAL_DEBUG_OUTPUT");
    std::ofstream(root.file("debug-output.log")).close();
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([t] {
            for (int i = 0; i < 50; ++i)
                OutputDebugStringA(("writer " + std::to_string(t) + " line " + std::to_string(i)).c_str());
        });
    for (auto& writer : writers)
        writer.join();
    std::istringstream lines(readText(root.file("debug-output.log")));
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count)
        EXPECT_EQ(line.rfind("writer ", 0), 0u) << line;
    EXPECT_EQ(count, 200);
}

} // namespace
