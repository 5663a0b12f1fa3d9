// The event log: one file below the platform root, appended to by every process.
//
// <root>/eventlog/Application.evt is a sequence of records. Each ReportEvent appends one record
// with a single write to a descriptor opened with O_APPEND, so records of concurrent processes
// never interleave, and syncs it before returning. Record, numbers little-endian, texts UTF-16LE
// without terminators:
//   4 bytes          "PEVT"
//   u32              record size in bytes, this header and the trailer included
//   u64              time: UTC milliseconds since 1970-01-01
//   u32              process id
//   u32              event id
//   u16              event type (EVENTLOG_*)
//   u16              category
//   u16              number of strings
//   u16              0
//   u32 n, n bytes   source name
//   per string: u32 n, n bytes
//   u32 n, n bytes   raw data
//   u32              record size again
// A reader skips what is not a whole record (a write cut short by a full disk, say) and looks for
// the next "PEVT" whose record is whole.
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

#include "winsock/errno_map.h"
#include "threads/object.h"
#include "pal/eventlog.h"
#include "registry/registry_bytes.h"
#include "files/root.h"
#include "text/text_ansi.h"

namespace pal {
namespace {

constexpr BYTE kRecordMagic[4] = {'P', 'E', 'V', 'T'};
constexpr size_t kFixedSize = 4 + 4 + 8 + 4 + 4 + 2 + 2 + 2 + 2 + 4 + 4 + 4; // no source, strings or data
constexpr size_t kMaxRecordSize = 1 << 20;

class EventSource : public Object {
public:
    explicit EventSource(std::u16string name) : name(std::move(name)) {}
    const std::u16string name;
};

std::string logPath()
{
    std::string folder = rootFolder("eventlog");
    return folder.empty() ? folder : folder + "/Application.evt";
}

struct Record {
    uint64_t timeMs = 0;
    uint32_t processId = 0;
    uint32_t eventId = 0;
    uint16_t eventType = 0;
    uint16_t category = 0;
    std::u16string source;
    std::vector<std::u16string> strings;
    std::vector<BYTE> data;
};

std::vector<BYTE> encodeRecord(const Record& record)
{
    ByteWriter writer;
    writer.raw(kRecordMagic, sizeof kRecordMagic);
    writer.u32(0); // size, known at the end
    writer.u64(record.timeMs);
    writer.u32(record.processId);
    writer.u32(record.eventId);
    writer.u16(record.eventType);
    writer.u16(record.category);
    writer.u16(static_cast<uint16_t>(record.strings.size()));
    writer.u16(0);
    writer.text(record.source);
    for (const auto& text : record.strings)
        writer.text(text);
    writer.bytes(record.data.data(), record.data.size());
    const auto size = static_cast<uint32_t>(writer.out.size() + 4);
    writer.u32(size);
    for (int i = 0; i < 4; ++i)
        writer.out[4 + i] = static_cast<BYTE>(size >> (8 * i));
    return std::move(writer.out);
}

// The record's fields between its size and its trailer.
bool decodeRecord(const BYTE* body, size_t size, Record& record)
{
    ByteReader reader(body, size);
    uint16_t stringCount = 0;
    uint16_t reserved = 0;
    if (!reader.u64(record.timeMs) || !reader.u32(record.processId) || !reader.u32(record.eventId) ||
        !reader.u16(record.eventType) || !reader.u16(record.category) || !reader.u16(stringCount) ||
        !reader.u16(reserved) || !reader.text(record.source))
        return false;
    record.strings.resize(stringCount);
    for (auto& text : record.strings)
        if (!reader.text(text))
            return false;
    return reader.bytes(record.data) && reader.remaining() == 0;
}

uint32_t little32(const BYTE* bytes)
{
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// The size of the whole record at `at`, or 0 when there is none.
size_t recordAt(const std::vector<BYTE>& log, size_t at, Record& record)
{
    const size_t left = log.size() - at;
    if (left < kFixedSize || std::memcmp(log.data() + at, kRecordMagic, sizeof kRecordMagic) != 0)
        return 0;
    const size_t size = little32(log.data() + at + 4);
    if (size < kFixedSize || size > left || little32(log.data() + at + size - 4) != size)
        return 0;
    return decodeRecord(log.data() + at + 8, size - 12, record) ? size : 0;
}

bool visit(const Record& record, PAL_EVENTLOG_VISITOR visitor, void* context)
{
    std::vector<LPCWSTR> strings;
    for (const auto& text : record.strings)
        strings.push_back(text.c_str());
    PAL_EVENTLOG_ENTRY entry{};
    entry.timeMs = record.timeMs;
    entry.source = record.source.c_str();
    entry.strings = strings.data();
    entry.data = record.data.data();
    entry.processId = record.processId;
    entry.eventId = record.eventId;
    entry.dataSize = static_cast<DWORD>(record.data.size());
    entry.eventType = record.eventType;
    entry.category = record.category;
    entry.stringCount = static_cast<WORD>(record.strings.size());
    return visitor(&entry, context) != FALSE;
}

DWORD errorFromErrno(int error)
{
    return windowsErrorOf(error, ERROR_WRITE_FAULT);
}

DWORD appendRecord(const std::vector<BYTE>& bytes)
{
    const std::string path = logPath();
    if (path.empty())
        return ERROR_PATH_NOT_FOUND;
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return errorFromErrno(errno);
    ssize_t wrote = 0;
    do
        wrote = ::write(fd, bytes.data(), bytes.size());
    while (wrote < 0 && errno == EINTR);
    DWORD error = ERROR_SUCCESS;
    if (wrote < 0)
        error = errorFromErrno(errno);
    else if (static_cast<size_t>(wrote) != bytes.size())
        error = ERROR_DISK_FULL; // the cut record is skipped by readers
    else if (::fdatasync(fd) != 0)
        error = errorFromErrno(errno);
    ::close(fd);
    return error;
}

uint64_t nowMs()
{
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

BOOL fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

template <class Char, class Widen>
BOOL reportEvent(HANDLE hEventLog, WORD wType, WORD wCategory, DWORD dwEventID, WORD wNumStrings, DWORD dwDataSize,
                 const Char* const* lpStrings, LPVOID lpRawData, Widen widen)
{
    auto source = lookup<EventSource>(hEventLog);
    if (!source)
        return fail(ERROR_INVALID_HANDLE);
    if ((wNumStrings > 0 && !lpStrings) || (dwDataSize > 0 && !lpRawData))
        return fail(ERROR_INVALID_PARAMETER);
    Record record;
    record.timeMs = nowMs();
    record.processId = static_cast<uint32_t>(::getpid());
    record.eventId = dwEventID;
    record.eventType = wType;
    record.category = wCategory;
    record.source = source->name;
    for (WORD i = 0; i < wNumStrings; ++i) {
        if (!lpStrings[i])
            return fail(ERROR_INVALID_PARAMETER);
        record.strings.push_back(widen(lpStrings[i]));
    }
    const auto* data = static_cast<const BYTE*>(lpRawData);
    record.data.assign(data, data + dwDataSize);
    std::vector<BYTE> bytes = encodeRecord(record);
    if (bytes.size() > kMaxRecordSize)
        return fail(ERROR_INVALID_PARAMETER);
    DWORD error = appendRecord(bytes);
    return error == ERROR_SUCCESS ? TRUE : fail(error);
}

std::u16string wideCopy(LPCWSTR text)
{
    return text;
}

std::u16string ansiCopy(LPCSTR text)
{
    return wideFromAnsi(text);
}

bool readWholeFile(const std::string& path, std::vector<BYTE>& bytes, DWORD& error)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = errno == ENOENT ? ERROR_SUCCESS : ERROR_READ_FAULT;
        return error == ERROR_SUCCESS;
    }
    BYTE chunk[65536];
    ssize_t got = 0;
    while ((got = ::read(fd, chunk, sizeof chunk)) != 0) {
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            break;
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    ::close(fd);
    error = got < 0 ? ERROR_READ_FAULT : ERROR_SUCCESS;
    return got == 0;
}

} // namespace
} // namespace pal

using namespace pal;

extern "C" {

HANDLE RegisterEventSourceW(LPCWSTR lpUNCServerName, LPCWSTR lpSourceName)
{
    if (lpUNCServerName && *lpUNCServerName) {
        SetLastError(RPC_S_SERVER_UNAVAILABLE);
        return nullptr;
    }
    if (!lpSourceName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return insertHandle(std::make_shared<EventSource>(lpSourceName));
}

HANDLE RegisterEventSourceA(LPCSTR lpUNCServerName, LPCSTR lpSourceName)
{
    const AnsiArgument server(lpUNCServerName), source(lpSourceName);
    return RegisterEventSourceW(server.get(), source.get());
}

BOOL DeregisterEventSource(HANDLE hEventLog)
{
    if (!lookup<EventSource>(hEventLog) || !removeHandle(hEventLog))
        return fail(ERROR_INVALID_HANDLE);
    return TRUE;
}

BOOL ReportEventW(HANDLE hEventLog, WORD wType, WORD wCategory, DWORD dwEventID, PSID, WORD wNumStrings,
                  DWORD dwDataSize, LPCWSTR* lpStrings, LPVOID lpRawData)
{
    return reportEvent(hEventLog, wType, wCategory, dwEventID, wNumStrings, dwDataSize, lpStrings, lpRawData,
                       wideCopy);
}

BOOL ReportEventA(HANDLE hEventLog, WORD wType, WORD wCategory, DWORD dwEventID, PSID, WORD wNumStrings,
                  DWORD dwDataSize, LPCSTR* lpStrings, LPVOID lpRawData)
{
    return reportEvent(hEventLog, wType, wCategory, dwEventID, wNumStrings, dwDataSize, lpStrings, lpRawData,
                       ansiCopy);
}

BOOL palReadEventLog(PAL_EVENTLOG_VISITOR visitor, void* context)
{
    const std::string path = logPath();
    if (path.empty())
        return fail(ERROR_PATH_NOT_FOUND);
    if (!visitor)
        return fail(ERROR_INVALID_PARAMETER);
    std::vector<BYTE> log;
    DWORD error = ERROR_SUCCESS;
    if (!readWholeFile(path, log, error))
        return fail(error);
    for (size_t at = 0; at < log.size();) {
        Record record;
        size_t size = recordAt(log, at, record);
        if (size == 0) {
            ++at;
            continue;
        }
        if (!visit(record, visitor, context))
            break;
        at += size;
    }
    return TRUE;
}

BOOL palClearEventLog(void)
{
    const std::string path = logPath();
    if (path.empty())
        return fail(ERROR_PATH_NOT_FOUND);
    if (::truncate(path.c_str(), 0) != 0 && errno != ENOENT)
        return fail(errorFromErrno(errno));
    return TRUE;
}

} // extern "C"
