// Every GSM 11.11 command of the simulated SIM, in every mode, with the status
// word the standard gives and the state change it makes, refusals included.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "sim/sim_card.h"

namespace zrn::sim {
namespace {

Bytes hex(const std::string& text) {
    Bytes bytes;
    EXPECT_TRUE(fromHex(text, bytes)) << text;
    return bytes;
}

// CHV1 1234 (PUK 12345678), CHV2 5678 (PUK 87654321).
constexpr const char* kVerify1 = "A0 20 00 01 08 31 32 33 34 FF FF FF FF";
constexpr const char* kVerify2 = "A0 20 00 02 08 35 36 37 38 FF FF FF FF";
constexpr const char* kWrong2 = "A0 20 00 02 08 35 36 37 39 FF FF FF FF";
constexpr const char* kCode1 = "31 32 33 34 FF FF FF FF";

// MF { 7F10 { 6F3A linear fixed 4 x 3 (update CHV1, (in)validation CHV2),
//             6F44 cyclic 3 x 2, 6F40 read CHV2 update ADM, 6F42 (in)validation ALW },
//      7F20 { 6F39 cyclic 3 x 3 (increase CHV1), 6F07 read CHV1,
//             6F38 cyclic 2 x 3 near its maximum (increase ALW) } }
CardImage commandCard() {
    CardImage image;
    image.chv1 = Chv{true, "1234", 3, 3, "12345678", 10};
    image.chv2 = Chv{true, "5678", 3, 3, "87654321", 10};
    image.ki = hex("01 23 45 67 89 AB CD EF FE DC BA 98 76 54 32 10");

    SimFile& adn = image.putLinearFixed({0x7F10, 0x6F3A}, 3, 4);
    adn.updateAccess = Access::kChv1;
    adn.invalidateAccess = Access::kChv2;
    adn.rehabilitateAccess = Access::kChv2;
    image.setRecord({0x7F10, 0x6F3A}, 0, hex("01 01 01"));
    image.setRecord({0x7F10, 0x6F3A}, 1, hex("02 02 02"));
    image.setRecord({0x7F10, 0x6F3A}, 2, hex("01 AA AA"));

    image.putCyclic({0x7F10, 0x6F44}, 2, 3);
    image.setRecord({0x7F10, 0x6F44}, 0, hex("11 11"));
    image.setRecord({0x7F10, 0x6F44}, 1, hex("22 22"));
    image.setRecord({0x7F10, 0x6F44}, 2, hex("33 33"));

    SimFile& chv2File = image.putTransparent({0x7F10, 0x6F40}, hex("40 41 42 43"));
    chv2File.readAccess = Access::kChv2;
    chv2File.updateAccess = Access::kAdm;
    SimFile& open = image.putTransparent({0x7F10, 0x6F42}, hex("42 42"));
    open.invalidateAccess = Access::kAlways;
    open.rehabilitateAccess = Access::kAlways;

    SimFile& acm = image.putCyclic({0x7F20, 0x6F39}, 3, 3);
    acm.readAccess = Access::kChv1;
    acm.updateAccess = Access::kChv1;
    acm.increaseAccess = Access::kChv1;
    image.setRecord({0x7F20, 0x6F39}, 0, hex("00 00 10"));
    image.setRecord({0x7F20, 0x6F39}, 1, hex("00 00 05"));
    image.setRecord({0x7F20, 0x6F39}, 2, hex("00 00 01"));
    image.putTransparent({0x7F20, 0x6F07}, hex("08 09 10 10 10 32 54 76 98")).readAccess =
        Access::kChv1;
    image.putCyclic({0x7F20, 0x6F38}, 3, 2).increaseAccess = Access::kAlways;
    image.setRecord({0x7F20, 0x6F38}, 0, hex("FF FF FE"));
    return image;
}

struct Step {
    std::string command;
    std::string answer;
};

struct CommandCase {
    const char* name;
    std::vector<Step> steps;
    std::function<void(const SimCard&)> check;
};

std::ostream& operator<<(std::ostream& out, const CommandCase& c) {
    return out << c.name;
}

Step sel(const char* id) {
    return {std::string("A0 A4 00 00 02 ") + id, ""};  // "": any 9F xx
}

Bytes recordOf(const SimCard& card, std::initializer_list<std::uint16_t> path, std::size_t n) {
    return card.image().record(path, n - 1);
}

class Commands : public ::testing::TestWithParam<CommandCase> {};

TEST_P(Commands, AnswerAndChangeStateAsGsm1111Says) {
    const CommandCase& c = GetParam();
    SimCard card(commandCard());
    for (const Step& step : c.steps) {
        Bytes response;
        ASSERT_EQ(card.transmit(hex(step.command), response), 0);
        if (step.answer.empty()) {
            ASSERT_EQ(response.size(), 2u) << step.command;
            ASSERT_EQ(response[0], 0x9F) << step.command << " -> " << toHex(response);
        } else {
            EXPECT_EQ(toHex(response), toHex(hex(step.answer))) << step.command;
        }
    }
    if (c.check) {
        c.check(card);
    }
}

const std::vector<CommandCase> kRecordCases = {
    // READ RECORD, linear fixed: next, previous, current, absolute.
    {"NextWithoutPointerReadsTheFirst",
     {sel("7F10"), sel("6F3A"), {"A0 B2 00 02 03", "01 01 01 90 00"}},
     [](const SimCard& card) { EXPECT_EQ(card.recordPointer(), 1u); }},
    {"NextAdvances",
     {sel("7F10"),
      sel("6F3A"),
      {"A0 B2 00 02 03", "01 01 01 90 00"},
      {"A0 B2 00 02 03", "02 02 02 90 00"}},
     [](const SimCard& card) { EXPECT_EQ(card.recordPointer(), 2u); }},
    {"PreviousWithoutPointerReadsTheLast",
     {sel("7F10"),
      sel("6F3A"),
      {"A0 B2 00 03 03", "FF FF FF 90 00"},
      {"A0 B2 00 03 03", "01 AA AA 90 00"}},
     [](const SimCard& card) { EXPECT_EQ(card.recordPointer(), 3u); }},
    {"NextAtTheLastLinearRecordIsRefused",
     {sel("7F10"), sel("6F3A"), {"A0 B2 00 03 03", "FF FF FF 90 00"}, {"A0 B2 00 02 03", "94 02"}},
     [](const SimCard& card) { EXPECT_EQ(card.recordPointer(), 4u); }},
    {"PreviousAtTheFirstLinearRecordIsRefused",
     {sel("7F10"), sel("6F3A"), {"A0 B2 00 02 03", "01 01 01 90 00"}, {"A0 B2 00 03 03", "94 02"}},
     [](const SimCard& card) { EXPECT_EQ(card.recordPointer(), 1u); }},
    {"CurrentReadsThePointedRecord",
     {sel("7F10"),
      sel("6F3A"),
      {"A0 B2 00 02 03", "01 01 01 90 00"},
      {"A0 B2 00 02 03", "02 02 02 90 00"},
      {"A0 B2 00 04 03", "02 02 02 90 00"}},
     [](const SimCard& card) { EXPECT_EQ(card.recordPointer(), 2u); }},
    {"CurrentWithoutPointerIsRefused",
     {sel("7F10"), sel("6F3A"), {"A0 B2 00 04 03", "94 02"}},
     [](const SimCard& card) { EXPECT_EQ(card.recordPointer(), 0u); }},
    {"AbsoluteLeavesThePointer",
     {sel("7F10"),
      sel("6F3A"),
      {"A0 B2 00 02 03", "01 01 01 90 00"},
      {"A0 B2 03 04 03", "01 AA AA 90 00"}},
     [](const SimCard& card) { EXPECT_EQ(card.recordPointer(), 1u); }},
    {"SelectingTheFileAgainClearsThePointer",
     {sel("7F10"),
      sel("6F3A"),
      {"A0 B2 00 02 03", "01 01 01 90 00"},
      sel("6F3A"),
      {"A0 B2 00 04 03", "94 02"}},
     nullptr},
    {"UnknownModeIsRefused", {sel("7F10"), sel("6F3A"), {"A0 B2 01 01 03", "6B 00"}}, nullptr},
    // READ RECORD, cyclic: next and previous wrap round.
    {"CyclicNextWrapsToRecordOne",
     {sel("7F10"),
      sel("6F44"),
      {"A0 B2 00 03 02", "33 33 90 00"},
      {"A0 B2 00 02 02", "11 11 90 00"}},
     [](const SimCard& card) { EXPECT_EQ(card.recordPointer(), 1u); }},
    {"CyclicPreviousWrapsToTheOldest",
     {sel("7F10"),
      sel("6F44"),
      {"A0 B2 00 02 02", "11 11 90 00"},
      {"A0 B2 00 03 02", "33 33 90 00"}},
     [](const SimCard& card) { EXPECT_EQ(card.recordPointer(), 3u); }},
    {"CyclicAbsolute", {sel("7F10"), sel("6F44"), {"A0 B2 02 04 02", "22 22 90 00"}}, nullptr},

    // UPDATE RECORD.
    {"UpdateNeedsChv1",
     {sel("7F10"), sel("6F3A"), {"A0 DC 01 04 03 09 09 09", "98 04"}},
     [](const SimCard& card) {
         EXPECT_EQ(recordOf(card, {0x7F10, 0x6F3A}, 1), hex("01 01 01"));
     }},
    {"UpdateAbsolute",
     {{kVerify1, "90 00"}, sel("7F10"), sel("6F3A"), {"A0 DC 04 04 03 09 09 09", "90 00"}},
     [](const SimCard& card) {
         EXPECT_EQ(recordOf(card, {0x7F10, 0x6F3A}, 4), hex("09 09 09"));
         EXPECT_EQ(card.recordPointer(), 0u);
     }},
    {"UpdateNextThenPrevious",
     {{kVerify1, "90 00"},
      sel("7F10"),
      sel("6F3A"),
      {"A0 DC 00 02 03 07 07 07", "90 00"},
      {"A0 DC 00 02 03 08 08 08", "90 00"},
      {"A0 DC 00 03 03 06 06 06", "90 00"}},
     [](const SimCard& card) {
         EXPECT_EQ(recordOf(card, {0x7F10, 0x6F3A}, 1), hex("06 06 06"));
         EXPECT_EQ(recordOf(card, {0x7F10, 0x6F3A}, 2), hex("08 08 08"));
         EXPECT_EQ(card.recordPointer(), 1u);
     }},
    {"UpdateCurrent",
     {{kVerify1, "90 00"},
      sel("7F10"),
      sel("6F3A"),
      {"A0 B2 00 03 03", "FF FF FF 90 00"},
      {"A0 DC 00 04 03 05 05 05", "90 00"}},
     [](const SimCard& card) {
         EXPECT_EQ(recordOf(card, {0x7F10, 0x6F3A}, 4), hex("05 05 05"));
     }},
    {"UpdateCurrentWithoutPointerIsRefused",
     {{kVerify1, "90 00"}, sel("7F10"), sel("6F3A"), {"A0 DC 00 04 03 05 05 05", "94 02"}},
     nullptr},
    {"UpdateNextPastTheLastLinearRecordIsRefused",
     {{kVerify1, "90 00"},
      sel("7F10"),
      sel("6F3A"),
      {"A0 B2 00 03 03", "FF FF FF 90 00"},
      {"A0 DC 00 02 03 05 05 05", "94 02"}},
     [](const SimCard& card) {
         EXPECT_EQ(recordOf(card, {0x7F10, 0x6F3A}, 4), hex("FF FF FF"));
     }},
    {"CyclicUpdateWritesTheOldestAsRecordOne",
     {sel("7F10"),
      sel("6F44"),
      {"A0 DC 00 03 02 44 44", "90 00"},
      {"A0 B2 01 04 02", "44 44 90 00"},
      {"A0 B2 00 04 02", "44 44 90 00"}},
     [](const SimCard& card) {
         EXPECT_EQ(recordOf(card, {0x7F10, 0x6F44}, 2), hex("11 11"));
         EXPECT_EQ(recordOf(card, {0x7F10, 0x6F44}, 3), hex("22 22"));
         EXPECT_EQ(card.recordPointer(), 1u);
     }},
    {"CyclicUpdateOnlyInPreviousMode",
     {sel("7F10"),
      sel("6F44"),
      {"A0 DC 01 04 02 44 44", "6B 00"},
      {"A0 DC 00 02 02 44 44", "6B 00"}},
     [](const SimCard& card) {
         EXPECT_EQ(recordOf(card, {0x7F10, 0x6F44}, 1), hex("11 11"));
     }},

    // SEEK, both types, all four modes.
    {"SeekType1FromTheBeginning",
     {sel("7F10"), sel("6F3A"), {"A0 A2 00 00 01 01", "90 00"}},
     [](const SimCard& card) { EXPECT_EQ(card.recordPointer(), 1u); }},
    {"SeekType1ForwardFromTheNext",
     {sel("7F10"), sel("6F3A"), {"A0 A2 00 00 01 01", "90 00"}, {"A0 A2 00 02 01 01", "90 00"}},
     [](const SimCard& card) { EXPECT_EQ(card.recordPointer(), 3u); }},
    {"SeekType1FromTheEnd",
     {sel("7F10"), sel("6F3A"), {"A0 A2 00 01 01 01", "90 00"}},
     [](const SimCard& card) { EXPECT_EQ(card.recordPointer(), 3u); }},
    {"SeekType1BackwardFromThePrevious",
     {sel("7F10"), sel("6F3A"), {"A0 A2 00 01 01 01", "90 00"}, {"A0 A2 00 03 01 01", "90 00"}},
     [](const SimCard& card) { EXPECT_EQ(card.recordPointer(), 1u); }},
    {"SeekType2AnswersTheRecordNumber",
     {sel("7F10"), sel("6F3A"), {"A0 A2 00 10 02 02 02", "9F 01"}, {"A0 C0 00 00 01", "02 90 00"}},
     [](const SimCard& card) { EXPECT_EQ(card.recordPointer(), 2u); }},
    {"SeekType2EveryMode",
     {sel("7F10"),
      sel("6F3A"),
      {"A0 A2 00 11 01 01", "9F 01"},
      {"A0 C0 00 00 01", "03 90 00"},
      {"A0 A2 00 13 01 01", "9F 01"},
      {"A0 C0 00 00 01", "01 90 00"},
      {"A0 A2 00 12 01 01", "9F 01"},
      {"A0 C0 00 00 01", "03 90 00"}},
     nullptr},
    {"SeekNotFoundKeepsThePointer",
     {sel("7F10"),
      sel("6F3A"),
      {"A0 A2 00 00 01 02", "90 00"},
      {"A0 A2 00 00 02 05 05", "94 04"},
      {"A0 A2 00 02 01 02", "94 04"}},
     [](const SimCard& card) { EXPECT_EQ(card.recordPointer(), 2u); }},
    {"SeekOnlyOnLinearFixedFiles",
     {sel("7F10"),
      sel("6F44"),
      {"A0 A2 00 00 01 11", "94 08"},
      sel("6F42"),
      {"A0 A2 00 00 01 42", "94 08"}},
     nullptr},
    {"SeekWithoutEf", {sel("7F10"), {"A0 A2 00 00 01 11", "94 00"}}, nullptr},
    {"SeekBadTypeOrMode",
     {sel("7F10"),
      sel("6F3A"),
      {"A0 A2 00 04 01 01", "6B 00"},
      {"A0 A2 00 20 01 01", "6B 00"},
      {"A0 A2 01 00 01 01", "6B 00"}},
     nullptr},
    {"SeekPatternLongerThanARecord",
     {sel("7F10"), sel("6F3A"), {"A0 A2 00 00 04 01 01 01 01", "67 03"}},
     nullptr},

    // INCREASE.
    {"IncreaseAddsToRecordOneAndRotates",
     {{kVerify1, "90 00"},
      sel("7F20"),
      sel("6F39"),
      {"A0 32 00 00 03 00 00 05", "9F 06"},
      {"A0 C0 00 00 06", "00 00 15 00 00 05 90 00"},
      {"A0 B2 00 04 03", "00 00 15 90 00"}},
     [](const SimCard& card) {
         EXPECT_EQ(recordOf(card, {0x7F20, 0x6F39}, 1), hex("00 00 15"));
         EXPECT_EQ(recordOf(card, {0x7F20, 0x6F39}, 2), hex("00 00 10"));
         EXPECT_EQ(recordOf(card, {0x7F20, 0x6F39}, 3), hex("00 00 05"));
     }},
    {"IncreaseNeedsItsCondition",
     {sel("7F20"), sel("6F39"), {"A0 32 00 00 03 00 00 05", "98 04"}},
     [](const SimCard& card) {
         EXPECT_EQ(recordOf(card, {0x7F20, 0x6F39}, 1), hex("00 00 10"));
     }},
    {"IncreaseBeyondTheMaximumIsRefused",
     {sel("7F20"),
      sel("6F38"),
      {"A0 32 00 00 03 00 00 02", "98 50"},
      {"A0 32 00 00 03 00 00 01", "9F 06"},
      {"A0 C0 00 00 06", "FF FF FF 00 00 01 90 00"}},
     [](const SimCard& card) {
         EXPECT_EQ(recordOf(card, {0x7F20, 0x6F38}, 1), hex("FF FF FF"));
         EXPECT_EQ(recordOf(card, {0x7F20, 0x6F38}, 2), hex("FF FF FE"));
     }},
    {"IncreaseOnlyOnCyclicFiles",
     {sel("7F10"), sel("6F3A"), {"A0 32 00 00 03 00 00 01", "94 08"}},
     nullptr},
    {"IncreaseMalformed",
     {sel("7F20"),
      sel("6F38"),
      {"A0 32 00 00 02 00 01", "67 03"},
      {"A0 32 00 01 03 00 00 01", "6B 00"},
      {"A0 32 00 00 03 00 01", "67 00"}},
     nullptr},
};

const std::vector<CommandCase> kChvCases = {
    {"ChangeChv1",
     {{std::string("A0 24 00 01 10 ") + kCode1 + " 39 38 37 36 FF FF FF FF", "90 00"},
      {"A0 20 00 01 08 39 38 37 36 FF FF FF FF", "90 00"}},
     [](const SimCard& card) {
         EXPECT_EQ(card.image().chv1.pin, "9876");
         EXPECT_TRUE(card.chv1Verified());
     }},
    {"ChangeChv1WithAWrongCode",
     {{"A0 24 00 01 10 31 31 31 31 FF FF FF FF 39 38 37 36 FF FF FF FF", "98 04"}},
     [](const SimCard& card) {
         EXPECT_EQ(card.image().chv1.pin, "1234");
         EXPECT_EQ(card.image().chv1.attemptsLeft, 2);
     }},
    {"ChangeChv1ToAMalformedCode",
     {{std::string("A0 24 00 01 10 ") + kCode1 + " 39 38 FF FF FF FF FF FF", "6B 00"}},
     [](const SimCard& card) { EXPECT_EQ(card.image().chv1.attemptsLeft, 3); }},
    {"ChangeChv2",
     {{"A0 24 00 02 10 35 36 37 38 FF FF FF FF 31 31 31 31 31 31 FF FF", "90 00"}},
     [](const SimCard& card) {
         EXPECT_EQ(card.image().chv2->pin, "111111");
         EXPECT_TRUE(card.chv2Verified());
     }},
    {"ChangeMalformed",
     {{std::string("A0 24 00 01 08 ") + kCode1, "67 10"},
      {std::string("A0 24 00 03 10 ") + kCode1 + " " + kCode1, "6B 00"}},
     nullptr},
    {"DisableChv1OpensChv1Files",
     {sel("7F20"),
      sel("6F07"),
      {"A0 B0 00 00 01", "98 04"},
      {std::string("A0 26 00 01 08 ") + kCode1, "90 00"},
      {"A0 B0 00 00 01", "08 90 00"}},
     [](const SimCard& card) { EXPECT_FALSE(card.image().chv1.enabled); }},
    {"DisabledChv1RefusesVerifyChangeAndDisable",
     {{std::string("A0 26 00 01 08 ") + kCode1, "90 00"},
      {kVerify1, "98 08"},
      {std::string("A0 24 00 01 10 ") + kCode1 + " " + kCode1, "98 08"},
      {std::string("A0 26 00 01 08 ") + kCode1, "98 08"}},
     nullptr},
    {"DisableWithAWrongCode",
     {{"A0 26 00 01 08 39 39 39 39 FF FF FF FF", "98 04"}},
     [](const SimCard& card) {
         EXPECT_TRUE(card.image().chv1.enabled);
         EXPECT_EQ(card.image().chv1.attemptsLeft, 2);
     }},
    {"DisableAndEnableAreForChv1Only",
     {{"A0 26 00 02 08 35 36 37 38 FF FF FF FF", "6B 00"},
      {"A0 28 00 02 08 35 36 37 38 FF FF FF FF", "6B 00"}},
     nullptr},
    {"EnableChv1",
     {{std::string("A0 26 00 01 08 ") + kCode1, "90 00"},
      {std::string("A0 28 00 01 08 ") + kCode1, "90 00"}},
     [](const SimCard& card) {
         EXPECT_TRUE(card.image().chv1.enabled);
         EXPECT_TRUE(card.chv1Verified());
     }},
    {"EnableWhenEnabledContradicts", {{std::string("A0 28 00 01 08 ") + kCode1, "98 08"}}, nullptr},
    {"EnableWithAWrongCodeWhileDisabled",
     {{std::string("A0 26 00 01 08 ") + kCode1, "90 00"},
      {"A0 28 00 01 08 39 39 39 39 FF FF FF FF", "98 04"}},
     [](const SimCard& card) {
         EXPECT_FALSE(card.image().chv1.enabled);
         EXPECT_EQ(card.image().chv1.attemptsLeft, 2);
     }},
    {"Chv2OpensChv2Files",
     {sel("7F10"),
      sel("6F40"),
      {"A0 B0 00 00 02", "98 04"},
      {kVerify1, "90 00"},
      {"A0 B0 00 00 02", "98 04"},
      {kVerify2, "90 00"},
      {"A0 B0 00 00 02", "40 41 90 00"},
      {"A0 D6 00 00 01 00", "98 04"}},
     [](const SimCard& card) { EXPECT_TRUE(card.chv2Verified()); }},
    {"Chv2BlocksAfterThreeWrongCodes",
     {{kWrong2, "98 04"},
      {kWrong2, "98 04"},
      {kWrong2, "98 40"},
      {kVerify2, "98 40"},
      {"A0 24 00 02 10 35 36 37 38 FF FF FF FF 31 31 31 31 FF FF FF FF", "98 40"}},
     [](const SimCard& card) {
         EXPECT_EQ(card.image().chv2->attemptsLeft, 0);
         EXPECT_FALSE(card.chv2Verified());
     }},
    {"UnblockChv2",
     {{kWrong2, "98 04"},
      {kWrong2, "98 04"},
      {kWrong2, "98 40"},
      {"A0 2C 00 02 10 38 37 36 35 34 33 32 31 32 32 32 32 FF FF FF FF", "90 00"},
      {"A0 20 00 02 08 32 32 32 32 FF FF FF FF", "90 00"}},
     [](const SimCard& card) {
         EXPECT_EQ(card.image().chv2->pin, "2222");
         EXPECT_EQ(card.image().chv2->attemptsLeft, 3);
         EXPECT_EQ(card.image().chv1.pin, "1234");
     }},
    {"UnblockChv2WithAWrongPuk",
     {{"A0 2C 00 02 10 31 31 31 31 31 31 31 31 32 32 32 32 FF FF FF FF", "98 04"}},
     [](const SimCard& card) {
         EXPECT_EQ(card.image().chv2->pukAttemptsLeft, 9);
         EXPECT_EQ(card.image().chv2->pin, "5678");
     }},
    {"UnblockChv1EnablesIt",
     {{std::string("A0 26 00 01 08 ") + kCode1, "90 00"},
      {"A0 2C 00 00 10 31 32 33 34 35 36 37 38 34 33 32 31 FF FF FF FF", "90 00"}},
     [](const SimCard& card) {
         EXPECT_TRUE(card.image().chv1.enabled);
         EXPECT_EQ(card.image().chv1.pin, "4321");
     }},
    {"UnblockMalformed",
     {{"A0 2C 00 00 10 31 32 33 34 35 36 37 38 34 33 FF FF FF FF FF FF", "6B 00"},
      {"A0 2C 00 01 10 31 32 33 34 35 36 37 38 34 33 32 31 FF FF FF FF", "6B 00"},
      {"A0 2C 00 00 08 31 32 33 34 35 36 37 38", "67 10"}},
     [](const SimCard& card) { EXPECT_EQ(card.image().chv1.pukAttemptsLeft, 10); }},
};

const std::vector<CommandCase> kOtherCases = {
    // INVALIDATE and REHABILITATE.
    {"InvalidateNeedsItsCondition",
     {sel("7F10"), sel("6F3A"), {"A0 04 00 00 00", "98 04"}},
     [](const SimCard& card) {
         EXPECT_FALSE(card.image().find({0x7F10, 0x6F3A})->invalidated);
     }},
    {"InvalidatedRecordFileRefusesReadUpdateAndSeek",
     {{kVerify1, "90 00"},
      {kVerify2, "90 00"},
      sel("7F10"),
      sel("6F3A"),
      {"A0 04 00 00 00", "90 00"},
      {"A0 B2 01 04 03", "98 10"},
      {"A0 DC 01 04 03 00 00 00", "98 10"},
      {"A0 A2 00 00 01 01", "98 10"},
      {"A0 A4 00 00 02 6F 3A", "9F 0F"},
      {"A0 C0 00 00 0F", "00 00 00 0C 6F 3A 04 00 01 F0 22 00 02 01 03 90 00"}},
     [](const SimCard& card) {
         EXPECT_TRUE(card.image().find({0x7F10, 0x6F3A})->invalidated);
         EXPECT_EQ(recordOf(card, {0x7F10, 0x6F3A}, 1), hex("01 01 01"));
     }},
    {"RehabilitateReopens",
     {{kVerify2, "90 00"},
      sel("7F10"),
      sel("6F3A"),
      {"A0 04 00 00 00", "90 00"},
      {"A0 44 00 00 00", "90 00"},
      {"A0 B2 01 04 03", "01 01 01 90 00"}},
     [](const SimCard& card) {
         EXPECT_FALSE(card.image().find({0x7F10, 0x6F3A})->invalidated);
     }},
    {"InvalidatedTransparentFile",
     {sel("7F10"),
      sel("6F42"),
      {"A0 04 00 00 00", "90 00"},
      {"A0 B0 00 00 01", "98 10"},
      {"A0 D6 00 00 01 00", "98 10"},
      {"A0 44 00 00 00", "90 00"},
      {"A0 B0 00 00 01", "42 90 00"}},
     nullptr},
    {"InvalidateAdministrativeFile",
     {{kVerify1, "90 00"},
      {kVerify2, "90 00"},
      sel("7F20"),
      sel("6F07"),
      {"A0 04 00 00 00", "98 04"},
      {"A0 44 00 00 00", "98 04"}},
     nullptr},
    {"InvalidateMalformed",
     {sel("7F10"),
      {"A0 04 00 00 00", "94 00"},
      sel("6F42"),
      {"A0 04 00 01 00", "6B 00"},
      {"A0 44 00 00 01 00", "67 00"}},
     [](const SimCard& card) {
         EXPECT_FALSE(card.image().find({0x7F10, 0x6F42})->invalidated);
     }},

    // RUN GSM ALGORITHM: the documented test mixing of Ki and RAND.
    {"RunGsmAlgorithm",
     {{kVerify1, "90 00"},
      sel("7F20"),
      {"A0 88 00 00 10 3C 91 5E 07 A8 D2 64 1B F0 39 C7 82 5D 16 EB 4A", "9F 0C"},
      {"A0 C0 00 00 0C", "1E C5 73 33 4B 97 98 7A 4C BB 82 4E 90 00"}},
     nullptr},
    {"RunGsmAlgorithmOutsideDfGsm",
     {{kVerify1, "90 00"},
      sel("7F10"),
      {"A0 88 00 00 10 3C 91 5E 07 A8 D2 64 1B F0 39 C7 82 5D 16 EB 4A", "94 04"}},
     nullptr},
    {"RunGsmAlgorithmNeedsChv1",
     {sel("7F20"), {"A0 88 00 00 10 3C 91 5E 07 A8 D2 64 1B F0 39 C7 82 5D 16 EB 4A", "98 04"}},
     nullptr},
    {"RunGsmAlgorithmMalformed",
     {{kVerify1, "90 00"},
      sel("7F20"),
      {"A0 88 00 00 08 3C 91 5E 07 A8 D2 64 1B", "67 10"},
      {"A0 88 01 00 10 3C 91 5E 07 A8 D2 64 1B F0 39 C7 82 5D 16 EB 4A", "6B 00"}},
     nullptr},

    // SLEEP, STATUS, GET RESPONSE.
    {"SleepChangesNothing",
     {sel("7F10"),
      sel("6F3A"),
      {"A0 B2 00 02 03", "01 01 01 90 00"},
      {"A0 FA 00 00 00", "90 00"},
      {"A0 B2 00 04 03", "01 01 01 90 00"},
      {"A0 FA 00 01 00", "6B 00"}},
     [](const SimCard& card) {
         EXPECT_EQ(card.currentElementaryFile(), 0x6F3A);
         EXPECT_EQ(card.recordPointer(), 1u);
     }},
    {"StatusShowsChv2",
     {sel("7F20"),
      sel("6F07"),
      {"A0 F2 00 00 16",
       "00 00 20 00 7F 20 02 00 00 00 00 00 09 13 00 03 04 00 83 8A 83 8A 90 00"}},
     nullptr},
    {"CyclicFileResponse",
     {sel("7F20"),
      sel("6F39"),
      {"A0 C0 00 00 0F", "00 00 00 09 6F 39 04 40 11 10 44 01 02 03 03 90 00"}},
     nullptr},
    {"GetResponseAfterARefusalHasNothing",
     {sel("7F20"), sel("6F39"), {"A0 32 00 00 03 00 00 01", "98 04"}, {"A0 C0 00 00 06", "6F 00"}},
     nullptr},
};

INSTANTIATE_TEST_SUITE_P(Records, Commands, ::testing::ValuesIn(kRecordCases),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });
INSTANTIATE_TEST_SUITE_P(Chv, Commands, ::testing::ValuesIn(kChvCases),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });
INSTANTIATE_TEST_SUITE_P(Others, Commands, ::testing::ValuesIn(kOtherCases),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

// --- Access conditions on reading and updating -----------------------------------

struct AccessCase {
    Access condition;
    bool chv1Verified;
    bool chv2Verified;
    bool allowed;
};

class AccessConditions : public ::testing::TestWithParam<AccessCase> {};

TEST_P(AccessConditions, DecideReadAndUpdate) {
    const AccessCase& c = GetParam();
    CardImage image = commandCard();
    SimFile& file = image.putTransparent({0x7F10, 0x6F10}, hex("AB"));
    file.readAccess = c.condition;
    file.updateAccess = c.condition;
    SimCard card(image);
    Bytes response;
    auto send = [&card, &response](const std::string& command) {
        card.transmit(hex(command), response);
        return toHex(response);
    };
    if (c.chv1Verified) {
        ASSERT_EQ(send(kVerify1), "90 00");
    }
    if (c.chv2Verified) {
        ASSERT_EQ(send(kVerify2), "90 00");
    }
    send("A0 A4 00 00 02 7F 10");
    ASSERT_EQ(send("A0 A4 00 00 02 6F 10"), "9F 0F");
    EXPECT_EQ(send("A0 B0 00 00 01"), c.allowed ? "AB 90 00" : "98 04");
    EXPECT_EQ(send("A0 D6 00 00 01 CD"), c.allowed ? "90 00" : "98 04");
    EXPECT_EQ(card.image().find({0x7F10, 0x6F10})->data, hex(c.allowed ? "CD" : "AB"));
}

INSTANTIATE_TEST_SUITE_P(Table, AccessConditions,
                         ::testing::Values(AccessCase{Access::kAlways, false, false, true},
                                           AccessCase{Access::kChv1, false, false, false},
                                           AccessCase{Access::kChv1, true, false, true},
                                           AccessCase{Access::kChv1, false, true, false},
                                           AccessCase{Access::kChv2, false, false, false},
                                           AccessCase{Access::kChv2, true, false, false},
                                           AccessCase{Access::kChv2, false, true, true},
                                           AccessCase{Access::kAdm, true, true, false},
                                           AccessCase{Access::kNever, true, true, false}),
                         [](const auto& testInfo) {
                             const AccessCase& c = testInfo.param;
                             return accessName(c.condition) + (c.chv1Verified ? "_Chv1" : "") +
                                    (c.chv2Verified ? "_Chv2" : "");
                         });

TEST(AccessConditions, Chv2FilesOfACardWithoutChv2AnswerNoChvInitialised) {
    CardImage image;
    image.putTransparent({0x6F10}, hex("AB")).readAccess = Access::kChv2;
    SimCard card(image);
    Bytes response;
    card.transmit(hex("A0 A4 00 00 02 6F 10"), response);
    card.transmit(hex("A0 B0 00 00 01"), response);
    EXPECT_EQ(toHex(response), "98 02");
}

TEST(AccessConditions, ResetClosesBothChvs) {
    SimCard card(commandCard());
    Bytes response;
    card.transmit(hex(kVerify1), response);
    card.transmit(hex(kVerify2), response);
    ASSERT_TRUE(card.chv1Verified() && card.chv2Verified());
    card.reset();
    EXPECT_FALSE(card.chv1Verified());
    EXPECT_FALSE(card.chv2Verified());
}

}  // namespace
}  // namespace zrn::sim
