// Windows paths mapped onto the platform root, the Windows folders and the CRT path splitting.
#include <cerrno>
#include <dirent.h>
#include <filesystem>
#include <mutex>
#include <sys/stat.h>
#include <vector>

#include "winsock/errno_map.h"
#include "files/file_paths.h"
#include "files/file_text.h"
#include "pal/codepage.h"
#include "pal/files.h"
#include "pal/testhooks.h"
#include "files/root.h"
#include "text/text_case.h"
#include "text/text_utf8.h"

namespace pal {
namespace {

const char16_t kSystemFolder[] = u"C:\\Windows\\System32";
const char16_t kWindowsFolder[] = u"C:\\Windows";
const char16_t kTempFolder[] = u"C:\\Windows\\Temp\\";

// palSetTempPath: the temporary folder in place of kTempFolder, when not empty.
std::mutex g_tempFolderMutex;
std::u16string g_tempFolder;

std::u16string tempFolder()
{
    std::lock_guard<std::mutex> lock(g_tempFolderMutex);
    return g_tempFolder.empty() ? std::u16string(kTempFolder) : g_tempFolder;
}

bool isInvalidNameChar(char16_t c)
{
    return c < 0x20 || std::u16string_view(u"<>:\"|?*").find(c) != std::u16string_view::npos;
}

bool isDriveC(std::u16string_view path)
{
    return path.size() >= 2 && path[1] == u':' && (path[0] == u'C' || path[0] == u'c');
}

bool hasDrive(std::u16string_view path)
{
    return path.size() >= 2 && path[1] == u':';
}

// Windows drops trailing dots and blanks of a name ("file." is "file").
std::u16string_view trimName(std::u16string_view name)
{
    if (name == u"." || name == u"..")
        return name;
    while (!name.empty() && (name.back() == u'.' || name.back() == u' '))
        name.remove_suffix(1);
    return name;
}

// Splits into components and resolves "." and ".." by text; a rooted path cannot climb above
// its root, a relative one keeps leading "..".
std::vector<std::u16string_view> components(std::u16string_view rest, bool rooted)
{
    std::vector<std::u16string_view> parts;
    size_t start = 0;
    while (start <= rest.size()) {
        size_t end = start;
        while (end < rest.size() && !isSeparator(rest[end]))
            ++end;
        std::u16string_view name = trimName(rest.substr(start, end - start));
        if (name == u"..") {
            if (!parts.empty() && parts.back() != u"..")
                parts.pop_back();
            else if (!rooted)
                parts.push_back(name);
        } else if (!name.empty() && name != u".") {
            parts.push_back(name);
        }
        start = end + 1;
    }
    return parts;
}

// Appends each component, taking the existing entry's spelling where one matches without regard
// to case; once a component does not exist, the rest keep the case they were given.
std::string resolve(std::string base, const std::vector<std::u16string_view>& parts)
{
    bool looking = true;
    for (std::u16string_view part : parts) {
        std::string name = toUtf8(part);
        if (looking) {
            struct stat status;
            std::string exact = base + "/" + name;
            if (lstat(exact.c_str(), &status) != 0) {
                std::string other = findEntryNoCase(base, part);
                if (other.empty())
                    looking = false;
                else
                    name = other;
            }
        }
        base += "/" + name;
    }
    return base;
}

} // namespace

std::string findEntryNoCase(const std::string& folder, std::u16string_view name)
{
    DIR* dir = opendir(folder.empty() ? "/" : folder.c_str());
    if (!dir)
        return {};
    std::string found;
    while (dirent* entry = readdir(dir)) {
        if (sameName(fromUtf8(entry->d_name), name)) {
            found = entry->d_name;
            break;
        }
    }
    closedir(dir);
    return found;
}

MappedPath mapPath(std::u16string_view path)
{
    if (path.size() >= 4 && path.substr(0, 4) == u"\\\\?\\")
        path.remove_prefix(4);
    if (path.empty())
        return {{}, ERROR_PATH_NOT_FOUND};
    if (path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1]))
        return {{}, ERROR_BAD_NETPATH};

    std::string base;
    bool rooted = true;
    if (hasDrive(path) || path[0] == u'\\') {
        if (hasDrive(path) && !isDriveC(path))
            return {{}, ERROR_PATH_NOT_FOUND};
        base = rootFolder("drive_c");
        if (base.empty())
            return {{}, ERROR_PATH_NOT_FOUND};
        if (hasDrive(path))
            path.remove_prefix(2);
    } else if (path[0] != u'/') {
        base = ".";
        rooted = false;
    }

    std::vector<std::u16string_view> parts = components(path, rooted);
    for (std::u16string_view part : parts)
        for (char16_t c : part)
            if (isInvalidNameChar(c))
                return {{}, ERROR_INVALID_NAME};
    std::string mapped = resolve(base, parts);
    return {mapped.empty() ? std::string("/") : mapped, ERROR_SUCCESS};
}

