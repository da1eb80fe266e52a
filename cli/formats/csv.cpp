#include "cli/formats/csv.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <map>
#include <optional>

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

Outcome<ImportedPhonebook> parseCsv(std::string_view text) {
    using Result = Outcome<ImportedPhonebook>;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);  // byte-order mark of spreadsheet exports
    }
    auto records = parseCsvRecords(text);
    if (!records) {
        return Result::failure(records.error());
    }
    auto& rows = records.value();
    if (rows.empty()) {
        return Result::failure("CSV: the file is empty; a header row is needed");
    }
    std::map<std::string, std::size_t> column;
    for (std::size_t i = 0; i < rows[0].size(); ++i) {
        column.emplace(lower(trim(rows[0][i])), i);
    }
    if (column.count("name") == 0) {
        return Result::failure(
            "CSV: the header row has no \"name\" column (expected name,"
            "general,mobile,home,work,other,note1,note2,groups)");
    }
    ImportedPhonebook out;
    GroupAllocator groups;
    const auto cell = [&](const std::vector<std::string>& row, const std::string& name) {
        const auto it = column.find(name);
        return it != column.end() && it->second < row.size() ? row[it->second] : std::string();
    };
    for (std::size_t r = 1; r < rows.size(); ++r) {
        const auto& row = rows[r];
        if (std::all_of(row.begin(), row.end(),
                        [](const std::string& s) { return trim(s).empty(); })) {
            continue;
        }
        Contact c;
        c.name = cell(row, "name");
        for (const NumberType t : kColumnsTypes) {
            for (const auto& n : splitEscapedList(cell(row, numberTypeName(t)))) {
                c.numbers.push_back({t, n});
            }
        }
        for (std::size_t n = 1; column.count("note" + std::to_string(n)) != 0; ++n) {
            const std::string note = cell(row, "note" + std::to_string(n));
            if (!note.empty()) {
                c.notes.push_back(note);
            }
        }
        const auto names = splitEscapedList(cell(row, "groups"));
        const auto numbers = splitEscapedList(cell(row, "group_numbers"));
        for (std::size_t g = 0; g < names.size(); ++g) {
            int wanted = 0;
            if (numbers.size() == names.size() && numbers[g].size() == 1 && numbers[g][0] >= '1' &&
                numbers[g][0] <= '8') {
                wanted = numbers[g][0] - '0';
            }
            std::string name = names[g];
            if (wanted != 0 && name == "Group " + std::to_string(wanted)) {
                name.clear();
            }
            if (const int number = groups.numberFor(name, wanted, out.warnings); number != 0) {
                c.groups.push_back(number);
            }
        }
        std::sort(c.groups.begin(), c.groups.end());
        c.groups.erase(std::unique(c.groups.begin(), c.groups.end()), c.groups.end());
        if (c.name.empty() && c.numbers.empty() && c.notes.empty() && c.groups.empty()) {
            continue;  // a row of columns this tool does not know: nothing to store
        }
        for (std::string* s : {&c.name}) {
            if (!text::isValidUtf8(*s)) {
                out.warnings.push_back("row " + std::to_string(r + 1) +
                                       ": not valid UTF-8; bad bytes replaced");
                *s = text::encodeUtf8(text::decodeUtf8(*s));
            }
        }
        for (std::string& note : c.notes) {
            note = text::encodeUtf8(text::decodeUtf8(note));
        }
        out.phonebook.contacts.push_back(std::move(c));
    }
    out.phonebook.groups = groups.groups();
    return out;
}

}  // namespace zrn::cli::formats
