// Every value type on the wire and in memory: generated wire forms (from a transcription of the
// wire forms kept apart from the coder's own descriptions) must be measured, decoded, re-encoded
// and refused when cut short; quirky types are checked against bytes written out by hand.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "BodyTesting.h"

namespace {

const uint8_t kVersion = DMLP_HEADER_VERSION;

// Wire forms: u8 u16 u32, bN (N bytes), s8, t8, o9 (tagged eight bytes), L8/L16 (length and
// bytes), attrs (counted attribute list), c8{...}/c16{...} (counted groups), N*{...} (repeats).
struct WireForm {
    uint16_t type;
    const char* form;
};

const WireForm kWireForms[] = {
    {2, "u8 u8 u8 u8 s8 u8 u8 u16 u32 u32 u8"},
    {4, "u8"},
    {5, "u8 u8"},
    {6, "c8{u8 u8}"},
    {7, "u8 u8 u8"},
    {8, "c8{u8 u8 u8}"},
    {9, "u8 u8 u8 u8"},
    {10, "c8{u8 u8 u8 u8}"},
    {11, "u8 u8 u8 u8 u8"},
    {12, "c8{u8 u8 u8 u8 u8}"},
    {13, "c8{u8}"},
    {14, "u8 4*{u8 s8}"},
    {15, "c8{u16} u16"},
    {16, "c16{u16 u32 u32 u32 c8{u32 u32 u32 u8}}"},
    {17, "u8 u8 u32 u32 u32 u32 c8{u8 u32} s8"},
    {18, "c8{u16 u32 s8}"},
    {19, "c8{u8 u8 u32 u32}"},
    {20, "u8 t8 u8 u8 u32"},
    {21, "c8{u8 u8 u8 u16 u32 u32}"},
    {22, "u8 s8 s8"},
    {23, "c8{u8 s8 s8 u8}"},
    {24, "u8 c8{u16}"},
    {25, "c8{u8 c8{u16 u8}}"},
    {26, "c16{u16 c8{u16 u16}}"},
    {28, "c8{u8 u8 u32 u32 u32 u32}"},
    {29, "u8 u8 u8 u32 u32"},
    {30, "c8{u32 u8 u8}"},
    {31, "u16 u8 u32 u32 u8 u8 u32 u8 u32"},
    {32, "u8 t8 u8 s8"},
    {33, "c8{u8 t8 u8 u32 u32 u32 u32 s8 s8}"},
    {34, "c8{u8 u8 u16 u32 u32 u8}"},
    {35, "c8{u8 u8 u16}"},
    {36, "c16{u8 u8 u16 u8}"},
    {37, "c8{u8 u32 u32 u32 u32 u32}"},
    {38, "c16{u8 t8 u16 u16 u16}"},
    {39, "u8 u16 u16 u16 u16 u16 u16 u32 u32 u8"},
    {40, "c8{u8 u16 u16 u16 u16 u16 u16 u16 u16 u16 u16 u8}"},
    {41, "c8{u32 s8 u8 u8 o9}"},
    {42, "u8 u8 s8"},
    {43, "c8{u8 u8 s8}"},
    {45, "c8{u8 t8 u8 s8 u8 u32}"},
    {47, "c8{u8 c8{u8 u8 u16 u32 u32 u8 u8}}"},
    {48, "c8{u8 u8 u8 u8 u16 u32 u32 u8 u8 u8 u8}"},
    {49, "c8{u8 u8 u8 u16}"},
    {50, "c8{u8 u8 u32}"},
    {51, "c8{u8 t8 u8 s8 u8}"},
    {52, "u8 u8 u8 c8{u16} u8 u8 s8 u8 u8 u16 u32 u32 u8"},
    {53, "u8 u8 s8"},
    {54, "u8 u8 u8 s8"},
    {55, "u8 u8 u32 u32 u32 u32 c8{u8 u32} u8 s8"},
    {56, "b2 b2 u16"},
    {57, "c8{b2 b2 u16}"},
    {58, "c8{c16{u16} u32 u32}"},
    {59, "u32"},
    {60, "u32 u32"},
    {61, "c16{u32 u32}"},
    {62, "c8{u32 u32 u8}"},
    {63, "u32 u32 u32"},
    {64, "u32 u32 u32 u32"},
    {65, "u32 u32 u32 u32 u8"},
    {66, "c8{u32}"},
    {67, "c16{u32}"},
    {68, "u32 u32 u8"},
    {69, "u32 u8"},
    {70, "c8{u32 u8}"},
    {71, "u8 u8 u16 u32 u32 u8"},
    {72, "c16{u8 u8 u16 u8}"},
    {73, "c16{u8 u16}"},
    {74, "u8 u16"},
    {75, "c8{u8 s8 b20 b20 u8}"},
    {77, "c8{u16 s8 u8}"},
    {78, "c16{u8 t8 u16 u16 u16 u8 o9}"},
    {79, "u8 u8 s8 u8 u8"},
    {80, "c8{u8 t8 u8 s8 u32 u32 u32 u32 u32}"},
    {81, "c8{u8 s8 u8 u16 u8 s8 u8}"},
    {82, "c8{u8 t8 s8 s8 u8}"},
    {83, "u8 u32 u8 u32"},
    {84, "u8 c8{u16} u32"},
    {85, "c8{u8 t8 u8 u32 u32 u32 u32 s8}"},
    {86, "c8{u8 u8 u16 u32 u32 u8}"},
    {87, "c16{u8 u32}"},
    {88, "u16 u8 u32 u32"},
    {89, "c8{u8 u32}"},
    {90, "u8 u16 u16"},
    {91, "c8{u8 u16 u16}"},
    {92, "c8{u8 u16 u16 u8}"},
    {95, "u8 u8 u16"},
    {96, "u8 u16 u32 u32 u8"},
    {97, "c8{u8 u16 u32 u32 u8 u8}"},
    {98, "u8 u32"},
    {99, "u8 u8 u32 u32 u8"},
    {100, "u16"},
    {101, "u16 u16"},
    {102, "c8{u16 u16}"},
    {104, "u16 u16 u16"},
    {105, "u16 u16 u16 u16"},
    {106, "u16 u16 u16 u16 u8"},
    {107, "u16 u16 u8"},
    {108, "c8{u16}"},
    {109, "c16{u16}"},
    {111, "c8{u16 u8}"},
    {112, "c16{u16 u8}"},
    {113, "u8 u32 u8 u32 u32 c8{u32}"},
    {114, "b16"},
    {115, "b20"},
    {116, "b48"},
    {117, "L16"},
    {118, "s8"},
    {119, "t8"},
    {120, "c8{u16 L8}"},
    {121, "c8{u8 u8 u16 u8 u8 u16}"},
    {122, "u8 u8 c16{u16} u32 u8 u8 s8 u8 u8 u16 u32 u32 u8"},
    {123, "u16 u16 u8"},
    {124, "c16{u32 u32 u8}"},
    {125, "c16{u32 u8}"},
    {126, "u16 u8"},
    {127, "u32 u16 u16 b8 u16"},
    {128, "c8{u8 t8}"},
    {129, "u8 u8 u8 u8 u8"},
    {130, "u32 u32 u32 u32 u32 u32 u32 u32"},
    {131, "u32 u32 u32 u32 u8 u8"},
    {132, "c8{u8 u32}"},
    {133, "u8 u32 u8 u8 u16 u8 u8"},
    {134, "u8 u16 u32 u8 u8 u16 u8 u8"},
    {135, "u8 u32 u32 u8"},
    {136, "u8 u8 u32 u32"},
    {137, "c8{u8 u8 u8 u8 u32}"},
    {138, "u32 u32 u8"},
    {139, "u32 u16 u16 b8 b48"},
    {140, "u32 u32 u32 u8"},
    {141, "u8 u16"},
    {142, "b12"},
    {143, "u8 u8 c8{u32} u32 u8 attrs"},
    {144, "u8 u8 u8 c8{u32} u32 attrs"},
    {145, "c8{u8 t8 u8 s8 u8}"},
    {146, "c8{u8 u8 u8 u16 u32 u32 u8 u8 u8}"},
    {147, "u8 c8{u16 u8 u8 u32}"},
    {148, "c8{u32 u32 u16 L8}"},
    {149, "u16 L16"},
    {150, "c8{u8 s8}"},
};

// Families of value types by count width.
const std::set<uint16_t> kSingleValued = {
    2, 4, 5, 7, 9, 11, 14, 15, 17, 20, 22, 24, 29, 31, 32, 39, 42, 52, 53, 54, 55, 56, 59, 60, 63, 64, 65, 68, 69,
    71, 74, 79, 83, 84, 88, 90, 95, 96, 98, 99, 100, 101, 104, 105, 106, 107, 113, 114, 115, 116, 117, 118, 119,
    122, 123, 126, 127, 129, 130, 131, 133, 134, 135, 136, 138, 139, 140, 141, 142, 143, 144, 147, 149, 151};
const std::set<uint16_t> kCount8 = {
    1, 3, 6, 8, 10, 12, 13, 18, 19, 21, 23, 25, 28, 30, 33, 34, 35, 37, 40, 41, 43, 44, 45, 46, 47, 48, 49, 50,
    51, 57, 58, 62, 66, 70, 75, 76, 77, 80, 81, 82, 85, 86, 89, 91, 92, 93, 94, 97, 102, 108, 111, 120, 121, 128,
    132, 137, 145, 146, 148, 150};
const std::set<uint16_t> kCount16 = {16, 26, 27, 36, 38, 61, 67, 72, 73, 78, 87, 109, 112, 124, 125};

// {value type, count width, bytes of the record or element in memory}.
struct MemoryShape {
    uint16_t type;
    uint8_t countWidth;
    uint16_t size;
};

const MemoryShape kMemoryShapes[] = {
    {1, 1, 4}, {2, 0, 40}, {3, 1, 24}, {4, 0, 8}, {5, 0, 8}, {6, 1, 2}, {7, 0, 8}, {8, 1, 3},
    {9, 0, 8}, {10, 1, 4}, {11, 0, 8}, {12, 1, 5}, {13, 1, 1}, {14, 0, 104}, {15, 0, 24}, {16, 2, 32},
    {17, 0, 56}, {18, 1, 24}, {19, 1, 12}, {20, 0, 32}, {21, 1, 16}, {22, 0, 40}, {23, 1, 48}, {24, 0, 24},
    {25, 1, 24}, {26, 2, 24}, {27, 2, 88}, {28, 1, 20}, {29, 0, 16}, {30, 1, 8}, {31, 0, 32}, {32, 0, 48},
    {33, 1, 80}, {34, 1, 16}, {35, 1, 4}, {36, 2, 6}, {37, 1, 24}, {38, 2, 32}, {39, 0, 32}, {40, 1, 24},
    {41, 1, 40}, {42, 0, 24}, {43, 1, 24}, {44, 1, 16}, {45, 1, 56}, {46, 1, 104}, {47, 1, 24}, {48, 1, 20},
    {49, 1, 6}, {50, 1, 8}, {51, 1, 56}, {52, 0, 64}, {53, 0, 24}, {54, 0, 24}, {55, 0, 64}, {56, 0, 8},
    {57, 1, 6}, {58, 1, 24}, {59, 0, 8}, {60, 0, 8}, {61, 2, 8}, {62, 1, 12}, {63, 0, 16}, {64, 0, 16},
    {65, 0, 24}, {66, 1, 4}, {67, 2, 4}, {68, 0, 16}, {69, 0, 8}, {70, 1, 8}, {71, 0, 16}, {72, 2, 6},
    {73, 2, 4}, {74, 0, 8}, {75, 1, 72}, {76, 1, 64}, {77, 1, 32}, {78, 2, 48}, {79, 0, 32}, {80, 1, 72},
    {81, 1, 56}, {82, 1, 64}, {83, 0, 16}, {84, 0, 32}, {85, 1, 64}, {86, 1, 16}, {87, 2, 8}, {88, 0, 16},
    {89, 1, 8}, {90, 0, 8}, {91, 1, 6}, {92, 1, 8}, {93, 1, 16}, {94, 1, 40}, {95, 0, 8}, {96, 0, 16},
    {97, 1, 20}, {98, 0, 8}, {99, 0, 16}, {100, 0, 8}, {101, 0, 8}, {102, 1, 4}, {104, 0, 8}, {105, 0, 8},
    {106, 0, 16}, {107, 0, 8}, {108, 1, 2}, {109, 2, 2}, {111, 1, 4}, {112, 2, 4}, {113, 0, 40}, {114, 0, 16},
    {115, 0, 24}, {116, 0, 48}, {117, 0, 16}, {118, 0, 16}, {119, 0, 16}, {120, 1, 16}, {121, 1, 8}, {122, 0, 64},
    {123, 0, 8}, {124, 2, 12}, {125, 2, 8}, {126, 0, 8}, {127, 0, 24}, {128, 1, 24}, {129, 0, 8}, {130, 0, 32},
    {131, 0, 24}, {132, 1, 8}, {133, 0, 24}, {134, 0, 16}, {135, 0, 16}, {136, 0, 16}, {137, 1, 8}, {138, 0, 16},
    {139, 0, 64}, {140, 0, 16}, {141, 0, 8}, {142, 0, 16}, {143, 0, 48}, {144, 0, 48}, {145, 1, 56}, {146, 1, 20},
    {147, 0, 24}, {148, 1, 24}, {149, 0, 16}, {150, 1, 24}, {151, 0, 24},
};

const DmlpForm* FormOf(uint16_t type) { return DmlpValueTypeTable[type - 1].form; }

uint8_t CountWidth(uint16_t type) { return kCount8.count(type) ? 1 : kCount16.count(type) ? 2 : 0; }

size_t MatchingBrace(const std::string& form, size_t open)
{
    int depth = 0;
    for (size_t i = open; i < form.size(); ++i) {
        depth += form[i] == '{' ? 1 : form[i] == '}' ? -1 : 0;
        if (depth == 0)
            return i;
    }
    return std::string::npos;
}

// Attributes the generator nests, with their value types.
const std::pair<uint16_t, uint16_t> kNestableAttributes[] = {{289, 59}, {2229, 4}, {4, 119}, {241, 61}, {146, 1}};

// Random wire forms of value types.
class Generator {
public:
    explicit Generator(uint32_t seed) : rng_(seed) {}

