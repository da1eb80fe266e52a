#include "phonebook/element_stream.h"

#include <algorithm>
#include <cstdint>

namespace zrn::phonebook {

void StreamBuilder::appendElement(const Tag& tag, ByteView value) {
    stream::appendElement(bytes_, tag, value);
}

void StreamBuilder::appendText(const Tag& tag, ByteView text, bool ucs2) {
    if (!ucs2) {
        appendElement(tag, text);
        return;
    }
    stream::appendHead(bytes_, tag, static_cast<std::uint32_t>(text.size() + 1));
    bytes_.push_back(kUcs2Marker);
    bytes_.insert(bytes_.end(), text.begin(), text.end());
}

std::size_t StreamBuilder::openElement(const Tag& tag) {
    const std::size_t head = bytes_.size();
    stream::appendHead(bytes_, tag, 0);
    return head;
}

void StreamBuilder::closeElement(std::size_t headPosition) {
    const auto length = static_cast<std::uint32_t>(bytes_.size() - headPosition - kHeadSize);
    stream::putLength(bytes_.data() + headPosition, length);
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
    return stream::headFitAt(stream_, position_);
}

ElementHead ElementReader::head() const {
    return stream::Head::at(stream_.data() + position_);
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
