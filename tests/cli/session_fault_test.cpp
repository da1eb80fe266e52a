// The tool's writing commands (backup, phonebook import, restore) run in this
// process on simulator cards of both layouts, with one fault at every command
// in turn: a status word of each class, or a failed exchange. A run may fail,
// but never end with 0 and a result (card image, backup file) other than the
// fault-free run's, and never write to the card after a read of the steps
// before the write failed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/commands/commands.h"
#include "cli/errors.h"
#include "cli/interrupt.h"
#include "cli/progress.h"
#include "sim/card_image.h"
#include "sim/samples.h"
#include "tests/cli/session_harness.h"

namespace zrn::cli {
namespace {

using test::Fault;
using test::FaultAt;
using test::kFaults;
using test::Workspace;

enum class Command { kBackup, kImport, kRestore };

const char* commandName(Command c) {
    return c == Command::kBackup   ? "backup"
           : c == Command::kImport ? "phonebook import"
                                   : "restore";
}

// A card image, a backup to restore and a book to import, in a folder.
class Sweep : public testing::TestWithParam<std::tuple<Command, bool>> {
  protected:
    void SetUp() override {
        Progress::setEnabled(false);
        const bool extended = std::get<1>(GetParam());
        original_ = sim::serializeImage(extended ? sim::extendedSample() : sim::standardSample());
        ws_.spit("book.vcf",
                 "BEGIN:VCARD\nVERSION:3.0\nFN:Fault Sweep\nTEL:004930123456\nEND:VCARD\n"
                 "BEGIN:VCARD\nVERSION:3.0\nFN:Second\nTEL:0123\nEND:VCARD\n");
        if (command() == Command::kRestore) {
            // The backup of the sample, restored onto the card after an import.
            ws_.spit("card.json", original_);
            ASSERT_EQ(ws_.runCommand([&](const commands::GlobalOptions& g) {
                             return commands::backup(g, backupOptions("restore-me.json"));
                         })
                          .exitCode,
                      kExitOk);
            commands::ImportOptions import;
            import.file = ws_.path("book.vcf");
            import.noBackup = true;
            ASSERT_EQ(ws_.runCommand([&](const commands::GlobalOptions& g) {
                             return commands::phonebookImport(g, import);
                         })
                          .exitCode,
                      kExitOk);
            original_ = ws_.slurp("card.json");
        }
    }

    Command command() const { return std::get<0>(GetParam()); }

    commands::ExportOptions backupOptions(const std::string& name) const {
        commands::ExportOptions options;
        options.output = ws_.path(name);
        return options;
    }

    // One run of the command on a fresh copy of the card.
    test::Run run(std::optional<FaultAt::Plan> plan) {
        ws_.spit("card.json", original_);
        std::filesystem::remove(ws_.path("out.json"));
        commands::ImportOptions write;
        write.backup = ws_.path("out.json");
        return ws_.runCommand(
            [&](const commands::GlobalOptions& g) {
                switch (command()) {
                    case Command::kBackup:
                        return commands::backup(g, backupOptions("out.json"));
                    case Command::kImport:
                        write.file = ws_.path("book.vcf");
                        return commands::phonebookImport(g, write);
                    case Command::kRestore:
                        write.file = ws_.path("restore-me.json");
                        return commands::restore(g, write);
                }
                return static_cast<int>(kExitUsage);
            },
            plan);
    }

    Workspace ws_;
    std::string original_;
};

TEST_P(Sweep, OneFaultAtEveryCommandNeverGivesADifferentSuccess) {
    const test::Run clean = run(std::nullopt);
    ASSERT_EQ(clean.exitCode, kExitOk) << clean.err;
    const std::string cleanCard = ws_.slurp("card.json");
    const std::string cleanBackup = test::withoutTime(ws_.slurp("out.json"));
    ASSERT_FALSE(cleanBackup.empty());
    ASSERT_GT(clean.commands, 20u);
    // Where the fault-free run first writes (never, for a backup).
    const std::size_t firstWrite = clean.firstUpdate.value_or(clean.commands + 1);
    if (command() != Command::kBackup) {
        ASSERT_TRUE(clean.firstUpdate.has_value());
        ASSERT_NE(cleanCard, original_);
    }

    std::size_t failures = 0;
    std::vector<std::string> wrong;  // one line per run that broke a promise
    for (const Fault& fault : kFaults) {
        for (std::size_t at = 1; at <= clean.commands; ++at) {
            const std::string where = std::string(commandName(command())) + ", " + fault.name +
                                      " at command " + std::to_string(at) + ": ";
            const test::Run faulty = run(FaultAt::Plan{at, fault});
            const std::string card = ws_.slurp("card.json");
            const std::string backup = test::withoutTime(ws_.slurp("out.json"));
            const std::string said = " (" + test::firstLine(faulty.err) + ")";
            if (faulty.exitCode == kExitOk) {
                if (card != cleanCard) {
                    wrong.push_back(where + "exit 0, card " + test::difference(card, cleanCard));
                }
                if (backup != cleanBackup) {
                    wrong.push_back(where + "exit 0, backup " +
                                    test::difference(backup, cleanBackup));
                }
                continue;
            }
            ++failures;
            if (faulty.exitCode != kExitCard) {
                wrong.push_back(where + "exit " + std::to_string(faulty.exitCode) + said);
            }
            if (!backup.empty() && backup != cleanBackup) {
                wrong.push_back(where + "partial backup " + test::difference(backup, cleanBackup));
            }
            if (at < firstWrite && (faulty.updatesAfterFault != 0 || card != original_ ||
                                    faulty.err.find("went through") != std::string::npos)) {
                wrong.push_back(where + "wrote after a failed read" + said);
            }
        }
    }
    std::cout << commandName(command()) << ": " << clean.commands << " commands x "
              << std::size(kFaults) << " faults: " << failures << " runs failed (exit 2), "
              << std::size(kFaults) * clean.commands - failures
              << " ended with the fault-free result\n";
    EXPECT_TRUE(wrong.empty()) << wrong.size() << " run(s) broke a promise:\n"
                               << test::firstLines(wrong, 25);
    // The sweep reached the card: most faults must be reported.
    EXPECT_GT(failures, clean.commands);
}

INSTANTIATE_TEST_SUITE_P(WritingCommands, Sweep,
                         testing::Combine(testing::Values(Command::kBackup, Command::kImport,
                                                          Command::kRestore),
                                          testing::Bool()),
                         [](const testing::TestParamInfo<Sweep::ParamType>& param) {
                             const Command c = std::get<0>(param.param);
                             return std::string(c == Command::kBackup   ? "Backup"
                                                : c == Command::kImport ? "Import"
                                                                        : "Restore") +
                                    (std::get<1>(param.param) ? "Extended" : "Standard");
                         });

}  // namespace
}  // namespace zrn::cli
