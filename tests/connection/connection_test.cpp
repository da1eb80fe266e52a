#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "channel/card_channel.h"
#include "connection/geometry.h"
#include "sim/scripted_card.h"
#include "startup/module_state.h"
#include "support/scripts.h"
#include "zrn.h"

namespace zrn {
namespace {

using test::connectionScript;
using test::Script;

// 250 ADN, 500 names, 1000 numbers, 8 groups of 12, 100 ADI of 64, 50 SMS, 10, 5.
constexpr const char* kConfig = "14 20 00 FA 01 F4 03 E8 08 00 0C 00 64 40 32 00 0A 00 05 00";
constexpr const char* kOption = "00 00 00 00 12 00 00 00 00 00";

// The exports keep one channel and one geometry for the process: every test
// starts from a library that has never seen a card.
class Connection : public ::testing::Test {
  protected:
    void SetUp() override {
        channel::cardChannel().SetCardHandle(0);
        phonebookGeometry() = PhonebookGeometry{};
    }
    void TearDown() override { sim::insertCard(nullptr); }

    sim::ScriptedCard& play(Script script) {
        card_ = std::make_unique<sim::ScriptedCard>(std::move(script));
        sim::insertCard(card_.get());
        return *card_;
    }

    std::string config() {
        std::array<char, ZRN_CONFIG_TEXT_SIZE + 4> text;
        text.fill('\x7E');
        EXPECT_EQ(GetConfig(text.data()), 0);
        EXPECT_EQ(text[ZRN_CONFIG_TEXT_SIZE], '\x7E');
        return text.data();
    }

