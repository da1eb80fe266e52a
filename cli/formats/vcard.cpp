#include "cli/formats/vcard.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <optional>
#include <vector>

#include "cli/text/charset.h"
#include "cli/text/utf8.h"

namespace zrn::cli::formats {

namespace {

constexpr std::size_t kFoldAt = 75;

std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return out;
}

// --- writing ------------------------------------------------------------------

std::string escapeText(std::string_view s) {
    std::string out;
    for (const char c : s) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case ',':
                out += "\\,";
                break;
            case ';':
                out += "\\;";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                break;
            default:
                out.push_back(c);
        }
    }
    return out;
}

// Folds after at most 75 octets without splitting a UTF-8 sequence.
void appendFolded(std::string& out, const std::string& line) {
    std::size_t start = 0;
    std::size_t limit = kFoldAt;
    while (line.size() - start > limit) {
        std::size_t cut = start + limit;
        while (cut > start && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        out += line.substr(start, cut - start) + "\r\n ";
        start = cut;
        limit = kFoldAt - 1;
    }
    out += line.substr(start) + "\r\n";
}

const char* telType(NumberType type) {
    switch (type) {
        case NumberType::kGeneral:
            return "VOICE";
        case NumberType::kMobile:
            return "CELL";
        case NumberType::kHome:
            return "HOME";
        case NumberType::kWork:
            return "WORK";
        case NumberType::kOther:
            return "OTHER";
    }
    return "VOICE";
}

bool looksLikeEmail(std::string_view s) {
    const std::size_t at = s.find('@');
    if (at == std::string_view::npos || at == 0 || s.find('@', at + 1) != std::string_view::npos) {
        return false;
    }
    const std::size_t dot = s.find('.', at);
    if (dot == std::string_view::npos || dot == at + 1 || dot + 1 >= s.size()) {
        return false;
    }
    return std::none_of(s.begin(), s.end(),
                        [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; });
}

std::string groupLabel(const Phonebook& book, int number) {
    const Group* g = book.group(number);
    return g != nullptr && !g->name.empty() ? g->name : "Group " + std::to_string(number);
}

// --- reading ------------------------------------------------------------------

struct Property {
    std::string name;                                        // upper case, group prefix removed
    std::map<std::string, std::vector<std::string>> params;  // upper-case keys
    std::vector<std::string> bareParams;                     // vCard 2.1 "TEL;CELL;PREF"
    std::string value;
};

bool isQuotedPrintable(std::string_view line) {
    const std::size_t colon = line.find(':');
    return upper(line.substr(0, colon)).find("QUOTED-PRINTABLE") != std::string::npos;
}

std::vector<std::string> physicalLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string line(text.substr(start, end - start));
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

// Joins folded lines (a leading space or tab continues the line) and the soft
// line breaks of quoted-printable values (a trailing '=').
std::vector<std::string> logicalLines(std::string_view text) {
    const auto lines = physicalLines(text);
    std::vector<std::string> out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (!out.empty() && !line.empty() && (line[0] == ' ' || line[0] == '\t')) {
            out.back() += line.substr(1);
            continue;
        }
        if (line.empty()) {
            continue;
        }
        out.push_back(line);
        while (isQuotedPrintable(out.back()) && !out.back().empty() && out.back().back() == '=' &&
               i + 1 < lines.size()) {
            out.back().pop_back();
            out.back() += lines[++i];
        }
    }
    return out;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

std::string decodeQuotedPrintable(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '=' && i + 2 < s.size()) {
            const int hi = hexValue(s[i + 1]);
            const int lo = hexValue(s[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out.push_back(static_cast<char>(hi * 16 + lo));
                i += 2;
                continue;
            }
        }
        out.push_back(s[i]);
    }
    return out;
}

// Splits at `separator` outside double quotes.
std::vector<std::string> splitOutsideQuotes(std::string_view s, char separator) {
    std::vector<std::string> parts(1);
    bool quoted = false;
    for (const char c : s) {
        if (c == '"') {
            quoted = !quoted;
            continue;
        }
        if (c == separator && !quoted) {
            parts.emplace_back();
            continue;
        }
        parts.back().push_back(c);
    }
    return parts;
}

// Splits a text value at unescaped `separator` and removes the escapes.
std::vector<std::string> splitEscaped(std::string_view s, char separator) {
    std::vector<std::string> parts(1);
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '\\' && i + 1 < s.size()) {
            const char next = s[++i];
            parts.back().push_back(next == 'n' || next == 'N' ? '\n' : next);
            continue;
        }
        if (c == separator) {
            parts.emplace_back();
            continue;
        }
        parts.back().push_back(c);
    }
    return parts;
}

std::string unescape(std::string_view s) {
    return splitEscaped(s, '\0').front();
}

