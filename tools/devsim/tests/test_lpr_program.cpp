// The devsim program with several printers and LPR ports, started as tests and the demo start it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "ChildProcess.h"
#include "LprClient.h"
#include "LprReceiver.h"
#include "TempRoot.h"

namespace {

using lprtest::Heard;
using lprtest::LprClient;
using testsupport::ChildProcess;

template <size_t Size>
std::string bytes(const char (&text)[Size])
{
    return std::string(text, Size - 1);
}

const Heard kAck = Heard::of(0);
const Heard kClosed{Heard::Closed};
const std::string kQueueCommand = bytes("\x02lp\n");
const std::string kControlFileCommand = bytes("\x02" "58 cfA123PC1\n");
const std::string kControlFile = "HPC1\nPalice\nJreport.txt\nNreport.txt\nldfA123PC1\nUdfA123PC1\n";

std::string pattern(size_t size, unsigned seed)
{
    std::string text(size, '\0');
    for (size_t i = 0; i < size; ++i)
        text[i] = static_cast<char>((i * 131 + seed) % 251);
    return text;
}

std::string fileText(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The port of a ready line "devsim: KIND on ADDRESS:PORT"; 0 when the line is another.
uint16_t readyPort(const std::string& line, const std::string& kindAndAddress)
{
    const std::string prefix = "devsim: " + kindAndAddress + ":";
    if (line.rfind(prefix, 0) != 0)
        return 0;
    return static_cast<uint16_t>(std::stoi(line.substr(prefix.size())));
}

// Queue, control file and data-file command, each acknowledged.
void sendHead(LprClient& client, const std::string& dataFileCommand)
{
    EXPECT_EQ(client.exchange(kQueueCommand), kAck);
    EXPECT_EQ(client.exchange(kControlFileCommand), kAck);
    EXPECT_EQ(client.exchange(kControlFile + '\0'), kAck);
    EXPECT_EQ(client.exchange(dataFileCommand), kAck);
}

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

TEST(DevsimLprProgram, ServesSeveralPrintersAndWritesTheirJobs)
{
    testsupport::TempRoot root;
    const std::string out = root.file("jobs");
    ChildProcess devsim(DEVSIM_PROGRAM, {"--device", "127.0.0.5", "--raw", "0", "--lpr", "0", "--no-dmlp", "--device",
                                         "127.0.0.6", "--no-raw", "--lpr", "0", "--no-dmlp", "--out", out, "--jobs", "3"});
    const uint16_t raw5 = readyPort(devsim.readLine(), "RAW on 127.0.0.5");
    const uint16_t lpr5 = readyPort(devsim.readLine(), "LPR on 127.0.0.5");
    const uint16_t lpr6 = readyPort(devsim.readLine(), "LPR on 127.0.0.6");
    ASSERT_TRUE(raw5 && lpr5 && lpr6);

    const std::string countedData = bytes("\x1b" "Ehello\0world\n");
    {
        LprClient client("127.0.0.5", lpr5);
        sendHead(client, bytes("\x03" "14 dfA123PC1\n"));
        EXPECT_EQ(client.exchange(countedData + '\0'), kAck);
        client.shutdownSend();
        EXPECT_EQ(client.next(), kClosed);
    }
    std::string line = devsim.readLine();
    EXPECT_TRUE(contains(line, "devsim: LPR job 1 on 127.0.0.5:" + std::to_string(lpr5) + " from ")) << line;
    EXPECT_TRUE(contains(line, ": queue 'lp', 14 data bytes by count, complete -> " + out + "/lpr-00001.*")) << line;

    const std::string streamedData = pattern(300000, 1);
    {
        LprClient client("127.0.0.6", lpr6);
        sendHead(client, bytes("\x03" "125899906843000 dfA123PC1\n"));
        ASSERT_TRUE(client.send(streamedData));
        client.shutdownSend();
        EXPECT_EQ(client.next(), kClosed);
    }
    line = devsim.readLine();
    EXPECT_TRUE(contains(line, "devsim: LPR job 2 on 127.0.0.6:" + std::to_string(lpr6) + " from ")) << line;
    EXPECT_TRUE(contains(line, "300000 data bytes ended by close, complete -> " + out + "/lpr-00002.*")) << line;

    const std::string rawData = pattern(1000, 2);
    {
        LprClient client("127.0.0.5", raw5);
        ASSERT_TRUE(client.send(rawData));
        client.shutdownSend();
        EXPECT_EQ(client.next(), kClosed);
    }
    line = devsim.readLine();
    EXPECT_TRUE(contains(line, "devsim: RAW job 1 on 127.0.0.5:" + std::to_string(raw5) + " from ")) << line;
    EXPECT_TRUE(contains(line, ": 1000 bytes, sender closed -> " + out + "/raw-00001.bin")) << line;

    std::string output, errors;
    EXPECT_EQ(devsim.finish(output, errors), 0) << "it ends after --jobs 3: " << errors;
    EXPECT_EQ(fileText(out + "/lpr-00001.cf"), kControlFile);
    EXPECT_EQ(fileText(out + "/lpr-00001.df"), countedData);
    EXPECT_EQ(fileText(out + "/lpr-00001.stream"), kQueueCommand + kControlFileCommand + kControlFile + '\0' +
                                                       bytes("\x03" "14 dfA123PC1\n") + countedData + '\0');
    EXPECT_TRUE(fileText(out + "/lpr-00002.df") == streamedData);
    EXPECT_FALSE(std::filesystem::exists(out + "/lpr-00002.df2"));
    EXPECT_TRUE(fileText(out + "/raw-00001.bin") == rawData);
}

TEST(DevsimLprProgram, AnswersAsItsScriptsFromAConfigurationFileSay)
{
    testsupport::TempRoot root;
    const std::string config = root.file("printers.conf");
    std::ofstream(config) << "# a printer that refuses control files\n"
                             "--device 127.0.0.5 --no-raw --no-dmlp --lpr 0\n"
                             "--lpr-script cf=refuse:1   # every connection\n"
                             "--lpr-once queue=refuse:2  # but the first\n";
    ChildProcess devsim(DEVSIM_PROGRAM, {"--config", config, "--jobs", "2"});
    const uint16_t port = readyPort(devsim.readLine(), "LPR on 127.0.0.5");
    ASSERT_NE(port, 0);
    {
        LprClient client("127.0.0.5", port);
        EXPECT_EQ(client.exchange(kQueueCommand), Heard::of(2));
    }
    std::string line = devsim.readLine();
    EXPECT_TRUE(contains(line, "queue 'lp', no data file, incomplete: sender closed, refused at queue")) << line;
    {
        LprClient client("127.0.0.5", port);
        EXPECT_EQ(client.exchange(kQueueCommand), kAck);
        EXPECT_EQ(client.exchange(kControlFileCommand), kAck);
        EXPECT_EQ(client.exchange(kControlFile + '\0'), Heard::of(1));
    }
    line = devsim.readLine();
    EXPECT_TRUE(contains(line, "queue 'lp', no data file, incomplete: sender closed, refused at cf")) << line;
    std::string output, errors;
    EXPECT_EQ(devsim.finish(output, errors), 0) << errors;
}

struct WrongLine {
    std::vector<std::string> arguments;
    const char* complaint;
};

TEST(DevsimLprProgram, WrongCommandLinesAreRefused)
{
    const std::vector<WrongLine> wrong{
        {{"--lpr-script", "cf=maybe"}, "--lpr-script: cannot read 'cf=maybe'"},
        {{"--lpr-once", "df@x=close"}, "--lpr-once: cannot read 'df@x=close'"},
        {{"--device", "127.0.0.5", "--raw", "127.0.0.6:0"},
         "--raw 127.0.0.6:0 is not on the printer's address 127.0.0.5"},
        {{"--raw", "127.0.0.6:0", "--lpr", "127.0.0.5:0"}, "is not on the printer's address 127.0.0.6"},
        {{"--device", "localhost"}, "--device wants an IPv4 address, not 'localhost'"},
        {{"--lpr", "70000"}, "--lpr wants [IPv4-ADDRESS:]PORT, not '70000'"},
        {{"--no-raw", "--no-dmlp"}, "the printer on 127.0.0.1 has no port"},
        {{"--size-unknown-from", "many"}, "--size-unknown-from wants a number"},
        {{"--config", "/nonexistent/devsim.conf"}, "cannot read the configuration file '/nonexistent/devsim.conf'"},
    };
    for (const WrongLine& line : wrong) {
        testsupport::ChildOptions options;
        options.pipeErrors = true;
        const auto result = testsupport::runProgram(DEVSIM_PROGRAM, line.arguments, options);
        EXPECT_EQ(result.status, 2) << line.complaint;
        EXPECT_TRUE(contains(result.err, line.complaint)) << result.err;
    }

    const auto help = testsupport::runProgram(DEVSIM_PROGRAM, {"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* option :
         {"--device", "--lpr [ADDRESS:]PORT", "--lpr-script", "--lpr-once", "--config", "--no-raw"})
        EXPECT_TRUE(contains(help.out, option)) << option;
}

TEST(DevsimLprProgram, ABusyLprPortEndsTheProgram)
{
    devsim::LprReceiverOptions options;
    options.address = "127.0.0.5";
    options.port = 0;
    devsim::LprReceiver busy(options);
    std::string error;
    ASSERT_TRUE(busy.start(error)) << error;
    const std::string where = "127.0.0.5:" + std::to_string(busy.port());
    testsupport::ChildOptions childOptions;
    childOptions.pipeErrors = true;
    const auto result = testsupport::runProgram(DEVSIM_PROGRAM, {"--no-raw", "--no-dmlp", "--lpr", where}, childOptions);
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(contains(result.err, "cannot listen on " + where)) << result.err;
}

} // namespace
