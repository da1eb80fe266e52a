// Every parser of the tool takes whatever bytes it is given: seeds of each
// format, mutated at random (deterministically), must be refused or read,
// never crash or read outside their input (the sanitizer build checks that).
#include <gtest/gtest.h>

#include <random>

#include "cli/formats/csv.h"
#include "cli/formats/json_format.h"
#include "cli/formats/vcard.h"
#include "cli/phonebook_model.h"
#include "cli/sms_pdu.h"
#include "cli/text/alpha.h"

namespace zrn::cli {
namespace {

std::string mutate(std::string s, std::mt19937& rng) {
    std::uniform_int_distribution<int> op(0, 3);
    std::uniform_int_distribution<int> byte(0, 255);
    const int edits = 1 + static_cast<int>(rng() % 4);
    for (int e = 0; e < edits; ++e) {
        const std::size_t pos = s.empty() ? 0 : rng() % s.size();
        switch (op(rng)) {
            case 0:
                if (!s.empty()) {
                    s[pos] = static_cast<char>(byte(rng));
                }
                break;
            case 1:
                s.insert(pos, 1, static_cast<char>(byte(rng)));
                break;
            case 2:
                if (!s.empty()) {
                    s.erase(pos, 1 + rng() % 8);
                }
                break;
            default:
                s = s.substr(0, pos);  // cut short
                break;
        }
    }
    return s;
}

ByteView bytesOf(const std::string& s) {
    return ByteView(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}

Phonebook seedBook() {
    Phonebook b;
    b.groups = {{1, "Family"}, {4, "同学"}};
    b.contacts = {
        {"Anna", {{NumberType::kMobile, "0171"}, {NumberType::kHome, "030"}}, {"a@b.c"}, {1, 4}},
        {"Иван", {{NumberType::kGeneral, "*100#"}}, {}, {}}};
    return b;
}

TEST(Robustness, MutatedInputNeverCrashesAParser) {
    PhonebookRoom room;
    room.extended = true;
    room.nameSlotLength = 36;
    room.numberSlotLength = 24;
    room.adnCount = 10;
    room.nameSlotCount = 10;
    room.numberSlotCount = 20;
    room.groupCount = 8;
    room.groupNameLength = 12;
    room.adiCount = 10;
    room.adiRecordLength = 40;
    const Bytes stream = encodePhonebook(seedBook(), room).stream;
    SmsDraft draft;
    draft.status = SmsStatus::kRead;
    draft.address = "+4917012";
    draft.text = std::string(200, 'h') + "ü";
    draft.timestamp = "2024-05-01T12:00:00+02:00";
    const Bytes record = encodeSmsDraft(draft).value().front();
    const Bytes element = smsElement("CMS", record);

    int accepted = 0;
    const std::vector<std::pair<std::string, std::function<void(const std::string&)>>> parsers = {
        {std::string(stream.begin(), stream.end()),
         [&](const std::string& s) {
             if (auto raw = parsePhonebookStream(bytesOf(s))) {
                 ++accepted;
                 const Phonebook book = decodePhonebook(raw.value());
                 (void)encodePhonebook(book, room);
                 (void)rawDoesNotFit(raw.value(), room);
                 // Whatever was read frames back into a stream that reads the same.
                 auto again = parsePhonebookStream(phonebookStream(raw.value(), true));
                 ASSERT_TRUE(again) << again.error();
                 EXPECT_EQ(decodePhonebook(again.value()).contacts, book.contacts);
             }
         }},
        {formats::writeVcards(seedBook()),
         [&](const std::string& s) {
             if (auto r = formats::parseVcards(s)) {
                 (void)encodePhonebook(r->phonebook, room);
             }
         }},
        {formats::writeCsv(seedBook()),
         [&](const std::string& s) {
             if (auto r = formats::parseCsv(s)) {
                 ++accepted;
                 auto again = formats::parseCsv(formats::writeCsv(r->phonebook));
                 ASSERT_TRUE(again) << again.error();
                 EXPECT_EQ(again->phonebook.contacts, r->phonebook.contacts);
             }
         }},
        {formats::phonebookToJson(seedBook(), "extended").dump(),
         [](const std::string& s) { (void)formats::parsePhonebookJson(s); }},
        {formats::messagesToJson({{"CMS", 1, record}}).dump(),
         [](const std::string& s) { (void)formats::parseMessagesJson(s); }},
        {std::string(record.begin(), record.end()),
         [](const std::string& s) {
             (void)decodeSmsRecord(bytesOf(s));
             (void)text::decodeAlpha(bytesOf(s));
             (void)text::encodeAlpha(s, {20, 9, true});
         }},
        {std::string(element.begin(), element.end()),
         [](const std::string& s) {
             if (auto stored = parseSmsStream(bytesOf(s))) {
                 (void)assembleMessages(stored.value());
             }
         }},
    };
    std::mt19937 rng(20240501);
    for (const auto& [seed, parse] : parsers) {
        parse(seed);
        for (int i = 0; i < 1500; ++i) {
            parse(mutate(seed, rng));
        }
    }
    // Many mutations keep the input readable; the properties above were exercised.
    EXPECT_GT(accepted, 100);
}

}  // namespace
}  // namespace zrn::cli
