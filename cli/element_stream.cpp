#include "cli/element_stream.h"

#include "stream/element_stream.h"

namespace zrn::cli {

namespace {

std::string damageText(const stream::Walk& walk) {
    const std::string at = std::to_string(walk.damageOffset);
    switch (walk.damage) {
        case stream::Damage::kTruncatedHead:
            return "element at offset " + at + ": only " + std::to_string(walk.left) +
                   " bytes left, an element head needs " + std::to_string(stream::kHeadSize);
        case stream::Damage::kNoMarker:
        case stream::Damage::kBadTag:
            return "offset " + at + ": no element head (marker 01 and a tag)";
        case stream::Damage::kValuePastEnd:
            return "element " + std::string(stream::tagText(walk.damagedHead.tag)) + " at offset " +
                   at + " claims " + std::to_string(walk.damagedHead.fullLength()) +
                   " bytes, only " + std::to_string(walk.left - stream::kHeadSize) + " follow";
        case stream::Damage::kNone:
            break;
    }
    return {};
}

stream::Tag tagOf(std::string_view letters) {
    stream::Tag tag{' ', ' ', ' '};
    for (std::size_t i = 0; i < tag.size() && i < letters.size(); ++i) {
        tag[i] = static_cast<std::uint8_t>(letters[i]);
    }
    return tag;
}

}  // namespace

Outcome<std::vector<Element>> splitElements(ByteView bytes) {
    const stream::Walk walk = stream::readStrict(bytes);
    if (!walk.whole()) {
        return Outcome<std::vector<Element>>::failure(damageText(walk));
    }
    std::vector<Element> elements;
    elements.reserve(walk.elements.size());
    for (const stream::Element& element : walk.elements) {
        elements.push_back(
            {std::string(stream::tagText(element.tag)), element.value, element.offset});
    }
    return elements;
}

void appendHead(Bytes& out, std::string_view tag, std::uint32_t length) {
    stream::appendHead(out, tagOf(tag), length);
}

void appendElement(Bytes& out, std::string_view tag, ByteView value) {
    stream::appendElement(out, tagOf(tag), value);
}

}  // namespace zrn::cli
