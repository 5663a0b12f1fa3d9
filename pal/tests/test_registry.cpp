#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <windows.h>

#include "ChildProcess.h"
#include "TempRoot.h"
#include "TestFiles.h"

namespace {

using testsupport::Bytes;
using testsupport::bytesOf;
using testsupport::putCountedText;
using testsupport::putLittle;
using testsupport::readBytes;
using testsupport::writeBytes;

class Registry : public testing::Test {
protected:
    HKEY create(const char16_t* path, REGSAM access = KEY_ALL_ACCESS, HKEY parent = HKEY_LOCAL_MACHINE)
    {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExW(parent, path, 0, nullptr, 0, access, nullptr, &key, nullptr), ERROR_SUCCESS);
        return key;
    }
    LONG open(const char16_t* path, HKEY& key, REGSAM access = KEY_ALL_ACCESS)
    {
        return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, access, &key);
    }
    static LONG setDword(HKEY key, const char16_t* name, DWORD value)
    {
        return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
    }
    static LONG setString(HKEY key, const char16_t* name, std::u16string_view text)
    {
        Bytes data = bytesOf(text);
        return RegSetValueExW(key, name, 0, REG_SZ, data.data(), static_cast<DWORD>(data.size()));
    }
    static Bytes query(HKEY key, const char16_t* name, DWORD* type = nullptr)
    {
        DWORD size = 0;
        if (RegQueryValueExW(key, name, nullptr, type, nullptr, &size) != ERROR_SUCCESS)
            return Bytes{0xEE};
        Bytes data(size);
        EXPECT_EQ(RegQueryValueExW(key, name, nullptr, type, data.data(), &size), ERROR_SUCCESS);
        return data;
    }
    static std::vector<std::u16string> subkeys(HKEY key)
    {
        std::vector<std::u16string> names;
        WCHAR name[300];
        DWORD length = 300;
        for (DWORD i = 0; RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
             ++i, length = 300)
            names.emplace_back(name, length);
        return names;
    }
    static std::vector<std::u16string> valueNames(HKEY key)
    {
        std::vector<std::u16string> names;
        WCHAR name[300];
        DWORD length = 300;
        for (DWORD i = 0;
             RegEnumValueW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS; ++i,
                   length = 300)
            names.emplace_back(name, length);
        return names;
    }
    std::string keyFolder(const std::string& relative) const { return root.file("registry/HKLM/" + relative); }

    testsupport::TempRoot root;
};

TEST(RegistryConstants, PredefinedKeysAreSignExtendedWindowsValues)
{
    EXPECT_EQ(reinterpret_cast<uintptr_t>(HKEY_CLASSES_ROOT), uintptr_t(0xFFFFFFFF80000000ull));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(HKEY_LOCAL_MACHINE), uintptr_t(0xFFFFFFFF80000002ull));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(HKEY_CURRENT_USER), uintptr_t(0xFFFFFFFF80000001ull));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(HKEY_USERS), uintptr_t(0xFFFFFFFF80000003ull));
    EXPECT_EQ(sizeof(HKEY), sizeof(void*));
    EXPECT_EQ(ERROR_MORE_DATA, 234);
    EXPECT_EQ(ERROR_NO_MORE_ITEMS, 259);
    EXPECT_EQ(ERROR_KEY_DELETED, 1018);
    EXPECT_EQ(KEY_READ, 0x20019);
    EXPECT_EQ(KEY_ALL_ACCESS, 0xF003F);
}

// ---- The files on disk

TEST_F(Registry, KeyFileHoldsNameAndValuesByteForByte)
{
    HKEY key = create(u"Software\\Vendor");
    const Bytes data = {'a', 0, 'b', 0}; // REG_SZ without a terminator
    ASSERT_EQ(RegSetValueExW(key, u"Name", 0, REG_SZ, data.data(), 4), ERROR_SUCCESS);
    ASSERT_EQ(setDword(key, u"", 0x01020304), ERROR_SUCCESS);
    RegCloseKey(key);

    const Bytes file = readBytes(keyFolder("SOFTWARE/VENDOR/.key"));
    ASSERT_GE(file.size(), 16u);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 8), Bytes({'P', 'A', 'L', 'R', 'E', 'G', '0', '1'}));
    Bytes expected(file.begin(), file.begin() + 16); // the magic and the key's random id
    putCountedText(expected, u"Vendor");
    putLittle(expected, 2, 4);
    putCountedText(expected, u"Name");
    putLittle(expected, REG_SZ, 4);
    putLittle(expected, 4, 4);
    expected.insert(expected.end(), {'a', 0, 'b', 0});
    putCountedText(expected, u"");
    putLittle(expected, REG_DWORD, 4);
    putLittle(expected, 4, 4);
    expected.insert(expected.end(), {4, 3, 2, 1});
    EXPECT_EQ(file, expected);
    EXPECT_NE(Bytes(file.begin() + 8, file.begin() + 16), Bytes(8, 0)) << "a created key has a non-zero id";
    EXPECT_FALSE(std::filesystem::exists(keyFolder("SOFTWARE/VENDOR/.key.tmp")));
}

