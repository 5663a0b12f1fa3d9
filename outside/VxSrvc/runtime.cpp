// Start and stop, the instance id, data files, INI integers and service ports.
#ifdef _WIN32
#include <winsock2.h>
#include <windows.h>
#else
#include <windows.h>

#include <dlfcn.h>
#include <netdb.h>
#include <unistd.h>
#endif
#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "VxSrvc.h"
#include "runtime_internal.h"

namespace {

#ifdef _WIN32
const char kFolderSeparators[] = "\\/";
#else
const char kFolderSeparators[] = "/";
#endif

std::atomic<uint64_t> g_instanceId{0};
std::atomic<bool> g_started{false};

uint64_t freshInstanceId()
{
    static std::atomic<uint64_t> counter{0};
    std::random_device random;
    const uint64_t drawn = (static_cast<uint64_t>(random()) << 32) ^ random() ^ (++counter << 48);
    return drawn != 0 ? drawn : 1;
}

std::string rootConfigFile(const char* name)
{
    const char* root = std::getenv("PAL_ROOT");
    if (root == nullptr || *root == '\0')
        return {};
    return std::string(root) + "/config/" + name;
}

std::string modulePath()
{
#ifdef _WIN32
    HMODULE module = nullptr;
    char path[MAX_PATH];
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&VxSrvcFindDataFile), &module))
        return {};
    const DWORD length = GetModuleFileNameA(module, path, sizeof path);
    return length > 0 && length < sizeof path ? std::string(path, length) : std::string();
#else
    Dl_info info;
    if (!dladdr(reinterpret_cast<void*>(&VxSrvcFindDataFile), &info) || info.dli_fname == nullptr)
        return {};
    return info.dli_fname;
#endif
}

std::string moduleFolder()
{
    const std::string path = modulePath();
    if (path.empty())
        return {};
    const size_t slash = path.find_last_of(kFolderSeparators);
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

bool isFile(const std::string& path)
{
    struct stat status;
    return !path.empty() && stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

// A plain file name: no folder part, nothing that climbs out of the searched folders.
bool isPlainName(const char* name)
{
    return *name != '\0' && std::strchr(name, '/') == nullptr && std::strchr(name, '\\') == nullptr &&
           std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0;
}

// services(5): "name port/protocol [aliases...]", '#' starts a comment.
bool findInServicesFile(std::istream& file, const char* service, const char* protocol, uint16_t& port)
{
    std::string line;
    while (std::getline(file, line)) {
        line = line.substr(0, line.find('#'));
        std::istringstream words(line);
        std::string name, portAndProtocol;
        if (!(words >> name >> portAndProtocol))
            continue;
        const size_t slash = portAndProtocol.find('/');
        if (slash == std::string::npos || portAndProtocol.compare(slash + 1, std::string::npos, protocol) != 0)
            continue;
        bool named = name == service;
        for (std::string alias; !named && words >> alias;)
            named = alias == service;
        if (!named)
            continue;
        char* end = nullptr;
        const unsigned long number = std::strtoul(portAndProtocol.c_str(), &end, 10);
        if (end != portAndProtocol.c_str() + slash || number == 0 || number > 65535)
            continue;
        port = static_cast<uint16_t>(number);
        return true;
    }
    return false;
}

bool findInSystemServices(const char* service, const char* protocol, uint16_t& port)
{
#ifdef _WIN32
    // Winsock keeps the entry per thread.
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return false;
    const servent* found = getservbyname(service, protocol);
    const bool known = found != nullptr;
    if (known)
        port = ntohs(static_cast<uint16_t>(found->s_port));
    WSACleanup();
    return known;
#else
    servent entry;
    servent* found = nullptr;
    char buffer[1024];
    if (getservbyname_r(service, protocol, &entry, buffer, sizeof buffer, &found) != 0 || found == nullptr)
        return false;
    port = ntohs(static_cast<uint16_t>(found->s_port));
    return true;
#endif
}

// What <root>/config/vxsrvc-startup says of the start, for the tests of the protocol library's
// callers: "fail" (a runtime that is not installed) or "delay MS" (a slow start, on the platform's
// clock); no file, or any other text, starts at once.
struct StartupScript {
    bool fail = false;
    DWORD delayMs = 0;
};

StartupScript startupScript()
{
    StartupScript script;
    std::ifstream file(rootConfigFile("vxsrvc-startup"));
    std::string word;
    if (!(file >> word))
        return script;
    script.fail = word == "fail";
    if (word == "delay")
        file >> script.delayMs;
    return script;
}

} // namespace

int32_t VxSrvcStartup(void* /*application*/)
{
    const StartupScript script = startupScript();
    if (script.fail)
        return VXSRVC_E_NOT_FOUND;
    Sleep(script.delayMs);
    g_instanceId.store(freshInstanceId());
    g_started = true;
    return VXSRVC_OK;
}

void VxSrvcCleanup(void)
{
    vxsrvc::stopTimers();
    g_instanceId.store(0);
    g_started = false;
}

int32_t VxSrvcTestStarted(void)
{
    return g_started ? 1 : 0;
}

int32_t VxSrvcGetInstanceId(uint64_t* id)
{
    if (id == nullptr)
        return VXSRVC_E_BAD_PARAMETER;
    uint64_t current = g_instanceId.load();
    if (current == 0) {
        const uint64_t fresh = freshInstanceId();
        current = g_instanceId.compare_exchange_strong(current, fresh) ? fresh : current;
    }
    *id = current;
    return VXSRVC_OK;
}

int32_t VxSrvcFindDataFile(const char* fileName, char* path, uint32_t size)
{
    if (fileName == nullptr || path == nullptr || size == 0 || !isPlainName(fileName))
        return 0;
    for (const std::string& candidate : {rootConfigFile(fileName), moduleFolder() + "/" + fileName}) {
        if (!isFile(candidate))
            continue;
        if (candidate.size() >= size)
            return 0;
        std::memcpy(path, candidate.c_str(), candidate.size() + 1);
        return 1;
    }
    return 0;
}

int32_t VxSrvcReadIniInt(const char* section, const char* key, int32_t def, const char* path)
{
    if (section == nullptr || key == nullptr || path == nullptr)
        return def;
    return static_cast<int32_t>(GetPrivateProfileIntA(section, key, def, path));
}

int32_t VxSrvcGetServicePort(const char* service, const char* protocol, uint16_t* port)
{
    if (service == nullptr || protocol == nullptr || port == nullptr)
        return VXSRVC_E_BAD_PARAMETER;
    uint16_t found = 0;
    const std::string rootFile = rootConfigFile("services");
    bool known;
    if (isFile(rootFile)) {
        std::ifstream file(rootFile);
        known = findInServicesFile(file, service, protocol, found);
    } else {
        known = findInSystemServices(service, protocol, found);
    }
    if (!known)
        return VXSRVC_E_NOT_FOUND;
    *port = htons(found);
    return VXSRVC_OK;
}
