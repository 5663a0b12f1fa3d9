#include "StandinTesting.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <windows.h>

#include <gtest/gtest.h>

#include "ChildProcess.h"
#include "TestFiles.h"

namespace fs = std::filesystem;

namespace standin {

namespace {

std::string rootPath()
{
    const char* root = std::getenv("PAL_ROOT");
    return root ? root : "";
}

} // namespace

void configurePrintManager(const std::string& ini, const std::string& folder)
{
    testsupport::writeText(rootPath() + "/drive_c/" + folder + "/HBPHSTD64.ini", ini);
}

std::string installPrintManager(const std::string& ini, bool legacy, const std::string& folder)
{
    std::string target = rootPath() + "/drive_c/" + folder;
    fs::create_directories(target);
    fs::copy_file(testsupport::besideSelf(legacy ? "HBPHSTD64-legacy.so" : "HBPHSTD64.so"), target + "/HBPHSTD64.so",
                  fs::copy_options::overwrite_existing);
    configurePrintManager(ini, folder);
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Harbor\\HBDBCMN\\CurrentVersion\\MP01", 0, nullptr, 0, KEY_WRITE,
                    nullptr, &key, nullptr);
    std::string value = "C:\\" + folder;
    RegSetValueExA(key, "ComponentPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
    return target;
}

testsupport::ChildProcess startMessageManager(const std::vector<std::string>& options)
{
    std::vector<std::string> args = {"run", "C:\\Msgm"};
    args.insert(args.end(), options.begin(), options.end());
    testsupport::ChildProcess manager(testsupport::besideSelf("hbmsgm"), args);
    std::string ready = manager.readLine();
    if (ready.rfind("hbmsgm: ready", 0) != 0)
        ADD_FAILURE() << "hbmsgm did not start: " << ready;
    return manager;
}

std::string messageJournal()
{
    return rootPath() + "/drive_c/Msgm/journal.log";
}

std::vector<std::string> journalLines(const std::string& path, const std::string& entry)
{
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        if (entry.empty() || jsonText(line, "entry") == entry)
            lines.push_back(line);
    return lines;
}

std::string jsonValue(const std::string& line, const std::string& key)
{
    std::string pattern = "\"" + key + "\":";
    size_t start = line.find(pattern);
    if (start == std::string::npos)
        return "";
    start += pattern.size();
    size_t end = start;
    int depth = 0;
    bool inString = false;
    for (; end < line.size(); ++end) {
        char c = line[end];
        if (inString) {
            if (c == '\\')
                ++end;
            else if (c == '"')
                inString = false;
            continue;
        }
        if (c == '"')
            inString = true;
        else if (c == '{' || c == '[')
            ++depth;
        else if (c == '}' || c == ']') {
            if (depth == 0)
                break;
            --depth;
        } else if (c == ',' && depth == 0)
            break;
    }
    return line.substr(start, end - start);
}

std::string jsonText(const std::string& line, const std::string& key)
{
    std::string value = jsonValue(line, key);
    if (value.size() < 2 || value.front() != '"')
        return "";
    std::string text;
    for (size_t i = 1; i + 1 < value.size(); ++i) {
        if (value[i] == '\\' && i + 2 < value.size()) {
            ++i;
            text += value[i] == 'n' ? '\n' : value[i];
        } else {
            text += value[i];
        }
    }
    return text;
}

bool hexMatches(const std::string& actual, const std::string& expectedWithWildcards)
{
    std::string expected;
    for (char c : expectedWithWildcards)
        if (c != ' ')
            expected += c;
    if (actual.size() != expected.size())
        return false;
    for (size_t i = 0; i < actual.size(); ++i)
        if (expected[i] != '?' && expected[i] != actual[i])
            return false;
    return true;
}

} // namespace standin
