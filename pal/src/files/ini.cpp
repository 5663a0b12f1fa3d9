// INI files: GetPrivateProfile* and WritePrivateProfileString with the Windows parse rules.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "files/file_paths.h"
#include "files/file_share.h"
#include "files/file_text.h"
#include "files/ini_text.h"
#include "pal/ini.h"
#include "text/text_case.h"
#include "text/text_utf8.h"

namespace pal {
namespace ini {

const char kUtf16Bom[] = "\xFF\xFE";
const char kUtf8Bom[] = "\xEF\xBB\xBF";
const char16_t kNewLine[] = u"\r\n";

bool isBlank(char16_t c)
{
    return c == u' ' || c == u'\t';
}

std::u16string_view trimmed(std::u16string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// A value enclosed in a pair of the same quote loses the pair.
std::u16string_view unquoted(std::u16string_view value)
{
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

Parsed parse(std::u16string_view line)
{
    std::u16string_view text = trimmed(line);
    if (text.empty() || text.front() == u';')
        return {};
    if (text.front() == u'[') {
        size_t close = text.find(u']');
        size_t length = close == std::u16string_view::npos ? std::u16string_view::npos : close - 1;
        return {Parsed::Section, trimmed(text.substr(1, length)), {}};
    }
    size_t equals = text.find(u'=');
    if (equals == std::u16string_view::npos)
        return {Parsed::Entry, text, {}};
    return {Parsed::Entry, trimmed(text.substr(0, equals)), trimmed(text.substr(equals + 1))};
}

std::vector<Line> splitLines(std::u16string_view text)
{
    std::vector<Line> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of(u"\r\n", start);
        if (end == std::u16string_view::npos) {
            lines.push_back({std::u16string(text.substr(start)), u""});
            break;
        }
        size_t endingLength = text.substr(end, 2) == u"\r\n" ? 2 : 1;
        lines.push_back({std::u16string(text.substr(start, end - start)),
                         std::u16string(text.substr(end, endingLength))});
        start = end + endingLength;
    }
    return lines;
}

bool startsWith(const std::string& bytes, const char* prefix)
{
    return bytes.compare(0, strlen(prefix), prefix) == 0;
}

IniText decode(const std::string& bytes)
{
    IniText ini;
    std::u16string text;
    if (startsWith(bytes, kUtf16Bom)) {
        ini.encoding = Encoding::Utf16;
        text.reserve(bytes.size() / 2);
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          (static_cast<unsigned char>(bytes[i + 1]) << 8));
    } else if (startsWith(bytes, kUtf8Bom)) {
        ini.encoding = Encoding::Utf8;
        text = fromUtf8(std::string_view(bytes).substr(3));
    } else {
        text = wideFromAnsi(std::string_view(bytes));
    }
    ini.lines = splitLines(text);
    return ini;
}

std::string encode(const IniText& ini)
{
    std::u16string text;
    for (const Line& line : ini.lines) {
        text += line.text;
        text += line.ending;
    }
    switch (ini.encoding) {
    case Encoding::Utf16: {
        std::string bytes = kUtf16Bom;
        bytes.reserve(bytes.size() + 2 * text.size());
        for (char16_t unit : text) {
            bytes += static_cast<char>(unit & 0xFF);
            bytes += static_cast<char>(unit >> 8);
        }
        return bytes;
    }
    case Encoding::Utf8:
        return kUtf8Bom + toUtf8(text);
    default:
        return ansiFromWide(text);
    }
}

} // namespace ini

namespace {

using namespace ini;

// The whole file; errno when it cannot be read (ENOENT when it is missing).
bool readBytes(const std::string& path, std::string& bytes)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char chunk[8192];
    ssize_t count;
    while ((count = read(fd, chunk, sizeof chunk)) > 0 || (count < 0 && errno == EINTR))
        if (count > 0)
            bytes.append(chunk, static_cast<size_t>(count));
    const int error = errno;
    close(fd);
    errno = error;
    return count == 0;
}

// The text of the file, or nothing when it cannot be read (missing).
std::optional<IniText> readIni(const std::string& path)
{
    std::string bytes;
    if (!readBytes(path, bytes))
        return std::nullopt;
    return decode(bytes);
}

// The text of a file about to be changed: empty when it is missing; an error when it exists but
// cannot be read, so that it is not replaced by the change alone.
DWORD readIniForChange(const std::string& path, IniText& ini)
{
    std::string bytes;
    if (readBytes(path, bytes))
        ini = decode(bytes);
    else if (errno != ENOENT)
        return errorFromErrno(errno, path);
    return ERROR_SUCCESS;
}

// Replaces the file in one step (temporary file, then rename), keeping its permissions.
DWORD writeIni(const std::string& path, const IniText& ini)
{
    std::string bytes = encode(ini);
    std::string temporary = path + ".pal-new";
    struct stat status;
    mode_t mode = stat(path.c_str(), &status) == 0 ? (status.st_mode & 07777) : 0666;
    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0)
        return errorFromErrno(errno, path);
    fchmod(fd, mode);
    int error = 0;
    for (size_t written = 0; written < bytes.size() && !error;) {
        ssize_t count = write(fd, bytes.data() + written, bytes.size() - written);
        if (count > 0)
            written += static_cast<size_t>(count);
        else if (count == 0 || errno != EINTR)
            error = count == 0 ? ENOSPC : errno;
    }
    if (close(fd) != 0 && !error)
        error = errno;
    if (!error && rename(temporary.c_str(), path.c_str()) != 0)
        error = errno;
    if (error) {
        unlink(temporary.c_str());
        return errorFromErrno(error, path);
    }
    return ERROR_SUCCESS;
}

