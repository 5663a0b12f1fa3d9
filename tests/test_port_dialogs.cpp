// Ports of the monitor added, configured and deleted with pal-spool: the UI runs in pal-spool's
// process, the monitor in the spooler host; input from a script file or from a terminal.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>

#include "TempRoot.h"
#include "pal/dialogs.h"
#include "pal/files.h"
#include "test_spooler_host.h"

using spoolertest::keyExists;
using spoolertest::monitorKey;
using spoolertest::readDword;
using spoolertest::runProgram;
using spoolertest::SpoolerHost;

namespace {

const std::u16string kPorts = monitorKey(u"TALLY-DESK Output Beacon Port2") + u"\\Ports\\";

class PortDialogs : public ::testing::Test {
protected:
    void SetUp() override
    {
        spoolertest::setStringValue(monitorKey(u"TALLY-DESK Output Beacon Port2"), u"Driver", u"JTRKMON2.DLL");
    }
    void start(const std::vector<std::string>& options = {}) { ASSERT_TRUE(started = host.start(options)); }
    void TearDown() override
    {
        if (started) {
            EXPECT_EQ(host.stop(), 0);
        }
    }
    std::string script(const std::string& text)
    {
        std::string path = root.file("script.txt");
        std::ofstream(path) << text;
        return path;
    }
    spoolertest::ProgramResult palSpool(const std::vector<std::string>& args)
    {
        std::vector<std::string> command = {"pal-spool"};
        command.insert(command.end(), args.begin(), args.end());
        return runProgram(command);
    }
    void addPort(const std::string& address)
    {
        auto result = palSpool({"add-port", "TALLY-DESK Output Beacon Port2", "--script", script("type 1033 " + address + "\nok\n")});
        ASSERT_EQ(result.exitCode, 0) << result.output;
    }

    testsupport::TempRoot root;
    SpoolerHost host;
    bool started = false;
};

TEST_F(PortDialogs, AddPortByScriptWritesTheWholeConfiguration)
{
    start();
    addPort("127.0.0.9");
    const std::u16string port = kPorts + u"KPX2_127.0.0.9";
    ASSERT_TRUE(keyExists(port));
    WCHAR server[64] = {};
    DWORD size = sizeof server;
    ASSERT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, port.c_str(), u"ServerName", RRF_RT_REG_SZ, nullptr, server, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(server), u"127.0.0.9");
    EXPECT_EQ(readDword(port, u"Protocol"), 1u);
    EXPECT_EQ(readDword(port, u"PortNumber"), 9100u);
    EXPECT_EQ(readDword(port, u"TransferMode"), 0u);
    const struct {
        const char16_t* name;
        DWORD value;
    } timeouts[] = {{u"RetryInfinity", 1}, {u"RetryCount", 5},      {u"RetryInterval", 5},  {u"LprRetryCount", 0},
                    {u"LprRetryTimeout", 10}, {u"WSAEventTimeout", 0}, {u"LprSendInterval", 0}};
    for (const auto& timeout : timeouts)
        EXPECT_EQ(readDword(port + u"\\Timeouts", timeout.name), timeout.value) << std::string(timeout.name, timeout.name + 3);
    auto again = palSpool({"add-port", "TALLY-DESK Output Beacon Port2", "--script",
                           script("answer ok\ntype 1033 127.0.0.9\nok\n")});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_NE(again.output.find("指定された名称のポートが既に存在します。"), std::string::npos) << again.output;
    EXPECT_NE(again.output.find("cancelled"), std::string::npos);
}

TEST_F(PortDialogs, ConfigurePortChangesItsPortNumber)
{
    start();
    addPort("127.0.0.9");
    auto result = palSpool({"configure-port", "KPX2_127.0.0.9", "--script", script("type 1040 9200\nok\n")});
    ASSERT_EQ(result.exitCode, 0) << result.output;
    EXPECT_EQ(readDword(kPorts + u"KPX2_127.0.0.9", u"PortNumber"), 9200u);
    auto cancelled = palSpool({"configure-port", "KPX2_127.0.0.9", "--script", script("type 1040 9300\ncancel\n")});
    EXPECT_EQ(cancelled.exitCode, 1);
    EXPECT_NE(cancelled.output.find("pal-spool: cancelled"), std::string::npos);
    EXPECT_EQ(readDword(kPorts + u"KPX2_127.0.0.9", u"PortNumber"), 9200u);
}

TEST_F(PortDialogs, DeletePortOfAUsedPortShowsWhy)
{
    start();
    addPort("127.0.0.9");
    addPort("127.0.0.10");
    auto printer = palSpool({"add-printer", "P1", "KPX2_127.0.0.9"});
    ASSERT_EQ(printer.exitCode, 0) << printer.output;
    auto used = palSpool({"delete-port", "KPX2_127.0.0.9"});
    EXPECT_EQ(used.exitCode, 1);
    EXPECT_NE(used.output.find("ポートの削除に失敗しました。 / 指定されたポートは使用中のため、削除できません。"),
              std::string::npos)
        << used.output;
    EXPECT_TRUE(keyExists(kPorts + u"KPX2_127.0.0.9"));
    auto unused = palSpool({"delete-port", "KPX2_127.0.0.10"});
    EXPECT_EQ(unused.exitCode, 0) << unused.output;
    EXPECT_FALSE(keyExists(kPorts + u"KPX2_127.0.0.10"));
}

