// VxDmlp.so over the real transport on loopback: exports by name and ordinal, a request answered
// by a small UDP responder, an absent device timing out, and the routing plug-in's choices of
// the local address and of the address a device is told to report events to.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <windows.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "../../tests/WireBytes.h"
#include "TempRoot.h"
#include "VxDmlpApi.h"
#include "VxSrvc.h"

namespace {

const uint32_t kObject[2] = {1, 2};

// Answers every request with status 1 and the reply body (by default the uint32 0xC0FFEE of a
// CancelJob) and keeps the requests, until stopped.
class Responder {
public:
    explicit Responder(const Bytes& body = Wire().u32(0xC0FFEE)) : body_(body)
    {
        socket_ = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(socket_, (sockaddr*)&address, sizeof address);
        socklen_t length = sizeof address;
        getsockname(socket_, (sockaddr*)&address, &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~Responder()
    {
        stop_ = true;
        thread_.join();
        close(socket_);
    }
    uint16_t port() const { return port_; }
    int answered() const { return answered_; }
    std::vector<Bytes> requests()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }
    // A datagram from the responder's address, as a device sends its notifications.
    void SendTo(const char* address, uint16_t port, const Bytes& datagram) const
    {
        sockaddr_in to = {};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        inet_pton(AF_INET, address, &to.sin_addr);
        sendto(socket_, datagram.data(), datagram.size(), 0, (sockaddr*)&to, sizeof to);
    }

private:
    void Serve()
    {
        while (!stop_) {
            pollfd poll_ = {socket_, POLLIN, 0};
            if (poll(&poll_, 1, 20) <= 0)
                continue;
            uint8_t request[2048];
            sockaddr_in peer = {};
            socklen_t length = sizeof peer;
            const ssize_t got = recvfrom(socket_, request, sizeof request, 0, (sockaddr*)&peer, &length);
            if (got < 20)
                continue;
            const uint16_t method = (uint16_t)(request[4] << 8 | request[5]);
            const uint16_t id = (uint16_t)(request[6] << 8 | request[7]);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                requests_.emplace_back(request, request + got);
            }
            const Bytes reply = Frame(method, body_, 1, DMLP_FLAG_STATUS, id);
            sendto(socket_, reply.data(), reply.size(), 0, (sockaddr*)&peer, length);
            ++answered_;
        }
    }
    Bytes body_;
    std::mutex mutex_;
    std::vector<Bytes> requests_;
    int socket_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> answered_{0};
    std::thread thread_;
};

DmlpAddress Udp(uint16_t port)
{
    DmlpAddress address = {};
    address.kind = DMLP_ADDRESS_UDP;
    address.u.inet.address[0] = 127;
    address.u.inet.address[3] = 1;
    address.u.inet.port = port;
    return address;
}

class Loopback : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(DMLP_Initialize(DMLP_INTERFACE_VERSION, nullptr, &instance), DMLP_SUCCESS); }
    void TearDown() override { EXPECT_EQ(DMLP_Terminate(instance), DMLP_SUCCESS); }
    testsupport::TempRoot root;
    DmlpInstance instance = 0;
};

TEST_F(Loopback, ExportsAreFoundByNameAndByOrdinal)
{
    HMODULE module = LoadLibraryA("VxDmlp.dll");
    ASSERT_NE(module, nullptr);
    EXPECT_EQ((void*)GetProcAddress(module, "DMLP_Echo"), (void*)&DMLP_Echo);
    EXPECT_EQ((void*)GetProcAddress(module, MAKEINTRESOURCEA(560)), (void*)&DMLP_Echo);
    EXPECT_EQ((void*)GetProcAddress(module, MAKEINTRESOURCEA(100)), (void*)&DMLP_Initialize);
    EXPECT_EQ((void*)GetProcAddress(module, MAKEINTRESOURCEA(1080)), (void*)&DMLP_Unreserve);
    EXPECT_EQ((void*)GetProcAddress(module, MAKEINTRESOURCEA(940)), (void*)&DMLP_Revert);
    int found = 0;
#define COUNT_ORDINAL(name, ordinal, ...) found += GetProcAddress(module, MAKEINTRESOURCEA(ordinal)) != nullptr;
    DMLP_REQUEST_EXPORTS(COUNT_ORDINAL)
    DMLP_STUB_EXPORTS(COUNT_ORDINAL)
    DMLP_LIBRARY_EXPORTS(COUNT_ORDINAL)
#undef COUNT_ORDINAL
    EXPECT_EQ(found, 126) << "every export";
    FreeLibrary(module);
}

