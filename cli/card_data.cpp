#include "cli/card_data.h"

#include <ctime>
#include <iostream>
#include <map>
#include <sstream>
#include <unordered_map>

#include "cli/atomic_file.h"
#include "cli/errors.h"
#include "cli/formats/json_format.h"
#include "cli/image_json.h"
#include "cli/interrupt.h"
#include "cli/progress.h"
#include "cli/text/terminal.h"
#include "core/card.h"
#include "results/result_codes.h"

namespace zrn::cli {

namespace {

constexpr std::size_t kChunk = 255;
constexpr std::size_t kCommandOverhead = 24;  // selections and GET RESPONSEs

std::size_t chunks(std::size_t bytes) {
    return (bytes + kChunk - 1) / kChunk;
}

std::size_t phonebookReadCommands(const PhonebookRoom& r) {
    if (!r.extended) {
        return r.adnRecordCount + kCommandOverhead;
    }
    return r.groupCount + chunks(r.nameSlotCount * r.nameSlotLength) +
           chunks(r.numberSlotCount * r.numberSlotLength) + r.adiCount + kCommandOverhead;
}

std::size_t messageCommands(const MessageStores& s) {
    return s.smsRecords + 2 * s.extraRecords + kCommandOverhead;
}

std::string timestampForFile() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y%m%d-%H%M%S", &local);
    return buffer;
}

std::string isoNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return buffer;
}

Bytes freeRecord() {
    Bytes r(kSmsRecordSize, 0xFF);
    r[0] = 0x00;
    return r;
}

// After a write that went through, a failed read is a check that could not
// be made, not a card left as it was.
std::string readFailureAdvice(const CardSession& session, const std::string& what) {
    if (session.wroteCard()) {
        return what +
               " The write went through (the card accepted every command), but it "
               "could not be read back, so it was not checked. Read it again with zrn "
               "show, or restore the backup.";
    }
    return what + " Check the card in the reader and try again; nothing was changed.";
}

std::string describeRecord(const StoredSms& s) {
    return s.store + " message " + std::to_string(s.position);
}

// The ICCID's digits (GSM 11.11 10.1.1: swapped nibbles, F filler).
std::string iccidText(const images::CardImages& images) {
    const images::FileImage* f = images.present(images::fileId::kIccid);
    std::string digits;
    for (std::size_t i = 0; f != nullptr && i < f->data.size(); ++i) {
        for (const unsigned nibble : {f->data[i] & 0x0Fu, static_cast<unsigned>(f->data[i] >> 4)}) {
            if (nibble <= 9) {
                digits.push_back(static_cast<char>('0' + nibble));
            }
        }
    }
    return digits;
}

// GetConfig's text from the geometry read when the session began: the
// backup holds what was read then, and asks the card nothing more.
std::string capacitiesText(const CardSession& session) {
    char text[64] = {};
    core::configTextAsConnected(session.extended(), text);
    return text;
}

}  // namespace

images::CardImages readImages(CardSession& session, images::Parts parts) {
    const PhonebookRoom& room = session.room();
    const MessageStores& stores = session.stores();
    std::size_t expected = kCommandOverhead;
    if (parts.phonebook) {
        expected += phonebookReadCommands(room);
    }
    if (parts.messages) {
        expected += stores.smsRecords + stores.extraRecords;
    }
    images::Result<images::CardImages> read;
    {
        Progress progress("reading the card", expected);
        read = images::readCardImages(session.extended(), parts);
    }
    if (!read) {
        fail(kExitCard, read.failure.what +
                            ". The card could not be read whole; nothing was changed. Check the "
                            "card in the reader and try again.");
    }
    const images::CardImages& got = *read.value;
    std::optional<std::string> why = images::disagreement(got);
    if (!why && parts.phonebook && !session.extended()) {
        const images::FileImage* adn = got.present(images::fileId::kAdn);
        if (adn == nullptr || adn->recordLength != room.adnRecordLength ||
            adn->recordCount() != std::min<std::size_t>(room.adnRecordCount, 255)) {
            why = "EF_ADN differs from the one found when the session began";
        }
    }
    if (!why && parts.messages) {
        const images::FileImage* sms = got.present(images::fileId::kSms);
        const bool extra = got.present(images::fileId::kExtraMessages) != nullptr;
        const bool index = got.present(images::fileId::kExtraMessageIndex) != nullptr;
        if (sms == nullptr || extra != stores.extraFile || index != stores.extraIndex) {
            why = "the message stores differ from those found when the session began";
        }
    }
    if (why) {
        fail(kExitCard, "the card answered differently while it was read: " + *why +
                            ". Nothing was changed; check the card in the reader and try again.");
    }
    return got;
}

