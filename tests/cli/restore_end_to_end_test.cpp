// zrn backup and restore keep every byte of the card's files, and numbers
// with an international TON/NPI keep their '+' in and out of the tool.
#include <nlohmann/json.hpp>

#include "bench/bench_cards.h"
#include "sim/card_builder.h"
#include "sim/samples.h"
#include "zrn_folder.h"

namespace zrn::test {
namespace {

using Result = ZrnRun;

struct NamedCard {
    const char* name;
    sim::CardImage image;
};

// A standard card as phones leave it: every EF_ADN record used, the last
// one too, some numbers international.
sim::CardImage fullStandardCard() {
    sim::CardImage image = sim::buildStandardCard();
    for (std::size_t r = 1; r <= 100; ++r) {
        const std::string number = "49301234" + std::to_string(100 + r);
        sim::putAdnRecord(image, r, sim::asciiBytes("Person " + std::to_string(r)), number,
                          r % 3 == 0 ? 0x91 : 0x81);
    }
    return image;
}

std::vector<NamedCard> restoreCards() {
    sim::CardImage largestStandard = bench::buildLargestStandardCard(bench::CardSize::kFull).image;
    sim::putAdnRecord(largestStandard, 255, sim::asciiBytes("Last"), "4930123456", 0x91);
    return {{"extended sample", sim::extendedSample()},
            {"standard sample", sim::standardSample()},
            {"full EF_ADN", fullStandardCard()},
            {"largest extended", bench::buildLargestExtendedCard(bench::CardSize::kFull).image},
            {"largest standard", largestStandard},
            {"largest messages", bench::buildLargestMessageCard(bench::CardSize::kFull).image}};
}

// Flips a byte in every file a restore writes back, so that each must be
// rewritten to come back the same.
std::size_t disturb(sim::CardImage& image) {
    std::size_t files = 0;
    const auto flip = [&](sim::SimFile* f) {
        if (f != nullptr && !f->data.empty()) {
            f->data[f->data.size() / 2] ^= 0x5A;
            ++files;
        }
    };
    for (const std::uint16_t id : {sim::files::kAdn, sim::files::kSms, sim::files::kExtraMessages,
                                   sim::files::kExtraMessageIndex, sim::files::kName,
                                   sim::files::kNumber, sim::files::kAdi, sim::files::kGroup}) {
        flip(image.find({sim::files::kTelecom, id}));
    }
    return files;
}

class Restore : public ZrnFolder {};

TEST_F(Restore, TheToolsOwnBackupMakesEveryFileByteIdenticalAgain) {
    for (NamedCard& c : restoreCards()) {
        SCOPED_TRACE(c.name);
        sim::saveImage(c.image, path("card.json"));
        const std::string original = slurp(path("card.json"));
        const Result backup = zrn("--sim card.json backup -o backup.json");
        ASSERT_EQ(backup.exitCode, 0) << backup.err;

        // Onto the card as it is: nothing to write.
        const Result same = zrn("--sim card.json restore backup.json --no-backup");
        ASSERT_EQ(same.exitCode, 0) << same.err;
        EXPECT_NE(same.err.find("byte for byte (0 record(s) and 0 piece(s)"), std::string::npos)
            << same.err;
        EXPECT_EQ(slurp(path("card.json")), original);

        // Onto the card with a byte changed in every file: all comes back.
        sim::CardImage changed = c.image;
        ASSERT_GT(disturb(changed), 0u);
        sim::saveImage(changed, path("card.json"));
        const Result restored = zrn("--sim card.json restore backup.json --no-backup");
        ASSERT_EQ(restored.exitCode, 0) << restored.err;
        EXPECT_NE(restored.err.find("read back and verified"), std::string::npos);
        EXPECT_TRUE(slurp(path("card.json")) == original) << "the card image differs";
    }
}

TEST_F(Restore, AnOlderBackupOrAnotherCardIsCodedAnewAndSaysSo) {
    copySamples();
    ASSERT_EQ(zrn("--sim standard.json backup -o backup.json").exitCode, 0);
    auto doc = nlohmann::json::parse(slurp(path("backup.json")));
    doc.erase("images");
    spit(path("old.json"), doc.dump());
    sim::saveImage(sim::buildStandardCard(), path("blank.json"));
    const Result old = zrn("--sim blank.json restore old.json --no-backup");
    ASSERT_EQ(old.exitCode, 0) << old.err;
    EXPECT_NE(old.err.find("holds no card images"), std::string::npos) << old.err;
    const std::string shown = zrn("--sim blank.json show").out;
    EXPECT_NE(shown.find("Anna Schmidt"), std::string::npos);

    sim::StandardCardOptions other;
    other.adnCount = 60;
    sim::saveImage(sim::buildStandardCard(other), path("other.json"));
    const Result coded = zrn("--sim other.json restore backup.json --no-backup");
    ASSERT_EQ(coded.exitCode, 0) << coded.err;
    EXPECT_NE(coded.err.find("coded for this card"), std::string::npos) << coded.err;
    // The '+' of the backup's view survives the new coding.
    EXPECT_NE(zrn("--sim other.json show").out.find("+4930123456"), std::string::npos);
}

// ---- '+' ------------------------------------------------------------------

sim::CardImage standardWithPlus() {
    sim::CardImage image = sim::buildStandardCard();
    sim::putAdnRecord(image, 1, sim::asciiBytes("Anna"), "4930123456", 0x91);
    sim::putAdnRecord(image, 2, sim::asciiBytes("Home"), "030123456", 0x81);
    return image;
}

sim::CardImage extendedWithPlus() {
    sim::ExtendedGeometry g;
    sim::CardImage image = sim::buildExtendedCard(g);
    sim::putNameSlot(image, g, 1, sim::asciiBytes("Anna"));
    sim::putNumberSlot(image, g, 0, 1, sim::NumberType::kAdn, "030123456", 0x81);
    sim::putNumberSlot(image, g, g.adnCount, 1, sim::NumberType::kMbl, "4930123456", 0x91);
    return image;
}

TEST_F(Restore, InternationalNumbersShowTheirPlusInEveryView) {
    for (const auto& [layout, image] :
         {std::pair{"standard", standardWithPlus()}, std::pair{"extended", extendedWithPlus()}}) {
        SCOPED_TRACE(layout);
        sim::saveImage(image, path("card.json"));
        for (const char* format : {"json", "vcard", "csv", "text"}) {
            SCOPED_TRACE(format);
            const Result run =
                zrn(std::string("--sim card.json phonebook export --format ") + format);
            ASSERT_EQ(run.exitCode, 0) << run.err;
            EXPECT_NE(run.out.find("+4930123456"), std::string::npos) << run.out;
            EXPECT_EQ(run.out.find("+030123456"), std::string::npos) << run.out;
            EXPECT_NE(run.out.find("030123456"), std::string::npos) << run.out;
        }
        EXPECT_NE(zrn("--sim card.json show").out.find("+4930123456"), std::string::npos);
        // The library's stream itself has no '+'.
        const Result raw = zrn("--sim card.json phonebook export --format raw");
        EXPECT_EQ(raw.out.find('+'), std::string::npos);
        EXPECT_NE(raw.out.find("4930123456"), std::string::npos);
    }
}

TEST_F(Restore, ImportingAPlusNumberStoresTonNpi91AndItsDigits) {
    spit(
        path("plus.json"),
        R"({"contacts": [{"name": "Anna", "numbers": [{"type": "general", "number": "+4930123456"}]}]})");
    const Bytes bcd{0x94, 0x03, 0x21, 0x43, 0x65};

    sim::saveImage(sim::buildStandardCard(), path("standard.json"));
    const Result standard = zrn("--sim standard.json phonebook import plus.json --no-backup");
    ASSERT_EQ(standard.exitCode, 0) << standard.err;
    const sim::CardImage s = sim::loadImage(path("standard.json"));
    const Bytes record = s.record({sim::files::kTelecom, sim::files::kAdn}, 0);
    ASSERT_EQ(record.size(), 28u);
    EXPECT_EQ(record[14], 0x06);  // length: TON/NPI and five BCD bytes
    EXPECT_EQ(record[15], 0x91);
    EXPECT_EQ(Bytes(record.begin() + 16, record.begin() + 21), bcd);

    sim::ExtendedGeometry g;
    sim::saveImage(sim::buildExtendedCard(g), path("extended.json"));
    const Result extended = zrn("--sim extended.json phonebook import plus.json --no-backup");
    ASSERT_EQ(extended.exitCode, 0) << extended.err;
    const sim::CardImage e = sim::loadImage(path("extended.json"));
    const sim::SimFile* numbers = e.find({g.directory, sim::files::kNumber});
    ASSERT_NE(numbers, nullptr);
    EXPECT_EQ(Bytes(numbers->data.begin(), numbers->data.begin() + 4),
              (Bytes{0x00, 0x01, 0x86, 0x91}));  // contact 1, ADN with 5 BCD bytes, international
    EXPECT_EQ(Bytes(numbers->data.begin() + 4, numbers->data.begin() + 9), bcd);

    // --plus-as 00 keeps the national form.
    const Result as00 =
        zrn("--sim standard.json phonebook import plus.json --plus-as 00 --no-backup");
    ASSERT_EQ(as00.exitCode, 0) << as00.err;
    const Bytes national =
        sim::loadImage(path("standard.json")).record({sim::files::kTelecom, sim::files::kAdn}, 0);
    EXPECT_EQ(national[15], 0x81);
    EXPECT_EQ(national[16], 0x00);  // "00" first
}

}  // namespace
}  // namespace zrn::test
