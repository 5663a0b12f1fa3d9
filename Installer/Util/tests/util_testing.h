// Helpers of the installer tests: JTRKUtil loaded by its Windows name, a session that records
// what the actions say, the result file and the INF laid down.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <windows.h>

#include "TempRoot.h"

namespace utiltest {

struct Message {
    INSTALLMESSAGE type;
    std::u16string text;
    int answer;
};

class Session {
public:
    explicit Session(PAL_MSI_ANSWER answer = PAL_MSI_ANSWER_NONE)
        : handle(palMsiCreateSession(answer, &Session::sink, this))
    {
    }
    ~Session() { MsiCloseHandle(handle); }
    void set(const std::u16string& name, const std::u16string& value)
    {
        MsiSetPropertyW(handle, name.c_str(), value.c_str());
    }
    bool logged(const std::u16string& text) const
    {
        for (const Message& m : messages)
            if ((m.type & INSTALLMESSAGE_TYPEMASK) == INSTALLMESSAGE_INFO && m.text == text)
                return true;
        return false;
    }
    // The types of the messages shown to the user, in order.
    std::vector<INSTALLMESSAGE> shown() const
    {
        std::vector<INSTALLMESSAGE> types;
        for (const Message& m : messages)
            if ((m.type & INSTALLMESSAGE_TYPEMASK) != INSTALLMESSAGE_INFO)
                types.push_back(m.type);
        return types;
    }
    std::u16string shownText(size_t index) const
    {
        size_t n = 0;
        for (const Message& m : messages)
            if ((m.type & INSTALLMESSAGE_TYPEMASK) != INSTALLMESSAGE_INFO && n++ == index)
                return m.text;
        return u"";
    }

    MSIHANDLE handle;
    std::vector<Message> messages;

private:
    static void sink(void* context, INSTALLMESSAGE type, LPCWSTR text, int answer)
    {
        static_cast<Session*>(context)->messages.push_back({type, text, answer});
    }
};

// JTRKUtil.so loaded as the installer would.
struct Util {
    HMODULE module = LoadLibraryW(u"JTRKUtil.dll");
    ~Util() { FreeLibrary(module); }
    template <typename F>
    F entry(const char* name) const
    {
        return reinterpret_cast<F>(GetProcAddress(module, name));
    }
    UINT action(const char* name, MSIHANDLE session) const { return entry<UINT(WINAPI*)(MSIHANDLE)>(name)(session); }
};

// A platform root with TEMP at C:\Temp and the installation folder C:\JTRK.
class UtilRoot : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(root.file("drive_c/Temp"));
        std::filesystem::create_directories(root.file("drive_c/JTRK"));
        setenv("TEMP", "C:\\Temp", 1);
        unsetenv("TMP");
    }
    void TearDown() override { unsetenv("TEMP"); }
    void layInf() const
    {
        std::filesystem::copy_file(JTRKUTIL_INF, root.file("drive_c/JTRK/JTRKMON2.INF"),
                                   std::filesystem::copy_options::overwrite_existing);
    }
    void writeFile(const std::string& relative, const std::string& bytes) const
    {
        std::ofstream(root.file(relative), std::ios::binary) << bytes;
    }
    bool infExists() const { return std::filesystem::exists(root.file("drive_c/JTRK/JTRKMON2.INF")); }
    // The result file's value, or -1.
    int result(const char16_t* section, const char16_t* key) const
    {
        return (int)GetPrivateProfileIntW(section, key, -1, u"C:\\Temp\\JTRKSetup.ini");
    }
    int resultCode() const { return result(u"ResponseResult", u"ResultCode"); }

    testsupport::TempRoot root;
    Util util;
};

} // namespace utiltest