    std::unique_ptr<sim::ScriptedCard> card_;
};

Script withConfigSelection(Script script, bool extended) {
    script.push_back(test::selectOk(0x3F00, 0x16));
    script.push_back(test::selectOk(0x7F10, 0x16));
    script.push_back(extended ? test::selectOk(0x9000) : test::selectMissing(0x9000));
    return script;
}

TEST_F(Connection, EveryExportWithoutACardSendsNothing) {
    sim::ScriptedCard& card = play({});
    std::int32_t count = 5, length = 6;
    std::array<unsigned char, 16> buffer{};
    char text[ZRN_CONFIG_TEXT_SIZE] = "untouched";
    EXPECT_EQ(GetConfig(text), 1);
    EXPECT_STREQ(text, "untouched");
    EXPECT_EQ(ReadZRN(&count, &length, buffer.data()), 1);
    EXPECT_EQ(WriteZRN(0, 0, buffer.data()), 1);
    EXPECT_EQ(ReadSMS(&count, &length, buffer.data()), -1);
    EXPECT_EQ(WriteSMS(0, 0, buffer.data()), -1);
    EXPECT_EQ(count, 5);
    EXPECT_EQ(length, 6);
    EXPECT_EQ(card.played(), 0u);
}

TEST_F(Connection, HandleZeroIsRefusedAndKeepsTheHeldHandle) {
    play(connectionScript(0x01B8, 0x1C, 20 * 176, "", ""));
    ASSERT_EQ(ConnectReader(sim::kSimulatedHandle), 0);
    ASSERT_EQ(card_->verify(), "");
    EXPECT_EQ(ConnectReader(0), 1);
    EXPECT_EQ(channel::cardChannel().handle(), sim::kSimulatedHandle);
    EXPECT_EQ(card_->verify(), "");
}

TEST_F(Connection, StandardCardSendsExactlyTheConnectionSequence) {
    play(withConfigSelection(connectionScript(0x01B8, 0x1C, 20 * 176, "", ""), false));
    ASSERT_EQ(ConnectReader(sim::kSimulatedHandle), 0);
    EXPECT_EQ(config(), "15,0,20,0,0,0,0");
    EXPECT_EQ(card_->verify(), "");
}

TEST_F(Connection, ExtendedCardReadsConfigurationAndOption) {
    play(withConfigSelection(connectionScript(0x01B8, 0x1C, 20 * 176, kConfig, kOption), true));
    ASSERT_EQ(ConnectReader(sim::kSimulatedHandle), 0);
    EXPECT_EQ(config(), "250,750,50,100,8,10,5");
    const PhonebookGeometry& g = phonebookGeometry();
    EXPECT_EQ(g.phonebookDirectory, 0x7F10);
    EXPECT_EQ(g.nameSlotLength, 20);
    EXPECT_EQ(g.numberSlotLength, 32);
    EXPECT_EQ(g.nameSlotCount, 500);
    EXPECT_EQ(g.groupNameLength, 12);
    EXPECT_EQ(g.adiRecordLength, 64);
    EXPECT_EQ(g.adiTypeFlags, 0x12);
    EXPECT_EQ(card_->verify(), "");
}

TEST_F(Connection, SecondNumberGoesNegativeWhenAdnExceedsNumberSlots) {
    // numberSlotCount 100, adnCount 250; bytes 9 and 19 carry noise that must not matter.
    play(withConfigSelection(
        connectionScript(0x01B8, 0x1C, 176,
                         "14 20 00 FA 01 F4 00 64 08 FF 0C 00 64 40 32 00 0A 00 05 FF", kOption),
        true));
    ASSERT_EQ(ConnectReader(sim::kSimulatedHandle), 0);
    EXPECT_EQ(config(), "250,-150,50,100,8,10,5");
}

TEST_F(Connection, StandardCardAfterExtendedReportsZeros) {
    play(connectionScript(0x01B8, 0x1C, 176, kConfig, kOption));
    ASSERT_EQ(ConnectReader(sim::kSimulatedHandle), 0);
    play(withConfigSelection(connectionScript(0x0AF0, 0x1C, 10 * 176, "", ""), false));
    ASSERT_EQ(ConnectReader(sim::kSimulatedHandle), 0);
    EXPECT_EQ(config(), "100,0,10,0,0,0,0");
    // Slot sizes of the earlier card are kept; standard-layout code does not use them.
    EXPECT_EQ(phonebookGeometry().nameSlotLength, 20);
    EXPECT_EQ(card_->verify(), "");
}

TEST_F(Connection, NullConfigBufferIsAParameterError) {
    play(connectionScript(0x01B8, 0x1C, 176, "", ""));
    ASSERT_EQ(ConnectReader(sim::kSimulatedHandle), 0);
    EXPECT_EQ(GetConfig(nullptr), 4);
    EXPECT_EQ(card_->verify(), "");
}

// A connection that fails at any command gives 3, keeps the handle and keeps
// what the steps before the failure stored. A card failure on the way to the
// configuration file is no answer about the layout: it fails the connection too.
TEST_F(Connection, FailureAtEachCommandGivesThree) {
    const Script full = connectionScript(0x01B8, 0x1C, 20 * 176, kConfig, kOption);
    // Discovery (the first three commands) is not acted upon; a failure there
    // only changes which directory is searched, so start after it.
    for (std::size_t failAt = 3; failAt < full.size(); ++failAt) {
        SCOPED_TRACE("failing command " + std::to_string(failAt + 1) + ": " + full[failAt].command);
        SetUp();
        Script script(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(failAt) + 1);
        script.back().response = "6F 00";
        play(script);
        EXPECT_EQ(ConnectReader(sim::kSimulatedHandle), 3);
        EXPECT_TRUE(channel::cardChannel().HasCard());
        EXPECT_EQ(card_->verify(), "");
        const PhonebookGeometry& g = phonebookGeometry();
        const bool pastAdn = failAt > 6;
        const bool pastConfig = failAt > 14;
        EXPECT_EQ(g.adnCount, pastConfig ? 250 : (pastAdn ? 15 : 0));
        EXPECT_EQ(g.nameSlotCount, pastConfig ? 500 : 0);
        EXPECT_EQ(g.adiTypeFlags, 0);
    }
}

TEST_F(Connection, MissingOptionFileStillLeavesTheConfiguration) {
    Script script = connectionScript(0x01B8, 0x1C, 20 * 176, kConfig, kOption);
    script.resize(script.size() - 2);
    script.push_back(test::selectMissing(0x2F99));
    play(script);
    EXPECT_EQ(ConnectReader(sim::kSimulatedHandle), 3);
    play(withConfigSelection({}, true));
    EXPECT_EQ(config(), "250,750,50,100,8,10,5");
    EXPECT_EQ(card_->verify(), "");
}

TEST_F(Connection, ModuleStateIsRestoredAfterEveryExport) {
    play({});
    char text[ZRN_CONFIG_TEXT_SIZE];
    EXPECT_EQ(GetConfig(text), 1);
    EXPECT_EQ(ConnectReader(0), 1);
    std::int32_t count = 0, length = 0;
    unsigned char buffer[8];
    EXPECT_EQ(ReadSMS(&count, &length, buffer), -1);
    // The calling thread had no module state of its own before; it has none after.
    EXPECT_EQ(startup::currentModuleState(), nullptr);
}

}  // namespace
}  // namespace zrn

namespace zrn {
namespace {

TEST_F(Connection, ShortConfigurationReadIsAFailure) {
    Script script = connectionScript(0x01B8, 0x1C, 176, kConfig, kOption);
    script[14].response = "14 20 00 FA 90 00";  // four of the twenty bytes
    script.resize(15);
    play(script);
    EXPECT_EQ(ConnectReader(sim::kSimulatedHandle), 3);
    EXPECT_EQ(phonebookGeometry().nameSlotCount, 0);
    EXPECT_EQ(card_->verify(), "");
}

}  // namespace
}  // namespace zrn