std::u16string windowsPathOf(const std::string& linuxPath)
{
    std::string root = rootPath();
    if (root.empty())
        return {};
    std::error_code ignored;
    std::string drive = std::filesystem::weakly_canonical(root + "/drive_c", ignored).string();
    std::string path = std::filesystem::weakly_canonical(linuxPath, ignored).string();
    if (drive.empty() || path.compare(0, drive.size(), drive) != 0 ||
        (path.size() > drive.size() && path[drive.size()] != '/'))
        return {};
    std::u16string windows = u"C:\\" + fromUtf8(path.substr(std::min(path.size(), drive.size() + 1)));
    for (char16_t& c : windows)
        if (c == u'/')
            c = u'\\';
    return windows;
}

std::u16string createdFolder(std::u16string_view windowsPath)
{
    MappedPath mapped = mapPath(windowsPath);
    if (!mapped.error) {
        std::error_code ignored;
        std::filesystem::create_directories(mapped.path, ignored);
    }
    return std::u16string(windowsPath);
}

std::u16string windowsDirectory()
{
    return createdFolder(kWindowsFolder);
}

std::u16string systemDirectory()
{
    return createdFolder(kSystemFolder);
}

std::string baseNameOf(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string folderOf(const std::string& path)
{
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

DWORD errorFromErrno(int error, const std::string& path)
{
    if (error != ENOENT)
        return windowsErrorOf(error, ERROR_GEN_FAILURE);
    struct stat status;
    std::string parent = folderOf(path);
    return stat(parent.c_str(), &status) == 0 && S_ISDIR(status.st_mode) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

} // namespace pal

using namespace pal;

namespace {

UINT folderW(std::u16string_view folder, LPWSTR buffer, UINT size)
{
    return copyOrNeed(std::u16string_view(createdFolder(folder)), buffer, size);
}

UINT folderA(std::u16string_view folder, LPSTR buffer, UINT size)
{
    std::string ansi = ansiFromWide(createdFolder(folder));
    return copyOrNeed(std::string_view(ansi), buffer, size);
}

// Where drive, folder, name and extension of a path start and end (offsets into the path).
struct PathParts {
    size_t driveEnd, dirEnd, nameEnd, end;
};

template <class Char, class Next>
PathParts partsOf(const Char* path, Next next)
{
    PathParts parts{};
    if (path[0] && path[1] == ':')
        parts.driveEnd = 2;
    const Char* lastSeparator = nullptr;
    const Char* lastDot = nullptr;
    const Char* p = path + parts.driveEnd;
    for (; *p; p = next(p)) {
        if (*p == '\\' || *p == '/')
            lastSeparator = p;
        else if (*p == '.')
            lastDot = p;
    }
    parts.end = static_cast<size_t>(p - path);
    parts.dirEnd = lastSeparator ? static_cast<size_t>(lastSeparator + 1 - path) : parts.driveEnd;
    parts.nameEnd = lastDot && lastDot >= path + parts.dirEnd ? static_cast<size_t>(lastDot - path) : parts.end;
    return parts;
}

template <class Char>
struct PartBuffer {
    Char* buffer;
    size_t size;
    size_t begin, end;
};

template <class Char>
void emptyAll(PartBuffer<Char>* buffers, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        if (buffers[i].buffer && buffers[i].size > 0)
            buffers[i].buffer[0] = Char();
}

template <class Char, class Next>
errno_t splitPath(const Char* path, Char* drive, size_t driveSize, Char* dir, size_t dirSize, Char* fname,
                  size_t fnameSize, Char* ext, size_t extSize, Next next)
{
    PartBuffer<Char> buffers[4] = {
        {drive, driveSize, 0, 0}, {dir, dirSize, 0, 0}, {fname, fnameSize, 0, 0}, {ext, extSize, 0, 0}};
    bool consistent = true;
    for (const auto& part : buffers)
        consistent = consistent && ((part.buffer == nullptr) == (part.size == 0));
    if (!path || !consistent) {
        emptyAll(buffers, 4);
        return EINVAL;
    }
    PathParts parts = partsOf(path, next);
    size_t bounds[5] = {0, parts.driveEnd, parts.dirEnd, parts.nameEnd, parts.end};
    for (size_t i = 0; i < 4; ++i) {
        buffers[i].begin = bounds[i];
        buffers[i].end = bounds[i + 1];
        if (buffers[i].buffer && buffers[i].end - buffers[i].begin >= buffers[i].size) {
            emptyAll(buffers, 4);
            return ERANGE;
        }
    }
    for (const auto& part : buffers) {
        if (!part.buffer)
            continue;
        std::copy(path + part.begin, path + part.end, part.buffer);
        part.buffer[part.end - part.begin] = Char();
    }
    return 0;
}

// Last character of text (by the stepping rule), or NUL for an empty text.
template <class Char, class Next>
Char lastChar(const Char* text, Next next)
{
    Char last = Char();
    for (const Char* p = text; *p; p = next(p))
        last = *p;
    return last;
}

template <class Char, class Next>
errno_t makePath(Char* path, size_t size, const Char* drive, const Char* dir, const Char* fname, const Char* ext,
                 Next next)
{
    if (!path || size == 0)
        return EINVAL;
    std::basic_string<Char> result;
    if (drive && drive[0]) {
        result += drive[0];
        result += Char(':');
    }
    if (dir && dir[0]) {
        result += dir;
        Char last = lastChar(dir, next);
        if (last != Char('\\') && last != Char('/'))
            result += Char('\\');
    }
    if (fname)
        result += fname;
    if (ext && ext[0]) {
        if (ext[0] != Char('.'))
            result += Char('.');
        result += ext;
    }
    if (result.size() >= size) {
        path[0] = Char();
        return ERANGE;
    }
    std::copy(result.begin(), result.end(), path);
    path[result.size()] = Char();
    return 0;
}

const WCHAR* nextWide(const WCHAR* p)
{
    return p + 1;
}

const char* nextAnsi(const char* p)
{
    return CharNextA(p);
}

} // namespace

extern "C" {

UINT GetSystemDirectoryW(LPWSTR lpBuffer, UINT uSize)
{
    return folderW(kSystemFolder, lpBuffer, uSize);
}

UINT GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize)
{
    return folderA(kSystemFolder, lpBuffer, uSize);
}

UINT GetWindowsDirectoryW(LPWSTR lpBuffer, UINT uSize)
{
    return folderW(kWindowsFolder, lpBuffer, uSize);
}

UINT GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize)
{
    return folderA(kWindowsFolder, lpBuffer, uSize);
}

DWORD GetTempPathW(DWORD nBufferLength, LPWSTR lpBuffer)
{
    return folderW(tempFolder(), lpBuffer, nBufferLength);
}

DWORD GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer)
{
    return folderA(tempFolder(), lpBuffer, nBufferLength);
}

