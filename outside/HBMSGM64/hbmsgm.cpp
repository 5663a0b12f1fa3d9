// hbmsgm: the stand-in message manager. 'run' publishes the shared section "Global\HBMSGMMF" with
// the library's folder, places HBMSGM64 there and serves the library over "\\.\pipe\HBMSGM64":
// every message gets an id, a line in journal.log and, by policy, its answer; 'answer' and 'list'
// talk to the running manager.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <windows.h>

#include "Journal.h"
#include "MsgmWire.h"
#include "PlaceLibrary.h"
#include "common/ToolSupport.h"

namespace {

const char kTool[] = "hbmsgm";
const char kSection[] = "Global\\HBMSGMMF";
constexpr DWORD kSectionBytes = 512;
constexpr DWORD kPipeTimeoutMs = 5000;
constexpr DWORD kReadChunk = 4096;
// Instances waiting for clients at any time: a client finding none would be refused at once.
constexpr int kAcceptors = 4;

const char kUsage[] =
    "Usage: hbmsgm run FOLDER [--policy VERB,...] [--show] [--root DIR]\n"
    "       hbmsgm answer ID VERB [--root DIR]\n"
    "       hbmsgm list [--root DIR]\n"
    "\n"
    "The message-manager stand-in HBMSGM64.\n"
    "  run FOLDER     places HBMSGM64.dll in FOLDER (a C: path or a Linux path), publishes FOLDER in\n"
    "                 the shared section \"Global\\HBMSGMMF\" and shows messages until Ctrl-C;\n"
    "                 each message is a JSON line in FOLDER's journal.log. A copy already there\n"
    "                 is used as it is when it is the same; one that differs cannot be replaced\n"
    "                 while a process (the service) has it loaded\n"
    "  --policy LIST  answers each message at once with the first verb of LIST that it offers\n"
    "  --show         prints each message and answer\n"
    "  answer ID VERB answers message ID as the user would\n"
    "  list           lists the messages waiting for an answer\n"
    "  --root DIR     the platform root (default: $PAL_ROOT)\n"
    "  --help         show this help\n"
    "\n"
    "Verbs: continue (choice 0x44301), delete (0x44400), hold (0x44800 or 0x44801).\n"
    "Exit status: 0 success, 1 failure, 2 wrong usage.\n";

std::vector<uint32_t> choicesOfVerb(const std::string& verb)
{
    if (verb == "continue")
        return {0x44301};
    if (verb == "delete")
        return {0x44400};
    if (verb == "hold")
        return {0x44800, 0x44801};
    return {};
}

std::string verbOfChoice(uint32_t id)
{
    for (const char* verb : {"continue", "delete", "hold"})
        for (uint32_t choice : choicesOfVerb(verb))
            if (choice == id)
                return verb;
    return "";
}

std::vector<std::string> split(const std::string& text)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos)
            comma = text.size();
        if (comma > start)
            parts.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
    return parts;
}

struct Entry {
    msgm::Message message;
    bool closed = false;
    uint32_t select = 0; // 0 until answered
};

struct Manager {
    std::mutex lock;
    std::string journalPath;
    std::vector<std::string> policy;
    bool show = false;
    uint32_t nextId = 1;
    std::map<uint32_t, Entry> entries;
    std::vector<HANDLE> listeners;
};

Manager g_manager;

// Position (1 first) of the first choice of verb in the message, 0 when it offers none.
uint32_t positionOf(const msgm::Message& message, const std::string& verb)
{
    for (size_t i = 0; i < message.choices.size(); ++i)
        for (uint32_t choice : choicesOfVerb(verb))
            if (message.choices[i].id == choice)
                return static_cast<uint32_t>(i + 1);
    return 0;
}

std::string choicesJson(const msgm::Message& message)
{
    std::string json = "[";
    for (const msgm::Choice& choice : message.choices) {
        journal::Line line;
        line.number("id", choice.id).text("label", choice.label.c_str());
        json += (json.size() > 1 ? "," : "") + line.str();
    }
    return json + "]";
}

void journalMessage(uint32_t id, const msgm::Message& m)
{
    journal::Line job, blocks, line;
    job.text("printer", m.printer.c_str()).number("job", m.jobId).text("machine", m.machine.c_str());
    blocks.hex("send", m.sendBlock.data(), m.sendBlock.size());
    blocks.hex("choiceHeader", m.choiceHeader.data(), m.choiceHeader.size());
    blocks.hex("choiceList", m.choiceList.data(), m.choiceList.size());
    blocks.hex("choices", m.choiceEntries.data(), m.choiceEntries.size());
    blocks.hex("message", m.messageRecord.data(), m.messageRecord.size());
    blocks.hex("job", m.jobRecord.data(), m.jobRecord.size());
    line.utf8("event", "message").number("id", id).number("kind", m.kind).number("msgNo", m.msgNo);
    line.number("type", m.type).text("text", m.text.c_str()).text("sender", m.sender.c_str());
    line.json("choices", choicesJson(m)).json("job", job.str()).json("blocks", blocks.str());
    journal::append(g_manager.journalPath, line.str());
}

