// Inputs that end before the bytes a decoder must look at to tell what comes: each lies in a heap
// block of exactly its size, so that a read past it is caught under AddressSanitizer, and the bytes
// that would come next are picked so that a decoder reading them answers otherwise.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "DmlpCoder.h"

namespace {

// A copy of the first count bytes in a block of exactly that size.
std::unique_ptr<uint8_t[]> exactBlock(const std::vector<uint8_t>& bytes, size_t count)
{
    auto block = std::make_unique<uint8_t[]>(count ? count : 1);
    std::memcpy(block.get(), bytes.data(), count);
    return block;
}

TEST(ShortInputs, HeaderOfFewerThanThreeBytesIsNoMessage)
{
    // The magic, then a byte that is no known version.
    const std::vector<uint8_t> bytes = {0xCD, 0xCA, 0x00};
    for (int32_t count : {0, 1, 2}) {
        SCOPED_TRACE(count);
        auto block = exactBlock(bytes, size_t(count));
        DmlpCursor in{block.get(), count};
        DmlpHeader header{};
        EXPECT_EQ(DmlpDecodeHeader(&header, &in), DMLP_CODER_NOT_A_MESSAGE);
    }
    // With the third byte the version is read: an unknown one is told as such.
    DmlpCursor whole{const_cast<uint8_t*>(bytes.data()), 3};
    DmlpHeader header{};
    EXPECT_EQ(DmlpDecodeHeader(&header, &whole), DMLP_CODER_UNKNOWN_VERSION);
}

// Value type 76: the address form behind its size starts with a 2-byte kind and a length byte.
TEST(ShortInputs, AddressFormCutBeforeItsLengthByteIsTruncated)
{
    const std::vector<uint8_t> wire = {0x01, 0x00, 0x01, 0x01, 0x02, 0x00, 0x00, 0x00, 0x07, 0x00, 0x09, 0x00, 0x02,
                                       0x06, 0x7F, 0x00, 0x00, 0x01, 0xB9, 0xB9, 0x00, 0x00, 0x00, 0x2A};
    const DmlpForm* form = DmlpValueTypeTable[76 - 1].form;
    for (size_t count : {11u, 12u, 13u}) {  // the form's first 0, 1 and 2 bytes
        SCOPED_TRACE(count);
        auto block = exactBlock(wire, count);
        DmlpCursor in{block.get(), int32_t(count)};
        uint16_t size = 0;
        EXPECT_EQ(DmlpValueDecSize(form, &in, 1, &size, DMLP_HEADER_VERSION), DMLP_CODER_TRUNCATED);
    }
}

} // namespace
