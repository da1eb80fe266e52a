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

struct Line {
    std::string text;
    std::size_t number = 0;  // of its first physical line, from 1
};

bool isQuotedPrintable(std::string_view line) {
    const std::size_t colon = line.find(':');
    return upper(line.substr(0, colon)).find("QUOTED-PRINTABLE") != std::string::npos;
}

// A line ends at LF, CR LF, a bare CR, or the CR CR LF of iOS 5 and 6.
std::vector<std::string> physicalLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        lines.emplace_back(text.substr(start, end - start));
        while (end < text.size() && text[end] == '\r') {
            ++end;
        }
        if (end < text.size() && text[end] == '\n') {
            ++end;
        }
        start = end;
    }
    return lines;
}

// Joins folded lines (a leading space or tab continues the line) and the soft
// line breaks of quoted-printable values (a trailing '=').
std::vector<Line> logicalLines(std::string_view text) {
    const auto lines = physicalLines(text);
    std::vector<Line> out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (!out.empty() && !line.empty() && (line[0] == ' ' || line[0] == '\t')) {
            out.back().text += line.substr(1);
            continue;
        }
        if (line.empty()) {
            continue;
        }
        out.push_back({line, i + 1});
        std::string& joined = out.back().text;
        while (isQuotedPrintable(joined) && !joined.empty() && joined.back() == '=' &&
               i + 1 < lines.size()) {
            joined.pop_back();
            joined += lines[++i];
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

// Splits a value at each `separator` not preceded by a backslash; the escapes
// stay for `unescapeValue`.
std::vector<std::string> splitUnescaped(std::string_view s, char separator) {
    std::vector<std::string> parts(1);
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            parts.back() += s.substr(i, 2);
            ++i;
        } else if (s[i] == separator) {
            parts.emplace_back();
        } else {
            parts.back().push_back(s[i]);
        }
    }
    return parts;
}

