#include <gtest/gtest.h>

#include "channel/file_map.h"
#include "connection/geometry.h"
#include "phonebook/phonebook.h"
#include "phonebook_support.h"

namespace zrn::test {
namespace {

using sim::NumberType;

// The 83 bytes of a contact "AB" with ADN 123, MBL 456, no ADI and groups 2 and 5.
constexpr const char* kContactAb =
    "01 4E 43 44 00 00 00 4B 01 4E 4D 54 00 00 00 02 41 42 01 41 44 4E 00 00 00 03 31 32 33 "
    "01 47 50 49 00 00 00 00 01 4D 42 4C 00 00 00 03 34 35 36 01 47 50 49 00 00 00 00 "
    "01 41 44 49 00 00 00 00 01 41 44 49 00 00 00 00 01 47 50 49 00 00 00 03 32 01 35";

sim::CardImage cardWithAb(const sim::ExtendedGeometry& g) {
    sim::CardImage image = sim::buildExtendedCard(g);
    sim::putNameSlot(image, g, 1, ascii("AB"), false, {2, 5});
    // The slot order on the card does not decide the element order.
    sim::putNumberSlot(image, g, g.adnCount + 3, 1, NumberType::kMbl, "456");
    sim::putNumberSlot(image, g, 4, 1, NumberType::kAdn, "123");
    return image;
}

TEST(ExtendedRead, ContactAbReadsAsTheEightyThreeBytesAfterTheGroupList) {
    sim::ExtendedGeometry g = smallGeometry();
    g.groupCount = 2;
    sim::CardImage image = cardWithAb(g);
    sim::putGroupName(image, g, 1, ascii("Fam"));
    CardSession card(image);
    ASSERT_EQ(card.connectResult(), 0);
    const ReadResult r = card.read();
    ASSERT_EQ(r.result, 0);
    EXPECT_EQ(r.count, 1);
    EXPECT_EQ(toHex(r.stream), toHex(cat({groupList({"Fam", ""}), hex(kContactAb)})));
    EXPECT_TRUE(r.tailUntouched);
}

TEST(ExtendedRead, EmptyPhoneBookIsTheGroupListAndOneEmptyNcd) {
    sim::ExtendedGeometry g = smallGeometry();
    g.groupCount = 3;
    CardSession card(sim::buildExtendedCard(g));
    const ReadResult r = card.read();
    ASSERT_EQ(r.result, 0);
    EXPECT_EQ(r.count, 0);
    EXPECT_EQ(toHex(r.stream),
              toHex(cat({groupList({"", "", ""}), hex("01 4E 43 44 00 00 00 00")})));
}

TEST(ExtendedRead, WithoutGroupsTheStreamBeginsWithTheContacts) {
    sim::ExtendedGeometry g = smallGeometry();
    g.groupCount = 0;  // the builder leaves the group file out
    CardSession card(cardWithAb(g));
    const ReadResult r = card.read();
    ASSERT_EQ(r.result, 0);
    EXPECT_EQ(toHex(r.stream), kContactAb);
}

// ---- Name slots -------------------------------------------------------------

struct NameSlotCase {
    const char* name;
    const char* slot;  // bytes 0 on; the rest of the slot FF
    bool used;
    const char* nmt;
    const char* gpi;
};

class NameSlot : public ::testing::TestWithParam<NameSlotCase> {};

TEST_P(NameSlot, DecodesNameAndGroups) {
    const sim::ExtendedGeometry g = smallGeometry();
    sim::CardImage image = sim::buildExtendedCard(g);
    sim::putNameSlotBytes(image, g, 2, hex(GetParam().slot));
    CardSession card(image);
    const ReadResult r = card.read();
    ASSERT_EQ(r.result, 0);
    const WalkedStream s = walk(r.stream);
    ASSERT_TRUE(s.wellFormed);
    ASSERT_EQ(s.contacts.size(), GetParam().used ? 1u : 0u);
    EXPECT_EQ(r.count, GetParam().used ? 1 : 0);
    if (GetParam().used) {
        EXPECT_EQ(toHex(valuesOf(s.contacts[0], "NMT").at(0)), GetParam().nmt);
        EXPECT_EQ(toHex(valuesOf(s.contacts[0], "GPI").back()), GetParam().gpi);
    }
}

INSTANTIATE_TEST_SUITE_P(
    ExtendedRead, NameSlot,
    ::testing::Values(
        NameSlotCase{"ByteOneFFIsFree", "00 FF 00 00 41", false, "", ""},
        NameSlotCase{"LengthZeroIsFree", "00 40 00 00 41", false, "", ""},
        NameSlotCase{"PlaceholderBeforeUcs2Flag", "00 61 00 00 20", true, "", "31"},
        NameSlotCase{"GroupBits", "21 83 00 00 41 42 43", true, "41 42 43", "32 01 33 01 38"},
        NameSlotCase{"Ucs2GetsTheMarker", "00 25 00 00 4E 2D 00 41 00", true, "80 4E 2D 00 41 00",
                     ""},
        NameSlotCase{"BitsSixAndSevenOfByteZeroAreNotRead", "C0 01 00 00 41", true, "41", ""},
        // Lying lengths are held to the slot: 31 bytes claimed, 16 there.
        NameSlotCase{"LengthPastTheSlotIsClamped", "00 1F 00 00 41", true,
                     "41 FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF", ""}),
    CaseName{});

TEST(ExtendedRead, NumberSlotPointsAtItsContactByBigEndianIndex) {
    sim::ExtendedGeometry g = smallGeometry();
    g.nameSlotCount = 260;
    g.nameSlotLength = 6;
    sim::CardImage image = sim::buildExtendedCard(g);
    sim::putNameSlot(image, g, 258, ascii("Z"));
    sim::putNumberSlot(image, g, 0, 0x0102, NumberType::kAdn, "9");
    sim::putNumberSlot(image, g, 1, 0x0201, NumberType::kAdn, "8");
    CardSession card(image);
    const ReadResult r = card.read();
    ASSERT_EQ(r.result, 0);
    const WalkedStream s = walk(r.stream);
    ASSERT_EQ(s.contacts.size(), 1u);
    EXPECT_EQ(valuesOf(s.contacts[0], "ADN"), std::vector<Bytes>{ascii("9")});
}

TEST(ExtendedRead, NumbersAreReadOnlyInTheRegionOfTheirType) {
    const sim::ExtendedGeometry g = smallGeometry();  // ADN region 0-9, the others 10-29
    sim::CardImage image = sim::buildExtendedCard(g);
    sim::putNameSlot(image, g, 1, ascii("A"));
    sim::putNumberSlot(image, g, 0, 1, NumberType::kMbl, "1");   // MBL in the ADN region
    sim::putNumberSlot(image, g, 1, 1, NumberType::kAdn, "2");   // read
    sim::putNumberSlot(image, g, 10, 1, NumberType::kAdn, "3");  // ADN outside its region
    sim::putNumberSlot(image, g, 11, 1, NumberType::kOtr, "4");
    sim::putNumberSlot(image, g, 12, 1, NumberType::kHme, "5");
    sim::putNumberSlot(image, g, 13, 1, NumberType::kOfe, "6");
    sim::putNumberSlot(image, g, 14, 1, NumberType::kMbl, "7");
    sim::putNumberSlot(image, g, 15, 1, NumberType::kMbl, "8");
    // Codes 0, 6 and 7 are never read.
    sim::putNumberSlotBytes(image, g, 16, hex("00 01 02 81 F9"));
    sim::putNumberSlotBytes(image, g, 17, hex("00 01 C2 81 F9"));
    sim::putNumberSlotBytes(image, g, 18, hex("00 01 E2 81 F9"));
    // Slots beyond numberSlotCount are never read.
    CardSession card(image);
    const ReadResult r = card.read();
    ASSERT_EQ(r.result, 0);
    const WalkedStream s = walk(r.stream);
    ASSERT_EQ(s.contacts.size(), 1u);
    std::vector<Item> expected{{"NMT", ascii("A")}};
    for (auto [t, digits] : {std::pair{"ADN", "2"},
                             {"MBL", "7"},
                             {"MBL", "8"},
                             {"HME", "5"},
                             {"OFE", "6"},
                             {"OTR", "4"}}) {
        expected.push_back({t, ascii(digits)});
        expected.push_back({"GPI", {}});
    }
    expected.push_back({"ADI", {}});
    expected.push_back({"ADI", {}});
    expected.push_back({"GPI", {}});
    EXPECT_EQ(s.contacts[0], expected);
}

struct NumberBytesCase {
    const char* name;
    const char* slot;
    const char* digits;
};

class NumberBytes : public ::testing::TestWithParam<NumberBytesCase> {};

TEST_P(NumberBytes, DecodeWithinTheSlot) {
    const sim::ExtendedGeometry g = smallGeometry();  // 10 BCD bytes per slot
    sim::CardImage image = sim::buildExtendedCard(g);
    sim::putNameSlot(image, g, 1, ascii("A"));
    sim::putNumberSlotBytes(image, g, 0, hex(GetParam().slot));
    CardSession card(image);
    const ReadResult r = card.read();
    ASSERT_EQ(r.result, 0);
    const WalkedStream s = walk(r.stream);
    ASSERT_EQ(s.contacts.size(), 1u);
    EXPECT_EQ(valuesOf(s.contacts[0], "ADN"), std::vector<Bytes>{ascii(GetParam().digits)});
}

INSTANTIATE_TEST_SUITE_P(
    ExtendedRead, NumberBytes,
    ::testing::Values(NumberBytesCase{"TonNpiIsNotRead", "00 01 84 91 21 43 F5", "12345"},
                      NumberBytesCase{"LengthZero", "00 01 80 81 21", ""},
                      NumberBytesCase{"LengthOne", "00 01 81 81 21", ""},
                      // 30 BCD bytes claimed, 10 in the slot.
                      NumberBytesCase{"LengthPastTheSlotIsClamped",
                                      "00 01 9F 81 21 43 65 87 09 21 43 65 87 09",
                                      "12345678901234567890"}),
    CaseName{});

// ---- ADI entries --------------------------------------------------------------

struct AdiEntrySpec {
    int kind;
    const char* text;
};

struct AdiChoiceCase {
    const char* name;
    std::uint8_t flags;
    std::vector<AdiEntrySpec> entries;  // entries 0, 1, ... of contact 1
    const char* first;
    const char* second;
};

class AdiChoice : public ::testing::TestWithParam<AdiChoiceCase> {};

TEST_P(AdiChoice, PicksTheKindsTheOptionFlagsSelect) {
    sim::ExtendedGeometry g = smallGeometry();
    g.optionFlags = GetParam().flags;
    sim::CardImage image = sim::buildExtendedCard(g);
    sim::putNameSlot(image, g, 1, ascii("A"));
    sim::putNameSlot(image, g, 2, ascii("B"));
    // An entry of another contact in front, which no search may take.
    sim::putAdiEntry(image, g, 0, 2, 0, false, ascii("other"));
    std::size_t e = 1;
    for (const AdiEntrySpec& entry : GetParam().entries) {
        sim::putAdiEntry(image, g, e++, 1, entry.kind, false, ascii(entry.text));
    }
    CardSession card(image);
    const ReadResult r = card.read();
    ASSERT_EQ(r.result, 0);
    const WalkedStream s = walk(r.stream);
    ASSERT_EQ(s.contacts.size(), 2u);
    EXPECT_EQ(valuesOf(s.contacts[0], "ADI"),
              (std::vector<Bytes>{ascii(GetParam().first), ascii(GetParam().second)}));
}

INSTANTIATE_TEST_SUITE_P(
    ExtendedRead, AdiChoice,
    ::testing::Values(
        AdiChoiceCase{"Flags12", 0x12, {{1, "K1"}, {0, "K0"}}, "K0", "K1"},
        AdiChoiceCase{"Flags21", 0x21, {{0, "K0"}, {1, "K1"}}, "K1", "K0"},
        AdiChoiceCase{
            "Flags11TakesTwoOfTheFirstKind", 0x11, {{0, "A"}, {1, "C"}, {0, "B"}}, "A", "B"},
        AdiChoiceCase{"Flags00GivesNothing", 0x00, {{0, "A"}, {1, "B"}}, "", ""},
        AdiChoiceCase{"Flags02", 0x02, {{1, "X"}}, "", "X"},
        AdiChoiceCase{"Flags01", 0x01, {{1, "Y"}, {0, "X"}}, "", "X"},
        AdiChoiceCase{"Flags10", 0x10, {{1, "Y"}, {0, "X"}}, "X", ""},
        AdiChoiceCase{"Flags31FindsTheSameEntryTwice", 0x31, {{0, "X"}}, "X", "X"},
        AdiChoiceCase{"Flags12NoEntries", 0x12, {}, "", ""}),
    CaseName{});

TEST(ExtendedRead, AdiTextsKeepUcs2AndAreHeldToTheEntry) {
    sim::ExtendedGeometry g = smallGeometry();  // entries of 20 bytes: 17 of text
    g.optionFlags = 0x12;
    sim::CardImage image = sim::buildExtendedCard(g);
    sim::putNameSlot(image, g, 1, ascii("A"));
    sim::putAdiEntry(image, g, 0, 1, 0, true, hex("4E 2D"));
    // Kind 1, length 63 claimed.
    image.setRecord({g.directory, sim::files::kAdi}, 1,
                    cat({hex("00 01 BF"), ascii("0123456789ABCDEFG")}));
    CardSession card(image);
    const ReadResult r = card.read();
    ASSERT_EQ(r.result, 0);
    const WalkedStream s = walk(r.stream);
    ASSERT_EQ(s.contacts.size(), 1u);
    EXPECT_EQ(valuesOf(s.contacts[0], "ADI"),
              (std::vector<Bytes>{hex("80 4E 2D"), ascii("0123456789ABCDEFG")}));
}

TEST(ExtendedRead, WithoutAdiEntriesTheAdiFileIsNotRead) {
    sim::ExtendedGeometry g = smallGeometry();
    g.adiCount = 0;  // the builder leaves the ADI file out
    CardSession card(cardWithAb(g));
    card.sim().clearLog();
    const ReadResult r = card.read();
    ASSERT_EQ(r.result, 0);
    for (const std::string& command : card.sim().commandsHex()) {
        EXPECT_NE(command, "A0 A4 00 00 02 6F 08");
    }
}

// ---- Card data that lies ---------------------------------------------------------

TEST(ExtendedRead, SlotsBeyondTheFilesAreFree) {
    const sim::ExtendedGeometry g = smallGeometry();  // 10 name slots of 20, 30 number slots of 14
    sim::CardImage image = sim::buildExtendedCard(g);
    // Two and a half name slots, eleven and a half number slots.
    Bytes names(50, 0xFF);
    const Bytes slot2 = hex("00 02 00 00 41 42");
    std::copy(slot2.begin(), slot2.end(), names.begin() + 20);
    const Bytes partial = hex("00 02 00 00 43 44");  // slot 3 runs past the file
    std::copy(partial.begin(), partial.end(), names.begin() + 40);
    image.putTransparent({g.directory, sim::files::kName}, names);
    Bytes numbers(161, 0xFF);
    const Bytes adn = hex("00 02 82 81 F1");
    std::copy(adn.begin(), adn.end(), numbers.begin() + 14);
    const Bytes cut = hex("00 02 82 81 F2");  // slot 11 runs past the file
    std::copy(cut.begin(), cut.end(), numbers.begin() + 154);
    image.putTransparent({g.directory, sim::files::kNumber}, numbers);
    CardSession card(image);
    const ReadResult r = card.read();
    ASSERT_EQ(r.result, 0);
    const WalkedStream s = walk(r.stream);
    ASSERT_EQ(s.contacts.size(), 1u);
    EXPECT_EQ(valuesOf(s.contacts[0], "NMT").at(0), ascii("AB"));
    EXPECT_EQ(valuesOf(s.contacts[0], "ADN"), std::vector<Bytes>{ascii("1")});
}

TEST(ExtendedRead, CardRecordsLongerThanTheConfigurationSaysAreCutToIt) {
    sim::ExtendedGeometry g = smallGeometry();
    sim::CardImage image = sim::buildExtendedCard(g);
    sim::putNameSlot(image, g, 1, ascii("A"));
    // ADI records of 40 bytes where the configuration says 20; a group record
    // whose length byte says 200.
    image.putLinearFixed({g.directory, sim::files::kAdi}, 40, g.adiCount);
    image.setRecord({g.directory, sim::files::kAdi}, 0,
                    cat({hex("00 01 25"), ascii("abcdefghijklmnopqrstuvwxyz0123456789A")}));
    image.setRecord({g.directory, sim::files::kGroup}, 0, cat({hex("C8"), ascii("twelve bytes")}));
    image.setRecord({g.directory, sim::files::kGroup}, 1, cat({hex("FE"), ascii("twelve bytes")}));
    CardSession card(image);
    const ReadResult r = card.read();
    ASSERT_EQ(r.result, 0);
    const WalkedStream s = walk(r.stream);
    ASSERT_EQ(s.groups.size(), 8u);
    EXPECT_EQ(s.groups[0], ascii("twelve bytes"));
    EXPECT_EQ(s.groups[1], ascii("twelve bytes"));
    EXPECT_EQ(s.groups[2], Bytes{}) << "an erased record (all FF) is an unnamed group";
    ASSERT_EQ(s.contacts.size(), 1u);
    EXPECT_EQ(valuesOf(s.contacts[0], "ADI").at(0), ascii("abcdefghijklmnopq"));
}

// ---- Failures and limits -----------------------------------------------------------

struct ReadFailureCase {
    const char* name;
    std::uint8_t instruction;
    std::uint16_t file;
};

class ExtendedReadFailure : public ::testing::TestWithParam<ReadFailureCase> {};

TEST_P(ExtendedReadFailure, GivesTwoAndLeavesEverythingUntouched) {
    const sim::ExtendedGeometry g = smallGeometry();
    CardSession card(cardWithAb(g));
    card.sim().failInstruction(GetParam().instruction, GetParam().file, 0x6F00);
    const ReadResult r = card.read();
    EXPECT_EQ(r.result, 2);
    EXPECT_EQ(r.count, kUntouched);
    EXPECT_EQ(r.length, kUntouched);
    EXPECT_TRUE(r.tailUntouched);
}

INSTANTIATE_TEST_SUITE_P(
    ExtendedRead, ExtendedReadFailure,
    ::testing::Values(ReadFailureCase{"GroupSelect", 0xA4, sim::files::kGroup},
                      ReadFailureCase{"GroupResponse", 0xC0, sim::files::kGroup},
                      ReadFailureCase{"GroupRecord", 0xB2, sim::files::kGroup},
                      ReadFailureCase{"NameSelect", 0xA4, sim::files::kName},
                      ReadFailureCase{"NameBinary", 0xB0, sim::files::kName},
                      ReadFailureCase{"NumberResponse", 0xC0, sim::files::kNumber},
                      ReadFailureCase{"NumberBinary", 0xB0, sim::files::kNumber},
                      ReadFailureCase{"AdiSelect", 0xA4, sim::files::kAdi},
                      ReadFailureCase{"AdiRecord", 0xB2, sim::files::kAdi}),
    CaseName{});

// Contacts with long names, all groups, a long number and a long ADI entry: 250 x 203 bytes.
sim::CardImage bigCard(sim::ExtendedGeometry& g) {
    g = sim::ExtendedGeometry{};
    g.adiCount = 250;
    sim::CardImage image = sim::buildExtendedCard(g);
    for (std::size_t m = 1; m <= g.nameSlotCount; ++m) {
        sim::putNameSlot(image, g, m, Bytes(31, 'n'), false, {1, 2, 3, 4, 5, 6, 7, 8});
        sim::putAdiEntry(image, g, m - 1, static_cast<std::uint16_t>(m), 0, false, Bytes(61, 'a'));
        sim::putNumberSlot(image, g, m - 1, static_cast<std::uint16_t>(m), NumberType::kAdn,
                           std::string(40, '7'));
    }
    return image;
}

TEST(ExtendedRead, PhoneBookBeyondTheHostBufferGivesTwoAndLeavesEverythingUntouched) {
    sim::ExtendedGeometry g;
    CardSession card(bigCard(g));
    const ReadResult r = card.read();
    EXPECT_EQ(r.result, 2);
    EXPECT_EQ(r.count, kUntouched);
    EXPECT_EQ(r.length, kUntouched);
    EXPECT_TRUE(r.tailUntouched);

    // The internal reader has no such limit.
    const phonebook::PhonebookStream all =
        phonebook::readPhonebookStream(channel::cardChannel(), phonebookGeometry());
    ASSERT_EQ(all.result, 0);
    EXPECT_TRUE(all.extendedLayout);
    EXPECT_EQ(all.contactCount, 250);
    EXPECT_GT(all.contacts.size(), phonebook::kContactsLimit);
    EXPECT_EQ(walk(all.joined()).contacts.size(), 250u);
}

TEST(ExtendedRead, GroupListBeyondThreeHundredBytesGivesTwo) {
    sim::ExtendedGeometry g = smallGeometry();
    g.groupCount = 10;
    g.groupNameLength = 30;
    sim::CardImage image = sim::buildExtendedCard(g);
    for (std::size_t r = 1; r <= 10; ++r) {
        sim::putGroupName(image, g, r, Bytes(r <= 9 ? 30 : 2, 'g'));  // 80 + 272 bytes
    }
    CardSession card(image);
    const ReadResult r = card.read();
    EXPECT_EQ(r.result, 2);
    EXPECT_EQ(r.length, kUntouched);
}

TEST(ExtendedRead, SendsTheCommandsInOrder) {
    sim::ExtendedGeometry g = smallGeometry();
    g.groupCount = 2;
    g.adiCount = 2;
    g.nameSlotCount = 15;  // 300 bytes: a full and a short READ BINARY
    g.numberSlotCount = 12;
    CardSession card(sim::buildExtendedCard(g));
    card.sim().clearLog();
    ASSERT_EQ(card.read().result, 0);
    const std::string sel = "A0 A4 00 00 02 ";
    const std::vector<std::string> expected{
        sel + "3F 00",    sel + "7F 10",    sel + "90 00",                    // layout
        sel + "3F 00",    sel + "7F 10",    sel + "6F 0C", "A0 C0 00 00 0F",  // group file
        "A0 B2 01 04 0D", "A0 B2 02 04 0D",                                   //
        sel + "3F 00",    sel + "7F 10",    sel + "6F 04", "A0 C0 00 00 0F",  // name file
        "A0 B0 00 00 FF", "A0 B0 00 FF 2D",                                   //
        sel + "3F 00",    sel + "7F 10",    sel + "6F 06", "A0 C0 00 00 0F",  // number file
        "A0 B0 00 00 A8",                                                     //
        sel + "3F 00",    sel + "7F 10",    sel + "6F 08", "A0 C0 00 00 0F",  // ADI file
        "A0 B2 01 04 14", "A0 B2 02 04 14"};
    EXPECT_EQ(card.sim().commandsHex(), expected);
}

}  // namespace
}  // namespace zrn::test
