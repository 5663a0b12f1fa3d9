// The Windows modules carry the resources windres compiled from their scripts: string tables in
// Japanese (language 1041) and the UI's two dialog templates, found as Windows finds them.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace {

class ModuleResources : public ::testing::Test {
protected:
    HMODULE Load(const wchar_t* name)
    {
        HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_AS_DATAFILE);
        EXPECT_NE(module, nullptr) << "error " << GetLastError();
        if (module != nullptr)
            loaded_.push_back(module);
        return module;
    }
    void TearDown() override
    {
        for (HMODULE module : loaded_)
            FreeLibrary(module);
    }

    static std::wstring Text(HMODULE module, UINT id)
    {
        wchar_t text[1024] = {};
        const int length = LoadStringW(module, id, text, 1024);
        return std::wstring(text, length > 0 ? length : 0);
    }

    // The string table block of id (16 strings each) in language 1041.
    static bool JapaneseBlock(HMODULE module, UINT id)
    {
        return FindResourceExW(module, MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(id / 16 + 1),
                               MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT)) != nullptr;
    }

private:
    std::vector<HMODULE> loaded_;
};

TEST_F(ModuleResources, TheUiHasItsStringsAndBothDialogs)
{
    HMODULE ui = Load(L"JTRKMNUI2.dll");
    ASSERT_NE(ui, nullptr);
    EXPECT_EQ(Text(ui, 4), L"指定された名称のポートが既に存在します。");
    EXPECT_EQ(Text(ui, 12), L"") << "no string 12";
    EXPECT_EQ(Text(ui, 244), L"リトライ間隔の指定が不正です。\r\nリトライ間隔は2～60の範囲で指定してください。");
    EXPECT_EQ(Text(ui, 212), L"ポート名に不正な文字が含まれています。\r\nポート名に'\\'を含めることはできません。");
    EXPECT_TRUE(JapaneseBlock(ui, 4));
    for (UINT dialog : {108u, 110u})
        EXPECT_NE(FindResourceExW(ui, MAKEINTRESOURCEW(5), MAKEINTRESOURCEW(dialog),
                                  MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT)),
                  nullptr)
            << "dialog " << dialog;
}

TEST_F(ModuleResources, TheServiceAndTheInstallerHaveTheirStrings)
{
    HMODULE service = Load(L"JTRKSVC2.exe");
    HMODULE installer = Load(L"JTRKUtil.dll");
    ASSERT_NE(service, nullptr);
    ASSERT_NE(installer, nullptr);
    EXPECT_EQ(Text(service, 115), L"DMLLIB_CheckDevice");
    EXPECT_EQ(Text(service, 217), L"プリンタがウォームアップ中です。\nしばらくお待ちください。\n\nプリンタ名：%1\n文書名：%2\nユーザ名：%3");
    EXPECT_TRUE(JapaneseBlock(service, 217));
    EXPECT_EQ(Text(installer, 105), L"エラー");
    EXPECT_TRUE(JapaneseBlock(installer, 105));
}

} // namespace
