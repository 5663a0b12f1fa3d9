#include "FakeDmlp.h"

#include <cstring>

#include "DmlpCoder.h"

DmlpEntryPoints g_DmlpEntries = {};

namespace clibtest {

FakeDmlp* FakeDmlp::current = nullptr;

namespace {

const size_t kGet2ResultBytes = 40;
const size_t kListObjects2ResultBytes = 56;
const size_t kTraceJobResultBytes = 56;
const size_t kCancelJobResultBytes = 4;

Call requestCall(uint16_t method, DmlpBinding binding)
{
    Call call;
    call.method = method;
    call.binding = binding;
    return call;
}

DmlpStatus fakeGet2(uint8_t, const DmlpCallback*, DmlpBinding binding, const uint32_t*, const void* params,
                    void* result)
{
    auto* request = static_cast<const DmlpGet2Params*>(params);
    Call call = requestCall(kGet2, binding);
    call.objectClass = request->value1;
    call.handles.assign(request->objects, request->objects + request->objectCount);
    call.attributes.assign(request->attributeIds, request->attributeIds + request->attributeIdCount);
    return FakeDmlp::current->request(kGet2, call, result, kGet2ResultBytes);
}

DmlpStatus fakeListObjects2(uint8_t, const DmlpCallback*, DmlpBinding binding, const uint32_t*, const void* params,
                            void* result)
{
    auto* request = static_cast<const DmlpListObjects2Params*>(params);
    Call call = requestCall(kListObjects2, binding);
    call.objectClass = request->value6;
    Wire fields;
    fields.u16(request->value1).u16(request->value2).u8(request->value3).u16(request->value4).u8(request->value5);
    fields.u32(request->value6).u32(request->value7).u16(request->value8);
    call.listObjects = fields.bytes;
    return FakeDmlp::current->request(kListObjects2, call, result, kListObjects2ResultBytes);
}

DmlpStatus fakeTraceJob(uint8_t, const DmlpCallback*, DmlpBinding binding, const uint32_t*, const void* params,
                        void* result)
{
    auto* request = static_cast<const DmlpTraceJobParams*>(params);
    Call call = requestCall(kTraceJob, binding);
    call.objectClass = request->value1;
    call.handles.push_back(request->value2);
    memcpy(&call.clJobId, &request->clJobId, sizeof call.clJobId);
    call.attributes.assign(request->attributeIds, request->attributeIds + request->attributeIdCount);
    return FakeDmlp::current->request(kTraceJob, call, result, kTraceJobResultBytes);
}

DmlpStatus fakeCancelJob(uint8_t, const DmlpCallback*, DmlpBinding binding, const uint32_t*, const void* params,
                         void* result)
{
    Call call = requestCall(kCancelJob, binding);
    call.handles.push_back(static_cast<const DmlpCancelJobParams*>(params)->value1);
    return FakeDmlp::current->request(kCancelJob, call, result, kCancelJobResultBytes);
}

DmlpStatus fakeInitialize(uint8_t, void*, DmlpInstance* instance)
{
    *instance = 0x1234;
    return DMLP_SUCCESS;
}

DmlpStatus fakeTerminate(DmlpInstance)
{
    return DMLP_SUCCESS;
}

DmlpStatus fakeBind(DmlpInstance, const DmlpAddress* peer, const DmlpAddress* local, const DmlpEPProperty* property,
                    DmlpBinding* binding)
{
    Call call = requestCall(kBind, nullptr);
    call.peer = *peer;
    call.hasLocal = local != nullptr;
    if (local)
        call.local = *local;
    call.property = *property;
    DmlpStatus status = FakeDmlp::current->status(kBind, call);
    *binding = status == DMLP_SUCCESS ? FakeDmlp::newBinding() : nullptr;
    return status;
}

DmlpStatus fakeUnbind(DmlpBinding binding)
{
    return FakeDmlp::current->status(kUnbind, requestCall(kUnbind, binding));
}

DmlpStatus fakeFreeMemory(DmlpBuffer* buffer)
{
    FakeDmlp::current->status(kFreeMemory, requestCall(kFreeMemory, nullptr));
    if (!buffer || !(buffer->flags & DMLP_BUFFER_LIBRARY))
        return DMLP_BAD_PARAMETER;
    if (buffer->data) {
        DmlpFree(buffer->data);
        FakeDmlp::current->freed();
    }
    return DMLP_SUCCESS;
}

DmlpStatus fakeReleaseParam(void* param)
{
    Call call = requestCall(kReleaseParam, nullptr);
    call.param = param;
    return FakeDmlp::current->status(kReleaseParam, call);
}

Call subscribeCall(uint16_t method, DmlpBinding binding, uint32_t value, const DmlpEventList* events,
                   const DmlpCallback* callback)
{
    Call call = requestCall(method, binding);
    call.objectClass = value;
    call.attributes.assign(events->eventIds, events->eventIds + events->count + 1);
    call.callback = callback;
    return call;
}

DmlpStatus fakeSubscribe(DmlpBinding binding, const uint32_t*, uint32_t, uint32_t value, const DmlpEventList* events,
                         uint32_t, const DmlpCallback* callback)
{
    return FakeDmlp::current->status(kSubscribe, subscribeCall(kSubscribe, binding, value, events, callback));
}

DmlpStatus fakeSubscribe2(DmlpBinding binding, const uint32_t*, uint32_t, uint32_t value, const DmlpEventList* events,
                          uint32_t, const DmlpCallback* callback)
{
    return FakeDmlp::current->status(kSubscribe2, subscribeCall(kSubscribe2, binding, value, events, callback));
}

DmlpStatus fakeUnsubscribe(DmlpBinding binding, const uint32_t*, uint32_t value)
{
    Call call = requestCall(kUnsubscribe, binding);
    call.objectClass = value;
    return FakeDmlp::current->status(kUnsubscribe, call);
}

DmlpStatus fakeUnsubscribe2(DmlpBinding binding, const uint32_t*, uint32_t value)
{
    Call call = requestCall(kUnsubscribe2, binding);
    call.objectClass = value;
    return FakeDmlp::current->status(kUnsubscribe2, call);
}

} // namespace

FakeDmlp::FakeDmlp() : saved_(g_DmlpEntries)
{
    DmlpCoderInitialize();
    current = this;
    g_DmlpEntries = DmlpEntryPoints{fakeInitialize,  fakeTerminate,    fakeBind,       fakeUnbind,
                                    fakeFreeMemory,  fakeReleaseParam, fakeSubscribe,  fakeSubscribe2,
                                    fakeUnsubscribe, fakeUnsubscribe2, fakeGet2,       fakeListObjects2,
                                    fakeTraceJob,    fakeCancelJob,    malloc,         free};
}

FakeDmlp::~FakeDmlp()
{
    g_DmlpEntries = saved_;
    current = nullptr;
}

void FakeDmlp::reply(uint16_t method, uint16_t status, const Bytes& body)
{
    std::lock_guard<std::mutex> hold(lock_);
    replies_[method].emplace_back(status, body);
}

std::vector<Call> FakeDmlp::calls()
{
    std::lock_guard<std::mutex> hold(lock_);
    return calls_;
}

std::vector<Call> FakeDmlp::callsOf(uint16_t method)
{
    std::vector<Call> found;
    for (const Call& call : calls())
        if (call.method == method)
            found.push_back(call);
    return found;
}

DmlpStatus FakeDmlp::status(uint16_t method, Call call)
{
    std::lock_guard<std::mutex> hold(lock_);
    calls_.push_back(call);
    auto known = statuses_.find(method);
    return known == statuses_.end() ? DMLP_SUCCESS : known->second;
}

DmlpStatus FakeDmlp::request(uint16_t method, Call call, void* result, size_t resultBytes)
{
    std::pair<uint16_t, Bytes> answer;
    {
        std::lock_guard<std::mutex> hold(lock_);
        calls_.push_back(call);
        auto& queue = replies_[method];
        if (queue.empty()) {
            ++unanswered_;
            return DMLP_TIMEOUT;
        }
        answer = queue.front();
        queue.pop_front();
    }
    memset(result, 0, resultBytes);
    if (answer.first != DMLP_SUCCESS)
        return answer.first;
    Bytes frame = Frame(method, answer.second);
    DmlpHeader header = {};
    DmlpDecodeContext context = {result, nullptr, 0};
    DmlpCursor in = {frame.data(), static_cast<int32_t>(frame.size())};
    if (DmlpDecodeMessage(&header, &context, &in, nullptr) != DMLP_CODER_OK)
        return DMLP_BAD_REPLY;
    if (context.held && context.held->data)
        ++liveBlocks_;
    return DMLP_SUCCESS;
}

// ---- Wire bodies ---------------------------------------------------------------------------------

ClJobID JobId(uint32_t number, const std::string& text)
{
    ClJobID id = {};
    id.Data1 = 0x10000000 + number;
    id.Data2 = static_cast<WORD>(0x2000 + number);
    id.Data3 = static_cast<WORD>(0x3000 + number);
    for (int i = 0; i < CLJOBID_DATA4_BYTES; ++i)
        id.Data4[i] = static_cast<BYTE>(number + i);
    memcpy(id.JobText, text.data(), std::min<size_t>(text.size(), CLJOBID_JOBTEXT_BYTES));
    return id;
}

Bytes Attribute(uint16_t id, const Bytes& value)
{
    return Wire().u16(id).u16(static_cast<uint32_t>(value.size())).raw(value);
}

Bytes ClientJobIdValue(const ClJobID& id)
{
    Wire wire;
    wire.u32(id.Data1).u16(id.Data2).u16(id.Data3);
    wire.raw(Bytes(id.Data4, id.Data4 + CLJOBID_DATA4_BYTES))
        .raw(Bytes(id.JobText, id.JobText + CLJOBID_JOBTEXT_BYTES));
    return wire;
}

Bytes JobStateValue(uint8_t state, const std::vector<uint32_t>& codes)
{
    Wire wire;
    wire.u8(state).u8(0).u8(0).u8(static_cast<uint32_t>(codes.size()));
    for (uint32_t code : codes)
        wire.u32(code);
    return wire.u32(0).u16(0);
}

Bytes DeviceStateValue(uint8_t status, const std::vector<uint32_t>& codes, uint32_t hint, uint8_t online)
{
    Wire wire;
    wire.u8(status).u8(0).u8(static_cast<uint32_t>(codes.size()));
    for (uint32_t code : codes)
        wire.u32(code);
    return wire.u32(hint).u8(online).u16(0);
}

Bytes U32Value(uint32_t value)
{
    return Wire().u32(value);
}

Bytes IdListValue(const std::vector<uint16_t>& ids)
{
    Wire wire;
    wire.u16(static_cast<uint32_t>(ids.size()));
    for (uint16_t id : ids)
        wire.u16(id).u8(0);
    return wire;
}

Bytes Get2Body(const std::vector<std::pair<uint32_t, std::vector<Bytes>>>& objects)
{
    Wire wire;
    wire.u16(static_cast<uint32_t>(objects.size()));
    for (const auto& object : objects) {
        wire.u32(object.first).u16(static_cast<uint32_t>(object.second.size()));
        for (const Bytes& attribute : object.second)
            wire.raw(attribute);
    }
    return wire;
}

Bytes ListObjects2Body(const std::vector<uint32_t>& handles)
{
    Wire wire;
    wire.u16(0).u8(0).u16(0).u8(0).u32(0).u16(0).u16(0).u16(static_cast<uint32_t>(handles.size()));
    for (uint32_t handle : handles)
        wire.u32(handle);
    return wire;
}

Bytes TraceJobBody(uint8_t kind, const std::vector<Bytes>& attributes)
{
    Wire wire;
    wire.u8(kind).u32(0).u32(0).u16(static_cast<uint32_t>(attributes.size()));
    for (const Bytes& attribute : attributes)
        wire.raw(attribute);
    return wire;
}

Bytes JobObject(uint32_t handle, const ClJobID& id, uint8_t state, const std::vector<uint32_t>& codes,
                int impressions)
{
    std::vector<Bytes> attributes = {Attribute(280, ClientJobIdValue(id)), Attribute(283, JobStateValue(state, codes))};
    if (impressions >= 0)
        attributes.push_back(Attribute(277, U32Value(static_cast<uint32_t>(impressions))));
    return Get2Body({{handle, attributes}});
}

} // namespace clibtest
