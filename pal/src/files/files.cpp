// CreateFile and the calls on file handles; folders, copies, moves and searches.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "files/file_paths.h"
#include "files/file_share.h"
#include "files/file_stream.h"
#include "files/file_text.h"
#include "text/text_case.h"
#include "text/text_utf8.h"
#include "threads/time_filetime.h"

namespace pal {
namespace {

constexpr DWORD kReadAccess = GENERIC_READ | GENERIC_ALL | FILE_READ_DATA;
constexpr DWORD kWriteAccess = GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA;
constexpr DWORD kPositionalWriteAccess = GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr size_t kCopyChunk = 64 * 1024;

struct DeviceTable {
    std::mutex mutex;
    std::vector<std::pair<std::u16string, DeviceOpener>> openers;
};

DeviceTable& devices()
{
    static DeviceTable* table = new DeviceTable;
    return *table;
}

bool isDeviceName(std::u16string_view name)
{
    return name.size() >= 4 && name.substr(0, 4) == u"\\\\.\\";
}

DeviceOpener openerFor(std::u16string_view name)
{
    DeviceTable& table = devices();
    std::lock_guard<std::mutex> lock(table.mutex);
    for (const auto& [prefix, opener] : table.openers)
        if (name.size() >= prefix.size() && sameName(name.substr(0, prefix.size()), prefix))
            return opener;
    return nullptr;
}

bool readOnly(const struct stat& status)
{
    return !S_ISDIR(status.st_mode) && (status.st_mode & S_IWUSR) == 0;
}

DWORD attributesOf(const struct stat& status)
{
    if (S_ISDIR(status.st_mode))
        return FILE_ATTRIBUTE_DIRECTORY;
    return FILE_ATTRIBUTE_ARCHIVE | (readOnly(status) ? FILE_ATTRIBUTE_READONLY : 0);
}

ULONGLONG offsetOf(const OVERLAPPED* overlapped)
{
    return (static_cast<ULONGLONG>(overlapped->OffsetHigh) << 32) | overlapped->Offset;
}

// Finishes an I/O that carried an OVERLAPPED: Internal gets the Windows error, InternalHigh the
// bytes, and its event is set.
void complete(LPOVERLAPPED overlapped, DWORD error, DWORD done)
{
    overlapped->Internal = error;
    overlapped->InternalHigh = done;
    if (overlapped->hEvent)
        SetEvent(overlapped->hEvent);
}

class FileStream : public Stream {
public:
    FileStream(int fd, DWORD access)
        : fd_(fd), access_(access),
          appendOnly_((access & FILE_APPEND_DATA) != 0 && (access & kPositionalWriteAccess) == 0)
    {
    }
    ~FileStream() override
    {
        close(fd_);
        if (!deleteOnClose_.empty())
            unlink(deleteOnClose_.c_str());
        share_.release();
    }

    ShareRecord& share() { return share_; }
    int fd() const { return fd_; }
    void deleteOnClose(const std::string& path) { deleteOnClose_ = path; }

    DWORD read(void* buffer, DWORD size, DWORD& done, LPOVERLAPPED overlapped) override
    {
        done = 0;
        if ((access_ & kReadAccess) == 0)
            return ERROR_ACCESS_DENIED;
        std::lock_guard<std::mutex> lock(mutex_);
        auto* bytes = static_cast<char*>(buffer);
        DWORD error = ERROR_SUCCESS;
        while (done < size) {
            ssize_t count = overlapped ? pread(fd_, bytes + done, size - done, offsetOf(overlapped) + done)
                                       : ::read(fd_, bytes + done, size - done);
            if (count < 0 && errno == EINTR)
                continue;
            if (count < 0)
                error = errno == EISDIR ? ERROR_INVALID_FUNCTION : errorFromErrno(errno, {});
            if (count <= 0)
                break;
            done += static_cast<DWORD>(count);
        }
        if (overlapped) {
            if (!error && done == 0 && size > 0)
                error = ERROR_HANDLE_EOF;
            complete(overlapped, error, done);
        }
        return error;
    }

