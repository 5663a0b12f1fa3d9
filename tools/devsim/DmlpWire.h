// The simulated device's own DMLP wire code: the 20-byte message header, big-endian readers and
// writers, and the method names the simulator knows. It shares nothing with the protocol engine,
// so that tests of one against the other find faults in either.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace devsim {

using Bytes = std::vector<uint8_t>;

constexpr uint16_t kDmlpMagic = 0xCDCA;
constexpr uint8_t kDmlpVersion = 0x10;
constexpr size_t kDmlpHeaderBytes = 20;
constexpr uint16_t kDmlpPort = 47545;

// Header flags.
constexpr uint8_t kFlagStatus = 0x01;    // the message answers a request
constexpr uint8_t kFlagMoreParts = 0x02; // a partial reply: more parts follow
constexpr uint8_t kFlagWantReply = 0x04;

// Methods the simulator answers or sends.
constexpr uint16_t kMethodEcho = 1;
constexpr uint16_t kMethodAppendToList = 8;
constexpr uint16_t kMethodDeleteFromList = 9;
constexpr uint16_t kMethodEvent = 10;
constexpr uint16_t kMethodCancelJob = 31;
constexpr uint16_t kMethodGet2 = 102;
constexpr uint16_t kMethodSetListElement = 106;
constexpr uint16_t kMethodTraceJob = 109;
constexpr uint16_t kMethodListObjects2 = 114;

// Device statuses in reply headers.
constexpr uint16_t kStatusOk = 1;
constexpr uint16_t kStatusNotSupported = 7;
constexpr uint16_t kStatusUnknownObject = 8;
constexpr uint16_t kStatusBadRequest = 11;

struct DmlpHeader {
    uint16_t magic = kDmlpMagic;
    uint8_t version = kDmlpVersion;
    uint8_t flags = 0;
    uint16_t method = 0;
    uint16_t requestId = 0;
    uint16_t bodyLength = 0;
    uint32_t object0 = 0;
    uint32_t object1 = 0;
    uint16_t status = 0; // bytes 18-19 as one big-endian word, whatever the flags say
};

class ByteWriter {
public:
    void u8(uint8_t value) { bytes_.push_back(value); }
    void u16(uint16_t value);
    void u32(uint32_t value);
    void raw(const uint8_t* data, size_t size) { bytes_.insert(bytes_.end(), data, data + size); }
    void raw(const Bytes& data) { raw(data.data(), data.size()); }
    Bytes& bytes() { return bytes_; }

private:
    Bytes bytes_;
};

// Reads big-endian fields; every read checks the bytes left and a failed one leaves ok() false.
class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : data_(data), left_(size) {}
    explicit ByteReader(const Bytes& bytes) : ByteReader(bytes.data(), bytes.size()) {}

    uint8_t u8();
    uint16_t u16();
    uint32_t u32();
    Bytes raw(size_t size);
    bool ok() const { return ok_; }
    size_t left() const { return left_; }

private:
    bool take(size_t size);

    const uint8_t* data_;
    size_t left_;
    bool ok_ = true;
};

Bytes encodeHeader(const DmlpHeader& header);
// False when fewer than 20 bytes are given.
bool decodeHeader(const uint8_t* data, size_t size, DmlpHeader& header);

// A whole message: the header (its body length set from the body) and the body.
Bytes frame(DmlpHeader header, const Bytes& body);

// The method's name ("Get2"), or its number for methods the simulator does not name.
std::string methodName(uint16_t method);
// A method by name (case-insensitive) or decimal number.
std::optional<uint16_t> methodByName(std::string_view name);

std::string hexBytes(const uint8_t* data, size_t size);

} // namespace devsim