    uint32_t Pick(uint32_t low, uint32_t high) { return std::uniform_int_distribution<uint32_t>(low, high)(rng_); }
    void U8(Bytes& out, uint32_t value) { out.push_back((uint8_t)value); }
    void U16(Bytes& out, uint32_t value) { out.insert(out.end(), {(uint8_t)(value >> 8), (uint8_t)value}); }
    void U32(Bytes& out, uint32_t value)
    {
        U16(out, value >> 16);
        U16(out, value & 0xFFFF);
    }
    void Random(Bytes& out, size_t count)
    {
        for (size_t i = 0; i < count; ++i)
            out.push_back((uint8_t)Pick(0, 255));
    }

    // A whole value (multi: count and elements for a multi-valued type).
    void Value(Bytes& out, uint16_t type, bool multi)
    {
        const uint8_t width = CountWidth(type);
        if (width == 0 || !multi)
            return Element(out, type);
        const uint32_t count = Pick(0, 3);
        width == 1 ? U8(out, count) : U16(out, count);
        for (uint32_t i = 0; i < count; ++i)
            Element(out, type);
    }

    void Element(Bytes& out, uint16_t type)
    {
        const auto special = kSpecial.find(type);
        if (special != kSpecial.end())
            return special->second(*this, out);
        std::string form = FormString(type);
        if (CountWidth(type) != 0) {   // "cN{element}"
            const size_t open = form.find('{');
            form = form.substr(open + 1, MatchingBrace(form, open) - open - 1);
        }
        size_t at = 0;
        Sequence(out, form, at);
    }

    void Attributes(Bytes& out)
    {
        const uint32_t count = Pick(0, 2);
        U16(out, count);
        for (uint32_t i = 0; i < count; ++i) {
            const auto [id, type] = kNestableAttributes[Pick(0, 4)];
            Bytes value;
            Value(value, type, true);
            U16(out, id);
            U16(out, (uint32_t)value.size());
            out.insert(out.end(), value.begin(), value.end());
        }
    }

    void Text8(Bytes& out)
    {
        const uint32_t length = Pick(0, 9);
        U8(out, length);
        Random(out, length);
    }

private:
    static std::string FormString(uint16_t type)
    {
        for (const WireForm& form : kWireForms) {
            if (form.type == type)
                return form.form;
        }
        ADD_FAILURE() << "no wire form for " << type;
        return "";
    }

    void Sequence(Bytes& out, const std::string& form, size_t& at)
    {
        while (at < form.size() && form[at] != '}') {
            if (form[at] == ' ') {
                ++at;
                continue;
            }
            size_t end = at;
            while (end < form.size() && form[end] != ' ' && form[end] != '{' && form[end] != '}')
                ++end;
            const std::string token = form.substr(at, end - at);
            at = end;
            if (at < form.size() && form[at] == '{') {
                const size_t close = MatchingBrace(form, at);
                uint32_t repeat;
                if (token == "c8" || token == "c16") {
                    repeat = Pick(0, 3);
                    token == "c8" ? U8(out, repeat) : U16(out, repeat);
                } else {
                    repeat = (uint32_t)std::stoul(token);   // "N*"
                }
                for (uint32_t i = 0; i < repeat; ++i) {
                    size_t inner = at + 1;
                    Sequence(out, form, inner);
                }
                at = close + 1;
            } else {
                Token(out, token);
            }
        }
    }

    void Token(Bytes& out, const std::string& token)
    {
        if (token == "u8") return Random(out, 1);
        if (token == "u16") return Random(out, 2);
        if (token == "u32") return Random(out, 4);
        if (token == "s8" || token == "L8") return Text8(out);
        if (token == "t8") {
            Random(out, 2);
            return Text8(out);
        }
        if (token == "L16") {
            const uint32_t length = Pick(0, 9);
            U16(out, length);
            return Random(out, length);
        }
        if (token == "o9") {
            U8(out, Pick(0, 2) == 0 ? 3 : Pick(0, 1) ? 4 : 7);
            return Random(out, 8);
        }
        if (token == "attrs") return Attributes(out);
        if (token[0] == 'b') return Random(out, std::stoul(token.substr(1)));
        ADD_FAILURE() << "unknown token " << token;
    }

    using Special = std::function<void(Generator&, Bytes&)>;
    static const std::map<uint16_t, Special> kSpecial;