    DWORD write(const void* buffer, DWORD size, DWORD& done, LPOVERLAPPED overlapped) override
    {
        done = 0;
        if ((access_ & kWriteAccess) == 0)
            return ERROR_ACCESS_DENIED;
        std::lock_guard<std::mutex> lock(mutex_);
        auto* bytes = static_cast<const char*>(buffer);
        bool toEnd = overlapped ? overlapped->Offset == 0xFFFFFFFF && overlapped->OffsetHigh == 0xFFFFFFFF : atEnd_;
        DWORD error = appendOnly_ || toEnd ? append(bytes, size, done)
                                           : writeAt(bytes, size, done, overlapped ? offsetOf(overlapped) : -1);
        if (overlapped)
            complete(overlapped, error, done);
        return error;
    }

    DWORD flush() override
    {
        if ((access_ & kWriteAccess) == 0)
            return ERROR_ACCESS_DENIED;
        return fsync(fd_) == 0 ? ERROR_SUCCESS : errorFromErrno(errno, {});
    }

    // Moves the pointer; with limit32 a position beyond 32 bits is refused and the pointer stays.
    DWORD seek(LONGLONG distance, DWORD method, bool limit32, LONGLONG& position)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        LONGLONG base = 0;
        if (method == FILE_CURRENT) {
            base = lseek(fd_, 0, SEEK_CUR);
        } else if (method == FILE_END) {
            struct stat status;
            base = fstat(fd_, &status) == 0 ? status.st_size : -1;
        } else if (method != FILE_BEGIN) {
            return ERROR_INVALID_PARAMETER;
        }
        if (base < 0)
            return errorFromErrno(errno, {});
        LONGLONG target = base + distance;
        if (target < 0)
            return ERROR_NEGATIVE_SEEK;
        if (limit32 && target > 0xFFFFFFFFll)
            return ERROR_INVALID_PARAMETER;
        if (lseek(fd_, target, SEEK_SET) < 0)
            return errorFromErrno(errno, {});
        bool stays = method == FILE_CURRENT && distance == 0;
        atEnd_ = (method == FILE_END && distance == 0) || (atEnd_ && stays);
        position = target;
        return ERROR_SUCCESS;
    }

    DWORD size(LONGLONG& bytes)
    {
        struct stat status;
        if (fstat(fd_, &status) != 0)
            return errorFromErrno(errno, {});
        bytes = status.st_size;
        return ERROR_SUCCESS;
    }

    DWORD setEnd()
    {
        if ((access_ & kWriteAccess) == 0)
            return ERROR_ACCESS_DENIED;
        std::lock_guard<std::mutex> lock(mutex_);
        off_t here = lseek(fd_, 0, SEEK_CUR);
        return here >= 0 && ftruncate(fd_, here) == 0 ? ERROR_SUCCESS : errorFromErrno(errno, {});
    }

private:
    DWORD writeAt(const char* bytes, DWORD size, DWORD& done, LONGLONG offset)
    {
        while (done < size) {
            ssize_t count = offset >= 0 ? pwrite(fd_, bytes + done, size - done, offset + done)
                                        : ::write(fd_, bytes + done, size - done);
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0)
                return errorFromErrno(count < 0 ? errno : ENOSPC, {});
            done += static_cast<DWORD>(count);
        }
        return ERROR_SUCCESS;
    }

    // O_APPEND for the duration of the write: the kernel puts the bytes at the end of the file as it
    // is at that moment, whoever else appends.
    DWORD append(const char* bytes, DWORD size, DWORD& done)
    {
        int flags = fcntl(fd_, F_GETFL);
        if (flags < 0 || fcntl(fd_, F_SETFL, flags | O_APPEND) != 0)
            return errorFromErrno(errno, {});
        DWORD error = writeAt(bytes, size, done, -1);
        fcntl(fd_, F_SETFL, flags);
        return error;
    }

    std::mutex mutex_;
    const int fd_;
    const DWORD access_;
    const bool appendOnly_;
    bool atEnd_ = false;
    ShareRecord share_;
    std::string deleteOnClose_;
};

struct Opened {
    std::shared_ptr<FileStream> file;
    DWORD error = ERROR_SUCCESS;
    bool existed = false;
};

bool truncates(DWORD disposition)
{
    return disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
}

