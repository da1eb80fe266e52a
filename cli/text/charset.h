#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace zrn::cli::text {

// Converts `bytes` from `charset` (any name glibc's iconv knows: CP936,
// ISO-8859-1, ...) to UTF-8; nothing when the charset is unknown or the bytes
// are not valid in it.
std::optional<std::string> toUtf8(std::string_view bytes, const std::string& charset);

}  // namespace zrn::cli::text
