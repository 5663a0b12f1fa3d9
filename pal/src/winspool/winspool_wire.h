// The spooler protocol between the winspool functions of libpal and the spooler host (spoolsv).
//
// Transport: the Unix stream socket <root>/run/spoolsv.sock. A client opens one connection per
// printer handle (OpenPrinterW to ClosePrinter; the host closes the handles of a connection that
// ends) and one short connection for each call without a handle. The host serves each connection
// on its own thread. Inside the host the same requests are served in-process, without the socket.
// A handle is a number of the host, valid only on the connection that opened it. The caller's
// rights come from the connection's peer credentials; in-process callers are the host itself.
//
// Frame: u32 payload length, then the payload; a length over kMaxFrame ends the connection.
// Request payload: u32 opcode, then the arguments. Reply payload: u32 result (the function's BOOL,
// or its DWORD result), u32 error (the last error when the result is 0), then the outputs, present
// only when the result is not 0.
//
// Fields: u32 little-endian; string = u32 count of UTF-16 units then the units, 0xFFFFFFFF for NULL;
// blob = u32 byte count then the bytes, 0xFFFFFFFF for NULL.
//
// Operations (arguments -> outputs):
//   1 OpenPrinter    string name, u32 hasDefaults, string datatype, u32 desiredAccess, blob devmode
//                    (the defaults' DEVMODEW with its driver bytes, NULL without one)
//                    -> u32 handle, u32 kind (1 Xcv)
//   2 ClosePrinter   u32 handle
//   3 XcvData        u32 handle, string method, blob input, u32 cbInput, u32 cbOutput, blob output
//                    (the contents of the caller's output buffer, NULL when it has none),
//                    u32 wantsNeeded -> blob output, u32 needed, u32 status
//   4 EnumPorts      string server, u32 level
//                    -> u32 count, count x {string name, string monitor, string description, u32 type}
//   5 SetPort        string server, string port, u32 level, u32 status, string statusText, u32 severity
//   6 EnumMonitors   string server, u32 level -> u32 count, count x {string name, string environment,
//                    string dll}
//   7 AddMonitor     string server, u32 level, string name, string environment, string dll
//   8 DeleteMonitor  string server, string environment, string name
//   9 DeletePort     string server, string port
//  32 AddPrinter     string server, printer fields -> u32 handle, u32 kind (2 Printer)
//  33 GetPrinter     u32 handle -> printer record
//  34 SetPrinter     u32 handle, u32 level (0, 2 or 5), u32 command, then for level 2 the printer
//                    fields, for level 5 u32 attributes, u32 notSelectedTimeout, u32 retryTimeout
//  35 EnumPrinters   u32 flags, string name -> u32 count, count x printer record
//  36 GetJob         u32 handle, u32 job -> job record
//  37 SetJob         u32 handle, u32 job, u32 level, u32 command
//  38 EnumJobs       u32 handle, u32 firstJob, u32 noJobs -> u32 count, count x job record
//  39 StartDocPrinter u32 handle, string document, string outputFile, string datatype, string user,
//                    string machine -> u32 job
//  40 WritePrinter   u32 handle, blob data -> u32 written
//  41 EndDocPrinter  u32 handle
// Printer fields (AddPrinter, SetPrinter level 2; NULL = not given): string name, share, port,
// driver, comment, location, separator file, print processor, datatype, parameters; u32 attributes,
// priority, default priority, start time, until time.
// Printer record: the printer fields (strings never NULL), then u32 status, jobs, notSelectedTimeout,
// retryTimeout. Job record: see writeJob below.
// The Enum and Get replies carry every field whatever the level; the client packs the level's
// records. A request that cannot be decoded is answered with RPC_X_BAD_STUB_DATA; an unknown opcode
// with ERROR_NOT_SUPPORTED.
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pal/threads.h"
#include "pal/types.h"

