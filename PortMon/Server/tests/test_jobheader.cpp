// The job messages at the front of a job's data: the scan, the parse with its bounds, the stamp and
// the gathering over several writes.
#include <cstring>
#include <random>

#include <gtest/gtest.h>

#include "JobMessages.h"
#include "TempRoot.h"
#include "jtrkmon.h"
#include "port_defaults.h"

#include "pal/testhooks.h"

using namespace montest;
using jobmsg::Bytes;

namespace {

Bytes bytesOfText(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

// A header record written by hand: tag, version, flags, kind, request id, length, references, status.
Bytes handRecord(uint16_t kind, const Bytes& body)
{
    Bytes out = {0xCD, 0xCA, 0x10, 0x00, BYTE(kind >> 8), BYTE(kind), 0x00, 0x01, BYTE(body.size() >> 8),
                 BYTE(body.size()), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

// Scans a heap copy of exactly the data's size, so that a read past its end is caught.
int scan(const Bytes& data)
{
    std::unique_ptr<BYTE[]> copy(new BYTE[data.size() + 1]);
    std::copy(data.begin(), data.end(), copy.get());
    return JobHeaderScan(copy.get(), DWORD(data.size()));
}

const jobmsg::ClientJobId kId = jobmsg::ClientJobId::make(0x0000002A, 0x1234, 0xABCD, "D4D4D4D4",
                                                          "JOBINFO1-text-of-the-job-0123456789-ABCDEFGHIJK");

class MonJobHeader : public ::testing::Test {
protected:
    void SetUp() override
    {
        SYSTEMTIME now = {2026, 3, 0, 7, 9, 5, 3, 0};
        ASSERT_TRUE(palSetTestClock(&now));
        context.dwMagic = JTMX_MONITOR_MAGIC;
        PortConfigData config = defaultConfig(W("P1"), W("127.0.0.1"));
        port = AddPortEntry(&context, W("P1"), &config);
        ASSERT_NE(port, nullptr);
        port->dwState = PORT_STATE_DOC_STARTED;
    }

    void TearDown() override
    {
        palResetTestClock();
        EnterCriticalSection(&csPortList);
        RemovePortEntry(&context, W("P1"));
        LeaveCriticalSection(&csPortList);
    }

    // One WritePort's gathering on an exact-size heap copy; the copy (as the call left it) is kept.
    int gather(const Bytes& data, HeaderGather& result)
    {
        calls.emplace_back(new BYTE[data.size() + 1]);
        std::copy(data.begin(), data.end(), calls.back().get());
        lastCall.assign(calls.back().get(), calls.back().get() + data.size());
        int parsed = ParseJobHeader(port, calls.back().get(), DWORD(data.size()), &result);
        lastCall.assign(calls.back().get(), calls.back().get() + data.size());
        return parsed;
    }

    int parseWhole(const Bytes& data)
    {
        HeaderGather result;
        return gather(data, result);
    }

    std::string label() const { return std::string(port->szPauName, strnlen(port->szPauName, 24)); }
    Bytes clientJobId() const { return Bytes(port->ClientJobId, port->ClientJobId + 64); }

    testsupport::TempRoot root;
    MonitorContext context = {};
    PPortEntry port = nullptr;
    std::vector<std::unique_ptr<BYTE[]>> calls;
    Bytes lastCall;
};

TEST_F(MonJobHeader, ScanFindsTheEndRecordAndWaitsForWholeRecords)
{
    Bytes start = handRecord(17, Bytes(13, 0));
    Bytes end = handRecord(19, {0});
    EXPECT_EQ(scan(jobmsg::concat({start, end})), JOBHEADER_END);
    EXPECT_EQ(scan(jobmsg::concat({start, handRecord(20, {0, 0, 0, 1})})), JOBHEADER_END);
    EXPECT_EQ(scan(jobmsg::concat({handRecord(5, {}), end})), JOBHEADER_END);  // an empty body counts
    // A record start needs 21 bytes: an end record without a body waits for more data.
    EXPECT_EQ(scan(jobmsg::concat({start, handRecord(20, {})})), JOBHEADER_NEED_MORE);
    EXPECT_EQ(scan({}), JOBHEADER_NEED_MORE);
    EXPECT_EQ(scan(Bytes(start.begin(), start.begin() + 20)), JOBHEADER_NEED_MORE);
    EXPECT_EQ(scan(Bytes(start.begin(), start.end() - 1)), JOBHEADER_NEED_MORE);
    // Data that ends right after a record is a header still arriving, not untagged data.
    EXPECT_EQ(scan(start), JOBHEADER_NEED_MORE);
    EXPECT_EQ(scan(jobmsg::concat({start, Bytes{0xCD}})), JOBHEADER_NEED_MORE);
    EXPECT_EQ(scan(bytesOfText("%!PS-Adobe-3.0 and a long job after it")), JOBHEADER_UNTAGGED);
    EXPECT_EQ(scan(jobmsg::concat({start, bytesOfText("%!PS-Adobe-3.0 and more")})), JOBHEADER_UNTAGGED);
    // The length field is big-endian: 0x0100 bytes of body.
    Bytes big = handRecord(24, Bytes(0x100, 7));
    EXPECT_EQ(big[8], 0x01);
    EXPECT_EQ(scan(jobmsg::concat({big, end})), JOBHEADER_END);
    EXPECT_EQ(scan(jobmsg::concat({Bytes(big.begin(), big.end() - 1)})), JOBHEADER_NEED_MORE);
}

TEST_F(MonJobHeader, ClientJobIdIsTakenInHostOrderAndStampedInTheData)
{
    Bytes header = jobmsg::typicalHeader(kId, 4);
    ASSERT_EQ(parseWhole(header), 1);
    EXPECT_EQ(port->dwState, DWORD(PORT_STATE_HEADER_DONE));
    Bytes expected = kId.host();
    std::memcpy(expected.data() + 16, "07090503", 8);  // day, hour, minute, second
    EXPECT_EQ(clientJobId(), expected);
    EXPECT_EQ(expected[0], 0x2A);
    EXPECT_EQ(port->dwNup, 4u);
    // The label: JobInfo1 (stamped) and value bytes 48 to 62 (job text bytes 32 to 46).
    EXPECT_EQ(label(), "07090503" + std::string("789-ABCDEFGHIJK"));
    // The stamp stands in the data the device receives: value bytes 16 to 23 of attribute 280.
    Bytes stamped = header;
    size_t value = jobmsg::jobStart().size() + 20 + 2 + 4;
    std::memcpy(stamped.data() + value + 16, "07090503", 8);
    EXPECT_EQ(lastCall, stamped);
}

TEST_F(MonJobHeader, LabelRulesOfSetJobTextAndTheAttributeList)
{
    struct Case {
        const char* what;
        Bytes header;
        std::string label;
    } cases[] = {
        {"a text label: characters 8 on, cut at the blank",
         jobmsg::concat({jobmsg::setJobText(8, "PAU12345ABC DEF and more text here"), jobmsg::jobEnd()}), "ABC"},
        {"the label fills 23 bytes",
         jobmsg::concat({jobmsg::setJobText(8, "PAU12345ABCDEFGHIJKLMNOPQRSTUVWXYZ"), jobmsg::jobEnd()}),
         "ABCDEFGHIJKLMNOPQRSTUVW"},
        {"a text of 31 characters is no label",
         jobmsg::concat({jobmsg::setJobText(8, "PAU12345ABC DEFGHIJKLMNOPQRSTUV"), jobmsg::jobEnd()}), ""},
        {"another attribute is no label",
         jobmsg::concat({jobmsg::setJobText(9, jobmsg::labelText("ABC")), jobmsg::jobEnd()}), ""},
        {"a text without PAU is no label",
         jobmsg::concat({jobmsg::setJobText(8, "PAX12345ABC DEF and more text here"), jobmsg::jobEnd()}), ""},
        {"the attribute list disallows the text label",
         jobmsg::concat({jobmsg::jobStart2({{280, kId.wire()}}), jobmsg::setJobText(8, jobmsg::labelText("TXT")),
                         jobmsg::jobEnd()}),
         "07090503" + std::string("789-ABCDEFGHIJK")},
        {"JobStart allows it again and the text label ends the walk",
         jobmsg::concat({jobmsg::jobStart2({{280, kId.wire()}}), jobmsg::jobStart(),
                         jobmsg::setJobText(8, jobmsg::labelText("TXT")),
                         jobmsg::jobStart2({{280, Bytes(64, 'Z')}}), jobmsg::jobEnd()}),
         "TXT"},
        {"records after the end are not read",
         jobmsg::concat({jobmsg::jobEnd(), jobmsg::setJobText(8, jobmsg::labelText("TXT"))}), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        port->dwState = PORT_STATE_DOC_STARTED;
        ASSERT_EQ(parseWhole(c.header), 1);
        EXPECT_EQ(label(), c.label);
    }
}

TEST_F(MonJobHeader, ClientJobIdAttributeLengths)
{
    const Bytes wire = kId.wire();
    Bytes long65 = wire;
    long65.push_back('!');
    struct Case {
        const char* what;
        Bytes value;
        bool clientJobId;
        bool stamped;
        std::string label;
    } cases[] = {
        {"63 bytes are ignored", Bytes(wire.begin(), wire.end() - 1), false, false, ""},
        {"64 bytes: id, stamp and label", wire, true, true, "07090503" + std::string("789-ABCDEFGHIJK")},
        {"65 bytes: only the label", long65, false, false, "JOBINFO1" + std::string("789-ABCDEFGHIJK")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        port->dwState = PORT_STATE_DOC_STARTED;
        Bytes header = jobmsg::concat({jobmsg::jobStart2({{240, {1}}, {280, c.value}}), jobmsg::jobEnd()});
        ASSERT_EQ(parseWhole(header), 1);
        EXPECT_EQ(clientJobId() != Bytes(64, 0), c.clientJobId);
        EXPECT_EQ(lastCall != header, c.stamped);
        EXPECT_EQ(label(), c.label);
    }
}

TEST_F(MonJobHeader, NupComesFromItsAttributeOnly)
{
    struct Case {
        const char* what;
        Bytes record;
        DWORD nup;
    } cases[] = {
        {"attribute 0x08B5", handRecord(24, {0x08, 0xB5, 9}), 9},
        {"attribute 0x08B4", handRecord(24, {0x08, 0xB4, 9}), 0},
        {"a body of two bytes", handRecord(24, {0x08, 0xB5}), 0},
        {"a longer body", handRecord(24, {0x08, 0xB5, 2, 3, 4}), 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        port->dwState = PORT_STATE_DOC_STARTED;
        ASSERT_EQ(parseWhole(jobmsg::concat({c.record, jobmsg::jobEnd()})), 1);
        EXPECT_EQ(port->dwNup, c.nup);
    }
}

TEST_F(MonJobHeader, ReadsStayInsideTheRecordsBody)
{
    // Bodies that claim more than they hold; every case runs on exact-size heap copies.
    Bytes shortLabel = handRecord(18, Bytes{0, 8, 40, 'P', 'A', 'U'});  // a length byte of 40, 3 text bytes
    Bytes shortList = handRecord(107, Bytes{0, 3, 0x01, 0x18, 0, 64, 1, 2, 3});  // value of 64 announced, 3 there
    Bytes countOnly = handRecord(107, Bytes{0xFF, 0xFF});
    Bytes oddList = handRecord(107, Bytes{0, 2, 0x01, 0x18, 0});  // an attribute head cut short
    Bytes listThenLost = jobmsg::jobStart2({{280, kId.wire()}});
    listThenLost[20 + 1] = 3;  // three attributes announced, one there
    Bytes emptyList = handRecord(107, Bytes{});
    Bytes oneByteList = handRecord(107, Bytes{0});
    for (const Bytes& record : {shortLabel, shortList, countOnly, oddList, listThenLost, emptyList, oneByteList}) {
        port->dwState = PORT_STATE_DOC_STARTED;
        Bytes header = jobmsg::concat({record, jobmsg::jobEnd()});
        ASSERT_EQ(parseWhole(header), 1);
    }
    EXPECT_EQ(label(), "");
    EXPECT_EQ(clientJobId(), Bytes(64, 0));
    // The one attribute that fits of a list announcing three is taken.
    port->dwState = PORT_STATE_DOC_STARTED;
    ASSERT_EQ(parseWhole(jobmsg::concat({listThenLost, jobmsg::jobEnd()})), 1);
    Bytes taken = clientJobId();
    Bytes host = kId.host();
    EXPECT_EQ(Bytes(taken.begin(), taken.begin() + 8), Bytes(host.begin(), host.begin() + 8));
}

TEST_F(MonJobHeader, MalformedHeadersAreReadWithinTheirBytes)
{
    Bytes header = jobmsg::concat({jobmsg::jobStart(), jobmsg::setJobText(8, jobmsg::labelText("LBL")),
                                   jobmsg::jobStart2({{240, {1}}, {280, kId.wire()}}),
                                   jobmsg::setDocumentByte(jobmsg::kAttrNup, 2), jobmsg::jobEnd()});
    std::mt19937 random(4242);
    for (int round = 0; round < 3000; round++) {
        Bytes data = header;
        int flips = 1 + int(random() % 6);
        for (int i = 0; i < flips; i++)
            data[random() % data.size()] = BYTE(random());
        data.resize(random() % (data.size() + 1));
        port->dwState = PORT_STATE_DOC_STARTED;
        FreeHeaderBuffer(port);
        HeaderGather result;
        int parsed = gather(data, result);
        EXPECT_TRUE(parsed == 0 || parsed == 1);
        EXPECT_LE(strnlen(port->szPauName, 24), 23u);
    }
    FreeHeaderBuffer(port);
}

TEST_F(MonJobHeader, GatheringHoldsTheBytesUntilTheHeaderIsComplete)
{
    Bytes header = jobmsg::typicalHeader(kId, 3);
    Bytes job = jobmsg::concat({header, bytesOfText("%!PS-Adobe-3.0 job data")});
    size_t cut1 = 10;
    size_t cut2 = jobmsg::jobStart().size();  // a record boundary
    HeaderGather result;
    EXPECT_EQ(gather(Bytes(job.begin(), job.begin() + cut1), result), 0);
    EXPECT_EQ(port->dwState, DWORD(PORT_STATE_HEADER_INCOMPLETE));
    EXPECT_EQ(result.pHeld, nullptr);
    EXPECT_FALSE(result.bSendCall);
    EXPECT_EQ(gather(Bytes(job.begin() + cut1, job.begin() + cut2), result), 0);
    EXPECT_EQ(port->dwState, DWORD(PORT_STATE_HEADER_INCOMPLETE));
    EXPECT_EQ(port->cbHeaderBuf, cut2);
    EXPECT_EQ(gather(Bytes(job.begin() + cut2, job.end()), result), 1);
    EXPECT_EQ(port->dwState, DWORD(PORT_STATE_HEADER_DONE));
    // Everything goes out from the held buffer, stamped; the call's own bytes joined it.
    ASSERT_NE(result.pHeld, nullptr);
    EXPECT_FALSE(result.bSendCall);
    Bytes held(result.pHeld, result.pHeld + result.cbHeld);
    ASSERT_EQ(held.size(), job.size());
    size_t stamp = jobmsg::jobStart().size() + 20 + 2 + 4 + 16;
    EXPECT_EQ(std::string(held.begin() + stamp, held.begin() + stamp + 8), "07090503");
    Bytes expected = kId.host();
    std::memcpy(expected.data() + 16, "07090503", 8);
    EXPECT_EQ(clientJobId(), expected);
    FreeHeaderBuffer(port);
}

TEST_F(MonJobHeader, UntaggedDataAndTheGatheringLimit)
{
    HeaderGather result;
    Bytes data = bytesOfText("%!PS-Adobe-3.0 plain job data");
    EXPECT_EQ(gather(data, result), 0);
    EXPECT_EQ(port->dwState, DWORD(PORT_STATE_HEADER_DONE));
    EXPECT_EQ(result.pHeld, nullptr);
    EXPECT_TRUE(result.bSendCall);

    // A run of records that never ends is held up to 1 MiB; then it is sent as untagged data.
    port->dwState = PORT_STATE_DOC_STARTED;
    Bytes record = jobmsg::record(200, Bytes(65000, 1));
    size_t held = 0;
    while (held + record.size() <= JOBHEADER_GATHER_LIMIT) {
        ASSERT_EQ(gather(record, result), 0);
        ASSERT_EQ(port->dwState, DWORD(PORT_STATE_HEADER_INCOMPLETE));
        held += record.size();
    }
    EXPECT_EQ(gather(record, result), 0);
    EXPECT_EQ(port->dwState, DWORD(PORT_STATE_HEADER_DONE));
    EXPECT_EQ(result.cbHeld, held);
    EXPECT_TRUE(result.bSendCall);
    FreeHeaderBuffer(port);

    // A first write larger than the limit is not copied at all.
    port->dwState = PORT_STATE_DOC_STARTED;
    Bytes huge = jobmsg::record(200, Bytes(65000, 1));
    while (huge.size() <= JOBHEADER_GATHER_LIMIT)
        huge = jobmsg::concat({huge, huge});
    EXPECT_EQ(gather(huge, result), 0);
    EXPECT_EQ(port->dwState, DWORD(PORT_STATE_HEADER_DONE));
    EXPECT_EQ(result.pHeld, nullptr);
    EXPECT_TRUE(result.bSendCall);
}

TEST_F(MonJobHeader, StampTakesTheLockAndRevertsToTheSpoolerOnlyWhileItWrites)
{
    Bytes body = jobmsg::jobStart2({{280, kId.wire()}, {280, Bytes(64, 'x')}, {280, Bytes(10, 'y')}});
    Bytes payload(body.begin() + 20, body.end());
    StampJobHeader(payload.data(), DWORD(payload.size()));
    EXPECT_EQ(std::string(payload.begin() + 2 + 4 + 16, payload.begin() + 2 + 4 + 24), "07090503");
    EXPECT_EQ(std::string(payload.begin() + 2 + 68 + 4 + 16, payload.begin() + 2 + 68 + 4 + 24), "07090503");
    EXPECT_EQ(Bytes(payload.begin() + 2 + 136 + 4, payload.end()), Bytes(10, 'y'));
    // No process-wide state is left behind: the lock is free.
    EXPECT_TRUE(TryEnterCriticalSection(&csJobHeader));
    LeaveCriticalSection(&csJobHeader);
}

} // namespace

namespace {

// What one WritePort call hands on for sending.
Bytes handedOn(const HeaderGather& result, const Bytes& call)
{
    Bytes out;
    if (result.pHeld)
        out.assign(result.pHeld, result.pHeld + result.cbHeld);
    if (result.bSendCall)
        out.insert(out.end(), call.begin(), call.end());
    return out;
}

TEST_F(MonJobHeader, EverySplitOverThreeWritesGivesTheSameResults)
{
    Bytes header = jobmsg::concat({jobmsg::jobStart(), jobmsg::jobStart2({{280, kId.wire()}}),
                                   jobmsg::setDocumentByte(jobmsg::kAttrNup, 6), jobmsg::jobStart(),
                                   jobmsg::setJobText(8, jobmsg::labelText("LBL")), jobmsg::jobEnd()});
    Bytes job = jobmsg::concat({header, bytesOfText("%!PS data")});
    port->dwState = PORT_STATE_DOC_STARTED;
    ASSERT_EQ(parseWhole(job), 1);
    const Bytes whole = lastCall;
    const Bytes id = clientJobId();
    const std::string wholeLabel = label();
    EXPECT_EQ(wholeLabel, "LBL");
    EXPECT_EQ(port->dwNup, 6u);
    EXPECT_NE(whole, job);  // stamped
    for (size_t cut1 = 1; cut1 < job.size(); cut1++) {
        for (size_t cut2 = cut1; cut2 < job.size(); cut2++) {
            port->dwState = PORT_STATE_DOC_STARTED;
            std::vector<Bytes> pieces = {Bytes(job.begin(), job.begin() + cut1),
                                         Bytes(job.begin() + cut1, job.begin() + cut2),
                                         Bytes(job.begin() + cut2, job.end())};
            Bytes sent;
            int complete = 0;
            for (const Bytes& piece : pieces) {
                HeaderGather result = {nullptr, 0, TRUE};
                Bytes out = piece;
                if (port->dwState != PORT_STATE_HEADER_DONE) {
                    complete += gather(piece, result);
                    out = handedOn(result, lastCall);
                }
                sent.insert(sent.end(), out.begin(), out.end());
                if (result.pHeld)
                    FreeHeaderBuffer(port);
                calls.clear();
            }
            ASSERT_EQ(complete, 1) << cut1 << " " << cut2;
            ASSERT_EQ(sent, whole) << cut1 << " " << cut2;
            ASSERT_EQ(clientJobId(), id);
            ASSERT_EQ(label(), wholeLabel);
            ASSERT_EQ(port->dwNup, 6u);
        }
    }
}

} // namespace
