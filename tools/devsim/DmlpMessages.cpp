#include "DmlpMessages.h"

#include <arpa/inet.h>

namespace devsim {

namespace {

constexpr uint16_t kAddressTcp = 1;
constexpr uint16_t kAddressUdp = 2;
constexpr uint8_t kIpv4AddressBody = 6;

template <typename Number>
std::string joined(const std::vector<Number>& numbers)
{
    std::string text;
    for (Number number : numbers)
        text += (text.empty() ? "" : ",") + std::to_string(number);
    return text.empty() ? "-" : text;
}

std::vector<uint16_t> readIds(ByteReader& in)
{
    std::vector<uint16_t> ids(in.u16());
    for (uint16_t& id : ids)
        id = in.u16();
    return in.ok() ? ids : std::vector<uint16_t>();
}

// One element of attribute 2, without a count: ids, the selector 7, the address form's size, the
// address form, the extra value.
bool readRegistration(ByteReader& in, Registration& element, std::string& complaint)
{
    element.ids = readIds(in);
    element.selector = in.u32();
    const uint16_t formSize = in.u16();
    element.to.kind = in.u16();
    const uint8_t bodySize = in.u8();
    if (!in.ok() || formSize != bodySize + 3u || in.left() < bodySize) {
        complaint = "subscription element cut short";
        return false;
    }
    if ((element.to.kind != kAddressTcp && element.to.kind != kAddressUdp) || bodySize != kIpv4AddressBody) {
        in.raw(bodySize);
        element.to.kind = 0; // kept, but no IPv4 address to report to
    } else {
        element.to.address = in.u32();
        element.to.port = in.u16();
    }
    element.extra = in.u32();
    if (!in.ok())
        complaint = "subscription element cut short";
    return in.ok();
}

bool readTypedValue(ByteReader& in)
{
    in.u8();
    in.raw(in.u8());
    return in.ok();
}

bool readBody(uint16_t method, ByteReader& in, Request& request, std::string& complaint)
{
    switch (method) {
    case kMethodEcho:
        request.echo = in.raw(in.left());
        return true;
    case kMethodListObjects2:
        request.listFields[0] = in.u16();
        in.u16();
        request.listFields[1] = in.u8();
        request.listFields[2] = in.u16();
        request.listFields[3] = in.u8();
        request.objectClass = in.u32();
        in.u32();
        in.u16();
        break;
    case kMethodGet2:
        request.objectClass = in.u16();
        readTypedValue(in);
        request.handles.resize(in.u16());
        for (uint32_t& handle : request.handles)
            handle = in.u32();
        request.attributes = readIds(in);
        break;
    case kMethodTraceJob: {
        request.objectClass = in.u32();
        request.traceKind = in.u8();
        Bytes id = in.raw(request.clientJobId.size());
        std::copy(id.begin(), id.end(), request.clientJobId.begin());
        request.attributes = readIds(in);
        break;
    }
    case kMethodCancelJob:
        request.handles.push_back(in.u32());
        break;
    case kMethodAppendToList:
    case kMethodDeleteFromList:
    case kMethodSetListElement: {
        request.listOperation = in.u8();
        if (method == kMethodSetListElement)
            readTypedValue(in);
        request.listValue = in.u32();
        request.listAttribute = in.u16();
        if (method == kMethodAppendToList)
            in.u16();
        const bool carriesElement = method != kMethodDeleteFromList || request.listOperation == 3;
        if (method == kMethodDeleteFromList && request.listOperation == 2)
            in.u16();
        if (in.ok() && carriesElement && request.listAttribute == kAttrSubscriptions) {
            request.element.emplace();
            return readRegistration(in, *request.element, complaint);
        }
        break;
    }
    default:
        return true;
    }
    if (!in.ok())
        complaint = methodName(method) + " body cut short";
    return in.ok();
}

void writeAttributes(ByteWriter& out, const std::vector<std::pair<uint16_t, Bytes>>& attributes)
{
    out.u16(static_cast<uint16_t>(attributes.size()));
    for (const auto& [id, value] : attributes) {
        out.u16(id);
        out.u16(static_cast<uint16_t>(value.size()));
        out.raw(value);
    }
}

void writeCodes(ByteWriter& out, const std::vector<uint32_t>& codes)
{
    out.u8(static_cast<uint8_t>(codes.size()));
    for (uint32_t code : codes)
        out.u32(code);
}

} // namespace

std::string EventAddress::describe() const
{
    in_addr address{htonl(this->address)};
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address, text, sizeof(text));
    const char* transport = kind == kAddressTcp ? "tcp" : kind == kAddressUdp ? "udp" : "none";
    return std::string(transport) + " " + text + ":" + std::to_string(port);
}

