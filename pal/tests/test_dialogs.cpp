#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <windows.h>

// The dialogs of these tests, carried by the test program itself.
static const PAL_DIALOG_ITEM formItems[] = {
    {W("STATIC"), W("Name :"), -1, WS_VISIBLE},
    {W("EDIT"), W(""), 10, WS_VISIBLE | WS_TABSTOP},
    {W("STATIC"), W("Kind :"), -1, WS_VISIBLE},
    {W("COMBOBOX"), W(""), 11, WS_VISIBLE | CBS_DROPDOWNLIST},
    {W("BUTTON"), W(" Again"), 12, WS_VISIBLE | BS_AUTOCHECKBOX},
    {W("EDIT"), W(""), 13, WS_VISIBLE},
    {W("msctls_updown32"), W(""), 14, WS_VISIBLE | UDS_AUTOBUDDY | UDS_SETBUDDYINT},
    {W("EDIT"), W("hidden"), 15, 0},
    {W("BUTTON"), W("More"), 16, WS_VISIBLE},
    {W("BUTTON"), W("OK"), IDOK, WS_VISIBLE | BS_DEFPUSHBUTTON},
    {W("BUTTON"), W("Cancel"), IDCANCEL, WS_VISIBLE},
};
static const PAL_DIALOG_ITEM innerItems[] = {
    {W("EDIT"), W(""), 20, WS_VISIBLE},
    {W("BUTTON"), W("OK"), IDOK, WS_VISIBLE},
};
static const PAL_DIALOG_TEMPLATE testDialogs[] = {
    {50, W("Form"), formItems, PAL_COUNT(formItems)},
    {51, W("Inner"), innerItems, PAL_COUNT(innerItems)},
};
static const PAL_STRING_RESOURCE testStrings[] = {{1, W("unused")}};
PAL_DECLARE_RESOURCES(LANG_JAPANESE_JAPAN, testStrings, testDialogs);

namespace {

struct Session {
    std::vector<std::string> events; // "INIT", "10:EN_UPDATE", ...
    HWND dialog = nullptr;
    INT_PTR innerResult = 0;
    std::u16string innerText;
    bool endOnCancel = true;
};

Session* g_session = nullptr;

std::string codeName(WORD code, int id)
{
    if (id == 10 || id == 13 || id == 20)
        return code == EN_UPDATE ? "EN_UPDATE" : code == EN_CHANGE ? "EN_CHANGE" : std::to_string(code);
    if (id == 11)
        return code == CBN_SELCHANGE ? "CBN_SELCHANGE" : std::to_string(code);
    return code == BN_CLICKED ? "BN_CLICKED" : std::to_string(code);
}

INT_PTR CALLBACK innerProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
        WCHAR text[32];
        GetDlgItemTextW(dialog, 20, text, 32);
        g_session->innerText = text;
        EndDialog(dialog, 77);
    } else if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
    }
    return TRUE;
}

INT_PTR CALLBACK formProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    Session& session = *g_session;
    if (message == WM_INITDIALOG) {
        session.dialog = dialog;
        session.events.push_back("INIT " + std::to_string(lParam));
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        SendDlgItemMessageW(dialog, 11, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W("RAW")));
        SendDlgItemMessageW(dialog, 11, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W("LPR")));
        SendDlgItemMessageW(dialog, 11, CB_SETCURSEL, 1, 0);
        SendDlgItemMessageW(dialog, 10, EM_LIMITTEXT, 5, 0);
        SendDlgItemMessageW(dialog, 13, EM_LIMITTEXT, 2, 0);
        SendDlgItemMessageW(dialog, 14, UDM_SETRANGE32, 2, 60);
        SendDlgItemMessageW(dialog, 14, UDM_SETPOS32, 0, 5);
        return TRUE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    int id = LOWORD(wParam);
    session.events.push_back(std::to_string(id) + ":" + codeName(HIWORD(wParam), id));
    if (id == 16) {
        session.innerResult = DialogBoxParamW(nullptr, MAKEINTRESOURCEW(51), dialog, innerProc, 0);
    } else if (id == IDOK) {
        EndDialog(dialog, 1000 + GetWindowLongPtrW(dialog, DWLP_USER));
    } else if (id == IDCANCEL && session.endOnCancel) {
        EndDialog(dialog, IDCANCEL);
    }
    return TRUE;
}

