#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zrn::cli::text {

constexpr char32_t kReplacement = U'\uFFFD';

// Decodes UTF-8; every malformed sequence becomes one U+FFFD, so any bytes are
// accepted and nothing is lost silently (callers report replacements).
std::u32string decodeUtf8(std::string_view bytes);
void appendUtf8(std::string& out, char32_t c);
std::string encodeUtf8(std::u32string_view text);
bool isValidUtf8(std::string_view bytes);

}  // namespace zrn::cli::text
