#include <gtest/gtest.h>

#include <array>
#include <functional>

#include "channel/card_channel.h"
#include "sim/scripted_card.h"
#include "support/scripts.h"

namespace zrn {
namespace {

using channel::CardChannel;
using test::Script;

std::string repeatHex(const std::string& byte, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += (i ? " " : "") + byte;
    }
    return text;
}

// Each case runs one channel operation against a script of exactly the
// commands it must send and checks the boolean it reports.
struct CommandCase {
    const char* name;
    Script script;
    std::function<bool(CardChannel&)> operation;
    bool expected;
};

class CommandBytes : public ::testing::TestWithParam<CommandCase> {};

TEST_P(CommandBytes, SendsExactlyTheScriptedCommand) {
    const CommandCase& c = GetParam();
    sim::ScriptedCard card(c.script);
    sim::ScopedCard inserted(card);
    CardChannel channel;
    channel.SetCardHandle(sim::kSimulatedHandle);
    EXPECT_EQ(c.operation(channel), c.expected);
    EXPECT_EQ(card.verify(), "");
}

std::uint8_t gOut = 0;
std::array<std::uint8_t, 64> gData{};

INSTANTIATE_TEST_SUITE_P(
    Channel, CommandBytes,
    ::testing::Values(
        CommandCase{"SelectAnsweredWithResponseLength",
                    {{"A0 A4 00 00 02 6F 3A", "9F 0F"}},
                    [](CardChannel& ch) { return ch.SelectFile(0x6F3A, gOut) && gOut == 0x0F; },
                    true},
        CommandCase{"SelectAnswered9000IsRefused",
                    {{"A0 A4 00 00 02 6F 3A", "90 00"}},
                    [](CardChannel& ch) {
                        gOut = 0x55;
                        return ch.SelectFile(0x6F3A, gOut) || gOut != 0x55;
                    },
                    false},
        CommandCase{"ReadBinaryOffsetAndLength",
                    {{"A0 B0 01 23 14", repeatHex("AB", 20) + " 90 00"}},
                    [](CardChannel& ch) {
                        gData.fill(0);
                        return ch.ReadBinary(gData.data(), 20, 0x0123) && gData[19] == 0xAB &&
                               gData[20] == 0;
                    },
                    true},
        CommandCase{"ReadRecordFirstIndexIsRecordOne",
                    {{"A0 B2 01 04 02", "11 22 90 00"}},
                    [](CardChannel& ch) { return ch.ReadRecord(0, gData.data(), 2); },
                    true},
        CommandCase{"ReadRecordIndex254IsRecord255",
                    {{"A0 B2 FF 04 02", "11 22 90 00"}},
                    [](CardChannel& ch) { return ch.ReadRecord(254, gData.data(), 2); },
                    true},
        CommandCase{"UpdateRecordCarriesItsData",
                    {{"A0 DC 03 04 1C " + repeatHex("5A", 28), "90 00"}},
                    [](CardChannel& ch) {
                        std::array<std::uint8_t, 28> data{};
                        data.fill(0x5A);
                        return ch.UpdateRecord(2, data.data(), 28);
                    },
                    true},
        CommandCase{"UpdateBinaryCarriesItsData",
                    {{"A0 D6 01 00 03 01 02 03", "90 00"}},
                    [](CardChannel& ch) {
                        const std::uint8_t data[] = {1, 2, 3};
                        return ch.UpdateBinary(data, 3, 0x0100);
                    },
                    true},
        CommandCase{"UpdateRefusedByTheCard",
                    {{"A0 D6 00 00 01 07", "98 04"}},
                    [](CardChannel& ch) {
                        const std::uint8_t data[] = {7};
                        return ch.UpdateBinary(data, 1, 0);
                    },
                    false},
        CommandCase{"GetResponseErrorLeavesDestination",
                    {{"A0 C0 00 00 0F", "6F 00"}},
                    [](CardChannel& ch) {
                        gData.fill(0x33);
                        return ch.GetResponse(gData.data(), 15) || gData[0] != 0x33;
                    },
                    false},
        CommandCase{"OkNeedsBoth9000",
                    {{"A0 B0 00 00 01", "41 90 01"}},
                    [](CardChannel& ch) { return ch.ReadBinary(gData.data(), 1, 0); },
                    false},
        CommandCase{"AnswerShorterThanStatusWordsFails",
                    {{"A0 B0 00 00 01", "90"}},
                    [](CardChannel& ch) { return ch.ReadBinary(gData.data(), 1, 0); },
                    false},
        CommandCase{"MoreDataThanAskedIsCutToTheLength",
                    {{"A0 B2 01 04 02", "11 22 33 44 90 00"}},
                    [](CardChannel& ch) {
                        gData.fill(0);
                        std::uint8_t got = 0;
                        return ch.ReadRecord(0, gData.data(), 2, &got) && got == 2 &&
                               gData[1] == 0x22 && gData[2] == 0;
                    },
                    true},
        CommandCase{"LessDataThanAskedIsReported",
                    {{"A0 B0 00 00 04", "11 22 90 00"}},
                    [](CardChannel& ch) {
                        std::uint8_t got = 0;
                        return ch.ReadBinary(gData.data(), 4, 0, &got) && got == 2;
                    },
                    true},
        CommandCase{"TransportErrorFails",
                    {{"A0 A4 00 00 02 3F 00", "", static_cast<long>(0x80100016L)}},
                    [](CardChannel& ch) { return ch.SelectFile(0x3F00, gOut); },
                    false}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(CardChannel, WithoutHandleSendsNothing) {
    sim::ScriptedCard card({});
    sim::ScopedCard inserted(card);
    CardChannel channel;
    EXPECT_FALSE(channel.HasCard());
    std::uint8_t out = 0x42;
    EXPECT_FALSE(channel.SelectFile(0x3F00, out));
    EXPECT_EQ(out, 0x42);
    std::uint8_t buffer[4] = {};
    EXPECT_FALSE(channel.ReadBinary(buffer, 4, 0));
    EXPECT_FALSE(channel.UpdateRecord(0, buffer, 4));
    EXPECT_EQ(card.played(), 0u);
    EXPECT_EQ(card.verify(), "");
}

TEST(CardChannel, HandleIsKeptUntilReplaced) {
    CardChannel channel;
    channel.SetCardHandle(7);
    EXPECT_TRUE(channel.HasCard());
    channel.SetCardHandle(9);
    EXPECT_EQ(channel.handle(), 9);
}

}  // namespace
}  // namespace zrn
