// Event notifications: the 65 event ids against a transcription of the event table (a body is
// generated from each layout and its record checked field by field at the offsets that the record
// rule gives, worked out here on their own), the records the service reads (JobState3, event 18),
// and the refusals of a notification.
#include <set>
#include <sstream>

#include "BodyTesting.h"

namespace {

class Events : public CoderTest {};

// ---- The event table, transcribed ----

struct EventLayout {
    std::vector<uint16_t> ids;
    const char* fields;   // u8 u16 u32 bN s8 t8 l16 c8u32 c16u32 c8pairs attrs address; xN repeats
    uint16_t record;
    uint16_t fixed;
};

const EventLayout kEventLayouts[] = {
    {{2, 3, 72, 218}, "u32 u8 s8", 24, 6},
    {{4}, "u8 s8", 24, 2},
    {{5}, "u8x4 u16 u32x2 u8 s8", 40, 16},
    {{11}, "u32 u8 u32 s8", 32, 10},
    {{14, 69}, "u16 u32x3 u16x5 s8", 48, 25},
    {{15}, "u16 u8x3 u16 s8", 24, 8},
    {{16}, "u32x3 u16x5 s8", 40, 23},
    {{17}, "u16 u32x3 u16x8 s8", 48, 31},
    {{18}, "u16 u32x8 u16x3 s8", 64, 41},
    {{19, 20, 130}, "u32 s8", 24, 5},
    {{24, 67, 219}, "u16 u32 u8 s8", 32, 8},
    {{26}, "u8 u32 s8", 24, 6},
    {{40}, "u16 u32x4 u16 u8 s8", 40, 22},
    {{45}, "u16 u32 u8x2 s8", 32, 9},
    {{48}, "u16x2 b32 b32 u32x4 u8 l16", 104, 87},
    {{53}, "u16 u32x4 u8x6 u16 t8 t8 u32x4 u16x2 s8", 104, 53},
    {{54}, "u16 u32x2 u8x4 u16 t8 t8 u32x5 u16x5 s8", 104, 53},
    {{55}, "u16 b32 u16 b24 u32x2 u8x4 u32x4 b48 b20 u16 b40 b16 u16 b40 u16x14 s8", 304, 285},
    {{56, 83}, "u16 u32 u8x2 u32x4 c8pairs s8", 64, 26},
    {{57, 84}, "u16 u32 u16 u32 u8x2 u32x4 c8pairs u32 s8 s8", 96, 37},
    {{58}, "u16 u32 u8 u32 s8", 32, 12},
    {{63}, "u16 u32 u16 u32 u8x4 u16 u32x2 u8x2 s8", 56, 29},
    {{64}, "u16 u32 u8 u16x2 u8x2 u16 u8x2 u16 s8", 40, 20},
    {{65}, "u16 u32 u8 u16x2 s8", 32, 12},
    {{66}, "u16 u32 u8x4 u16 u32x2 u8x2 s8", 48, 23},
    {{68}, "u16 u32 u8x5 s8", 32, 12},
    {{70, 71}, "u8x2 s8", 24, 3},
    {{73}, "u16 u32 u8 u32 u8 u32x2 c8u32 s8", 64, 22},
    {{74}, "u8x2 u32 u8x2 u16 u32x2 u8x3 s8", 40, 22},
    {{82, 217, 223}, "u32x2 s8", 24, 9},
    {{85}, "u16 u32x3 u16x2 s8", 40, 19},
    {{86}, "u32 c16u32 u8x3 u32x2 s8", 56, 18},
    {{87}, "u32x2 u8 u16 s8", 32, 12},
    {{88}, "u16 u32x6 u16 u8 s8", 48, 30},
    {{89}, "u16 u32x3 u16 s8", 40, 17},
    {{90}, "u32x3 s8", 32, 13},
    {{91}, "u32 u8x2 s8", 24, 7},
    {{94}, "u32x2 attrs", 24, 8},
    {{106}, "u16 u32x2 u8 u32x2 u8 u16 u8x2 u32 u8x2 u16 u8 u32 s8", 64, 38},
    {{113}, "u16 u32x2 u8 u32x2 u8 u32x2 u8 u32 s8", 64, 34},
    {{120}, "u32 u16 address s8", 56, 10},
    {{122}, "u32 u8 u16x2 u32 s8", 32, 14},
    {{125}, "u16 u32 u8 u32x2 u8 s8", 40, 17},
    {{129}, "u16 u32x2 u8 u32x2 u8x2 u32x2 u8 u16 u32 s8", 64, 37},
    {{152, 153}, "u16 u32 u8x2 c8u32 u32 u8 attrs", 56, 14},
    {{154, 155}, "u16 u32 u16 u32 u8x2 c8u32 u32x2 u16x2 b8 b48 attrs", 128, 83},
    {{158}, "u16 u32x5 u16x3 s8", 48, 29},
    {{222}, "u32 u8 b3 u32x2 u16 u32 s8", 40, 23},
    {{225}, "u32x4 attrs", 32, 16},
};

// Event 60 keeps a zero byte after its first field: offsets written out.
const char* const kEvent60 = "u8@0 u8@2 u8@3 u16@4 u32@8 u32@12 u8@16 u8@17 s8@24";

std::vector<std::string> Expand(const char* fields)
{
    std::vector<std::string> out;
    std::istringstream in(fields);
    std::string field;
    while (in >> field) {
        const size_t x = field.find('x');
        const int repeat = x == std::string::npos ? 1 : std::stoi(field.substr(x + 1));
        for (int i = 0; i < repeat; ++i)
            out.push_back(field.substr(0, x));
    }
    return out;
}

bool IsVariable(const std::string& field)
{
    return field == "s8" || field == "t8" || field == "l16" || field == "c8u32" || field == "c16u32" ||
           field == "c8pairs" || field == "attrs";
}

size_t AlignUp(size_t value, size_t alignment) { return (value + alignment - 1) / alignment * alignment; }

// One field of a generated body: where it lies in the record and what it must hold.
struct Expected {
    std::string field;
    size_t offset;
    uint32_t value;        // scalars; counts and lengths of variable parts
    Bytes data;            // blocks and the data of strings
    bool terminated;       // a string followed by a zero byte
};

// Generates a body for the fields and the record the rule gives for it (offsets from at when
// given, else from the rule). memory: the record and its data, as laid out.
Bytes Generate(const std::vector<std::string>& fields, const std::vector<size_t>* at, std::vector<Expected>* expected,
               size_t* memory)
{
    Wire wire;
    size_t offset = 0;
    size_t lastVariable = 0;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (IsVariable(fields[i]))
            lastVariable = i;
    }
    uint32_t next = 0x10;
    size_t data = 0;
    for (size_t i = 0; i < fields.size(); ++i) {
        const std::string& field = fields[i];
        Expected e = {field, 0, 0, {}, false};
        size_t width = 16;
        size_t alignment = 8;
        if (field == "u8" || field == "u16" || field == "u32")
            width = alignment = field == "u8" ? 1 : field == "u16" ? 2 : 4;
        else if (field[0] == 'b')
            width = std::stoul(field.substr(1)), alignment = 1;
        else if (field == "address")
            width = 32;
        offset = AlignUp(offset, alignment);
        e.offset = at != nullptr ? (*at)[i] : offset;
        offset += width;
        next += 0x11;
        if (field == "u8")
            wire.u8(e.value = next & 0xFF);
        else if (field == "u16")
            wire.u16(e.value = next & 0xFFFF);
        else if (field == "u32")
            wire.u32(e.value = 0x01000000 + next);
        else if (field[0] == 'b') {
            e.data.assign(width, (uint8_t)next);
            wire.raw(e.data);
        } else if (field == "s8" || field == "t8" || field == "l16") {
            e.value = 3;
            e.data = {'a', 'b', (uint8_t)next};
            e.terminated = field != "l16" && i != lastVariable;
            if (field == "t8")
                wire.u16(0x0011);
            field == "l16" ? wire.u16(3) : wire.u8(3);
            wire.raw(e.data);
            data += AlignUp(3 + (e.terminated ? 1 : 0), 8);
        } else if (field == "c8u32" || field == "c16u32") {
            e.value = 2;
            field == "c8u32" ? wire.u8(2) : wire.u16(2);
            wire.u32(0xA0000000 + next).u32(0xB0000000 + next);
            data += 8;
        } else if (field == "c8pairs") {
            e.value = 2;
            wire.u8(2).u8(1).u32(0xC0000000 + next).u8(2).u32(0xD0000000 + next);
            data += 16;
        } else if (field == "attrs") {
            e.value = 2;
            wire.u16(2).u16(277).u16(4).u32(0xE0000000 + next).u16(9999).u16(2).u8(1).u8(2);
            data += 2 * 16 + 8 + 8;
        } else if (field == "address") {
            wire.u16(1).u8(6).u8(127).u8(0).u8(0).u8((uint8_t)next).u16(8000 + next);
            e.value = next;
        }
        expected->push_back(e);
    }
    *memory = AlignUp(offset, 8) + data;
    return wire;
}