std::optional<Property> parseProperty(const std::string& line) {
    bool quoted = false;
    std::size_t colon = std::string::npos;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"') {
            quoted = !quoted;
        } else if (line[i] == ':' && !quoted) {
            colon = i;
            break;
        }
    }
    if (colon == std::string::npos) {
        return std::nullopt;
    }
    Property p;
    const auto head = splitOutsideQuotes(std::string_view(line).substr(0, colon), ';');
    p.name = upper(head[0]);
    if (const std::size_t dot = p.name.rfind('.'); dot != std::string::npos) {
        p.name = p.name.substr(dot + 1);  // "item1.TEL"
    }
    for (std::size_t i = 1; i < head.size(); ++i) {
        const std::size_t eq = head[i].find('=');
        if (eq == std::string::npos) {
            p.bareParams.push_back(upper(head[i]));
            continue;
        }
        auto& values = p.params[upper(head[i].substr(0, eq))];
        for (const auto& v : splitOutsideQuotes(std::string_view(head[i]).substr(eq + 1), ',')) {
            values.push_back(upper(v));
        }
    }
    p.value = line.substr(colon + 1);
    return p;
}

bool hasParam(const Property& p, const std::string& key, const std::string& value) {
    const auto it = p.params.find(key);
    if (it != p.params.end() &&
        std::find(it->second.begin(), it->second.end(), value) != it->second.end()) {
        return true;
    }
    return std::find(p.bareParams.begin(), p.bareParams.end(), value) != p.bareParams.end();
}

std::vector<std::string> types(const Property& p) {
    std::vector<std::string> out = p.bareParams;
    if (const auto it = p.params.find("TYPE"); it != p.params.end()) {
        out.insert(out.end(), it->second.begin(), it->second.end());
    }
    return out;
}

NumberType numberTypeOf(const Property& p) {
    const auto t = types(p);
    const auto has = [&](const char* name) {
        return std::find(t.begin(), t.end(), name) != t.end();
    };
    if (has("CELL")) {
        return NumberType::kMobile;
    }
    if (has("HOME")) {
        return NumberType::kHome;
    }
    if (has("WORK")) {
        return NumberType::kWork;
    }
    if (has("OTHER") || has("X-OTHER") || has("FAX") || has("PAGER") || has("CAR") || has("ISDN") ||
        has("VIDEO") || has("MODEM") || has("BBS") || has("TEXTPHONE")) {
        return NumberType::kOther;
    }
    return NumberType::kGeneral;
}

struct CardBuilder {
    Contact contact;
    std::string formattedName;
    std::string structuredName;
    bool hasFormattedName = false;
    std::vector<std::string> categories;
    std::vector<int> categoryNumbers;
};

std::string nameFromStructured(const std::string& n) {
    const auto parts = splitEscaped(n, ';');
    // family; given; additional; prefix; suffix
    std::vector<std::string> ordered;
    for (const std::size_t i : {3u, 1u, 2u, 0u, 4u}) {
        if (i < parts.size() && !parts[i].empty()) {
            ordered.push_back(parts[i]);
        }
    }
    std::string out;
    for (const auto& p : ordered) {
        out += (out.empty() ? "" : " ") + p;
    }
    return out;
}

std::string telValue(std::string value) {
    if (upper(value.substr(0, 4)) == "TEL:") {
        value = value.substr(4);
        value = value.substr(0, value.find(';'));  // ";ext=..." and other URI parameters
    }
    return value;
}

class Reader {
  public:
    Outcome<ImportedPhonebook> run(std::string_view text) {
        for (const std::string& line : logicalLines(text)) {
            auto property = parseProperty(line);
            if (!property) {
                continue;  // not a property line: tolerated, as phones write such lines
            }
            handle(*property);
        }
        if (cards_ == 0) {
            return Outcome<ImportedPhonebook>::failure(
                "no vCard found (expected BEGIN:VCARD ... END:VCARD)");
        }
        if (open_) {
            out_.warnings.push_back("the last vCard has no END:VCARD; taken as it stands");
            finish();
        }
        out_.phonebook.groups = groups_.groups();
        return std::move(out_);
    }

  private:
    std::string valueOf(const Property& p) {
        std::string v = p.value;
        if (hasParam(p, "ENCODING", "QUOTED-PRINTABLE")) {
            v = decodeQuotedPrintable(v);
        }
        const auto charset = p.params.find("CHARSET");
        if (charset != p.params.end() && !charset->second.empty() &&
            charset->second.front() != "UTF-8") {
            if (auto converted = text::toUtf8(v, charset->second.front())) {
                v = *converted;
            } else {
                out_.warnings.push_back(p.name + ": charset " + charset->second.front() +
                                        " unknown or the text is not valid in it; taken as UTF-8");
            }
        }
        if (!text::isValidUtf8(v)) {
            out_.warnings.push_back(p.name + ": not valid UTF-8; bad bytes replaced");
            v = text::encodeUtf8(text::decodeUtf8(v));
        }
        return v;
    }

