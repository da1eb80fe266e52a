#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "sim/card_builder.h"
#include "sim/card_image.h"

namespace zrn::sim {
namespace {

Bytes hex(const std::string& text) {
    Bytes bytes;
    EXPECT_TRUE(fromHex(text, bytes)) << text;
    return bytes;
}

// --- The tree ------------------------------------------------------------------

TEST(CardImageTree, PutCreatesDirectoriesAndReplacesFiles) {
    CardImage image;
    image.putTransparent({0x7F10, 0x5F3A, 0x4F01}, hex("01"));
    const SimFile* telecom = image.find({0x7F10});
    ASSERT_NE(telecom, nullptr);
    EXPECT_EQ(telecom->kind, FileKind::kDedicated);
    EXPECT_EQ(image.find({0x7F10, 0x5F3A})->kind, FileKind::kDedicated);

    image.putLinearFixed({0x7F10, 0x5F3A, 0x4F01}, 3, 2, 0x00);
    const SimFile* file = image.find({0x7F10, 0x5F3A, 0x4F01});
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->kind, FileKind::kLinearFixed);
    EXPECT_EQ(file->data, Bytes(6, 0x00));
    EXPECT_EQ(image.find({0x7F10, 0x5F3A})->children.size(), 1u);
    EXPECT_EQ(image.find({}), &image.master);
}

TEST(CardImageTree, PutThroughAnElementaryFileIsRefused) {
    CardImage image;
    image.putTransparent({0x2FE2}, {});
    EXPECT_THROW(image.putTransparent({0x2FE2, 0x0001}, {}), std::invalid_argument);
    EXPECT_THROW(image.putTransparent({}, {}), std::invalid_argument);
    EXPECT_EQ(image.find({0x2FE2, 0x0001}), nullptr);
}

TEST(CardImageTree, RecordsAndRemoval) {
    CardImage image;
    image.putLinearFixed({0x7F10, 0x6F3A}, 4, 2);
    image.setRecord({0x7F10, 0x6F3A}, 1, hex("AA BB"));
    EXPECT_EQ(image.record({0x7F10, 0x6F3A}, 1), hex("AA BB FF FF"));
    EXPECT_EQ(image.record({0x7F10, 0x6F3A}, 2), Bytes{});
    EXPECT_EQ(image.record({0x7F10, 0x6F3B}, 0), Bytes{});
    EXPECT_THROW(image.setRecord({0x7F10, 0x6F3A}, 2, hex("00")), std::invalid_argument);
    EXPECT_THROW(image.setRecord({0x7F10, 0x6F3A}, 0, hex("00 00 00 00 00")),
                 std::invalid_argument);
    EXPECT_TRUE(image.remove({0x7F10, 0x6F3A}));
    EXPECT_FALSE(image.remove({0x7F10, 0x6F3A}));
    EXPECT_EQ(image.find({0x7F10, 0x6F3A}), nullptr);
    EXPECT_NE(image.find({0x7F10}), nullptr);
}

// --- JSON ------------------------------------------------------------------------

CardImage variedImage() {
    StandardCardOptions options;
    options.adnCount = 5;
    options.smsCount = 3;
    options.extraMessageCount = 2;
    CardImage image = buildStandardCard(options);
    image.chv1 = Chv{true, "87654321", 1, 5, "11223344", 7};
    image.find({0x7F10, 0x6F3A})->readAccess = Access::kChv1;
    image.find({0x7F10, 0x6F3C})->updateAccess = Access::kNever;
    image.find({0x7F20})->readAccess = Access::kChv1;
    image.master.updateAccess = Access::kNever;
    image.putTransparent({0x5F00, 0x6F04}, Bytes(300, 0x5A));  // long: several lines
    image.putTransparent({0x7F10, 0x0001}, {});                // empty transparent file
    image.putTransparent({0x7F30}, {});
    image.remove({0x7F30});
    image.master.children.push_back(
        SimFile{0x7F30, FileKind::kDedicated, {}, 0, Access::kAlways, Access::kAlways, {}});
    image.setRecord({0x7F10, 0x6F3A}, 0, hex("41 42 43"));
    return image;
}

TEST(CardImageJson, RoundTripIsExact) {
    const CardImage image = variedImage();
    const std::string text = serializeImage(image);
    const CardImage back = parseImage(text);
    EXPECT_EQ(back, image);
    EXPECT_EQ(serializeImage(back), text);
}

TEST(CardImageJson, SavesUpperCaseHex) {
    CardImage image;
    image.atr = hex("3b 9f");
    image.putTransparent({0x2FE2}, hex("ab cd"));
    const std::string text = serializeImage(image);
    EXPECT_NE(text.find("\"3B 9F\""), std::string::npos);
    EXPECT_NE(text.find("\"ABCD\""), std::string::npos);
    EXPECT_NE(text.find("\"3F00/2FE2\""), std::string::npos);
}

TEST(CardImageJson, ReadsTheDocumentedFormat) {
    const CardImage image = parseImage(R"({
      "atr": "3b 02 14 50",
      "chv1": {"enabled": true, "pin": "1234", "attemptsLeft": 2},
      "files": [
        {"path": "3F00/7F10/6F3A", "kind": "linear-fixed", "read": "chv1", "update": "never",
         "recordLength": 4, "records": ["41 42 ff ff", "FFFFFFFF"]},
        {"path": "3f00/2fe2", "kind": "transparent", "data": ["98 68", "00"], "comment": "ICCID"},
        {"path": "3F00/7F10", "kind": "df"},
        {"path": "3F00/5F00", "kind": "df"}
      ]
    })");
    EXPECT_EQ(image.atr, hex("3B 02 14 50"));
    EXPECT_TRUE(image.chv1.enabled);
    EXPECT_EQ(image.chv1.pin, "1234");
    EXPECT_EQ(image.chv1.attemptsLeft, 2);
    EXPECT_EQ(image.chv1.maxAttempts, 3);
    const SimFile* adn = image.find({0x7F10, 0x6F3A});
    ASSERT_NE(adn, nullptr);
    EXPECT_EQ(adn->readAccess, Access::kChv1);
    EXPECT_EQ(adn->updateAccess, Access::kNever);
    EXPECT_EQ(adn->recordCount(), 2u);
    EXPECT_EQ(image.record({0x7F10, 0x6F3A}, 0), hex("41 42 FF FF"));
    EXPECT_EQ(image.find({0x2FE2})->data, hex("98 68 00"));
    ASSERT_NE(image.find({0x5F00}), nullptr);
    EXPECT_TRUE(image.find({0x5F00})->children.empty());
    // 7F10 was implied by the first path and kept its place before 2FE2.
    EXPECT_EQ(image.master.children.front().id, 0x7F10);
}

