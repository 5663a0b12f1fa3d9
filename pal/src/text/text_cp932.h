// The CP932 tables (generated into cp932_table.cpp by scripts/gen-cp932.py).
#pragma once

#include <cstddef>
#include <cstdint>

namespace pal::text {

// Lead bytes 0x81-0x9F and 0xE0-0xFC; trail bytes 0x40-0x7E and 0x80-0xFC.
constexpr int cp932LeadCount = 60;
constexpr int cp932TrailCount = 188;

constexpr bool cp932IsLead(uint8_t byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC); }
constexpr bool cp932IsTrail(uint8_t byte) { return byte >= 0x40 && byte <= 0xFC && byte != 0x7F; }
constexpr int cp932LeadIndex(uint8_t lead) { return lead <= 0x9F ? lead - 0x81 : lead - 0xE0 + 31; }
constexpr int cp932TrailIndex(uint8_t trail) { return trail <= 0x7E ? trail - 0x40 : trail - 0x80 + 63; }

struct Cp932Reverse {
    char16_t unicode;
    uint16_t code;
};

extern const char16_t cp932SingleByte[256];
extern const char16_t cp932DoubleByte[cp932LeadCount][cp932TrailCount];
extern const Cp932Reverse cp932Reverse[];
extern const size_t cp932ReverseCount;

} // namespace pal::text