TEST_F(Loopback, ARequestIsAnsweredOverUdp)
{
    Responder device;
    const DmlpAddress peer = Udp(device.port());
    DmlpEPProperty property = {};
    property.timeout = 5000;
    property.transmissions = 2;
    DmlpBinding binding = nullptr;
    ASSERT_EQ(DMLP_Bind(instance, &peer, nullptr, &property, &binding), DMLP_SUCCESS);
    DmlpDeleteParams cancel = {};
    uint32_t result = 0;
    for (int i = 0; i < 20; ++i) {
        result = 0;
        ASSERT_EQ(DMLP_CancelJob(DMLP_MODE_SYNC, nullptr, binding, kObject, &cancel, &result), DMLP_SUCCESS);
        EXPECT_EQ(result, 0xC0FFEEu);
    }
    DmlpAddress local = {};
    ASSERT_EQ(DMLP_GetEPAddress(binding, DMLP_EP_LOCAL, &local), DMLP_SUCCESS);
    EXPECT_EQ(local.kind, DMLP_ADDRESS_UDP);
    EXPECT_NE(local.u.inet.port, 0);
    EXPECT_EQ(DMLP_Unbind(binding), DMLP_SUCCESS);
}

TEST_F(Loopback, AnAbsentDeviceTimesOutAfterEveryTransmission)
{
    uint16_t port;
    {
        Responder gone;
        port = gone.port();
    }
    const DmlpAddress peer = Udp(port);
    DmlpEPProperty property = {};
    property.timeout = 200;
    property.transmissions = 2;
    DmlpBinding binding = nullptr;
    ASSERT_EQ(DMLP_Bind(instance, &peer, nullptr, &property, &binding), DMLP_SUCCESS);
    DmlpDeleteParams cancel = {};
    uint32_t result = 0;
    const DWORD start = GetTickCount();
    EXPECT_EQ(DMLP_CancelJob(DMLP_MODE_SYNC, nullptr, binding, kObject, &cancel, &result), DMLP_TIMEOUT);
    EXPECT_GE(GetTickCount() - start, 390u);
    EXPECT_EQ(DMLP_Unbind(binding), DMLP_SUCCESS);
}

// The routing plug-in is looked for beside the library's module path, C:\Program Files here.
class Routing : public ::testing::Test {
protected:
    void Install(const char* plugin)
    {
        const std::filesystem::path folder = std::filesystem::path(root.path()) / "drive_c" / "Program Files";
        std::filesystem::create_directories(folder);
        std::filesystem::copy_file(plugin, folder / "VxRouting.so");
    }
    std::string Journal()
    {
        std::ifstream file(journal);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }
    DmlpAddress BindAndReadLocal(uint16_t port)
    {
        DmlpInstance instance = 0;
        EXPECT_EQ(DMLP_Initialize(DMLP_INTERFACE_VERSION, nullptr, &instance), DMLP_SUCCESS);
        const DmlpAddress peer = Udp(port);
        DmlpEPProperty property = {};
        property.timeout = 1000;
        property.transmissions = 1;
        DmlpBinding binding = nullptr;
        DmlpAddress local = {};
        EXPECT_EQ(DMLP_Bind(instance, &peer, nullptr, &property, &binding), DMLP_SUCCESS);
        EXPECT_EQ(DMLP_GetEPAddress(binding, DMLP_EP_LOCAL, &local), DMLP_SUCCESS);
        EXPECT_EQ(DMLP_Terminate(instance), DMLP_SUCCESS);
        return local;
    }
    testsupport::TempRoot root;
    std::string journal = root.file("routing.journal");
};

TEST_F(Routing, ThePluginChoosesTheLocalAddressAndTheTransportItsPort)
{
    Install(VXROUTING_PLUGIN);
    setenv("VXROUTING_JOURNAL", journal.c_str(), 1);
    setenv("VXROUTING_LOCAL", "127.0.0.1", 1);
    Responder device;
    const DmlpAddress local = BindAndReadLocal(device.port());
    EXPECT_EQ(local.u.inet.address[0], 127);
    EXPECT_EQ(local.u.inet.address[3], 1);
    EXPECT_NE(local.u.inet.port, 0) << "the port is the transport's";
    const std::string lines = Journal();
    EXPECT_EQ(lines.find("initialize\n"), 0u) << lines;
    EXPECT_NE(lines.find("select 127.0.0.1:"), std::string::npos) << lines;
    EXPECT_NE(lines.find("shutdown\n"), std::string::npos) << "unloaded at the last stop";

    // A zero choice leaves the transport's own address.
    setenv("VXROUTING_LOCAL", "0.0.0.0", 1);
    const DmlpAddress fallback = BindAndReadLocal(device.port());
    EXPECT_EQ(fallback.u.inet.address[0], 127);
    EXPECT_NE(fallback.u.inet.port, 0);
    unsetenv("VXROUTING_JOURNAL");
    unsetenv("VXROUTING_LOCAL");
}

