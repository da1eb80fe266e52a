// The tool's session around a write, in this process on simulator cards:
// a signal during a write, a card whose shape changes before the write, a
// read-back that fails after a complete write, and the trace.
#include <gtest/gtest.h>

#include <csignal>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commands/commands.h"
#include "cli/errors.h"
#include "cli/interrupt.h"
#include "cli/progress.h"
#include "cli/trace.h"
#include "sim/card_image.h"
#include "sim/samples.h"
#include "tests/cli/session_harness.h"

namespace zrn::cli {
namespace {

using test::Workspace;

constexpr std::uint16_t kAdn = 0x6F3A;
constexpr std::uint16_t kTelecom = 0x7F10;

std::vector<Bytes> adnRecords(const sim::CardImage& image) {
    std::vector<Bytes> records;
    const sim::SimFile* adn = image.find({kTelecom, kAdn});
    for (std::size_t i = 0; adn != nullptr && i < adn->recordCount(); ++i) {
        records.push_back(image.record({kTelecom, kAdn}, i));
    }
    return records;
}

class Session : public testing::Test {
  protected:
    void SetUp() override {
        Progress::setEnabled(false);
        installSignalHandlers();
        original_ = sim::standardSample();
        ws_.spit("card.json", sim::serializeImage(original_));
        // Five contacts where the card held twenty: a write of EF_ADN that
        // changes records at the front and clears the ones after.
        std::string book;
        for (int i = 0; i < 5; ++i) {
            book += "BEGIN:VCARD\nVERSION:3.0\nFN:Person " + std::to_string(i) + "\nTEL:0100" +
                    std::to_string(i) + "\nEND:VCARD\n";
        }
        ws_.spit("book.vcf", book);
    }

    test::Run import(std::optional<test::FaultAt::Plan> plan = std::nullopt,
                     test::FaultAt::Hook hook = nullptr, const std::string& trace = "",
                     test::FaultAt::Tamper tamper = nullptr) {
        commands::ImportOptions options;
        options.file = ws_.path("book.vcf");
        options.backup = ws_.path("before.json");
        return ws_.runCommand(
            [&](const commands::GlobalOptions& g) { return commands::phonebookImport(g, options); },
            plan, std::move(hook), trace, std::move(tamper));
    }

    sim::CardImage card() const { return sim::loadImage(ws_.path("card.json")); }

    // The import without faults, on a copy: what the card holds after it.
    sim::CardImage cleanResult(test::Run& clean) {
        clean = import();
        EXPECT_EQ(clean.exitCode, kExitOk) << clean.err;
        sim::CardImage result = card();
        ws_.spit("card.json", sim::serializeImage(original_));
        return result;
    }