BOOL PathFileExistsW(LPCWSTR pszPath)
{
    return pszPath && GetFileAttributesW(pszPath) != INVALID_FILE_ATTRIBUTES;
}

BOOL PathFileExistsA(LPCSTR pszPath)
{
    return pszPath && GetFileAttributesA(pszPath) != INVALID_FILE_ATTRIBUTES;
}

BOOL PathRemoveFileSpecW(LPWSTR pszPath)
{
    if (!pszPath || !pszPath[0])
        return FALSE;
    std::u16string_view path(pszPath);
    size_t separator = path.find_last_of(u"\\/");
    if (separator == std::u16string_view::npos) {
        pszPath[0] = 0;
        return TRUE;
    }
    bool rootSeparator = separator == 0 || (separator == 2 && path[1] == u':');
    size_t keep = rootSeparator ? separator + 1 : separator;
    if (keep == path.size())
        return FALSE;
    pszPath[keep] = 0;
    return TRUE;
}

BOOL PathAppendW(LPWSTR pszPath, LPCWSTR pszMore)
{
    if (!pszPath || !pszMore)
        return FALSE;
    std::u16string_view more(pszMore);
    while (!more.empty() && isSeparator(more.front()))
        more.remove_prefix(1);
    std::u16string result(pszPath);
    if (!result.empty() && !isSeparator(result.back()) && !more.empty())
        result += u'\\';
    result += more;
    if (result.size() >= MAX_PATH)
        return FALSE;
    std::copy(result.begin(), result.end(), pszPath);
    pszPath[result.size()] = 0;
    return TRUE;
}

