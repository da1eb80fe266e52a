#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "sim/card_builder.h"
#include "sim/sim_card.h"
#include "zrn.h"

namespace zrn::sim {
namespace {

Bytes hex(const std::string& text) {
    Bytes bytes;
    EXPECT_TRUE(fromHex(text, bytes)) << text;
    return bytes;
}

Bytes withFiller(const std::string& head, std::size_t total) {
    Bytes bytes = hex(head);
    bytes.resize(total, 0xFF);
    return bytes;
}

// --- Encoders, byte by byte -----------------------------------------------------------

TEST(PackBcd, LowNibbleFirstWithFiller) {
    EXPECT_EQ(packBcd("12345"), hex("21 43 F5"));
    EXPECT_EQ(packBcd("1234"), hex("21 43"));
    EXPECT_EQ(packBcd("0"), hex("F0"));
    EXPECT_EQ(packBcd(":;<=>"), hex("BA DC FE"));
    EXPECT_EQ(packBcd(""), Bytes{});
}

TEST(TextHelpers, AsciiAndUcs2) {
    EXPECT_EQ(asciiBytes("Ab 1"), hex("41 62 20 31"));
    EXPECT_EQ(ucs2Bytes(u"\u5F20A"), hex("5F 20 00 41"));
}

const ExtendedGeometry kGeometry{};  // 36-byte name slots, 24-byte number slots, ...

TEST(NameSlot, NameInGroupsTwoAndFive) {
    EXPECT_EQ(nameSlotBytes(kGeometry, asciiBytes("AB"), false, {2, 5}),
              withFiller("04 82 00 00 41 42", 36));
}

TEST(NameSlot, GroupBitsAndUcs2Flag) {
    // Group 1 is byte 1 bit 6, groups 3-8 byte 0 bits 0-5.
    EXPECT_EQ(nameSlotBytes(kGeometry, hex("00 41"), true, {1, 3, 8}),
              withFiller("21 62 00 00 00 41", 36));
    EXPECT_EQ(nameSlotBytes(kGeometry, asciiBytes("X"), false, {}),
              withFiller("00 01 00 00 58", 36));
}

TEST(NameSlot, EmptyNameIsThePlaceholder) {
    EXPECT_EQ(nameSlotBytes(kGeometry, {}, false, {1}), withFiller("00 41 00 00 20", 36));
}

TEST(NameSlot, RefusesWhatDoesNotFit) {
    ExtendedGeometry small = kGeometry;
    small.nameSlotLength = 8;
    EXPECT_NO_THROW(nameSlotBytes(small, asciiBytes("ABCD"), false, {}));
    EXPECT_THROW(nameSlotBytes(small, asciiBytes("ABCDE"), false, {}), std::invalid_argument);
    // Five length bits: 31 bytes at most even in a long slot.
    ExtendedGeometry wide = kGeometry;
    wide.nameSlotLength = 60;
    EXPECT_THROW(nameSlotBytes(wide, Bytes(32, 0x41), false, {}), std::invalid_argument);
    EXPECT_THROW(nameSlotBytes(kGeometry, asciiBytes("A"), false, {9}), std::invalid_argument);
    EXPECT_THROW(nameSlotBytes(kGeometry, asciiBytes("A"), false, {0}), std::invalid_argument);
}

TEST(NumberSlot, MobileNumber123) {
    EXPECT_EQ(numberSlotBytes(kGeometry, 1, NumberType::kMbl, "123"),
              withFiller("00 01 23 81 21 F3", 24));
}

TEST(NumberSlot, TypeCodesAndContactIndex) {
    EXPECT_EQ(numberSlotBytes(kGeometry, 258, NumberType::kAdn, "1234", 0x91),
              withFiller("01 02 83 91 21 43", 24));
    EXPECT_EQ(numberSlotBytes(kGeometry, 2, NumberType::kHme, "5")[2], 0x42);
    EXPECT_EQ(numberSlotBytes(kGeometry, 2, NumberType::kOfe, "5")[2], 0x62);
    EXPECT_EQ(numberSlotBytes(kGeometry, 2, NumberType::kOtr, "5")[2], 0xA2);
    // 40 digits fill the 20 BCD bytes of a 24-byte slot exactly; 41 do not fit.
    EXPECT_EQ(numberSlotBytes(kGeometry, 1, NumberType::kMbl, std::string(40, '9'))[2], 0x35);
    EXPECT_THROW(numberSlotBytes(kGeometry, 1, NumberType::kMbl, std::string(41, '9')),
                 std::invalid_argument);
}

TEST(AdiEntry, KindFlagAndText) {
    EXPECT_EQ(adiEntryBytes(kGeometry, 3, 1, true, hex("00 41")), withFiller("00 03 C2 00 41", 64));
    EXPECT_EQ(adiEntryBytes(kGeometry, 300, 0, false, asciiBytes("a@b")),
              withFiller("01 2C 03 61 40 62", 64));
    EXPECT_THROW(adiEntryBytes(kGeometry, 1, 2, false, {}), std::invalid_argument);
    EXPECT_THROW(adiEntryBytes(kGeometry, 1, 0, false, Bytes(62, 0x41)), std::invalid_argument);
}

TEST(GroupRecord, LengthThenName) {
    EXPECT_EQ(groupRecordBytes(kGeometry, asciiBytes("Work")), withFiller("04 57 6F 72 6B", 13));
    EXPECT_EQ(groupRecordBytes(kGeometry, {}), withFiller("00", 13));
    EXPECT_THROW(groupRecordBytes(kGeometry, Bytes(13, 0x41)), std::invalid_argument);
}

TEST(AdnRecord, GsmLayout) {
    EXPECT_EQ(
        adnRecordBytes(28, asciiBytes("AB"), "123"),
        hex("41 42 FF FF FF FF FF FF FF FF FF FF FF FF 03 81 21 F3 FF FF FF FF FF FF FF FF FF FF"));
    // No number: length and TON/NPI stay FF.
    EXPECT_EQ(adnRecordBytes(16, asciiBytes("AB"), ""), withFiller("41 42", 16));
    EXPECT_THROW(adnRecordBytes(28, Bytes(15, 0x41), "1"), std::invalid_argument);
    EXPECT_THROW(adnRecordBytes(28, {}, std::string(21, '1')), std::invalid_argument);
}

TEST(SmsRecord, StatusThenBody) {
    const Bytes record = smsRecordBytes(0x03, hex("07 91 68 31"));
    EXPECT_EQ(record, withFiller("03 07 91 68 31", 176));
    EXPECT_THROW(smsRecordBytes(0x01, Bytes(176, 0x00)), std::invalid_argument);
}

TEST(Configuration, BytesInPlace) {
    ExtendedGeometry g;
    g.nameSlotLength = 0x14;
    g.numberSlotLength = 0x20;
    g.adnCount = 250;
    g.nameSlotCount = 500;
    g.numberSlotCount = 1000;
    g.groupCount = 8;
    g.groupNameLength = 12;
    g.adiCount = 100;
    g.adiRecordLength = 0x40;
    g.smsCount = 0x32;
    g.capacity6 = 10;
    g.capacity7 = 5;
    EXPECT_EQ(configurationBytes(g),
              hex("14 20 00 FA 01 F4 03 E8 08 00 0C 00 64 40 32 00 0A 00 05 00"));
    g.optionFlags = 0x21;
    EXPECT_EQ(optionBytes(g), hex("00 00 00 00 21 00 00 00 00 00"));
}

// --- Whole cards -----------------------------------------------------------------------

TEST(StandardCard, FilesAndSizes) {
    StandardCardOptions options;
    options.adnCount = 15;
    options.smsCount = 4;
    options.extraMessageCount = 3;
    options.optionFile = true;
    options.optionFlags = 0x12;
    const CardImage image = buildStandardCard(options);
    const SimFile* adn = image.find({0x7F10, 0x6F3A});
    ASSERT_NE(adn, nullptr);
    EXPECT_EQ(adn->kind, FileKind::kLinearFixed);
    EXPECT_EQ(adn->recordLength, 28);
    EXPECT_EQ(adn->recordCount(), 15u);
    EXPECT_EQ(image.find({0x7F10, 0x6F3C})->data, Bytes(4 * 176, 0xFF));
    EXPECT_EQ(image.find({0x7F10, 0x1F3C})->recordCount(), 3u);
    EXPECT_EQ(image.find({0x7F10, 0x1F02})->data, Bytes(3, 0x00));
    EXPECT_EQ(image.find({0x2F99})->data, hex("00 00 00 00 12 00 00 00 00 00"));
    EXPECT_EQ(image.find({0x2FE2})->data.size(), 10u);
    ASSERT_NE(image.find({0x7F20}), nullptr);
    EXPECT_EQ(image.find({0x7F20})->kind, FileKind::kDedicated);
    EXPECT_EQ(image.find({0x7F10, 0x9000}), nullptr);
    EXPECT_FALSE(image.atr.empty());
}

TEST(StandardCard, OptionalFilesLeftOut) {
    StandardCardOptions options;
    options.extraMessageCount = 2;
    options.extraMessageIndex = false;
    const CardImage image = buildStandardCard(options);
    EXPECT_NE(image.find({0x7F10, 0x1F3C}), nullptr);
    EXPECT_EQ(image.find({0x7F10, 0x1F02}), nullptr);
    EXPECT_EQ(image.find({0x2F99}), nullptr);
    EXPECT_EQ(buildStandardCard({}).find({0x7F10, 0x1F3C}), nullptr);
}

TEST(ExtendedCard, FilesFromTheGeometry) {
    ExtendedGeometry g;
    g.directory = 0x5F00;
    g.extraMessageCount = 4;
    const CardImage image = buildExtendedCard(g);
    EXPECT_EQ(image.find({0x5F00, 0x9000})->data, configurationBytes(g));
    EXPECT_EQ(image.find({0x2F99})->data, optionBytes(g));
    EXPECT_EQ(image.find({0x5F00, 0x6F04})->data, Bytes(36 * 250, 0xFF));
    EXPECT_EQ(image.find({0x5F00, 0x6F06})->data, Bytes(24 * 750, 0xFF));
    EXPECT_EQ(image.find({0x5F00, 0x6F08})->recordLength, 64);
    EXPECT_EQ(image.find({0x5F00, 0x6F08})->recordCount(), 100u);
    EXPECT_EQ(image.find({0x5F00, 0x6F0C})->recordLength, 13);
    EXPECT_EQ(image.find({0x5F00, 0x6F0C})->recordCount(), 8u);
    EXPECT_NE(image.find({0x7F10, 0x6F3A}), nullptr);
    EXPECT_EQ(image.find({0x7F10, 0x6F3C})->recordCount(), 20u);
    EXPECT_EQ(image.find({0x7F10, 0x1F02})->data, Bytes(4, 0x00));
    EXPECT_EQ(image.find({0x7F10, 0x6F04}), nullptr);
}

TEST(ExtendedCard, NoAdiOrGroupFileWhenTheirCountIsZero) {
    ExtendedGeometry g;
    g.adiCount = 0;
    g.groupCount = 0;
    const CardImage image = buildExtendedCard(g);
    EXPECT_EQ(image.find({0x7F10, 0x6F08}), nullptr);
    EXPECT_EQ(image.find({0x7F10, 0x6F0C}), nullptr);
    EXPECT_NE(image.find({0x7F10, 0x6F04}), nullptr);
}

TEST(ExtendedCard, RefusesImpossibleGeometries) {
    ExtendedGeometry g;
    g.directory = 0x7F20;
    EXPECT_THROW(buildExtendedCard(g), std::invalid_argument);
    g = ExtendedGeometry{};
    g.nameSlotLength = 255;
    g.nameSlotCount = 300;
    EXPECT_THROW(buildExtendedCard(g), std::invalid_argument);
}

TEST(ContentWriters, PutSlotsAndRecordsInPlace) {
    ExtendedGeometry g;
    g.extraMessageCount = 3;
    CardImage image = buildExtendedCard(g);
    putNameSlot(image, g, 2, asciiBytes("AB"), false, {2, 5});
    putNumberSlot(image, g, 250, 2, NumberType::kMbl, "123");
    putAdiEntry(image, g, 0, 2, 0, false, asciiBytes("x@y"));
    putGroupName(image, g, 3, asciiBytes("Work"));
    putAdnRecord(image, 1, asciiBytes("AB"), "123");
    putSmsRecord(image, 2, 0x01, hex("00"));
    putExtraMessage(image, 3, 0x05, hex("00"));
    setExtraIndex(image, 3, 0x01);

    const Bytes& names = image.find({0x7F10, 0x6F04})->data;
    EXPECT_EQ(Bytes(names.begin() + 36, names.begin() + 72),
              nameSlotBytes(g, asciiBytes("AB"), false, {2, 5}));
    EXPECT_EQ(Bytes(names.begin(), names.begin() + 36), Bytes(36, 0xFF));
    const Bytes& numbers = image.find({0x7F10, 0x6F06})->data;
    EXPECT_EQ(Bytes(numbers.begin() + 250 * 24, numbers.begin() + 251 * 24),
              withFiller("00 02 23 81 21 F3", 24));
    EXPECT_EQ(image.record({0x7F10, 0x6F08}, 0), withFiller("00 02 03 78 40 79", 64));
    EXPECT_EQ(image.record({0x7F10, 0x6F0C}, 2), withFiller("04 57 6F 72 6B", 13));
    EXPECT_EQ(image.record({0x7F10, 0x6F3A}, 0), adnRecordBytes(28, asciiBytes("AB"), "123"));
    EXPECT_EQ(image.record({0x7F10, 0x6F3C}, 1), withFiller("01 00", 176));
    EXPECT_EQ(image.record({0x7F10, 0x1F3C}, 2), withFiller("05 00", 176));
    EXPECT_EQ(image.find({0x7F10, 0x1F02})->data, hex("00 00 01"));
}

TEST(ContentWriters, RefuseSlotsOutsideTheFiles) {
    ExtendedGeometry g;
    CardImage image = buildExtendedCard(g);
    EXPECT_THROW(putNameSlot(image, g, 0, asciiBytes("A")), std::invalid_argument);
    EXPECT_THROW(putNameSlot(image, g, 251, asciiBytes("A")), std::invalid_argument);
    EXPECT_THROW(putNumberSlot(image, g, 750, 1, NumberType::kMbl, "1"), std::invalid_argument);
    EXPECT_THROW(putAdiEntry(image, g, 100, 1, 0, false, {}), std::invalid_argument);
    EXPECT_THROW(putGroupName(image, g, 0, {}), std::invalid_argument);
    EXPECT_THROW(putGroupName(image, g, 9, {}), std::invalid_argument);
    EXPECT_THROW(putExtraMessage(image, 1, 1, {}), std::invalid_argument);  // no extra store
    EXPECT_THROW(setExtraIndex(image, 1, 1), std::invalid_argument);
    EXPECT_THROW(putNameSlotBytes(image, g, 1, Bytes(37, 0)), std::invalid_argument);
    putNameSlotBytes(image, g, 1, hex("00 FF"));
    EXPECT_EQ(image.find({0x7F10, 0x6F04})->data[1], 0xFF);
}

// The library connecting to a built card reads back the geometry it was built from.
TEST(BuiltCardsOnTheLibrary, GetConfigReportsTheBuilderGeometry) {
    ExtendedGeometry g;
    g.nameSlotLength = 0x14;
    g.numberSlotLength = 0x20;
    g.nameSlotCount = 500;
    g.numberSlotCount = 1000;
    g.smsCount = 0x32;
    g.capacity6 = 10;
    g.capacity7 = 5;
    SimCard extended(buildExtendedCard(g));
    {
        ScopedCard inserted(extended);
        ASSERT_EQ(ConnectReader(kSimulatedHandle), 0);
        char text[ZRN_CONFIG_TEXT_SIZE] = {};
        ASSERT_EQ(GetConfig(text), 0);
        EXPECT_STREQ(text, "250,750,50,100,8,10,5");
    }
    StandardCardOptions options;
    options.adnCount = 250;
    options.smsCount = 20;
    SimCard standard(buildStandardCard(options));
    {
        ScopedCard inserted(standard);
        ASSERT_EQ(ConnectReader(kSimulatedHandle), 0);
        char text[ZRN_CONFIG_TEXT_SIZE] = {};
        ASSERT_EQ(GetConfig(text), 0);
        EXPECT_STREQ(text, "250,0,20,0,0,0,0");
    }
}

}  // namespace
}  // namespace zrn::sim