    Workspace ws_;
    sim::CardImage original_;
};

TEST_F(Session, ASignalDuringAWriteStopsAfterTheCommandInFlightAndSaysHowToRestore) {
    test::Run clean;
    const sim::CardImage written = cleanResult(clean);
    ASSERT_TRUE(clean.firstUpdate.has_value());
    const std::vector<Bytes> before = adnRecords(original_);
    const std::vector<Bytes> after = adnRecords(written);
    ASSERT_NE(before, after);

    for (const int signal : {SIGINT, SIGTERM}) {
        for (const std::size_t updates : {1u, 4u, 12u}) {
            SCOPED_TRACE("signal " + std::to_string(signal) + " at update " +
                         std::to_string(updates));
            ws_.spit("card.json", sim::serializeImage(original_));
            std::size_t seen = 0;
            std::vector<Bytes> sent;  // the updates that reached the card
            const test::Run run = import(std::nullopt, [&](std::size_t, ByteView command) {
                if (test::isUpdate(command)) {
                    sent.emplace_back(command.begin(), command.end());
                    if (++seen == updates) {
                        std::raise(signal);
                    }
                }
            });
            EXPECT_EQ(run.exitCode, 128 + signal) << run.err;
            // The update that was in flight when the signal came, and nothing after it.
            ASSERT_EQ(sent.size(), updates) << run.err;
            EXPECT_EQ(run.lastUpdate, *clean.firstUpdate + updates - 1) << run.err;
            const std::string records =
                updates == 1 ? "record(s) 1" : "record(s) 1-" + std::to_string(updates);
            EXPECT_NE(run.err.find("file 6F3A: " + records + "."), std::string::npos) << run.err;
            EXPECT_NE(run.err.find("may hold a partial phone book"), std::string::npos);
            EXPECT_NE(run.err.find("zrn --sim " + ws_.path("card.json") + " restore " +
                                   ws_.path("before.json")),
                      std::string::npos)
                << run.err;
            // The image is the card: saved with exactly the updates that reached it.
            std::vector<Bytes> expected = before;
            for (const Bytes& update : sent) {
                ASSERT_EQ(update[1], 0xDC);  // UPDATE RECORD, absolute (P2 04)
                expected.at(update[2] - 1u).assign(update.begin() + 5, update.end());
            }
            EXPECT_EQ(adnRecords(card()), expected);
        }
    }
}

// A card that fails in the middle of a write: exit 2, the partial write
// named, and the exact command that puts the backup back.
TEST_F(Session, ACardFailureDuringAWriteNamesTheRestoreCommand) {
    test::Run clean;
    const sim::CardImage written = cleanResult(clean);
    ASSERT_TRUE(clean.firstUpdate.has_value());
    const test::Run run = import(test::FaultAt::Plan{*clean.firstUpdate + 1, test::kFaults[3]});
    EXPECT_EQ(run.exitCode, kExitCard) << run.err;
    EXPECT_NE(run.err.find("may now hold a partly written phone book"), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("restore " + ws_.path("before.json")), std::string::npos) << run.err;
    EXPECT_NE(card(), original_);
    EXPECT_NE(card(), written);
}

TEST_F(Session, ASignalBeforeTheWriteWritesNothing) {
    for (const std::size_t at : {3u, 40u, 120u}) {
        SCOPED_TRACE("SIGINT at command " + std::to_string(at));
        ws_.spit("card.json", sim::serializeImage(original_));
        std::filesystem::remove(ws_.path("before.json"));
        const test::Run run = import(std::nullopt, [&](std::size_t number, ByteView) {
            if (number == at) {
                std::raise(SIGINT);
            }
        });
        EXPECT_EQ(run.exitCode, 130) << run.err;
        EXPECT_NE(run.err.find("Nothing was written to the card."), std::string::npos) << run.err;
        EXPECT_FALSE(run.firstUpdate.has_value());
        EXPECT_EQ(card(), original_);
        EXPECT_FALSE(std::filesystem::exists(ws_.path("before.json")));
    }
}

TEST_F(Session, ASignalDuringTheReadBackSaysTheWriteHadFinished) {
    test::Run clean;
    const sim::CardImage written = cleanResult(clean);
    const test::Run run = import(std::nullopt, [&](std::size_t number, ByteView) {
        if (number == clean.lastUpdate + 3) {
            std::raise(SIGTERM);
        }
    });
    EXPECT_EQ(run.exitCode, 143) << run.err;
    EXPECT_NE(run.err.find("The write of the phone book had finished"), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("may not have been read back"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(" restore " + ws_.path("before.json")), std::string::npos) << run.err;
    EXPECT_EQ(card(), written);
}

TEST_F(Session, AFailedReadBackAfterACompleteWriteSaysTheWriteWentThrough) {
    test::Run clean;
    const sim::CardImage written = cleanResult(clean);
    for (const test::Fault& fault : test::kFaults) {
        for (std::size_t at = clean.lastUpdate + 1; at <= clean.commands; at += 7) {
            SCOPED_TRACE(std::string(fault.name) + " at command " + std::to_string(at));
            ws_.spit("card.json", sim::serializeImage(original_));
            const test::Run run = import(test::FaultAt::Plan{at, fault});
            EXPECT_EQ(run.exitCode, kExitCard) << run.err;
            EXPECT_TRUE(run.err.find("The check could not be made") != std::string::npos ||
                        run.err.find("it was not checked") != std::string::npos)
                << run.err;
            EXPECT_EQ(run.err.find("nothing was changed"), std::string::npos) << run.err;
            EXPECT_EQ(card(), written);
        }
    }
}

TEST_F(Session, ACardWhoseGeometryChangedBeforeTheWriteIsNotWritten) {
    // Another program changes the card after the command began: the reads of
    // the configuration answer otherwise from then on. The reading of the
    // card's files that comes before every write sees it.
    sim::CardImage extended = sim::extendedSample();
    // READ BINARY of the configuration's 20 bytes.
    const auto isConfigRead = [](ByteView command) {
        return command.size() == 5 && command[1] == 0xB0 && command[4] == 20;
    };
    std::size_t lastConfigRead = 0;
    ws_.spit("card.json", sim::serializeImage(extended));
    const test::Run clean =
        import(std::nullopt, nullptr, "",
               [&](std::size_t number, ByteView command, std::uint8_t*, std::uint32_t&) {
                   if (isConfigRead(command)) {
                       lastConfigRead = number;
                   }
               });
    ASSERT_EQ(clean.exitCode, kExitOk) << clean.err;
    ASSERT_TRUE(clean.firstUpdate.has_value());
    ASSERT_LT(lastConfigRead, *clean.firstUpdate);

    // From the last reading of the configuration before the write on, the
    // card says another geometry.
    ws_.spit("card.json", sim::serializeImage(extended));
    const test::Run run = import(
        std::nullopt, nullptr, "",
        [&](std::size_t number, ByteView command, std::uint8_t* response, std::uint32_t& length) {
            if (number >= lastConfigRead && isConfigRead(command) && length > 3) {
                response[3] ^= 0x01;
            }
        });
    EXPECT_EQ(run.exitCode, kExitCard) << run.err;
    EXPECT_NE(run.err.find("answered differently while it was read"), std::string::npos) << run.err;
    EXPECT_FALSE(run.firstUpdate.has_value());
    EXPECT_EQ(card(), extended);
}

TEST_F(Session, TheTraceHoldsEveryExchangeWithTheChvDataMasked) {
    const std::string pinCard = sim::serializeImage(sim::pinSample());
    ::setenv("ZRN_SESSION_TEST_PIN", sim::kPinSamplePin, 1);
    const auto exportBook = [&](std::optional<test::FaultAt::Plan> plan, test::FaultAt::Hook hook) {
        ws_.spit("card.json", pinCard);
        return ws_.runCommand(
            [&](const commands::GlobalOptions& g) {
                commands::GlobalOptions withPin = g;
                withPin.session.pinEnv = "ZRN_SESSION_TEST_PIN";
                commands::ExportOptions options;
                options.output = ws_.path("book.json");
                return commands::phonebookExport(withPin, options);
            },
            plan, std::move(hook), ws_.path("trace.txt"));
    };
    // A transport failure at the fifth READ RECORD of the phone book.
    std::vector<std::size_t> recordReads;
    exportBook(std::nullopt, [&](std::size_t number, ByteView command) {
        if (command.size() > 1 && command[1] == 0xB2) {
            recordReads.push_back(number);
        }
    });
    ASSERT_GT(recordReads.size(), 5u);
    const std::size_t failing = recordReads[4];
    ::setenv("ZRN_SESSION_TEST_PIN", sim::kPinSamplePin, 1);
    const test::Run run = exportBook(test::FaultAt::Plan{failing, test::kFaults[5]}, nullptr);
    EXPECT_EQ(run.exitCode, kExitCard) << run.err;

    std::istringstream lines(ws_.slurp("trace.txt"));
    std::vector<std::string> trace;
    for (std::string line; std::getline(lines, line);) {
        trace.push_back(line);
    }
    // The failed exchange ends the read: every command the tool sent is there.
    ASSERT_EQ(trace.size(), run.commands);
    const std::regex exchange(
        "(([0-9A-F]{2}|\\*\\*) )+=> (([0-9A-F]{2} )*[0-9A-F]{2}|PC/SC error 0x[0-9A-F]{8})");
    for (const std::string& line : trace) {
        EXPECT_TRUE(std::regex_match(line, exchange)) << line;
    }
    const std::string& failed = trace[failing - 1];
    EXPECT_EQ(failed, failed.substr(0, failed.find("=>")) + "=> PC/SC error 0x80100016");
    std::size_t verifies = 0;
    for (const std::string& line : trace) {
        if (line.rfind("A0 20 ", 0) == 0) {
            ++verifies;
            EXPECT_EQ(line, "A0 20 00 01 08 ** ** ** ** ** ** ** ** => 90 00");
        }
    }
    EXPECT_EQ(verifies, 1u);
    // The PIN's digits in ASCII (31 32 33 34) appear nowhere.
    EXPECT_EQ(ws_.slurp("trace.txt").find("31 32 33 34"), std::string::npos);
}

TEST(TraceLine, MasksTheDataOfEveryChvCommandAndKeepsTheHeader) {
    struct Case {
        Bytes command;
        std::string line;
    };
    const Bytes answer = {0x90, 0x00};
    const std::vector<Case> cases = {
        {{0xA0, 0x20, 0x00, 0x01, 0x02, 0x31, 0x32}, "A0 20 00 01 02 ** ** => 90 00"},
        {{0xA0, 0x24, 0x00, 0x01, 0x02, 0x31, 0x32}, "A0 24 00 01 02 ** ** => 90 00"},
        {{0xA0, 0x26, 0x00, 0x01, 0x01, 0x31}, "A0 26 00 01 01 ** => 90 00"},
        {{0xA0, 0x28, 0x00, 0x01, 0x01, 0x31}, "A0 28 00 01 01 ** => 90 00"},
        {{0xA0, 0x2C, 0x00, 0x00, 0x01, 0x31}, "A0 2C 00 00 01 ** => 90 00"},
        {{0xA0, 0xDC, 0x01, 0x04, 0x01, 0x31}, "A0 DC 01 04 01 31 => 90 00"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(traceLine(c.command, 0, answer), c.line);
    }
    EXPECT_EQ(traceLine(cases[5].command, 0x80100016L, {}),
              "A0 DC 01 04 01 31 => PC/SC error 0x80100016");
}

}  // namespace
}  // namespace zrn::cli
