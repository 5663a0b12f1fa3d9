// Pipe names, folders, sockets and instance counting in the platform root.
#include "pipes/pipes_place.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "pal/errors.h"
#include "files/range_lock.h"
#include "files/root.h"

namespace pal::pipes {
namespace {

constexpr std::u16string_view kPrefix = u"\\\\.\\pipe\\";
constexpr size_t kMaxKey = 64;
constexpr off_t kCountAt = 0;
constexpr off_t kSlotBase = 4096;
constexpr off_t kGuardAt = 8192;
constexpr DWORD kMaxSlots = 255;

char16_t foldAscii(char16_t c)
{
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
}

bool keptInKey(char16_t c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'.' || c == u'_' || c == u'-';
}

bool hasPrefix(std::u16string_view name)
{
    if (name.size() < kPrefix.size())
        return false;
    for (size_t i = 0; i < kPrefix.size(); ++i)
        if (foldAscii(name[i]) != kPrefix[i])
            return false;
    return true;
}

std::string hashKey(std::u16string_view folded)
{
    uint64_t hash = 14695981039346656037ull; // FNV-1a over the UTF-16 units, low byte first
    for (char16_t c : folded)
        for (int shift : {0, 8}) {
            hash ^= static_cast<uint8_t>(c >> shift);
            hash *= 1099511628211ull;
        }
    char text[20];
    std::snprintf(text, sizeof text, "#%016llx", static_cast<unsigned long long>(hash));
    return text;
}

// mkdir with exactly mode (not narrowed by the umask) when the folder is new.
bool ensureFolder(const std::string& path, mode_t mode)
{
    if (mkdir(path.c_str(), mode) != 0)
        return errno == EEXIST;
    chmod(path.c_str(), mode);
    return true;
}

std::string pipesBase(bool create)
{
    std::string run = create ? rootFolder("run") : (rootPath().empty() ? "" : rootPath() + "/run");
    std::string base = run.empty() ? "/tmp/pal-pipes-" + std::to_string(geteuid()) : run + "/pipes";
    if (create && !ensureFolder(base, run.empty() ? 0700 : 0755))
        return {};
    return base;
}

// Calls action(address, length) with an address for path: long paths go through a descriptor of
// their folder, since sun_path holds only 108 bytes.
template <class Action>
int withAddress(const std::string& path, Action action)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string target = path;
    int folder = -1;
    if (path.size() >= sizeof address.sun_path) {
        size_t slash = path.rfind('/');
        folder = open(path.substr(0, slash).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (folder < 0)
            return -errno;
        target = "/proc/self/fd/" + std::to_string(folder) + path.substr(slash);
        if (target.size() >= sizeof address.sun_path) {
            close(folder);
            return -ENAMETOOLONG;
        }
    }
    std::memcpy(address.sun_path, target.c_str(), target.size() + 1);
    int result = action(reinterpret_cast<sockaddr*>(&address),
                        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + target.size() + 1));
    if (folder >= 0)
        close(folder);
    return result;
}

int newSocket()
{
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    return fd < 0 ? -errno : fd;
}

int closeWithError(int fd, int error)
{
    close(fd);
    return -error;
}

pid_t ownerOf(const std::string& socketName)
{
    return static_cast<pid_t>(std::strtol(socketName.c_str(), nullptr, 10));
}

bool isSocketName(const char* name)
{
    size_t length = std::strlen(name);
    return length > 5 && std::strcmp(name + length - 5, ".sock") == 0;
}

template <class Visit>
void forEachSocket(const std::string& folder, Visit visit)
{
    DIR* entries = opendir(folder.c_str());
    if (!entries)
        return;
    while (dirent* entry = readdir(entries))
        if (isSocketName(entry->d_name))
            visit(std::string(entry->d_name));
    closedir(entries);
}

bool anyInstanceHeld(int fd)
{
    return rangeHeldElsewhere(fd, kSlotBase, kMaxSlots);
}

DWORD agreedCount(int fd, DWORD requested)
{
    if (!anyInstanceHeld(fd)) {
        unsigned char bytes[4];
        for (int i = 0; i < 4; ++i)
            bytes[i] = static_cast<unsigned char>(requested >> (8 * i));
        return pwrite(fd, bytes, 4, kCountAt) == 4 ? requested : 0;
    }
    unsigned char bytes[4] = {};
    if (pread(fd, bytes, 4, kCountAt) != 4)
        return requested;
    DWORD stored = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<DWORD>(bytes[3]) << 24;
    return stored >= 1 && stored <= kMaxSlots ? stored : requested;
}

DWORD claimSlot(int fd, DWORD count)
{
    for (DWORD slot = 0; slot < count; ++slot)
        if (lockRange(fd, F_WRLCK, kSlotBase + slot, 1, false))
            return ERROR_SUCCESS;
    return ERROR_PIPE_BUSY;
}

} // namespace

