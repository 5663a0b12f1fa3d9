// The server side of named pipes: instances, the per-process listening socket and its groups.
#include "pipes/pipes_server.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <map>

#include "threads/object.h"
#include "pipes/pipes_end.h"
#include "pipes/pipes_handle.h"
#include "pipes/pipes_place.h"

namespace pal::pipes {
namespace {

constexpr DWORD kPipeModeBits = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_NOWAIT | PIPE_REJECT_REMOTE_CLIENTS;
constexpr DWORD kWindowsDefaultTimeout = 50;

struct Registry {
    std::mutex mutex;
    std::map<std::string, std::weak_ptr<Group>> groups; // by folder
};

Registry& registry()
{
    static auto* table = new Registry;
    return *table;
}

// Accepts the connections of clients; each one then says what it wants (Link).
class Listener : public IoClient {
public:
    Listener(int fd, std::weak_ptr<Group> group) : fd_(fd), group_(std::move(group)) {}
    ~Listener() override { ::close(fd_); }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    void onReadable() override
    {
        for (;;) {
            int fd = accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0 && errno == EINTR)
                continue;
            if (fd < 0)
                return;
            ucred peer{};
            peer.uid = static_cast<uid_t>(-1);
            socklen_t length = sizeof peer;
            getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length);
            std::make_shared<Link>(fd, group_, peer.uid)->start();
        }
    }

private:
    const int fd_;
    const std::weak_ptr<Group> group_;
};

DWORD errorOfSocket(int negativeErrno)
{
    return negativeErrno == -EACCES ? ERROR_ACCESS_DENIED : ERROR_PATH_NOT_FOUND;
}

bool admitsEveryone(const SECURITY_ATTRIBUTES* attributes)
{
    if (!attributes || !attributes->lpSecurityDescriptor)
        return false;
    auto* descriptor = static_cast<const SECURITY_DESCRIPTOR*>(attributes->lpSecurityDescriptor);
    return descriptor->Revision == SECURITY_DESCRIPTOR_REVISION && (descriptor->Control & SE_DACL_PRESENT) &&
           !descriptor->Dacl;
}

DWORD checkModes(DWORD openMode, DWORD pipeMode, DWORD maxInstances)
{
    if ((openMode & PIPE_ACCESS_DUPLEX) == 0 || (pipeMode & ~kPipeModeBits) != 0 ||
        ((pipeMode & PIPE_READMODE_MESSAGE) && !(pipeMode & PIPE_TYPE_MESSAGE)) || maxInstances == 0 ||
        maxInstances > PIPE_UNLIMITED_INSTANCES)
        return ERROR_INVALID_PARAMETER;
    return ERROR_SUCCESS;
}

PipeSettings serverSettings(DWORD openMode, DWORD pipeMode, DWORD defaultTimeout, LPSECURITY_ATTRIBUTES attributes)
{
    PipeSettings settings;
    settings.role = Role::Server;
    settings.messageType = (pipeMode & PIPE_TYPE_MESSAGE) != 0;
    settings.messageRead = (pipeMode & PIPE_READMODE_MESSAGE) != 0;
    settings.noWait = (pipeMode & PIPE_NOWAIT) != 0;
    settings.mayRead = (openMode & PIPE_ACCESS_INBOUND) != 0;
    settings.mayWrite = (openMode & PIPE_ACCESS_OUTBOUND) != 0;
    settings.overlapped = (openMode & FILE_FLAG_OVERLAPPED) != 0;
    settings.openMode = openMode;
    settings.defaultTimeout = defaultTimeout ? defaultTimeout : kWindowsDefaultTimeout;
    settings.everyone = admitsEveryone(attributes);
    settings.owner = geteuid();
    return settings;
}

HANDLE createInstance(std::u16string_view name, DWORD openMode, DWORD pipeMode, DWORD maxInstances,
                      DWORD defaultTimeout, LPSECURITY_ATTRIBUTES attributes, DWORD& error)
{
    std::string key = pipeKey(name);
    if (key.empty()) {
        error = ERROR_INVALID_NAME;
        return INVALID_HANDLE_VALUE;
    }
    if ((error = checkModes(openMode, pipeMode, maxInstances)))
        return INVALID_HANDLE_VALUE;
    std::string folder = pipeFolder(key, true);
    if (folder.empty()) {
        error = ERROR_PATH_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    InstanceClaim claim = claimInstance(folder, maxInstances, (openMode & FILE_FLAG_FIRST_PIPE_INSTANCE) != 0);
    if ((error = claim.error))
        return INVALID_HANDLE_VALUE;
    auto group = Group::of(folder, error);
    if (!group) {
        ::close(claim.fd);
        return INVALID_HANDLE_VALUE;
    }
    auto instance =
        std::make_shared<PipeEnd>(serverSettings(openMode, pipeMode, defaultTimeout, attributes), claim.fd, group);
    group->add(instance);
    return insertHandle(std::make_shared<PipeHandle>(instance));
}

} // namespace