bool decodeRequest(const uint8_t* data, size_t size, Request& request, std::string& complaint)
{
    if (!decodeHeader(data, size, request.header)) {
        complaint = "shorter than a header";
        return false;
    }
    const DmlpHeader& header = request.header;
    if (header.magic != kDmlpMagic || header.version != kDmlpVersion) {
        complaint = "not a DMLP message";
        return false;
    }
    if (size != kDmlpHeaderBytes + header.bodyLength) {
        complaint = "body length " + std::to_string(header.bodyLength) + " but " +
                    std::to_string(size - kDmlpHeaderBytes) + " body bytes";
        return false;
    }
    ByteReader body(data + kDmlpHeaderBytes, header.bodyLength);
    return readBody(header.method, body, request, complaint);
}

std::string describeRequest(const Request& request)
{
    const uint16_t method = request.header.method;
    std::string text = methodName(method) + " id=" + std::to_string(request.header.requestId);
    switch (method) {
    case kMethodEcho:
        return text + " bytes=" + std::to_string(request.echo.size());
    case kMethodListObjects2:
        return text + " class=" + std::to_string(request.objectClass);
    case kMethodGet2:
        return text + " class=" + std::to_string(request.objectClass) + " handles=" + joined(request.handles) +
               " attrs=" + joined(request.attributes);
    case kMethodTraceJob:
        return text + " class=" + std::to_string(request.objectClass) + " kind=" +
               std::to_string(request.traceKind) + " attrs=" + joined(request.attributes) +
               " job=" + hexBytes(request.clientJobId.data(), request.clientJobId.size());
    case kMethodCancelJob:
        return text + " handles=" + joined(request.handles);
    case kMethodAppendToList:
    case kMethodDeleteFromList:
    case kMethodSetListElement:
        text += " op=" + std::to_string(request.listOperation) + " value=" + std::to_string(request.listValue) +
                " attr=" + std::to_string(request.listAttribute);
        if (request.element)
            text += " ids=" + joined(request.element->ids) + " to=" + request.element->to.describe();
        return text;
    default:
        return text + " bytes=" + std::to_string(request.header.bodyLength);
    }
}

Bytes replyFrame(const DmlpHeader& request, uint16_t status, const Bytes& body)
{
    DmlpHeader reply = request;
    reply.magic = kDmlpMagic;
    reply.version = kDmlpVersion;
    reply.flags = kFlagStatus;
    reply.status = status;
    return frame(reply, body);
}

Bytes get2Body(const std::vector<ObjectAttributes>& objects)
{
    ByteWriter out;
    out.u16(static_cast<uint16_t>(objects.size()));
    for (const ObjectAttributes& object : objects) {
        out.u32(object.handle);
        writeAttributes(out, object.attributes);
    }
    return std::move(out.bytes());
}

Bytes listObjects2Body(const Request& request, const std::vector<uint32_t>& handles)
{
    ByteWriter out;
    out.u16(request.listFields[0]);
    out.u8(static_cast<uint8_t>(request.listFields[1]));
    out.u16(request.listFields[2]);
    out.u8(static_cast<uint8_t>(request.listFields[3]));
    out.u32(request.objectClass);
    out.u16(0);                                      // no further objects to list
    out.u16(static_cast<uint16_t>(handles.size())); // objects in all
    out.u16(static_cast<uint16_t>(handles.size()));
    for (uint32_t handle : handles)
        out.u32(handle);
    return std::move(out.bytes());
}