    void handle(const Property& p) {
        if (p.name == "BEGIN" && upper(p.value) == "VCARD") {
            if (open_) {
                ++nested_;
                return;
            }
            open_ = true;
            card_ = CardBuilder{};
            return;
        }
        if (p.name == "END" && upper(p.value) == "VCARD") {
            if (nested_ > 0) {
                --nested_;
                return;
            }
            if (open_) {
                finish();
            }
            return;
        }
        if (!open_ || nested_ > 0) {
            return;
        }
        if (hasParam(p, "ENCODING", "B") || hasParam(p, "ENCODING", "BASE64")) {
            return;  // photos, sounds, keys
        }
        const std::string value = valueOf(p);
        if (p.name == "FN") {
            card_.formattedName = unescape(value);
            card_.hasFormattedName = true;
        } else if (p.name == "N") {
            card_.structuredName = value;
        } else if (p.name == "TEL") {
            card_.contact.numbers.push_back({numberTypeOf(p), telValue(unescape(value))});
        } else if (p.name == "EMAIL" || p.name == "NOTE") {
            const std::string note = unescape(value);
            if (!note.empty()) {
                card_.contact.notes.push_back(note);
            }
        } else if (p.name == "CATEGORIES") {
            for (const auto& c : splitEscaped(value, ',')) {
                if (!c.empty()) {
                    card_.categories.push_back(c);
                }
            }
        } else if (p.name == "X-ZRN-GROUPS") {
            for (const auto& n : splitEscaped(value, ',')) {
                card_.categoryNumbers.push_back(
                    n.size() == 1 && n[0] >= '1' && n[0] <= '8' ? n[0] - '0' : 0);
            }
        }
    }

    void finish() {
        open_ = false;
        ++cards_;
        Contact c = std::move(card_.contact);
        c.name =
            card_.hasFormattedName ? card_.formattedName : nameFromStructured(card_.structuredName);
        const bool numbered = card_.categoryNumbers.size() == card_.categories.size();
        for (std::size_t i = 0; i < card_.categories.size(); ++i) {
            const int wanted = numbered ? card_.categoryNumbers[i] : 0;
            std::string name = card_.categories[i];
            if (wanted != 0 && name == "Group " + std::to_string(wanted)) {
                name.clear();  // how an unnamed group travels
            }
            const int number = groups_.numberFor(name, wanted, out_.warnings);
            if (number != 0) {
                c.groups.push_back(number);
            }
        }
        std::sort(c.groups.begin(), c.groups.end());
        c.groups.erase(std::unique(c.groups.begin(), c.groups.end()), c.groups.end());
        out_.phonebook.contacts.push_back(std::move(c));
    }

    ImportedPhonebook out_;
    GroupAllocator groups_;
    CardBuilder card_;
    bool open_ = false;
    int nested_ = 0;
    std::size_t cards_ = 0;
};

}  // namespace

std::string writeVcards(const Phonebook& phonebook) {
    std::string out;
    for (const Contact& c : phonebook.contacts) {
        out += "BEGIN:VCARD\r\nVERSION:3.0\r\n";
        appendFolded(out, "FN:" + escapeText(c.name));
        appendFolded(out, "N:;" + escapeText(c.name) + ";;;");
        for (const PhoneNumber& n : c.numbers) {
            appendFolded(out, std::string("TEL;TYPE=") + telType(n.type) + ":" + n.number);
        }
        for (const std::string& note : c.notes) {
            appendFolded(
                out, (looksLikeEmail(note) ? "EMAIL;TYPE=INTERNET:" : "NOTE:") + escapeText(note));
        }
        if (!c.groups.empty()) {
            std::string categories;
            std::string numbers;
            for (const int g : c.groups) {
                categories +=
                    (categories.empty() ? "" : ",") + escapeText(groupLabel(phonebook, g));
                numbers += (numbers.empty() ? "" : ",") + std::to_string(g);
            }
            appendFolded(out, "CATEGORIES:" + categories);
            appendFolded(out, "X-ZRN-GROUPS:" + numbers);
        }
        out += "END:VCARD\r\n";
    }
    return out;
}

Outcome<ImportedPhonebook> parseVcards(std::string_view text) {
    try {
        return Reader().run(text);
    } catch (const std::exception& e) {
        return Outcome<ImportedPhonebook>::failure(std::string("vCard: ") + e.what());
    }
}

}  // namespace zrn::cli::formats
