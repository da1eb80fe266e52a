#include "cli/formats/imported.h"

#include <algorithm>

#include "cli/text/utf8.h"

namespace zrn::cli::formats {

int GroupAllocator::numberFor(const std::string& name, int wanted,
                              std::vector<std::string>& losses) {
    if (wanted >= 1 && wanted <= 8) {
        for (Group& g : groups_) {
            if (g.number == wanted) {
                if (g.name.empty()) {
                    g.name = name;
                }
                return wanted;
            }
        }
        groups_.push_back({wanted, name});
        return wanted;
    }
    for (const Group& g : groups_) {
        if (g.name == name) {
            return g.number;
        }
    }
    for (int n = 1; n <= 8; ++n) {
        const bool taken = std::any_of(groups_.begin(), groups_.end(),
                                       [n](const Group& g) { return g.number == n; });
        if (!taken) {
            groups_.push_back({n, name});
            return n;
        }
    }
    losses.push_back("group \"" + name + "\": a card has eight groups at most: dropped");
    return 0;
}

std::vector<Group> GroupAllocator::groups() const {
    std::vector<Group> sorted = groups_;
    std::sort(sorted.begin(), sorted.end(),
              [](const Group& a, const Group& b) { return a.number < b.number; });
    return sorted;
}

namespace {

bool isCjkCodePoint(char32_t c) {
    return (c >= 0x1100 && c <= 0x11FF) || (c >= 0x2E80 && c <= 0x9FFF) ||
           (c >= 0xA960 && c <= 0xA97F) || (c >= 0xAC00 && c <= 0xD7FF) ||
           (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFF66 && c <= 0xFFDC) ||
           (c >= 0x20000 && c <= 0x3FFFF);
}

bool isSpace(char32_t c) {
    return c == U' ' || c == U'\t' || c == U'\r' || c == U'\n' || c == U'\v' || c == U'\f' ||
           c == 0xA0 || c == 0x3000 || c == 0xFEFF;
}

std::string joined(const std::vector<const std::string*>& parts, const char* separator) {
    std::string out;
    for (const std::string* p : parts) {
        if (!p->empty()) {
            out += (out.empty() ? "" : separator) + *p;
        }
    }
    return out;
}

bool allDigits(std::string_view s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool hasCjk(std::string_view text) {
    const std::u32string decoded = text::decodeUtf8(text);
    return std::any_of(decoded.begin(), decoded.end(), isCjkCodePoint);
}

std::string trimmed(std::string_view text) {
    std::u32string decoded = text::decodeUtf8(text);
    std::size_t begin = 0;
    std::size_t end = decoded.size();
    while (begin < end && isSpace(decoded[begin])) {
        ++begin;
    }
    while (end > begin && isSpace(decoded[end - 1])) {
        --end;
    }
    if (begin == 0 && end == decoded.size()) {
        return std::string(text);  // keeps bytes that are not UTF-8 as they are
    }
    return text::encodeUtf8(std::u32string_view(decoded).substr(begin, end - begin));
}

std::string composeName(const NameParts& parts) {
    NameParts p{trimmed(parts.prefix), trimmed(parts.given), trimmed(parts.middle),
                trimmed(parts.family), trimmed(parts.suffix)};
    if (hasCjk(p.family) || hasCjk(p.given)) {
        const std::string core = joined({&p.family, &p.given, &p.middle}, "");
        return joined({&p.prefix, &core, &p.suffix}, " ");
    }
    return joined({&p.prefix, &p.given, &p.middle, &p.family, &p.suffix}, " ");
}

std::string withExtensionAsPause(const std::string& number) {
    std::string lowered;
    for (const char c : number) {
        lowered.push_back(lowerAscii(c));
    }
    for (const std::string_view marker : {"ext.", "ext", "x"}) {
        const std::size_t at = lowered.rfind(marker);
        if (at == std::string::npos || at == 0) {
            continue;
        }
        std::string_view rest = std::string_view(number).substr(at + marker.size());
        while (!rest.empty() &&
               (rest.front() == ' ' || rest.front() == '.' || rest.front() == '=')) {
            rest.remove_prefix(1);
        }
        const std::string head = trimmed(std::string_view(number).substr(0, at));
        const bool headIsNumber =
            !head.empty() &&
            std::any_of(head.begin(), head.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
            std::none_of(head.begin(), head.end(),
                         [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); });
        if (allDigits(rest) && headIsNumber) {
            return head + "p" + std::string(rest);
        }
    }
    return number;
}

}  // namespace zrn::cli::formats
