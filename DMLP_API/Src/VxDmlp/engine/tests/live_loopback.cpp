// VxDmlp.so over the real transport on loopback: exports by name and ordinal, a request answered
// by a small UDP responder, and an absent device timing out.
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
#include <sstream>
#include <thread>

#include "../../tests/WireBytes.h"
#include "TempRoot.h"
#include "VxDmlpApi.h"
#include "VxSrvc.h"

namespace {

const uint32_t kObject[2] = {1, 2};

// Answers every CancelJob with status 1 and the uint32 0xC0FFEE, until stopped.
class Responder {
public:
    Responder()
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
            const Bytes reply = Frame(method, Wire().u32(0xC0FFEE), 1, DMLP_FLAG_STATUS, id);
            sendto(socket_, reply.data(), reply.size(), 0, (sockaddr*)&peer, length);
            ++answered_;
        }
    }
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
