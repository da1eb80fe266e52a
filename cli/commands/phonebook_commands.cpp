#include <iostream>
#include <sstream>

#include "cli/card_data.h"
#include "cli/commands/commands.h"
#include "cli/commands/support.h"
#include "cli/element_stream.h"
#include "cli/errors.h"
#include "cli/formats/csv.h"
#include "cli/formats/json_format.h"
#include "cli/formats/vcard.h"
#include "cli/text/alpha.h"
#include "cli/text/charset.h"
#include "cli/text/terminal.h"

namespace zrn::cli::commands {

namespace {

std::string codingOf(const Bytes& value) {
    return std::string(text::alphaFormName(text::alphaFormOf(value))) +
           (value.empty() ? "" : " " + toHex(value));
}

}  // namespace

Outcome<formats::ImportedPhonebook> parsePhonebookFile(const std::string& format,
                                                       const std::string& content,
                                                       const std::string& charset) {
    using Result = Outcome<formats::ImportedPhonebook>;
    if (format == "json") {
        auto book = formats::parsePhonebookJson(content);
        if (!book) {
            return Result::failure(book.error());
        }
        return formats::ImportedPhonebook{std::move(book.value()), {}, {}};
    }
    if (format == "vcard") {
        return formats::parseVcards(content, charset);
    }
    if (format == "csv") {
        return formats::parseCsv(content, charset);
    }
    if (format == "raw") {
        const ByteView bytes(reinterpret_cast<const std::uint8_t*>(content.data()), content.size());
        auto raw = parsePhonebookStream(bytes);
        if (!raw) {
            return Result::failure(raw.error());
        }
        return formats::ImportedPhonebook{decodePhonebook(raw.value()), {}, {}};
    }
    return Result::failure("unknown format \"" + format + "\" (json, vcard, csv or raw)");
}

std::string dryRunText(const EncodedPhonebook& encoded, const CardSession& session) {
    std::ostringstream out;
    out << "Dry run: nothing is written. The " << session.layoutName() << "-layout card would hold "
        << encoded.raw.contacts.size() << " contact(s), a stream of " << encoded.stream.size()
        << " bytes:\n";
    if (session.extended()) {
        for (std::size_t g = 0; g < encoded.raw.groups.size(); ++g) {
            if (!encoded.raw.groups[g].empty()) {
                out << "  group " << g + 1 << ": "
                    << text::terminalText(encoded.stored.groups[g].name) << "  ["
                    << codingOf(encoded.raw.groups[g]) << "]\n";
            }
        }
    }
    for (std::size_t i = 0; i < encoded.raw.contacts.size(); ++i) {
        const RawContact& raw = encoded.raw.contacts[i];
        const Contact& c = encoded.stored.contacts[i];
        out << "  " << i + 1 << ". " << (c.name.empty() ? "(no name)" : text::terminalText(c.name))
            << "  [" << codingOf(raw.name) << "]\n";
        for (const RawNumber& n : raw.numbers) {
            out << "       " << numberTypeName(n.type) << ": "
                << text::terminalText(rawNumberText(n)) << "\n";
        }
        for (const Bytes& a : raw.adi) {
            if (!a.empty()) {
                out << "       note: " << text::terminalText(text::decodeAlpha(a)) << "  ["
                    << codingOf(a) << "]\n";
            }
        }
        if (!c.groups.empty()) {
            out << "       groups:";
            for (const int g : c.groups) {
                out << " " << g;
            }
            out << "\n";
        }
    }
    return out.str();
}

void reportIssues(const std::vector<Issue>& issues) {
    for (const Issue& issue : issues) {
        std::cerr << (issue.kind == Issue::Kind::kRefused ? "refused: " : "not stored as given: ")
                  << text::terminalText(issue.where + ": " + issue.what) << "\n";
    }
}

void checkIssues(const EncodedPhonebook& encoded, const ImportOptions& options) {
    reportIssues(encoded.issues);
    if (encoded.refused()) {
        fail(kExitUsage, "nothing was written: fix the refused entries above and run again");
    }
    if (encoded.lossy() && !options.allowLoss && !options.dryRun) {
        fail(kExitUsage,
             "nothing was written: the entries above cannot be stored as given. "
             "Run with --dry-run to see what would be stored, then with --allow-loss "
             "to write it anyway.");
    }
}

void saveBackupBeforeWrite(CardSession& session, const ImportOptions& options,
                           const CardCopy& copy) {
    if (!options.noBackup) {
        const std::string path = saveBackup(session, options.backup, copy);
        session.noteBackup(path);
        std::cerr << "backup of the card written to " << path << "\n";
    }
}

CardCopy backupBeforeWrite(CardSession& session, const ImportOptions& options, bool phonebook,
                           bool messages) {
    CardCopy copy = readCard(session, phonebook, messages);
    saveBackupBeforeWrite(session, options, copy);
    return copy;
}

void writeEncodedPhonebook(CardSession& session, const EncodedPhonebook& encoded,
                           const images::CardImages& before) {
    writePhonebook(session, encoded, before);
}

int phonebookExport(const GlobalOptions& global, const ExportOptions& options) {
    const std::string format = options.format.empty() ? "json" : options.format;
    if (format != "json" && format != "vcard" && format != "csv" && format != "raw" &&
        format != "text") {
        fail(kExitUsage, "unknown format \"" + format + "\" (json, vcard, csv, raw or text)");
    }
    auto session = CardSession::open(global.session);
    const PhonebookSnapshot snapshot = readPhonebook(*session);
    std::string data;
    if (format == "json") {
        data = formats::phonebookToJson(snapshot.phonebook, session->layoutName())
                   .dump(2, ' ', false, nlohmann::json::error_handler_t::replace) +
               "\n";
    } else if (format == "vcard") {
        data = formats::writeVcards(snapshot.phonebook);
    } else if (format == "csv") {
        data = formats::writeCsv(snapshot.phonebook);
    } else if (format == "text") {
        data = phonebookText(snapshot.phonebook);
    } else {
        data.assign(snapshot.stream.begin(), snapshot.stream.end());
    }
    writeOutput(options.output, data);
    return kExitOk;
}

// The format of a file the user did not name one for, found in its text even
// when that is UTF-16.
std::string formatOfImport(const ImportOptions& options, const std::string& content) {
    if (!options.format.empty() || content.empty() || content[0] == '\x01') {
        return detectFormat(options.format, options.file, content);
    }
    const auto sniffed = text::decodeTextFile(
        std::string_view(content).substr(0, 8192),
        text::isWideCharset(options.charset) ? options.charset : std::string());
    return detectFormat(options.format, options.file, sniffed ? sniffed->text : content);
}

int phonebookImport(const GlobalOptions& global, const ImportOptions& options) {
    const std::string content = readInput(options.file);
    const std::string format = formatOfImport(options, content);
    if (!options.charset.empty() && format != "csv" && format != "vcard") {
        fail(kExitUsage, "--charset applies to CSV and vCard files only");
    }
    auto imported = parsePhonebookFile(format, content, options.charset);
    if (!imported) {
        fail(kExitUsage, options.file + ": " + imported.error());
    }
    for (const std::string& w : imported->warnings) {
        std::cerr << text::terminalText(options.file + ": " + w) << "\n";
    }
    if (!options.plusAs.empty() && options.plusAs != "00") {
        fail(kExitUsage, "--plus-as takes 00 only");
    }
    auto session = CardSession::open(global.session);
    EncodeOptions encodeOptions;
    encodeOptions.plusAs00 = options.plusAs == "00";
    EncodedPhonebook encoded = encodePhonebook(imported->phonebook, session->room(), encodeOptions);
    // What the file holds that never reached the phone book is a loss like any other.
    std::vector<Issue> fileLosses;
    for (const std::string& loss : imported->losses) {
        fileLosses.push_back({Issue::Kind::kLoss, options.file, loss});
    }
    encoded.issues.insert(encoded.issues.begin(), fileLosses.begin(), fileLosses.end());
    checkIssues(encoded, options);
    // The card as it is: what only the differences are written over.
    const CardCopy before = readCard(*session, true, false);
    const PhonebookWrite write = planPhonebook(*session, encoded, before.images);
    if (options.dryRun) {
        std::cout << dryRunText(encoded, *session) << planText(write.plan);
        return kExitOk;
    }
    if (write.plan.nothingToWrite()) {
        std::cerr << "nothing to write: the card already holds this phone book; the card and "
                     "its backups were left alone\n";
        return kExitOk;
    }
    saveBackupBeforeWrite(*session, options, before);
    writePhonebook(*session, write, before.images);
    return kExitOk;
}

}  // namespace zrn::cli::commands
