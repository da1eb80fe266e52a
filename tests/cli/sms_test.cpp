#include <gtest/gtest.h>

#include "cli/card_data.h"
#include "cli/formats/json_format.h"
#include "cli/sms_pdu.h"
#include "cli/text/utf8.h"

namespace zrn::cli {
namespace {

std::vector<StoredSms> stored(const std::vector<Bytes>& records) {
    std::vector<StoredSms> out;
    for (const Bytes& r : records) {
        out.push_back({"CMS", static_cast<int>(out.size() + 1), r});
    }
    return out;
}

TEST(SmsDraft, ShortTextsTakeOneRecordAndDecodeBack) {
    struct Case {
        SmsStatus status;
        std::string address;
        std::string text;
        const char* encoding;
        SmsKind kind;
    };
    const std::vector<Case> cases = {
        {SmsStatus::kUnsent, "+491701234567", "Hello {world} €5", "gsm7", SmsKind::kSubmit},
        {SmsStatus::kSent, "10086", "您好", "ucs2", SmsKind::kSubmit},
        {SmsStatus::kUnread, "+8613912345678", "Grüße 😀", "ucs2", SmsKind::kDeliver},
        {SmsStatus::kRead, "*100#", std::string(160, 'a'), "gsm7", SmsKind::kDeliver},
    };
    for (const Case& c : cases) {
        SmsDraft draft;
        draft.status = c.status;
        draft.address = c.address;
        draft.text = c.text;
        draft.smsc = "+8613800755500";
        draft.timestamp = "2024-05-01T12:30:00+08:00";
        auto records = encodeSmsDraft(draft);
        ASSERT_TRUE(records) << records.error();
        ASSERT_EQ(records->size(), 1u) << c.text;
        ASSERT_EQ(records->front().size(), kSmsRecordSize);
        const DecodedSms d = decodeSmsRecord(records->front());
        EXPECT_EQ(d.problem, "") << c.text;
        EXPECT_EQ(d.status, c.status);
        EXPECT_EQ(d.kind, c.kind);
        EXPECT_EQ(d.address, c.address);
        EXPECT_EQ(d.smsc, "+8613800755500");
        EXPECT_EQ(d.encoding, c.encoding);
        EXPECT_EQ(d.text, c.text);
        if (c.kind == SmsKind::kDeliver) {
            EXPECT_EQ(d.timestamp, "2024-05-01T12:30:00+08:00");
        }
    }
}

TEST(SmsDraft, LongTextsAreConcatenatedAndReassembled) {
    SmsDraft draft;
    draft.address = "123";
    draft.reference = 77;
    // 161 septets, the escape pair of '€' at the part boundary must not split.
    draft.text = std::string(152, 'x') + "€" + std::string(8, 'y');
    auto records = encodeSmsDraft(draft);
    ASSERT_TRUE(records) << records.error();
    ASSERT_EQ(records->size(), 2u);
    const DecodedSms first = decodeSmsRecord(records->at(0));
    ASSERT_TRUE(first.concatenation);
    EXPECT_EQ(*first.concatenation, (Concatenation{77, 2, 1}));
    EXPECT_EQ(first.text, std::string(152, 'x')) << "153 septets do not hold the escape pair";

    // Stored out of order, with an unrelated message between the parts.
    SmsDraft other;
    other.address = "999";
    other.text = "unrelated";
    auto single = encodeSmsDraft(other);
    ASSERT_TRUE(single);
    const auto messages = assembleMessages(stored({records->at(1), single->at(0), records->at(0)}));
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].text, draft.text);
    EXPECT_TRUE(messages[0].complete);
    EXPECT_EQ(messages[0].parts, (std::vector<std::size_t>{2, 0}));
    EXPECT_EQ(messages[1].text, "unrelated");
}

TEST(SmsDraft, MissingPartsAreMarked) {
    SmsDraft draft;
    draft.address = "123";
    draft.text = std::string(400, 'z');
    auto records = encodeSmsDraft(draft);
    ASSERT_TRUE(records);
    ASSERT_EQ(records->size(), 3u);
    const auto messages = assembleMessages(stored({records->at(0), records->at(2)}));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_FALSE(messages[0].complete);
    EXPECT_EQ(messages[0].totalParts, 3);
    EXPECT_NE(messages[0].text.find("[part 2 missing]"), std::string::npos);
}

TEST(SmsDraft, BadDraftsAreRefused) {
    SmsDraft draft;
    draft.address = "12a";
    EXPECT_FALSE(encodeSmsDraft(draft));
    draft.address = "1";
    draft.status = SmsStatus::kRead;
    draft.timestamp = "yesterday";
    EXPECT_FALSE(encodeSmsDraft(draft));
    draft.status = SmsStatus::kFree;
    EXPECT_FALSE(encodeSmsDraft(draft));
}

