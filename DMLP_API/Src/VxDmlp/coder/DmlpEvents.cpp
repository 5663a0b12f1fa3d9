// Event bodies and the event table. A body layout is written as its wire fields; the record
// follows from them: each field at the next offset that is a multiple of its width, every
// variable part in a 16-byte slot at the next multiple of 8 (an address in 32 bytes) with its data
// behind the record, an s8 or t8 that is not the last variable part keeping a zero byte behind its
// data. Event 60 keeps a spare byte after its first field and is written out by hand.
#include <iterator>

#include "DmlpBodies.h"
#include "DmlpValueForms.h"

namespace {

enum EventFieldKind : uint8_t {
    EVENT_U8,
    EVENT_U16,
    EVENT_U32,
    EVENT_BLOCK,     // n bytes as they stand
    EVENT_S8,        // uint8 length, bytes
    EVENT_T8,        // uint16 character set, uint8 length, bytes
    EVENT_L16,       // uint16 length, bytes
    EVENT_C8_U32,    // uint8 count, uint32 values
    EVENT_C16_U32,   // uint16 count, uint32 values
    EVENT_C8_PAIRS,  // uint8 count, {uint8, uint32} pairs
    EVENT_ATTRS,     // uint16 count, attributes
    EVENT_ADDRESS,   // the address form
};

struct EventField {
    uint8_t kind;
    uint8_t n;   // repeats of a scalar, or the bytes of a block
};

constexpr EventField u8(uint8_t n = 1) { return {EVENT_U8, n}; }
constexpr EventField u16(uint8_t n = 1) { return {EVENT_U16, n}; }
constexpr EventField u32(uint8_t n = 1) { return {EVENT_U32, n}; }
constexpr EventField b(uint8_t n) { return {EVENT_BLOCK, n}; }
constexpr EventField s8{EVENT_S8, 1};
constexpr EventField t8{EVENT_T8, 1};
constexpr EventField l16{EVENT_L16, 1};
constexpr EventField c8u32{EVENT_C8_U32, 1};
constexpr EventField c16u32{EVENT_C16_U32, 1};
constexpr EventField c8pairs{EVENT_C8_PAIRS, 1};
constexpr EventField attrs{EVENT_ATTRS, 1};
constexpr EventField address{EVENT_ADDRESS, 1};

DMLP_FORM(kEventPair, 8, 0, DMLP_U8(0), DMLP_U32(4));

constexpr bool IsVariable(uint8_t kind) { return kind >= EVENT_S8; }

constexpr uint32_t AlignUp(uint32_t value, uint32_t alignment)
{
    return (value + alignment - 1) / alignment * alignment;
}

constexpr size_t EventOpCount(const EventField* fields, size_t count)
{
    size_t ops = 0;
    for (size_t i = 0; i < count; ++i) {
        switch (fields[i].kind) {
        case EVENT_U8:
        case EVENT_U16:
        case EVENT_U32: ops += fields[i].n; break;
        case EVENT_BLOCK:
        case EVENT_ATTRS:
        case EVENT_ADDRESS: ops += 1; break;
        case EVENT_T8: ops += 3; break;
        default: ops += 2; break;
        }
    }
    return ops;
}

template <size_t N>
struct EventBuilt {
    DmlpOp ops[N];
    uint16_t record;   // bytes of the body record
    uint16_t fixed;    // wire bytes outside the variable data (counts and lengths included)
};

struct EventBuilder {
    DmlpOp* ops;
    size_t op = 0;
    uint32_t offset = 0;
    uint32_t fixed = 0;

