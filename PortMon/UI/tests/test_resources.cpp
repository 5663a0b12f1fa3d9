// The UI's string table, message boxes and dialog templates, audited against the texts, captions,
// icons and controls the dialogs are specified with (transcribed here independently).
#include <gtest/gtest.h>

#include <string>

#include "jtrkmnui.h"
#include "resource.h"

namespace {

struct Message {
    UINT id;
    const char16_t* caption;
    UINT icon;
    const char16_t* text;
};

const char16_t kAdd[] = u"ポートの追加";
const char16_t kConfigure[] = u"ポートの構成";
const char16_t kDelete[] = u"ポートの削除";

const Message kMessages[] = {
    {200, kAdd, MB_ICONWARNING, u"IPアドレスが入力されていません。"},
    {201, kAdd, MB_ICONWARNING, u"指定されたIPアドレスが長すぎます。\r\nIPアドレスは15文字以内で指定してください。"},
    {202, kAdd, MB_ICONWARNING, u"IPアドレスに不正な文字が含まれています。\r\nIPアドレスとして認識できません。"},
    {210, kAdd, MB_ICONWARNING, u"ポート名が入力されていません。"},
    {211, kAdd, MB_ICONWARNING, u"指定されたポートの名称が長すぎます。\r\nポートの名称は63文字以内で指定してください。"},
    {212, kAdd, MB_ICONWARNING, u"ポート名に不正な文字が含まれています。\r\nポート名に'\\'を含めることはできません。"},
    {213, kAdd, MB_ICONWARNING, u"指定された名称のポートが既に存在します。"},
    {220, kAdd, MB_ICONWARNING, u"キュー名が入力されていません。"},
    {221, kAdd, MB_ICONWARNING, u"指定されたキュー名が長すぎます。\r\nキュー名は32文字以内で指定してください。"},
    {230, kConfigure, MB_ICONWARNING, u"ポート番号が入力されていません。"},
    {232, kConfigure, MB_ICONWARNING, u"ポート番号に不正な文字が含まれています。\r\nポート番号は数値で指定してください。"},
    {240, kConfigure, MB_ICONWARNING, u"リトライ間隔が入力されていません。"},
    {242, kConfigure, MB_ICONWARNING, u"リトライ間隔に不正な文字が含まれています。\r\nリトライ間隔は数値で指定してください。"},
    {244, kConfigure, MB_ICONWARNING, u"リトライ間隔の指定が不正です。\r\nリトライ間隔は2～60の範囲で指定してください。"},
    {250, kConfigure, MB_ICONWARNING, u"リトライ回数が入力されていません。"},
    {252, kConfigure, MB_ICONWARNING, u"リトライ回数に不正な文字が含まれています。\r\nリトライ回数は数値で指定してください。"},
    {254, kConfigure, MB_ICONWARNING, u"リトライ回数の指定が不正です。\r\nリトライ回数は0～10の範囲で指定してください。"},
    {300, kAdd, MB_ICONERROR, u"ポートの追加に失敗しました。"},
    {301, kAdd, MB_ICONERROR, u"ポートの追加に失敗しました。\r\nポート追加の権限がありません。"},
    {310, kConfigure, MB_ICONERROR, u"ポート情報の取得に失敗しました。"},
    {320, kConfigure, MB_ICONERROR, u"ポートの更新に失敗しました。\r\nポート更新の権限がありません。"},
    {321, kConfigure, MB_ICONERROR, u"ポートの更新に失敗しました。\r\n指定されたポートは使用中のため、更新できません。"},
    {322, kConfigure, MB_ICONERROR, u"ポートの更新に失敗しました。\r\n指定された名称のポートが存在しません。"},
    {329, kConfigure, MB_ICONERROR, u"ポートの更新に失敗しました。"},
    {330, kDelete, MB_ICONERROR, u"ポートの削除に失敗しました。\r\nポート削除の権限がありません。"},
    {331, kDelete, MB_ICONERROR, u"ポートの削除に失敗しました。\r\n指定されたポートは使用中のため、削除できません。"},
    {339, kDelete, MB_ICONERROR, u"ポートの削除に失敗しました。"},
    {4, kAdd, MB_ICONWARNING, u"指定された名称のポートが既に存在します。"},
    {10, kAdd, MB_ICONWARNING, u"指定されたポートの名称が長すぎます。\r\nポートの名称は63文字以内で指定してください。"},
    {11, kAdd, MB_ICONWARNING, u"ポート名が入力されていません。"},
    {13, kAdd, MB_ICONWARNING, u"ポート名に不正な文字が含まれています。\r\nポート名に'\\'を含めることはできません。"},
    {14, kAdd, MB_ICONERROR, u"ポートの追加に失敗しました。"},
    {17, kConfigure, MB_ICONERROR, u"ポートの構成はサポートされていません。"},
    {18, kDelete, MB_ICONWARNING, u"指定されたポートは使用中のため、削除できません。"},
    {19, kDelete, MB_ICONERROR, u"ポートの削除に失敗しました。"},
};

TEST(UiResources, EveryMessageHasItsTextCaptionAndIcon)
{
    palClearMessageBoxes();
    for (const Message& message : kMessages)
        MonUiMessageBox(GetDesktopWindow(), message.id);
    ASSERT_EQ(palMessageBoxCount(), std::size(kMessages));
    for (UINT i = 0; i < std::size(kMessages); ++i) {
        PAL_MESSAGE_BOX_RECORD box{};
        ASSERT_TRUE(palMessageBoxRecord(i, &box));
        EXPECT_EQ(std::u16string(box.text), kMessages[i].text) << kMessages[i].id;
        EXPECT_EQ(std::u16string(box.caption), kMessages[i].caption) << kMessages[i].id;
        EXPECT_EQ(box.type, MB_OK | kMessages[i].icon) << kMessages[i].id;
        EXPECT_EQ(box.parent, GetDesktopWindow());
    }
}

TEST(UiResources, OtherIdsAndNoWindowShowNothing)
{
    palClearMessageBoxes();
    for (UINT id : {0u, 1u, 2u, 5u, 12u, 20u, 203u, 394u, 999u})
        MonUiMessageBox(GetDesktopWindow(), id);
    MonUiMessageBox(nullptr, 200);
    EXPECT_EQ(palMessageBoxCount(), 0u);
    WCHAR text[64];
    EXPECT_GT(LoadStringW(UiModule(), 1, text, 64), 0);
    EXPECT_EQ(std::u16string(text), u"Vexil Multi Port Monitor2");
    EXPECT_GT(LoadStringW(UiModule(), 5, text, 64), 0);
    EXPECT_EQ(std::u16string(text), u"TALLY-DESK Output Beacon Port2");
    for (UINT id : {2u, 3u, 6u, 7u, 8u, 9u, 12u, 15u, 16u, 394u})
        EXPECT_EQ(LoadStringW(UiModule(), id, text, 64), 0) << id << " is not carried";
}

struct Control {
    const char16_t* className;
    int id;
    const char16_t* text; // nullptr: not checked
};

void expectDialog(UINT id, const char16_t* title, std::initializer_list<Control> controls)
{
    const PAL_RESOURCES* resources = palModuleResources(UiModule());
    ASSERT_NE(resources, nullptr);
    EXPECT_EQ(resources->language, LANG_JAPANESE_JAPAN);
    const PAL_DIALOG_TEMPLATE* dialog = nullptr;
    for (UINT i = 0; i < resources->dialogCount; ++i)
        if (resources->dialogs[i].id == id)
            dialog = &resources->dialogs[i];
    ASSERT_NE(dialog, nullptr) << id;
    EXPECT_EQ(std::u16string(dialog->title), title);
    for (const Control& control : controls) {
        bool found = false;
        for (UINT i = 0; i < dialog->itemCount; ++i) {
            const PAL_DIALOG_ITEM& item = dialog->items[i];
            if (item.id != control.id || std::u16string(item.className) != control.className)
                continue;
            found = found || !control.text || std::u16string(item.text) == control.text;
        }
        EXPECT_TRUE(found) << "dialog " << id << " control " << control.id;
    }
}

TEST(UiResources, DialogTemplates)
{
    expectDialog(IDD_ADDPORT, u"ポートの追加",
                 {{u"COMBOBOX", 1031, nullptr},
                  {u"EDIT", 1033, nullptr},
                  {u"EDIT", 1040, nullptr},
                  {u"STATIC", 1035, u"LPRキュー名(&L) :"},
                  {u"EDIT", 1036, nullptr},
                  {u"BUTTON", 1042, u"ポートの構成"},
                  {u"BUTTON", IDOK, u"OK"},
                  {u"BUTTON", IDCANCEL, u"キャンセル"},
                  {u"STATIC", -1, u"プロトコル(&P) :"},
                  {u"STATIC", -1, u"IPアドレス(&I) :"},
                  {u"STATIC", -1, u"ポート名(&N) :"}});
    expectDialog(IDD_CONFIGPORT, u"ポートの構成",
                 {{u"STATIC", 1039, u"ポート番号(&P)："},
                  {u"EDIT", 1040, nullptr},
                  {u"BUTTON", 1044, u" LPRバイトカウントを有効にする(&L)"},
                  {u"BUTTON", 1045, u" エラー発生時はジョブが終了するまでリトライを続ける(&U)"},
                  {u"EDIT", 1048, nullptr},
                  {u"msctls_updown32", 1052, nullptr},
                  {u"EDIT", 1049, nullptr},
                  {u"msctls_updown32", 1053, nullptr},
                  {u"STATIC", -1, u"リトライ間隔(&I)："},
                  {u"STATIC", -1, u"秒（2～60）"},
                  {u"STATIC", -1, u"リトライ回数(&M)："},
                  {u"STATIC", -1, u"回（0～10）"},
                  {u"BUTTON", IDOK, u"OK"},
                  {u"BUTTON", IDCANCEL, u"キャンセル"}});
}

TEST(UiResources, MonitorUiTable)
{
    PMONITORUI table = InitializePrintMonitorUI();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->dwMonitorUISize, 32u);
    EXPECT_NE(table->pfnAddPortUI, nullptr);
    EXPECT_NE(table->pfnConfigurePortUI, nullptr);
    EXPECT_NE(table->pfnDeletePortUI, nullptr);
}

} // namespace
