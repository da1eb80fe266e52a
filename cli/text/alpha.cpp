#include "cli/text/alpha.h"

#include <algorithm>
#include <optional>

#include "cli/text/gsm7.h"
#include "cli/text/utf8.h"

namespace zrn::cli::text {

namespace {

constexpr std::uint8_t kPadding = 0xFF;

std::uint8_t byteAt(ByteView value, std::size_t index) {
    return index < value.size() ? value[index] : kPadding;
}

void appendUcs2Unit(std::string& out, char32_t unit, std::optional<char32_t>& pendingHigh) {
    // Phones that store UTF-16 put surrogate pairs into UCS-2 fields: join them.
    if (unit >= 0xD800 && unit <= 0xDBFF) {
        if (pendingHigh) {
            appendUtf8(out, kReplacement);
        }
        pendingHigh = unit;
        return;
    }
    if (unit >= 0xDC00 && unit <= 0xDFFF) {
        if (pendingHigh) {
            appendUtf8(out, 0x10000 + ((*pendingHigh - 0xD800) << 10) + (unit - 0xDC00));
            pendingHigh.reset();
        } else {
            appendUtf8(out, kReplacement);
        }
        return;
    }
    if (pendingHigh) {
        appendUtf8(out, kReplacement);
        pendingHigh.reset();
    }
    appendUtf8(out, unit);
}

std::string decodeUnits(ByteView value, std::size_t units, bool stopAtUnused) {
    std::string out;
    std::optional<char32_t> pendingHigh;
    for (std::size_t i = 0; i < units; ++i) {
        const char32_t unit =
            static_cast<char32_t>(byteAt(value, 2 * i) << 8) | byteAt(value, 2 * i + 1);
        if (unit == 0xFFFF && stopAtUnused) {
            break;  // unused character positions (GSM 11.11 Annex B)
        }
        appendUcs2Unit(out, unit, pendingHigh);
    }
    if (pendingHigh) {
        appendUtf8(out, kReplacement);
    }
    return out;
}

// A stored field: a last byte without its partner lost its 0xFF to padding removal.
std::string decodeUcs2(ByteView value) {
    return decodeUnits(value, (value.size() + 1) / 2, true);
}

std::string decodeWindow(ByteView chars, std::size_t count, char32_t base) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t b = byteAt(chars, i);
        if (b < 0x80) {
            if (b == kGsmEscape && i + 1 < count) {
                const std::uint8_t next = byteAt(chars, ++i);
                const auto ext = next < 0x80 ? gsmExtensionChar(next) : std::nullopt;
                appendUtf8(out, ext ? *ext : gsmDefaultChar(next));
            } else {
                appendUtf8(out, gsmDefaultChar(b));
            }
        } else {
            appendUtf8(out, base + (b & 0x7Fu));
        }
    }
    return out;
}

// --- encoding -------------------------------------------------------------

struct Candidate {
    Bytes value;
    AlphaForm form;
    std::size_t kept;
};

Candidate encodeGsm(const std::u32string& text, std::size_t room) {
    Candidate c{{}, AlphaForm::kGsm, 0};
    for (const char32_t ch : text) {
        const auto septets = gsmSeptetsOf(ch);
        if (!septets || c.value.size() + septets->size() > room) {
            break;
        }
        c.value.insert(c.value.end(), septets->begin(), septets->end());
        ++c.kept;
    }
    return c;
}

Candidate encodeUcs2(const std::u32string& text, std::size_t chars) {
    Candidate c{{0x80}, AlphaForm::kUcs2, 0};
    for (const char32_t ch : text) {
        if (c.kept >= chars || ch > 0xFFFF) {
            break;
        }
        c.value.push_back(static_cast<std::uint8_t>(ch >> 8));
        c.value.push_back(static_cast<std::uint8_t>(ch));
        ++c.kept;
    }
    return c;
}

// The smallest base that puts every character outside the default alphabet
// into one 128-character window, if there is one.
std::optional<char32_t> windowBase(const std::u32string& text, char32_t granularity) {
    std::optional<char32_t> low;
    std::optional<char32_t> high;
    for (const char32_t ch : text) {
        if (gsmSeptetsOf(ch) && gsmSeptetsOf(ch)->size() == 1) {
            continue;
        }
        if (ch > 0xFFFF) {
            continue;
        }
        low = low ? std::min(*low, ch) : ch;
        high = high ? std::max(*high, ch) : ch;
    }
    if (!low) {
        return std::nullopt;  // nothing needs a window: GSM coding is at least as compact
    }
    const char32_t base = (*low / granularity) * granularity;
    if (*high - base > 0x7F) {
        return std::nullopt;
    }
    return base;
}

