#include "cli/formats/csv.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <map>
#include <optional>

#include "cli/text/charset.h"
#include "cli/text/utf8.h"

namespace zrn::cli::formats {

namespace {

constexpr std::array<NumberType, 5> kColumnsTypes = {NumberType::kGeneral, NumberType::kMobile,
                                                     NumberType::kHome, NumberType::kWork,
                                                     NumberType::kOther};

std::string quoted(const std::string& cell) {
    if (cell.find_first_of(",\"\r\n") == std::string::npos) {
        return cell;
    }
    std::string out = "\"";
    for (const char c : cell) {
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    return out + "\"";
}

std::string lower(std::string s) {
    for (char& c : s) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return s;
}

std::string trim(const std::string& s) {
    const auto begin = s.find_first_not_of(" \t");
    if (begin == std::string::npos) {
        return {};
    }
    const auto end = s.find_last_not_of(" \t");
    return s.substr(begin, end - begin + 1);
}

std::string escapeGroup(const std::string& name) {
    std::string out;
    for (const char c : name) {
        if (c == ';' || c == '\\') {
            out.push_back('\\');
        }
        out.push_back(c);
    }
    return out;
}

std::vector<std::string> splitEscapedList(const std::string& cell) {
    std::vector<std::string> out(1);
    for (std::size_t i = 0; i < cell.size(); ++i) {
        if (cell[i] == '\\' && i + 1 < cell.size()) {
            out.back().push_back(cell[++i]);
        } else if (cell[i] == ';') {
            out.emplace_back();
        } else {
            out.back().push_back(cell[i]);
        }
    }
    for (auto& s : out) {
        s = trim(s);
    }
    out.erase(std::remove(out.begin(), out.end(), std::string()), out.end());
    return out;
}

// --- reading address-book headers ---------------------------------------------

enum class Role {
    kUnknown,    // data the tool cannot store: reported when a row holds any
    kDerived,    // repeats other columns (types, labels, display forms): skipped
    kDefaulted,  // skipped while it holds its export default ("Normal", "False")
    kFullName,
    kPrefix,
    kGiven,
    kMiddle,
    kFamily,
    kSuffix,
    kFallbackName,  // the name only when no other column gives one
    kNumber,        // a fixed type
    kTypedNumber,   // the type is in the column `pair`
    kNote,
    kEmail,         // kept as a note, as vCard EMAIL is
    kGroups,        // this tool's own: ';'-separated, '\' escapes
    kGroupNumbers,  // this tool's own
    kLabels,        // " ::: "-separated, "* myContacts" and the like are the system's
};

struct Column {
    std::string header;
    Role role = Role::kUnknown;
    NumberType type = NumberType::kGeneral;
    std::size_t pair = SIZE_MAX;
};

struct NamedRole {
    const char* header;  // lower case
    Role role;
    NumberType type;
};

// Headers of this tool, Google Contacts, Outlook, Thunderbird and phone makers'
// exports (Samsung, Huawei, Xiaomi and others use the plain words).
constexpr NamedRole kHeaders[] = {
    {"name", Role::kFullName, NumberType::kGeneral},
    {"full name", Role::kFullName, NumberType::kGeneral},
    {"display name", Role::kFullName, NumberType::kGeneral},
    {"contact name", Role::kFullName, NumberType::kGeneral},
    {"姓名", Role::kFullName, NumberType::kGeneral},
    {"名称", Role::kFullName, NumberType::kGeneral},
    {"name prefix", Role::kPrefix, NumberType::kGeneral},
    {"title", Role::kPrefix, NumberType::kGeneral},
    {"given name", Role::kGiven, NumberType::kGeneral},
    {"first name", Role::kGiven, NumberType::kGeneral},
    {"additional name", Role::kMiddle, NumberType::kGeneral},
    {"middle name", Role::kMiddle, NumberType::kGeneral},
    {"family name", Role::kFamily, NumberType::kGeneral},
    {"last name", Role::kFamily, NumberType::kGeneral},
    {"surname", Role::kFamily, NumberType::kGeneral},
    {"name suffix", Role::kSuffix, NumberType::kGeneral},
    {"suffix", Role::kSuffix, NumberType::kGeneral},
    {"file as", Role::kFallbackName, NumberType::kGeneral},
    {"general", Role::kNumber, NumberType::kGeneral},
    {"phone", Role::kNumber, NumberType::kGeneral},
    {"phone number", Role::kNumber, NumberType::kGeneral},
    {"telephone", Role::kNumber, NumberType::kGeneral},
    {"tel", Role::kNumber, NumberType::kGeneral},
    {"number", Role::kNumber, NumberType::kGeneral},
    {"primary phone", Role::kNumber, NumberType::kGeneral},
    {"电话", Role::kNumber, NumberType::kGeneral},
    {"mobile", Role::kNumber, NumberType::kMobile},
    {"mobile phone", Role::kNumber, NumberType::kMobile},
    {"mobile number", Role::kNumber, NumberType::kMobile},
    {"cell", Role::kNumber, NumberType::kMobile},
    {"cell phone", Role::kNumber, NumberType::kMobile},
    {"手机", Role::kNumber, NumberType::kMobile},
    {"home", Role::kNumber, NumberType::kHome},
    {"home phone", Role::kNumber, NumberType::kHome},
    {"home phone 2", Role::kNumber, NumberType::kHome},
    {"住宅电话", Role::kNumber, NumberType::kHome},
    {"work", Role::kNumber, NumberType::kWork},
    {"work phone", Role::kNumber, NumberType::kWork},
    {"office", Role::kNumber, NumberType::kWork},
    {"office phone", Role::kNumber, NumberType::kWork},
    {"business phone", Role::kNumber, NumberType::kWork},
    {"business phone 2", Role::kNumber, NumberType::kWork},
    {"company main phone", Role::kNumber, NumberType::kWork},
    {"办公电话", Role::kNumber, NumberType::kWork},
    {"other", Role::kNumber, NumberType::kOther},
    {"other phone", Role::kNumber, NumberType::kOther},
    {"fax", Role::kNumber, NumberType::kOther},
    {"fax number", Role::kNumber, NumberType::kOther},
    {"home fax", Role::kNumber, NumberType::kOther},
    {"business fax", Role::kNumber, NumberType::kOther},
    {"work fax", Role::kNumber, NumberType::kOther},
    {"other fax", Role::kNumber, NumberType::kOther},
    {"pager", Role::kNumber, NumberType::kOther},
    {"pager number", Role::kNumber, NumberType::kOther},
    {"car phone", Role::kNumber, NumberType::kOther},
    {"callback", Role::kNumber, NumberType::kOther},
    {"isdn", Role::kNumber, NumberType::kOther},
    {"radio phone", Role::kNumber, NumberType::kOther},
    {"tty/tdd phone", Role::kNumber, NumberType::kOther},
    {"telex", Role::kNumber, NumberType::kOther},
    {"assistant's phone", Role::kNumber, NumberType::kOther},
    {"传真", Role::kNumber, NumberType::kOther},
    {"notes", Role::kNote, NumberType::kGeneral},
    {"note", Role::kNote, NumberType::kGeneral},
    {"备注", Role::kNote, NumberType::kGeneral},
    {"e-mail", Role::kEmail, NumberType::kGeneral},
    {"email", Role::kEmail, NumberType::kGeneral},
    {"e-mail address", Role::kEmail, NumberType::kGeneral},
    {"email address", Role::kEmail, NumberType::kGeneral},
    {"e-mail 2 address", Role::kEmail, NumberType::kGeneral},
    {"e-mail 3 address", Role::kEmail, NumberType::kGeneral},
    {"primary email", Role::kEmail, NumberType::kGeneral},
    {"secondary email", Role::kEmail, NumberType::kGeneral},
    {"电子邮件", Role::kEmail, NumberType::kGeneral},
    {"groups", Role::kGroups, NumberType::kGeneral},
    {"group_numbers", Role::kGroupNumbers, NumberType::kGeneral},
    {"group membership", Role::kLabels, NumberType::kGeneral},
    {"labels", Role::kLabels, NumberType::kGeneral},
    {"categories", Role::kGroups, NumberType::kGeneral},
    {"group", Role::kGroups, NumberType::kGeneral},
    {"分组", Role::kGroups, NumberType::kGeneral},
    {"initials", Role::kDerived, NumberType::kGeneral},
    {"e-mail type", Role::kDerived, NumberType::kGeneral},
    {"e-mail display name", Role::kDerived, NumberType::kGeneral},
    {"e-mail 2 type", Role::kDerived, NumberType::kGeneral},
    {"e-mail 2 display name", Role::kDerived, NumberType::kGeneral},
    {"e-mail 3 type", Role::kDerived, NumberType::kGeneral},
    {"e-mail 3 display name", Role::kDerived, NumberType::kGeneral},
    {"gender", Role::kDefaulted, NumberType::kGeneral},
    {"priority", Role::kDefaulted, NumberType::kGeneral},
    {"sensitivity", Role::kDefaulted, NumberType::kGeneral},
    {"private", Role::kDefaulted, NumberType::kGeneral},
    {"birthday", Role::kDefaulted, NumberType::kGeneral},
    {"anniversary", Role::kDefaulted, NumberType::kGeneral},
};

// What Outlook writes in every row of a column nobody filled in.
bool isExportDefault(const std::string& value) {
    const std::string v = lower(value);
    return v == "unspecified" || v == "normal" || v == "false" || v == "0/0/00" || v == "0.0.00" ||
           v == "00.00.00";
}

// "Phone 3 - Value" gives 3 and "value"; nothing for other headers.
std::optional<std::pair<std::string, std::string>> numberedField(const std::string& header,
                                                                 const std::string& kind) {
    const std::string prefix = kind + " ";
    if (header.rfind(prefix, 0) != 0) {
        return std::nullopt;
    }
    const std::size_t dash = header.find(" - ", prefix.size());
    if (dash == std::string::npos) {
        return std::nullopt;
    }
    const std::string index = header.substr(prefix.size(), dash - prefix.size());
    if (index.empty() || index.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    return std::make_pair(index, header.substr(dash + 3));
}

std::vector<Column> classify(const std::vector<std::string>& header) {
    std::vector<Column> columns;
    std::map<std::string, std::size_t> phoneTypeColumn;
    for (std::size_t i = 0; i < header.size(); ++i) {
        Column column;
        column.header = trimmed(header[i]);
        const std::string h = lower(column.header);
        for (const NamedRole& known : kHeaders) {
            if (h == known.header) {
                column.role = known.role;
                column.type = known.type;
            }
        }
        if (column.role == Role::kUnknown && h.rfind("note", 0) == 0 && h.size() > 4 &&
            h.find_first_not_of("0123456789", 4) == std::string::npos) {
            column.role = Role::kNote;  // note1, note2, ... of this tool
        }
        if (const auto phone = numberedField(h, "phone")) {
            if (phone->second == "type" || phone->second == "label") {
                column.role = Role::kDerived;
                phoneTypeColumn[phone->first] = i;
            } else if (phone->second == "value") {
                column.role = Role::kTypedNumber;
            }
        }
        if (const auto mail = numberedField(h, "e-mail")) {
            column.role = mail->second == "value" ? Role::kEmail : Role::kDerived;
        }
        columns.push_back(std::move(column));
    }
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (columns[i].role == Role::kTypedNumber) {
            const auto phone = numberedField(lower(columns[i].header), "phone");
            if (const auto it = phoneTypeColumn.find(phone->first); it != phoneTypeColumn.end()) {
                columns[i].pair = it->second;
            }
        }
    }
    return columns;
}

// Google's "Mobile", "* Work", "Home Fax", custom labels; fax and pager are
// "other", as anything the card has no type for.
NumberType numberTypeFromLabel(const std::string& label) {
    std::string l = lower(trimmed(label));
    while (!l.empty() && (l[0] == '*' || l[0] == ' ')) {
        l.erase(0, 1);
    }
    const auto has = [&](const char* word) { return l.find(word) != std::string::npos; };
    if (has("fax") || has("pager") || has("传真")) {
        return NumberType::kOther;
    }
    if (has("mobile") || has("cell") || has("iphone") || has("手机")) {
        return NumberType::kMobile;
    }
    if (has("home") || has("住宅") || has("家")) {
        return NumberType::kHome;
    }
    if (has("work") || has("business") || has("office") || has("company") || has("单位") ||
        has("办公")) {
        return NumberType::kWork;
    }
    if (l.empty() || l == "main" || l == "phone" || l == "voice" || l == "general" || l == "pref" ||
        l == "电话") {
        return NumberType::kGeneral;
    }
    return NumberType::kOther;
}

// Splits a cell at the " ::: " Google joins several values with.
std::vector<std::string> splitGoogleList(const std::string& cell) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (true) {
        const std::size_t at = cell.find(":::", start);
        std::string value = trimmed(cell.substr(start, at == std::string::npos ? at : at - start));
        if (!value.empty()) {
            out.push_back(std::move(value));
        }
        if (at == std::string::npos) {
            return out;
        }
        start = at + 3;
    }
}

// Numbers: this tool's ';'-separated lists and Google's " ::: ".
std::vector<std::string> splitNumbers(const std::string& cell) {
    std::vector<std::string> out;
    for (const auto& part : splitGoogleList(cell)) {
        for (const auto& n : splitEscapedList(part)) {
            out.push_back(n);
        }
    }
    return out;
}

// Google's system groups: "* myContacts" holds everyone, the others are
// starred or named groups shown under their own name.
std::vector<std::string> labelGroups(const std::string& cell) {
    std::vector<std::string> out;
    for (std::string label : splitGoogleList(cell)) {
        if (label.rfind("* ", 0) == 0) {
            label = trimmed(label.substr(2));
            if (lower(label) == "mycontacts") {
                continue;
            }
        }
        out.push_back(std::move(label));
    }
    return out;
}

struct UnusedColumn {
    std::size_t rows = 0;
    std::string example;
};

std::string nonUtf8Message(std::string_view text) {
    std::size_t line = 1;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        if (!text::isValidUtf8(text.substr(start, end - start))) {
            break;
        }
        ++line;
        start = end + 1;
    }
    const std::string guess = text::likelyLegacyCharset(text);
    return "CSV: the file is not UTF-8 text (line " + std::to_string(line) +
           "). Name its charset with --charset; it reads like " + guess + " (--charset " + guess +
           ")";
}

}  // namespace

