#include <iomanip>
#include <iostream>
#include <map>
#include <sstream>

#include "cli/card_data.h"
#include "cli/commands/commands.h"
#include "cli/commands/support.h"
#include "cli/errors.h"
#include "cli/formats/json_format.h"
#include "cli/text/terminal.h"
#include "cli/image_json.h"
#include "results/result_codes.h"
#include "sim/card_image.h"

namespace zrn::cli::commands {

namespace {

std::vector<long> configNumbers(const std::string& text) {
    std::vector<long> numbers;
    std::istringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        try {
            numbers.push_back(std::stol(item));
        } catch (const std::exception&) {
            numbers.push_back(0);
        }
    }
    numbers.resize(7, 0);
    return numbers;
}

void line(std::ostream& out, const std::string& label, const std::string& value) {
    out << "  " << std::left << std::setw(26) << label << text::terminalText(value) << "\n";
}

std::string usedOf(std::size_t used, std::size_t capacity) {
    return std::to_string(used) + " used, " +
           std::to_string(capacity > used ? capacity - used : 0) + " free of " +
           std::to_string(capacity);
}

}  // namespace

int readers(const GlobalOptions& global) {
    if (!global.session.simImage.empty()) {
        try {
            const sim::CardImage image = sim::loadImage(global.session.simImage);
            std::cout << "0  simulator (" << text::terminalText(global.session.simImage)
                      << ")  card present  ATR " << toHex(image.atr) << "\n";
        } catch (const std::exception& e) {
            fail(kExitUsage,
                 "cannot load the card image " + global.session.simImage + ": " + e.what());
        }
        return kExitOk;
    }
    const auto list = listReaders();
    if (list.empty()) {
        fail(kExitCard,
             "no PC/SC reader is connected. To try the tool without a card: "
             "zrn --sim samples/extended.json info");
    }
    for (std::size_t i = 0; i < list.size(); ++i) {
        std::cout << i << "  " << text::terminalText(list[i].name) << "  "
                  << (list[i].cardPresent ? "card present  ATR " + toHex(list[i].atr)
                                          : std::string("no card"))
                  << "\n";
    }
    return kExitOk;
}

int info(const GlobalOptions& global) {
    auto session = CardSession::open(global.session);
    const std::string config = session->configText();
    const auto caps = configNumbers(config);
    const PhonebookSnapshot phonebook = readPhonebook(*session);
    const MessagesSnapshot messages = readMessages(*session);
    std::ostringstream out;
    out << "Card\n";
    line(out, "source", session->source());
    line(out, "ATR", toHex(session->atr()));
    const std::string iccid = session->iccid();
    line(out, "ICCID", iccid.empty() ? "(not readable)" : iccid);
    line(out, "layout", session->layoutName());
    if (session->extended()) {
        line(out, "", "phones and standard SIM tools see only the EF_ADN phone book, not this");
        line(out, "", "layout's contacts, extra numbers, groups and free-text entries");
    }
    const ChvState& chv = session->chv();
    line(out, "PIN (CHV1)",
         !chv.known ? "state unknown"
                    : (chv.enabled ? "enabled" : "disabled") + std::string(", ") +
                          std::to_string(chv.attemptsLeft) + " attempt(s) left");
    out << "Capacities (GetConfig " << config << ")\n";
    static const char* kLabels[] = {"general numbers (ADN)",
                                    "additional numbers",
                                    "messages",
                                    "free-text entries (ADI)",
                                    "groups",
                                    "capacity 6",
                                    "capacity 7"};
    for (std::size_t i = 0; i < 7; ++i) {
        line(out, kLabels[i], std::to_string(caps[i]));
    }
    out << "Used and free\n";
    const PhonebookRoom& room = session->room();
    std::size_t general = 0;
    std::size_t other = 0;
    std::size_t notes = 0;
    for (const RawContact& c : phonebook.raw.contacts) {
        for (const RawNumber& n : c.numbers) {
            (n.type == NumberType::kGeneral ? general : other) += 1;
        }
        for (const Bytes& a : c.adi) {
            notes += a.empty() ? 0u : 1u;
        }
    }
    const std::size_t contacts = phonebook.raw.contacts.size();
    if (room.extended) {
        line(out, "contacts", usedOf(contacts, room.nameSlotCount));
        line(out, "general numbers", usedOf(general, room.adnCount));
        line(out, "additional numbers",
             usedOf(other, room.numberSlotCount > room.adnCount
                               ? room.numberSlotCount - room.adnCount
                               : 0));
        line(out, "free-text entries", usedOf(notes, room.adiCount));
    } else {
        line(out, "contacts (EF_ADN)", usedOf(contacts, room.adnRecordCount));
        if (room.adnRecordCount > 0) {
            line(out, "",
                 "an import fills at most " + std::to_string(room.adnRecordCount - 1) +
                     " (the last record stays empty); a restore of this card's own backup "
                     "keeps every record");
        }
    }
    std::map<std::string, std::size_t> perStore;
    for (const StoredSms& s : messages.stored) {
        ++perStore[s.store];
    }
    line(out, "messages (EF_SMS)", usedOf(perStore["CMS"], session->stores().smsRecords));
    if (session->stores().extraFile) {
        line(out, "messages (extra store)",
             usedOf(perStore["LMS"] + perStore["EMS"], session->stores().extraRecords));
    }
    std::cout << out.str();
    return kExitOk;
}