void showMessage(uint32_t id, const msgm::Message& m)
{
    printf("hbmsgm: message %u from %s (class %u, %s job %u)\n", id, journal::utf8FromAnsi(m.sender.c_str()).c_str(),
           m.msgNo, journal::utf8FromAnsi(m.printer.c_str()).c_str(), m.jobId);
    printf("  %s\n", journal::utf8FromAnsi(m.text.c_str()).c_str());
    for (size_t i = 0; i < m.choices.size(); ++i)
        printf("  %zu: %s (%s)\n", i + 1, journal::utf8FromAnsi(m.choices[i].label.c_str()).c_str(),
               verbOfChoice(m.choices[i].id).c_str());
    fflush(stdout);
}

// Records the answer and sends it to every listening library; the manager's lock is held.
void answerLocked(uint32_t id, Entry& entry, const std::string& verb, uint32_t select, const char* by)
{
    entry.select = select;
    journal::Line line;
    line.utf8("event", "answer").number("id", id).utf8("verb", verb).number("select", select).utf8("by", by);
    journal::append(g_manager.journalPath, line.str());
    if (g_manager.show) {
        printf("hbmsgm: message %u answered %s (%u)\n", id, verb.c_str(), select);
        fflush(stdout);
    }
    std::string notice = msgm::Writer().u32(id).u32(select).bytes();
    for (auto it = g_manager.listeners.begin(); it != g_manager.listeners.end();) {
        DWORD written = 0;
        if (WriteFile(*it, notice.data(), static_cast<DWORD>(notice.size()), &written, nullptr)) {
            ++it;
        } else {
            CloseHandle(*it);
            it = g_manager.listeners.erase(it);
        }
    }
}

std::string onSend(msgm::Reader& in)
{
    uint32_t pid = 0;
    msgm::Message message;
    if (!in.u32(pid) || !msgm::readMessage(in, message))
        return msgm::Writer().u32(static_cast<uint32_t>(-1)).bytes();
    std::lock_guard<std::mutex> guard(g_manager.lock);
    uint32_t id = g_manager.nextId++;
    Entry& entry = g_manager.entries[id];
    entry.message = message;
    journalMessage(id, message);
    if (g_manager.show)
        showMessage(id, message);
    for (const std::string& verb : g_manager.policy)
        if (uint32_t select = positionOf(message, verb)) {
            answerLocked(id, entry, verb, select, "policy");
            break;
        }
    return msgm::Writer().u32(id).bytes();
}

std::string onCancel(msgm::Reader& in)
{
    uint32_t id = 0;
    std::lock_guard<std::mutex> guard(g_manager.lock);
    auto entry = in.u32(id) ? g_manager.entries.find(id) : g_manager.entries.end();
    if (entry == g_manager.entries.end() || entry->second.closed)
        return msgm::Writer().u32(static_cast<uint32_t>(-1)).bytes();
    entry->second.closed = true;
    journal::append(g_manager.journalPath, journal::Line().utf8("event", "close").number("id", id).str());
    return msgm::Writer().u32(0).bytes();
}

std::string onAnswer(msgm::Reader& in)
{
    uint32_t id = 0;
    std::string verb;
    auto reply = [](int result, const std::string& text) {
        return msgm::Writer().u32(static_cast<uint32_t>(result)).text(text).bytes();
    };
    if (!in.u32(id) || !in.text(verb))
        return reply(-1, "bad request");
    std::lock_guard<std::mutex> guard(g_manager.lock);
    auto entry = g_manager.entries.find(id);
    if (entry == g_manager.entries.end() || entry->second.closed || entry->second.select)
        return reply(-1, "no message " + std::to_string(id) + " waits for an answer");
    uint32_t select = positionOf(entry->second.message, verb);
    if (!select)
        return reply(-2, "message " + std::to_string(id) + " does not offer " + verb);
    answerLocked(id, entry->second, verb, select, "command");
    return reply(0, "message " + std::to_string(id) + " answered " + verb + " (choice " + std::to_string(select) + ")");
}

std::string onList()
{
    std::string text;
    std::lock_guard<std::mutex> guard(g_manager.lock);
    for (const auto& [id, entry] : g_manager.entries) {
        if (entry.closed || entry.select)
            continue;
        const msgm::Message& m = entry.message;
        std::string verbs;
        for (const msgm::Choice& choice : m.choices)
            verbs += (verbs.empty() ? "" : ",") + verbOfChoice(choice.id);
        std::string first = journal::utf8FromAnsi(m.text.c_str());
        first = first.substr(0, first.find('\n'));
        text += std::to_string(id) + "  class " + std::to_string(m.msgNo) + "  " +
                journal::utf8FromAnsi(m.printer.c_str()) + " job " + std::to_string(m.jobId) + "  [" + verbs +
                "]  " + first + "\n";
    }
    return msgm::Writer().text(text).bytes();
}

