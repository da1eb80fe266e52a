#pragma once

// Text from a card or a file, made safe to print on a terminal: a name that
// holds ESC, BEL or CR must not move the cursor, recolour the screen or hide
// what is printed before it.

#include <string>
#include <string_view>

namespace zrn::cli::text {

// Control characters (C0, DEL, C1), bidirectional overrides and bytes that are
// not UTF-8 become visible escapes: "\x1b", "\r", "\u009b", "\u202e", "\xff".
// Everything else, backslashes included, is kept as it is.
std::string terminalText(std::string_view text);
// The same, keeping line breaks: for messages and texts of several lines.
std::string terminalLines(std::string_view text);

}  // namespace zrn::cli::text
