// dmlp-query: asks a DMLP device through VxDmlp.so what the client library asks it (its job
// objects, a job's trace in the job log, the device state), echoes text, or cancels a job.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <condition_variable>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include <arpa/inet.h>

#include "JobMessages.h"
#include "VxDmlpApi.h"

namespace {

const uint32_t kJobClass = 501;
const uint32_t kNoObject[2] = {0, 0};

void usage(FILE* out)
{
    fprintf(out,
            "usage: dmlp-query [options] ADDRESS COMMAND\n"
            "       dmlp-query [options] ADDRESS[,ADDRESS...] watch [--ids 154,18] [--class 501] [--v2]\n"
            "                  [--renew S] [--count N]\n"
            "       dmlp-query [--timeout MS] TARGET discover\n"
            "Asks the DMLP device at ADDRESS (IPv4) through VxDmlp:\n"
            "  echo TEXT       the device sends TEXT back; prints it\n"
            "  jobs            the device's job objects, one line each: HANDLE STATE IMPRESSIONS ID\n"
            "                  (ID: the 64 bytes of the client job id as they go on the wire, in hex)\n"
            "  device          the device state: STATUS ONLINE HINT CODE...\n"
            "  trace ID        the job log's answer for client job id ID: COMPLETION IMPRESSIONS\n"
            "  cancel HANDLE   cancels the job object HANDLE\n"
            "  watch           subscribes to each device's events (ids 154 and 18, list value 501, by\n"
            "                  AppendToList; --v2 by SetListElement), renews every S seconds, prints one\n"
            "                  line per event: SENDER ID ... (154: JOB STATE REASON ID; 18: JOB\n"
            "                  IMPRESSIONS); after N callbacks unsubscribes and exits 0\n"
            "  discover        an Echo to TARGET (0.0.0.0: broadcast); the devices that answer within\n"
            "                  the time-out, one address a line\n"
            "options:\n"
            "  --port N        DMLP port (default 47545)\n"
            "  --tcp           over TCP instead of UDP\n"
            "  --timeout MS    reply time-out per transmission (default 2000)\n"
            "  --retry N       transmissions of a request over UDP (default 3)\n"
            "  --root PATH     the platform root (default: PAL_ROOT)\n"
            "A failed request prints its DMLP status in decimal and exits 1; a wrong command line\n"
            "exits 2.\n");
}

bool parseNumber(const char* text, unsigned long max, unsigned long& value)
{
    char* end = nullptr;
    errno = 0;
    value = strtoul(text, &end, 0);
    return *text != '\0' && *end == '\0' && errno == 0 && value <= max;
}

int fail(DmlpStatus status)
{
    printf("%u\n", status);
    return 1;
}

// A request result record with its data block, freed whatever became of the request.
template <typename Result>
struct Reply {
    Result record = {};
    ~Reply() { DMLP_FreeMemory(&record.buffer); }
};

const DmlpAttributeEntry* findAttribute(const DmlpGet2Object& object, uint16_t id)
{
    for (uint16_t i = 0; i < object.count; ++i) {
        if (object.attributes[i].id == id)
            return &object.attributes[i];
    }
    return nullptr;
}

DmlpStatus get2(DmlpBinding binding, uint16_t objectClass, uint32_t handle, std::vector<uint16_t> ids,
                Reply<DmlpGet2Result>& reply)
{
    DmlpGet2Params params = {};
    params.value1 = objectClass;
    params.objectCount = 1;
    params.objects = &handle;
    params.attributeIdCount = (uint16_t)ids.size();
    params.attributeIds = ids.data();
    return DMLP_Get2(DMLP_MODE_SYNC, nullptr, binding, kNoObject, &params, &reply.record);
}

int echo(DmlpBinding binding, const char* text)
{
    DmlpEchoParams params = {text, (uint16_t)strlen(text)};
    Reply<DmlpEchoResult> reply;
    const DmlpStatus status = DMLP_Echo(DMLP_MODE_SYNC, nullptr, binding, kNoObject, &params, &reply.record);
    if (status != DMLP_SUCCESS)
        return fail(status);
    const uint8_t* echoed = reply.record.echoed != nullptr ? reply.record.echoed : reply.record.data;
    printf("%.*s\n", (int)reply.record.length, echoed != nullptr ? (const char*)echoed : "");
    return 0;
}

int jobs(DmlpBinding binding)
{
    DmlpListObjects2Params list = {0, 0, 0, 201, 22, kJobClass, 0, 0};
    Reply<DmlpListObjects2Result> listed;
    DmlpStatus status = DMLP_ListObjects2(DMLP_MODE_SYNC, nullptr, binding, kNoObject, &list, &listed.record);
    if (status != DMLP_SUCCESS)
        return fail(status);
    for (uint16_t i = 0; i < listed.record.count; ++i) {
        const uint32_t handle = listed.record.objects[i];
        Reply<DmlpGet2Result> reply;
        status = get2(binding, 0, handle, {280, 283, 277}, reply);
        if (status != DMLP_SUCCESS)
            return fail(status);
        for (uint16_t o = 0; o < reply.record.count; ++o) {
            const DmlpGet2Object& object = reply.record.objects[o];
            const DmlpAttributeEntry* id = findAttribute(object, 280);
            const DmlpAttributeEntry* state = findAttribute(object, 283);
            const DmlpAttributeEntry* impressions = findAttribute(object, 277);
            printf("%u %u %u %s\n", object.handle,
                   state != nullptr && state->value != nullptr ? *(const uint8_t*)state->value : 0,
                   impressions != nullptr && impressions->value != nullptr ? *(const uint32_t*)impressions->value : 0,
                   id != nullptr && id->value != nullptr ? jobmsg::wireHex(*(const DmlpClientJobId*)id->value).c_str()
                                                         : "-");
        }
    }
    return 0;
}

// The decoded device state (attribute 282).
struct DeviceState {
    uint8_t status;
    uint8_t value2;
    uint8_t unused[6];
    uint8_t count;
    uint8_t unused2[7];
    const uint32_t* codes;
    uint32_t hint;
    uint8_t online;
};

int device(DmlpBinding binding)
{
    Reply<DmlpGet2Result> reply;
    const DmlpStatus status = get2(binding, 512, 601, {282}, reply);
    if (status != DMLP_SUCCESS)
        return fail(status);
    const DmlpAttributeEntry* entry =
        reply.record.count > 0 ? findAttribute(reply.record.objects[0], 282) : nullptr;
    if (entry == nullptr || entry->value == nullptr)
        return fail(0xFFFF);
    const DeviceState* state = (const DeviceState*)entry->value;
    printf("%u %u %08X", state->status, state->online, state->hint);
    for (uint8_t i = 0; i < state->count; ++i)
        printf(" %08X", state->codes[i]);
    printf("\n");
    return 0;
}

int trace(DmlpBinding binding, const DmlpClientJobId& id)
{
    const uint16_t entries[] = {6004, 277};
    DmlpTraceJobParams params = {};
    params.value1 = kJobClass;
    params.value2 = 2;
    params.clJobId = id;
    params.attributeIdCount = 2;
    params.attributeIds = entries;
    Reply<DmlpTraceJobResult> reply;
    const DmlpStatus status = DMLP_TraceJob(DMLP_MODE_SYNC, nullptr, binding, kNoObject, &params, &reply.record);
    if (status != DMLP_SUCCESS)
        return fail(status);
    unsigned completion = 255, impressions = 0;
    bool completionFound = false;
    for (uint16_t i = 0; reply.record.kind == 2 && i < reply.record.count; ++i) {
        const DmlpAttributeEntry& entry = reply.record.attributes[i];
        if (entry.value == nullptr)
            continue;
        if (entry.id == 6004 && !completionFound) {
            completion = *(const uint8_t*)entry.value;
            completionFound = true;
        } else if (entry.id == 277) {
            impressions = *(const uint32_t*)entry.value;
        }
    }
    printf("%u %u\n", completion, impressions);
    return 0;
}

int cancel(DmlpBinding binding, uint32_t handle)
{
    DmlpCancelJobParams params = {handle};
    DmlpDeleteResult result = {};
    const DmlpStatus status = DMLP_CancelJob(DMLP_MODE_SYNC, nullptr, binding, kNoObject, &params, &result);
    return status == DMLP_SUCCESS ? 0 : fail(status);
}

// ---- watch ----

struct Watch {
    std::mutex lock;
    std::condition_variable changed;
    unsigned long callbacks = 0;
};

void printEntry(const char* sender, const DmlpEventEntry& entry)
{
    if (entry.id == 154 && entry.body != nullptr) {
        const JobState3* state = (const JobState3*)entry.body;
        printf("%s 154 %u %u %u %s\n", sender, state->Job, state->State, state->Reason,
               jobmsg::wireHex(state->clJobId).c_str());
    } else if (entry.id == 18 && entry.body != nullptr) {
        const DmlpImpressionEvent* impressions = (const DmlpImpressionEvent*)entry.body;
        printf("%s 18 %u %u\n", sender, impressions->Job, impressions->ImprCompCnt);
    } else {
        printf("%s %u\n", sender, entry.id);
    }
}

void onEvent(const DmlpAddress* sender, void* context, void* event)
{
    Watch* watch = (Watch*)context;
    char address[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, sender->u.inet.address, address, sizeof address);
    const DmlpEventRecord* record = (const DmlpEventRecord*)event;
    for (uint8_t i = 0; i < record->count; ++i)
        printEntry(address, record->entries[i]);
    fflush(stdout);
    DMLP_ReleaseParam(event);
    std::lock_guard<std::mutex> guard(watch->lock);
    ++watch->callbacks;
    watch->changed.notify_all();
}

struct WatchOptions {
    std::vector<uint16_t> ids = {154, 18};
    unsigned long objectClass = kJobClass;
    bool v2 = false;
    unsigned long renewSeconds = 0;
    unsigned long count = 0;  // 0: until killed
};

DmlpStatus subscribeAll(const std::vector<DmlpBinding>& bindings, const WatchOptions& options, Watch& watch)
{
    const DmlpEventList list = {(uint16_t)options.ids.size(), options.ids.data()};
    DmlpCallback callback = {};
    callback.kind = DMLP_CALLBACK_KIND;
    callback.function.event = onEvent;
    callback.context = &watch;
    for (DmlpBinding binding : bindings) {
        const DmlpStatus status =
            (options.v2 ? DMLP_SubscribeEvent2 : DMLP_SubscribeEvent)(binding, kNoObject, 0,
                                                                     (uint32_t)options.objectClass, &list, 0, &callback);
        if (status != DMLP_SUCCESS)
            return status;
    }
    return DMLP_SUCCESS;
}

int watch(const std::vector<DmlpBinding>& bindings, const WatchOptions& options)
{
    Watch state;
    DmlpStatus status = subscribeAll(bindings, options, state);
    if (status != DMLP_SUCCESS)
        return fail(status);
    printf("watching\n");
    fflush(stdout);
    std::unique_lock<std::mutex> guard(state.lock);
    while (options.count == 0 || state.callbacks < options.count) {
        if (options.renewSeconds == 0) {
            state.changed.wait(guard);
            continue;
        }
        if (!state.changed.wait_for(guard, std::chrono::seconds(options.renewSeconds),
                                    [&] { return options.count != 0 && state.callbacks >= options.count; })) {
            guard.unlock();
            status = subscribeAll(bindings, options, state);
            guard.lock();
            if (status != DMLP_SUCCESS)
                fprintf(stderr, "dmlp-query: renewal failed with %u\n", status);
        }
    }
    guard.unlock();
    for (DmlpBinding binding : bindings) {
        status = (options.v2 ? DMLP_UnsubscribeEvent2 : DMLP_UnsubscribeEvent)(binding, kNoObject,
                                                                             (uint32_t)options.objectClass);
        if (status != DMLP_SUCCESS)
            fprintf(stderr, "dmlp-query: unsubscribe answered %u\n", status);
    }
    return 0;
}

// ---- discover ----

struct Discovered {
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
    DmlpStatus status = 0;
};

uint16_t onDiscovered(DmlpBinding, uint16_t, void* context, uint16_t status, void* result)
{
    Discovered* discovered = (Discovered*)context;
    const DmlpDiscoveryResult* devices = (const DmlpDiscoveryResult*)result;
    for (uint16_t i = 0; devices != nullptr && devices->list != nullptr && i < devices->list->count; ++i) {
        char address[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, devices->list->devices[i].u.inet.address, address, sizeof address);
        printf("%s\n", address);
    }
    fflush(stdout);
    if (result != nullptr)
        DMLP_ReleaseParam(result);
    std::lock_guard<std::mutex> guard(discovered->lock);
    discovered->status = status;
    discovered->finished = true;
    discovered->done.notify_all();
    return 0;
}

int discover(const DmlpAddress& target, unsigned long timeout)
{
    Discovered discovered;
    DmlpCallback callback = {};
    callback.kind = DMLP_CALLBACK_KIND;
    callback.function.result = onDiscovered;
    callback.context = &discovered;
    const DmlpStatus status = DMLP_DiscoverAsync(&callback, &target, (uint32_t)timeout, nullptr);
    if (status != DMLP_SUCCESS)
        return fail(status);
    std::unique_lock<std::mutex> guard(discovered.lock);
    discovered.done.wait(guard, [&] { return discovered.finished; });
    return discovered.status == DMLP_SUCCESS ? 0 : fail(discovered.status);
}

bool parseIds(const char* text, std::vector<uint16_t>& ids)
{
    ids.clear();
    std::string list = text;
    size_t start = 0;
    while (start <= list.size()) {
        const size_t comma = list.find(',', start);
        const std::string item = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        unsigned long id;
        if (!parseNumber(item.c_str(), 0xFFFF, id))
            return false;
        ids.push_back((uint16_t)id);
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return !ids.empty();
}

} // namespace

int main(int argc, char** argv)
{
    unsigned long port = 47545, timeout = 2000, retry = 3;
    bool tcp = false;
    bool timeoutGiven = false;
    WatchOptions watchOptions;
    std::vector<const char*> words;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--help") {
            usage(stdout);
            return 0;
        } else if (arg == "--tcp") {
            tcp = true;
        } else if (arg == "--port" && hasValue) {
            if (!parseNumber(argv[++i], 65535, port) || port == 0) {
                fprintf(stderr, "dmlp-query: %s is not a port\n", argv[i]);
                return 2;
            }
        } else if (arg == "--timeout" && hasValue) {
            if (!parseNumber(argv[++i], 600000, timeout) || timeout == 0) {
                fprintf(stderr, "dmlp-query: %s is not a time-out in milliseconds\n", argv[i]);
                return 2;
            }
            timeoutGiven = true;
        } else if (arg == "--ids" && hasValue) {
            if (!parseIds(argv[++i], watchOptions.ids)) {
                fprintf(stderr, "dmlp-query: %s is not a list of event ids\n", argv[i]);
                return 2;
            }
        } else if (arg == "--class" && hasValue) {
            if (!parseNumber(argv[++i], 0xFFFFFFFFul, watchOptions.objectClass) || watchOptions.objectClass == 0) {
                fprintf(stderr, "dmlp-query: %s is not a list value\n", argv[i]);
                return 2;
            }
        } else if (arg == "--renew" && hasValue) {
            if (!parseNumber(argv[++i], 86400, watchOptions.renewSeconds)) {
                fprintf(stderr, "dmlp-query: %s is not a number of seconds\n", argv[i]);
                return 2;
            }
        } else if (arg == "--count" && hasValue) {
            if (!parseNumber(argv[++i], 0xFFFFFFFFul, watchOptions.count)) {
                fprintf(stderr, "dmlp-query: %s is not a count\n", argv[i]);
                return 2;
            }
        } else if (arg == "--v2") {
            watchOptions.v2 = true;
        } else if (arg == "--retry" && hasValue) {
            if (!parseNumber(argv[++i], 255, retry) || retry == 0) {
                fprintf(stderr, "dmlp-query: %s is not a number of transmissions (1 to 255)\n", argv[i]);
                return 2;
            }
        } else if (arg == "--root" && hasValue) {
            setenv("PAL_ROOT", argv[++i], 1);
        } else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
            fprintf(stderr, "dmlp-query: unknown option %s\n", arg.c_str());
            usage(stderr);
            return 2;
        } else {
            words.push_back(argv[i]);
        }
    }
    const std::string command = words.size() >= 2 ? words[1] : "";
    const bool oneArgument = command == "echo" || command == "trace" || command == "cancel";
    const bool noArgument = command == "jobs" || command == "device" || command == "watch" || command == "discover";
    if (!((oneArgument && words.size() == 3) || (noArgument && words.size() == 2))) {
        usage(stderr);
        return 2;
    }
    std::vector<DmlpAddress> peers;
    std::string addresses = words[0];
    for (size_t start = 0; start <= addresses.size();) {
        const size_t comma = addresses.find(',', start);
        const std::string one = addresses.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        DmlpAddress peer = {};
        peer.kind = tcp && command != "discover" ? DMLP_ADDRESS_TCP : DMLP_ADDRESS_UDP;
        if (inet_pton(AF_INET, one.c_str(), peer.u.inet.address) != 1) {
            fprintf(stderr, "dmlp-query: %s is not an IPv4 address\n", one.c_str());
            return 2;
        }
        peer.u.inet.port = (uint16_t)port;
        peers.push_back(peer);
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    if (peers.size() > 1 && command != "watch") {
        fprintf(stderr, "dmlp-query: only watch takes several addresses\n");
        return 2;
    }
    DmlpClientJobId id = {};
    unsigned long handle = 0;
    if (command == "trace" && !jobmsg::parseWireHex(words[2], id)) {
        fprintf(stderr, "dmlp-query: the client job id is 128 hexadecimal digits\n");
        return 2;
    }
    if (command == "cancel" && !parseNumber(words[2], 0xFFFFFFFFul, handle)) {
        fprintf(stderr, "dmlp-query: %s is not a job object handle\n", words[2]);
        return 2;
    }

    DmlpInstance instance = 0;
    DmlpStatus status = DMLP_Initialize(DMLP_INTERFACE_VERSION, nullptr, &instance);
    if (status != DMLP_SUCCESS) {
        fprintf(stderr, "dmlp-query: the protocol library did not start\n");
        return fail(status);
    }
    if (command == "discover") {
        const int result = discover(peers[0], timeoutGiven ? timeout : 2000);
        DMLP_Terminate(instance);
        return result;
    }
    DmlpEPProperty property = {};
    property.timeout = (uint32_t)timeout;
    property.transmissions = (uint8_t)retry;
    std::vector<DmlpBinding> bindings;
    for (const DmlpAddress& peer : peers) {
        DmlpBinding one = nullptr;
        status = DMLP_Bind(instance, &peer, nullptr, &property, &one);
        if (status != DMLP_SUCCESS && status != DMLP_BOUND_2001)
            break;
        bindings.push_back(one);
    }
    DmlpBinding binding = bindings.empty() ? nullptr : bindings[0];
    int result;
    if (bindings.size() != peers.size()) {
        fprintf(stderr, "dmlp-query: cannot bind to %s\n", words[0]);
        result = fail(status);
    } else if (command == "watch") {
        result = watch(bindings, watchOptions);
    } else {
        if (command == "echo")
            result = echo(binding, words[2]);
        else if (command == "jobs")
            result = jobs(binding);
        else if (command == "device")
            result = device(binding);
        else if (command == "trace")
            result = trace(binding, id);
        else
            result = cancel(binding, (uint32_t)handle);
    }
    for (DmlpBinding one : bindings)
        DMLP_Unbind(one);
    DMLP_Terminate(instance);
    return result;
}
