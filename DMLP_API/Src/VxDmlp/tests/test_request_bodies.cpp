// Request bodies: every method's body against bytes written by hand (or, for the bodies of plain
// fields, against a transcription of the body table), exact sizing, refusals before anything is
// allocated or written, and records that stay as the caller wrote them.
#include <cstring>
#include <set>
#include <sstream>

#include "../../../../Service/ClientJobId.h"
#include "BodyTesting.h"

// The protocol library's client job id has the service's layout.
static_assert(sizeof(DmlpClientJobId) == sizeof(ClJobID), "client job id size");
static_assert(offsetof(DmlpClientJobId, Data1) == offsetof(ClJobID, Data1) &&
                  offsetof(DmlpClientJobId, Data2) == offsetof(ClJobID, Data2) &&
                  offsetof(DmlpClientJobId, Data3) == offsetof(ClJobID, Data3) &&
                  offsetof(DmlpClientJobId, Data4) == offsetof(ClJobID, Data4) &&
                  offsetof(DmlpClientJobId, JobText) == offsetof(ClJobID, JobText),
              "client job id layout");

namespace {

// ---- Bodies of plain fields, transcribed from the body table: width@offset in the record ----

struct PlainLayout {
    std::vector<uint16_t> methods;
    const char* fields;
};

const PlainLayout kPlainLayouts[] = {
    {{2}, "u16@0 u32@4 u16@8"},
    {{4}, "u32@0 u16@4"},
    {{5, 88}, "u16@0 u16@2 u8@4 u32@8 u16@12 u16@14"},
    {{7}, "u16@0 u16@2 u8@4 u16@6 u16@8"},
    {{11, 20, 23, 31, 32, 33, 35, 36, 38, 39, 40, 41, 48, 49, 78, 79, 81}, "u32@0"},
    {{12}, "u32@0 u32@4 u8@8"},
    {{13, 34, 70, 80, 92}, "u32@0 u32@4"},
    {{14}, "u32@0 u32@4 u32@8"},
    {{15}, "u32@0 u32@4 u8@8 u8@9"},
    {{16, 22, 25, 28, 51, 85}, ""},
    {{17}, "u32@0 u8@4 u32@8 u32@12"},
    {{19}, "u8@0"},
    {{37, 42}, "u32@0 u8@4"},
    {{43}, "u32@0 u8@4 u8@5"},
    {{44, 72, 96}, "u8@0 u32@4 u32@8 u32@12 u32@16"},
    {{46}, "u16@0"},
    {{60, 87}, "u32@0 u32@4 u16@8"},
    {{69}, "u16@0 u16@2 u8@4 u32@8 u32@12 u16@16 u16@18"},
    {{71}, "u32@0 u32@4 u32@8 u32@12 u8@16"},
    {{73, 76}, "u16@0 u32@4 u32@8"},
    {{74}, "u8@0 u32@4 u32@8"},
    {{77}, "u32@0 u8@4 u16@6 u16@8 u8@10"},
    {{82}, "u16@0 u16@2 u8@4 u16@6 u8@8 u32@12 u16@16"},
    {{114}, "u16@0 u16@2 u8@4 u16@6 u8@8 u32@12 u32@16 u16@20"},
};

// A record whose every byte differs, and the body its plain fields give.
struct PatternRecord {
    alignas(8) uint8_t bytes[64];
    PatternRecord()
    {
        for (size_t i = 0; i < sizeof bytes; ++i)
            bytes[i] = (uint8_t)(0x11 + 7 * i);
    }
};

Bytes PlainBody(const char* fields, const uint8_t* record)
{
    Wire wire;
    std::istringstream in(fields);
    std::string field;
    while (in >> field) {
        const size_t at = field.find('@');
        const int width = std::stoi(field.substr(1, at - 1));
        const size_t offset = std::stoul(field.substr(at + 1));
        if (width == 8)
            wire.u8(record[offset]);
        else if (width == 16)
            wire.u16(Load<uint16_t>(record, offset));
        else
            wire.u32(Load<uint32_t>(record, offset));
    }
    return wire;
}

// ---- Values in their decoded form, as the encoder reads them ----

// Value type 76 element: the subscription block of an event registration.
struct SubscriptionBlock {
    uint16_t count;
    const uint16_t* ids;
    uint32_t selector;
    DmlpAddress address;
    uint32_t extra;
};
static_assert(sizeof(SubscriptionBlock) == 64 && offsetof(SubscriptionBlock, selector) == 16 &&
                  offsetof(SubscriptionBlock, address) == 24 && offsetof(SubscriptionBlock, extra) == 56,
              "value type 76 element");

const uint16_t kSubscribedIds[] = {154, 18, 0};

SubscriptionBlock Subscription()
{
    SubscriptionBlock block = {};
    block.count = 2;
    block.ids = kSubscribedIds;
    block.selector = 7;
    block.address = InetAddress(DMLP_ADDRESS_TCP, 127, 0, 0, 1, 8080);
    block.extra = 0x55;
    return block;
}

// Its wire form without a count: ids, 7, the address form with its size, the extra value.
const Bytes kSubscriptionWire = Wire()
                                    .u16(2).u16(154).u16(18)
                                    .u32(7)
                                    .u16(9).u16(1).u8(6).u8(127).u8(0).u8(0).u8(1).u16(8080)
                                    .u32(0x55);

DmlpClientJobId JobId()
{
    DmlpClientJobId id = {};
    id.Data1 = 0x11223344;
    id.Data2 = 0x5566;
    id.Data3 = 0x7788;
    memcpy(id.Data4, "ABCDEFGH", 8);
    memcpy(id.JobText, "JOB00001 report.txt", 19);
    return id;
}

const Bytes kJobIdWire = Wire()
                             .u32(0x11223344).u16(0x5566).u16(0x7788).text("ABCDEFGH")
                             .text("JOB00001 report.txt").fill(48 - 19, 0);

// ---- Every method: a record and the body it must give ----

struct Sample {
    std::string name;
    uint16_t method;
    const void* params;
    size_t size;
    Bytes body;
};

template <typename Record>
Sample Make(const std::string& name, uint16_t method, const Record& record, const Bytes& body)
{
    return {name, method, &record, sizeof record, body};
}

struct Samples {
    PatternRecord pattern;
    SubscriptionBlock subscription = Subscription();
    DmlpClientJobId jobId = JobId();
    uint32_t number289 = 0xA0B0C0D0;
    uint8_t byte6004 = 9;
    uint8_t byte2229 = 1;
    uint32_t typed = 0x2A;
    uint16_t u16A = 0x0102;
    struct {
        uint16_t count;
        const uint16_t* items;
    } u16List = {2, kU16Items};
    uint32_t u32Value = 0x01020304;
    uint8_t u8Value = 0x33;
    uint16_t u16B = 0x0506;
    DmlpByteString okString = {2, (const uint8_t*)"ok"};
    DmlpAttributeEntry jobAttributes[2] = {{280, 0, &jobId}, {2229, 0, &byte2229}};
    DmlpAttributeEntry resourceAttributes[1] = {{289, 0, &number289}};
    DmlpAttributeEntry fileAttributes[1] = {{6004, 0, &byte6004}};
    uint32_t objects[2] = {0x100, 0x200};
    uint16_t ids[3] = {280, 283, 277};
    DmlpExecuteFileEntry fileEntries[2] = {{1, 289, &number289}, {2, 6004, &byte6004}};
    DmlpExecuteFile2Object fileObjects[2] = {{0x10, 1, fileAttributes}, {0x20, 0, nullptr}};
    DmlpExec101Params exec101 = {7, 1};