TEST_F(Registry, HandWrittenKeyFileIsReadAndEnumerated)
{
    Bytes file = {'P', 'A', 'L', 'R', 'E', 'G', '0', '1', 7, 0, 0, 0, 0, 0, 0, 0};
    putCountedText(file, u"HandMade");
    putLittle(file, 2, 4);
    putCountedText(file, u"Count");
    putLittle(file, REG_DWORD, 4);
    putLittle(file, 4, 4);
    file.insert(file.end(), {0x44, 0x33, 0x22, 0x11});
    putCountedText(file, u"");
    putLittle(file, REG_BINARY, 4);
    putLittle(file, 3, 4);
    file.insert(file.end(), {1, 2, 3});
    writeBytes(keyFolder("HANDMADE/.key"), file);

    HKEY key = nullptr;
    ASSERT_EQ(open(u"handmade", key), ERROR_SUCCESS);
    DWORD type = 0;
    EXPECT_EQ(query(key, u"COUNT", &type), (Bytes{0x44, 0x33, 0x22, 0x11}));
    EXPECT_EQ(type, DWORD(REG_DWORD));
    EXPECT_EQ(query(key, nullptr, &type), (Bytes{1, 2, 3}));
    EXPECT_EQ(type, DWORD(REG_BINARY));
    EXPECT_EQ(valueNames(key), (std::vector<std::u16string>{u"Count", u""}));
    EXPECT_EQ(subkeys(HKEY_LOCAL_MACHINE), (std::vector<std::u16string>{u"HandMade"}));
    RegCloseKey(key);
}

TEST_F(Registry, DamagedKeyFileIsReportedCorrupt)
{
    HKEY key = create(u"Damaged");
    ASSERT_EQ(setDword(key, u"V", 1), ERROR_SUCCESS);
    Bytes file = readBytes(keyFolder("DAMAGED/.key"));
    file.push_back(0); // nothing may follow the last value
    writeBytes(keyFolder("DAMAGED/.key"), file);
    DWORD size = 4;
    DWORD value = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"V", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size),
              ERROR_REGISTRY_CORRUPT);
    file.resize(file.size() - 3); // value data cut short
    writeBytes(keyFolder("DAMAGED/.key"), file);
    EXPECT_EQ(RegQueryValueExW(key, u"V", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size),
              ERROR_REGISTRY_CORRUPT);
    RegCloseKey(key);
}

TEST_F(Registry, NamesSpecialToFileSystemsAreEscapedAndKeepTheirCase)
{
    const std::vector<std::pair<std::u16string, std::string>> names = {
        {u"a/b", "A%2FB"}, {u"..", "%2E."},     {u".", "%2E"},       {u":*?", "%3A%2A%3F"},
        {u"%41", "%2541"}, {u"A", "A"},         {u"~x", "%7EX"},     {u"Tab\tEnd", "TAB%09END"},
        {u"ä", "\xC3\x84"}, {u"Port 1", "PORT 1"}, {u".hidden", "%2EHIDDEN"},
        // upper-cased by the case table, then UTF-8; a lone surrogate keeps its own three bytes
        {u"σｚ", "\xCE\xA3\xEF\xBC\xBA"}, {u"\U0001F600", "\xF0\x9F\x98\x80"}, {u"\xD800-z", "\xED\xA0\x80-Z"}};
    HKEY parent = create(u"Special");
    for (const auto& [name, folder] : names) {
        HKEY key = create(name.c_str(), KEY_ALL_ACCESS, parent);
        ASSERT_NE(key, nullptr);
        ASSERT_EQ(setString(key, u"Name", name), ERROR_SUCCESS);
        RegCloseKey(key);
        EXPECT_TRUE(std::filesystem::exists(keyFolder("SPECIAL/" + folder + "/.key"))) << folder;
    }
    auto listed = subkeys(parent);
    ASSERT_EQ(listed.size(), names.size()) << "no two names share a folder";
    for (const auto& [name, folder] : names) {
        EXPECT_NE(std::find(listed.begin(), listed.end(), name), listed.end());
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExW(parent, name.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
        EXPECT_EQ(query(key, u"Name"), bytesOf(name));
        RegCloseKey(key);
    }
    RegCloseKey(parent);
}

TEST_F(Registry, LongNamesThatShareAPrefixGetTheirOwnFolders)
{
    const std::u16string stem(250, u'k');
    HKEY first = create((stem + u"01").c_str());
    HKEY second = create((stem + u"02").c_str());
    ASSERT_EQ(setDword(first, u"Which", 1), ERROR_SUCCESS);
    ASSERT_EQ(setDword(second, u"Which", 2), ERROR_SUCCESS);
    EXPECT_EQ(query(first, u"Which"), (Bytes{1, 0, 0, 0}));
    EXPECT_EQ(query(second, u"Which"), (Bytes{2, 0, 0, 0}));
    const std::u16string japanese(255, u'\u3042'); // 765 bytes of UTF-8
    HKEY third = create(japanese.c_str());
    EXPECT_NE(third, nullptr);
    EXPECT_EQ(subkeys(HKEY_LOCAL_MACHINE).size(), 3u);
    HKEY tooLong = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, (stem + u"123456").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &tooLong, nullptr),
              ERROR_INVALID_PARAMETER);
    RegCloseKey(first);
    RegCloseKey(second);
    RegCloseKey(third);
}