    constexpr void Add(uint8_t kind, uint32_t at, const DmlpForm* element = nullptr)
    {
        ops[op++] = DmlpOp{kind, 0, (uint16_t)at, element};
    }
    constexpr void Scalars(uint8_t kind, uint32_t width, uint32_t n)
    {
        for (uint32_t i = 0; i < n; ++i) {
            offset = AlignUp(offset, width);
            Add(kind, offset);
            offset += width;
            fixed += width;
        }
    }
    // A 16-byte slot: the count or length at slot + countAt, the data pointer at slot + 8.
    constexpr void Slot(uint8_t countKind, uint32_t countAt, uint8_t dataKind, const DmlpForm* element = nullptr)
    {
        offset = AlignUp(offset, 8);
        Add(countKind, offset + countAt);
        Add(dataKind, offset + 8, element);
        fixed += countKind == DMLP_OP_N8 ? 1 : 2;
        offset += 16;
    }
};

template <size_t N>
constexpr EventBuilt<N> BuildEvent(const EventField* fields, size_t count)
{
    EventBuilt<N> built{};
    EventBuilder builder{built.ops};
    size_t lastVariable = 0;
    for (size_t i = 0; i < count; ++i) {
        if (IsVariable(fields[i].kind))
            lastVariable = i;
    }
    for (size_t i = 0; i < count; ++i) {
        const uint8_t text = i == lastVariable ? DMLP_OP_BYTES : DMLP_OP_TEXT;
        switch (fields[i].kind) {
        case EVENT_U8: builder.Scalars(DMLP_OP_U8, 1, fields[i].n); break;
        case EVENT_U16: builder.Scalars(DMLP_OP_U16, 2, fields[i].n); break;
        case EVENT_U32: builder.Scalars(DMLP_OP_U32, 4, fields[i].n); break;
        case EVENT_BLOCK:
            builder.ops[builder.op++] = DmlpOp{DMLP_OP_BLOCK, fields[i].n, (uint16_t)builder.offset, nullptr};
            builder.offset += fields[i].n;
            builder.fixed += fields[i].n;
            break;
        case EVENT_S8: builder.Slot(DMLP_OP_N8, 0, text); break;
        case EVENT_T8:
            builder.Add(DMLP_OP_U16, AlignUp(builder.offset, 8));
            builder.fixed += 2;
            builder.Slot(DMLP_OP_N8, 2, text);
            break;
        case EVENT_L16: builder.Slot(DMLP_OP_N16, 0, DMLP_OP_BYTES); break;
        case EVENT_C8_U32: builder.Slot(DMLP_OP_N8, 0, DMLP_OP_ARRAY, &DmlpElementU32); break;
        case EVENT_C16_U32: builder.Slot(DMLP_OP_N16, 0, DMLP_OP_ARRAY, &DmlpElementU32); break;
        case EVENT_C8_PAIRS: builder.Slot(DMLP_OP_N8, 0, DMLP_OP_ARRAY, &kEventPair); break;
        case EVENT_ATTRS:
            builder.offset = AlignUp(builder.offset, 8);
            builder.Add(DMLP_OP_ATTRS, builder.offset);
            builder.offset += sizeof(DmlpAttributeList);
            break;
        case EVENT_ADDRESS:
            builder.offset = AlignUp(builder.offset, 8);
            builder.Add(DMLP_OP_ADDRESS, builder.offset);
            builder.offset += sizeof(DmlpAddress);
            builder.fixed += 3;
            break;
        default: break;
        }
    }
    built.record = (uint16_t)AlignUp(builder.offset, 8);
    built.fixed = (uint16_t)builder.fixed;
    return built;
}

// A body layout: the wire bytes it needs at least, and its record as a value form.
struct EventLayout {
    uint16_t fixed;
    DmlpForm form;
};

// EVENT_LAYOUT(name, record bytes, fixed wire bytes, fields...): the two figures are checked
// against what the fields give.
#define EVENT_LAYOUT(name, recordBytes, fixedBytes, ...)                                                   \
    constexpr EventField name##Fields[] = {__VA_ARGS__};                                                    \
    constexpr auto name##Built =                                                                             \
        BuildEvent<EventOpCount(name##Fields, std::size(name##Fields))>(name##Fields, std::size(name##Fields)); \
    static_assert(name##Built.record == (recordBytes) && name##Built.fixed == (fixedBytes), #name);         \
    const EventLayout name = {fixedBytes,                                                                    \
                              {recordBytes, 0, (uint8_t)std::size(name##Built.ops), name##Built.ops, nullptr}}

EVENT_LAYOUT(kEvent2, 24, 6, u32(), u8(), s8);
EVENT_LAYOUT(kEvent4, 24, 2, u8(), s8);
EVENT_LAYOUT(kEvent5, 40, 16, u8(4), u16(), u32(2), u8(), s8);
EVENT_LAYOUT(kEvent11, 32, 10, u32(), u8(), u32(), s8);
EVENT_LAYOUT(kEvent14, 48, 25, u16(), u32(3), u16(5), s8);
EVENT_LAYOUT(kEvent15, 24, 8, u16(), u8(3), u16(), s8);
EVENT_LAYOUT(kEvent16, 40, 23, u32(3), u16(5), s8);
EVENT_LAYOUT(kEvent17, 48, 31, u16(), u32(3), u16(8), s8);
EVENT_LAYOUT(kEvent18, 64, 41, u16(), u32(8), u16(3), s8);
EVENT_LAYOUT(kEvent19, 24, 5, u32(), s8);
EVENT_LAYOUT(kEvent24, 32, 8, u16(), u32(), u8(), s8);
EVENT_LAYOUT(kEvent26, 24, 6, u8(), u32(), s8);
EVENT_LAYOUT(kEvent40, 40, 22, u16(), u32(4), u16(), u8(), s8);
EVENT_LAYOUT(kEvent45, 32, 9, u16(), u32(), u8(2), s8);
EVENT_LAYOUT(kEvent48, 104, 87, u16(2), b(32), b(32), u32(4), u8(), l16);
EVENT_LAYOUT(kEvent53, 104, 53, u16(), u32(4), u8(6), u16(), t8, t8, u32(4), u16(2), s8);
EVENT_LAYOUT(kEvent54, 104, 53, u16(), u32(2), u8(4), u16(), t8, t8, u32(5), u16(5), s8);
EVENT_LAYOUT(kEvent55, 304, 285, u16(), b(32), u16(), b(24), u32(2), u8(4), u32(4), b(48), b(20), u16(), b(40), b(16),
             u16(), b(40), u16(14), s8);
EVENT_LAYOUT(kEvent56, 64, 26, u16(), u32(), u8(2), u32(4), c8pairs, s8);
EVENT_LAYOUT(kEvent57, 96, 37, u16(), u32(), u16(), u32(), u8(2), u32(4), c8pairs, u32(), s8, s8);
EVENT_LAYOUT(kEvent58, 32, 12, u16(), u32(), u8(), u32(), s8);
EVENT_LAYOUT(kEvent63, 56, 29, u16(), u32(), u16(), u32(), u8(4), u16(), u32(2), u8(2), s8);
EVENT_LAYOUT(kEvent64, 40, 20, u16(), u32(), u8(), u16(2), u8(2), u16(), u8(2), u16(), s8);
EVENT_LAYOUT(kEvent65, 32, 12, u16(), u32(), u8(), u16(2), s8);
EVENT_LAYOUT(kEvent66, 48, 23, u16(), u32(), u8(4), u16(), u32(2), u8(2), s8);
EVENT_LAYOUT(kEvent68, 32, 12, u16(), u32(), u8(5), s8);
EVENT_LAYOUT(kEvent70, 24, 3, u8(2), s8);
EVENT_LAYOUT(kEvent73, 64, 22, u16(), u32(), u8(), u32(), u8(), u32(2), c8u32, s8);
EVENT_LAYOUT(kEvent74, 40, 22, u8(2), u32(), u8(2), u16(), u32(2), u8(3), s8);
EVENT_LAYOUT(kEvent82, 24, 9, u32(2), s8);
EVENT_LAYOUT(kEvent85, 40, 19, u16(), u32(3), u16(2), s8);
EVENT_LAYOUT(kEvent86, 56, 18, u32(), c16u32, u8(3), u32(2), s8);
EVENT_LAYOUT(kEvent87, 32, 12, u32(2), u8(), u16(), s8);
EVENT_LAYOUT(kEvent88, 48, 30, u16(), u32(6), u16(), u8(), s8);
EVENT_LAYOUT(kEvent89, 40, 17, u16(), u32(3), u16(), s8);
EVENT_LAYOUT(kEvent90, 32, 13, u32(3), s8);
EVENT_LAYOUT(kEvent91, 24, 7, u32(), u8(2), s8);
EVENT_LAYOUT(kEvent94, 24, 8, u32(2), attrs);
EVENT_LAYOUT(kEvent106, 64, 38, u16(), u32(2), u8(), u32(2), u8(), u16(), u8(2), u32(), u8(2), u16(), u8(), u32(), s8);
EVENT_LAYOUT(kEvent113, 64, 34, u16(), u32(2), u8(), u32(2), u8(), u32(2), u8(), u32(), s8);
EVENT_LAYOUT(kEvent120, 56, 10, u32(), u16(), address, s8);
EVENT_LAYOUT(kEvent122, 32, 14, u32(), u8(), u16(2), u32(), s8);
EVENT_LAYOUT(kEvent125, 40, 17, u16(), u32(), u8(), u32(2), u8(), s8);
EVENT_LAYOUT(kEvent129, 64, 37, u16(), u32(2), u8(), u32(2), u8(2), u32(2), u8(), u16(), u32(), s8);
EVENT_LAYOUT(kEvent152, 56, 14, u16(), u32(), u8(2), c8u32, u32(), u8(), attrs);
EVENT_LAYOUT(kEvent154, 128, 83, u16(), u32(), u16(), u32(), u8(2), c8u32, u32(2), u16(2), b(8), b(48), attrs);
EVENT_LAYOUT(kEvent158, 48, 29, u16(), u32(5), u16(3), s8);
EVENT_LAYOUT(kEvent222, 40, 23, u32(), u8(), b(3), u32(2), u16(), u32(), s8);
EVENT_LAYOUT(kEvent225, 32, 16, u32(4), attrs);

// Event 60: uint8 x 3, uint16, uint32 x 2, uint8 x 2, s8, with the byte after the first uint8 kept 0.
const DmlpOp kEvent60Ops[] = {DMLP_U8(0),  DMLP_U8(2),  DMLP_U8(3),  DMLP_U16(4), DMLP_U32(8),
                              DMLP_U32(12), DMLP_U8(16), DMLP_U8(17), DMLP_N8(24), DMLP_BYTES(32)};
const EventLayout kEvent60 = {16, {40, 0, DMLP_OPS_COUNT(kEvent60Ops), kEvent60Ops, nullptr}};

// The record offsets that the service reads.
static_assert(kEvent154Built.ops[1].offset == offsetof(JobState3, Job) &&
                  kEvent154Built.ops[4].offset == offsetof(JobState3, State) &&
                  kEvent154Built.ops[5].offset == offsetof(JobState3, Reason) &&
                  kEvent154Built.ops[6].offset == offsetof(JobState3, values) &&
                  kEvent154Built.ops[8].offset == offsetof(JobState3, HintPriorityCode) &&
                  kEvent154Built.ops[9].offset == offsetof(JobState3, clJobId) &&
                  kEvent154Built.ops[14].offset == offsetof(JobState3, attributes),
              "JobState3 offsets");
static_assert(kEvent18Built.ops[1].offset == offsetof(DmlpImpressionEvent, Job) &&
                  kEvent18Built.ops[6].offset == offsetof(DmlpImpressionEvent, ImprCompCnt) &&
                  kEvent18Built.ops[12].offset == offsetof(DmlpImpressionEvent, text),
              "event 18 offsets");

// The body must hold the layout's fixed bytes before it is walked.
template <const EventLayout& layout>
DmlpCoderError EventSize(DmlpCursor* body, uint8_t, uint16_t* memSize, uint8_t version)
{
    if (body->count < layout.fixed) {
        DmlpCoderTrace(9, DMLP_TRACE_EVENT, __LINE__);
        return DMLP_CODER_TRUNCATED;
    }
    return DmlpValueDecSize(&layout.form, body, 0, memSize, version);
}

template <const EventLayout& layout>
uint8_t* EventDecode(void* destination, DmlpCursor* body, uint8_t, uint8_t version)
{
    return DmlpValueDecode(&layout.form, destination, body, 0, version);
}

#define EVENT_ROW(id, layout) {id, 0, EventSize<layout>, EventDecode<layout>}

} // namespace

const DmlpEventRow DmlpEventTable[] = {
    EVENT_ROW(2, kEvent2),     EVENT_ROW(3, kEvent2),     EVENT_ROW(4, kEvent4),     EVENT_ROW(5, kEvent5),
    EVENT_ROW(11, kEvent11),   EVENT_ROW(14, kEvent14),   EVENT_ROW(15, kEvent15),   EVENT_ROW(16, kEvent16),
    EVENT_ROW(17, kEvent17),   EVENT_ROW(18, kEvent18),   EVENT_ROW(19, kEvent19),   EVENT_ROW(20, kEvent19),
    EVENT_ROW(24, kEvent24),   EVENT_ROW(26, kEvent26),   EVENT_ROW(40, kEvent40),   EVENT_ROW(45, kEvent45),
    EVENT_ROW(48, kEvent48),   EVENT_ROW(53, kEvent53),   EVENT_ROW(54, kEvent54),   EVENT_ROW(55, kEvent55),
    EVENT_ROW(56, kEvent56),   EVENT_ROW(57, kEvent57),   EVENT_ROW(58, kEvent58),   EVENT_ROW(60, kEvent60),
    EVENT_ROW(63, kEvent63),   EVENT_ROW(64, kEvent64),   EVENT_ROW(65, kEvent65),   EVENT_ROW(66, kEvent66),
    EVENT_ROW(67, kEvent24),   EVENT_ROW(68, kEvent68),   EVENT_ROW(69, kEvent14),   EVENT_ROW(70, kEvent70),
    EVENT_ROW(71, kEvent70),   EVENT_ROW(72, kEvent2),    EVENT_ROW(73, kEvent73),   EVENT_ROW(74, kEvent74),
    EVENT_ROW(82, kEvent82),   EVENT_ROW(83, kEvent56),   EVENT_ROW(84, kEvent57),   EVENT_ROW(85, kEvent85),
    EVENT_ROW(86, kEvent86),   EVENT_ROW(87, kEvent87),   EVENT_ROW(88, kEvent88),   EVENT_ROW(89, kEvent89),
    EVENT_ROW(90, kEvent90),   EVENT_ROW(91, kEvent91),   EVENT_ROW(94, kEvent94),   EVENT_ROW(106, kEvent106),
    EVENT_ROW(113, kEvent113), EVENT_ROW(120, kEvent120), EVENT_ROW(122, kEvent122), EVENT_ROW(125, kEvent125),
    EVENT_ROW(129, kEvent129), EVENT_ROW(130, kEvent19),  EVENT_ROW(152, kEvent152), EVENT_ROW(153, kEvent152),
    EVENT_ROW(154, kEvent154), EVENT_ROW(155, kEvent154), EVENT_ROW(158, kEvent158), EVENT_ROW(217, kEvent82),
    EVENT_ROW(218, kEvent2),   EVENT_ROW(219, kEvent24),  EVENT_ROW(222, kEvent222), EVENT_ROW(223, kEvent82),
    EVENT_ROW(225, kEvent225), {0, 0, nullptr, nullptr},
};
