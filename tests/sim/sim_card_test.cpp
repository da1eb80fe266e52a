#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/card_builder.h"
#include "sim/sim_card.h"

namespace zrn::sim {
namespace {

Bytes hex(const std::string& text) {
    Bytes bytes;
    EXPECT_TRUE(fromHex(text, bytes)) << text;
    return bytes;
}

// Sends one command and gives the whole answer (data and status) as spaced hex.
std::string send(SimCard& card, const std::string& command) {
    Bytes response;
    const long rv = card.transmit(hex(command), response);
    EXPECT_EQ(rv, 0) << command;
    return toHex(response);
}

std::string selectCommand(std::uint16_t id) {
    const std::uint8_t bytes[] = {static_cast<std::uint8_t>(id >> 8),
                                  static_cast<std::uint8_t>(id)};
    return "A0 A4 00 00 02 " + toHex(bytes);
}

std::string select(SimCard& card, std::uint16_t id) {
    return send(card, selectCommand(id));
}

// A small card: MF { 2FE2, 7F10 { 6F3A (3 x 4), 6F07 (5 bytes), 5F3A { 4F30 } }, 7F20 { 6F07 } }
CardImage smallImage() {
    CardImage image;
    image.putTransparent({0x2FE2}, hex("98 68 00 21 43 65 87 09 21 F3"));
    image.putLinearFixed({0x7F10, 0x6F3A}, 4, 3);
    image.setRecord({0x7F10, 0x6F3A}, 0, hex("01 02 03 04"));
    image.setRecord({0x7F10, 0x6F3A}, 1, hex("11 12 13 14"));
    image.putTransparent({0x7F10, 0x6F07}, hex("0A 0B 0C 0D 0E"));
    image.putTransparent({0x7F10, 0x5F3A, 0x4F30}, hex("55"));
    image.putTransparent({0x7F20, 0x6F07}, hex("77 77"));
    return image;
}

class SimCardTest : public ::testing::Test {
  protected:
    SimCard card{smallImage()};
};

// --- Selection ---------------------------------------------------------------

struct SelectionCase {
    const char* name;
    std::vector<std::uint16_t> before;  // selected first, each expected to succeed
    std::uint16_t target;
    bool found;
    std::uint16_t directoryAfter;
};

class Selection : public ::testing::TestWithParam<SelectionCase> {};

TEST_P(Selection, FollowsGsmRules) {
    const SelectionCase& c = GetParam();
    SimCard card(smallImage());
    for (std::uint16_t id : c.before) {
        ASSERT_EQ(select(card, id).substr(0, 2), "9F") << std::hex << id;
    }
    const std::string answer = select(card, c.target);
    if (c.found) {
        EXPECT_EQ(answer.substr(0, 2), "9F");
    } else {
        EXPECT_EQ(answer, "94 04");
    }
    EXPECT_EQ(card.currentDirectory(), c.directoryAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, Selection,
    ::testing::Values(
        SelectionCase{"MfFromReset", {}, 0x3F00, true, 0x3F00},
        SelectionCase{"ChildDfOfMf", {}, 0x7F10, true, 0x7F10},
        SelectionCase{"ChildEfOfMf", {}, 0x2FE2, true, 0x3F00},
        SelectionCase{"MfFromDeepDf", {0x7F10, 0x5F3A}, 0x3F00, true, 0x3F00},
        SelectionCase{"CurrentDfItself", {0x7F10}, 0x7F10, true, 0x7F10},
        SelectionCase{"ParentOfSecondLevelDf", {0x7F10, 0x5F3A}, 0x7F10, true, 0x7F10},
        SelectionCase{"SiblingDf", {0x7F10}, 0x7F20, true, 0x7F20},
        SelectionCase{"EfKeepsCurrentDf", {0x7F10}, 0x6F3A, true, 0x7F10},
        SelectionCase{"SiblingEfAfterEf", {0x7F10, 0x6F3A}, 0x6F07, true, 0x7F10},
        SelectionCase{"EfOfSiblingDfIsNotReachable", {0x7F20}, 0x6F3A, false, 0x7F20},
        SelectionCase{"EfOfParentIsNotReachable", {0x7F10}, 0x2FE2, false, 0x7F10},
        SelectionCase{"GrandchildIsNotReachable", {}, 0x6F3A, false, 0x3F00},
        SelectionCase{"DeepEfFromMf", {}, 0x4F30, false, 0x3F00},
        SelectionCase{"UnknownId", {0x7F10}, 0x1234, false, 0x7F10},
        SelectionCase{"SameIdInOtherDfResolvesLocally", {0x7F20}, 0x6F07, true, 0x7F20}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(SimCardTest, FailedSelectionKeepsCurrentFile) {
    ASSERT_EQ(select(card, 0x7F10), "9F 16");
    ASSERT_EQ(select(card, 0x6F07), "9F 0F");
    EXPECT_EQ(select(card, 0x2FE2), "94 04");
    EXPECT_EQ(card.currentElementaryFile(), 0x6F07);
    EXPECT_EQ(send(card, "A0 B0 00 00 01"), "0A 90 00");
}

TEST_F(SimCardTest, SelectingADirectoryDeselectsTheEf) {
    select(card, 0x7F10);
    select(card, 0x6F07);
    select(card, 0x7F10);
    EXPECT_EQ(card.currentElementaryFile(), 0);
    EXPECT_EQ(send(card, "A0 B0 00 00 01"), "94 00");
}

TEST_F(SimCardTest, SelectRefusesMalformedCommands) {
    EXPECT_EQ(send(card, "A0 A4 00 00 03 3F 00 00"), "67 02");
    EXPECT_EQ(send(card, "A0 A4 00 00 01 3F"), "67 02");
    EXPECT_EQ(send(card, "A0 A4 00 00 02 3F"), "67 00");        // data shorter than P3
    EXPECT_EQ(send(card, "A0 A4 00 00 02 3F 00 00"), "67 00");  // longer
    EXPECT_EQ(send(card, "A0 A4 01 00 02 3F 00"), "6B 00");
}

// --- GET RESPONSE ----------------------------------------------------------

TEST_F(SimCardTest, ElementaryFileResponseOfLinearFixedFile) {
    card.image().find({0x7F10, 0x6F3A})->updateAccess = Access::kChv1;
    select(card, 0x7F10);
    ASSERT_EQ(select(card, 0x6F3A), "9F 0F");
    EXPECT_EQ(send(card, "A0 C0 00 00 0F"), "00 00 00 0C 6F 3A 04 00 01 F0 44 01 02 01 04 90 00");
}

TEST_F(SimCardTest, ElementaryFileResponseOfTransparentFile) {
    card.image().find({0x2FE2})->readAccess = Access::kNever;
    ASSERT_EQ(select(card, 0x2FE2), "9F 0F");
    EXPECT_EQ(send(card, "A0 C0 00 00 0F"), "00 00 00 0A 2F E2 04 00 F0 F0 44 01 02 00 00 90 00");
}

TEST_F(SimCardTest, DirectoryResponseCountsChildrenAndChvStatus) {
    card.image().chv1.enabled = true;
    card.image().chv1.attemptsLeft = 2;
    card.image().chv1.pukAttemptsLeft = 9;
    ASSERT_EQ(select(card, 0x7F10), "9F 16");
    EXPECT_EQ(send(card, "A0 C0 00 00 16"),
              "00 00 20 00 7F 10 02 00 00 00 00 00 09 13 01 02 04 00 82 89 00 00 90 00");
}

TEST_F(SimCardTest, MasterFileResponse) {
    ASSERT_EQ(select(card, 0x3F00), "9F 16");
    // CHV1 disabled: bit 8 of the file characteristics is set.
    EXPECT_EQ(send(card, "A0 C0 00 00 16"),
              "00 00 20 00 3F 00 01 00 00 00 00 00 09 93 02 01 04 00 83 8A 00 00 90 00");
}

TEST_F(SimCardTest, GetResponseLengthRules) {
    select(card, 0x2FE2);
    EXPECT_EQ(send(card, "A0 C0 00 00 10"), "67 0F");
    // Refused for its length only, the data is still there.
    EXPECT_EQ(send(card, "A0 C0 00 00 04"), "00 00 00 0A 90 00");
    // Fetched once: gone.
    EXPECT_EQ(send(card, "A0 C0 00 00 04"), "6F 00");
}

TEST_F(SimCardTest, ResponseLastsOnlyUntilTheNextCommand) {
    select(card, 0x2FE2);
    EXPECT_EQ(send(card, "A0 B0 00 00 01"), "98 90 00");
    EXPECT_EQ(send(card, "A0 C0 00 00 0F"), "6F 00");
    EXPECT_EQ(select(card, 0x1234), "94 04");
    EXPECT_EQ(send(card, "A0 C0 00 00 0F"), "6F 00");
}

TEST_F(SimCardTest, NoResponseAtResetAndWrongParameters) {
    EXPECT_EQ(send(card, "A0 C0 00 00 0F"), "6F 00");
    select(card, 0x2FE2);
    EXPECT_EQ(send(card, "A0 C0 01 00 0F"), "6B 00");
}

TEST_F(SimCardTest, StatusReturnsTheCurrentDirectory) {
    select(card, 0x7F10);
    select(card, 0x6F3A);
    const std::string status = send(card, "A0 F2 00 00 16");
    EXPECT_EQ(status.substr(0, 17), "00 00 20 00 7F 10");
    EXPECT_EQ(status.substr(status.size() - 5), "90 00");
    EXPECT_EQ(send(card, "A0 F2 00 00 17"), "67 16");
}

// --- Transparent files -------------------------------------------------------

TEST_F(SimCardTest, ReadAndUpdateBinary) {
    select(card, 0x7F10);
    select(card, 0x6F07);
    EXPECT_EQ(send(card, "A0 B0 00 01 03"), "0B 0C 0D 90 00");
    EXPECT_EQ(send(card, "A0 D6 00 03 02 AA BB"), "90 00");
    EXPECT_EQ(send(card, "A0 B0 00 00 05"), "0A 0B 0C AA BB 90 00");
    EXPECT_EQ(card.image().find({0x7F10, 0x6F07})->data, hex("0A 0B 0C AA BB"));
}

TEST_F(SimCardTest, ReadBinaryOfLengthZeroMeans256) {
    card.image().putTransparent({0x6F99}, Bytes(300, 0x5A));
    select(card, 0x6F99);
    Bytes response;
    ASSERT_EQ(card.transmit(hex("A0 B0 00 00 00"), response), 0);
    ASSERT_EQ(response.size(), 258u);
    EXPECT_EQ(response[255], 0x5A);
    EXPECT_EQ(response[256], 0x90);
    EXPECT_EQ(send(card, "A0 B0 00 2D 00"), "67 FF");  // 255 left
}

struct RefusalCase {
    const char* name;
    std::vector<std::uint16_t> path;  // selected before the command
    const char* command;
    const char* answer;
};

class Refusals : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(Refusals, AnswerTheRealStatusWord) {
    const RefusalCase& c = GetParam();
    CardImage image = smallImage();
    image.putTransparent({0x7F10, 0x6F40}, hex("01 02"));
    image.find({0x7F10, 0x6F40})->readAccess = Access::kChv1;
    image.find({0x7F10, 0x6F40})->updateAccess = Access::kNever;
    image.putLinearFixed({0x7F10, 0x6F41}, 2, 2).updateAccess = Access::kChv1;
    image.chv1.enabled = true;
    SimCard card(image);
    for (std::uint16_t id : c.path) {
        ASSERT_EQ(select(card, id).substr(0, 2), "9F");
    }
    EXPECT_EQ(send(card, c.command), c.answer);
    // A refused update changes nothing.
    EXPECT_EQ(card.image(), image);
}

INSTANTIATE_TEST_SUITE_P(
    StatusWords, Refusals,
    ::testing::Values(
        RefusalCase{"ShortApdu", {}, "A0 B0 00", "67 00"},
        RefusalCase{"EmptyApdu", {}, "", "67 00"},
        RefusalCase{"WrongClass", {}, "00 A4 00 00 02 3F 00", "6E 00"},
        RefusalCase{"UnknownInstruction", {}, "A0 77 00 00 01 00", "6D 00"},
        RefusalCase{"ReadBinaryNoEf", {0x7F10}, "A0 B0 00 00 01", "94 00"},
        RefusalCase{"ReadBinaryOnRecords", {0x7F10, 0x6F3A}, "A0 B0 00 00 01", "94 08"},
        RefusalCase{"ReadBinaryOffsetBeyond", {0x7F10, 0x6F07}, "A0 B0 00 05 01", "6B 00"},
        RefusalCase{"ReadBinaryTooLong", {0x7F10, 0x6F07}, "A0 B0 00 02 04", "67 03"},
        RefusalCase{"ReadBinaryWithData", {0x7F10, 0x6F07}, "A0 B0 00 00 01 00", "67 00"},
        RefusalCase{"ReadBinaryNeedsChv1", {0x7F10, 0x6F40}, "A0 B0 00 00 02", "98 04"},
        RefusalCase{"UpdateBinaryNever", {0x7F10, 0x6F40}, "A0 D6 00 00 01 00", "98 04"},
        RefusalCase{"UpdateBinaryTooLong", {0x7F10, 0x6F07}, "A0 D6 00 04 02 00 00", "67 01"},
        RefusalCase{"UpdateBinaryOffsetBeyond", {0x7F10, 0x6F07}, "A0 D6 01 00 01 00", "6B 00"},
        RefusalCase{"UpdateBinaryDataShort", {0x7F10, 0x6F07}, "A0 D6 00 00 02 00", "67 00"},
        RefusalCase{"UpdateBinaryDataLong", {0x7F10, 0x6F07}, "A0 D6 00 00 01 00 00", "67 00"},
        RefusalCase{"UpdateBinaryNoEf", {}, "A0 D6 00 00 01 00", "94 00"},
        RefusalCase{"UpdateBinaryOnRecords", {0x7F10, 0x6F3A}, "A0 D6 00 00 01 00", "94 08"},
        RefusalCase{"ReadRecordNoEf", {0x7F10}, "A0 B2 01 04 04", "94 00"},
        RefusalCase{"ReadRecordOnTransparent", {0x7F10, 0x6F07}, "A0 B2 01 04 04", "94 08"},
        RefusalCase{"ReadRecordZero", {0x7F10, 0x6F3A}, "A0 B2 00 04 04", "94 02"},
        RefusalCase{"ReadRecordBeyond", {0x7F10, 0x6F3A}, "A0 B2 04 04 04", "94 02"},
        RefusalCase{"ReadRecordUnknownMode", {0x7F10, 0x6F3A}, "A0 B2 01 05 04", "6B 00"},
        RefusalCase{"ReadRecordShortLength", {0x7F10, 0x6F3A}, "A0 B2 01 04 03", "67 04"},
        RefusalCase{"ReadRecordLongLength", {0x7F10, 0x6F3A}, "A0 B2 01 04 05", "67 04"},
        RefusalCase{"UpdateRecordWrongLength", {0x7F10, 0x6F3A}, "A0 DC 01 04 02 00 00", "67 04"},
        RefusalCase{"UpdateRecordDataShort", {0x7F10, 0x6F3A}, "A0 DC 01 04 04 00 00", "67 00"},
        RefusalCase{"UpdateRecordBeyond", {0x7F10, 0x6F3A}, "A0 DC 09 04 04 00 00 00 00", "94 02"},
        RefusalCase{"UpdateRecordNeedsChv1", {0x7F10, 0x6F41}, "A0 DC 01 04 02 00 00", "98 04"},
        RefusalCase{"VerifyWrongP2", {}, "A0 20 00 03 08 31 32 33 34 FF FF FF FF", "6B 00"},
        RefusalCase{"VerifyChv2NotInitialised", {}, "A0 20 00 02 08 31 32 33 34 FF FF FF FF",
                    "98 02"},
        RefusalCase{"VerifyWrongLength", {}, "A0 20 00 01 04 31 32 33 34", "67 08"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

// --- Linear fixed files ---------------------------------------------------------

TEST_F(SimCardTest, ReadAndUpdateRecordInAbsoluteMode) {
    select(card, 0x7F10);
    select(card, 0x6F3A);
    EXPECT_EQ(send(card, "A0 B2 02 04 04"), "11 12 13 14 90 00");
    EXPECT_EQ(send(card, "A0 B2 03 04 04"), "FF FF FF FF 90 00");
    EXPECT_EQ(send(card, "A0 DC 03 04 04 21 22 23 24"), "90 00");
    EXPECT_EQ(send(card, "A0 B2 03 04 04"), "21 22 23 24 90 00");
    EXPECT_EQ(card.image().record({0x7F10, 0x6F3A}, 2), hex("21 22 23 24"));
    EXPECT_EQ(card.image().record({0x7F10, 0x6F3A}, 0), hex("01 02 03 04"));
}

// --- CHV1 -----------------------------------------------------------------------

class ChvTest : public ::testing::Test {
  protected:
    ChvTest() {
        CardImage image = smallImage();
        image.chv1 = Chv{true, "1234", 3, 3, "12345678", 10};
        image.find({0x7F10, 0x6F3A})->readAccess = Access::kChv1;
        card = SimCard(image);
        select(card, 0x7F10);
        select(card, 0x6F3A);
    }
    static constexpr const char* kRight = "A0 20 00 01 08 31 32 33 34 FF FF FF FF";
    static constexpr const char* kWrong = "A0 20 00 01 08 31 32 33 35 FF FF FF FF";
    SimCard card{CardImage{}};
};

TEST_F(ChvTest, ProtectedFileOpensAfterVerification) {
    EXPECT_EQ(send(card, "A0 B2 01 04 04"), "98 04");
    EXPECT_EQ(send(card, kRight), "90 00");
    EXPECT_TRUE(card.chv1Verified());
    EXPECT_EQ(send(card, "A0 B2 01 04 04"), "01 02 03 04 90 00");
    // Verification lasts until the card is powered down.
    card.reset();
    select(card, 0x7F10);
    select(card, 0x6F3A);
    EXPECT_EQ(send(card, "A0 B2 01 04 04"), "98 04");
}

TEST_F(ChvTest, WrongCodesCountDownAndBlock) {
    EXPECT_EQ(send(card, kWrong), "98 04");
    EXPECT_EQ(card.image().chv1.attemptsLeft, 2);
    EXPECT_EQ(send(card, kWrong), "98 04");
    EXPECT_EQ(send(card, kWrong), "98 40");
    EXPECT_EQ(card.image().chv1.attemptsLeft, 0);
    // Blocked: even the right code is refused and the file stays closed.
    EXPECT_EQ(send(card, kRight), "98 40");
    EXPECT_EQ(send(card, "A0 B2 01 04 04"), "98 04");
}

TEST_F(ChvTest, RightCodeRestoresTheCounter) {
    send(card, kWrong);
    send(card, kWrong);
    EXPECT_EQ(send(card, kRight), "90 00");
    EXPECT_EQ(card.image().chv1.attemptsLeft, 3);
}

TEST_F(ChvTest, CodeMustBePaddedWithFf) {
    EXPECT_EQ(send(card, "A0 20 00 01 08 31 32 33 34 00 00 00 00"), "98 04");
}

TEST_F(ChvTest, StatusBytesFollowTheCounter) {
    send(card, kWrong);
    select(card, 0x7F10);
    const std::string response = send(card, "A0 C0 00 00 16");
    EXPECT_EQ(response.substr(13 * 3, 2), "13");  // CHV1 enabled
    EXPECT_EQ(response.substr(18 * 3, 5), "82 8A");
}

TEST_F(ChvTest, UnblockSetsANewCode) {
    send(card, kWrong);
    send(card, kWrong);
    send(card, kWrong);
    EXPECT_EQ(send(card, "A0 2C 00 00 10 31 32 33 34 35 36 37 30 39 39 39 39 FF FF FF FF"),
              "98 04");
    EXPECT_EQ(card.image().chv1.pukAttemptsLeft, 9);
    EXPECT_EQ(send(card, "A0 2C 00 00 10 31 32 33 34 35 36 37 38 39 39 39 39 FF FF FF FF"),
              "90 00");
    EXPECT_EQ(card.image().chv1.pin, "9999");
    EXPECT_EQ(card.image().chv1.attemptsLeft, 3);
    EXPECT_EQ(send(card, "A0 B2 01 04 04"), "01 02 03 04 90 00");
    EXPECT_EQ(send(card, "A0 20 00 01 08 39 39 39 39 FF FF FF FF"), "90 00");
}

TEST(Chv, DisabledChvAllowsAccessAndRefusesVerify) {
    CardImage image = smallImage();
    image.find({0x7F10, 0x6F3A})->readAccess = Access::kChv1;
    SimCard card(image);
    select(card, 0x7F10);
    select(card, 0x6F3A);
    EXPECT_EQ(send(card, "A0 B2 01 04 04"), "01 02 03 04 90 00");
    EXPECT_EQ(send(card, "A0 20 00 01 08 30 30 30 30 FF FF FF FF"), "98 08");
}

// --- Log, faults, reset ---------------------------------------------------------

TEST_F(SimCardTest, LogsEveryExchange) {
    select(card, 0x3F00);
    send(card, "A0 C0 00 00 02");
    ASSERT_EQ(card.commandCount(), 2u);
    EXPECT_EQ(card.commandsHex(),
              (std::vector<std::string>{"A0 A4 00 00 02 3F 00", "A0 C0 00 00 02"}));
    EXPECT_EQ(card.log()[1].response, hex("00 00 90 00"));
    card.clearLog();
    EXPECT_EQ(card.commandCount(), 0u);
}

TEST_F(SimCardTest, FailCommandAnswersWithoutTouchingTheCard) {
    card.failCommand(3, 0x6581);
    select(card, 0x7F10);
    select(card, 0x6F07);
    EXPECT_EQ(send(card, "A0 D6 00 00 01 99"), "65 81");  // command 3
    EXPECT_EQ(card.currentElementaryFile(), 0x6F07);
    EXPECT_EQ(send(card, "A0 B0 00 00 01"), "0A 90 00");
    EXPECT_EQ(card.image().find({0x7F10, 0x6F07})->data, hex("0A 0B 0C 0D 0E"));
}

TEST_F(SimCardTest, TransportFailureIsReturnedAndLogged) {
    card.failTransportAt(1, 0x80100016L);
    Bytes response{0x01};
    EXPECT_EQ(card.transmit(hex(selectCommand(0x7F10)), response), 0x80100016L);
    EXPECT_TRUE(response.empty());
    EXPECT_EQ(card.currentDirectory(), 0x3F00);
    ASSERT_EQ(card.log().size(), 1u);
    EXPECT_EQ(card.log()[0].transportError, 0x80100016L);
    EXPECT_EQ(select(card, 0x7F10), "9F 16");
}

TEST_F(SimCardTest, FailInstructionOnOneFile) {
    card.failInstruction(0xB2, 0x6F3A, 0x6F00);
    card.failInstruction(0xA4, 0x7F20, 0x9404);
    select(card, 0x7F10);
    EXPECT_EQ(select(card, 0x7F20), "94 04");
    EXPECT_EQ(card.currentDirectory(), 0x7F10);
    select(card, 0x6F3A);
    EXPECT_EQ(send(card, "A0 B2 01 04 04"), "6F 00");
    EXPECT_EQ(send(card, "A0 B2 02 04 04"), "6F 00");
    // Other instructions on that file, and the instruction on other files, go through.
    EXPECT_EQ(send(card, "A0 DC 01 04 04 00 00 00 00"), "90 00");
    select(card, 0x6F07);
    EXPECT_EQ(send(card, "A0 B2 01 04 04"), "94 08");
    card.clearFaults();
    select(card, 0x6F3A);
    EXPECT_EQ(send(card, "A0 B2 01 04 04"), "00 00 00 00 90 00");
}

TEST_F(SimCardTest, InterceptorAnswersInsteadOfTheCard) {
    card.setInterceptor([](ByteView command, Bytes& response) {
        if (command.size() >= 2 && command[1] == 0xB0) {
            response = {0x01};  // a lying card: shorter than the status words
            return true;
        }
        return false;
    });
    select(card, 0x2FE2);
    EXPECT_EQ(send(card, "A0 B0 00 00 01"), "01");
    EXPECT_EQ(card.log()[1].response, hex("01"));
    // The card never saw the intercepted command: its selection response is still pending.
    EXPECT_EQ(send(card, "A0 C0 00 00 04"), "00 00 00 0A 90 00");
}

TEST_F(SimCardTest, ThrowingInterceptorDoesNotEscape) {
    card.setInterceptor([](ByteView, Bytes&) -> bool { throw std::runtime_error("boom"); });
    EXPECT_EQ(select(card, 0x3F00), "6F 00");
}

TEST_F(SimCardTest, ResetSelectsTheMf) {
    select(card, 0x7F10);
    select(card, 0x6F3A);
    card.reset();
    EXPECT_EQ(card.currentDirectory(), 0x3F00);
    EXPECT_EQ(card.currentElementaryFile(), 0);
    EXPECT_EQ(send(card, "A0 C0 00 00 0F"), "6F 00");
    EXPECT_EQ(select(card, 0x6F3A), "94 04");
}

TEST_F(SimCardTest, CopiesAreIndependent) {
    select(card, 0x7F10);
    SimCard copy = card;
    select(copy, 0x7F20);
    EXPECT_EQ(card.currentDirectory(), 0x7F10);
    EXPECT_EQ(copy.currentDirectory(), 0x7F20);
    EXPECT_EQ(card.commandCount(), 1u);
}

TEST_F(SimCardTest, RemovedDirectoryFallsBackToTheMf) {
    select(card, 0x7F20);
    select(card, 0x6F07);
    card.image().remove({0x7F20});
    EXPECT_EQ(send(card, "A0 B0 00 00 01"), "94 00");
    EXPECT_EQ(card.currentDirectory(), 0x3F00);
}

// Every command of up to 8 bytes from a small alphabet, on a card with CHV:
// nothing may throw or crash, and every answer ends in two status bytes.
TEST(SimCardRobustness, ArbitraryShortCommandsAreAnswered) {
    CardImage image = buildStandardCard({});
    image.chv1.enabled = true;
    SimCard card(image);
    const std::uint8_t alphabet[] = {0x00, 0x01, 0x02, 0x04, 0x3F, 0x7F, 0xA0, 0xA4,
                                     0xB0, 0xB2, 0xC0, 0xD6, 0xDC, 0x20, 0xF2, 0xFF};
    std::uint32_t seed = 12345;
    for (int i = 0; i < 20000; ++i) {
        seed = seed * 1103515245u + 12345u;
        Bytes command((seed >> 8) % 9);
        for (auto& byte : command) {
            seed = seed * 1103515245u + 12345u;
            byte = alphabet[(seed >> 16) % sizeof alphabet];
        }
        if (command.size() >= 1 && (seed & 1)) {
            command[0] = 0xA0;
        }
        Bytes response;
        ASSERT_EQ(card.transmit(command, response), 0);
        ASSERT_GE(response.size(), 2u) << toHex(command);
    }
}

}  // namespace
}  // namespace zrn::sim
