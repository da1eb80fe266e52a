#pragma once

// The tagged element stream that carries the phone book and the short
// messages across the library's boundary: an 8-byte head (marker 0x01, three
// tag letters, 4-byte big-endian value length) followed by the value,
// element after element with nothing between them.
//
// Two readers walk a stream by the heads' full lengths: the strict one takes
// a stream only when every head is whole, marked, lettered and within the
// stream; the lenient one keeps the elements before the first damage and
// says where and what the damage is, for showing or repairing a stream.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace zrn::stream {

using ByteSpan = std::span<const std::uint8_t>;
using ByteVector = std::vector<std::uint8_t>;

constexpr std::uint8_t kMarker = 0x01;
constexpr std::size_t kTagSize = 3;
constexpr std::size_t kLengthOffset = 1 + kTagSize;
constexpr std::size_t kHeadSize = 8;

using Tag = std::array<std::uint8_t, kTagSize>;

// The tag of three letters, e.g. makeTag("NCD").
constexpr Tag makeTag(std::string_view letters) {
    Tag tag{};
    for (std::size_t i = 0; i < kTagSize && i < letters.size(); ++i) {
        tag[i] = static_cast<std::uint8_t>(letters[i]);
    }
    return tag;
}
inline std::string_view tagText(const Tag& tag) {
    return {reinterpret_cast<const char*>(tag.data()), tag.size()};
}

// One element head as found in a stream, taken byte for byte.
struct Head {
    std::uint8_t marker = 0;
    Tag tag{};
    std::array<std::uint8_t, 4> length{};

    // The kHeadSize bytes at `p`; the caller has checked they are there.
    static Head at(const std::uint8_t* p);

    bool is(const Tag& wanted) const { return marker == kMarker && tag == wanted; }
    bool hasLetterTag() const;
    std::uint32_t fullLength() const {
        return std::uint32_t{length[0]} << 24 | std::uint32_t{length[1]} << 16 |
               std::uint32_t{length[2]} << 8 | length[3];
    }
    // The lowest length byte alone.
    std::uint8_t lengthByte() const { return length[3]; }
    bool upperLengthBytesZero() const { return length[0] == 0 && length[1] == 0 && length[2] == 0; }
    bool allLengthBytesZero() const { return upperLengthBytesZero() && length[3] == 0; }
};

// Whether the head at `p` (at least five bytes) has the marker, `tag` and a
// zero first length byte: how a fixed-size element is recognised without its
// length. Inline: the short-message writer runs it at every marker byte.
inline bool signatureMatches(const std::uint8_t* p, const Tag& tag) {
    return p[0] == kMarker && p[1] == tag[0] && p[2] == tag[1] && p[3] == tag[2] &&
           p[kLengthOffset] == 0;
}

// What lies at a read position.
enum class HeadFit {
    kWhole,      // a complete head
    kTruncated,  // 1 to 7 bytes: a head that runs past the end
    kEnd,        // nothing left
};
HeadFit headFitAt(ByteSpan stream, std::size_t position);

// ---- Writing -------------------------------------------------------------------

// Writes the kHeadSize head bytes at `p`.
void putHead(std::uint8_t* p, const Tag& tag, std::uint32_t length);
// Rewrites the length of the head at `p`.
void putLength(std::uint8_t* p, std::uint32_t length);
void appendHead(ByteVector& out, const Tag& tag, std::uint32_t length);
void appendElement(ByteVector& out, const Tag& tag, ByteSpan value);

// ---- Reading -------------------------------------------------------------------

struct Element {
    Tag tag{};
    ByteSpan value;          // points into the stream read
    std::size_t offset = 0;  // of the head
};

enum class Damage {
    kNone,
    kTruncatedHead,  // fewer than kHeadSize bytes left
    kNoMarker,       // the first byte is not the marker
    kBadTag,         // a tag byte is not an upper-case letter
    kValuePastEnd,   // the length claims more bytes than follow
};

struct Walk {
    std::vector<Element> elements;  // the well-formed elements before the damage
    Damage damage = Damage::kNone;
    std::size_t damageOffset = 0;  // where the damaged head starts
    Head damagedHead;              // when the head is whole
    std::size_t left = 0;          // bytes from the damaged head to the end

    bool whole() const { return damage == Damage::kNone; }
};

// The lenient reader: every element up to the first damaged head, and the damage.
Walk readLenient(ByteSpan stream);
// The strict reader: all the elements of a stream without damage, or none of
// them and the damage.
Walk readStrict(ByteSpan stream);

}  // namespace zrn::stream