errno_t _wsplitpath_s(const WCHAR* path, WCHAR* drive, size_t driveNumberOfElements, WCHAR* dir,
                      size_t dirNumberOfElements, WCHAR* fname, size_t nameNumberOfElements, WCHAR* ext,
                      size_t extNumberOfElements)
{
    return splitPath(path, drive, driveNumberOfElements, dir, dirNumberOfElements, fname, nameNumberOfElements, ext,
                     extNumberOfElements, nextWide);
}

errno_t _splitpath_s(const char* path, char* drive, size_t driveNumberOfElements, char* dir,
                     size_t dirNumberOfElements, char* fname, size_t nameNumberOfElements, char* ext,
                     size_t extNumberOfElements)
{
    return splitPath(path, drive, driveNumberOfElements, dir, dirNumberOfElements, fname, nameNumberOfElements, ext,
                     extNumberOfElements, nextAnsi);
}

void _wsplitpath(const WCHAR* path, WCHAR* drive, WCHAR* dir, WCHAR* fname, WCHAR* ext)
{
    _wsplitpath_s(path, drive, drive ? _MAX_DRIVE : 0, dir, dir ? _MAX_DIR : 0, fname, fname ? _MAX_FNAME : 0, ext,
                  ext ? _MAX_EXT : 0);
}

void _splitpath(const char* path, char* drive, char* dir, char* fname, char* ext)
{
    _splitpath_s(path, drive, drive ? _MAX_DRIVE : 0, dir, dir ? _MAX_DIR : 0, fname, fname ? _MAX_FNAME : 0, ext,
                 ext ? _MAX_EXT : 0);
}

errno_t _wmakepath_s(WCHAR* path, size_t sizeInWords, const WCHAR* drive, const WCHAR* dir, const WCHAR* fname,
                     const WCHAR* ext)
{
    return makePath(path, sizeInWords, drive, dir, fname, ext, nextWide);
}

errno_t _makepath_s(char* path, size_t sizeInBytes, const char* drive, const char* dir, const char* fname,
                    const char* ext)
{
    return makePath(path, sizeInBytes, drive, dir, fname, ext, nextAnsi);
}

void palSetTempPath(LPCWSTR path)
{
    std::lock_guard<std::mutex> lock(g_tempFolderMutex);
    g_tempFolder = path ? path : u"";
}

} // extern "C"