    DmlpEchoParams echo = {"ver?", 4};
    DmlpSetParams set = {0x11223344, 289, &number289};
    DmlpListAttributesParams listAttributes = {1, 2, 3, 4, 2, ids};
    DmlpAppendToListParams appendToList = {3, 0x10, 2, 0, &subscription};
    DmlpDeleteFromListParams deleteFromList1 = {1, 0x10, 2, 0x0102, &subscription};
    DmlpDeleteFromListParams deleteFromList2 = {2, 0x10, 2, 0x0102, &subscription};
    DmlpDeleteFromListParams deleteFromList3 = {3, 0x10, 2, 0x0102, &subscription};
    DmlpSetJobParams setJob = {280, &jobId};
    DmlpSendParams send1 = {1, 0, 0, 3, "abc"};
    DmlpSendParams send3 = {3, 0, 0, 3, "abc"};
    DmlpSendParams send3Empty = {3, 0, 0, 0, nullptr};
    DmlpSendParams send6 = {6, 0x0A, 0x0B, 0, nullptr};
    DmlpSendParams send11 = {11, 0, 0, 0, nullptr};
    DmlpSendRequestParams sendRequest1 = SendRequestAddress();
    DmlpSendRequestParams sendRequest4 = SendRequestText();
    DmlpSendRequestParams sendRequest16 = SendRequestValues();
    DmlpExecuteMethodParams executeMethod = {0x4B, 101, &exec101, 0};
    DmlpListObjectAttributesParams listObjectAttributes = {1, 2, 3, 4, 1, kAttribute6004};
    DmlpSetExParams setEx = {9, 21, &u16A, 21, &u16List};
    DmlpGetExParams getEx = {9, 6, &u32Value};
    DmlpListExParams listEx = {1, 2, 3, 4, 8, &okString, 5};
    DmlpAppendToListExParams appendToListEx = {1, 2, 2, &u8Value, 4, 4, &u16B};
    DmlpDeleteFromListExParams deleteFromListEx1 = {1, 2, 2, &u8Value, 4, 4, &u16B};
    DmlpDeleteFromListExParams deleteFromListEx2 = {2, 2, 2, &u8Value, 4, 4, &u16B};
    DmlpDeleteFromListExParams deleteFromListEx3 = {3, 2, 2, &u8Value, 4, 4, &u16B};
    DmlpSetByUserParams setByUser = {1, 2, 6004, &byte6004};
    DmlpUnreserveParams unreserve = {InetAddress(DMLP_ADDRESS_TCP, 192, 168, 1, 2, 513)};
    DmlpResumeJobWithPasswordParams resumeJobWithPassword = {1, 2, (const uint8_t*)"pw"};
    DmlpExecuteFileParams executeFile = {1, 2, 3, 2, fileEntries};
    DmlpListJobAttributesParams listJobAttributes = {1, 2, 3, 4, 5, 6, 1, kAttribute277};
    DmlpListHandleAttributesParams listHandleAttributes = {2, objects, 1, kAttribute280};
    DmlpCopyFilesParams copyFiles = {1, objects, 3, 4};
    DmlpMoveFilesParams moveFiles = {2, objects, 3, 4, 5};
    DmlpDeleteFilesParams deleteFiles = {1, objects, 3};
    DmlpGet2Params get2 = {1, 1, 0, &typed, 2, objects, 3, ids};
    DmlpGet2Params get2Empty = {0x0102, 0, 0, nullptr, 0, nullptr, 0, nullptr};
    DmlpGetListElementParams getListElement = {1, 2, 3, 2, 4, &typed, 5, 6, 7};
    DmlpSet2Params set2 = {0, 0, nullptr, 8, 289, &number289};
    DmlpSetListElementParams setListElement = {2, 0, 0, nullptr, 0x10, 2, &subscription};
    DmlpJobStart2Params jobStart2 = {2, jobAttributes};
    DmlpTraceJobParams traceJob = {0x77, 2, jobId, 2, kAttributes6004And277};
    DmlpAcquireRecords2Params acquireRecords2 = {1, 2, 3, 4, 5, 0, nullptr};
    DmlpResourceStart2Params resourceStart2 = {9, 1, resourceAttributes};
    DmlpExecuteFile2Params executeFile2 = {1, 2, 2, fileObjects};