// Writers of every process take turns: read, change, replace.
class WriteLock {
public:
    WriteLock()
    {
        const std::string path = lockFolder() + "/ini.lock";
        fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        int result = -1;
        while (fd_ >= 0 && (result = flock(fd_, LOCK_EX)) != 0 && errno == EINTR) {
        }
        if (fd_ < 0 || result != 0)
            error_ = errorFromErrno(errno, path);
    }
    ~WriteLock()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    WriteLock(const WriteLock&) = delete;
    WriteLock& operator=(const WriteLock&) = delete;

    // ERROR_SUCCESS once the lock is held.
    DWORD error() const { return error_; }

private:
    int fd_ = -1;
    DWORD error_ = ERROR_SUCCESS;
};

// A bare file name lies in the Windows folder; NULL means win.ini.
MappedPath iniPath(LPCWSTR fileName)
{
    std::u16string_view name = fileName ? fileName : u"win.ini";
    if (name.find_first_of(u"\\/:") == std::u16string_view::npos)
        return mapPath(windowsDirectory() + u"\\" + std::u16string(name));
    return mapPath(name);
}

struct SectionRange {
    bool found = false;
    size_t header = 0, begin = 0, end = 0;
};

SectionRange findSection(const IniText& ini, std::u16string_view name)
{
    SectionRange range;
    for (size_t i = 0; i < ini.lines.size(); ++i) {
        Parsed line = parse(ini.lines[i].text);
        if (line.kind != Parsed::Section)
            continue;
        if (range.found) {
            range.end = i;
            return range;
        }
        if (sameName(line.name, name)) {
            range = {true, i, i + 1, ini.lines.size()};
        }
    }
    return range;
}

std::optional<size_t> findKey(const IniText& ini, const SectionRange& range, std::u16string_view key)
{
    for (size_t i = range.begin; range.found && i < range.end; ++i) {
        Parsed line = parse(ini.lines[i].text);
        if (line.kind == Parsed::Entry && sameName(line.name, key))
            return i;
    }
    return std::nullopt;
}

void addDistinct(std::vector<std::u16string>& names, std::u16string_view name)
{
    for (const auto& known : names)
        if (sameName(known, name))
            return;
    names.emplace_back(name);
}

// What a query gives: one value, or a list of strings.
struct Result {
    bool list = false;
    std::vector<std::u16string> items;
};

Result valueOrDefault(const std::optional<IniText>& ini, LPCWSTR section, LPCWSTR key, LPCWSTR fallback)
{
    if (ini) {
        SectionRange range = findSection(*ini, section);
        if (std::optional<size_t> index = findKey(*ini, range, key)) {
            SetLastError(ERROR_SUCCESS);
            return {false, {std::u16string(unquoted(parse(ini->lines[*index].text).value))}};
        }
    }
    std::u16string_view text = fallback ? fallback : u"";
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return {false, {std::u16string(text)}};
}

Result sectionNames(const std::optional<IniText>& ini)
{
    Result result{true, {}};
    if (!ini)
        return result;
    for (const Line& line : ini->lines) {
        Parsed parsed = parse(line.text);
        if (parsed.kind == Parsed::Section)
            addDistinct(result.items, parsed.name);
    }
    return result;
}

// The keys of a section, or its entries as "key=value".
Result sectionContents(const std::optional<IniText>& ini, LPCWSTR section, bool entries)
{
    Result result{true, {}};
    if (!ini)
        return result;
    SectionRange range = findSection(*ini, section);
    for (size_t i = range.begin; range.found && i < range.end; ++i) {
        Parsed line = parse(ini->lines[i].text);
        if (line.kind != Parsed::Entry)
            continue;
        if (entries)
            result.items.push_back(std::u16string(line.name) + u"=" + std::u16string(line.value));
        else
            addDistinct(result.items, line.name);
    }
    return result;
}