class Dialogs : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_session = &session;
        palSetDialogTerminal(FALSE);
        palClearMessageBoxes();
    }
    void TearDown() override
    {
        palSetDialogScript(nullptr);
        palSetDialogStepper(nullptr, nullptr);
        g_session = nullptr;
    }
    INT_PTR run(const char* script, LPARAM param = 0)
    {
        palSetDialogScript(script);
        return DialogBoxParamW(nullptr, MAKEINTRESOURCEW(50), nullptr, formProc, param);
    }
    std::vector<std::string> eventsAfterInit() const
    {
        return std::vector<std::string>(session.events.begin() + 1, session.events.end());
    }
    Session session;
};

using Events = std::vector<std::string>;

TEST_F(Dialogs, OkEndsWithTheProceduresValueAndInitSeesTheParameter)
{
    EXPECT_EQ(run("ok\n", 5), 1005);
    ASSERT_FALSE(session.events.empty());
    EXPECT_EQ(session.events[0], "INIT 5");
    EXPECT_FALSE(IsWindow(session.dialog)) << "the dialog is gone once it returned";
}

TEST_F(Dialogs, ProgrammaticTextNotifiesAndIgnoresTheTypingLimit)
{
    auto stepper = [](HWND dialog, UINT, int, void*) -> BOOL {
        g_session->events.push_back("--");
        SetDlgItemTextW(dialog, 10, W("longer than five"));
        WCHAR text[64];
        GetDlgItemTextW(dialog, 10, text, 64);
        g_session->events.push_back(std::string(text[15] == u'e' ? "kept" : "cut"));
        EndDialog(dialog, 3);
        return TRUE;
    };
    palSetDialogStepper(stepper, nullptr);
    EXPECT_EQ(DialogBoxParamW(nullptr, MAKEINTRESOURCEW(50), nullptr, formProc, 0), 3);
    // The up-down's position set in WM_INITDIALOG wrote its buddy: one pair for edit 13.
    EXPECT_EQ(eventsAfterInit(), (Events{"13:EN_UPDATE", "13:EN_CHANGE", "--", "10:EN_UPDATE", "10:EN_CHANGE", "kept"}));
}

TEST_F(Dialogs, TypingIsCutAtTheLimitWithOneNotificationPair)
{
    auto stepper = [](HWND dialog, UINT, int, void*) -> BOOL {
        g_session->events.push_back("--");
        EXPECT_TRUE(palDialogCommand(dialog, "type 10 abcdefgh"));
        WCHAR text[16];
        EXPECT_EQ(GetDlgItemTextW(dialog, 10, text, 16), 5u);
        EXPECT_EQ(std::u16string(text), u"abcde");
        EXPECT_EQ(GetDlgItemTextW(dialog, 10, text, 3), 2u) << "cut to the buffer";
        EXPECT_TRUE(palDialogCommand(dialog, "type 10"));
        EXPECT_EQ(SendDlgItemMessageW(dialog, 10, WM_GETTEXTLENGTH, 0, 0), 0);
        EndDialog(dialog, 1);
        return TRUE;
    };
    palSetDialogStepper(stepper, nullptr);
    DialogBoxParamW(nullptr, MAKEINTRESOURCEW(50), nullptr, formProc, 0);
    EXPECT_EQ(eventsAfterInit(),
              (Events{"13:EN_UPDATE", "13:EN_CHANGE", "--", "10:EN_UPDATE", "10:EN_CHANGE", "10:EN_UPDATE", "10:EN_CHANGE"}));
}

