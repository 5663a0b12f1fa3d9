// The JSON journals of the outside stand-ins: one object a line in a file beside the stand-in's
// library, appended atomically so that several processes and threads may write.
#pragma once

#include <cstddef>
#include <string>

#include <windows.h>

namespace journal {

// One JSON object, built field by field.
class Line {
public:
    // An ANSI (code page 932) text as UTF-8; NULL is null.
    Line& text(const char* key, LPCSTR ansi);
    Line& utf8(const char* key, const std::string& value);
    Line& number(const char* key, long long value);
    // Bytes as lower-case hex digits.
    Line& hex(const char* key, const void* bytes, size_t size);
    // A value already in JSON form (an object or an array).
    Line& json(const char* key, const std::string& value);
    std::string str() const { return body_ + "}"; }

private:
    void key(const char* name);
    std::string body_ = "{";
};

std::string quoted(const std::string& utf8);
std::string utf8FromAnsi(LPCSTR ansi);

// Paths are Windows (C:\...) or Linux paths, as the platform's file calls take them.
// Appends line and a line feed in one write; false when the file cannot be written.
bool append(const std::string& path, const std::string& line);
// Prints the journal at path to standard output; with follow, keeps printing what is appended
// until the process is stopped. 0 on success, 1 when the file cannot be read.
int print(const std::string& path, bool follow);
// The Linux folder of the shared object or program that holds address.
std::string folderOf(const void* address);

} // namespace journal