std::string writeCsv(const Phonebook& phonebook) {
    std::size_t noteColumns = 2;
    for (const Contact& c : phonebook.contacts) {
        noteColumns = std::max(noteColumns, c.notes.size());
    }
    std::string out = "name";
    for (const NumberType t : kColumnsTypes) {
        out += std::string(",") + numberTypeName(t);
    }
    for (std::size_t i = 1; i <= noteColumns; ++i) {
        out += ",note" + std::to_string(i);
    }
    out += ",groups,group_numbers\r\n";
    for (const Contact& c : phonebook.contacts) {
        out += quoted(c.name);
        for (const NumberType t : kColumnsTypes) {
            std::string cell;
            for (const PhoneNumber& n : c.numbers) {
                if (n.type == t) {
                    cell += (cell.empty() ? "" : ";") + n.number;
                }
            }
            out += "," + quoted(cell);
        }
        for (std::size_t i = 0; i < noteColumns; ++i) {
            out += "," + quoted(i < c.notes.size() ? c.notes[i] : std::string());
        }
        std::string names;
        std::string numbers;
        for (const int g : c.groups) {
            const Group* group = phonebook.group(g);
            const std::string name = group != nullptr ? group->name : std::string();
            names += (names.empty() ? "" : ";") +
                     escapeGroup(name.empty() ? "Group " + std::to_string(g) : name);
            numbers += (numbers.empty() ? "" : ";") + std::to_string(g);
        }
        out += "," + quoted(names) + "," + quoted(numbers) + "\r\n";
    }
    return out;
}