    std::mt19937 rng_;
};

bool KindUsesTail(uint32_t kind)
{
    static const std::set<uint32_t> kinds = {2, 3, 4, 10, 11, 12, 15, 16, 20, 21, 22, 23, 24, 25};
    return kinds.count(kind) != 0;
}

// Record forms 1 and 2 of value types 44 and 46: 27 and 41 bytes.
uint32_t RecordForm(Generator& g, Bytes& out)
{
    const uint32_t form = g.Pick(1, 2);
    g.U8(out, form);
    return form;
}

void AddressForm(Generator& g, Bytes& out, uint32_t kind)
{
    static const std::map<uint32_t, uint32_t> bodies = {{1, 6}, {2, 6}, {3, 12}, {4, 12}, {5, 12}, {6, 17}, {7, 4},
                                                        {8, 16}, {9, 18}, {10, 8}, {11, 8}, {12, 8}, {13, 0},
                                                        {14, 6}, {15, 18}};
    g.U16(out, kind);
    g.U8(out, bodies.at(kind));
    g.Random(out, bodies.at(kind));
}

const std::map<uint16_t, Generator::Special> Generator::kSpecial = {
    {1, [](Generator& g, Bytes& out) {
         const bool word = g.Pick(0, 1);
         g.U8(out, word ? 29 : g.Pick(30, 40));
         g.Random(out, 1);
         if (word)
             g.U8(out, 0);   // the high byte does not travel back
         else
             g.Random(out, 1);
         g.Random(out, 1);
     }},
    {3, [](Generator& g, Bytes& out) {
         g.Random(out, 1);
         const uint32_t count = g.Pick(0, 3);
         g.U8(out, count);
         for (uint32_t i = 0; i < count; ++i) {
             g.Random(out, 4);
             const uint32_t kind = g.Pick(0, 26);
             g.U8(out, kind);
             if (KindUsesTail(kind))
                 g.Random(out, 3);
             else
                 out.insert(out.end(), 3, 0);
         }
     }},
    {27, [](Generator& g, Bytes& out) {
         const bool one = g.Pick(0, 1);
         g.U8(out, one ? 1 : g.Pick(2, 9));
         if (one) {
             g.Random(out, 2);
         } else {
             g.Random(out, 1);
             g.Text8(out);
             g.Random(out, 41);
         }
         g.Random(out, 2);
     }},
    {44, [](Generator& g, Bytes& out) {
         g.Random(out, 3);
         const uint32_t form = RecordForm(g, out);
         const uint32_t count = g.Pick(0, 3);
         g.U8(out, count);
         g.Random(out, count * (form == 1 ? 27 : 41));
     }},
    {46, [](Generator& g, Bytes& out) {
         g.Random(out, 1);
         g.Text8(out);
         g.Random(out, RecordForm(g, out) == 1 ? 27 : 41);
         g.Random(out, 1);
         g.Text8(out);
         g.Random(out, 2);
     }},
    {76, [](Generator& g, Bytes& out) {
         const uint32_t count = g.Pick(0, 3);
         g.U16(out, count);
         g.Random(out, 2 * count);
         g.U32(out, 7);
         Bytes address;
         AddressForm(g, address, g.Pick(1, 15));
         g.U16(out, (uint32_t)address.size());
         out.insert(out.end(), address.begin(), address.end());
         g.Random(out, 4);
     }},
    {93, [](Generator& g, Bytes& out) {
         const auto [id, type] = kNestableAttributes[g.Pick(0, 4)];
         g.Random(out, 2);
         g.U16(out, id);
         g.Value(out, type, true);
     }},
    {94, [](Generator& g, Bytes& out) {
         static const std::map<uint32_t, uint32_t> itemBytes = {{1, 0}, {3, 1}, {4, 1}, {5, 4},
                                                                 {6, 1}, {7, 3}, {8, 5}, {9, 4}};
         g.Random(out, 1);
         const uint32_t pairs = g.Pick(0, 3);
         g.U8(out, pairs);
         g.Random(out, 8 * pairs);
         const uint32_t items = g.Pick(0, 3);
         g.U8(out, items);
         for (uint32_t i = 0; i < items; ++i) {
             auto item = itemBytes.begin();
             std::advance(item, g.Pick(0, (uint32_t)itemBytes.size() - 1));
             g.U8(out, item->first);
             g.Random(out, item->second);
         }
     }},
    {151, [](Generator& g, Bytes& out) {
         const uint32_t form = g.Pick(1, 3);
         g.U8(out, form);
         if (form == 1)
             return g.U16(out, 0);   // read and dropped
         const uint32_t count = g.Pick(0, 3);
         g.U16(out, count);
         g.Random(out, 10 * count);
     }},
};

// Every 8-aligned word that holds a pointer points inside its block. The wire, copied elsewhere, is
// decoded again into a second block: a word that differs between the two is a pointer (into the
// block, or wrongly into the input) and must sit at the same offset inside each block. Small
// numbers never pass for pointers, wherever the heap lies.
void ExpectPointersInside(const DmlpForm* form, const Bytes& wire, uint8_t multi, const uint8_t* block, size_t size)
{
    Bytes input = wire;
    uint8_t* other = (uint8_t*)calloc(1, size != 0 ? size : 1);
    DmlpCursor in{input.data(), (int32_t)input.size()};
    DmlpValueDecode(form, other, &in, multi, kVersion);
    const uintptr_t begin = (uintptr_t)block;
    const uintptr_t otherBegin = (uintptr_t)other;
    for (size_t offset = 0; offset + 8 <= size; offset += 8) {
        uintptr_t word, otherWord;
        memcpy(&word, block + offset, sizeof word);
        memcpy(&otherWord, other + offset, sizeof otherWord);
        if (word == otherWord)
            continue;
        EXPECT_TRUE(word >= begin && word < begin + size && word - begin == otherWord - otherBegin)
            << "word at +" << offset << " points outside the block";
    }
    free(other);
}

struct Decoded {
    uint8_t* block = nullptr;
    uint16_t size = 0;
    ~Decoded() { free(block); }
};

// Measures and decodes wire (all of it must be one value) into a block of exactly the measured size.
void DecodeExactly(const DmlpForm* form, const Bytes& wire, uint8_t multi, Decoded* decoded)
{
    Bytes input = wire;
    DmlpCursor in{input.data(), (int32_t)input.size()};
    ASSERT_EQ(DmlpValueDecSize(form, &in, multi, &decoded->size, kVersion), DMLP_CODER_OK);
    EXPECT_EQ(in.count, 0) << "the value's form consumes exactly its bytes";
    ASSERT_EQ(decoded->size % 8, 0);
    decoded->block = (uint8_t*)calloc(1, decoded->size);
    DmlpCursor again{input.data(), (int32_t)input.size()};
    EXPECT_EQ(DmlpValueDecode(form, decoded->block, &again, multi, kVersion), decoded->block + decoded->size)
        << "decode uses what decSize measured";
    EXPECT_EQ(again.count, 0);
}

Bytes EncodeExactly(const DmlpForm* form, const void* value, uint8_t multi)
{
    uint16_t size = 0;
    EXPECT_EQ(DmlpValueEncSize(form, value, multi, &size, kVersion), DMLP_CODER_OK);
    uint8_t* out = (uint8_t*)malloc(size != 0 ? size : 1);
    DmlpCursor cursor{out, size};
    DmlpValueEncode(&cursor, form, value, multi, kVersion);
    EXPECT_EQ(cursor.count, 0);
    EXPECT_EQ(cursor.ptr, out + size) << "encode writes exactly the size";
    Bytes bytes(out, out + size);
    free(out);
    return bytes;
}

// Every strict prefix refused with the cursor kept, decoded into exactly the measured block,
// pointers inside it, encoded back into exactly the wire bytes.
void CheckForm(const DmlpForm* form, uint8_t multi, const Bytes& wire)
{
    Bytes input = wire;
    for (size_t prefix = 0; prefix < input.size(); ++prefix) {
        DmlpCursor in{input.data(), (int32_t)prefix};
        uint16_t size = 0xABCD;
        EXPECT_NE(DmlpValueDecSize(form, &in, multi, &size, kVersion), DMLP_CODER_OK) << prefix << " bytes";
        EXPECT_EQ(in.ptr, input.data());
        EXPECT_EQ(size, 0xABCD);
    }
    Decoded decoded;
    DecodeExactly(form, wire, multi, &decoded);
    if (decoded.block == nullptr)
        return;
    ExpectPointersInside(form, wire, multi, decoded.block, decoded.size);
    EXPECT_EQ(EncodeExactly(form, decoded.block, multi), wire) << "round trip";
}

void CheckValue(uint16_t type, uint8_t multi, const Bytes& wire)
{
    SCOPED_TRACE("value type " + std::to_string(type) + " multi " + std::to_string(multi));
    CheckForm(FormOf(type), multi, wire);
}

const std::set<uint16_t>& AllTypes()
{
    static const std::set<uint16_t> types = [] {
        std::set<uint16_t> all;
        all.insert(kSingleValued.begin(), kSingleValued.end());
        all.insert(kCount8.begin(), kCount8.end());
        all.insert(kCount16.begin(), kCount16.end());
        return all;
    }();
    return types;
}

class Values : public CoderTest {};

TEST_F(Values, FamiliesCountWidthsAndRecordSizes)
{
    EXPECT_EQ(kSingleValued.size(), 74u);
    EXPECT_EQ(kCount8.size(), 60u);
    EXPECT_EQ(kCount16.size(), 15u);
    EXPECT_EQ(AllTypes().size(), 149u) << "the families do not overlap";
    EXPECT_EQ(std::size(kMemoryShapes), 149u);
    for (const MemoryShape& shape : kMemoryShapes) {
        SCOPED_TRACE(shape.type);
        ASSERT_NE(FormOf(shape.type), nullptr);
        EXPECT_EQ(FormOf(shape.type)->countWidth, shape.countWidth);
        EXPECT_EQ(FormOf(shape.type)->countWidth, CountWidth(shape.type));
        EXPECT_EQ(FormOf(shape.type)->size, shape.size);
    }
    size_t generated = 0;
    for (const WireForm& form : kWireForms) {
        const std::string text = form.form;
        const bool counted = (text.rfind("c8{", 0) == 0 || text.rfind("c16{", 0) == 0) &&
                             MatchingBrace(text, text.find('{')) == text.size() - 1;
        EXPECT_EQ(counted, CountWidth(form.type) != 0) << form.type;
        ++generated;
    }
    EXPECT_EQ(generated + 9, 149u) << "nine types have generators of their own";
}

size_t OpWidth(const DmlpOp& op)
{
    switch (op.kind) {
    case DMLP_OP_U8:
    case DMLP_OP_N8:
    case DMLP_OP_TAGGED: return op.kind == DMLP_OP_TAGGED ? sizeof(DmlpTaggedOctets) : 1;
    case DMLP_OP_U16:
    case DMLP_OP_N16: return 2;
    case DMLP_OP_U32: return 4;
    case DMLP_OP_BLOCK: return op.width;
    case DMLP_OP_ATTRS: return sizeof(DmlpAttributeList);
    case DMLP_OP_ADDRESS: return sizeof(DmlpAddress);
    default: return 8;   // pointers and widened integers
    }
}

size_t OpAlignment(const DmlpOp& op)
{
    switch (op.kind) {
    case DMLP_OP_BLOCK: return 1;
    case DMLP_OP_TAGGED: return 4;
    default: return std::min<size_t>(OpWidth(op), 8);
    }
}

// Every described field lies inside its record, aligned, and no two overlap.
void ExpectFieldsInside(const DmlpForm* form, const std::string& name)
{
    if (form->hook != nullptr)
        return;
    std::vector<bool> used(form->size, false);
    for (uint8_t i = 0; i < form->opCount; ++i) {
        const DmlpOp& op = form->ops[i];
        const size_t width = OpWidth(op);
        ASSERT_LE(op.offset + width, form->size) << name << " op " << int(i);
        EXPECT_EQ(op.offset % OpAlignment(op), 0u) << name << " op " << int(i);
        for (size_t b = op.offset; b < op.offset + width; ++b) {
            EXPECT_FALSE(used[b]) << name << " byte " << b;
            used[b] = true;
        }
        const bool variable = op.kind == DMLP_OP_TEXT || op.kind == DMLP_OP_BYTES || op.kind == DMLP_OP_ARRAY;
        if (variable) {
            ASSERT_GT(i, 0) << name;
            const uint8_t before = form->ops[i - 1].kind;
            EXPECT_TRUE(before == DMLP_OP_N8 || before == DMLP_OP_N16) << name << ": a count comes first";
        }
        if (op.kind == DMLP_OP_ARRAY)
            ExpectFieldsInside(op.element, name + " element");
    }
}

TEST_F(Values, DescribedFieldsStayInsideTheirRecords)
{
    for (uint16_t type : AllTypes())
        ExpectFieldsInside(FormOf(type), "value type " + std::to_string(type));
}

TEST_F(Values, EveryValueTypeMeasuresDecodesAndRoundTrips)
{
    for (uint16_t type : AllTypes()) {
        for (uint32_t seed = 1; seed <= 24; ++seed) {
            Generator g(type * 1000 + seed);
            Bytes wire;
            g.Value(wire, type, true);
            CheckValue(type, 1, wire);
            if (CountWidth(type) != 0) {
                Bytes element;
                g.Value(element, type, false);
                CheckValue(type, 0, element);
            }
        }
    }
}

TEST_F(Values, DamagedInputNeverReachesPastTheMeasuredBlock)
{
    for (uint16_t type : AllTypes()) {
        for (uint32_t seed = 1; seed <= 40; ++seed) {
            Generator g(type * 7919 + seed);
            Bytes wire;
            g.Value(wire, type, true);
            const uint32_t changes = g.Pick(1, 3);
            for (uint32_t i = 0; i < changes && !wire.empty(); ++i)
                wire[g.Pick(0, (uint32_t)wire.size() - 1)] = (uint8_t)g.Pick(0, 255);
            wire.resize(wire.size() + g.Pick(0, 4), 0xFF);
            DmlpCursor in{wire.data(), (int32_t)wire.size()};
            uint16_t size;
            if (DmlpValueDecSize(FormOf(type), &in, 1, &size, kVersion) != DMLP_CODER_OK)
                continue;
            const int32_t consumed = (int32_t)wire.size() - in.count;
            uint8_t* block = (uint8_t*)calloc(1, size);
            DmlpCursor again{wire.data(), (int32_t)wire.size()};
            EXPECT_EQ(DmlpValueDecode(FormOf(type), block, &again, 1, kVersion), block + size) << type;
            EXPECT_EQ((int32_t)wire.size() - again.count, consumed) << type;
            ExpectPointersInside(FormOf(type), wire, 1, block, size);
            uint16_t encoded;
            if (DmlpValueEncSize(FormOf(type), block, 1, &encoded, kVersion) == DMLP_CODER_OK)
                EncodeExactly(FormOf(type), block, 1);
            free(block);
        }
    }
}

// ---- Bytes written out by hand --------------------------------------------------------------------

TEST_F(Values, Type1ElementsWithKind29CarryOnlyTheirFourthByte)
{
    const Bytes wire = {0x02, 0x1D, 0x05, 0x12, 0x34, 0x07, 0x01, 0x02, 0x03};
    Decoded decoded;
    DecodeExactly(FormOf(1), wire, 1, &decoded);
    ASSERT_EQ(decoded.size, 24);
    EXPECT_EQ(decoded.block[0], 2);
    ASSERT_EQ(Pointer(decoded.block, 8), decoded.block + 16);
    EXPECT_EQ(Bytes(decoded.block + 16, decoded.block + 24), (Bytes{0x1D, 0x05, 0x12, 0x34, 0x07, 0x01, 0x02, 0x03}));
    EXPECT_EQ(EncodeExactly(FormOf(1), decoded.block, 1),
              (Bytes{0x02, 0x1D, 0x05, 0x00, 0x34, 0x07, 0x01, 0x02, 0x03}));
}

struct Multi {
    uint8_t count;
    const void* elements;
};
struct Multi16 {
    uint16_t count;
    const void* elements;
};
static_assert(offsetof(Multi, elements) == 8 && offsetof(Multi16, elements) == 8, "multi header");

struct Inner3 {
    uint32_t value;
    uint8_t kind;
    uint8_t tail[3];
};
struct Element3 {
    uint8_t first;
    uint8_t unused[7];
    uint8_t count;
    const Inner3* inner;
};
static_assert(sizeof(Element3) == 24 && offsetof(Element3, count) == 8 && offsetof(Element3, inner) == 16, "3");

TEST_F(Values, Type3SendsTheInnerTailOnlyForKindsThatUseIt)
{
    const Inner3 inner[2] = {{0x01020304, 5, {7, 8, 9}}, {0x0A0B0C0D, 2, {7, 8, 9}}};
    const Element3 element = {9, {}, 2, inner};
    const Multi value = {1, &element};
    const Bytes wire = {0x01, 0x09, 0x02, 0x01, 0x02, 0x03, 0x04, 0x05, 0x00, 0x00, 0x00,
                        0x0A, 0x0B, 0x0C, 0x0D, 0x02, 0x07, 0x08, 0x09};
    EXPECT_EQ(EncodeExactly(FormOf(3), &value, 1), wire) << "1 + 8 bytes per inner element";

    Bytes received = wire;
    received[8] = 7;   // the first inner tail as a device may send it
    Decoded decoded;
    DecodeExactly(FormOf(3), received, 1, &decoded);
    ASSERT_EQ(decoded.size, 16 + 24 + 16);
    const uint8_t* inners = Pointer(decoded.block, 16 + 16);
    ASSERT_EQ(inners, decoded.block + 40);
    EXPECT_EQ(Load<uint32_t>(inners, 0), 0x01020304u);
    EXPECT_EQ(Bytes(inners + 4, inners + 8), (Bytes{5, 7, 0, 0})) << "read whatever the kind";
}

TEST_F(Values, Types25And47InnerListsTakeThreeAndFourteenBytesPerElement)
{
    const Bytes wire25 = {0x01, 0x33, 0x02, 0x01, 0x02, 0x0A, 0x03, 0x04, 0x0B};
    Decoded decoded25;
    DecodeExactly(FormOf(25), wire25, 1, &decoded25);
    ASSERT_EQ(decoded25.size, 16 + 24 + 8);
    const uint8_t* element = decoded25.block + 16;
    EXPECT_EQ(element[0], 0x33);
    EXPECT_EQ(element[8], 2);
    const uint8_t* inner = Pointer(element, 16);
    ASSERT_EQ(inner, decoded25.block + 40);
    EXPECT_EQ(Load<uint16_t>(inner, 0), 0x0102);
    EXPECT_EQ(inner[2], 0x0A);
    EXPECT_EQ(Load<uint16_t>(inner, 4), 0x0304);
    EXPECT_EQ(inner[6], 0x0B);
    EXPECT_EQ(EncodeExactly(FormOf(25), decoded25.block, 1), wire25);

    const Bytes wire47 = {0x01, 0x44, 0x01, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06,
                          0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E};
    Decoded decoded47;
    DecodeExactly(FormOf(47), wire47, 1, &decoded47);
    ASSERT_EQ(decoded47.size, 16 + 24 + 16);
    const uint8_t* inner47 = Pointer(decoded47.block + 16, 16);
    ASSERT_EQ(inner47, decoded47.block + 40);
    EXPECT_EQ(inner47[0], 0x01);
    EXPECT_EQ(inner47[1], 0x02);
    EXPECT_EQ(Load<uint16_t>(inner47, 2), 0x0304);
    EXPECT_EQ(Load<uint32_t>(inner47, 4), 0x05060708u);
    EXPECT_EQ(Load<uint32_t>(inner47, 8), 0x090A0B0Cu);
    EXPECT_EQ(inner47[12], 0x0D);
    EXPECT_EQ(inner47[13], 0x0E);
    EXPECT_EQ(EncodeExactly(FormOf(47), decoded47.block, 1), wire47);
}

TEST_F(Values, Type76CarriesAnAddressFormBehindItsSize)
{
    const Bytes wire = {0x01, 0x00, 0x01, 0x01, 0x02, 0x00, 0x00, 0x00, 0x07, 0x00, 0x09, 0x00, 0x02,
                        0x06, 0x7F, 0x00, 0x00, 0x01, 0xB9, 0xB9, 0x00, 0x00, 0x00, 0x2A};
    Decoded decoded;
    DecodeExactly(FormOf(76), wire, 1, &decoded);
    ASSERT_EQ(decoded.size, 16 + 64 + 8);
    const uint8_t* element = decoded.block + 16;
    EXPECT_EQ(Load<uint16_t>(element, 0), 1);
    ASSERT_EQ(Pointer(element, 8), decoded.block + 80);
    EXPECT_EQ(Load<uint16_t>(decoded.block, 80), 0x0102);
    EXPECT_EQ(Load<uint32_t>(element, 16), 7u);
    const DmlpAddress address = Load<DmlpAddress>(element, 24);
    EXPECT_EQ(address.kind, 2);
    EXPECT_EQ(Bytes(address.u.inet.address, address.u.inet.address + 4), (Bytes{0x7F, 0, 0, 1}));
    EXPECT_EQ(address.u.inet.port, 47545);
    EXPECT_EQ(Load<uint32_t>(element, 56), 42u);
    EXPECT_EQ(EncodeExactly(FormOf(76), decoded.block, 1), wire);

    const Bytes noAddress = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x07, 0x00, 0x00, 0x00, 0x00, 0x00, 0x2A};
    Decoded empty;
    DecodeExactly(FormOf(76), noAddress, 1, &empty);
    EXPECT_EQ(Load<DmlpAddress>(empty.block + 16, 24).kind, 0);
    uint16_t size;
    EXPECT_EQ(DmlpValueEncSize(FormOf(76), empty.block, 1, &size, kVersion), DMLP_CODER_BAD_ARGUMENT)
        << "no address kind to send";

