// hbphstd: installs the print-manager stand-in HBPHSTD64 and shows its journal.
#include <cstdio>
#include <cstring>
#include <string>

#include <windows.h>

#include "Journal.h"
#include "PlaceLibrary.h"
#include "common/ToolSupport.h"

namespace {

const char kTool[] = "hbphstd";
const char kKey[] = "Software\\Harbor\\HBDBCMN\\CurrentVersion\\MP01";

const char kUsage[] =
    "Usage: hbphstd install FOLDER [--legacy] [--root DIR]\n"
    "       hbphstd journal [--follow] [--root DIR]\n"
    "\n"
    "The print-manager stand-in HBPHSTD64.dll.\n"
    "  install FOLDER  places the library in FOLDER (a C: path such as C:\\Harbor, or a Linux path),\n"
    "                  writes a default HBPHSTD64.ini beside it when there is none, and sets\n"
    "                  HKLM\\Software\\Harbor\\HBDBCMN\\CurrentVersion\\MP01 \"ComponentPath\" to FOLDER;\n"
    "                  a copy already there is used as it is when it is the same, and one that\n"
    "                  differs cannot be replaced while a process (the service) has it loaded\n"
    "  --legacy        the library of the old interface, without PrStatusNoticeStartExD and\n"
    "                  PrStatusSendExD; it works at interface level 0 only, so a new\n"
    "                  HBPHSTD64.ini gets Level=0 (an existing one is kept: set Level=0 there)\n"
    "  journal         prints journal.log of the installed library: one JSON line per call\n"
    "  --follow        keeps printing the lines that are appended (Ctrl-C ends)\n"
    "  --root DIR      the platform root (default: $PAL_ROOT)\n"
    "  --help          show this help\n"
    "\n"
    "HBPHSTD64.ini beside the library is read at every call:\n"
    "  [PrintManager] Level=0|1|2, HeldJobs=ID,ID,... (answered 1 to status 0x400), Rename=TEXT\n"
    "  [ENTRY]        Result=N, LastError=N   for an entry such as PrStatusSendExD\n"
    "                 Value=N, Value2=N       handed back by PrGetExtInfoD, PrAttributeGetDA/DW\n"
    "                 Text=TEXT               written by PrNeedSendNoticeMessageD, PrGetNoticeHostD\n"
    "\n"
    "Exit status: 0 success, 1 failure, 2 wrong usage.\n";

// A new HBPHSTD64.ini at the interface level of the library installed: the old library has no Ex
// entries to call at a higher level.
#define SETTINGS_INI(level)                                                                              \
    "; Read at every call of the print-manager stand-in.\r\n"                                               \
    "[PrintManager]\r\n"                                                                                    \
    "Level=" level "\r\n"                                                                                   \
    "HeldJobs=\r\n"                                                                                         \
    "Rename=\r\n"                                                                                           \
    "\r\n"                                                                                                  \
    "[PrStatusSendExD]\r\n"                                                                                 \
    "Result=0\r\n"
const char kDefaultIni[] = SETTINGS_INI("2");
const char kLegacyIni[] = SETTINGS_INI("0");

// FOLDER\NAME, or FOLDER/NAME for a Linux folder.
std::string joined(const std::string& folder, const char* name)
{
    return folder + (folder[0] == '/' ? "/" : "\\") + name;
}

std::string trimmedFolder(std::string folder)
{
    while (folder.size() > 1 && (folder.back() == '\\' || folder.back() == '/'))
        folder.pop_back();
    return folder;
}

// Creates folder and the folders on its way.
bool createFolders(const std::string& folder)
{
    for (size_t i = 1; i <= folder.size(); ++i) {
        if (i < folder.size() && folder[i] != '\\' && folder[i] != '/')
            continue;
        std::string part = folder.substr(0, i);
        if (part.size() == 2 && part[1] == ':')
            continue;
        if (!CreateDirectoryA(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    return true;
}

bool writeFile(const std::string& path, const char* text)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_EXISTS;
    DWORD written = 0;
    BOOL ok = WriteFile(file, text, static_cast<DWORD>(strlen(text)), &written, nullptr);
    CloseHandle(file);
    return ok;
}

bool setComponentPath(const std::string& folder)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    LSTATUS status = RegSetValueExA(key, "ComponentPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                                    static_cast<DWORD>(folder.size() + 1));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

int install(const std::string& given, bool legacy)
{
    std::string folder = trimmedFolder(given);
    if (!createFolders(folder)) {
        fprintf(stderr, "%s: cannot create %s (error %u)\n", kTool, folder.c_str(), GetLastError());
        return tool::kExitFailure;
    }
    std::string library = journal::folderOf(reinterpret_cast<const void*>(&install)) +
                          (legacy ? "/HBPHSTD64-legacy.so" : "/HBPHSTD64.so");
    std::string target = joined(folder, "HBPHSTD64.so");
    bool reused = false;
    if (DWORD error = journal::placeLibrary(library, target, reused)) {
        fprintf(stderr, "%s: %s\n", kTool, journal::placingProblem(error, library, target).c_str());
        return tool::kExitFailure;
    }
    std::string settings = joined(folder, "HBPHSTD64.ini");
    if (!writeFile(settings, legacy ? kLegacyIni : kDefaultIni) || !setComponentPath(folder)) {
        fprintf(stderr, "%s: cannot write the settings (error %u)\n", kTool, GetLastError());
        return tool::kExitFailure;
    }
    if (legacy && GetPrivateProfileIntA("PrintManager", "Level", 2, settings.c_str()) != 0)
        fprintf(stderr, "%s: warning: %s keeps a Level other than 0, at which the legacy library refuses "
                        "every job; set Level=0 there\n",
                kTool, settings.c_str());
    printf("HBPHSTD64 installed in %s%s%s\n", folder.c_str(), legacy ? " (legacy interface)" : "",
           reused ? " (the copy there is the same and stays)" : "");
    return 0;
}

// FOLDER\journal.log of the installed library.
bool journalPath(std::string& path)
{
    char folder[MAX_PATH] = {};
    DWORD size = sizeof folder - 1;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    LSTATUS status = RegQueryValueExA(key, "ComponentPath", nullptr, nullptr, reinterpret_cast<BYTE*>(folder), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        return false;
    path = joined(folder, "journal.log");
    return true;
}

int showJournal(bool follow)
{
    std::string path;
    if (!journalPath(path)) {
        fprintf(stderr, "%s: the print manager is not installed (run '%s install FOLDER')\n", kTool, kTool);
        return tool::kExitFailure;
    }
    if (journal::print(path, follow) != 0) {
        fprintf(stderr, "%s: no journal yet at %s\n", kTool, path.c_str());
        return tool::kExitFailure;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (tool::wantsHelp(argc, argv)) {
        fputs(kUsage, stdout);
        return 0;
    }
    std::string command, folder, root;
    bool legacy = false, follow = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--root" && i + 1 < argc)
            root = argv[++i];
        else if (arg == "--legacy")
            legacy = true;
        else if (arg == "--follow")
            follow = true;
        else if (command.empty())
            command = arg;
        else if (command == "install" && folder.empty())
            folder = arg;
        else
            return tool::usageError(kTool, "unexpected argument '" + arg + "'");
    }
    if (!tool::usePlatformRoot(root))
        return tool::usageError(kTool, tool::kNoPlatformRoot);
    if (command == "install" && !folder.empty())
        return install(folder, legacy);
    if (command == "journal")
        return showJournal(follow);
    return tool::usageError(kTool, command.empty() ? "no command" : "unknown command '" + command + "'");
}