Bytes traceJobBody(uint32_t handle, uint32_t objectClass, const std::vector<std::pair<uint16_t, Bytes>>& entries)
{
    ByteWriter out;
    out.u8(2);
    out.u32(handle);
    out.u32(objectClass);
    writeAttributes(out, entries);
    return std::move(out.bytes());
}

Bytes listOperationBody(const Request& request)
{
    ByteWriter out;
    out.u32(request.listValue);
    out.u16(request.listAttribute);
    out.u16(0);
    return std::move(out.bytes());
}

Bytes cancelJobBody(uint32_t handle)
{
    return u32Value(handle);
}

Bytes u8Value(uint8_t value)
{
    return {value};
}

Bytes u32Value(uint32_t value)
{
    ByteWriter out;
    out.u32(value);
    return std::move(out.bytes());
}

Bytes jobStateValue(uint8_t state, const std::vector<uint32_t>& codes)
{
    ByteWriter out;
    out.u8(state);
    out.u8(0);
    out.u8(0);
    writeCodes(out, codes);
    out.u32(0);
    out.u16(0); // no nested attributes
    return std::move(out.bytes());
}

Bytes deviceStateValue(uint8_t status, const std::vector<uint32_t>& codes, uint32_t hint, uint8_t online)
{
    ByteWriter out;
    out.u8(status);
    out.u8(0);
    writeCodes(out, codes);
    out.u32(hint);
    out.u8(online);
    out.u16(0); // no nested attributes
    return std::move(out.bytes());
}

Bytes idListValue(const std::vector<uint16_t>& ids)
{
    ByteWriter out;
    out.u16(static_cast<uint16_t>(ids.size()));
    for (uint16_t id : ids) {
        out.u16(id);
        out.u8(0);
    }
    return std::move(out.bytes());
}

Bytes jobStateEvent(uint32_t handle, uint8_t state, uint8_t reason, uint32_t hint, const ClientId& clientJobId)
{
    ByteWriter out;
    out.u16(0);
    out.u32(handle);
    out.u16(0);
    out.u32(0);
    out.u8(state);
    out.u8(reason);
    out.u8(0); // no status codes
    out.u32(hint);
    out.raw(clientJobId.data(), clientJobId.size()); // already big-endian where it has numbers
    out.u16(0);                                      // no attributes
    return std::move(out.bytes());
}

Bytes impressionsEvent(uint32_t handle, uint32_t impressions)
{
    ByteWriter out;
    out.u16(0);
    out.u32(handle);
    for (int field = 2; field <= 8; ++field)
        out.u32(field == 6 ? impressions : 0);
    for (int field = 0; field < 3; ++field)
        out.u16(0);
    out.u8(0); // empty text
    return std::move(out.bytes());
}

Bytes deviceStatusEvent(uint32_t code, const std::string& name)
{
    ByteWriter out;
    out.u32(code);
    const size_t length = std::min<size_t>(name.size(), 255);
    out.u8(static_cast<uint8_t>(length));
    out.raw(reinterpret_cast<const uint8_t*>(name.data()), length);
    return std::move(out.bytes());
}

Bytes notificationFrame(uint16_t requestId, uint32_t reference, const std::vector<EventEntry>& events)
{
    ByteWriter out;
    out.u32(reference);
    out.u8(static_cast<uint8_t>(events.size()));
    for (const EventEntry& event : events) {
        out.u16(event.id);
        out.u8(0);
        out.raw(event.body);
    }
    DmlpHeader header;
    header.method = kMethodEvent;
    header.requestId = requestId;
    return frame(header, out.bytes());
}

} // namespace devsim
