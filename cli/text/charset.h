#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "cli/outcome.h"

namespace zrn::cli::text {

// Converts `bytes` from `charset` (any name glibc's iconv knows: CP936,
// ISO-8859-1, ...) to UTF-8; nothing when the charset is unknown or the bytes
// are not valid in it.
std::optional<std::string> toUtf8(std::string_view bytes, const std::string& charset);

// A text file brought to UTF-8, with the charset it was read in.
struct DecodedText {
    std::string text;
    std::string charset;  // "UTF-8", "UTF-16LE", ... or the name given
};

// Reads a text file as address books and phones write it: UTF-8 with or
// without a byte-order mark, UTF-16 with a mark or without one (found by its
// zero bytes), or the charset named (`charset` non-empty). Without a name,
// bytes that are neither are handed back unchanged: callers check them.
Outcome<DecodedText> decodeTextFile(std::string_view bytes, const std::string& charset);

// True for the names of UTF-16 and UTF-32, whose files are read whole.
bool isWideCharset(const std::string& charset);

// The legacy code page `bytes` most likely are in: "GBK" when every byte above
// 0x7F pairs into a GB2312 character, otherwise "windows-1252". For messages
// that ask the user to name it.
std::string likelyLegacyCharset(std::string_view bytes);

}  // namespace zrn::cli::text
