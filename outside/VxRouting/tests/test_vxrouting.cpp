// The routing plug-in, loaded the way the protocol library loads it: by its Windows path.
#include <gtest/gtest.h>

#include <windows.h>

#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "TempRoot.h"
#include "TestFiles.h"
#include "VxRouting.h"

namespace {

using testsupport::TempRoot;

class VxRoutingPlugin : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("VXROUTING_JOURNAL", root.file("journal.txt").c_str(), 1);
        unsetenv("VXROUTING_LOCAL");
    }
    void TearDown() override
    {
        if (module != nullptr)
            FreeLibrary(module);
        unsetenv("VXROUTING_JOURNAL");
        unsetenv("VXROUTING_LOCAL");
    }
    void install(const char* built)
    {
        std::filesystem::create_directories(root.file("drive_c/Program Files"));
        std::filesystem::copy_file(built, root.file("drive_c/Program Files/VxRouting.so"));
        module = LoadLibraryExA("C:\\Program Files\\VxRouting.dll", nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        ASSERT_NE(module, nullptr);
    }
    static VxTransAddressPair pairTo(const char* peer, uint16_t port, uint32_t protocol)
    {
        VxTransAddressPair pair{};
        pair.peer.family = VXTRANS_FAMILY_INET;
        const uint16_t netPort = htons(port);
        std::memcpy(pair.peer.bytes, &netPort, 2);
        inet_pton(AF_INET, peer, pair.peer.bytes + 2);
        pair.protocol = protocol;
        std::memset(&pair.local, 0xEE, sizeof pair.local);
        return pair;
    }
    TempRoot root;
    HMODULE module = nullptr;
};

TEST_F(VxRoutingPlugin, SelectFillsTheChosenLocalAddressAndJournalsEachCall)
{
    install(VXROUTING_PLUGIN);
    auto initialize = reinterpret_cast<VxRoutingInitializeProc>(GetProcAddress(module, VXROUTING_INITIALIZE_NAME));
    auto select = reinterpret_cast<VxRoutingSelectProc>(GetProcAddress(module, VXROUTING_SELECT_NAME));
    auto shutdown = reinterpret_cast<VxRoutingShutdownProc>(GetProcAddress(module, VXROUTING_SHUTDOWN_NAME));
    ASSERT_TRUE(initialize && select && shutdown);

    initialize();
    setenv("VXROUTING_LOCAL", "127.0.0.77", 1);
    VxTransAddressPair pair = pairTo("127.0.0.5", 47545, VXTRANS_PROTOCOL_UDP);
    select(&pair);
    const uint8_t chosen[] = {0x02, 0x00, 0x00, 0x00, 127, 0, 0, 77, 0, 0};
    EXPECT_EQ(std::memcmp(&pair.local, chosen, sizeof chosen), 0) << "family 2, port 0, 127.0.0.77, zeros";

    setenv("VXROUTING_LOCAL", "0.0.0.0", 1);
    select(&pair);
    const VxTransAddress none{};
    EXPECT_EQ(std::memcmp(&pair.local, &none, sizeof none), 0) << "no choice: the local half stays zero";

    unsetenv("VXROUTING_LOCAL");
    pair = pairTo("127.0.0.5", 47545, VXTRANS_PROTOCOL_TCP);
    select(&pair);
    EXPECT_EQ(pair.local.family, VXTRANS_FAMILY_INET);
    EXPECT_EQ(pair.local.bytes[2], 127) << "the system routes loopback from loopback";
    shutdown();

    const std::string journal = testsupport::readText(root.file("journal.txt"));
    const std::string first = "initialize\n"
                              "select 127.0.0.5:47545/17 -> 127.0.0.77\n"
                              "select 127.0.0.5:47545/17 -> 0.0.0.0\n"
                              "select 127.0.0.5:47545/6 -> 127.";
    EXPECT_EQ(journal.substr(0, first.size()), first);
    EXPECT_EQ(journal.substr(journal.size() - 9), "shutdown\n");
}

TEST_F(VxRoutingPlugin, TheBuildWithoutSelectExportsOnlyTheOtherTwo)
{
    install(VXROUTING_PLUGIN_WITHOUT_SELECT);
    EXPECT_NE(GetProcAddress(module, VXROUTING_INITIALIZE_NAME), nullptr);
    EXPECT_EQ(GetProcAddress(module, VXROUTING_SELECT_NAME), nullptr);
    EXPECT_NE(GetProcAddress(module, VXROUTING_SHUTDOWN_NAME), nullptr);
}

TEST(VxRoutingBuild, ThePluginIsNotInTheFolderOfTheOtherModules)
{
    const std::filesystem::path plugin(VXROUTING_PLUGIN);
    EXPECT_FALSE(std::filesystem::exists(plugin.parent_path().parent_path().parent_path() / "bin" / "VxRouting.so"));
    EXPECT_EQ(plugin.filename(), "VxRouting.so");
}

} // namespace
