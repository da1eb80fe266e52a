#include "cli/card_data.h"

#include <ctime>
#include <iostream>
#include <map>
#include <sstream>

#include "cli/atomic_file.h"
#include "cli/errors.h"
#include "cli/formats/json_format.h"
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

std::size_t phonebookWriteCommands(const PhonebookRoom& r) {
    if (!r.extended) {
        return 2 * r.adnRecordCount + kCommandOverhead;
    }
    return 2 * r.groupCount + chunks(r.nameSlotCount * r.nameSlotLength) +
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

bool writeMayHaveStarted(std::int32_t code) {
    const result::Row* row = result::find(code);
    return row == nullptr || row->mayFollowWrite;
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

}  // namespace

PhonebookSnapshot readPhonebook(CardSession& session) {
    core::Stream stream;
    {
        Progress progress("reading the phone book", phonebookReadCommands(session.room()));
        stream = core::readWholePhonebook();
    }
    if (stream.result != 0) {
        failLibrary("ReadZRN", stream.result,
                    readFailureAdvice(session, "The phone book could not be read."));
    }
    auto raw = parsePhonebookStream(stream.bytes);
    if (!raw) {
        fail(kExitCard, "the library returned a phone book this tool cannot read: " + raw.error());
    }
    PhonebookSnapshot s;
    s.stream = std::move(stream.bytes);
    s.count = stream.count;
    s.raw = std::move(raw.value());
    s.phonebook = decodePhonebook(s.raw);
    for (const std::string& damage : numbersWithDigitsAfterTheirEnd(s.raw)) {
        std::cerr << "warning: " << text::terminalText(damage) << "\n";
    }
    return s;
}

void writePhonebook(CardSession& session, const Bytes& stream, std::int32_t count,
                    const RawPhonebook& expected) {
    std::int32_t rv = 0;
    session.beginWrite("the phone book");
    {
        Progress progress("writing the phone book", phonebookWriteCommands(session.room()));
        rv = core::writePhonebook(count, stream);
    }
    session.markWritten();
    if (rv != 0) {
        failLibrary("WriteZRN", rv,
                    writeMayHaveStarted(rv)
                        ? "The card may now hold a partly written phone book: restore the "
                          "backup with zrn restore BACKUP."
                        : "The phone book was refused before anything was written.");
    }
    session.endWrite();
    const PhonebookSnapshot back = readPhonebook(session);
    if (auto difference = firstDifference(expected, back.raw, session.room())) {
        fail(kExitCard, "the card does not hold what was written: " + *difference +
                            ". Restore the backup with zrn restore BACKUP, or write again.");
    }
    // A simulator image is the card: the write is done once the file holds it.
    session.save();
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

std::vector<StoredSms> readDeletedMessages(CardSession& session) {
    const MessageStores& stores = session.stores();
    std::vector<core::MessageRecordAt> records;
    std::string failure;
    {
        Progress progress("looking for deleted messages",
                          stores.smsRecords + stores.extraRecords + kCommandOverhead);
        if (!core::readEveryMessageRecord(records, failure)) {
            fail(kExitCard, failure + " could not be read; nothing was changed");
        }
    }
    std::vector<StoredSms> found;
    for (core::MessageRecordAt& r : records) {
        if (holdsDeletedMessage(r.bytes)) {
            found.push_back({std::move(r.store), r.position, std::move(r.bytes)});
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

void writeMessages(CardSession& session, const PreparedMessages& prepared) {
    const MessageStores& stores = session.stores();
    const Bytes& stream = prepared.stream;
    const std::int32_t count = prepared.count;
    std::int32_t rv = 0;
    session.beginWrite("the messages");
    {
        Progress progress("writing the messages", messageCommands(stores));
        rv = core::writeMessages(count, stream);
    }
    session.markWritten();
    if (rv != 0) {
        failLibrary("WriteSMS", rv,
                    "Some messages may be written: restore the backup with zrn restore BACKUP.");
    }
    session.endWrite();
    const MessagesSnapshot back = readMessages(session);
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
    session.save();
}

nlohmann::ordered_json backupDocument(CardSession& session, const PhonebookSnapshot* phonebook,
                                      const MessagesSnapshot* messages) {
    nlohmann::ordered_json doc = {{"format", "zrn-backup"}, {"version", 1}, {"created", isoNow()}};
    doc["card"] = {{"source", session.source()},
                   {"atr", toHex(session.atr(), false)},
                   {"iccid", session.iccid()},
                   {"layout", session.layoutName()},
                   {"capacities", session.configText()}};
    if (phonebook != nullptr) {
        nlohmann::ordered_json pb =
            formats::phonebookToJson(phonebook->phonebook, session.layoutName());
        pb.erase("format");
        pb.erase("version");
        pb["count"] = phonebook->count;
        pb["stream"] = toHex(phonebook->stream, false);
        doc["phonebook"] = pb;
    }
    if (messages != nullptr) {
        nlohmann::ordered_json m = formats::messagesToJson(messages->stored);
        m.erase("format");
        m.erase("version");
        m["deleted"] = deletedMessagesJson(readDeletedMessages(session));
        doc["messages"] = m;
    }
    return doc;
}

std::string saveBackup(CardSession& session, const std::string& path, bool phonebook,
                       bool messages) {
    std::optional<PhonebookSnapshot> pb;
    std::optional<MessagesSnapshot> sms;
    if (phonebook) {
        pb = readPhonebook(session);
    }
    if (messages) {
        sms = readMessages(session);
    }
    const nlohmann::ordered_json doc =
        backupDocument(session, pb ? &*pb : nullptr, sms ? &*sms : nullptr);
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