void CheckRecord(const uint8_t* record, const std::vector<Expected>& expected)
{
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.field + "@" + std::to_string(e.offset));
        const uint8_t* at = record + e.offset;
        if (e.field == "u8")
            EXPECT_EQ(*at, e.value);
        else if (e.field == "u16")
            EXPECT_EQ(Load<uint16_t>(at, 0), e.value);
        else if (e.field == "u32")
            EXPECT_EQ(Load<uint32_t>(at, 0), e.value);
        else if (e.field[0] == 'b')
            EXPECT_EQ(Bytes(at, at + e.data.size()), e.data);
        else if (e.field == "s8" || e.field == "t8" || e.field == "l16") {
            const size_t lengthAt = e.field == "t8" ? 2 : 0;
            EXPECT_EQ(e.field == "l16" ? Load<uint16_t>(at, 0) : at[lengthAt], 3);
            if (e.field == "t8") {
                EXPECT_EQ(Load<uint16_t>(at, 0), 0x0011);
            }
            const uint8_t* bytes = Pointer(at, 8);
            ASSERT_NE(bytes, nullptr);
            EXPECT_EQ(Bytes(bytes, bytes + 3), e.data);
            if (e.terminated) {
                EXPECT_EQ(bytes[3], 0);
            }
        } else if (e.field == "c8u32" || e.field == "c16u32") {
            EXPECT_EQ(e.field == "c8u32" ? at[0] : Load<uint16_t>(at, 0), 2);
            const uint32_t* values = (const uint32_t*)Pointer(at, 8);
            EXPECT_EQ(values[0] & 0xF0000000, 0xA0000000u);
            EXPECT_EQ(values[1] & 0xF0000000, 0xB0000000u);
        } else if (e.field == "c8pairs") {
            EXPECT_EQ(at[0], 2);
            const uint8_t* pairs = Pointer(at, 8);
            EXPECT_EQ(pairs[0], 1);
            EXPECT_EQ(Load<uint32_t>(pairs, 4) & 0xF0000000, 0xC0000000u);
            EXPECT_EQ(pairs[8], 2);
            EXPECT_EQ(Load<uint32_t>(pairs, 12) & 0xF0000000, 0xD0000000u);
        } else if (e.field == "attrs") {
            const auto* list = (const DmlpAttributeList*)at;
            ASSERT_EQ(list->count, 2);
            EXPECT_EQ(list->entries[0].id, 277);
            EXPECT_EQ(list->entries[0].length, 0);
            EXPECT_EQ(Load<uint32_t>(list->entries[0].value, 0) & 0xF0000000, 0xE0000000u);
            EXPECT_EQ(list->entries[1].id, 9999);
            EXPECT_EQ(list->entries[1].length, 2);
        } else if (e.field == "address") {
            const auto* address = (const DmlpAddress*)at;
            EXPECT_EQ(address->kind, DMLP_ADDRESS_TCP);
            EXPECT_EQ(address->u.inet.address[3], (uint8_t)e.value);
            EXPECT_EQ(address->u.inet.port, 8000 + e.value);
        }
    }
}

