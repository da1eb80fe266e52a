#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "sim/card_image.h"
#include "sim/virtual_card.h"

namespace zrn::sim {

// One command and what the card answered, as the simulated reader saw them.
struct Exchange {
    Bytes command;
    Bytes response;  // empty when the transport failed
    long transportError = 0;
};

// A GSM 11.11 SIM: file tree, selection rules, GET RESPONSE data (9.2.1),
// every command of chapter 9 (binary, record and cyclic files, SEEK,
// INCREASE, the CHV commands for CHV1 and CHV2, INVALIDATE, REHABILITATE,
// RUN GSM ALGORITHM with a test algorithm, SLEEP), the access conditions of
// every file, with the real status words for every refusal. Everything sent
// is logged; faults can be injected.
class SimCard : public VirtualCard {
  public:
    explicit SimCard(CardImage image);
    // Copies (moves copy too) are independent cards with the same state, log and faults.
    SimCard(const SimCard& other);
    SimCard& operator=(const SimCard& other);
    ~SimCard() override;

    long transmit(ByteView command, Bytes& response) override;

    // Power cycle: the MF becomes current, CHV1 is no longer verified.
    void reset();

    CardImage& image() { return image_; }
    const CardImage& image() const { return image_; }

    // The card's selection and security state, for tests.
    std::uint16_t currentDirectory() const;
    // 0 when no EF is selected.
    std::uint16_t currentElementaryFile() const;
    bool chv1Verified() const;
    bool chv2Verified() const;
    // The record pointer in the current EF, from 1; 0 when not set.
    std::size_t recordPointer() const;

    const std::vector<Exchange>& log() const { return log_; }
    // The commands sent so far, as spaced upper-case hex.
    std::vector<std::string> commandsHex() const;
    std::size_t commandCount() const { return log_.size(); }
    void clearLog() { log_.clear(); }

    // Fault injection. Command numbers count every command since the card was
    // made (or since clearLog), starting at 1.
    void failCommand(std::size_t commandNumber, std::uint16_t statusWord);
    void failTransportAt(std::size_t commandNumber, long pcscError);
    // Every command of `instruction` while `fileId` is the selected file
    // (for SELECT: selecting `fileId`) is answered with `statusWord`.
    void failInstruction(std::uint8_t instruction, std::uint16_t fileId, std::uint16_t statusWord);
    // Sees every command first; returns true when it has answered it itself
    // (the card state is then left as it was). For cards that lie.
    using Interceptor = std::function<bool(ByteView command, Bytes& response)>;
    void setInterceptor(Interceptor interceptor);
    void clearFaults();

  private:
    struct Impl;
    CardImage image_;
    std::vector<Exchange> log_;
    // The rest of the state (current DF/EF, last response, CHV verified,
    // faults) lives in the implementation file.
    std::shared_ptr<Impl> impl_;
};

// The Ki of images that give none: 00 01 02 ... 0F.
Bytes defaultKi();

// The simulator's stand-in for an operator's A3/A8 (GSM 11.11 8.16), a plain
// mixing for tests with no secret in it: m = Ki XOR RAND (16 bytes);
// SRES[j] = m[j] ^ rotl(m[j+4], 1) ^ rotl(m[j+8], 2) ^ rotl(m[j+12], 3)
// (j < 4, rotl an 8-bit left rotation); Kc[j] = m[j] + m[j+8] mod 256
// (j < 8). Returns SRES followed by Kc, 12 bytes.
Bytes runTestAlgorithm(ByteView ki, ByteView rand);

}  // namespace zrn::sim
