#include <gtest/gtest.h>

#include "message_card.h"
#include "sms/sms.h"

namespace zrn::test {
namespace {

constexpr long kReaderRemoved = 0x80100069L;  // SCARD_W_REMOVED_CARD

// EF_SMS 4 records, 1 and 2 in use; extra file 4 records, index 02 01 00 00
// (record 1 LMS, 2 EMS, 3 in use but unmarked).
sim::CardImage faultCard(bool index = true) {
    auto image = messageCardImage({.smsRecords = 4, .extraRecords = 4, .index = index});
    sim::putSmsRecord(image, 1, 0x01, Bytes(10, 0xC1));
    sim::putSmsRecord(image, 2, 0x03, Bytes(10, 0xC2));
    for (std::size_t r = 1; r <= 3; ++r) {
        sim::putExtraMessage(image, r, 0x01, Bytes(10, static_cast<std::uint8_t>(0xE0 + r)));
    }
    if (index) {
        sim::setExtraIndex(image, 1, 2);
        sim::setExtraIndex(image, 2, 1);
    }
    return image;
}

Bytes cmsOf(std::uint8_t status, std::uint8_t mark) {
    return element("CMS", sim::smsRecordBytes(status, Bytes(10, mark)));
}
Bytes extraOf(const char* tag, std::size_t record) {
    return element(tag,
                   sim::smsRecordBytes(0x01, Bytes(10, static_cast<std::uint8_t>(0xE0 + record))));
}
Bytes cmsElements() {
    return concat({cmsOf(0x01, 0xC1), cmsOf(0x03, 0xC2)});
}

// ---------------------------------------------------------------------------
// Reading

enum class Counters { kUntouched, kRecordCount, kCmsOnly };

struct ReadFault {
    const char* name;
    std::uint8_t instruction;
    std::uint16_t file;
    std::uint16_t statusWord;
    std::int32_t result;
    Counters counters;
    bool index = true;
};

class ReadSmsFault : public ::testing::TestWithParam<ReadFault> {};

TEST_P(ReadSmsFault, FailsWithTheStoresResultAndHonestCounters) {
    const ReadFault& fault = GetParam();
    ConnectedCard card(faultCard(fault.index));
    ASSERT_TRUE(card.connected());
    card.sim().failInstruction(fault.instruction, fault.file, fault.statusWord);
    const ReadResult read = readSms(8);
    EXPECT_EQ(read.result, fault.result);
    EXPECT_TRUE(read.guardKept);
    switch (fault.counters) {
        case Counters::kUntouched:
            EXPECT_EQ(read.count, -7);
            EXPECT_EQ(read.length, -7);
            break;
        case Counters::kRecordCount:
            EXPECT_EQ(read.count, 4);
            EXPECT_EQ(read.length, -7);
            break;
        case Counters::kCmsOnly:
            EXPECT_EQ(read.count, 2);
            EXPECT_EQ(read.length, 720);
            EXPECT_EQ(read.stream, cmsElements()) << "the counters describe what the buffer holds";
            break;
    }
    // Nothing is fetched for a file that was not selected.
    const auto& log = card.sim().log();
    for (std::size_t i = 1; i < log.size(); ++i) {
        const bool refusedSelect = log[i - 1].command[1] == kInsSelect &&
                                   log[i - 1].response.size() == 2 &&
                                   log[i - 1].response[0] != 0x9F;
        if (refusedSelect) {
            EXPECT_NE(log[i].command[1], kInsGetResponse) << "command " << i + 1;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ReadSmsFault,
    ::testing::Values(
        ReadFault{"MessageFileNotSelected", kInsSelect, kSmsFile, 0x9404, 2, Counters::kUntouched},
        ReadFault{"MessageFileResponse", kInsGetResponse, kSmsFile, 0x6F00, 2,
                  Counters::kUntouched},
        ReadFault{"MessageRecord", kInsReadRecord, kSmsFile, 0x6F00, 2, Counters::kRecordCount},
        ReadFault{"ExtraFileNotSelectedBesideIndex", kInsSelect, kExtraFile, 0x9404, 2,
                  Counters::kCmsOnly},
        ReadFault{"ExtraFileResponse", kInsGetResponse, kExtraFile, 0x6F00, 2, Counters::kCmsOnly},
        ReadFault{"IndexResponse", kInsGetResponse, kIndexFile, 0x6F00, 2, Counters::kCmsOnly},
        ReadFault{"IndexReadBinary", kInsReadBinary, kIndexFile, 0x6F00, 2, Counters::kCmsOnly},
        ReadFault{"ExtraRecord", kInsReadRecord, kExtraFile, 0x6F00, 305, Counters::kCmsOnly},
        ReadFault{"ExtraRecordWithoutIndex", kInsReadRecord, kExtraFile, 0x6F00, 305,
                  Counters::kCmsOnly, false},
        ReadFault{"ExtraResponseWithoutIndex", kInsGetResponse, kExtraFile, 0x6F00, 2,
                  Counters::kCmsOnly, false}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

// A card that answers 90 00 with less data than asked has not delivered the
// record or the selection response.
TEST(ReadSmsCardFaults, ShortAnswersAreFailures) {
    struct Case {
        std::uint8_t instruction;
        std::size_t dataBytes;
        std::int32_t result;
    };
    for (const Case c : {Case{kInsReadRecord, 100, 2}, Case{kInsReadRecord, 0, 2},
                         Case{kInsGetResponse, 4, 2}, Case{kInsGetResponse, 14, 2}}) {
        ConnectedCard card(faultCard());
        ASSERT_TRUE(card.connected());
        card.sim().setInterceptor([c](ByteView command, Bytes& response) {
            if (command.size() < 2 || command[1] != c.instruction) {
                return false;
            }
            response.assign(c.dataBytes, 0x01);
            response.push_back(0x90);
            response.push_back(0x00);
            return true;
        });
        const ReadResult read = readSms(8);
        EXPECT_EQ(read.result, c.result) << int(c.instruction) << " " << c.dataBytes;
        EXPECT_TRUE(read.guardKept);
        EXPECT_EQ(read.length, -7);
    }
}

// Every command of a full read failing in turn: the read never reports
// success. A reader failure while the index is looked for is no sign that the
// card has none: it fails the read like a failed index read (2).
TEST(ReadSmsCardFaults, TransportFailureAtEveryCommand) {
    std::size_t total = 0;
    {
        ConnectedCard card(faultCard());
        ASSERT_TRUE(card.connected());
        ASSERT_EQ(readSms(8).result, 0);
        total = card.sim().commandCount();
    }
    const std::size_t firstIndexSelect = 3 + 1 + 4 + 1;  // after EF_SMS's path, response, records
    for (std::size_t n = 1; n <= total; ++n) {
        ConnectedCard card(faultCard());
        ASSERT_TRUE(card.connected());
        card.sim().failTransportAt(n, kReaderRemoved);
        const ReadResult read = readSms(8);
        EXPECT_TRUE(read.guardKept) << n;
        if (n >= firstIndexSelect && n < firstIndexSelect + 3) {
            EXPECT_EQ(read.result, 2) << n;
        } else {
            EXPECT_TRUE(read.result == 2 || read.result == 305) << n << ": " << read.result;
        }
    }
    // Only a card that says the index is not there reads its extra file unindexed.
    ConnectedCard card(faultCard());
    ASSERT_TRUE(card.connected());
    card.sim().failCommand(firstIndexSelect + 2, 0x9404);
    const ReadResult read = readSms(8);
    EXPECT_EQ(read.result, 0);
    EXPECT_EQ(read.stream,
              concat({cmsElements(), extraOf("LMS", 1), extraOf("LMS", 2), extraOf("LMS", 3)}));
}

// ---------------------------------------------------------------------------
// Writing

Bytes fullStream() {
    return concat({element("CMS", messageRecord(0x01, 0xA1)),
                   element("LMS", messageRecord(0x03, 0xA2)),
                   element("EMS", messageRecord(0x05, 0xA3))});
}

enum class Written { kNothing, kCmsOnly, kAllRecords };

struct WriteFault {
    const char* name;
    std::uint8_t instruction;
    std::uint16_t file;
    Written written;
};

class WriteSmsFault : public ::testing::TestWithParam<WriteFault> {};

TEST_P(WriteSmsFault, CardErrorAndTheIndexKeepsItsContent) {
    const WriteFault& fault = GetParam();
    ConnectedCard card(faultCard());
    ASSERT_TRUE(card.connected());
    const Bytes oldSms1 = card.smsRecord(1);
    const Bytes oldExtra1 = card.extraRecord(1);
    const Bytes oldIndex = card.index();
    const auto before = sim::serializeImage(card.image());
    card.sim().failInstruction(fault.instruction, fault.file, 0x6F00);
    EXPECT_EQ(writeSms(fullStream()), 2);
    EXPECT_EQ(card.index(), oldIndex);
    EXPECT_EQ(card.smsRecord(1) == oldSms1, fault.written == Written::kNothing);
    EXPECT_EQ(card.extraRecord(1) == oldExtra1, fault.written != Written::kAllRecords);
    if (fault.written == Written::kNothing) {
        EXPECT_EQ(sim::serializeImage(card.image()), before);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, WriteSmsFault,
    ::testing::Values(
        WriteFault{"MessageFileNotSelected", kInsSelect, kSmsFile, Written::kNothing},
        WriteFault{"MessageFileResponse", kInsGetResponse, kSmsFile, Written::kNothing},
        WriteFault{"ExtraFileResponse", kInsGetResponse, kExtraFile, Written::kNothing},
        WriteFault{"MessageRecord", kInsUpdateRecord, kSmsFile, Written::kNothing},
        WriteFault{"ExtraRecord", kInsUpdateRecord, kExtraFile, Written::kCmsOnly},
        WriteFault{"IndexReadBinary", kInsReadBinary, kIndexFile, Written::kAllRecords},
        WriteFault{"IndexUpdateBinary", kInsUpdateBinary, kIndexFile, Written::kAllRecords}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

// Command numbers of a write of fullStream(): checks 1-15 (index path and
// response, extra path, EF_SMS path and response, extra path and response),
// EF_SMS path 16-18, record 19, extra path 20-22, then a path before each
// extra record.
constexpr std::size_t kSecondExtraSelect = 14;
constexpr std::size_t kExtraPathBeforeLms = 20;
constexpr std::size_t kExtraPathBeforeFirstRecord = 23;

TEST(WriteSmsCardFaults, ExtraFileLostBetweenTheChecksWritesNothing) {
    ConnectedCard card(faultCard());
    ASSERT_TRUE(card.connected());
    const auto before = sim::serializeImage(card.image());
    card.sim().failCommand(kSecondExtraSelect, 0x9404);
    EXPECT_EQ(writeSms(fullStream()), 2);
    EXPECT_EQ(card.writes(), 0u);
    EXPECT_EQ(sim::serializeImage(card.image()), before);
    EXPECT_EQ(card.commands()[kSecondExtraSelect - 1], path(kExtraFile)[2]);
}

// A SELECT that fails leaves the previous file current; the message meant
// for the extra file must not land in EF_SMS.
TEST(WriteSmsCardFaults, FailedSelectionBeforeAnExtraRecordStopsTheWrite) {
    for (std::size_t n : {kExtraPathBeforeLms, kExtraPathBeforeFirstRecord}) {
        ConnectedCard card(faultCard());
        ASSERT_TRUE(card.connected());
        const Bytes oldSms2 = card.smsRecord(2);
        const Bytes oldExtra1 = card.extraRecord(1);
        const Bytes oldIndex = card.index();
        card.sim().failCommand(n, 0x6F00);
        ASSERT_EQ(card.commands().size(), 0u);
        EXPECT_EQ(writeSms(fullStream()), 2) << n;
        EXPECT_EQ(card.commands()[n - 1], "A0 A4 00 00 02 3F 00") << n;
        EXPECT_EQ(card.smsRecord(1), messageRecord(0x01, 0xA1)) << n;
        EXPECT_EQ(card.smsRecord(2), oldSms2) << n;
        EXPECT_EQ(card.extraRecord(1), oldExtra1) << n;
        EXPECT_EQ(card.index(), oldIndex) << n;
    }
}

// Every command of a full write failing in turn: the write never reports
// success, and a refusal (4) comes before anything is written.
TEST(WriteSmsCardFaults, TransportFailureAtEveryCommand) {
    std::size_t total = 0;
    {
        ConnectedCard card(faultCard());
        ASSERT_TRUE(card.connected());
        ASSERT_EQ(writeSms(fullStream()), 0);
        total = card.sim().commandCount();
    }
    for (std::size_t n = 1; n <= total; ++n) {
        ConnectedCard card(faultCard());
        ASSERT_TRUE(card.connected());
        card.sim().failTransportAt(n, kReaderRemoved);
        const std::int32_t result = writeSms(fullStream());
        EXPECT_TRUE(result == 2 || result == 4) << n << ": " << result;
        if (result == 4) {
            EXPECT_EQ(card.writes(), 0u) << n;
        }
    }
}

// ---------------------------------------------------------------------------
// The record API for tools.

TEST(MessageRecords, ReadAndWriteWithoutAHostBuffer) {
    ConnectedCard card(faultCard());
    ASSERT_TRUE(card.connected());
    std::vector<sms::MessageRecord> messages;
    ASSERT_EQ(sms::readMessageRecords(channel::cardChannel(), messages), 0);
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages[0].kind, sms::MessageKind::kCms);
    EXPECT_EQ(messages[0].status(), 0x01);
    EXPECT_EQ(messages[2].kind, sms::MessageKind::kLms);
    EXPECT_EQ(messages[3].kind, sms::MessageKind::kEms);

    std::swap(messages[0], messages[1]);
    messages[3].kind = sms::MessageKind::kLms;
    ASSERT_EQ(sms::writeMessageRecords(channel::cardChannel(), messages), 0);
    EXPECT_EQ(card.index(), (Bytes{2, 2, 0, 0}));
    std::vector<sms::MessageRecord> again;
    ASSERT_EQ(sms::readMessageRecords(channel::cardChannel(), again), 0);
    EXPECT_EQ(again, messages);
}

TEST(MessageRecords, FailureLeavesTheListAlone) {
    ConnectedCard card(faultCard());
    ASSERT_TRUE(card.connected());
    card.sim().failInstruction(kInsReadRecord, kExtraFile, 0x6F00);
    std::vector<sms::MessageRecord> messages(1);
    EXPECT_EQ(sms::readMessageRecords(channel::cardChannel(), messages), 305);
    EXPECT_EQ(messages.size(), 1u);
}

}  // namespace
}  // namespace zrn::test