    static constexpr uint16_t kU16Items[2] = {0x0A0B, 0x0C0D};
    static constexpr uint16_t kAttribute6004[1] = {6004};
    static constexpr uint16_t kAttribute277[1] = {277};
    static constexpr uint16_t kAttribute280[1] = {280};
    static constexpr uint16_t kAttributes6004And277[2] = {6004, 277};

    static DmlpSendRequestParams SendRequestAddress()
    {
        DmlpSendRequestParams params = {};
        params.kind = 1;
        params.u.address = InetAddress(DMLP_ADDRESS_UDP, 10, 0, 0, 1, 47545);
        return params;
    }
    static DmlpSendRequestParams SendRequestText()
    {
        DmlpSendRequestParams params = {};
        params.kind = 4;
        params.u.text = {2, (const uint8_t*)"hi"};
        return params;
    }
    static DmlpSendRequestParams SendRequestValues()
    {
        DmlpSendRequestParams params = {};
        params.kind = 16;
        params.u.values.value1 = 0x0A;
        params.u.values.value2 = 0x0B;
        return params;
    }

    std::vector<Sample> All() const
    {
        std::vector<Sample> all;
        for (const PlainLayout& layout : kPlainLayouts) {
            for (uint16_t method : layout.methods)
                all.push_back({"plain", method, pattern.bytes, sizeof pattern.bytes,
                               PlainBody(layout.fields, pattern.bytes)});
        }
        const Bytes none;
        all.push_back(Make("Echo", 1, echo, Wire().text("ver?")));
        all.push_back(Make("Set", 3, set, Wire().u32(0x11223344).u16(289).u32(0xA0B0C0D0)));
        all.push_back(Make("ListAttributes", 6, listAttributes,
                           Wire().u16(1).u16(2).u8(3).u32(4).u16(2).u16(280).u16(283)));
        all.push_back(
            Make("AppendToList", 8, appendToList, Wire().u8(3).u32(0x10).u16(2).u16(0).raw(kSubscriptionWire)));
        all.push_back(Make("DeleteFromList 1", 9, deleteFromList1, Wire().u8(1).u32(0x10).u16(2)));
        all.push_back(Make("DeleteFromList 2", 9, deleteFromList2, Wire().u8(2).u32(0x10).u16(2).u16(0x0102)));
        all.push_back(Make("DeleteFromList 3", 9, deleteFromList3,
                           Wire().u8(3).u32(0x10).u16(2).raw(kSubscriptionWire)));
        all.push_back(Make("SetJob", 18, setJob, Wire().u16(280).raw(kJobIdWire)));
        all.push_back(Make("SetBinder", 21, setJob, Wire().u16(280).raw(kJobIdWire)));
        all.push_back(Make("SetDocument", 24, setJob, Wire().u16(280).raw(kJobIdWire)));
        all.push_back(Make("SetResource", 50, setJob, Wire().u16(280).raw(kJobIdWire)));
        all.push_back(Make("Send 1", 26, send1, Wire().u8(1)));
        all.push_back(Make("Send 3", 26, send3, Wire().u8(3).s8("abc")));
        all.push_back(Make("Send 3 empty", 26, send3Empty, Wire().u8(3).u8(0)));
        all.push_back(Make("Send 6", 26, send6, Wire().u8(6).u32(0x0A).u32(0x0B)));
        all.push_back(Make("Send 11", 26, send11, Wire().u8(11)));
        all.push_back(Make("SendRequest 1", 27, sendRequest1,
                           Wire().u8(1).u16(2).u8(6).u8(10).u8(0).u8(0).u8(1).u16(47545)));
        all.push_back(Make("SendRequest 4", 27, sendRequest4, Wire().u8(4).s8("hi")));
        all.push_back(Make("SendRequest 16", 27, sendRequest16, Wire().u8(16).u32(0x0A).u32(0x0B)));
        all.push_back(Make("ExecuteMethod", 29, executeMethod, Wire().u32(0x4B).u16(101).u32(7).u8(1)));
        all.push_back(Make("ListObjectAttributes", 53, listObjectAttributes,
                           Wire().u16(1).u16(2).u8(3).u16(4).u16(1).u16(6004)));
        all.push_back(
            Make("SetEx", 54, setEx, Wire().u32(9).u16(21).u16(0x0102).u16(21).u16(2).u16(0x0A0B).u16(0x0C0D)));
        all.push_back(Make("GetEx", 55, getEx, Wire().u32(9).u16(6).u32(0x01020304)));
        all.push_back(Make("ListEx", 56, listEx, Wire().u16(1).u16(2).u8(3).u32(4).u16(8).s8("ok").u16(5)));
        all.push_back(Make("AppendToListEx", 57, appendToListEx,
                           Wire().u8(1).u32(2).u16(2).u8(0x33).u16(4).u16(4).u16(0x0506)));
        all.push_back(Make("DeleteFromListEx 1", 58, deleteFromListEx1, Wire().u8(1).u32(2).u16(2).u8(0x33)));
        all.push_back(Make("DeleteFromListEx 2", 58, deleteFromListEx2, Wire().u8(2).u32(2).u16(2).u8(0x33).u16(4)));
        all.push_back(Make("DeleteFromListEx 3", 58, deleteFromListEx3,
                           Wire().u8(3).u32(2).u16(2).u8(0x33).u16(4).u16(0x0506)));
        all.push_back(Make("SetByUser", 59, setByUser, Wire().u32(1).u32(2).u16(6004).u8(9)));
        all.push_back(Make("SetToFileBox", 86, setByUser, Wire().u32(1).u32(2).u16(6004).u8(9)));
        all.push_back(Make("Unreserve", 63, unreserve, Wire().u16(1).u8(6).u8(192).u8(168).u8(1).u8(2).u16(513)));
        all.push_back(Make("ResumeJobWithPassword", 64, resumeJobWithPassword, Wire().u32(1).s8("pw")));
        all.push_back(Make("ExecuteFile", 68, executeFile,
                           Wire().u32(1).u8(2).u32(3).u8(2).u32(1).u16(289).u32(0xA0B0C0D0).u32(2).u16(6004).u8(9)));
        all.push_back(Make("ListJobAttributes", 83, listJobAttributes,
                           Wire().u16(1).u16(2).u8(3).u16(4).u8(5).u32(6).u16(1).u16(277)));
        all.push_back(Make("ListHandleAttributes", 84, listHandleAttributes,
                           Wire().u16(2).u32(0x100).u32(0x200).u16(1).u16(280)));
        all.push_back(Make("CopyFiles", 93, copyFiles, Wire().u16(1).u32(0x100).u32(3).u32(4)));
        all.push_back(Make("MoveFiles", 94, moveFiles, Wire().u16(2).u32(0x100).u32(0x200).u32(3).u32(4).u32(5)));
        all.push_back(Make("DeleteFiles", 95, deleteFiles, Wire().u16(1).u32(0x100).u32(3)));
        all.push_back(Make("ReplaceFiles", 97, moveFiles, Wire().u16(2).u32(0x100).u32(0x200).u32(3).u32(4).u32(5)));
        all.push_back(Make("Get2", 102, get2,
                           Wire().u16(1).u8(1).u8(4).u32(0x2A).u16(2).u32(0x100).u32(0x200).u16(3).u16(280).u16(283)
                               .u16(277)));
        all.push_back(Make("Get2 empty", 102, get2Empty, Wire().u16(0x0102).u8(0).u8(0).u16(0).u16(0)));
        all.push_back(Make("GetListElement", 103, getListElement,
                           Wire().u16(1).u16(2).u8(3).u8(2).u8(4).u32(0x2A).u32(5).u16(6).u16(7)));
        all.push_back(Make("Set2", 105, set2, Wire().u8(0).u8(0).u32(8).u16(289).u32(0xA0B0C0D0)));
        all.push_back(Make("SetListElement", 106, setListElement,
                           Wire().u8(2).u8(0).u8(0).u32(0x10).u16(2).raw(kSubscriptionWire)));
        all.push_back(Make("JobStart2", 107, jobStart2,
                           Wire().u16(2).u16(280).u16(64).raw(kJobIdWire).u16(2229).u16(1).u8(1)));
        all.push_back(
            Make("TraceJob", 109, traceJob, Wire().u32(0x77).u8(2).raw(kJobIdWire).u16(2).u16(6004).u16(277)));
        all.push_back(Make("AcquireRecords2", 110, acquireRecords2, Wire().u32(1).u8(2).u32(3).u32(4).u8(5).u16(0)));
        all.push_back(
            Make("ResourceStart2", 111, resourceStart2, Wire().u16(9).u16(1).u16(289).u16(4).u32(0xA0B0C0D0)));
        all.push_back(Make("ExecuteFile2", 112, executeFile2,
                           Wire().u32(1).u8(2).u16(2).u32(0x10).u16(1).u16(6004).u16(1).u8(9).u32(0x20).u16(0)));
        return all;
    }
};

class RequestBodies : public CoderTest {};

TEST_F(RequestBodies, EveryMethodHasABodyEncoderAndTheSamplesCoverThemAll)
{
    Samples samples;
    std::set<uint16_t> covered;
    for (const Sample& sample : samples.All())
        covered.insert(sample.method);
    size_t encoders = 0;
    for (const DmlpMethodRow* row = DmlpMethodTable; row->method != 0; ++row) {
        if (row->method == 10) {
            EXPECT_EQ(row->encode, nullptr);
            continue;
        }
        ++encoders;
        EXPECT_NE(row->encode, nullptr) << row->method;
        EXPECT_TRUE(covered.count(row->method)) << "no sample for method " << row->method;
    }
    EXPECT_EQ(encoders, 93u);
    EXPECT_EQ(covered.size(), 93u);
}

TEST_F(RequestBodies, EveryMethodGivesItsBodyBehindTheHeader)
{
    Samples samples;
    for (const Sample& sample : samples.All()) {
        SCOPED_TRACE(sample.name + " " + std::to_string(sample.method));
        Bytes message;
        ASSERT_EQ(Encode(sample.method, sample.params, &message), DMLP_CODER_OK);
        const Bytes header = Wire()
                                 .u16(0xCDCA).u8(0x10).u8(0).u16(sample.method).u16(0)
                                 .u16((uint32_t)sample.body.size()).u32(0x01020304).u32(0x05060708).u16(0);
        ASSERT_EQ(message.size(), DMLP_HEADER_LENGTH + sample.body.size());
        EXPECT_EQ(Bytes(message.begin(), message.begin() + DMLP_HEADER_LENGTH), header);
        EXPECT_EQ(BodyOf(message), sample.body);
    }
}

TEST_F(RequestBodies, OutputIsExactlyTheSizedMessageAndFullyWritten)
{
    Samples samples;
    for (const Sample& sample : samples.All()) {
        SCOPED_TRACE(sample.name + " " + std::to_string(sample.method));
        const size_t total = DMLP_HEADER_LENGTH + sample.body.size();
        Bytes written[2];
        const uint8_t poisons[2] = {0xAA, 0x55};
        for (int i = 0; i < 2; ++i) {
            Bytes buffer(total + 16, poisons[i]);
            DmlpHeader header = RequestHeader(sample.method);
            DmlpCursor out = {buffer.data(), (int32_t)buffer.size()};
            ASSERT_EQ(DmlpEncodeMessage(&header, sample.params, &out), DMLP_CODER_OK);
            EXPECT_EQ(out.ptr, buffer.data());
            EXPECT_EQ((size_t)out.count, total);
            EXPECT_EQ(Bytes(buffer.begin() + total, buffer.end()), Bytes(16, poisons[i])) << "nothing behind";
            written[i].assign(buffer.begin(), buffer.begin() + total);
        }
        EXPECT_EQ(written[0], written[1]) << "every byte of the message is written";

        Bytes tooSmall(total - 1, 0xAA);
        DmlpHeader header = RequestHeader(sample.method);
        DmlpCursor out = {tooSmall.data(), (int32_t)tooSmall.size()};
        EXPECT_EQ(DmlpEncodeMessage(&header, sample.params, &out), DMLP_CODER_BUFFER_TOO_SMALL);
        EXPECT_EQ(tooSmall, Bytes(total - 1, 0xAA));
    }
}

TEST_F(RequestBodies, RecordsAreNeverWritten)
{
    Samples samples;
    for (const Sample& sample : samples.All()) {
        SCOPED_TRACE(sample.name + " " + std::to_string(sample.method));
        const Bytes before((const uint8_t*)sample.params, (const uint8_t*)sample.params + sample.size);
        Bytes message;
        ASSERT_EQ(Encode(sample.method, sample.params, &message), DMLP_CODER_OK);
        EXPECT_EQ(Bytes((const uint8_t*)sample.params, (const uint8_t*)sample.params + sample.size), before);
    }
    // The typed value's length goes on the wire as its type says, not into the record.
    EXPECT_EQ(samples.get2.length, 0);
}

TEST_F(RequestBodies, AFailedOutputAllocationLeavesNothing)
{
    Samples samples;
    for (const Sample& sample : samples.All()) {
        SCOPED_TRACE(sample.name + " " + std::to_string(sample.method));
        DmlpHeader header = RequestHeader(sample.method);
        DmlpCursor out = {nullptr, 0};
        VxSrvcTestFailAllocation(1);
        EXPECT_EQ(DmlpEncodeMessage(&header, sample.params, &out), DMLP_CODER_NO_MEMORY);
        EXPECT_EQ(out.ptr, nullptr);
        EXPECT_EQ(liveBlocks(), 0);
    }
}

// ---- Golden messages -------------------------------------------------------------------------------

TEST_F(RequestBodies, CancelJobIsTwentyFourBytesWithTheJobMostSignificantByteFirst)
{
    const DmlpCancelJobParams params = {0x0A0B0C0D};
    Bytes message;
    ASSERT_EQ(Encode(31, &params, &message), DMLP_CODER_OK);
    EXPECT_EQ(message, Bytes({0xCD, 0xCA, 0x10, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00, 0x04, 0x01, 0x02,
                              0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x00, 0x00, 0x0A, 0x0B, 0x0C, 0x0D}));
}

TEST_F(RequestBodies, GetDateTimeIsTheHeaderAlone)
{
    const DmlpGetDateTimeParams params = {};
    Bytes message;
    ASSERT_EQ(Encode(16, &params, &message), DMLP_CODER_OK);
    EXPECT_EQ(message, Bytes({0xCD, 0xCA, 0x10, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03,
                              0x04, 0x05, 0x06, 0x07, 0x08, 0x00, 0x00}));
}

TEST_F(RequestBodies, TraceJobSendsTheClientJobIdNumbersBigEndian)
{
    const DmlpClientJobId id = JobId();
    const uint16_t ids[] = {6004, 277};
    const DmlpTraceJobParams params = {0x77, 2, id, 2, ids};
    Bytes message;
    ASSERT_EQ(Encode(109, &params, &message), DMLP_CODER_OK);
    Bytes expected = {0xCD, 0xCA, 0x10, 0x00, 0x00, 0x6D, 0x00, 0x00, 0x00, 0x4B, 0x01, 0x02, 0x03, 0x04,
                      0x05, 0x06, 0x07, 0x08, 0x00, 0x00,                          // header, body of 75
                      0x00, 0x00, 0x00, 0x77, 0x02,                                // uint32, uint8
                      0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,              // Data1, Data2, Data3
                      'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H',                      // Data4
                      'J', 'O', 'B', '0', '0', '0', '0', '1', ' ', 'r', 'e', 'p', 'o', 'r', 't', '.', 't', 'x', 't'};
    expected.insert(expected.end(), 48 - 19, 0x00);                                // the rest of the job text
    expected.insert(expected.end(), {0x00, 0x02, 0x17, 0x74, 0x01, 0x15});         // ids 6004, 277
    EXPECT_EQ(message, expected);
}

TEST_F(RequestBodies, Get2WithATypedValueObjectsAndIds)
{
    const uint32_t typed = 0x2A;
    const uint32_t objects[] = {0x100, 0x200};
    const uint16_t ids[] = {280, 283, 277};
    const DmlpGet2Params params = {1, 1, 0, &typed, 2, objects, 3, ids};
    Bytes message;
    ASSERT_EQ(Encode(102, &params, &message), DMLP_CODER_OK);
    EXPECT_EQ(message, Bytes({0xCD, 0xCA, 0x10, 0x00, 0x00, 0x66, 0x00, 0x00, 0x00, 0x1A, 0x01, 0x02, 0x03, 0x04,
                              0x05, 0x06, 0x07, 0x08, 0x00, 0x00,                      // header, body of 26
                              0x00, 0x01,                                              // uint16
                              0x01, 0x04, 0x00, 0x00, 0x00, 0x2A,                      // typed value 1
                              0x00, 0x02, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00,   // two objects
                              0x00, 0x03, 0x01, 0x18, 0x01, 0x1B, 0x01, 0x15}));       // ids 280, 283, 277

    const DmlpGet2Params empty = {0x0102, 0, 0, nullptr, 0, nullptr, 0, nullptr};
    ASSERT_EQ(Encode(102, &empty, &message), DMLP_CODER_OK);
    EXPECT_EQ(BodyOf(message), Bytes({0x01, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00})) << "an 8-byte body";
}

TEST_F(RequestBodies, SetExWritesItsFirstValueWithoutACountAndItsSecondWithOne)
{
    const uint16_t first = 0x0102;
    const uint16_t elements[] = {0x0A0B, 0x0C0D, 0x0E0F};
    const struct {
        uint16_t count;
        const uint16_t* items;
    } second = {3, elements};
    const DmlpSetExParams params = {9, 21, &first, 21, &second};
    Bytes message;
    ASSERT_EQ(Encode(54, &params, &message), DMLP_CODER_OK);
    EXPECT_EQ(BodyOf(message), Bytes(Wire().u32(9).u16(21).u16(0x0102).u16(21).u16(3).u16(0x0A0B).u16(0x0C0D)
                                         .u16(0x0E0F)));
}

TEST_F(RequestBodies, EventRegistrationBodiesCarryTheSubscriptionBlock)
{
    // As the engine fills them: AppendToList (3, value, 2, 0, block), SetListElement (2, 0, 0,
    // no typed value, value, 2, block), DeleteFromList (3, value, 2, block).
    const SubscriptionBlock block = Subscription();
    const DmlpAppendToListParams append = {3, 0x1234, 2, 0, &block};
    const DmlpSetListElementParams set = {2, 0, 0, nullptr, 0x1234, 2, &block};
    const DmlpDeleteFromListParams remove = {3, 0x1234, 2, 0, &block};
    Bytes message;
    ASSERT_EQ(Encode(8, &append, &message), DMLP_CODER_OK);
    EXPECT_EQ(BodyOf(message), Bytes(Wire().u8(3).u32(0x1234).u16(2).u16(0).raw(kSubscriptionWire)));
    ASSERT_EQ(Encode(106, &set, &message), DMLP_CODER_OK);
    EXPECT_EQ(BodyOf(message), Bytes(Wire().u8(2).u8(0).u8(0).u32(0x1234).u16(2).raw(kSubscriptionWire)));
    ASSERT_EQ(Encode(9, &remove, &message), DMLP_CODER_OK);
    EXPECT_EQ(BodyOf(message), Bytes(Wire().u8(3).u32(0x1234).u16(2).raw(kSubscriptionWire)));
}

// ---- Refusals: nothing allocated, nothing written ------------------------------------------------

struct Refusal {
    std::string name;
    uint16_t method;
    const void* params;
    DmlpCoderError error;
};

TEST_F(RequestBodies, RefusalsHappenBeforeAnythingIsAllocatedOrWritten)
{
    const uint32_t objects[] = {1};
    const uint16_t ids[] = {280};
    uint32_t number = 5;
    uint8_t byte = 1;
    const DmlpCopyFilesParams noObjects = {0, objects, 1, 2};
    const DmlpMoveFilesParams noObjectsMove = {0, objects, 1, 2, 3};
    const DmlpDeleteFilesParams noObjectsDelete = {0, objects, 1};
    const DmlpListHandleAttributesParams noHandles = {0, objects, 1, ids};
    const DmlpListHandleAttributesParams noColumns = {1, objects, 0, ids};
    const DmlpCopyFilesParams nullObjects = {1, nullptr, 1, 2};
    const DmlpSetJobParams unknownAttribute = {9999, &number};
    const DmlpSetJobParams nullValue = {289, nullptr};
    const DmlpAttributeEntry mixed[] = {{289, 0, &number}, {9999, 0, &number}};
    const DmlpJobStart2Params unknownInList = {2, mixed};
    const DmlpGetExParams unknownBasic = {1, 19, &number};
    const DmlpSetExParams unknownBasicB = {1, 6, &number, 24, &number};
    const DmlpDeleteFromListParams selector0 = {0, 1, 2, 0, &byte};
    const DmlpDeleteFromListParams selector4 = {4, 1, 2, 0, &byte};
    const DmlpDeleteFromListExParams selectorEx4 = {4, 1, 2, &byte, 0, 2, &byte};
    const DmlpSendParams send0 = {0, 0, 0, 0, nullptr};
    const DmlpSendParams send5 = {5, 0, 0, 0, nullptr};
    const DmlpSendParams send12 = {12, 0, 0, 0, nullptr};
    const DmlpSendParams longString = {3, 0, 0, 256, "x"};
    const DmlpSendParams nullString = {3, 0, 0, 2, nullptr};
    DmlpSendRequestParams sendRequest2 = {};
    sendRequest2.kind = 2;
    DmlpSendRequestParams unknownAddress = {};
    unknownAddress.kind = 1;
    unknownAddress.u.address.kind = 16;
    DmlpUnreserveParams unreserveKind0 = {};
    const DmlpGet2Params typed3 = {1, 3, 4, &number, 0, nullptr, 0, nullptr};
    const DmlpGet2Params typedNull = {1, 1, 4, nullptr, 0, nullptr, 0, nullptr};
    const DmlpSet2Params set2Typed7 = {7, 0, &number, 1, 289, &number};
    const DmlpGetListElementParams listTyped3 = {1, 2, 3, 3, 0, &number, 4, 5, 6};
    const DmlpSetListElementParams elementTyped9 = {1, 9, 0, &number, 1, 6004, &byte};
    const DmlpExecuteMethodParams unknownCode = {1, 120, &byte, 0};
    const DmlpExecuteMethodParams code8191 = {1, 8191, &byte, 0};
    const DmlpEchoParams nullEcho = {nullptr, 3};
    const DmlpExecuteFileEntry unknownEntry[] = {{1, 9999, &number}};
    const DmlpExecuteFileParams unknownFileAttribute = {1, 2, 3, 1, unknownEntry};

    const Refusal refusals[] = {
        {"CopyFiles without objects", 93, &noObjects, DMLP_CODER_BAD_ARGUMENT},
        {"MoveFiles without objects", 94, &noObjectsMove, DMLP_CODER_BAD_ARGUMENT},
        {"DeleteFiles without objects", 95, &noObjectsDelete, DMLP_CODER_BAD_ARGUMENT},
        {"ReplaceFiles without objects", 97, &noObjectsMove, DMLP_CODER_BAD_ARGUMENT},
        {"ListHandleAttributes without handles", 84, &noHandles, DMLP_CODER_BAD_ARGUMENT},
        {"ListHandleAttributes without ids", 84, &noColumns, DMLP_CODER_BAD_ARGUMENT},
        {"list without its array", 93, &nullObjects, DMLP_CODER_BAD_ARGUMENT},
        {"SetJob unknown attribute", 18, &unknownAttribute, DMLP_CODER_UNKNOWN_ATTRIBUTE},
        {"SetJob without value", 18, &nullValue, DMLP_CODER_BAD_ARGUMENT},
        {"JobStart2 unknown attribute", 107, &unknownInList, DMLP_CODER_UNKNOWN_ATTRIBUTE},
        {"ExecuteFile unknown attribute", 68, &unknownFileAttribute, DMLP_CODER_UNKNOWN_ATTRIBUTE},
        {"GetEx unknown basic type", 55, &unknownBasic, DMLP_CODER_UNKNOWN_BASIC_TYPE},
        {"SetEx unknown basic type B", 54, &unknownBasicB, DMLP_CODER_UNKNOWN_BASIC_TYPE},
        {"DeleteFromList selector 0", 9, &selector0, DMLP_CODER_BAD_ARGUMENT},
        {"DeleteFromList selector 4", 9, &selector4, DMLP_CODER_BAD_ARGUMENT},
        {"DeleteFromListEx selector 4", 58, &selectorEx4, DMLP_CODER_BAD_ARGUMENT},
        {"Send kind 0", 26, &send0, DMLP_CODER_BAD_ARGUMENT},
        {"Send kind 5", 26, &send5, DMLP_CODER_BAD_ARGUMENT},
        {"Send kind 12", 26, &send12, DMLP_CODER_BAD_ARGUMENT},
        {"Send string over 255", 26, &longString, DMLP_CODER_BAD_ARGUMENT},
        {"Send string without bytes", 26, &nullString, DMLP_CODER_BAD_ARGUMENT},
        {"SendRequest kind 2", 27, &sendRequest2, DMLP_CODER_BAD_ARGUMENT},
        {"SendRequest address kind 16", 27, &unknownAddress, DMLP_CODER_BAD_ARGUMENT},
        {"Unreserve address kind 0", 63, &unreserveKind0, DMLP_CODER_BAD_ARGUMENT},
        {"Get2 typed value of type 3", 102, &typed3, DMLP_CODER_BAD_ARGUMENT},
        {"Get2 typed value without its number", 102, &typedNull, DMLP_CODER_BAD_ARGUMENT},
        {"Set2 typed value of type 7", 105, &set2Typed7, DMLP_CODER_BAD_ARGUMENT},
        {"GetListElement typed value of type 3", 103, &listTyped3, DMLP_CODER_BAD_ARGUMENT},
        {"SetListElement typed value of type 9", 106, &elementTyped9, DMLP_CODER_BAD_ARGUMENT},
        {"ExecuteMethod unknown code", 29, &unknownCode, DMLP_CODER_UNKNOWN_EXEC_CODE},
        {"ExecuteMethod code 8191", 29, &code8191, DMLP_CODER_UNKNOWN_EXEC_CODE},
        {"Echo without its bytes", 1, &nullEcho, DMLP_CODER_BAD_ARGUMENT},
    };
    for (const Refusal& refusal : refusals) {
        SCOPED_TRACE(refusal.name);
        DmlpHeader header = RequestHeader(refusal.method);
        DmlpCursor allocated = {nullptr, 0};
        EXPECT_EQ(DmlpEncodeMessage(&header, refusal.params, &allocated), refusal.error);
        EXPECT_EQ(allocated.ptr, nullptr);
        EXPECT_EQ(liveBlocks(), 0);
        Bytes buffer(512, 0xAA);
        DmlpCursor given = {buffer.data(), (int32_t)buffer.size()};
        EXPECT_EQ(DmlpEncodeMessage(&header, refusal.params, &given), refusal.error);
        EXPECT_EQ(buffer, Bytes(512, 0xAA)) << "nothing written";
    }
}

TEST_F(RequestBodies, BodiesOver65535BytesAreRefusedBeforeAllocation)
{
    std::vector<uint16_t> ids(40000, 280);
    DmlpGet2Params params = {1, 0, 0, nullptr, 0, nullptr, 32763, ids.data()};
    Bytes message;
    ASSERT_EQ(Encode(102, &params, &message), DMLP_CODER_OK);
    EXPECT_EQ(message.size(), 20u + 65534);
    params.attributeIdCount = 32764;
    DmlpHeader header = RequestHeader(102);
    DmlpCursor out = {nullptr, 0};
    EXPECT_EQ(DmlpEncodeMessage(&header, &params, &out), DMLP_CODER_BAD_ARGUMENT);
    EXPECT_EQ(out.ptr, nullptr);
    EXPECT_EQ(liveBlocks(), 0);

    // Attribute lists whose values add up past the limit, each value fitting on its own
    // (attribute 310: uint16, uint16 length, the bytes).
    const Bytes big(40000, 'x');
    struct {
        uint16_t value1;
        uint16_t length;
        const uint8_t* bytes;
    } value = {0, (uint16_t)big.size(), big.data()};
    const DmlpAttributeEntry attribute[] = {{310, 0, &value}};
    const DmlpExecuteFile2Object objects[] = {{1, 1, attribute}, {2, 1, attribute}};
    const DmlpExecuteFile2Params two = {1, 2, 2, objects};
    header = RequestHeader(112);
    out = {nullptr, 0};
    EXPECT_EQ(DmlpEncodeMessage(&header, &two, &out), DMLP_CODER_BAD_ARGUMENT);
    EXPECT_EQ(out.ptr, nullptr);
    EXPECT_EQ(liveBlocks(), 0);
    const DmlpExecuteFile2Params one = {1, 2, 1, objects};
    ASSERT_EQ(Encode(112, &one, &message), DMLP_CODER_OK);
    EXPECT_EQ(message.size(), 20u + 4 + 1 + 2 + 4 + 2 + 2 + 2 + 2 + 2 + big.size());
}

} // namespace