int show(const GlobalOptions& global) {
    auto session = CardSession::open(global.session);
    const PhonebookSnapshot phonebook = readPhonebook(*session);
    const MessagesSnapshot messages = readMessages(*session);
    std::cout << "Phone book (" << session->layoutName() << " layout, "
              << text::terminalText(session->source()) << ")\n"
              << phonebookText(phonebook.phonebook) << "\nMessages\n"
              << messagesText(messages.stored);
    return kExitOk;
}

int backup(const GlobalOptions& global, const ExportOptions& options) {
    auto session = CardSession::open(global.session);
    const CardCopy copy = readCard(*session, true, true);
    if (options.output.empty() || options.output != "-") {
        const std::string path = saveBackup(*session, options.output, copy);
        std::cerr << "backup written to " << path << "\n";
        return kExitOk;
    }
    writeOutput("-", backupDocument(*session, copy)
                             .dump(2, ' ', false, nlohmann::json::error_handler_t::replace) +
                         "\n");
    return kExitOk;
}

namespace {

// The backup's numbers shown with '+' mark the stream's numbers international,
// contact by contact and number by number, where both agree.
void markInternational(RawPhonebook& raw, const Phonebook& view) {
    if (view.contacts.size() != raw.contacts.size()) {
        return;
    }
    for (std::size_t i = 0; i < raw.contacts.size(); ++i) {
        std::vector<RawNumber>& numbers = raw.contacts[i].numbers;
        const std::vector<PhoneNumber>& shown = view.contacts[i].numbers;
        for (std::size_t n = 0; n < numbers.size() && n < shown.size(); ++n) {
            RawNumber plus = numbers[n];
            plus.international = true;
            numbers[n].international =
                shown[n].number == rawNumberText(plus) && shown[n].number.starts_with('+');
        }
    }
}

// The backup's phone book stream, its numbers marked international as its view shows them.
std::optional<RawPhonebook> backupRaw(const nlohmann::json& doc) {
    const auto& pb = doc["phonebook"];
    Bytes stream;
    if (!pb.is_object() || !pb.contains("stream") || !pb["stream"].is_string() ||
        !fromHex(pb["stream"].get<std::string>(), stream)) {
        return std::nullopt;
    }
    auto raw = parsePhonebookStream(stream);
    if (!raw) {
        return std::nullopt;
    }
    if (auto view = formats::phonebookFromJson(doc)) {
        markInternational(raw.value(), view.value());
    }
    return std::move(raw.value());
}

// The phone book of a backup coded for this card: its own stream when the
// layout is the same and it fits, else its decoded view coded anew.
EncodedPhonebook backupPhonebookForCard(const nlohmann::json& doc, const CardSession& session,
                                        const ImportOptions& options) {
    const auto& pb = doc["phonebook"];
    Bytes stream;
    const bool sameLayout = pb.is_object() && pb.value("layout", "") == session.layoutName();
    std::optional<RawPhonebook> raw;
    if (sameLayout && pb.contains("stream") && pb["stream"].is_string() &&
        fromHex(pb["stream"].get<std::string>(), stream)) {
        if (auto parsedRaw = parsePhonebookStream(stream)) {
            if (!rawDoesNotFit(parsedRaw.value(), session.room())) {
                raw = parsedRaw.value();
            }
        }
    }
    auto view = formats::phonebookFromJson(doc);
    if (raw) {
        if (view) {
            markInternational(*raw, view.value());
        }
        EncodedPhonebook exact;
        exact.raw = *raw;
        exact.stream = phonebookStream(*raw, session.extended());
        exact.count = static_cast<std::int32_t>(raw->contacts.size());
        exact.stored = decodePhonebook(*raw);
        return exact;
    }
    if (!view) {
        fail(kExitUsage, options.file + ": " + view.error());
    }
    std::cerr << "the backup's phone book does not fit this card unchanged; it is coded anew for "
                 "the "
              << session.layoutName() << " layout\n";
    EncodeOptions encodeOptions;
    encodeOptions.plusAs00 = options.plusAs == "00";
    EncodedPhonebook encoded = encodePhonebook(view.value(), session.room(), encodeOptions);
    checkIssues(encoded, options);
    return encoded;
}

std::string differencesText(const images::WriteReport& report) {
    return std::to_string(report.recordsWritten) + " record(s) and " +
           std::to_string(report.piecesWritten) + " piece(s) of at most 255 bytes";
}

}  // namespace