PhonebookSnapshot phonebookOf(const images::CardImages& images) {
    auto built = images::phonebookFromImages(images);
    if (!built) {
        fail(kExitCard,
             "the phone book could not be read: " + built.failure.what + ". Nothing was changed.");
    }
    auto raw = parsePhonebookStream(built.value->stream, &built.value->tonNpi);
    if (!raw) {
        fail(kExitCard, "the card holds a phone book this tool cannot read: " + raw.error());
    }
    PhonebookSnapshot s;
    s.stream = std::move(built.value->stream);
    s.count = built.value->count;
    s.raw = std::move(raw.value());
    s.phonebook = decodePhonebook(s.raw);
    return s;
}

PhonebookSnapshot readPhonebook(CardSession& session) {
    PhonebookSnapshot s = phonebookOf(readImages(session, {true, false}));
    for (const std::string& damage : numbersWithDigitsAfterTheirEnd(s.raw)) {
        std::cerr << "warning: " << text::terminalText(damage) << "\n";
    }
    return s;
}

namespace {

// Writes `target` where it differs from `before`, then reads back every
// record and piece written; fails when a write or the read-back fails or the
// card holds other bytes. Returns what was sent and the files the card now
// holds (`before` with `target` over it).
std::pair<images::WriteReport, images::CardImages> writeAndReadBack(
    CardSession& session, const images::CardImages& target, const images::CardImages& before,
    const char* what) {
    images::WriteReport report;
    images::ReadBack back;
    const images::Differences differences = images::countDifferences(before, target);
    const bool writing = differences.records + differences.pieces > 0;
    if (writing) {
        session.beginWrite(std::string("the ") + what);
    }
    {
        // The bar counts the plan's commands: the write and the read-back.
        Progress progress(std::string("writing the ") + what,
                          images::planWrite(before, target).commands());
        report = images::writeDifferences(before, target);
        if (report.complete) {
            if (writing) {
                session.endWrite();
            }
            back = images::readBackWritten(target, report);
        }
    }
    if (report.anythingWritten()) {
        session.markWritten();
    }
    if (!report.complete) {
        fail(kExitCard, report.failure + (report.anythingWritten()
                                              ? ". The card may now hold a partly written " +
                                                    std::string(what) + "; " + restoreAdvice() + "."
                                              : ". Nothing was written to the card."));
    }
    if (back.readFailed) {
        fail(kExitCard, "the " + std::string(what) + " was written (" +
                            std::to_string(report.recordsWritten) + " record(s), " +
                            std::to_string(report.piecesWritten) +
                            " piece(s)), but reading it back failed: " + *back.difference +
                            ". The check could not be made; read the card again with zrn show.");
    }
    if (back.difference) {
        fail(kExitCard, "the card does not hold what was written: " + *back.difference + "; " +
                            restoreAdvice() + ".");
    }
    // What the card now holds: the files as they were, with what was written
    // (and read back the same) over them.
    images::CardImages now = before;
    for (const images::FileImage& f : target.files) {
        if (images::FileImage* n = now.find(f.file->id)) {
            *n = f;
        }
    }
    return {report, std::move(now)};
}

// The TON of every number element of the stream `phonebookStream` builds,
// in stream order: one per number in the extended layout, one per contact
// (its first number) in the standard layout.
std::vector<bool> internationalFlags(const RawPhonebook& raw, bool extended) {
    std::vector<bool> flags;
    for (const RawContact& c : raw.contacts) {
        if (extended) {
            for (const RawNumber& n : c.numbers) {
                flags.push_back(n.international);
            }
        } else {
            flags.push_back(!c.numbers.empty() && c.numbers[0].international);
        }
    }
    return flags;
}

// `encoded` with the card's own coding of every contact and group name that
// reads the same as the one asked for (a name the card keeps in UCS-2, an
// empty free-text entry before a second one): what did not change is not
// written again in another form.
EncodedPhonebook withTheCardsCoding(const EncodedPhonebook& encoded,
                                    const images::CardImages& before, bool extended) {
    const auto built = images::phonebookFromImages(before);
    if (!built) {
        return encoded;
    }
    auto raw = parsePhonebookStream(built.value->stream, &built.value->tonNpi);
    if (!raw) {
        return encoded;
    }
    const Phonebook shown = decodePhonebook(raw.value());
    if (shown.contacts.size() != raw.value().contacts.size() ||
        encoded.stored.contacts.size() != encoded.raw.contacts.size()) {
        return encoded;
    }
    EncodedPhonebook kept = encoded;
    std::unordered_multimap<std::string, std::size_t> byName;
    for (std::size_t k = 0; k < shown.contacts.size(); ++k) {
        byName.emplace(shown.contacts[k].name, k);
    }
    std::vector<bool> used(shown.contacts.size(), false);
    for (std::size_t i = 0; i < kept.raw.contacts.size(); ++i) {
        const auto [from, to] = byName.equal_range(encoded.stored.contacts[i].name);
        for (auto it = from; it != to; ++it) {
            if (!used[it->second] && shown.contacts[it->second] == encoded.stored.contacts[i]) {
                used[it->second] = true;
                kept.raw.contacts[i] = raw.value().contacts[it->second];
                break;
            }
        }
    }
    // A contact that changed keeps the coding of what did not: its name,
    // its notes, each number that is the same at the same place.
    for (std::size_t i = 0; i < kept.raw.contacts.size(); ++i) {
        const Contact& want = encoded.stored.contacts[i];
        const auto [from, to] = byName.equal_range(want.name);
        for (auto it = from; it != to && kept.raw.contacts[i].name == encoded.raw.contacts[i].name;
             ++it) {
            if (used[it->second]) {
                continue;
            }
            used[it->second] = true;
            const Contact& have = shown.contacts[it->second];
            const RawContact& card = raw.value().contacts[it->second];
            RawContact& made = kept.raw.contacts[i];
            made.name = card.name;
            if (have.notes == want.notes) {
                made.adi = card.adi;
            }
            for (std::size_t n = 0; n < made.numbers.size() && n < card.numbers.size() &&
                                    n < have.numbers.size() && n < want.numbers.size();
                 ++n) {
                if (have.numbers[n] == want.numbers[n]) {
                    made.numbers[n] = card.numbers[n];
                }
            }
            break;
        }
    }
    for (std::size_t g = 0; g < kept.raw.groups.size() && g < raw.value().groups.size(); ++g) {
        const Group* want = encoded.stored.group(static_cast<int>(g + 1));
        const Group* have = shown.group(static_cast<int>(g + 1));
        if (want != nullptr && have != nullptr && want->name == have->name) {
            kept.raw.groups[g] = raw.value().groups[g];
        }
    }
    kept.stream = phonebookStream(kept.raw, extended);
    return kept;
}

}  // namespace