    Bytes refused = wire;
    refused[12] = 0x10;   // kind 16
    DmlpCursor in{refused.data(), (int32_t)refused.size()};
    EXPECT_EQ(DmlpValueDecSize(FormOf(76), &in, 1, &size, kVersion), DMLP_CODER_BAD_ADDRESS_KIND);
    refused = wire;
    refused[10] = 0x0A;   // L one too large
    in = {refused.data(), (int32_t)refused.size()};
    EXPECT_EQ(DmlpValueDecSize(FormOf(76), &in, 1, &size, kVersion), DMLP_CODER_TRUNCATED);
    refused = wire;
    refused[13] = 0x07;   // length byte not the kind's
    in = {refused.data(), (int32_t)refused.size()};
    EXPECT_EQ(DmlpValueDecSize(FormOf(76), &in, 1, &size, kVersion), DMLP_CODER_TRUNCATED);

    uint8_t* element76 = decoded.block + 16;
    const uint32_t selector = 6;
    memcpy(element76 + 16, &selector, 4);
    EXPECT_EQ(DmlpValueEncSize(FormOf(76), decoded.block, 1, &size, kVersion), DMLP_CODER_BAD_ARGUMENT);
}

TEST_F(Values, Type143NestsAnAttributeListKeepingUnknownAttributesRaw)
{
    const Bytes wire = {0x01, 0x02, 0x01, 0x00, 0x00, 0x00, 0x63, 0x00, 0x00, 0x01, 0x00, 0x05, 0x00, 0x02,
                        0x01, 0x21, 0x00, 0x04, 0xDE, 0xAD, 0xBE, 0xEF, 0x27, 0x0F, 0x00, 0x03, 'A', 'B', 'C'};
    Decoded decoded;
    DecodeExactly(FormOf(143), wire, 1, &decoded);
    const uint8_t* b = decoded.block;
    ASSERT_EQ(decoded.size, 104);
    EXPECT_EQ(b[0], 1);
    EXPECT_EQ(b[1], 2);
    EXPECT_EQ(b[8], 1);
    ASSERT_EQ(Pointer(b, 16), b + 48);
    EXPECT_EQ(Load<uint32_t>(b, 48), 0x63u);
    EXPECT_EQ(Load<uint32_t>(b, 24), 0x100u);
    EXPECT_EQ(b[28], 5);
    EXPECT_EQ(Load<uint16_t>(b, 32), 2);
    ASSERT_EQ(Pointer(b, 40), b + 56);
    const DmlpAttributeEntry known = Load<DmlpAttributeEntry>(b, 56);
    const DmlpAttributeEntry raw = Load<DmlpAttributeEntry>(b, 72);
    EXPECT_EQ(known.id, 289);
    EXPECT_EQ(known.length, 0) << "decoded through its type";
    ASSERT_EQ(known.value, b + 88);
    EXPECT_EQ(Load<uint32_t>(b, 88), 0xDEADBEEFu);
    EXPECT_EQ(raw.id, 9999);
    EXPECT_EQ(raw.length, 3);
    ASSERT_EQ(raw.value, b + 96);
    EXPECT_EQ(memcmp(raw.value, "ABC", 3), 0);
    uint16_t size;
    EXPECT_EQ(DmlpValueEncSize(FormOf(143), b, 1, &size, kVersion), DMLP_CODER_UNKNOWN_ATTRIBUTE)
        << "an attribute without a value type cannot be sent";
}

