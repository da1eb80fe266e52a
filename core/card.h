#pragma once

// The one way into the library's card work, for the seven exports and for the
// zrn tool alike: connection, the capacities text, the phone book and the
// messages (bounded by a host's buffer, or whole), and the card facts the
// tool shows. Everything goes through the process channel, over the
// transport the caller chose.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "channel/bytes.h"
#include "channel/transport.h"

namespace zrn::core {

// The exchange beneath the card channel, and wrappers that watch it.
using Transport = channel::Transport;
using TransportDecorator = channel::TransportDecorator;

// PC/SC, for programs that link the PC/SC transport (channel/pcsc_transport.cpp).
inline std::unique_ptr<Transport> makePcscTransport() {
    return std::make_unique<channel::PcscTransport>();
}
// Puts `transport` beneath the process channel; returns the one it replaces.
// nullptr goes back to the process's default.
Transport* useTransport(Transport* transport);

// Whether a card handle is held (ConnectReader ran with a non-zero handle).
bool hasCard();
// Holds `handle` for the commands that come before the connection (CHV1).
void attachCard(CardHandle handle);

// ---- The exports' steps, in their result codes ---------------------------

// ConnectReader: takes the handle, reads the geometry; 0 or 3.
std::int32_t connect(CardHandle handle);
// GetConfig: the seven capacities into `text` (41 bytes); 0, or 2 when the
// card failed while its layout was tested (text untouched).
std::int32_t config(char* text);
std::int32_t readPhonebook(std::int32_t& count, std::int32_t& length, std::uint8_t* buffer);
std::int32_t writePhonebook(std::int32_t count, std::int32_t length, const std::uint8_t* stream);
std::int32_t readMessages(std::int32_t& count, std::int32_t& length, std::uint8_t* buffer);
std::int32_t writeMessages(std::int32_t count, std::int32_t length, const std::uint8_t* stream);

// ---- The same without a host's buffer limits -----------------------------

struct Stream {
    std::int32_t result = 0;
    std::int32_t count = 0;
    Bytes bytes;
};

std::int32_t config(std::string& text);
// The capacities text from the geometry the connection read, without asking
// the card anything (`extended`: the layout found then); `text` holds 41 bytes.
void configTextAsConnected(bool extended, char* text);
Stream readWholePhonebook();
std::int32_t writePhonebook(std::int32_t count, ByteView stream);
Stream readAllMessages();
std::int32_t writeMessages(std::int32_t count, ByteView stream);

// ---- Card facts ----------------------------------------------------------

enum class Layout { kStandard, kExtended, kUnknown };

// What the card can hold, as connection and the file headers tell it.
struct CardRoom {
    Layout layout = Layout::kStandard;
    // Extended layout: the configuration file.
    std::int32_t nameSlotLength = 0;
    std::int32_t numberSlotLength = 0;
    std::int32_t adnCount = 0;
    std::int32_t nameSlotCount = 0;
    std::int32_t numberSlotCount = 0;
    std::int32_t groupCount = 0;
    std::int32_t groupNameLength = 0;
    std::int32_t adiCount = 0;
    std::int32_t adiRecordLength = 0;
    // Standard layout: EF_ADN.
    std::size_t adnRecordLength = 0;
    std::size_t adnRecordCount = 0;
    // The message stores (176-byte records).
    std::size_t smsRecords = 0;
    bool extraFile = false;
    std::size_t extraRecords = 0;
    bool extraIndex = false;

    bool operator==(const CardRoom&) const = default;
};

CardRoom room();

// What a write depends on, read afresh from the card: the layout, the
// phone-book geometry (record counts, the configuration file) and the option
// flags. Taken twice when a session starts; two shapes that differ mean the
// card or the reader did not answer the same twice.
struct CardShape {
    bool whole = false;  // every read succeeded; a partial shape equals nothing
    Layout layout = Layout::kUnknown;
    std::uint16_t phonebookDirectory = 0;
    std::int32_t adnCount = 0;
    std::int32_t smsCount = 0;
    std::int32_t nameSlotLength = 0;
    std::int32_t numberSlotLength = 0;
    std::int32_t nameSlotCount = 0;
    std::int32_t numberSlotCount = 0;
    std::int32_t groupCount = 0;
    std::int32_t groupNameLength = 0;
    std::int32_t adiCount = 0;
    std::int32_t adiRecordLength = 0;
    std::int32_t capacity6 = 0;
    std::int32_t capacity7 = 0;
    std::uint8_t adiTypeFlags = 0;
    std::size_t adnRecordLength = 0;

    bool sameAs(const CardShape& other) const { return whole && other.whole && *this == other; }
    bool operator==(const CardShape&) const = default;
};

// Reads the shape without touching what the connection stored.
CardShape cardShape();
// The shape as the connection stored it (the layout and EF_ADN's record
// length are read again): equal to cardShape() unless a read went wrong.
CardShape connectedShape();

// EF_ICCID's digits; empty when the card does not give them.
std::string iccid();
// The same, telling a card without EF_ICCID (an empty string) from a card
// that failed while it was read (nothing).
std::optional<std::string> readIccid();

struct ChvStatus {
    bool known = false;    // the card answered the status request
    bool enabled = false;  // CHV1 must be presented
    int attemptsLeft = 0;
};

// CHV1's state from the MF's selection response (GSM 11.11 9.2.1).
ChvStatus chv1Status();

enum class Verification {
    kAccepted,
    kWrong,         // 98 04: wrong, attempts left
    kBlocked,       // 98 40: wrong, and now blocked
    kRefused,       // any other status word
    kNotDelivered,  // the exchange failed
};

struct VerifyResult {
    Verification verdict = Verification::kNotDelivered;
    std::string status;  // "98 08 (in contradiction with CHV status)"
};

// VERIFY CHV1 with `pin` (digits, padded with FF); the command bytes are wiped.
VerifyResult verifyChv1(std::string_view pin);

// What a command APDU is, for the tool's trace and its account of what a
// write reached: only the instruction byte and the header are looked at.
enum class CommandKind { kSelect, kUpdateBinary, kUpdateRecord, kChv, kOther };
CommandKind commandKind(ByteView command);

// GetErrMsg's text for `code`, still in code page 936.
std::string errorMessage(std::int32_t code);

}  // namespace zrn::core
