// Run-time loading: Windows module names mapped to shared objects, built-in modules and the
// Windows paths of modules.
//
// An HMODULE is the dlopen handle of the object (glibc's link map, which dladdr1 also reports) or
// the record of a built-in module. Handles are checked against those handed out before use.
//
// A module loaded from a file holds that file as Windows holds a mapped image, for every process of
// the platform root: while it is loaded the file cannot be opened for writing or copied over
// (ERROR_SHARING_VIOLATION) nor deleted or replaced (ERROR_ACCESS_DENIED); it can be renamed. The
// hold is a share record (files/file_share.h), so it ends with the process however that ends.
#include <cstring>
#include <dlfcn.h>
#include <link.h>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

#include "files/file_paths.h"
#include "files/file_share.h"
#include "files/file_text.h"
#include "pal/files.h"
#include "text/text_case.h"
#include "text/text_utf8.h"

namespace pal {
namespace {

struct Builtin {
    std::u16string fileName;
    PalBuiltinResolver resolver;
    void* context;
};

struct ModuleTable {
    std::mutex mutex;
    std::unordered_map<void*, long> loads; // handles handed out -> LoadLibrary references held
    std::unordered_map<void*, std::unique_ptr<ShareRecord>> images; // the files of the modules loaded
    std::vector<std::unique_ptr<Builtin>> builtins; // kept for the process's life: handles stay valid
    bool overridden = false;
    std::u16string executableOverride;
};

ModuleTable& modules()
{
    static ModuleTable* table = new ModuleTable;
    return *table;
}

void* mainHandle()
{
    static void* handle = dlopen(nullptr, RTLD_LAZY);
    return handle;
}

std::string executablePath()
{
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string();
}

std::string palPath()
{
    Dl_info info;
    return dladdr(reinterpret_cast<void*>(&LoadLibraryW), &info) && info.dli_fname ? info.dli_fname : "";
}

std::u16string_view fileNameOf(std::u16string_view path)
{
    size_t separator = path.find_last_of(u"\\/");
    return separator == std::u16string_view::npos ? path : path.substr(separator + 1);
}

// Windows adds ".dll" to a module name without an extension; a trailing dot means "no extension".
std::u16string moduleFileName(std::u16string_view name)
{
    std::u16string file(fileNameOf(name));
    if (!file.empty() && file.back() == u'.')
        file.pop_back();
    else if (file.find(u'.') == std::u16string::npos)
        file += u".dll";
    return file;
}

std::u16string_view stemOf(std::u16string_view fileName)
{
    size_t dot = fileName.rfind(u'.');
    return dot == std::u16string_view::npos ? fileName : fileName.substr(0, dot);
}

bool endsWith(const std::string& text, const std::string& suffix)
{
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The Windows path of a module: its folder's C: path, else C:\Program Files; ".so" becomes ".dll",
// an executable without an extension gets ".exe".
std::u16string windowsModulePath(const std::string& linuxPath, bool executable)
{
    std::string name = baseNameOf(linuxPath);
    if (endsWith(name, ".so"))
        name.replace(name.size() - 3, 3, ".dll");
    else if (executable && name.find('.') == std::string::npos)
        name += ".exe";
    std::u16string folder = windowsPathOf(folderOf(linuxPath));
    if (folder.empty())
        folder = u"C:\\Program Files";
    if (folder.back() != u'\\')
        folder += u'\\';
    return folder + fromUtf8(name);
}

Builtin* builtinNamed(std::u16string_view fileName)
{
    ModuleTable& table = modules();
    std::lock_guard<std::mutex> lock(table.mutex);
    for (auto& builtin : table.builtins)
        if (builtin->resolver && sameName(builtin->fileName, fileName))
            return builtin.get();
    return nullptr;
}

Builtin* builtinOf(HMODULE handle)
{
    ModuleTable& table = modules();
    std::lock_guard<std::mutex> lock(table.mutex);
    for (auto& builtin : table.builtins)
        if (builtin.get() == handle)
            return builtin.get();
    return nullptr;
}

bool handedOut(void* handle)
{
    if (handle == mainHandle())
        return true;
    ModuleTable& table = modules();
    std::lock_guard<std::mutex> lock(table.mutex);
    return table.loads.count(handle) != 0;
}

void noteHandle(void* handle, long references)
{
    ModuleTable& table = modules();
    std::lock_guard<std::mutex> lock(table.mutex);
    table.loads[handle] += references;
}

std::string linuxPathOf(void* handle)
{
    if (handle == mainHandle())
        return executablePath();
    link_map* map = nullptr;
    return dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name ? map->l_name : "";
}

// True when address lies in the object of handle (dlsym also searches an object's dependencies).
bool inModule(void* address, void* handle)
{
    Dl_info info;
    link_map* map = nullptr;
    return dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) && map == handle;
}

void* exportOf(void* handle, const char* name)
{
    void* address = dlsym(handle, name);
    return address && inModule(address, handle) ? address : nullptr;
}

const char* ordinalName(void* handle, WORD ordinal)
{
    auto* table = static_cast<const PAL_ORDINAL_EXPORT*>(exportOf(handle, "palOrdinalExports"));
    for (; table && table->ordinal != 0; ++table)
        if (table->ordinal == ordinal)
            return table->name;
    return nullptr;
}

bool hasFolder(std::u16string_view name)
{
    return name.find_last_of(u"\\/") != std::u16string_view::npos;
}

// Built-in modules live in the system directory: found by a bare name or by their path there.
bool builtinPlace(std::u16string_view name)
{
    if (!hasFolder(name))
        return true;
    std::u16string_view folder = name.substr(0, name.find_last_of(u"\\/"));
    return sameName(folder, systemDirectory());
}

// A name with a folder is looked for only there, as Windows does; a bare name beside the
// executable, then beside libpal.
std::vector<std::string> moduleFolders(std::u16string_view name)
{
    if (hasFolder(name)) {
        MappedPath mapped = mapPath(name.substr(0, name.find_last_of(u"\\/") + 1));
        return mapped.error ? std::vector<std::string>{} : std::vector<std::string>{mapped.path};
    }
    return {folderOf(executablePath()), folderOf(palPath())};
}

// The first load of an object keeps the hold of its file; a later one lets its own go.
void holdImage(void* handle, std::unique_ptr<ShareRecord> image)
{
    ModuleTable& table = modules();
    std::lock_guard<std::mutex> lock(table.mutex);
    table.images.try_emplace(handle, std::move(image));
}

// After the last FreeLibrary unmapped the object; unless another thread has loaded it again since.
void releaseImage(void* handle)
{
    std::unique_ptr<ShareRecord> image;
    ModuleTable& table = modules();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto it = table.images.find(handle);
    auto loaded = table.loads.find(handle);
    if (it == table.images.end() || (loaded != table.loads.end() && loaded->second > 0))
        return;
    image = std::move(it->second);
    table.images.erase(it);
}

HMODULE loadModule(std::u16string_view name)
{
    std::u16string file = moduleFileName(name);
    if (Builtin* builtin = builtinPlace(name) ? builtinNamed(file) : nullptr)
        return builtin;
    std::u16string sharedObject = std::u16string(stemOf(file)) + u".so";
    for (const std::string& folder : moduleFolders(name)) {
        std::string entry = findEntryNoCase(folder, sharedObject);
        if (entry.empty())
            continue;
        std::string path = folder + "/" + entry;
        auto image = std::make_unique<ShareRecord>();
        struct stat status;
        if (stat(path.c_str(), &status) == 0) {
            if (DWORD error = image->takeImage(status.st_dev, status.st_ino)) {
                SetLastError(error); // the file is open for writing
                return nullptr;
            }
        }
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* reason = dlerror();
            bool missingDependency = reason && strstr(reason, "cannot open shared object file");
            SetLastError(missingDependency ? ERROR_MOD_NOT_FOUND : ERROR_BAD_EXE_FORMAT);
            return nullptr;
        }
        noteHandle(handle, 1);
        holdImage(handle, std::move(image));
        return handle;
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

struct LoadedObjects {
    std::vector<std::string> paths;
};

int collectObject(dl_phdr_info* info, size_t, void* data)
{
    if (info->dlpi_name && info->dlpi_name[0])
        static_cast<LoadedObjects*>(data)->paths.push_back(info->dlpi_name);
    return 0;
}

// A loaded object whose file stem (without ".so") equals stem without regard to case.
HMODULE loadedObjectNamed(std::u16string_view stem)
{
    if (sameName(stemOf(fromUtf8(baseNameOf(executablePath()))), stem))
        return mainHandle();
    LoadedObjects objects;
    dl_iterate_phdr(collectObject, &objects);
    for (const std::string& path : objects.paths) {
        std::string name = baseNameOf(path);
        if (endsWith(name, ".so"))
            name.resize(name.size() - 3);
        if (!sameName(fromUtf8(name), stem))
            continue;
        void* handle = dlopen(path.c_str(), RTLD_NOLOAD | RTLD_LAZY);
        if (!handle)
            continue;
        dlclose(handle); // only looked up: the reference taken by dlopen goes back
        noteHandle(handle, 0);
        return handle;
    }
    return nullptr;
}

// Takes one more reference on a loaded object, as LoadLibrary would.
void addReference(HMODULE module)
{
    if (module == mainHandle() || builtinOf(module))
        return;
    if (dlopen(linuxPathOf(module).c_str(), RTLD_NOLOAD | RTLD_LAZY))
        noteHandle(module, 1);
}

template <class Result>
Result fail(DWORD error, Result result)
{
    SetLastError(error);
    return result;
}

std::u16string modulePath(HMODULE module)
{
    if (!module || module == mainHandle()) {
        ModuleTable& table = modules();
        {
            std::lock_guard<std::mutex> lock(table.mutex);
            if (table.overridden)
                return table.executableOverride;
        }
        return windowsModulePath(executablePath(), true);
    }
    if (Builtin* builtin = builtinOf(module))
        return systemDirectory() + u"\\" + builtin->fileName;
    return handedOut(module) ? windowsModulePath(linuxPathOf(module), false) : std::u16string();
}

// GetModuleFileName: the module's path in the caller's form (form), cut to the buffer (cut).
template <class Char, class Form, class Cut>
DWORD copyModulePath(HMODULE module, Char* buffer, DWORD size, Form form, Cut cut)
{
    std::u16string path = modulePath(module);
    if (path.empty())
        return fail(ERROR_MOD_NOT_FOUND, DWORD(0));
    if (!buffer && size)
        return fail(ERROR_INVALID_PARAMETER, DWORD(0));
    const std::basic_string<Char> text = form(path);
    return copyTruncated(std::basic_string_view<Char>(text), buffer, size, cut);
}

} // namespace
} // namespace pal

using namespace pal;

extern "C" {

HMODULE LoadLibraryW(LPCWSTR lpLibFileName)
{
    if (!lpLibFileName || !lpLibFileName[0])
        return fail(ERROR_INVALID_PARAMETER, HMODULE(nullptr));
    return loadModule(lpLibFileName);
}

HMODULE LoadLibraryA(LPCSTR lpLibFileName)
{
    if (!lpLibFileName)
        return fail(ERROR_INVALID_PARAMETER, HMODULE(nullptr));
    return LoadLibraryW(wideFromAnsi(lpLibFileName).c_str());
}

HMODULE LoadLibraryExW(LPCWSTR lpLibFileName, HANDLE, DWORD)
{
    return LoadLibraryW(lpLibFileName);
}

HMODULE LoadLibraryExA(LPCSTR lpLibFileName, HANDLE, DWORD)
{
    return LoadLibraryA(lpLibFileName);
}

BOOL FreeLibrary(HMODULE hLibModule)
{
    if (hLibModule == mainHandle() || builtinOf(hLibModule))
        return TRUE;
    ModuleTable& table = modules();
    std::string path;
    {
        std::lock_guard<std::mutex> lock(table.mutex);
        auto it = table.loads.find(hLibModule);
        if (it == table.loads.end())
            return fail(ERROR_INVALID_HANDLE, FALSE);
        if (it->second == 0)
            return TRUE; // a handle of GetModuleHandle holds no reference
        path = linuxPathOf(hLibModule);
        if (--it->second == 0)
            table.loads.erase(it);
    }
    dlclose(hLibModule); // outside the lock: destructors may call back in
    if (void* still = dlopen(path.c_str(), RTLD_NOLOAD | RTLD_LAZY)) {
        dlclose(still);
        noteHandle(still, 0); // linked in or loaded elsewhere: the handle stays valid
    } else {
        releaseImage(hLibModule); // unmapped: its file is free
    }
    return TRUE;
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName)
{
    if (!lpProcName)
        return fail(ERROR_INVALID_PARAMETER, FARPROC(nullptr));
    if (Builtin* builtin = builtinOf(hModule)) {
        PalBuiltinResolver resolver;
        void* context;
        {
            ModuleTable& table = modules();
            std::lock_guard<std::mutex> lock(table.mutex);
            resolver = builtin->resolver;
            context = builtin->context;
        }
        FARPROC proc = resolver && !IS_INTRESOURCE(lpProcName) ? resolver(lpProcName, context) : nullptr;
        return proc ? proc : fail(ERROR_PROC_NOT_FOUND, FARPROC(nullptr));
    }
    void* handle = hModule ? hModule : mainHandle();
    if (!handedOut(handle))
        return fail(ERROR_MOD_NOT_FOUND, FARPROC(nullptr));
    const char* name = IS_INTRESOURCE(lpProcName) ? ordinalName(handle, LOWORD(lpProcName)) : lpProcName;
    void* address = name ? exportOf(handle, name) : nullptr;
    if (!address)
        return fail(ERROR_PROC_NOT_FOUND, FARPROC(nullptr));
    return reinterpret_cast<FARPROC>(address);
}

HMODULE GetModuleHandleW(LPCWSTR lpModuleName)
{
    if (!lpModuleName)
        return mainHandle();
    std::u16string file = moduleFileName(lpModuleName);
    if (Builtin* builtin = builtinNamed(file))
        return builtin;
    HMODULE module = loadedObjectNamed(stemOf(file));
    return module ? module : fail(ERROR_MOD_NOT_FOUND, HMODULE(nullptr));
}

HMODULE GetModuleHandleA(LPCSTR lpModuleName)
{
    return GetModuleHandleW(lpModuleName ? wideFromAnsi(lpModuleName).c_str() : nullptr);
}

BOOL GetModuleHandleExW(DWORD dwFlags, LPCWSTR lpModuleName, HMODULE* phModule)
{
    if (!phModule)
        return fail(ERROR_INVALID_PARAMETER, FALSE);
    *phModule = nullptr;
    HMODULE module = nullptr;
    if (dwFlags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) {
        Dl_info info;
        link_map* map = nullptr;
        if (!dladdr1(lpModuleName, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) || !map)
            return fail(ERROR_MOD_NOT_FOUND, FALSE);
        module = map;
        if (module != mainHandle())
            noteHandle(module, 0);
    } else {
        module = GetModuleHandleW(lpModuleName);
        if (!module)
            return FALSE;
    }
    if ((dwFlags & (GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT | GET_MODULE_HANDLE_EX_FLAG_PIN)) == 0)
        addReference(module);
    *phModule = module;
    return TRUE;
}

DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize)
{
    return copyModulePath(hModule, lpFilename, nSize, [](std::u16string path) { return path; }, wholeUnits);
}

DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize)
{
    return copyModulePath(hModule, lpFilename, nSize, ansiFromWide, wholeAnsiChars);
}

void palSetModuleFileName(LPCWSTR path)
{
    ModuleTable& table = modules();
    std::lock_guard<std::mutex> lock(table.mutex);
    table.overridden = path != nullptr;
    table.executableOverride = path ? path : u"";
}

BOOL palRegisterBuiltinModule(LPCWSTR name, PalBuiltinResolver resolver, void* context)
{
    if (!name || !name[0])
        return FALSE;
    std::u16string file = moduleFileName(name);
    ModuleTable& table = modules();
    std::lock_guard<std::mutex> lock(table.mutex);
    for (auto& builtin : table.builtins) {
        if (sameName(builtin->fileName, file)) {
            builtin->resolver = resolver;
            builtin->context = context;
            return TRUE;
        }
    }
    if (resolver)
        table.builtins.push_back(std::make_unique<Builtin>(Builtin{file, resolver, context}));
    return TRUE;
}

} // extern "C"