Bytes Notification(uint32_t reference, std::initializer_list<std::pair<uint16_t, Bytes>> events, uint8_t carried = 0)
{
    Wire wire;
    wire.u32(reference).u8((uint32_t)events.size());
    for (const auto& [id, body] : events)
        wire.u16(id).u8(carried).raw(body);
    return wire;
}

std::vector<size_t> Event60Offsets(std::vector<std::string>* fields)
{
    std::vector<size_t> offsets;
    std::istringstream in(kEvent60);
    std::string field;
    while (in >> field) {
        const size_t at = field.find('@');
        fields->push_back(field.substr(0, at));
        offsets.push_back(std::stoul(field.substr(at + 1)));
    }
    return offsets;
}

TEST_F(Events, TheTableHoldsSixtyFiveIdsInFiftyLayouts)
{
    std::set<uint16_t> transcribed = {60};
    for (const EventLayout& layout : kEventLayouts)
        transcribed.insert(layout.ids.begin(), layout.ids.end());
    std::set<uint16_t> table;
    std::set<DmlpEventSizeFn> layouts;
    for (const DmlpEventRow* row = DmlpEventTable; row->event != 0; ++row) {
        table.insert(row->event);
        layouts.insert(row->size);
        EXPECT_NE(row->decode, nullptr);
    }
    EXPECT_EQ(table, transcribed);
    EXPECT_EQ(table.size(), 65u);
    EXPECT_EQ(layouts.size(), 50u);
}

