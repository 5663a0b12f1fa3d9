// The simulator's DMLP bytes against frames written out by hand.
#include <gtest/gtest.h>

#include "DmlpMessages.h"
#include "Faults.h"
#include "JobHeader.h"
#include "JobMessages.h"

namespace {

using devsim::Bytes;

Bytes hex(const std::string& text)
{
    Bytes bytes;
    std::string digits;
    for (char c : text)
        if (std::isxdigit(static_cast<unsigned char>(c)))
            digits.push_back(c);
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return bytes;
}

devsim::Request decoded(const Bytes& frame)
{
    devsim::Request request;
    std::string complaint;
    EXPECT_TRUE(devsim::decodeRequest(frame.data(), frame.size(), request, complaint)) << complaint;
    return request;
}

devsim::ClientId sampleId()
{
    devsim::ClientId id{};
    const Bytes wire = hex("00000007 0008 0009 4142434445464748") ;
    std::copy(wire.begin(), wire.end(), id.begin());
    for (size_t i = 16; i < 24; ++i)
        id[i] = static_cast<uint8_t>('0' + i % 10);
    return id;
}

TEST(DevsimDmlpWire, RequestsReadAsTheEngineWritesThem)
{
    // Get2 (102), request id 0x0203, flags 0x04: class 0, typed value type 0, one handle, three ids.
    const devsim::Request get2 = decoded(hex("CDCA 10 04 0066 0203 0012 00000000 00000000 0000"
                                             "0000 00 00 0001 0000002A 0003 0118 011B 0115"));
    EXPECT_EQ(get2.header.method, 102);
    EXPECT_EQ(get2.header.requestId, 0x0203);
    EXPECT_EQ(get2.objectClass, 0u);
    EXPECT_EQ(get2.handles, std::vector<uint32_t>{42});
    EXPECT_EQ(get2.attributes, (std::vector<uint16_t>{280, 283, 277}));

    // Get2 with a typed value of type 1 (four bytes) before the lists.
    const devsim::Request typed = decoded(hex("CDCA 10 04 0066 0001 0012 00000000 00000000 0000"
                                              "0200 01 04 00000009 0001 00000259 0001 006F"));
    EXPECT_EQ(typed.objectClass, 512u);
    EXPECT_EQ(typed.handles, std::vector<uint32_t>{601});
    EXPECT_EQ(typed.attributes, std::vector<uint16_t>{111});

    // ListObjects2 (114): 0, 0, 0, 201, 22, 501, 0, 0.
    const devsim::Request list = decoded(hex("CDCA 10 04 0072 0005 0012 00000000 00000000 0000"
                                             "0000 0000 00 00C9 16 000001F5 00000000 0000"));
    EXPECT_EQ(list.objectClass, 501u);
    EXPECT_EQ(list.listFields[2], 201);
    EXPECT_EQ(list.listFields[3], 22);

    // TraceJob (109): 501, kind 2, the 64-byte id, ids [6004, 277].
    const devsim::ClientId id = sampleId();
    Bytes trace = hex("CDCA 10 04 006D 0006 004B 00000000 00000000 0000 000001F5 02");
    trace.insert(trace.end(), id.begin(), id.end());
    const Bytes ids = hex("0002 1774 0115");
    trace.insert(trace.end(), ids.begin(), ids.end());
    const devsim::Request traced = decoded(trace);
    EXPECT_EQ(traced.traceKind, 2);
    EXPECT_EQ(traced.clientJobId, id);
    EXPECT_EQ(traced.attributes, (std::vector<uint16_t>{6004, 277}));

    // CancelJob (31): one handle.
    EXPECT_EQ(decoded(hex("CDCA 10 04 001F 0007 0004 00000000 00000000 0000 00000105")).handles,
              std::vector<uint32_t>{261});
}

TEST(DevsimDmlpWire, SubscriptionElementsInEachListOperation)
{
    // The element: ids [154, 18], 7, form size 9, kind 2 (UDP) 127.0.0.1:4661, extra 0x01000000.
    const std::string element = "0002 009A 0012 00000007 0009 0002 06 7F000001 1235 01000000";
    // AppendToList (8): 3, value 501, attribute 2, 0, the element.
    const devsim::Request append =
        decoded(hex("CDCA 10 04 0008 0001 0022 00000000 00000000 0000 03 000001F5 0002 0000 " + element));
    ASSERT_TRUE(append.element);
    EXPECT_EQ(append.listOperation, 3);
    EXPECT_EQ(append.listValue, 501u);
    EXPECT_EQ(append.listAttribute, 2);
    EXPECT_EQ(append.element->ids, (std::vector<uint16_t>{154, 18}));
    EXPECT_EQ(append.element->to.describe(), "udp 127.0.0.1:4661");
    EXPECT_EQ(append.element->extra, 0x01000000u);

    // SetListElement (106): 2, typed value type 0, value 501, attribute 2, the element.
    const devsim::Request set =
        decoded(hex("CDCA 10 04 006A 0002 0022 00000000 00000000 0000 02 00 00 000001F5 0002 " + element));
    EXPECT_EQ(set.listOperation, 2);
    ASSERT_TRUE(set.element);
    EXPECT_EQ(set.element->to.port, 4661);

    // SetListElement 4 (remove) with an element of no ids, TCP 127.0.0.9:5000.
    const devsim::Request remove = decoded(hex("CDCA 10 04 006A 0003 001E 00000000 00000000 0000 04 00 00 000001F5 "
                                               "0002 0000 00000007 0009 0001 06 7F000009 1388 00000000"));
    EXPECT_EQ(remove.listOperation, 4);
    ASSERT_TRUE(remove.element);
    EXPECT_TRUE(remove.element->ids.empty());
    EXPECT_EQ(remove.element->to.describe(), "tcp 127.0.0.9:5000");

    // DeleteFromList (9): selector 3, value 501, attribute 2, the element.
    const devsim::Request removed =
        decoded(hex("CDCA 10 04 0009 0004 0020 00000000 00000000 0000 03 000001F5 0002 " + element));
    ASSERT_TRUE(removed.element);
    EXPECT_EQ(removed.element->ids.size(), 2u);
}

TEST(DevsimDmlpWire, BrokenRequestsAreRefused)
{
    devsim::Request request;
    std::string complaint;
    const Bytes shortHeader = hex("CDCA 10 04 0001 0001 0000 00000000 00000000 00");
    EXPECT_FALSE(devsim::decodeRequest(shortHeader.data(), shortHeader.size(), request, complaint));
    const Bytes badMagic = hex("CDCB 10 04 0001 0001 0000 00000000 00000000 0000");
    EXPECT_FALSE(devsim::decodeRequest(badMagic.data(), badMagic.size(), request, complaint));
    // The body length says 4, one byte came.
    const Bytes cut = hex("CDCA 10 04 001F 0001 0004 00000000 00000000 0000 00");
    EXPECT_FALSE(devsim::decodeRequest(cut.data(), cut.size(), request, complaint));
    // A Get2 whose handle count asks for more than the body holds.
    const Bytes get2 = hex("CDCA 10 04 0066 0001 0008 00000000 00000000 0000 0000 00 00 0002 0000");
    EXPECT_FALSE(devsim::decodeRequest(get2.data(), get2.size(), request, complaint));
    EXPECT_EQ(complaint, "Get2 body cut short");
    // A subscription element whose form size does not fit its address.
    const Bytes element = hex("CDCA 10 04 0008 0001 001E 00000000 00000000 0000 03 000001F5 0002 0000 "
                              "0000 00000007 0008 0002 06 7F000001 1235 00000000");
    EXPECT_FALSE(devsim::decodeRequest(element.data(), element.size(), request, complaint));
    EXPECT_EQ(complaint, "subscription element cut short");
}

TEST(DevsimDmlpWire, RepliesByteForByte)
{
    const devsim::Request get2 = decoded(hex("CDCA 10 04 0066 0203 0012 00000011 00000022 0000"
                                             "0000 00 00 0001 0000002A 0003 0118 011B 0115"));
    devsim::ObjectAttributes job{42, {}};
    const devsim::ClientId id = sampleId();
    job.attributes.emplace_back(280, Bytes(id.begin(), id.end()));
    job.attributes.emplace_back(283, devsim::jobStateValue(7, {0x0A000001}));
    job.attributes.emplace_back(277, devsim::u32Value(3));
    Bytes expected = hex("CDCA 10 01 0066 0203 0066 00000011 00000022 0001"
                         "0001 0000002A 0003 0118 0040");
    expected.insert(expected.end(), id.begin(), id.end());
    const Bytes rest = hex("011B 000E 07 00 00 01 0A000001 00000000 0000"
                           "0115 0004 00000003");
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_EQ(devsim::replyFrame(get2.header, 1, devsim::get2Body({job})), expected);

    EXPECT_EQ(devsim::deviceStateValue(3, {0x09000002, 0x00010005}, 0x09030000, 3),
              hex("03 00 02 09000002 00010005 09030000 03 0000"));
    EXPECT_EQ(devsim::idListValue({280, 282}), hex("0002 0118 00 011A 00"));

    const devsim::Request list = decoded(hex("CDCA 10 04 0072 0005 0012 00000000 00000000 0000"
                                             "0000 0000 00 00C9 16 000001F5 00000000 0000"));
    EXPECT_EQ(devsim::replyFrame(list.header, 1, devsim::listObjects2Body(list, {5, 6})),
              hex("CDCA 10 01 0072 0005 0018 00000000 00000000 0001"
                  "0000 00 00C9 16 000001F5 0000 0002 0002 00000005 00000006"));

    EXPECT_EQ(devsim::traceJobBody(5, 501, {{6004, devsim::u8Value(1)}, {277, devsim::u32Value(2)}}),
              hex("02 00000005 000001F5 0002 1774 0001 01 0115 0004 00000002"));

    // No body, status 8, for an unknown object.
    EXPECT_EQ(devsim::replyFrame(get2.header, 8, {}), hex("CDCA 10 01 0066 0203 0000 00000011 00000022 0008"));
}

TEST(DevsimDmlpWire, NotificationsByteForByte)
{
    const devsim::ClientId id = sampleId();
    const Bytes state = devsim::jobStateEvent(0x2A, 9, 0, 0, id);
    ASSERT_EQ(state.size(), 85u); // 83 fixed bytes and the attribute count
    Bytes expected = hex("0000 0000002A 0000 00000000 09 00 00 00000000");
    expected.insert(expected.end(), id.begin(), id.end());
    expected.push_back(0);
    expected.push_back(0);
    EXPECT_EQ(state, expected);

    EXPECT_EQ(devsim::impressionsEvent(0x2A, 3),
              hex("0000 0000002A 00000000 00000000 00000000 00000000 00000003 00000000 00000000"
                  "0000 0000 0000 00"));
    EXPECT_EQ(devsim::deviceStatusEvent(0x09030000, "jam"), hex("09030000 03 6A616D"));

    const Bytes frame = devsim::notificationFrame(
        0x0102, 501, {{154, devsim::jobStateEvent(1, 7, 0, 0, {})}, {18, devsim::impressionsEvent(1, 1)}});
    const Bytes head = hex("CDCA 10 00 000A 0102 0089 00000000 00000000 0000 000001F5 02 009A 00");
    ASSERT_GE(frame.size(), head.size());
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(head.size())), head);
    EXPECT_EQ(frame.size(), 20u + 5 + 3 + 85 + 3 + 41);
    EXPECT_EQ(frame[20 + 5 + 3 + 85], 0x00);
    EXPECT_EQ(frame[20 + 5 + 3 + 85 + 1], 0x12); // the second event's id
}