namespace pal::spool {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kMaxFrame = 64u * 1024 * 1024;
constexpr uint32_t kNull = 0xFFFFFFFFu;
constexpr const char* kSocketName = "spoolsv.sock";

enum class HandleKind : uint32_t {
    Xcv = 1,
    Printer = 2,
};

enum class Op : uint32_t {
    OpenPrinter = 1,
    ClosePrinter = 2,
    XcvData = 3,
    EnumPorts = 4,
    SetPort = 5,
    EnumMonitors = 6,
    AddMonitor = 7,
    DeleteMonitor = 8,
    DeletePort = 9,
    AddPrinter = 32,
    GetPrinter = 33,
    SetPrinter = 34,
    EnumPrinters = 35,
    GetJob = 36,
    SetJob = 37,
    EnumJobs = 38,
    StartDocPrinter = 39,
    WritePrinter = 40,
    EndDocPrinter = 41,
};

// A wide string that may be NULL.
using OptString = std::optional<std::u16string>;
using OptBlob = std::optional<Bytes>;

struct PortRecord {
    std::u16string name;
    std::u16string monitor;
    std::u16string description;
    DWORD type = 0;
};

struct MonitorRecord {
    std::u16string name;
    std::u16string environment;
    std::u16string dll;
};

class Writer {
public:
    Writer& u32(uint32_t value)
    {
        for (int shift = 0; shift < 32; shift += 8)
            bytes_.push_back(static_cast<uint8_t>(value >> shift));
        return *this;
    }
    Writer& string(const WCHAR* text)
    {
        if (!text)
            return u32(kNull);
        return string(std::u16string_view(text));
    }
    Writer& string(std::u16string_view text)
    {
        u32(static_cast<uint32_t>(text.size()));
        for (WCHAR unit : text) {
            bytes_.push_back(static_cast<uint8_t>(unit));
            bytes_.push_back(static_cast<uint8_t>(unit >> 8));
        }
        return *this;
    }
    Writer& string(const std::u16string& text) { return string(std::u16string_view(text)); }
    Writer& string(const OptString& text) { return text ? string(*text) : u32(kNull); }
    Writer& blob(const void* data, uint32_t size)
    {
        if (!data)
            return u32(kNull);
        u32(size);
        const uint8_t* begin = static_cast<const uint8_t*>(data);
        bytes_.insert(bytes_.end(), begin, begin + size);
        return *this;
    }
    const Bytes& bytes() const { return bytes_; }
    Bytes take() { return std::move(bytes_); }

private:
    Bytes bytes_;
};

// Reads fields in order; any read past the end (or a malformed length) sets failed() for good.
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    explicit Reader(const Bytes& bytes) : Reader(bytes.data(), bytes.size()) {}

    uint32_t u32()
    {
        if (!take(4))
            return 0;
        const uint8_t* p = data_ + position_ - 4;
        return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    }
    OptString string()
    {
        uint32_t count = u32();
        if (failed_ || count == kNull)
            return std::nullopt;
        if (count > (size_ - position_) / 2) {
            failed_ = true;
            return std::nullopt;
        }
        std::u16string text(count, u'\0');
        for (uint32_t i = 0; i < count; ++i)
            text[i] = static_cast<WCHAR>(data_[position_ + 2 * i] | data_[position_ + 2 * i + 1] << 8);
        position_ += size_t(count) * 2;
        return text;
    }
    std::u16string requiredString()
    {
        OptString text = string();
        if (!text)
            failed_ = true;
        return text.value_or(std::u16string());
    }
    OptBlob blob()
    {
        uint32_t size = u32();
        if (failed_ || size == kNull)
            return std::nullopt;
        if (!take(size))
            return std::nullopt;
        return Bytes(data_ + position_ - size, data_ + position_);
    }
    bool failed() const { return failed_; }

private:
    bool take(size_t count)
    {
        if (failed_ || count > size_ - position_) {
            failed_ = true;
            return false;
        }
        position_ += count;
        return true;
    }

    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
    bool failed_ = false;
};

// The settable fields of a printer (PRINTER_INFO_2 without its run-time values).
struct PrinterFields {
    OptString name;
    OptString share;
    OptString port;
    OptString driver;
    OptString comment;
    OptString location;
    OptString separatorFile;
    OptString printProcessor;
    OptString datatype;
    OptString parameters;
    DWORD attributes = 0;
    DWORD priority = 0;
    DWORD defaultPriority = 0;
    DWORD startTime = 0;
    DWORD untilTime = 0;
};

struct PrinterRecord {
    PrinterFields fields;
    DWORD status = 0;
    DWORD jobs = 0;
    DWORD notSelectedTimeout = 0;
    DWORD retryTimeout = 0;
};

