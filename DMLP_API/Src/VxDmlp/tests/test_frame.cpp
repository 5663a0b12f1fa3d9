// Table audits, lookups and the shared decode steps: result records, result buffers, cleanup.
#include <set>

#include "BodyTesting.h"

namespace {

class CoderFrame : public CoderTest {};

template <typename Row, typename Id>
std::vector<uint16_t> Ids(const Row* table, Id Row::*field)
{
    std::vector<uint16_t> ids;
    for (const Row* row = table; row->*field != 0; ++row)
        ids.push_back(row->*field);
    return ids;
}

std::vector<uint16_t> Expand(std::initializer_list<std::pair<uint16_t, uint16_t>> ranges)
{
    std::vector<uint16_t> ids;
    for (auto [first, last] : ranges) {
        for (uint32_t id = first; id <= last; ++id)
            ids.push_back((uint16_t)id);
    }
    return ids;
}

TEST_F(CoderFrame, MethodEventAndExecCodeTablesHoldTheirIds)
{
    const std::vector<uint16_t> methods = Expand({{1, 29}, {31, 44}, {46, 46}, {48, 51}, {53, 60}, {63, 64},
                                                  {68, 74}, {76, 88}, {92, 97}, {102, 103}, {105, 107},
                                                  {109, 112}, {114, 114}});
    EXPECT_EQ(methods.size(), 94u);
    EXPECT_EQ(Ids(DmlpMethodTable, &DmlpMethodRow::method), methods);
    EXPECT_EQ(DmlpFindMethod(10, 16)->encode, nullptr) << "event notifications are never sent";

    const std::vector<uint16_t> events =
        Expand({{2, 5}, {11, 11}, {14, 20}, {24, 24}, {26, 26}, {40, 40}, {45, 45}, {48, 48}, {53, 58}, {60, 60},
                {63, 74}, {82, 91}, {94, 94}, {106, 106}, {113, 113}, {120, 120}, {122, 122}, {125, 125},
                {129, 130}, {152, 155}, {158, 158}, {217, 219}, {222, 223}, {225, 225}});
    EXPECT_EQ(events.size(), 65u);
    EXPECT_EQ(Ids(DmlpEventTable, &DmlpEventRow::event), events);

    const std::vector<uint16_t> codes = Expand({{11, 14}, {101, 112}, {114, 119}, {124, 127}, {130, 133},
                                                {135, 138}, {146, 146}});
    EXPECT_EQ(codes.size(), 35u);
    EXPECT_EQ(Ids(DmlpExecCodeTable, &DmlpExecCodeRow::code), codes);
    EXPECT_EQ(DmlpFindExecCode(8191, 16), nullptr) << "8191 is looked up like any code";
    EXPECT_EQ(DmlpFindExecCode(8192, 16), &DmlpExecCodeDefault);
    EXPECT_EQ(DmlpFindExecCode(0xFFFF, 16), &DmlpExecCodeDefault);
    EXPECT_EQ(DmlpFindExecCode(120, 16), nullptr);
}

TEST_F(CoderFrame, BasicTypesShareTheirCodecs)
{
    EXPECT_EQ(Ids(DmlpBasicTypeTable, &DmlpBasicTypeRow::type), Expand({{2, 9}, {20, 23}}));
    const std::pair<uint16_t, uint16_t> sharing[] = {{2, 4}, {3, 4}, {4, 100}, {5, 100}, {6, 59}, {7, 59},
                                                     {8, 118}, {9, 117}, {21, 109}};
    for (auto [basic, valueType] : sharing)
        EXPECT_EQ(DmlpFindBasicType(basic, 16)->form, DmlpValueTypeTable[valueType - 1].form) << basic;
    EXPECT_EQ(DmlpFindBasicType(1, 16), nullptr);
    EXPECT_EQ(DmlpFindBasicType(24, 16), nullptr);
}

// The table has 151 rows, numbered as value types 1 to 151. Rows 103 and 110 carry an empty id
// list and are never selected, so 149 value types are in use; their id lists hold 806 ids, each
// in one list only.
TEST_F(CoderFrame, ValueTypeTableRowsAndIds)
{
    size_t rows = 0;
    size_t inUse = 0;
    std::set<uint16_t> ids;
    size_t idCount = 0;
    for (const DmlpValueTypeRow* row = DmlpValueTypeTable; row->ids != nullptr; ++row) {
        ++rows;
        EXPECT_EQ(row->versionKey, 0);
        if (row->ids[0] == 0) {
            EXPECT_TRUE(rows == 103 || rows == 110) << rows;
            continue;
        }
        ++inUse;
        ASSERT_NE(row->form, nullptr) << rows;
        for (const uint16_t* id = row->ids; *id != 0; ++id) {
            ++idCount;
            EXPECT_TRUE(ids.insert(*id).second) << "attribute " << *id << " belongs to one value type";
            EXPECT_EQ(DmlpFindValueType(*id, 16), row) << *id;
        }
    }
    EXPECT_EQ(rows, (size_t)DMLP_VALUE_TYPE_ROWS);
    EXPECT_EQ(inUse, 149u);
    EXPECT_EQ(idCount, 806u);
    EXPECT_EQ(DmlpFindValueType(0, 16), nullptr);
    EXPECT_EQ(DmlpFindValueType(1, 16), nullptr);
    EXPECT_EQ(DmlpFindValueType(280, 16), &DmlpValueTypeTable[139 - 1]);
    EXPECT_EQ(DmlpFindValueType(2229, 16), &DmlpValueTypeTable[4 - 1]);
    EXPECT_EQ(DmlpFindValueType(2, 16), &DmlpValueTypeTable[76 - 1]);
    EXPECT_EQ(DmlpFindValueType(283, 0x11), &DmlpValueTypeTable[144 - 1]) << "key 0 fits every version";
}

TEST_F(CoderFrame, RoundingAndAlignment)
{
    EXPECT_EQ(DmlpRoundUp8(0), 0u);
    EXPECT_EQ(DmlpRoundUp8(1), 8u);
    EXPECT_EQ(DmlpRoundUp8(8), 8u);
    EXPECT_EQ(DmlpRoundUp8(65535), 65536u) << "no 16-bit wrap";
    alignas(8) uint8_t bytes[24];
    EXPECT_EQ(DmlpAlignPointer8(bytes), bytes);
    EXPECT_EQ(DmlpAlignPointer8(bytes + 1), bytes + 8);
    EXPECT_EQ(DmlpAlignPointer8(bytes + 8), bytes + 8);
}

TEST_F(CoderFrame, ReallocCopiesTheCommonPart)
{
    uint8_t* block = (uint8_t*)DmlpAlloc(4);
    memcpy(block, "abcd", 4);
    uint8_t* grown = (uint8_t*)DmlpRealloc(block, 4, 8);
    ASSERT_NE(grown, nullptr);
    EXPECT_EQ(memcmp(grown, "abcd", 4), 0);
    VxSrvcTestFailAllocation(1);
    EXPECT_EQ(DmlpRealloc(grown, 8, 16), nullptr) << "the old block stays";
    uint8_t* shrunk = (uint8_t*)DmlpRealloc(grown, 8, 2);
    EXPECT_EQ(memcmp(shrunk, "ab", 2), 0);
    DmlpFree(shrunk);
}

TEST_F(CoderFrame, BeginDecodeChecksTheMinimumAndAllocatesAZeroedRecord)
{
    uint8_t body[4] = {};
    DmlpCursor cursor{body, 3};
    DmlpDecodeContext context{};
    uint8_t allocated = 7;
    EXPECT_EQ(DmlpBeginDecode(&context, &cursor, 4, 40, &allocated), DMLP_CODER_TRUNCATED);
    EXPECT_EQ(context.status, 6);
    EXPECT_EQ(allocated, 0);

    cursor.count = 4;
    ASSERT_EQ(DmlpBeginDecode(&context, &cursor, 4, 40, &allocated), DMLP_CODER_OK);
    ASSERT_EQ(allocated, 1);
    ASSERT_NE(context.result, nullptr);
    EXPECT_EQ(std::vector<uint8_t>((uint8_t*)context.result, (uint8_t*)context.result + 40),
              std::vector<uint8_t>(40, 0));
    void* record = context.result;
    ASSERT_EQ(DmlpBeginDecode(&context, &cursor, 4, 40, &allocated), DMLP_CODER_OK);
    EXPECT_EQ(allocated, 0) << "a given record is used";
    EXPECT_EQ(context.result, record);
    DmlpDecodeCleanup(&context, 1, 0);
    EXPECT_EQ(context.result, nullptr);
    EXPECT_EQ(context.status, 6);

    VxSrvcTestFailAllocation(1);
    EXPECT_EQ(DmlpBeginDecode(&context, &cursor, 4, 40, &allocated), DMLP_CODER_NO_MEMORY);
    EXPECT_EQ(context.status, 6);
    EXPECT_EQ(allocated, 0);
}

TEST_F(CoderFrame, ResultBufferIsAllocatedZeroedAndHeld)
{
    DmlpDecodeContext context{};
    DmlpBuffer buffer{};
    uint8_t allocated = 7;
    ASSERT_EQ(DmlpAllocResultBuffer(&context, &buffer, 0, &allocated), DMLP_CODER_OK);
    EXPECT_EQ(allocated, 0);
    EXPECT_EQ(buffer.data, nullptr) << "size 0 allocates nothing";

    ASSERT_EQ(DmlpAllocResultBuffer(&context, &buffer, 40, &allocated), DMLP_CODER_OK);
    EXPECT_EQ(allocated, 1);
    EXPECT_EQ(buffer.size, 40);
    EXPECT_EQ(buffer.flags, 0x0B);
    EXPECT_EQ(context.held, &buffer);
    EXPECT_EQ(std::vector<uint8_t>((uint8_t*)buffer.data, (uint8_t*)buffer.data + 40), std::vector<uint8_t>(40, 0));
    DmlpDecodeCleanup(&context, 0, 1);
    EXPECT_EQ(context.held, nullptr);
    EXPECT_EQ(buffer.data, nullptr) << "no dangling pointer after a failed decode";

    EXPECT_EQ(DmlpAllocResultBuffer(&context, &buffer, DMLP_SIZE_MAX + 1, &allocated), DMLP_CODER_NO_MEMORY);
    VxSrvcTestFailAllocation(1);
    EXPECT_EQ(DmlpAllocResultBuffer(&context, &buffer, 8, &allocated), DMLP_CODER_NO_MEMORY);
    EXPECT_EQ(allocated, 0);
    EXPECT_EQ(context.held, nullptr);
}

TEST_F(CoderFrame, CallersBufferIsUsedGrownOrRefused)
{
    DmlpDecodeContext context{};
    uint8_t allocated = 7;
    std::vector<uint8_t> callers(64, 0xEE);
    DmlpBuffer fixed{callers.data(), 64, DMLP_BUFFER_VALID, 0, 0};
    ASSERT_EQ(DmlpAllocResultBuffer(&context, &fixed, 16, &allocated), DMLP_CODER_OK);
    EXPECT_EQ(allocated, 0);
    EXPECT_EQ(fixed.data, callers.data());
    EXPECT_EQ(callers[15], 0);
    EXPECT_EQ(callers[16], 0xEE) << "only the needed bytes are zeroed";
    EXPECT_EQ(DmlpAllocResultBuffer(&context, &fixed, 65, &allocated), DMLP_CODER_BUFFER_TOO_SMALL);

    DmlpBuffer growable{callers.data(), 64, DMLP_BUFFER_VALID | DMLP_BUFFER_MAY_GROW, 0, 0};
    ASSERT_EQ(DmlpAllocResultBuffer(&context, &growable, 100, &allocated), DMLP_CODER_OK);
    EXPECT_EQ(allocated, 1);
    EXPECT_NE(growable.data, callers.data()) << "the caller's own block is not freed";
    EXPECT_EQ(growable.size, 100);
    EXPECT_EQ(growable.flags, 0x0F);
    EXPECT_EQ(context.held, &growable);

    // A library block is replaced and freed when it grows again.
    context.held = nullptr;
    ASSERT_EQ(DmlpAllocResultBuffer(&context, &growable, 200, &allocated), DMLP_CODER_OK);
    EXPECT_EQ(growable.size, 200);
    EXPECT_EQ(VxSrvcTestLiveBlocks(), live_ + 1);
    VxSrvcTestFailAllocation(1);
    context.held = nullptr;
    EXPECT_EQ(DmlpAllocResultBuffer(&context, &growable, 300, &allocated), DMLP_CODER_NO_MEMORY);
    EXPECT_EQ(growable.size, 200) << "a failed growth keeps the old block";
    DmlpFree(growable.data);
}

TEST_F(CoderFrame, AHeldDescriptorIsCopiedIntoTheGivenOne)
{
    DmlpDecodeContext context{};
    DmlpBuffer first{};
    uint8_t allocated;
    ASSERT_EQ(DmlpAllocResultBuffer(&context, &first, 24, &allocated), DMLP_CODER_OK);
    DmlpBuffer second{};
    ASSERT_EQ(DmlpAllocResultBuffer(&context, &second, 16, &allocated), DMLP_CODER_OK);
    EXPECT_EQ(second.data, first.data);
    EXPECT_EQ(second.size, 24);
    EXPECT_EQ(allocated, 0);
    EXPECT_EQ(context.held, nullptr);
    DmlpFree(second.data);
}

// A reply decoder built the way every variable reply is: record, size pass, block, decode pass.
struct ListResult {
    uint16_t count;
    DmlpAttributeEntry* entries;
    DmlpBuffer buffer;
};

DmlpCoderError DecodeListReply(DmlpDecodeContext* context, const DmlpCursor* body)
{
    uint8_t recordAllocated;
    DmlpCoderError error = DmlpBeginDecode(context, body, 2, sizeof(ListResult), &recordAllocated);
    if (error != DMLP_CODER_OK)
        return error;
    ListResult* result = (ListResult*)context->result;
    DmlpCursor measure = *body;
    uint16_t size;
    uint8_t bufferAllocated = 0;
    error = DmlpSizeAttributeList(&measure, 1, &size, 16);
    if (error == DMLP_CODER_OK)
        error = DmlpAllocResultBuffer(context, &result->buffer, size, &bufferAllocated);
    if (error != DMLP_CODER_OK) {
        DmlpDecodeCleanup(context, recordAllocated, bufferAllocated);
        return error;
    }
    DmlpCursor read = *body;
    DmlpAttributeList list;
    DmlpDecodeAttributeList(&read, 1, &list, result->buffer.data, 16);
    result->count = list.count;
    result->entries = list.entries;
    return DMLP_CODER_OK;
}

TEST_F(CoderFrame, AllocationFailureAtEveryStepLeaksNothing)
{
    // Two attributes: 289 (uint32) and 4 (a text of 3 bytes).
    std::vector<uint8_t> body = {0x00, 0x02, 0x01, 0x21, 0x00, 0x04, 0xDE, 0xAD, 0xBE, 0xEF,
                                 0x00, 0x04, 0x00, 0x06, 0x00, 0x01, 0x03, 'a', 'b', 'c'};
    const DmlpCursor cursor{body.data(), (int32_t)body.size()};
    int failures = 0;
    for (uint32_t nth = 1;; ++nth) {
        DmlpDecodeContext context{};
        VxSrvcTestFailAllocation(nth);
        const DmlpCoderError error = DecodeListReply(&context, &cursor);
        VxSrvcTestFailAllocation(0);
        if (error == DMLP_CODER_OK) {
            ListResult* result = (ListResult*)context.result;
            ASSERT_EQ(result->count, 2);
            EXPECT_EQ(result->entries[1].id, 4);
            EXPECT_EQ(memcmp(*(char**)((uint8_t*)result->entries[1].value + 8), "abc", 4), 0)
                << "the text behind +8 of the value record, terminated";
            DmlpFree(result->buffer.data);
            DmlpFree(result);
            break;
        }
        ++failures;
        EXPECT_EQ(error, DMLP_CODER_NO_MEMORY);
        EXPECT_EQ(context.status, 6);
        EXPECT_EQ(context.result, nullptr);
        EXPECT_EQ(VxSrvcTestLiveBlocks(), live_) << "failing allocation " << nth;
    }
    EXPECT_EQ(failures, 2) << "the record and the block";
}

} // namespace