std::shared_ptr<Group> Group::of(const std::string& folder, DWORD& error)
{
    Registry& table = registry();
    std::lock_guard<std::mutex> lock(table.mutex);
    if (auto existing = table.groups[folder].lock())
        return existing;
    removeStaleSockets(folder);
    std::string path = newSocketPath(folder);
    int fd = listenAt(path);
    if (fd < 0) {
        error = errorOfSocket(fd);
        return nullptr;
    }
    IoId id = newIoId();
    auto group = std::make_shared<Group>(folder, path, fd, id);
    watch(id, fd, std::make_shared<Listener>(fd, group));
    table.groups[folder] = group;
    return group;
}

Group::Group(std::string folder, std::string path, int fd, IoId id)
    : folder_(std::move(folder)), path_(std::move(path)), fd_(fd), id_(id)
{
}

Group::~Group()
{
    unwatch(id_, fd_); // the listener closes the socket once the I/O thread lets go of it
    unlink(path_.c_str());
    Registry& table = registry();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto it = table.groups.find(folder_);
    if (it != table.groups.end() && it->second.expired())
        table.groups.erase(it);
}

void Group::add(const std::shared_ptr<PipeEnd>& instance)
{
    std::lock_guard<std::mutex> lock(mutex_);
    instances_.push_back(instance);
}

void Group::remove(const PipeEnd* instance)
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::erase_if(instances_, [&](const std::weak_ptr<PipeEnd>& entry) {
        auto live = entry.lock();
        return !live || live.get() == instance;
    });
}

std::vector<std::shared_ptr<PipeEnd>> Group::instances()
{
    std::vector<std::shared_ptr<PipeEnd>> live;
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& entry : instances_)
        if (auto instance = entry.lock())
            live.push_back(std::move(instance));
    return live;
}

DWORD Group::admit(const std::shared_ptr<Link>& link, DWORD access, uid_t peer, std::shared_ptr<PipeEnd>& taker)
{
    DWORD result = ERROR_PIPE_BUSY;
    for (auto& instance : instances()) {
        DWORD error = instance->admit(link, access, peer);
        if (error == ERROR_SUCCESS) {
            taker = std::move(instance);
            return ERROR_SUCCESS;
        }
        if (error == ERROR_ACCESS_DENIED)
            result = error;
    }
    return result;
}

bool Group::hasFreeInstance(DWORD& defaultTimeout)
{
    auto live = instances();
    if (!live.empty())
        defaultTimeout = live.front()->defaultTimeout();
    for (auto& instance : live)
        if (instance->takesClients())
            return true;
    return false;
}

} // namespace pal::pipes

using namespace pal::pipes;

extern "C" {

HANDLE CreateNamedPipeW(LPCWSTR lpName, DWORD dwOpenMode, DWORD dwPipeMode, DWORD nMaxInstances, DWORD,
                        DWORD, DWORD nDefaultTimeOut, LPSECURITY_ATTRIBUTES lpSecurityAttributes)
{
    DWORD error = ERROR_INVALID_PARAMETER;
    HANDLE handle = lpName ? createInstance(lpName, dwOpenMode, dwPipeMode, nMaxInstances, nDefaultTimeOut,
                                            lpSecurityAttributes, error)
                           : INVALID_HANDLE_VALUE;
    finishCall(handle == INVALID_HANDLE_VALUE ? error : ERROR_SUCCESS);
    return handle;
}

HANDLE CreateNamedPipeA(LPCSTR lpName, DWORD dwOpenMode, DWORD dwPipeMode, DWORD nMaxInstances,
                        DWORD nOutBufferSize, DWORD nInBufferSize, DWORD nDefaultTimeOut,
                        LPSECURITY_ATTRIBUTES lpSecurityAttributes)
{
    if (!lpName) {
        finishCall(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    return CreateNamedPipeW(wideName(lpName).c_str(), dwOpenMode, dwPipeMode, nMaxInstances, nOutBufferSize,
                            nInBufferSize, nDefaultTimeOut, lpSecurityAttributes);
}

BOOL ConnectNamedPipe(HANDLE hNamedPipe, LPOVERLAPPED lpOverlapped)
{
    auto end = pipeEndOf(hNamedPipe);
    return finishCall(end ? end->connect(lpOverlapped) : ERROR_INVALID_HANDLE);
}

BOOL DisconnectNamedPipe(HANDLE hNamedPipe)
{
    auto end = pipeEndOf(hNamedPipe);
    return finishCall(end ? end->disconnect() : ERROR_INVALID_HANDLE);
}

} // extern "C"
