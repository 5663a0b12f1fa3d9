#include "services/service_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "files/range_lock.h"
#include "files/root.h"
#include "services/service_wire.h"

namespace pal::services {
namespace {

// The record: the seven SERVICE_STATUS words, little-endian, at offset 0. The live lock is one
// byte past it, so record reads and writes never meet it.
constexpr off_t kRecordBytes = 7 * 4;
constexpr off_t kLiveByte = 64;

DWORD* fieldsOf(SERVICE_STATUS& status)
{
    static_assert(sizeof(SERVICE_STATUS) == kRecordBytes, "seven words, nothing between them");
    return &status.dwServiceType;
}

bool readRecord(int fd, SERVICE_STATUS& status)
{
    unsigned char bytes[kRecordBytes];
    lockRange(fd, F_RDLCK, 0, kRecordBytes, true);
    bool complete = pread(fd, bytes, sizeof bytes, 0) == kRecordBytes;
    lockRange(fd, F_UNLCK, 0, kRecordBytes, false);
    if (!complete)
        return false;
    DWORD* fields = fieldsOf(status);
    for (int i = 0; i < 7; ++i)
        fields[i] = getWord(bytes + 4 * i);
    return true;
}

} // namespace

std::string servicesFolder()
{
    return rootFolder("run/services");
}

std::string statusPath(const std::string& name)
{
    return servicesFolder() + "/" + name + ".status";
}

std::string controlPath(const std::string& name)
{
    return servicesFolder() + "/" + name + ".ctl";
}

std::string logPath(const std::string& name)
{
    return servicesFolder() + "/" + name + ".log";
}

SERVICE_STATUS stoppedStatus(DWORD exitCode)
{
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = SERVICE_STOPPED;
    status.dwWin32ExitCode = exitCode;
    return status;
}

ServiceState readState(const std::string& name)
{
    ServiceState state;
    int fd = open(statusPath(name).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        state.status = stoppedStatus(ERROR_SERVICE_NEVER_STARTED);
        return state;
    }
    state.live = rangeHeldElsewhere(fd, kLiveByte, 1);
    bool read = readRecord(fd, state.status);
    close(fd);
    if (!read)
        state.status = stoppedStatus(state.live ? 0 : ERROR_SERVICE_NEVER_STARTED);
    if (!state.live && state.status.dwCurrentState != SERVICE_STOPPED)
        state.status = stoppedStatus(ERROR_PROCESS_ABORTED);
    return state;
}

bool claimLive(int fd)
{
    return lockRange(fd, F_WRLCK, kLiveByte, 1, false);
}

bool writeStatus(int fd, const SERVICE_STATUS& status)
{
    unsigned char bytes[kRecordBytes];
    SERVICE_STATUS copy = status;
    const DWORD* fields = fieldsOf(copy);
    for (int i = 0; i < 7; ++i)
        putWord(bytes + 4 * i, fields[i]);
    lockRange(fd, F_WRLCK, 0, kRecordBytes, true);
    bool written = pwrite(fd, bytes, sizeof bytes, 0) == kRecordBytes;
    lockRange(fd, F_UNLCK, 0, kRecordBytes, false);
    return written;
}

} // namespace pal::services
