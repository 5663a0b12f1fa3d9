#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include <windows.h>

#include "ChildProcess.h"
#include "TempRoot.h"

namespace {

struct Message {
    INSTALLMESSAGE type;
    std::u16string text;
    int answer;
};

void collect(void* context, INSTALLMESSAGE type, LPCWSTR text, int answer)
{
    static_cast<std::vector<Message>*>(context)->push_back({type, text, answer});
}

TEST(MsiProperties, ReadAsWindowsGivesThem)
{
    MSIHANDLE session = palMsiCreateSession(PAL_MSI_ANSWER_NONE, nullptr, nullptr);
    ASSERT_NE(session, 0u);
    EXPECT_EQ(MsiSetPropertyW(session, W("CustomActionData"), W(",C:\\Program Files\\JTRK")), 0u);
    WCHAR value[32];
    DWORD count = 32;
    EXPECT_EQ(MsiGetPropertyW(session, W("CustomActionData"), value, &count), 0u);
    EXPECT_EQ(count, 22u) << "characters without the terminator";
    EXPECT_EQ(std::u16string(value), u",C:\\Program Files\\JTRK");

    count = 10;
    EXPECT_EQ(MsiGetPropertyW(session, W("CustomActionData"), value, &count), static_cast<UINT>(ERROR_MORE_DATA));
    EXPECT_EQ(count, 22u) << "the count needed, without the terminator";
    EXPECT_EQ(std::u16string(value), u",C:\\Progr") << "what fits, terminated";
    count = 0;
    EXPECT_EQ(MsiGetPropertyW(session, W("CustomActionData"), nullptr, &count), 0u);
    EXPECT_EQ(count, 22u);
    EXPECT_EQ(MsiGetPropertyW(session, W("CustomActionData"), value, nullptr), static_cast<UINT>(ERROR_INVALID_PARAMETER));

    count = 32;
    EXPECT_EQ(MsiGetPropertyW(session, W("customactiondata"), value, &count), 0u) << "names are case-sensitive";
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(value[0], 0);
    EXPECT_EQ(MsiSetPropertyW(session, W("CustomActionData"), W("")), 0u);
    count = 32;
    MsiGetPropertyW(session, W("CustomActionData"), value, &count);
    EXPECT_EQ(count, 0u) << "an empty value removes the property";

    MSIHANDLE record = MsiCreateRecord(1);
    count = 32;
    EXPECT_EQ(MsiGetPropertyW(record, W("X"), value, &count), static_cast<UINT>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(MsiGetPropertyW(0x7777, W("X"), value, &count), static_cast<UINT>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(MsiSetPropertyW(record, W("X"), W("y")), static_cast<UINT>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(MsiCloseHandle(record), 0u);
    EXPECT_EQ(MsiCloseHandle(session), 0u);
    EXPECT_EQ(MsiCloseHandle(session), static_cast<UINT>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(MsiCloseHandle(0), 0u);
}

TEST(MsiRecords, HoldFieldsZeroToTheirCount)
{
    MSIHANDLE record = MsiCreateRecord(2);
    EXPECT_EQ(MsiRecordGetFieldCount(record), 2u);
    EXPECT_EQ(MsiRecordSetStringW(record, 0, W("zero")), 0u);
    EXPECT_EQ(MsiRecordSetStringW(record, 2, W("two")), 0u);
    EXPECT_EQ(MsiRecordSetStringW(record, 3, W("three")), static_cast<UINT>(ERROR_INVALID_PARAMETER));
    WCHAR value[8];
    DWORD count = 8;
    EXPECT_EQ(MsiRecordGetStringW(record, 2, value, &count), 0u);
    EXPECT_EQ(std::u16string(value), u"two");
    count = 8;
    EXPECT_EQ(MsiRecordGetStringW(record, 9, value, &count), 0u);
    EXPECT_EQ(count, 0u) << "a field past the end reads empty";
    count = 4;
    EXPECT_EQ(MsiRecordGetStringW(record, 0, value, &count), static_cast<UINT>(ERROR_MORE_DATA));
    EXPECT_EQ(std::u16string(value), u"zer");
    EXPECT_EQ(MsiCreateRecord(70000), 0u);
    MsiCloseHandle(record);
    EXPECT_EQ(MsiRecordSetStringW(record, 0, W("gone")), static_cast<UINT>(ERROR_INVALID_HANDLE));
}

int processed(PAL_MSI_ANSWER policy, INSTALLMESSAGE type, std::vector<Message>& messages)
{
    MSIHANDLE session = palMsiCreateSession(policy, collect, &messages);
    MSIHANDLE record = MsiCreateRecord(1);
    MsiRecordSetStringW(record, 0, W("Text [1]"));
    MsiRecordSetStringW(record, 1, W("one"));
    int answer = MsiProcessMessage(session, type, record);
    MsiCloseHandle(record);
    MsiCloseHandle(session);
    return answer;
}

TEST(MsiMessages, AreLoggedAndAnsweredByThePolicy)
{
    std::vector<Message> messages;
    EXPECT_EQ(processed(PAL_MSI_ANSWER_YES, INSTALLMESSAGE_INFO, messages), 0) << "information is only logged";
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, u"Text [1]") << "field 0 verbatim";
    EXPECT_EQ(messages[0].type, INSTALLMESSAGE_INFO);

    const INSTALLMESSAGE warningYesNo = INSTALLMESSAGE_WARNING | MB_YESNO | MB_DEFBUTTON2;
    EXPECT_EQ(processed(PAL_MSI_ANSWER_YES, warningYesNo, messages), IDYES);
    EXPECT_EQ(processed(PAL_MSI_ANSWER_NO, warningYesNo, messages), IDNO);
    EXPECT_EQ(processed(PAL_MSI_ANSWER_NONE, warningYesNo, messages), 0) << "no user interface";
    EXPECT_EQ(processed(PAL_MSI_ANSWER_NO, INSTALLMESSAGE_ERROR, messages), IDOK) << "MB_OK has one answer";
    EXPECT_EQ(processed(PAL_MSI_ANSWER_YES, INSTALLMESSAGE_WARNING, messages), IDOK);
    EXPECT_EQ(processed(PAL_MSI_ANSWER_NONE, INSTALLMESSAGE_ERROR, messages), 0);
    EXPECT_EQ(processed(PAL_MSI_ANSWER_NO, INSTALLMESSAGE_WARNING | MB_OKCANCEL, messages), IDCANCEL);
    ASSERT_EQ(messages.size(), 8u);
    EXPECT_EQ(messages[2].answer, IDNO) << "the sink sees the answer given";
    EXPECT_EQ(messages[2].type, warningYesNo);

    MSIHANDLE session = palMsiCreateSession(PAL_MSI_ANSWER_YES, nullptr, nullptr);
    MSIHANDLE record = MsiCreateRecord(0);
    EXPECT_EQ(MsiProcessMessage(session, INSTALLMESSAGE_INFO, 0x9999), -1);
    EXPECT_EQ(MsiProcessMessage(record, INSTALLMESSAGE_INFO, record), -1);
    EXPECT_EQ(MsiProcessMessage(session, warningYesNo, record), IDYES) << "no sink: answered all the same";
    MsiCloseHandle(record);
    MsiCloseHandle(session);
}

TEST(MsiHandles, AreUniqueAcrossThreads)
{
    constexpr int kThreads = 8;
    constexpr int kEach = 200;
    std::vector<std::vector<MSIHANDLE>> made(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&made, t] {
            for (int i = 0; i < kEach; ++i) {
                MSIHANDLE record = MsiCreateRecord(0);
                MsiRecordSetStringW(record, 0, W("x"));
                made[t].push_back(record);
            }
        });
    for (auto& thread : threads)
        thread.join();
    std::vector<MSIHANDLE> all;
    for (auto& handles : made)
        all.insert(all.end(), handles.begin(), handles.end());
    std::sort(all.begin(), all.end());
    EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
    EXPECT_EQ(std::count(all.begin(), all.end(), 0u), 0);
    for (MSIHANDLE handle : all)
        EXPECT_EQ(MsiCloseHandle(handle), 0u);
}

testsupport::ChildResult msiexec(const std::vector<std::string>& args)
{
    return testsupport::runProgram(testsupport::besideSelf("pal-msiexec"), args);
}

TEST(PalMsiexec, RunsAnActionWithItsPropertiesAndPrintsItsMessages)
{
    testsupport::TempRoot root;
    testsupport::ChildResult run = msiexec({"--property", "CustomActionData=,C:\\Inst", "--answer", "no",
                                            "PalTestActions.dll", "ActionAsks", "first"});
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.out, "info: data=,C:\\Inst arg=first\n"
                       "info: temp=C:\\Windows\\Temp tmp=C:\\Windows\\Temp\n"
                       "warning: 続行しますか？\\n[1] -> no\n"
                       "error: stopped -> ok\n"
                       "result: 1602\n");

    run = msiexec({"--answer", "yes", "--env", "TEMP=C:\\Other", "--env", "TMP=", "PalTestActions.dll", "ActionAsks", ""});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "info: data= arg=(none)\n"
                       "info: temp=C:\\Other tmp=(none)\n"
                       "warning: 続行しますか？\\n[1] -> yes\n"
                       "error: stopped -> ok\n"
                       "result: 0\n");

    run = msiexec({"PalTestActions.dll", "ActionAsks", "x"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("warning: 続行しますか？\\n[1]\nerror: stopped\nresult: 1603\n"), std::string::npos)
        << "no answers without a user interface: " << run.out;

    run = msiexec({"PalTestActions.dll", "ActionCounts", "--no-session", "a", ""});
    EXPECT_EQ(run.out, "result: 1\n");
    EXPECT_EQ(run.status, 1);

    EXPECT_EQ(msiexec({"NoSuchModule.dll", "Entry"}).status, 2);
    EXPECT_EQ(msiexec({"PalTestActions.dll", "NoSuchEntry"}).status, 2);
    EXPECT_EQ(msiexec({"--answer", "maybe", "PalTestActions.dll", "ActionAsks"}).status, 2);
    EXPECT_EQ(msiexec({"PalTestActions.dll"}).status, 2);
    EXPECT_EQ(msiexec({"--property", "NOVALUE", "PalTestActions.dll", "ActionAsks"}).status, 2);
    EXPECT_EQ(msiexec({"PalTestActions.dll", "ActionAsks", "1", "2", "3", "4", "5"}).status, 2);
}

} // namespace
