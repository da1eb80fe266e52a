#pragma once

// The phone-book element stream: an 8-byte head (marker 0x01, three-letter
// tag, 4-byte big-endian value length) followed by the value, element after
// element with nothing between them.

#include <array>
#include <cstddef>
#include <cstdint>

#include "channel/bytes.h"
#include "stream/element_stream.h"

namespace zrn::phonebook {

constexpr std::uint8_t kElementMarker = stream::kMarker;
constexpr std::size_t kHeadSize = stream::kHeadSize;

using Tag = stream::Tag;

namespace tag {
constexpr Tag kNcd = stream::makeTag("NCD");  // one contact
constexpr Tag kNmt = stream::makeTag("NMT");  // name
constexpr Tag kAdn = stream::makeTag("ADN");  // general number
constexpr Tag kMbl = stream::makeTag("MBL");  // mobile number
constexpr Tag kHme = stream::makeTag("HME");  // home number
constexpr Tag kOfe = stream::makeTag("OFE");  // office number
constexpr Tag kOtr = stream::makeTag("OTR");  // other number
constexpr Tag kAdi = stream::makeTag("ADI");  // free-text entry
constexpr Tag kGpi = stream::makeTag("GPI");  // group membership
constexpr Tag kGrp = stream::makeTag("GRP");  // one group of the group list
}  // namespace tag

// The 0x80 byte that marks UCS-2 text in NMT and ADI values.
constexpr std::uint8_t kUcs2Marker = 0x80;

// Appends elements to a growable buffer. Values are written with byte 4 of the
// length 0, as the readers emit them; every length here stays within 24 bits.
class StreamBuilder {
  public:
    void appendElement(const Tag& tag, ByteView value);
    // NMT or ADI text: the 0x80 marker in front when the text is UCS-2.
    void appendText(const Tag& tag, ByteView text, bool ucs2);
    void appendEmpty(const Tag& tag) { appendElement(tag, {}); }
    // Opens an element whose value follows as further elements; returns the
    // place of its head for closeElement, which fills in the length.
    std::size_t openElement(const Tag& tag);
    void closeElement(std::size_t headPosition);

    std::size_t size() const { return bytes_.size(); }
    const Bytes& bytes() const { return bytes_; }
    Bytes take() { return std::move(bytes_); }

  private:
    Bytes bytes_;
};

// Group digits of a GPI value: 0x30 + d for each member group d, ascending,
// separated by single 0x01 bytes. `members` bit d - 1 is group d (1 to 8).
Bytes groupDigits(std::uint8_t members);
// Reads a GPI value the lenient way: runs of bytes between 0x01 separators are
// decimal numbers (each byte counting as its value minus 0x30); numbers 1 to 8
// set their group bit, any other number is ignored.
std::uint8_t parseGroupDigits(ByteView value);

// One element head as found in a stream; the writers read its length by
// byte 7 alone (lengthByte).
using ElementHead = stream::Head;
using HeadFit = stream::HeadFit;

// Bounds-checked walk over a stream the host handed in. Nothing here reads a
// byte outside the stream: heads and values are checked against its end
// before they are looked at.
class ElementReader {
  public:
    explicit ElementReader(ByteView stream) : stream_(stream) {}

    std::size_t position() const { return position_; }
    std::size_t remaining() const { return stream_.size() - position_; }
    bool atEnd() const { return position_ >= stream_.size(); }

    HeadFit headFit() const;
    // The head at the read position; only valid when headFit() is kWhole.
    ElementHead head() const;
    // Whether a whole head with this marker and tag is at the read position.
    bool at(const Tag& wanted) const;
    // Whether the value of the head at the read position, `head().lengthByte()`
    // bytes long, lies within the stream.
    bool valueFits() const;
    // The value after the head at the read position (call valueFits first).
    ByteView value() const;

    void skipHead() { position_ += kHeadSize; }
    // Past the head and byte-7 length of its value (call valueFits first).
    void skipElement();

  private:
    ByteView stream_;
    std::size_t position_ = 0;
};

}  // namespace zrn::phonebook
