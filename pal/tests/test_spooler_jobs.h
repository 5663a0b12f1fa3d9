// Helpers of the printer and job tests: a host with the test monitor and a printer on its port,
// submission, job reads, and the test monitor's port script and journal (see
// fixtures/testmonitor.cpp).
#pragma once

#include <random>
#include <sstream>

#include "TempRoot.h"
#include "pal/codepage.h"
#include "test_spooler_host.h"

namespace spoolertest {

inline std::vector<BYTE> randomBytes(size_t size, unsigned seed)
{
    std::mt19937 generator(seed);
    std::vector<BYTE> bytes(size);
    for (BYTE& byte : bytes)
        byte = BYTE(generator());
    return bytes;
}

inline std::string utf8(const std::u16string& text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(size_t(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), result.data(), size, nullptr, nullptr);
    return result;
}

// A job's file in the platform root: spool/<8-digit id><extension>.
inline std::string spoolFile(DWORD job, const std::string& extension)
{
    char name[32];
    std::snprintf(name, sizeof name, "spool/%08u", unsigned(job));
    return name + extension;
}

// A printer handle, closed at the end of the scope.
class Printer {
public:
    explicit Printer(const std::u16string& name, std::optional<ACCESS_MASK> access = PRINTER_ALL_ACCESS)
    {
        std::u16string copy = name;
        PRINTER_DEFAULTSW defaults = {nullptr, nullptr, access.value_or(0)};
        if (!OpenPrinterW(copy.data(), &handle_, access ? &defaults : nullptr))
            error_ = GetLastError();
    }
    explicit Printer(HANDLE handle) : handle_(handle) {}
    ~Printer()
    {
        if (handle_)
            ClosePrinter(handle_);
    }
    Printer(const Printer&) = delete;
    Printer& operator=(const Printer&) = delete;

    HANDLE get() const { return handle_; }
    DWORD error() const { return error_; }
    explicit operator bool() const { return handle_ != nullptr; }

    // Submits data in writes of at most piece bytes; the job id, or 0.
    DWORD submit(const std::vector<BYTE>& data, const std::u16string& document = u"doc",
                  size_t piece = 64 * 1024) const
    {
        std::u16string name = document;
        std::u16string datatype = u"RAW";
        DOC_INFO_1W info = {name.data(), nullptr, datatype.data()};
        DWORD job = StartDocPrinterW(handle_, 1, reinterpret_cast<LPBYTE>(&info));
        if (!job)
            return 0;
        for (size_t offset = 0; offset < data.size(); offset += piece) {
            DWORD length = DWORD(std::min(piece, data.size() - offset));
            DWORD written = 0;
            if (!WritePrinter(handle_, const_cast<BYTE*>(data.data()) + offset, length, &written) || written != length)
                return 0;
        }
        return EndDocPrinter(handle_) ? job : 0;
    }

    // GetJobW at a level into a buffer of the size it asks for; empty when the job is unknown.
    std::vector<BYTE> job(DWORD id, DWORD level) const
    {
        DWORD needed = 0;
        GetJobW(handle_, id, level, nullptr, 0, &needed);
        std::vector<BYTE> buffer(needed);
        if (needed == 0 || !GetJobW(handle_, id, level, buffer.data(), needed, &needed))
            buffer.clear();
        return buffer;
    }

    // The job's status, or nullopt when the job is gone.
    std::optional<DWORD> status(DWORD id) const
    {
        std::vector<BYTE> info = job(id, 1);
        if (info.empty())
            return std::nullopt;
        return reinterpret_cast<const JOB_INFO_1W*>(info.data())->Status;
    }

    bool control(DWORD id, DWORD command) const { return SetJobW(handle_, id, 0, nullptr, command) != FALSE; }

    // Waits (bounded) until the job's status satisfies the condition; nullopt stands for "gone".
    template <class Condition>
    bool statusBecomes(DWORD id, Condition condition) const
    {
        return eventually([&] { return condition(status(id)); });
    }

private:
    HANDLE handle_ = nullptr;
    DWORD error_ = 0;
};

inline bool gone(std::optional<DWORD> status)
{
    return !status.has_value();
}

inline auto hasBits(DWORD bits)
{
    return [bits](std::optional<DWORD> status) { return status && (*status & bits) == bits; };
}

inline auto isExactly(DWORD bits)
{
    return [bits](std::optional<DWORD> status) { return status && *status == bits; };
}

// The test monitor's side of a port: its script, journal and recorded data.
class TestPort {
public:
    explicit TestPort(const std::u16string& port) : xcv_(u",XcvPort " + port) {}

