#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "channel/bytes.h"

namespace zrn::fuzz {

// Takes values from the front of a fuzz input. Past the end every value is 0
// and every slice empty, so any input, however short, describes something.
class ByteSource {
  public:
    explicit ByteSource(ByteView data) : data_(data) {}

    bool empty() const { return position_ >= data_.size(); }
    std::size_t remaining() const { return data_.size() - position_; }

    std::uint8_t u8() { return empty() ? 0 : data_[position_++]; }

    std::uint16_t u16() {
        const auto high = u8();
        return static_cast<std::uint16_t>((high << 8) | u8());
    }

    bool flag() { return (u8() & 1u) != 0; }

    // Up to `count` bytes; fewer when the input ends first.
    ByteView take(std::size_t count) {
        const std::size_t n = std::min(count, remaining());
        const ByteView slice = data_.subspan(position_, n);
        position_ += n;
        return slice;
    }

    ByteView rest() { return take(remaining()); }

  private:
    ByteView data_;
    std::size_t position_ = 0;
};

}  // namespace zrn::fuzz
