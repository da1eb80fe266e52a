#include <gtest/gtest.h>

#include <algorithm>

#include "cli/element_stream.h"
#include "cli/phonebook_model.h"

namespace zrn::cli {
namespace {

PhonebookRoom extendedRoom() {
    PhonebookRoom r;
    r.extended = true;
    r.nameSlotLength = 20;    // 16 name bytes
    r.numberSlotLength = 14;  // 20 digits
    r.adnCount = 3;
    r.nameSlotCount = 4;
    r.numberSlotCount = 6;
    r.groupCount = 5;
    r.groupNameLength = 6;
    r.adiCount = 3;
    r.adiRecordLength = 13;  // 10 text bytes
    return r;
}

PhonebookRoom standardRoom() {
    PhonebookRoom r;
    r.adnRecordLength = 24;  // 10-byte alpha field
    r.adnRecordCount = 4;    // 3 usable
    return r;
}

Contact contact(std::string name, std::vector<PhoneNumber> numbers,
                std::vector<std::string> notes = {}, std::vector<int> groups = {}) {
    return {std::move(name), std::move(numbers), std::move(notes), std::move(groups)};
}

bool hasIssue(const EncodedPhonebook& e, Issue::Kind kind, const std::string& fragment) {
    for (const Issue& i : e.issues) {
        if (i.kind == kind && (i.what.find(fragment) != std::string::npos ||
                               i.where.find(fragment) != std::string::npos)) {
            return true;
        }
    }
    return false;
}

TEST(PhonebookStream, TheDocumentedContactParses) {
    // "AB", general 123, mobile 456, groups 2 and 5, as the extended reader emits it.
    Bytes body;
    appendElement(body, "NMT", Bytes{'A', 'B'});
    appendElement(body, "ADN", Bytes{'1', '2', '3'});
    appendElement(body, "GPI", Bytes{});
    appendElement(body, "MBL", Bytes{'4', '5', '6'});
    appendElement(body, "GPI", Bytes{});
    appendElement(body, "ADI", Bytes{});
    appendElement(body, "ADI", Bytes{});
    appendElement(body, "GPI", Bytes{'2', 0x01, '5'});
    Bytes stream;
    appendElement(stream, "NCD", body);
    ASSERT_EQ(stream.size(), 83u);
    auto raw = parsePhonebookStream(stream);
    ASSERT_TRUE(raw) << raw.error();
    const Phonebook book = decodePhonebook(raw.value());
    ASSERT_EQ(book.contacts.size(), 1u);
    EXPECT_EQ(
        book.contacts[0],
        contact("AB", {{NumberType::kGeneral, "123"}, {NumberType::kMobile, "456"}}, {}, {2, 5}));
}

TEST(PhonebookStream, LyingLengthsAreRefusedNotFollowed) {
    const std::vector<Bytes> streams = {
        {0x01, 'N', 'C', 'D', 0x00, 0x00, 0x01, 0x00},  // claims 256 bytes, has none
        {0x01, 'N', 'C', 'D', 0x00, 0x00, 0x00, 0x09, 0x01, 'N', 'M', 'T', 0, 0, 0, 9, 'A'},
        {0x01, 'N', 'C'},                               // a head cut short
        {0x02, 'N', 'C', 'D', 0x00, 0x00, 0x00, 0x00},  // wrong marker
        {0x01, 'X', 'Y', 'Z', 0x00, 0x00, 0x00, 0x00},  // unknown element
    };
    for (const Bytes& s : streams) {
        EXPECT_FALSE(parsePhonebookStream(s)) << toHex(s);
    }
}

TEST(PhonebookStream, GroupDigitsAreReadAsTheWriterReadsThem) {
    EXPECT_EQ(parseGroupDigits(Bytes{'1', 0x01, '3', 0x01, '8'}), (std::vector<int>{1, 3, 8}));
    EXPECT_EQ(parseGroupDigits(Bytes{'1', '2', 0x01, '3'}), (std::vector<int>{3}));
    EXPECT_EQ(parseGroupDigits(Bytes{0x01, 0x01, '4', 0x01}), (std::vector<int>{4}));
    EXPECT_EQ(parseGroupDigits(Bytes(200, '9')), (std::vector<int>{}));
}

TEST(PhonebookEncoding, ExtendedRoundTripKeepsEverything) {
    Phonebook book;
    book.groups = {{1, "Family"}, {2, "同学"}};
    book.contacts = {
        contact("Anna", {{NumberType::kMobile, "0171*1#"}, {NumberType::kGeneral, "030"}},
                {"a@b.de"}, {1, 2}),
        contact("", {{NumberType::kOther, "112"}}),
    };
    const EncodedPhonebook e = encodePhonebook(book, extendedRoom());
    EXPECT_TRUE(e.issues.empty());
    auto back = parsePhonebookStream(e.stream);
    ASSERT_TRUE(back) << back.error();
    EXPECT_EQ(back->groups.size(), 8u) << "the writer reads eight group elements";
    const Phonebook decoded = decodePhonebook(back.value());
    EXPECT_EQ(decoded.contacts[0].name, "Anna");
    // Numbers travel grouped by type, general first.
    EXPECT_EQ(decoded.contacts[0].numbers,
              (std::vector<PhoneNumber>{{NumberType::kGeneral, "030"},
                                        {NumberType::kMobile, "0171*1#"}}));
    EXPECT_EQ(decoded.contacts[0].notes, (std::vector<std::string>{"a@b.de"}));
    EXPECT_EQ(decoded.contacts[0].groups, (std::vector<int>{1, 2}));
    EXPECT_EQ(decoded.group(2)->name, "同学");
    EXPECT_EQ(decoded.contacts[1].name, "");
    // '*' and '#' are the digit text's 0x3A and 0x3B.
    EXPECT_EQ(e.raw.contacts[0].numbers[1].digits, (Bytes{'0', '1', '7', '1', 0x3A, '1', 0x3B}));
}

TEST(PhonebookEncoding, PlusIsStoredInternationalUnlessStoredAs00) {
    Phonebook book;
    book.contacts = {contact("Bo", {{NumberType::kMobile, "+49 170 123"}})};
    const EncodedPhonebook international = encodePhonebook(book, extendedRoom());
    ASSERT_FALSE(international.refused());
    ASSERT_EQ(international.raw.contacts[0].numbers.size(), 1u);
    EXPECT_TRUE(international.raw.contacts[0].numbers[0].international);
    EXPECT_EQ(international.raw.contacts[0].numbers[0].digits,
              (Bytes{'4', '9', '1', '7', '0', '1', '2', '3'}));
    EXPECT_EQ(international.stored.contacts[0].numbers[0].number, "+49170123");
    // The stream itself carries the digits only.
    EXPECT_EQ(international.stream.end(),
              std::search(international.stream.begin(), international.stream.end(),
                          std::begin("+49"), std::end("+49") - 1));
    const EncodedPhonebook accepted = encodePhonebook(book, extendedRoom(), {true});
    EXPECT_FALSE(accepted.refused());
    EXPECT_FALSE(accepted.raw.contacts[0].numbers[0].international);
    EXPECT_EQ(accepted.stored.contacts[0].numbers[0].number, "0049170123");

    Phonebook bare;
    bare.contacts = {contact("Cy", {{NumberType::kMobile, "+"}})};
    EXPECT_TRUE(hasIssue(encodePhonebook(bare, extendedRoom()), Issue::Kind::kLoss, "no digit"));
}

TEST(PhonebookEncoding, WhatDoesNotFitIsReported) {
    struct Case {
        const char* what;
        Phonebook book;
        const char* fragment;
    };
    auto many = [](std::size_t n) {
        Phonebook b;
        for (std::size_t i = 0; i < n; ++i) {
            b.contacts.push_back(contact("C" + std::to_string(i), {}));
        }
        return b;
    };
    Phonebook longName;
    longName.contacts = {contact("An extremely long name", {})};
    Phonebook emoji;
    emoji.contacts = {contact("Hi 😀", {})};
    Phonebook letters;
    letters.contacts = {contact("X", {{NumberType::kMobile, "0800-FLOWERS"}})};
    Phonebook longNumber;
    longNumber.contacts = {contact("X", {{NumberType::kMobile, std::string(21, '1')}})};
    Phonebook threeNotes;
    threeNotes.contacts = {contact("X", {}, {"a", "b", "c"})};
    Phonebook generals;
    generals.contacts = {contact("X", {{NumberType::kGeneral, "1"},
                                       {NumberType::kGeneral, "2"},
                                       {NumberType::kGeneral, "3"},
                                       {NumberType::kGeneral, "4"}})};
    Phonebook group7;
    group7.groups = {{7, "Seven"}};
    const std::vector<Case> cases = {
        {"contacts beyond the name slots", many(5), "holds 4 contacts"},
        {"a name cut to 16 bytes", longName, "is cut to \"An extremely lon\""},
        {"a character outside UCS-2", emoji, "outside UCS-2"},
        {"letters in a number", letters, "cannot hold"},
        {"a number too long", longNumber, "21 digits"},
        {"a third note", threeNotes, "two free-text entries"},
        {"a full general-number region", generals, "slots are all taken"},
        {"a group beyond the card's records", group7, "group records"},
    };
    for (const Case& c : cases) {
        const EncodedPhonebook e = encodePhonebook(c.book, extendedRoom());
        EXPECT_TRUE(hasIssue(e, Issue::Kind::kLoss, c.fragment)) << c.what;
        EXPECT_FALSE(e.refused()) << c.what;
        // Whatever is kept must fit the card as it stands.
        EXPECT_EQ(rawDoesNotFit(e.raw, extendedRoom()), std::nullopt) << c.what;
    }
}

TEST(PhonebookEncoding, StandardLayoutKeepsNameAndOneNumber) {
    Phonebook book;
    book.groups = {{1, "Family"}};
    book.contacts = {
        contact("Иван", {{NumberType::kHome, "02"}, {NumberType::kMobile, "01"}}, {"note"}, {1}),
        contact("B", {}),
        contact("C", {}),
        contact("D", {}),
    };
    const EncodedPhonebook e = encodePhonebook(book, standardRoom());
    EXPECT_TRUE(hasIssue(e, Issue::Kind::kLoss, "one number per contact"));
    EXPECT_TRUE(hasIssue(e, Issue::Kind::kLoss, "no free-text entries"));
    EXPECT_TRUE(hasIssue(e, Issue::Kind::kLoss, "have no groups"));
    EXPECT_TRUE(hasIssue(e, Issue::Kind::kLoss, "holds 3 contacts"));
    ASSERT_EQ(e.raw.contacts.size(), 3u);
    // The mobile number sorts before the home number and becomes the general one.
    EXPECT_EQ(e.stored.contacts[0].numbers,
              (std::vector<PhoneNumber>{{NumberType::kGeneral, "01"}}));
    // The 0x81 form is the most compact for Cyrillic: 3 + 4 bytes.
    EXPECT_EQ(e.raw.contacts[0].name, (Bytes{0x81, 0x04, 0x08, 0x98, 0xB2, 0xB0, 0xBD}));
    EXPECT_EQ(e.stored.contacts[0].name, "Иван");
}

TEST(PhonebookEncoding, AnEmptyExtendedPhonebookTravelsAsAnEmptyContact) {
    const EncodedPhonebook e = encodePhonebook(Phonebook{}, extendedRoom());
    ASSERT_EQ(e.stream.size(), 8u * 8u + 8u);
    EXPECT_EQ(Bytes(e.stream.end() - 8, e.stream.end()), (Bytes{0x01, 'N', 'C', 'D', 0, 0, 0, 0}));
    EXPECT_EQ(e.count, 0);
}

TEST(PhonebookVerification, NamesTheFirstDifference) {
    Phonebook book;
    book.contacts = {contact("Anna", {{NumberType::kMobile, "1"}}, {"x", "y"}, {1})};
    const EncodedPhonebook e = encodePhonebook(book, extendedRoom());
    RawPhonebook same = e.raw;
    std::swap(same.contacts[0].adi[0], same.contacts[0].adi[1]);  // the card's kind order
    EXPECT_EQ(firstDifference(e.raw, same, extendedRoom()), std::nullopt);

    RawPhonebook changed = e.raw;
    changed.contacts[0].numbers[0].digits = {'2'};
    const auto difference = firstDifference(e.raw, changed, extendedRoom());
    ASSERT_TRUE(difference);
    EXPECT_NE(difference->find("contact 1 (\"Anna\"): numbers"), std::string::npos) << *difference;

    RawPhonebook fewer = e.raw;
    fewer.contacts.clear();
    EXPECT_NE(firstDifference(e.raw, fewer, extendedRoom())->find("wrote 1 contacts"),
              std::string::npos);
}

}  // namespace
}  // namespace zrn::cli