TEST_F(Values, Type144NestsItsOwnType)
{
    const Bytes wire = {0x03, 0x04, 0x05, 0x00, 0x00, 0x00, 0x00, 0x07, 0x00, 0x01, 0x01, 0x1B, 0x00, 0x0E,
                        0x06, 0x07, 0x08, 0x01, 0x00, 0x00, 0x00, 0x09, 0x00, 0x00, 0x00, 0x0A, 0x00, 0x00};
    Decoded decoded;
    DecodeExactly(FormOf(144), wire, 1, &decoded);
    const uint8_t* b = decoded.block;
    ASSERT_EQ(decoded.size, 120);
    EXPECT_EQ(Bytes(b, b + 3), (Bytes{3, 4, 5}));
    EXPECT_EQ(Pointer(b, 16), nullptr);
    EXPECT_EQ(Load<uint32_t>(b, 24), 7u);
    EXPECT_EQ(Load<uint16_t>(b, 32), 1);
    ASSERT_EQ(Pointer(b, 40), b + 48);
    const DmlpAttributeEntry entry = Load<DmlpAttributeEntry>(b, 48);
    EXPECT_EQ(entry.id, 283);
    EXPECT_EQ(entry.length, 0);
    ASSERT_EQ(entry.value, b + 64);
    const uint8_t* nested = b + 64;
    EXPECT_EQ(Bytes(nested, nested + 3), (Bytes{6, 7, 8}));
    EXPECT_EQ(nested[8], 1);
    ASSERT_EQ(Pointer(nested, 16), b + 112);
    EXPECT_EQ(Load<uint32_t>(b, 112), 9u);
    EXPECT_EQ(Load<uint32_t>(nested, 24), 10u);
    EXPECT_EQ(Load<uint16_t>(nested, 32), 0);
    EXPECT_EQ(Pointer(nested, 40), nullptr);
    EXPECT_EQ(EncodeExactly(FormOf(144), b, 1), wire);
}

TEST_F(Values, Type151FormsAndTheirRefusals)
{
    const Bytes form1 = {0x01, 0x12, 0x34};
    Decoded decoded;
    DecodeExactly(FormOf(151), form1, 1, &decoded);
    ASSERT_EQ(decoded.size, 24);
    EXPECT_EQ(decoded.block[0], 1);
    EXPECT_EQ(Load<uint16_t>(decoded.block, 8), 0) << "the uint16 of form 1 is dropped";
    EXPECT_EQ(Pointer(decoded.block, 16), nullptr);
    uint8_t sent[24] = {1};
    const uint16_t word = 0x0102;
    memcpy(sent + 8, &word, 2);
    EXPECT_EQ(EncodeExactly(FormOf(151), sent, 1), (Bytes{0x01, 0x01, 0x02})) << "form 1 sends the uint16 at +8";

    Bytes form2 = {0x02, 0x00, 0x05};
    for (int i = 0; i < 5; ++i)
        form2.insert(form2.end(), {0, 0, 0, (uint8_t)i, 0, (uint8_t)i, 0, 0, 1, (uint8_t)i});
    Decoded decoded2;
    DecodeExactly(FormOf(151), form2, 1, &decoded2);
    EXPECT_EQ(decoded2.size, 24 + 16 * 5) << "elements are measured at 16 bytes";
    const uint8_t* elements = Pointer(decoded2.block, 16);
    ASSERT_EQ(elements, decoded2.block + 24);
    EXPECT_EQ(Load<uint32_t>(elements, 12 * 4), 4u);
    EXPECT_EQ(Load<uint16_t>(elements, 12 * 4 + 4), 4);
    EXPECT_EQ(Load<uint32_t>(elements, 12 * 4 + 8), 0x104u);
    DmlpCursor shortInput{form2.data(), 52};
    uint16_t size;
    EXPECT_EQ(DmlpValueDecSize(FormOf(151), &shortInput, 1, &size, kVersion), DMLP_CODER_TRUNCATED);

    Bytes form4 = {0x04};
    DmlpCursor in{form4.data(), 1};
    EXPECT_EQ(DmlpValueDecSize(FormOf(151), &in, 1, &size, kVersion), DMLP_CODER_BAD_ARGUMENT);
    sent[0] = 4;
    EXPECT_EQ(DmlpValueEncSize(FormOf(151), sent, 1, &size, kVersion), DMLP_CODER_BAD_ARGUMENT);
}

TEST_F(Values, SelectorsOutsideTheirSets)
{
    uint16_t size;
    Bytes wire44 = {0x01, 0x00, 0x00, 0x00, 0x03, 0x00};   // form byte 3
    DmlpCursor in{wire44.data(), (int32_t)wire44.size()};
    EXPECT_EQ(DmlpValueDecSize(FormOf(44), &in, 1, &size, kVersion), DMLP_CODER_BAD_ADDRESS_KIND);
    Bytes wire46 = {0x01, 0x00, 0x00, 0x00};
    in = {wire46.data(), (int32_t)wire46.size()};
    EXPECT_EQ(DmlpValueDecSize(FormOf(46), &in, 1, &size, kVersion), DMLP_CODER_BAD_ADDRESS_KIND);
    Bytes wire94 = {0x01, 0x00, 0x00, 0x01, 0x02};   // inner kind 2
    in = {wire94.data(), (int32_t)wire94.size()};
    EXPECT_EQ(DmlpValueDecSize(FormOf(94), &in, 1, &size, kVersion), DMLP_CODER_BAD_ARGUMENT);
    Bytes wire93 = {0x01, 0x00, 0x00, 0x27, 0x0F, 0x00};   // attribute 9999
    in = {wire93.data(), (int32_t)wire93.size()};
    EXPECT_EQ(DmlpValueDecSize(FormOf(93), &in, 1, &size, kVersion), DMLP_CODER_UNKNOWN_ATTRIBUTE);

    uint8_t element44[16] = {0, 0, 0, 0, 3};
    const Multi value44 = {1, element44};
    EXPECT_EQ(DmlpValueEncSize(FormOf(44), &value44, 1, &size, kVersion), DMLP_CODER_BAD_ARGUMENT);
    uint8_t element46[104] = {};
    element46[24] = 0;
    const Multi value46 = {1, element46};
    EXPECT_EQ(DmlpValueEncSize(FormOf(46), &value46, 1, &size, kVersion), DMLP_CODER_BAD_ARGUMENT);
}

// ---- Sizes and layouts the decoded form promises ---------------------------------------------------

uint16_t Measure(uint16_t type, const Bytes& wire, uint8_t multi = 1)
{
    Bytes input = wire;
    DmlpCursor in{input.data(), (int32_t)input.size()};
    uint16_t size = 0;
    EXPECT_EQ(DmlpValueDecSize(FormOf(type), &in, multi, &size, kVersion), DMLP_CODER_OK) << type;
    EXPECT_EQ(in.count, 0) << type;
    return size;
}

TEST_F(Values, DecodedSizes)
{
    EXPECT_EQ(Measure(66, {0x00}), 16) << "an empty multi-valued value is its header";
    EXPECT_EQ(Measure(4, {0x07}), 8);
    EXPECT_EQ(Measure(6, {0x03, 1, 2, 3, 4, 5, 6}), 16 + 8);
    EXPECT_EQ(Measure(118, {0x00}), 16) << "an empty text takes no space";
    EXPECT_EQ(Measure(118, {0x07, 1, 2, 3, 4, 5, 6, 7}), 16 + 8);
    EXPECT_EQ(Measure(118, {0x08, 1, 2, 3, 4, 5, 6, 7, 8}), 16 + 16) << "the text's reserved zero byte";
    EXPECT_EQ(Measure(53, {0x01, 0x02, 0x08, 1, 2, 3, 4, 5, 6, 7, 8}), 24 + 8) << "a byte string has no zero byte";
    EXPECT_EQ(Measure(141, {0x01, 0x00, 0x02}), 8);
    EXPECT_EQ(Measure(15, {0x02, 0x00, 0x01, 0x00, 0x02, 0x00, 0x03}), 24 + 8);
    EXPECT_EQ(Measure(139, Bytes(64, 0x11)), 64);
    EXPECT_EQ(Measure(32, {0x01, 0x00, 0x11, 0x00, 0x02, 0x08, 1, 2, 3, 4, 5, 6, 7, 8}), 48 + 16)
        << "value type 32 measures its byte string with a spare byte";

    Decoded bytes13;
    DecodeExactly(FormOf(13), {0x03, 'a', 'b', 'c'}, 1, &bytes13);
    ASSERT_EQ(bytes13.size, 24);
    EXPECT_EQ(Bytes(bytes13.block + 16, bytes13.block + 24), (Bytes{'a', 'b', 'c', 0, 0, 0, 0, 0}));

    Decoded empty;
    DecodeExactly(FormOf(67), {0x00, 0x00}, 1, &empty);
    EXPECT_EQ(Load<uint16_t>(empty.block, 0), 0);
    EXPECT_EQ(Pointer(empty.block, 8), nullptr);
}

TEST_F(Values, ShortInputLeavesTheCursorWhereItWas)
{
    Bytes wire15 = {0x02, 0x00, 0x01, 0x00, 0x02, 0x00};
    DmlpCursor in{wire15.data(), 6};
    uint16_t size = 0x5555;
    EXPECT_EQ(DmlpValueDecSize(FormOf(15), &in, 1, &size, kVersion), DMLP_CODER_TRUNCATED);
    EXPECT_EQ(in.ptr, wire15.data());
    EXPECT_EQ(in.count, 6);
    EXPECT_EQ(size, 0x5555);
    Bytes oneByte = {0x00};
    in = {oneByte.data(), 1};
    EXPECT_EQ(DmlpValueDecSize(FormOf(112), &in, 1, &size, kVersion), DMLP_CODER_TRUNCATED);
}