// Everything JOB_INFO_1 and JOB_INFO_2 say about a job.
struct JobRecord {
    DWORD id = 0;
    std::u16string printer;
    std::u16string machine;
    std::u16string user;
    OptString document;
    std::u16string datatype;
    std::u16string printProcessor;
    std::u16string parameters;
    std::u16string driver;
    OptString statusText;
    DWORD status = 0;
    DWORD priority = 0;
    DWORD position = 0;
    DWORD totalPages = 0;
    DWORD pagesPrinted = 0;
    DWORD size = 0;
    DWORD time = 0;
    SYSTEMTIME submitted{};
    OptBlob devMode; // the DEVMODEW of the handle that submitted the job
};

inline void writeSystemTime(Writer& writer, const SYSTEMTIME& time)
{
    for (WORD part : {time.wYear, time.wMonth, time.wDayOfWeek, time.wDay, time.wHour, time.wMinute, time.wSecond,
                      time.wMilliseconds})
        writer.u32(part);
}

inline SYSTEMTIME readSystemTime(Reader& reader)
{
    SYSTEMTIME time{};
    for (WORD* part : {&time.wYear, &time.wMonth, &time.wDayOfWeek, &time.wDay, &time.wHour, &time.wMinute,
                       &time.wSecond, &time.wMilliseconds})
        *part = static_cast<WORD>(reader.u32());
    return time;
}

inline void writePrinterFields(Writer& writer, const PrinterFields& fields)
{
    writer.string(fields.name)
        .string(fields.share)
        .string(fields.port)
        .string(fields.driver)
        .string(fields.comment)
        .string(fields.location)
        .string(fields.separatorFile)
        .string(fields.printProcessor)
        .string(fields.datatype)
        .string(fields.parameters)
        .u32(fields.attributes)
        .u32(fields.priority)
        .u32(fields.defaultPriority)
        .u32(fields.startTime)
        .u32(fields.untilTime);
}

inline PrinterFields readPrinterFields(Reader& reader)
{
    PrinterFields fields;
    for (OptString* text : {&fields.name, &fields.share, &fields.port, &fields.driver, &fields.comment,
                            &fields.location, &fields.separatorFile, &fields.printProcessor, &fields.datatype,
                            &fields.parameters})
        *text = reader.string();
    for (DWORD* value : {&fields.attributes, &fields.priority, &fields.defaultPriority, &fields.startTime,
                         &fields.untilTime})
        *value = reader.u32();
    return fields;
}

inline void writePrinterRecord(Writer& writer, const PrinterRecord& record)
{
    writePrinterFields(writer, record.fields);
    writer.u32(record.status).u32(record.jobs).u32(record.notSelectedTimeout).u32(record.retryTimeout);
}

inline PrinterRecord readPrinterRecord(Reader& reader)
{
    PrinterRecord record;
    record.fields = readPrinterFields(reader);
    for (DWORD* value : {&record.status, &record.jobs, &record.notSelectedTimeout, &record.retryTimeout})
        *value = reader.u32();
    return record;
}

inline void writeJob(Writer& writer, const JobRecord& job)
{
    writer.u32(job.id)
        .string(job.printer)
        .string(job.machine)
        .string(job.user)
        .string(job.document)
        .string(job.datatype)
        .string(job.printProcessor)
        .string(job.parameters)
        .string(job.driver)
        .string(job.statusText);
    for (DWORD value : {job.status, job.priority, job.position, job.totalPages, job.pagesPrinted, job.size, job.time})
        writer.u32(value);
    writeSystemTime(writer, job.submitted);
    writer.blob(job.devMode ? job.devMode->data() : nullptr, job.devMode ? uint32_t(job.devMode->size()) : 0);
}

inline JobRecord readJob(Reader& reader)
{
    JobRecord job;
    job.id = reader.u32();
    for (std::u16string* text : {&job.printer, &job.machine, &job.user})
        *text = reader.requiredString();
    job.document = reader.string();
    for (std::u16string* text : {&job.datatype, &job.printProcessor, &job.parameters, &job.driver})
        *text = reader.requiredString();
    job.statusText = reader.string();
    for (DWORD* value : {&job.status, &job.priority, &job.position, &job.totalPages, &job.pagesPrinted, &job.size,
                         &job.time})
        *value = reader.u32();
    job.submitted = readSystemTime(reader);
    job.devMode = reader.blob();
    return job;
}

