#pragma once

#include <cstdint>
#include <string>

namespace zrn::channel {

// What a card's answer means for the caller, from the status words of
// GSM 11.11 9.4 (and the ISO 7816-4 "file not found" some cards use).
enum class StatusCategory : std::uint8_t {
    kSuccess,            // 90 00 and the other normal endings
    kResponseAvailable,  // 9F xx: xx bytes of response data wait for GET RESPONSE
    kNotFound,           // 94 04, 6A 82: the file does not exist on this card
    kSecurity,           // 98 xx: an access condition or CHV refused the command
    kWrongParameters,    // 67 xx, 6B xx, 6D xx, 6E xx, 94 00/02/08: the command did not fit
    kCardFailure,        // 6F xx, 92 40 and anything GSM 11.11 does not define
    kTransportFailure,   // the exchange failed, or fewer than the two status bytes came back
};

// "not found", "security" ...: a short name for reports and test messages.
const char* categoryName(StatusCategory category);

struct StatusWord {
    std::uint8_t sw1 = 0;
    std::uint8_t sw2 = 0;

    constexpr std::uint16_t value() const { return static_cast<std::uint16_t>(sw1 << 8 | sw2); }
    constexpr bool operator==(const StatusWord&) const = default;

    StatusCategory category() const;
    // The meaning GSM 11.11 gives this status word.
    const char* meaning() const;
    // "6F 00".
    std::string text() const;
};

inline constexpr StatusWord kStatusOk{0x90, 0x00};

}  // namespace zrn::channel
