// The card layer's values and seams: status words and their classes, the
// response of a failed exchange, the command bytes of STATUS and the CHV
// commands, transports installed at run time, chunked binary transfers, and
// the failing step a path selection reports.
#include <gtest/gtest.h>

#include <string>

#include "channel/card_channel.h"
#include "channel/file_map.h"
#include "channel/status_word.h"
#include "sim/scripted_card.h"
#include "support/scripts.h"

namespace zrn {
namespace {

using channel::Apdu;
using channel::CardChannel;
using channel::StatusCategory;
using channel::StatusWord;
using test::Script;

struct StatusCase {
    std::uint8_t sw1;
    std::uint8_t sw2;
    StatusCategory category;
};

TEST(StatusWords, EachClassOfGsmStatusHasItsCategory) {
    const StatusCase cases[] = {
        {0x90, 0x00, StatusCategory::kSuccess},
        {0x9F, 0x1A, StatusCategory::kResponseAvailable},
        {0x94, 0x04, StatusCategory::kNotFound},
        {0x6A, 0x82, StatusCategory::kNotFound},
        {0x98, 0x04, StatusCategory::kSecurity},
        {0x98, 0x40, StatusCategory::kSecurity},
        {0x98, 0x77, StatusCategory::kSecurity},
        {0x67, 0x10, StatusCategory::kWrongParameters},
        {0x6B, 0x00, StatusCategory::kWrongParameters},
        {0x94, 0x02, StatusCategory::kWrongParameters},
        {0x6D, 0x00, StatusCategory::kWrongParameters},
        {0x6E, 0x00, StatusCategory::kWrongParameters},
        {0x6A, 0x86, StatusCategory::kWrongParameters},
        {0x6F, 0x00, StatusCategory::kCardFailure},
        {0x92, 0x40, StatusCategory::kCardFailure},
        {0x12, 0x34, StatusCategory::kCardFailure},  // undefined: never taken for success
    };
    for (const StatusCase& c : cases) {
        const StatusWord sw{c.sw1, c.sw2};
        EXPECT_EQ(sw.category(), c.category) << sw.text() << " " << sw.meaning();
    }
    EXPECT_EQ(StatusWord({0x94, 0x04}).text(), "94 04");
}

// Each case runs one operation against a script of exactly the commands it
// must send and checks how the response reports the answer.
struct ResponseCase {
    const char* name;
    Script script;
    std::function<channel::Response(CardChannel&)> operation;
    StatusCategory category;
    std::string data;  // hex, of a delivered response
};

class Responses : public ::testing::TestWithParam<ResponseCase> {};

TEST_P(Responses, CarryTheStatusWordAndTheData) {
    const ResponseCase& c = GetParam();
    sim::ScriptedCard card(c.script);
    sim::ScopedCard inserted(card);
    CardChannel channel;
    channel.SetCardHandle(sim::kSimulatedHandle);
    const channel::Response response = c.operation(channel);
    EXPECT_EQ(response.category(), c.category) << response.status().describe();
    EXPECT_EQ(toHex(response.data()), c.data);
    EXPECT_EQ(card.verify(), "");
}

const Apdu::ChvBlock kPin = Apdu::chvBlock("1234");
const Apdu::ChvBlock kPuk = Apdu::chvBlock("12345678");

INSTANTIATE_TEST_SUITE_P(
    Channel, Responses,
    ::testing::Values(
        ResponseCase{"VerifyChv1PadsWithFF",
                     {{"A0 20 00 01 08 31 32 33 34 FF FF FF FF", "98 04"}},
                     [](CardChannel& ch) { return ch.verifyChv(1, kPin); },
                     StatusCategory::kSecurity,
                     ""},
        ResponseCase{"StatusReadsTheCurrentDirectory",
                     {{"A0 F2 00 00 02", "AB CD 90 00"}},
                     [](CardChannel& ch) { return ch.status(2); },
                     StatusCategory::kSuccess,
                     "AB CD"},
        ResponseCase{"ChangeChv2",
                     {{"A0 24 00 02 10 31 32 33 34 FF FF FF FF 31 32 33 34 35 36 37 38", "90 00"}},
                     [](CardChannel& ch) { return ch.send(Apdu::changeChv(2, kPin, kPuk)); },
                     StatusCategory::kSuccess,
                     ""},
        ResponseCase{"DisableAndEnableChv1",
                     {{"A0 26 00 01 08 31 32 33 34 FF FF FF FF", "90 00"},
                      {"A0 28 00 01 08 31 32 33 34 FF FF FF FF", "98 08"}},
                     [](CardChannel& ch) {
                         ch.send(Apdu::disableChv(kPin));
                         return ch.send(Apdu::enableChv(kPin));
                     },
                     StatusCategory::kSecurity,
                     ""},
        ResponseCase{"UnblockChv1UsesP2Zero",
                     {{"A0 2C 00 00 10 31 32 33 34 35 36 37 38 31 32 33 34 FF FF FF FF", "98 40"}},
                     [](CardChannel& ch) { return ch.send(Apdu::unblockChv(1, kPuk, kPin)); },
                     StatusCategory::kSecurity,
                     ""},
        ResponseCase{"SelectOfAMissingFileIsNotFound",
                     {{"A0 A4 00 00 02 6F 3A", "6A 82"}},
                     [](CardChannel& ch) { return ch.select(0x6F3A); },
                     StatusCategory::kNotFound,
                     ""},
        ResponseCase{"OneByteAnswerIsATransportFailure",
                     {{"A0 B0 00 00 02", "90"}},
                     [](CardChannel& ch) { return ch.readBinary(0, 2); },
                     StatusCategory::kTransportFailure,
                     ""},
        ResponseCase{"PcscErrorIsATransportFailure",
                     {{"A0 B2 01 04 1C", "", 0x80100016L}},
                     [](CardChannel& ch) { return ch.readRecord(0, 0x1C); },
                     StatusCategory::kTransportFailure,
                     ""}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(Responses, NoHandleSendsNothingAndFailsTheExchange) {
    sim::ScriptedCard card(Script{});
    sim::ScopedCard inserted(card);
    CardChannel channel;
    const channel::Response response = channel.select(0x3F00);
    EXPECT_FALSE(response.delivered());
    EXPECT_EQ(response.category(), StatusCategory::kTransportFailure);
    EXPECT_EQ(card.verify(), "");
}

// A decorator sees every exchange of the channel it is installed on, and
// the channel goes back to the default transport when it is removed.
class Counting : public channel::TransportDecorator {
  public:
    using TransportDecorator::TransportDecorator;
    long transmit(CardHandle handle, ByteView command, std::uint8_t* response,
                  std::uint32_t& length) override {
        ++count;
        return forward(handle, command, response, length);
    }
    int count = 0;
};

TEST(Transports, ChosenPerChannelAtRunTime) {
    sim::ScriptedCard card({test::selectOk(0x3F00), test::selectOk(0x7F10)});
    sim::SimulatorTransport reader(card);
    Counting counting(reader);
    CardChannel channel;
    channel.SetCardHandle(sim::kSimulatedHandle);
    EXPECT_EQ(channel.select(0x3F00).category(), StatusCategory::kTransportFailure)
        << "a channel without a transport reaches no reader";
    {
        channel::ScopedTransport scoped(channel, counting);
        EXPECT_TRUE(channel.select(0x3F00).hasResponseWaiting());
        EXPECT_TRUE(channel.select(0x7F10).hasResponseWaiting());
    }
    EXPECT_EQ(counting.count, 2);
    EXPECT_EQ(channel.select(0x3F00).category(), StatusCategory::kTransportFailure);
    EXPECT_EQ(card.verify(), "");
}

std::string piece(unsigned fill, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += (i ? " " : "") + test::hex2(fill);
    }
    return text;
}

TEST(ChunkedTransfers, ReadIn255BytePiecesAndStopAtAShortOne) {
    {
        sim::ScriptedCard card({{"A0 B0 00 00 FF", piece(0x11, 255) + " 90 00"},
                                {"A0 B0 00 FF 2D", piece(0x22, 45) + " 90 00"}});
        sim::ScopedCard inserted(card);
        CardChannel channel;
        channel.SetCardHandle(sim::kSimulatedHandle);
        Bytes image(300, 0);
        EXPECT_TRUE(channel.readTransparent(image.data(), image.size()));
        EXPECT_EQ(image[254], 0x11);
        EXPECT_EQ(image[255], 0x22);
        EXPECT_EQ(card.verify(), "");
    }
    {
        sim::ScriptedCard card({{"A0 B0 00 00 FF", piece(0x11, 200) + " 90 00"}});
        sim::ScopedCard inserted(card);
        CardChannel channel;
        channel.SetCardHandle(sim::kSimulatedHandle);
        Bytes image(300, 0);
        const channel::Transfer read = channel.readTransparent(image.data(), image.size());
        EXPECT_FALSE(read) << "a piece answered short is not the file";
        EXPECT_EQ(read.failedPiece, 255u);
        EXPECT_EQ(card.verify(), "");
    }
}

TEST(ChunkedTransfers, UpdateStopsAtTheFirstRefusedPiece) {
    sim::ScriptedCard card(
        {{"A0 D6 00 00 FF " + piece(0x33, 255), "90 00"}, {"A0 D6 00 FF 01 33", "92 40"}});
    sim::ScopedCard inserted(card);
    CardChannel channel;
    channel.SetCardHandle(sim::kSimulatedHandle);
    const Bytes image(256, 0x33);
    const channel::Transfer written = channel.updateTransparent(image.data(), image.size());
    EXPECT_FALSE(written);
    EXPECT_EQ(written.failedPiece, 1u);
    EXPECT_EQ(written.last.category(), StatusCategory::kCardFailure);
    EXPECT_EQ(card.verify(), "");
}

TEST(PathSelection, ReportsTheStepThatFailedAndItsStatus) {
    sim::ScriptedCard card({test::selectOk(0x3F00, 0x1A), {"A0 A4 00 00 02 5F 00", "98 04"}});
    sim::ScopedCard inserted(card);
    CardChannel channel;
    channel.SetCardHandle(sim::kSimulatedHandle);
    std::uint8_t length = 0;
    const channel::PathSelection path =
        channel::SelectPath(channel, channel::files::kConfig, 0x5F00, length);
    EXPECT_FALSE(path.selected());
    EXPECT_FALSE(path.notFound());
    EXPECT_EQ(path.failedStep, 0x5F00);
    EXPECT_EQ(path.failure.sw(), (StatusWord{0x98, 0x04}));
    EXPECT_EQ(length, 0x1A) << "the last step that succeeded";
    EXPECT_EQ(card.verify(), "");
}

}  // namespace
}  // namespace zrn
