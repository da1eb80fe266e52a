#pragma once

// The phone book as people see it (names, typed numbers, free-text entries,
// groups, all in UTF-8) and its translation to and from the library's
// phone-book element stream, with every text coded for the card's layout.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "channel/bytes.h"
#include "cli/outcome.h"
#include "cli/text/alpha.h"

namespace zrn::cli {

enum class NumberType { kGeneral, kMobile, kHome, kWork, kOther };

// "general", "mobile", "home", "work", "other".
const char* numberTypeName(NumberType type);
// The stream tag: ADN, MBL, HME, OFE, OTR.
const char* numberTypeTag(NumberType type);
// Accepts the names above and the tags, case-insensitively.
std::optional<NumberType> numberTypeFromName(std::string_view name);

struct PhoneNumber {
    NumberType type = NumberType::kGeneral;
    std::string number;  // digits with * # p ? e, as shown to people
    bool operator==(const PhoneNumber&) const = default;
};

struct Contact {
    std::string name;
    std::vector<PhoneNumber> numbers;
    std::vector<std::string> notes;  // the free-text (ADI) entries
    std::vector<int> groups;         // group numbers 1 to 8, ascending
    bool operator==(const Contact&) const = default;
};

struct Group {
    int number = 0;  // 1 to 8
    std::string name;
    bool operator==(const Group&) const = default;
};

struct Phonebook {
    std::vector<Group> groups;
    std::vector<Contact> contacts;
    bool operator==(const Phonebook&) const = default;

    // The group of that number, or nullptr.
    const Group* group(int number) const;
};

// Digit text of the stream (0x30 + nibble) to people's form: 0x3A is '*',
// 0x3B '#', 0x3C 'p' (pause), 0x3D '?' (wild), 0x3E 'e'; 0x3F, the filler F,
// ends the number.
std::string digitTextToNumber(ByteView digits);

// --- the stream, byte for byte ----------------------------------------------

struct RawNumber {
    NumberType type;
    Bytes digits;
    // The card's TON/NPI says international (GSM 04.08 10.5.4.7, type of
    // number 001): shown with a leading '+'. The stream itself has no TON.
    bool international = false;
};

// TON/NPI bytes: the type of number is bits 4-6.
constexpr std::uint8_t kTonMask = 0x70;
constexpr std::uint8_t kTonInternational = 0x10;
constexpr std::uint8_t kTonNpiInternational = 0x91;
constexpr bool isInternationalTonNpi(std::uint8_t tonNpi) {
    return (tonNpi & kTonMask) == kTonInternational;
}
// A number as people read it: '+' before the digits of an international one.
std::string rawNumberText(const RawNumber& number);

struct RawContact {
    Bytes name;
    std::vector<RawNumber> numbers;
    std::vector<Bytes> adi;  // every ADI element, empty ones included
    Bytes groupDigits;
};

struct RawPhonebook {
    std::vector<Bytes> groups;  // GRP values in stream order (group d is element d)
    std::vector<RawContact> contacts;
};

// Parses a stream as ReadZRN returns it (either layout). Every length is
// checked against the bytes that remain; never reads outside `stream`.
// `tonNpi`, when given, holds the TON/NPI byte of every number element in
// stream order (empty ones included); international ones are marked so.
Outcome<RawPhonebook> parsePhonebookStream(ByteView stream,
                                           const std::vector<std::uint8_t>* tonNpi = nullptr);
// Group digits ("1\x013") to numbers, read as the writer reads them.
std::vector<int> parseGroupDigits(ByteView digits);
Phonebook decodePhonebook(const RawPhonebook& raw);
// One line for each number whose record holds digits after the filler F that
// ends it: the card's record is damaged, and only the number before the F is shown.
std::vector<std::string> numbersWithDigitsAfterTheirEnd(const RawPhonebook& raw);

// --- coding for a card --------------------------------------------------------

// What the card can hold, from its geometry.
struct PhonebookRoom {
    bool extended = false;
    // Extended layout (configuration file).
    std::size_t nameSlotLength = 0;
    std::size_t numberSlotLength = 0;
    std::size_t adnCount = 0;
    std::size_t nameSlotCount = 0;
    std::size_t numberSlotCount = 0;
    std::size_t groupCount = 0;
    std::size_t groupNameLength = 0;
    std::size_t adiCount = 0;
    std::size_t adiRecordLength = 0;
    // Standard layout (EF_ADN).
    std::size_t adnRecordLength = 0;
    std::size_t adnRecordCount = 0;
};

struct EncodeOptions {
    // Store a leading '+' as "00" with the national TON; otherwise the digits
    // after it go to the card with the international TON/NPI 91.
    bool plusAs00 = false;
};

// Something that will not reach the card as given.
struct Issue {
    enum class Kind {
        kLoss,     // cut, dropped or replaced: written only when the user accepts it
        kRefused,  // must be fixed before anything is written
    };
    Kind kind = Kind::kLoss;
    std::string where;  // "contact 3 (\"Anna\")", "group 2"
    std::string what;
};

struct EncodedPhonebook {
    Bytes stream;
    std::int32_t count = 0;
    RawPhonebook raw;  // what the stream holds
    Phonebook stored;  // the same, decoded: what the card will show
    std::vector<Issue> issues;

    bool refused() const;
    bool lossy() const;
};

EncodedPhonebook encodePhonebook(const Phonebook& phonebook, const PhonebookRoom& room,
                                 const EncodeOptions& options = {});

// The stream WriteZRN takes for `raw`: in the extended layout exactly eight
// GRP elements lead (the writer reads eight, whatever the card's group count).
Bytes phonebookStream(const RawPhonebook& raw, bool extended);
// Why `raw` (as read from some card) cannot be written unchanged to a card of
// `room`, or nothing when it can.
std::optional<std::string> rawDoesNotFit(const RawPhonebook& raw, const PhonebookRoom& room);

// Compares what was meant to be written with what the card returned, the way
// the card may legitimately reorder it (numbers by type, free-text entries by
// kind). Returns the first difference in words, or nothing when they agree.
std::optional<std::string> firstDifference(const RawPhonebook& expected, const RawPhonebook& actual,
                                           const PhonebookRoom& room);

}  // namespace zrn::cli
