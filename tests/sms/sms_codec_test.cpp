#include <gtest/gtest.h>

#include <random>
#include <string>

#include "message_card.h"
#include "results/result_codes.h"
#include "sms/sms.h"
#include "sms/sms_codec.h"

namespace zrn::sms {
namespace {

using test::element;

Record randomRecord(unsigned seed) {
    std::mt19937 generator(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    Record record{};
    for (auto& b : record) {
        b = static_cast<std::uint8_t>(byte(generator));
    }
    return record;
}

struct HeadCase {
    MessageKind kind;
    const char* bytes;
};

class SmsHead : public ::testing::TestWithParam<HeadCase> {};

TEST_P(SmsHead, NamesTheStoreAndStatesTheFixedLength) {
    std::array<std::uint8_t, 12> out{};
    out.fill(0xAA);
    std::int32_t position = 2;
    EXPECT_EQ(SmsCodec::PutSmsHead(position, out.data(), GetParam().kind), 1);
    EXPECT_EQ(position, 10);
    EXPECT_EQ(toHex(ByteView(out.data() + 2, 8)), GetParam().bytes);
    EXPECT_EQ(out[1], 0xAA);
    EXPECT_EQ(out[10], 0xAA);
}

INSTANTIATE_TEST_SUITE_P(Kinds, SmsHead,
                         ::testing::Values(HeadCase{MessageKind::kCms, "01 43 4D 53 00 00 01 60"},
                                           HeadCase{MessageKind::kLms, "01 4C 4D 53 00 00 01 60"},
                                           HeadCase{MessageKind::kEms, "01 45 4D 53 00 00 01 60"}));

TEST(SmsHexRecord, AllFfRecordGivesOnlyUpperCaseF) {
    Record record{};
    record.fill(0xFF);
    std::vector<std::uint8_t> out(kHexTextLength + 1, 0);
    std::int32_t position = 0;
    SmsCodec::PutHexRecord(kRecordLength, record.data(), out.data(), position);
    EXPECT_EQ(position, 352);
    EXPECT_EQ(std::string(out.begin(), out.begin() + 352), std::string(352, 'F'));
    EXPECT_EQ(out[352], 0) << "nothing is written after the text";
}

TEST(SmsHexRecord, HighNibbleFirstWithUpperCaseLetters) {
    Record record{};
    record[0] = 0x01;
    record[1] = 0x23;
    record[2] = 0xAB;
    record[3] = 0xCD;
    record[4] = 0xEF;
    record[5] = 0x90;
    std::vector<std::uint8_t> out(kHexTextLength);
    std::int32_t position = 0;
    SmsCodec::PutHexRecord(kRecordLength, record.data(), out.data(), position);
    EXPECT_EQ(std::string(out.begin(), out.begin() + 14), "0123ABCDEF9000");
}

struct PairCase {
    const char* text;
    std::uint8_t value;
};

class SmsHexPair : public ::testing::TestWithParam<PairCase> {};

TEST_P(SmsHexPair, Decodes) {
    const auto* text = reinterpret_cast<const std::uint8_t*>(GetParam().text);
    EXPECT_EQ(SmsCodec::HexPairToByte(text[0], text[1]), GetParam().value) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, SmsHexPair,
    ::testing::Values(PairCase{"A5", 0xA5}, PairCase{"7F", 0x7F}, PairCase{"00", 0x00},
                      PairCase{"FF", 0xFF}, PairCase{"9A", 0x9A},
                      // Lower-case letters are no digits: they count with their codes.
                      PairCase{"a0", 0x10}, PairCase{"ff", 0xC6}, PairCase{"Bc", 0x13},
                      // Other characters count with their own codes, modulo 256.
                      PairCase{"G0", 0x70}, PairCase{"0G", 0x47}, PairCase{" 1", 0x01}));

TEST(SmsHexRecord, EncodingThenDecodingGivesTheRecordBack) {
    for (unsigned seed = 1; seed <= 20; ++seed) {
        const Record record = randomRecord(seed);
        UnitBuffer unit{};
        std::int32_t position = 0;
        SmsCodec::PutSmsHead(position, unit.data(), MessageKind::kLms);
        SmsCodec::PutHexRecord(kRecordLength, record.data(), unit.data(), position);
        ASSERT_EQ(position, 360);

        PayloadBuffer payload{};
        std::int32_t unitLength = 360;
        SmsCodec::TakeUnitPayload(unitLength, unit, payload);
        RecordBuffer decoded{};
        SmsCodec::HexToBytes(ByteView(payload.data(), kHexTextLength), decoded);
        EXPECT_TRUE(std::equal(record.begin(), record.end(), decoded.begin())) << seed;
        EXPECT_EQ(decoded[176], 0) << "the spare byte stays as it was";
    }
}

TEST(SmsUnitPayload, TakesTheValueWhateverTheLengthBytesSay) {
    UnitBuffer unit{};
    unit.fill('7');
    unit[0] = 0x01;
    unit[4] = 0x00;
    unit[5] = 0x12;
    unit[6] = 0x34;
    unit[7] = 0x56;
    PayloadBuffer payload{};
    std::int32_t unitLength = 360;
    SmsCodec::TakeUnitPayload(unitLength, unit, payload);
    EXPECT_EQ(std::string(payload.begin(), payload.begin() + 352), std::string(352, '7'));
    EXPECT_EQ(payload[352], 0xFF);
}

TEST(SmsUnitPayload, UnitLengthOutsideTheBufferCopiesNothingBeyondIt) {
    UnitBuffer unit{};
    unit.fill('1');
    for (std::int32_t length : {-5, 0, 8, 5000}) {
        PayloadBuffer payload{};
        std::int32_t unitLength = length;
        SmsCodec::TakeUnitPayload(unitLength, unit, payload);
        const std::size_t expectedText = length >= 361 ? 353 : 0;
        for (std::size_t i = 0; i < payload.size(); ++i) {
            EXPECT_EQ(payload[i], i < expectedText ? '1' : 0xFF) << length << " at " << i;
        }
    }
}

TEST(SmsOutcome, TranslatesToTheExportResult) {
    const std::pair<int, std::int32_t> table[] = {
        {1, 0},     {10001, 4}, {10002, 4}, {10003, 305}, {10004, 305},
        {10005, 2}, {10006, 2}, {10007, 2}, {10008, 2},
    };
    for (const auto& [outcome, result] : table) {
        EXPECT_EQ(translateOutcome(outcome), result) << outcome;
    }
}

TEST(SmsHead, NotRecognisedWhenFewerThanFiveBytesAreLeft) {
    const Bytes stream = {0x00, 0x01, 'C', 'M', 'S', 0x00};
    EXPECT_TRUE(isHeadAt(stream, 1, MessageKind::kCms));
    EXPECT_FALSE(isHeadAt(ByteView(stream.data(), 5), 1, MessageKind::kCms));
    EXPECT_FALSE(isHeadAt(stream, 1, MessageKind::kLms));
    EXPECT_FALSE(isHeadAt(stream, 6, MessageKind::kCms));
    EXPECT_FALSE(isHeadAt(stream, 600, MessageKind::kCms));
}

TEST(SmsMessageStream, EncodesLikeTheElementLayoutAndDecodesBack) {
    std::vector<MessageRecord> messages(3);
    messages[0] = {MessageKind::kCms, randomRecord(7)};
    messages[1] = {MessageKind::kEms, randomRecord(8)};
    messages[2] = {MessageKind::kLms, randomRecord(9)};
    const Bytes stream = encodeMessageStream(messages);
    EXPECT_EQ(stream,
              test::concat({element("CMS", messages[0].bytes), element("EMS", messages[1].bytes),
                            element("LMS", messages[2].bytes)}));
    const auto decoded = decodeMessageStream(stream);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(*decoded, messages);
}

TEST(SmsMessageStream, DecodingRefusesMalformedElements) {
    const Bytes good = element("CMS", randomRecord(3));
    Bytes unknownTag = good;
    unknownTag[1] = 'X';
    Bytes notHex = good;
    notHex[100] = 'G';
    Bytes lengthByte = good;
    lengthByte[4] = 0x01;
    Bytes cut(good.begin(), good.end() - 1);
    for (const Bytes& bad : {unknownTag, notHex, lengthByte, cut}) {
        EXPECT_FALSE(decodeMessageStream(bad).has_value());
    }
    Bytes lowerCase = good;
    for (std::size_t i = 8; i < lowerCase.size(); ++i) {
        lowerCase[i] = static_cast<std::uint8_t>(std::tolower(lowerCase[i]));
    }
    EXPECT_FALSE(decodeMessageStream(lowerCase).has_value());
}

}  // namespace
}  // namespace zrn::sms
