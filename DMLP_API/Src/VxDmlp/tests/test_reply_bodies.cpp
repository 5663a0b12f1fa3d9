// Reply bodies: realistic replies decoded to the offsets their consumers read, every method's
// reply decoded into a caller's record and into an allocated one, every strict prefix refused,
// allocation failures at every step, and the refusals of each family.
#include <set>
#include <sstream>

#include "BodyTesting.h"

namespace {

class ReplyBodies : public CoderTest {};

// ---- Realistic replies ---------------------------------------------------------------------------

const Bytes kJobIdWire = Wire()
                             .u32(0x11223344).u16(0x5566).u16(0x7788).text("ABCDEFGH")
                             .text("JOB00001 report.txt").fill(48 - 19, 0);

// Attribute 283 (job state): state, two bytes, two status codes, the hint, and a nested list
// holding an unknown id (kept raw) and attribute 6004.
Bytes JobStateValue(uint8_t state)
{
    return Wire()
        .u8(state).u8(6).u8(7).u8(2).u32(0x1001).u32(0x2002).u32(7)
        .u16(2).u16(9999).u16(3).text("abc").u16(6004).u16(1).u8(4);
}

Bytes Attribute(uint16_t id, const Bytes& value) { return Wire().u16(id).u16((uint32_t)value.size()).raw(value); }

Bytes JobObject(uint32_t handle, uint8_t state, uint32_t impressions)
{
    return Wire()
        .u32(handle).u16(3)
        .raw(Attribute(280, kJobIdWire))
        .raw(Attribute(283, JobStateValue(state)))
        .raw(Attribute(277, Wire().u32(impressions)));
}

const Bytes kGet2Body = Wire().u16(2).raw(JobObject(0x1001, 5, 17)).raw(JobObject(0x1002, 9, 250));

// The decoded attribute 283 (value type 144).
struct JobStateRecord {
    uint8_t state;
    uint8_t value2;
    uint8_t value3;
    alignas(8) uint8_t codeCount;
    uint32_t* codes;
    uint32_t hint;
    DmlpAttributeList attributes;
};
static_assert(sizeof(JobStateRecord) == 48 && offsetof(JobStateRecord, codeCount) == 8 &&
                  offsetof(JobStateRecord, codes) == 16 && offsetof(JobStateRecord, hint) == 24 &&
                  offsetof(JobStateRecord, attributes) == 32,
              "value type 144");

void ExpectJobObject(const DmlpGet2Object& object, uint32_t handle, uint8_t state, uint32_t impressions)
{
    EXPECT_EQ(object.handle, handle);
    ASSERT_EQ(object.count, 3);
    const DmlpAttributeEntry* attributes = object.attributes;
    EXPECT_EQ(attributes[0].id, 280);
    EXPECT_EQ(attributes[0].length, 0) << "decoded through its type";
    const auto* jobId = (const DmlpClientJobId*)attributes[0].value;
    EXPECT_EQ(jobId->Data1, 0x11223344u);
    EXPECT_EQ(jobId->Data2, 0x5566);
    EXPECT_EQ(jobId->Data3, 0x7788);
    EXPECT_EQ(std::string((const char*)jobId->Data4, 8), "ABCDEFGH");
    EXPECT_EQ(std::string((const char*)jobId->JobText, 8), "JOB00001");

    EXPECT_EQ(attributes[1].id, 283);
    EXPECT_EQ(attributes[1].length, 0);
    const auto* jobState = (const JobStateRecord*)attributes[1].value;
    EXPECT_EQ(jobState->state, state);
    ASSERT_EQ(jobState->codeCount, 2);
    EXPECT_EQ(jobState->codes[0], 0x1001u);
    EXPECT_EQ(jobState->codes[1], 0x2002u);
    EXPECT_EQ(jobState->hint, 7u);
    ASSERT_EQ(jobState->attributes.count, 2);
    const DmlpAttributeEntry& unknown = jobState->attributes.entries[0];
    EXPECT_EQ(unknown.id, 9999);
    EXPECT_EQ(unknown.length, 3) << "an unknown id keeps its raw bytes and length";
    EXPECT_EQ(std::string((const char*)unknown.value, 3), "abc");
    const DmlpAttributeEntry& known = jobState->attributes.entries[1];
    EXPECT_EQ(known.id, 6004);
    EXPECT_EQ(known.length, 0);
    EXPECT_EQ(*(const uint8_t*)known.value, 4);

    EXPECT_EQ(attributes[2].id, 277);
    EXPECT_EQ(attributes[2].length, 0);
    EXPECT_EQ(Load<uint32_t>(attributes[2].value, 0), impressions);
}

TEST_F(ReplyBodies, Get2OfTwoJobObjectsLandsWhereTheClientLibraryReadsIt)
{
    ASSERT_EQ(DmlpFindValueType(9999, DMLP_HEADER_VERSION), nullptr);
    for (bool allocate : {false, true}) {
        Reply reply(Frame(102, kGet2Body), allocate);
        ASSERT_EQ(reply.error(), DMLP_CODER_OK);
        EXPECT_EQ(reply.status(), 1);
        const auto& result = reply.as<DmlpGet2Result>();
        ASSERT_EQ(result.count, 2);
        ExpectJobObject(result.objects[0], 0x1001, 5, 17);
        ExpectJobObject(result.objects[1], 0x1002, 9, 250);

        // One block: the object entries, all attribute entries, then the values in wire order.
        const uint8_t* block = (const uint8_t*)result.buffer.data;
        EXPECT_EQ((const uint8_t*)result.objects, block);
        EXPECT_EQ((const uint8_t*)result.objects[0].attributes, block + 2 * 16);
        EXPECT_EQ(result.objects[1].attributes, result.objects[0].attributes + 3);
        EXPECT_EQ((const uint8_t*)result.objects[0].attributes[0].value, block + 2 * 16 + 6 * 16);
        // Per object: 64 (280) + 48 + 8 + 2 x 16 + 8 + 8 (283) + 8 (277).
        EXPECT_EQ(result.buffer.size, 2 * 16 + 6 * 16 + 2 * (64 + 104 + 8));
        EXPECT_EQ(result.buffer.flags, DMLP_BUFFER_VALID | DMLP_BUFFER_MAY_GROW | DMLP_BUFFER_LIBRARY);
        EXPECT_EQ(reply.context().held, &result.buffer) << "the block stays held for its owner";

        // As the client library reads the record: the count at +0, the object entries through +8,
        // each entry's handle at +0, attribute count at +4 and entries through +8.
        EXPECT_EQ(Load<uint16_t>(reply.bytes(), 0), 2);
        const uint8_t* second = Pointer(reply.bytes(), 8) + 16;
        EXPECT_EQ(Load<uint32_t>(second, 0), 0x1002u);
        EXPECT_EQ(Load<uint16_t>(second, 4), 3);
        const uint8_t* stateEntry = Pointer(second, 8) + 16;
        EXPECT_EQ(Load<uint16_t>(stateEntry, 0), 283);
        const uint8_t* state = Pointer(stateEntry, 8);
        EXPECT_EQ(state[0], 9) << "the job state is the first byte of attribute 283";
        EXPECT_EQ(state[8], 2);
        EXPECT_EQ(Load<uint32_t>(Pointer(state, 16), 4), 0x2002u) << "the status codes through +16";
    }
}

// The device-state queries of the client library: attribute 282 (value type 143) of object 601,
// and attribute 111 (value type 112), whose elements each begin with an attribute id.
TEST_F(ReplyBodies, Get2OfTheDeviceStateAndOfTheReportedAttributes)
{
    const Bytes state282 = Wire().u8(4).u8(0).u8(2).u32(0x0A000001).u32(0x09000002).u32(0x00050000).u8(3).u16(0);
    Reply device(Frame(102, Wire().u16(1).u32(601).u16(1).raw(Attribute(282, state282))));
    ASSERT_EQ(device.error(), DMLP_CODER_OK);
    const uint8_t* object = Pointer(device.bytes(), 8);
    const uint8_t* value = Pointer(Pointer(object, 8), 8);
    EXPECT_EQ(value[0], 4) << "Status";
    ASSERT_EQ(value[8], 2);
    EXPECT_EQ(Load<uint32_t>(Pointer(value, 16), 0), 0x0A000001u);
    EXPECT_EQ(Load<uint32_t>(Pointer(value, 16), 4), 0x09000002u);
    EXPECT_EQ(Load<uint32_t>(value, 24), 0x00050000u) << "lHintPriorityCode";
    EXPECT_EQ(value[28], 3) << "Online";

    const Bytes support111 = Wire().u16(2).u16(280).u8(1).u16(282).u8(0);
    Reply support(Frame(102, Wire().u16(1).u32(601).u16(1).raw(Attribute(111, support111))));
    ASSERT_EQ(support.error(), DMLP_CODER_OK);
    const uint8_t* list = Pointer(Pointer(Pointer(support.bytes(), 8), 8), 8);
    ASSERT_EQ(Load<uint16_t>(list, 0), 2);
    const uint8_t* elements = Pointer(list, 8);
    EXPECT_EQ(Load<uint16_t>(elements, 0), 280);
    EXPECT_EQ(Load<uint16_t>(elements, 4), 282) << "4-byte elements, the id first";
}

TEST_F(ReplyBodies, Get2EdgeCases)
{
    {
        Reply reply(Frame(102, Wire().u16(0)));
        ASSERT_EQ(reply.error(), DMLP_CODER_OK);
        const auto& result = reply.as<DmlpGet2Result>();
        EXPECT_EQ(result.count, 0);
        EXPECT_EQ(result.objects, nullptr);
        EXPECT_EQ(result.buffer.data, nullptr);
        EXPECT_EQ(result.buffer.size, 0);
    }
    {
        Reply reply(Frame(102, Wire().u16(1).u32(0x77).u16(0)));
        ASSERT_EQ(reply.error(), DMLP_CODER_OK);
        const auto& result = reply.as<DmlpGet2Result>();
        ASSERT_EQ(result.count, 1);
        EXPECT_EQ(result.objects[0].handle, 0x77u);
        EXPECT_EQ(result.objects[0].attributes, nullptr);
        EXPECT_EQ(result.buffer.size, 16);
    }
    {
        // An unknown attribute of length 0 closes the list and the body.
        Reply reply(Frame(102, Wire().u16(1).u32(0x77).u16(2).raw(Attribute(277, Wire().u32(3))).u16(9999).u16(0)));
        ASSERT_EQ(reply.error(), DMLP_CODER_OK);
        const auto& object = reply.as<DmlpGet2Result>().objects[0];
        ASSERT_EQ(object.count, 2);
        EXPECT_EQ(object.attributes[1].id, 9999);
        EXPECT_EQ(object.attributes[1].length, 0);
        EXPECT_EQ(object.attributes[1].value, nullptr);
    }
    {
        // An object with fewer than 6 bytes for its handle and count.
        Reply reply(Frame(102, Wire().u16(1).u32(0x77).u8(0)), true);
        EXPECT_EQ(reply.error(), DMLP_CODER_TRUNCATED);
        EXPECT_EQ(reply.status(), DMLP_INTERNAL_FAILURE);
    }
    // AcquireRecords2: the same body, 24-byte object entries.
    Reply records(Frame(110, kGet2Body));
    ASSERT_EQ(records.error(), DMLP_CODER_OK);
    const auto& result = records.as<DmlpAcquireRecords2Result>();
    ASSERT_EQ(result.count, 2);
    EXPECT_EQ(result.objects[1].handle, 0x1002u);
    EXPECT_EQ(Load<uint16_t>(result.objects, 24 + 8), 3) << "the count at +8 of a 24-byte entry";
    EXPECT_EQ(Pointer(result.objects, 24 + 16), (const uint8_t*)result.objects[1].attributes);
    EXPECT_EQ((const uint8_t*)result.objects[0].attributes, (const uint8_t*)result.buffer.data + 2 * 24);
    EXPECT_EQ(result.objects[1].attributes[2].id, 277);
    EXPECT_EQ(Load<uint32_t>(result.objects[1].attributes[2].value, 0), 250u);
}

TEST_F(ReplyBodies, ADecodedReplyOver65535BytesIsRefusedNotWrapped)
{
    // 3000 attributes of 4 wire bytes each take 16 + 8 bytes apiece decoded: 72,000 bytes.
    Wire body;
    body.u16(1).u32(1).u16(3000);
    for (int i = 0; i < 3000; ++i)
        body.u16(6004).u16(1).u8(1);
    for (bool allocate : {false, true}) {
        Reply reply(Frame(102, body), allocate);
        EXPECT_EQ(reply.error(), DMLP_CODER_NO_MEMORY);
        EXPECT_EQ(reply.status(), DMLP_INTERNAL_FAILURE);
        EXPECT_EQ(reply.context().held, nullptr);
    }
    EXPECT_EQ(liveBlocks(), 0);
}

TEST_F(ReplyBodies, ListObjects2GivesTheHandlesAtTheirOffsets)
{
    const Bytes body = Wire().u16(1).u8(2).u16(3).u8(4).u32(5).u16(6).u16(7).u16(3).u32(0xA1).u32(0xA2).u32(0xA3);
    Reply reply(Frame(114, body));
    ASSERT_EQ(reply.error(), DMLP_CODER_OK);
    const auto& result = reply.as<DmlpListObjects2Result>();
    EXPECT_EQ(Load<uint16_t>(reply.bytes(), 16), 3) << "the count at +16";
    ASSERT_EQ(result.count, 3);
    EXPECT_EQ((const uint8_t*)result.objects, Pointer(reply.bytes(), 24));
    EXPECT_EQ(result.objects[0], 0xA1u);
    EXPECT_EQ(result.objects[2], 0xA3u);
    EXPECT_EQ(result.value5, 5u);
    EXPECT_EQ(result.value7, 7);
    EXPECT_EQ(result.buffer.size, 16);

    Reply none(Frame(114, Wire().u16(1).u8(2).u16(3).u8(4).u32(5).u16(6).u16(7).u16(0)));
    ASSERT_EQ(none.error(), DMLP_CODER_OK);
    EXPECT_EQ(none.as<DmlpListObjects2Result>().objects, nullptr);
    EXPECT_EQ(none.as<DmlpListObjects2Result>().buffer.data, nullptr);

    Reply tooMany(Frame(114, Wire().u16(1).u8(2).u16(3).u8(4).u32(5).u16(6).u16(7).u16(4).u32(1).u32(2).u32(3)),
                  true);
    EXPECT_EQ(tooMany.error(), DMLP_CODER_TRUNCATED);
}

TEST_F(ReplyBodies, TraceJobKindsOneTwoAndOthers)
{
    {
        const Bytes body = Wire().u8(2).u32(0x55).u32(0x66).u16(2).raw(Attribute(6004, Wire().u8(3)))
                               .raw(Attribute(277, Wire().u32(42)));
        Reply reply(Frame(109, body));
        ASSERT_EQ(reply.error(), DMLP_CODER_OK);
        const auto& result = reply.as<DmlpTraceJobResult>();
        EXPECT_EQ(reply.bytes()[0], 2) << "the kind at +0";
        EXPECT_EQ(Load<uint16_t>(reply.bytes(), 16), 2) << "the entry count at +16";
        EXPECT_EQ(Load<uint16_t>(Pointer(reply.bytes(), 24), 16), 277) << "the entries through +24";
        EXPECT_EQ(result.kind, 2);
        EXPECT_EQ(result.value1, 0x55u);
        EXPECT_EQ(result.value2, 0x66u);
        ASSERT_EQ(result.count, 2);
        EXPECT_EQ(result.attributes[0].id, 6004);
        EXPECT_EQ(*(const uint8_t*)result.attributes[0].value, 3);
        EXPECT_EQ(result.attributes[1].id, 277);
        EXPECT_EQ(Load<uint32_t>(result.attributes[1].value, 0), 42u);
        EXPECT_EQ(result.buffer.size, 2 * 16 + 8 + 8);
    }
    {
        Reply reply(Frame(109, Wire().u8(1).u32(0x55).u16(1).raw(Attribute(277, Wire().u32(9)))));
        ASSERT_EQ(reply.error(), DMLP_CODER_OK);
        const auto& result = reply.as<DmlpTraceJobResult>();
        EXPECT_EQ(result.value1, 0x55u);
        EXPECT_EQ(result.value2, 0u);
        ASSERT_EQ(result.count, 1);
    }
    {
        Reply reply(Frame(109, Wire().u8(3).u32(0x55)));
        ASSERT_EQ(reply.error(), DMLP_CODER_OK);
        const auto& result = reply.as<DmlpTraceJobResult>();
        EXPECT_EQ(result.kind, 3);
        EXPECT_EQ(result.value1, 0u);
        EXPECT_EQ(result.attributes, nullptr);
    }
    Reply shortKind2(Frame(109, Wire().u8(2).u32(1).u16(0).u8(0)), true);
    EXPECT_EQ(shortKind2.error(), DMLP_CODER_TRUNCATED);
}

TEST_F(ReplyBodies, CancelJobAndJobStart)
{
    Reply cancel(Frame(31, Wire().u32(0xDEADBEEF)));
    ASSERT_EQ(cancel.error(), DMLP_CODER_OK);
    EXPECT_EQ(Load<uint32_t>(cancel.bytes(), 0), 0xDEADBEEFu) << "the 4-byte result record";
    EXPECT_EQ(Load<uint32_t>(cancel.bytes(), 4), 0u);

    Reply shortStart(Frame(17, Wire().u32(1)), true);
    ASSERT_EQ(shortStart.error(), DMLP_CODER_OK);
    EXPECT_EQ(Bytes(shortStart.bytes(), shortStart.bytes() + 12), Bytes({1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    Reply sevenMore(Frame(17, Wire().u32(1).u32(2).u16(3).u8(4)));
    ASSERT_EQ(sevenMore.error(), DMLP_CODER_OK);
    EXPECT_EQ(sevenMore.as<DmlpJobStartResult>().value2, 0u);
    Reply full(Frame(17, Wire().u32(1).u32(2).u32(3)));
    ASSERT_EQ(full.error(), DMLP_CODER_OK);
    EXPECT_EQ(full.as<DmlpJobStartResult>().value3, 3u);
}

// ---- Fixed fields, transcribed from the reply table: wire width>record offset ----

struct FixedLayout {
    std::vector<uint16_t> methods;
    uint16_t size;
    const char* fields;
};

const FixedLayout kFixedLayouts[] = {
    {{11, 13, 14, 20, 22, 23, 25, 31, 32, 33, 35, 38, 39, 40, 41, 46, 48, 51, 64, 78, 79, 81, 92}, 4, "u32>0"},
    {{34, 36, 37, 76}, 8, "u32>0 u32>4"},
    {{8, 9, 106}, 8, "u32>0 u16>4 u16>6"},
    {{12, 42, 70, 71}, 8, "u32>0 u8>4"},
    {{43, 80}, 8, "u32>0 u8>4 u8>5"},
    {{19, 74}, 8, "u8>0 u32>4"},
    {{44}, 12, "u8>0 u32>4 u32>8"},
    {{73}, 12, "u16>0 u32>4 u32>8"},
    {{15, 16}, 12, "u32>0 u32>4 u8>8 u8>9"},
    {{68}, 16, "u32>0 u32>4 u8>8 u32>12"},
    {{112}, 12, "u32>0 u32>4 u8>8"},
    {{17}, 12, "u32>0 u32>4 u32>8"},
};

// The wire bytes 0x21, 0x22, ... and the record they give.
void FixedExpectation(const char* fields, uint16_t size, Bytes* wire, Bytes* record)
{
    record->assign(size, 0);
    std::istringstream in(fields);
    std::string field;
    uint8_t next = 0x21;
    while (in >> field) {
        const size_t at = field.find('>');
        const int bytes = std::stoi(field.substr(1, at - 1)) / 8;
        const size_t offset = std::stoul(field.substr(at + 1));
        for (int i = 0; i < bytes; ++i) {
            wire->push_back(next);
            (*record)[offset + bytes - 1 - i] = next++;   // host order: little-endian
        }
    }
}

TEST_F(ReplyBodies, FixedFieldsLandAtTheirRecordOffsets)
{
    size_t methods = 0;
    for (const FixedLayout& layout : kFixedLayouts) {
        Bytes wire;
        Bytes record;
        FixedExpectation(layout.fields, layout.size, &wire, &record);
        for (uint16_t method : layout.methods) {
            SCOPED_TRACE(method);
            ++methods;
            for (bool allocate : {false, true}) {
                Reply reply(Frame(method, wire), allocate);
                ASSERT_EQ(reply.error(), DMLP_CODER_OK);
                EXPECT_EQ(Bytes(reply.bytes(), reply.bytes() + layout.size), record);
            }
            if (method == 17)
                continue;
            Reply shorter(Frame(method, Bytes(wire.begin(), wire.end() - 1)), true);
            EXPECT_EQ(shorter.error(), DMLP_CODER_TRUNCATED) << "the minimum is the fixed fields";
        }
    }
    EXPECT_EQ(methods, 23u + 4 + 3 + 4 + 2 + 2 + 1 + 1 + 2 + 1 + 1 + 1);
}

TEST_F(ReplyBodies, RepliesWithoutABodyLeaveTheRecordZero)
{
    for (uint16_t method : {26, 28, 85}) {
        Reply reply(Frame(method, Wire().u32(0xFFFFFFFF)), true);
        ASSERT_EQ(reply.error(), DMLP_CODER_OK);
        EXPECT_EQ(Load<uint64_t>(reply.bytes(), 0), 0u);
    }
}

// ---- Value lists, tables and basic types --------------------------------------------------------

TEST_F(ReplyBodies, OneAttributeValueFillsTheBlock)
{
    const Bytes value = Wire().u8(2).u32(0x0A).u32(0x0B);   // attribute 132: cnt8 x uint32
    Reply get(Frame(4, Wire().u32(9).u16(132).raw(value)));
    ASSERT_EQ(get.error(), DMLP_CODER_OK);
    const auto& result = get.as<DmlpGetResult>();
    EXPECT_EQ(result.value1, 9u);
    EXPECT_EQ(result.attributeId, 132);
    EXPECT_EQ(result.value, result.buffer.data);
    EXPECT_EQ(Load<uint8_t>(result.value, 0), 2);
    const uint32_t* elements = (const uint32_t*)Pointer(result.value, 8);
    EXPECT_EQ(elements, (const uint32_t*)((const uint8_t*)result.value + 16));
    EXPECT_EQ(elements[1], 0x0Bu);
    EXPECT_EQ(result.buffer.size, 16 + 8);

    Reply setJob(Frame(18, Wire().u16(132).u8(0)));
    ASSERT_EQ(setJob.error(), DMLP_CODER_OK);
    EXPECT_EQ(setJob.as<DmlpSetJobResult>().buffer.size, 16);

    Reply byUser(Frame(60, Wire().u32(1).u32(2).u16(277).u32(0x33)));
    ASSERT_EQ(byUser.error(), DMLP_CODER_OK);
    EXPECT_EQ(Load<uint32_t>(byUser.as<DmlpGetByUserResult>().value, 0), 0x33u);

    Reply unknown(Frame(4, Wire().u32(9).u16(9999).u8(0)), true);
    EXPECT_EQ(unknown.error(), DMLP_CODER_UNKNOWN_ATTRIBUTE);
}

TEST_F(ReplyBodies, ListAttributesAndListObjectAttributes)
{
    const Bytes body = Wire().u16(1).u8(2).u32(3).u16(2).u16(277).u32(0x44).u16(132).u8(1).u32(0x55);
    Reply list(Frame(6, body));
    ASSERT_EQ(list.error(), DMLP_CODER_OK);
    const auto& result = list.as<DmlpListAttributesResult>();
    EXPECT_EQ(result.value3, 3u);
    ASSERT_EQ(result.count, 2);
    EXPECT_EQ((const uint8_t*)result.attributes, (const uint8_t*)result.buffer.data);
    EXPECT_EQ(result.attributes[0].id, 277);
    EXPECT_EQ(Load<uint32_t>(result.attributes[0].value, 0), 0x44u);
    EXPECT_EQ(result.attributes[1].id, 132);
    EXPECT_EQ(Load<uint32_t>(Pointer(result.attributes[1].value, 8), 0), 0x55u);
    EXPECT_EQ(result.buffer.size, 2 * 16 + 8 + 16 + 8);

    Reply objects(Frame(53, Wire().u16(1).u16(2).u16(1).u32(0x99).u16(6004).u8(5)));
    ASSERT_EQ(objects.error(), DMLP_CODER_OK);
    const auto& listed = objects.as<DmlpListObjectAttributesResult>();
    ASSERT_EQ(listed.count, 1);
    EXPECT_EQ(listed.attributes[0].object, 0x99u);
    EXPECT_EQ(listed.attributes[0].id, 6004);
    EXPECT_EQ(*(const uint8_t*)listed.attributes[0].value, 5);

    Reply unknown(Frame(6, Wire().u16(1).u8(2).u32(3).u16(1).u16(9999).u8(0)), true);
    EXPECT_EQ(unknown.error(), DMLP_CODER_UNKNOWN_ATTRIBUTE);
    Reply shortId(Frame(53, Wire().u16(1).u16(2).u16(1).u32(0x99).u8(0x17)), true);
    EXPECT_EQ(shortId.error(), DMLP_CODER_TRUNCATED);
}

TEST_F(ReplyBodies, ListDecodesSingleElementsThroughAnArrayOfPointers)
{
    // Attribute 132 is multi-valued; each listed value is one element without a count.
    const Bytes body = Wire().u16(1).u8(2).u32(3).u16(132).u16(4).u16(5).u16(3).u32(0xA).u32(0xB).u32(0xC);
    for (uint16_t method : {5, 103}) {
        Reply reply(Frame(method, body));
        ASSERT_EQ(reply.error(), DMLP_CODER_OK);
        const auto& result = reply.as<DmlpListResult>();
        EXPECT_EQ(result.attributeId, 132);
        EXPECT_EQ(result.value5, 5);
        ASSERT_EQ(result.count, 3);
        EXPECT_EQ((const uint8_t*)result.values, (const uint8_t*)result.buffer.data);
        EXPECT_EQ(Load<uint32_t>(result.values[2], 0), 0xCu);
        EXPECT_EQ((const uint8_t*)result.values[0], (const uint8_t*)result.buffer.data + 3 * 8);
        EXPECT_EQ(result.buffer.size, 3 * 8 + 3 * 8);
    }
    // With no elements the id is not looked up.
    Reply none(Frame(5, Wire().u16(1).u8(2).u32(3).u16(9999).u16(4).u16(5).u16(0)));
    ASSERT_EQ(none.error(), DMLP_CODER_OK);
    EXPECT_EQ(none.as<DmlpListResult>().values, nullptr);
    Reply unknown(Frame(5, Wire().u16(1).u8(2).u32(3).u16(9999).u16(4).u16(5).u16(1).u8(0)), true);
    EXPECT_EQ(unknown.error(), DMLP_CODER_UNKNOWN_ATTRIBUTE);
}

Bytes TableRows(uint16_t rows)
{
    Wire wire;
    for (uint16_t r = 0; r < rows; ++r) {
        wire.u32(0x100 + r).u16(277).u32(1000 + r);
        // Later rows carry the id as the device sends it; the first row's type decides.
        wire.u16(r == 0 ? 6004 : 1).u8(r);
    }
    return wire;
}

TEST_F(ReplyBodies, TablesTakeTheirColumnTypesFromTheFirstRow)
{
    Reply reply(Frame(84, Wire().u16(3).u16(2).raw(TableRows(3))));
    ASSERT_EQ(reply.error(), DMLP_CODER_OK);
    const auto& result = reply.as<DmlpListHandleAttributesResult>();
    ASSERT_EQ(result.rowCount, 3);
    ASSERT_EQ(result.columnCount, 2);
    const uint8_t* block = (const uint8_t*)result.buffer.data;
    EXPECT_EQ((const uint8_t*)result.rows, block);
    EXPECT_EQ((const uint8_t*)result.rows[0].cells, block + 3 * 16);
    EXPECT_EQ(result.rows[1].cells, result.rows[0].cells + 2);
    EXPECT_EQ(result.buffer.size, 3 * 3 * 16 + 3 * (8 + 8));
    for (uint32_t r = 0; r < 3; ++r) {
        EXPECT_EQ(result.rows[r].handle, 0x100 + r);
        EXPECT_EQ(result.rows[r].cells[0].id, 277);
        EXPECT_EQ(Load<uint32_t>(result.rows[r].cells[0].value, 0), 1000 + r);
        EXPECT_EQ(result.rows[r].cells[1].id, r == 0 ? 6004 : 1) << "the id as read";
        EXPECT_EQ(*(const uint8_t*)result.rows[r].cells[1].value, r);
    }

    Reply jobs(Frame(83, Wire().u16(1).u16(2).u8(3).u32(4).u16(2).u16(2).raw(TableRows(2))));
    ASSERT_EQ(jobs.error(), DMLP_CODER_OK);
    const auto& table = jobs.as<DmlpListJobAttributesResult>();
    EXPECT_EQ(table.value4, 4u);
    ASSERT_EQ(table.rowCount, 2);
    EXPECT_EQ(table.rows[1].handle, 0x101u);

    Reply unknown(Frame(84, Wire().u16(1).u16(1).u32(1).u16(9999).u8(0)), true);
    EXPECT_EQ(unknown.error(), DMLP_CODER_UNKNOWN_ATTRIBUTE);
    Reply shortRow(Frame(84, Wire().u16(2).u16(1).u32(1).u16(277).u32(2).u32(2).u16(277).u16(0)), true);
    EXPECT_EQ(shortRow.error(), DMLP_CODER_TRUNCATED);
}

TEST_F(ReplyBodies, TableRowsWithoutColumnsTakeTheirRowEntries)
{
    Reply reply(Frame(84, Wire().u16(3).u16(0).u32(7).u32(8).u32(9)));
    ASSERT_EQ(reply.error(), DMLP_CODER_OK);
    const auto& result = reply.as<DmlpListHandleAttributesResult>();
    ASSERT_EQ(result.rowCount, 3);
    EXPECT_EQ(result.buffer.size, 3 * 16);
    EXPECT_EQ(result.rows[2].handle, 9u);
    EXPECT_EQ(result.rows[2].cells, nullptr);

    Reply shortHandles(Frame(84, Wire().u16(3).u16(0).u32(7).u32(8)), true);
    EXPECT_EQ(shortHandles.error(), DMLP_CODER_TRUNCATED);

    // rows x (columns + 1) x 16 is counted in 64 bits: refused, not wrapped.
    Reply huge(Frame(84, Wire().u16(0xFFFF).u16(0xFFFF).u32(1)), true);
    EXPECT_EQ(huge.error(), DMLP_CODER_NO_MEMORY);
    Reply wraps(Frame(84, Wire().u16(0x1000).u16(0x0FFF).u32(1)), true);
    EXPECT_EQ(wraps.error(), DMLP_CODER_NO_MEMORY);
}

TEST_F(ReplyBodies, BasicTypedValues)
{
    {
        // GetEx: value A a length-prefixed string (basic type 9); type B right after its bytes.
        const Bytes body = Wire().u32(1).u16(9).u16(3).text("abc").u16(21).u16(2).u16(0x0A0B).u16(0x0C0D);
        Reply reply(Frame(55, body));
        ASSERT_EQ(reply.error(), DMLP_CODER_OK);
        const auto& result = reply.as<DmlpGetExResult>();
        EXPECT_EQ(result.typeA, 9);
        EXPECT_EQ(Load<uint16_t>(result.valueA, 0), 3);
        EXPECT_EQ(std::string((const char*)Pointer(result.valueA, 8)), "abc");
        EXPECT_EQ(result.typeB, 21);
        EXPECT_EQ((const uint8_t*)result.valueB, (const uint8_t*)result.valueA + 16 + 8);
        EXPECT_EQ(Load<uint16_t>(result.valueB, 0), 2);
        EXPECT_EQ(Load<uint16_t>(Pointer(result.valueB, 8), 2), 0x0C0D);
        EXPECT_EQ(result.buffer.size, 16 + 8 + 16 + 8);
    }
    {
        Reply reply(Frame(57, Wire().u32(1).u16(6).u32(0x77).u16(0x0102)));
        ASSERT_EQ(reply.error(), DMLP_CODER_OK);
        const auto& result = reply.as<DmlpAppendToListExResult>();
        EXPECT_EQ(Load<uint32_t>(result.value, 0), 0x77u);
        EXPECT_EQ(result.value2, 0x0102);
        Reply noTrailer(Frame(58, Wire().u32(1).u16(6).u32(0x77).u8(1)), true);
        EXPECT_EQ(noTrailer.error(), DMLP_CODER_TRUNCATED);
    }
    {
        const Bytes body = Wire().u16(1).u8(2).u32(3).u16(8).s8("hi").u16(6).u16(4).u16(5).u16(2).u32(0xA).u32(0xB);
        Reply reply(Frame(56, body));
        ASSERT_EQ(reply.error(), DMLP_CODER_OK);
        const auto& result = reply.as<DmlpListExResult>();
        EXPECT_EQ(std::string((const char*)Pointer(result.valueA, 8)), "hi");
        EXPECT_EQ(result.typeB, 6);
        EXPECT_EQ(result.value4, 4);
        ASSERT_EQ(result.count, 2);
        EXPECT_EQ(Load<uint32_t>(result.values[1], 0), 0xBu);
        EXPECT_EQ(result.buffer.size, 16 + 8 + 2 * 8 + 2 * 8);
    }
    Reply unknownA(Frame(54, Wire().u32(1).u16(19).u8(0).u16(6).u32(1)), true);
    EXPECT_EQ(unknownA.error(), DMLP_CODER_UNKNOWN_BASIC_TYPE);
    Reply unknownB(Frame(54, Wire().u32(1).u16(6).u32(0).u16(1).u8(0)), true);
    EXPECT_EQ(unknownB.error(), DMLP_CODER_UNKNOWN_BASIC_TYPE);
    Reply noTypeB(Frame(54, Wire().u32(1).u16(6).u32(0).u8(0)), true);
    EXPECT_EQ(noTypeB.error(), DMLP_CODER_TRUNCATED);
}

// ---- Single methods --------------------------------------------------------------------------------

TEST_F(ReplyBodies, EchoHandsOutATerminatedCopyThroughTheSlotItsRequestChooses)
{
    const Bytes emptyRequest = Frame(1, Bytes(), 0, 0);
    const Bytes fullRequest = Frame(1, Wire().text("ver?"), 0, 0);
    {
        Reply reply(Frame(1, Wire().text("1.2")), false, &emptyRequest);
        ASSERT_EQ(reply.error(), DMLP_CODER_OK);
        const auto& result = reply.as<DmlpEchoResult>();
        ASSERT_NE(result.data, nullptr);
        EXPECT_EQ(result.echoed, nullptr);
        EXPECT_STREQ((const char*)result.data, "1.2");
        EXPECT_EQ(result.length, 3);
        EXPECT_EQ(result.buffer.size, 8);
    }
    for (const Bytes* request : {&fullRequest, (const Bytes*)nullptr}) {
        Reply reply(Frame(1, Wire().text("12345678")), false, request);
        ASSERT_EQ(reply.error(), DMLP_CODER_OK);
        const auto& result = reply.as<DmlpEchoResult>();
        EXPECT_EQ(result.data, nullptr);
        EXPECT_STREQ((const char*)result.echoed, "12345678") << "length + 1 bytes, the last one zero";
        EXPECT_EQ(result.length, 8);
        EXPECT_EQ(result.buffer.size, 16);
    }
    const Bytes unreadable = {0xCD, 0xCA};
    Reply odd(Frame(1, Wire().text("x")), false, &unreadable);
    ASSERT_EQ(odd.error(), DMLP_CODER_OK);
    EXPECT_NE(odd.as<DmlpEchoResult>().echoed, nullptr);
    Reply empty(Frame(1, Bytes()), true);
    EXPECT_EQ(empty.error(), DMLP_CODER_TRUNCATED);
}

TEST_F(ReplyBodies, AcquireResourcePointsIntoTheFrameAndAllocatesNothing)
{
    // Written by hand: the header's body length (9) is smaller than the rest of the frame (17).
    const Bytes frame = {0xCD, 0xCA, 0x10, 0x01, 0x00, 0x31, 0x00, 0x07, 0x00, 0x09, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x01,
                         0x00, 0x00, 0x00, 0x10, 'r', 'e', 's', 'o', 'u', 'r', 'c', 'e', ' ', 'd', 'a', 't', 'a'};
    const int64_t before = VxSrvcTestLiveBlocks();
    Reply reply(frame);
    ASSERT_EQ(reply.error(), DMLP_CODER_OK);
    EXPECT_EQ(VxSrvcTestLiveBlocks(), before) << "no block allocated";
    EXPECT_EQ(reply.context().held, nullptr);
    const auto& result = reply.as<DmlpAcquireResourceResult>();
    EXPECT_EQ(result.value1, 0x10u);
    EXPECT_EQ(result.declared, 5);
    EXPECT_EQ(result.length, 13u);
    EXPECT_EQ(result.data, reply.frame().data() + 24) << "into the frame, behind the uint32";
    EXPECT_EQ(result.buffer.data, nullptr);
    EXPECT_EQ(result.buffer.size, 0);

    Bytes shortHeader = Frame(49, Wire().u32(0x10).text("ab"));
    shortHeader[9] = 2;
    Reply declaredShort(shortHeader);
    ASSERT_EQ(declaredShort.error(), DMLP_CODER_OK);
    EXPECT_EQ(declaredShort.as<DmlpAcquireResourceResult>().declared, 0) << "never wraps";
    Reply nothingBehind(Frame(49, Wire().u32(0x10)), true);
    ASSERT_EQ(nothingBehind.error(), DMLP_CODER_OK);
    EXPECT_EQ(nothingBehind.as<DmlpAcquireResourceResult>().data, nullptr);
    EXPECT_EQ(nothingBehind.as<DmlpAcquireResourceResult>().length, 0u);
}

TEST_F(ReplyBodies, AcquireRecordsDecodesEachBodyAsItsEvent)
{
    const Bytes body = Wire()
                           .u32(1).u8(2).u16(3).u16(4).u8(5).u16(2)
                           .u16(0xA).u32(0xB).u32(0xC).u8(0xD).u16(19).u32(0x77).s8("done")
                           .u16(0xE).u32(0xF).u32(0x10).u8(0x11).u16(4).u8(9).s8("");
    Reply reply(Frame(77, body));
    ASSERT_EQ(reply.error(), DMLP_CODER_OK);
    const auto& result = reply.as<DmlpAcquireRecordsResult>();
    ASSERT_EQ(result.count, 2);
    EXPECT_EQ((const uint8_t*)result.records, (const uint8_t*)result.buffer.data);
    EXPECT_EQ(result.records[0].value4, 0xD);
    EXPECT_EQ(result.records[0].eventId, 19);
    EXPECT_EQ((const uint8_t*)result.records[0].body, (const uint8_t*)result.buffer.data + 2 * 24);
    EXPECT_EQ(Load<uint32_t>(result.records[0].body, 0), 0x77u);
    EXPECT_EQ(std::string((const char*)Pointer(result.records[0].body, 16), 4), "done");
    EXPECT_EQ(result.records[1].eventId, 4);
    EXPECT_EQ(*(const uint8_t*)result.records[1].body, 9);
    EXPECT_EQ(result.buffer.size, 2 * 24 + 24 + 8 + 24);

    Reply unknown(Frame(77, Wire().u32(1).u8(2).u16(3).u16(4).u8(5).u16(1).u16(1).u32(2).u32(3).u8(4).u16(1).u8(0)),
                  true);
    EXPECT_EQ(unknown.error(), DMLP_CODER_UNKNOWN_EVENT);
    Reply shortRecord(Frame(77, Wire().u32(1).u8(2).u16(3).u16(4).u8(5).u16(1).u16(1).u32(2).u32(3).u8(4).u8(0)), true);
    EXPECT_EQ(shortRecord.error(), DMLP_CODER_TRUNCATED);
}

TEST_F(ReplyBodies, ReserveAndUnreserveReadTheirAddress)
{
    Reply reserve(Frame(2, Wire().u16(7).u32(8).u16(1).u8(6).u8(10).u8(1).u8(2).u8(3).u16(9100)));
    ASSERT_EQ(reserve.error(), DMLP_CODER_OK);
    const auto& result = reserve.as<DmlpReserveResult>();
    EXPECT_EQ(result.value1, 7);
    EXPECT_EQ(result.value2, 8u);
    EXPECT_EQ(result.address.kind, DMLP_ADDRESS_TCP);
    EXPECT_EQ(result.address.u.inet.port, 9100);
    EXPECT_EQ(result.address.u.inet.address[3], 3);

    Reply unreserve(Frame(63, Wire().u16(13).u8(0)));
    ASSERT_EQ(unreserve.error(), DMLP_CODER_OK);
    EXPECT_EQ(unreserve.as<DmlpUnreserveResult>().address.kind, 13);

    Reply unknownKind(Frame(2, Wire().u16(7).u32(8).u16(16).u8(0)), true);
    EXPECT_EQ(unknownKind.error(), DMLP_CODER_BAD_ARGUMENT);
    EXPECT_EQ(unknownKind.status(), DMLP_BAD_PARAMETER) << "an unknown kind is a bad parameter";
    Reply unknownUnreserve(Frame(63, Wire().u16(16).u8(0)), true);
    EXPECT_EQ(unknownUnreserve.error(), DMLP_CODER_BAD_ARGUMENT);
    EXPECT_EQ(unknownUnreserve.status(), DMLP_BAD_PARAMETER);
    Reply shortAddress(Frame(63, Wire().u16(1).u8(6).u8(10).u8(1)), true);
    EXPECT_EQ(shortAddress.error(), DMLP_CODER_TRUNCATED);
    EXPECT_EQ(shortAddress.status(), DMLP_INTERNAL_FAILURE);
}

TEST_F(ReplyBodies, SendRequestByKindAndStatus)
{
    {
        Reply reply(Frame(27, Wire().u8(1).u16(2).u8(6).u8(1).u8(2).u8(3).u8(4).u16(5), 18));
        ASSERT_EQ(reply.error(), DMLP_CODER_OK);
        EXPECT_EQ(reply.status(), 18);
        EXPECT_EQ(reply.as<DmlpSendRequestResult>().u.address.kind, DMLP_ADDRESS_UDP);
        EXPECT_EQ(reply.as<DmlpSendRequestResult>().u.address.u.inet.port, 5);
    }
    {
        Reply reply(Frame(27, Wire().u8(1).u16(2).u8(6)));
        ASSERT_EQ(reply.error(), DMLP_CODER_OK) << "status 1: the kind alone";
        EXPECT_EQ(reply.as<DmlpSendRequestResult>().u.address.kind, 0);
    }
    {
        Reply reply(Frame(27, Wire().u8(5).s8("name")));
        ASSERT_EQ(reply.error(), DMLP_CODER_OK);
        const auto& result = reply.as<DmlpSendRequestResult>();
        EXPECT_EQ(result.u.text.length, 4);
        EXPECT_STREQ((const char*)result.u.text.bytes, "name");
        EXPECT_EQ(result.buffer.size, 8);
    }
    {
        Reply reply(Frame(27, Wire().u8(16).u32(0x1234)));
        ASSERT_EQ(reply.error(), DMLP_CODER_OK);
        EXPECT_EQ(reply.as<DmlpSendRequestResult>().u.value1, 0x1234u);
    }
    Reply kind16Address(Frame(27, Wire().u8(1).u16(16).u8(0), 18), true);
    EXPECT_EQ(kind16Address.error(), DMLP_CODER_BAD_ARGUMENT);
    Reply kind2(Frame(27, Wire().u8(2).u32(1)), true);
    EXPECT_EQ(kind2.error(), DMLP_CODER_BAD_ARGUMENT);
    Reply shortAddress(Frame(27, Wire().u8(1).u16(1), 18), true);
    EXPECT_EQ(shortAddress.error(), DMLP_CODER_TRUNCATED);
}

// ---- Every method ---------------------------------------------------------------------------------

struct ReplySample {
    uint16_t method;
    Bytes body;
    bool prefixesRefused;
};

std::vector<ReplySample> ReplySamples()
{
    std::vector<ReplySample> samples;
    for (const FixedLayout& layout : kFixedLayouts) {
        Bytes wire;
        Bytes record;
        FixedExpectation(layout.fields, layout.size, &wire, &record);
        for (uint16_t method : layout.methods)
            samples.push_back({method, wire, method != 17});
    }
    for (uint16_t method : {26, 28, 85})
        samples.push_back({method, Bytes(), false});
    const Bytes values132 = Wire().u8(2).u32(0x0A).u32(0x0B);
    const Bytes table = Wire().u16(2).u16(2).raw(TableRows(2));
    const std::vector<ReplySample> more = {
        {1, Wire().text("pong"), false},
        {2, Wire().u16(7).u32(8).u16(1).u8(6).u8(10).u8(1).u8(2).u8(3).u16(9100), true},
        {3, Wire().u32(9).u16(132).raw(values132), true},
        {4, Wire().u32(9).u16(132).raw(values132), true},
        {86, Wire().u32(9).u16(132).raw(values132), true},
        {87, Wire().u32(9).u16(132).raw(values132), true},
        {105, Wire().u32(9).u16(132).raw(values132), true},
        {5, Wire().u16(1).u8(2).u32(3).u16(132).u16(4).u16(5).u16(2).u32(0xA).u32(0xB), true},
        {103, Wire().u16(1).u8(2).u32(3).u16(132).u16(4).u16(5).u16(2).u32(0xA).u32(0xB), true},
        {6, Wire().u16(1).u8(2).u32(3).u16(2).u16(280).raw(kJobIdWire).u16(132).raw(values132), true},
        {7, Wire().u16(1).u8(2).u16(3).u16(4).u16(5).u16(2).u32(0xA).u32(0xB), true},
        {10, Wire().u32(0x1234).u8(1).u16(19).u8(0).u32(5).s8("x"), true},
        {18, Wire().u16(132).raw(values132), true},
        {21, Wire().u16(132).raw(values132), true},
        {24, Wire().u16(132).raw(values132), true},
        {50, Wire().u16(132).raw(values132), true},
        {27, Wire().u8(4).s8("hi"), true},
        {29, Wire().u32(1).u16(13).s8("text"), true},
        {49, Wire().u32(0x10).text("data"), false},
        {53, Wire().u16(1).u16(2).u16(1).u32(0x99).u16(277).u32(5), true},
        {54, Wire().u32(1).u16(9).u16(3).text("abc").u16(21).u16(2).u16(1).u16(2), true},
        {55, Wire().u32(1).u16(9).u16(3).text("abc").u16(21).u16(2).u16(1).u16(2), true},
        {56, Wire().u16(1).u8(2).u32(3).u16(8).s8("hi").u16(6).u16(4).u16(5).u16(2).u32(0xA).u32(0xB), true},
        {57, Wire().u32(1).u16(6).u32(0x77).u16(0x0102), true},
        {58, Wire().u32(1).u16(6).u32(0x77).u16(0x0102), true},
        {59, Wire().u32(1).u32(2).u16(277).u32(0x33), true},
        {60, Wire().u32(1).u32(2).u16(277).u32(0x33), true},
        {63, Wire().u16(2).u8(6).u8(10).u8(1).u8(2).u8(3).u16(9100), true},
        {69, Wire().u16(1).u8(2).u32(3).u16(4).u16(5).u16(6).u16(1).u32(0xA), true},
        {88, Wire().u16(1).u8(2).u32(3).u16(4).u16(5).u16(6).u16(1).u32(0xA), true},
        {72, Wire().u8(1).u32(2).u32(3).u16(1).u32(0xA), true},
        {96, Wire().u8(1).u32(2).u32(3).u16(1).u32(0xA), true},
        {77,
         Wire().u32(1).u8(2).u16(3).u16(4).u8(5).u16(1).u16(0xA).u32(0xB).u32(0xC).u8(0xD).u16(19).u32(0x77).s8("d"),
         true},
        {82, Wire().u16(1).u8(2).u16(3).u8(4).u32(5).u16(6).u16(7).u16(2).u32(0xA1).u32(0xA2), true},
        {114, Wire().u16(1).u8(2).u16(3).u8(4).u32(5).u16(6).u16(7).u16(2).u32(0xA1).u32(0xA2), true},
        {83, Wire().u16(1).u16(2).u8(3).u32(4).raw(table), true},
        {84, table, true},
        {93, Wire().u32(1).u16(2).u16(1).u32(0xA), true},
        {94, Wire().u32(1).u16(2).u16(1).u32(0xA), true},
        {97, Wire().u32(1).u16(2).u16(1).u32(0xA), true},
        {95, Wire().u16(1).u16(2).u32(0xA).u32(0xB), true},
        {102, kGet2Body, true},
        {110, kGet2Body, true},
        {107, Wire().u32(1).u32(2).u16(1).raw(Attribute(277, Wire().u32(3))), true},
        {111, Wire().u32(1).u16(2).raw(Attribute(9999, Wire().text("raw"))).raw(Attribute(277, Wire().u32(3))), true},
        {109, Wire().u8(2).u32(1).u32(2).u16(1).raw(Attribute(277, Wire().u32(3))), true},
    };
    samples.insert(samples.end(), more.begin(), more.end());
    return samples;
}

TEST_F(ReplyBodies, EveryMethodHasADecoderAndASample)
{
    std::set<uint16_t> sampled;
    for (const ReplySample& sample : ReplySamples())
        sampled.insert(sample.method);
    size_t methods = 0;
    for (const DmlpMethodRow* row = DmlpMethodTable; row->method != 0; ++row) {
        ++methods;
        EXPECT_NE(row->decode, nullptr) << row->method;
        EXPECT_TRUE(sampled.count(row->method)) << row->method;
    }
    EXPECT_EQ(methods, 94u);
    EXPECT_EQ(sampled.size(), 94u);
}

TEST_F(ReplyBodies, EverySampleDecodesIntoAGivenOrAnAllocatedRecordAndToleratesTrailingBytes)
{
    for (const ReplySample& sample : ReplySamples()) {
        SCOPED_TRACE(sample.method);
        for (bool allocate : {false, true}) {
            Reply reply(Frame(sample.method, sample.body), allocate);
            ASSERT_EQ(reply.error(), DMLP_CODER_OK);
            ASSERT_NE(reply.context().result, nullptr);
        }
        if (sample.method == 1 || sample.method == 49 || sample.method == 29)
            continue;   // their bodies run to the end
        Bytes longer = sample.body;
        longer.insert(longer.end(), {0xEE, 0xEE, 0xEE});
        Reply reply(Frame(sample.method, longer), true);
        EXPECT_EQ(reply.error(), DMLP_CODER_OK);
    }
}

TEST_F(ReplyBodies, EveryStrictPrefixIsRefusedAndLeavesNothing)
{
    for (const ReplySample& sample : ReplySamples()) {
        if (!sample.prefixesRefused)
            continue;
        SCOPED_TRACE(sample.method);
        for (size_t length = 0; length < sample.body.size(); ++length) {
            Reply reply(Frame(sample.method, Bytes(sample.body.begin(), sample.body.begin() + length)), true);
            EXPECT_NE(reply.error(), DMLP_CODER_OK) << "prefix of " << length;
            EXPECT_EQ(reply.status(), DMLP_INTERNAL_FAILURE);
            EXPECT_EQ(reply.context().result, nullptr);
            EXPECT_EQ(reply.context().held, nullptr);
        }
        EXPECT_EQ(liveBlocks(), 0);
    }
}

TEST_F(ReplyBodies, AllocationFailuresAtEveryStepLeaveNothing)
{
    for (const ReplySample& sample : ReplySamples()) {
        SCOPED_TRACE(sample.method);
        for (bool allocate : {false, true})
            ExpectAllocationFailuresLeaveNothing(Frame(sample.method, sample.body), allocate);
    }
}

TEST_F(ReplyBodies, ACallersBlockIsUsedGrownOrRefused)
{
    alignas(8) uint8_t caller[64] = {};
    DmlpListObjects2Result record = {};
    record.buffer.data = caller;
    record.buffer.size = sizeof caller;
    record.buffer.flags = 0;
    const Bytes frame = Frame(114, Wire().u16(1).u8(2).u16(3).u8(4).u32(5).u16(6).u16(7).u16(2).u32(0xA1).u32(0xA2));
    DmlpHeader header;
    DmlpDecodeContext context = {&record, nullptr, 0};
    DmlpCursor in = {(uint8_t*)frame.data(), (int32_t)frame.size()};
    ASSERT_EQ(DmlpDecodeMessage(&header, &context, &in, nullptr), DMLP_CODER_OK);
    EXPECT_EQ((uint8_t*)record.objects, caller);
    EXPECT_EQ(record.objects[1], 0xA2u);

    record = {};
    record.buffer.data = caller;
    record.buffer.size = 4;
    context = {&record, nullptr, 0};
    EXPECT_EQ(DmlpDecodeMessage(&header, &context, &in, nullptr), DMLP_CODER_BUFFER_TOO_SMALL);
    EXPECT_EQ(context.status, DMLP_INTERNAL_FAILURE);
}

} // namespace
