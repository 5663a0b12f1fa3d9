// The configuration records as bytes, and the registry table of a port's settings.
#include <cstring>

#include <gtest/gtest.h>

#include "monitor_harness.h"

using namespace montest;

namespace {

void putWide(std::vector<BYTE>& bytes, size_t offset, const char* text)
{
    for (size_t i = 0; text[i]; i++)
        bytes[offset + 2 * i] = BYTE(text[i]);
}

void putDword(std::vector<BYTE>& bytes, size_t offset, DWORD value)
{
    for (int i = 0; i < 4; i++)
        bytes[offset + i] = BYTE(value >> (8 * i));
}

TEST(MonRecords, PortConfigDataHasItsByteLayout)
{
    PortConfigData config = defaultConfig(u"JT_10.0.0.5", u"127.0.0.5");
    setField(config.sztOriginalPortName, _countof(config.sztOriginalPortName), u"IP_127.0.0.5");
    setField(config.sztQueue, _countof(config.sztQueue), u"queue1");
    config.dwProtocol = 2;
    config.dwBanner = 0x11;
    config.dwTransferMode = 1;
    config.dwWSAEventTimeout = 0x01020304;
    config.dwLprCheckJobStatus = 0xA0B0C0D0;

    std::vector<BYTE> expected(508, 0);
    putWide(expected, 0, "JT_10.0.0.5");
    putWide(expected, 128, "127.0.0.5");
    putWide(expected, 256, "IP_127.0.0.5");
    putDword(expected, 384, 2);
    putDword(expected, 388, 9100);
    putWide(expected, 392, "queue1");
    putDword(expected, 460, 1);
    putDword(expected, 464, 0x11);
    putDword(expected, 468, 1);
    putDword(expected, 472, 5);
    putDword(expected, 476, 5);
    putDword(expected, 480, 0);
    putDword(expected, 484, 10);
    putDword(expected, 488, 0x01020304);
    putDword(expected, 492, 0);
    putDword(expected, 496, 30000);
    putDword(expected, 500, 10);
    putDword(expected, 504, 0xA0B0C0D0);
    EXPECT_EQ(bytesOf(&config, sizeof(config)), expected);
}

TEST(MonRecords, DeletePortDataHasItsByteLayout)
{
    DELETE_PORT_DATA_1 data;
    std::memset(&data, 0, sizeof(data));
    setField(data.psztPortName, _countof(data.psztPortName), u"P1");
    setField(data.psztName, _countof(data.psztName), u"SRV");
    data.dwVersion = 1;
    data.dwReserved = 0x55;

    std::vector<BYTE> expected(236, 0);
    putWide(expected, 0, "P1");
    putWide(expected, 128, "SRV");
    putDword(expected, 228, 1);
    putDword(expected, 232, 0x55);
    EXPECT_EQ(bytesOf(&data, sizeof(data)), expected);
}

TEST(MonRecords, DefaultsAreTheUIAndInstallerDefaults)
{
    EXPECT_EQ(JTRK_DEFAULT_PROTOCOL, 1);
    EXPECT_EQ(JTRK_DEFAULT_PORTNUMBER, 9100);
    EXPECT_EQ(std::u16string(JTRK_DEFAULT_QUEUE), u"lp");
    EXPECT_EQ(JTRK_DEFAULT_TRANSFERMODE, 0);
    EXPECT_EQ(JTRK_DEFAULT_BANNER, 0);
    EXPECT_EQ(JTRK_DEFAULT_RETRYINFINITY, 1);
    EXPECT_EQ(JTRK_DEFAULT_RETRYCOUNT, 5);
    EXPECT_EQ(JTRK_DEFAULT_RETRYINTERVAL, 5);
    EXPECT_EQ(JTRK_DEFAULT_LPRRETRYCOUNT, 0);
    EXPECT_EQ(JTRK_DEFAULT_LPRRETRYTIMEOUT, 10);
    EXPECT_EQ(JTRK_DEFAULT_WSAEVENTTIMEOUT, 0);
    EXPECT_EQ(JTRK_DEFAULT_LPRSENDINTERVAL, 0);
    EXPECT_EQ(JTRK_DEFAULT_LPRRECVCOUNT, 30000);
    EXPECT_EQ(JTRK_DEFAULT_LPRRECVINTERVAL, 10);
    EXPECT_EQ(JTRK_DEFAULT_LPRCHECKJOBSTATUS, 1);
}

struct ExpectedSetting {
    const char16_t* value;
    bool timeouts;
    size_t offset;
    DWORD type;
    DWORD writers;
    int read;
    DWORD defaultValue;
};

// The registry layout of a port, value by value, in the order AddPort writes them.
const ExpectedSetting kExpectedSettings[] = {
    {u"ServerName", false, 128, REG_SZ, SETTING_ADDPORT, SETTING_READ_REQUIRED, 0},
    {u"Protocol", false, 384, REG_DWORD, SETTING_ADDPORT, SETTING_READ_REQUIRED, 0},
    {u"PortNumber", false, 388, REG_DWORD, SETTING_ADDPORT | SETTING_CONFIGPORT, SETTING_READ_REQUIRED, 0},
    {u"Queue", false, 392, REG_SZ, SETTING_ADDPORT, SETTING_READ_REQUIRED, 0},
    {u"TransferMode", false, 460, REG_DWORD, SETTING_ADDPORT | SETTING_CONFIGPORT, SETTING_READ_REQUIRED, 0},
    {u"Banner", false, 464, REG_DWORD, SETTING_ADDPORT, SETTING_NOT_READ, 0},
    {u"Original PortNname", false, 256, REG_SZ, SETTING_ADDPORT_WHEN_SET, SETTING_NOT_READ, 0},
    {u"RetryInfinity", true, 468, REG_DWORD, SETTING_ADDPORT | SETTING_CONFIGPORT, SETTING_READ_REQUIRED, 0},
    {u"RetryCount", true, 472, REG_DWORD, SETTING_ADDPORT | SETTING_CONFIGPORT, SETTING_READ_REQUIRED, 0},
    {u"RetryInterval", true, 476, REG_DWORD, SETTING_ADDPORT | SETTING_CONFIGPORT, SETTING_READ_REQUIRED, 0},
    {u"LprRetryCount", true, 480, REG_DWORD, SETTING_ADDPORT, SETTING_READ_REQUIRED, 0},
    {u"LprRetryTimeout", true, 484, REG_DWORD, SETTING_ADDPORT, SETTING_READ_REQUIRED, 0},
    {u"WSAEventTimeout", true, 488, REG_DWORD, SETTING_ADDPORT, SETTING_READ_REQUIRED, 0},
    {u"LprSendInterval", true, 492, REG_DWORD, SETTING_ADDPORT, SETTING_READ_REQUIRED, 0},
    {u"LprRecvCount", true, 496, REG_DWORD, 0, SETTING_READ_OPTIONAL, 30000},
    {u"LprRecvInterval", true, 500, REG_DWORD, 0, SETTING_READ_OPTIONAL, 10},
    {u"LprCheckJobStatus", true, 504, REG_DWORD, 0, SETTING_READ_OPTIONAL, 1},
};

TEST(MonRecords, SettingsTableIsTheRegistryLayout)
{
    ASSERT_EQ(g_cPortSettings, _countof(kExpectedSettings));
    for (size_t i = 0; i < g_cPortSettings; i++) {
        const PortSetting& actual = g_PortSettings[i];
        const ExpectedSetting& expected = kExpectedSettings[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(std::u16string(actual.pszValue), expected.value);
        EXPECT_EQ(bool(actual.bTimeouts), expected.timeouts);
        EXPECT_EQ(actual.cbOffset, expected.offset);
        EXPECT_EQ(actual.cbField, expected.type == REG_DWORD ? 4u : (expected.offset == 392 ? 66u : 128u));
        EXPECT_EQ(actual.dwType, expected.type);
        EXPECT_EQ(actual.dwWriters, expected.writers);
        EXPECT_EQ(actual.nRead, expected.read);
        EXPECT_EQ(actual.dwDefault, expected.defaultValue);
    }
}

} // namespace
