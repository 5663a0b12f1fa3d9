// pal-print: submits a file to a printer of the spooler host and prints the job id.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "common/ToolSupport.h"
#include "pal/system.h"
#include "pal/winspool.h"

namespace {

const char kUsage[] =
    "usage: pal-print [--root DIR] PRINTER FILE [--document NAME] [--user NAME]\n"
    "                 [--copies N] [--collate] [--duplex N] [--color N]\n"
    "\n"
    "Submits FILE (\"-\" for standard input) to PRINTER through the spooler host spoolsv\n"
    "and prints the id of the new job.\n"
    "\n"
    "  --document NAME  the job's document name (default: FILE without its folder)\n"
    "  --user NAME      submit the job as this user (default: the platform's user)\n"
    "  --copies N       copies (1-9999)\n"
    "  --collate        collated copies\n"
    "  --duplex N       1 simplex, 2 long edge, 3 short edge\n"
    "  --color N        1 monochrome, 2 color\n"
    "Any of the last four gives the job a device mode (GetJobW level 2 pDevMode) with the\n"
    "fields given (copies 1, not collated, simplex, monochrome otherwise); without them the\n"
    "job has none.\n"
    "  --root DIR       platform root (default: PAL_ROOT)\n"
    "  --help           show this text\n"
    "Exit status 0 when the job was submitted; 1 when the file cannot be read or the\n"
    "spooler refuses the job; 2 for a wrong command line.\n";

constexpr size_t kPiece = 256 * 1024;

using tool::kExitFailure;
using tool::widen;

struct Options {
    std::string root;
    std::string printer;
    std::string file;
    std::string document;
    std::string user;
    std::optional<DEVMODEW> devMode;
};

DEVMODEW& devModeOf(Options& options)
{
    if (!options.devMode) {
        DEVMODEW devMode{};
        devMode.dmSpecVersion = DM_SPECVERSION;
        devMode.dmSize = sizeof(DEVMODEW);
        devMode.dmFields = DM_COPIES | DM_COLLATE | DM_DUPLEX | DM_COLOR;
        devMode.dmCopies = 1;
        devMode.dmCollate = DMCOLLATE_FALSE;
        devMode.dmDuplex = DMDUP_SIMPLEX;
        devMode.dmColor = DMCOLOR_MONOCHROME;
        options.devMode = devMode;
    }
    return *options.devMode;
}

// A whole number in [low, high], else nothing.
std::optional<SHORT> numberIn(const std::string& text, long low, long high)
{
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end || value < low || value > high)
        return std::nullopt;
    return SHORT(value);
}

int usageError(const std::string& message)
{
    return tool::usageError("pal-print", message);
}

// Reports a failed call with its last error; false.
bool failed(const char* what)
{
    std::fprintf(stderr, "pal-print: %s failed: error %u\n", what, unsigned(GetLastError()));
    return false;
}

// The exit code when the program is not to print (help, errors), else nothing.
std::optional<int> parseOptions(const std::vector<std::string>& args, Options& options)
{
    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        bool takesValue = arg == "--root" || arg == "--document" || arg == "--user" || arg == "--copies" ||
                          arg == "--duplex" || arg == "--color";
        if (takesValue && i + 1 >= args.size())
            return usageError("missing value of " + arg);
        if (arg == "--root")
            options.root = args[++i];
        else if (arg == "--document")
            options.document = args[++i];
        else if (arg == "--user")
            options.user = args[++i];
        else if (arg == "--collate")
            devModeOf(options).dmCollate = DMCOLLATE_TRUE;
        else if (arg == "--copies" || arg == "--duplex" || arg == "--color") {
            std::optional<SHORT> value = arg == "--copies"   ? numberIn(args[++i], 1, 9999)
                                         : arg == "--duplex" ? numberIn(args[++i], DMDUP_SIMPLEX, DMDUP_HORIZONTAL)
                                                             : numberIn(args[++i], DMCOLOR_MONOCHROME, DMCOLOR_COLOR);
            if (!value)
                return usageError("bad value of " + arg + ": " + args[i]);
            DEVMODEW& devMode = devModeOf(options);
            (arg == "--copies" ? devMode.dmCopies : arg == "--duplex" ? devMode.dmDuplex : devMode.dmColor) = *value;
        }
        else if (arg.size() > 1 && arg[0] == '-' && arg != "-")
            return usageError("unknown option: " + arg);
        else
            positional.push_back(arg);
    }
    if (positional.size() != 2)
        return usageError("PRINTER and FILE are needed");
    if (!tool::usePlatformRoot(options.root))
        return usageError(tool::kNoPlatformRoot);
    options.printer = positional[0];
    options.file = positional[1];
    if (options.document.empty())
        options.document = options.file == "-" ? "stdin" : options.file.substr(options.file.find_last_of('/') + 1);
    return std::nullopt;
}

FILE* openInput(const std::string& file)
{
    FILE* input = file == "-" ? stdin : std::fopen(file.c_str(), "rb");
    if (!input)
        std::fprintf(stderr, "pal-print: cannot read %s: %s\n", file.c_str(), std::strerror(errno));
    return input;
}

// Copies the input into the open document and ends it; false with a message printed.
bool spool(FILE* input, const std::string& file, HANDLE printer)
{
    std::vector<char> piece(kPiece);
    size_t got;
    while ((got = std::fread(piece.data(), 1, piece.size(), input)) > 0) {
        DWORD written = 0;
        if (!WritePrinter(printer, piece.data(), DWORD(got), &written) || written != got)
            return failed("WritePrinter");
    }
    if (std::ferror(input)) {
        std::fprintf(stderr, "pal-print: cannot read %s\n", file.c_str());
        return false;
    }
    return EndDocPrinter(printer) || failed("EndDocPrinter");
}

// Submits the open input; the exit code.
int submit(const Options& options, FILE* input)
{
    std::u16string user = widen(options.user);
    if (!user.empty())
        palSetThreadUserName(user.c_str());
    std::u16string printerName = widen(options.printer);
    HANDLE printer = nullptr;
    DEVMODEW devMode = options.devMode.value_or(DEVMODEW{});
    PRINTER_DEFAULTSW defaults = {nullptr, &devMode, PRINTER_ACCESS_USE};
    if (options.devMode)
        printerName.copy(devMode.dmDeviceName, std::min<size_t>(printerName.size(), CCHDEVICENAME - 1));
    if (!OpenPrinterW(printerName.data(), &printer, options.devMode ? &defaults : nullptr)) {
        failed("OpenPrinterW");
        return kExitFailure;
    }
    std::u16string document = widen(options.document);
    std::u16string datatype = u"RAW";
    DOC_INFO_1W info = {document.data(), nullptr, datatype.data()};
    DWORD job = StartDocPrinterW(printer, 1, reinterpret_cast<LPBYTE>(&info));
    // A document that is not ended is deleted when its printer handle is closed.
    bool submitted = job ? spool(input, options.file, printer) : failed("StartDocPrinterW");
    ClosePrinter(printer);
    if (!submitted)
        return kExitFailure;
    std::printf("%u\n", unsigned(job));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (std::optional<int> exitCode = parseOptions(std::vector<std::string>(argv + 1, argv + argc), options))
        return *exitCode;
    FILE* input = openInput(options.file);
    if (!input)
        return kExitFailure;
    int exitCode = submit(options, input);
    if (input != stdin)
        std::fclose(input);
    return exitCode;
}