TEST_F(PortDialogs, NonAdministratorsAreToldTheyMayNotDelete)
{
    spoolertest::setStringValue(kPorts + u"JT_A", u"ServerName", u"127.0.0.5");
    for (const char16_t* name : {u"Protocol", u"PortNumber", u"TransferMode"})
        spoolertest::setDwordValue(kPorts + u"JT_A", name, name[0] == u'P' && name[1] == u'r' ? 1 : name[0] == u'P' ? 9100 : 0);
    spoolertest::setStringValue(kPorts + u"JT_A", u"Queue", u"lp");
    for (const char16_t* name : {u"RetryInfinity", u"RetryCount", u"RetryInterval", u"LprRetryCount", u"LprRetryTimeout",
                                 u"WSAEventTimeout", u"LprSendInterval"})
        spoolertest::setDwordValue(kPorts + u"JT_A\\Timeouts", name, 1);
    start({"--non-admin"});
    auto result = palSpool({"delete-port", "JT_A"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.output.find("ポート削除の権限がありません。"), std::string::npos) << result.output;
    EXPECT_TRUE(keyExists(kPorts + u"JT_A"));
}

// This process runs the UI: the spooler API loads the module the monitor names.
TEST_F(PortDialogs, PortCallsLoadTheUiThatTheMonitorNames)
{
    start();
    palSetDialogTerminal(FALSE);
    palSetDialogScript("type 1033 127.0.0.12\nok\n");
    std::u16string monitor = u"TALLY-DESK Output Beacon Port2";
    ASSERT_TRUE(AddPortW(nullptr, GetDesktopWindow(), monitor.data())) << GetLastError();
    EXPECT_TRUE(keyExists(kPorts + u"KPX2_127.0.0.12"));
    EXPECT_EQ(GetModuleHandleW(u"JTRKMNUI2.DLL"), nullptr) << "the module is freed after the call";
    palSetDialogScript("cancel\n");
    std::u16string port = u"KPX2_127.0.0.12";
    EXPECT_FALSE(ConfigurePortW(nullptr, GetDesktopWindow(), port.data()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CANCELLED));
    palSetDialogScript(nullptr);
    EXPECT_TRUE(DeletePortW(nullptr, GetDesktopWindow(), port.data()));
    EXPECT_FALSE(keyExists(kPorts + u"KPX2_127.0.0.12"));
    std::u16string unknown = u"No Such Monitor";
    EXPECT_FALSE(AddPortW(nullptr, GetDesktopWindow(), unknown.data()));
    EXPECT_NE(GetLastError(), DWORD(ERROR_CANCELLED)) << "no monitor, no UI to cancel";
}

// pal-spool on a pseudo-terminal: the dialog is drawn as a form and the commands are typed.
class Terminal {
public:
    explicit Terminal(const std::vector<std::string>& args)
    {
        std::vector<char*> argv;
        std::string path = spoolertest::binaryDir() + "/" + args[0];
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
        if (pid_ == 0) {
            execv(path.c_str(), argv.data());
            _exit(127);
        }
    }
    ~Terminal()
    {
        if (master_ >= 0)
            close(master_);
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    // Reads until the output holds text (bounded); everything read so far.
    bool readUntil(const std::string& text, std::chrono::milliseconds limit = std::chrono::milliseconds(20000))
    {
        auto deadline = std::chrono::steady_clock::now() + limit;
        while (output_.find(text, seen_) == std::string::npos) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd fd = {master_, POLLIN, 0};
            if (left.count() <= 0 || poll(&fd, 1, int(left.count())) <= 0)
                return false;
            char buffer[4096];
            ssize_t got = read(master_, buffer, sizeof buffer);
            if (got <= 0)
                return false;
            output_.append(buffer, size_t(got));
        }
        seen_ = output_.find(text, seen_) + text.size();
        return true;
    }
    void type(const std::string& line) { ASSERT_EQ(write(master_, (line + "\n").data(), line.size() + 1), ssize_t(line.size() + 1)); }
    int exitCode()
    {
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    const std::string& output() const { return output_; }

private:
    pid_t pid_ = -1;
    int master_ = -1;
    std::string output_;
    size_t seen_ = 0;
};

TEST_F(PortDialogs, TerminalDrawsTheFormAndReadsTheCommands)
{
    start();
    addPort("127.0.0.9");
    Terminal terminal({"pal-spool", "configure-port", "KPX2_127.0.0.9"});
    ASSERT_TRUE(terminal.readUntil("> ")) << terminal.output();
    EXPECT_NE(terminal.output().find("== ポートの構成 =="), std::string::npos) << terminal.output();
    EXPECT_NE(terminal.output().find("[1040] ポート番号(&P)： \"9100\""), std::string::npos) << terminal.output();
    EXPECT_NE(terminal.output().find("[1045] [x]  エラー発生時はジョブが終了するまでリトライを続ける(&U)"), std::string::npos);
    EXPECT_NE(terminal.output().find("[1048] リトライ間隔(&I)： \"5\" (disabled)"), std::string::npos);
    EXPECT_EQ(terminal.output().find("[1044]"), std::string::npos) << "hidden for RAW";
    terminal.type("help");
    ASSERT_TRUE(terminal.readUntil("answer ok|yes|no|cancel"));
    terminal.type("type 1048 7");
    ASSERT_TRUE(terminal.readUntil("refused: control 1048 is disabled"));
    terminal.type("type 1040 0");
    terminal.type("ok");
    ASSERT_TRUE(terminal.readUntil("answer (ok, yes, no, cancel)> ")) << terminal.output();
    EXPECT_NE(terminal.output().find("ポート番号は数値で指定してください。"), std::string::npos);
    terminal.type("ok");
    ASSERT_TRUE(terminal.readUntil("> "));
    terminal.type("type 1040 9300");
    terminal.type("ok");
    EXPECT_EQ(terminal.exitCode(), 0) << terminal.output();
    EXPECT_EQ(readDword(kPorts + u"KPX2_127.0.0.9", u"PortNumber"), 9300u);
}

} // namespace
