#include "JobMessages.h"

#include <algorithm>

namespace jobmsg {

namespace {

void putBE16(Bytes& out, uint16_t value)
{
    out.push_back(uint8_t(value >> 8));
    out.push_back(uint8_t(value));
}

void putBE32(Bytes& out, uint32_t value)
{
    putBE16(out, uint16_t(value >> 16));
    putBE16(out, uint16_t(value));
}

void putLE16(Bytes& out, uint16_t value)
{
    out.push_back(uint8_t(value));
    out.push_back(uint8_t(value >> 8));
}

void putLE32(Bytes& out, uint32_t value)
{
    putLE16(out, uint16_t(value));
    putLE16(out, uint16_t(value >> 16));
}

uint16_t getBE16(const uint8_t* bytes)
{
    return uint16_t(bytes[0] << 8 | bytes[1]);
}

// The value of a hexadecimal digit of either case; -1 for any other character.
int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

template <size_t N>
std::array<uint8_t, N> padded(const std::string& text)
{
    std::array<uint8_t, N> bytes{};
    std::copy_n(text.begin(), std::min(text.size(), N), bytes.begin());
    return bytes;
}

} // namespace

Bytes ClientJobId::wire() const
{
    Bytes out;
    putBE32(out, data1);
    putBE16(out, data2);
    putBE16(out, data3);
    out.insert(out.end(), data4.begin(), data4.end());
    out.insert(out.end(), jobText.begin(), jobText.end());
    return out;
}

Bytes ClientJobId::host() const
{
    Bytes out;
    putLE32(out, data1);
    putLE16(out, data2);
    putLE16(out, data3);
    out.insert(out.end(), data4.begin(), data4.end());
    out.insert(out.end(), jobText.begin(), jobText.end());
    return out;
}

std::string ClientJobId::wireHex() const
{
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t byte : wire()) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

bool ClientJobId::fromWireHex(const std::string& text, ClientJobId& id)
{
    if (text.size() != 2 * 64)
        return false;
    Bytes wire;
    for (size_t i = 0; i < text.size(); i += 2) {
        const int high = hexDigit(text[i]), low = hexDigit(text[i + 1]);
        if (high < 0 || low < 0)
            return false;
        wire.push_back(uint8_t(high << 4 | low));
    }
    id.data1 = uint32_t(getBE16(&wire[0])) << 16 | getBE16(&wire[2]);
    id.data2 = getBE16(&wire[4]);
    id.data3 = getBE16(&wire[6]);
    std::copy_n(wire.begin() + 8, id.data4.size(), id.data4.begin());
    std::copy_n(wire.begin() + 16, id.jobText.size(), id.jobText.begin());
    return true;
}

ClientJobId ClientJobId::make(uint32_t data1, uint16_t data2, uint16_t data3, const std::string& data4,
                              const std::string& jobText)
{
    ClientJobId id;
    id.data1 = data1;
    id.data2 = data2;
    id.data3 = data3;
    id.data4 = padded<8>(data4);
    id.jobText = padded<48>(jobText);
    return id;
}

Bytes record(uint16_t method, const Bytes& body, uint16_t requestId)
{
    Bytes out;
    putBE16(out, kMagic);
    out.push_back(kVersion);
    out.push_back(0); // flags
    putBE16(out, method);
    putBE16(out, requestId);
    putBE16(out, uint16_t(body.size()));
    putBE32(out, 0); // object references
    putBE32(out, 0);
    putBE16(out, 0); // status
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes jobStart(uint32_t jobId, uint8_t kind, uint32_t first, uint32_t second)
{
    Bytes body;
    putBE32(body, jobId);
    body.push_back(kind);
    putBE32(body, first);
    putBE32(body, second);
    return record(kJobStart, body);
}

Bytes jobStart2(const std::vector<Attribute>& attributes)
{
    Bytes body;
    putBE16(body, uint16_t(attributes.size()));
    for (const Attribute& attribute : attributes) {
        putBE16(body, attribute.id);
        putBE16(body, uint16_t(attribute.value.size()));
        body.insert(body.end(), attribute.value.begin(), attribute.value.end());
    }
    return record(kJobStart2, body);
}

Bytes setJobText(uint16_t attribute, const std::string& text)
{
    Bytes body;
    putBE16(body, attribute);
    body.push_back(uint8_t(text.size()));
    body.insert(body.end(), text.begin(), text.end());
    return record(kSetJob, body);
}

Bytes setDocumentByte(uint16_t attribute, uint8_t value)
{
    Bytes body;
    putBE16(body, attribute);
    body.push_back(value);
    return record(kSetDocument, body);
}

Bytes jobEnd(uint8_t reason)
{
    return record(kJobEnd, Bytes{reason});
}

std::string labelText(const std::string& label)
{
    std::string text = "PAU" + std::string(5, '-') + label;
    if (text.size() < 32)
        text.append(32 - text.size(), ' ');
    return text;
}

Bytes typicalHeader(const ClientJobId& id, uint8_t nup)
{
    return concat({jobStart(), jobStart2({{kAttrClientJobId, id.wire()}, {kAttrJobText240, Bytes{1}}}),
                   setDocumentByte(kAttrNup, nup), jobEnd()});
}

Bytes concat(const std::vector<Bytes>& parts)
{
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

} // namespace jobmsg
