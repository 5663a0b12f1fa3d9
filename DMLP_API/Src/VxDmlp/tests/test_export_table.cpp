// The export table: counts, unique ordinals and methods, and a coder row for every method.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "DmlpCoder.h"
#include "VxDmlpApi.h"

namespace {

struct Row {
    const char* name;
    unsigned ordinal, cls, method, size;
};

#define REQUEST_ROW(name, ordinal, cls, method, size) {#name, ordinal, cls, method, size},
const Row kRequests[] = {DMLP_REQUEST_EXPORTS(REQUEST_ROW)};
#define OTHER_ROW(name, ordinal) {#name, ordinal, 0, 0, 0},
const Row kOthers[] = {DMLP_STUB_EXPORTS(OTHER_ROW) DMLP_LIBRARY_EXPORTS(OTHER_ROW)};

TEST(ExportTable, HoldsEveryExportOnceWithItsOwnOrdinal)
{
    EXPECT_EQ(std::size(kRequests), 93u);
    EXPECT_EQ(std::size(kOthers), 11u + 22u);
    std::set<unsigned> ordinals, methods;
    std::set<std::string> names;
    for (const Row& row : kRequests) {
        EXPECT_TRUE(ordinals.insert(row.ordinal).second) << row.name;
        EXPECT_TRUE(methods.insert(row.method).second) << row.name;
        EXPECT_TRUE(names.insert(row.name).second) << row.name;
        EXPECT_TRUE(row.cls == 1 || row.cls == 2) << row.name;
        EXPECT_EQ(row.size % 4, 0u) << row.name;
    }
    for (const Row& row : kOthers) {
        EXPECT_TRUE(ordinals.insert(row.ordinal).second) << row.name;
        EXPECT_TRUE(names.insert(row.name).second) << row.name;
    }
    EXPECT_EQ(ordinals.size(), 126u);
}

TEST(ExportTable, EveryRequestMethodHasAnEncoderAndADecoder)
{
    ASSERT_TRUE(DmlpCoderInitialize());
    for (const Row& row : kRequests) {
        const DmlpMethodRow* method = DmlpFindMethod(static_cast<uint16_t>(row.method), DMLP_HEADER_VERSION);
        ASSERT_NE(method, nullptr) << row.name;
        EXPECT_NE(method->encode, nullptr) << row.name;
        EXPECT_NE(method->decode, nullptr) << row.name;
    }
}

} // namespace