int openMode(DWORD access, DWORD disposition)
{
    bool writes = (access & kWriteAccess) != 0 || truncates(disposition);
    bool reads = (access & kReadAccess) != 0;
    return (writes ? (reads ? O_RDWR : O_WRONLY) : O_RDONLY) | O_CLOEXEC | O_NOCTTY;
}

// Opens with the Windows creation disposition; existed tells whether the file was there before.
int openWithDisposition(const std::string& path, int mode, mode_t permissions, DWORD disposition, bool& existed)
{
    existed = false;
    if (disposition == CREATE_NEW)
        return open(path.c_str(), mode | O_CREAT | O_EXCL, permissions);
    if (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING) {
        int fd = open(path.c_str(), mode);
        existed = fd >= 0;
        return fd;
    }
    for (;;) { // the file may come or go between the two opens
        int fd = open(path.c_str(), mode | O_CREAT | O_EXCL, permissions);
        if (fd >= 0 || errno != EEXIST)
            return fd;
        fd = open(path.c_str(), mode);
        if (fd >= 0 || errno != ENOENT) {
            existed = fd >= 0;
            return fd;
        }
    }
}

Opened openFile(const std::string& path, DWORD access, DWORD share, DWORD disposition, DWORD flags)
{
    struct stat status;
    if (stat(path.c_str(), &status) == 0) {
        if (disposition == CREATE_NEW)
            return {nullptr, ERROR_FILE_EXISTS};
        bool directoryRefused =
            S_ISDIR(status.st_mode) && ((flags & FILE_FLAG_BACKUP_SEMANTICS) == 0 || truncates(disposition));
        bool writesReadOnly = readOnly(status) && ((access & kWriteAccess) != 0 || truncates(disposition));
        if (directoryRefused || writesReadOnly)
            return {nullptr, ERROR_ACCESS_DENIED};
    }
    mode_t permissions = (flags & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
    Opened opened;
    int fd = openWithDisposition(path, openMode(access, disposition), permissions, disposition, opened.existed);
    if (fd < 0)
        return {nullptr, errorFromErrno(errno, path)};
    opened.file = std::make_shared<FileStream>(fd, access);
    if (fstat(fd, &status) != 0)
        return {nullptr, errorFromErrno(errno, path)};
    if (S_ISDIR(status.st_mode) && (flags & FILE_FLAG_BACKUP_SEMANTICS) == 0)
        return {nullptr, ERROR_ACCESS_DENIED};
    if (DWORD error = opened.file->share().take(status.st_dev, status.st_ino, access, share))
        return {nullptr, error};
    if (opened.existed && truncates(disposition) && ftruncate(fd, 0) != 0)
        return {nullptr, errorFromErrno(errno, path)};
    if (flags & FILE_FLAG_DELETE_ON_CLOSE)
        opened.file->deleteOnClose(path);
    return opened;
}

// Holds a record of a pending delete of path (DELETE access, everything shared), so that it fails
// with ERROR_SHARING_VIOLATION while the file is open without FILE_SHARE_DELETE.
DWORD claimForDelete(const std::string& path, ShareRecord& record, struct stat& status)
{
    if (lstat(path.c_str(), &status) != 0)
        return errorFromErrno(errno, path);
    return record.take(status.st_dev, status.st_ino, DELETE, kShareAll);
}

// As claimForDelete, for a file that goes away (deleted or replaced): a loaded module's file may be
// renamed but not removed (ERROR_ACCESS_DENIED).
DWORD claimForRemoval(const std::string& path, ShareRecord& record, struct stat& status)
{
    if (DWORD error = claimForDelete(path, record, status))
        return error;
    return record.heldAsImageElsewhere() ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
}

DWORD copyContents(int from, int to)
{
    std::vector<char> buffer(kCopyChunk);
    for (;;) {
        ssize_t count = ::read(from, buffer.data(), buffer.size());
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return errorFromErrno(errno, {});
        if (count == 0)
            return ERROR_SUCCESS;
        for (ssize_t written = 0; written < count;) {
            ssize_t step = ::write(to, buffer.data() + written, static_cast<size_t>(count - written));
            if (step < 0 && errno == EINTR)
                continue;
            if (step <= 0)
                return errorFromErrno(step < 0 ? errno : ENOSPC, {});
            written += step;
        }
    }
}

DWORD copyFile(const std::string& from, const std::string& to, bool failIfExists)
{
    Opened source = openFile(from, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING, 0);
    if (source.error)
        return source.error;
    struct stat status;
    if (fstat(source.file->fd(), &status) != 0)
        return errorFromErrno(errno, from);
    DWORD attributes = readOnly(status) ? FILE_ATTRIBUTE_READONLY : 0;
    Opened target = openFile(to, GENERIC_WRITE, 0, failIfExists ? CREATE_NEW : CREATE_ALWAYS, attributes);
    if (target.error)
        return target.error;
    if (DWORD error = copyContents(source.file->fd(), target.file->fd()))
        return error;
    return fchmod(target.file->fd(), status.st_mode & 07777) == 0 ? ERROR_SUCCESS : errorFromErrno(errno, to);
}

DWORD moveFile(const std::string& from, const std::string& to, DWORD flags)
{
    ShareRecord sourceRecord, targetRecord;
    struct stat source, target;
    if (DWORD error = claimForDelete(from, sourceRecord, source))
        return error;
    bool replace = (flags & MOVEFILE_REPLACE_EXISTING) != 0;
    if (lstat(to.c_str(), &target) == 0 && (target.st_dev != source.st_dev || target.st_ino != source.st_ino)) {
        if (!replace)
            return ERROR_ALREADY_EXISTS;
        if (S_ISDIR(target.st_mode) || readOnly(target))
            return ERROR_ACCESS_DENIED;
        if (DWORD error = claimForRemoval(to, targetRecord, target))
            return error;
    }
    int result = replace ? rename(from.c_str(), to.c_str())
                         : renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
    if (result == 0)
        return ERROR_SUCCESS;
    if (errno == EEXIST)
        return ERROR_ALREADY_EXISTS;
    if (errno != EXDEV || (flags & MOVEFILE_COPY_ALLOWED) == 0 || S_ISDIR(source.st_mode))
        return errorFromErrno(errno, to);
    sourceRecord.release();
    if (DWORD error = copyFile(from, to, !replace))
        return error;
    return unlink(from.c_str()) == 0 ? ERROR_SUCCESS : errorFromErrno(errno, from);
}

// * matches any run of characters, ? one; "*.*" matches every name.
bool matchesPattern(std::u16string_view pattern, std::u16string_view name)
{
    if (pattern == u"*.*")
        pattern = u"*";
    size_t p = 0, n = 0, starP = std::u16string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == u'*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() && (pattern[p] == u'?' || sameName(pattern.substr(p, 1), name.substr(n, 1)))) {
            ++p;
            ++n;
        } else if (starP != std::u16string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

WIN32_FIND_DATAW findDataOf(const std::u16string& name, const struct stat& status)
{
    WIN32_FIND_DATAW data = {};
    data.dwFileAttributes = attributesOf(status);
    data.ftCreationTime = fileTimeOf(status.st_mtim);
    data.ftLastAccessTime = fileTimeOf(status.st_atim);
    data.ftLastWriteTime = fileTimeOf(status.st_mtim);
    ULONGLONG size = S_ISDIR(status.st_mode) ? 0 : static_cast<ULONGLONG>(status.st_size);
    data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(size);
    size_t length = std::min<size_t>(name.size(), MAX_PATH - 1);
    name.copy(data.cFileName, length);
    return data;
}

class FindObject : public Object {
public:
    explicit FindObject(std::vector<WIN32_FIND_DATAW> entries) : entries_(std::move(entries)) {}
    bool next(WIN32_FIND_DATAW& data)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (index_ >= entries_.size())
            return false;
        data = entries_[index_++];
        return true;
    }

private:
    std::mutex mutex_;
    std::vector<WIN32_FIND_DATAW> entries_;
    size_t index_ = 0;
};

// The entries of a folder whose names match pattern, in the order Windows lists them.
DWORD findEntries(const std::string& folder, std::u16string_view pattern, std::vector<WIN32_FIND_DATAW>& entries)
{
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return ERROR_PATH_NOT_FOUND;
    std::vector<std::u16string> names;
    while (dirent* entry = readdir(dir)) {
        std::u16string name = fromUtf8(entry->d_name);
        if (matchesPattern(pattern, name))
            names.push_back(std::move(name));
    }
    closedir(dir);
    std::sort(names.begin(), names.end(), [](const auto& a, const auto& b) { return compareNames(a, b) < 0; });
    for (const auto& name : names) {
        struct stat status;
        if (stat((folder + "/" + toUtf8(name)).c_str(), &status) == 0)
            entries.push_back(findDataOf(name, status));
    }
    return entries.empty() ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
}

template <class Result>
Result fail(DWORD error, Result result)
{
    SetLastError(error);
    return result;
}

BOOL succeed(DWORD error)
{
    if (error) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

template <class Action>
BOOL onMappedPath(LPCWSTR name, Action action)
{
    if (!name)
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    MappedPath mapped = mapPath(name);
    if (mapped.error)
        return fail(mapped.error, FALSE);
    return succeed(action(mapped.path));
}

template <class Action>
BOOL onMappedPaths(LPCWSTR from, LPCWSTR to, Action action)
{
    if (!from || !to)
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    MappedPath source = mapPath(from), target = mapPath(to);
    if (source.error || target.error)
        return fail(source.error ? source.error : target.error, FALSE);
    return succeed(action(source.path, target.path));
}

// ReadFile and WriteFile: the checks and the count around one transfer(stream, done).
template <class Transfer>
BOOL transferOn(HANDLE handle, const void* buffer, DWORD size, LPDWORD transferred, LPOVERLAPPED overlapped,
                Transfer transfer)
{
    if (transferred)
        *transferred = 0;
    auto stream = lookup<Stream>(handle);
    if (!stream)
        return fail(ERROR_INVALID_HANDLE, FALSE);
    if ((!transferred && !overlapped) || (!buffer && size))
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    DWORD done = 0;
    DWORD error = transfer(*stream, done);
    if (transferred)
        *transferred = done;
    return succeed(error);
}

std::shared_ptr<FileStream> fileOf(HANDLE handle)
{
    auto file = lookup<FileStream>(handle);
    if (!file)
        SetLastError(ERROR_INVALID_HANDLE);
    return file;
}

} // namespace

void registerDeviceOpener(std::u16string prefix, DeviceOpener opener)
{
    DeviceTable& table = devices();
    std::lock_guard<std::mutex> lock(table.mutex);
    table.openers.emplace_back(std::move(prefix), opener);
}

} // namespace pal

