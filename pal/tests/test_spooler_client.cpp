// The spooler API's requests as the host sees them, against a stand-in host that answers with bytes
// written by hand: which calls go to the host and which are answered in the client.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include <windows.h>

#include "TempRoot.h"
#include "test_spooler_host.h"

namespace {

using Bytes = std::vector<BYTE>;

void appendU32(Bytes& bytes, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        bytes.push_back(BYTE(value >> shift));
}

void appendString(Bytes& bytes, const std::u16string& text)
{
    appendU32(bytes, uint32_t(text.size()));
    for (char16_t unit : text)
        bytes.insert(bytes.end(), {BYTE(unit), BYTE(unit >> 8)});
}

// Result TRUE, error 0, then the outputs.
Bytes success(const std::vector<uint32_t>& outputs = {})
{
    Bytes reply = {1, 0, 0, 0, 0, 0, 0, 0};
    for (uint32_t value : outputs)
        appendU32(reply, value);
    return reply;
}

// GetJob's reply: job 5 of "Office", no device mode.
Bytes jobReply()
{
    Bytes reply = success({5});
    for (const char16_t* text : {u"Office", u"\\\\HOST", u"alice", u"Minutes", u"RAW", u"winprint", u"", u"Generic"})
        appendString(reply, text);
    appendU32(reply, 0xFFFFFFFF);  // no status text
    for (uint32_t value : {uint32_t(JOB_STATUS_SPOOLING), 1u, 1u, 0u, 0u, 10u, 0u})  // status ... time
        appendU32(reply, value);
    for (uint32_t part : {2026u, 12u, 3u, 9u, 5u, 6u, 7u, 8u})
        appendU32(reply, part);
    appendU32(reply, 0xFFFFFFFF);  // no device mode
    return reply;
}

// Listens on the platform root's host socket and answers each request by its operation code:
// OpenPrinter with handle 7 of the kind given, GetJob with jobReply(), any other with success.
// Keeps each connection's operation codes; -1 marks the peer's end.
class StandInHost {
public:
    StandInHost(const std::string& root, uint32_t handleKind) : handleKind_(handleKind)
    {
        std::filesystem::create_directories(root + "/run");
        listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::string path = root + "/run/spoolsv.sock";
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        listening_ = ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                     ::listen(listenFd_, 4) == 0;
        if (listening_)
            thread_ = std::thread([this] { serveOne(); });
    }
    ~StandInHost()
    {
        ::shutdown(listenFd_, SHUT_RDWR);
        ::shutdown(connection_.load(), SHUT_RDWR);
        if (thread_.joinable())
            thread_.join();
        if (connection_ >= 0)
            ::close(connection_);
        ::close(listenFd_);
    }
    bool listening() const { return listening_; }
    std::vector<int> operations()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return operations_;
    }

private:
    void serveOne()
    {
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            return;
        connection_ = fd;
        Bytes request;
        while (receiveFrame(fd, request)) {
            uint32_t op = request.size() >= 4 ? uint32_t(request[0] | request[1] << 8) : 0;
            record(int(op));
            Bytes reply = op == 1 ? success({7, handleKind_}) : op == 36 ? jobReply() : success();
            Bytes frame;
            appendU32(frame, uint32_t(reply.size()));
            frame.insert(frame.end(), reply.begin(), reply.end());
            if (::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL) != ssize_t(frame.size()))
                break;
        }
        record(-1);
    }
    void record(int op)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        operations_.push_back(op);
    }
    static bool receiveAll(int fd, BYTE* data, size_t size)
    {
        while (size > 0) {
            ssize_t got = ::recv(fd, data, size, 0);
            if (got <= 0)
                return false;
            data += got;
            size -= size_t(got);
        }
        return true;
    }
    static bool receiveFrame(int fd, Bytes& payload)
    {
        BYTE head[4];
        if (!receiveAll(fd, head, 4))
            return false;
        payload.resize(head[0] | head[1] << 8 | head[2] << 16 | size_t(head[3]) << 24);
        return receiveAll(fd, payload.data(), payload.size());
    }

    const uint32_t handleKind_;
    int listenFd_ = -1;
    std::atomic<int> connection_{-1};  // closed with the stand-in, so that a test's failure ends it
    bool listening_ = false;
    std::thread thread_;
    std::mutex mutex_;
    std::vector<int> operations_;
};

constexpr uint32_t kXcvHandle = 1;
constexpr uint32_t kPrinterHandle = 2;

HANDLE openOffice()
{
    std::u16string name = u"Office";
    HANDLE printer = nullptr;
    EXPECT_TRUE(OpenPrinterW(name.data(), &printer, nullptr));
    return printer;
}

// A printer handle without a document ends with its connection, which closes it at the host; the
// job read of a size query serves the call with the buffer.
TEST(SpoolerClient, APrinterHandleClosesWithItsConnectionAndASizeQueryReadsTheJobOnce)
{
    testsupport::TempRoot root;
    StandInHost host(root.path(), kPrinterHandle);
    ASSERT_TRUE(host.listening());
    HANDLE printer = openOffice();
    ASSERT_NE(printer, nullptr);
    DWORD needed = 0;
    EXPECT_FALSE(GetJobW(printer, 5, 1, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    std::vector<BYTE> buffer(needed);
    ASSERT_TRUE(GetJobW(printer, 5, 1, buffer.data(), needed, &needed));
    EXPECT_EQ(std::u16string(reinterpret_cast<const JOB_INFO_1W*>(buffer.data())->pDocument), u"Minutes");
    EXPECT_TRUE(ClosePrinter(printer));
    EXPECT_TRUE(spoolertest::eventually([&] { return host.operations().size() == 3; }));
    EXPECT_EQ(host.operations(), (std::vector<int>{1, 36, -1}));  // OpenPrinter, GetJob, the end
}

// A handle with a document closes it at the host before ClosePrinter returns (the host deletes a
// document that was not ended); an Xcv handle closes the monitor's context the same way.
TEST(SpoolerClient, HandlesWithADocumentOrAnXcvContextAreClosedByRequest)
{
    for (uint32_t kind : {kPrinterHandle, kXcvHandle}) {
        testsupport::TempRoot root;
        StandInHost host(root.path(), kind);
        ASSERT_TRUE(host.listening());
        HANDLE handle = openOffice();
        ASSERT_NE(handle, nullptr);
        if (kind == kPrinterHandle) {
            std::u16string document = u"Minutes";
            DOC_INFO_1W info = {document.data(), nullptr, nullptr};
            EXPECT_NE(StartDocPrinterW(handle, 1, reinterpret_cast<LPBYTE>(&info)), 0u);
        }
        EXPECT_TRUE(ClosePrinter(handle));
        EXPECT_TRUE(spoolertest::eventually([&] { return !host.operations().empty() && host.operations().back() == -1; }));
        std::vector<int> expected = kind == kPrinterHandle ? std::vector<int>{1, 39, 2, -1} : std::vector<int>{1, 2, -1};
        EXPECT_EQ(host.operations(), expected) << "handle kind " << kind;
    }
}

} // namespace
