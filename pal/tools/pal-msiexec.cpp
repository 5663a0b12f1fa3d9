// pal-msiexec: runs one entry of a custom-action library as Windows Installer would, with a
// session of properties, and prints the messages it sends and its result.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <windows.h>

#include "common/ToolSupport.h"

namespace {

using tool::kExitFailure;
using tool::kExitUsage;
using tool::narrow;
using tool::widen;

const char kUsage[] =
    "Usage: pal-msiexec [--property NAME=VALUE]... [--answer yes|no|none] [--env NAME=VALUE]...\n"
    "                   [--root DIR] MODULE ENTRY [--no-session] [ARG]...\n"
    "\n"
    "Loads MODULE by its Windows name (JTRKUtil.dll), calls ENTRY with a new installer session\n"
    "(unless --no-session) and each ARG as a wide string (at most 4), and prints every message\n"
    "the entry sends on one line, then its result:\n"
    "\n"
    "  info: TEXT\n"
    "  warning: TEXT -> no        (the answer, when the message got one: ok, cancel, yes, no)\n"
    "  error: TEXT\n"
    "  result: N\n"
    "\n"
    "Line feeds in a text are shown as \\n.\n"
    "\n"
    "  --property NAME=VALUE  a property of the session (CustomActionData, JTRK_SERVICE_NAME, ...)\n"
    "  --answer yes|no|none   how warnings and errors that ask are answered (default: none, as\n"
    "                         an installation without user interface)\n"
    "  --env NAME=VALUE       set a variable for the entry (an empty VALUE removes it); TEMP and\n"
    "                         TMP are the platform's C:\\Windows\\Temp unless given\n"
    "  --root DIR             the platform root (default: $PAL_ROOT)\n"
    "  --help                 show this help\n"
    "\n"
    "Exit status: 0 when the result is 0, 1 otherwise, 2 for a wrong command line or a missing\n"
    "module or entry.\n";

constexpr size_t kMaxArguments = 4;

struct Options {
    std::vector<std::pair<std::string, std::string>> properties;
    std::vector<std::pair<std::string, std::string>> environment;
    PAL_MSI_ANSWER answer = PAL_MSI_ANSWER_NONE;
    std::string root;
    std::string module;
    std::string entry;
    bool session = true;
    std::vector<std::string> arguments;
};

bool splitSetting(const std::string& text, std::pair<std::string, std::string>& setting)
{
    size_t equals = text.find('=');
    if (equals == 0 || equals == std::string::npos)
        return false;
    setting = {text.substr(0, equals), text.substr(equals + 1)};
    return true;
}

std::string parse(int argc, char** argv, Options& options)
{
    int i = 1;
    for (; i < argc && argv[i][0] == '-' && argv[i][1] == '-'; ++i) {
        std::string option = argv[i];
        if (i + 1 >= argc)
            return option + " needs a value";
        std::string value = argv[++i];
        std::pair<std::string, std::string> setting;
        if (option == "--property" || option == "--env") {
            if (!splitSetting(value, setting))
                return option + " needs NAME=VALUE";
            (option == "--property" ? options.properties : options.environment).push_back(setting);
        } else if (option == "--answer") {
            if (value != "yes" && value != "no" && value != "none")
                return "--answer takes yes, no or none";
            options.answer = value == "yes" ? PAL_MSI_ANSWER_YES : value == "no" ? PAL_MSI_ANSWER_NO : PAL_MSI_ANSWER_NONE;
        } else if (option == "--root") {
            options.root = value;
        } else {
            return "unknown option " + option;
        }
    }
    if (argc - i < 2)
        return "MODULE and ENTRY are needed";
    options.module = argv[i++];
    options.entry = argv[i++];
    if (i < argc && std::strcmp(argv[i], "--no-session") == 0) {
        options.session = false;
        ++i;
    }
    options.arguments.assign(argv + i, argv + argc);
    if (options.arguments.size() > kMaxArguments)
        return "at most 4 arguments";
    return {};
}

const char* answerWord(int answer)
{
    switch (answer) {
    case IDOK:
        return "ok";
    case IDCANCEL:
        return "cancel";
    case IDYES:
        return "yes";
    case IDNO:
        return "no";
    default:
        return nullptr;
    }
}

const char* kindWord(INSTALLMESSAGE type)
{
    switch (UINT(type) & INSTALLMESSAGE_TYPEMASK) {
    case UINT(INSTALLMESSAGE_ERROR):
        return "error";
    case UINT(INSTALLMESSAGE_WARNING):
        return "warning";
    case UINT(INSTALLMESSAGE_USER):
        return "user";
    case UINT(INSTALLMESSAGE_INFO):
        return "info";
    default:
        return "message";
    }
}

std::string oneLine(const std::string& text)
{
    std::string line;
    for (char c : text) {
        if (c == '\n')
            line += "\\n";
        else if (c != '\r')
            line += c;
    }
    return line;
}

void printMessage(void*, INSTALLMESSAGE type, LPCWSTR text, int answer)
{
    std::string line = std::string(kindWord(type)) + ": " + oneLine(narrow(text));
    if (const char* word = answerWord(answer))
        line += std::string(" -> ") + word;
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// TEMP and TMP name the platform's temporary folder, then the --env settings apply.
void setEnvironment(const Options& options)
{
    WCHAR temp[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, temp);
    if (length > 3 && length <= MAX_PATH && temp[length - 1] == u'\\')
        temp[length - 1] = 0;
    if (length > 0 && length <= MAX_PATH) {
        SetEnvironmentVariableW(u"TEMP", temp);
        SetEnvironmentVariableW(u"TMP", temp);
    }
    for (const auto& [name, value] : options.environment)
        SetEnvironmentVariableW(widen(name).c_str(), value.empty() ? nullptr : widen(value).c_str());
}

typedef UINT(WINAPI* Entry0)(void);
typedef UINT(WINAPI* Entry1)(UINT_PTR);
typedef UINT(WINAPI* Entry2)(UINT_PTR, UINT_PTR);
typedef UINT(WINAPI* Entry3)(UINT_PTR, UINT_PTR, UINT_PTR);
typedef UINT(WINAPI* Entry4)(UINT_PTR, UINT_PTR, UINT_PTR, UINT_PTR);
typedef UINT(WINAPI* Entry5)(UINT_PTR, UINT_PTR, UINT_PTR, UINT_PTR, UINT_PTR);

// Calls the entry with its arguments in registers, as the entry's own type takes them: an
// MSIHANDLE and wide-string pointers each fill one argument slot.
UINT call(FARPROC entry, const std::vector<UINT_PTR>& slots)
{
    switch (slots.size()) {
    case 0:
        return reinterpret_cast<Entry0>(entry)();
    case 1:
        return reinterpret_cast<Entry1>(entry)(slots[0]);
    case 2:
        return reinterpret_cast<Entry2>(entry)(slots[0], slots[1]);
    case 3:
        return reinterpret_cast<Entry3>(entry)(slots[0], slots[1], slots[2]);
    case 4:
        return reinterpret_cast<Entry4>(entry)(slots[0], slots[1], slots[2], slots[3]);
    default:
        return reinterpret_cast<Entry5>(entry)(slots[0], slots[1], slots[2], slots[3], slots[4]);
    }
}

int run(const Options& options)
{
    HMODULE module = LoadLibraryW(widen(options.module).c_str());
    if (!module) {
        std::fprintf(stderr, "pal-msiexec: cannot load %s: error %lu\n", options.module.c_str(),
                     static_cast<unsigned long>(GetLastError()));
        return kExitUsage;
    }
    FARPROC entry = GetProcAddress(module, options.entry.c_str());
    if (!entry) {
        std::fprintf(stderr, "pal-msiexec: %s has no entry %s\n", options.module.c_str(), options.entry.c_str());
        return kExitUsage;
    }
    setEnvironment(options);
    MSIHANDLE session = 0;
    std::vector<UINT_PTR> slots;
    if (options.session) {
        session = palMsiCreateSession(options.answer, printMessage, nullptr);
        for (const auto& [name, value] : options.properties)
            MsiSetPropertyW(session, widen(name).c_str(), widen(value).c_str());
        slots.push_back(session);
    }
    std::vector<std::u16string> arguments;
    for (const std::string& argument : options.arguments)
        arguments.push_back(widen(argument));
    for (const std::u16string& argument : arguments)
        slots.push_back(reinterpret_cast<UINT_PTR>(argument.c_str()));
    UINT result = call(entry, slots);
    MsiCloseHandle(session);
    std::printf("result: %u\n", result);
    return result == 0 ? 0 : kExitFailure;
}

} // namespace

int main(int argc, char** argv)
{
    if (tool::wantsHelp(argc, argv)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    Options options;
    std::string problem = parse(argc, argv, options);
    if (!problem.empty())
        return tool::usageError("pal-msiexec", problem);
    if (!tool::usePlatformRoot(options.root))
        return tool::usageError("pal-msiexec", tool::kNoPlatformRoot);
    int result = run(options);
    std::fflush(stdout);
    return result;
}