// vCard 2.1 escapes only ';' (a backslash is otherwise a character of the
// text); 3.0 (RFC 2426) and 4.0 (RFC 6350) escape '\', ',', ';' and newlines.
std::string unescapeValue(std::string_view s, bool version21) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 >= s.size()) {
            out.push_back(s[i]);
            continue;
        }
        const char next = s[i + 1];
        if (version21 && next != ';') {
            out.push_back('\\');
            continue;
        }
        out.push_back(next == 'n' || next == 'N' ? '\n' : next);
        ++i;
    }
    return out;
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
    p.name = upper(trimmed(head[0]));
    if (const std::size_t dot = p.name.rfind('.'); dot != std::string::npos) {
        p.name = p.name.substr(dot + 1);  // "item1.TEL"
    }
    for (std::size_t i = 1; i < head.size(); ++i) {
        const std::size_t eq = head[i].find('=');
        if (eq == std::string::npos) {
            p.bareParams.push_back(upper(trimmed(head[i])));
            continue;
        }
        auto& values = p.params[upper(trimmed(head[i].substr(0, eq)))];
        for (const auto& v : splitOutsideQuotes(std::string_view(head[i]).substr(eq + 1), ',')) {
            values.push_back(upper(trimmed(v)));
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

// Fax and pager numbers are "other" even when typed home or work: a call to
// them reaches no one.
NumberType numberTypeOf(const Property& p) {
    const auto t = types(p);
    const auto has = [&](const char* name) {
        return std::find(t.begin(), t.end(), name) != t.end();
    };
    if (has("FAX") || has("PAGER")) {
        return NumberType::kOther;
    }
    if (has("CELL")) {
        return NumberType::kMobile;
    }
    if (has("HOME")) {
        return NumberType::kHome;
    }
    if (has("WORK")) {
        return NumberType::kWork;
    }
    if (has("OTHER") || has("X-OTHER") || has("CAR") || has("ISDN") || has("VIDEO") ||
        has("MODEM") || has("BBS") || has("TEXTPHONE")) {
        return NumberType::kOther;
    }
    return NumberType::kGeneral;
}

std::string lowerAscii(std::string s) {
    for (char& c : s) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return s;
}

// A TEL value: a number as written, or a tel: URI (RFC 3966) whose extension
// becomes digits after a pause and whose global phone-context prefixes a local
// number. What cannot be kept is added to `losses`.
std::string telNumber(const std::string& value, std::vector<std::string>& losses,
                      std::vector<std::string>& warnings) {
    const std::string v = trimmed(value);
    if (lowerAscii(v.substr(0, 4)) != "tel:") {
        return withExtensionAsPause(v);
    }
    const auto parts = splitOutsideQuotes(std::string_view(v).substr(4), ';');
    std::string number = trimmed(parts[0]);
    for (std::size_t i = 1; i < parts.size(); ++i) {
        const std::size_t eq = parts[i].find('=');
        const std::string key = lowerAscii(trimmed(parts[i].substr(0, eq)));
        const std::string arg = eq == std::string::npos ? "" : trimmed(parts[i].substr(eq + 1));
        if (key == "ext") {
            std::string digits;
            for (const char c : arg) {
                if (c != '-' && c != '.' && c != '(' && c != ')') {
                    digits.push_back(c);
                }
            }
            if (!digits.empty() && digits.find_first_not_of("0123456789*#") == std::string::npos) {
                number += "p" + digits;
            } else {
                losses.push_back("the extension \"" + arg + "\" of " + v +
                                 " is not digits a phone can dial: not kept");
            }
        } else if (key == "isub") {
            losses.push_back("the subaddress \"" + arg + "\" of " + v + " is not kept");
        } else if (key == "phone-context" && !number.empty() && number[0] != '+') {
            if (!arg.empty() && arg[0] == '+') {
                number = arg + number;
            } else {
                warnings.push_back("the local number " + v + " is kept without its context \"" +
                                   arg + "\"");
            }
        }
    }
    return number;
}

struct CardBuilder {
    std::size_t firstLine = 0;
    std::string version;
    std::vector<Property> properties;
    bool agentOpen = false;  // a 2.1 AGENT whose vCard follows on the next lines
};

class Reader {
  public:
    explicit Reader(std::string defaultCharset) : defaultCharset_(std::move(defaultCharset)) {}

    Outcome<ImportedPhonebook> run(std::string_view text) {
        if (const std::size_t nul = text.find('\0'); nul != std::string_view::npos) {
            return Outcome<ImportedPhonebook>::failure(
                "vCard: the file holds a NUL byte (offset " + std::to_string(nul) +
                "): it is not vCard text. A UTF-16 file is read when it starts with its "
                "byte-order mark; otherwise name its charset with --charset");
        }
        for (const Line& line : logicalLines(text)) {
            auto property = parseProperty(line.text);
            if (!property) {
                continue;  // not a property line: tolerated, as phones write such lines
            }
            handle(*property, line.number);
        }
        if (open_) {
            out_.warnings.push_back(cardLabel() +
                                    ": the file ends without END:VCARD; taken as it stands");
            finish();
        }
        if (cards_ == 0) {
            return Outcome<ImportedPhonebook>::failure(
                "no vCard found (expected BEGIN:VCARD ... END:VCARD)");
        }
        out_.phonebook.groups = groups_.groups();
        return std::move(out_);
    }

  private:
    std::string cardLabel() const {
        return "vCard " + std::to_string(cards_ + 1) + " (line " + std::to_string(card_.firstLine) +
               ")";
    }

    void open(std::size_t line) {
        open_ = true;
        card_ = CardBuilder{};
        card_.firstLine = line;
    }

    void handle(const Property& p, std::size_t line) {
        const std::string value = upper(trimmed(p.value));
        if (p.name == "BEGIN" && value == "VCARD") {
            if (!open_) {
                open(line);
            } else if (card_.agentOpen || nested_ > 0) {
                ++nested_;
            } else {
                out_.warnings.push_back(cardLabel() +
                                        ": no END:VCARD before the next BEGIN:VCARD (line " +
                                        std::to_string(line) + "); taken as it stands");
                finish();
                open(line);
            }
            return;
        }
        if (p.name == "END" && value.rfind("VCARD", 0) == 0) {
            if (nested_ > 0) {
                --nested_;
                card_.agentOpen = false;
            } else if (open_) {
                if (value != "VCARD") {
                    out_.warnings.push_back(cardLabel() + ": the damaged line \"END:" + p.value +
                                            "\" (line " + std::to_string(line) +
                                            ") is taken as its END:VCARD");
                }
                finish();
            }
            return;
        }
        if (!open_ || nested_ > 0) {
            return;
        }
        if (p.name == "VERSION") {
            card_.version = trimmed(p.value);
        }
        card_.agentOpen = p.name == "AGENT" && trimmed(p.value).empty();
        card_.properties.push_back(p);
    }

    // The value as UTF-8 text, escapes still in; what is replaced goes to `losses`.
    std::string decodedValue(const Property& p, std::vector<std::string>& losses) {
        std::string v = p.value;
        if (hasParam(p, "ENCODING", "QUOTED-PRINTABLE")) {
            v = decodeQuotedPrintable(v);
        }
        const auto param = p.params.find("CHARSET");
        std::string charset = param != p.params.end() && !param->second.empty()
                                  ? param->second.front()
                                  : defaultCharset_;
        if (!charset.empty() && upper(charset) != "UTF-8") {
            if (auto converted = text::toUtf8(v, charset)) {
                return *converted;
            }
        }
        if (!text::isValidUtf8(v)) {
            losses.push_back(p.name + " is not " + (charset.empty() ? "UTF-8" : charset) +
                             " text: bad bytes replaced (name the file's charset with "
                             "--charset, such as --charset " +
                             text::likelyLegacyCharset(v) + ")");
            v = text::encodeUtf8(text::decodeUtf8(v));
        }
        return v;
    }

    void finish() {
        open_ = false;
        nested_ = 0;
        const bool v21 = card_.version.rfind("2.", 0) == 0;
        const auto text = [v21](std::string_view s) { return trimmed(unescapeValue(s, v21)); };
        // A structured-name component; in 3.0 and 4.0 it may list several values.
        const auto component = [&](const std::vector<std::string>& parts, std::size_t i) {
            if (i >= parts.size()) {
                return std::string();
            }
            if (v21) {
                return text(parts[i]);
            }
            std::string out;
            for (const auto& item : splitUnescaped(parts[i], ',')) {
                const std::string t = text(item);
                out += (out.empty() || t.empty() ? "" : " ") + t;
            }
            return out;
        };
        Contact c;
        std::string formattedName;
        NameParts structured;
        std::vector<std::string> categories;
        std::vector<int> categoryNumbers;
        std::vector<std::string> losses;
        for (const Property& p : card_.properties) {
            if (hasParam(p, "ENCODING", "B") || hasParam(p, "ENCODING", "BASE64")) {
                continue;  // photos, sounds, keys
            }
            if (p.name != "FN" && p.name != "N" && p.name != "TEL" && p.name != "EMAIL" &&
                p.name != "NOTE" && p.name != "CATEGORIES" && p.name != "X-ZRN-GROUPS") {
                continue;
            }
            const std::string value = decodedValue(p, losses);
            if (p.name == "FN") {
                formattedName = text(value);
            } else if (p.name == "N") {
                const auto parts = splitUnescaped(value, ';');
                structured = {component(parts, 3), component(parts, 1), component(parts, 2),
                              component(parts, 0), component(parts, 4)};
            } else if (p.name == "TEL") {
                const std::string number = telNumber(text(value), losses, out_.warnings);
                if (!number.empty()) {
                    c.numbers.push_back({numberTypeOf(p), number});
                }
            } else if (p.name == "EMAIL" || p.name == "NOTE") {
                if (std::string note = text(value); !note.empty()) {
                    c.notes.push_back(std::move(note));
                }
            } else if (p.name == "CATEGORIES") {
                for (const auto& item : splitUnescaped(value, ',')) {
                    if (std::string category = text(item); !category.empty()) {
                        categories.push_back(std::move(category));
                    }
                }
            } else {
                for (const auto& n : splitUnescaped(value, ',')) {
                    const std::string t = trimmed(n);
                    categoryNumbers.push_back(
                        t.size() == 1 && t[0] >= '1' && t[0] <= '8' ? t[0] - '0' : 0);
                }
            }
        }
        c.name = !formattedName.empty() ? formattedName : composeName(structured);
        const std::string where = "vCard " + std::to_string(cards_ + 1) +
                                  (c.name.empty() ? "" : " (\"" + c.name + "\")") + ": ";
        for (const std::string& loss : losses) {
            out_.losses.push_back(where + loss);
        }
        const bool numbered = categoryNumbers.size() == categories.size();
        for (std::size_t i = 0; i < categories.size(); ++i) {
            const int wanted = numbered ? categoryNumbers[i] : 0;
            std::string name = categories[i];
            if (wanted != 0 && name == "Group " + std::to_string(wanted)) {
                name.clear();  // how an unnamed group travels
            }
            const int number = groups_.numberFor(name, wanted, out_.losses);
            if (number != 0) {
                c.groups.push_back(number);
            }
        }
        std::sort(c.groups.begin(), c.groups.end());
        c.groups.erase(std::unique(c.groups.begin(), c.groups.end()), c.groups.end());
        out_.phonebook.contacts.push_back(std::move(c));
        ++cards_;
    }

    std::string defaultCharset_;
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

Outcome<ImportedPhonebook> parseVcards(std::string_view bytes, const std::string& charset) {
    try {
        // UTF-16 files are read whole; any other charset named applies to each
        // value that names none, as vCard 2.1's CHARSET parameter does.
        const bool whole = text::isWideCharset(charset);
        auto decoded = text::decodeTextFile(bytes, whole ? charset : std::string());
        if (!decoded) {
            return Outcome<ImportedPhonebook>::failure("vCard: " + decoded.error());
        }
        return Reader(whole ? std::string() : charset).run(decoded->text);
    } catch (const std::exception& e) {
        return Outcome<ImportedPhonebook>::failure(std::string("vCard: ") + e.what());
    }
}

}  // namespace zrn::cli::formats