TEST(SmsStream, ElementsRoundTrip) {
    Bytes record(kSmsRecordSize, 0xFF);
    record[0] = 0x01;
    record[1] = 0xAB;
    Bytes stream = smsElement("LMS", record);
    const Bytes second = smsElement("EMS", record);
    stream.insert(stream.end(), second.begin(), second.end());
    ASSERT_EQ(stream.size(), 720u);
    EXPECT_EQ(Bytes(stream.begin(), stream.begin() + 12),
              (Bytes{0x01, 'L', 'M', 'S', 0x00, 0x00, 0x01, 0x60, '0', '1', 'A', 'B'}));
    auto parsed = parseSmsStream(stream);
    ASSERT_TRUE(parsed) << parsed.error();
    ASSERT_EQ(parsed->size(), 2u);
    EXPECT_EQ(parsed->at(0).store, "LMS");
    EXPECT_EQ(parsed->at(1).store, "EMS");
    EXPECT_EQ(parsed->at(1).record, record);
    stream[20] = 'G';  // not a hex digit
    EXPECT_FALSE(parseSmsStream(stream));
    EXPECT_FALSE(parseSmsStream(Bytes(stream.begin(), stream.begin() + 300)));
}

}  // namespace
}  // namespace zrn::cli

namespace zrn::cli {
namespace {

Bytes recordOf(const std::string& hex) {
    Bytes r;
    EXPECT_TRUE(fromHex(hex, r)) << hex;
    r.resize(kSmsRecordSize, 0xFF);
    return r;
}

TEST(MessageViews, StatusReportsNameTheRecipientAndDeletedMessagesAreMarked) {
    const std::vector<StoredSms> live = {
        {"CMS", 1, recordOf("01 00 06 2A 0B919471101032F5 42501021436500 42501021536500 00")},
        {"CMS", 2, recordOf("05 00 06 2A 0B919471101032F5 42501021436500 42501021536500 46")},
    };
    const std::string text = messagesText(live);
    EXPECT_EQ(text.find("from"), std::string::npos) << text;
    EXPECT_NE(text.find("report on the message to +49170101235"), std::string::npos) << text;
    EXPECT_NE(text.find("discharged 2024-05-01T12:35:56+00:00"), std::string::npos) << text;
    EXPECT_NE(text.find("SM validity period expired"), std::string::npos) << text;
    EXPECT_EQ(text.find("not decoded"), std::string::npos) << text;
    const auto json = formats::messagesToJson(live)["messages"];
    ASSERT_EQ(json.size(), 2u);
    for (const auto& report : json) {
        EXPECT_FALSE(report.contains("from")) << report.dump();
        EXPECT_EQ(report["recipient"], "+49170101235") << report.dump();
        EXPECT_EQ(report["discharge_time"], "2024-05-01T12:35:56+00:00") << report.dump();
    }
    EXPECT_EQ(json[1]["report_status"], 0x46);

    const std::vector<StoredSms> deleted = {
        {"LMS", 7, recordOf("00 00 04 04812143 00 00 42501021436500 02 C834")},
    };
    const std::string gone = deletedMessagesText(deleted);
    EXPECT_NE(gone.find("[deleted] from 1234"), std::string::npos) << gone;
    EXPECT_NE(gone.find("LMS record 7"), std::string::npos) << gone;
    const auto recovered = deletedMessagesJson(deleted);
    ASSERT_EQ(recovered.size(), 1u);
    EXPECT_EQ(recovered[0]["deleted"], true);
    EXPECT_EQ(recovered[0]["text"], "Hi");
}

}  // namespace
}  // namespace zrn::cli

namespace zrn::cli {
namespace {

// Every character a national table pair can code decodes back through the
// same pair: the generated tables and the coder agree, for all 13 languages.
TEST(NationalTables, EveryCodableCharacterReadsBack) {
    for (int language = 0; language < text::kNationalLanguageCount; ++language) {
        const text::Gsm7Tables tables{text::hasLockingShiftTable(language) ? language : 0,
                                      language};
        int coded = 0;
        for (std::uint8_t code = 0; code < 0x80; ++code) {
            for (const Bytes& septets : {Bytes{code}, Bytes{text::kGsmEscape, code}}) {
                const std::string shown = text::decodeGsmUnpacked(septets, tables);
                const std::u32string c = text::decodeUtf8(shown);
                if (c.size() != 1 || c[0] == text::kReplacement || c[0] == U' ') {
                    continue;
                }
                const auto back = text::gsmSeptetsOf(c[0], tables);
                ASSERT_TRUE(back) << text::nationalLanguageName(language) << " " << shown;
                EXPECT_EQ(text::decodeGsmUnpacked(*back, tables), shown);
                ++coded;
            }
        }
        EXPECT_GT(coded, 120) << text::nationalLanguageName(language);
    }
}

}  // namespace
}  // namespace zrn::cli