TEST_F(Dialogs, ComboNotifiesOnlyTheUsersChoice)
{
    auto stepper = [](HWND dialog, UINT, int, void*) -> BOOL {
        g_session->events.push_back("--");
        EXPECT_EQ(SendDlgItemMessageW(dialog, 11, CB_GETCURSEL, 0, 0), 1);
        EXPECT_EQ(SendDlgItemMessageW(dialog, 11, CB_SETCURSEL, 0, 0), 0);
        EXPECT_EQ(SendDlgItemMessageW(dialog, 11, CB_SETCURSEL, 7, 0), CB_ERR);
        EXPECT_EQ(SendDlgItemMessageW(dialog, 11, CB_GETCURSEL, 0, 0), CB_ERR) << "a bad index clears the choice";
        EXPECT_TRUE(palDialogCommand(dialog, "select 11 1"));
        EXPECT_FALSE(palDialogCommand(dialog, "select 11 2"));
        WCHAR text[8];
        GetDlgItemTextW(dialog, 11, text, 8);
        EXPECT_EQ(std::u16string(text), u"LPR");
        EndDialog(dialog, 1);
        return TRUE;
    };
    palSetDialogStepper(stepper, nullptr);
    DialogBoxParamW(nullptr, MAKEINTRESOURCEW(50), nullptr, formProc, 0);
    EXPECT_EQ(eventsAfterInit(), (Events{"13:EN_UPDATE", "13:EN_CHANGE", "--", "11:CBN_SELCHANGE"}));
}

TEST_F(Dialogs, CheckBoxesAndButtons)
{
    EXPECT_EQ(run("check 12\ncheck 12\nuncheck 12\nclick 12\nok\n"), 1000);
    EXPECT_EQ(eventsAfterInit(), (Events{"13:EN_UPDATE", "13:EN_CHANGE", "12:BN_CLICKED", "12:BN_CLICKED", "12:BN_CLICKED",
                                         "1:BN_CLICKED"}))
        << "check on a ticked box changes nothing and sends nothing";
}

TEST_F(Dialogs, UpDownRangeBuddyTextAndErrorFlag)
{
    auto stepper = [](HWND dialog, UINT, int, void*) -> BOOL {
        WCHAR text[8];
        GetDlgItemTextW(dialog, 13, text, 8);
        EXPECT_EQ(std::u16string(text), u"5") << "UDM_SETPOS32 writes the buddy";
        BOOL error = TRUE;
        EXPECT_EQ(SendDlgItemMessageW(dialog, 14, UDM_GETPOS32, 0, reinterpret_cast<LPARAM>(&error)), 5);
        EXPECT_FALSE(error);
        SendDlgItemMessageW(dialog, 14, UDM_SETPOS32, 0, 99);
        GetDlgItemTextW(dialog, 13, text, 8);
        EXPECT_EQ(std::u16string(text), u"60") << "clamped to the range";
        palDialogCommand(dialog, "type 13 7");
        EXPECT_EQ(SendDlgItemMessageW(dialog, 14, UDM_GETPOS32, 0, reinterpret_cast<LPARAM>(&error)), 7);
        EXPECT_FALSE(error);
        palDialogCommand(dialog, "type 13 70");
        EXPECT_EQ(SendDlgItemMessageW(dialog, 14, UDM_GETPOS32, 0, reinterpret_cast<LPARAM>(&error)), 7)
            << "out of range: the last valid position";
        EXPECT_TRUE(error);
        palDialogCommand(dialog, "type 13 x1");
        EXPECT_EQ(SendDlgItemMessageW(dialog, 14, UDM_GETPOS32, 0, reinterpret_cast<LPARAM>(&error)), 7);
        EXPECT_TRUE(error);
        palDialogCommand(dialog, "type 13 1");
        EXPECT_EQ(SendDlgItemMessageW(dialog, 14, UDM_GETPOS32, 0, reinterpret_cast<LPARAM>(&error)), 7);
        EXPECT_TRUE(error) << "below the range";
        EndDialog(dialog, 1);
        return TRUE;
    };
    palSetDialogStepper(stepper, nullptr);
    EXPECT_EQ(DialogBoxParamW(nullptr, MAKEINTRESOURCEW(50), nullptr, formProc, 0), 1);
}