std::string pipeKey(std::u16string_view name)
{
    if (!hasPrefix(name) || name.size() == kPrefix.size())
        return {};
    std::u16string folded;
    for (char16_t c : name.substr(kPrefix.size()))
        folded += foldAscii(c);
    std::string key;
    for (char16_t c : folded) {
        if (keptInKey(c)) {
            key += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "%%%04x", static_cast<unsigned>(c));
            key += escaped;
        }
    }
    return key.size() > kMaxKey ? hashKey(folded) : key;
}

std::string pipeFolder(const std::string& key, bool create)
{
    std::string base = pipesBase(create);
    if (base.empty())
        return {};
    std::string folder = base + "/" + key;
    if (create && !ensureFolder(folder, 0755))
        return {};
    return folder;
}

std::vector<std::string> serverSockets(const std::string& folder)
{
    std::vector<std::string> paths;
    forEachSocket(folder, [&](const std::string& name) { paths.push_back(folder + "/" + name); });
    return paths;
}

void removeStaleSockets(const std::string& folder)
{
    forEachSocket(folder, [&](const std::string& name) {
        pid_t owner = ownerOf(name);
        if (owner > 0 && owner != getpid() && kill(owner, 0) != 0 && errno == ESRCH)
            unlink((folder + "/" + name).c_str());
    });
}

std::string newSocketPath(const std::string& folder)
{
    static std::atomic<unsigned> serial{0};
    return folder + "/" + std::to_string(getpid()) + "-" + std::to_string(serial++) + ".sock";
}

int listenAt(const std::string& path)
{
    int fd = newSocket();
    if (fd < 0)
        return fd;
    int bound = withAddress(path, [&](const sockaddr* address, socklen_t length) {
        return bind(fd, address, length) == 0 ? 0 : -errno;
    });
    if (bound < 0)
        return closeWithError(fd, -bound);
    chmod(path.c_str(), 0666); // who may connect is decided per instance, after the connect
    if (listen(fd, SOMAXCONN) != 0)
        return closeWithError(fd, errno);
    return fd;
}

int connectTo(const std::string& path)
{
    int fd = newSocket();
    if (fd < 0)
        return fd;
    int connected = withAddress(path, [&](const sockaddr* address, socklen_t length) {
        return connect(fd, address, length) == 0 ? 0 : -errno;
    });
    return connected < 0 ? closeWithError(fd, -connected) : fd;
}

InstanceClaim claimInstance(const std::string& folder, DWORD maxInstances, bool firstOnly)
{
    std::string path = folder + "/instances";
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return {-1, static_cast<DWORD>(errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_PATH_NOT_FOUND)};
    fchmod(fd, 0666); // any user may add instances; fails harmlessly when another user made it
    lockRange(fd, F_WRLCK, kGuardAt, 1, true);
    DWORD error;
    if (firstOnly && anyInstanceHeld(fd)) {
        error = ERROR_ACCESS_DENIED;
    } else {
        DWORD count = agreedCount(fd, maxInstances);
        error = count ? claimSlot(fd, count) : ERROR_WRITE_FAULT;
    }
    lockRange(fd, F_UNLCK, kGuardAt, 1, false);
    if (error) {
        close(fd);
        return {-1, error};
    }
    return {fd, ERROR_SUCCESS};
}

} // namespace pal::pipes
