#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include <windows.h>

// This test program carries its own string table, found through the executable's handle.
static const PAL_STRING_RESOURCE testStrings[] = {
    {1, W("Hello")},
    {2, W("ポートの追加")},
    {3, W("")},
    {4, W("プリンタ名：%1\n文書名：%2")},
    {65535, W("last")},
};
static const PAL_DIALOG_ITEM testItems[] = {
    {W("EDIT"), W(""), 1001, WS_VISIBLE},
};
static const PAL_DIALOG_TEMPLATE testDialogs[] = {
    {100, W("Test"), testItems, PAL_COUNT(testItems)},
};
PAL_DECLARE_RESOURCES(LANG_JAPANESE_JAPAN, testStrings, testDialogs);

namespace {

TEST(StringResources, CopiesCutsAndCountsWithoutTheTerminator)
{
    WCHAR buffer[16];
    EXPECT_EQ(LoadStringW(nullptr, 1, buffer, 16), 5);
    EXPECT_EQ(std::u16string(buffer), u"Hello");
    EXPECT_EQ(LoadStringW(GetModuleHandleW(nullptr), 2, buffer, 16), 6);
    EXPECT_EQ(std::u16string(buffer), u"ポートの追加");
    EXPECT_EQ(LoadStringW(nullptr, 1, buffer, 3), 2) << "cut to the buffer, terminated";
    EXPECT_EQ(std::u16string(buffer), u"He");
    buffer[0] = u'x';
    EXPECT_EQ(LoadStringW(nullptr, 1, buffer, 1), 0) << "room only for the terminator";
    EXPECT_EQ(buffer[0], u'\0');
    EXPECT_EQ(LoadStringW(nullptr, 65535, buffer, 16), 4);
}

TEST(StringResources, ZeroSizeGivesTheTextInPlace)
{
    LPCWSTR text = nullptr;
    EXPECT_EQ(LoadStringW(nullptr, 2, reinterpret_cast<LPWSTR>(&text), 0), 6);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::u16string(text, 6), u"ポートの追加");
}

