// pal-print: submits a file to a printer of the spooler host and prints the job id.
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
    "\n"
    "Submits FILE (\"-\" for standard input) to PRINTER through the spooler host spoolsv\n"
    "and prints the id of the new job.\n"
    "\n"
    "  --document NAME  the job's document name (default: FILE without its folder)\n"
    "  --user NAME      submit the job as this user (default: the platform's user)\n"
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
};

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
        bool takesValue = arg == "--root" || arg == "--document" || arg == "--user";
        if (takesValue && i + 1 >= args.size())
            return usageError("missing value of " + arg);
        if (arg == "--root")
            options.root = args[++i];
        else if (arg == "--document")
            options.document = args[++i];
        else if (arg == "--user")
            options.user = args[++i];
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
    if (!OpenPrinterW(printerName.data(), &printer, nullptr)) {
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