int restore(const GlobalOptions& global, const ImportOptions& options) {
    const std::string content = readInput(options.file);
    auto parsed = formats::parseJson(content);
    if (!parsed) {
        fail(kExitUsage, options.file + ": " + parsed.error());
    }
    const nlohmann::json& doc = parsed.value();
    if (!doc.is_object() || doc.value("format", "") != "zrn-backup") {
        fail(kExitUsage, options.file + " is not a zrn backup (made by zrn backup)");
    }
    if (!options.plusAs.empty() && options.plusAs != "00") {
        fail(kExitUsage, "--plus-as takes 00 only");
    }
    const bool hasPhonebook = doc.contains("phonebook");
    const bool hasMessages = doc.contains("messages");
    std::optional<images::CardImages> backupImages;
    if (doc.contains("images")) {
        auto read = images::imagesFromJson(doc["images"]);
        if (!read) {
            fail(kExitUsage, options.file + ": " + read.failure.what);
        }
        backupImages = std::move(read.value);
    }
    auto session = CardSession::open(global.session);
    const images::Parts parts{hasPhonebook, hasMessages};

    // The card as it is now: what the images are compared with, what only
    // the differing records and pieces are written over, and the backup
    // taken before the write. A card that cannot be read whole is not written.
    CardCopy before = readCard(*session, hasPhonebook, hasMessages);
    ImageRestorePlan plan;
    if (backupImages) {
        plan = planImageRestore(*backupImages, before.images, parts);
    } else {
        plan.whyNot = "the backup holds no card images (it was made by an older zrn)";
    }
    if (plan.target) {
        if (options.dryRun) {
            const images::Differences d = images::countDifferences(before.images, *plan.target);
            std::cout << "Dry run: nothing is written. This card has the backup's layout and "
                         "geometry: its files would be written back byte for byte, "
                      << d.records << " record(s) and " << d.pieces
                      << " piece(s) of at most 255 bytes differ.\n";
            return kExitOk;
        }
        std::cerr << "this card has the backup's layout and geometry: its files are written back "
                     "byte for byte\n";
        if (!options.noBackup) {
            const std::string path = saveBackup(*session, options.backup, before);
            std::cerr << "backup of the card written to " << path << "\n";
        }
        const RestoredImages restored = restoreImages(*session, *plan.target, before.images);
        if (hasPhonebook) {
            // The files hold the backup's phone book, as its stream and view say.
            const std::optional<RawPhonebook> expected = backupRaw(doc);
            const PhonebookSnapshot now = phonebookOf(restored.now);
            if (!expected) {
                fail(kExitUsage, options.file +
                                     ": the card's files were written back, but the "
                                     "backup's phone book stream cannot be read to check them");
            }
            if (auto difference = firstDifference(*expected, now.raw, session->room())) {
                fail(kExitCard,
                     "the card's files were written back, but the phone book they "
                     "hold differs from the backup's: " +
                         *difference);
            }
        }
        std::cerr << "restored the card's files byte for byte (" << differencesText(restored.report)
                  << " differed and were written); read back and verified\n";
        return kExitOk;
    }
    std::cerr << "the backup's files are not written back byte for byte: " << plan.whyNot
              << ". Its contents are coded for this card instead.\n";

    std::optional<EncodedPhonebook> encoded;
    if (hasPhonebook) {
        encoded = backupPhonebookForCard(doc, *session, options);
    }
    // Both parts are checked against the card before either is written.
    std::optional<PreparedMessages> messages;
    if (hasMessages) {
        messages = prepareMessages(*session, parseMessagesFile("json", content, options.file));
    }
    if (options.dryRun) {
        if (encoded) {
            std::cout << dryRunText(*encoded, *session);
        }
        if (messages) {
            std::cout << "Messages the card would hold:\n" << messagesText(messages->expected);
        }
        return kExitOk;
    }
    if (!options.noBackup) {
        const std::string path = saveBackup(*session, options.backup, before);
        std::cerr << "backup of the card written to " << path << "\n";
    }
    if (encoded) {
        writeEncodedPhonebook(*session, *encoded, before.images);
    }
    if (messages) {
        writeMessages(*session, *messages);
        std::cerr << "restored " << messages->expected.size()
                  << " message(s); read back and verified\n";
    }
    return kExitOk;
}

int errmsg(const std::string& code) {
    long value = 0;
    std::size_t used = 0;
    try {
        value = std::stol(code, &used, 10);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used != code.size() || code.empty() || value < INT32_MIN || value > INT32_MAX) {
        fail(kExitUsage, "\"" + code + "\" is not a result code (a whole number such as " +
                             std::to_string(result::kCardError) + " or " +
                             std::to_string(result::kAdiOverCapacity) + ")");
    }
    const auto c = static_cast<std::int32_t>(value);
    std::cout << c << ": " << libraryMessage(c) << " (" << libraryGloss(c) << ")\n";
    return kExitOk;
}

}  // namespace zrn::cli::commands