// One whole message from the pipe.
bool readRequest(HANDLE pipe, std::string& request)
{
    char chunk[kReadChunk];
    for (;;) {
        DWORD read = 0;
        BOOL ok = ReadFile(pipe, chunk, sizeof chunk, &read, nullptr);
        request.append(chunk, read);
        if (ok)
            return true;
        if (GetLastError() != ERROR_MORE_DATA)
            return false;
    }
}

DWORD WINAPI serve(LPVOID connection)
{
    HANDLE pipe = connection;
    std::string request;
    uint32_t op = 0;
    msgm::Reader in(request);
    if (readRequest(pipe, request) && in.u32(op)) {
        if (op == msgm::kListen) {
            // Registered before the acknowledgement: no answer given after it is missed.
            std::lock_guard<std::mutex> guard(g_manager.lock);
            g_manager.listeners.push_back(pipe);
            std::string ack = msgm::Writer().u32(0).bytes();
            DWORD written = 0;
            WriteFile(pipe, ack.data(), static_cast<DWORD>(ack.size()), &written, nullptr);
            return 0;
        }
        std::string reply = op == msgm::kSend     ? onSend(in)
                            : op == msgm::kCancel ? onCancel(in)
                            : op == msgm::kAnswer ? onAnswer(in)
                            : op == msgm::kList   ? onList()
                                                  : msgm::Writer().u32(static_cast<uint32_t>(-1)).bytes();
        DWORD written = 0;
        WriteFile(pipe, reply.data(), static_cast<DWORD>(reply.size()), &written, nullptr);
        FlushFileBuffers(pipe);
    }
    DisconnectNamedPipe(pipe);
    CloseHandle(pipe);
    return 0;
}

HANDLE newInstance()
{
    static SECURITY_DESCRIPTOR descriptor;
    static SECURITY_ATTRIBUTES attributes = [] {
        InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
        SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE); // every local user may connect
        return SECURITY_ATTRIBUTES{sizeof(SECURITY_ATTRIBUTES), &descriptor, FALSE};
    }();
    return CreateNamedPipeA(MSGM_PIPE_NAME, PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                            PIPE_UNLIMITED_INSTANCES, 0, 0, kPipeTimeoutMs, &attributes);
}