std::optional<IniText> loadIni(LPCWSTR fileName)
{
    MappedPath path = iniPath(fileName);
    return path.error ? std::nullopt : readIni(path.path);
}

Result profileString(LPCWSTR section, LPCWSTR key, LPCWSTR fallback, LPCWSTR fileName)
{
    std::optional<IniText> ini = loadIni(fileName);
    if (!section)
        return sectionNames(ini);
    if (!key)
        return sectionContents(ini, section, false);
    return valueOrDefault(ini, section, key, fallback);
}

// Decimal with an optional sign, kept modulo 2^32.
UINT profileInt(std::u16string_view text)
{
    size_t i = 0;
    while (i < text.size() && isBlank(text[i]))
        ++i;
    bool negative = i < text.size() && text[i] == u'-';
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+'))
        ++i;
    UINT value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i)
        value = value * 10 + static_cast<UINT>(text[i] - u'0');
    return negative ? 0u - value : value;
}

UINT profileIntOrDefault(LPCWSTR section, LPCWSTR key, INT fallback, LPCWSTR fileName)
{
    if (!section || !key)
        return static_cast<UINT>(fallback);
    Result value = valueOrDefault(loadIni(fileName), section, key, nullptr);
    return value.items[0].empty() ? static_cast<UINT>(fallback) : profileInt(value.items[0]);
}

// ---- Copying results with the Windows truncation rules

template <class Char, class Cut>
DWORD copyValue(std::basic_string_view<Char> text, Char* buffer, DWORD size, Cut cut)
{
    if (size == 0)
        return 0;
    size_t kept = text.size() < size ? text.size() : cut(text, size - 1);
    text.copy(buffer, kept);
    buffer[kept] = Char();
    return static_cast<DWORD>(kept);
}

// Strings each with its terminator and one more at the end. A list cut short keeps what fits in
// size - 2 characters and ends with two NULs.
template <class Char, class Cut>
DWORD copyList(const std::vector<std::basic_string<Char>>& items, Char* buffer, DWORD size, Cut cut)
{
    if (size == 0)
        return 0;
    std::basic_string<Char> flat;
    for (const auto& item : items) {
        flat += item;
        flat += Char();
    }
    if (flat.size() + 1 <= size) {
        flat.copy(buffer, flat.size());
        buffer[flat.size()] = Char();
        if (flat.empty() && size >= 2)
            buffer[1] = Char();
        return static_cast<DWORD>(flat.size());
    }
    if (size < 2) {
        buffer[0] = Char();
        return 0;
    }
    size_t kept = cut(std::basic_string_view<Char>(flat), size - 2);
    flat.copy(buffer, kept);
    buffer[kept] = Char();
    buffer[kept + 1] = Char();
    return static_cast<DWORD>(kept);
}

DWORD deliver(const Result& result, LPWSTR buffer, DWORD size)
{
    if (!buffer)
        return 0;
    if (result.list)
        return copyList(result.items, buffer, size, wholeUnits);
    return copyValue(std::u16string_view(result.items[0]), buffer, size, wholeUnits);
}

DWORD deliver(const Result& result, LPSTR buffer, DWORD size)
{
    if (!buffer)
        return 0;
    std::vector<std::string> items;
    for (const auto& item : result.items)
        items.push_back(ansiFromWide(item));
    if (result.list)
        return copyList(items, buffer, size, wholeAnsiChars);
    return copyValue(std::string_view(items[0]), buffer, size, wholeAnsiChars);
}

// ---- Changing a file

// Gives the line before index an ending, so that a line can follow it.
void endLineBefore(IniText& ini, size_t index)
{
    if (index > 0 && ini.lines[index - 1].ending.empty())
        ini.lines[index - 1].ending = kNewLine;
}

void insertLine(IniText& ini, size_t index, std::u16string text)
{
    endLineBefore(ini, index);
    ini.lines.insert(ini.lines.begin() + static_cast<std::ptrdiff_t>(index), Line{std::move(text), kNewLine});
}

void setValue(IniText& ini, std::u16string_view section, std::u16string_view key, std::u16string_view value)
{
    SectionRange range = findSection(ini, section);
    if (!range.found) {
        insertLine(ini, ini.lines.size(), u"[" + std::u16string(section) + u"]");
        insertLine(ini, ini.lines.size(), std::u16string(key) + u"=" + std::u16string(value));
        return;
    }
    if (std::optional<size_t> index = findKey(ini, range, key)) {
        std::u16string stored(parse(ini.lines[*index].text).name);
        ini.lines[*index].text = stored + u"=" + std::u16string(value);
        return;
    }
    size_t after = range.header;
    for (size_t i = range.begin; i < range.end; ++i)
        if (parse(ini.lines[i].text).kind == Parsed::Entry)
            after = i;
    insertLine(ini, after + 1, std::u16string(key) + u"=" + std::u16string(value));
}

