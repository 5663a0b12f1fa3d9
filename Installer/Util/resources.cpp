// The string table (Japanese, language 1041) and the ordinals of the exports.
#include "jtrkutil.h"

static const PAL_STRING_RESOURCE g_Strings[] = {
    {IDS_MONITOR_ADD_FAILED,
     W("専用ポートモニタの登録に失敗しました。\nインストール処理は続行できますが、インストール処理の終了後に手動で専用ポートモニタを追加する必要があります。\n続行しますか？（しない場合、インストールがキャンセルされます）")},
    {IDS_SERVICE_START_FAILED,
     W("TALLY-DESK Output Beacon Service2の開始中にエラーが発生しました。\nエラーの内容をイベントログに書き込みました。\nインストール処理終了後に手動でサービスを起動してください。")},
    {IDS_PORT_DELETE_FAILED,
     W("ポートの削除に失敗しました。\nポートが利用中である可能性があります。\n印刷処理などを全て終えてからやり直してください。")},
    {IDS_MONITOR_DELETE_FAILED, W("TALLY-DESK Output Beacon Port2 の削除に失敗しました。\nアンインストール処理を中止します。")},
    {IDS_ERROR_CAPTION, W("エラー")},
    {IDS_SERVICE_STOP_FAILED,
     W("TALLY-DESK Output Beacon Service2 の停止中にエラーが発生しました。\n印刷処理中の可能性があります。\nアンインストール処理を中止します。")},
};

PAL_DECLARE_STRINGS(LANG_JAPANESE_JAPAN, g_Strings);

extern "C" PAL_EXPORT const PAL_ORDINAL_EXPORT palOrdinalExports[];
const PAL_ORDINAL_EXPORT palOrdinalExports[] = {
    {1, "JTMXAddMonitor"},   {2, "JTMXDeleteMonitor"}, {3, "JTMXInstallPort"},    {4, "JTMXInstallPortforReInst"},
    {5, "JTMXIsMonitorExists"}, {6, "JTMXStartService"}, {7, "JTMXStopService"}, {8, "JTMXToOriginalPort"},
    {9, "JTMXToSecialPort"}, {10, "JTMXUninstallPort"}, {0, nullptr},
};