TEST_F(Values, ClientJobIdIsHostOrderNumbersAndBytesAsReceived)
{
    Bytes wire = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
    for (int i = 0; i < 56; ++i)
        wire.push_back((uint8_t)(0x40 + i));
    Decoded decoded;
    DecodeExactly(FormOf(139), wire, 1, &decoded);
    EXPECT_EQ(Load<uint32_t>(decoded.block, 0), 0x01020304u);
    EXPECT_EQ(Load<uint16_t>(decoded.block, 4), 0x0506);
    EXPECT_EQ(Load<uint16_t>(decoded.block, 6), 0x0708);
    EXPECT_EQ(Bytes(decoded.block + 8, decoded.block + 64), Bytes(wire.begin() + 8, wire.end()));
}

TEST_F(Values, TextsOfType2AreTerminatedAndLaidOutBehindTheRecord)
{
    const Bytes wire = {1, 2, 3, 4, 0x03, 'a', 'b', 'c', 5, 6, 0x07, 0x08, 0, 0, 0, 9, 0, 0, 0, 10, 11};
    Decoded decoded;
    DecodeExactly(FormOf(2), wire, 1, &decoded);
    ASSERT_EQ(decoded.size, 48);
    EXPECT_EQ(decoded.block[8], 3);
    ASSERT_EQ(Pointer(decoded.block, 16), decoded.block + 40);
    EXPECT_STREQ((const char*)decoded.block + 40, "abc");
    EXPECT_EQ(decoded.block[24], 5);
    EXPECT_EQ(decoded.block[25], 6);
    EXPECT_EQ(Load<uint16_t>(decoded.block, 26), 0x0708);
    EXPECT_EQ(Load<uint32_t>(decoded.block, 28), 9u);
    EXPECT_EQ(Load<uint32_t>(decoded.block, 32), 10u);
    EXPECT_EQ(decoded.block[36], 11);
}

// ---- The decoded record of every value type, field by field ------------------------------------------

// One element (or the record of a single-valued type) as the wire carries it, each field with its
// offset in the decoded record: W@offset a W-byte integer (host order in memory), nW a count or
// length (sent as 0, so nothing follows it), =V a selector sent as V, zW a wire field that memory
// does not keep, bN N bytes as they stand, t the tagged eight-byte form (tag, three zero bytes, the
// eight bytes). Type 93 (an element holding another attribute's value) has tests of its own.
const std::pair<uint16_t, const char*> kRecordFields[] = {
    {1, "1@0=5 1@1 1@2 1@3"},
    {2, "1@0 1@1 1@2 1@3 n1@8 1@24 1@25 2@26 4@28 4@32 1@36"},
    {3, "1@0 n1@8"},
    {4, "1@0"},
    {5, "1@0 1@1"},
    {6, "1@0 1@1"},
    {7, "1@0 1@1 1@2"},
    {8, "1@0 1@1 1@2"},
    {9, "1@0 1@1 1@2 1@3"},
    {10, "1@0 1@1 1@2 1@3"},
    {11, "1@0 1@1 1@2 1@3 1@4"},
    {12, "1@0 1@1 1@2 1@3 1@4"},
    {13, "1@0"},
    {14, "1@0 1@8 n1@16 1@32 n1@40 1@56 n1@64 1@80 n1@88"},
    {15, "n1@0 2@16"},
    {16, "2@0 4@4 4@8 4@12 n1@16"},
    {17, "1@0 1@1 4@4 4@8 4@12 4@16 n1@24 n1@40"},
    {18, "2@0 4@4 n1@8"},
    {19, "1@0 1@1 4@4 4@8"},
    {20, "1@0 2@8 n1@10 1@24 1@25 4@28"},
    {21, "1@0 1@1 1@2 2@4 4@8 4@12"},
    {22, "1@0 n1@8 n1@24"},
    {23, "1@0 n1@8 n1@24 1@40"},
    {24, "1@0 n1@8"},
    {25, "1@0 n1@8"},
    {26, "2@0 n1@8"},
    {27, "1@0=1 2@8 2@80"},
    {27, "1@0=2 1@8 n1@16 b20@32 b20@52 1@72 2@80"},
    {28, "1@0 1@1 4@4 4@8 4@12 4@16"},
    {29, "1@0 1@1 1@2 4@4 4@8"},
    {30, "4@0 1@4 1@5"},
    {31, "2@0 1@2 4@4 4@8 1@12 1@16 4@20 1@24 4@28"},
    {32, "1@0 2@8 n1@10 1@24 n1@32"},
    {33, "1@0 2@8 n1@10 1@24 4@28 4@32 4@36 4@40 n1@48 n1@64"},
    {34, "1@0 1@1 2@2 4@4 4@8 1@12"},
    {35, "1@0 1@1 2@2"},
    {36, "1@0 1@1 2@2 1@4"},
    {37, "1@0 4@4 4@8 4@12 4@16 4@20"},
    {38, "1@0 2@8 n1@10 2@24 2@26 2@28"},
    {39, "1@0 2@2 2@4 2@6 2@8 2@10 2@12 4@16 4@20 1@24"},
    {40, "1@0 2@2 2@4 2@6 2@8 2@10 2@12 2@14 2@16 2@18 2@20 1@22"},
    {41, "4@0 n1@8 1@24 1@25 t@28"},
    {42, "1@0 1@1 n1@8"},
    {43, "1@0 1@1 n1@8"},
    {44, "1@0 2@2 1@4=1 n1@5"},
    {44, "1@0 2@2 1@4=2 n1@5"},
    {45, "1@0 2@8 n1@10 1@24 n1@32 1@48 4@52"},
    {46, "1@0 n1@8 1@24=1 2@28 4@32 4@36 1@40 4@44 4@48 4@52 4@56 1@72 n1@80 1@96 1@97"},
    {46, "1@0 n1@8 1@24=2 4@28 4@32 4@36 4@40 4@44 4@48 1@52 4@56 4@60 4@64 4@68 1@72 n1@80 1@96 1@97"},
    {47, "1@0 n1@8"},
    {48, "1@0 1@1 1@2 1@3 2@4 4@8 4@12 1@16 1@17 1@18 1@19"},
    {49, "1@0 1@1 1@2 2@4"},
    {50, "1@0 1@1 4@4"},
    {51, "1@0 2@8 n1@10 1@24 n1@32 1@48"},
    {52, "1@0 1@1 1@2 n1@8 1@24 1@25 n1@32 1@48 1@49 2@50 4@52 4@56 1@60"},
    {53, "1@0 1@1 n1@8"},
    {54, "1@0 1@1 1@2 n1@8"},
    {55, "1@0 1@1 4@4 4@8 4@12 4@16 n1@24 1@40 n1@48"},
    {56, "1@0 1@1 1@2 1@3 2@4"},
    {57, "1@0 1@1 1@2 1@3 2@4"},
    {58, "n2@0 4@16 4@20"},
    {59, "4@0"},
    {60, "4@0 4@4"},
    {61, "4@0 4@4"},
    {62, "4@0 4@4 1@8"},
    {63, "4@0 4@4 4@8"},
    {64, "4@0 4@4 4@8 4@12"},
    {65, "4@0 4@4 4@8 4@12 1@16"},
    {66, "4@0"},
    {67, "4@0"},
    {68, "4@0 4@4 1@8"},
    {69, "4@0 1@4"},
    {70, "4@0 1@4"},
    {71, "1@0 1@1 2@2 4@4 4@8 1@12"},
    {72, "1@0 1@1 2@2 1@4"},
    {73, "1@0 2@2"},
    {74, "1@0 2@2"},
    {75, "1@0 n1@8 b20@24 b20@44 1@64"},
    {76, "n2@0 4@16=7 z2 4@56"},
    {77, "2@0 n1@8 1@24"},
    {78, "1@0 2@8 n1@10 2@24 2@26 2@28 1@30 t@32"},
    {79, "1@0 1@1 n1@8 1@24 1@25"},
    {80, "1@0 2@8 n1@10 1@24 n1@32 4@48 4@52 4@56 4@60 4@64"},
    {81, "1@0 n1@8 1@24 2@26 1@28 n1@32 1@48"},
    {82, "1@0 2@8 n1@10 n1@24 n1@40 1@56"},
    {83, "1@0 4@4 1@8 4@12"},
    {84, "1@0 n1@8 4@24"},
    {85, "1@0 2@8 n1@10 1@24 4@28 4@32 4@36 4@40 n1@48"},
    {86, "1@0 1@1 2@2 4@4 4@8 1@12"},
    {87, "1@0 4@4"},
    {88, "2@0 1@2 4@4 4@8"},
    {89, "1@0 4@4"},
    {90, "1@0 2@2 2@4"},
    {91, "1@0 2@2 2@4"},
    {92, "1@0 2@2 2@4 1@6"},
    {94, "1@0 n1@8 n1@24"},
    {95, "1@0 1@1 2@2"},
    {96, "1@0 2@2 4@4 4@8 1@12"},
    {97, "1@0 2@2 4@4 4@8 1@12 1@16"},
    {98, "1@0 4@4"},
    {99, "1@0 1@1 4@4 4@8 1@12"},
    {100, "2@0"},
    {101, "2@0 2@2"},
    {102, "2@0 2@2"},
    {104, "2@0 2@2 2@4"},
    {105, "2@0 2@2 2@4 2@6"},
    {106, "2@0 2@2 2@4 2@6 1@8"},
    {107, "2@0 2@2 1@4"},
    {108, "2@0"},
    {109, "2@0"},
    {111, "2@0 1@2"},
    {112, "2@0 1@2"},
    {113, "1@0 4@4 1@8 4@12 4@16 n1@24"},
    {114, "b16@0"},
    {115, "b20@0"},
    {116, "b48@0"},
    {117, "n2@0"},
    {118, "n1@0"},
    {119, "2@0 n1@2"},
    {120, "2@0 n1@2"},
    {121, "1@0 1@1 2@2 1@4 1@5 2@6"},
    {122, "1@0 1@1 n2@8 4@24 1@28 1@29 n1@32 1@48 1@49 2@50 4@52 4@56 1@60"},
    {123, "2@0 2@2 1@4"},
    {124, "4@0 4@4 1@8"},
    {125, "4@0 1@4"},
    {126, "2@0 1@2"},
    {127, "4@0 2@4 2@6 b8@8 2@16"},
    {128, "1@0 2@8 n1@10"},
    {129, "1@0 1@1 1@2 1@3 1@4"},
    {130, "4@0 4@4 4@8 4@12 4@16 4@20 4@24 4@28"},
    {131, "4@0 4@4 4@8 4@12 1@16 1@17"},
    {132, "1@0 4@4"},
    {133, "1@0 4@4 1@12 1@13 2@14 1@16 1@17"},
    {134, "1@0 2@2 4@4 1@8 1@9 2@10 1@12 1@13"},
    {135, "1@0 4@4 4@8 1@12"},
    {136, "1@0 1@1 4@4 4@8"},
    {137, "1@0 1@1 1@2 1@3 4@4"},
    {138, "4@0 4@4 1@8"},
    {139, "4@0 2@4 2@6 b8@8 b48@16"},
    {140, "4@0 4@4 4@8 1@12"},
    {141, "1@0 2@2"},
    {142, "b12@0"},
    {143, "1@0 1@1 n1@8 4@24 1@28 n2@32"},
    {144, "1@0 1@1 1@2 n1@8 4@24 n2@32"},
    {145, "1@0 2@8 n1@10 1@24 n1@32 1@48"},
    {146, "1@0 1@2 1@3 2@4 4@8 4@12 1@16 1@17 1@18"},
    {147, "1@0 n1@8"},
    {148, "4@0 4@4 2@8 n1@10"},
    {149, "2@0 n2@2"},
    {150, "1@0 n1@8"},
    {151, "1@0=2 n2@8"},
    {151, "1@0=3 n2@8"},
};

