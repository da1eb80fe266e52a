#pragma once

// Helpers for the phone-book tests: streams written by hand (no library code
// involved), a test-side walk of a stream into contacts, and a session that
// puts a simulated card in the reader and calls the exports.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "sim/card_builder.h"
#include "sim/sim_card.h"
#include "zrn.h"

namespace zrn::sim {
// Card images compare whole; a failure prints a short line instead of the
// object's raw bytes.
inline void PrintTo(const CardImage& image, std::ostream* os) {
    *os << "card image of " << serializeImage(image).size() << " JSON bytes";
}
}  // namespace zrn::sim

namespace zrn::test {

inline Bytes hex(std::string_view text) {
    Bytes bytes;
    EXPECT_TRUE(fromHex(text, bytes)) << text;
    return bytes;
}

inline Bytes ascii(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

inline Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// An element with the length in bytes 4-7 (big-endian), as the readers write it.
inline Bytes element(std::string_view tag, const Bytes& value) {
    const auto n = static_cast<std::uint32_t>(value.size());
    Bytes bytes{0x01,
                static_cast<std::uint8_t>(tag[0]),
                static_cast<std::uint8_t>(tag[1]),
                static_cast<std::uint8_t>(tag[2]),
                static_cast<std::uint8_t>(n >> 24),
                static_cast<std::uint8_t>(n >> 16),
                static_cast<std::uint8_t>(n >> 8),
                static_cast<std::uint8_t>(n)};
    bytes.insert(bytes.end(), value.begin(), value.end());
    return bytes;
}
inline Bytes element(std::string_view tag, std::string_view value) {
    return element(tag, ascii(value));
}

inline Bytes emptyGpi() {
    return element("GPI", Bytes{});
}
inline Bytes ncd(std::initializer_list<Bytes> nested) {
    return element("NCD", cat(nested));
}
inline Bytes emptyNcd() {
    return element("NCD", Bytes{});
}

// A number element followed by the empty GPI the writers pass over.
inline Bytes number(std::string_view tag, std::string_view digits) {
    return cat({element(tag, digits), emptyGpi()});
}

// A contact of the extended layout: name, numbers (each with its empty GPI),
// ADI elements (two empty ones when none are given) and the group digits.
inline Bytes contact(const Bytes& name, std::initializer_list<Bytes> numbers,
                     std::vector<Bytes> adi = {}, const Bytes& groups = {}) {
    Bytes nested = element("NMT", name);
    for (const Bytes& n : numbers) {
        nested.insert(nested.end(), n.begin(), n.end());
    }
    if (adi.empty()) {
        adi = {Bytes{}, Bytes{}};
    }
    for (const Bytes& a : adi) {
        const Bytes e = element("ADI", a);
        nested.insert(nested.end(), e.begin(), e.end());
    }
    const Bytes gpi = element("GPI", groups);
    nested.insert(nested.end(), gpi.begin(), gpi.end());
    return element("NCD", nested);
}

inline Bytes groupList(std::initializer_list<std::string_view> names) {
    Bytes list;
    for (std::string_view name : names) {
        const Bytes e = element("GRP", name);
        list.insert(list.end(), e.begin(), e.end());
    }
    return list;
}

// One element of a walked stream.
struct Item {
    std::string tag;
    Bytes value;
    bool operator==(const Item&) const = default;
};
struct WalkedStream {
    std::vector<Bytes> groups;                // GRP values
    std::vector<std::vector<Item>> contacts;  // the nested elements of each NCD
    bool wellFormed = true;
};

// Walks a stream as ReadZRN emits it, trusting nothing.
inline WalkedStream walk(const Bytes& stream) {
    WalkedStream out;
    std::size_t p = 0;
    const auto headAt = [&](std::size_t at, std::string& tag, std::size_t& length) {
        if (at + 8 > stream.size() || stream[at] != 0x01) {
            return false;
        }
        tag.assign(stream.begin() + static_cast<long>(at) + 1,
                   stream.begin() + static_cast<long>(at) + 4);
        length = (std::size_t{stream[at + 4]} << 24) | (std::size_t{stream[at + 5]} << 16) |
                 (std::size_t{stream[at + 6]} << 8) | stream[at + 7];
        return at + 8 + length <= stream.size();
    };
    std::string tag;
    std::size_t length = 0;
    while (p < stream.size()) {
        if (!headAt(p, tag, length)) {
            out.wellFormed = false;
            return out;
        }
        const auto valueBegin = stream.begin() + static_cast<long>(p + 8);
        if (tag == "GRP" && out.contacts.empty()) {
            out.groups.emplace_back(valueBegin, valueBegin + static_cast<long>(length));
        } else if (tag == "NCD") {
            if (length != 0) {
                std::vector<Item> items;
                for (std::size_t q = p + 8; q < p + 8 + length;) {
                    std::size_t inner = 0;
                    std::string innerTag;
                    if (!headAt(q, innerTag, inner) || q + 8 + inner > p + 8 + length) {
                        out.wellFormed = false;
                        return out;
                    }
                    const auto v = stream.begin() + static_cast<long>(q + 8);
                    items.push_back({innerTag, Bytes(v, v + static_cast<long>(inner))});
                    q += 8 + inner;
                }
                out.contacts.push_back(std::move(items));
            }
        } else {
            out.wellFormed = false;
            return out;
        }
        p += 8 + length;
    }
    return out;
}

// The values of one tag in a walked contact, in order.
inline std::vector<Bytes> valuesOf(const std::vector<Item>& contact, std::string_view tag) {
    std::vector<Bytes> values;
    for (const Item& item : contact) {
        if (item.tag == tag) {
            values.push_back(item.value);
        }
    }
    return values;
}

struct ReadResult {
    std::int32_t result = 0;
    std::int32_t count = 0;
    std::int32_t length = 0;
    Bytes stream;        // the first `length` bytes of the buffer on success
    bool tailUntouched;  // nothing written past `length` (or at all on failure)
};

constexpr std::int32_t kUntouched = -777;
constexpr std::uint8_t kBufferFill = 0xEE;

// One simulated card in the reader, connected through the exports.
class CardSession {
  public:
    explicit CardSession(sim::CardImage image) : sim_(std::move(image)), inserted_(sim_) {
        connectResult_ = ConnectReader(sim::kSimulatedHandle);
    }

    sim::SimCard& sim() { return sim_; }
    const sim::CardImage& image() const { return sim_.image(); }
    std::int32_t connectResult() const { return connectResult_; }

    ReadResult read() {
        std::vector<unsigned char> buffer(ZRN_PHONEBOOK_BUFFER_SIZE + 64, kBufferFill);
        ReadResult r;
        r.count = kUntouched;
        r.length = kUntouched;
        r.result = ReadZRN(&r.count, &r.length, buffer.data());
        const std::size_t written =
            r.result == 0 && r.length >= 0 ? static_cast<std::size_t>(r.length) : 0;
        r.stream.assign(buffer.begin(),
                        buffer.begin() + static_cast<long>(std::min(written, buffer.size())));
        r.tailUntouched =
            std::all_of(buffer.begin() + static_cast<long>(std::min(written, buffer.size())),
                        buffer.end(), [](unsigned char b) { return b == kBufferFill; });
        return r;
    }

    std::int32_t write(const Bytes& stream, std::int32_t count = 1000) {
        return WriteZRN(count, static_cast<std::int32_t>(stream.size()), stream.data());
    }

  private:
    sim::SimCard sim_;
    sim::ScopedCard inserted_;
    std::int32_t connectResult_ = -1;
};

// Names parameterised cases by their `name` field.
struct CaseName {
    template <typename Param>
    std::string operator()(const ::testing::TestParamInfo<Param>& param) const {
        return param.param.name;
    }
};

// A small extended geometry, so that whole-card writes stay short.
inline sim::ExtendedGeometry smallGeometry() {
    sim::ExtendedGeometry g;
    g.nameSlotLength = 20;    // names of up to 16 bytes
    g.numberSlotLength = 14;  // numbers of up to 20 digits
    g.nameSlotCount = 10;
    g.adnCount = 10;
    g.numberSlotCount = 30;
    g.groupCount = 8;
    g.groupNameLength = 12;
    g.adiCount = 6;
    g.adiRecordLength = 20;
    g.optionFlags = 0x12;
    return g;
}

}  // namespace zrn::test
