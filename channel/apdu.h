#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "channel/bytes.h"

namespace zrn::channel {

// One GSM 11.11 command APDU (class A0), built on the stack. The buffer is the
// 260 bytes an update command needs; the unused tail stays zero.
class Apdu {
  public:
    static constexpr std::size_t kCapacity = 260;
    static constexpr std::uint8_t kClassGsm = 0xA0;

    enum Instruction : std::uint8_t {
        kSelect = 0xA4,
        kReadBinary = 0xB0,
        kUpdateBinary = 0xD6,
        kReadRecord = 0xB2,
        kUpdateRecord = 0xDC,
        kGetResponse = 0xC0,
        kStatus = 0xF2,
        kVerifyChv = 0x20,
        kChangeChv = 0x24,
        kDisableChv = 0x26,
        kEnableChv = 0x28,
        kUnblockChv = 0x2C,
    };

    // A CHV as GSM 11.11 9.3 sends it: the digits in ASCII, padded with FF to 8 bytes.
    using ChvBlock = std::array<std::uint8_t, 8>;
    // Digits beyond the eighth are dropped; callers check the length first.
    static ChvBlock chvBlock(std::string_view digits);

    static Apdu select(std::uint16_t fileId);
    static Apdu readBinary(std::uint16_t offset, std::uint8_t length);
    static Apdu updateBinary(std::uint16_t offset, const std::uint8_t* data, std::uint8_t length);
    // recordIndex is 0-based; P1 carries it plus one in one byte (absolute mode, P2 = 04).
    static Apdu readRecord(std::uint8_t recordIndex, std::uint8_t length);
    static Apdu updateRecord(std::uint8_t recordIndex, const std::uint8_t* data,
                             std::uint8_t length);
    static Apdu getResponse(std::uint8_t length);
    // STATUS: the current directory's selection response, `length` bytes of it.
    static Apdu status(std::uint8_t length);
    // chvNumber is 1 or 2 (P2).
    static Apdu verifyChv(std::uint8_t chvNumber, const ChvBlock& chv);
    static Apdu changeChv(std::uint8_t chvNumber, const ChvBlock& oldChv, const ChvBlock& newChv);
    static Apdu disableChv(const ChvBlock& chv1);
    static Apdu enableChv(const ChvBlock& chv1);
    // The unblocking key and the new CHV; P2 is 00 for CHV1 and 02 for CHV2.
    static Apdu unblockChv(std::uint8_t chvNumber, const ChvBlock& unblockKey,
                           const ChvBlock& newChv);

    // Clears the bytes, for commands that carried a secret.
    void wipe();

    const std::uint8_t* data() const { return bytes_.data(); }
    std::size_t size() const { return size_; }
    ByteView view() const { return {bytes_.data(), size_}; }

  private:
    Apdu(std::uint8_t ins, std::uint8_t p1, std::uint8_t p2, std::uint8_t p3);
    void appendData(const std::uint8_t* data, std::uint8_t length);

    std::array<std::uint8_t, kCapacity> bytes_{};
    std::size_t size_ = 0;
};

}  // namespace zrn::channel
