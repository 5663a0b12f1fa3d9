#include "files/file_share.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "files/file_paths.h"
#include "pal/files.h"
#include "files/range_lock.h"
#include "files/root.h"

namespace pal {
namespace {

enum ShareClass { kRead, kWrite, kDelete, kClassCount };

// Record bytes: [0, 3) the accesses an open has, [3, 6) the accesses it denies, 6 a loaded image,
// 8 the gate.
constexpr off_t kDenyOffset = 3;
constexpr off_t kImage = 6;
constexpr off_t kRecordBytes = 7;
constexpr off_t kGate = 8;

const DWORD kAccessOf[kClassCount] = {
    GENERIC_READ | GENERIC_EXECUTE | GENERIC_ALL | FILE_READ_DATA | FILE_EXECUTE,
    GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA,
    GENERIC_ALL | DELETE,
};
const DWORD kShareOf[kClassCount] = {FILE_SHARE_READ, FILE_SHARE_WRITE, FILE_SHARE_DELETE};

bool sameFile(int fd, const std::string& path)
{
    struct stat open, named;
    return fstat(fd, &open) == 0 && stat(path.c_str(), &named) == 0 && open.st_dev == named.st_dev &&
           open.st_ino == named.st_ino;
}

// Opens the record file and takes the gate; retries when the file was removed meanwhile.
int openGated(const std::string& path, bool create)
{
    for (;;) {
        int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0), 0666);
        if (fd < 0)
            return -1;
        if (!lockRange(fd, F_WRLCK, kGate, 1, true)) {
            close(fd);
            return -1;
        }
        if (sameFile(fd, path))
            return fd;
        close(fd);
        if (!create)
            return -1;
    }
}

// Removes the record file when no open holds a record in it any more.
void removeIfUnused(const std::string& path)
{
    int fd = openGated(path, false);
    if (fd < 0)
        return;
    if (lockRange(fd, F_WRLCK, 0, kRecordBytes, false))
        unlink(path.c_str());
    close(fd);
}

} // namespace

std::string lockFolder()
{
    std::string folder = rootFolder("run/files");
    if (folder.empty()) {
        folder = (std::filesystem::temp_directory_path() / ("pal-files-" + std::to_string(getuid()))).string();
        std::error_code ignored;
        std::filesystem::create_directories(folder, ignored);
    }
    return folder;
}

DWORD ShareRecord::take(dev_t device, ino_t inode, DWORD access, DWORD share)
{
    return take(device, inode, access, share, false);
}

DWORD ShareRecord::takeImage(dev_t device, ino_t inode)
{
    return take(device, inode, GENERIC_READ | GENERIC_EXECUTE, FILE_SHARE_READ | FILE_SHARE_DELETE, true);
}

bool ShareRecord::heldAsImageElsewhere() const
{
    return fd_ >= 0 && rangeHeldElsewhere(fd_, kImage, 1);
}

DWORD ShareRecord::take(dev_t device, ino_t inode, DWORD access, DWORD share, bool image)
{
    release();
    bool has[kClassCount], denies[kClassCount];
    bool any = false;
    for (int c = 0; c < kClassCount; ++c) {
        has[c] = (access & kAccessOf[c]) != 0;
        denies[c] = (share & kShareOf[c]) == 0;
        any = any || has[c];
    }
    if (!any)
        return ERROR_SUCCESS; // an open without data access neither conflicts nor is recorded

    char name[64];
    snprintf(name, sizeof name, "/%llx-%llx", static_cast<unsigned long long>(device),
             static_cast<unsigned long long>(inode));
    std::string path = lockFolder() + name;
    int fd = openGated(path, true);
    if (fd < 0)
        return errorFromErrno(errno, path);

    bool conflict = false;
    for (int c = 0; c < kClassCount && !conflict; ++c)
        conflict = (has[c] && rangeHeldElsewhere(fd, kDenyOffset + c, 1)) ||
                   (denies[c] && rangeHeldElsewhere(fd, c, 1));
    for (int c = 0; c < kClassCount && !conflict; ++c) {
        if (has[c])
            lockRange(fd, F_RDLCK, c, 1, false);
        if (denies[c])
            lockRange(fd, F_RDLCK, kDenyOffset + c, 1, false);
    }
    if (image && !conflict)
        lockRange(fd, F_RDLCK, kImage, 1, false);
    lockRange(fd, F_UNLCK, kGate, 1, false);
    if (conflict) {
        close(fd);
        removeIfUnused(path);
        return ERROR_SHARING_VIOLATION;
    }
    fd_ = fd;
    path_ = std::move(path);
    return ERROR_SUCCESS;
}

void ShareRecord::release()
{
    if (fd_ < 0)
        return;
    close(fd_);
    fd_ = -1;
    removeIfUnused(path_);
    path_.clear();
}

} // namespace pal
