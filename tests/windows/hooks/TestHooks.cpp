#include "pal/testhooks.h"

#include <cstring>
#include <mutex>
#include <string>

namespace {

std::mutex g_hooksMutex;
bool g_clockSet = false;
SYSTEMTIME g_clock;
bool g_moduleFileNameSet = false;
std::wstring g_moduleFileName;

std::mutex g_captureMutex;
PalDebugOutputCapture g_capture = nullptr;
void* g_captureContext = nullptr;
PVOID g_captureHandler = nullptr;

decltype(&GetLocalTime) g_realGetLocalTime = nullptr;
decltype(&GetModuleFileNameW) g_realGetModuleFileNameW = nullptr;

void WINAPI testGetLocalTime(LPSYSTEMTIME time)
{
    {
        std::lock_guard<std::mutex> lock(g_hooksMutex);
        if (g_clockSet) {
            *time = g_clock;
            return;
        }
    }
    g_realGetLocalTime(time);
}

// As over the platform layer: a short buffer gets the path cut and terminated, and its size back.
DWORD WINAPI testGetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size)
{
    if (!module) {
        std::lock_guard<std::mutex> lock(g_hooksMutex);
        if (g_moduleFileNameSet) {
            if (g_moduleFileName.empty() || size == 0) {
                SetLastError(ERROR_FILE_NOT_FOUND);
                return 0;
            }
            size_t chars = g_moduleFileName.size() < size ? g_moduleFileName.size() : size - 1;
            std::memcpy(fileName, g_moduleFileName.data(), chars * sizeof(WCHAR));
            fileName[chars] = L'\0';
            if (chars < g_moduleFileName.size()) {
                SetLastError(ERROR_INSUFFICIENT_BUFFER);
                return size;
            }
            return DWORD(chars);
        }
    }
    return g_realGetModuleFileNameW(module, fileName, size);
}

// Points the executable's import of `function` at `replacement` and returns what it pointed at;
// null when the executable does not import it.
void* replaceImport(const char* function, void* replacement)
{
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0)
        return nullptr;
    for (auto* module = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); module->Name;
         ++module) {
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0)
                continue;
            DWORD protection = 0;
            if (!VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), PAGE_READWRITE, &protection))
                return nullptr;
            void* imported = reinterpret_cast<void*>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), protection, &protection);
            return imported;
        }
    }
    return nullptr;
}

// The replacements stay in place; unset, they call the real functions.
void installImports()
{
    static std::once_flag once;
    std::call_once(once, [] {
        g_realGetLocalTime = &GetLocalTime;
        g_realGetModuleFileNameW = &GetModuleFileNameW;
        if (void* real = replaceImport("GetLocalTime", reinterpret_cast<void*>(&testGetLocalTime)))
            g_realGetLocalTime = reinterpret_cast<decltype(&GetLocalTime)>(real);
        if (void* real = replaceImport("GetModuleFileNameW", reinterpret_cast<void*>(&testGetModuleFileNameW)))
            g_realGetModuleFileNameW = reinterpret_cast<decltype(&GetModuleFileNameW)>(real);
    });
}

// OutputDebugStringW raises DBG_PRINTEXCEPTION_WIDE_C with the length and the text, and when no
// debugger takes it DBG_PRINTEXCEPTION_C with the ANSI text; continuing the exception is a debugger
// taking it.
LONG WINAPI catchDebugOutput(EXCEPTION_POINTERS* exception)
{
    const EXCEPTION_RECORD* record = exception->ExceptionRecord;
    const bool wide = record->ExceptionCode == DBG_PRINTEXCEPTION_WIDE_C;
    if ((!wide && record->ExceptionCode != DBG_PRINTEXCEPTION_C) || record->NumberParameters < 2)
        return EXCEPTION_CONTINUE_SEARCH;
    std::wstring text;
    if (wide) {
        text = reinterpret_cast<LPCWSTR>(record->ExceptionInformation[1]);
    } else {
        auto* ansi = reinterpret_cast<LPCSTR>(record->ExceptionInformation[1]);
        int chars = MultiByteToWideChar(CP_ACP, 0, ansi, -1, nullptr, 0);
        if (chars > 0) {
            text.resize(size_t(chars));
            MultiByteToWideChar(CP_ACP, 0, ansi, -1, text.data(), chars);
            text.resize(size_t(chars) - 1);
        }
    }
    std::lock_guard<std::mutex> lock(g_captureMutex);
    if (!g_capture)
        return EXCEPTION_CONTINUE_SEARCH;
    g_capture(text.c_str(), g_captureContext);
    return EXCEPTION_CONTINUE_EXECUTION;
}

} // namespace

BOOL palSetTestClock(const SYSTEMTIME* time)
{
    FILETIME valid;
    if (!time || !SystemTimeToFileTime(time, &valid))
        return FALSE;
    installImports();
    std::lock_guard<std::mutex> lock(g_hooksMutex);
    g_clock = *time;
    g_clockSet = true;
    return TRUE;
}

void palResetTestClock(void)
{
    std::lock_guard<std::mutex> lock(g_hooksMutex);
    g_clockSet = false;
}

void palSetModuleFileName(LPCWSTR path)
{
    installImports();
    std::lock_guard<std::mutex> lock(g_hooksMutex);
    g_moduleFileNameSet = path != nullptr;
    g_moduleFileName = path ? path : L"";
}

void palSetDebugOutputCapture(PalDebugOutputCapture capture, void* context)
{
    std::lock_guard<std::mutex> lock(g_captureMutex);
    if (capture && !g_captureHandler)
        g_captureHandler = AddVectoredExceptionHandler(1, catchDebugOutput);
    if (!capture && g_captureHandler) {
        RemoveVectoredExceptionHandler(g_captureHandler);
        g_captureHandler = nullptr;
    }
    g_capture = capture;
    g_captureContext = context;
}
