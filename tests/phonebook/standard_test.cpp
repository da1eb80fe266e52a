#include <gtest/gtest.h>

#include "channel/file_map.h"
#include "connection/geometry.h"
#include "phonebook/phonebook.h"
#include "phonebook_support.h"

namespace zrn::test {
namespace {

constexpr std::initializer_list<std::uint16_t> kAdnPath{sim::files::kTelecom, sim::files::kAdn};

sim::CardImage standardCard(std::size_t records = 10, std::uint8_t recordLength = 28) {
    sim::StandardCardOptions options;
    options.adnCount = records;
    options.adnRecordLength = recordLength;
    return sim::buildStandardCard(options);
}

Bytes ff(std::size_t n) {
    return Bytes(n, 0xFF);
}

// The standard contact as ReadZRN gives it.
Bytes standardContact(const Bytes& name, std::string_view digits) {
    return ncd({element("NMT", name), element("ADN", digits), emptyGpi()});
}

// A record of R = 28: the 14-byte alpha field, then number length, TON/NPI, BCD.
Bytes record28(const Bytes& alpha, const char* trailer) {
    Bytes record = alpha;
    record.resize(14, 0xFF);
    const Bytes rest = hex(trailer);
    record.insert(record.end(), rest.begin(), rest.end());
    record.resize(28, 0xFF);
    return record;
}

// ---- Reading ---------------------------------------------------------------------

struct StandardReadCase {
    const char* name;
    Bytes record;
    Bytes contact;  // empty: the record is skipped
};

class StandardRead : public ::testing::TestWithParam<StandardReadCase> {};

TEST_P(StandardRead, RecordGivesItsContact) {
    sim::CardImage image = standardCard();
    image.setRecord(kAdnPath, 2, GetParam().record);
    CardSession card(image);
    const ReadResult r = card.read();
    ASSERT_EQ(r.result, 0);
    EXPECT_EQ(toHex(r.stream), toHex(GetParam().contact));
    EXPECT_EQ(r.count, GetParam().contact.empty() ? 0 : 1);
    EXPECT_EQ(r.length, static_cast<std::int32_t>(GetParam().contact.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Standard, StandardRead,
    ::testing::Values(
        StandardReadCase{"NameAndNumber", record28(ascii("AB"), "03 81 21 F3"),
                         hex("01 4E 43 44 00 00 00 1D 01 4E 4D 54 00 00 00 02 41 42 01 41 44 4E "
                             "00 00 00 03 31 32 33 01 47 50 49 00 00 00 00")},
        StandardReadCase{"TonNpiIsNotRead", record28(ascii("AB"), "03 91 21 F3"),
                         standardContact(ascii("AB"), "123")},
        StandardReadCase{"EmptyWithLengthFF", record28({}, "FF FF"), {}},
        StandardReadCase{"EmptyWithLengthZero", record28({}, "00 FF"), {}},
        StandardReadCase{"InnerFFStays", record28(hex("41 FF 42"), "FF FF"),
                         standardContact(hex("41 FF 42"), "")},
        StandardReadCase{"NumberWithoutName", record28({}, "02 81 F9"), standardContact({}, "9")},
        StandardReadCase{"Ucs2NameKeepsItsCodingByte", record28(hex("80 4E 2D"), "FF FF"),
                         standardContact(hex("80 4E 2D"), "")},
        // A length byte naming more than the ten BCD bytes is held to them.
        StandardReadCase{"LengthPastTheRecordIsClamped",
                         record28(ascii("X"), "30 81 21 43 65 87 09 21 43 65 87 09 77 77"),
                         standardContact(ascii("X"), "12345678901234567890")}),
    CaseName{});

TEST(Standard, EmptyPhoneBookHasLengthZero) {
    CardSession card(standardCard());
    const ReadResult r = card.read();
    ASSERT_EQ(r.result, 0);
    EXPECT_EQ(r.count, 0);
    EXPECT_EQ(r.length, 0);
    EXPECT_TRUE(r.tailUntouched);
}

TEST(Standard, ReadRecordFailureGives319WithTheContactsBuiltSoFar) {
    sim::CardImage image = standardCard();
    for (std::size_t record : {1u, 2u, 4u, 6u}) {
        sim::putAdnRecord(image, record, ascii("N"), "1");
    }
    CardSession card(image);
    card.sim().setInterceptor([](ByteView command, Bytes& response) {
        if (command.size() >= 3 && command[1] == 0xB2 && command[2] == 5) {
            response = {0x6F, 0x00};
            return true;
        }
        return false;
    });
    const ReadResult r = card.read();
    EXPECT_EQ(r.result, 319);
    EXPECT_EQ(r.count, 3);
    EXPECT_EQ(r.length, kUntouched);
    EXPECT_TRUE(r.tailUntouched);
}

TEST(Standard, UnreadableOrMalformedAdnGives319) {
    {
        CardSession card(standardCard());
        card.sim().failInstruction(0xC0, sim::files::kAdn, 0x6F00);
        EXPECT_EQ(card.read().result, 319);
    }
    {
        sim::CardImage image = standardCard();
        image.putLinearFixed(kAdnPath, 13, 10);  // no room for the 14-byte trailer
        CardSession card(image);
        const ReadResult r = card.read();
        EXPECT_EQ(r.result, 319);
        EXPECT_EQ(r.length, kUntouched);
    }
}

TEST(Standard, PhoneBookBeyondTheHostBufferGives319AndLeavesEverythingUntouched) {
    sim::CardImage image = standardCard(200, 255);
    for (std::size_t record = 1; record <= 200; ++record) {
        sim::putAdnRecord(image, record, Bytes(241, 'n'), "12345678901234567890");
    }
    CardSession card(image);
    const ReadResult r = card.read();
    EXPECT_EQ(r.result, 319);
    EXPECT_EQ(r.count, kUntouched);
    EXPECT_EQ(r.length, kUntouched);
    EXPECT_TRUE(r.tailUntouched);

    const phonebook::PhonebookStream all =
        phonebook::readPhonebookStream(channel::cardChannel(), phonebookGeometry());
    ASSERT_EQ(all.result, 0);
    EXPECT_FALSE(all.extendedLayout);
    EXPECT_EQ(all.contactCount, 200);
    EXPECT_EQ(walk(all.joined()).contacts.size(), 200u);
}

// ---- Writing ---------------------------------------------------------------------

Bytes recordOf(const CardSession& card, std::size_t number) {
    return card.image().record(kAdnPath, number - 1);
}

TEST(Standard, WritesTheRecordBytes) {
    CardSession card(standardCard());
    const Bytes stream = cat({standardContact(ascii("AB"), "123"), standardContact(ascii("C"), ""),
                              standardContact({}, "12345")});
    ASSERT_EQ(card.write(stream), 0);
    EXPECT_EQ(toHex(recordOf(card, 1)),
              toHex(cat({hex("41 42"), ff(12), hex("03 81 21 F3"), ff(10)})));
    EXPECT_EQ(toHex(recordOf(card, 2)), toHex(cat({hex("43"), ff(27)})));
    EXPECT_EQ(toHex(recordOf(card, 3)), toHex(cat({ff(14), hex("04 81 21 43 F5"), ff(9)})));
    EXPECT_EQ(recordOf(card, 4), ff(28));
}

TEST(Standard, ClearsTheOldPhoneBookThenWritesInStreamOrder) {
    sim::CardImage image = standardCard(3);
    for (std::size_t record : {1u, 2u, 3u}) {
        sim::putAdnRecord(image, record, ascii("old"), "9");
    }
    CardSession card(image);
    card.sim().clearLog();
    ASSERT_EQ(card.write(standardContact(ascii("A"), "1")), 0);
    const std::vector<std::string> log = card.sim().commandsHex();
    const auto adn = std::find(log.begin(), log.end(), "A0 A4 00 00 02 6F 3A");
    ASSERT_NE(adn, log.end());
    const std::vector<std::string> tail(adn + 1, log.end());
    const auto clear = [&](int n) {
        return "A0 DC 0" + std::to_string(n) + " 04 1C " + toHex(ff(28));
    };
    EXPECT_EQ(tail, (std::vector<std::string>{
                        "A0 C0 00 00 0F", clear(1), clear(2), clear(3),
                        "A0 DC 01 04 1C " + toHex(record28(ascii("A"), "02 81 F1"))}));
    EXPECT_EQ(recordOf(card, 2), ff(28));
}

TEST(Standard, BlankContactsUseUpTheirRecord) {
    CardSession card(standardCard());
    const Bytes stream =
        cat({emptyNcd(), ncd({element("ADN", "5"), emptyGpi()}), standardContact(ascii("C"), "3")});
    ASSERT_EQ(card.write(stream), 0);
    EXPECT_EQ(recordOf(card, 1), ff(28));
    EXPECT_EQ(recordOf(card, 2), ff(28));
    EXPECT_EQ(recordOf(card, 3), record28(ascii("C"), "02 81 F3"));
}

TEST(Standard, ContactCountStopsTheWrite) {
    Bytes five;
    for (char c : std::string("ABCDE")) {
        const Bytes one = standardContact(ascii(std::string(1, c)), "1");
        five.insert(five.end(), one.begin(), one.end());
    }
    for (auto [count, written] : {std::pair{2, 2}, {1, 1}, {0, 5}, {-3, 5}}) {
        CardSession card(standardCard());
        ASSERT_EQ(card.write(five, count), 0) << count;
        for (int record = 1; record <= 6; ++record) {
            EXPECT_EQ(recordOf(card, static_cast<std::size_t>(record)) != ff(28), record <= written)
                << "count " << count << " record " << record;
        }
    }
}

TEST(Standard, ExtendedContactGivesItsNameAndFirstNumberOnly) {
    CardSession card(standardCard());
    const Bytes stream =
        cat({groupList({}),
             contact(ascii("Ann"), {number("ADN", "11"), number("ADN", "22"), number("MBL", "33")},
                     {ascii("note"), Bytes{}}, hex("31 01 32")),
             standardContact(ascii("Bob"), "44")});
    ASSERT_EQ(card.write(stream), 0);
    EXPECT_EQ(recordOf(card, 1), record28(ascii("Ann"), "02 81 11"));
    EXPECT_EQ(recordOf(card, 2), record28(ascii("Bob"), "02 81 44"));
}

TEST(Standard, NamesAreCutToTheAlphaFieldAndUcs2ToWholeCharacters) {
    CardSession card(standardCard());
    const Bytes ucs2 = cat({hex("80"), Bytes(16, 0x4E)});  // 8 characters, 13 bytes fit
    const Bytes stream =
        cat({standardContact(ascii("ABCDEFGHIJKLMNOP"), "1"), standardContact(ucs2, "2"),
             standardContact(ascii("x"), "12345678901234567890")});
    ASSERT_EQ(card.write(stream), 0);
    EXPECT_EQ(recordOf(card, 1), record28(ascii("ABCDEFGHIJKLMN"), "02 81 F1"));
    EXPECT_EQ(recordOf(card, 2), record28(cat({hex("80"), Bytes(12, 0x4E)}), "02 81 F2"));
    EXPECT_EQ(recordOf(card, 3), record28(ascii("x"), "0B 81 21 43 65 87 09 21 43 65 87 09"));
}

TEST(Standard, FillsAllRecordsButTheLast) {
    Bytes stream;
    for (int i = 0; i < 10; ++i) {
        const Bytes one = standardContact(ascii("n"), "1");
        stream.insert(stream.end(), one.begin(), one.end());
    }
    {
        CardSession card(standardCard(10));
        const sim::CardImage before = card.image();
        EXPECT_EQ(card.write(stream), 340);
        EXPECT_EQ(card.image(), before) << "a refused stream leaves the card as it was";
    }
    {
        CardSession card(standardCard(10));
        stream.resize(stream.size() / 10 * 9);
        ASSERT_EQ(card.write(stream), 0);
        EXPECT_EQ(recordOf(card, 9), record28(ascii("n"), "02 81 F1"));
        EXPECT_EQ(recordOf(card, 10), ff(28));
    }
}

struct StandardRefusalCase {
    const char* name;
    Bytes stream;
    std::int32_t result;
};

class StandardRefusal : public ::testing::TestWithParam<StandardRefusalCase> {};

TEST_P(StandardRefusal, LeavesTheCardAsItWas) {
    sim::CardImage image = standardCard();
    sim::putAdnRecord(image, 1, ascii("keep"), "1234");
    CardSession card(image);
    const sim::CardImage before = card.image();
    EXPECT_EQ(card.write(GetParam().stream), GetParam().result);
    EXPECT_EQ(card.image(), before);
}

const Bytes kGood = standardContact(ascii("A"), "1");

INSTANTIATE_TEST_SUITE_P(
    Standard, StandardRefusal,
    ::testing::Values(
        StandardRefusalCase{"GroupListFirst", cat({groupList({"g"}), kGood}), 339},
        StandardRefusalCase{"TruncatedFirstHead", hex("01 4E 43"), 339},
        StandardRefusalCase{
            "AdnLengthAbove255",
            cat({kGood, ncd({element("NMT", "B"), hex("01 41 44 4E 00 00 01 01 31"), emptyGpi()})}),
            341},
        StandardRefusalCase{"TwentyOneDigits",
                            cat({kGood, standardContact(ascii("B"), std::string(21, '1'))}), 341},
        StandardRefusalCase{"NameRunsPastTheEnd",
                            cat({kGood, hex("01 4E 43 44 00 00 00 10 01 4E 4D 54 00 00 00 09 41")}),
                            351},
        StandardRefusalCase{
            "NoElementAfterTheNumber",
            cat({kGood, hex("01 4E 43 44 00 00 00 14"), element("NMT", "B"), element("ADN", "1")}),
            351},
        StandardRefusalCase{"PassedOverElementRunsPastTheEnd",
                            cat({kGood, hex("01 41 44 49 00 00 00 20 41")}), 351},
        StandardRefusalCase{"TruncatedHeadAfterAContact", cat({kGood, hex("01 4E 43 44")}), 351}),
    CaseName{});

TEST(Standard, EmptyStreamWritesNothingWhileAnEmptyNcdClearsEverything) {
    sim::CardImage image = standardCard();
    sim::putAdnRecord(image, 1, ascii("keep"), "1234");
    {
        CardSession card(image);
        card.sim().clearLog();
        EXPECT_EQ(WriteZRN(0, 0, nullptr), 0);
        EXPECT_EQ(card.image(), image);
        for (const std::string& command : card.sim().commandsHex()) {
            EXPECT_NE(command.substr(0, 5), "A0 DC");
        }
    }
    {
        CardSession card(image);
        EXPECT_EQ(card.write(emptyNcd()), 0);
        EXPECT_EQ(recordOf(card, 1), ff(28));
    }
}

struct StandardCardFailureCase {
    const char* name;
    std::uint8_t instruction;
    bool changesNothing;
};

class StandardCardFailure : public ::testing::TestWithParam<StandardCardFailureCase> {};

TEST_P(StandardCardFailure, GivesTwo) {
    sim::CardImage image = standardCard();
    sim::putAdnRecord(image, 1, ascii("keep"), "1234");
    CardSession card(image);
    card.sim().failInstruction(GetParam().instruction, sim::files::kAdn, 0x6581);
    EXPECT_EQ(card.write(kGood), 2);
    EXPECT_EQ(card.image() == image, GetParam().changesNothing);
}

INSTANTIATE_TEST_SUITE_P(Standard, StandardCardFailure,
                         ::testing::Values(StandardCardFailureCase{"Select", 0xA4, true},
                                           StandardCardFailureCase{"GetResponse", 0xC0, true},
                                           StandardCardFailureCase{"UpdateRecord", 0xDC, true}),
                         CaseName{});

TEST(Standard, RecordLengthBelowFourteenIsRefusedWithTwo) {
    sim::CardImage image = standardCard();
    image.putLinearFixed(kAdnPath, 13, 10);
    CardSession card(image);
    EXPECT_EQ(card.write(kGood), 2);
    EXPECT_EQ(card.image(), image);
}

}  // namespace
}  // namespace zrn::test
