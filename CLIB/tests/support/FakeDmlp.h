// A scripted stand-in for VxDmlp behind the client library's entry table: each request method
// answers from its own queue of (status, wire body) replies, the body decoded by the real coder into
// the caller's result record, exactly as the engine fills it. Every call is recorded.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "ClientJobId.h"
#include "DmlpEntries.h"
#include "WireBytes.h"

namespace clibtest {

enum Method : uint16_t {
    kBind = 0xF001,  // pseudo methods of the binding and subscription calls
    kUnbind,
    kSubscribe,
    kSubscribe2,
    kUnsubscribe,
    kUnsubscribe2,
    kReleaseParam,
    kFreeMemory,
    kGet2 = 102,
    kListObjects2 = 114,
    kTraceJob = 109,
    kCancelJob = 31,
};

struct Call {
    uint16_t method = 0;
    DmlpBinding binding = nullptr;
    uint32_t objectClass = 0;             // Get2 class, subscription value, TraceJob class
    std::vector<uint32_t> handles;        // Get2 objects, CancelJob handle
    std::vector<uint16_t> attributes;     // Get2 attributes, TraceJob entry ids, event ids
    ClJobID clJobId = {};                 // TraceJob
    const DmlpCallback* callback = nullptr;
    DmlpAddress peer = {}, local = {};    // Bind
    bool hasLocal = false;
    DmlpEPProperty property = {};
    const void* param = nullptr;          // ReleaseParam
    std::vector<uint8_t> listObjects;     // ListObjects2 request fields in order
};

class FakeDmlp {
public:
    FakeDmlp();
    ~FakeDmlp();
    FakeDmlp(const FakeDmlp&) = delete;
    FakeDmlp& operator=(const FakeDmlp&) = delete;

    // Queues the answer of the next request of that method; a body is decoded only for status 1.
    void reply(uint16_t method, uint16_t status, const Bytes& body = {});
    // Statuses of the binding and subscription calls (default 1).
    void answer(uint16_t method, uint16_t status) { statuses_[method] = status; }

    std::vector<Call> calls();
    std::vector<Call> callsOf(uint16_t method);
    int unanswered() const { return unanswered_; }
    int liveBlocks() const { return liveBlocks_; }

    static DmlpBinding binding() { return reinterpret_cast<DmlpBinding>(0x5A5A0001); }
    static DmlpBinding newBinding() { return reinterpret_cast<DmlpBinding>(0x5A5A0002); }

    // Entry points, reached through g_DmlpEntries.
    static FakeDmlp* current;
    DmlpStatus request(uint16_t method, Call call, void* result, size_t resultBytes);
    DmlpStatus status(uint16_t method, Call call);
    void freed() { --liveBlocks_; }

private:
    std::mutex lock_;
    std::map<uint16_t, std::deque<std::pair<uint16_t, Bytes>>> replies_;
    std::map<uint16_t, uint16_t> statuses_;
    std::vector<Call> calls_;
    int unanswered_ = 0;
    std::atomic<int> liveBlocks_{0};
    DmlpEntryPoints saved_;
};

// ---- Wire bodies, written field by field --------------------------------------------------------

// A client job id whose fields come from one number; text is put into its job text.
ClJobID JobId(uint32_t number, const std::string& text = "00001234");

// One attribute on the wire: id, length, value bytes.
Bytes Attribute(uint16_t id, const Bytes& value);
Bytes ClientJobIdValue(const ClJobID& id);
Bytes JobStateValue(uint8_t state, const std::vector<uint32_t>& codes);
Bytes DeviceStateValue(uint8_t status, const std::vector<uint32_t>& codes, uint32_t hint, uint8_t online);
Bytes U32Value(uint32_t value);
Bytes IdListValue(const std::vector<uint16_t>& ids);  // value type 112: {uint16 id, uint8 0}

// A Get2 body of objects, each a handle and its attribute bytes.
Bytes Get2Body(const std::vector<std::pair<uint32_t, std::vector<Bytes>>>& objects);
Bytes ListObjects2Body(const std::vector<uint32_t>& handles);
Bytes TraceJobBody(uint8_t kind, const std::vector<Bytes>& attributes);

// A job object's Get2 body with its client job id, state and (optionally) impressions.
Bytes JobObject(uint32_t handle, const ClJobID& id, uint8_t state, const std::vector<uint32_t>& codes = {},
                int impressions = -1);

} // namespace clibtest