// Serves the clients of one instance after another, beginning with the instance given.
DWORD WINAPI acceptClients(LPVOID firstInstance)
{
    for (HANDLE pipe = firstInstance; pipe != INVALID_HANDLE_VALUE; pipe = newInstance()) {
        if (!ConnectNamedPipe(pipe, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED &&
            GetLastError() != ERROR_NO_DATA) {
            CloseHandle(pipe);
            continue;
        }
        HANDLE thread = CreateThread(nullptr, 0, serve, pipe, 0, nullptr);
        if (thread)
            CloseHandle(thread);
        else
            CloseHandle(pipe);
    }
    fprintf(stderr, "%s: cannot create the pipe (error %u)\n", kTool, GetLastError());
    return 1;
}

std::string withSeparator(const std::string& folder)
{
    char last = folder.empty() ? 0 : folder.back();
    if (last == '\\' || last == '/')
        return folder;
    return folder + (folder[0] == '/' ? "/" : "\\");
}

bool createFolders(const std::string& folder)
{
    for (size_t i = 1; i <= folder.size(); ++i) {
        if (i < folder.size() && folder[i] != '\\' && folder[i] != '/')
            continue;
        std::string part = folder.substr(0, i);
        if ((part.size() == 2 && part[1] == ':') || part.back() == '\\' || part.back() == '/')
            continue;
        if (!CreateDirectoryA(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    return true;
}

int run(const std::string& given, const std::string& policy, bool show)
{
    std::string folder = withSeparator(given);
    if (folder.size() >= 260) {
        fprintf(stderr, "%s: the folder's path is too long for the section (259 bytes at most)\n", kTool);
        return tool::kExitFailure;
    }
    for (const std::string& verb : split(policy))
        if (choicesOfVerb(verb).empty())
            return tool::usageError(kTool, "unknown verb '" + verb + "' in --policy");
    if (!createFolders(folder)) {
        fprintf(stderr, "%s: cannot create %s (error %u)\n", kTool, folder.c_str(), GetLastError());
        return tool::kExitFailure;
    }
    std::string library = journal::folderOf(reinterpret_cast<const void*>(&run)) + "/HBMSGM64.so";
    std::string placed = folder + "HBMSGM64.so";
    bool reused = false;
    if (DWORD error = journal::placeLibrary(library, placed, reused)) {
        fprintf(stderr, "%s: %s\n", kTool, journal::placingProblem(error, library, placed).c_str());
        return tool::kExitFailure;
    }
    g_manager.journalPath = folder + "journal.log";
    g_manager.policy = split(policy);
    g_manager.show = show;

    HANDLE section = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kSectionBytes, kSection);
    if (!section || GetLastError() == ERROR_ALREADY_EXISTS) {
        fprintf(stderr, "%s: %s\n", kTool,
                section ? "another message manager runs" : "cannot create the shared section");
        return tool::kExitFailure;
    }
    auto* view = static_cast<char*>(MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, 0));
    if (!view) {
        fprintf(stderr, "%s: cannot map the shared section (error %u)\n", kTool, GetLastError());
        return tool::kExitFailure;
    }
    memcpy(view, folder.c_str(), folder.size() + 1); // value 5: the library's folder

    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr); // threads made from here on leave the signals to main
    for (int i = 0; i < kAcceptors; ++i) {
        HANDLE instance = newInstance();
        HANDLE acceptor = instance == INVALID_HANDLE_VALUE
                              ? nullptr
                              : CreateThread(nullptr, 0, acceptClients, instance, 0, nullptr);
        if (!acceptor) {
            fprintf(stderr, "%s: cannot start serving (error %u)\n", kTool, GetLastError());
            return tool::kExitFailure;
        }
        CloseHandle(acceptor);
    }
    printf("hbmsgm: ready, library in %s\n", folder.c_str());
    fflush(stdout);
    int signal = 0;
    sigwait(&stop, &signal);
    printf("hbmsgm: stopped\n");
    fflush(stdout);
    _exit(0); // the serving threads end with the process; the section goes with its last handle
}

// A request to the running manager; FALSE when none runs.
bool ask(const std::string& request, std::string& reply)
{
    HANDLE section = OpenFileMappingA(FILE_MAP_READ, FALSE, kSection);
    if (!section) {
        fprintf(stderr, "%s: the message manager is not running\n", kTool);
        return false;
    }
    CloseHandle(section);
    char buffer[65536];
    DWORD read = 0;
    if (!CallNamedPipeA(MSGM_PIPE_NAME, const_cast<char*>(request.data()), static_cast<DWORD>(request.size()), buffer,
                        sizeof buffer, &read, NMPWAIT_USE_DEFAULT_WAIT)) {
        fprintf(stderr, "%s: the message manager does not answer (error %u)\n", kTool, GetLastError());
        return false;
    }
    reply.assign(buffer, read);
    return true;
}

int answer(const std::string& idText, const std::string& verb)
{
    char* end = nullptr;
    unsigned long id = strtoul(idText.c_str(), &end, 10);
    if (idText.empty() || *end || id == 0)
        return tool::usageError(kTool, "'" + idText + "' is no message id");
    if (choicesOfVerb(verb).empty())
        return tool::usageError(kTool, "unknown verb '" + verb + "'");
    std::string reply;
    if (!ask(msgm::Writer().u32(msgm::kAnswer).u32(static_cast<uint32_t>(id)).text(verb).bytes(), reply))
        return tool::kExitFailure;
    uint32_t result = 0;
    std::string text;
    msgm::Reader in(reply);
    in.u32(result);
    in.text(text);
    fprintf(result == 0 ? stdout : stderr, "%s\n", text.c_str());
    return result == 0 ? 0 : tool::kExitFailure;
}

int list()
{
    std::string reply, text;
    if (!ask(msgm::Writer().u32(msgm::kList).bytes(), reply))
        return tool::kExitFailure;
    msgm::Reader in(reply);
    in.text(text);
    fputs(text.c_str(), stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (tool::wantsHelp(argc, argv)) {
        fputs(kUsage, stdout);
        return 0;
    }
    std::vector<std::string> words;
    std::string root, policy;
    bool show = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--root" && i + 1 < argc)
            root = argv[++i];
        else if (arg == "--policy" && i + 1 < argc)
            policy = argv[++i];
        else if (arg == "--show")
            show = true;
        else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-')
            return tool::usageError(kTool, "unknown option '" + arg + "'");
        else
            words.push_back(arg);
    }
    if (!tool::usePlatformRoot(root))
        return tool::usageError(kTool, tool::kNoPlatformRoot);
    if (words.size() == 2 && words[0] == "run")
        return run(words[1], policy, show);
    if (words.size() == 3 && words[0] == "answer")
        return answer(words[1], words[2]);
    if (words.size() == 1 && words[0] == "list")
        return list();
    return tool::usageError(kTool, words.empty() ? "no command" : "wrong command '" + words[0] + "'");
}
