// The registry's files. Layout and key file format: see the top of registry.cpp.
#include "registry/registry_store.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "winsock/errno_map.h"
#include "pal/errors.h"
#include "registry/registry_bytes.h"
#include "registry/registry_names.h"
#include "threads/time_filetime.h"

namespace pal::reg {
namespace {

constexpr char kMagic[8] = {'P', 'A', 'L', 'R', 'E', 'G', '0', '1'};
constexpr size_t kHeaderReadSize = 4096; // magic, id and the longest key name fit
constexpr const char* kKeyFile = "/.key";
constexpr const char* kKeyFileTemporary = "/.key.tmp";
constexpr const char* kNewKeyFolder = "/.new.tmp";

// A missing key file or folder is a missing key.
LONG errorFromErrno(int error)
{
    return error == ENOTDIR ? ERROR_FILE_NOT_FOUND : windowsErrorOf(error, ERROR_REGISTRY_IO_FAILED);
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

LONG readFile(const std::string& path, size_t limit, std::vector<BYTE>& bytes)
{
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0)
        return errorFromErrno(errno);
    bytes.clear();
    BYTE chunk[8192];
    while (bytes.size() < limit) {
        ssize_t got = ::read(file.get(), chunk, std::min(sizeof chunk, limit - bytes.size()));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return errorFromErrno(errno);
        if (got == 0)
            break;
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    return ERROR_SUCCESS;
}

LONG writeFile(const std::string& path, const std::vector<BYTE>& bytes)
{
    FileDescriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (file.get() < 0)
        return errorFromErrno(errno);
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t wrote = ::write(file.get(), bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote < 0)
            return errorFromErrno(errno);
        done += static_cast<size_t>(wrote);
    }
    return ERROR_SUCCESS;
}

LONG fsyncPath(const std::string& path, int flags)
{
    FileDescriptor file(::open(path.c_str(), flags | O_CLOEXEC));
    if (file.get() < 0)
        return errno == ENOENT ? ERROR_SUCCESS : errorFromErrno(errno);
    return ::fsync(file.get()) == 0 ? ERROR_SUCCESS : errorFromErrno(errno);
}

uint64_t randomKeyId()
{
    uint64_t id = 0;
    while (id == 0) {
        if (::getrandom(&id, sizeof id, 0) != sizeof id)
            id = 0;
    }
    return id;
}

LONG loadKeyFile(const std::string& folder, KeyRecord& key, bool headerOnly)
{
    std::vector<BYTE> bytes;
    LONG error = readFile(folder + kKeyFile, headerOnly ? kHeaderReadSize : SIZE_MAX, bytes);
    if (error != ERROR_SUCCESS)
        return error;
    return decodeKey(bytes, key, headerOnly) ? ERROR_SUCCESS : ERROR_REGISTRY_CORRUPT;
}

} // namespace

std::vector<BYTE> encodeKey(const KeyRecord& key)
{
    ByteWriter writer;
    writer.raw(kMagic, sizeof kMagic);
    writer.u64(key.id);
    writer.text(key.name);
    writer.u32(static_cast<uint32_t>(key.values.size()));
    for (const Value& value : key.values) {
        writer.text(value.name);
        writer.u32(value.type);
        writer.bytes(value.data.data(), value.data.size());
    }
    return std::move(writer.out);
}

bool decodeKey(const std::vector<BYTE>& bytes, KeyRecord& key, bool headerOnly)
{
    ByteReader reader(bytes.data(), bytes.size());
    char magic[sizeof kMagic];
    if (!reader.raw(magic, sizeof magic) || !std::equal(magic, magic + sizeof magic, kMagic))
        return false;
    if (!reader.u64(key.id) || !reader.text(key.name))
        return false;
    key.values.clear();
    if (headerOnly)
        return true;
    uint32_t count = 0;
    if (!reader.u32(count) || count > reader.remaining() / 12) // a value takes at least 12 bytes
        return false;
    key.values.resize(count);
    for (Value& value : key.values) {
        if (!reader.text(value.name) || !reader.u32(value.type) || !reader.bytes(value.data))
            return false;
    }
    return reader.remaining() == 0;
}

LONG loadKey(const std::string& folder, KeyRecord& key)
{
    return loadKeyFile(folder, key, false);
}

LONG loadKeyHeader(const std::string& folder, KeyRecord& key)
{
    return loadKeyFile(folder, key, true);
}

LONG storeKey(const std::string& folder, const KeyRecord& key)
{
    const std::string temporary = folder + kKeyFileTemporary;
    LONG error = writeFile(temporary, encodeKey(key));
    if (error == ERROR_SUCCESS && ::rename(temporary.c_str(), (folder + kKeyFile).c_str()) != 0)
        error = errorFromErrno(errno);
    if (error != ERROR_SUCCESS)
        ::unlink(temporary.c_str());
    return error;
}

std::string childFolder(const std::string& folder, std::u16string_view name)
{
    return folder + "/" + folderName(name);
}

LONG makeKey(const std::string& parentFolder, std::u16string_view name, std::string& folder, uint64_t& id)
{
    std::error_code ignored;
    folder = childFolder(parentFolder, name);
    const std::string prepared = parentFolder + kNewKeyFolder;
    // Both can only be left over from a writer that died half-way.
    std::filesystem::remove_all(prepared, ignored);
    std::filesystem::remove_all(folder, ignored);
    if (::mkdir(prepared.c_str(), 0777) != 0)
        return errorFromErrno(errno);
    KeyRecord key;
    key.id = randomKeyId();
    key.name = name;
    LONG error = storeKey(prepared, key);
    if (error == ERROR_SUCCESS && ::rename(prepared.c_str(), folder.c_str()) != 0)
        error = errorFromErrno(errno);
    if (error != ERROR_SUCCESS) {
        std::filesystem::remove_all(prepared, ignored);
        return error;
    }
    id = key.id;
    return ERROR_SUCCESS;
}

LONG removeKey(const std::string& folder)
{
    if (::unlink((folder + kKeyFile).c_str()) != 0)
        return errorFromErrno(errno);
    std::error_code ignored; // what is left has no key file and counts as gone
    std::filesystem::remove_all(folder, ignored);
    return ERROR_SUCCESS;
}

LONG listSubkeys(const std::string& folder, std::vector<Subkey>& subkeys)
{
    subkeys.clear();
    std::error_code error;
    std::filesystem::directory_iterator entries(folder, error);
    if (error)
        return errorFromErrno(error.value());
    for (const auto& entry : entries) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name[0] == '.' || !entry.is_directory(error))
            continue;
        KeyRecord key;
        const std::string child = folder + "/" + name;
        LONG status = loadKeyHeader(child, key);
        if (status == ERROR_FILE_NOT_FOUND)
            continue;
        if (status != ERROR_SUCCESS)
            return status;
        subkeys.push_back({std::move(key.name), child});
    }
    std::sort(subkeys.begin(), subkeys.end(),
              [](const Subkey& a, const Subkey& b) { return compareNames(a.name, b.name) < 0; });
    return ERROR_SUCCESS;
}

FILETIME lastWriteTime(const std::string& folder)
{
    struct stat info {};
    if (::stat((folder + kKeyFile).c_str(), &info) != 0 && ::stat(folder.c_str(), &info) != 0)
        return FILETIME{0, 0};
    return fileTimeOf(info.st_mtim);
}

LONG flushKey(const std::string& folder)
{
    LONG error = fsyncPath(folder + kKeyFile, O_RDONLY);
    return error != ERROR_SUCCESS ? error : fsyncPath(folder, O_RDONLY | O_DIRECTORY);
}

StoreLock::StoreLock(const std::string& registryFolder, bool exclusive)
{
    fd_ = ::open((registryFolder + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        status_ = errorFromErrno(errno);
        return;
    }
    while (::flock(fd_, exclusive ? LOCK_EX : LOCK_SH) != 0) {
        if (errno != EINTR) {
            status_ = errorFromErrno(errno);
            return;
        }
    }
}

StoreLock::~StoreLock()
{
    if (fd_ >= 0)
        ::close(fd_); // releases the lock
}

} // namespace pal::reg
