// Named sections: one file per name in <root>/run/sections, mapped shared by every process that
// holds it. Each holder keeps a shared flock on its own open of the file, so a section with no
// lock holder is gone, whether its last holder closed it or crashed. Creating, opening and the
// last close serialise on the folder's lock file.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "files/root.h"
#include "pal/handles.h"
#include "pal/mapping.h"
#include "text/text_ansi.h"
#include "text/text_case.h"
#include "text/text_utf8.h"
#include "threads/object.h"

namespace pal {
namespace {

constexpr uint64_t kGranularity = 65536;
constexpr size_t kMaxKeyBytes = 200;

// One open of a section's file; its shared lock keeps the section alive.
class SectionFile {
public:
    SectionFile(int fd, std::string path, uint64_t size) : fd_(fd), path_(std::move(path)), size_(size) {}
    ~SectionFile();
    SectionFile(const SectionFile&) = delete;
    SectionFile& operator=(const SectionFile&) = delete;

    int fd() const { return fd_; }
    uint64_t size() const { return size_; }

private:
    int fd_;
    std::string path_; // empty for an unnamed section
    uint64_t size_;
};

struct Mapping : Object {
    std::shared_ptr<SectionFile> section;
    bool writable = false;
};

struct View {
    std::shared_ptr<SectionFile> section;
    size_t length;
};

struct ViewTable {
    std::mutex mutex;
    std::map<const void*, View> views;
};

ViewTable& viewTable()
{
    static ViewTable* table = new ViewTable; // views may outlive static destruction
    return *table;
}

template <class Result>
Result fail(DWORD error, Result result)
{
    SetLastError(error);
    return result;
}

int lockedRetry(int fd, int operation)
{
    int result;
    do
        result = flock(fd, operation);
    while (result != 0 && errno == EINTR);
    return result;
}

// The namespace's lock, held for its scope; fd < 0 when the folder cannot be used.
class NamespaceLock {
public:
    explicit NamespaceLock(const std::string& folder)
        : fd_(open((folder + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666))
    {
        if (fd_ >= 0 && lockedRetry(fd_, LOCK_EX) != 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~NamespaceLock()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    NamespaceLock(const NamespaceLock&) = delete;
    NamespaceLock& operator=(const NamespaceLock&) = delete;
    bool held() const { return fd_ >= 0; }

private:
    int fd_;
};

std::string sectionsFolder()
{
    return rootFolder("run/sections");
}

SectionFile::~SectionFile()
{
    if (!path_.empty()) {
        std::string folder = path_.substr(0, path_.rfind('/'));
        NamespaceLock lock(folder);
        if (lock.held() && flock(fd_, LOCK_EX | LOCK_NB) == 0)
            unlink(path_.c_str()); // the last holder anywhere
    }
    close(fd_);
}

bool startsWithNoCase(std::u16string_view text, std::u16string_view prefix)
{
    return text.size() >= prefix.size() && sameName(text.substr(0, prefix.size()), prefix);
}

// "Global\" and "Local\" name the one namespace of the root.
std::u16string_view objectName(std::u16string_view name)
{
    for (std::u16string_view prefix : {std::u16string_view(u"Global\\"), std::u16string_view(u"Local\\")})
        if (startsWithNoCase(name, prefix))
            return name.substr(prefix.size());
    return name;
}

bool keptInFileName(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

// Object names are case-sensitive: the file name keeps every byte, escaping all but plain ones.
// Names too long for a file name go by their hash.
std::string fileNameOf(std::u16string_view name)
{
    std::string key = "s-";
    char escaped[4];
    for (unsigned char c : toUtf8(name)) {
        if (keptInFileName(c)) {
            key += static_cast<char>(c);
        } else {
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            key += escaped;
        }
    }
    if (key.size() <= kMaxKeyBytes)
        return key;
    uint64_t hash = 14695981039346656037ull; // FNV-1a
    for (unsigned char c : key) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    char hashed[24];
    std::snprintf(hashed, sizeof hashed, "h-%016llx", static_cast<unsigned long long>(hash));
    return hashed;
}

struct SectionPath {
    std::string path;
    DWORD error = 0;
};

SectionPath sectionPath(std::u16string_view name)
{
    std::u16string_view object = objectName(name);
    if (object.size() > MAX_PATH)
        return {{}, ERROR_FILENAME_EXCED_RANGE};
    if (object.find(u'\\') != std::u16string_view::npos)
        return {{}, ERROR_PATH_NOT_FOUND};
    std::string folder = sectionsFolder();
    if (folder.empty())
        return {{}, ERROR_PATH_NOT_FOUND};
    return {folder + "/" + fileNameOf(object), 0};
}

uint64_t fileSize(int fd)
{
    struct stat status {};
    return fstat(fd, &status) == 0 ? static_cast<uint64_t>(status.st_size) : 0;
}

HANDLE insertMapping(std::shared_ptr<SectionFile> section, bool writable)
{
    auto mapping = std::make_shared<Mapping>();
    mapping->section = std::move(section);
    mapping->writable = writable;
    return insertHandle(std::move(mapping));
}

HANDLE createUnnamed(uint64_t size, bool writable)
{
    int fd = memfd_create("section", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) {
        if (fd >= 0)
            close(fd);
        return fail(ERROR_NOT_ENOUGH_MEMORY, HANDLE(nullptr));
    }
    SetLastError(ERROR_SUCCESS);
    return insertMapping(std::make_shared<SectionFile>(fd, std::string(), size), writable);
}

// Under the namespace lock: true when no process holds the file (a section that is gone).
bool unheld(int fd)
{
    return flock(fd, LOCK_EX | LOCK_NB) == 0;
}

HANDLE createNamed(const std::string& path, uint64_t size, bool writable)
{
    NamespaceLock lock(path.substr(0, path.rfind('/')));
    if (!lock.held())
        return fail(ERROR_PATH_NOT_FOUND, HANDLE(nullptr));
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return fail(ERROR_ACCESS_DENIED, HANDLE(nullptr));
    bool fresh = unheld(fd);
    if (fresh && (ftruncate(fd, 0) != 0 || ftruncate(fd, static_cast<off_t>(size)) != 0)) {
        close(fd);
        unlink(path.c_str());
        return fail(ERROR_NOT_ENOUGH_MEMORY, HANDLE(nullptr));
    }
    lockedRetry(fd, LOCK_SH);
    uint64_t actual = fresh ? size : fileSize(fd);
    HANDLE handle = insertMapping(std::make_shared<SectionFile>(fd, path, actual), writable);
    SetLastError(fresh ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS);
    return handle;
}

HANDLE openNamed(const std::string& path, bool writable)
{
    NamespaceLock lock(path.substr(0, path.rfind('/')));
    if (!lock.held())
        return fail(ERROR_FILE_NOT_FOUND, HANDLE(nullptr));
    int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return fail(ERROR_FILE_NOT_FOUND, HANDLE(nullptr));
    if (unheld(fd)) {
        unlink(path.c_str()); // left by a process that ended without closing it
        close(fd);
        return fail(ERROR_FILE_NOT_FOUND, HANDLE(nullptr));
    }
    lockedRetry(fd, LOCK_SH);
    return insertMapping(std::make_shared<SectionFile>(fd, path, fileSize(fd)), writable);
}

bool wantsWrite(DWORD access)
{
    return (access & FILE_MAP_WRITE) != 0;
}

} // namespace
} // namespace pal

using namespace pal;

extern "C" {

HANDLE CreateFileMappingW(HANDLE hFile, LPSECURITY_ATTRIBUTES, DWORD flProtect, DWORD dwMaximumSizeHigh,
                          DWORD dwMaximumSizeLow, LPCWSTR lpName)
{
    if (hFile != INVALID_HANDLE_VALUE)
        return fail(ERROR_NOT_SUPPORTED, HANDLE(nullptr)); // only sections backed by the paging file
    if (flProtect != PAGE_READONLY && flProtect != PAGE_READWRITE)
        return fail(ERROR_INVALID_PARAMETER, HANDLE(nullptr));
    uint64_t size = static_cast<uint64_t>(dwMaximumSizeHigh) << 32 | dwMaximumSizeLow;
    if (size == 0 || size > static_cast<uint64_t>(INT64_MAX))
        return fail(ERROR_INVALID_PARAMETER, HANDLE(nullptr));
    bool writable = flProtect == PAGE_READWRITE;
    if (!lpName || !lpName[0])
        return createUnnamed(size, writable);
    SectionPath place = sectionPath(lpName);
    if (place.error)
        return fail(place.error, HANDLE(nullptr));
    return createNamed(place.path, size, writable);
}

HANDLE CreateFileMappingA(HANDLE hFile, LPSECURITY_ATTRIBUTES attributes, DWORD flProtect, DWORD dwMaximumSizeHigh,
                          DWORD dwMaximumSizeLow, LPCSTR lpName)
{
    AnsiArgument name(lpName);
    return CreateFileMappingW(hFile, attributes, flProtect, dwMaximumSizeHigh, dwMaximumSizeLow, name.get());
}

HANDLE OpenFileMappingW(DWORD dwDesiredAccess, BOOL, LPCWSTR lpName)
{
    if (!lpName)
        return fail(ERROR_INVALID_PARAMETER, HANDLE(nullptr));
    if (!lpName[0])
        return fail(ERROR_FILE_NOT_FOUND, HANDLE(nullptr));
    SectionPath place = sectionPath(lpName);
    if (place.error)
        return fail(place.error, HANDLE(nullptr));
    return openNamed(place.path, wantsWrite(dwDesiredAccess));
}

HANDLE OpenFileMappingA(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCSTR lpName)
{
    AnsiArgument name(lpName);
    return OpenFileMappingW(dwDesiredAccess, bInheritHandle, name.get());
}

LPVOID MapViewOfFile(HANDLE hFileMappingObject, DWORD dwDesiredAccess, DWORD dwFileOffsetHigh,
                     DWORD dwFileOffsetLow, SIZE_T dwNumberOfBytesToMap)
{
    auto mapping = lookup<Mapping>(hFileMappingObject);
    if (!mapping)
        return fail(ERROR_INVALID_HANDLE, LPVOID(nullptr));
    bool write = wantsWrite(dwDesiredAccess);
    if (write && !mapping->writable)
        return fail(ERROR_ACCESS_DENIED, LPVOID(nullptr));
    uint64_t offset = static_cast<uint64_t>(dwFileOffsetHigh) << 32 | dwFileOffsetLow;
    if (offset % kGranularity != 0)
        return fail(ERROR_MAPPED_ALIGNMENT, LPVOID(nullptr));
    uint64_t size = mapping->section->size();
    if (offset >= size || dwNumberOfBytesToMap > size - offset)
        return fail(ERROR_ACCESS_DENIED, LPVOID(nullptr));
    size_t length = dwNumberOfBytesToMap ? dwNumberOfBytesToMap : static_cast<size_t>(size - offset);
    void* address = mmap(nullptr, length, write ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED,
                         mapping->section->fd(), static_cast<off_t>(offset));
    if (address == MAP_FAILED)
        return fail(ERROR_NOT_ENOUGH_MEMORY, LPVOID(nullptr));
    ViewTable& table = viewTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    table.views[address] = View{mapping->section, length};
    return address;
}

BOOL UnmapViewOfFile(LPCVOID lpBaseAddress)
{
    View view;
    {
        ViewTable& table = viewTable();
        std::lock_guard<std::mutex> lock(table.mutex);
        auto it = table.views.find(lpBaseAddress);
        if (it == table.views.end())
            return fail(ERROR_INVALID_ADDRESS, FALSE);
        view = std::move(it->second);
        table.views.erase(it);
    }
    munmap(const_cast<void*>(lpBaseAddress), view.length);
    return TRUE; // the section goes with view.section when this was its last holder
}

} // extern "C"