TEST(CardImageJson, EmptyObjectIsABareCard) {
    const CardImage image = parseImage("{}");
    EXPECT_TRUE(image.master.children.empty());
    EXPECT_FALSE(image.chv1.enabled);
}

struct MalformedCase {
    const char* name;
    const char* json;
    const char* message;  // part of the error text
};

class MalformedImages : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedImages, AreRejectedWithAClearMessage) {
    const MalformedCase& c = GetParam();
    try {
        parseImage(c.json);
        FAIL() << "accepted: " << c.json;
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
    }
}

#define FILE_ENTRY(body) "{\"files\": [" body "]}"

INSTANTIATE_TEST_SUITE_P(
    Cases, MalformedImages,
    ::testing::Values(
        MalformedCase{"NotJson", "{\"files\": [", "not valid JSON"},
        MalformedCase{"Empty", "", "not valid JSON"},
        MalformedCase{"TopLevelArray", "[]", "top level"},
        MalformedCase{"UnknownTopKey", "{\"filez\": []}", "unknown key \"filez\""},
        MalformedCase{"WrongFormat", "{\"format\": \"other\"}", "format"},
        MalformedCase{"FutureVersion", "{\"version\": 2}", "version"},
        MalformedCase{"AtrNotHex", "{\"atr\": \"3B 9X\"}", "atr"},
        MalformedCase{"AtrTooLong",
                      "{\"atr\": \""
                      "00000000000000000000000000000000000000000000000000000000000000000000"
                      "\"}",
                      "atr"},
        MalformedCase{"PinLetters", "{\"chv1\": {\"pin\": \"12a4\"}}", "chv1.pin"},
        MalformedCase{"PinShort", "{\"chv1\": {\"pin\": \"123\"}}", "chv1.pin"},
        MalformedCase{"PukShort", "{\"chv1\": {\"puk\": \"1234\"}}", "chv1.puk"},
        MalformedCase{"AttemptsAboveMax", "{\"chv1\": {\"maxAttempts\": 3, \"attemptsLeft\": 4}}",
                      "attemptsLeft"},
        MalformedCase{"AttemptsNegative", "{\"chv1\": {\"attemptsLeft\": -1}}", "attemptsLeft"},
        MalformedCase{"AttemptsFraction", "{\"chv1\": {\"maxAttempts\": 2.5}}", "whole number"},
        MalformedCase{"EnabledNotBool", "{\"chv1\": {\"enabled\": 1}}", "enabled"},
        MalformedCase{"FilesNotArray", "{\"files\": {}}", "\"files\" must be an array"},
        MalformedCase{"EntryNotObject", FILE_ENTRY("1"), "files[0]"},
        MalformedCase{"NoPath", FILE_ENTRY("{\"kind\": \"df\"}"), "\"path\" is missing"},
        MalformedCase{"PathNotUnderMf", FILE_ENTRY("{\"path\": \"7F10/6F3A\", \"kind\": \"df\"}"),
                      "must start at the MF"},
        MalformedCase{"IdTooShort", FILE_ENTRY("{\"path\": \"3F00/7F1\", \"kind\": \"df\"}"),
                      "not 4 hex digits"},
        MalformedCase{"IdNotHex", FILE_ENTRY("{\"path\": \"3F00/7G10\", \"kind\": \"df\"}"),
                      "not 4 hex digits"},
        MalformedCase{"EmptyStep", FILE_ENTRY("{\"path\": \"3F00//6F3A\", \"kind\": \"df\"}"),
                      "not 4 hex digits"},
        MalformedCase{"TrailingSlash", FILE_ENTRY("{\"path\": \"3F00/7F10/\", \"kind\": \"df\"}"),
                      "not 4 hex digits"},
        MalformedCase{"MfBelowMf", FILE_ENTRY("{\"path\": \"3F00/7F10/3F00\", \"kind\": \"df\"}"),
                      "cannot be selected"},
        MalformedCase{"ChildWithParentId",
                      FILE_ENTRY("{\"path\": \"3F00/7F10/7F10\", \"kind\": \"df\"}"),
                      "cannot be selected"},
        MalformedCase{"UnknownKind", FILE_ENTRY("{\"path\": \"3F00/6F3A\", \"kind\": \"bertlv\"}"),
                      "unknown kind"},
        MalformedCase{"NoKind", FILE_ENTRY("{\"path\": \"3F00/6F3A\"}"), "\"kind\""},
        MalformedCase{
            "BadAccess",
            FILE_ENTRY("{\"path\": \"3F00/6F3A\", \"kind\": \"transparent\", \"read\": \"chv3\"}"),
            "unknown access condition"},
        MalformedCase{
            "DataNotHex",
            FILE_ENTRY("{\"path\": \"3F00/6F3A\", \"kind\": \"transparent\", \"data\": \"ABC\"}"),
            "not a hex string"},
        MalformedCase{
            "DataLineNotString",
            FILE_ENTRY(
                "{\"path\": \"3F00/6F3A\", \"kind\": \"transparent\", \"data\": [\"AB\", 1]}"),
            "data[1]"},
        MalformedCase{
            "RecordsOnTransparent",
            FILE_ENTRY("{\"path\": \"3F00/6F3A\", \"kind\": \"transparent\", \"records\": []}"),
            "unknown key \"records\""},
        MalformedCase{
            "TypoKey",
            FILE_ENTRY(
                "{\"path\": \"3F00/6F3A\", \"kind\": \"linear-fixed\", \"recordLenght\": 2}"),
            "unknown key \"recordLenght\""},
        MalformedCase{"NoRecordLength",
                      FILE_ENTRY("{\"path\": \"3F00/6F3A\", \"kind\": \"linear-fixed\"}"),
                      "recordLength"},
        MalformedCase{
            "RecordLengthZero",
            FILE_ENTRY(
                "{\"path\": \"3F00/6F3A\", \"kind\": \"linear-fixed\", \"recordLength\": 0}"),
            "recordLength"},
        MalformedCase{
            "RecordLengthHuge",
            FILE_ENTRY(
                "{\"path\": \"3F00/6F3A\", \"kind\": \"linear-fixed\", \"recordLength\": 256}"),
            "recordLength"},
        MalformedCase{"RecordLengthBig",
                      FILE_ENTRY("{\"path\": \"3F00/6F3A\", \"kind\": \"linear-fixed\", "
                                 "\"recordLength\": 18446744073709551615}"),
                      "recordLength"},
        MalformedCase{"RecordTooShort",
                      FILE_ENTRY("{\"path\": \"3F00/6F3A\", \"kind\": \"linear-fixed\", "
                                 "\"recordLength\": 2, \"records\": [\"0000\", \"00\"]}"),
                      "records[1]: 1 bytes, the record length is 2"},
        MalformedCase{"RecordNotString",
                      FILE_ENTRY("{\"path\": \"3F00/6F3A\", \"kind\": \"linear-fixed\", "
                                 "\"recordLength\": 1, \"records\": [[\"00\"]]}"),
                      "records[0]"},
        MalformedCase{"ListedTwice",
                      FILE_ENTRY("{\"path\": \"3F00/6F3A\", \"kind\": \"transparent\"}, {\"path\": "
                                 "\"3F00/6F3A\", \"kind\": \"transparent\"}"),
                      "listed twice"},
        MalformedCase{"DfListedTwice",
                      FILE_ENTRY("{\"path\": \"3F00/7F10\", \"kind\": \"df\", \"read\": \"chv1\"}, "
                                 "{\"path\": \"3F00/7F10\", \"kind\": \"df\"}"),
                      "listed twice"},
        MalformedCase{"PathThroughEf",
                      FILE_ENTRY("{\"path\": \"3F00/2FE2\", \"kind\": \"transparent\"}, {\"path\": "
                                 "\"3F00/2FE2/0001\", \"kind\": \"transparent\"}"),
                      "not a directory"},
        MalformedCase{"EfOverImpliedDf",
                      FILE_ENTRY("{\"path\": \"3F00/7F10/6F3A\", \"kind\": \"transparent\"}, "
                                 "{\"path\": \"3F00/7F10\", \"kind\": \"transparent\"}"),
                      "listed twice"},
        MalformedCase{"MfAsFile", FILE_ENTRY("{\"path\": \"3F00\", \"kind\": \"transparent\"}"),
                      "the MF is a directory"},
        MalformedCase{
            "TooDeep",
            "[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]",
            "nested"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(CardImageJson, TooManyRecordsAreRejected) {
    std::string json =
        R"({"files": [{"path": "3F00/6F3A", "kind": "linear-fixed", "recordLength": 1, "records": [)";
    for (int i = 0; i < 256; ++i) {
        json += i == 0 ? "\"00\"" : ", \"00\"";
    }
    json += "]}]}";
    EXPECT_THROW(parseImage(json), std::runtime_error);
}

TEST(CardImageJson, BracketsInsideStringsDoNotCountAsNesting) {
    const std::string json =
        R"({"comment": "[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[\"{{{{{{{{{{{{{{{{{{{{{{{{"})";
    EXPECT_NO_THROW(parseImage(json));
}

// Damaged copies of a real image: each is either read or refused with a
// runtime_error, nothing else escapes.
TEST(CardImageJson, DamagedImagesAreReadOrRefused) {
    CardImage image = variedImage();
    const std::string text = serializeImage(image);
    const char replacements[] = {'"', '[', ']', '{', '}', ',', ':', '0', 'F', '-', ' ', '\\', 'x'};
    std::uint32_t seed = 7;
    int refused = 0;
    for (int i = 0; i < 1500; ++i) {
        std::string damaged = text;
        for (int n = 0; n < 3; ++n) {
            seed = seed * 1103515245u + 12345u;
            const std::size_t at = (seed >> 4) % damaged.size();
            seed = seed * 1103515245u + 12345u;
            damaged[at] = replacements[(seed >> 8) % sizeof replacements];
        }
        try {
            parseImage(damaged);
        } catch (const std::runtime_error&) {
            ++refused;
        }
    }
    EXPECT_GT(refused, 500);
}

TEST(CardImageFiles, SaveAndLoad) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("zrn_sim_image_" + std::to_string(::getpid()) + ".json");
    const CardImage image = variedImage();
    saveImage(image, path.string());
    EXPECT_EQ(loadImage(path.string()), image);
    std::filesystem::remove(path);
    try {
        loadImage(path.string());
        FAIL() << "loaded a missing file";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find(path.string()), std::string::npos);
    }
}

}  // namespace
}  // namespace zrn::sim
