#include "channel/card_channel.h"

#include <algorithm>
#include <array>

namespace zrn::channel {

namespace {

// pcsc-lite's values, so that the channel needs no PC/SC headers.
constexpr long kInvalidHandle = static_cast<long>(0x80100003L);
constexpr long kNoService = static_cast<long>(0x8010001DL);

// The transport of a channel that has been given none.
class NoReader : public Transport {
  public:
    long transmit(CardHandle, ByteView, std::uint8_t*, std::uint32_t&) override {
        return kNoService;
    }
};

NoReader& noReader() {
    static NoReader transport;
    return transport;
}

Transport*& defaultTransport() {
    static Transport* transport = &noReader();
    return transport;
}

bool copyOnOk(const Response& response, std::uint8_t* destination, std::uint8_t capacity,
              std::uint8_t* dataLength) {
    if (!response.isOk()) {
        return false;
    }
    const std::size_t copied = response.copyData(destination, capacity);
    if (dataLength != nullptr) {
        *dataLength = static_cast<std::uint8_t>(copied);
    }
    return true;
}

}  // namespace

CardChannel::~CardChannel() {
    handle_ = 0;
}

CardChannel& cardChannel() {
    static CardChannel channel;
    return channel;
}

Transport* CardChannel::setTransport(Transport* transport) {
    Transport* previous = transport_;
    transport_ = transport;
    return previous;
}

Transport& CardChannel::transport() const {
    return transport_ != nullptr ? *transport_ : *defaultTransport();
}

Transport* setDefaultTransport(Transport* transport) {
    Transport* previous = defaultTransport();
    defaultTransport() = transport != nullptr ? transport : &noReader();
    return previous;
}

bool CardChannel::Transmit(const std::uint8_t* command, std::uint32_t commandLength,
                           std::uint8_t* response, std::uint32_t* responseLength) {
    if (!HasCard()) {
        return false;
    }
    return transport().transmit(handle_, ByteView(command, commandLength), response,
                                *responseLength) == 0;
}

Response CardChannel::send(const Apdu& apdu) {
    if (!HasCard()) {
        return Response::transportFailure(kInvalidHandle);
    }
    std::array<std::uint8_t, kReceiveBufferSize> buffer{};
    std::uint32_t received = kReceiveBufferSize;
    const long rv = transport().transmit(handle_, apdu.view(), buffer.data(), received);
    if (rv != 0) {
        return Response::transportFailure(rv);
    }
    // A reader that reports more than it was given room for has not
    // delivered an answer we can read; fewer than two bytes neither.
    if (received > kReceiveBufferSize) {
        return Response::transportFailure(0);
    }
    return Response::received(ByteView(buffer.data(), received));
}

Response CardChannel::updateBinary(std::uint16_t offset, ByteView data) {
    return send(Apdu::updateBinary(offset, data.data(), static_cast<std::uint8_t>(data.size())));
}

Response CardChannel::updateRecord(std::uint8_t recordIndex, ByteView data) {
    return send(
        Apdu::updateRecord(recordIndex, data.data(), static_cast<std::uint8_t>(data.size())));
}

Response CardChannel::verifyChv(std::uint8_t chvNumber, const Apdu::ChvBlock& chv) {
    Apdu apdu = Apdu::verifyChv(chvNumber, chv);
    const Response response = send(apdu);
    apdu.wipe();
    return response;
}

Transfer CardChannel::readTransparent(std::uint8_t* destination, std::size_t length) {
    Transfer transfer{true, Status::fromCard(kStatusOk)};
    for (std::size_t offset = 0; offset < length; offset += kMaxPiece) {
        const auto piece = static_cast<std::uint8_t>(std::min(kMaxPiece, length - offset));
        const Response response = readBinary(static_cast<std::uint16_t>(offset), piece);
        transfer.last = response.status();
        // A card that answers 90 00 with less than asked has not read the
        // file: whatever lies beyond would silently vanish.
        if (!response.isOk() || response.data().size() < piece) {
            transfer.complete = false;
            transfer.failedPiece = piece;
            return transfer;
        }
        response.copyData(destination + offset, piece);
    }
    return transfer;
}

Transfer CardChannel::updateTransparent(const std::uint8_t* source, std::size_t length) {
    Transfer transfer{true, Status::fromCard(kStatusOk)};
    for (std::size_t offset = 0; offset < length; offset += kMaxPiece) {
        const std::size_t piece = std::min(kMaxPiece, length - offset);
        const Response response =
            updateBinary(static_cast<std::uint16_t>(offset), ByteView(source + offset, piece));
        transfer.last = response.status();
        if (!response.isOk()) {
            transfer.complete = false;
            transfer.failedPiece = piece;
            return transfer;
        }
    }
    return transfer;
}

bool CardChannel::SelectFile(std::uint16_t fileId, std::uint8_t& responseLength) {
    const Response response = select(fileId);
    if (!response.hasResponseWaiting()) {
        return false;
    }
    responseLength = response.sw().sw2;
    return true;
}

bool CardChannel::ReadBinary(std::uint8_t* destination, std::uint8_t length, std::uint16_t offset,
                             std::uint8_t* dataLength) {
    return copyOnOk(readBinary(offset, length), destination, length, dataLength);
}

bool CardChannel::UpdateBinary(const std::uint8_t* source, std::uint8_t length,
                               std::uint16_t offset) {
    return updateBinary(offset, ByteView(source, length)).isOk();
}

bool CardChannel::ReadRecord(std::uint8_t recordIndex, std::uint8_t* destination,
                             std::uint8_t length, std::uint8_t* dataLength) {
    return copyOnOk(readRecord(recordIndex, length), destination, length, dataLength);
}

bool CardChannel::UpdateRecord(std::uint8_t recordIndex, const std::uint8_t* source,
                               std::uint8_t length) {
    return updateRecord(recordIndex, ByteView(source, length)).isOk();
}

bool CardChannel::GetResponse(std::uint8_t* destination, std::uint8_t length,
                              std::uint8_t* dataLength) {
    return copyOnOk(getResponse(length), destination, length, dataLength);
}

}  // namespace zrn::channel