// Applies one WritePrivateProfileString; false when nothing changed.
bool applyWrite(IniText& ini, LPCWSTR section, LPCWSTR key, LPCWSTR value)
{
    SectionRange range = findSection(ini, section);
    if (!key) {
        if (!range.found)
            return false;
        ini.lines.erase(ini.lines.begin() + static_cast<std::ptrdiff_t>(range.header),
                        ini.lines.begin() + static_cast<std::ptrdiff_t>(range.end));
        return true;
    }
    if (!value) {
        std::optional<size_t> index = findKey(ini, range, key);
        if (!index)
            return false;
        ini.lines.erase(ini.lines.begin() + static_cast<std::ptrdiff_t>(*index));
        return true;
    }
    setValue(ini, section, key, value);
    return true;
}

BOOL writeProfileString(LPCWSTR section, LPCWSTR key, LPCWSTR value, LPCWSTR fileName)
{
    if (!section && !key && !value)
        return TRUE; // flushes a cache that does not exist here
    if (!section) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    MappedPath path = iniPath(fileName);
    if (path.error) {
        SetLastError(path.error);
        return FALSE;
    }
    WriteLock lock;
    IniText ini;
    DWORD error = lock.error();
    if (error == ERROR_SUCCESS)
        error = readIniForChange(path.path, ini);
    if (error == ERROR_SUCCESS && applyWrite(ini, section, key, value))
        error = writeIni(path.path, ini);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

} // namespace
} // namespace pal

using namespace pal;

extern "C" {

DWORD GetPrivateProfileStringW(LPCWSTR lpAppName, LPCWSTR lpKeyName, LPCWSTR lpDefault, LPWSTR lpReturnedString,
                               DWORD nSize, LPCWSTR lpFileName)
{
    return deliver(profileString(lpAppName, lpKeyName, lpDefault, lpFileName), lpReturnedString, nSize);
}

DWORD GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault, LPSTR lpReturnedString,
                               DWORD nSize, LPCSTR lpFileName)
{
    AnsiArgument section(lpAppName), key(lpKeyName), fallback(lpDefault), file(lpFileName);
    return deliver(profileString(section.get(), key.get(), fallback.get(), file.get()), lpReturnedString, nSize);
}

UINT GetPrivateProfileIntW(LPCWSTR lpAppName, LPCWSTR lpKeyName, INT nDefault, LPCWSTR lpFileName)
{
    return profileIntOrDefault(lpAppName, lpKeyName, nDefault, lpFileName);
}

UINT GetPrivateProfileIntA(LPCSTR lpAppName, LPCSTR lpKeyName, INT nDefault, LPCSTR lpFileName)
{
    AnsiArgument section(lpAppName), key(lpKeyName), file(lpFileName);
    return profileIntOrDefault(section.get(), key.get(), nDefault, file.get());
}

DWORD GetPrivateProfileSectionNamesW(LPWSTR lpszReturnBuffer, DWORD nSize, LPCWSTR lpFileName)
{
    return deliver(sectionNames(loadIni(lpFileName)), lpszReturnBuffer, nSize);
}

DWORD GetPrivateProfileSectionNamesA(LPSTR lpszReturnBuffer, DWORD nSize, LPCSTR lpFileName)
{
    AnsiArgument file(lpFileName);
    return deliver(sectionNames(loadIni(file.get())), lpszReturnBuffer, nSize);
}

DWORD GetPrivateProfileSectionW(LPCWSTR lpAppName, LPWSTR lpReturnedString, DWORD nSize, LPCWSTR lpFileName)
{
    if (!lpAppName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return deliver(sectionContents(loadIni(lpFileName), lpAppName, true), lpReturnedString, nSize);
}

BOOL WritePrivateProfileStringW(LPCWSTR lpAppName, LPCWSTR lpKeyName, LPCWSTR lpString, LPCWSTR lpFileName)
{
    return writeProfileString(lpAppName, lpKeyName, lpString, lpFileName);
}

BOOL WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString, LPCSTR lpFileName)
{
    AnsiArgument section(lpAppName), key(lpKeyName), value(lpString), file(lpFileName);
    return writeProfileString(section.get(), key.get(), value.get(), file.get());
}

} // extern "C"