TEST_F(Registry, LeftoversOfADeadWriterAreNoKeys)
{
    std::filesystem::create_directories(keyFolder("STALE"));     // folder without key file
    std::filesystem::create_directories(keyFolder(".new.tmp"));  // a half-prepared key
    EXPECT_TRUE(subkeys(HKEY_LOCAL_MACHINE).empty());
    HKEY key = nullptr;
    EXPECT_EQ(open(u"Stale", key), ERROR_FILE_NOT_FOUND);
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Stale", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, DWORD(REG_CREATED_NEW_KEY));
    EXPECT_EQ(subkeys(HKEY_LOCAL_MACHINE), (std::vector<std::u16string>{u"Stale"}));
    RegCloseKey(key);
}

// ---- Keys

TEST_F(Registry, CreateMakesIntermediateKeysAndReportsTheDisposition)
{
    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Control\\Print", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, DWORD(REG_CREATED_NEW_KEY));
    RegCloseKey(key);
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"system\\currentcontrolset\\control\\PRINT\\", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, DWORD(REG_OPENED_EXISTING_KEY));
    RegCloseKey(key);
    ASSERT_EQ(open(u"SYSTEM\\CurrentControlSet", key), ERROR_SUCCESS);
    EXPECT_EQ(subkeys(key), (std::vector<std::u16string>{u"Control"}));
    RegCloseKey(key);
}

TEST_F(Registry, MissingKeysAndBadPathsFail)
{
    HKEY key = reinterpret_cast<HKEY>(1);
    EXPECT_EQ(open(u"Nowhere", key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr) << "the result is cleared on failure";
    EXPECT_EQ(open(u"\\Leading", key), ERROR_BAD_PATHNAME);
    EXPECT_EQ(open(u"Double\\\\Backslash", key), ERROR_BAD_PATHNAME);
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, nullptr, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegOpenKeyExW(reinterpret_cast<HKEY>(0x12345678), u"x", 0, KEY_READ, &key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"x", 0, KEY_READ, nullptr), ERROR_INVALID_PARAMETER);
    HKEY created = create(u"Once");
    EXPECT_EQ(RegCloseKey(created), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(created), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
}

TEST_F(Registry, WithoutAPlatformRootNothingIsFound)
{
    const std::string saved = root.path();
    unsetenv("PAL_ROOT");
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"x", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_PATH_NOT_FOUND);
    setenv("PAL_ROOT", saved.c_str(), 1);
}

TEST_F(Registry, CaseInsensitiveNamesKeepTheCaseTheyWereCreatedWith)
{
    HKEY key = create(u"Software\\MixedCase");
    HKEY again = nullptr;
    ASSERT_EQ(open(u"SOFTWARE\\mixedcase", again), ERROR_SUCCESS);
    ASSERT_EQ(setString(key, u"ServerName", u"one"), ERROR_SUCCESS);
    ASSERT_EQ(setString(again, u"SERVERNAME", u"two"), ERROR_SUCCESS);
    EXPECT_EQ(valueNames(key), (std::vector<std::u16string>{u"ServerName"}));
    EXPECT_EQ(query(key, u"servername"), bytesOf(u"two"));
    HKEY software = nullptr;
    ASSERT_EQ(open(u"software", software), ERROR_SUCCESS);
    EXPECT_EQ(subkeys(software), (std::vector<std::u16string>{u"MixedCase"}));

    HKEY cyrillic = create(u"Привет Ärger ΣΙΣΥΦΟΣ ＡＢ");
    HKEY folded = nullptr;
    EXPECT_EQ(open(u"ПРИВЕТ äRGER σισυφοσ ａｂ", folded), ERROR_SUCCESS);
    for (HKEY handle : {key, again, software, cyrillic, folded})
        RegCloseKey(handle);
}