using namespace pal;

extern "C" {

HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, LPSECURITY_ATTRIBUTES,
                   DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE)
{
    if (!lpFileName)
        return fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    std::u16string_view name(lpFileName);
    if (isDeviceName(name)) {
        DeviceOpener opener = openerFor(name);
        if (!opener)
            return fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
        return opener(lpFileName, dwDesiredAccess, dwShareMode, dwCreationDisposition, dwFlagsAndAttributes);
    }
    if (dwCreationDisposition < CREATE_NEW || dwCreationDisposition > TRUNCATE_EXISTING ||
        (dwCreationDisposition == TRUNCATE_EXISTING && (dwDesiredAccess & kPositionalWriteAccess) == 0))
        return fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    MappedPath mapped = mapPath(name);
    if (mapped.error)
        return fail(mapped.error, INVALID_HANDLE_VALUE);
    Opened opened = openFile(mapped.path, dwDesiredAccess, dwShareMode, dwCreationDisposition, dwFlagsAndAttributes);
    if (opened.error)
        return fail(opened.error, INVALID_HANDLE_VALUE);
    bool reportsExisting = dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS;
    HANDLE handle = insertHandle(opened.file);
    SetLastError(opened.existed && reportsExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile)
{
    if (!lpFileName)
        return fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    return CreateFileW(wideFromAnsi(lpFileName).c_str(), dwDesiredAccess, dwShareMode, lpSecurityAttributes,
                       dwCreationDisposition, dwFlagsAndAttributes, hTemplateFile);
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPOVERLAPPED lpOverlapped)
{
    return transferOn(hFile, lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead, lpOverlapped,
                      [&](Stream& stream, DWORD& done) {
                          return stream.read(lpBuffer, nNumberOfBytesToRead, done, lpOverlapped);
                      });
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               LPOVERLAPPED lpOverlapped)
{
    return transferOn(hFile, lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten, lpOverlapped,
                      [&](Stream& stream, DWORD& done) {
                          return stream.write(lpBuffer, nNumberOfBytesToWrite, done, lpOverlapped);
                      });
}

DWORD SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh, DWORD dwMoveMethod)
{
    auto file = fileOf(hFile);
    if (!file)
        return INVALID_SET_FILE_POINTER;
    LONGLONG distance = lpDistanceToMoveHigh ? static_cast<LONGLONG>((static_cast<ULONGLONG>(
                                                   static_cast<DWORD>(*lpDistanceToMoveHigh))
                                               << 32) |
                                               static_cast<DWORD>(lDistanceToMove))
                                             : lDistanceToMove;
    LONGLONG position = 0;
    if (DWORD error = file->seek(distance, dwMoveMethod, !lpDistanceToMoveHigh, position))
        return fail(error, INVALID_SET_FILE_POINTER);
    if (lpDistanceToMoveHigh)
        *lpDistanceToMoveHigh = static_cast<LONG>(position >> 32);
    SetLastError(ERROR_SUCCESS); // a low part of 0xFFFFFFFF is then no failure
    return static_cast<DWORD>(position);
}

