#include <gtest/gtest.h>

#include <string>

#include "sim/card_builder.h"
#include "sim/card_image.h"
#include "sim/samples.h"
#include "sim/sim_card.h"
#include "zrn.h"

namespace zrn::sim {
namespace {

CardImage loadSample(const char* name) {
    return loadImage(std::string(ZRN_SOURCE_DIR) + "/samples/" + name);
}

std::size_t usedRecords(const CardImage& image, std::initializer_list<std::uint16_t> path) {
    const SimFile* file = image.find(path);
    std::size_t used = 0;
    for (std::size_t i = 0; file != nullptr && i < file->recordCount(); ++i) {
        const Bytes record = image.record(path, i);
        // A used ADN record has a name or a number; a used message record a non-zero status.
        const bool isMessage = file->recordLength == kSmsRecordLength;
        used += isMessage ? record[0] != 0x00 : record != Bytes(record.size(), 0xFF);
    }
    return used;
}

std::string getConfigOf(const CardImage& image) {
    SimCard card(image);
    ScopedCard inserted(card);
    EXPECT_EQ(ConnectReader(kSimulatedHandle), 0);
    char text[ZRN_CONFIG_TEXT_SIZE] = {};
    EXPECT_EQ(GetConfig(text), 0);
    return text;
}

TEST(Samples, StandardSampleIsTheGeneratedCard) {
    const CardImage image = loadSample("standard.json");
    EXPECT_EQ(image, standardSample()) << "rerun zrn-make-samples samples";
    EXPECT_EQ(image.find({0x7F10, 0x6F3A})->recordCount(), 100u);
    EXPECT_EQ(usedRecords(image, {0x7F10, 0x6F3A}), 20u);
    EXPECT_EQ(image.find({0x7F10, 0x6F3C})->recordCount(), 10u);
    EXPECT_EQ(usedRecords(image, {0x7F10, 0x6F3C}), 8u);
    EXPECT_EQ(image.find({0x7F10, 0x1F3C}), nullptr);
    EXPECT_EQ(image.find({0x7F10, 0x9000}), nullptr);
    // The three UCS-2 alpha forms are there.
    EXPECT_EQ(image.record({0x7F10, 0x6F3A}, 9)[0], 0x80);
    EXPECT_EQ(image.record({0x7F10, 0x6F3A}, 10)[0], 0x81);
    EXPECT_EQ(image.record({0x7F10, 0x6F3A}, 11)[0], 0x82);
    EXPECT_EQ(getConfigOf(image), "100,0,10,0,0,0,0");
}

TEST(Samples, ExtendedSampleIsTheGeneratedCard) {
    const CardImage image = loadSample("extended.json");
    EXPECT_EQ(image, extendedSample()) << "rerun zrn-make-samples samples";
    const ExtendedGeometry g = extendedSampleGeometry();
    EXPECT_EQ(image.find({0x7F10, 0x9000})->data, configurationBytes(g));
    EXPECT_EQ(image.find({0x2F99})->data[4], 0x12);
    EXPECT_EQ(image.find({0x7F10, 0x6F04})->data.size(), 250u * 36u);
    EXPECT_EQ(image.find({0x7F10, 0x6F06})->data.size(), 750u * 24u);
    EXPECT_EQ(usedRecords(image, {0x7F10, 0x6F08}), 11u);
    EXPECT_EQ(image.record({0x7F10, 0x6F0C}, 0), groupRecordBytes(g, asciiBytes("Family")));
    EXPECT_EQ(usedRecords(image, {0x7F10, 0x6F3C}), 10u);
    EXPECT_EQ(usedRecords(image, {0x7F10, 0x1F3C}), 5u);
    EXPECT_EQ(image.find({0x7F10, 0x1F02})->data, Bytes({2, 3, 2, 1, 1, 0, 0, 0, 0, 0}));
    // 15 used name slots.
    const Bytes& names = image.find({0x7F10, 0x6F04})->data;
    int contacts = 0;
    for (std::size_t m = 0; m < 250; ++m) {
        const std::uint8_t lengthByte = names[m * 36 + 1];
        contacts += lengthByte != 0xFF && (lengthByte & 0x1F) != 0;
    }
    EXPECT_EQ(contacts, 15);
    EXPECT_EQ(getConfigOf(image), "250,500,20,100,8,10,0");
}

}  // namespace
}  // namespace zrn::sim