TEST_F(Dialogs, GetDlgItemIntTranslatesOnlyWholeNumbers)
{
    auto stepper = [](HWND dialog, UINT, int, void*) -> BOOL {
        struct Case {
            const char16_t* text;
            BOOL isSigned;
            BOOL translated;
            UINT value;
        } cases[] = {{u"9100", FALSE, TRUE, 9100}, {u"  42", FALSE, TRUE, 42},     {u"", FALSE, FALSE, 0},
                     {u"12a", FALSE, FALSE, 0},    {u"-5", FALSE, FALSE, 0},      {u"-5", TRUE, TRUE, UINT(-5)},
                     {u"4294967295", FALSE, TRUE, 4294967295u}, {u"4294967296", FALSE, FALSE, 0},
                     {u"65536", FALSE, TRUE, 65536}};
        for (const Case& c : cases) {
            SetDlgItemTextW(dialog, 10, c.text);
            BOOL translated = 2;
            EXPECT_EQ(GetDlgItemInt(dialog, 10, &translated, c.isSigned), c.value);
            EXPECT_EQ(translated, c.translated);
        }
        EndDialog(dialog, 1);
        return TRUE;
    };
    palSetDialogStepper(stepper, nullptr);
    DialogBoxParamW(nullptr, MAKEINTRESOURCEW(50), nullptr, formProc, 0);
}

TEST_F(Dialogs, NestedDialogTakesTheFollowingLines)
{
    EXPECT_EQ(run("type 10 outer\nclick 16\ntype 20 inner\nok\nok\n"), 1000);
    EXPECT_EQ(session.innerResult, 77);
    EXPECT_EQ(session.innerText, u"inner");
}

TEST_F(Dialogs, ScriptEndingMidDialogCancelsEveryOpenDialog)
{
    EXPECT_EQ(run("click 16\ntype 20 x\n"), IDCANCEL);
    EXPECT_EQ(session.innerResult, IDCANCEL);
    EXPECT_EQ(session.events.back(), "2:BN_CLICKED") << "the procedure sees IDCANCEL";

    session = Session{};
    session.endOnCancel = false;
    EXPECT_EQ(run("# nothing but a comment\n\n"), IDCANCEL) << "a procedure that ignores IDCANCEL is ended anyway";
}

TEST_F(Dialogs, RefusedScriptLineStopsTheScript)
{
    EXPECT_EQ(run("type 15 hidden edit\nok\n"), IDCANCEL) << "hidden controls take no input";
    session = Session{};
    EXPECT_EQ(DialogBoxParamW(nullptr, MAKEINTRESOURCEW(50), nullptr, formProc, 0), IDCANCEL)
        << "the rest of a stopped script is not run";
    session = Session{};
    EXPECT_EQ(run("frobnicate\nok\n"), IDCANCEL);
    session = Session{};
    EXPECT_EQ(run("type 12 text\nok\n"), IDCANCEL) << "a check box is not an edit";
}

TEST_F(Dialogs, DisabledAndHiddenControls)
{
    auto stepper = [](HWND dialog, UINT, int, void*) -> BOOL {
        HWND edit = GetDlgItem(dialog, 10);
        EXPECT_FALSE(EnableWindow(edit, FALSE)) << "was enabled";
        EXPECT_FALSE(palDialogCommand(dialog, "type 10 x"));
        EXPECT_TRUE(EnableWindow(edit, TRUE));
        EXPECT_TRUE(ShowWindow(edit, SW_HIDE));
        EXPECT_FALSE(IsWindowVisible(edit));
        EXPECT_FALSE(palDialogCommand(dialog, "type 10 x"));
        EXPECT_FALSE(ShowWindow(edit, SW_SHOW));
        EXPECT_TRUE(palDialogCommand(dialog, "type 10 x"));
        EXPECT_EQ(GetDlgItem(dialog, 999), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CONTROL_ID_NOT_FOUND));
        EndDialog(dialog, 1);
        return TRUE;
    };
    palSetDialogStepper(stepper, nullptr);
    DialogBoxParamW(nullptr, MAKEINTRESOURCEW(50), nullptr, formProc, 0);
}

