#include "CommandLine.h"

#include <arpa/inet.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace devsim {

const char kUsage[] =
    "Usage: devsim [options]\n"
    "Plays one or more network printers, each on its own loopback address (all of 127.0.0.0/8\n"
    "reaches this machine, so 127.0.0.5 needs no set-up). A printer takes jobs by RAW printing\n"
    "(every connection is one job, its bytes exactly as sent) and, when given an LPR port, by LPR\n"
    "(RFC 1179: the receive-job command with its control-file, data-file and abort subcommands;\n"
    "data files announced by size or ended by the connection's close). It answers DMLP requests\n"
    "on UDP about its job objects (one per job, with the client job id read from the job messages\n"
    "at the front of the data) and its state, and sends event notifications to its subscribers.\n"
    "\n"
    "Printers:\n"
    "  --device ADDRESS       begin another printer on ADDRESS; the printer options that follow\n"
    "                         (up to the next --device) are its own. Printer options before the\n"
    "                         first --device belong to a printer on 127.0.0.1.\n"
    "  --raw [ADDRESS:]PORT   its RAW port (default 9100; port 0 takes a free port)\n"
    "  --no-raw               no RAW port\n"
    "  --lpr [ADDRESS:]PORT   an LPR port (515 needs privileges; port 0 takes a free port)\n"
    "RAW behaviour (per printer):\n"
    "  --close-after N        close the connection (FIN) after N bytes of a job\n"
    "  --reset-after N        reset the connection (RST) after N bytes of a job\n"
    "  --stall-after N        stop reading after N bytes of a job, so that the sender blocks\n"
    "  --resume-after MS      read on MS milliseconds after a stall (default: never)\n"
    "  --close-delay MS       close MS milliseconds after the sender's shutdown (default 0)\n"
    "  --no-listen            bind the RAW port but do not listen: connections are refused\n"
    "DMLP (per printer):\n"
    "  --dmlp [ADDRESS:]PORT  its DMLP port on UDP (default 47545; port 0 takes a free port)\n"
    "  --no-dmlp              no DMLP\n"
    "  --dmlp-tcp             DMLP on TCP too, on the same port number\n"
    "  --dmlp-fault RULE      METHOD:ACTION[/N]: METHOD a name (Echo, Get2, ListObjects2, TraceJob,\n"
    "                         CancelJob, AppendToList, DeleteFromList, SetListElement), a number or\n"
    "                         any; ACTION drop, delay:MS, duplicate, malformed:magic|length|nostatus|\n"
    "                         body, status:N or parts:N. METHOD event for notifications: drop,\n"
    "                         duplicate, after-unsubscribe, unreachable. /N: the next N only.\n"
    "  --print-time MS        a job prints this long once its data is in (default 1000)\n"
    "  --impressions N        impressions of each job, rising while it prints (default 1)\n"
    "  --keep-done MS         a done job stays listed this long, then goes to the job log (default 5000)\n"
    "  --no-282               the device does not report its state as attribute 282\n"
    "  --no-106               the device does not offer SetListElement (106)\n"
    "LPR behaviour (per printer):\n"
    "  --lpr-script SCRIPT    how to answer every connection (default: acknowledge every step)\n"
    "  --lpr-once SCRIPT      how to answer the next connection only; repeat it for the ones after\n"
    "  --size-unknown-from N  data-file counts of 0 or at least N announce a file that ends with\n"
    "                         the connection (default 1000000000000)\n"
    "  SCRIPT is a comma-separated list of STEP=ANSWER, where STEP is queue, cf-command, cf,\n"
    "  df-command or df (the file steps answer after the file and its 0 byte) and ANSWER is ack,\n"
    "  refuse[:BYTE] (default byte 1), stall (never answer), close or reset; df@N=stall|close|reset\n"
    "  acts after N bytes of each data file. Example: --lpr-script cf=refuse:2,df@4096=close\n"
    "General:\n"
    "  --control PATH         serve control commands on the Unix socket PATH (client: devsim-ctl)\n"
    "  --request-log FILE     append one line per DMLP request to FILE\n"
    "  --subscription-lifetime MS  subscriptions not renewed within MS end (default: never)\n"
    "  --broadcast            answer Echo sent to 127.255.255.255:47545 from every device\n"
    "  --completions-per-second N  jobs of all printers complete at most N a second\n"
    "  --root DIR             platform root, whose ICMP stub table a power-off writes (default PAL_ROOT)\n"
    "  --config FILE          read options from FILE (separated by white space; # starts a comment)\n"
    "  --out DIR              write RAW jobs to DIR/raw-NNNNN.bin and LPR jobs to DIR/lpr-NNNNN.cf\n"
    "                         (control file), .df (data file; .df2 and on for more), .stream (every\n"
    "                         byte received), numbered from 1 over all printers\n"
    "  --jobs N               exit after N jobs (RAW and LPR, all printers) have ended\n"
    "  --help                 show this help\n"
    "\n"
    "Prints \"devsim: RAW on ADDRESS:PORT\", \"devsim: LPR on ADDRESS:PORT\" and \"devsim: DMLP on\n"
    "ADDRESS:PORT (udp)\" for each port when it is ready, one line per finished job, per completed\n"
    "job object and per subscription change; runs until SIGINT or SIGTERM (or --jobs). Exit status\n"
    "0, 1 when a port cannot be opened or DIR cannot be made, 2 for a wrong command line.\n";

