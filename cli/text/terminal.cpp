#include "cli/text/terminal.h"

#include <cstdint>
#include <cstdio>

namespace zrn::cli::text {

namespace {

// Length of the well-formed UTF-8 sequence at `text[i]` and its code point;
// 0 when the bytes there are not UTF-8.
std::size_t sequenceAt(std::string_view text, std::size_t i, char32_t& c) {
    const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(text[k]); };
    const std::uint8_t lead = byte(i);
    std::size_t length = 0;
    char32_t min = 0;
    if (lead < 0x80) {
        c = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        c = lead & 0x1Fu;
        min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        c = lead & 0x0Fu;
        min = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        c = lead & 0x07u;
        min = 0x10000;
    } else {
        return 0;
    }
    if (i + length > text.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0u) != 0x80) {
            return 0;
        }
        c = (c << 6) | (byte(i + k) & 0x3Fu);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        return 0;
    }
    return length;
}

bool isBidiControl(char32_t c) {
    return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0x200E ||
           c == 0x200F || c == 0x061C;
}

std::string escaped(std::string_view text, bool keepLines) {
    std::string out;
    out.reserve(text.size());
    char buffer[16];
    for (std::size_t i = 0; i < text.size();) {
        char32_t c = 0;
        const std::size_t length = sequenceAt(text, i, c);
        if (length == 0) {
            std::snprintf(buffer, sizeof buffer, "\\x%02x",
                          static_cast<unsigned>(static_cast<std::uint8_t>(text[i])));
            out += buffer;
            ++i;
            continue;
        }
        if (c == '\n' && keepLines) {
            out += '\n';
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            std::snprintf(buffer, sizeof buffer, "\\x%02x", static_cast<unsigned>(c));
            out += buffer;
        } else if ((c >= 0x80 && c <= 0x9F) || isBidiControl(c)) {
            std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(c));
            out += buffer;
        } else {
            out.append(text.substr(i, length));
        }
        i += length;
    }
    return out;
}

}  // namespace

std::string terminalText(std::string_view text) {
    return escaped(text, false);
}

std::string terminalLines(std::string_view text) {
    return escaped(text, true);
}

}  // namespace zrn::cli::text
