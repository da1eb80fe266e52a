#include <gtest/gtest.h>

#include <map>
#include <utility>

#include "phonebook_support.h"

namespace zrn::test {
namespace {

using sim::files::kAdi;
using sim::files::kGroup;
using sim::files::kName;
using sim::files::kNumber;

const sim::ExtendedGeometry kGeometry = smallGeometry();
const Bytes kEightGroups = groupList({"g1", "g2", "g3", "g4", "g5", "g6", "g7", "g8"});

Bytes zeros(std::size_t n) {
    return Bytes(n, 0x00);
}

Bytes fileBytes(const CardSession& card, std::uint16_t file) {
    return card.image().find({kGeometry.directory, file})->data;
}
Bytes nameSlot(const CardSession& card, std::size_t m, std::size_t length = 20) {
    const Bytes all = fileBytes(card, kName);
    return Bytes(all.begin() + static_cast<long>((m - 1) * length),
                 all.begin() + static_cast<long>(m * length));
}
Bytes numberSlot(const CardSession& card, std::size_t s, std::size_t length = 14) {
    const Bytes all = fileBytes(card, kNumber);
    return Bytes(all.begin() + static_cast<long>(s * length),
                 all.begin() + static_cast<long>((s + 1) * length));
}
Bytes adiEntry(const CardSession& card, std::size_t e) {
    return card.image().record({kGeometry.directory, kAdi}, e);
}
Bytes groupRecord(const CardSession& card, std::size_t r) {
    return card.image().record({kGeometry.directory, kGroup}, r - 1);
}
Bytes padded(const Bytes& head, std::size_t length, std::uint8_t fill = 0x00) {
    Bytes bytes = head;
    bytes.resize(length, fill);
    return bytes;
}

TEST(ExtendedWrite, FillsSlotsEntriesAndRecordsByte_for_byte) {
    CardSession card(sim::buildExtendedCard(kGeometry));
    const Bytes stream =
        cat({kEightGroups,
             contact(ascii("AB"), {number("ADN", "12345"), number("MBL", std::string(20, '9'))},
                     {ascii("note"), Bytes{}}, hex("31 01 33 01 39"))});
    ASSERT_EQ(card.write(stream), 0);
    EXPECT_EQ(toHex(nameSlot(card, 1)), toHex(padded(hex("01 42 00 00 41 42"), 20)));
    EXPECT_EQ(nameSlot(card, 2), zeros(20));
    EXPECT_EQ(toHex(numberSlot(card, 0)), toHex(padded(hex("00 01 84 81 21 43 F5"), 14)));
    EXPECT_EQ(numberSlot(card, 1), zeros(14));
    EXPECT_EQ(toHex(numberSlot(card, 10)), toHex(cat({hex("00 01 2B 81"), Bytes(10, 0x99)})));
    EXPECT_EQ(toHex(adiEntry(card, 0)), toHex(padded(cat({hex("00 01 04"), ascii("note")}), 20)));
    EXPECT_EQ(adiEntry(card, 1), zeros(20));
    EXPECT_EQ(toHex(groupRecord(card, 3)), toHex(padded(cat({hex("02"), ascii("g3")}), 13, 0xFF)));
}

struct NameCase {
    const char* name;
    Bytes nmt;
    Bytes slotHead;  // bytes 1 on, before the zero padding
};

class NameSlotWrite : public ::testing::TestWithParam<NameCase> {};

TEST_P(NameSlotWrite, StoresTheName) {
    CardSession card(sim::buildExtendedCard(kGeometry));
    ASSERT_EQ(card.write(cat({kEightGroups, contact(GetParam().nmt, {})})), 0);
    EXPECT_EQ(toHex(nameSlot(card, 1)), toHex(padded(cat({hex("00"), GetParam().slotHead}), 20)));
}

INSTANTIATE_TEST_SUITE_P(
    ExtendedWrite, NameSlotWrite,
    ::testing::Values(NameCase{"EmptyNameIsThePlaceholder", {}, hex("01 00 00 20")},
                      NameCase{"Ucs2", hex("80 4E 2D 00 41"), hex("24 00 00 4E 2D 00 41")},
                      NameCase{"Ucs2MarkerAlone", hex("80"), hex("20 00 00")},
                      // L = 20: a name of L bytes is cut to L - 4.
                      NameCase{"NameOfSlotLengthIsCut", Bytes(20, 'n'),
                               cat({hex("10 00 00"), Bytes(16, 'n')})}),
    CaseName{});

TEST(ExtendedWrite, ContactIndexIsBigEndian) {
    sim::ExtendedGeometry g = kGeometry;
    g.nameSlotCount = 300;
    g.nameSlotLength = 6;
    g.adnCount = 1;
    CardSession card(sim::buildExtendedCard(g));
    Bytes stream = kEightGroups;
    for (int i = 1; i < 300; ++i) {
        const Bytes blank = contact(ascii("x"), {});
        stream.insert(stream.end(), blank.begin(), blank.end());
    }
    const Bytes last = contact(ascii("y"), {number("ADN", "1")}, {ascii("t"), Bytes{}});
    stream.insert(stream.end(), last.begin(), last.end());
    ASSERT_EQ(card.write(stream), 0);
    EXPECT_EQ(toHex(ByteView(numberSlot(card, 0)).first(2)), "01 2C");
    EXPECT_EQ(toHex(ByteView(adiEntry(card, 0)).first(2)), "01 2C");
}

// ---- ADI kinds and ordinals ---------------------------------------------------------

struct AdiKindCase {
    const char* name;
    std::uint8_t flags;
    std::vector<Bytes> adi;           // the contact's ADI elements
    std::vector<std::uint8_t> heads;  // byte 2 of ADI entries 0, 1, ...
};

class AdiKinds : public ::testing::TestWithParam<AdiKindCase> {};

TEST_P(AdiKinds, AreThoseTheReaderLooksFor) {
    sim::ExtendedGeometry g = kGeometry;
    g.optionFlags = GetParam().flags;
    CardSession card(sim::buildExtendedCard(g));
    ASSERT_EQ(card.write(cat({kEightGroups, contact(ascii("A"), {}, GetParam().adi)})), 0);
    for (std::size_t e = 0; e < 3; ++e) {
        const std::uint8_t expected = e < GetParam().heads.size() ? GetParam().heads[e] : 0x00;
        EXPECT_EQ(adiEntry(card, e)[2], expected) << "entry " << e;
    }
}

const std::vector<Bytes> kTwoTexts{ascii("a"), ascii("bc")};

INSTANTIATE_TEST_SUITE_P(
    ExtendedWrite, AdiKinds,
    ::testing::Values(AdiKindCase{"Flags01", 0x01, kTwoTexts, {0x01, 0x02}},
                      AdiKindCase{"Flags12", 0x12, kTwoTexts, {0x01, 0x82}},
                      AdiKindCase{"Flags20", 0x20, kTwoTexts, {0x81, 0x82}},
                      AdiKindCase{"Flags21", 0x21, kTwoTexts, {0x81, 0x02}},
                      AdiKindCase{"Flags02", 0x02, kTwoTexts, {0x81, 0x82}},
                      AdiKindCase{"Flags11", 0x11, kTwoTexts, {0x01, 0x02}},
                      AdiKindCase{"Flags22", 0x22, kTwoTexts, {0x81, 0x82}},
                      AdiKindCase{"Flags00", 0x00, kTwoTexts, {0x01, 0x02}},
                      // The second element keeps the second kind behind an empty first.
                      AdiKindCase{"Flags12SecondOnly", 0x12, {Bytes{}, ascii("abcde")}, {0x85}},
                      AdiKindCase{"Ucs2", 0x12, {hex("80 4E 2D"), Bytes{}}, {0x42}},
                      AdiKindCase{"EmptyOrdinalsCount",
                                  0x12,
                                  {ascii("abcde"), ascii("abc"), Bytes{}, ascii("abcd")},
                                  {0x05, 0x83}}),
    CaseName{});

// ---- Groups ---------------------------------------------------------------------------

struct GroupCase {
    const char* name;
    Bytes groups;
    std::vector<const char*> records;  // names of records 1 to 8, "" for cleared
};

class GroupWrite : public ::testing::TestWithParam<GroupCase> {};

TEST_P(GroupWrite, CollectsTheLeadingGrpElements) {
    CardSession card(sim::buildExtendedCard(kGeometry));
    ASSERT_EQ(card.write(cat({GetParam().groups, contact(ascii("A"), {}, {}, hex("31"))})), 0);
    for (std::size_t r = 1; r <= 8; ++r) {
        const Bytes name = ascii(GetParam().records[r - 1]);
        EXPECT_EQ(
            toHex(groupRecord(card, r)),
            toHex(padded(cat({Bytes{static_cast<std::uint8_t>(name.size())}, name}), 13, 0xFF)))
            << "record " << r;
    }
    EXPECT_EQ(nameSlot(card, 1)[1], 0x41) << "the contact after the group list is written";
}

INSTANTIATE_TEST_SUITE_P(
    ExtendedWrite, GroupWrite,
    ::testing::Values(
        GroupCase{"Eight", kEightGroups, {"g1", "g2", "g3", "g4", "g5", "g6", "g7", "g8"}},
        GroupCase{"TooLongNameMovesTheRestUp",
                  groupList({"g1", "thirteen char", "g3", "g4", "g5", "g6", "g7", "g8"}),
                  {"g1", "g3", "g4", "g5", "g6", "g7", "g8", ""}},
        GroupCase{
            "EmptyNameKeepsItsPlace", groupList({"", "g2"}), {"", "g2", "", "", "", "", "", ""}},
        GroupCase{"Three", groupList({"a", "b", "c"}), {"a", "b", "c", "", "", "", "", ""}},
        GroupCase{"None", {}, {"", "", "", "", "", "", "", ""}},
        GroupCase{"TenKeepTheFirstEight",
                  groupList({"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}),
                  {"1", "2", "3", "4", "5", "6", "7", "8"}},
        GroupCase{"UpperLengthBytesPassOver",
                  cat({hex("01 47 52 50 00 01 00 01 58"), groupList({"b"})}),
                  {"b", "", "", "", "", "", "", ""}}),
    CaseName{});

TEST(ExtendedWrite, EmptyPhoneBookClearsEverySlot) {
    sim::CardImage image = sim::buildExtendedCard(kGeometry);
    sim::putNameSlot(image, kGeometry, 1, ascii("old"));
    sim::putNumberSlot(image, kGeometry, 0, 1, sim::NumberType::kAdn, "1");
    sim::putAdiEntry(image, kGeometry, 0, 1, 0, false, ascii("t"));
    for (const Bytes& stream : {cat({kEightGroups, emptyNcd()}), kEightGroups}) {
        CardSession card(image);
        ASSERT_EQ(card.write(stream), 0);
        EXPECT_EQ(fileBytes(card, kName), zeros(200));
        EXPECT_EQ(fileBytes(card, kNumber), zeros(420));
        EXPECT_EQ(fileBytes(card, kAdi), zeros(120));
    }
}

TEST(ExtendedWrite, EmptyStreamWritesNothing) {
    sim::CardImage image = sim::buildExtendedCard(kGeometry);
    sim::putNameSlot(image, kGeometry, 1, ascii("keep"));
    CardSession card(image);
    card.sim().clearLog();
    EXPECT_EQ(WriteZRN(5, 0, nullptr), 0);
    EXPECT_EQ(card.image(), image);
    for (const std::string& command : card.sim().commandsHex()) {
        EXPECT_NE(command.substr(0, 5), "A0 D6");
        EXPECT_NE(command.substr(0, 5), "A0 DC");
    }
}

// ---- Refusals ---------------------------------------------------------------------------

struct RefusalCase {
    const char* name;
    Bytes contacts;  // after the eight groups and one good contact
    std::int32_t result;
};

class ExtendedRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(ExtendedRefusal, LeavesTheCardAsItWas) {
    sim::CardImage image = sim::buildExtendedCard(kGeometry);
    sim::putNameSlot(image, kGeometry, 1, ascii("keep"), false, {1});
    sim::putNumberSlot(image, kGeometry, 0, 1, sim::NumberType::kAdn, "1");
    sim::putGroupName(image, kGeometry, 1, ascii("old"));
    CardSession card(image);
    const Bytes good = contact(ascii("fine"), {number("ADN", "1")});
    EXPECT_EQ(card.write(cat({kEightGroups, good, GetParam().contacts})), GetParam().result);
    EXPECT_EQ(card.image(), image);
}

Bytes contacts(int n, const Bytes& one) {
    Bytes all;
    for (int i = 0; i < n; ++i) {
        all.insert(all.end(), one.begin(), one.end());
    }
    return all;
}

Bytes withNumbers(std::string_view tag, int n, std::string_view digits = "1") {
    Bytes nested = element("NMT", "n");
    for (int i = 0; i < n; ++i) {
        const Bytes e = number(tag, digits);
        nested.insert(nested.end(), e.begin(), e.end());
    }
    return element("NCD", cat({nested, element("ADI", ""), element("ADI", ""), emptyGpi()}));
}

const Bytes kAdi18 = ascii("eighteen bytes ok!");

INSTANTIATE_TEST_SUITE_P(
    ExtendedWrite, ExtendedRefusal,
    ::testing::Values(
        RefusalCase{"NotAContact", element("NMT", "x"), 339},
        RefusalCase{"TruncatedContactHead", hex("01 4E 43 44 00"), 339},
        RefusalCase{"TooManyContacts", contacts(10, contact(ascii("x"), {})), 340},
        RefusalCase{"EmptyAdn", contact(ascii("x"), {number("ADN", "")}), 341},
        RefusalCase{"AdnBeyondTheSlot", contact(ascii("x"), {number("ADN", std::string(21, '1'))}),
                    341},
        RefusalCase{"AdnUpperLengthBytes",
                    element("NCD", cat({element("NMT", "x"), hex("01 41 44 4E 00 00 01 01 31"),
                                        emptyGpi(), element("ADI", ""), emptyGpi()})),
                    341},
        RefusalCase{"AdnRegionFull", withNumbers("ADN", 10), 342},
        RefusalCase{"MblBeyondTheSlot", withNumbers("MBL", 1, std::string(21, '1')), 343},
        RefusalCase{"OtherRegionFull", withNumbers("MBL", 21), 343},
        RefusalCase{"EmptyHme", withNumbers("HME", 1, ""), 344},
        RefusalCase{"EmptyOfe", withNumbers("OFE", 1, ""), 345},
        RefusalCase{"OtrBeyondTheSlot", withNumbers("OTR", 1, std::string(21, '1')), 346},
        RefusalCase{"AdiBeyondTheEntry", contact(ascii("x"), {}, {kAdi18}), 347},
        RefusalCase{"Ucs2AdiBeyondTheEntry", contact(ascii("x"), {}, {cat({hex("80"), kAdi18})}),
                    347},
        RefusalCase{"AdiFull", contacts(4, contact(ascii("x"), {}, {ascii("a"), ascii("b")})), 349},
        RefusalCase{"ThirdAdi", contact(ascii("x"), {}, {ascii("a"), ascii("b"), ascii("c")}), 354},
        RefusalCase{"ThirdAdiAfterEmpty",
                    contact(ascii("x"), {}, {Bytes{}, ascii("b"), ascii("c")}), 354},
        RefusalCase{"NoGpi", element("NCD", cat({element("NMT", "x"), element("ADI", "")})), 351},
        RefusalCase{"AdnAfterMbl", contact(ascii("x"), {number("MBL", "1"), number("ADN", "2")}),
                    351},
        RefusalCase{"EndsInsideTheContact",
                    cat({hex("01 4E 43 44 00 00 00 30"), element("NMT", "x")}), 351},
        RefusalCase{"NumberRunsPastTheEnd",
                    cat({hex("01 4E 43 44 00 00 00 30"), element("NMT", "x"),
                         hex("01 41 44 4E 00 00 00 05 31 32")}),
                    351},
        RefusalCase{"NoElementAfterTheNumber",
                    cat({hex("01 4E 43 44 00 00 00 30"), element("NMT", "x"), element("ADN", "1")}),
                    351},
        RefusalCase{"NoName", element("NCD", cat({number("ADN", "1"), emptyGpi()})), 352},
        RefusalCase{"NameLongerThanTheSlot", contact(Bytes(21, 'n'), {}), 352}),
    CaseName{});

TEST(ExtendedWrite, AdiOnACardWithoutAdiEntriesIsRefused) {
    sim::ExtendedGeometry g = kGeometry;
    g.adiCount = 0;
    const sim::CardImage image = sim::buildExtendedCard(g);
    CardSession card(image);
    EXPECT_EQ(card.write(cat({kEightGroups, contact(ascii("x"), {}, {ascii("a")})})), 348);
    EXPECT_EQ(card.image(), image);
    // Empty ADI elements are fine, and no ADI file is needed for them.
    EXPECT_EQ(card.write(cat({kEightGroups, contact(ascii("x"), {})})), 0);
}

TEST(ExtendedWrite, GroupListRunningPastTheEndIsRefused) {
    const sim::CardImage image = sim::buildExtendedCard(kGeometry);
    CardSession card(image);
    EXPECT_EQ(card.write(cat({groupList({"a"}), hex("01 47 52 50 00 00 00 05 41")})), 339);
    EXPECT_EQ(card.image(), image);
}

// ---- Card failures ------------------------------------------------------------------------

// Answers the n-th command `instruction` sent while `file` is the last file
// selected (for SELECT: the n-th SELECT of `file`) with 6F 00.
void failOccurrence(sim::SimCard& sim, std::uint8_t instruction, std::uint16_t file, int n) {
    auto state = std::make_shared<std::pair<std::uint16_t, int>>(0, 0);
    sim.setInterceptor([=](ByteView command, Bytes& response) {
        if (command.size() < 5) {
            return false;
        }
        const bool isSelect = command[1] == 0xA4 && command.size() >= 7;
        const std::uint16_t target = isSelect ? readBe16(&command[5]) : state->first;
        if (isSelect) {
            state->first = target;
        }
        if (command[1] == instruction && target == file && ++state->second == n) {
            response = {0x6F, 0x00};
            return true;
        }
        return false;
    });
}

struct CardFailureCase {
    const char* name;
    std::uint8_t instruction;
    std::uint16_t file;
    int occurrence;
    std::int32_t result;
};

class ExtendedCardFailure : public ::testing::TestWithParam<CardFailureCase> {};

TEST_P(ExtendedCardFailure, EndsTheCallWithItsCode) {
    sim::ExtendedGeometry g = kGeometry;
    g.nameSlotCount = 15;  // 300 bytes: one piece of 255 and one of 45
    sim::CardImage image = sim::buildExtendedCard(g);
    CardSession card(image);
    failOccurrence(card.sim(), GetParam().instruction, GetParam().file, GetParam().occurrence);
    EXPECT_EQ(
        card.write(cat({kEightGroups, contact(ascii("A"), {number("ADN", "1")}, {ascii("t")})})),
        GetParam().result);
    if (GetParam().result >= 331 && GetParam().result <= 338) {
        EXPECT_EQ(card.image(), image);
    }
}

INSTANTIATE_TEST_SUITE_P(
    ExtendedWrite, ExtendedCardFailure,
    ::testing::Values(CardFailureCase{"NumberSelect", 0xA4, kNumber, 1, 331},
                      CardFailureCase{"NumberResponse", 0xC0, kNumber, 1, 333},
                      CardFailureCase{"NameSelect", 0xA4, kName, 1, 335},
                      CardFailureCase{"NameResponse", 0xC0, kName, 1, 337},
                      CardFailureCase{"NameSelectForWriting", 0xA4, kName, 2, 360},
                      CardFailureCase{"NameResponseForWriting", 0xC0, kName, 2, 362},
                      CardFailureCase{"NameFullPiece", 0xD6, kName, 1, 363},
                      CardFailureCase{"NameLastPiece", 0xD6, kName, 2, 364},
                      CardFailureCase{"NumberSelectForWriting", 0xA4, kNumber, 2, 370},
                      CardFailureCase{"NumberResponseForWriting", 0xC0, kNumber, 2, 372},
                      CardFailureCase{"NumberFullPiece", 0xD6, kNumber, 1, 373},
                      CardFailureCase{"NumberLastPiece", 0xD6, kNumber, 2, 374},
                      CardFailureCase{"GroupSelect", 0xA4, kGroup, 1, 2},
                      CardFailureCase{"GroupClear", 0xDC, kGroup, 3, 2},
                      CardFailureCase{"GroupName", 0xDC, kGroup, 9, 2},
                      CardFailureCase{"AdiSelect", 0xA4, kAdi, 1, 2},
                      CardFailureCase{"AdiRecord", 0xDC, kAdi, 4, 2}),
    CaseName{});

TEST(ExtendedWrite, MissingGroupOrAdiFileIsFineWhenThereAreNoRecords) {
    sim::ExtendedGeometry g = kGeometry;
    g.groupCount = 0;
    g.adiCount = 0;  // the builder leaves both files out
    CardSession card(sim::buildExtendedCard(g));
    EXPECT_EQ(card.write(contact(ascii("A"), {number("ADN", "1")})), 0);
    EXPECT_EQ(nameSlot(card, 1)[1], 0x01);
}

TEST(ExtendedWrite, SendsTheCommandsInOrder) {
    sim::ExtendedGeometry g;
    g.groupCount = 2;
    g.groupNameLength = 3;
    g.nameSlotCount = 2;
    g.nameSlotLength = 6;
    g.adnCount = 1;
    g.numberSlotCount = 2;
    g.numberSlotLength = 6;
    g.adiCount = 1;
    g.adiRecordLength = 4;
    CardSession card(sim::buildExtendedCard(g));
    card.sim().clearLog();
    ASSERT_EQ(card.write(cat(
                  {groupList({"a"}), contact(ascii("N"), {number("ADN", "12")}, {ascii("t")})})),
              0);
    const std::string sel = "A0 A4 00 00 02 ";
    const std::vector<std::string> expected{sel + "3F 00",
                                            sel + "7F 10",
                                            sel + "90 00",  // layout
                                            sel + "3F 00",
                                            sel + "7F 10",
                                            sel + "6F 06",
                                            "A0 C0 00 00 0F",  // number file size
                                            sel + "3F 00",
                                            sel + "7F 10",
                                            sel + "6F 04",
                                            "A0 C0 00 00 0F",  // name file size
                                            sel + "3F 00",
                                            sel + "7F 10",
                                            sel + "6F 0C",  // groups
                                            "A0 DC 01 04 04 00 FF FF FF",
                                            "A0 DC 02 04 04 00 FF FF FF",
                                            "A0 DC 01 04 04 01 61 FF FF",
                                            sel + "3F 00",
                                            sel + "7F 10",
                                            sel + "6F 04",
                                            "A0 C0 00 00 0F",  // names
                                            "A0 D6 00 00 0C 00 01 00 00 4E 00 00 00 00 00 00 00",
                                            sel + "3F 00",
                                            sel + "7F 10",
                                            sel + "6F 06",
                                            "A0 C0 00 00 0F",  // numbers
                                            "A0 D6 00 00 0C 00 01 82 81 21 00 00 00 00 00 00 00",
                                            sel + "3F 00",
                                            sel + "7F 10",
                                            sel + "6F 08",  // ADI
                                            "A0 DC 01 04 04 00 01 01 74"};
    EXPECT_EQ(card.sim().commandsHex(), expected);
}

}  // namespace
}  // namespace zrn::test
