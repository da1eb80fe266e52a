// zrn: back up, inspect, edit and restore the phone book and short messages of
// a GSM SIM, in a PC/SC reader or in a simulator card image.
#include <CLI/CLI.hpp>

#include <chrono>
#include <functional>
#include <iostream>

#include "cli/commands/commands.h"
#include "cli/errors.h"
#include "cli/interrupt.h"
#include "cli/progress.h"
#include "cli/text/terminal.h"

namespace {

using namespace zrn::cli;
using namespace zrn::cli::commands;

void addImportOptions(CLI::App& command, ImportOptions& options, bool phonebook) {
    command.add_option("FILE", options.file, "File to read ('-' for standard input)")->required();
    if (phonebook) {
        command
            .add_option("--format", options.format,
                        "json, vcard, csv or raw (default: from the file)")
            ->check(CLI::IsMember({"json", "vcard", "csv", "raw"}));
        command
            .add_option("--plus-as", options.plusAs, "Store a leading '+' as this prefix (only 00)")
            ->check(CLI::IsMember({"00"}));
        command.add_flag("--allow-loss", options.allowLoss,
                         "Write even when texts must be cut or entries dropped to fit the card");
        command.add_option("--charset", options.charset,
                           "Charset of a CSV or vCard file that is not UTF-8 (GBK, windows-1252, "
                           "UTF-16LE, ...); UTF-16 with a byte-order mark is found without it");
    } else {
        command.add_option("--format", options.format, "json or raw (default: from the file)")
            ->check(CLI::IsMember({"json", "raw"}));
    }
    command.add_flag("--dry-run", options.dryRun,
                     "Show exactly what would be written; write nothing");
    auto* backup = command.add_option("--backup", options.backup,
                                      "Save the card's current contents here before writing");
    command.add_flag("--no-backup", options.noBackup, "Do not save a backup before writing")
        ->excludes(backup);
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"zrn: back up, inspect, edit and restore a SIM's phone book and messages"};
    app.require_subcommand(1);
    GlobalOptions global;
    app.add_option("--reader", global.session.reader,
                   "Reader name (or part of it) or index (default: the first with a card)");
    app.add_option("--sim", global.session.simImage,
                   "Use a simulator card image (JSON) instead of a reader; writes go back to it");
    app.add_option("--pin-env", global.session.pinEnv,
                   "Environment variable holding the PIN (CHV1); otherwise a prompt without echo");
    app.add_flag("--force-last-attempt", global.session.forceLastAttempt,
                 "Present the PIN even when the card has one attempt left");
    app.add_option("--trace", global.session.tracePath,
                   "Write every exchange with the card to FILE, one line each (PINs masked)");
    int cardWait = 10;
    app.add_option("--card-wait", cardWait,
                   "Seconds to wait for a card another program is using (default 10)")
        ->check(CLI::Range(1, 3600));
    app.add_flag_callback(
        "--no-progress", [] { Progress::setEnabled(false); }, "Never draw a progress bar");

    std::function<int()> action;
    auto* readersCommand = app.add_subcommand("readers", "List the PC/SC readers, cards and ATRs");
    readersCommand->callback([&] { action = [&] { return readers(global); }; });

    auto* infoCommand =
        app.add_subcommand("info", "Layout, capacities, used and free entries, ICCID, PIN state");
    infoCommand->callback([&] { action = [&] { return info(global); }; });

    auto* showCommand = app.add_subcommand("show", "The phone book and the messages, for people");
    showCommand->callback([&] { action = [&] { return show(global); }; });

    auto* phonebook = app.add_subcommand("phonebook", "Export or import the phone book");
    phonebook->require_subcommand(1);
    ExportOptions phonebookOut;
    auto* pbExport = phonebook->add_subcommand("export", "Write the phone book to a file");
    pbExport->add_option("--format", phonebookOut.format, "json (default), vcard, csv, raw or text")
        ->check(CLI::IsMember({"json", "vcard", "csv", "raw", "text"}));
    pbExport->add_option("-o,--output", phonebookOut.output,
                         "File to write ('-': standard output)");
    pbExport->callback([&] { action = [&] { return phonebookExport(global, phonebookOut); }; });
    ImportOptions phonebookIn;
    auto* pbImport = phonebook->add_subcommand("import", "Replace the phone book with a file's");
    addImportOptions(*pbImport, phonebookIn, true);
    pbImport->callback([&] { action = [&] { return phonebookImport(global, phonebookIn); }; });

    auto* sms = app.add_subcommand("sms", "Export or import the short messages");
    sms->require_subcommand(1);
    ExportOptions smsOut;
    auto* smsExportCommand = sms->add_subcommand("export", "Write the messages to a file");
    smsExportCommand->add_option("--format", smsOut.format, "json (default), text or raw")
        ->check(CLI::IsMember({"json", "text", "raw"}));
    smsExportCommand->add_option("-o,--output", smsOut.output,
                                 "File to write ('-': standard output)");
    smsExportCommand->add_flag("--deleted", smsOut.deleted,
                               "Also the deleted messages still held by free records, marked so");
    smsExportCommand->callback([&] { action = [&] { return smsExport(global, smsOut); }; });
    ImportOptions smsIn;
    auto* smsImportCommand = sms->add_subcommand("import", "Replace the messages with a file's");
    addImportOptions(*smsImportCommand, smsIn, false);
    smsImportCommand->callback([&] { action = [&] { return smsImport(global, smsIn); }; });

    ExportOptions backupOut;
    backupOut.output.clear();
    auto* backupCommand =
        app.add_subcommand("backup", "Save phone book and messages, raw and decoded, to JSON");
    backupCommand->add_option(
        "-o,--output", backupOut.output,
        "File to write ('-': standard output; default: zrn-backup-TIME.json)");
    backupCommand->callback([&] { action = [&] { return backup(global, backupOut); }; });

    ImportOptions restoreIn;
    auto* restoreCommand = app.add_subcommand("restore", "Write a backup back to the card");
    restoreCommand->add_option("FILE", restoreIn.file, "Backup made by zrn backup")->required();
    restoreCommand->add_flag("--dry-run", restoreIn.dryRun,
                             "Show what would be written; write nothing");
    auto* restoreBackup = restoreCommand->add_option("--backup", restoreIn.backup,
                                                     "Save the card's current contents here first");
    restoreCommand->add_flag("--no-backup", restoreIn.noBackup, "Do not save a backup first")
        ->excludes(restoreBackup);
    restoreCommand->add_flag("--allow-loss", restoreIn.allowLoss,
                             "Write even when the backup must be cut to fit this card");
    restoreCommand->add_option("--plus-as", restoreIn.plusAs, "Store a leading '+' as 00")
        ->check(CLI::IsMember({"00"}));
    restoreCommand->callback([&] { action = [&] { return restore(global, restoreIn); }; });

    std::string code;
    auto* errmsgCommand =
        app.add_subcommand("errmsg", "The library's message for a result code, with a gloss");
    errmsgCommand->add_option("CODE", code, "Result code")->required();
    errmsgCommand->callback([&] { action = [&] { return errmsg(code); }; });

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int rv = app.exit(e);
        return rv == 0 ? kExitOk : kExitUsage;
    }
    if (!action) {
        return kExitUsage;
    }
    global.session.cardWait = std::chrono::seconds(cardWait);
    installSignalHandlers();
    return runCommand(action);
}