TEST_F(Dialogs, ParentTemplateAndInputFailures)
{
    palSetDialogScript("ok\n");
    int notAWindow = 0;
    SetLastError(0);
    EXPECT_EQ(DialogBoxParamW(nullptr, MAKEINTRESOURCEW(50), &notAWindow, formProc, 0), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_EQ(DialogBoxParamW(nullptr, MAKEINTRESOURCEW(99), nullptr, formProc, 0), -1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_EQ(DialogBoxParamW(nullptr, MAKEINTRESOURCEW(50), GetDesktopWindow(), formProc, 0), 1000)
        << "the desktop is a valid parent";
    palSetDialogScript(nullptr);
    size_t events = session.events.size();
    EXPECT_EQ(DialogBoxParamW(nullptr, MAKEINTRESOURCEW(50), nullptr, formProc, 0), -1)
        << "no stepper, no script, no terminal";
    EXPECT_EQ(session.events.size(), events) << "the failed call never made a dialog";
    EXPECT_FALSE(EndDialog(&notAWindow, 1));
    EXPECT_FALSE(IsWindow(&notAWindow));
    EXPECT_TRUE(IsWindow(GetDesktopWindow()));
}

TEST_F(Dialogs, MessageBoxesAreRecordedAndAnsweredByTheScript)
{
    palSetDialogScript("answer no\n");
    auto stepper = [](HWND dialog, UINT, int, void*) -> BOOL {
        EXPECT_TRUE(palDialogCommand(nullptr, "answer no"));
        EXPECT_EQ(MessageBoxW(dialog, W("続けますか？"), W("確認"), MB_YESNO | MB_ICONWARNING), IDNO);
        EXPECT_EQ(MessageBoxW(dialog, W("次"), W("確認"), MB_YESNO), IDYES) << "an answer is used once";
        EXPECT_TRUE(palDialogCommand(nullptr, "answer cancel"));
        EXPECT_EQ(MessageBoxW(nullptr, W("エラー"), W("失敗"), MB_OK | MB_ICONERROR), IDOK)
            << "an answer the box does not offer gives its default";
        EndDialog(dialog, 1);
        return TRUE;
    };
    palSetDialogStepper(stepper, nullptr);
    DialogBoxParamW(nullptr, MAKEINTRESOURCEW(50), nullptr, formProc, 0);
    ASSERT_EQ(palMessageBoxCount(), 3u);
    PAL_MESSAGE_BOX_RECORD box{};
    ASSERT_TRUE(palMessageBoxRecord(0, &box));
    EXPECT_EQ(box.parent, session.dialog);
    EXPECT_EQ(std::u16string(box.caption), u"確認");
    EXPECT_EQ(std::u16string(box.text), u"続けますか？");
    EXPECT_EQ(box.type, MB_YESNO | MB_ICONWARNING);
    EXPECT_EQ(box.answer, IDNO);
    ASSERT_TRUE(palMessageBoxRecord(2, &box));
    EXPECT_EQ(box.parent, nullptr);
    EXPECT_EQ(box.type, MB_OK | MB_ICONERROR);
    EXPECT_FALSE(palMessageBoxRecord(3, &box));
    int notAWindow = 0;
    EXPECT_EQ(MessageBoxW(&notAWindow, W("x"), W("y"), MB_OK), 0);
    EXPECT_EQ(palMessageBoxCount(), 3u);
}

TEST_F(Dialogs, WindowLongsOfADialog)
{
    auto stepper = [](HWND dialog, UINT, int, void*) -> BOOL {
        EXPECT_EQ(GetWindowLongPtrW(dialog, DWLP_USER), 9);
        EXPECT_EQ(SetWindowLongPtrW(dialog, DWLP_USER, 11), 9);
        EXPECT_EQ(GetWindowLongPtrW(dialog, DWLP_USER), 11);
        EXPECT_EQ(GetWindowLongPtrW(GetDlgItem(dialog, 10), GWLP_ID), 10);
        EXPECT_EQ(GetDlgCtrlID(GetDlgItem(dialog, 14)), 14);
        EndDialog(dialog, 2);
        return TRUE;
    };
    palSetDialogStepper(stepper, nullptr);
    EXPECT_EQ(DialogBoxParamW(nullptr, MAKEINTRESOURCEW(50), nullptr, formProc, 9), 2);
}

} // namespace