TEST(DevsimDmlpWire, ClientJobIdFromTheJobMessages)
{
    const jobmsg::ClientJobId id = jobmsg::ClientJobId::make(7, 8, 9, "ABCDEFGH", "JobInfo1 text");
    const jobmsg::Bytes header = jobmsg::typicalHeader(id, 1);
    jobmsg::Bytes data = header;
    data.insert(data.end(), 100, 'x');

    // Byte by byte: the id stands once the JobEnd record is in.
    devsim::JobHeaderReader reader;
    size_t taken = 0;
    while (!reader.take(&data[taken], 1))
        ++taken;
    EXPECT_EQ(taken + 1, header.size());
    EXPECT_TRUE(reader.tagged());
    const jobmsg::Bytes wire = id.wire();
    EXPECT_TRUE(std::equal(wire.begin(), wire.end(), reader.clientJobId().begin()));

    // Untagged data: zeros at once.
    devsim::JobHeaderReader plain;
    const std::string text = "%!PS-Adobe-3.0\n";
    EXPECT_TRUE(plain.take(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    EXPECT_FALSE(plain.tagged());
    EXPECT_EQ(plain.clientJobId(), devsim::ClientId{});

    // A header cut short by the end of the data: what was read stands (nothing).
    devsim::JobHeaderReader cut;
    EXPECT_FALSE(cut.take(header.data(), 30));
    cut.finish();
    EXPECT_TRUE(cut.done());
    EXPECT_FALSE(cut.tagged());

    // An attribute 280 of 63 bytes is not an id.
    devsim::JobHeaderReader shortId;
    jobmsg::Bytes value(63, 1);
    const jobmsg::Bytes odd = jobmsg::concat({jobmsg::jobStart2({{280, value}}), jobmsg::jobEnd()});
    EXPECT_TRUE(shortId.take(odd.data(), odd.size()));
    EXPECT_FALSE(shortId.tagged());
}

TEST(DevsimDmlpWire, FaultRules)
{
    devsim::FaultRule rule;
    EXPECT_EQ(devsim::parseFaultRule("Get2:drop/2", rule), "");
    EXPECT_EQ(rule.method, 102);
    EXPECT_EQ(rule.action, devsim::FaultAction::Drop);
    EXPECT_EQ(*rule.remaining, 2u);
    EXPECT_EQ(rule.describe(), "Get2:drop/2");
    EXPECT_EQ(devsim::parseFaultRule("any:delay:250", rule), "");
    EXPECT_TRUE(rule.anyMethod);
    EXPECT_EQ(rule.value, 250u);
    EXPECT_EQ(devsim::parseFaultRule("canceljob:malformed:nostatus", rule), "");
    EXPECT_EQ(rule.describe(), "CancelJob:malformed:nostatus");
    EXPECT_EQ(devsim::parseFaultRule("114:parts:3", rule), "");
    EXPECT_EQ(rule.method, 114);
    EXPECT_EQ(devsim::parseFaultRule("event:after-unsubscribe", rule), "");
    EXPECT_TRUE(rule.events);
    EXPECT_EQ(devsim::parseFaultRule("event:unreachable/1", rule), "");

    for (const char* wrong : {"Get2", "Frobnicate:drop", "Get2:explode", "Get2:status:x", "Get2:parts:0",
                              "Get2:drop/0", "Get2:malformed:teeth", "event:delay:5", "Get2:unreachable",
                              "Get2:drop:1", "Get2:status:70000"})
        EXPECT_NE(devsim::parseFaultRule(wrong, rule), "") << wrong;

    devsim::FaultSet faults;
    devsim::parseFaultRule("Get2:drop/1", rule);
    faults.add(rule);
    devsim::parseFaultRule("any:status:33", rule);
    faults.add(rule);
    EXPECT_EQ(faults.forReply(1).action, devsim::FaultAction::Status);
    EXPECT_EQ(faults.forReply(102).action, devsim::FaultAction::Drop);
    EXPECT_EQ(faults.forReply(102).action, devsim::FaultAction::Status); // the drop was used up
    EXPECT_EQ(faults.forEvent().action, devsim::FaultAction::None);
    faults.clear();
    EXPECT_EQ(faults.forReply(102).action, devsim::FaultAction::None);
}

} // namespace
