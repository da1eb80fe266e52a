#include "cli/formats/json_format.h"

#include <map>

#include "cli/text/utf8.h"

namespace zrn::cli::formats {

namespace {

using nlohmann::json;

constexpr int kMaxDepth = 32;
constexpr int kFormatVersion = 1;

// Where in the document a value sits, for error messages.
std::string at(const std::string& path, const std::string& key) {
    return path + "." + key;
}
std::string at(const std::string& path, std::size_t index) {
    return path + "[" + std::to_string(index) + "]";
}

struct Failure {
    std::string message;
};

const json& member(const json& object, const char* key, const std::string& path) {
    static const json kNull;
    if (!object.is_object()) {
        throw Failure{path + ": expected an object"};
    }
    const auto it = object.find(key);
    return it == object.end() ? kNull : *it;
}

std::string stringOf(const json& value, const std::string& path, bool required = false) {
    if (value.is_null() && !required) {
        return {};
    }
    if (!value.is_string()) {
        throw Failure{path + ": expected a string"};
    }
    const std::string s = value.get<std::string>();
    if (!text::isValidUtf8(s)) {
        throw Failure{path + ": not valid UTF-8"};
    }
    return s;
}

const json& arrayOf(const json& value, const std::string& path) {
    static const json kEmpty = json::array();
    if (value.is_null()) {
        return kEmpty;
    }
    if (!value.is_array()) {
        throw Failure{path + ": expected an array"};
    }
    return value;
}

int groupNumberOf(const json& value, const std::string& path) {
    if (!value.is_number_integer()) {
        throw Failure{path + ": expected a group number 1 to 8"};
    }
    const auto n = value.get<long long>();
    if (n < 1 || n > 8) {
        throw Failure{path + ": group numbers run from 1 to 8, not " + std::to_string(n)};
    }
    return static_cast<int>(n);
}

const json& unwrap(const json& document, const char* member) {
    if (document.is_object() && document.value("format", "") == "zrn-backup" &&
        document.contains(member)) {
        return document[member];
    }
    return document;
}

Phonebook readPhonebook(const json& doc) {
    Phonebook book;
    const std::string root = "phonebook";
    const json& groups = arrayOf(member(doc, "groups", root), at(root, "groups"));
    for (std::size_t i = 0; i < groups.size(); ++i) {
        const std::string path = at(at(root, "groups"), i);
        Group g;
        g.number = groupNumberOf(member(groups[i], "number", path), at(path, "number"));
        g.name = stringOf(member(groups[i], "name", path), at(path, "name"));
        book.groups.push_back(std::move(g));
    }
    const json& contacts = arrayOf(member(doc, "contacts", root), at(root, "contacts"));
    for (std::size_t i = 0; i < contacts.size(); ++i) {
        const std::string path = at(at(root, "contacts"), i);
        Contact c;
        c.name = stringOf(member(contacts[i], "name", path), at(path, "name"));
        const json& numbers = arrayOf(member(contacts[i], "numbers", path), at(path, "numbers"));
        for (std::size_t n = 0; n < numbers.size(); ++n) {
            const std::string np = at(at(path, "numbers"), n);
            PhoneNumber number;
            const std::string type = stringOf(member(numbers[n], "type", np), at(np, "type"));
            if (!type.empty()) {
                const auto t = numberTypeFromName(type);
                if (!t) {
                    throw Failure{at(np, "type") + ": \"" + type +
                                  "\" is none of general, mobile, home, work, other"};
                }
                number.type = *t;
            }
            number.number = stringOf(member(numbers[n], "number", np), at(np, "number"), true);
            c.numbers.push_back(std::move(number));
        }
        const json& notes = arrayOf(member(contacts[i], "notes", path), at(path, "notes"));
        for (std::size_t n = 0; n < notes.size(); ++n) {
            c.notes.push_back(stringOf(notes[n], at(at(path, "notes"), n), true));
        }
        const json& memberships = arrayOf(member(contacts[i], "groups", path), at(path, "groups"));
        for (std::size_t n = 0; n < memberships.size(); ++n) {
            c.groups.push_back(groupNumberOf(memberships[n], at(at(path, "groups"), n)));
        }
        book.contacts.push_back(std::move(c));
    }
    return book;
}

nlohmann::ordered_json partToJson(const StoredSms& s, const DecodedSms& d) {
    nlohmann::ordered_json part = {
        {"store", s.store}, {"position", s.position}, {"record", toHex(s.record, false)}};
    if (d.concatenation) {
        part["sequence"] = d.concatenation->sequence;
    }
    return part;
}

StoredSms readPart(const json& part, const std::string& path, const std::string& store) {
    StoredSms s;
    s.store = stringOf(member(part, "store", path), at(path, "store"));
    if (s.store.empty()) {
        s.store = store;
    }
    if (s.store != "CMS" && s.store != "LMS" && s.store != "EMS") {
        throw Failure{at(path, "store") + ": expected CMS, LMS or EMS"};
    }
    const std::string hex = stringOf(member(part, "record", path), at(path, "record"), true);
    if (!fromHex(hex, s.record) || s.record.size() != kSmsRecordSize) {
        throw Failure{at(path, "record") + ": expected a 176-byte record as 352 hex digits"};
    }
    return s;
}

std::vector<MessageToStore> readMessages(const json& doc) {
    std::vector<MessageToStore> out;
    const std::string root = "messages";
    const json& messages = arrayOf(member(doc, "messages", root), at(root, "messages"));
    for (std::size_t i = 0; i < messages.size(); ++i) {
        const std::string path = at(at(root, "messages"), i);
        const json& m = messages[i];
        MessageToStore item;
        item.store = stringOf(member(m, "store", path), at(path, "store"));
        if (item.store.empty()) {
            item.store = "CMS";
        }
        const json& parts = arrayOf(member(m, "parts", path), at(path, "parts"));
        for (std::size_t p = 0; p < parts.size(); ++p) {
            item.records.push_back(readPart(parts[p], at(at(path, "parts"), p), item.store));
        }
        if (item.records.empty()) {
            const std::string status = stringOf(member(m, "status", path), at(path, "status"));
            if (!status.empty()) {
                const auto s = smsStatusFromName(status);
                if (!s) {
                    throw Failure{at(path, "status") + ": expected read, unread, sent or unsent"};
                }
                item.draft.status = *s;
            }
            const bool received =
                item.draft.status == SmsStatus::kRead || item.draft.status == SmsStatus::kUnread;
            const char* party = received ? "from" : "to";
            item.draft.address = stringOf(member(m, party, path), at(path, party), true);
            item.draft.text = stringOf(member(m, "text", path), at(path, "text"));
            item.draft.smsc = stringOf(member(m, "smsc", path), at(path, "smsc"));
            item.draft.timestamp = stringOf(member(m, "timestamp", path), at(path, "timestamp"));
        }
        out.push_back(std::move(item));
    }
    return out;
}

// Deepest bracket nesting outside strings.
int nestingDepth(std::string_view text) {
    int depth = 0;
    int deepest = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return deepest;
}

void checkFormat(const json& doc, const char* expected) {
    if (!doc.is_object()) {
        throw Failure{"expected a JSON object at the top"};
    }
    const auto it = doc.find("format");
    if (it == doc.end()) {
        return;  // hand-written documents may leave it out
    }
    if (!it->is_string() ||
        (it->get<std::string>() != expected && it->get<std::string>() != "zrn-backup")) {
        throw Failure{std::string("\"format\" should be \"") + expected + "\" or \"zrn-backup\""};
    }
    const auto version = doc.find("version");
    if (version != doc.end() &&
        (!version->is_number_integer() || version->get<long long>() > kFormatVersion)) {
        throw Failure{"version " + version->dump() + " is newer than this tool understands"};
    }
}

}  // namespace

nlohmann::ordered_json phonebookToJson(const Phonebook& phonebook, std::string_view layout) {
    using Json = nlohmann::ordered_json;
    Json groups = Json::array();
    for (const Group& g : phonebook.groups) {
        groups.push_back({{"number", g.number}, {"name", g.name}});
    }
    Json contacts = Json::array();
    for (const Contact& c : phonebook.contacts) {
        Json numbers = Json::array();
        for (const PhoneNumber& n : c.numbers) {
            numbers.push_back({{"type", numberTypeName(n.type)}, {"number", n.number}});
        }
        contacts.push_back(
            {{"name", c.name}, {"numbers", numbers}, {"notes", c.notes}, {"groups", c.groups}});
    }
    return {{"format", "zrn-phonebook"},
            {"version", kFormatVersion},
            {"layout", layout},
            {"groups", groups},
            {"contacts", contacts}};
}

Outcome<Phonebook> phonebookFromJson(const json& document) {
    try {
        checkFormat(document, "zrn-phonebook");
        return readPhonebook(unwrap(document, "phonebook"));
    } catch (const Failure& f) {
        return Outcome<Phonebook>::failure(f.message);
    } catch (const std::exception& e) {
        return Outcome<Phonebook>::failure(e.what());
    }
}

namespace {

// Who a message is from or to, under the name its kind gives the address:
// a status report names the recipient of the message it reports on.
void addParties(nlohmann::ordered_json& j, const DecodedSms& d) {
    switch (d.kind) {
        case SmsKind::kSubmit:
        case SmsKind::kCommand:
            j["to"] = d.address;
            break;
        case SmsKind::kStatusReport:
            j["recipient"] = d.address;
            if (!d.dischargeTime.empty()) {
                j["discharge_time"] = d.dischargeTime;
            }
            if (d.reportStatus >= 0) {
                j["report_status"] = d.reportStatus;
                j["report_meaning"] = reportStatusMeaning(d.reportStatus);
            }
            break;
        default:
            j["from"] = d.address;
            break;
    }
    if (d.kind == SmsKind::kCommand && d.commandType >= 0) {
        j["command_type"] = d.commandType;
        j["command_meaning"] = commandTypeMeaning(d.commandType);
    }
}

}  // namespace

nlohmann::ordered_json messagesToJson(const std::vector<StoredSms>& stored) {
    using Json = nlohmann::ordered_json;
    Json messages = Json::array();
    std::vector<DecodedSms> decoded;
    for (const StoredSms& s : stored) {
        decoded.push_back(decodeSmsRecord(s.record));
    }
    for (const SmsMessage& m : assembleMessages(stored)) {
        const DecodedSms& d = m.first;
        const StoredSms& firstPart = stored[m.parts.front()];
        Json j = {{"store", firstPart.store},
                  {"status", smsStatusName(d.status)},
                  {"type", smsKindName(d.kind)}};
        addParties(j, d);
        if (!d.smsc.empty()) {
            j["smsc"] = d.smsc;
        }
        if (!d.timestamp.empty()) {
            j["timestamp"] = d.timestamp;
        }
        j["encoding"] = d.encoding;
        j["text"] = m.text;
        if (d.concatenation) {
            j["total_parts"] = m.totalParts;
            j["complete"] = m.complete;
        }
        if (!d.problem.empty()) {
            j["problem"] = d.problem;
        }
        Json parts = Json::array();
        for (const std::size_t p : m.parts) {
            parts.push_back(partToJson(stored[p], decoded[p]));
        }
        j["parts"] = parts;
        messages.push_back(j);
    }
    return {{"format", "zrn-messages"}, {"version", kFormatVersion}, {"messages", messages}};
}

Outcome<std::vector<MessageToStore>> messagesFromJson(const json& document) {
    using Result = Outcome<std::vector<MessageToStore>>;
    try {
        checkFormat(document, "zrn-messages");
        return readMessages(unwrap(document, "messages"));
    } catch (const Failure& f) {
        return Result::failure(f.message);
    } catch (const std::exception& e) {
        return Result::failure(e.what());
    }
}

Outcome<json> parseJson(std::string_view text) {
    if (nestingDepth(text) > kMaxDepth) {
        return Outcome<json>::failure("JSON nested deeper than " + std::to_string(kMaxDepth) +
                                      " levels");
    }
    try {
        return json::parse(text.begin(), text.end());
    } catch (const json::exception& e) {
        return Outcome<json>::failure(std::string("not valid JSON: ") + e.what());
    }
}

Outcome<Phonebook> parsePhonebookJson(std::string_view text) {
    auto doc = parseJson(text);
    if (!doc) {
        return Outcome<Phonebook>::failure(doc.error());
    }
    return phonebookFromJson(doc.value());
}

Outcome<std::vector<MessageToStore>> parseMessagesJson(std::string_view text) {
    auto doc = parseJson(text);
    if (!doc) {
        return Outcome<std::vector<MessageToStore>>::failure(doc.error());
    }
    return messagesFromJson(doc.value());
}

}  // namespace zrn::cli::formats