BOOL SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove, PLARGE_INTEGER lpNewFilePointer,
                      DWORD dwMoveMethod)
{
    auto file = fileOf(hFile);
    if (!file)
        return FALSE;
    LONGLONG position = 0;
    if (DWORD error = file->seek(liDistanceToMove.QuadPart, dwMoveMethod, false, position))
        return fail(error, FALSE);
    if (lpNewFilePointer)
        lpNewFilePointer->QuadPart = position;
    return TRUE;
}

DWORD GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh)
{
    auto file = fileOf(hFile);
    if (!file)
        return INVALID_FILE_SIZE;
    LONGLONG size = 0;
    if (DWORD error = file->size(size))
        return fail(error, INVALID_FILE_SIZE);
    if (lpFileSizeHigh)
        *lpFileSizeHigh = static_cast<DWORD>(static_cast<ULONGLONG>(size) >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(size);
}

BOOL GetFileSizeEx(HANDLE hFile, PLARGE_INTEGER lpFileSize)
{
    auto file = fileOf(hFile);
    if (!file)
        return FALSE;
    if (!lpFileSize)
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    LONGLONG size = 0;
    if (DWORD error = file->size(size))
        return fail(error, FALSE);
    lpFileSize->QuadPart = size;
    return TRUE;
}

BOOL FlushFileBuffers(HANDLE hFile)
{
    auto stream = lookup<Stream>(hFile);
    if (!stream)
        return fail(ERROR_INVALID_HANDLE, FALSE);
    return succeed(stream->flush());
}

BOOL SetEndOfFile(HANDLE hFile)
{
    auto file = fileOf(hFile);
    return file && succeed(file->setEnd());
}

BOOL DeleteFileW(LPCWSTR lpFileName)
{
    return onMappedPath(lpFileName, [](const std::string& path) -> DWORD {
        ShareRecord record;
        struct stat status;
        if (DWORD error = claimForRemoval(path, record, status))
            return error;
        if (S_ISDIR(status.st_mode) || readOnly(status))
            return ERROR_ACCESS_DENIED;
        return unlink(path.c_str()) == 0 ? ERROR_SUCCESS : errorFromErrno(errno, path);
    });
}

BOOL DeleteFileA(LPCSTR lpFileName)
{
    return lpFileName ? DeleteFileW(wideFromAnsi(lpFileName).c_str()) : fail(ERROR_INVALID_PARAMETER, FALSE);
}

DWORD GetFileAttributesW(LPCWSTR lpFileName)
{
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    onMappedPath(lpFileName, [&](const std::string& path) -> DWORD {
        struct stat status;
        if (stat(path.c_str(), &status) != 0)
            return errorFromErrno(errno, path);
        attributes = attributesOf(status);
        return ERROR_SUCCESS;
    });
    return attributes;
}

DWORD GetFileAttributesA(LPCSTR lpFileName)
{
    return lpFileName ? GetFileAttributesW(wideFromAnsi(lpFileName).c_str())
                      : fail(ERROR_INVALID_PARAMETER, INVALID_FILE_ATTRIBUTES);
}

BOOL CreateDirectoryW(LPCWSTR lpPathName, LPSECURITY_ATTRIBUTES)
{
    return onMappedPath(lpPathName, [](const std::string& path) -> DWORD {
        if (mkdir(path.c_str(), 0777) == 0)
            return ERROR_SUCCESS;
        if (errno == EEXIST)
            return ERROR_ALREADY_EXISTS;
        return errno == ENOENT ? ERROR_PATH_NOT_FOUND : errorFromErrno(errno, path);
    });
}

BOOL CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes)
{
    return lpPathName ? CreateDirectoryW(wideFromAnsi(lpPathName).c_str(), lpSecurityAttributes)
                      : fail(ERROR_INVALID_PARAMETER, FALSE);
}

