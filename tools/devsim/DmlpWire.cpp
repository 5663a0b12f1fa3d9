#include "DmlpWire.h"

#include <strings.h>

#include <charconv>

namespace devsim {

namespace {

struct MethodName {
    uint16_t method;
    const char* name;
};

constexpr MethodName kMethodNames[] = {
    {kMethodEcho, "Echo"},
    {kMethodAppendToList, "AppendToList"},
    {kMethodDeleteFromList, "DeleteFromList"},
    {kMethodEvent, "Event"},
    {kMethodCancelJob, "CancelJob"},
    {kMethodGet2, "Get2"},
    {kMethodSetListElement, "SetListElement"},
    {kMethodTraceJob, "TraceJob"},
    {kMethodListObjects2, "ListObjects2"},
};

} // namespace

void ByteWriter::u16(uint16_t value)
{
    u8(static_cast<uint8_t>(value >> 8));
    u8(static_cast<uint8_t>(value));
}

void ByteWriter::u32(uint32_t value)
{
    u16(static_cast<uint16_t>(value >> 16));
    u16(static_cast<uint16_t>(value));
}

bool ByteReader::take(size_t size)
{
    if (!ok_ || left_ < size) {
        ok_ = false;
        return false;
    }
    return true;
}

uint8_t ByteReader::u8()
{
    if (!take(1))
        return 0;
    uint8_t value = *data_;
    ++data_;
    --left_;
    return value;
}

uint16_t ByteReader::u16()
{
    if (!take(2))
        return 0;
    uint16_t high = u8();
    return static_cast<uint16_t>(high << 8 | u8());
}

uint32_t ByteReader::u32()
{
    if (!take(4))
        return 0;
    uint32_t high = u16();
    return high << 16 | u16();
}

Bytes ByteReader::raw(size_t size)
{
    if (!take(size))
        return {};
    Bytes bytes(data_, data_ + size);
    data_ += size;
    left_ -= size;
    return bytes;
}

Bytes encodeHeader(const DmlpHeader& header)
{
    ByteWriter out;
    out.u16(header.magic);
    out.u8(header.version);
    out.u8(header.flags);
    out.u16(header.method);
    out.u16(header.requestId);
    out.u16(header.bodyLength);
    out.u32(header.object0);
    out.u32(header.object1);
    out.u16(header.status);
    return std::move(out.bytes());
}

bool decodeHeader(const uint8_t* data, size_t size, DmlpHeader& header)
{
    ByteReader in(data, size);
    header.magic = in.u16();
    header.version = in.u8();
    header.flags = in.u8();
    header.method = in.u16();
    header.requestId = in.u16();
    header.bodyLength = in.u16();
    header.object0 = in.u32();
    header.object1 = in.u32();
    header.status = in.u16();
    return in.ok();
}

Bytes frame(DmlpHeader header, const Bytes& body)
{
    header.bodyLength = static_cast<uint16_t>(body.size());
    Bytes bytes = encodeHeader(header);
    bytes.insert(bytes.end(), body.begin(), body.end());
    return bytes;
}

std::string methodName(uint16_t method)
{
    for (const MethodName& entry : kMethodNames)
        if (entry.method == method)
            return entry.name;
    return std::to_string(method);
}

std::optional<uint16_t> methodByName(std::string_view name)
{
    for (const MethodName& entry : kMethodNames)
        if (name.size() == std::char_traits<char>::length(entry.name) &&
            strncasecmp(name.data(), entry.name, name.size()) == 0)
            return entry.method;
    unsigned value = 0;
    auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), value);
    if (error != std::errc() || end != name.data() + name.size() || name.empty() || value == 0 || value > 0xFFFF)
        return std::nullopt;
    return static_cast<uint16_t>(value);
}

std::string hexBytes(const uint8_t* data, size_t size)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        text.push_back(kDigits[data[i] >> 4]);
        text.push_back(kDigits[data[i] & 15]);
    }
    return text;
}

} // namespace devsim
