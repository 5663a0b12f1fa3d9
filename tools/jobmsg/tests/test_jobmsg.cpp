// The job-message builder against bytes written by hand, and the pipe stub through the platform's
// pipe client.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>

#include <windows.h>

#include "JobMessages.h"
#include "JobPipeStub.h"
#include "TempRoot.h"

using namespace jobmsg;

namespace {

Bytes header(uint8_t methodHigh, uint8_t methodLow, uint8_t lengthHigh, uint8_t lengthLow)
{
    return {0xCD, 0xCA, 0x10, 0x00, methodHigh, methodLow, 0x00, 0x00, lengthHigh, lengthLow,
            0,    0,    0,    0,    0,          0,         0,    0,    0,          0};
}

TEST(JobMessages, RecordsHaveTheirBytes)
{
    EXPECT_EQ(jobEnd(7), concat({header(0, 19, 0, 1), {7}}));
    EXPECT_EQ(jobStart(0x01020304, 5, 6, 7),
              concat({header(0, 17, 0, 13), {1, 2, 3, 4, 5, 0, 0, 0, 6, 0, 0, 0, 7}}));
    EXPECT_EQ(setDocumentByte(kAttrNup, 4), concat({header(0, 24, 0, 3), {0x08, 0xB5, 4}}));
    EXPECT_EQ(setJobText(kAttrJobLabel, "PAUab"), concat({header(0, 18, 0, 8), {0, 8, 5, 'P', 'A', 'U', 'a', 'b'}}));
    EXPECT_EQ(jobStart2({{280, {9, 8}}, {240, {1}}}),
              concat({header(0, 107, 0, 13), {0, 2, 0x01, 0x18, 0, 2, 9, 8, 0, 0xF0, 0, 1, 1}}));
    EXPECT_EQ(record(300, Bytes(0x1234, 0xAA), 0x0506).size(), 20u + 0x1234);
    EXPECT_EQ(Bytes(record(300, {}, 0x0506)), (Bytes{0xCD, 0xCA, 0x10, 0, 0x01, 0x2C, 0x05, 0x06, 0, 0, 0, 0, 0, 0,
                                                     0, 0, 0, 0, 0, 0}));
}

TEST(JobMessages, ClientJobIdIsBigEndianOnTheWireAndLittleEndianAsReported)
{
    ClientJobId id = ClientJobId::make(0x11223344, 0x5566, 0x7788, "ABCDEFGH", "01020304jobtext");
    Bytes wire = id.wire();
    Bytes host = id.host();
    ASSERT_EQ(wire.size(), 64u);
    ASSERT_EQ(host.size(), 64u);
    EXPECT_EQ(Bytes(wire.begin(), wire.begin() + 8), (Bytes{0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}));
    EXPECT_EQ(Bytes(host.begin(), host.begin() + 8), (Bytes{0x44, 0x33, 0x22, 0x11, 0x66, 0x55, 0x88, 0x77}));
    EXPECT_EQ(std::string(wire.begin() + 8, wire.begin() + 16), "ABCDEFGH");
    EXPECT_EQ(std::string(wire.begin() + 16, wire.begin() + 31), "01020304jobtext");
    EXPECT_EQ(Bytes(wire.begin() + 8, wire.end()), Bytes(host.begin() + 8, host.end()));
    EXPECT_EQ(wire[63], 0);
}

TEST(JobMessages, ClientJobIdWireHexIsTheWireBytesInLowerCase)
{
    const ClientJobId id = ClientJobId::make(0x11223344, 0x5566, 0xA7B8, "ABCDEFGH", "01020304jobtext");
    const std::string hex = id.wireHex();
    EXPECT_EQ(hex, "11223344" "5566" "a7b8" "4142434445464748" "3031303230333034" "6a6f6274657874" +
                       std::string(2 * 33, '0'));

    ClientJobId back;
    ASSERT_TRUE(ClientJobId::fromWireHex(hex, back));
    EXPECT_EQ(back.wire(), id.wire());
    std::string upper = hex;
    for (char& c : upper)
        c = char(toupper(static_cast<unsigned char>(c)));
    ASSERT_TRUE(ClientJobId::fromWireHex(upper, back));
    EXPECT_EQ(back.wire(), id.wire());

    const ClientJobId untouched = back;
    for (const std::string& bad : {hex.substr(1), hex + "0", std::string(), "g" + hex.substr(1),
                                   hex.substr(0, 126) + "0x", hex.substr(0, 10) + " " + hex.substr(11)}) {
        EXPECT_FALSE(ClientJobId::fromWireHex(bad, back)) << bad;
        EXPECT_EQ(back.wire(), untouched.wire()) << bad;
    }
}

// The field names of the protocol library's and the client library's records.
struct LibraryRecord {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
    uint8_t JobText[48];
};

TEST(JobMessages, ClientJobIdGoesIntoAndOutOfALibraryRecordInHostOrder)
{
    const ClientJobId id = ClientJobId::make(0x11223344, 0x5566, 0x7788, "ABCDEFGH", "01020304jobtext");
    LibraryRecord record;
    memset(&record, 0xEE, sizeof record);
    id.copyTo(record);
    EXPECT_EQ(Bytes(reinterpret_cast<const uint8_t*>(&record), reinterpret_cast<const uint8_t*>(&record + 1)),
              id.host());
    EXPECT_EQ(ClientJobId::of(record).wire(), id.wire());

    EXPECT_EQ(wireHex(record), id.wireHex());
    LibraryRecord parsed = {};
    ASSERT_TRUE(parseWireHex(id.wireHex(), parsed));
    EXPECT_EQ(memcmp(&parsed, &record, sizeof record), 0);
    EXPECT_FALSE(parseWireHex("0011", parsed));
}

TEST(JobMessages, LabelTextPutsTheLabelAtCharacterEight)
{
    std::string text = labelText("ABC");
    ASSERT_EQ(text.size(), 32u);
    EXPECT_EQ(text.substr(0, 3), "PAU");
    EXPECT_EQ(text.substr(8, 4), "ABC ");
}

TEST(JobPipeStubTest, RecordsEachRequestAndAnswersWithAnEmptyMessage)
{
    testsupport::TempRoot root;
    JobPipeStub stub;
    DWORD error = 0;
    ASSERT_TRUE(stub.start(error)) << error;
    for (BYTE fill : {BYTE(1), BYTE(2)}) {
        Bytes request(1028, fill);
        BYTE reply[16];
        DWORD read = 99;
        ASSERT_TRUE(CallNamedPipeW(W("\\\\.\\pipe\\vexil_jtrksvc2"), request.data(), DWORD(request.size()), reply,
                                   sizeof(reply), &read, 1000))
            << GetLastError();
        EXPECT_EQ(read, 0u);
    }
    ASSERT_TRUE(stub.waitForRequests(2, std::chrono::seconds(10)));
    std::vector<Bytes> requests = stub.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0], Bytes(1028, 1));
    EXPECT_EQ(requests[1], Bytes(1028, 2));
    stub.stop();
    BYTE reply[4];
    DWORD read = 0;
    EXPECT_FALSE(CallNamedPipeW(W("\\\\.\\pipe\\vexil_jtrksvc2"), reply, sizeof(reply), reply, sizeof(reply), &read,
                                NMPWAIT_NOWAIT));
}

} // namespace