TEST_F(Registry, SubkeysEnumerateInNameOrderValuesInCreationOrder)
{
    HKEY key = create(u"Order");
    for (const char16_t* name : {u"b", u"C", u"a", u"_x"})
        RegCloseKey(create(name, KEY_ALL_ACCESS, key));
    EXPECT_EQ(subkeys(key), (std::vector<std::u16string>{u"a", u"b", u"C", u"_x"}));
    for (const char16_t* name : {u"z", u"y", u"x"})
        ASSERT_EQ(setDword(key, name, 1), ERROR_SUCCESS);
    ASSERT_EQ(setDword(key, u"Z", 2), ERROR_SUCCESS); // an update keeps its place
    ASSERT_EQ(RegDeleteValueW(key, u"y"), ERROR_SUCCESS);
    ASSERT_EQ(setDword(key, u"w", 3), ERROR_SUCCESS);
    EXPECT_EQ(valueNames(key), (std::vector<std::u16string>{u"z", u"x", u"w"}));
    EXPECT_EQ(valueNames(key), valueNames(key));

    WCHAR name[8];
    DWORD length = 8;
    EXPECT_EQ(RegEnumKeyExW(key, 4, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(RegEnumValueW(key, 3, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    length = 2; // "_x" needs 3 with its terminator
    EXPECT_EQ(RegEnumKeyExW(key, 3, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    length = 3;
    WCHAR keyClass[4] = {u'?'};
    DWORD classLength = 4;
    FILETIME written{};
    EXPECT_EQ(RegEnumKeyExW(key, 3, name, &length, nullptr, keyClass, &classLength, &written), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(name), u"_x");
    EXPECT_EQ(length, 2u);
    EXPECT_EQ(classLength, 0u);
    EXPECT_EQ(keyClass[0], 0);
    EXPECT_NE(written.dwHighDateTime, 0u);
    RegCloseKey(key);
}

TEST_F(Registry, DeleteKeyRefusesAKeyWithSubkeys)
{
    RegCloseKey(create(u"Parent\\Child\\Grandchild"));
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Parent"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Parent\\Child"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"parent\\child\\grandchild"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Parent\\Child\\Grandchild"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Parent\\Child"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Parent"), ERROR_SUCCESS);
    EXPECT_FALSE(std::filesystem::exists(keyFolder("PARENT")));
    EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u""), ERROR_ACCESS_DENIED) << "a predefined key stays";
}

TEST_F(Registry, DeleteTreeRemovesEverythingBelow)
{
    HKEY key = create(u"Tree");
    ASSERT_EQ(setDword(key, u"Kept?", 1), ERROR_SUCCESS);
    RegCloseKey(create(u"Tree\\A\\B"));
    RegCloseKey(create(u"Tree\\C"));
    EXPECT_EQ(RegDeleteTreeW(key, nullptr), ERROR_SUCCESS);
    EXPECT_TRUE(subkeys(key).empty());
    EXPECT_TRUE(valueNames(key).empty());
    RegCloseKey(create(u"Tree\\D\\E"));
    EXPECT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, u"Tree"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, u"Tree"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(setDword(key, u"x", 1), ERROR_KEY_DELETED);
    RegCloseKey(key);
}

TEST_F(Registry, HandleOfADeletedKeyReportsKeyDeletedEvenAfterTheNameIsReused)
{
    HKEY key = create(u"Doomed");
    ASSERT_EQ(setDword(key, u"V", 1), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Doomed"), ERROR_SUCCESS);
    DWORD size = 4;
    EXPECT_EQ(RegQueryValueExW(key, u"V", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
    EXPECT_EQ(setDword(key, u"V", 2), ERROR_KEY_DELETED);
    HKEY child = nullptr;
    EXPECT_EQ(RegCreateKeyExW(key, u"Child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr),
              ERROR_KEY_DELETED);
    EXPECT_EQ(RegOpenKeyExW(key, nullptr, 0, KEY_READ, &child), ERROR_KEY_DELETED);
    RegCloseKey(create(u"Doomed")); // same name, another key
    EXPECT_EQ(RegQueryValueExW(key, u"V", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
    EXPECT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &size, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr),
              ERROR_KEY_DELETED);
    EXPECT_EQ(RegFlushKey(key), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(Registry, AccessRightsOfTheHandleAreEnforced)
{
    RegCloseKey(create(u"Guarded\\Existing"));
    HKEY reader = nullptr;
    ASSERT_EQ(open(u"Guarded", reader, KEY_READ), ERROR_SUCCESS);
    EXPECT_EQ(setDword(reader, u"V", 1), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValueW(reader, u"V"), ERROR_ACCESS_DENIED);
    HKEY child = nullptr;
    EXPECT_EQ(RegCreateKeyExW(reader, u"New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr),
              ERROR_ACCESS_DENIED);
    ASSERT_EQ(RegCreateKeyExW(reader, u"Existing", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &child, nullptr),
              ERROR_SUCCESS)
        << "opening an existing subkey needs no create right";
    RegCloseKey(child);

    HKEY writer = nullptr;
    ASSERT_EQ(open(u"Guarded", writer, KEY_SET_VALUE), ERROR_SUCCESS);
    EXPECT_EQ(setDword(writer, u"V", 1), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(writer, u"V", nullptr, nullptr, nullptr, &size), ERROR_ACCESS_DENIED);
    WCHAR name[8];
    DWORD length = 8;
    EXPECT_EQ(RegEnumKeyExW(writer, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_ACCESS_DENIED);

    HKEY generic = nullptr;
    ASSERT_EQ(open(u"Guarded", generic, 0x80000000 /* GENERIC_READ */), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExW(generic, u"V", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(setDword(generic, u"V", 2), ERROR_ACCESS_DENIED);
    for (HKEY handle : {reader, writer, generic})
        RegCloseKey(handle);
}

// ---- Values

TEST_F(Registry, StringDataIsStoredExactlyWithoutAddedTerminator)
{
    HKEY key = create(u"Strings");
    const Bytes odd = {'a', 0, 'b'};
    ASSERT_EQ(RegSetValueExW(key, u"Odd", 0, REG_SZ, odd.data(), 3), ERROR_SUCCESS);
    ASSERT_EQ(setString(key, u"Bare", u"192.168.0.1"), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, u"Empty", 0, REG_SZ, nullptr, 0), ERROR_SUCCESS);
    EXPECT_EQ(query(key, u"Odd"), odd);
    EXPECT_EQ(query(key, u"Bare"), bytesOf(u"192.168.0.1"));
    EXPECT_EQ(query(key, u"Empty"), Bytes{});
    EXPECT_EQ(RegSetValueExW(key, u"Null", 0, REG_SZ, nullptr, 2), ERROR_NOACCESS);
    RegCloseKey(key);
}

TEST_F(Registry, ShortBufferGivesMoreDataWithTheNeededSize)
{
    HKEY key = create(u"Sizes");
    ASSERT_EQ(setString(key, u"ServerName", std::u16string(u"10.0.0.1\0", 9)), ERROR_SUCCESS);
    DWORD type = 0;
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"ServerName", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 18u);
    EXPECT_EQ(type, DWORD(REG_SZ));
    BYTE buffer[32];
    std::memset(buffer, 0x5A, sizeof buffer);
    size = 17;
    type = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"ServerName", nullptr, &type, buffer, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 18u);
    EXPECT_EQ(type, DWORD(REG_SZ));
    size = 18;
    EXPECT_EQ(RegQueryValueExW(key, u"ServerName", nullptr, nullptr, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(Bytes(buffer, buffer + 18), bytesOf(std::u16string(u"10.0.0.1\0", 9)));
    EXPECT_EQ(buffer[18], 0x5A) << "nothing written past the data";
    EXPECT_EQ(RegQueryValueExW(key, u"ServerName", nullptr, nullptr, buffer, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegQueryValueExW(key, u"ServerName", nullptr, &type, nullptr, nullptr), ERROR_SUCCESS);

    WCHAR name[16];
    DWORD nameLength = 16;
    size = 4;
    EXPECT_EQ(RegEnumValueW(key, 0, name, &nameLength, nullptr, &type, buffer, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 18u);
    RegCloseKey(key);
}

TEST_F(Registry, MissingValueGivesFileNotFound)
{
    HKEY key = create(u"Values");
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"Nothing", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryValueExW(key, nullptr, nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND)
        << "no default value was set";
    EXPECT_EQ(RegDeleteValueW(key, u"Nothing"), ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
}

TEST_F(Registry, EveryValueTypeComesBackAsStored)
{
    HKEY key = create(u"Types");
    const ULONGLONG qword = 0x0102030405060708ull;
    const Bytes multi = bytesOf(std::u16string(u"one\0two\0\0", 9));
    const Bytes binary = {0, 0xFF, 0x80};
    ASSERT_EQ(setDword(key, u"Dword", 0xC0000011), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, u"Qword", 0, REG_QWORD, reinterpret_cast<const BYTE*>(&qword), 8), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, u"Multi", 0, REG_MULTI_SZ, multi.data(), DWORD(multi.size())), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, u"Binary", 0, REG_BINARY, binary.data(), 3), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, u"None", 0, REG_NONE, nullptr, 0), ERROR_SUCCESS);
    DWORD type = 0;
    EXPECT_EQ(query(key, u"Dword", &type), (Bytes{0x11, 0, 0, 0xC0}));
    EXPECT_EQ(type, DWORD(REG_DWORD));
    EXPECT_EQ(query(key, u"Qword", &type), (Bytes{8, 7, 6, 5, 4, 3, 2, 1}));
    EXPECT_EQ(type, DWORD(REG_QWORD));
    EXPECT_EQ(query(key, u"Multi", &type), multi);
    EXPECT_EQ(type, DWORD(REG_MULTI_SZ));
    EXPECT_EQ(query(key, u"Binary", &type), binary);
    EXPECT_EQ(query(key, u"None", &type), Bytes{});
    EXPECT_EQ(type, DWORD(REG_NONE));
    RegCloseKey(key);
}

TEST_F(Registry, QueryInfoKeyCountsAndMeasures)
{
    HKEY key = create(u"Info");
    RegCloseKey(create(u"Info\\Short"));
    RegCloseKey(create(u"Info\\LongestName"));
    ASSERT_EQ(setString(key, u"AB", u"0123456789"), ERROR_SUCCESS);
    ASSERT_EQ(setDword(key, u"Longer", 1), ERROR_SUCCESS);
    DWORD subkeyCount = 0, maxSubkey = 0, maxClass = 9, valueCount = 0, maxValueName = 0, maxData = 0, security = 9;
    FILETIME written{};
    ASSERT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeyCount, &maxSubkey, &maxClass, &valueCount,
                               &maxValueName, &maxData, &security, &written),
              ERROR_SUCCESS);
    EXPECT_EQ(subkeyCount, 2u);
    EXPECT_EQ(maxSubkey, 11u);
    EXPECT_EQ(maxClass, 0u);
    EXPECT_EQ(valueCount, 2u);
    EXPECT_EQ(maxValueName, 6u);
    EXPECT_EQ(maxData, 20u);
    EXPECT_EQ(security, 0u);
    EXPECT_NE(written.dwHighDateTime, 0u);
    RegCloseKey(key);

    HKEY empty = create(u"Empty");
    ASSERT_EQ(RegQueryInfoKeyW(empty, nullptr, nullptr, nullptr, &subkeyCount, &maxSubkey, nullptr, &valueCount,
                               nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subkeyCount + maxSubkey + valueCount, 0u);
    RegCloseKey(empty);
}

TEST_F(Registry, GetValueAddsTheTerminatorAndFiltersTypes)
{
    HKEY key = create(u"Get");
    ASSERT_EQ(setString(key, u"Text", u"abc"), ERROR_SUCCESS);
    ASSERT_EQ(setDword(key, u"Number", 7), ERROR_SUCCESS);
    BYTE buffer[16];
    DWORD size = sizeof buffer;
    DWORD type = 0;
    ASSERT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, u"Get", u"Text", RRF_RT_REG_SZ, &type, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(Bytes(buffer, buffer + 8), bytesOf(std::u16string(u"abc\0", 4)));
    size = sizeof buffer;
    EXPECT_EQ(RegGetValueW(key, nullptr, u"Number", RRF_RT_REG_SZ, &type, buffer, &size), ERROR_UNSUPPORTED_TYPE);
    size = sizeof buffer;
    EXPECT_EQ(RegGetValueW(key, nullptr, u"Number", RRF_RT_DWORD, &type, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 4u);
    size = 4;
    std::memset(buffer, 0x77, sizeof buffer);
    EXPECT_EQ(RegGetValueW(key, nullptr, u"Text", RRF_RT_ANY | RRF_ZEROONFAILURE, &type, buffer, &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(buffer[4], 0x77) << "zeroed only as far as the caller's buffer went";
    EXPECT_EQ(RegGetValueW(key, nullptr, u"Text", 0, &type, buffer, &size), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, u"Missing", u"Text", RRF_RT_ANY, &type, nullptr, nullptr),
              ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
}

TEST_F(Registry, GetValueExpandsEnvironmentStringsUnlessAskedNotTo)
{
    HKEY key = create(u"Expand");
    const Bytes path = bytesOf(u"%PAL_TEST_FOLDER%\\bin;%UNDEFINED_NAME%"); // no terminator
    ASSERT_EQ(RegSetValueExW(key, u"Path", 0, REG_EXPAND_SZ, path.data(), DWORD(path.size())), ERROR_SUCCESS);
    ASSERT_TRUE(SetEnvironmentVariableW(u"PAL_TEST_FOLDER", u"C:\\Tools"));
    const Bytes expanded = bytesOf(std::u16string(u"C:\\Tools\\bin;%UNDEFINED_NAME%\0", 30));
    DWORD type = 0, size = 0;
    ASSERT_EQ(RegGetValueW(key, nullptr, u"Path", RRF_RT_REG_SZ, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, expanded.size()) << "the size is the expanded one";
    BYTE buffer[128];
    size = sizeof buffer;
    ASSERT_EQ(RegGetValueW(key, nullptr, u"Path", RRF_RT_REG_SZ, &type, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_SZ));
    EXPECT_EQ(Bytes(buffer, buffer + size), expanded);

    size = sizeof buffer;
    ASSERT_EQ(RegGetValueW(key, nullptr, u"Path", RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, &type, buffer, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_EXPAND_SZ));
    Bytes raw = path;
    raw.insert(raw.end(), {0, 0});
    EXPECT_EQ(Bytes(buffer, buffer + size), raw) << "as stored, with a terminator";
    size = sizeof buffer;
    EXPECT_EQ(RegGetValueW(key, nullptr, u"Path", RRF_RT_REG_SZ | RRF_NOEXPAND, &type, buffer, &size),
              ERROR_UNSUPPORTED_TYPE);
    SetEnvironmentVariableW(u"PAL_TEST_FOLDER", nullptr);
    RegCloseKey(key);
}

// ---- ANSI functions (code page 932)

TEST_F(Registry, AnsiFunctionsConvertNamesAndStringDataWithCodePage932)
{
    const char katakanaTest[] = "\x83\x65\x83\x58\x83\x67"; // テスト
    const char japanese[] = "\x93\xfa\x96\x7b\x8c\xea";     // 日本語
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, katakanaTest, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subkeys(HKEY_LOCAL_MACHINE), (std::vector<std::u16string>{u"テスト"}));
    ASSERT_EQ(RegSetValueExA(key, japanese, 0, REG_SZ, reinterpret_cast<const BYTE*>(japanese), 7), ERROR_SUCCESS);
    EXPECT_EQ(valueNames(key), (std::vector<std::u16string>{u"日本語"}));
    EXPECT_EQ(query(key, u"日本語"), bytesOf(std::u16string(u"日本語\0", 4))) << "7 ANSI bytes, 8 wide bytes";

    DWORD type = 0;
    DWORD size = 0;
    ASSERT_EQ(RegQueryValueExA(key, japanese, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 7u) << "the ANSI size";
    char buffer[16] = {};
    size = 6;
    EXPECT_EQ(RegQueryValueExA(key, japanese, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 7u);
    size = sizeof buffer;
    ASSERT_EQ(RegQueryValueExA(key, japanese, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size), ERROR_SUCCESS);
    EXPECT_EQ(std::string(buffer, size), std::string(japanese, 7));

    ASSERT_EQ(RegSetValueExA(key, "Count", 0, REG_DWORD, reinterpret_cast<const BYTE*>("\x93\xfa\0\0"), 4),
              ERROR_SUCCESS);
    EXPECT_EQ(query(key, u"Count"), (Bytes{0x93, 0xfa, 0, 0})) << "binary data is not converted";

    char name[16];
    DWORD length = 6; // 6 bytes of name need 7 with the terminator
    EXPECT_EQ(RegEnumKeyExA(HKEY_LOCAL_MACHINE, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_MORE_DATA);
    length = 7;
    ASSERT_EQ(RegEnumKeyExA(HKEY_LOCAL_MACHINE, 0, name, &length, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(std::string(name, length), katakanaTest);
    length = sizeof name;
    size = sizeof buffer;
    ASSERT_EQ(RegEnumValueA(key, 0, name, &length, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::string(name, length), japanese);
    EXPECT_EQ(size, 7u);

    DWORD maxSubkeyA = 0, maxSubkeyW = 0, maxValueNameA = 0;
    ASSERT_EQ(RegQueryInfoKeyA(HKEY_LOCAL_MACHINE, nullptr, nullptr, nullptr, nullptr, &maxSubkeyA, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegQueryInfoKeyW(HKEY_LOCAL_MACHINE, nullptr, nullptr, nullptr, nullptr, &maxSubkeyW, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxValueNameA,
                               nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(maxSubkeyA, 6u);
    EXPECT_EQ(maxSubkeyW, 3u);
    EXPECT_EQ(maxValueNameA, 6u);

    HKEY opened = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, katakanaTest, 0, KEY_READ, &opened), ERROR_SUCCESS);
    RegCloseKey(opened);
    EXPECT_EQ(RegDeleteValueA(key, japanese), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, katakanaTest), ERROR_SUCCESS);
}

// ---- Several writers

TEST_F(Registry, ConcurrentWritersInSeveralProcessesLoseNoUpdate)
{
    constexpr int kProcesses = 4;
    constexpr int kValuesEach = 40;
    RegCloseKey(create(u"Shared"));
    std::vector<testsupport::ChildProcess> children;
    for (int process = 0; process < kProcesses; ++process) {
        children.push_back(testsupport::ChildProcess::fork([process] {
            HKEY key = nullptr;
            if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Shared", 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
                return false;
            bool ok = true;
            for (int i = 0; i < kValuesEach; ++i) {
                std::u16string name = u"p" + std::u16string(1, char16_t(u'0' + process)) + u"_" +
                                      std::u16string(1, char16_t(u'A' + i % 26)) + std::u16string(i / 26 + 1, u'x');
                DWORD value = DWORD(process * 1000 + i);
                ok = ok && setDword(key, name.c_str(), value) == ERROR_SUCCESS;
                HKEY sub = nullptr;
                ok = ok && RegCreateKeyExW(key, name.c_str(), 0, nullptr, 0, KEY_READ, nullptr, &sub, nullptr) ==
                               ERROR_SUCCESS;
                RegCloseKey(sub);
            }
            RegCloseKey(key);
            return ok;
        }));
    }
    for (auto& child : children)
        EXPECT_EQ(child.wait(), 0);
    HKEY key = nullptr;
    ASSERT_EQ(open(u"Shared", key), ERROR_SUCCESS);
    DWORD subkeyCount = 0, valueCount = 0;
    ASSERT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeyCount, nullptr, nullptr, &valueCount, nullptr,
                               nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(valueCount, DWORD(kProcesses * kValuesEach));
    EXPECT_EQ(subkeyCount, DWORD(kProcesses * kValuesEach));
    RegCloseKey(key);
}

TEST_F(Registry, ConcurrentWritersInSeveralThreadsLoseNoUpdate)
{
    constexpr int kThreads = 4;
    constexpr int kValuesEach = 40;
    HKEY key = create(u"Threads");
    std::vector<std::thread> threads;
    for (int thread = 0; thread < kThreads; ++thread)
        threads.emplace_back([key, thread] {
            for (int i = 0; i < kValuesEach; ++i) {
                std::u16string name = u"t" + std::u16string(1, char16_t(u'0' + thread)) + u"_" +
                                      std::u16string(1, char16_t(u'A' + i % 26)) + std::u16string(i / 26 + 1, u'x');
                EXPECT_EQ(setDword(key, name.c_str(), DWORD(i)), ERROR_SUCCESS);
            }
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(valueNames(key).size(), size_t(kThreads * kValuesEach));
    RegCloseKey(key);
}

TEST_F(Registry, AnotherProcessSeesWritesAndDeletions)
{
    HKEY key = create(u"Visible");
    testsupport::ChildProcess writer = testsupport::ChildProcess::fork([] {
        HKEY child = nullptr;
        return RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"VISIBLE", 0, KEY_SET_VALUE, &child) == ERROR_SUCCESS &&
               setDword(child, u"FromChild", 42) == ERROR_SUCCESS;
    });
    ASSERT_EQ(writer.wait(), 0);
    EXPECT_EQ(query(key, u"fromchild"), (Bytes{42, 0, 0, 0}));

    testsupport::ChildProcess deleter =
        testsupport::ChildProcess::fork([] { return RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Visible") == ERROR_SUCCESS; });
    ASSERT_EQ(deleter.wait(), 0);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"FromChild", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
    RegCloseKey(key);
}

TEST_F(Registry, FlushKeySucceedsOnLiveKeys)
{
    HKEY key = create(u"Flushed");
    EXPECT_EQ(RegFlushKey(key), ERROR_SUCCESS) << "nothing written yet";
    ASSERT_EQ(setDword(key, u"V", 1), ERROR_SUCCESS);
    EXPECT_EQ(RegFlushKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegFlushKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    EXPECT_EQ(RegFlushKey(reinterpret_cast<HKEY>(0x4321)), ERROR_INVALID_HANDLE);
    RegCloseKey(key);
}

} // namespace
