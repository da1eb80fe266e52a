#include "phonebook/element_stream.h"

#include <gtest/gtest.h>

#include "phonebook_support.h"

namespace zrn::phonebook {
namespace {

using test::hex;

TEST(ElementStream, BuilderWritesHeadsAndNestedLengths) {
    StreamBuilder out;
    const std::size_t head = out.openElement(tag::kNcd);
    out.appendElement(tag::kNmt, hex("41 42"));
    out.appendText(tag::kAdi, hex("4E 2D"), true);
    out.appendEmpty(tag::kGpi);
    out.closeElement(head);
    EXPECT_EQ(toHex(out.bytes()),
              "01 4E 43 44 00 00 00 1D 01 4E 4D 54 00 00 00 02 41 42 "
              "01 41 44 49 00 00 00 03 80 4E 2D 01 47 50 49 00 00 00 00");
}

TEST(ElementStream, NcdLengthSpansThreeBytes) {
    StreamBuilder out;
    const std::size_t head = out.openElement(tag::kNcd);
    for (int i = 0; i < 700; ++i) {
        out.appendElement(tag::kAdn, Bytes(100, '1'));
    }
    out.closeElement(head);
    EXPECT_EQ(toHex(ByteView(out.bytes()).first(8)), "01 4E 43 44 00 01 27 50");  // 700 x 108
}

struct DigitsCase {
    std::uint8_t members;
    const char* digits;
};

class GroupDigits : public ::testing::TestWithParam<DigitsCase> {};

TEST_P(GroupDigits, AreSingleDigitsWithSingleSeparatorsAndReadBack) {
    const Bytes digits = groupDigits(GetParam().members);
    EXPECT_EQ(toHex(digits), GetParam().digits);
    EXPECT_EQ(parseGroupDigits(digits), GetParam().members);
}

INSTANTIATE_TEST_SUITE_P(
    ElementStream, GroupDigits,
    ::testing::Values(DigitsCase{0x00, ""}, DigitsCase{0x85, "31 01 33 01 38"},
                      DigitsCase{0x12, "32 01 35"},
                      DigitsCase{0xFF, "31 01 32 01 33 01 34 01 35 01 36 01 37 01 38"}));

struct LenientCase {
    const char* value;
    std::uint8_t members;
};

class LenientGroupDigits : public ::testing::TestWithParam<LenientCase> {};

TEST_P(LenientGroupDigits, ReadRunsAsDecimalNumbers) {
    EXPECT_EQ(parseGroupDigits(hex(GetParam().value)), GetParam().members);
}

INSTANTIATE_TEST_SUITE_P(
    ElementStream, LenientGroupDigits,
    ::testing::Values(LenientCase{"31 32 01 33", 0x04},     // 12 is out of range
                      LenientCase{"31 01 33 01 39", 0x05},  // 9 is ignored
                      LenientCase{"01 01 32 01 01", 0x02},  // repeated separators
                      LenientCase{"30 38", 0x80},           // 08
                      LenientCase{"30", 0x00},              // 0
                      LenientCase{"2F", 0x00},              // -1
                      LenientCase{"39 39 39 39 39 39 39 39 39 39 39 39 39 39", 0x00}));

TEST(ElementStream, ReaderNeverLooksPastTheEnd) {
    const Bytes stream = hex("01 4E 4D 54 00 00 00 03 41 42");  // value runs one byte past
    ElementReader in(stream);
    EXPECT_EQ(in.headFit(), HeadFit::kWhole);
    EXPECT_TRUE(in.at(tag::kNmt));
    EXPECT_FALSE(in.valueFits());

    const Bytes fits = hex("01 4E 4D 54 00 00 00 02 41 42 01 47 50");
    ElementReader whole(fits);
    ASSERT_TRUE(whole.valueFits());
    EXPECT_EQ(toHex(whole.value()), "41 42");
    whole.skipElement();
    EXPECT_EQ(whole.headFit(), HeadFit::kTruncated);
    EXPECT_FALSE(whole.at(tag::kGpi));
    EXPECT_FALSE(whole.valueFits());

    ElementReader empty(ByteView{});
    EXPECT_EQ(empty.headFit(), HeadFit::kEnd);
    EXPECT_TRUE(empty.atEnd());
}

TEST(ElementStream, TagsCompareWithTheMarker) {
    const Bytes wrongMarker = hex("02 4E 43 44 00 00 00 00");
    EXPECT_FALSE(ElementReader(wrongMarker).at(tag::kNcd));
    const Bytes lowerCase = hex("01 6E 63 64 00 00 00 00");
    EXPECT_FALSE(ElementReader(lowerCase).at(tag::kNcd));
    const Bytes right = hex("01 4E 43 44 00 00 00 00");
    EXPECT_TRUE(ElementReader(right).at(tag::kNcd));
}

}  // namespace
}  // namespace zrn::phonebook
