#include "cli/text/gsm7.h"

#include "cli/text/utf8.h"

namespace zrn::cli::text {

namespace {

#include "cli/text/gsm7_tables.inc"

constexpr char32_t kUndefined = 0;
constexpr char32_t kEscapeSlot = U'\u00A0';  // how the escape's own slot shows in alpha fields

bool known(int language) {
    return language >= 0 && language < kGeneratedGsm7TableCount;
}

const char32_t* lockingTable(int language) {
    const int id = known(language) && kGeneratedGsm7Tables[language].hasLocking ? language : 0;
    return kGeneratedGsm7Tables[id].locking;
}

const char32_t* singleTable(int language) {
    return kGeneratedGsm7Tables[known(language) ? language : 0].single;
}

std::optional<std::uint8_t> codeIn(const char32_t* table, char32_t c) {
    for (std::uint8_t i = 0; i < 0x80; ++i) {
        if (table[i] == c && i != kGsmEscape) {
            return i;
        }
    }
    return std::nullopt;
}

char32_t shown(char32_t c) {
    return c == kUndefined ? kReplacement : c;
}

}  // namespace

bool hasLockingShiftTable(int language) {
    return known(language) && kGeneratedGsm7Tables[language].hasLocking;
}

bool hasSingleShiftTable(int language) {
    return known(language);
}

const char* nationalLanguageName(int language) {
    return known(language) ? kGeneratedGsm7Tables[language].name : "unknown";
}

char32_t gsmDefaultChar(std::uint8_t septet) {
    const std::uint8_t code = septet & 0x7F;
    return code == kGsmEscape ? kEscapeSlot : lockingTable(0)[code];
}

std::optional<char32_t> gsmExtensionChar(std::uint8_t septet) {
    if (septet >= 0x80 || singleTable(0)[septet] == kUndefined) {
        return std::nullopt;
    }
    return singleTable(0)[septet];
}

std::optional<Bytes> gsmSeptetsOf(char32_t c, Gsm7Tables tables) {
    if (c == kUndefined) {
        return std::nullopt;
    }
    if (const auto code = codeIn(lockingTable(tables.locking), c)) {
        return Bytes{*code};
    }
    if (const auto code = codeIn(singleTable(tables.single), c)) {
        return Bytes{kGsmEscape, *code};
    }
    return std::nullopt;
}

std::string decodeGsmUnpacked(ByteView septets, Gsm7Tables tables) {
    const char32_t* locking = lockingTable(tables.locking);
    const char32_t* single = singleTable(tables.single);
    std::string out;
    out.reserve(septets.size());
    for (std::size_t i = 0; i < septets.size(); ++i) {
        const std::uint8_t s = septets[i];
        if (s >= 0x80) {
            appendUtf8(out, kReplacement);
            continue;
        }
        if (s != kGsmEscape) {
            appendUtf8(out, shown(locking[s]));
            continue;
        }
        if (i + 1 >= septets.size()) {
            appendUtf8(out, U' ');
            continue;
        }
        const std::uint8_t next = septets[++i];
        if (next >= 0x80) {
            appendUtf8(out, kReplacement);
        } else if (single[next] != kUndefined) {
            appendUtf8(out, single[next]);
        } else if (next == kGsmEscape) {
            appendUtf8(out, U' ');
        } else {
            appendUtf8(out, shown(locking[next]));
        }
    }
    return out;
}

Bytes unpackSeptets(ByteView packed, std::size_t septetCount, std::size_t fillBits) {
    Bytes out;
    const std::size_t totalBits = packed.size() * 8;
    out.reserve(septetCount);
    for (std::size_t i = 0; i < septetCount; ++i) {
        const std::size_t bit = fillBits + i * 7;
        if (bit + 7 > totalBits) {
            break;
        }
        const std::size_t byte = bit / 8;
        const std::size_t shift = bit % 8;
        unsigned value = static_cast<unsigned>(packed[byte]) >> shift;
        if (shift > 1) {
            value |= static_cast<unsigned>(packed[byte + 1]) << (8 - shift);
        }
        out.push_back(static_cast<std::uint8_t>(value & 0x7F));
    }
    return out;
}

Bytes packSeptets(ByteView septets, std::size_t fillBits) {
    const std::size_t totalBits = fillBits + septets.size() * 7;
    Bytes out((totalBits + 7) / 8, 0);
    for (std::size_t i = 0; i < septets.size(); ++i) {
        const std::size_t bit = fillBits + i * 7;
        const unsigned value = septets[i] & 0x7Fu;
        out[bit / 8] = static_cast<std::uint8_t>(out[bit / 8] | (value << (bit % 8)));
        if (bit % 8 > 1) {
            out[bit / 8 + 1] =
                static_cast<std::uint8_t>(out[bit / 8 + 1] | (value >> (8 - bit % 8)));
        }
    }
    return out;
}

}  // namespace zrn::cli::text