TEST_F(Events, EveryLayoutPutsEachFieldWhereTheRecordRuleSays)
{
    std::vector<std::pair<uint16_t, std::pair<std::vector<std::string>, std::vector<size_t>>>> cases;
    for (const EventLayout& layout : kEventLayouts) {
        for (uint16_t id : layout.ids)
            cases.push_back({id, {Expand(layout.fields), {}}});
    }
    std::vector<std::string> fields60;
    const std::vector<size_t> offsets60 = Event60Offsets(&fields60);
    cases.push_back({60, {fields60, offsets60}});

    for (const auto& [id, layout] : cases) {
        SCOPED_TRACE("event " + std::to_string(id));
        std::vector<Expected> expected;
        size_t memory;
        const Bytes body =
            Generate(layout.first, layout.second.empty() ? nullptr : &layout.second, &expected, &memory);
        Reply reply(Frame(10, Notification(0x1234, {{id, body}}, 0x5A), 0, 0));
        ASSERT_EQ(reply.error(), DMLP_CODER_OK);
        const auto& record = reply.as<DmlpEventRecord>();
        ASSERT_EQ(record.count, 1);
        EXPECT_EQ(record.entries[0].id, id);
        EXPECT_EQ(record.entries[0].carried, 0x5A);
        EXPECT_EQ((const uint8_t*)record.entries[0].body, (const uint8_t*)record.buffer.data + 16);
        EXPECT_EQ(record.buffer.size, 16 + memory);
        CheckRecord((const uint8_t*)record.entries[0].body, expected);
    }
}

TEST_F(Events, EveryLayoutNeedsItsFixedBytesAndEveryByteOfItsBody)
{
    for (const EventLayout& layout : kEventLayouts) {
        SCOPED_TRACE(layout.fields);
        std::vector<Expected> expected;
        size_t memory;
        const Bytes body = Generate(Expand(layout.fields), nullptr, &expected, &memory);
        // Each event id is looked up with the same layout.
        for (uint16_t id : layout.ids) {
            const DmlpEventRow* row = DmlpFindEvent(id, DMLP_HEADER_VERSION);
            ASSERT_NE(row, nullptr);
            DmlpCursor fixedOnly = {(uint8_t*)body.data(), (int32_t)layout.fixed - 1};
            uint16_t size;
            EXPECT_EQ(row->size(&fixedOnly, 0, &size, DMLP_HEADER_VERSION), DMLP_CODER_TRUNCATED);
            EXPECT_EQ(fixedOnly.ptr, body.data()) << "the cursor stays";
            DmlpCursor whole = {(uint8_t*)body.data(), (int32_t)body.size()};
            ASSERT_EQ(row->size(&whole, 0, &size, DMLP_HEADER_VERSION), DMLP_CODER_OK);
            EXPECT_EQ(whole.count, 0) << "the size pass moves past the body";
            EXPECT_EQ(size, memory);
            EXPECT_GE(size, layout.record);
        }
        for (size_t length = 0; length < body.size(); ++length) {
            Reply reply(Frame(10, Notification(1, {{layout.ids[0], Bytes(body.begin(), body.begin() + length)}}), 0, 0),
                        true);
            EXPECT_NE(reply.error(), DMLP_CODER_OK) << length;
        }
    }
    EXPECT_EQ(liveBlocks(), 0);
}

// ---- The records the service reads ----

Bytes JobState3Body(uint32_t job, uint8_t state, uint8_t reason, std::initializer_list<uint32_t> codes,
                    const Bytes& attributes = Wire().u16(0))
{
    Wire wire;
    wire.u16(0x0101).u32(job).u16(0x0202).u32(0x03030303).u8(state).u8(reason).u8((uint32_t)codes.size());
    for (uint32_t code : codes)
        wire.u32(code);
    wire.u32(0x44)
        .u32(0x11223344).u16(0x5566).u16(0x7788).text("ABCDEFGH").text("JOB00042").fill(40, 0)
        .raw(attributes);
    return wire;
}

