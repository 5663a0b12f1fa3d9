#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <windows.h>

#include "TempRoot.h"
#include "ChildProcess.h"

namespace {

namespace fs = std::filesystem;

typedef int (*AddFunction)(int, int);
typedef HMODULE (*SelfFunction)(void);

std::u16string environmentValue(const WCHAR* name)
{
    WCHAR value[32] = {};
    GetEnvironmentVariableW(name, value, 32);
    return value;
}

std::u16string moduleFileName(HMODULE module)
{
    WCHAR path[MAX_PATH];
    DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    return std::u16string(path, length);
}

TEST(RuntimeLoading, FindsTheModuleBesideTheExecutableByItsWindowsNameAndRunsItsConstructor)
{
    testsupport::TempRoot root;
    SetEnvironmentVariableW(W("PAL_TEST_MODULE_ATTACHED"), nullptr);
    SetEnvironmentVariableW(W("PAL_TEST_MODULE_DETACHED"), nullptr);
    HMODULE module = LoadLibraryW(W("PALTESTMODULE.DLL"));
    ASSERT_NE(module, nullptr) << GetLastError();
    EXPECT_EQ(environmentValue(W("PAL_TEST_MODULE_ATTACHED")), u"1") << "the constructor plays DllMain";

    auto add = reinterpret_cast<AddFunction>(GetProcAddress(module, "FixtureAdd"));
    ASSERT_NE(add, nullptr);
    EXPECT_EQ(add(2, 3), 5);
    auto self = reinterpret_cast<SelfFunction>(GetProcAddress(module, "FixtureSelf"));
    ASSERT_NE(self, nullptr);
    EXPECT_EQ(self(), module) << "the handle found from an address is the handle LoadLibrary gave";
    EXPECT_EQ(GetModuleHandleW(W("paltestmodule")), module);
    EXPECT_EQ(LoadLibraryExA("PalTestModule.dll", nullptr, LOAD_WITH_ALTERED_SEARCH_PATH), module);
    EXPECT_EQ(environmentValue(W("PAL_TEST_MODULE_ATTACHED")), u"1") << "a second load attaches nothing";
    EXPECT_EQ(moduleFileName(module), u"C:\\Program Files\\PalTestModule.dll");

    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_EQ(environmentValue(W("PAL_TEST_MODULE_DETACHED")), u"") << "still loaded once";
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_EQ(environmentValue(W("PAL_TEST_MODULE_DETACHED")), u"1");
    EXPECT_EQ(GetModuleHandleW(W("PalTestModule.dll")), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_FALSE(FreeLibrary(module));
}

TEST(RuntimeLoading, MissingModulesAndExportsGiveTheirErrors)
{
    testsupport::TempRoot root;
    SetLastError(0);
    EXPECT_EQ(LoadLibraryW(W("NoSuchModule.dll")), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(LoadLibraryA("C:\\Nowhere\\NoSuch.DLL"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));

    HMODULE module = LoadLibraryA("PalTestModule");
    ASSERT_NE(module, nullptr) << "\".dll\" is added to a name without extension";
    EXPECT_EQ(GetProcAddress(module, "NoSuchExport"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_EQ(GetProcAddress(module, "GetLastError"), nullptr)
        << "only the module's own exports, not those of what it links";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_EQ(GetProcAddress(reinterpret_cast<HMODULE>(0x1234), "FixtureAdd"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    FreeLibrary(module);
}

TEST(RuntimeLoading, ResolvesOrdinalsThroughTheModulesTable)
{
    testsupport::TempRoot root;
    HMODULE module = LoadLibraryW(W("PalTestModule.dll"));
    ASSERT_NE(module, nullptr);
    auto add = reinterpret_cast<AddFunction>(GetProcAddress(module, MAKEINTRESOURCEA(1)));
    ASSERT_NE(add, nullptr);
    EXPECT_EQ(add(40, 2), 42);
    EXPECT_EQ(GetProcAddress(module, MAKEINTRESOURCEA(7)), GetProcAddress(module, "FixtureSelf"));
    EXPECT_EQ(GetProcAddress(module, MAKEINTRESOURCEA(2)), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    FreeLibrary(module);
}

TEST(RuntimeLoading, LooksInTheNamedFolderFirstWithoutRegardToCase)
{
    testsupport::TempRoot root;
    fs::create_directories(root.file("drive_c/Plugins"));
    fs::copy_file(testsupport::besideSelf("PalTestModule.so"), root.file("drive_c/Plugins/paltestmodule.so"));
    HMODULE module = LoadLibraryW(W("C:\\PLUGINS\\PalTestModule.DLL"));
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(moduleFileName(module), u"C:\\Plugins\\paltestmodule.dll")
        << "the copy in the named folder, with its C: path";
    FreeLibrary(module);
}

TEST(RuntimeLoading, ANameWithAFolderIsLookedForOnlyThere)
{
    testsupport::TempRoot root;
    fs::create_directories(root.file("drive_c/Empty"));
    SetLastError(0);
    EXPECT_EQ(LoadLibraryW(W("C:\\Empty\\PalTestModule.dll")), nullptr)
        << "not the copy beside the executable";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(LoadLibraryA("C:\\NoFolder\\PalTestModule.dll"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(LoadLibraryA("C:\\EmptyPalTestModule.dll"), nullptr)
        << "a folder without its separator names another file";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

// ---- The file of a loaded module

// A copy of the test module at C:\Plugins\paltestmodule.so, and a file to copy over it.
void layModule(const testsupport::TempRoot& root)
{
    fs::create_directories(root.file("drive_c/Plugins"));
    fs::copy_file(testsupport::besideSelf("PalTestModule.so"), root.file("drive_c/Plugins/paltestmodule.so"));
    std::ofstream(root.file("drive_c/Plugins/other.so")) << "other";
}

HANDLE openModuleFile(DWORD access, DWORD share)
{
    return CreateFileW(W("C:\\Plugins\\paltestmodule.so"), access, share, nullptr, OPEN_EXISTING, 0, nullptr);
}

// What another process may do with the file while the module is loaded, as on Windows.
void expectHeldAsAnImage()
{
    SetLastError(0);
    EXPECT_EQ(openModuleFile(GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(CopyFileW(W("C:\\Plugins\\other.so"), W("C:\\Plugins\\paltestmodule.so"), FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(DeleteFileW(W("C:\\Plugins\\paltestmodule.so")));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(MoveFileExW(W("C:\\Plugins\\other.so"), W("C:\\Plugins\\paltestmodule.so"), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    HANDLE reader = openModuleFile(GENERIC_READ, FILE_SHARE_READ);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE) << "reading stays possible";
    CloseHandle(reader);
    EXPECT_TRUE(MoveFileW(W("C:\\Plugins\\paltestmodule.so"), W("C:\\Plugins\\renamed.so"))) << "so does renaming";
    EXPECT_FALSE(DeleteFileW(W("C:\\Plugins\\renamed.so"))) << "the hold goes with the file";
    EXPECT_TRUE(MoveFileW(W("C:\\Plugins\\renamed.so"), W("C:\\Plugins\\paltestmodule.so")));
}

void expectFree()
{
    EXPECT_TRUE(CopyFileW(W("C:\\Plugins\\other.so"), W("C:\\Plugins\\paltestmodule.so"), FALSE)) << GetLastError();
    EXPECT_TRUE(DeleteFileW(W("C:\\Plugins\\paltestmodule.so"))) << GetLastError();
}

TEST(ModuleFiles, ALoadedModulesFileIsHeldForEveryProcessUntilItIsFreed)
{
    testsupport::TempRoot root;
    layModule(root);
    testsupport::ChildProcess loader(testsupport::besideSelf("pal_file_child"),
                                     {"load", "C:\\Plugins\\PalTestModule.dll"});
    ASSERT_EQ(loader.readLine(), "loaded");
    expectHeldAsAnImage();
    loader.closeInput();
    EXPECT_EQ(loader.readLine(), "freed");
    EXPECT_EQ(loader.wait(), 0);
    expectFree();
}

TEST(ModuleFiles, TheHoldOfAKilledProcessEndsWithIt)
{
    testsupport::TempRoot root;
    layModule(root);
    testsupport::ChildProcess loader(testsupport::besideSelf("pal_file_child"),
                                     {"load", "C:\\Plugins\\PalTestModule.dll"});
    ASSERT_EQ(loader.readLine(), "loaded");
    loader.kill();
    loader.wait();
    expectFree();
}

TEST(ModuleFiles, ThisProcesssOwnLoadHoldsTheFileUntilTheLastFree)
{
    testsupport::TempRoot root;
    layModule(root);
    HMODULE first = LoadLibraryW(W("C:\\Plugins\\PalTestModule.dll"));
    ASSERT_NE(first, nullptr);
    HMODULE second = LoadLibraryW(W("C:\\Plugins\\PalTestModule.dll"));
    EXPECT_EQ(second, first);
    FreeLibrary(second);
    expectHeldAsAnImage();
    FreeLibrary(first);
    expectFree();
}

TEST(ModuleFiles, AFileOpenForWritingCannotBeLoaded)
{
    testsupport::TempRoot root;
    layModule(root);
    HANDLE writer = openModuleFile(GENERIC_WRITE, FILE_SHARE_READ);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    SetLastError(0);
    EXPECT_EQ(LoadLibraryW(W("C:\\Plugins\\PalTestModule.dll")), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    CloseHandle(writer);
    HMODULE module = LoadLibraryW(W("C:\\Plugins\\PalTestModule.dll"));
    EXPECT_NE(module, nullptr);
    FreeLibrary(module);
}

FARPROC resolveSpooler(LPCSTR name, void* context)
{
    ++*static_cast<int*>(context);
    return std::string(name) == "EnumPortsW" ? reinterpret_cast<FARPROC>(&GetLastError) : nullptr;
}

TEST(BuiltinModules, AreServedByTheProcessUntilRemoved)
{
    testsupport::TempRoot root;
    int calls = 0;
    ASSERT_TRUE(palRegisterBuiltinModule(W("SPOOLSS.DLL"), resolveSpooler, &calls));
    HMODULE spooler = LoadLibraryW(W("spoolss.dll"));
    ASSERT_NE(spooler, nullptr);
    EXPECT_EQ(GetModuleHandleA("SPOOLSS"), spooler);
    EXPECT_EQ(GetProcAddress(spooler, "EnumPortsW"), reinterpret_cast<FARPROC>(&GetLastError));
    EXPECT_EQ(GetProcAddress(spooler, "Missing"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(moduleFileName(spooler), u"C:\\Windows\\System32\\SPOOLSS.DLL");
    EXPECT_EQ(LoadLibraryW(W("c:\\windows\\system32\\spoolss.dll")), spooler) << "by its path too";
    EXPECT_EQ(LoadLibraryW(W("C:\\Other\\SPOOLSS.DLL")), nullptr) << "not from another folder";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_TRUE(FreeLibrary(spooler));

    EXPECT_TRUE(palRegisterBuiltinModule(W("spoolss.dll"), nullptr, nullptr));
    EXPECT_EQ(LoadLibraryW(W("SPOOLSS.DLL")), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(GetProcAddress(spooler, "EnumPortsW"), nullptr) << "a removed module's handle resolves nothing";
    EXPECT_FALSE(palRegisterBuiltinModule(W(""), resolveSpooler, nullptr));
}

TEST(ModuleFileName, MapsTheExecutableAndFollowsTheOverride)
{
    testsupport::TempRoot root;
    EXPECT_EQ(moduleFileName(nullptr), u"C:\\Program Files\\pal_test_modules.exe");
    EXPECT_EQ(moduleFileName(GetModuleHandleW(nullptr)), u"C:\\Program Files\\pal_test_modules.exe");

    palSetModuleFileName(u"C:\\Svc\\JTRKSVC2.exe");
    EXPECT_EQ(moduleFileName(nullptr), u"C:\\Svc\\JTRKSVC2.exe");
    palSetModuleFileName(W(""));
    WCHAR path[MAX_PATH];
    EXPECT_EQ(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u) << "an empty override makes the call fail";
    palSetModuleFileName(nullptr);
    EXPECT_EQ(moduleFileName(nullptr), u"C:\\Program Files\\pal_test_modules.exe");
}

TEST(ModuleFileName, ShortBuffersGetATerminatedPrefixAndTheirSize)
{
    testsupport::TempRoot root;
    palSetModuleFileName(u"C:\\Svc\\JTRKSVC2.exe"); // 19 characters
    WCHAR path[32];
    std::fill(std::begin(path), std::end(path), u'#');
    SetLastError(0);
    EXPECT_EQ(GetModuleFileNameW(nullptr, path, 20), 19u);
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_EQ(GetModuleFileNameW(nullptr, path, 19), 19u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(std::u16string(path), u"C:\\Svc\\JTRKSVC2.ex");
    EXPECT_EQ(GetModuleFileNameW(nullptr, path, 1), 1u);
    EXPECT_EQ(path[0], 0);
    path[0] = u'#';
    EXPECT_EQ(GetModuleFileNameW(nullptr, path, 0), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(path[0], u'#');

    palSetModuleFileName(u"C:\\日本\\a.exe"); // 932: 2 + 1 + 4 + 1 + 5 = 13 bytes
    char narrow[16];
    EXPECT_EQ(GetModuleFileNameA(nullptr, narrow, 16), 13u);
    EXPECT_STREQ(narrow, "C:\\\x93\xFA\x96\x7B\\a.exe");
    EXPECT_EQ(GetModuleFileNameA(nullptr, narrow, 6), 6u);
    EXPECT_STREQ(narrow, "C:\\\x93\xFA") << "cut before a double-byte character, not inside it";
    palSetModuleFileName(nullptr);
}

TEST(ModuleFileName, AnExecutableBelowDriveCHasItsOwnPath)
{
    testsupport::TempRoot root;
    fs::create_directories(root.file("drive_c/Tools"));
    fs::copy_file(testsupport::besideSelf("pal_file_child"), root.file("drive_c/Tools/Child"));
    testsupport::ChildOptions options;
    options.setEnvironment = {"LD_LIBRARY_PATH=" + fs::path(testsupport::selfPath()).parent_path().string()};
    testsupport::ChildProcess child(root.file("drive_c/Tools/Child"), {"modulepath"}, options);
    ASSERT_TRUE(child.started());
    EXPECT_EQ(child.readLine(), "C:\\Tools\\Child.exe");
    EXPECT_EQ(child.wait(), 0);
}

} // namespace