Outcome<std::vector<std::vector<std::string>>> parseCsvRecords(std::string_view text) {
    using Result = Outcome<std::vector<std::vector<std::string>>>;
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> record(1);
    bool inQuotes = false;
    bool any = false;
    std::size_t line = 1;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        any = true;
        if (inQuotes) {
            if (c == '"') {
                if (i + 1 < text.size() && text[i + 1] == '"') {
                    record.back().push_back('"');
                    ++i;
                } else {
                    inQuotes = false;
                }
            } else {
                line += c == '\n' ? 1 : 0;
                record.back().push_back(c);
            }
            continue;
        }
        if (c == '"') {
            inQuotes = true;
        } else if (c == ',') {
            record.emplace_back();
        } else if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
            ++line;
            records.push_back(std::move(record));
            record.assign(1, std::string());
            any = false;
        } else {
            record.back().push_back(c);
        }
    }
    if (inQuotes) {
        return Result::failure("CSV: a quoted field opened before line " + std::to_string(line) +
                               " is never closed");
    }
    if (any) {
        records.push_back(std::move(record));
    }
    return records;
}

Outcome<ImportedPhonebook> parseCsv(std::string_view bytes, const std::string& charset) {
    using Result = Outcome<ImportedPhonebook>;
    auto decoded = text::decodeTextFile(bytes, charset);
    if (!decoded) {
        return Result::failure("CSV: " + decoded.error());
    }
    const std::string& text = decoded->text;
    if (const std::size_t nul = text.find('\0'); nul != std::string::npos) {
        return Result::failure("CSV: the file holds a NUL byte (offset " + std::to_string(nul) +
                               "): it is not CSV text; name its charset with --charset");
    }
    if (!text::isValidUtf8(text)) {
        return Result::failure(nonUtf8Message(text));
    }
    auto records = parseCsvRecords(text);
    if (!records) {
        return Result::failure(records.error());
    }
    auto& rows = records.value();
    if (rows.empty()) {
        return Result::failure("CSV: the file is empty; a header row is needed");
    }
    const std::vector<Column> columns = classify(rows[0]);
    const bool named = std::any_of(columns.begin(), columns.end(), [](const Column& c) {
        return c.role == Role::kFullName || c.role == Role::kGiven || c.role == Role::kFamily ||
               c.role == Role::kMiddle || c.role == Role::kFallbackName;
    });
    if (!named) {
        return Result::failure(
            "CSV: the header row has no name column (expected name,general,mobile,home,work,"
            "other,note1,note2,groups, or an address book's header with Name, First Name or "
            "Last Name)");
    }
    ImportedPhonebook out;
    GroupAllocator groups;
    std::vector<UnusedColumn> unused(columns.size());
    for (std::size_t r = 1; r < rows.size(); ++r) {
        const auto& row = rows[r];
        const auto cell = [&](std::size_t i) { return i < row.size() ? trimmed(row[i]) : ""; };
        Contact c;
        NameParts parts;
        std::string fallbackName;
        std::vector<std::string> groupNames;
        std::vector<std::string> groupNumbers;
        for (std::size_t i = 0; i < columns.size(); ++i) {
            const Column& column = columns[i];
            const std::string value = cell(i);
            if (value.empty()) {
                continue;
            }
            switch (column.role) {
                case Role::kUnknown:
                    if (unused[i].rows++ == 0) {
                        unused[i].example = value;
                    }
                    break;
                case Role::kDefaulted:
                    if (!isExportDefault(value) && unused[i].rows++ == 0) {
                        unused[i].example = value;
                    }
                    break;
                case Role::kDerived:
                    break;
                case Role::kFullName:
                    c.name = c.name.empty() ? value : c.name;
                    break;
                case Role::kPrefix:
                    parts.prefix = value;
                    break;
                case Role::kGiven:
                    parts.given = value;
                    break;
                case Role::kMiddle:
                    parts.middle = value;
                    break;
                case Role::kFamily:
                    parts.family = value;
                    break;
                case Role::kSuffix:
                    parts.suffix = value;
                    break;
                case Role::kFallbackName:
                    fallbackName = value;
                    break;
                case Role::kNumber:
                case Role::kTypedNumber: {
                    const NumberType type = column.role == Role::kNumber
                                                ? column.type
                                                : numberTypeFromLabel(cell(column.pair));
                    for (const auto& n : splitNumbers(value)) {
                        c.numbers.push_back({type, withExtensionAsPause(n)});
                    }
                    break;
                }
                case Role::kNote:
                    c.notes.push_back(value);
                    break;
                case Role::kEmail:
                    for (const auto& address : splitGoogleList(value)) {
                        c.notes.push_back(address);
                    }
                    break;
                case Role::kGroups:
                    for (const auto& g : splitEscapedList(value)) {
                        groupNames.push_back(g);
                    }
                    break;
                case Role::kGroupNumbers:
                    groupNumbers = splitEscapedList(value);
                    break;
                case Role::kLabels:
                    for (const auto& g : labelGroups(value)) {
                        groupNames.push_back(g);
                    }
                    break;
            }
        }
        if (c.name.empty()) {
            c.name = composeName(parts);
        }
        if (c.name.empty()) {
            c.name = fallbackName;
        }
        for (std::size_t g = 0; g < groupNames.size(); ++g) {
            int wanted = 0;
            if (groupNumbers.size() == groupNames.size() && groupNumbers[g].size() == 1 &&
                groupNumbers[g][0] >= '1' && groupNumbers[g][0] <= '8') {
                wanted = groupNumbers[g][0] - '0';
            }
            std::string name = groupNames[g];
            if (wanted != 0 && name == "Group " + std::to_string(wanted)) {
                name.clear();
            }
            if (const int number = groups.numberFor(name, wanted, out.losses); number != 0) {
                c.groups.push_back(number);
            }
        }
        std::sort(c.groups.begin(), c.groups.end());
        c.groups.erase(std::unique(c.groups.begin(), c.groups.end()), c.groups.end());
        if (c.name.empty() && c.numbers.empty() && c.notes.empty() && c.groups.empty()) {
            continue;  // an empty row, or one of columns reported below
        }
        out.phonebook.contacts.push_back(std::move(c));
    }
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (unused[i].rows > 0) {
            out.losses.push_back("column \"" + columns[i].header +
                                 "\" is not imported: " + std::to_string(unused[i].rows) +
                                 " row(s) hold data (such as \"" + unused[i].example + "\")");
        }
    }
    out.phonebook.groups = groups.groups();
    return out;
}

}  // namespace zrn::cli::formats
