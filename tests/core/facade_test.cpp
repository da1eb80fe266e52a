// The facade's card facts for the tool: CHV1's state and VERIFY's verdicts,
// the card's room when its layout cannot be told, and the ICCID digits.
#include <gtest/gtest.h>

#include "core/card.h"
#include "sim/samples.h"
#include "sim/scripted_card.h"
#include "sim/sim_card.h"
#include "support/scripts.h"

namespace zrn {
namespace {

using test::Script;

struct VerifyCase {
    const char* name;
    std::string answer;
    core::Verification verdict;
};

class Verify : public ::testing::TestWithParam<VerifyCase> {};

TEST_P(Verify, EachAnswerHasItsVerdict) {
    const VerifyCase& c = GetParam();
    sim::ScriptedCard card(Script{{"A0 20 00 01 08 30 30 30 30 FF FF FF FF", c.answer}});
    sim::ScopedCard inserted(card);
    core::attachCard(sim::kSimulatedHandle);
    EXPECT_EQ(core::verifyChv1("0000").verdict, c.verdict);
    EXPECT_EQ(card.verify(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Chv1, Verify,
    ::testing::Values(VerifyCase{"Accepted", "90 00", core::Verification::kAccepted},
                      VerifyCase{"Wrong", "98 04", core::Verification::kWrong},
                      VerifyCase{"Blocked", "98 40", core::Verification::kBlocked},
                      VerifyCase{"Contradiction", "98 08", core::Verification::kRefused},
                      VerifyCase{"Technical", "6F 00", core::Verification::kRefused}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(ChvStatus, ReadFromTheMasterFilesResponse) {
    // Byte 13 bit 8 clear: CHV1 enabled; byte 18: 2 attempts left.
    sim::ScriptedCard card(Script{test::selectOk(0x3F00, 0x16),
                                  {"A0 C0 00 00 16",
                                   "00 00 00 00 3F 00 01 00 00 00 00 00 0A 13 00 00 00 00 82 "
                                   "00 00 00 90 00"}});
    sim::ScopedCard inserted(card);
    core::attachCard(sim::kSimulatedHandle);
    const core::ChvStatus status = core::chv1Status();
    EXPECT_TRUE(status.known);
    EXPECT_TRUE(status.enabled);
    EXPECT_EQ(status.attemptsLeft, 2);
    EXPECT_EQ(card.verify(), "");
}

TEST(Room, ACardFailureOnTheLayoutProbeLeavesTheLayoutUnknown) {
    sim::SimCard card(sim::extendedSample());
    sim::ScopedCard inserted(card);
    ASSERT_EQ(core::connect(sim::kSimulatedHandle), 0);
    card.clearLog();
    card.failCommand(3, 0x9240);  // the SELECT of 9000
    EXPECT_EQ(core::room().layout, core::Layout::kUnknown);
    EXPECT_EQ(core::room().layout, core::Layout::kExtended);
    std::string text = "kept";
    card.clearLog();
    card.failCommand(2, 0x6F00);  // the directory on the path to 9000
    EXPECT_EQ(core::config(text), 2);
    EXPECT_EQ(text, "kept");
}

TEST(Iccid, DigitsInTheirSwappedNibbleOrder) {
    sim::SimCard card(sim::extendedSample());
    sim::ScopedCard inserted(card);
    ASSERT_EQ(core::connect(sim::kSimulatedHandle), 0);
    const std::string digits = core::iccid();
    EXPECT_GE(digits.size(), 18u);
    EXPECT_EQ(digits.find_first_not_of("0123456789"), std::string::npos);
}

}  // namespace
}  // namespace zrn
