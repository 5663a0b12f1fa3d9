// Stand-in for the message manager's library HBMSGM64.dll, placed and published by 'hbmsgm run'.
// Each entry takes one pointer to its parameter block and returns an int. A message is copied
// deep within the call and sent to hbmsgm over the pipe "\\.\pipe\HBMSGM64"; a listener thread keeps
// a connection on which hbmsgm sends every answer, keeps the answers for MsgmiReceiveMessage_d and
// signals the event selected for the message. The ids belong to one run of hbmsgm: when it ends
// (the connection breaks) they are forgotten, and MsgmiReceiveMessage_d answers kUnknownMessage for
// any id the running manager did not issue, as it does in a library loaded anew.
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include <windows.h>

#include "MsgmWire.h"

#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr size_t kSendBlockBytes = 72;
constexpr size_t kChoiceHeaderBytes = 16;
constexpr size_t kChoiceListBytes = 16;
constexpr size_t kChoiceEntryBytes = 24;
constexpr size_t kMessageRecordBytes = 88;
constexpr size_t kJobRecordBytes = 40;
constexpr uint32_t kMaxChoices = 16;
constexpr DWORD kReplyBytes = 256;

template <class T>
T field(const void* record, size_t offset)
{
    T value;
    memcpy(&value, static_cast<const BYTE*>(record) + offset, sizeof value);
    return value;
}

std::string bytesOf(const void* record, size_t size)
{
    return record ? std::string(static_cast<const char*>(record), size) : std::string();
}

std::string textAt(const void* record, size_t offset)
{
    const char* text = record ? field<const char*>(record, offset) : nullptr;
    return text ? text : "";
}

// Lives for the process: the listener thread may still be reading when the process ends.
struct State {
    std::mutex lock;
    HANDLE listener = nullptr; // the LISTEN connection while it is open
    std::set<uint32_t> issued; // by the running manager, through this library
    std::map<uint32_t, uint32_t> answers;
    std::map<uint32_t, HANDLE> events;
};

State& state()
{
    static State* instance = new State;
    return *instance;
}

void takeAnswer(uint32_t id, uint32_t select)
{
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.answers[id] = select;
    auto event = s.events.find(id);
    if (event != s.events.end())
        SetEvent(event->second);
}

DWORD WINAPI listenForAnswers(LPVOID connection)
{
    HANDLE pipe = connection;
    for (;;) {
        char bytes[8];
        DWORD read = 0;
        if (!ReadFile(pipe, bytes, sizeof bytes, &read, nullptr) || read != sizeof bytes)
            break;
        uint32_t id, select;
        memcpy(&id, bytes, 4);
        memcpy(&select, bytes + 4, 4);
        takeAnswer(id, select);
    }
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.listener == pipe) { // the manager ended: its messages are gone with it
        s.listener = nullptr;
        s.issued.clear();
        s.answers.clear();
        s.events.clear();
    }
    CloseHandle(pipe);
    return 0;
}

// Connects the listener unless it is connected; FALSE when hbmsgm does not answer.
BOOL ensureListener()
{
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.listener)
        return TRUE;
    HANDLE pipe = CreateFileA(MSGM_PIPE_NAME, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE)
        return FALSE;
    DWORD mode = PIPE_READMODE_MESSAGE;
    SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);
    std::string request = msgm::Writer().u32(msgm::kListen).bytes();
    DWORD written = 0, read = 0;
    char ack[4];
    HANDLE thread = nullptr;
    if (WriteFile(pipe, request.data(), static_cast<DWORD>(request.size()), &written, nullptr) &&
        ReadFile(pipe, ack, sizeof ack, &read, nullptr) && read == sizeof ack)
        thread = CreateThread(nullptr, 0, listenForAnswers, pipe, 0, nullptr);
    if (!thread) {
        CloseHandle(pipe);
        return FALSE;
    }
    CloseHandle(thread);
    s.listener = pipe;
    return TRUE;
}

// One request and its reply; FALSE when hbmsgm cannot be reached.
BOOL call(const std::string& request, std::string& reply)
{
    char buffer[kReplyBytes];
    DWORD read = 0;
    if (!CallNamedPipeA(MSGM_PIPE_NAME, const_cast<char*>(request.data()), static_cast<DWORD>(request.size()),
                        buffer, sizeof buffer, &read, NMPWAIT_USE_DEFAULT_WAIT))
        return FALSE;
    reply.assign(buffer, read);
    return TRUE;
}

