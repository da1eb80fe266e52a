#include "stream/element_stream.h"

#include <algorithm>

namespace zrn::stream {

namespace {

bool isTagLetter(std::uint8_t b) {
    return b >= 'A' && b <= 'Z';
}

}  // namespace

Head Head::at(const std::uint8_t* p) {
    Head head;
    head.marker = p[0];
    std::copy(p + 1, p + kLengthOffset, head.tag.begin());
    std::copy(p + kLengthOffset, p + kHeadSize, head.length.begin());
    return head;
}

bool Head::hasLetterTag() const {
    return std::all_of(tag.begin(), tag.end(), isTagLetter);
}

HeadFit headFitAt(ByteSpan stream, std::size_t position) {
    if (position >= stream.size()) {
        return HeadFit::kEnd;
    }
    return stream.size() - position < kHeadSize ? HeadFit::kTruncated : HeadFit::kWhole;
}

void putHead(std::uint8_t* p, const Tag& tag, std::uint32_t length) {
    p[0] = kMarker;
    std::copy(tag.begin(), tag.end(), p + 1);
    putLength(p, length);
}

void putLength(std::uint8_t* p, std::uint32_t length) {
    p[kLengthOffset] = static_cast<std::uint8_t>(length >> 24);
    p[kLengthOffset + 1] = static_cast<std::uint8_t>(length >> 16);
    p[kLengthOffset + 2] = static_cast<std::uint8_t>(length >> 8);
    p[kLengthOffset + 3] = static_cast<std::uint8_t>(length);
}

void appendHead(ByteVector& out, const Tag& tag, std::uint32_t length) {
    const std::size_t at = out.size();
    out.resize(at + kHeadSize);
    putHead(out.data() + at, tag, length);
}

void appendElement(ByteVector& out, const Tag& tag, ByteSpan value) {
    appendHead(out, tag, static_cast<std::uint32_t>(value.size()));
    out.insert(out.end(), value.begin(), value.end());
}

Walk readLenient(ByteSpan stream) {
    Walk walk;
    std::size_t position = 0;
    const auto damaged = [&](Damage damage, const Head& head) {
        walk.damage = damage;
        walk.damagedHead = head;
        walk.damageOffset = position;
        walk.left = stream.size() - position;
        return walk;
    };
    while (position < stream.size()) {
        if (headFitAt(stream, position) != HeadFit::kWhole) {
            return damaged(Damage::kTruncatedHead, Head{});
        }
        const Head head = Head::at(stream.data() + position);
        if (head.marker != kMarker) {
            return damaged(Damage::kNoMarker, head);
        }
        if (!head.hasLetterTag()) {
            return damaged(Damage::kBadTag, head);
        }
        const std::size_t valueRoom = stream.size() - position - kHeadSize;
        if (head.fullLength() > valueRoom) {
            return damaged(Damage::kValuePastEnd, head);
        }
        walk.elements.push_back(
            {head.tag, stream.subspan(position + kHeadSize, head.fullLength()), position});
        position += kHeadSize + head.fullLength();
    }
    return walk;
}

Walk readStrict(ByteSpan stream) {
    Walk walk = readLenient(stream);
    if (!walk.whole()) {
        walk.elements.clear();
    }
    return walk;
}

}  // namespace zrn::stream
