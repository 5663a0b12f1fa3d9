#include "job_harness.h"

#include <cstring>
#include <fstream>

#include <gtest/gtest.h>

namespace montest {

namespace {

DWORD dwordAt(const std::vector<BYTE>& bytes, size_t offset)
{
    DWORD value = 0;
    std::memcpy(&value, bytes.data() + offset, sizeof(value));
    return value;
}

std::u16string wideAt(const std::vector<BYTE>& bytes, size_t offset, size_t chars)
{
    std::u16string text(chars, u'\0');
    std::memcpy(text.data(), bytes.data() + offset, chars * sizeof(char16_t));
    return text.substr(0, text.find(u'\0'));
}

const std::u16string kXcvPortPrefix = u"Port ";
constexpr DWORD kLprRecvIntervalMs = 2;

} // namespace

JobReport decodeReport(const std::vector<BYTE>& bytes)
{
    JobReport report;
    report.bytes = bytes;
    if (bytes.size() != 1028)
        return report;
    report.size = dwordAt(bytes, 0);
    report.messageId = dwordAt(bytes, 4);
    report.flags = dwordAt(bytes, 8);
    report.printer = wideAt(bytes, 12, 221);
    report.jobId = dwordAt(bytes, 456);
    report.label = std::string((const char*)bytes.data() + 460, 24).c_str();
    report.clientJobId.assign(bytes.begin() + 484, bytes.begin() + 548);
    report.port = wideAt(bytes, 548, 64);
    report.nup = dwordAt(bytes, 676);
    return report;
}

PortConfigData rawPortConfig(const std::u16string& name, uint16_t devicePort, const std::u16string& address)
{
    PortConfigData config = defaultConfig(name, address);
    config.dwPortNumber = devicePort;
    config.dwRetryInterval = 1;
    return config;
}

PortConfigData lprPortConfig(const std::u16string& name, DWORD transferMode, const std::u16string& address)
{
    PortConfigData config = defaultConfig(name, address);
    config.dwProtocol = PROTOCOL_LPR_TYPE;
    config.dwTransferMode = transferMode;
    setField(config.sztQueue, _countof(config.sztQueue), u"lp1");
    config.dwRetryInterval = 1;
    // The acknowledgement and close waits poll (WSAEventTimeout 0) and give up after LprRecvCount
    // rounds, each sleeping LprRecvInterval ms; those sleeps are real (see the constructor), so the
    // device has at least 10 s to answer however fast the rounds run.
    config.dwLprRecvCount = 5000;
    config.dwLprRecvInterval = kLprRecvIntervalMs;
    return config;
}

JobHarness::JobHarness()
{
    spooler.addPrinter(kPrinter);
    spooler.setSleepDivisor(0);
    spooler.setRealSleepLimit(kLprRecvIntervalMs);
    setEcho("127.0.0.1", "reply");
    writeRootFile("config/computer-name", "PC1\n");
    // Xcv calls of the monitor reach its own Xcv methods, as the spooler routes them.
    spooler.onXcv([this](const std::u16string& object, const std::u16string& method, PBYTE output, DWORD cbOutput,
                         PDWORD needed) -> DWORD {
        if (object.compare(0, kXcvPortPrefix.size(), kXcvPortPrefix) != 0)
            return ERROR_INVALID_NAME;
        return monitor.xcv(object.substr(kXcvPortPrefix.size()), method.c_str(), nullptr, 0, output, cbOutput, needed);
    });
}

JobHarness::~JobHarness()
{
    if (port)
        monitor.table()->pfnClosePort(port);
    service.stop();
    monitor.shutdown();
}

void JobHarness::writeRootFile(const std::string& relative, const std::string& text) const
{
    std::string path = root.file(relative);
    std::string folder = path.substr(0, path.rfind('/'));
    std::string command = "mkdir -p '" + folder + "'";
    ASSERT_EQ(system(command.c_str()), 0);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
}

void JobHarness::setEcho(const std::string& address, const std::string& answer) const
{
    writeRootFile("config/icmp", address + " " + answer + "\n");
}

void JobHarness::redirect(const std::string& address, uint16_t from, uint16_t to) const
{
    writeRootFile("config/connect-redirect",
                  address + ":" + std::to_string(from) + " " + address + ":" + std::to_string(to) + "\n");
}

bool JobHarness::startService()
{
    DWORD error = 0;
    return service.start(error);
}

bool JobHarness::openPort(const PortConfigData& config)
{
    writePortKeys(config);
    // AddPort does not store the acknowledgement wait settings; an LPR port gets them by hand.
    if (config.dwProtocol == PROTOCOL_LPR_TYPE) {
        std::u16string timeouts = portKey(config.sztPortName, true);
        writeDword(timeouts, u"LprRecvCount", config.dwLprRecvCount);
        writeDword(timeouts, u"LprRecvInterval", config.dwLprRecvInterval);
    }
    if (!monitor.load())
        return false;
    return monitor.table()->pfnOpenPort(monitor.handle(), (LPWSTR)config.sztPortName, &port);
}

void JobHarness::addJob(DWORD jobId, DWORD size, const std::u16string& document)
{
    spooler.setJob(jobId, {0, size, document});
}

BOOL JobHarness::startDoc(DWORD jobId, const std::u16string& printer)
{
    return monitor.table()->pfnStartDocPort(port, (LPWSTR)printer.c_str(), jobId, 1, nullptr);
}

BOOL JobHarness::write(const std::vector<BYTE>& data, DWORD* written)
{
    std::vector<BYTE> buffer = data;
    return monitor.table()->pfnWritePort(port, buffer.empty() ? nullptr : buffer.data(), DWORD(buffer.size()),
                                         written);
}

bool JobHarness::writeAll(const std::vector<BYTE>& data, const std::vector<size_t>& pieces)
{
    size_t offset = 0;
    for (size_t i = 0; offset < data.size(); i++) {
        size_t size = std::min(pieces[i % pieces.size()], data.size() - offset);
        std::vector<BYTE> piece(data.begin() + offset, data.begin() + offset + size);
        DWORD written = 0;
        if (!write(piece, &written) || written != size)
            return false;
        offset += size;
    }
    return true;
}

BOOL JobHarness::endDoc()
{
    return monitor.table()->pfnEndDocPort(port);
}

std::vector<JobReport> JobHarness::reports() const
{
    std::vector<JobReport> reports;
    for (const std::vector<uint8_t>& request : service.requests())
        reports.push_back(decodeReport(std::vector<BYTE>(request.begin(), request.end())));
    return reports;
}

bool JobHarness::waitForReports(size_t count) const
{
    return service.waitForRequests(count, std::chrono::seconds(20));
}

std::vector<pal::EventLogEntry> JobHarness::events() const
{
    std::vector<pal::EventLogEntry> entries;
    for (pal::EventLogEntry& entry : pal::readEventLog())
        if (entry.source == u"OutputBeaconPort2")
            entries.push_back(std::move(entry));
    return entries;
}

std::vector<BYTE> patternData(size_t size, unsigned seed)
{
    std::vector<BYTE> data(size);
    for (size_t i = 0; i < size; i++)
        data[i] = BYTE((i * 131 + i / 251 + seed * 7) & 0xFF);
    return data;
}

} // namespace montest
