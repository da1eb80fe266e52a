// The codecs: BCD numbers, the hex text of message records, card images as JSON.
#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>

#include "fuzz/harness/byte_source.h"
#include "fuzz/harness/contracts.h"
#include "fuzz/harness/targets.h"
#include "phonebook/bcd_codec.h"
#include "sim/card_image.h"
#include "sms/sms_codec.h"

namespace zrn::fuzz {

namespace {

std::string textOf(ByteView bytes) {
    return {bytes.begin(), bytes.end()};
}

// A heap copy of exactly the given size, so that the address sanitizer sees
// every byte read or written past its end.
std::unique_ptr<std::uint8_t[]> exactCopy(ByteView bytes) {
    auto copy = std::make_unique<std::uint8_t[]>(std::max<std::size_t>(bytes.size(), 1));
    std::copy(bytes.begin(), bytes.end(), copy.get());
    return copy;
}

bool isDigitText(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x30 && c <= 0x3F; });
}

void checkDecode(ByteView bcd) {
    const auto bytes = exactCopy(bcd);
    std::string text = "unchanged";
    const auto count = static_cast<std::int32_t>(bcd.size());
    require(phonebook::DecodeBcd(bytes.get(), count, text), "DecodeBcd failed with memory left");
    const std::size_t full = 2 * bcd.size();
    require(text.size() == full || (full > 0 && text.size() == full - 1),
            "DecodeBcd gave " + std::to_string(text.size()) + " characters for " +
                std::to_string(bcd.size()) + " bytes");
    require(isDigitText(text), "DecodeBcd gave a character outside 0x30-0x3F");
}

void checkEncode(ByteView digits) {
    const std::string text = textOf(digits);
    const std::size_t packed = (text.size() + 1) / 2;
    auto out = std::make_unique<std::uint8_t[]>(std::max<std::size_t>(packed, 1));
    phonebook::EncodeBcd(text, out.get());
    const bool decodable =
        std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x30 && c <= 0x3E; });
    if (decodable) {
        std::string back;
        require(phonebook::DecodeBcd(out.get(), static_cast<std::int32_t>(packed), back),
                "DecodeBcd failed");
        require(back == text, "EncodeBcd then DecodeBcd changed the digits");
    }
}

void checkNumberValue(ByteView value) {
    const auto bytes = exactCopy(value);
    std::string text;
    require(
        phonebook::NumberValueToText(bytes.get(), static_cast<std::uint32_t>(value.size()), text),
        "NumberValueToText failed with memory left");
    const auto zero = std::find(value.begin(), value.end(), std::uint8_t{0});
    require(text == std::string(value.begin(), zero), "NumberValueToText did not stop at zero");
}

bool isUpperHexDigit(std::uint8_t c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

void checkHexRoundTrip(ByteView record) {
    using sms::SmsCodec;
    auto text = std::make_unique<std::uint8_t[]>(2 * record.size() + 1);
    std::int32_t position = 0;
    const auto bytes = exactCopy(record);
    SmsCodec::PutHexRecord(record.size(), bytes.get(), text.get(), position);
    require(position == static_cast<std::int32_t>(2 * record.size()),
            "PutHexRecord advanced by the wrong count");
    require(std::all_of(text.get(), text.get() + position, isUpperHexDigit),
            "PutHexRecord wrote a character that is not upper-case hex");
    auto back = std::make_unique<std::uint8_t[]>(std::max<std::size_t>(record.size(), 1));
    SmsCodec::HexToBytes(ByteView(text.get(), static_cast<std::size_t>(position)),
                         std::span<std::uint8_t>(back.get(), record.size()));
    require(std::equal(record.begin(), record.end(), back.get()), "hex round trip changed a byte");
}

void checkHexDecode(ByteSource& in) {
    using sms::SmsCodec;
    const std::size_t outputSize = in.u8();
    const ByteView text = in.rest();
    const auto copy = exactCopy(text);
    auto out = std::make_unique<std::uint8_t[]>(std::max<std::size_t>(outputSize, 1));
    SmsCodec::HexToBytes(ByteView(copy.get(), text.size()),
                         std::span<std::uint8_t>(out.get(), outputSize));
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        if (isUpperHexDigit(text[i]) && isUpperHexDigit(text[i + 1])) {
            const std::string pair{static_cast<char>(text[i]), static_cast<char>(text[i + 1])};
            require(SmsCodec::HexPairToByte(text[i], text[i + 1]) == std::stoi(pair, nullptr, 16),
                    "HexPairToByte decoded " + pair + " wrongly");
        }
    }
}

void checkUnitPayload(ByteSource& in) {
    using sms::SmsCodec;
    auto unitLength = static_cast<std::int32_t>((std::uint32_t{in.u16()} << 16) | in.u16());
    sms::UnitBuffer unit{};
    const ByteView bytes = in.rest();
    std::copy_n(bytes.begin(), std::min(bytes.size(), unit.size()), unit.begin());
    sms::PayloadBuffer payload{};
    SmsCodec::TakeUnitPayload(unitLength, unit, payload);
}

}  // namespace

void runBcdCodec(ByteView input) {
    ByteSource in(input);
    const std::uint8_t mode = in.u8();
    const ByteView rest = in.rest();
    switch (mode % 3) {
        case 0:
            checkDecode(rest);
            break;
        case 1:
            checkEncode(rest);
            break;
        default:
            checkNumberValue(rest);
            break;
    }
}

void runSmsHexCodec(ByteView input) {
    ByteSource in(input);
    switch (in.u8() % 3) {
        case 0:
            checkHexRoundTrip(in.rest());
            break;
        case 1:
            checkHexDecode(in);
            break;
        default:
            checkUnitPayload(in);
            break;
    }
}

void runCardImageJson(ByteView input) {
    sim::CardImage image;
    try {
        image = sim::parseImage(textOf(input));
    } catch (const std::runtime_error&) {
        return;  // refused, as documented
    }
    const std::string saved = sim::serializeImage(image);
    require(sim::parseImage(saved) == image, "a saved card image reads back differently");
}

}  // namespace zrn::fuzz
