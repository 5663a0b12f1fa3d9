// The string table and the two dialog templates of JTRKMNUI2 (Japanese, language 1041).
#include <windows.h>

#include "resource.h"

static const PAL_STRING_RESOURCE g_Strings[] = {
    {IDS_PRODUCT, W("Vexil Multi Port Monitor2")},
    {IDS_OLD_PORTEXISTS, W("指定された名称のポートが既に存在します。")},
    {IDS_PORT_TYPE, W("TALLY-DESK Output Beacon Port2")},
    {IDS_OLD_NAMETOOLONG, W("指定されたポートの名称が長すぎます。\r\nポートの名称は63文字以内で指定してください。")},
    {IDS_OLD_NONAME, W("ポート名が入力されていません。")},
    {IDS_OLD_BADNAME, W("ポート名に不正な文字が含まれています。\r\nポート名に'\\'を含めることはできません。")},
    {IDS_OLD_ADDFAILED, W("ポートの追加に失敗しました。")},
    {IDS_OLD_NOCONFIGURE, W("ポートの構成はサポートされていません。")},
    {IDS_OLD_PORTINUSE, W("指定されたポートは使用中のため、削除できません。")},
    {IDS_OLD_DELETEFAILED, W("ポートの削除に失敗しました。")},
    {IDS_CAPTION_ADD, W("ポートの追加")},
    {IDS_CAPTION_CONFIGURE, W("ポートの構成")},
    {IDS_CAPTION_DELETE, W("ポートの削除")},
    {IDS_NO_ADDRESS, W("IPアドレスが入力されていません。")},
    {IDS_ADDRESS_TOO_LONG, W("指定されたIPアドレスが長すぎます。\r\nIPアドレスは15文字以内で指定してください。")},
    {IDS_BAD_ADDRESS, W("IPアドレスに不正な文字が含まれています。\r\nIPアドレスとして認識できません。")},
    {IDS_NO_PORTNAME, W("ポート名が入力されていません。")},
    {IDS_PORTNAME_TOO_LONG, W("指定されたポートの名称が長すぎます。\r\nポートの名称は63文字以内で指定してください。")},
    {IDS_BAD_PORTNAME, W("ポート名に不正な文字が含まれています。\r\nポート名に'\\'を含めることはできません。")},
    {IDS_PORT_EXISTS, W("指定された名称のポートが既に存在します。")},
    {IDS_NO_QUEUE, W("キュー名が入力されていません。")},
    {IDS_QUEUE_TOO_LONG, W("指定されたキュー名が長すぎます。\r\nキュー名は32文字以内で指定してください。")},
    {IDS_NO_PORTNUMBER, W("ポート番号が入力されていません。")},
    {IDS_BAD_PORTNUMBER, W("ポート番号に不正な文字が含まれています。\r\nポート番号は数値で指定してください。")},
    {IDS_NO_RETRYINTERVAL, W("リトライ間隔が入力されていません。")},
    {IDS_BAD_RETRYINTERVAL, W("リトライ間隔に不正な文字が含まれています。\r\nリトライ間隔は数値で指定してください。")},
    {IDS_RETRYINTERVAL_RANGE, W("リトライ間隔の指定が不正です。\r\nリトライ間隔は2～60の範囲で指定してください。")},
    {IDS_NO_RETRYCOUNT, W("リトライ回数が入力されていません。")},
    {IDS_BAD_RETRYCOUNT, W("リトライ回数に不正な文字が含まれています。\r\nリトライ回数は数値で指定してください。")},
    {IDS_RETRYCOUNT_RANGE, W("リトライ回数の指定が不正です。\r\nリトライ回数は0～10の範囲で指定してください。")},
    {IDS_ADD_FAILED, W("ポートの追加に失敗しました。")},
    {IDS_ADD_DENIED, W("ポートの追加に失敗しました。\r\nポート追加の権限がありません。")},
    {IDS_GETCONFIG_FAILED, W("ポート情報の取得に失敗しました。")},
    {IDS_CONFIG_DENIED, W("ポートの更新に失敗しました。\r\nポート更新の権限がありません。")},
    {IDS_CONFIG_BUSY, W("ポートの更新に失敗しました。\r\n指定されたポートは使用中のため、更新できません。")},
    {IDS_CONFIG_NOPORT, W("ポートの更新に失敗しました。\r\n指定された名称のポートが存在しません。")},
    {IDS_CONFIG_FAILED, W("ポートの更新に失敗しました。")},
    {IDS_DELETE_DENIED, W("ポートの削除に失敗しました。\r\nポート削除の権限がありません。")},
    {IDS_DELETE_BUSY, W("ポートの削除に失敗しました。\r\n指定されたポートは使用中のため、削除できません。")},
    {IDS_DELETE_FAILED, W("ポートの削除に失敗しました。")},
};

