// The device's answers to DMLP requests, and the faults it makes in them.
#include <sys/socket.h>

#include "SimulatorImpl.h"
#include "Sockets.h"

namespace devsim {

namespace {

constexpr size_t kMostJobLog = 1000;
const char kEchoAnswer[] = "devsim";

Bytes malformed(Bytes message, MalformedKind kind)
{
    switch (kind) {
    case MalformedKind::Magic:
        message[1] ^= 0x01; // CD CB
        break;
    case MalformedKind::Length: {
        // Claims eight more body bytes than the message holds.
        const uint16_t claimed = static_cast<uint16_t>(((message[8] << 8) | message[9]) + 8);
        message[8] = static_cast<uint8_t>(claimed >> 8);
        message[9] = static_cast<uint8_t>(claimed);
        break;
    }
    case MalformedKind::NoStatus:
        message[3] &= static_cast<uint8_t>(~kFlagStatus);
        message[18] = message[19] = 0;
        break;
    case MalformedKind::Body:
        // No body at all: every reply the device sends needs at least one byte.
        message.resize(kDmlpHeaderBytes);
        message[8] = message[9] = 0;
        break;
    }
    return message;
}

std::vector<uint16_t> supportedAttributes(const Device& device)
{
    std::vector<uint16_t> ids = {kAttrImpressions, kAttrClientJobId, kAttrJobState};
    if (device.settings.reportsDeviceState)
        ids.push_back(kAttrDeviceState);
    return ids;
}

std::vector<uint16_t> supportedOperations(const Device& device)
{
    std::vector<uint16_t> ids = {kMethodEcho, kMethodAppendToList, kMethodDeleteFromList, kMethodCancelJob,
                                 kMethodGet2, kMethodTraceJob, kMethodListObjects2};
    if (device.settings.setsListElements)
        ids.push_back(kMethodSetListElement);
    return ids;
}

// The attributes of one object of the device, as asked; false for an object the device lacks.
bool objectAttributes(Simulator::Impl& impl, Device& device, uint32_t objectClass, uint32_t handle,
                      const std::vector<uint16_t>& wanted, ObjectAttributes& object)
{
    object.handle = handle;
    if (objectClass == kClassSupport || objectClass == kClassDevice) {
        if (handle != kObjectDevice && handle != kObjectOperations)
            return false;
        for (uint16_t id : wanted) {
            if (id == kAttrSupportedAttributes)
                object.attributes.emplace_back(id, idListValue(supportedAttributes(device)));
            else if (id == kAttrOperations)
                object.attributes.emplace_back(id, idListValue(supportedOperations(device)));
            else if (id == kAttrDeviceState)
                object.attributes.emplace_back(
                    id, deviceStateValue(device.status, device.codes, device.hint, device.online));
        }
        return true;
    }
    const Job* job = impl.findJob(device, handle);
    if (!job)
        return false;
    for (uint16_t id : wanted) {
        if (id == kAttrClientJobId)
            object.attributes.emplace_back(id, Bytes(job->clientJobId.begin(), job->clientJobId.end()));
        else if (id == kAttrJobState)
            object.attributes.emplace_back(id, jobStateValue(job->state, job->codes));
        else if (id == kAttrImpressions)
            object.attributes.emplace_back(id, u32Value(job->impressions));
    }
    return true;
}

} // namespace

void Simulator::Impl::handleFrame(Device& device, const Peer& peer, const uint8_t* data, size_t size)
{
    Request request;
    std::string complaint;
    const std::string bytes = " frame=" + hexBytes(data, size);
    if (!decodeRequest(data, size, request, complaint)) {
        logRequest(device, peer, "malformed: " + complaint + bytes);
        return;
    }
    logRequest(device, peer, describeRequest(request) + (device.powered ? "" : " (off)") + bytes);
    if (device.powered)
        answer(device, peer, request);
}

void Simulator::Impl::answer(Device& device, const Peer& peer, const Request& request)
{
    switch (request.header.method) {
    case kMethodEcho:
        sendReply(device, peer, request, kStatusOk,
                  request.echo.empty() ? Bytes(kEchoAnswer, kEchoAnswer + sizeof(kEchoAnswer) - 1) : request.echo);
        return;
    case kMethodListObjects2: {
        std::vector<uint32_t> handles;
        if (request.objectClass == kClassJob)
            for (const Job& job : device.jobs)
                handles.push_back(job.handle);
        sendReply(device, peer, request, kStatusOk, listObjects2Body(request, handles));
        return;
    }
    case kMethodGet2:
        answerGet2(device, peer, request);
        return;
    case kMethodTraceJob:
        answerTraceJob(device, peer, request);
        return;
    case kMethodCancelJob:
        answerCancel(device, peer, request);
        return;
    case kMethodAppendToList:
    case kMethodDeleteFromList:
    case kMethodSetListElement:
        answerListOperation(device, peer, request);
        return;
    default:
        sendReply(device, peer, request, kStatusNotSupported, {});
    }
}

void Simulator::Impl::answerGet2(Device& device, const Peer& peer, const Request& request)
{
    std::vector<ObjectAttributes> objects(request.handles.size());
    for (size_t i = 0; i < objects.size(); ++i)
        if (!objectAttributes(*this, device, request.objectClass, request.handles[i], request.attributes,
                              objects[i])) {
            sendReply(device, peer, request, kStatusUnknownObject, {});
            return;
        }
    sendReply(device, peer, request, kStatusOk, get2Body(objects));
}

void Simulator::Impl::answerTraceJob(Device& device, const Peer& peer, const Request& request)
{
    // The latest log entry of the job; the log keeps jobs that have left the device.
    for (auto entry = device.log.rbegin(); entry != device.log.rend(); ++entry) {
        if (entry->clientJobId != request.clientJobId)
            continue;
        std::vector<std::pair<uint16_t, Bytes>> entries;
        for (uint16_t id : request.attributes) {
            if (id == kAttrCompletion)
                entries.emplace_back(id, u8Value(entry->completion));
            else if (id == kAttrImpressions)
                entries.emplace_back(id, u32Value(entry->impressions));
        }
        sendReply(device, peer, request, kStatusOk, traceJobBody(entry->handle, request.objectClass, entries));
        return;
    }
    sendReply(device, peer, request, kStatusUnknownObject, {});
}

void Simulator::Impl::answerCancel(Device& device, const Peer& peer, const Request& request)
{
    const uint32_t handle = request.handles.front();
    Job* job = findJob(device, handle);
    if (!job) {
        sendReply(device, peer, request, kStatusUnknownObject, {});
        return;
    }
    sendReply(device, peer, request, kStatusOk, cancelJobBody(handle));
    if (job->state == kJobPrinting || job->state == kJobDone)
        endJob(device, *job, kJobCanceled, kCompletedCanceled);
}

void Simulator::Impl::answerListOperation(Device& device, const Peer& peer, const Request& request)
{
    if (request.listAttribute != kAttrSubscriptions) {
        sendReply(device, peer, request, kStatusBadRequest, {});
        return;
    }
    const uint16_t method = request.header.method;
    const bool adding = method == kMethodAppendToList || (method == kMethodSetListElement && request.listOperation == 2);
    const bool removing =
        method == kMethodDeleteFromList || (method == kMethodSetListElement && request.listOperation == 4);
    uint16_t status = kStatusBadRequest;
    if (adding && request.element)
        status = subscribe(device, request.listValue, *request.element);
    else if (removing)
        status = unsubscribe(device, request.listValue, request.element);
    sendReply(device, peer, request, status, status == kStatusOk ? listOperationBody(request) : Bytes());
}

void Simulator::Impl::sendReply(Device& device, const Peer& peer, const Request& request, uint16_t status,
                                const Bytes& body)
{
    if (!(request.header.flags & kFlagWantReply))
        return;
    const FaultRule fault = device.faults.forReply(request.header.method);
    if (fault.action == FaultAction::Status)
        status = static_cast<uint16_t>(fault.value);
    Bytes message = replyFrame(request.header, status, body);
    std::vector<Bytes> frames{message};
    switch (fault.action) {
    case FaultAction::Drop:
        logRequest(device, peer, "reply dropped");
        return;
    case FaultAction::Duplicate:
        frames.push_back(message);
        break;
    case FaultAction::Malformed:
        frames = {malformed(message, fault.malformed)};
        break;
    case FaultAction::Parts:
        frames.assign(fault.value, message);
        for (size_t i = 0; i + 1 < frames.size(); ++i)
            frames[i][3] |= kFlagMoreParts;
        break;
    case FaultAction::Delay: {
        after(Milliseconds(fault.value), [this, &device, peer, frames] { sendFrames(device, peer, frames); });
        return;
    }
    default:
        break;
    }
    sendFrames(device, peer, frames);
}

void Simulator::Impl::sendFrames(Device& device, const Peer& peer, const std::vector<Bytes>& frames)
{
    if (!device.powered)
        return;
    for (const Bytes& message : frames) {
        if (!peer.connection) {
            ::sendto(device.udp, message.data(), message.size(), MSG_NOSIGNAL,
                     reinterpret_cast<const sockaddr*>(&peer.address), sizeof(peer.address));
            continue;
        }
        auto client = device.clients.find(peer.connection);
        if (client == device.clients.end())
            return;
        sendQuietly(client->second.fd, std::string(message.begin(), message.end()));
    }
}

void Simulator::Impl::broadcastEcho(const uint8_t* data, size_t size, const sockaddr_in& sender)
{
    Request request;
    std::string complaint;
    if (!decodeRequest(data, size, request, complaint) || request.header.method != kMethodEcho)
        return;
    Peer peer;
    peer.address = sender;
    for (auto& device : devices) {
        if (device->udp < 0)
            continue;
        logRequest(*device, peer,
                   describeRequest(request) + " (broadcast)" + (device->powered ? "" : " (off)") + " frame=" +
                       hexBytes(data, size));
        if (device->powered)
            answer(*device, peer, request);
    }
}

Job* Simulator::Impl::findJob(Device& device, uint32_t handle)
{
    for (Job& job : device.jobs)
        if (job.handle == handle)
            return &job;
    return nullptr;
}

void Simulator::Impl::retire(Device& device, uint32_t handle, uint64_t generation, uint8_t completion)
{
    Job* job = findJob(device, handle);
    if (!job || job->generation != generation)
        return;
    device.log.push_back({job->handle, job->clientJobId, completion, job->impressions});
    if (device.log.size() > kMostJobLog)
        device.log.pop_front();
    std::erase_if(device.jobs, [handle](const Job& kept) { return kept.handle == handle; });
}

} // namespace devsim