    bool opened() const { return xcv_.opened(); }
    DWORD script(const std::u16string& text) { return xcv_.call(W("Script"), bytesOf(text), none_); }
    DWORD release() { return xcv_.call(W("Release"), {}, none_); }
    // Waits for the journal to hold count lines starting with prefix (20 s at most in the monitor).
    bool await(const std::u16string& prefix, int count = 1)
    {
        std::string digits = std::to_string(count);
        std::u16string text = prefix + u"#" + std::u16string(digits.begin(), digits.end());
        return xcv_.call(W("Await"), bytesOf(text), none_) == ERROR_SUCCESS;
    }
    std::vector<std::string> journal()
    {
        std::vector<BYTE> output(1 << 20);
        DWORD needed = 0;
        if (xcv_.call(W("Journal"), {}, output, &needed) != ERROR_SUCCESS)
            return {};
        std::u16string text(reinterpret_cast<const WCHAR*>(output.data()));
        std::vector<std::string> lines;
        std::istringstream stream(utf8(text));
        for (std::string line; std::getline(stream, line);)
            lines.push_back(line);
        return lines;
    }
    // The journal lines that start with prefix.
    std::vector<std::string> lines(const std::string& prefix)
    {
        std::vector<std::string> matching;
        for (const std::string& line : journal())
            if (line.rfind(prefix, 0) == 0)
                matching.push_back(line);
        return matching;
    }
    std::vector<BYTE> data(DWORD job)
    {
        std::vector<BYTE> input(sizeof job);
        std::memcpy(input.data(), &job, sizeof job);
        std::vector<BYTE> output;
        DWORD needed = 0;
        xcv_.call(W("Data"), input, output, &needed);
        output.resize(needed);
        if (needed > 0 && xcv_.call(W("Data"), input, output, &needed) != ERROR_SUCCESS)
            output.clear();
        return output;
    }

private:
    XcvHandle xcv_;
    std::vector<BYTE> none_;
};

// GetPrinterW at a level into a buffer of the size it asks for; empty on failure.
inline std::vector<BYTE> printerInfo(HANDLE printer, DWORD level)
{
    DWORD needed = 0;
    GetPrinterW(printer, level, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed);
    if (!GetPrinterW(printer, level, buffer.data(), needed, &needed))
        buffer.clear();
    return buffer;
}

// Moves the printer to another port with SetPrinterW level 2; the error, or 0.
inline DWORD movePrinter(const std::u16string& name, const std::u16string& port)
{
    Printer printer(name);
    std::vector<BYTE> buffer = printerInfo(printer.get(), 2);
    if (buffer.empty())
        return GetLastError();
    std::u16string portName = port;
    reinterpret_cast<PRINTER_INFO_2W*>(buffer.data())->pPortName = portName.data();
    return SetPrinterW(printer.get(), 2, buffer.data(), 0) ? 0 : GetLastError();
}

// Adds a printer through AddPrinterW; the error, or 0.
inline DWORD addPrinter(const std::u16string& name, const std::u16string& port,
                        const std::u16string& driver = u"Test Driver")
{
    std::u16string printerName = name;
    std::u16string portName = port;
    std::u16string driverName = driver;
    PRINTER_INFO_2W info{};
    info.pPrinterName = printerName.data();
    info.pPortName = portName.data();
    info.pDriverName = driverName.data();
    HANDLE handle = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
    if (!handle)
        return GetLastError();
    ClosePrinter(handle);
    return 0;
}

// A platform root with the test monitor on ports P1 and P2, the host running, printer "Office" on
// P1 and "Lab" on P2.
class SpoolerJobs : public ::testing::Test {
protected:
    void SetUp() override
    {
        registerTestMonitor(u"Test Monitor", {u"P1", u"P2"});
        ASSERT_TRUE(host_.start());
        ASSERT_EQ(addPrinter(u"Office", u"P1"), 0u);
        ASSERT_EQ(addPrinter(u"Lab", u"P2"), 0u);
    }
    void TearDown() override
    {
        if (running_) {
            EXPECT_EQ(host_.stop(), 0);
        }
    }
    void restartHost()
    {
        ASSERT_EQ(host_.stop(), 0);
        ASSERT_TRUE(host_.start());
    }
    // Retries after failed port calls come quickly.
    void setRetryTimeout(const std::u16string& printer, DWORD milliseconds)
    {
        Printer handle(printer);
        PRINTER_INFO_5W info{};
        info.Attributes = 0;
        info.DeviceNotSelectedTimeout = 15000;
        info.TransmissionRetryTimeout = milliseconds;
        ASSERT_TRUE(SetPrinterW(handle.get(), 5, reinterpret_cast<LPBYTE>(&info), 0));
    }

    testsupport::TempRoot root_;
    SpoolerHost host_;
    bool running_ = true;
};

} // namespace spoolertest
