#include "sms/sms_codec.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "channel/bytes.h"
#include "results/result_codes.h"

namespace zrn::sms {

namespace {

constexpr stream::Tag kCmsTag = stream::makeTag("CMS");
constexpr stream::Tag kLmsTag = stream::makeTag("LMS");
constexpr stream::Tag kEmsTag = stream::makeTag("EMS");

constexpr const stream::Tag& tagBytes(MessageKind kind) {
    switch (kind) {
        case MessageKind::kCms:
            return kCmsTag;
        case MessageKind::kLms:
            return kLmsTag;
        case MessageKind::kEms:
            return kEmsTag;
    }
    return kCmsTag;
}

std::uint8_t nibbleCharacter(unsigned nibble) {
    return static_cast<std::uint8_t>(nibble < 10 ? 0x30 + nibble : 0x37 + nibble);
}

constexpr int hexDigitValue(std::uint8_t c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    // Lower-case letters are no hex digits: the stream carries upper case, and
    // HexPairToByte takes every other character by its own code.
    return -1;
}

}  // namespace

const char* tagOf(MessageKind kind) {
    switch (kind) {
        case MessageKind::kCms:
            return "CMS";
        case MessageKind::kLms:
            return "LMS";
        case MessageKind::kEms:
            return "EMS";
    }
    return "CMS";
}

std::int32_t translateOutcome(int code) {
    switch (code) {
        case outcome::kOk:
            return result::kOk;
        case outcome::kBadStream:
        case outcome::kNoRoom:
            return result::kBadArgument;
        case outcome::kExtraReadFailed:
        case outcome::kNoMemory:
            return result::kSmsNoMemory;
        default:
            // 10005 to 10008: a card command failed. Nothing else reaches here.
            return result::kCardError;
    }
}

bool isHeadAt(ByteView stream, std::size_t offset, MessageKind kind) {
    if (offset >= stream.size() || stream.size() - offset < kHeadSignatureLength) {
        return false;
    }
    return stream::signatureMatches(stream.data() + offset, tagBytes(kind));
}

bool isHexText(ByteView text) {
    static constexpr auto kIsHexDigit = [] {
        std::array<bool, 256> table{};
        for (int c = 0; c < 256; ++c) {
            table[static_cast<std::size_t>(c)] = hexDigitValue(static_cast<std::uint8_t>(c)) >= 0;
        }
        return table;
    }();
    for (std::uint8_t c : text) {
        if (!kIsHexDigit[c]) {
            return false;
        }
    }
    return true;
}

SmsCodec::~SmsCodec() = default;

int SmsCodec::PutSmsHead(std::int32_t& position, std::uint8_t* output, MessageKind kind) {
    stream::putHead(output + position, tagBytes(kind), static_cast<std::uint32_t>(kHexTextLength));
    position += static_cast<std::int32_t>(kHeadLength);
    return outcome::kOk;
}

int SmsCodec::PutHexRecord(std::size_t recordLength, const std::uint8_t* record,
                           std::uint8_t* output, std::int32_t& position) {
    std::uint8_t* text = output + position;
    for (std::size_t i = 0; i < recordLength; ++i) {
        *text++ = nibbleCharacter(record[i] >> 4);
        *text++ = nibbleCharacter(record[i] & 0x0Fu);
    }
    position += static_cast<std::int32_t>(2 * recordLength);
    return outcome::kOk;
}

int SmsCodec::TakeUnitPayload(std::int32_t& unitLength, const UnitBuffer& unit,
                              PayloadBuffer& payload) {
    payload.fill(0xFF);
    const auto end = std::clamp<std::int32_t>(unitLength, static_cast<std::int32_t>(kHeadLength),
                                              static_cast<std::int32_t>(unit.size()));
    const auto valueLength = std::min(static_cast<std::size_t>(end) - kHeadLength, payload.size());
    std::memcpy(payload.data(), unit.data() + kHeadLength, valueLength);
    return outcome::kOk;
}

int SmsCodec::HexToBytes(ByteView text, std::span<std::uint8_t> bytes) {
    const std::size_t pairs = std::min(text.size() / 2, bytes.size());
    for (std::size_t i = 0; i < pairs; ++i) {
        bytes[i] = HexPairToByte(text[2 * i], text[2 * i + 1]);
    }
    return outcome::kOk;
}

std::uint8_t SmsCodec::HexPairToByte(std::uint8_t high, std::uint8_t low) {
    const auto value = [](std::uint8_t c) {
        const int digit = hexDigitValue(c);
        return static_cast<unsigned>(digit >= 0 ? digit : c);
    };
    return static_cast<std::uint8_t>((value(high) << 4) + value(low));
}

void SmsCodec::appendElement(std::int32_t& position, std::uint8_t* output, MessageKind kind,
                             const std::uint8_t* record) {
    PutSmsHead(position, output, kind);
    PutHexRecord(kRecordLength, record, output, position);
}

}  // namespace zrn::sms
