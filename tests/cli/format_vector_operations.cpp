// The contacts-file operations a *.vectors line can name. A file is written on
// one line with \r, \n, \t, \\ and \xHH escapes; contacts come out as
// Name[type:number,...](note|note){group:name,...}, joined by " / ".
#include <string>

#include "cli/formats/csv.h"
#include "cli/formats/vcard.h"
#include "test_vectors.h"

namespace zrn::cli::testing {

namespace {

std::string unescapeFile(const std::string& field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\' || i + 1 >= field.size()) {
            out.push_back(field[i]);
            continue;
        }
        const char c = field[++i];
        if (c == 'r') {
            out.push_back('\r');
        } else if (c == 'n') {
            out.push_back('\n');
        } else if (c == 't') {
            out.push_back('\t');
        } else if (c == 'x' && i + 2 < field.size()) {
            out.push_back(static_cast<char>(std::stoi(field.substr(i + 1, 2), nullptr, 16)));
            i += 2;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::string render(const formats::ImportedPhonebook& book) {
    std::string out;
    for (const Contact& c : book.phonebook.contacts) {
        out += (out.empty() ? "" : " / ") + c.name + "[";
        for (std::size_t i = 0; i < c.numbers.size(); ++i) {
            out += (i == 0 ? "" : ",") + std::string(numberTypeName(c.numbers[i].type)) + ":" +
                   c.numbers[i].number;
        }
        out += "]";
        for (std::size_t i = 0; i < c.notes.size(); ++i) {
            out += (i == 0 ? "(" : "|") + c.notes[i] + (i + 1 == c.notes.size() ? ")" : "");
        }
        for (std::size_t i = 0; i < c.groups.size(); ++i) {
            const Group* g = book.phonebook.group(c.groups[i]);
            out += (i == 0 ? "{" : ",") + std::to_string(c.groups[i]) + ":" +
                   (g != nullptr ? g->name : "?") + (i + 1 == c.groups.size() ? "}" : "");
        }
    }
    return out;
}

bool anyHolds(const std::vector<std::string>& texts, const std::string& part) {
    for (const auto& t : texts) {
        if (t.find(part) != std::string::npos) {
            return true;
        }
    }
    return false;
}

std::string joined(const std::vector<std::string>& texts) {
    std::string out;
    for (const auto& t : texts) {
        out += (out.empty() ? "" : "; ") + t;
    }
    return out.empty() ? "nothing" : out;
}

using Parser = Outcome<formats::ImportedPhonebook> (*)(std::string_view, const std::string&);

// `file  contacts`: read without loss; `file  contacts  warning`: and that warning.
Operation reads(Parser parse) {
    return [parse](const std::vector<std::string>& a) -> std::string {
        if (a.size() != 2 && a.size() != 3) {
            return "expected 2 or 3 fields";
        }
        const auto book = parse(unescapeFile(a[0]), "");
        if (!book) {
            return "refused: " + book.error();
        }
        if (!book->losses.empty()) {
            return "losses: " + joined(book->losses);
        }
        if (const std::string got = render(book.value()); got != unescapeFile(a[1])) {
            return "got [" + got + "], want [" + a[1] + "]";
        }
        if (a.size() == 3 && !anyHolds(book->warnings, a[2])) {
            return "no warning holds [" + a[2] + "]: " + joined(book->warnings);
        }
        if (a.size() == 2 && !book->warnings.empty()) {
            return "unexpected warnings: " + joined(book->warnings);
        }
        return "";
    };
}

// `file  contacts  loss`: read, and what is lost is listed.
Operation losesSome(Parser parse) {
    return [parse](const std::vector<std::string>& a) -> std::string {
        if (a.size() != 3) {
            return "expected 3 fields";
        }
        const auto book = parse(unescapeFile(a[0]), "");
        if (!book) {
            return "refused: " + book.error();
        }
        if (const std::string got = render(book.value()); got != unescapeFile(a[1])) {
            return "got [" + got + "], want [" + a[1] + "]";
        }
        return anyHolds(book->losses, a[2])
                   ? ""
                   : "no loss holds [" + a[2] + "]: " + joined(book->losses);
    };
}

// `file  charset  error`: refused with a message holding `error`.
Operation refuses(Parser parse) {
    return [parse](const std::vector<std::string>& a) -> std::string {
        if (a.size() != 3) {
            return "expected 3 fields";
        }
        const auto book = parse(unescapeFile(a[0]), a[1]);
        if (book) {
            return "accepted: " + render(book.value());
        }
        return book.error().find(a[2]) != std::string::npos ? "" : "error: " + book.error();
    };
}

// `file  charset  contacts`: read in the charset named.
Operation readsIn(Parser parse) {
    return [parse](const std::vector<std::string>& a) -> std::string {
        if (a.size() != 3) {
            return "expected 3 fields";
        }
        const auto book = parse(unescapeFile(a[0]), a[1]);
        if (!book) {
            return "refused: " + book.error();
        }
        const std::string got = render(book.value());
        return got == unescapeFile(a[2]) ? "" : "got [" + got + "], want [" + a[2] + "]";
    };
}

Outcome<formats::ImportedPhonebook> vcard(std::string_view bytes, const std::string& charset) {
    return formats::parseVcards(bytes, charset);
}

Outcome<formats::ImportedPhonebook> csv(std::string_view bytes, const std::string& charset) {
    return formats::parseCsv(bytes, charset);
}

}  // namespace

void addFormatOperations(std::map<std::string, Operation>& operations) {
    for (const auto& [name, parse] : {std::pair<std::string, Parser>{"vcard", vcard},
                                      std::pair<std::string, Parser>{"csv", csv}}) {
        operations[name] = reads(parse);
        operations[name + "-loss"] = losesSome(parse);
        operations[name + "-refused"] = refuses(parse);
        operations[name + "-charset"] = readsIn(parse);
    }
}

}  // namespace zrn::cli::testing