TEST(StringResources, MissingIdEmptyTextAndModuleWithoutResources)
{
    WCHAR buffer[8] = u"xxxxxxx";
    SetLastError(0);
    EXPECT_EQ(LoadStringW(nullptr, 99, buffer, 8), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_EQ(LoadStringW(nullptr, 3, buffer, 8), 0) << "an empty text counts as none";
    char narrow[8];
    EXPECT_EQ(LoadStringA(nullptr, 99, narrow, 8), 0);
    EXPECT_EQ(narrow[0], '\0');

    HMODULE plain = LoadLibraryW(W("PalTestModule.dll"));
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(LoadStringW(plain, 1, buffer, 8), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND));
    EXPECT_EQ(palModuleResources(plain), nullptr) << "dlsym must not find the executable's table";
    FreeLibrary(plain);
    EXPECT_EQ(LoadStringW(nullptr, 1, nullptr, 8), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(StringResources, AnsiFormIsCp932AndNeverSplitsACharacter)
{
    char buffer[32];
    // "ポートの追加": six double-byte characters, 12 bytes.
    EXPECT_EQ(LoadStringA(nullptr, 2, buffer, 32), 12);
    EXPECT_EQ(std::string(buffer), std::string("\x83\x7C\x81\x5B\x83\x67\x82\xCC\x92\xC7\x89\xC1"));
    EXPECT_EQ(LoadStringA(nullptr, 2, buffer, 6), 4) << "5 bytes of room keep two whole characters";
    EXPECT_EQ(std::string(buffer), std::string("\x83\x7C\x81\x5B"));
    EXPECT_EQ(LoadStringA(nullptr, 2, buffer, 2), 0);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(LoadStringA(nullptr, 1, buffer, 4), 3);
    EXPECT_EQ(std::string(buffer), "Hel");
}

std::string formatA(DWORD flags, const char* text, const DWORD_PTR* args)
{
    char* out = nullptr;
    DWORD length = FormatMessageA(flags | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_STRING, text, 0, 0,
                                  reinterpret_cast<LPSTR>(&out), 0, reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(args)));
    if (!out)
        return "<failed " + std::to_string(GetLastError()) + ">";
    std::string result(out);
    EXPECT_EQ(length, result.size());
    EXPECT_EQ(LocalFree(out), nullptr);
    return result;
}

TEST(MessageFormatting, InsertsFromAnArgumentArrayAsTheServiceFormatsItsTexts)
{
    char text[128];
    ASSERT_GT(LoadStringA(nullptr, 4, text, sizeof text), 0);
    const char* printer = "P1";
    const char* document = "\x95\xB6\x8F\x91"; // "文書" in CP932
    DWORD_PTR args[] = {reinterpret_cast<DWORD_PTR>(printer), reinterpret_cast<DWORD_PTR>(document)};
    EXPECT_EQ(formatA(FORMAT_MESSAGE_ARGUMENT_ARRAY, text, args),
              std::string("\x83\x76\x83\x8A\x83\x93\x83\x5E\x96\xBC\x81\x46P1\n\x95\xB6\x8F\x91\x96\xBC\x81\x46") +
                  document);
}

TEST(MessageFormatting, ConversionsEscapesAndRepeatedInserts)
{
    const char* name = "lp";
    DWORD_PTR args[] = {reinterpret_cast<DWORD_PTR>(name), 42, static_cast<DWORD_PTR>(-7), 0xBEEF};
    const DWORD array = FORMAT_MESSAGE_ARGUMENT_ARRAY;
    EXPECT_EQ(formatA(array, "%2!d! %3!d! %4!04X! %4!x!", args), "42 -7 BEEF beef");
    EXPECT_EQ(formatA(array, "[%1!5s!] %1", args), "[   lp] lp");
    EXPECT_EQ(formatA(array, "a%nb%rc%td%%e%.%!f% g", args), "a\r\nb\rc\td%e.!f g");
    EXPECT_EQ(formatA(array, "kept%0 dropped", args), "kept");
    EXPECT_EQ(formatA(array, "%1!*s!", args), "<failed 87>") << "widths from inserts are refused";
    DWORD_PTR ten[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    EXPECT_EQ(formatA(array, "%10!d!|%1!d!0", ten), "10|10") << "one or two digits name the insert";
    EXPECT_EQ(formatA(array, "%2!f!", args), "<failed 87>");
    EXPECT_EQ(formatA(array, "%2!d", args), "<failed 87>") << "an unterminated conversion";
}

TEST(MessageFormatting, IgnoreInsertsAndMissingArguments)
{
    EXPECT_EQ(formatA(FORMAT_MESSAGE_IGNORE_INSERTS, "%1 and %2!d!%n", nullptr), "%1 and %2!d!\r\n");
    EXPECT_EQ(formatA(0, "%1", nullptr), "<failed 87>");
    EXPECT_EQ(formatA(0, "no inserts", nullptr), "no inserts");
}

DWORD formatW(WCHAR* buffer, DWORD size, LPCWSTR text, ...)
{
    va_list args;
    va_start(args, text);
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_STRING, text, 0, 0, buffer, size, &args);
    va_end(args);
    return length;
}

TEST(MessageFormatting, WideFormFromAVaListIntoTheCallersBuffer)
{
    WCHAR buffer[32];
    EXPECT_EQ(formatW(buffer, 32, W("%2!u!:%1 %3!hs!"), W("名前"), 7u, "n"), 6u);
    EXPECT_EQ(std::u16string(buffer), u"7:名前 n");
    SetLastError(0);
    EXPECT_EQ(formatW(buffer, 6, W("%2!u!:%1 %3!hs!"), W("名前"), 7u, "n"), 0u) << "6 characters need 7";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(formatW(buffer, 7, W("%2!u!:%1 %3!hs!"), W("名前"), 7u, "n"), 6u);
}

TEST(MessageFormatting, AllocatedBufferHonoursTheMinimumAndFailsCleanly)
{
    LPWSTR out = nullptr;
    DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_STRING, W("ab"), 0, 0,
                                  reinterpret_cast<LPWSTR>(&out), 40, nullptr);
    EXPECT_EQ(length, 2u);
    ASSERT_NE(out, nullptr);
    EXPECT_GE(LocalSize(out), 40 * sizeof(WCHAR));
    LocalFree(out);

    palFailAllocations(0, 1);
    out = nullptr;
    EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_STRING, W("ab"), 0, 0,
                             reinterpret_cast<LPWSTR>(&out), 0, nullptr),
              0u);
    palFailAllocations(0, 0);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 5, 0, reinterpret_cast<LPWSTR>(&out), 0, nullptr),
              0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

} // namespace
