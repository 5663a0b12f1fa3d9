// Builds the DMLP job messages that a printer driver puts at the front of a job's data, for tests:
// JobStart, JobStart2, SetJob, SetDocument and JobEnd, each a 20-byte header (magic 0xCDCA,
// version 0x10, big-endian method and body length) followed by its body.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace jobmsg {

using Bytes = std::vector<uint8_t>;

constexpr uint16_t kMagic = 0xCDCA;
constexpr uint8_t kVersion = 0x10;
constexpr size_t kHeaderBytes = 20;

// Methods (the record kinds the port monitor reads).
constexpr uint16_t kJobStart = 17;
constexpr uint16_t kSetJob = 18;
constexpr uint16_t kJobEnd = 19;
constexpr uint16_t kSetDocument = 24;
constexpr uint16_t kJobStart2 = 107;

// Attributes.
constexpr uint16_t kAttrJobLabel = 8;  // SetJob text: "PAU", then the label from character 8
constexpr uint16_t kAttrJobText240 = 240;
constexpr uint16_t kAttrClientJobId = 280;
constexpr uint16_t kAttrNup = 0x08B5;  // SetDocument: one byte

// The client job id; the three numbers are big-endian inside attribute 280.
struct ClientJobId {
    uint32_t data1 = 0;
    uint16_t data2 = 0;
    uint16_t data3 = 0;
    std::array<uint8_t, 8> data4{};
    std::array<uint8_t, 48> jobText{};  // its first 8 characters are JobInfo1

    // The 64-byte value of attribute 280.
    Bytes wire() const;
    // The 64 bytes as the monitor reports them (little-endian numbers).
    Bytes host() const;
    // A typical id: the numbers and bytes given, the job text as text padded with NULs.
    static ClientJobId make(uint32_t data1, uint16_t data2, uint16_t data3, const std::string& data4,
                            const std::string& jobText);

    // The 64 wire bytes as 128 lower-case hexadecimal digits, as the query tools print and read ids.
    std::string wireHex() const;
    // The id that wireHex() prints as text; false, leaving id as it was, for any other text.
    static bool fromWireHex(const std::string& text, ClientJobId& id);

    // From and to a record with the fields Data1, Data2, Data3 (host order), Data4 and JobText, as
    // the protocol library and the client library declare it.
    template <typename Record>
    static ClientJobId of(const Record& record)
    {
        ClientJobId id;
        id.data1 = record.Data1;
        id.data2 = record.Data2;
        id.data3 = record.Data3;
        std::copy_n(record.Data4, id.data4.size(), id.data4.begin());
        std::copy_n(record.JobText, id.jobText.size(), id.jobText.begin());
        return id;
    }
    template <typename Record>
    void copyTo(Record& record) const
    {
        record.Data1 = data1;
        record.Data2 = data2;
        record.Data3 = data3;
        std::copy(data4.begin(), data4.end(), record.Data4);
        std::copy(jobText.begin(), jobText.end(), record.JobText);
    }
};

// A record's client job id as the query tools print it (ClientJobId::wireHex), and read back.
template <typename Record>
std::string wireHex(const Record& record)
{
    return ClientJobId::of(record).wireHex();
}
template <typename Record>
bool parseWireHex(const std::string& text, Record& record)
{
    ClientJobId id;
    if (!ClientJobId::fromWireHex(text, id))
        return false;
    id.copyTo(record);
    return true;
}

struct Attribute {
    uint16_t id;
    Bytes value;
};

// A record: the header with the method and the body's length (its low 16 bits), then the body.
// The request id is written as given; object references and status are 0.
Bytes record(uint16_t method, const Bytes& body, uint16_t requestId = 0);

Bytes jobStart(uint32_t jobId = 1, uint8_t kind = 0, uint32_t first = 0, uint32_t second = 0);
// Attribute list: uint16 count, then {uint16 id, uint16 length, value} per attribute.
Bytes jobStart2(const std::vector<Attribute>& attributes);
// SetJob with a text value: uint16 attribute id, uint8 length (its low 8 bits), the text.
Bytes setJobText(uint16_t attribute, const std::string& text);
// SetDocument with a one-byte value: uint16 attribute id, the byte.
Bytes setDocumentByte(uint16_t attribute, uint8_t value);
Bytes jobEnd(uint8_t reason = 0);

// A SetJob label text: "PAU", five filler characters, the label, blank-padded to 32 characters.
std::string labelText(const std::string& label);

// The header a driver writes: JobStart, JobStart2 (attributes 280 and 240), SetDocument (N-up),
// JobEnd.
Bytes typicalHeader(const ClientJobId& id, uint8_t nup);

Bytes concat(const std::vector<Bytes>& parts);

} // namespace jobmsg
