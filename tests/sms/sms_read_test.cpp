#include <gtest/gtest.h>

#include "message_card.h"

namespace zrn::test {
namespace {

// EF_SMS records 1, 3, 4 in use, the others free; extra records 1 to 6 with
// index 02 01 03 02 00 04: LMS 1, 3 (value 3), EMS 2; record 4 has value 2
// but status 0; records 5 and 6 are in use with values 0 and 4.
sim::CardImage threeStoreCard() {
    auto image = messageCardImage({.smsRecords = 6, .extraRecords = 6});
    const auto put = [&](std::size_t record, std::uint8_t status, std::uint8_t mark) {
        image.setRecord({0x7F10, kSmsFile}, record - 1, messageRecord(status, mark));
    };
    put(1, 0x01, 0xC1);
    put(2, 0x00, 0xC2);
    put(3, 0x03, 0xC3);
    put(4, 0x07, 0xC4);
    const std::uint8_t index[] = {2, 1, 3, 2, 0, 4};
    const std::uint8_t status[] = {1, 5, 3, 0, 1, 1};
    for (std::size_t r = 1; r <= 6; ++r) {
        sim::putExtraMessage(image, r, status[r - 1],
                             Bytes(20, static_cast<std::uint8_t>(0xE0 + r)));
        sim::setExtraIndex(image, r, index[r - 1]);
    }
    return image;
}

Bytes extraMessage(std::uint8_t status, std::size_t record) {
    return sim::smsRecordBytes(status, Bytes(20, static_cast<std::uint8_t>(0xE0 + record)));
}

TEST(ReadSms, ThreeStoresInOrderCmsThenLmsThenEms) {
    ConnectedCard card(threeStoreCard());
    ASSERT_TRUE(card.connected());
    const ReadResult read = readSms(12);
    ASSERT_EQ(read.result, 0);
    EXPECT_EQ(read.count, 6);
    EXPECT_EQ(read.length, 6 * 360);
    EXPECT_TRUE(read.guardKept);
    const Bytes expected = concat({
        element("CMS", messageRecord(0x01, 0xC1)),
        element("CMS", messageRecord(0x03, 0xC3)),
        element("CMS", messageRecord(0x07, 0xC4)),
        element("LMS", extraMessage(1, 1)),
        element("LMS", extraMessage(3, 3)),
        element("EMS", extraMessage(5, 2)),
    });
    EXPECT_EQ(read.stream, expected);
}

TEST(ReadSms, SendsTheCommandsOfBothPassesInOrder) {
    ConnectedCard card(threeStoreCard());
    ASSERT_TRUE(card.connected());
    ASSERT_EQ(readSms(12).result, 0);
    Commands expected;
    append(expected, {path(kSmsFile), {getResponse()}});
    for (unsigned r = 1; r <= 6; ++r) {
        expected.push_back(readRecord(r));
    }
    append(expected, {path(kIndexFile),
                      path(kExtraFile),
                      {getResponse()},
                      path(kIndexFile),
                      {getResponse(), readBinary(0, 6)},
                      path(kExtraFile),
                      // index values 2 and 3 first, then 1
                      {readRecord(1), readRecord(3), readRecord(4), readRecord(2)}});
    EXPECT_EQ(card.commands(), expected);
}

TEST(ReadSms, CardWithoutExtraFileGivesOnlyCmsElements) {
    auto image = messageCardImage({.smsRecords = 4});
    image.setRecord({0x7F10, kSmsFile}, 1, messageRecord(0x01, 0x11));
    image.setRecord({0x7F10, kSmsFile}, 3, messageRecord(0x05, 0x22));
    ConnectedCard card(std::move(image));
    ASSERT_TRUE(card.connected());
    const ReadResult read = readSms(4);
    ASSERT_EQ(read.result, 0);
    EXPECT_EQ(read.count, 2);
    EXPECT_EQ(read.stream, concat({element("CMS", messageRecord(0x01, 0x11)),
                                   element("CMS", messageRecord(0x05, 0x22))}));
    Commands expected;
    append(expected, {path(kSmsFile),
                      {getResponse(), readRecord(1), readRecord(2), readRecord(3), readRecord(4)},
                      path(kIndexFile),
                      path(kExtraFile)});
    EXPECT_EQ(card.commands(), expected);
}

TEST(ReadSms, ExtraFileWithoutIndexGivesEveryRecordInUseAsLms) {
    auto image = messageCardImage({.smsRecords = 2, .extraRecords = 4, .index = false});
    sim::putExtraMessage(image, 1, 0x01, Bytes(20, 0xE1));
    sim::putExtraMessage(image, 2, 0x00, Bytes(20, 0xE2));
    sim::putExtraMessage(image, 4, 0x03, Bytes(20, 0xE4));
    ConnectedCard card(std::move(image));
    ASSERT_TRUE(card.connected());
    const ReadResult read = readSms(6);
    ASSERT_EQ(read.result, 0);
    EXPECT_EQ(read.count, 2);
    EXPECT_EQ(read.stream,
              concat({element("LMS", extraMessage(1, 1)), element("LMS", extraMessage(3, 4))}));
}

TEST(ReadSms, EmptyCardGivesNothing) {
    auto image = messageCardImage({.smsRecords = 3, .extraRecords = 3});
    for (std::size_t r = 0; r < 3; ++r) {
        image.setRecord({0x7F10, kSmsFile}, r, messageRecord(0x00, 0x55));
        sim::setExtraIndex(image, r + 1, 2);
        sim::putExtraMessage(image, r + 1, 0x00, {});
    }
    ConnectedCard card(std::move(image));
    ASSERT_TRUE(card.connected());
    const ReadResult read = readSms(0);
    EXPECT_EQ(read.result, 0);
    EXPECT_EQ(read.count, 0);
    EXPECT_EQ(read.length, 0);
    EXPECT_TRUE(read.guardKept);
}

TEST(ReadSms, IndexShorterThanTheExtraFileLeavesTheRestUnread) {
    auto image = messageCardImage({.smsRecords = 1, .extraRecords = 5});
    image.setRecord({0x7F10, kSmsFile}, 0, messageRecord(0x00, 0));
    image.putTransparent({0x7F10, kIndexFile}, Bytes{1, 2});
    for (std::size_t r = 1; r <= 5; ++r) {
        sim::putExtraMessage(image, r, 0x01, Bytes(20, static_cast<std::uint8_t>(0xE0 + r)));
    }
    ConnectedCard card(std::move(image));
    ASSERT_TRUE(card.connected());
    const ReadResult read = readSms(6);
    ASSERT_EQ(read.result, 0);
    EXPECT_EQ(read.stream,
              concat({element("LMS", extraMessage(1, 2)), element("EMS", extraMessage(1, 1))}));
    EXPECT_EQ(card.countInstruction(kInsReadRecord), 1u + 2u);
}

TEST(ReadSms, LongIndexIsReadInPiecesAndRecordsPast255AreNotAddressed) {
    auto image = messageCardImage({.smsRecords = 1, .extraRecords = 1});
    image.setRecord({0x7F10, kSmsFile}, 0, messageRecord(0x00, 0));
    image.putLinearFixed({0x7F10, kExtraFile}, 176, 300, 0x01);
    image.putTransparent({0x7F10, kIndexFile}, Bytes(300, 2));
    ConnectedCard card(std::move(image));
    ASSERT_TRUE(card.connected());
    const ReadResult read = readSms(300);
    ASSERT_EQ(read.result, 0);
    EXPECT_EQ(read.count, 255);
    const auto commands = card.commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), readBinary(0, 255)), 1);
    EXPECT_EQ(std::count(commands.begin(), commands.end(), readBinary(255, 45)), 1);
    EXPECT_EQ(card.countInstruction(kInsReadRecord), 1u + 255u);
    EXPECT_EQ(std::count(commands.begin(), commands.end(), readRecord(0)), 0)
        << "record number 256 must not wrap to 0";
}

