// pal-spool: drives the spooler host by hand (monitors, ports, Xcv calls).
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "pal/codepage.h"
#include "pal/winspool.h"

namespace {

const char kUsage[] =
    "usage: pal-spool [--root DIR] COMMAND ...\n"
    "\n"
    "Commands (the spooler host spoolsv must run on the platform root):\n"
    "  monitors                       list the loaded monitors (name, DLL)\n"
    "  add-monitor NAME DLL           register and load a monitor (e.g. JTRKMON2.DLL)\n"
    "  delete-monitor NAME            unload and unregister a monitor\n"
    "  ports                          list the ports (name, monitor, description)\n"
    "  delete-port PORT               delete a port through its monitor\n"
    "  xcv PORT|--monitor M METHOD [HEX | --text TEXT] [--out-size N]\n"
    "                                 call an Xcv method of a port or a monitor with\n"
    "                                 administer access; HEX is the input in hex, TEXT\n"
    "                                 an input string (UTF-16 with its terminator);\n"
    "                                 prints the status, the size needed and the\n"
    "                                 output in hex (output buffer N bytes, default 256)\n"
    "\n"
    "  --root DIR   platform root (default: PAL_ROOT)\n"
    "  --help       show this text\n"
    "Exit status 0 on success; 1 when the call fails or an Xcv status is not 0; 2 for\n"
    "a wrong command line.\n";

constexpr int kFailed = 1;
constexpr int kUsageError = 2;

std::u16string wide(const std::string& text)
{
    int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), int(text.size()), nullptr, 0);
    std::u16string result(size_t(size > 0 ? size : 0), u'\0');
    if (size > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.c_str(), int(text.size()), result.data(), size);
    return result;
}

std::string narrow(LPCWSTR text)
{
    if (!text)
        return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string result(size_t(size > 0 ? size : 1), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), size, nullptr, nullptr);
    result.resize(result.size() - 1);
    return result;
}

int failure(const char* what)
{
    std::fprintf(stderr, "pal-spool: %s failed: error %u\n", what, unsigned(GetLastError()));
    return kFailed;
}

int usageError(const char* message)
{
    std::fprintf(stderr, "pal-spool: %s\n%s", message, kUsage);
    return kUsageError;
}

// Runs one of the Enum functions with a size query first; false with the last error set.
template <class Enum>
bool enumerate(Enum enumFunction, DWORD level, std::vector<BYTE>& buffer, DWORD& count)
{
    DWORD needed = 0;
    for (;;) {
        if (enumFunction(nullptr, level, buffer.data(), DWORD(buffer.size()), &needed, &count))
            return true;
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            return false;
        buffer.resize(needed);
    }
}

int listMonitors()
{
    std::vector<BYTE> buffer;
    DWORD count = 0;
    if (!enumerate(EnumMonitorsW, 2, buffer, count))
        return failure("EnumMonitorsW");
    const MONITOR_INFO_2W* monitors = reinterpret_cast<const MONITOR_INFO_2W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i)
        std::printf("%s\t%s\n", narrow(monitors[i].pName).c_str(), narrow(monitors[i].pDLLName).c_str());
    return 0;
}

int listPorts()
{
    std::vector<BYTE> buffer;
    DWORD count = 0;
    if (!enumerate(EnumPortsW, 2, buffer, count))
        return failure("EnumPortsW");
    const PORT_INFO_2W* ports = reinterpret_cast<const PORT_INFO_2W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i)
        std::printf("%s\t%s\t%s\n", narrow(ports[i].pPortName).c_str(), narrow(ports[i].pMonitorName).c_str(),
                    narrow(ports[i].pDescription).c_str());
    return 0;
}

int addMonitor(const std::string& name, const std::string& dll)
{
    std::u16string wideName = wide(name);
    std::u16string wideDll = wide(dll);
    std::u16string environment = u"Windows x64";
    MONITOR_INFO_2W info = {wideName.data(), environment.data(), wideDll.data()};
    return AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&info)) ? 0 : failure("AddMonitorW");
}

int deleteMonitor(const std::string& name)
{
    std::u16string wideName = wide(name);
    return DeleteMonitorW(nullptr, nullptr, wideName.data()) ? 0 : failure("DeleteMonitorW");
}

int deletePort(const std::string& port)
{
    std::u16string widePort = wide(port);
    return DeletePortW(nullptr, nullptr, widePort.data()) ? 0 : failure("DeletePortW");
}

