// The benchmark machinery itself: the wire model, the record-and-replay
// exchange, and that every benchmarked call sends exactly its prescribed commands.
#include <gtest/gtest.h>

#include "bench/replay_transport.h"
#include "bench/scenarios.h"
#include "bench/wire_accounting.h"
#include "channel/card_channel.h"
#include "sim/card_builder.h"
#include "sim/sim_card.h"
#include "zrn.h"

namespace zrn::bench {
namespace {

TapeStep step(std::uint32_t commandLength, std::uint32_t responseLength) {
    TapeStep s;
    s.commandLength = commandLength;
    s.responseLength = responseLength;
    return s;
}

TEST(WireAccounting, CountsBytesEachWayAndOneProcedureByteWhenDataMoves) {
    struct Case {
        const char* what;
        std::uint32_t commandLength;
        std::uint32_t responseLength;
        std::size_t procedureBytes;
    };
    const Case cases[] = {
        {"SELECT: data to the card", 7, 2, 1},
        {"GET RESPONSE: data from the card", 5, 17, 1},
        {"UPDATE RECORD of 176 bytes", 181, 2, 1},
        {"READ refused at once: status words only", 5, 2, 0},
    };
    for (const Case& c : cases) {
        Tape tape;
        tape.steps.push_back(step(c.commandLength, c.responseLength));
        const WireCount count = countWire(tape);
        EXPECT_EQ(count.commands, 1u) << c.what;
        EXPECT_EQ(count.bytesToCard, c.commandLength) << c.what;
        EXPECT_EQ(count.bytesFromCard, c.responseLength) << c.what;
        EXPECT_EQ(count.procedureBytes, c.procedureBytes) << c.what;
    }
}

TEST(WireAccounting, LinkTimeIsTwelveEtuPerCharacter) {
    Tape tape;
    tape.steps.push_back(step(7, 2));   // 9 bytes + 1 procedure byte
    tape.steps.push_back(step(5, 17));  // 22 bytes + 1 procedure byte
    const WireCount count = countWire(tape);
    ASSERT_EQ(count.characters(), 33u);
    EXPECT_DOUBLE_EQ(linkSeconds(count, kDefaultBaud), 33 * 12 / 9600.0);
    EXPECT_DOUBLE_EQ(linkSeconds(count, kFastBaud), 33 * 12 / 223200.0);
}

class ReplayTransport : public ::testing::Test {
  protected:
    ReplayTransport() : card_(sim::buildStandardCard()) { channel_.SetCardHandle(1); }
    ~ReplayTransport() override { stopReplay(); }

    // The ADN path and the first record, as a reader would send them.
    bool readFirstAdnRecord(std::uint8_t recordIndex, Bytes& record) {
        std::uint8_t length = 0;
        record.assign(28, 0);
        return channel_.SelectFile(0x3F00, length) && channel_.SelectFile(0x7F10, length) &&
               channel_.SelectFile(0x6F3A, length) &&
               channel_.ReadRecord(recordIndex, record.data(), 28);
    }

    sim::SimCard card_;
    channel::CardChannel channel_;
};

TEST_F(ReplayTransport, RecordsTheCardsAnswersAndReplaysThemInOrder) {
    sim::putAdnRecord(card_.image(), 1, sim::asciiBytes("Anna"), "12345");
    Tape tape;
    Bytes recorded;
    startRecording(card_, tape);
    ASSERT_TRUE(readFirstAdnRecord(0, recorded));
    stopRecording();
    ASSERT_EQ(tape.size(), card_.commandCount());
    for (std::size_t i = 0; i < tape.size(); ++i) {
        const Bytes answer(tape.answer(tape.steps[i]),
                           tape.answer(tape.steps[i]) + tape.steps[i].responseLength);
        EXPECT_EQ(answer, card_.log()[i].response) << "command " << i + 1;
    }

    startReplay(tape);
    for (int run = 0; run < 2; ++run) {
        rewind();
        Bytes replayed;
        ASSERT_TRUE(readFirstAdnRecord(0, replayed));
        EXPECT_EQ(replayed, recorded);
        EXPECT_EQ(replayPosition(), tape.size());
    }
    EXPECT_TRUE(replayFaithful());
    EXPECT_EQ(card_.commandCount(), tape.size()) << "the replay must not reach the card";
}

TEST_F(ReplayTransport, RefusesACommandThatDiffersFromTheRecordedOne) {
    Tape tape;
    Bytes record;
    startRecording(card_, tape);
    ASSERT_TRUE(readFirstAdnRecord(0, record));
    stopRecording();

    startReplay(tape);
    EXPECT_FALSE(readFirstAdnRecord(1, record));  // READ RECORD 2 instead of 1
    EXPECT_FALSE(replayFaithful());
    EXPECT_NE(replayError().find("command 4"), std::string::npos) << replayError();
}

TEST_F(ReplayTransport, RefusesCommandsBeyondTheTape) {
    Tape tape;
    startReplay(tape);
    std::uint8_t length = 0;
    EXPECT_FALSE(channel_.SelectFile(0x3F00, length));
    EXPECT_FALSE(replayFaithful());
    EXPECT_NE(replayError().find("more commands"), std::string::npos) << replayError();
}

// A library change that sends one command more or less than the command
// sequence prescribes shows here before it shows on a slow card link.
TEST(Scenarios, EveryCallRecordsAndSendsExactlyThePrescribedCommands) {
    for (const std::string& name : scenarioNames()) {
        Scenario& s = scenario(name);
        ASSERT_TRUE(s.problem.empty()) << name << ": " << s.problem;
        EXPECT_EQ(s.operation.size(), s.prescribedCommands) << name;
        ASSERT_TRUE(prepareReplay(s)) << name << ": " << s.problem;
        EXPECT_TRUE(replayedCallIsFaithful(s, s.call())) << name << ": " << s.problem;
    }
}

}  // namespace
}  // namespace zrn::bench
