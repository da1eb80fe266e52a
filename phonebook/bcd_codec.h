#pragma once

// Telephone numbers as packed BCD (GSM 11.11 10.5.1, dialling numbers) and as
// digit text: one character per nibble, the nibble value plus 0x30, so 0-9
// are the digits and A-F are ':' to '?'.

#include <cstdint>
#include <string>

namespace zrn::phonebook {

// `count` BCD bytes to digit text, low nibble first; a final filler nibble F
// is dropped (only the very last one). A count of 0 or less gives "".
// False only when no memory is left; `text` is then unchanged.
bool DecodeBcd(const std::uint8_t* bytes, std::int32_t count, std::string& text);

// Digit text to packed BCD: exactly ceil(n / 2) bytes written to `out`, an odd
// last digit completed with the filler F. Characters are not validated.
void EncodeBcd(std::string text, std::uint8_t* out);

// A number element's value as text: its bytes up to the first zero byte.
// False only when no memory is left; `text` is then unchanged.
bool NumberValueToText(const std::uint8_t* value, std::uint32_t length, std::string& text);

}  // namespace zrn::phonebook