double planSeconds(const images::WritePlan& plan, double baud) {
    return static_cast<double>(plan.commands()) * kCommandLatencySeconds +
           static_cast<double>(plan.linkCharacters) * kEtuPerCharacter / baud;
}

std::string planText(const images::WritePlan& plan) {
    if (plan.nothingToWrite()) {
        return "Plan: nothing to write: the card already holds exactly this.\n";
    }
    std::ostringstream out;
    out.setf(std::ios::fixed);
    out.precision(1);
    out << "Plan: " << plan.updates() << " updating command(s) (" << plan.records << " record(s), "
        << plan.pieces << " piece(s) of at most 255 bytes), " << plan.bytes << " bytes to write; "
        << plan.commands()
        << " command(s) in all with the selections and the read-back of what is written.\n"
        << "Estimated time: " << planSeconds(plan, kDefaultBaud) << " s at 9,600 baud, "
        << planSeconds(plan, kFastestBaud)
        << " s at 111,600 baud (model: " << kCommandLatencySeconds * 1000
        << " ms of reader latency per command, 12 etu per byte: "
        << "1.25 ms a byte at 9,600 baud, 0.1075 ms at 111,600).\n";
    return out.str();
}

PhonebookWrite planPhonebook(CardSession& session, const EncodedPhonebook& asked,
                             const images::CardImages& before) {
    PhonebookWrite write;
    write.encoded = withTheCardsCoding(asked, before, session.extended());
    images::PhonebookTarget target =
        images::phonebookTarget(before, write.encoded.stream, write.encoded.count,
                                internationalFlags(write.encoded.raw, session.extended()));
    if (target.refusal != 0) {
        failLibrary("WriteZRN", target.refusal,
                    "The phone book was refused before anything was written.");
    }
    write.target = std::move(target.images);
    write.plan = images::planWrite(before, write.target);
    return write;
}

