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
constexpr std::uint8_t kChvLength = 8;
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

Apdu Apdu::status(std::uint8_t length) {
    return Apdu(kStatus, 0x00, 0x00, length);
}

Apdu::ChvBlock Apdu::chvBlock(std::string_view digits) {
    ChvBlock block;
    block.fill(0xFF);
    for (std::size_t i = 0; i < digits.size() && i < block.size(); ++i) {
        block[i] = static_cast<std::uint8_t>(digits[i]);
    }
    return block;
}

Apdu Apdu::verifyChv(std::uint8_t chvNumber, const ChvBlock& chv) {
    Apdu apdu(kVerifyChv, 0x00, chvNumber, kChvLength);
    apdu.appendData(chv.data(), kChvLength);
    return apdu;
}

Apdu Apdu::changeChv(std::uint8_t chvNumber, const ChvBlock& oldChv, const ChvBlock& newChv) {
    Apdu apdu(kChangeChv, 0x00, chvNumber, 2 * kChvLength);
    apdu.appendData(oldChv.data(), kChvLength);
    apdu.appendData(newChv.data(), kChvLength);
    return apdu;
}

Apdu Apdu::disableChv(const ChvBlock& chv1) {
    Apdu apdu(kDisableChv, 0x00, 0x01, kChvLength);
    apdu.appendData(chv1.data(), kChvLength);
    return apdu;
}

Apdu Apdu::enableChv(const ChvBlock& chv1) {
    Apdu apdu(kEnableChv, 0x00, 0x01, kChvLength);
    apdu.appendData(chv1.data(), kChvLength);
    return apdu;
}

Apdu Apdu::unblockChv(std::uint8_t chvNumber, const ChvBlock& unblockKey, const ChvBlock& newChv) {
    // GSM 11.11 9.2.22: P2 = 00 unblocks CHV1, 02 unblocks CHV2.
    Apdu apdu(kUnblockChv, 0x00, chvNumber == 1 ? 0x00 : 0x02, 2 * kChvLength);
    apdu.appendData(unblockKey.data(), kChvLength);
    apdu.appendData(newChv.data(), kChvLength);
    return apdu;
}

void Apdu::wipe() {
    volatile std::uint8_t* p = bytes_.data();
    for (std::size_t i = 0; i < bytes_.size(); ++i) {
        p[i] = 0;
    }
    size_ = 0;
}

}  // namespace zrn::channel
