// Test helpers around the outside stand-ins: installing them in a test's platform root and reading
// their journals.
#pragma once

#include <string>
#include <vector>

#include "ChildProcess.h"

namespace standin {

// Places HBPHSTD64.so (or the legacy build) from beside the test program in <root>/drive_c/FOLDER,
// writes ini as HBPHSTD64.ini there and sets "ComponentPath" to C:\FOLDER. The Linux folder.
std::string installPrintManager(const std::string& ini, bool legacy = false, const std::string& folder = "Harbor");
// Replaces HBPHSTD64.ini of an installed print manager.
void configurePrintManager(const std::string& ini, const std::string& folder = "Harbor");

// 'hbmsgm run C:\Msgm' (from beside the test program) with options, once it serves; its journal is
// <root>/drive_c/Msgm/journal.log.
testsupport::ChildProcess startMessageManager(const std::vector<std::string>& options = {});
std::string messageJournal();

// The lines of a journal; with entry, only those whose "entry" is that name.
std::vector<std::string> journalLines(const std::string& path, const std::string& entry = "");
// The JSON value of key in line as written (strings with their quotes); "" when missing.
std::string jsonValue(const std::string& line, const std::string& key);
// A quoted JSON string's UTF-8 text without escapes (only \" \\ \n are decoded).
std::string jsonText(const std::string& line, const std::string& key);

// Hex dump of bytes; compared with an expected dump where "??" stands for any byte.
bool hexMatches(const std::string& actual, const std::string& expectedWithWildcards);

} // namespace standin