Bytes Event18Body(uint32_t job, uint32_t impressions)
{
    return Wire().u16(1).u32(job).u32(2).u32(3).u32(4).u32(5).u32(impressions).u32(7).u32(8).u16(9).u16(10).u16(11)
        .s8("ok");
}

TEST_F(Events, ANotificationOfJobStateImpressionsAndAnotherEvent)
{
    const Bytes frame = Frame(10, Notification(0x00000003, {{154, JobState3Body(0x1001, 3, 2, {0x50, 0x60},
                                                                               Wire().u16(1).u16(277).u16(4).u32(5))},
                                                            {18, Event18Body(0x1001, 123)},
                                                            {19, Wire().u32(9).s8("")}},
                                              0x77),
                              1);
    for (bool allocate : {false, true}) {
        Reply reply(frame, allocate);
        ASSERT_EQ(reply.error(), DMLP_CODER_OK);
        EXPECT_EQ(reply.status(), 1);
        const auto& record = reply.as<DmlpEventRecord>();
        EXPECT_EQ(record.reference, 3u);
        ASSERT_EQ(record.count, 3);
        const uint8_t* block = (const uint8_t*)record.buffer.data;
        EXPECT_EQ((const uint8_t*)record.entries, block);
        EXPECT_EQ(record.entries[2].carried, 0x77);

        // As the service's callback reads them.
        const JobState3* state = nullptr;
        const DmlpImpressionEvent* impressions = nullptr;
        for (uint8_t i = 0; i < record.count; ++i) {
            if (record.entries[i].id == 154)
                state = (const JobState3*)record.entries[i].body;
            if (record.entries[i].id == 18)
                impressions = (const DmlpImpressionEvent*)record.entries[i].body;
        }
        ASSERT_NE(state, nullptr);
        ASSERT_NE(impressions, nullptr);

        // The same fields at the offsets the service's callback reads: the count at +4 of the
        // record and the entries through +8 (id at +0, body through +8 of each).
        EXPECT_EQ(reply.bytes()[4], 3);
        const uint8_t* entries = Pointer(reply.bytes(), 8);
        EXPECT_EQ(Load<uint16_t>(entries, 0), 154);
        const uint8_t* raw154 = Pointer(entries, 8);
        EXPECT_EQ(Load<uint32_t>(raw154, 4), 0x1001u) << "Job";
        EXPECT_EQ(raw154[16], 3) << "State";
        EXPECT_EQ(raw154[17], 2) << "Reason";
        EXPECT_EQ(Load<uint32_t>(raw154, 40), 0x44u) << "HintPriorityCode";
        EXPECT_EQ(Load<uint32_t>(raw154, 44), 0x11223344u) << "ClJobID Data1";
        EXPECT_EQ(Load<uint16_t>(raw154, 48), 0x5566);
        EXPECT_EQ(Load<uint16_t>(raw154, 50), 0x7788);
        EXPECT_EQ(std::string((const char*)raw154 + 52, 8), "ABCDEFGH");
        EXPECT_EQ(std::string((const char*)raw154 + 60, 8), "JOB00042");
        EXPECT_EQ(Load<uint16_t>(entries, 16), 18);
        const uint8_t* raw18 = Pointer(entries, 16 + 8);
        EXPECT_EQ(Load<uint32_t>(raw18, 4), 0x1001u) << "the job object handle";
        EXPECT_EQ(Load<uint32_t>(raw18, 24), 123u) << "ImprCompCnt";
        EXPECT_EQ((const uint8_t*)state, block + 3 * 16);
        EXPECT_EQ(state->Job, 0x1001u);
        EXPECT_EQ(state->State, 3);
        EXPECT_EQ(state->Reason, 2);
        EXPECT_EQ(state->HintPriorityCode, 0x44u);
        ASSERT_EQ(state->values.count, 2);
        EXPECT_EQ(state->values.values[1], 0x60u);
        EXPECT_EQ(state->clJobId.Data1, 0x11223344u);
        EXPECT_EQ(state->clJobId.Data2, 0x5566);
        EXPECT_EQ(state->clJobId.Data3, 0x7788);
        EXPECT_EQ(std::string((const char*)state->clJobId.Data4, 8), "ABCDEFGH");
        EXPECT_EQ(std::string((const char*)state->clJobId.JobText, 8), "JOB00042");
        ASSERT_EQ(state->attributes.count, 1);
        EXPECT_EQ(Load<uint32_t>(state->attributes.entries[0].value, 0), 5u);
        // JobState3: 128 + 8 (codes) + 16 + 8 (one attribute); event 18: 64 + 8; event 19: 24.
        EXPECT_EQ((const uint8_t*)impressions, (const uint8_t*)state + 128 + 8 + 16 + 8);
        EXPECT_EQ(impressions->Job, 0x1001u);
        EXPECT_EQ(impressions->ImprCompCnt, 123u);
        EXPECT_EQ(impressions->value12, 11);
        EXPECT_EQ(std::string((const char*)impressions->text.bytes, 2), "ok");
        EXPECT_EQ(record.entries[2].body, (uint8_t*)impressions + 64 + 8);
        EXPECT_EQ(record.buffer.size, 3 * 16 + 160 + 72 + 24);
    }
}