BOOL RemoveDirectoryW(LPCWSTR lpPathName)
{
    return onMappedPath(lpPathName, [](const std::string& path) -> DWORD {
        if (rmdir(path.c_str()) == 0)
            return ERROR_SUCCESS;
        if (errno == ENOTEMPTY || errno == EEXIST)
            return ERROR_DIR_NOT_EMPTY;
        return errno == ENOTDIR ? ERROR_DIRECTORY : errorFromErrno(errno, path);
    });
}

BOOL CopyFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, BOOL bFailIfExists)
{
    return onMappedPaths(lpExistingFileName, lpNewFileName, [&](const std::string& from, const std::string& to) {
        return copyFile(from, to, bFailIfExists != FALSE);
    });
}

BOOL CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists)
{
    if (!lpExistingFileName || !lpNewFileName)
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    return CopyFileW(wideFromAnsi(lpExistingFileName).c_str(), wideFromAnsi(lpNewFileName).c_str(), bFailIfExists);
}

BOOL MoveFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, DWORD dwFlags)
{
    return onMappedPaths(lpExistingFileName, lpNewFileName, [&](const std::string& from, const std::string& to) {
        return moveFile(from, to, dwFlags);
    });
}

BOOL MoveFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName)
{
    return MoveFileExW(lpExistingFileName, lpNewFileName, MOVEFILE_COPY_ALLOWED);
}

