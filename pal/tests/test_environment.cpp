#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include <windows.h>

namespace {

TEST(Environment, NamesCompareWithoutRegardToCaseAndValuesRoundTrip)
{
    ASSERT_TRUE(SetEnvironmentVariableW(W("PalTestVar"), u"値 value"));
    EXPECT_STREQ(getenv("PalTestVar"), "\xE5\x80\xA4 value") << "stored as UTF-8 for child processes";
    WCHAR value[32];
    EXPECT_EQ(GetEnvironmentVariableW(W("PALTESTVAR"), value, 32), 7u);
    EXPECT_EQ(std::u16string(value), u"値 value");
    ASSERT_TRUE(SetEnvironmentVariableW(W("paltestvar"), W("second")));
    EXPECT_STREQ(getenv("PalTestVar"), "second") << "the variable keeps the name it was created with";
    EXPECT_EQ(getenv("paltestvar"), nullptr);

    char narrow[32];
    ASSERT_TRUE(SetEnvironmentVariableA("PalTestVar", "\x92\x6C")); // 値 in code page 932
    EXPECT_EQ(GetEnvironmentVariableA("PALTESTVAR", narrow, 32), 2u);
    EXPECT_STREQ(narrow, "\x92\x6C");

    ASSERT_TRUE(SetEnvironmentVariableW(W("PalTestVar"), nullptr));
    EXPECT_EQ(getenv("PalTestVar"), nullptr);
    EXPECT_TRUE(SetEnvironmentVariableW(W("PalTestVar"), nullptr)) << "removing a missing variable";
    EXPECT_FALSE(SetEnvironmentVariableW(W("A=B"), W("x")));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(Environment, ShortBuffersGetTheSizeNeededAndMissingNamesError203)
{
    SetEnvironmentVariableW(W("PalTestSize"), W("12345"));
    WCHAR value[8] = u"#######";
    EXPECT_EQ(GetEnvironmentVariableW(W("PalTestSize"), value, 5), 6u) << "5 characters and the terminator";
    EXPECT_EQ(value[0], u'#');
    EXPECT_EQ(GetEnvironmentVariableW(W("PalTestSize"), nullptr, 0), 6u);
    EXPECT_EQ(GetEnvironmentVariableW(W("PalTestSize"), value, 6), 5u);
    EXPECT_EQ(std::u16string(value), u"12345");

    SetEnvironmentVariableW(W("PalTestEmpty"), W(""));
    SetLastError(5);
    EXPECT_EQ(GetEnvironmentVariableW(W("PalTestEmpty"), value, 8), 0u);
    EXPECT_EQ(GetLastError(), 0u) << "an empty value is no error";
    EXPECT_EQ(GetEnvironmentVariableW(W("PalTestMissing"), value, 8), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND));
    SetEnvironmentVariableW(W("PalTestSize"), nullptr);
    SetEnvironmentVariableW(W("PalTestEmpty"), nullptr);
}

TEST(Environment, ExpandReplacesDefinedNamesAndReturnsTheSizeWithTerminator)
{
    SetEnvironmentVariableW(W("PalRoot"), W("C:\\Root"));
    const WCHAR* source = W("%palroot%\\a;%Undefined%;100%;%%;%PalRoot%");
    const std::u16string expanded = u"C:\\Root\\a;%Undefined%;100%;%%;C:\\Root";
    WCHAR buffer[64];
    EXPECT_EQ(ExpandEnvironmentStringsW(source, buffer, 64), expanded.size() + 1);
    EXPECT_EQ(std::u16string(buffer), expanded);
    EXPECT_EQ(ExpandEnvironmentStringsW(source, nullptr, 0), expanded.size() + 1);
    buffer[0] = u'#';
    EXPECT_EQ(ExpandEnvironmentStringsW(source, buffer, 10), expanded.size() + 1);
    EXPECT_EQ(buffer[0], u'#') << "nothing is copied into a short buffer";
    EXPECT_EQ(ExpandEnvironmentStringsW(W("%Undefined%PalRoot%"), buffer, 64), 18u);
    EXPECT_EQ(std::u16string(buffer), u"%UndefinedC:\\Root") << "the closing % of an unknown name may open the next";

    char narrow[64];
    EXPECT_EQ(ExpandEnvironmentStringsA("[%PALROOT%]", narrow, 64), 10u);
    EXPECT_STREQ(narrow, "[C:\\Root]");
    SetEnvironmentVariableW(W("PalRoot"), nullptr);
}

} // namespace
