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
//   1 OpenPrinter    string name, u32 hasDefaults, string datatype, u32 desiredAccess
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
// The Enum replies carry every field whatever the level; the client packs the level's records.
// Opcodes from 32 on are kept for printers and jobs. A request that cannot be decoded is answered
// with RPC_X_BAD_STUB_DATA; an unknown opcode with ERROR_NOT_SUPPORTED.
#pragma once

#include <sys/socket.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pal/types.h"

namespace pal::spool {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kMaxFrame = 64u * 1024 * 1024;
constexpr uint32_t kNull = 0xFFFFFFFFu;
constexpr const char* kSocketName = "spoolsv.sock";

enum class HandleKind : uint32_t {
    Xcv = 1,
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
inline bool sendAll(int fd, const uint8_t* data, size_t size)
{
    while (size > 0) {
        ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        data += sent;
        size -= size_t(sent);
    }
    return true;
}

inline bool receiveAll(int fd, uint8_t* data, size_t size)
{
    while (size > 0) {
        ssize_t got = ::recv(fd, data, size, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        data += got;
        size -= size_t(got);
    }
    return true;
}

inline bool sendFrame(int fd, const Bytes& payload)
{
    if (payload.size() > kMaxFrame)
        return false;
    Writer head;
    head.u32(static_cast<uint32_t>(payload.size()));
    return sendAll(fd, head.bytes().data(), 4) && sendAll(fd, payload.data(), payload.size());
}

inline bool receiveFrame(int fd, Bytes& payload)
{
    uint8_t head[4];
    if (!receiveAll(fd, head, sizeof head))
        return false;
    uint32_t size = Reader(head, sizeof head).u32();
    if (size > kMaxFrame)
        return false;
    payload.resize(size);
    return receiveAll(fd, payload.data(), size);
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