namespace {

constexpr int kMostConfigFiles = 64;

bool parseNumber(const std::string& text, uint64_t& value)
{
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::stoull(text);
    return true;
}

bool isAddress(const std::string& text)
{
    in_addr address;
    return inet_pton(AF_INET, text.c_str(), &address) == 1;
}

// The words of a configuration file; false when it cannot be read.
bool readConfig(const std::string& path, std::vector<std::string>& words)
{
    std::ifstream file(path);
    if (!file)
        return false;
    std::string line;
    while (std::getline(file, line)) {
        std::istringstream text(line.substr(0, line.find('#')));
        std::string word;
        while (text >> word)
            words.push_back(word);
    }
    return !file.bad();
}

// Puts the words of every --config FILE in its place.
std::string expandConfigs(std::vector<std::string>& words)
{
    int expanded = 0;
    for (size_t i = 0; i < words.size();) {
        if (words[i] != "--config") {
            ++i;
            continue;
        }
        if (i + 1 == words.size())
            return "option --config needs a value";
        if (++expanded > kMostConfigFiles)
            return "more than " + std::to_string(kMostConfigFiles) + " --config files (do they include each other?)";
        std::vector<std::string> content;
        if (!readConfig(words[i + 1], content))
            return "cannot read the configuration file '" + words[i + 1] + "'";
        words.erase(words.begin() + static_cast<std::ptrdiff_t>(i), words.begin() + static_cast<std::ptrdiff_t>(i + 2));
        words.insert(words.begin() + static_cast<std::ptrdiff_t>(i), content.begin(), content.end());
    }
    return {};
}

class Parser {
public:
    explicit Parser(Settings& settings) : settings_(settings) {}

    std::string parse(const std::vector<std::string>& words);

private:
    struct Printer {
        PrinterSettings settings;
        bool addressGiven = false;
    };

    Printer& current();
    bool takeFlag(const std::string& option);
    std::string takeValue(const std::string& option, const std::string& value);
    std::string takeRawNumber(const std::string& option, const std::string& value);
    std::string takeEndpoint(const std::string& option, const std::string& value, uint16_t& port);
    std::string takeScript(const std::string& option, const std::string& value);
    std::string finish();

    Settings& settings_;
    std::vector<Printer> printers_;
};

std::string Parser::parse(const std::vector<std::string>& words)
{
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& option = words[i];
        if (takeFlag(option))
            continue;
        if (i + 1 == words.size())
            return option.rfind("--", 0) == 0 ? "option " + option + " needs a value"
                                              : "unexpected argument '" + option + "'";
        std::string complaint = takeValue(option, words[++i]);
        if (!complaint.empty())
            return complaint;
    }
    return finish();
}

Parser::Printer& Parser::current()
{
    if (printers_.empty())
        printers_.emplace_back();
    return printers_.back();
}

bool Parser::takeFlag(const std::string& option)
{
    if (option == "--help")
        settings_.help = true;
    else if (option == "--no-listen")
        current().settings.rawOptions.listen = false;
    else if (option == "--no-raw")
        current().settings.raw = false;
    else if (option == "--no-dmlp")
        current().settings.device.dmlp = false;
    else if (option == "--dmlp-tcp")
        current().settings.device.dmlpTcp = true;
    else if (option == "--no-282")
        current().settings.device.reportsDeviceState = false;
    else if (option == "--no-106")
        current().settings.device.setsListElements = false;
    else if (option == "--broadcast")
        settings_.simulator.broadcast = true;
    else
        return false;
    return true;
}