#define UPDOWN_STYLE (WS_VISIBLE | UDS_AUTOBUDDY | UDS_SETBUDDYINT | UDS_ALIGNRIGHT | UDS_ARROWKEYS | UDS_NOTHOUSANDS)

static const PAL_DIALOG_ITEM g_AddPortItems[] = {
    {W("STATIC"), W("プロトコル(&P) :"), -1, WS_VISIBLE},
    {W("COMBOBOX"), W(""), IDC_PROTOCOL, WS_VISIBLE | WS_TABSTOP | CBS_DROPDOWNLIST},
    {W("STATIC"), W("IPアドレス(&I) :"), -1, WS_VISIBLE},
    {W("EDIT"), W(""), IDC_ADDRESS, WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL},
    {W("STATIC"), W("ポート名(&N) :"), -1, WS_VISIBLE},
    {W("EDIT"), W(""), IDC_PORTNAME, WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL},
    {W("STATIC"), W("LPRキュー名(&L) :"), IDC_QUEUE_LABEL, WS_VISIBLE},
    {W("EDIT"), W(""), IDC_QUEUE, WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL},
    {W("BUTTON"), W("ポートの構成"), IDC_CONFIGURE, WS_VISIBLE | WS_TABSTOP},
    {W("BUTTON"), W("OK"), IDOK, WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON},
    {W("BUTTON"), W("キャンセル"), IDCANCEL, WS_VISIBLE | WS_TABSTOP},
};

static const PAL_DIALOG_ITEM g_ConfigPortItems[] = {
    {W("STATIC"), W("ポート番号(&P)："), IDC_PORTNUMBER_LABEL, WS_VISIBLE},
    {W("EDIT"), W(""), IDC_PORTNUMBER, WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL},
    {W("BUTTON"), W(" LPRバイトカウントを有効にする(&L)"), IDC_BYTECOUNT, WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX},
    {W("BUTTON"), W(" エラー発生時はジョブが終了するまでリトライを続ける(&U)"), IDC_RETRYINFINITY,
     WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX},
    {W("STATIC"), W("リトライ間隔(&I)："), -1, WS_VISIBLE},
    {W("EDIT"), W(""), IDC_RETRYINTERVAL, WS_VISIBLE | WS_TABSTOP},
    {W("msctls_updown32"), W(""), IDC_RETRYINTERVAL_SPIN, UPDOWN_STYLE},
    {W("STATIC"), W("秒（2～60）"), -1, WS_VISIBLE},
    {W("STATIC"), W("リトライ回数(&M)："), -1, WS_VISIBLE},
    {W("EDIT"), W(""), IDC_RETRYCOUNT, WS_VISIBLE | WS_TABSTOP},
    {W("msctls_updown32"), W(""), IDC_RETRYCOUNT_SPIN, UPDOWN_STYLE},
    {W("STATIC"), W("回（0～10）"), -1, WS_VISIBLE},
    {W("BUTTON"), W("OK"), IDOK, WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON},
    {W("BUTTON"), W("キャンセル"), IDCANCEL, WS_VISIBLE | WS_TABSTOP},
};

static const PAL_DIALOG_TEMPLATE g_Dialogs[] = {
    {IDD_ADDPORT, W("ポートの追加"), g_AddPortItems, PAL_COUNT(g_AddPortItems)},
    {IDD_CONFIGPORT, W("ポートの構成"), g_ConfigPortItems, PAL_COUNT(g_ConfigPortItems)},
};

PAL_DECLARE_RESOURCES(LANG_JAPANESE_JAPAN, g_Strings, g_Dialogs);
