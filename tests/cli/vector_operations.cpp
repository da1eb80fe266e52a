// The operations a *.vectors line can name. Each returns "" when the vector
// holds and otherwise says what came out instead.
#include <string>

#include "channel/bytes.h"
#include "cli/text/alpha.h"
#include "cli/text/gsm7.h"
#include "cli/text/utf8.h"
#include "test_vectors.h"

namespace zrn::cli::testing {

namespace {

Bytes hex(const std::string& text) {
    Bytes out;
    if (!fromHex(text, out)) {
        throw std::invalid_argument("bad hex in vector: " + text);
    }
    return out;
}

std::string expectArgs(const std::vector<std::string>& args, std::size_t n) {
    return args.size() == n ? "" : "expected " + std::to_string(n) + " fields";
}

std::string compare(const std::string& what, const std::string& got, const std::string& want) {
    return got == want ? "" : what + ": got [" + got + "], want [" + want + "]";
}

std::string gsmSeptets(const std::vector<std::string>& a) {
    if (auto e = expectArgs(a, 2); !e.empty()) {
        return e;
    }
    Bytes septets;
    for (const char32_t c : text::decodeUtf8(a[0])) {
        const auto s = text::gsmSeptetsOf(c);
        if (!s) {
            return "a character has no septet";
        }
        septets.insert(septets.end(), s->begin(), s->end());
    }
    if (auto e = compare("septets", toHex(septets), toHex(hex(a[1]))); !e.empty()) {
        return e;
    }
    return compare("decoded", text::decodeGsmUnpacked(septets), a[0]);
}

std::string pack7(const std::vector<std::string>& a) {
    if (auto e = expectArgs(a, 3); !e.empty()) {
        return e;
    }
    const std::size_t fill = std::stoul(a[0]);
    const Bytes septets = hex(a[1]);
    const Bytes packed = hex(a[2]);
    if (auto e = compare("packed", toHex(text::packSeptets(septets, fill)), toHex(packed));
        !e.empty()) {
        return e;
    }
    return compare("unpacked", toHex(text::unpackSeptets(packed, septets.size(), fill)),
                   toHex(septets));
}

std::string decodeAlpha(const std::vector<std::string>& a) {
    if (auto e = expectArgs(a, 2); !e.empty()) {
        return e;
    }
    return compare("text", text::decodeAlpha(hex(a[0])), a[1]);
}

std::string encodeAlpha(const std::vector<std::string>& a) {
    if (auto e = expectArgs(a, 4); !e.empty()) {
        return e;
    }
    text::AlphaRoom room;
    char comma = 0;
    int windows = 0;
    std::istringstream(a[0]) >> room.bytes >> comma >> room.ucs2Chars >> comma >> windows;
    room.windows = windows != 0;
    const auto coded = text::encodeAlpha(a[1], room);
    if (auto e = compare("value", toHex(coded.value), toHex(hex(a[2]))); !e.empty()) {
        return e;
    }
    if (auto e = compare("form", text::alphaFormName(coded.form), a[3]); !e.empty()) {
        return e;
    }
    // Whatever was chosen must read back as what the encoder says is stored.
    return compare("read back", text::decodeAlpha(coded.value), coded.stored);
}

}  // namespace

const std::map<std::string, Operation>& vectorOperations() {
    static const std::map<std::string, Operation> operations = [] {
        std::map<std::string, Operation> ops = {
            {"gsm-septets", gsmSeptets},
            {"pack7", pack7},
            {"decode-alpha", decodeAlpha},
            {"encode-alpha", encodeAlpha},
        };
        addSmsOperations(ops);
        addFormatOperations(ops);
        return ops;
    }();
    return operations;
}

}  // namespace zrn::cli::testing
