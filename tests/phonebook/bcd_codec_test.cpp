#include "phonebook/bcd_codec.h"

#include <gtest/gtest.h>

#include <random>

#include "phonebook_support.h"

namespace zrn::phonebook {
namespace {

using test::hex;

struct DecodeCase {
    const char* bcd;
    std::string text;
};

class Decode : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(Decode, GivesDigitText) {
    const Bytes bytes = hex(GetParam().bcd);
    std::string text = "previous";
    ASSERT_TRUE(DecodeBcd(bytes.data(), static_cast<std::int32_t>(bytes.size()), text));
    EXPECT_EQ(text, GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(BcdCodec, Decode,
                         ::testing::Values(DecodeCase{"", ""}, DecodeCase{"21 43 F5", "12345"},
                                           DecodeCase{"21 43", "1234"},
                                           // Only the final filler is dropped.
                                           DecodeCase{"21 FF", "12?"}, DecodeCase{"F1", "1"},
                                           DecodeCase{"1F", "?1"}, DecodeCase{"BA DC FE", ":;<=>"},
                                           DecodeCase{"F0", "0"}));

struct EncodeCase {
    std::string text;
    const char* bcd;
};

class Encode : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(Encode, WritesExactlyTheBcdBytes) {
    const Bytes expected = hex(GetParam().bcd);
    Bytes out(expected.size() + 4, 0xEE);
    EncodeBcd(GetParam().text, out.data());
    EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<long>(expected.size())), expected);
    EXPECT_EQ(Bytes(out.begin() + static_cast<long>(expected.size()), out.end()), Bytes(4, 0xEE))
        << "bytes beyond ceil(n / 2) must stay";
}

INSTANTIATE_TEST_SUITE_P(
    BcdCodec, Encode,
    ::testing::Values(EncodeCase{"", ""}, EncodeCase{"12345", "21 43 F5"},
                      EncodeCase{"1234", "21 43"}, EncodeCase{"0", "F0"}, EncodeCase{"7", "F7"},
                      EncodeCase{":;<=>", "BA DC FE"},
                      EncodeCase{"13800138000", "31 08 10 83 00 F0"},
                      // Characters without a nibble are packed by the formula, unvalidated.
                      EncodeCase{"1*", "A1"}, EncodeCase{"*1", "0A"}));

TEST(BcdCodec, DecodeOfEncodeGivesBackEveryTextOfNibbleCharactersButATrailingF) {
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> length(0, 40);
    std::uniform_int_distribution<int> nibble(0, 14);  // '0' .. '>'
    for (int round = 0; round < 500; ++round) {
        std::string text;
        for (int i = length(random); i > 0; --i) {
            text.push_back(static_cast<char>('0' + nibble(random)));
        }
        Bytes packed((text.size() + 1) / 2);
        EncodeBcd(text, packed.data());
        std::string decoded;
        ASSERT_TRUE(DecodeBcd(packed.data(), static_cast<std::int32_t>(packed.size()), decoded));
        EXPECT_EQ(decoded, text);
    }
    Bytes packed(2);
    EncodeBcd("123?", packed.data());
    std::string decoded;
    ASSERT_TRUE(DecodeBcd(packed.data(), 2, decoded));
    EXPECT_EQ(decoded, "123") << "a last 0x3F in the high nibble reads as the filler";
}

TEST(BcdCodec, NumberValueToTextStopsAtTheFirstZeroByte) {
    const Bytes cases[] = {hex("31 00 32"), hex("31 32 33"), hex("")};
    const std::string expected[] = {"1", "123", ""};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        std::string text = "previous";
        ASSERT_TRUE(
            NumberValueToText(cases[i].data(), static_cast<std::uint32_t>(cases[i].size()), text));
        EXPECT_EQ(text, expected[i]);
    }
}

}  // namespace
}  // namespace zrn::phonebook