void writePhonebook(CardSession& session, const EncodedPhonebook& asked,
                    const images::CardImages& before) {
    writePhonebook(session, planPhonebook(session, asked, before), before);
}

void writePhonebook(CardSession& session, const PhonebookWrite& write,
                    const images::CardImages& before) {
    const EncodedPhonebook& encoded = write.encoded;
    const auto [report, back] = writeAndReadBack(session, write.target, before, "phone book");
    const PhonebookSnapshot read = phonebookOf(back);
    if (auto difference = firstDifference(encoded.raw, read.raw, session.room())) {
        fail(kExitCard, "the card does not hold what was written: " + *difference + "; " +
                            restoreAdvice() + ".");
    }
    // A simulator image is the card: the write is done once the file holds it.
    if (report.anythingWritten()) {
        session.save();
    }
    if (!report.anythingWritten()) {
        std::cerr << "nothing to write: the card already holds these " << encoded.count
                  << " contact(s); nothing was written\n";
        return;
    }
    std::cerr << "wrote " << encoded.count << " contact(s) (" << report.recordsWritten
              << " record(s) and " << report.piecesWritten
              << " piece(s) changed); read back and verified\n";
}

ImageRestorePlan planImageRestore(const images::CardImages& backup, const images::CardImages& card,
                                  images::Parts parts) {
    ImageRestorePlan plan;
    if (backup.extended != card.extended) {
        plan.whyNot = std::string("the backup is of the ") +
                      (backup.extended ? "extended" : "standard") + " layout, this card of the " +
                      (card.extended ? "extended" : "standard");
        return plan;
    }
    if (parts.phonebook && backup.phonebookDirectory != card.phonebookDirectory) {
        plan.whyNot = "the phone book lives in another directory on this card";
        return plan;
    }
    const images::CardImages wanted = images::select(backup, parts, false);
    for (const images::FileImage& f : images::select(card, parts, false).files) {
        const images::FileImage* b = wanted.find(f.file->id);
        if (b == nullptr) {
            plan.whyNot = std::string("the backup holds no image of the ") + f.file->name;
            return plan;
        }
        if (!b->sameShape(f)) {
            plan.whyNot =
                std::string("the ") + f.file->name + " differs in presence, size or record length";
            return plan;
        }
        if (!images::isWritable(*f.file) && f.file->id != images::fileId::kIccid &&
            b->data != f.data) {
            plan.whyNot = std::string("the ") + f.file->name + " holds another configuration";
            return plan;
        }
    }
    plan.target = images::select(backup, parts, true);
    return plan;
}

RestoredImages restoreImages(CardSession& session, const images::CardImages& target,
                             const images::CardImages& before) {
    auto [report, now] = writeAndReadBack(session, target, before, "card files");
    if (report.anythingWritten()) {
        session.save();
    }
    return {std::move(report), std::move(now)};
}

MessagesSnapshot readMessages(CardSession& session) {
    core::Stream stream;
    {
        Progress progress("reading the messages", messageCommands(session.stores()));
        stream = core::readAllMessages();
    }
    if (stream.result != 0) {
        failLibrary("ReadSMS", stream.result,
                    readFailureAdvice(session, "The messages could not be read."));
    }
    auto stored = parseSmsStream(stream.bytes);
    if (!stored) {
        fail(kExitCard, "the library returned messages this tool cannot read: " + stored.error());
    }
    return {std::move(stream.bytes), std::move(stored.value())};
}

MessagesSnapshot messagesOf(const images::CardImages& images) {
    auto stream = images::messageStreamOf(images);
    if (!stream) {
        fail(kExitCard, stream.failure.what + "; nothing was changed");
    }
    MessagesSnapshot s;
    s.stream = std::move(*stream.value);
    auto stored = parseSmsStream(s.stream);
    if (!stored) {
        fail(kExitCard, "the card holds messages this tool cannot read: " + stored.error());
    }
    s.stored = std::move(stored.value());
    return s;
}