TEST_F(Events, TheStatusSlotDecidesOnlyWithTheStatusFlag)
{
    const Bytes body = Notification(9, {{19, Wire().u32(1).s8("")}});
    // Without the status flag the slot is the auxiliary byte: 4 there never skips the events.
    Reply aux(Frame(10, body, 0x0004, DMLP_FLAG_AUX));
    ASSERT_EQ(aux.error(), DMLP_CODER_OK);
    EXPECT_EQ(aux.status(), 0);
    EXPECT_EQ(aux.as<DmlpEventRecord>().count, 1);

    Reply partial(Frame(10, body, 4), true);
    ASSERT_EQ(partial.error(), DMLP_CODER_OK);
    EXPECT_EQ(partial.status(), 4);
    EXPECT_EQ(partial.context().result, nullptr) << "a notification answered with status 4 carries nothing";

    Reply more(Frame(10, body, 29));
    ASSERT_EQ(more.error(), DMLP_CODER_OK);
    EXPECT_EQ(more.status(), 29);
    EXPECT_EQ(more.as<DmlpEventRecord>().reference, 9u);

    Reply other(Frame(10, body, 0x8006));
    ASSERT_EQ(other.error(), DMLP_CODER_OK);
    EXPECT_EQ(other.status(), 0);
    EXPECT_EQ(other.as<DmlpEventRecord>().count, 1);
}

TEST_F(Events, JobState3EdgesOfItsFixedPart)
{
    const Bytes minimal = JobState3Body(7, 1, 0, {});
    ASSERT_EQ(minimal.size(), 85u);
    Reply reply(Frame(10, Notification(1, {{155, minimal}}), 0, 0));
    ASSERT_EQ(reply.error(), DMLP_CODER_OK);
    const auto* state = (const JobState3*)reply.as<DmlpEventRecord>().entries[0].body;
    EXPECT_EQ(state->values.values, nullptr);
    EXPECT_EQ(state->attributes.entries, nullptr);
    EXPECT_EQ(reply.as<DmlpEventRecord>().buffer.size, 16 + 128);

    Reply cut(Frame(10, Notification(1, {{154, Bytes(minimal.begin(), minimal.begin() + 82)}}), 0, 0), true);
    EXPECT_EQ(cut.error(), DMLP_CODER_TRUNCATED);
}

TEST_F(Events, StringsEmptyFullAndTerminated)
{
    // Event 4 with an empty string, then with 8 bytes: the next record starts right behind them.
    Reply reply(Frame(
        10,
        Notification(1, {{4, Wire().u8(1).s8("")}, {4, Wire().u8(2).s8("12345678")}, {70, Wire().u8(3).u8(4).s8("z")}}),
        0, 0));
    ASSERT_EQ(reply.error(), DMLP_CODER_OK);
    const auto& record = reply.as<DmlpEventRecord>();
    const uint8_t* first = (const uint8_t*)record.entries[0].body;
    EXPECT_EQ(first[8], 0);
    EXPECT_EQ(Pointer(first, 16), nullptr);
    const uint8_t* second = (const uint8_t*)record.entries[1].body;
    EXPECT_EQ(second, first + 24);
    EXPECT_EQ(Pointer(second, 16), second + 24);
    EXPECT_EQ((const uint8_t*)record.entries[2].body, second + 24 + 8);

    // Event 57: the first string is kept with a zero byte behind it, the last one is not.
    const Bytes body57 = Wire().u16(1).u32(2).u16(3).u32(4).u8(5).u8(6).u32(7).u32(8).u32(9).u32(10).u8(0).u32(11)
                             .s8("ABCDEFGH").s8("12345678");
    Reply event57(Frame(10, Notification(1, {{57, body57}}), 0, 0));
    ASSERT_EQ(event57.error(), DMLP_CODER_OK);
    const uint8_t* body = (const uint8_t*)event57.as<DmlpEventRecord>().entries[0].body;
    EXPECT_STREQ((const char*)Pointer(body, 72), "ABCDEFGH");
    EXPECT_EQ(Pointer(body, 88), body + 96 + 16);
    EXPECT_EQ(event57.as<DmlpEventRecord>().buffer.size, 16 + 96 + 16 + 8);
}