int callForInt(const std::string& request)
{
    std::string reply;
    uint32_t result = 0;
    msgm::Reader in(reply);
    if (!call(request, reply) || !in.u32(result))
        return -1;
    return static_cast<int>(result);
}

// The message and every record it points to, copied before the call returns.
msgm::Message copyMessage(const void* block)
{
    msgm::Message m;
    m.sendBlock = bytesOf(block, kSendBlockBytes);
    m.kind = field<uint32_t>(block, 0);
    m.text = textAt(block, 8);
    m.msgNo = field<uint16_t>(block, 24);
    m.type = field<uint16_t>(block, 26);
    m.sender = textAt(block, 32);
    const void* header = field<const void*>(block, 48);
    m.choiceHeader = bytesOf(header, kChoiceHeaderBytes);
    const void* list = header && field<uint32_t>(header, 0) ? field<const void*>(header, 8) : nullptr;
    m.choiceList = bytesOf(list, kChoiceListBytes);
    const BYTE* entries = list ? field<const BYTE*>(list, 8) : nullptr;
    uint32_t count = list && entries ? std::min(field<uint32_t>(list, 0), kMaxChoices) : 0;
    m.choiceEntries = bytesOf(entries, count * kChoiceEntryBytes);
    for (uint32_t i = 0; i < count; ++i) {
        const BYTE* entry = entries + i * kChoiceEntryBytes;
        m.choices.push_back({field<uint32_t>(entry, 0), textAt(entry, 8)});
    }
    const void* message = field<const void*>(block, 64);
    m.messageRecord = bytesOf(message, kMessageRecordBytes);
    const void* job = message ? field<const void*>(message, 48) : nullptr;
    m.jobRecord = bytesOf(job, kJobRecordBytes);
    if (job) {
        m.printer = textAt(job, 8);
        m.jobId = field<uint32_t>(job, 16);
        m.machine = textAt(job, 32);
    }
    return m;
}

} // namespace

STANDIN_EXPORT int MsgmiSendMessageEx_d(void* block)
{
    if (!block)
        return -1;
    // Connected before the message goes out, so that an answer given at once is not missed.
    if (!ensureListener())
        return -1;
    msgm::Writer request;
    request.u32(msgm::kSend).u32(GetCurrentProcessId());
    msgm::writeMessage(request, copyMessage(block));
    int id = callForInt(request.bytes());
    if (id > 0) {
        State& s = state();
        std::lock_guard<std::mutex> guard(s.lock);
        s.issued.insert(static_cast<uint32_t>(id));
    }
    return id;
}

STANDIN_EXPORT int MsgmiReceiveMessage_d(void* block)
{
    if (!block || !field<void*>(block, 8))
        return -1;
    uint32_t id = field<uint32_t>(block, 0);
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    auto answer = s.answers.find(id);
    if (answer == s.answers.end())
        return s.issued.count(id) ? -1 : msgm::kUnknownMessage;
    auto* reply = field<BYTE*>(block, 8);
    memcpy(reply + 8, &answer->second, 4);
    return 0;
}

STANDIN_EXPORT int MsgmiCancelReplyV31_d(void* block)
{
    const void* target = block ? field<const void*>(block, 8) : nullptr;
    if (!target)
        return -1;
    return callForInt(msgm::Writer().u32(msgm::kCancel).u32(field<uint32_t>(target, 4)).bytes());
}

STANDIN_EXPORT int MsgmiEventSelect_d(void* block)
{
    if (!block)
        return -1;
    uint32_t id = field<uint32_t>(block, 0);
    auto event = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(field<uint64_t>(block, 8)));
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.events[id] = event;
    if (s.answers.count(id))
        SetEvent(event);
    return 0;
}

STANDIN_EXPORT int MsgmiCreateNamedEvent_d(void* block)
{
    HANDLE* handle = block ? field<HANDLE*>(block, 0) : nullptr;
    auto* value = block ? field<uint64_t*>(block, 8) : nullptr;
    if (!handle || !value)
        return -1;
    *handle = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!*handle)
        return -1;
    *value = reinterpret_cast<uintptr_t>(*handle);
    return 0;
}