std::vector<StoredSms> deletedMessagesOf(const images::CardImages& images) {
    std::vector<StoredSms> found;
    for (const images::FreeRecord& r : images::freeMessageRecords(images)) {
        if (holdsDeletedMessage(r.bytes)) {
            found.push_back({r.store, r.position, Bytes(r.bytes.begin(), r.bytes.end())});
        }
    }
    return found;
}

PreparedMessages prepareMessages(CardSession& session, const std::vector<StoredSms>& given) {
    const MessageStores& stores = session.stores();
    std::vector<StoredSms> messages = given;
    if (!stores.extraFile) {
        // A card without the extra store keeps every message in EF_SMS.
        std::size_t moved = 0;
        for (StoredSms& m : messages) {
            if (m.store != "CMS") {
                m.store = "CMS";
                ++moved;
            }
        }
        if (moved > 0) {
            std::cerr << "this card has no extra message store: " << moved
                      << " message(s) of the LMS/EMS stores go to EF_SMS\n";
        }
    }
    std::vector<Bytes> cms;
    std::vector<Bytes> lms;
    std::vector<Bytes> ems;
    for (const StoredSms& m : messages) {
        (m.store == "CMS" ? cms : m.store == "LMS" ? lms : ems).push_back(m.record);
    }
    if (cms.size() > stores.smsRecords) {
        fail(kExitUsage, std::to_string(cms.size()) + " messages for EF_SMS, which has " +
                             std::to_string(stores.smsRecords) +
                             " records; nothing was written. Remove messages and try again.");
    }
    if (!lms.empty() || !ems.empty()) {
        if (!stores.extraFile || lms.size() + ems.size() > stores.extraRecords) {
            fail(kExitUsage, std::to_string(lms.size() + ems.size()) +
                                 " messages for the extra message store, which has " +
                                 std::to_string(stores.extraRecords) +
                                 " records; nothing was written.");
        }
        if (!ems.empty() && !stores.extraIndex) {
            fail(kExitUsage,
                 "EMS messages need the extra message index, which this card lacks; "
                 "nothing was written");
        }
    }
    // The library rewrites only the records it is given: free records clear the rest.
    while (cms.size() < stores.smsRecords) {
        cms.push_back(freeRecord());
    }
    if (stores.extraFile) {
        while (lms.size() + ems.size() < stores.extraRecords) {
            lms.push_back(freeRecord());
        }
    }
    PreparedMessages prepared;
    Bytes& stream = prepared.stream;
    std::int32_t& count = prepared.count;
    for (const auto& [tag, records] :
         {std::pair{"CMS", &cms}, std::pair{"LMS", &lms}, std::pair{"EMS", &ems}}) {
        for (const Bytes& r : *records) {
            const Bytes element = smsElement(tag, r);
            stream.insert(stream.end(), element.begin(), element.end());
            ++count;
        }
    }
    for (const StoredSms& m : messages) {
        if (smsStatusOf(m.record[0]) != SmsStatus::kFree) {
            prepared.expected.push_back(m);
        }
    }
    // The reader returns the messages in store order: CMS, then LMS, then EMS.
    std::stable_sort(prepared.expected.begin(), prepared.expected.end(),
                     [](const StoredSms& x, const StoredSms& y) {
                         const auto rank = [](const std::string& t) {
                             return t == "CMS" ? 0 : t == "LMS" ? 1 : 2;
                         };
                         return rank(x.store) < rank(y.store);
                     });
    return prepared;
}

MessagesWrite planMessages(const PreparedMessages& prepared, const images::CardImages& before) {
    images::MessageTarget target = images::messageTarget(before, prepared.stream, prepared.count);
    if (target.refusal != 0) {
        failLibrary("WriteSMS", target.refusal,
                    "The messages were refused before anything was written.");
    }
    MessagesWrite write;
    write.target = std::move(target.images);
    write.plan = images::planWrite(before, write.target);
    return write;
}