HANDLE FindFirstFileW(LPCWSTR lpFileName, LPWIN32_FIND_DATAW lpFindFileData)
{
    if (!lpFileName || !lpFindFileData)
        return fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    std::u16string_view text(lpFileName);
    size_t separator = text.find_last_of(u"\\/");
    std::u16string_view pattern = separator == std::u16string_view::npos ? text : text.substr(separator + 1);
    std::u16string_view folder = separator == std::u16string_view::npos ? u"." : text.substr(0, separator + 1);
    if (pattern.empty())
        return fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    MappedPath mapped = mapPath(folder);
    if (mapped.error)
        return fail(mapped.error, INVALID_HANDLE_VALUE);
    std::vector<WIN32_FIND_DATAW> entries;
    if (DWORD error = findEntries(mapped.path, pattern, entries))
        return fail(error, INVALID_HANDLE_VALUE);
    auto search = std::make_shared<FindObject>(std::move(entries));
    search->next(*lpFindFileData);
    return insertHandle(search);
}

BOOL FindNextFileW(HANDLE hFindFile, LPWIN32_FIND_DATAW lpFindFileData)
{
    auto search = lookup<FindObject>(hFindFile);
    if (!search)
        return fail(ERROR_INVALID_HANDLE, FALSE);
    if (!lpFindFileData)
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    return search->next(*lpFindFileData) ? TRUE : fail(ERROR_NO_MORE_FILES, FALSE);
}

BOOL FindClose(HANDLE hFindFile)
{
    if (!lookup<FindObject>(hFindFile))
        return fail(ERROR_INVALID_HANDLE, FALSE);
    removeHandle(hFindFile);
    return TRUE;
}

} // extern "C"
