// Returning lists of records the way the spooler does: the records from the front of the
// caller's buffer, their strings packed backwards from its end.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "pal/types.h"

namespace pal::spool {

// One record of a level: the strings and DWORDs at their offsets in the record; every other
// byte is zero. The strings of an ANSI record are narrow ones (a record has one kind or the other).
struct FlatRecord {
    std::vector<std::pair<size_t, std::u16string>> strings;
    std::vector<std::pair<size_t, DWORD>> dwords;
    std::vector<std::pair<size_t, std::string>> narrowStrings;
    std::vector<std::pair<size_t, std::vector<uint8_t>>> blobs; // 8-byte aligned, before the strings
};

// A SYSTEMTIME field as the DWORDs of its WORD pairs.
void addSystemTime(FlatRecord& record, size_t offset, const SYSTEMTIME& time);

// The bytes that records of recordSize need, strings with their terminators included.
DWORD packedSize(size_t recordSize, const std::vector<FlatRecord>& records);

// Sets *pcbNeeded; fails with ERROR_INSUFFICIENT_BUFFER when cbBuf is smaller, otherwise fills
// the buffer and sets *pcReturned. Blobs and strings go in record order, each record's blobs first,
// then its strings in field order.
BOOL packRecords(size_t recordSize, const std::vector<FlatRecord>& records, LPBYTE buffer, DWORD cbBuf,
                 LPDWORD pcbNeeded, LPDWORD pcReturned);

} // namespace pal::spool
