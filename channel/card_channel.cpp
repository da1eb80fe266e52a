#include "channel/card_channel.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "channel/transport.h"

namespace zrn::channel {

namespace {
constexpr std::uint8_t kSw1ResponseAvailable = 0x9F;  // GSM 11.11 9.4.1
constexpr std::uint8_t kSw1Ok = 0x90;
}  // namespace

CardChannel::~CardChannel() {
    handle_ = 0;
}

CardChannel& cardChannel() {
    static CardChannel channel;
    return channel;
}

bool CardChannel::Transmit(const std::uint8_t* command, std::uint32_t commandLength,
                           std::uint8_t* response, std::uint32_t* responseLength) {
    if (!HasCard()) {
        return false;
    }
    return exchangeApdu(handle_, command, commandLength, response, responseLength) == 0;
}

CardChannel::Answer CardChannel::exchange(const Apdu& apdu, std::uint8_t* destination,
                                          std::uint8_t capacity) {
    std::array<std::uint8_t, kReceiveBufferSize> response{};
    std::uint32_t received = kReceiveBufferSize;
    Answer answer;
    if (!Transmit(apdu.data(), static_cast<std::uint32_t>(apdu.size()), response.data(),
                  &received)) {
        return answer;
    }
    // A reader that reports fewer than the two status bytes, or more than it
    // was given room for, has not delivered an answer we can read.
    if (received < 2 || received > kReceiveBufferSize) {
        return answer;
    }
    answer.ok = true;
    answer.sw1 = response[received - 2];
    answer.sw2 = response[received - 1];
    if (destination != nullptr && answer.sw1 == kSw1Ok && answer.sw2 == 0x00) {
        const std::uint32_t dataLength = std::min<std::uint32_t>(received - 2, capacity);
        if (dataLength != 0) {
            std::memcpy(destination, response.data(), dataLength);
        }
        answer.copied = static_cast<std::uint8_t>(dataLength);
    }
    return answer;
}

bool CardChannel::exchangeExpectingOk(const Apdu& apdu, std::uint8_t* destination,
                                      std::uint8_t capacity, std::uint8_t* dataLength) {
    const Answer answer = exchange(apdu, destination, capacity);
    const bool ok = answer.ok && answer.sw1 == kSw1Ok && answer.sw2 == 0x00;
    if (ok && dataLength != nullptr) {
        *dataLength = answer.copied;
    }
    return ok;
}

bool CardChannel::SelectFile(std::uint16_t fileId, std::uint8_t& responseLength) {
    const Answer answer = exchange(Apdu::select(fileId), nullptr, 0);
    if (!answer.ok || answer.sw1 != kSw1ResponseAvailable) {
        return false;
    }
    responseLength = answer.sw2;
    return true;
}

bool CardChannel::ReadBinary(std::uint8_t* destination, std::uint8_t length, std::uint16_t offset,
                             std::uint8_t* dataLength) {
    return exchangeExpectingOk(Apdu::readBinary(offset, length), destination, length, dataLength);
}

bool CardChannel::UpdateBinary(const std::uint8_t* source, std::uint8_t length,
                               std::uint16_t offset) {
    return exchangeExpectingOk(Apdu::updateBinary(offset, source, length), nullptr, 0);
}

bool CardChannel::ReadRecord(std::uint8_t recordIndex, std::uint8_t* destination,
                             std::uint8_t length, std::uint8_t* dataLength) {
    return exchangeExpectingOk(Apdu::readRecord(recordIndex, length), destination, length,
                               dataLength);
}

bool CardChannel::UpdateRecord(std::uint8_t recordIndex, const std::uint8_t* source,
                               std::uint8_t length) {
    return exchangeExpectingOk(Apdu::updateRecord(recordIndex, source, length), nullptr, 0);
}

bool CardChannel::GetResponse(std::uint8_t* destination, std::uint8_t length,
                              std::uint8_t* dataLength) {
    return exchangeExpectingOk(Apdu::getResponse(length), destination, length, dataLength);
}

}  // namespace zrn::channel