void writeMessages(CardSession& session, const PreparedMessages& prepared,
                   const images::CardImages& before) {
    const MessagesWrite write = planMessages(prepared, before);
    const auto [report, now] = writeAndReadBack(session, write.target, before, "messages");
    const MessagesSnapshot back = messagesOf(now);
    const std::vector<StoredSms>& expected = prepared.expected;
    for (std::size_t i = 0; i < expected.size() && i < back.stored.size(); ++i) {
        if (expected[i].record != back.stored[i].record ||
            expected[i].store != back.stored[i].store) {
            fail(kExitCard, "the card does not hold what was written: " +
                                describeRecord(back.stored[i]) + " differs from message " +
                                std::to_string(i + 1) + " written. Restore the backup.");
        }
    }
    if (expected.size() != back.stored.size()) {
        fail(kExitCard, "wrote " + std::to_string(expected.size()) + " messages, the card holds " +
                            std::to_string(back.stored.size()) + ". Restore the backup.");
    }
    if (report.anythingWritten()) {
        session.save();
    }
}

CardCopy readCard(CardSession& session, bool phonebook, bool messages) {
    CardCopy copy;
    copy.images = readImages(session, {phonebook, messages});
    if (phonebook) {
        copy.phonebook = phonebookOf(copy.images);
    }
    if (messages) {
        copy.messages = messagesOf(copy.images);
        copy.deleted = deletedMessagesOf(copy.images);
    }
    return copy;
}

nlohmann::ordered_json backupDocument(CardSession& session, const CardCopy& copy) {
    nlohmann::ordered_json doc = {{"format", "zrn-backup"}, {"version", 1}, {"created", isoNow()}};
    doc["card"] = {{"source", session.source()},
                   {"atr", toHex(session.atr(), false)},
                   {"iccid", iccidText(copy.images)},
                   {"layout", session.layoutName()},
                   {"capacities", capacitiesText(session)}};
    if (copy.phonebook) {
        nlohmann::ordered_json pb =
            formats::phonebookToJson(copy.phonebook->phonebook, session.layoutName());
        pb.erase("format");
        pb.erase("version");
        pb["count"] = copy.phonebook->count;
        pb["stream"] = toHex(copy.phonebook->stream, false);
        doc["phonebook"] = pb;
    }
    if (copy.messages) {
        nlohmann::ordered_json m = formats::messagesToJson(copy.messages->stored);
        m.erase("format");
        m.erase("version");
        m["deleted"] = deletedMessagesJson(copy.deleted);
        doc["messages"] = m;
    }
    doc["images"] = images::imagesToJson(copy.images);
    return doc;
}

std::string saveBackup(CardSession& session, const std::string& path, const CardCopy& copy) {
    const nlohmann::ordered_json doc = backupDocument(session, copy);
    const std::string text =
        doc.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
    try {
        if (!path.empty()) {
            replaceFile(path, text);
            return path;
        }
        return createNewFile("zrn-backup-" + timestampForFile(), ".json", text);
    } catch (const CliError& e) {
        fail(e.exitCode(), std::string(e.what()) +
                               ". Nothing was written to the card; choose another place for "
                               "the backup.");
    }
}

std::string phonebookText(const Phonebook& phonebook) {
    std::ostringstream out;
    bool anyGroup = false;
    for (const Group& g : phonebook.groups) {
        if (!g.name.empty()) {
            out << (anyGroup ? ", " : "Groups: ") << g.number << " " << text::terminalText(g.name);
            anyGroup = true;
        }
    }
    if (anyGroup) {
        out << "\n";
    }
    out << phonebook.contacts.size() << " contact(s)\n";
    for (std::size_t i = 0; i < phonebook.contacts.size(); ++i) {
        const Contact& c = phonebook.contacts[i];
        out << "  " << i + 1 << ". " << (c.name.empty() ? "(no name)" : text::terminalText(c.name))
            << "\n";
        for (const PhoneNumber& n : c.numbers) {
            out << "       " << numberTypeName(n.type) << ": " << text::terminalText(n.number)
                << "\n";
        }
        for (const std::string& note : c.notes) {
            out << "       note: " << text::terminalText(note) << "\n";
        }
        if (!c.groups.empty()) {
            out << "       groups:";
            for (const int g : c.groups) {
                const Group* group = phonebook.group(g);
                out << " " << g;
                if (group != nullptr && !group->name.empty()) {
                    out << " (" << text::terminalText(group->name) << ")";
                }
            }
            out << "\n";
        }
    }
    return out.str();
}

}  // namespace zrn::cli