struct RecordField {
    char kind;        // 'i' integer, 'n' count, 'z' unkept, 'b' block, 't' tagged
    uint32_t width;
    uint32_t offset;
    int64_t fixed;    // a selector's value, or -1
};

std::vector<RecordField> ParseRecordFields(const std::string& text)
{
    std::vector<RecordField> fields;
    std::istringstream in(text);
    std::string token;
    while (in >> token) {
        RecordField field = {'i', 0, 0, -1};
        if (token[0] == 'n' || token[0] == 'z' || token[0] == 'b' || token[0] == 't') {
            field.kind = token[0];
            token = token.substr(1);
        }
        const size_t at = token.find('@');
        const size_t equals = token.find('=');
        field.width = field.kind == 't' ? 9 : (uint32_t)std::stoul(token.substr(0, at));
        if (at != std::string::npos)
            field.offset = (uint32_t)std::stoul(token.substr(at + 1, equals - at - 1));
        if (equals != std::string::npos)
            field.fixed = std::stol(token.substr(equals + 1));
        fields.push_back(field);
    }
    return fields;
}

TEST_F(Values, EveryFieldLandsAtItsRecordOffset)
{
    std::set<uint16_t> covered;
    for (const auto& [type, text] : kRecordFields) {
        SCOPED_TRACE("value type " + std::to_string(type) + ": " + text);
        covered.insert(type);
        const std::vector<RecordField> fields = ParseRecordFields(text);
        Bytes wire;
        uint8_t next = 0x11;
        for (const RecordField& field : fields) {
            for (uint32_t i = 0; i < field.width; ++i) {
                const bool zero = field.kind == 'n' || field.kind == 'z';
                const bool selector = field.fixed >= 0;
                const bool tag = field.kind == 't' && i == 0;
                wire.push_back(zero ? 0 : selector ? (uint8_t)(field.fixed >> (8 * (field.width - 1 - i)))
                                      : tag ? 9 : next++);
            }
        }
        Decoded decoded;
        DecodeExactly(FormOf(type), wire, 0, &decoded);
        ASSERT_NE(decoded.block, nullptr);
        size_t at = 0;
        for (const RecordField& field : fields) {
            const uint8_t* wireField = wire.data() + at;
            at += field.width;
            if (field.kind == 'z')
                continue;
            const uint8_t* memory = decoded.block + field.offset;
            ASSERT_LE(field.offset + (field.kind == 't' ? 12 : field.width), decoded.size);
            if (field.kind == 'b') {
                EXPECT_EQ(Bytes(memory, memory + field.width), Bytes(wireField, wireField + field.width));
            } else if (field.kind == 't') {
                EXPECT_EQ(Bytes(memory, memory + 4), (Bytes{9, 0, 0, 0})) << "at +" << field.offset;
                EXPECT_EQ(Bytes(memory + 4, memory + 12), Bytes(wireField + 1, wireField + 9));
            } else {
                uint32_t expected = 0;
                for (uint32_t i = 0; i < field.width; ++i)
                    expected = (expected << 8) | wireField[i];
                uint32_t held = 0;
                memcpy(&held, memory, field.width);
                EXPECT_EQ(held, expected) << "at +" << field.offset;
            }
        }
        EXPECT_EQ(at, wire.size());
        ExpectPointersInside(FormOf(type), wire, 0, decoded.block, decoded.size);
    }
    std::set<uint16_t> all = AllTypes();
    all.erase(93);
    EXPECT_EQ(covered, all);
}

// ---- Basic types --------------------------------------------------------------------------------------

struct BasicCase {
    uint16_t type;
    uint8_t multi;
    Bytes wire;
    uint16_t memory;
    Bytes record;   // the first bytes of the decoded form (host order)
};

TEST_F(Values, BasicTypesBothWays)
{
    const Bytes twelve = {0x00, 0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0x04, 0x00, 0x05, 0x00, 0x06};
    const Bytes sixteen = {0x00, 0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0x04,
                           0x00, 0x05, 0x00, 0x06, 0x00, 0x07, 0x00, 0x08};
    const BasicCase cases[] = {
        {2, 0, {0x7F}, 8, {0x7F, 0}},
        {3, 1, {0x80}, 8, {0x80, 0}},
        {4, 0, {0x01, 0x02}, 8, {0x02, 0x01}},
        {5, 1, {0x01, 0x02}, 8, {0x02, 0x01}},
        {6, 0, {0x01, 0x02, 0x03, 0x04}, 8, {0x04, 0x03, 0x02, 0x01}},
        {7, 1, {0x01, 0x02, 0x03, 0x04}, 8, {0x04, 0x03, 0x02, 0x01}},
        {8, 0, {0x03, 'a', 'b', 'c'}, 16 + 8, {0x03, 0, 0, 0, 0, 0, 0, 0}},
        {9, 1, {0x00, 0x03, 'a', 'b', 'c'}, 16 + 8, {0x03, 0x00, 0, 0, 0, 0, 0, 0}},
        {20, 0, twelve, 16, {0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0x04, 0x00, 0x05, 0x00, 0x06, 0x00, 0, 0, 0, 0}},
        {20, 1, twelve, 16, {0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0x04, 0x00, 0x05, 0x00, 0x06, 0x00, 0, 0, 0, 0}},
        {21, 0, {0x0A, 0x0B}, 8, {0x0B, 0x0A, 0, 0, 0, 0, 0, 0}},
        {21, 1, {0x00, 0x02, 0x0A, 0x0B, 0x0C, 0x0D}, 16 + 8, {0x02, 0x00, 0, 0, 0, 0, 0, 0}},
        {22, 0, {0x5A}, 8, {0x5A, 0, 0, 0, 0, 0, 0, 0}},
        {22, 1, {0x00, 0x03, 0x01, 0x02, 0x03}, 16 + 8, {0x03, 0x00, 0, 0, 0, 0, 0, 0}},
        {23, 0, sixteen, 16, {0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0x04, 0x00}},
        {23, 1, sixteen, 16, {0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0x04, 0x00}},
    };
    for (const BasicCase& c : cases) {
        SCOPED_TRACE("basic type " + std::to_string(c.type) + " multi " + std::to_string(c.multi));
        const DmlpBasicTypeRow* row = DmlpFindBasicType(c.type, kVersion);
        ASSERT_NE(row, nullptr);
        CheckForm(row->form, c.multi, c.wire);
        Decoded decoded;
        DecodeExactly(row->form, c.wire, c.multi, &decoded);
        ASSERT_EQ(decoded.size, c.memory);
        EXPECT_EQ(Bytes(decoded.block, decoded.block + c.record.size()), c.record);
    }

    // The variable parts behind the record: text with its zero byte, arrays without one.
    Decoded text;
    DecodeExactly(DmlpFindBasicType(9, kVersion)->form, {0x00, 0x03, 'x', 'y', 'z'}, 0, &text);
    EXPECT_STREQ((const char*)Pointer(text.block, 8), "xyz");
    Decoded bytes22;
    DecodeExactly(DmlpFindBasicType(22, kVersion)->form, {0x00, 0x03, 0x01, 0x02, 0x03}, 1, &bytes22);
    ASSERT_EQ(Pointer(bytes22.block, 8), bytes22.block + 16);
    EXPECT_EQ(Bytes(bytes22.block + 16, bytes22.block + 24), (Bytes{1, 2, 3, 0, 0, 0, 0, 0}));
    Decoded words21;
    DecodeExactly(DmlpFindBasicType(21, kVersion)->form, {0x00, 0x02, 0x0A, 0x0B, 0x0C, 0x0D}, 1, &words21);
    EXPECT_EQ(Load<uint16_t>(Pointer(words21.block, 8), 2), 0x0C0D);
}

// ---- Limits ------------------------------------------------------------------------------------------

TEST_F(Values, OversizeValuesAreRefusedBeforeAnythingIsAllocated)
{
    std::vector<uint32_t> elements(16384, 0x01020304);
    Multi16 list = {16383, elements.data()};
    uint16_t size = 0;
    ASSERT_EQ(DmlpValueEncSize(FormOf(67), &list, 1, &size, kVersion), DMLP_CODER_OK);
    EXPECT_EQ(size, 65534);
    list.count = 16384;
    EXPECT_EQ(DmlpValueEncSize(FormOf(67), &list, 1, &size, kVersion), DMLP_CODER_BAD_ARGUMENT);

    // Value type 27, kind 1: 5 wire bytes and 88 decoded bytes per element.
    for (uint16_t elements27 : {744, 745}) {
        Bytes wire = {(uint8_t)(elements27 >> 8), (uint8_t)elements27};
        for (uint16_t i = 0; i < elements27; ++i)
            wire.insert(wire.end(), {0x01, 0x00, 0x02, 0x00, 0x03});
        DmlpCursor in{wire.data(), (int32_t)wire.size()};
        const DmlpCoderError error = DmlpValueDecSize(FormOf(27), &in, 1, &size, kVersion);
        if (elements27 == 744) {
            EXPECT_EQ(error, DMLP_CODER_OK);
            EXPECT_EQ(size, 16 + 744 * 88);
        } else {
            EXPECT_EQ(error, DMLP_CODER_NO_MEMORY) << "16 + 745 x 88 bytes do not fit 16 bits";
        }
    }
}