// A start whose worker never answers undoes the plug-in's loading too.
TEST_F(Routing, AFailedStartShutsThePluginDown)
{
    Install(VXROUTING_PLUGIN_WITHOUT_SELECT);
    setenv("VXROUTING_JOURNAL", journal.c_str(), 1);
    VxSrvcTestHoldNewThreads();
    DmlpInstance instance = 0;
    EXPECT_EQ(DMLP_Initialize(DMLP_INTERFACE_VERSION, nullptr, &instance), DMLP_INTERNAL_FAILURE);
    VxSrvcTestReleaseHeldThreads();
    EXPECT_EQ(Journal(), "initialize\nshutdown\n");
    unsetenv("VXROUTING_JOURNAL");
}

TEST_F(Routing, TheDeviceIsToldToReportEventsToTheAddressThePluginGives)
{
    Install(VXROUTING_PLUGIN);
    setenv("VXROUTING_JOURNAL", journal.c_str(), 1);
    setenv("VXROUTING_LOCAL", "127.0.0.1", 1);
    Responder device(Wire().u32(0).u32(0));
    DmlpInstance instance = 0;
    ASSERT_EQ(DMLP_Initialize(DMLP_INTERFACE_VERSION, nullptr, &instance), DMLP_SUCCESS);
    const DmlpAddress peer = Udp(device.port());
    DmlpEPProperty property = {};
    property.timeout = 5000;
    property.transmissions = 2;
    DmlpBinding binding = nullptr;
    ASSERT_EQ(DMLP_Bind(instance, &peer, nullptr, &property, &binding), DMLP_SUCCESS);
    // From now on the plug-in routes towards the device from 127.0.0.7; the event port listens on
    // any address, so without the plug-in the device would be told the binding's 127.0.0.1.
    setenv("VXROUTING_LOCAL", "127.0.0.7", 1);
    static std::atomic<int> events{0};
    events = 0;
    DmlpCallback callback = {};
    callback.kind = DMLP_CALLBACK_KIND;
    callback.function.event = [](const DmlpAddress*, void*, void* event) {
        DMLP_ReleaseParam(event);
        ++events;
    };
    const uint16_t ids[] = {18};
    const DmlpEventList list = {1, ids};
    ASSERT_EQ(DMLP_SubscribeEvent(binding, kObject, 0, 501, &list, 0x5A, &callback), DMLP_SUCCESS);
    ASSERT_EQ(device.requests().size(), 1u);
    const Bytes request = device.requests()[0];
    const size_t portAt = 20 + 9 + 10 + 7;
    ASSERT_GT(request.size(), portAt + 1);
    const uint16_t port = (uint16_t)(request[portAt] << 8 | request[portAt + 1]);
    const Bytes element = Wire().u16(1).u16(18).u32(7).u16(9).u16(2).u8(6).u8(127).u8(0).u8(0).u8(7).u16(port).u32(0x5A);
    EXPECT_EQ(Bytes(request.begin() + 20, request.end()), (Bytes)Wire().u8(3).u32(501).u16(2).u16(0).raw(element))
        << "AppendToList with the plug-in's address and the event port's port";
    EXPECT_NE(Journal().find("select 127.0.0.1:" + std::to_string(device.port()) + "/17 -> 127.0.0.7\n"),
              std::string::npos) << Journal();

    // The device reports there, and the event reaches the callback.
    Wire impressions;
    impressions.u16(18).u8(0).u16(0).u32(3).u32(0).u32(0).u32(0).u32(0).u32(2).u32(0).u32(0).u16(0).u16(0).u16(0).u8(0);
    device.SendTo("127.0.0.7", port, Frame(10, Wire().u32(501).u8(1).raw(impressions), 0, 0, 0));
    const DWORD start = GetTickCount();
    while (events == 0 && GetTickCount() - start < 10000)
        Sleep(1);
    EXPECT_EQ(events.load(), 1);
    EXPECT_EQ(DMLP_Unbind(binding), DMLP_SUCCESS);
    EXPECT_EQ(DMLP_Terminate(instance), DMLP_SUCCESS);
    unsetenv("VXROUTING_JOURNAL");
    unsetenv("VXROUTING_LOCAL");
}

TEST_F(Routing, APluginWithoutSelectOrNoPluginAtAllLeavesTheTransportsAddress)
{
    Responder device;
    const DmlpAddress none = BindAndReadLocal(device.port());
    EXPECT_EQ(none.u.inet.address[0], 127);
    EXPECT_NE(none.u.inet.port, 0);
    Install(VXROUTING_PLUGIN_WITHOUT_SELECT);
    setenv("VXROUTING_JOURNAL", journal.c_str(), 1);
    const DmlpAddress withoutSelect = BindAndReadLocal(device.port());
    EXPECT_EQ(withoutSelect.u.inet.address[0], 127);
    EXPECT_NE(withoutSelect.u.inet.port, 0);
    EXPECT_EQ(Journal(), "initialize\nshutdown\n");
    unsetenv("VXROUTING_JOURNAL");
}

} // namespace