struct OddRecordCase {
    bool messageFile;  // else the extra message file
    std::int32_t result;
};

class ReadSmsOddRecordLength : public ::testing::TestWithParam<OddRecordCase> {};

TEST_P(ReadSmsOddRecordLength, StoreIsRefusedAndNoRecordIsRead) {
    auto image = messageCardImage({.smsRecords = 2, .extraRecords = 2, .index = false});
    const std::uint16_t file = GetParam().messageFile ? kSmsFile : kExtraFile;
    image.putLinearFixed({0x7F10, file}, 200, 2, 0x01);
    ConnectedCard card(std::move(image));
    ASSERT_TRUE(card.connected());
    const ReadResult read = readSms(8, 0, 0);
    EXPECT_EQ(read.result, GetParam().result);
    EXPECT_TRUE(read.guardKept);
    EXPECT_EQ(card.countInstruction(kInsReadRecord), GetParam().messageFile ? 0u : 2u);
}

INSTANTIATE_TEST_SUITE_P(Stores, ReadSmsOddRecordLength,
                         ::testing::Values(OddRecordCase{true, 2}, OddRecordCase{false, 305}));

TEST(ReadSms, RoomForRecordsInUseIsEnough) {
    ConnectedCard card(threeStoreCard());
    ASSERT_TRUE(card.connected());
    const ReadResult read = readSms(6);
    EXPECT_EQ(read.result, 0);
    EXPECT_TRUE(read.guardKept);
}

}  // namespace
}  // namespace zrn::test
