#include <gtest/gtest.h>

#include "channel/file_map.h"
#include "sim/scripted_card.h"
#include "support/scripts.h"

namespace zrn {
namespace {

using channel::CardChannel;
using test::Script;
using test::selectMissing;
using test::selectOk;

class ScriptedChannel : public ::testing::Test {
  protected:
    void play(Script script) {
        card_ = std::make_unique<sim::ScriptedCard>(std::move(script));
        sim::insertCard(card_.get());
        channel_.SetCardHandle(sim::kSimulatedHandle);
    }
    void TearDown() override { sim::insertCard(nullptr); }

    CardChannel channel_;
    std::unique_ptr<sim::ScriptedCard> card_;
};

struct DiscoveryCase {
    const char* name;
    Script script;
    bool found;
    std::uint16_t directory;
};

class Discovery : public ScriptedChannel, public ::testing::WithParamInterface<DiscoveryCase> {};

TEST_P(Discovery, SelectsExactlyTheCandidates) {
    play(GetParam().script);
    std::uint16_t directory = 0;
    EXPECT_EQ(channel::FindPhonebookDirectory(channel_, directory), GetParam().found);
    EXPECT_EQ(directory, GetParam().directory);
    EXPECT_EQ(card_->verify(), "");
}

INSTANTIATE_TEST_SUITE_P(
    FileMap, Discovery,
    ::testing::Values(DiscoveryCase{"BothDirectoriesTelecomWins",
                                    {selectOk(0x3F00), selectOk(0x7F10), selectOk(0x6F04)},
                                    true,
                                    0x7F10},
                      DiscoveryCase{"TelecomWithoutNameFile",
                                    {selectOk(0x3F00), selectOk(0x7F10), selectMissing(0x6F04),
                                     selectOk(0x3F00), selectOk(0x5F00), selectOk(0x6F04)},
                                    true,
                                    0x5F00},
                      DiscoveryCase{"NoTelecom",
                                    {selectOk(0x3F00), selectMissing(0x7F10), selectOk(0x3F00),
                                     selectOk(0x5F00), selectOk(0x6F04)},
                                    true,
                                    0x5F00},
                      DiscoveryCase{"Neither",
                                    {selectOk(0x3F00), selectOk(0x7F10), selectMissing(0x6F04),
                                     selectOk(0x3F00), selectMissing(0x5F00)},
                                    false,
                                    0x0000},
                      DiscoveryCase{"NoMasterFile", {selectMissing(0x3F00)}, false, 0x0000}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(ScriptedChannel, FailedPathLeavesLastSuccessfulResponseLength) {
    play({selectOk(0x3F00, 0x16), selectOk(0x7F10, 0x17), selectMissing(0x6F04)});
    std::uint8_t out = 0;
    EXPECT_FALSE(channel::SelectNameFile(channel_, 0x7F10, out));
    EXPECT_EQ(out, 0x17);
    EXPECT_EQ(card_->verify(), "");
}

TEST_F(ScriptedChannel, UndiscoveredDirectoryFailsAtItsStep) {
    play({selectOk(0x3F00), selectMissing(0x0000)});
    std::uint8_t out = 0;
    EXPECT_FALSE(channel::SelectConfigFile(channel_, 0x0000, out));
    EXPECT_EQ(card_->verify(), "");
}

TEST_F(ScriptedChannel, MessagePathsAnswerOneOrMinusOne) {
    play({selectOk(0x3F00), selectOk(0x7F10), selectOk(0x1F3C, 0x0F), selectOk(0x3F00),
          selectOk(0x7F10), selectMissing(0x1F02)});
    std::uint8_t out = 0;
    EXPECT_EQ(channel::OpenExtraMessageFile(out, channel_), 1);
    EXPECT_EQ(channel::OpenExtraMessageIndex(out, channel_), -1);
    EXPECT_EQ(card_->verify(), "");
}

struct InfoCase {
    const char* name;
    std::uint8_t responseLength;
    Script script;
    channel::InfoNeeded needed;
    bool ok;
    std::uint16_t size;
    std::uint8_t recordLength;
    std::uint32_t records;
};

class SelectionResponse : public ScriptedChannel, public ::testing::WithParamInterface<InfoCase> {};

TEST_P(SelectionResponse, FieldsAndRecordCount) {
    const InfoCase& c = GetParam();
    play(c.script);
    const auto info = channel::FetchFileInfo(channel_, c.responseLength, c.needed);
    ASSERT_EQ(info.has_value(), c.ok);
    if (info) {
        EXPECT_EQ(info->fileSize, c.size);
        EXPECT_EQ(info->recordLength, c.recordLength);
        EXPECT_EQ(info->recordCount(), c.records);
    }
    EXPECT_EQ(card_->verify(), "");
}

INSTANTIATE_TEST_SUITE_P(FileMap, SelectionResponse,
                         ::testing::Values(InfoCase{"Adn15Records",
                                                    0x0F,
                                                    {test::efResponse(0x01B8, 0x1C)},
                                                    channel::InfoNeeded::kFileSizeAndRecordLength,
                                                    true,
                                                    440,
                                                    28,
                                                    15},
                                           InfoCase{"RemainderDropped",
                                                    0x0F,
                                                    {test::efResponse(0x01BB, 0x1C)},
                                                    channel::InfoNeeded::kFileSizeAndRecordLength,
                                                    true,
                                                    443,
                                                    28,
                                                    15},
                                           InfoCase{"RecordLengthZeroHoldsNoRecords",
                                                    0x0F,
                                                    {test::efResponse(0x0100, 0x00)},
                                                    channel::InfoNeeded::kFileSizeAndRecordLength,
                                                    true,
                                                    256,
                                                    0,
                                                    0},
                                           InfoCase{"SizeOnlyNeedsFourBytes",
                                                    0x04,
                                                    {{"A0 C0 00 00 04", "00 00 01 00 90 00"}},
                                                    channel::InfoNeeded::kFileSize,
                                                    true,
                                                    256,
                                                    0,
                                                    0},
                                           InfoCase{"TooShortForRecordLength",
                                                    0x0E,
                                                    {},
                                                    channel::InfoNeeded::kFileSizeAndRecordLength,
                                                    false,
                                                    0,
                                                    0,
                                                    0},
                                           InfoCase{"CardReturnsLessThanAsked",
                                                    0x0F,
                                                    {{"A0 C0 00 00 0F", "00 00 01 B8 90 00"}},
                                                    channel::InfoNeeded::kFileSizeAndRecordLength,
                                                    false,
                                                    0,
                                                    0,
                                                    0},
                                           InfoCase{"GetResponseRefused",
                                                    0x0F,
                                                    {{"A0 C0 00 00 0F", "6F 00"}},
                                                    channel::InfoNeeded::kFileSize,
                                                    false,
                                                    0,
                                                    0,
                                                    0}),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace zrn
