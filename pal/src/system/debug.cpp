// OutputDebugString: a capture for tests and a file sink, both off by default.
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

#include "files/file_text.h"
#include "pal/debug.h"
#include "pal/errors.h"
#include "files/root.h"
#include "text/text_utf8.h"

namespace pal {
namespace {

struct Capture {
    std::recursive_mutex mutex; // a capture may write debug output itself
    PalDebugOutputCapture function = nullptr;
    void* context = nullptr;
};

Capture& capture()
{
    static Capture* instance = new Capture;
    return *instance;
}

// PAL_DEBUG_OUTPUT, else <root>/debug-output.log when it exists; empty when output is off.
std::string sinkPath()
{
    const char* configured = std::getenv("PAL_DEBUG_OUTPUT");
    if (configured && configured[0])
        return configured;
    std::string root = rootPath();
    if (root.empty())
        return {};
    std::string path = root + "/debug-output.log";
    return access(path.c_str(), F_OK) == 0 ? path : std::string();
}

void writeAll(int fd, const std::string& text)
{
    for (size_t written = 0; written < text.size();) {
        ssize_t count = write(fd, text.data() + written, text.size() - written);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return;
        written += static_cast<size_t>(count);
    }
}

void writeToSink(std::u16string_view text)
{
    std::string path = sinkPath();
    if (path.empty())
        return;
    std::string line = toUtf8(text);
    if (line.empty() || line.back() != '\n')
        line += '\n';
    if (path == "-") {
        writeAll(STDERR_FILENO, line);
        return;
    }
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return;
    writeAll(fd, line);
    close(fd);
}

} // namespace
} // namespace pal

using namespace pal;

extern "C" {

void OutputDebugStringW(LPCWSTR lpOutputString)
{
    if (!lpOutputString)
        return;
    int savedErrno = errno;
    {
        Capture& target = capture();
        std::lock_guard<std::recursive_mutex> lock(target.mutex);
        if (target.function)
            target.function(lpOutputString, target.context);
    }
    writeToSink(lpOutputString);
    errno = savedErrno;
}

void OutputDebugStringA(LPCSTR lpOutputString)
{
    if (!lpOutputString)
        return;
    DWORD lastError = GetLastError();
    std::u16string text = wideFromAnsi(lpOutputString);
    SetLastError(lastError);
    OutputDebugStringW(text.c_str());
}

void palSetDebugOutputCapture(PalDebugOutputCapture function, void* context)
{
    Capture& target = capture();
    std::lock_guard<std::recursive_mutex> lock(target.mutex);
    target.function = function;
    target.context = context;
}

} // extern "C"
