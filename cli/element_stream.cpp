#include "cli/element_stream.h"

namespace zrn::cli {

namespace {
constexpr std::uint8_t kMarker = 0x01;
constexpr std::size_t kHeadSize = 8;

bool isTagLetter(std::uint8_t b) {
    return b >= 'A' && b <= 'Z';
}
}  // namespace

Outcome<std::vector<Element>> splitElements(ByteView bytes) {
    std::vector<Element> elements;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const std::size_t remaining = bytes.size() - pos;
        if (remaining < kHeadSize) {
            return Outcome<std::vector<Element>>::failure(
                "element at offset " + std::to_string(pos) + ": only " + std::to_string(remaining) +
                " bytes left, an element head needs 8");
        }
        const std::uint8_t* head = bytes.data() + pos;
        if (head[0] != kMarker || !isTagLetter(head[1]) || !isTagLetter(head[2]) ||
            !isTagLetter(head[3])) {
            return Outcome<std::vector<Element>>::failure(
                "offset " + std::to_string(pos) + ": no element head (marker 01 and a tag)");
        }
        const std::uint32_t length = static_cast<std::uint32_t>(head[4]) << 24 |
                                     static_cast<std::uint32_t>(head[5]) << 16 |
                                     static_cast<std::uint32_t>(head[6]) << 8 | head[7];
        if (length > remaining - kHeadSize) {
            return Outcome<std::vector<Element>>::failure(
                "element " + std::string(reinterpret_cast<const char*>(head + 1), 3) +
                " at offset " + std::to_string(pos) + " claims " + std::to_string(length) +
                " bytes, only " + std::to_string(remaining - kHeadSize) + " follow");
        }
        elements.push_back({std::string(reinterpret_cast<const char*>(head + 1), 3),
                            bytes.subspan(pos + kHeadSize, length), pos});
        pos += kHeadSize + length;
    }
    return elements;
}

void appendHead(Bytes& out, std::string_view tag, std::uint32_t length) {
    out.push_back(kMarker);
    for (std::size_t i = 0; i < 3; ++i) {
        out.push_back(i < tag.size() ? static_cast<std::uint8_t>(tag[i]) : std::uint8_t{' '});
    }
    out.push_back(static_cast<std::uint8_t>(length >> 24));
    out.push_back(static_cast<std::uint8_t>(length >> 16));
    out.push_back(static_cast<std::uint8_t>(length >> 8));
    out.push_back(static_cast<std::uint8_t>(length));
}

void appendElement(Bytes& out, std::string_view tag, ByteView value) {
    appendHead(out, tag, static_cast<std::uint32_t>(value.size()));
    out.insert(out.end(), value.begin(), value.end());
}

}  // namespace zrn::cli
