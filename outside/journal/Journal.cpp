#include "Journal.h"

#include <cstdio>
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace journal {

std::string utf8FromAnsi(LPCSTR ansi)
{
    int wideLength = MultiByteToWideChar(CP_ACP, 0, ansi, -1, nullptr, 0);
    if (wideLength <= 1)
        return {};
    std::vector<WCHAR> wide(static_cast<size_t>(wideLength));
    MultiByteToWideChar(CP_ACP, 0, ansi, -1, wide.data(), wideLength);
    int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(length > 1 ? length : 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), -1, utf8.data(), length, nullptr, nullptr);
    utf8.resize(utf8.size() - 1);
    return utf8;
}

std::string quoted(const std::string& utf8)
{
    std::string out = "\"";
    for (unsigned char c : utf8) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20) {
            char escape[8];
            snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

void Line::key(const char* name)
{
    if (body_.size() > 1)
        body_ += ",";
    body_ += quoted(name) + ":";
}

Line& Line::text(const char* name, LPCSTR ansi)
{
    key(name);
    body_ += ansi ? quoted(utf8FromAnsi(ansi)) : "null";
    return *this;
}

Line& Line::utf8(const char* name, const std::string& value)
{
    key(name);
    body_ += quoted(value);
    return *this;
}

Line& Line::number(const char* name, long long value)
{
    key(name);
    body_ += std::to_string(value);
    return *this;
}

Line& Line::hex(const char* name, const void* bytes, size_t size)
{
    static const char digits[] = "0123456789abcdef";
    key(name);
    body_ += "\"";
    for (size_t i = 0; i < size; ++i) {
        BYTE b = static_cast<const BYTE*>(bytes)[i];
        body_ += digits[b >> 4];
        body_ += digits[b & 15];
    }
    body_ += "\"";
    return *this;
}

Line& Line::json(const char* name, const std::string& value)
{
    key(name);
    body_ += value;
    return *this;
}

// A Linux path is appended to directly: the journal is the stand-ins' own file and needs no share
// record, whose file the platform creates and removes at every open.
bool append(const std::string& path, const std::string& line)
{
    const std::string whole = line + "\n";
    if (path[0] == '/') {
        int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0)
            return false;
        const ssize_t written = ::write(fd, whole.data(), whole.size());
        ::close(fd);
        return written == static_cast<ssize_t>(whole.size());
    }
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, whole.data(), static_cast<DWORD>(whole.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == whole.size();
}

int print(const std::string& path, bool follow)
{
    HANDLE file = INVALID_HANDLE_VALUE;
    char buffer[4096];
    for (;;) {
        if (file == INVALID_HANDLE_VALUE)
            file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && !follow)
            return 1;
        DWORD count = 0;
        if (file != INVALID_HANDLE_VALUE && ReadFile(file, buffer, sizeof buffer, &count, nullptr) && count > 0) {
            fwrite(buffer, 1, count, stdout);
            fflush(stdout);
            continue;
        }
        if (!follow)
            break;
        Sleep(200); // a person watching: a few looks a second are enough
    }
    CloseHandle(file);
    return 0;
}

std::string folderOf(const void* address)
{
    Dl_info info;
    if (!dladdr(address, &info) || !info.dli_fname)
        return ".";
    std::string path = info.dli_fname;
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

} // namespace journal
