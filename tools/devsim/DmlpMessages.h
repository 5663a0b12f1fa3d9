// What the simulated device reads from DMLP requests and writes in its replies and event
// notifications, byte for byte as the device speaks them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "DmlpWire.h"

namespace devsim {

using ClientId = std::array<uint8_t, 64>; // attribute 280 as on the wire

// Attributes and object numbers the device knows.
constexpr uint16_t kAttrSubscriptions = 2;
constexpr uint16_t kAttrSupportedAttributes = 111;
constexpr uint16_t kAttrImpressions = 277;
constexpr uint16_t kAttrClientJobId = 280;
constexpr uint16_t kAttrDeviceState = 282;
constexpr uint16_t kAttrJobState = 283;
constexpr uint16_t kAttrOperations = 1001;
constexpr uint16_t kAttrCompletion = 6004;
constexpr uint32_t kClassJob = 501;
constexpr uint16_t kClassSupport = 490;
constexpr uint16_t kClassDevice = 512;
constexpr uint32_t kObjectDevice = 601;
constexpr uint32_t kObjectOperations = 101;

// Event ids the device sends.
constexpr uint16_t kEventJobState = 154;
constexpr uint16_t kEventImpressions = 18;
constexpr uint16_t kEventDeviceStatus = 19;

// Where a subscriber wants its notifications: an IPv4 address form of kind 1 (TCP) or 2 (UDP).
struct EventAddress {
    uint16_t kind = 0;
    uint32_t address = 0; // host order
    uint16_t port = 0;

    bool operator==(const EventAddress&) const = default;
    std::string describe() const; // "udp 127.0.0.1:4661"
};

// One element of the subscription list (attribute 2).
struct Registration {
    std::vector<uint16_t> ids;
    uint32_t selector = 0;
    EventAddress to;
    uint32_t extra = 0;
};

struct Request {
    DmlpHeader header;
    Bytes echo;                      // Echo
    uint32_t objectClass = 0;        // Get2, ListObjects2, TraceJob
    std::vector<uint32_t> handles;   // Get2; CancelJob's one handle
    std::vector<uint16_t> attributes; // Get2; TraceJob's entry ids
    uint8_t traceKind = 0;           // TraceJob
    ClientId clientJobId{};          // TraceJob
    std::array<uint16_t, 4> listFields{}; // ListObjects2: the leading uint16, uint8, uint16, uint8
    uint8_t listOperation = 0;       // AppendToList's first byte, DeleteFromList's selector, SetListElement's 2 or 4
    uint32_t listValue = 0;          // the list operations' uint32
    uint16_t listAttribute = 0;
    std::optional<Registration> element;
};

// Reads a whole frame (header and body length bytes); false with a complaint when the request
// cannot be read. Methods the device does not know are read as their header alone.
bool decodeRequest(const uint8_t* data, size_t size, Request& request, std::string& complaint);
// The request in one line for the request log: "Get2 id=7 class=0 handles=5 attrs=280,283,277".
std::string describeRequest(const Request& request);

// A reply to the request: its method, request id and object words, the status flag and status.
Bytes replyFrame(const DmlpHeader& request, uint16_t status, const Bytes& body);

struct ObjectAttributes {
    uint32_t handle = 0;
    std::vector<std::pair<uint16_t, Bytes>> attributes; // id and value as on the wire
};

Bytes get2Body(const std::vector<ObjectAttributes>& objects);
Bytes listObjects2Body(const Request& request, const std::vector<uint32_t>& handles);
Bytes traceJobBody(uint32_t handle, uint32_t objectClass, const std::vector<std::pair<uint16_t, Bytes>>& entries);
Bytes listOperationBody(const Request& request);
Bytes cancelJobBody(uint32_t handle);

// Attribute values.
Bytes u8Value(uint8_t value);
Bytes u32Value(uint32_t value);
Bytes jobStateValue(uint8_t state, const std::vector<uint32_t>& codes);                       // 283
Bytes deviceStateValue(uint8_t status, const std::vector<uint32_t>& codes, uint32_t hint, uint8_t online); // 282
Bytes idListValue(const std::vector<uint16_t>& ids);                                          // 111, 1001

// Event notifications: reference, count, then each event's id, a zero byte and its body.
struct EventEntry {
    uint16_t id = 0;
    Bytes body;
};

Bytes jobStateEvent(uint32_t handle, uint8_t state, uint8_t reason, uint32_t hint, const ClientId& clientJobId);
Bytes impressionsEvent(uint32_t handle, uint32_t impressions);
Bytes deviceStatusEvent(uint32_t code, const std::string& name);
Bytes notificationFrame(uint16_t requestId, uint32_t reference, const std::vector<EventEntry>& events);

} // namespace devsim
