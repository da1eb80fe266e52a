// What zrn shows of a card: control characters in names, numbers that end
// early or are damaged, a full EF_ADN, the extended layout's reach.
#include <gtest/gtest.h>

#include <string>

#include <nlohmann/json.hpp>

#include "sim/card_builder.h"
#include "sim/card_image.h"
#include "zrn_folder.h"

namespace {

namespace sim = zrn::sim;
using zrn::test::slurp;

constexpr std::uint8_t kAdnRecordLength = 40;  // 26 alpha bytes

// An EF_ADN record with `alpha`, then the length byte, TON/NPI and the BCD
// bytes as given: what a phone or a damaged card may have left.
zrn::Bytes adnRecord(const zrn::Bytes& alpha, std::uint8_t length, const zrn::Bytes& bcd) {
    zrn::Bytes record(kAdnRecordLength, 0xFF);
    std::copy(alpha.begin(), alpha.end(), record.begin());
    const std::size_t trailer = kAdnRecordLength - 14;
    record[trailer] = length;
    record[trailer + 1] = 0x81;
    std::copy(bcd.begin(), bcd.end(), record.begin() + static_cast<long>(trailer) + 2);
    return record;
}

zrn::Bytes ucs2Name(std::u16string_view text) {
    zrn::Bytes name{0x80};
    const zrn::Bytes units = sim::ucs2Bytes(text);
    name.insert(name.end(), units.begin(), units.end());
    return name;
}

class CardView : public zrn::test::ZrnFolder {
  protected:
    void SetUp() override {
        ZrnFolder::SetUp();
        sim::StandardCardOptions options;
        options.adnRecordLength = kAdnRecordLength;
        card_ = sim::buildStandardCard(options);
    }
    void putRecord(std::size_t index, const zrn::Bytes& record) {
        card_.setRecord({0x7F10, 0x6F3A}, index, record);
    }
    void save() { sim::saveImage(card_, path("card.json")); }

    sim::CardImage card_;
};

TEST_F(CardView, ControlCharactersInNamesAreShownEscaped) {
    // GSM 7-bit 0x0D is CR; the UCS-2 name holds ESC, BEL, DEL, a C1 CSI and
    // a right-to-left override.
    putRecord(0, adnRecord({'A', 'n', 'n', 0x0D, 'X'}, 3, {0x10, 0x32}));
    putRecord(1, adnRecord(ucs2Name(u"\x1b[2JEvil\a\x7f\x9b\x202e"), 3, {0x10, 0x32}));
    save();

    for (const char* command : {"show", "phonebook export --format text"}) {
        SCOPED_TRACE(command);
        const zrn::test::ZrnRun run = zrn(std::string("--sim card.json ") + command);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_NE(run.out.find("Ann\\rX"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("\\x1b[2JEvil\\x07\\x7f\\u009b\\u202e"), std::string::npos)
            << run.out;
        for (const char raw : {'\x1b', '\r', '\a', '\x7f'}) {
            EXPECT_EQ(run.out.find(raw), std::string::npos) << int{raw};
        }
        EXPECT_EQ(run.out.find("\xC2\x9B"), std::string::npos);
    }

    // The data files keep the characters: JSON escapes them, CSV holds them.
    const zrn::test::ZrnRun json = zrn("--sim card.json phonebook export --format json");
    ASSERT_EQ(json.exitCode, 0) << json.err;
    const nlohmann::json book = nlohmann::json::parse(json.out);
    EXPECT_EQ(book["contacts"][0]["name"], "Ann\rX");
    EXPECT_EQ(book["contacts"][1]["name"], "\x1b[2JEvil\a\x7f\xC2\x9B\xE2\x80\xAE");
    ASSERT_EQ(zrn("--sim card.json phonebook export --format csv -o book.csv").exitCode, 0);
    EXPECT_NE(slurp(path("book.csv")).find("\x1b[2JEvil"), std::string::npos);

    // An error that quotes the name escapes it too.
    zrn::test::spit(path("bad.csv"), "name,mobile\n\x1b]0;title\a,12x\n");
    const zrn::test::ZrnRun refused = zrn("--sim card.json phonebook import bad.csv --no-backup");
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.err.find('\x1b'), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("\\x1b]0;title\\x07"), std::string::npos) << refused.err;
}

TEST_F(CardView, AFillerDigitEndsTheNumber) {
    // 0123 then the filler F with more bytes of F within the stored length.
    putRecord(0, adnRecord({'P', 'a', 'd'}, 6, {0x10, 0x32, 0xFF, 0xFF, 0xFF}));
    // 0123, the filler, then a 5: a damaged record.
    putRecord(1, adnRecord({'B', 'a', 'd'}, 4, {0x10, 0x32, 0x5F}));
    // An odd number of digits: the filler in the last byte's high nibble.
    putRecord(2, adnRecord({'O', 'd', 'd'}, 3, {0x10, 0xF2}));
    save();

    const zrn::test::ZrnRun run = zrn("--sim card.json phonebook export --format csv");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.find('f'), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("01235"), std::string::npos) << "a digit after the end is not shown";
    EXPECT_NE(run.out.find("Pad,0123"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Bad,0123"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Odd,012"), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("contact 2 (\"Bad\")"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("(5)"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("\"Pad\""), std::string::npos) << "padding is not damage";

    // The backup keeps the record's digits as the card holds them.
    ASSERT_EQ(zrn("--sim card.json backup -o backup.json").exitCode, 0);
    const nlohmann::json backup = nlohmann::json::parse(slurp(path("backup.json")));
    EXPECT_NE(backup["phonebook"]["stream"].get<std::string>().find("303132333F35"),
              std::string::npos);
}

TEST_F(CardView, AFullPhoneBookCountsEveryRecord) {
    for (std::size_t i = 0; i < 100; ++i) {
        putRecord(i, adnRecord({'N', static_cast<std::uint8_t>('0' + i % 10)}, 2, {0x21}));
    }
    save();
    const zrn::test::ZrnRun run = zrn("--sim card.json info");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("100 used, 0 free of 100"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("see only the EF_ADN"), std::string::npos);

    putRecord(99, zrn::Bytes(kAdnRecordLength, 0xFF));
    putRecord(98, zrn::Bytes(kAdnRecordLength, 0xFF));
    save();
    const zrn::test::ZrnRun two = zrn("--sim card.json info");
    EXPECT_NE(two.out.find("98 used, 2 free of 100"), std::string::npos) << two.out;
    EXPECT_NE(two.out.find("an import fills at most 99"), std::string::npos) << two.out;
}

TEST_F(CardView, InfoSaysWhatPhonesSeeOfAnExtendedCard) {
    std::filesystem::copy_file(std::filesystem::path(ZRN_SOURCE_DIR) / "samples" / "extended.json",
                               path("extended.json"));
    const zrn::test::ZrnRun run = zrn("--sim extended.json info");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("phones and standard SIM tools see only the EF_ADN phone book"),
              std::string::npos)
        << run.out;
}

}  // namespace