TEST_F(Events, Event60KeepsItsSecondByteZero)
{
    Reply reply(Frame(10, Notification(1, {{60, Wire().u8(0xA1).u8(0xA2).u8(0xA3).u16(0xB1B2).u32(1).u32(2).u8(3)
                                                 .u8(4).s8("q")}}),
                      0, 0));
    ASSERT_EQ(reply.error(), DMLP_CODER_OK);
    const uint8_t* body = (const uint8_t*)reply.as<DmlpEventRecord>().entries[0].body;
    EXPECT_EQ(Bytes(body, body + 4), Bytes({0xA1, 0x00, 0xA2, 0xA3}));
    EXPECT_EQ(Load<uint16_t>(body, 4), 0xB1B2);
}

TEST_F(Events, RefusedNotificationsDeliverNothing)
{
    {
        Reply reply(Frame(10, Wire().u32(5).u8(0), 0, 0));
        ASSERT_EQ(reply.error(), DMLP_CODER_OK);
        const auto& record = reply.as<DmlpEventRecord>();
        EXPECT_EQ(record.reference, 5u);
        EXPECT_EQ(record.count, 0);
        EXPECT_EQ(record.entries, nullptr);
        EXPECT_EQ(record.buffer.data, nullptr);
    }
    struct Case {
        const char* name;
        Bytes body;
        DmlpCoderError error;
    };
    const Case cases[] = {
        {"second id unknown", Notification(1, {{19, Wire().u32(1).s8("")}, {1, Wire().u32(1).s8("")}}),
         DMLP_CODER_UNKNOWN_EVENT},
        {"short notification", Wire().u32(1), DMLP_CODER_TRUNCATED},
        {"no room for the id", Wire().u32(1).u8(1).u16(19), DMLP_CODER_TRUNCATED},
        {"fewer events than counted", Wire().u32(1).u8(2).u16(19).u8(0).u32(1).u8(0), DMLP_CODER_TRUNCATED},
        {"address kind 16", Notification(1, {{120, Wire().u32(1).u16(2).u16(16).u8(0).s8("")}}),
         DMLP_CODER_BAD_ADDRESS_KIND},
        {"address length byte wrong", Notification(1, {{120, Wire().u32(1).u16(2).u16(1).u8(4).u32(0).s8("")}}),
         DMLP_CODER_TRUNCATED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (bool allocate : {false, true}) {
            Reply reply(Frame(10, c.body, 0, 0), allocate);
            EXPECT_EQ(reply.error(), c.error);
            EXPECT_EQ(reply.status(), DMLP_INTERNAL_FAILURE);
            EXPECT_EQ(reply.context().held, nullptr);
        }
        EXPECT_EQ(liveBlocks(), 0);
    }
}

TEST_F(Events, ANotificationDecodedPast65535BytesIsRefused)
{
    // Event 94 with 3000 one-byte attributes: 15,000 bytes on the wire, 72,000 decoded.
    Wire body;
    body.u32(1).u32(2).u16(3000);
    for (int i = 0; i < 3000; ++i)
        body.u16(6004).u16(1).u8(1);
    Reply reply(Frame(10, Notification(1, {{94, body}}), 0, 0), true);
    EXPECT_EQ(reply.error(), DMLP_CODER_NO_MEMORY);
    EXPECT_EQ(liveBlocks(), 0);
}

TEST_F(Events, AllocationFailuresAtEveryStepLeaveNothing)
{
    const Bytes frame = Frame(10, Notification(3, {{154, JobState3Body(1, 2, 3, {4})}, {18, Event18Body(1, 5)}}), 0, 0);
    for (bool allocate : {false, true})
        ExpectAllocationFailuresLeaveNothing(frame, allocate);
}

} // namespace
