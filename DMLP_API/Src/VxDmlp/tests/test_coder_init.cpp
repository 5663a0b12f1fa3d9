// Lookups find nothing until the coder is initialised (alone in its process).
#include <gtest/gtest.h>

#include "DmlpCoder.h"

namespace {

TEST(CoderInitialize, TablesAreReachedOnlyAfterInitialize)
{
    EXPECT_EQ(DmlpFindMethod(5, 16), nullptr);
    EXPECT_EQ(DmlpFindValueType(289, 16), nullptr);
    EXPECT_EQ(DmlpFindBasicType(2, 16), nullptr);
    EXPECT_EQ(DmlpFindEvent(154, 16), nullptr);
    EXPECT_EQ(DmlpFindExecCode(102, 16), nullptr);
    EXPECT_EQ(DmlpFindExecCode(0x2000, 16), nullptr);
    EXPECT_NE(DmlpFindVersion(16), nullptr) << "the version table needs no initialisation";

    ASSERT_TRUE(DmlpCoderInitialize());
    EXPECT_NE(DmlpFindMethod(5, 16), nullptr);
    EXPECT_NE(DmlpFindValueType(289, 16), nullptr);
    EXPECT_NE(DmlpFindBasicType(2, 16), nullptr);
    EXPECT_NE(DmlpFindEvent(154, 16), nullptr);
    EXPECT_NE(DmlpFindExecCode(102, 16), nullptr);
    EXPECT_EQ(DmlpFindExecCode(0x2000, 16), &DmlpExecCodeDefault);
}

} // namespace
