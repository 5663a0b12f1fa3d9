#include "winspool/winspool_pack.h"

#include <cstring>

#include "pal/errors.h"

namespace pal::spool {
namespace {

constexpr size_t kBlobAlignment = 8;

} // namespace

void addSystemTime(FlatRecord& record, size_t offset, const SYSTEMTIME& time)
{
    const WORD parts[8] = {time.wYear, time.wMonth,  time.wDayOfWeek, time.wDay,
                           time.wHour, time.wMinute, time.wSecond,    time.wMilliseconds};
    for (size_t i = 0; i < 4; ++i)
        record.dwords.emplace_back(offset + 4 * i, DWORD(parts[2 * i]) | DWORD(parts[2 * i + 1]) << 16);
}

DWORD packedSize(size_t recordSize, const std::vector<FlatRecord>& records)
{
    uint64_t size = uint64_t(recordSize) * records.size();
    for (const FlatRecord& record : records)
        for (const auto& field : record.strings)
            size += (field.second.size() + 1) * sizeof(WCHAR);
    for (const FlatRecord& record : records)
        for (const auto& field : record.narrowStrings)
            size += field.second.size() + 1;
    for (const FlatRecord& record : records)
        for (const auto& field : record.blobs)
            size += field.second.size() + kBlobAlignment - 1;
    return size > 0xFFFFFFFFu ? 0xFFFFFFFFu : DWORD(size);
}

BOOL packRecords(size_t recordSize, const std::vector<FlatRecord>& records, LPBYTE buffer, DWORD cbBuf,
                 LPDWORD pcbNeeded, LPDWORD pcReturned)
{
    *pcReturned = 0;
    *pcbNeeded = packedSize(recordSize, records);
    if (cbBuf < *pcbNeeded) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (records.empty())
        return TRUE;
    // Strings start at an even address below the end, so that they are WCHAR-aligned.
    BYTE* end = buffer + (cbBuf & ~DWORD(1));
    for (size_t i = 0; i < records.size(); ++i) {
        BYTE* record = buffer + i * recordSize;
        std::memset(record, 0, recordSize);
        for (const auto& [offset, bytes] : records[i].blobs) {
            end -= bytes.size();
            end -= reinterpret_cast<uintptr_t>(end) % kBlobAlignment;
            std::memcpy(end, bytes.data(), bytes.size());
            BYTE* pointer = end;
            std::memcpy(record + offset, &pointer, sizeof pointer);
        }
        for (const auto& [offset, text] : records[i].strings) {
            end -= (text.size() + 1) * sizeof(WCHAR);
            std::memcpy(end, text.data(), text.size() * sizeof(WCHAR));
            std::memset(end + text.size() * sizeof(WCHAR), 0, sizeof(WCHAR));
            LPWSTR pointer = reinterpret_cast<LPWSTR>(end);
            std::memcpy(record + offset, &pointer, sizeof pointer);
        }
        for (const auto& [offset, text] : records[i].narrowStrings) {
            end -= text.size() + 1;
            std::memcpy(end, text.c_str(), text.size() + 1);
            LPSTR pointer = reinterpret_cast<LPSTR>(end);
            std::memcpy(record + offset, &pointer, sizeof pointer);
        }
        for (const auto& [offset, value] : records[i].dwords)
            std::memcpy(record + offset, &value, sizeof value);
    }
    *pcReturned = DWORD(records.size());
    return TRUE;
}

} // namespace pal::spool