namespace zrn::cli {
namespace {

Bytes digitText(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

TEST(PhonebookDigits, TheFillerEndsTheNumberAndWhatFollowsIsDamage) {
    const struct {
        const char* stored;  // digit text as the stream carries it: '?' is nibble F
        const char* shown;
        const char* damage;  // what the warning quotes, or "" for none
    } cases[] = {
        {"0123", "0123", ""},
        {"1:;<=>", "1*#p?e", ""},
        {"0123?", "0123", ""},
        {"0123?????", "0123", ""},
        {"0123?5", "0123", "(5)"},
        {"0123??5?", "0123", "(5F)"},
        {"??", "", ""},
        {"?9", "", "(9)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        EXPECT_EQ(digitTextToNumber(digitText(c.stored)), c.shown);
        RawPhonebook raw;
        raw.contacts.push_back(
            {Bytes{0x41, 0x6E, 0x6E}, {{NumberType::kMobile, digitText(c.stored)}}, {}, {}});
        const auto damage = numbersWithDigitsAfterTheirEnd(raw);
        if (std::string(c.damage).empty()) {
            EXPECT_TRUE(damage.empty());
        } else {
            ASSERT_EQ(damage.size(), 1u);
            EXPECT_NE(damage[0].find(c.damage), std::string::npos) << damage[0];
            EXPECT_NE(damage[0].find("contact 1 (\"Ann\")"), std::string::npos) << damage[0];
        }
    }
}

}  // namespace
}  // namespace zrn::cli
