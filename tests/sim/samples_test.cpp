#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

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

// What the exports see of a card: GetConfig, the phone-book and message
// streams, and every command they sent.
struct ExportView {
    std::string config;
    Bytes phonebook;
    Bytes messages;
    std::vector<std::string> commands;

    bool operator==(const ExportView&) const = default;
};

ExportView exportViewOf(const CardImage& image) {
    SimCard card(image);
    ScopedCard inserted(card);
    ExportView view;
    EXPECT_EQ(ConnectReader(kSimulatedHandle), 0);
    char text[ZRN_CONFIG_TEXT_SIZE] = {};
    EXPECT_EQ(GetConfig(text), 0);
    view.config = text;
    std::int32_t count = 0;
    std::int32_t length = 0;
    Bytes buffer(ZRN_PHONEBOOK_BUFFER_SIZE, 0x00);
    EXPECT_EQ(ReadZRN(&count, &length, buffer.data()), 0);
    view.phonebook.assign(buffer.begin(), buffer.begin() + std::max(length, 0));
    Bytes messages(64 * 1024, 0x00);
    EXPECT_EQ(ReadSMS(&count, &length, messages.data()), 0);
    view.messages.assign(messages.begin(), messages.begin() + std::max(length, 0));
    view.commands = card.commandsHex();
    return view;
}

std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string answer(SimCard& card, const std::string& command) {
    Bytes bytes;
    EXPECT_TRUE(fromHex(command, bytes));
    Bytes response;
    EXPECT_EQ(card.transmit(bytes, response), 0);
    return toHex(response);
}

// Copies of samples/standard.json and extended.json as they were before the
// samples gained the GSM files and CHV2: they load and save unchanged, the
// card answers their files as it did, and the exports see the same on them
// as on today's samples.
TEST(Samples, EarlierImagesLoadAndAnswerAsBefore) {
    struct Legacy {
        const char* file;
        CardImage (*current)();
    };
    for (const Legacy& legacy : {Legacy{"legacy-standard.json", standardSample},
                                 Legacy{"legacy-extended.json", extendedSample}}) {
        SCOPED_TRACE(legacy.file);
        const std::string path = std::string(ZRN_SOURCE_DIR) + "/tests/sim/data/" + legacy.file;
        const CardImage image = loadImage(path);
        EXPECT_EQ(serializeImage(image), fileText(path));
        EXPECT_FALSE(image.chv2.has_value());
        EXPECT_EQ(image.find({files::kGsm})->children.size(), 0u);
        EXPECT_EQ(exportViewOf(image), exportViewOf(legacy.current()));
    }
    SimCard card(loadImage(std::string(ZRN_SOURCE_DIR) + "/tests/sim/data/legacy-standard.json"));
    EXPECT_EQ(answer(card, "A0 A4 00 00 02 7F 10"), "9F 16");
    EXPECT_EQ(answer(card, "A0 C0 00 00 16"),
              "00 00 20 00 7F 10 02 00 00 00 00 00 09 93 00 02 04 00 83 8A 00 00 90 00");
    EXPECT_EQ(answer(card, "A0 A4 00 00 02 6F 3A"), "9F 0F");
    EXPECT_EQ(answer(card, "A0 C0 00 00 0F"), "00 00 0A F0 6F 3A 04 00 00 F0 44 01 02 01 1C 90 00");
}

// The files a phone reads at start-up are there, with the contents the
// builder documents.
TEST(Samples, CarryTheFilesOfAPhase2Sim) {
    for (const char* name : {"standard.json", "extended.json", "standard-pin.json"}) {
        SCOPED_TRACE(name);
        const CardImage image = loadSample(name);
        for (std::uint16_t id :
             {files::kLp, files::kImsi, files::kKc, files::kPlmnSelector, files::kHplmnPeriod,
              files::kAcmMax, files::kSst, files::kAcm, files::kPuct, files::kCbmi, files::kSpn,
              files::kBcch, files::kAcc, files::kFplmn, files::kLoci, files::kAd, files::kPhase}) {
            EXPECT_NE(image.find({files::kGsm, id}), nullptr) << std::hex << id;
        }
        for (std::uint16_t id :
             {files::kAdn, files::kFdn, files::kSms, files::kMsisdn, files::kSmsp, files::kSmss,
              files::kLnd, files::kExt1, files::kExt2}) {
            EXPECT_NE(image.find({files::kTelecom, id}), nullptr) << std::hex << id;
        }
        EXPECT_EQ(image.find({files::kGsm, files::kPhase})->data, Bytes{0x02});
        EXPECT_EQ(image.find({files::kGsm, files::kImsi})->data,
                  Bytes({0x08, 0x09, 0x10, 0x10, 0x10, 0x32, 0x54, 0x76, 0x98}));
        EXPECT_EQ(image.find({files::kGsm, files::kAcm})->kind, FileKind::kCyclic);
        EXPECT_TRUE(image.chv2.has_value());
    }
    // The standard layout gains no file the extended layout's discovery looks for.
    const CardImage standard = loadSample("standard.json");
    EXPECT_EQ(standard.find({files::kTelecom, files::kName}), nullptr);
    EXPECT_EQ(standard.find({files::kSecondDirectory}), nullptr);
    EXPECT_EQ(standard.find({files::kTelecom, files::kConfig}), nullptr);
}

TEST(Samples, PinSampleIsTheGeneratedCardAndAsksForItsPin) {
    const CardImage image = loadSample("standard-pin.json");
    EXPECT_EQ(image, pinSample()) << "rerun zrn-make-samples samples";
    EXPECT_TRUE(image.chv1.enabled);
    SimCard card(image);
    answer(card, "A0 A4 00 00 02 7F 10");
    answer(card, "A0 A4 00 00 02 6F 3A");
    EXPECT_EQ(answer(card, "A0 B2 01 04 1C"), "98 04");
    EXPECT_EQ(answer(card, "A0 20 00 01 08 31 32 33 34 FF FF FF FF"), "90 00");
    EXPECT_EQ(answer(card, "A0 B2 01 04 1C").substr(0, 8), "4D 75 6D");  // "Mum"
    // The phone book reads as on the standard sample once the PIN is given.
    CardImage open = image;
    open.chv1.enabled = false;
    EXPECT_EQ(exportViewOf(open).phonebook, exportViewOf(standardSample()).phonebook);
}

}  // namespace
}  // namespace zrn::sim
