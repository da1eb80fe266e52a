#include "phonebook/element_stream.h"

#include <algorithm>
#include <cstdint>

namespace zrn::phonebook {

void StreamBuilder::appendHead(const Tag& tag, std::uint32_t length) {
    bytes_.push_back(kElementMarker);
    bytes_.insert(bytes_.end(), tag.begin(), tag.end());
    bytes_.push_back(0);
    bytes_.push_back(static_cast<std::uint8_t>(length >> 16));
    bytes_.push_back(static_cast<std::uint8_t>(length >> 8));
    bytes_.push_back(static_cast<std::uint8_t>(length));
}

void StreamBuilder::appendElement(const Tag& tag, ByteView value) {
    appendHead(tag, static_cast<std::uint32_t>(value.size()));
    bytes_.insert(bytes_.end(), value.begin(), value.end());
}

void StreamBuilder::appendText(const Tag& tag, ByteView text, bool ucs2) {
    if (!ucs2) {
        appendElement(tag, text);
        return;
    }
    appendHead(tag, static_cast<std::uint32_t>(text.size() + 1));
    bytes_.push_back(kUcs2Marker);
    bytes_.insert(bytes_.end(), text.begin(), text.end());
}

std::size_t StreamBuilder::openElement(const Tag& tag) {
    const std::size_t head = bytes_.size();
    appendHead(tag, 0);
    return head;
}

void StreamBuilder::closeElement(std::size_t headPosition) {
    const auto length = static_cast<std::uint32_t>(bytes_.size() - headPosition - kHeadSize);
    bytes_[headPosition + 4] = 0;
    bytes_[headPosition + 5] = static_cast<std::uint8_t>(length >> 16);
    bytes_[headPosition + 6] = static_cast<std::uint8_t>(length >> 8);
    bytes_[headPosition + 7] = static_cast<std::uint8_t>(length);
}

Bytes groupDigits(std::uint8_t members) {
    Bytes digits;
    for (int group = 1; group <= 8; ++group) {
        if ((members & (1u << (group - 1))) == 0) {
            continue;
        }
        if (!digits.empty()) {
            digits.push_back(kElementMarker);
        }
        digits.push_back(static_cast<std::uint8_t>(0x30 + group));
    }
    return digits;
}

std::uint8_t parseGroupDigits(ByteView value) {
    // Runs longer than a few digits can only be out of range; the bound keeps
    // the sum from overflowing whatever the host sends.
    constexpr std::int64_t kBeyondAnyGroup = 1'000'000;
    std::uint8_t members = 0;
    std::size_t i = 0;
    while (i < value.size()) {
        if (value[i] == kElementMarker) {
            ++i;
            continue;
        }
        std::int64_t number = 0;
        for (; i < value.size() && value[i] != kElementMarker; ++i) {
            number = std::clamp<std::int64_t>(number * 10 + (value[i] - 0x30), -kBeyondAnyGroup,
                                              kBeyondAnyGroup);
        }
        if (number >= 1 && number <= 8) {
            members = static_cast<std::uint8_t>(members | (1u << (number - 1)));
        }
    }
    return members;
}

HeadFit ElementReader::headFit() const {
    const std::size_t left = remaining();
    if (left == 0) {
        return HeadFit::kEnd;
    }
    return left < kHeadSize ? HeadFit::kTruncated : HeadFit::kWhole;
}

ElementHead ElementReader::head() const {
    ElementHead head;
    const std::uint8_t* p = stream_.data() + position_;
    head.marker = p[0];
    std::copy(p + 1, p + 4, head.tag.begin());
    std::copy(p + 4, p + 8, head.length.begin());
    return head;
}

bool ElementReader::at(const Tag& wanted) const {
    return headFit() == HeadFit::kWhole && head().is(wanted);
}

bool ElementReader::valueFits() const {
    return headFit() == HeadFit::kWhole && head().lengthByte() <= remaining() - kHeadSize;
}

ByteView ElementReader::value() const {
    return stream_.subspan(position_ + kHeadSize, head().lengthByte());
}

void ElementReader::skipElement() {
    position_ += kHeadSize + head().lengthByte();
}

}  // namespace zrn::phonebook
