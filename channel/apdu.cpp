#include "channel/apdu.h"

#include <cstring>

namespace zrn::channel {

namespace {
std::uint8_t high(std::uint16_t v) {
    return static_cast<std::uint8_t>(v >> 8);
}
std::uint8_t low(std::uint16_t v) {
    return static_cast<std::uint8_t>(v & 0xFF);
}
std::uint8_t recordNumber(std::uint8_t index) {
    return static_cast<std::uint8_t>(index + 1);
}
constexpr std::uint8_t kAbsoluteMode = 0x04;
}  // namespace

Apdu::Apdu(std::uint8_t ins, std::uint8_t p1, std::uint8_t p2, std::uint8_t p3) {
    bytes_[0] = kClassGsm;
    bytes_[1] = ins;
    bytes_[2] = p1;
    bytes_[3] = p2;
    bytes_[4] = p3;
    size_ = 5;
}

void Apdu::appendData(const std::uint8_t* data, std::uint8_t length) {
    if (length != 0) {
        std::memcpy(bytes_.data() + size_, data, length);
    }
    size_ += length;
}

Apdu Apdu::select(std::uint16_t fileId) {
    Apdu apdu(kSelect, 0x00, 0x00, 0x02);
    const std::uint8_t id[2] = {high(fileId), low(fileId)};
    apdu.appendData(id, 2);
    return apdu;
}

Apdu Apdu::readBinary(std::uint16_t offset, std::uint8_t length) {
    return Apdu(kReadBinary, high(offset), low(offset), length);
}

Apdu Apdu::updateBinary(std::uint16_t offset, const std::uint8_t* data, std::uint8_t length) {
    Apdu apdu(kUpdateBinary, high(offset), low(offset), length);
    apdu.appendData(data, length);
    return apdu;
}

Apdu Apdu::readRecord(std::uint8_t recordIndex, std::uint8_t length) {
    return Apdu(kReadRecord, recordNumber(recordIndex), kAbsoluteMode, length);
}

Apdu Apdu::updateRecord(std::uint8_t recordIndex, const std::uint8_t* data, std::uint8_t length) {
    Apdu apdu(kUpdateRecord, recordNumber(recordIndex), kAbsoluteMode, length);
    apdu.appendData(data, length);
    return apdu;
}

Apdu Apdu::getResponse(std::uint8_t length) {
    return Apdu(kGetResponse, 0x00, 0x00, length);
}

}  // namespace zrn::channel
