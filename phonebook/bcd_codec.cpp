#include "phonebook/bcd_codec.h"

#include <cstring>
#include <new>

namespace zrn::phonebook {

namespace {
constexpr char kFillerCharacter = 0x3F;  // nibble F
constexpr int kDigitBase = 0x30;

char nibbleCharacter(unsigned nibble) {
    return static_cast<char>(kDigitBase + nibble);
}
}  // namespace

bool DecodeBcd(const std::uint8_t* bytes, std::int32_t count, std::string& text) {
    try {
        std::string digits;
        if (count > 0) {
            digits.reserve(2 * static_cast<std::size_t>(count));
            for (std::int32_t i = 0; i < count; ++i) {
                digits.push_back(nibbleCharacter(bytes[i] & 0x0Fu));
                digits.push_back(nibbleCharacter(static_cast<unsigned>(bytes[i] >> 4)));
            }
            if (digits.back() == kFillerCharacter) {
                digits.pop_back();
            }
        }
        text = std::move(digits);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void EncodeBcd(std::string text, std::uint8_t* out) {
    const std::size_t n = text.size();
    const auto code = [&](std::size_t i) {
        return static_cast<int>(static_cast<unsigned char>(text[i]));
    };
    // Computed modulo 256, so characters outside '0'..'?' borrow or carry
    // between the nibbles instead of being refused.
    const auto lowByte = [](int value) { return static_cast<std::uint8_t>(value & 0xFF); };
    for (std::size_t k = 0; k < n / 2; ++k) {
        out[k] = lowByte(16 * (code(2 * k + 1) - kDigitBase) + (code(2 * k) - kDigitBase));
    }
    if (n % 2 != 0) {
        // Filler F high, last digit low: 0xF0 | v for the digit characters.
        out[n / 2] = lowByte(code(n - 1) - 0x40);
    }
}

bool NumberValueToText(const std::uint8_t* value, std::uint32_t length, std::string& text) {
    try {
        const void* zero = length == 0 ? nullptr : std::memchr(value, 0, length);
        const std::size_t used =
            zero == nullptr
                ? length
                : static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - value);
        std::string result(used, '\0');
        if (used != 0) {
            std::memcpy(result.data(), value, used);
        }
        text = std::move(result);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace zrn::phonebook
