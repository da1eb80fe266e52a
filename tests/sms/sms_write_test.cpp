#include <gtest/gtest.h>

#include <memory>

#include "channel/card_channel.h"
#include "message_card.h"

namespace zrn::test {
namespace {

Bytes cms(std::uint8_t mark) {
    return element("CMS", messageRecord(0x01, mark));
}
Bytes lms(std::uint8_t mark) {
    return element("LMS", messageRecord(0x03, mark));
}
Bytes ems(std::uint8_t mark) {
    return element("EMS", messageRecord(0x05, mark));
}

// EF_SMS of 10 and an extra message file of 5 records whose old content is
// in use and marked in the index, so that every change shows.
sim::CardImage usedCard(MessageCardOptions options = {.smsRecords = 10, .extraRecords = 5}) {
    auto image = messageCardImage(options);
    for (std::size_t r = 1; r <= options.smsRecords; ++r) {
        sim::putSmsRecord(image, r, 0x01, Bytes(20, 0x90));
    }
    for (std::size_t r = 1; r <= options.extraRecords; ++r) {
        sim::putExtraMessage(image, r, 0x01, Bytes(20, 0x91));
        if (options.index) {
            sim::setExtraIndex(image, r, 1);
        }
    }
    return image;
}

Bytes oldSms() {
    return sim::smsRecordBytes(0x01, Bytes(20, 0x90));
}
Bytes oldExtra() {
    return sim::smsRecordBytes(0x01, Bytes(20, 0x91));
}

TEST(WriteSms, EmptyStreamWritesNothing) {
    ConnectedCard card(usedCard());
    ASSERT_TRUE(card.connected());
    const auto before = sim::serializeImage(card.image());
    EXPECT_EQ(WriteSMS(0, 0, nullptr), 0);
    EXPECT_EQ(card.writes(), 0u);
    EXPECT_EQ(sim::serializeImage(card.image()), before);
}

TEST(WriteSms, CmsElementsRewriteTheFirstRecordsOnly) {
    ConnectedCard card(usedCard());
    ASSERT_TRUE(card.connected());
    ASSERT_EQ(writeSms(concat({cms(0xA1), cms(0xA2)})), 0);
    EXPECT_EQ(card.smsRecord(1), messageRecord(0x01, 0xA1));
    EXPECT_EQ(card.smsRecord(2), messageRecord(0x01, 0xA2));
    for (std::size_t r = 3; r <= 10; ++r) {
        EXPECT_EQ(card.smsRecord(r), oldSms()) << r;
    }
    EXPECT_EQ(card.index(), Bytes(5, 1)) << "the extra store is not touched";
    Commands expected;
    append(expected, {path(kIndexFile),
                      path(kExtraFile),
                      path(kSmsFile),
                      {getResponse()},
                      path(kExtraFile),
                      {getResponse()},
                      path(kSmsFile),
                      {updateRecord(1), updateRecord(2)}});
    EXPECT_EQ(card.commands(), expected);
}

TEST(WriteSms, LmsAndEmsFillTheExtraFileAndRewriteTheIndex) {
    ConnectedCard card(usedCard());
    ASSERT_TRUE(card.connected());
    ASSERT_EQ(writeSms(concat({lms(0xB1), lms(0xB2), ems(0xB3)})), 0);
    EXPECT_EQ(card.extraRecord(1), messageRecord(0x03, 0xB1));
    EXPECT_EQ(card.extraRecord(2), messageRecord(0x03, 0xB2));
    EXPECT_EQ(card.extraRecord(3), messageRecord(0x05, 0xB3));
    EXPECT_EQ(card.extraRecord(4), oldExtra());
    EXPECT_EQ(card.index(), (Bytes{2, 2, 1, 0, 0}));
    for (std::size_t r = 1; r <= 10; ++r) {
        EXPECT_EQ(card.smsRecord(r), oldSms()) << r;
    }
    // The index's size is asked for at the first check: an extra record
    // without an index byte could be written but never read again.
    Commands expected;
    append(expected,
           {path(kIndexFile),  {getResponse()},   path(kExtraFile),   path(kSmsFile),
            {getResponse()},   path(kExtraFile),  {getResponse()},    path(kSmsFile),
            path(kExtraFile),  path(kExtraFile),  {updateRecord(1)},  path(kExtraFile),
            {updateRecord(2)}, path(kIndexFile),  {readBinary(0, 5)}, path(kExtraFile),
            path(kExtraFile),  {updateRecord(3)}, path(kIndexFile),   {updateBinary(0, 5)}});
    EXPECT_EQ(card.commands(), expected);
}

TEST(WriteSms, ElementsInAnyOrderKeepTheirOrderWithinEachStore) {
    ConnectedCard card(usedCard());
    ASSERT_TRUE(card.connected());
    ASSERT_EQ(writeSms(concat({ems(0xE1), cms(0xC1), lms(0x11), cms(0xC2), ems(0xE2), lms(0x12)})),
              0);
    EXPECT_EQ(card.smsRecord(1), messageRecord(0x01, 0xC1));
    EXPECT_EQ(card.smsRecord(2), messageRecord(0x01, 0xC2));
    EXPECT_EQ(card.extraRecord(1), messageRecord(0x03, 0x11));
    EXPECT_EQ(card.extraRecord(2), messageRecord(0x03, 0x12));
    EXPECT_EQ(card.extraRecord(3), messageRecord(0x05, 0xE1));
    EXPECT_EQ(card.extraRecord(4), messageRecord(0x05, 0xE2));
    EXPECT_EQ(card.index(), (Bytes{2, 2, 1, 1, 0}));
}

TEST(WriteSms, EmsWithoutLmsIsStoredToo) {
    ConnectedCard card(usedCard());
    ASSERT_TRUE(card.connected());
    ASSERT_EQ(writeSms(concat({cms(0xC1), ems(0xE1)})), 0);
    EXPECT_EQ(card.extraRecord(1), messageRecord(0x05, 0xE1));
    EXPECT_EQ(card.extraRecord(2), oldExtra());
    EXPECT_EQ(card.index(), (Bytes{1, 0, 0, 0, 0}));
}

TEST(WriteSms, LmsOnACardWithExtraFileButNoIndex) {
    ConnectedCard card(usedCard({.smsRecords = 10, .extraRecords = 5, .index = false}));
    ASSERT_TRUE(card.connected());
    ASSERT_EQ(writeSms(concat({lms(0x21), lms(0x22)})), 0);
    EXPECT_EQ(card.extraRecord(1), messageRecord(0x03, 0x21));
    EXPECT_EQ(card.extraRecord(2), messageRecord(0x03, 0x22));
    EXPECT_EQ(card.extraRecord(3), oldExtra());
    EXPECT_EQ(card.countInstruction(kInsReadBinary), 0u);
    EXPECT_EQ(card.countInstruction(kInsUpdateBinary), 0u);
}

struct RefusalCase {
    const char* name;
    MessageCardOptions card;
    Bytes stream;
};

class WriteSmsRefusal : public ::testing::TestWithParam<RefusalCase> {};

// Capacity and missing stores are found before anything is written.
TEST_P(WriteSmsRefusal, ResultFourAndNothingWritten) {
    ConnectedCard card(usedCard(GetParam().card));
    ASSERT_TRUE(card.connected());
    const auto before = sim::serializeImage(card.image());
    EXPECT_EQ(writeSms(GetParam().stream), 4);
    EXPECT_EQ(card.writes(), 0u);
    EXPECT_EQ(card.countInstruction(kInsReadBinary), 0u);
    EXPECT_EQ(sim::serializeImage(card.image()), before);
}

Bytes repeated(Bytes (*make)(std::uint8_t), int n) {
    Bytes out;
    for (int i = 0; i < n; ++i) {
        const Bytes one = make(static_cast<std::uint8_t>(i));
        out.insert(out.end(), one.begin(), one.end());
    }
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WriteSmsRefusal,
    ::testing::Values(
        RefusalCase{"ElevenCmsForTenRecords", {10, 5, true}, repeated(cms, 11)},
        RefusalCase{"LmsWithoutExtraFile", {10, 0, true}, lms(1)},
        RefusalCase{"EmsWithoutIndex", {10, 5, false}, concat({cms(1), lms(2), ems(3)})},
        RefusalCase{
            "SixExtraForFiveRecords", {10, 5, true}, concat({repeated(lms, 4), repeated(ems, 2)})},
        RefusalCase{"NonHexText",
                    {10, 5, true},
                    [] {
                        Bytes s = concat({cms(1), cms(2)});
                        s[360 + 8 + 40] = 'G';
                        return s;
                    }()}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(WriteSms, EmsOnACardWithAnIndexButNoExtraFileIsRefused) {
    auto image = usedCard();
    ASSERT_TRUE(image.remove({0x7F10, kExtraFile}));
    ConnectedCard card(std::move(image));
    ASSERT_TRUE(card.connected());
    const auto before = sim::serializeImage(card.image());
    EXPECT_EQ(writeSms(concat({cms(1), ems(2)})), 4);
    EXPECT_EQ(card.writes(), 0u);
    EXPECT_EQ(sim::serializeImage(card.image()), before);
}

// Lower-case text would be stored as other bytes than the host meant: the
// stream is refused before anything is written.
TEST(WriteSms, LowerCaseHexIsRefusedWithNothingWritten) {
    ConnectedCard card(usedCard());
    ASSERT_TRUE(card.connected());
    const std::string before = sim::serializeImage(card.image());
    Bytes stream = element("CMS", messageRecord(0x01, 0xAB));
    for (std::size_t i = 8; i < stream.size(); ++i) {
        stream[i] = static_cast<std::uint8_t>(std::tolower(stream[i]));
    }
    EXPECT_EQ(writeSms(stream), 4);
    EXPECT_EQ(card.writes(), 0u);
    EXPECT_EQ(sim::serializeImage(card.image()), before);
}

TEST(WriteSms, AnyValueLengthBytesAfterAZeroAreAccepted) {
    ConnectedCard card(usedCard());
    ASSERT_TRUE(card.connected());
    Bytes stream = cms(0x31);
    stream[5] = 0x7F;
    stream[6] = 0xFF;
    stream[7] = 0x00;
    ASSERT_EQ(writeSms(stream), 0);
    EXPECT_EQ(card.smsRecord(1), messageRecord(0x01, 0x31));
}

TEST(WriteSms, OnlyAsManyElementsAsCountedAreWalked) {
    ConnectedCard card(usedCard());
    ASSERT_TRUE(card.connected());
    ASSERT_EQ(writeSms(concat({cms(0x41), cms(0x42), lms(0x43)}), 2), 0);
    EXPECT_EQ(card.smsRecord(2), messageRecord(0x01, 0x42));
    EXPECT_EQ(card.extraRecord(1), oldExtra());
    EXPECT_EQ(card.index(), Bytes(5, 0))
        << "the LMS element seen by the scan was not written, so no record is marked";
}

TEST(WriteSms, StatusZeroRecordIsWrittenButNotReadBack) {
    ConnectedCard card(usedCard({.smsRecords = 2, .extraRecords = 0}));
    ASSERT_TRUE(card.connected());
    ASSERT_EQ(writeSms(concat({element("CMS", messageRecord(0x00, 0x51)), cms(0x52)})), 0);
    EXPECT_EQ(card.smsRecord(1), messageRecord(0x00, 0x51));
    const ReadResult read = readSms(2);
    EXPECT_EQ(read.count, 1);
    EXPECT_EQ(read.stream, cms(0x52));
}

TEST(WriteSms, OddRecordLengthOfATargetStoreIsRefusedBeforeWriting) {
    auto image = usedCard();
    image.putLinearFixed({0x7F10, kSmsFile}, 100, 10, 0x01);
    ConnectedCard card(std::move(image));
    ASSERT_TRUE(card.connected());
    EXPECT_EQ(writeSms(concat({lms(1), cms(2)})), 2);
    EXPECT_EQ(card.writes(), 0u);
    card.sim().clearLog();
    EXPECT_EQ(writeSms(lms(1)), 0) << "a stream without CMS elements does not need EF_SMS";
    EXPECT_EQ(card.extraRecord(1), messageRecord(0x03, 1));
}

TEST(WriteSms, LongIndexIsReadAndWrittenInPieces) {
    auto image = usedCard({.smsRecords = 1, .extraRecords = 1});
    image.putLinearFixed({0x7F10, kExtraFile}, 176, 300, 0x01);
    image.putTransparent({0x7F10, kIndexFile}, Bytes(300, 2));
    ConnectedCard card(std::move(image));
    ASSERT_TRUE(card.connected());
    ASSERT_EQ(writeSms(concat({lms(1), ems(2)})), 0);
    Bytes index(300, 0);
    index[0] = 2;
    index[1] = 1;
    EXPECT_EQ(card.index(), index);
    const auto commands = card.commands();
    for (const std::string& command :
         {readBinary(0, 255), readBinary(255, 45), updateBinary(0, 255), updateBinary(255, 45)}) {
        EXPECT_EQ(std::count(commands.begin(), commands.end(), command), 1) << command;
    }
}

TEST(WriteSms, NoMoreThan255ExtraRecordsAreOffered) {
    auto image = usedCard({.smsRecords = 1, .extraRecords = 1});
    image.putLinearFixed({0x7F10, kExtraFile}, 176, 300, 0x01);
    image.putTransparent({0x7F10, kIndexFile}, Bytes(300, 2));
    ConnectedCard card(std::move(image));
    ASSERT_TRUE(card.connected());
    EXPECT_EQ(writeSms(repeated(lms, 256)), 4);
    EXPECT_EQ(card.writes(), 0u);
}

// A stream cut at any byte: the whole elements before the cut are stored,
// the cut one is not, and nothing past the end is read (the stream lives in
// a buffer of exactly its length).
TEST(WriteSms, StreamCutAtEveryOffset) {
    const Bytes full = concat({cms(0x61), lms(0x62), ems(0x63)});
    for (std::size_t cut = 0; cut <= full.size(); ++cut) {
        ConnectedCard card(usedCard());
        ASSERT_TRUE(card.connected());
        auto stream = std::make_unique<std::uint8_t[]>(cut == 0 ? 1 : cut);
        std::copy(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut), stream.get());
        ASSERT_EQ(WriteSMS(3, static_cast<std::int32_t>(cut), stream.get()), 0) << cut;
        const std::size_t whole = cut / 360;
        EXPECT_EQ(card.smsRecord(1), whole >= 1 ? messageRecord(0x01, 0x61) : oldSms()) << cut;
        EXPECT_EQ(card.extraRecord(1), whole >= 2 ? messageRecord(0x03, 0x62) : oldExtra()) << cut;
        EXPECT_EQ(card.extraRecord(2), whole >= 3 ? messageRecord(0x05, 0x63) : oldExtra()) << cut;
        // The index changes once the scan sees an extra element, and then
        // marks exactly the extra records written.
        const bool extraSeen = cut >= 360 + 5;
        Bytes index(5, extraSeen ? 0 : 1);
        if (whole >= 2) {
            index[0] = 2;
        }
        if (whole >= 3) {
            index[1] = 1;
        }
        EXPECT_EQ(card.index(), index) << cut;
    }
}

TEST(WriteSms, ReadWriteReadGivesTheSameMessages) {
    auto image = usedCard({.smsRecords = 6, .extraRecords = 6});
    const std::uint8_t index[] = {2, 1, 3, 0, 1, 2};
    const std::uint8_t status[] = {1, 3, 0, 5, 7, 1};
    for (std::size_t r = 1; r <= 6; ++r) {
        sim::setExtraIndex(image, r, index[r - 1]);
        sim::putExtraMessage(image, r, status[r - 1],
                             Bytes(30, static_cast<std::uint8_t>(0x70 + r)));
        sim::putSmsRecord(image, r, r <= 3 ? 3 : 0, Bytes(40, static_cast<std::uint8_t>(0x60 + r)));
    }
    ConnectedCard card(std::move(image));
    ASSERT_TRUE(card.connected());
    const ReadResult first = readSms(12);
    ASSERT_EQ(first.result, 0);
    ASSERT_EQ(first.count, 3 + 2 + 2);
    ASSERT_EQ(WriteSMS(first.count, first.length, first.stream.data()), 0);
    const ReadResult second = readSms(12);
    ASSERT_EQ(second.result, 0);
    EXPECT_EQ(second.count, first.count);
    EXPECT_EQ(second.stream, first.stream);
    EXPECT_EQ(card.index(), (Bytes{2, 2, 1, 1, 0, 0}));
}

TEST(WriteSms, SampleCardRoundTrip) {
    ConnectedCard card(sim::loadImage(std::string(ZRN_SOURCE_DIR) + "/samples/extended.json"));
    ASSERT_TRUE(card.connected());
    const ReadResult first = readSms(40);
    ASSERT_EQ(first.result, 0);
    EXPECT_EQ(first.count, 15) << "10 in EF_SMS, 3 LMS and 2 EMS";
    ASSERT_EQ(WriteSMS(first.count, first.length, first.stream.data()), 0);
    const ReadResult second = readSms(40);
    EXPECT_EQ(second.stream, first.stream);
}

}  // namespace
}  // namespace zrn::test

namespace zrn::test {
namespace {

TEST(WriteSmsArguments, BadCountLengthOrStreamGiveFourAndSendNothing) {
    ConnectedCard card(messageCardImage({.smsRecords = 2, .extraRecords = 2}));
    ASSERT_TRUE(card.connected());
    const Bytes stream = element("CMS", messageRecord(0x01, 0x11));
    EXPECT_EQ(WriteSMS(-1, 360, stream.data()), 4);
    EXPECT_EQ(WriteSMS(1, -360, stream.data()), 4);
    EXPECT_EQ(WriteSMS(1, 360, nullptr), 4);
    EXPECT_EQ(card.sim().commandCount(), 0u);
    EXPECT_EQ(WriteSMS(0, 0, nullptr), 0);
}

TEST(WriteSmsArguments, WithoutACardNothingIsSent) {
    ConnectedCard card(messageCardImage({.smsRecords = 2}));
    ASSERT_TRUE(card.connected());
    channel::cardChannel().SetCardHandle(0);
    const Bytes stream = element("CMS", messageRecord(0x01, 0x11));
    std::int32_t count = 5;
    std::int32_t length = 5;
    Bytes buffer(360, kGuard);
    EXPECT_EQ(WriteSMS(1, 360, stream.data()), -1);
    EXPECT_EQ(ReadSMS(&count, &length, buffer.data()), -1);
    EXPECT_EQ(count, 5);
    EXPECT_EQ(length, 5);
    EXPECT_EQ(card.sim().commandCount(), 0u);
}

}  // namespace
}  // namespace zrn::test

namespace zrn::test {
namespace {

// Records without an index byte could be written but never read back: an
// index shorter than the extra file bounds what the extra file takes.
TEST(WriteSms, AShortIndexBoundsTheExtraStore) {
    sim::CardImage image = messageCardImage({.smsRecords = 4, .extraRecords = 8, .index = true});
    image.find({sim::files::kTelecom, kIndexFile})->data.resize(3);
    ConnectedCard card(image);
    ASSERT_TRUE(card.connected());
    const std::string before = sim::serializeImage(card.image());
    EXPECT_EQ(writeSms(concat({lms(0xC1), lms(0xC2), ems(0xC3), ems(0xC4)})), 4);
    EXPECT_EQ(card.writes(), 0u);
    EXPECT_EQ(sim::serializeImage(card.image()), before);
    ASSERT_EQ(writeSms(concat({lms(0xC1), ems(0xC3), ems(0xC4)})), 0);
    EXPECT_EQ(card.index(), (Bytes{2, 1, 1}));
    EXPECT_EQ(card.extraRecord(3), messageRecord(0x05, 0xC4));
}

}  // namespace
}  // namespace zrn::test