// A chain of value type 93 values, each holding the next as attribute 229; the last is empty.
Bytes Chain93(int values)
{
    Bytes wire = {0x00};
    for (int i = 1; i < values; ++i) {
        Bytes outer = {0x01, 0x00, 0x00, 0x00, 0xE5};
        outer.insert(outer.end(), wire.begin(), wire.end());
        wire = outer;
    }
    return wire;
}

// A chain of value type 143 values, each holding the next as attribute 282.
Bytes Chain143(int values)
{
    const Bytes fixed = {0x01, 0x02, 0x00, 0x00, 0x00, 0x00, 0x03, 0x04};
    Bytes wire = fixed;
    wire.insert(wire.end(), {0x00, 0x00});
    for (int i = 1; i < values; ++i) {
        Bytes outer = fixed;
        outer.insert(outer.end(), {0x00, 0x01, 0x01, 0x1A, 0x00, (uint8_t)wire.size()});
        outer.insert(outer.end(), wire.begin(), wire.end());
        wire = outer;
    }
    return wire;
}

TEST_F(Values, ValuesNestAtMostEightLevels)
{
    for (uint16_t type : {93, 143}) {
        SCOPED_TRACE(type);
        const Bytes deepest = type == 93 ? Chain93(9) : Chain143(9);
        CheckValue(type, 1, deepest);
        Bytes tooDeep = type == 93 ? Chain93(10) : Chain143(10);
        DmlpCursor in{tooDeep.data(), (int32_t)tooDeep.size()};
        uint16_t size;
        EXPECT_EQ(DmlpValueDecSize(FormOf(type), &in, 1, &size, kVersion), DMLP_CODER_TRUNCATED);
    }
}

TEST_F(Values, AValueThatContainsItselfIsRefused)
{
    struct Element93 {
        uint16_t tag;
        uint16_t id;
        const void* value;
    };
    Multi value = {1, nullptr};
    const Element93 element = {0, 229, &value};
    value.elements = &element;
    uint16_t size;
    EXPECT_EQ(DmlpValueEncSize(FormOf(93), &value, 1, &size, kVersion), DMLP_CODER_BAD_ARGUMENT);
}

TEST_F(Values, MissingPointersCannotBeSent)
{
    const Multi list = {2, nullptr};
    uint16_t size;
    EXPECT_EQ(DmlpValueEncSize(FormOf(66), &list, 1, &size, kVersion), DMLP_CODER_BAD_ARGUMENT);
    uint8_t text[16] = {3};   // length 3, no pointer
    EXPECT_EQ(DmlpValueEncSize(FormOf(118), text, 1, &size, kVersion), DMLP_CODER_BAD_ARGUMENT);
    EXPECT_EQ(DmlpValueEncSize(FormOf(118), nullptr, 1, &size, kVersion), DMLP_CODER_BAD_ARGUMENT);
}

// ---- Attribute lists ------------------------------------------------------------------------------------

Bytes EncodeList(const void* list, uint8_t counted, DmlpCoderError* error = nullptr)
{
    uint16_t size = 0;
    const DmlpCoderError sized = DmlpSizeEncodedAttributeList(list, counted, &size, kVersion);
    if (error != nullptr)
        *error = sized;
    if (sized != DMLP_CODER_OK)
        return {};
    Bytes out(size);
    DmlpCursor cursor{out.data(), size};
    DmlpEncodeAttributeList(&cursor, list, counted, kVersion);
    EXPECT_EQ(cursor.count, 0);
    return out;
}

TEST_F(Values, AttributeListsToSend)
{
    const uint32_t job = 0x01020304;
    const uint8_t element1[4] = {1, 2, 3, 4};
    const Multi type1 = {1, element1};
    DmlpAttributeEntry entries[2] = {{289, 0, (void*)&job}, {146, 0, (void*)&type1}};
    const DmlpAttributeList list = {2, entries};
    EXPECT_EQ(EncodeList(&list, 1), (Bytes{0x00, 0x02, 0x01, 0x21, 0x00, 0x04, 0x01, 0x02, 0x03, 0x04, 0x00,
                                           0x92, 0x00, 0x05, 0x01, 0x01, 0x02, 0x03, 0x04}));
    EXPECT_EQ(EncodeList(&entries[0], 0), (Bytes{0x01, 0x21, 0x00, 0x04, 0x01, 0x02, 0x03, 0x04}))
        << "a single attribute goes without a count";

    const Multi none = {0, nullptr};
    DmlpAttributeEntry empty8 = {132, 0, (void*)&none};
    EXPECT_EQ(EncodeList(&empty8, 0), (Bytes{0x00, 0x84, 0x00, 0x01, 0x00}));
    const Multi16 none16 = {0, nullptr};
    DmlpAttributeEntry empty16 = {76, 0, (void*)&none16};
    EXPECT_EQ(EncodeList(&empty16, 0), (Bytes{0x00, 0x4C, 0x00, 0x02, 0x00, 0x00}));
    const uint32_t one = 9;
    const Multi single = {1, &one};
    DmlpAttributeEntry one66 = {132, 0, (void*)&single};
    EXPECT_EQ(EncodeList(&one66, 0), (Bytes{0x00, 0x84, 0x00, 0x05, 0x01, 0x00, 0x00, 0x00, 0x09}));
    uint8_t emptyText[16] = {};
    DmlpAttributeEntry text = {8, 0, emptyText};
    EXPECT_EQ(EncodeList(&text, 0), (Bytes{0x00, 0x08, 0x00, 0x01, 0x00}));

    entries[1].id = 9999;
    DmlpCoderError error;
    EXPECT_TRUE(EncodeList(&list, 1, &error).empty());
    EXPECT_EQ(error, DMLP_CODER_UNKNOWN_ATTRIBUTE);

    std::vector<uint32_t> many(10000, 7);
    const Multi16 big = {10000, many.data()};
    DmlpAttributeEntry bigEntries[2] = {{76, 0, (void*)&big}, {76, 0, (void*)&big}};
    const DmlpAttributeList bigList = {2, bigEntries};
    EXPECT_TRUE(EncodeList(&bigList, 1, &error).empty());
    EXPECT_EQ(error, DMLP_CODER_BAD_ARGUMENT) << "a list over 65535 bytes cannot be sent";
}

TEST_F(Values, AttributeListsReceived)
{
    // 289 (uint32), 141 at 16 bytes after its entries, an unknown attribute with no bytes at the end.
    Bytes wire = {0x00, 0x03, 0x01, 0x21, 0x00, 0x04, 0x00, 0x00, 0x00, 0x05, 0x17, 0xD8, 0x00,
                  0x03, 0x01, 0x00, 0x02, 0x27, 0x0F, 0x00, 0x00};
    DmlpCursor in{wire.data(), (int32_t)wire.size()};
    uint16_t size = 0;
    ASSERT_EQ(DmlpSizeAttributeList(&in, 1, &size, kVersion), DMLP_CODER_OK);
    EXPECT_EQ(in.count, 0);
    ASSERT_EQ(size, 48 + 8 + 8);
    uint8_t* block = (uint8_t*)calloc(1, size);
    DmlpCursor again{wire.data(), (int32_t)wire.size()};
    DmlpAttributeList list;
    EXPECT_EQ(DmlpDecodeAttributeList(&again, 1, &list, block, kVersion), block + size);
    ASSERT_EQ(list.count, 3);
    ASSERT_EQ((uint8_t*)list.entries, block);
    EXPECT_EQ(list.entries[0].value, block + 48);
    EXPECT_EQ(list.entries[1].id, 6104);
    EXPECT_EQ(list.entries[1].value, block + 56) << "the next value starts 8 bytes behind value type 141";
    EXPECT_EQ(Load<uint16_t>(block, 58), 2);
    EXPECT_EQ(list.entries[2].id, 9999);
    EXPECT_EQ(list.entries[2].length, 0);
    EXPECT_EQ(list.entries[2].value, nullptr);
    free(block);

    Bytes claimsMore = {0x00, 0x02, 0x01, 0x21, 0x00, 0x04, 0x00, 0x00, 0x00, 0x05};
    in = {claimsMore.data(), (int32_t)claimsMore.size()};
    EXPECT_EQ(DmlpSizeAttributeList(&in, 1, &size, kVersion), DMLP_CODER_TRUNCATED);
    EXPECT_EQ(in.ptr, claimsMore.data());
    Bytes rawTooLong = {0x00, 0x01, 0x27, 0x0F, 0x00, 0x05, 1, 2, 3, 4};
    in = {rawTooLong.data(), (int32_t)rawTooLong.size()};
    EXPECT_EQ(DmlpSizeAttributeList(&in, 1, &size, kVersion), DMLP_CODER_TRUNCATED);
}

TEST_F(Values, OneAttributeDecodesBesideItsEntry)
{
    Bytes wire = {0x00, 0x04, 0x00, 0x06, 0x00, 0x11, 0x03, 'x', 'y', 'z'};
    DmlpCursor in{wire.data(), (int32_t)wire.size()};
    uint16_t size = 0;
    ASSERT_EQ(DmlpSizeAttributeList(&in, 0, &size, kVersion), DMLP_CODER_OK);
    EXPECT_EQ(size, 16 + 16 + 8) << "an entry, the value record and its text";
    alignas(8) uint8_t values[24] = {};
    DmlpAttributeEntry entry;
    DmlpCursor again{wire.data(), (int32_t)wire.size()};
    EXPECT_EQ(DmlpDecodeAttribute(&again, &entry, values, kVersion), values + 24);
    EXPECT_EQ(entry.id, 4);
    EXPECT_EQ(entry.length, 0);
    EXPECT_EQ(entry.value, values);
    EXPECT_EQ(Load<uint16_t>(values, 0), 0x11);
    EXPECT_STREQ(Load<const char*>(values, 8), "xyz");
}

TEST_F(Values, AReceivedListOver65535BytesIsRefused)
{
    for (uint16_t attributes : {2730, 2731}) {
        Bytes wire = {(uint8_t)(attributes >> 8), (uint8_t)attributes};
        for (uint16_t i = 0; i < attributes; ++i)
            wire.insert(wire.end(), {0x00, 0x0C, 0x00, 0x01, 0x01});
        DmlpCursor in{wire.data(), (int32_t)wire.size()};
        uint16_t size = 0;
        const DmlpCoderError error = DmlpSizeAttributeList(&in, 1, &size, kVersion);
        if (attributes == 2730) {
            EXPECT_EQ(error, DMLP_CODER_OK);
            EXPECT_EQ(size, 2730 * 24);
        } else {
            EXPECT_EQ(error, DMLP_CODER_NO_MEMORY);
        }
    }
}

} // namespace
