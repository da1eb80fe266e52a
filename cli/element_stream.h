#pragma once

// The element stream of the library's phone-book and SMS exports (a
// marker, a three-letter tag, a big-endian length, the value) with string
// tags, over stream/.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "channel/bytes.h"
#include "cli/outcome.h"

namespace zrn::cli {

struct Element {
    std::string tag;     // three letters
    ByteView value;      // points into the parsed bytes
    std::size_t offset;  // of the head
};

// Splits `bytes` into consecutive elements, checking every head and length
// against what remains. Fails with the offset of the first bad element.
Outcome<std::vector<Element>> splitElements(ByteView bytes);

void appendElement(Bytes& out, std::string_view tag, ByteView value);
// An element head, for values appended after it.
void appendHead(Bytes& out, std::string_view tag, std::uint32_t length);

}  // namespace zrn::cli
