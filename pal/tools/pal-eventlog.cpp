// pal-eventlog: prints or clears the event log of a platform root.
#include <cstdio>
#include <ctime>
#include <string>

#include <windows.h>

#include "common/ToolSupport.h"

namespace {

using tool::kExitFailure;
using tool::narrow;

const char kUsage[] =
    "Usage: pal-eventlog [--source NAME] [--root DIR]\n"
    "       pal-eventlog --clear [--root DIR]\n"
    "\n"
    "Prints the records of the platform root's event log, oldest first, one a line:\n"
    "  DATE TIME SOURCE TYPE ID cat=CATEGORY \"STRING\"... [data=BYTES]\n"
    "TIME is local time, TYPE one of Error, Warning, Information, AuditSuccess, AuditFailure,\n"
    "Success, ID the event id as 0x%08X. Strings are quoted, with \\\", \\\\, \\n, \\r, \\t and \\xHH escapes.\n"
    "\n"
    "  --source NAME  only the records of this source (case-insensitive)\n"
    "  --clear        empty the event log\n"
    "  --root DIR     the platform root (default: $PAL_ROOT)\n"
    "  --help         show this help\n"
    "\n"
    "Exit status: 0 success, 1 the log could not be read or cleared, 2 wrong usage.\n";

struct Options {
    std::string source;
    bool clear = false;
    std::string root;
};

const char* typeWord(WORD type)
{
    switch (type) {
    case EVENTLOG_SUCCESS:
        return "Success";
    case EVENTLOG_ERROR_TYPE:
        return "Error";
    case EVENTLOG_WARNING_TYPE:
        return "Warning";
    case EVENTLOG_INFORMATION_TYPE:
        return "Information";
    case EVENTLOG_AUDIT_SUCCESS:
        return "AuditSuccess";
    case EVENTLOG_AUDIT_FAILURE:
        return "AuditFailure";
    default:
        return nullptr;
    }
}

std::string quoted(LPCWSTR text)
{
    std::string out = "\"";
    for (char c : narrow(text)) {
        char escape[8];
        switch (c) {
        case '"':
        case '\\':
            out += '\\';
            out += c;
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
                std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned char>(c));
                out += escape;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

std::string localTime(ULONGLONG timeMs)
{
    const time_t seconds = static_cast<time_t>(timeMs / 1000);
    struct tm parts {};
    localtime_r(&seconds, &parts);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03u", parts.tm_year + 1900, parts.tm_mon + 1,
                  parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec, static_cast<unsigned>(timeMs % 1000));
    return text;
}

void printEntry(const PAL_EVENTLOG_ENTRY& entry)
{
    char type[16];
    const char* word = typeWord(entry.eventType);
    if (!word) {
        std::snprintf(type, sizeof type, "Type%u", entry.eventType);
        word = type;
    }
    std::string line = localTime(entry.timeMs) + " " + narrow(entry.source) + " " + word;
    char id[32];
    std::snprintf(id, sizeof id, " 0x%08X cat=%u", entry.eventId, entry.category);
    line += id;
    for (WORD i = 0; i < entry.stringCount; ++i)
        line += " " + quoted(entry.strings[i]);
    if (entry.dataSize > 0)
        line += " data=" + std::to_string(entry.dataSize);
    std::printf("%s\n", line.c_str());
}

BOOL printIfSource(const PAL_EVENTLOG_ENTRY* entry, void* context)
{
    const auto* source = static_cast<const std::u16string*>(context);
    if (source->empty() || lstrcmpiW(entry->source, source->c_str()) == 0)
        printEntry(*entry);
    return TRUE;
}

bool parseOptions(int argc, char** argv, Options& options, std::string& problem)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasArgument = i + 1 < argc;
        if (arg == "--clear") {
            options.clear = true;
        } else if ((arg == "--source" || arg == "--root") && hasArgument) {
            (arg == "--source" ? options.source : options.root) = argv[++i];
        } else if (arg == "--source" || arg == "--root") {
            problem = arg + " needs an argument";
            return false;
        } else {
            problem = "unknown argument " + arg;
            return false;
        }
    }
    if (options.clear && !options.source.empty()) {
        problem = "--clear empties the whole log; it takes no --source";
        return false;
    }
    return true;
}

int usageError(const std::string& problem)
{
    return tool::usageError("pal-eventlog", problem);
}

} // namespace

int main(int argc, char** argv)
{
    if (tool::wantsHelp(argc, argv)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    Options options;
    std::string problem;
    if (!parseOptions(argc, argv, options, problem))
        return usageError(problem);
    if (!tool::usePlatformRoot(options.root))
        return usageError(tool::kNoPlatformRoot);
    if (options.clear) {
        if (palClearEventLog())
            return 0;
        std::fprintf(stderr, "pal-eventlog: cannot clear the event log (error %u)\n", GetLastError());
        return kExitFailure;
    }
    std::u16string source = tool::widen(options.source);
    if (!palReadEventLog(printIfSource, &source)) {
        std::fprintf(stderr, "pal-eventlog: cannot read the event log (error %u)\n", GetLastError());
        return kExitFailure;
    }
    return 0;
}