std::string Parser::takeValue(const std::string& option, const std::string& value)
{
    if (option == "--device") {
        if (!isAddress(value))
            return "--device wants an IPv4 address, not '" + value + "'";
        printers_.emplace_back();
        printers_.back().settings.address = value;
        printers_.back().addressGiven = true;
        return {};
    }
    if (option == "--raw") {
        current().settings.raw = true;
        return takeEndpoint(option, value, current().settings.rawOptions.port);
    }
    if (option == "--lpr") {
        current().settings.lpr = true;
        return takeEndpoint(option, value, current().settings.lprOptions.port);
    }
    if (option == "--dmlp") {
        current().settings.device.dmlp = true;
        return takeEndpoint(option, value, current().settings.device.dmlpPort);
    }
    if (option == "--dmlp-fault") {
        FaultRule rule;
        std::string complaint = parseFaultRule(value, rule);
        if (!complaint.empty())
            return "--dmlp-fault: " + complaint;
        current().settings.device.faults.push_back(rule);
        return {};
    }
    if (option == "--lpr-script" || option == "--lpr-once")
        return takeScript(option, value);
    for (auto [name, text] : {std::pair{"--out", &settings_.outFolder}, {"--control", &settings_.simulator.control},
                              {"--request-log", &settings_.simulator.requestLog}, {"--root", &settings_.simulator.root}})
        if (option == name) {
            *text = value;
            return {};
        }
    return takeRawNumber(option, value);
}

std::string Parser::takeRawNumber(const std::string& option, const std::string& value)
{
    uint64_t number = 0;
    const bool numeric = parseNumber(value, number);
    RawSinkOptions& raw = current().settings.rawOptions;
    const std::string wrong = option + " wants a number, not '" + value + "'";
    if (option == "--close-after")
        raw.closeAfter = number;
    else if (option == "--reset-after")
        raw.resetAfter = number;
    else if (option == "--stall-after")
        raw.stallAfter = number;
    else if (option == "--resume-after")
        raw.resumeAfter = std::chrono::milliseconds(number);
    else if (option == "--close-delay")
        raw.closeDelay = std::chrono::milliseconds(number);
    else if (option == "--size-unknown-from")
        current().settings.lprOptions.sizeUnknownFrom = number;
    else if (option == "--jobs")
        settings_.jobLimit = number;
    else if (option == "--print-time")
        current().settings.device.printTime = std::chrono::milliseconds(number);
    else if (option == "--keep-done")
        current().settings.device.keepDone = std::chrono::milliseconds(number);
    else if (option == "--impressions")
        current().settings.device.impressions = static_cast<uint32_t>(std::min<uint64_t>(number, 100000));
    else if (option == "--subscription-lifetime")
        settings_.simulator.subscriptionLifetime = std::chrono::milliseconds(number);
    else if (option == "--completions-per-second")
        settings_.simulator.completionsPerSecond = static_cast<double>(number);
    else
        return "unknown option '" + option + "'";
    return numeric ? std::string() : wrong;
}

// "[ADDRESS:]PORT"; an address must be the printer's own (it sets the first printer's).
std::string Parser::takeEndpoint(const std::string& option, const std::string& value, uint16_t& port)
{
    const size_t colon = value.rfind(':');
    const std::string address = colon == std::string::npos ? std::string() : value.substr(0, colon);
    uint64_t number = 0;
    const bool addressRight = colon == std::string::npos || isAddress(address);
    if (!parseNumber(value.substr(colon + 1), number) || number > 65535 || !addressRight)
        return option + " wants [IPv4-ADDRESS:]PORT, not '" + value + "'";
    Printer& printer = current();
    if (!address.empty()) {
        if (printer.addressGiven && address != printer.settings.address)
            return option + " " + value + " is not on the printer's address " + printer.settings.address;
        printer.settings.address = address;
        printer.addressGiven = true;
    }
    port = static_cast<uint16_t>(number);
    return {};
}

std::string Parser::takeScript(const std::string& option, const std::string& value)
{
    LprScript script;
    std::string complaint;
    if (!parseLprScript(value, script, complaint))
        return option + ": " + complaint;
    if (option == "--lpr-script")
        current().settings.lprOptions.script = std::move(script);
    else
        current().settings.lprOnce.push_back(std::move(script));
    return {};
}

std::string Parser::finish()
{
    current(); // without printer options, one printer with the defaults
    if (settings_.simulator.root.empty())
        if (const char* root = std::getenv("PAL_ROOT"))
            settings_.simulator.root = root;
    for (Printer& printer : printers_) {
        PrinterSettings& settings = printer.settings;
        if (!settings.raw && !settings.lpr && !settings.device.dmlp)
            return "the printer on " + settings.address + " has no port (--no-raw and --no-dmlp without --lpr)";
        settings.rawOptions.address = settings.lprOptions.address = settings.device.address = settings.address;
        settings_.printers.push_back(std::move(settings));
    }
    return {};
}

} // namespace

std::string parseCommandLine(const std::vector<std::string>& arguments, Settings& settings)
{
    std::vector<std::string> words = arguments;
    std::string complaint = expandConfigs(words);
    return complaint.empty() ? Parser(settings).parse(words) : complaint;
}

} // namespace devsim
