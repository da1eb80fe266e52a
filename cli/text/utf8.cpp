#include "cli/text/utf8.h"

namespace zrn::cli::text {

namespace {

bool isContinuation(unsigned char b) {
    return (b & 0xC0) == 0x80;
}

// Length of the sequence that starts with `lead`, 0 for a byte that cannot start one.
std::size_t sequenceLength(unsigned char lead) {
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        return 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        return 4;
    }
    return 0;
}

// One code point at `pos`, advancing `pos`; U+FFFD for a malformed sequence.
char32_t decodeOne(std::string_view bytes, std::size_t& pos) {
    const auto lead = static_cast<unsigned char>(bytes[pos]);
    const std::size_t length = sequenceLength(lead);
    if (length == 0 || pos + length > bytes.size()) {
        ++pos;
        return kReplacement;
    }
    if (length == 1) {
        ++pos;
        return lead;
    }
    char32_t c = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        const auto b = static_cast<unsigned char>(bytes[pos + i]);
        if (!isContinuation(b)) {
            pos += i;
            return kReplacement;
        }
        c = (c << 6) | (b & 0x3Fu);
    }
    pos += length;
    const bool overlong = (length == 3 && c < 0x800) || (length == 4 && c < 0x10000);
    const bool surrogate = c >= 0xD800 && c <= 0xDFFF;
    if (overlong || surrogate || c > 0x10FFFF) {
        return kReplacement;
    }
    return c;
}

}  // namespace

std::u32string decodeUtf8(std::string_view bytes) {
    std::u32string out;
    out.reserve(bytes.size());
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        out.push_back(decodeOne(bytes, pos));
    }
    return out;
}

bool isValidUtf8(std::string_view bytes) {
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const std::size_t before = pos;
        const char32_t c = decodeOne(bytes, pos);
        if (c == kReplacement && bytes.substr(before, pos - before) != "\xEF\xBF\xBD") {
            return false;
        }
    }
    return true;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        c = kReplacement;
    }
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

std::string encodeUtf8(std::u32string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char32_t c : text) {
        appendUtf8(out, c);
    }
    return out;
}

}  // namespace zrn::cli::text