inline Writer replyHead(uint32_t result, uint32_t error)
{
    Writer writer;
    writer.u32(result).u32(error);
    return writer;
}

inline Bytes failureReply(uint32_t error)
{
    return replyHead(0, error).take();
}

// Full-frame I/O on a connected stream socket; false when the peer is gone or the frame is bad.
// Sends the parts whole, in as few calls as the socket takes them.
inline bool sendAll(int fd, iovec* parts, size_t count)
{
    while (count > 0) {
        msghdr message{};
        message.msg_iov = parts;
        message.msg_iovlen = count;
        ssize_t sent = ::sendmsg(fd, &message, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        size_t left = size_t(sent);
        for (; count > 0 && left >= parts->iov_len; ++parts, --count)
            left -= parts->iov_len;
        if (count > 0) {
            parts->iov_base = static_cast<uint8_t*>(parts->iov_base) + left;
            parts->iov_len -= left;
        }
    }
    return true;
}

// Bytes a frame's payload grows by as they arrive.
constexpr size_t kReceiveStep = 64 * 1024;
// How often a wait for the rest of a frame looks at the clock, in real milliseconds.
constexpr int kStallPollMs = 50;

// Receives exactly size bytes. With a stall limit (milliseconds of GetTickCount64, so scaled by the
// time knob), false when no byte arrives for that long.
inline bool receiveAll(int fd, uint8_t* data, size_t size, DWORD stallLimitMs = INFINITE)
{
    const int flags = stallLimitMs == INFINITE ? 0 : MSG_DONTWAIT;
    ULONGLONG lastByte = GetTickCount64();
    while (size > 0) {
        ssize_t got = ::recv(fd, data, size, flags);
        if (got > 0) {
            data += got;
            size -= size_t(got);
            lastByte = GetTickCount64();
            continue;
        }
        if (got == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK))
            return false;
        if (errno == EINTR)
            continue;
        pollfd ready{fd, POLLIN, 0};  // nothing there yet: wait in slices, watching the clock
        int polled = ::poll(&ready, 1, kStallPollMs);
        if (polled < 0 && errno != EINTR)
            return false;
        if (polled <= 0 && GetTickCount64() - lastByte >= stallLimitMs)
            return false;
    }
    return true;
}

// A frame is its payload's length (4 bytes, little-endian) and the payload, sent together.
inline bool sendFrame(int fd, const Bytes& payload)
{
    if (payload.size() > kMaxFrame)
        return false;
    Writer head;
    head.u32(static_cast<uint32_t>(payload.size()));
    iovec parts[2] = {{const_cast<uint8_t*>(head.bytes().data()), 4},
                      {const_cast<uint8_t*>(payload.data()), payload.size()}};
    return sendAll(fd, parts, 2);
}

// Receives one frame. The wait for a frame's first byte has no limit; once a frame has begun, a
// peer that sends nothing for stallLimitMs loses the connection. The payload grows with the bytes
// that arrive: an announced length reserves nothing.
inline bool receiveFrame(int fd, Bytes& payload, DWORD stallLimitMs = INFINITE)
{
    uint8_t head[4];
    ssize_t got;
    do
        got = ::recv(fd, head, sizeof head, 0);
    while (got < 0 && errno == EINTR);
    if (got <= 0 || !receiveAll(fd, head + got, sizeof head - size_t(got), stallLimitMs))
        return false;
    uint32_t size = Reader(head, sizeof head).u32();
    if (size > kMaxFrame)
        return false;
    payload.clear();
    while (payload.size() < size) {
        size_t at = payload.size();
        size_t piece = std::min<size_t>(size - at, kReceiveStep);
        payload.resize(at + piece);
        if (!receiveAll(fd, payload.data() + at, piece, stallLimitMs))
            return false;
    }
    return true;
}

// Names of ports, monitors and printers compare without regard to (ASCII) case.
inline std::u16string foldName(std::u16string_view name)
{
    std::u16string folded(name);
    for (char16_t& c : folded)
        if (c >= u'a' && c <= u'z')
            c = char16_t(c - u'a' + u'A');
    return folded;
}

inline bool sameName(std::u16string_view a, std::u16string_view b)
{
    return a.size() == b.size() && foldName(a) == foldName(b);
}

} // namespace pal::spool
