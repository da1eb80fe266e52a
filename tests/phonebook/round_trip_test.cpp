#include <gtest/gtest.h>

#include "phonebook_support.h"
#include "sim/samples.h"

namespace zrn::test {
namespace {

using sim::NumberType;

// Contacts with every feature the layout has: names in both codings and the
// empty-name placeholder, numbers of every type and several of one type, ADI
// entries of both kinds (two of one kind too), groups, and a gap in the slots.
sim::CardImage populatedCard(const sim::ExtendedGeometry& g) {
    sim::CardImage image = sim::buildExtendedCard(g);
    for (std::size_t r = 1; r <= g.groupCount; ++r) {
        sim::putGroupName(image, g, r, ascii("group " + std::to_string(r)));
    }
    const auto a = g.adnCount;
    sim::putNameSlot(image, g, 1, ascii("Ann"), false, {1, 3});
    sim::putNumberSlot(image, g, 3, 1, NumberType::kAdn, "123");
    sim::putNumberSlot(image, g, a + 2, 1, NumberType::kMbl, "13800138000");
    sim::putNumberSlot(image, g, a, 1, NumberType::kMbl, "456");
    sim::putAdiEntry(image, g, 0, 1, 1, false, ascii("kind one"));
    sim::putAdiEntry(image, g, 1, 1, 0, false, ascii("kind zero"));

    sim::putNameSlot(image, g, 2, hex("4E 2D 65 87"), true, {8});
    sim::putNumberSlot(image, g, a + 1, 2, NumberType::kOtr, "5");
    sim::putNumberSlot(image, g, a + 4, 2, NumberType::kHme, "6");
    sim::putNumberSlot(image, g, a + 5, 2, NumberType::kOfe, "7");
    sim::putAdiEntry(image, g, 2, 2, 0, false, ascii("x"));
    sim::putAdiEntry(image, g, 3, 2, 0, false, ascii("y"));

    sim::putNameSlotBytes(image, g, 3, hex("00 01 00 00 20"));  // no name
    sim::putAdiEntry(image, g, 4, 3, 1, true, hex("00 41"));

    sim::putNameSlot(image, g, 5, ascii("Eve"), false, {1, 2, 3, 4, 5, 6, 7, 8});
    sim::putNameSlot(image, g, 7, ascii("Max"));
    sim::putNumberSlot(image, g, 0, 7, NumberType::kAdn, "12345678901234567890");
    return image;
}

ReadResult readWriteRead(CardSession& card, ReadResult& first) {
    first = card.read();
    EXPECT_EQ(first.result, 0);
    EXPECT_EQ(card.write(first.stream, first.count), 0);
    return card.read();
}

class OptionFlags : public ::testing::TestWithParam<std::uint8_t> {};

TEST_P(OptionFlags, ExtendedPhoneBookComesBackIdentical) {
    sim::ExtendedGeometry g = smallGeometry();
    g.optionFlags = GetParam();
    CardSession card(populatedCard(g));
    ReadResult first;
    const ReadResult second = readWriteRead(card, first);
    ASSERT_EQ(second.result, 0);
    EXPECT_EQ(first.count, 5);
    EXPECT_EQ(second.count, first.count);
    EXPECT_EQ(toHex(second.stream), toHex(first.stream));
}

INSTANTIATE_TEST_SUITE_P(RoundTrip, OptionFlags,
                         ::testing::Values(0x12, 0x21, 0x11, 0x22, 0x10, 0x20, 0x01, 0x02, 0x00,
                                           0x03, 0x30));

class GroupCounts : public ::testing::TestWithParam<std::uint8_t> {};

TEST_P(GroupCounts, UpToEightGroupsComeBackIdentical) {
    sim::ExtendedGeometry g = smallGeometry();
    g.groupCount = GetParam();
    CardSession card(populatedCard(g));
    ReadResult first;
    const ReadResult second = readWriteRead(card, first);
    ASSERT_EQ(second.result, 0);
    EXPECT_EQ(walk(first.stream).groups.size(), GetParam());
    EXPECT_EQ(toHex(second.stream), toHex(first.stream));
}

INSTANTIATE_TEST_SUITE_P(RoundTrip, GroupCounts, ::testing::Values(0, 1, 3, 8));

TEST(RoundTrip, GroupsPastTheEighthComeBackCleared) {
    sim::ExtendedGeometry g = smallGeometry();
    g.groupCount = 10;
    CardSession card(populatedCard(g));
    ReadResult first;
    const ReadResult second = readWriteRead(card, first);
    ASSERT_EQ(second.result, 0);
    const WalkedStream before = walk(first.stream);
    const WalkedStream after = walk(second.stream);
    ASSERT_EQ(after.groups.size(), 10u);
    for (std::size_t r = 0; r < 10; ++r) {
        EXPECT_EQ(after.groups[r], r < 8 ? before.groups[r] : Bytes{}) << "group " << r + 1;
    }
    EXPECT_EQ(after.contacts, before.contacts);
    // And that stream is stable from then on.
    ASSERT_EQ(card.write(second.stream), 0);
    EXPECT_EQ(toHex(card.read().stream), toHex(second.stream));
}

TEST(RoundTrip, SampleCardsComeBackIdentical) {
    for (const sim::CardImage& image : {sim::extendedSample(), sim::standardSample()}) {
        CardSession card(image);
        ASSERT_EQ(card.connectResult(), 0);
        ReadResult first;
        const ReadResult second = readWriteRead(card, first);
        ASSERT_EQ(second.result, 0);
        EXPECT_GT(first.count, 0);
        EXPECT_EQ(second.count, first.count);
        EXPECT_EQ(toHex(second.stream), toHex(first.stream));
    }
}

TEST(RoundTrip, StandardPhoneBookWithGapsComesBackIdentical) {
    sim::StandardCardOptions options;
    options.adnCount = 20;
    sim::CardImage image = sim::buildStandardCard(options);
    sim::putAdnRecord(image, 2, ascii("Ann"), "123");
    sim::putAdnRecord(image, 3, hex("80 4E 2D 65 87"), "");
    sim::putAdnRecord(image, 7, {}, "13800138000");
    sim::putAdnRecord(image, 20, ascii("Last record"), "1");
    CardSession card(image);
    ReadResult first;
    const ReadResult second = readWriteRead(card, first);
    ASSERT_EQ(second.result, 0);
    EXPECT_EQ(first.count, 4);
    EXPECT_EQ(toHex(second.stream), toHex(first.stream));
}

}  // namespace
}  // namespace zrn::test