bool parseHex(const std::string& text, std::vector<BYTE>& bytes)
{
    if (text.size() % 2)
        return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        char pair[3] = {text[i], text[i + 1], 0};
        char* end = nullptr;
        unsigned long value = std::strtoul(pair, &end, 16);
        if (*end || !std::isxdigit(static_cast<unsigned char>(pair[0])))
            return false;
        bytes.push_back(BYTE(value));
    }
    return true;
}

struct XcvRequest {
    std::u16string object;
    std::u16string method;
    std::vector<BYTE> input;
    bool hasInput = false;
    DWORD outSize = 256;
};

// xcv PORT|--monitor M METHOD [HEX | --text TEXT] [--out-size N]
bool parseXcv(const std::vector<std::string>& args, XcvRequest& request)
{
    size_t i = 0;
    if (i < args.size() && args[i] == "--monitor") {
        if (++i >= args.size())
            return false;
        request.object = u",XcvMonitor " + wide(args[i++]);
    } else if (i < args.size()) {
        request.object = u",XcvPort " + wide(args[i++]);
    }
    if (i >= args.size())
        return false;
    request.method = wide(args[i++]);
    for (; i < args.size(); ++i) {
        if (args[i] == "--out-size" && i + 1 < args.size()) {
            char* end = nullptr;
            request.outSize = DWORD(std::strtoul(args[++i].c_str(), &end, 10));
            if (*end)
                return false;
        } else if (args[i] == "--text" && i + 1 < args.size() && !request.hasInput) {
            std::u16string text = wide(args[++i]);
            const BYTE* bytes = reinterpret_cast<const BYTE*>(text.c_str());
            request.input.assign(bytes, bytes + (text.size() + 1) * sizeof(WCHAR));
            request.hasInput = true;
        } else if (!request.hasInput && parseHex(args[i], request.input)) {
            request.hasInput = true;
        } else {
            return false;
        }
    }
    return true;
}

int callXcv(const std::vector<std::string>& args)
{
    XcvRequest request;
    if (!parseXcv(args, request))
        return usageError("xcv: bad arguments");
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, SERVER_ACCESS_ADMINISTER};
    HANDLE xcv = nullptr;
    if (!OpenPrinterW(request.object.data(), &xcv, &defaults))
        return failure("OpenPrinterW");
    std::vector<BYTE> output(request.outSize);
    DWORD needed = 0;
    DWORD status = 0;
    BOOL called = XcvDataW(xcv, request.method.c_str(), request.hasInput ? request.input.data() : nullptr,
                           DWORD(request.input.size()), request.outSize ? output.data() : nullptr, request.outSize,
                           &needed, &status);
    if (!called) {
        int result = failure("XcvDataW");
        ClosePrinter(xcv);
        return result;
    }
    ClosePrinter(xcv);
    std::printf("status: %u\nneeded: %u\noutput: ", unsigned(status), unsigned(needed));
    if (status == ERROR_SUCCESS)
        for (DWORD i = 0; i < needed && i < request.outSize; ++i)
            std::printf("%02x", output[i]);
    std::printf("\n");
    return status == ERROR_SUCCESS ? 0 : kFailed;
}

int run(const std::string& command, const std::vector<std::string>& args)
{
    if (command == "monitors" && args.empty())
        return listMonitors();
    if (command == "ports" && args.empty())
        return listPorts();
    if (command == "add-monitor" && args.size() == 2)
        return addMonitor(args[0], args[1]);
    if (command == "delete-monitor" && args.size() == 1)
        return deleteMonitor(args[0]);
    if (command == "delete-port" && args.size() == 1)
        return deletePort(args[0]);
    if (command == "xcv")
        return callXcv(args);
    return usageError(("unknown command or wrong arguments: " + command).c_str());
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    while (!args.empty() && args[0].rfind("--", 0) == 0) {
        if (args[0] == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (args[0] != "--root" || args.size() < 2)
            return usageError(("unknown option: " + args[0]).c_str());
        setenv("PAL_ROOT", args[1].c_str(), 1);
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.empty())
        return usageError("no command");
    if (!std::getenv("PAL_ROOT"))
        return usageError("no platform root (set PAL_ROOT or use --root)");
    std::string command = args[0];
    args.erase(args.begin());
    return run(command, args);
}
