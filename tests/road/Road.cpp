#include "Road.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "port_defaults.h"
#include "test_spooler_jobs.h"

namespace road {

bool addMonitor()
{
    std::u16string name = kMonitorName;
    std::u16string dll = JTRK_MONITOR_DLL_NAME;
    MONITOR_INFO_2W info = {name.data(), nullptr, dll.data()};
    return AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&info)) != FALSE;
}

DWORD addPort(const PortConfigData& config)
{
    spoolertest::Printer xcv(u",XcvMonitor " + kMonitorName, SERVER_ACCESS_ADMINISTER);
    if (!xcv)
        return ~0u;
    PortConfigData input = config;
    DWORD needed = 0;
    DWORD status = 0;
    if (!XcvDataW(xcv.get(), JTRK_XCV_ADDPORT, reinterpret_cast<PBYTE>(&input), sizeof(input), nullptr, 0, &needed,
                  &status))
        return ~0u;
    return status;
}

PortConfigData rawPort(const std::u16string& name, const std::u16string& address, uint16_t port)
{
    PortConfigData config = montest::defaultConfig(name, address);
    config.dwPortNumber = port;
    return config;
}

PortConfigData lprPort(const std::u16string& name, const std::u16string& address, DWORD transferMode)
{
    PortConfigData config = montest::defaultConfig(name, address);
    config.dwProtocol = PROTOCOL_LPR_TYPE;
    config.dwTransferMode = transferMode;
    return config;
}

DWORD addPrinter(const std::u16string& name, const std::u16string& port)
{
    return spoolertest::addPrinter(name, port, u"Generic");
}

DWORD submit(const std::u16string& printer, const std::vector<BYTE>& data, const std::u16string& document,
             size_t piece)
{
    return spoolertest::Printer(printer, PRINTER_ACCESS_USE).submit(data, document, piece);
}

bool jobStatus(const std::u16string& printer, DWORD job, DWORD& status)
{
    std::optional<DWORD> current = spoolertest::Printer(printer, PRINTER_ACCESS_USE).status(job);
    if (current)
        status = *current;
    return current.has_value();
}

bool writeRootFile(const std::string& relative, const std::string& text)
{
    const char* root = std::getenv("PAL_ROOT");
    if (!root)
        return false;
    std::filesystem::path path = std::filesystem::path(root) / relative;
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    return bool(file);
}

BenchRoot::BenchRoot(const std::string& root, const std::string& prefix)
{
    if (!root.empty()) {
        setenv("PAL_ROOT", std::filesystem::absolute(root).c_str(), 1);
        return;
    }
    if (std::getenv("PAL_ROOT"))
        return;
    std::string folder = prefix + "-XXXXXX";
    ready_ = mkdtemp(folder.data()) != nullptr;
    if (ready_) {
        temporary_ = folder;
        setenv("PAL_ROOT", folder.c_str(), 1);
    }
}

BenchRoot::~BenchRoot()
{
    if (!temporary_.empty())
        std::filesystem::remove_all(temporary_);
}

} // namespace road