Candidate encodeWindow(const std::u32string& text, std::size_t room, AlphaForm form) {
    const char32_t granularity = form == AlphaForm::kUcs2Window81 ? 0x80 : 1;
    const std::size_t head = form == AlphaForm::kUcs2Window81 ? 3 : 4;
    Candidate c{{}, form, 0};
    const auto base = windowBase(text, granularity);
    if (!base || room < head) {
        return c;
    }
    Bytes chars;
    for (const char32_t ch : text) {
        if (head + chars.size() + 1 > room || c.kept >= 0xFF) {
            break;
        }
        const auto septets = gsmSeptetsOf(ch);
        if (septets && septets->size() == 1) {
            chars.push_back((*septets)[0]);
        } else if (ch >= *base && ch - *base <= 0x7F) {
            chars.push_back(static_cast<std::uint8_t>(0x80 | (ch - *base)));
        } else {
            break;
        }
        ++c.kept;
    }
    if (form == AlphaForm::kUcs2Window81) {
        c.value = {0x81, static_cast<std::uint8_t>(c.kept), static_cast<std::uint8_t>(*base >> 7)};
    } else {
        c.value = {0x82, static_cast<std::uint8_t>(c.kept), static_cast<std::uint8_t>(*base >> 8),
                   static_cast<std::uint8_t>(*base)};
    }
    c.value.insert(c.value.end(), chars.begin(), chars.end());
    return c;
}

}  // namespace

std::string decodeUcs2Text(ByteView bytes, bool stopAtUnused) {
    return decodeUnits(bytes, bytes.size() / 2, stopAtUnused);
}

const char* alphaFormName(AlphaForm form) {
    switch (form) {
        case AlphaForm::kGsm:
            return "gsm";
        case AlphaForm::kUcs2:
            return "ucs2";
        case AlphaForm::kUcs2Window81:
            return "ucs2-81";
        case AlphaForm::kUcs2Window82:
            return "ucs2-82";
    }
    return "gsm";
}

AlphaForm alphaFormOf(ByteView value) {
    if (value.empty()) {
        return AlphaForm::kGsm;
    }
    switch (value[0]) {
        case 0x80:
            return AlphaForm::kUcs2;
        case 0x81:
            return value.size() >= 3 ? AlphaForm::kUcs2Window81 : AlphaForm::kGsm;
        case 0x82:
            return value.size() >= 4 ? AlphaForm::kUcs2Window82 : AlphaForm::kGsm;
        default:
            return AlphaForm::kGsm;
    }
}

std::string decodeAlpha(ByteView value) {
    switch (alphaFormOf(value)) {
        case AlphaForm::kUcs2:
            return decodeUcs2(value.subspan(1));
        case AlphaForm::kUcs2Window81: {
            const char32_t base = static_cast<char32_t>(value[2]) << 7;
            return decodeWindow(value.subspan(3), value[1], base);
        }
        case AlphaForm::kUcs2Window82: {
            const char32_t base = static_cast<char32_t>(value[2] << 8 | value[3]);
            return decodeWindow(value.subspan(4), value[1], base);
        }
        case AlphaForm::kGsm:
            break;
    }
    return decodeGsmUnpacked(value);
}

EncodedAlpha encodeAlpha(std::string_view utf8, const AlphaRoom& room) {
    EncodedAlpha result;
    std::u32string text = decodeUtf8(utf8);
    for (char32_t& ch : text) {
        if (ch > 0xFFFF) {
            result.unencodable.push_back(ch);
            ch = U'?';
        }
    }
    result.totalChars = text.size();

    std::vector<Candidate> candidates;
    candidates.push_back(encodeGsm(text, room.bytes));
    if (room.ucs2Chars > 0) {
        candidates.push_back(encodeUcs2(text, room.ucs2Chars));
    }
    if (room.windows) {
        candidates.push_back(encodeWindow(text, room.bytes, AlphaForm::kUcs2Window81));
        candidates.push_back(encodeWindow(text, room.bytes, AlphaForm::kUcs2Window82));
    }
    // Most characters kept first, then fewest bytes; the order above breaks ties
    // in favour of the plainer coding.
    const Candidate* best = &candidates.front();
    for (const auto& c : candidates) {
        if (c.kept > best->kept || (c.kept == best->kept && c.value.size() < best->value.size())) {
            best = &c;
        }
    }
    result.value = best->value;
    result.form = best->form;
    result.keptChars = best->kept;
    if (result.keptChars == 0) {
        result.value.clear();
        result.form = AlphaForm::kGsm;
    }
    result.cut = result.keptChars < result.totalChars;
    result.stored = decodeAlpha(result.value);
    return result;
}

}  // namespace zrn::cli::text
