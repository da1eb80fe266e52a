#pragma once

#include <cstddef>
#include <cstdint>

#include "channel/apdu.h"
#include "channel/bytes.h"
#include "channel/response.h"
#include "channel/transport.h"

namespace zrn::channel {

// A transparent file moved in pieces of at most 255 bytes: whether every
// piece went through whole, and how the last exchange ended.
struct Transfer {
    bool complete = false;
    Status last = Status::transportFailure(0);
    std::size_t failedPiece = 0;  // the length of the piece that failed

    explicit operator bool() const { return complete; }
};

// The library's only road to the card: the host's PC/SC handle and one
// operation per GSM 11.11 command, over a transport chosen at run time. It
// knows nothing of files or layouts. Each command answers with the card's
// Response (data and status word, or the PC/SC error); the boolean forms
// below keep the channel's named operations for the callers that only need
// success.
class CardChannel {
  public:
    static constexpr std::uint32_t kReceiveBufferSize = 260;
    static constexpr std::size_t kMaxPiece = 255;

    CardChannel() = default;
    CardChannel(const CardChannel&) = delete;
    CardChannel& operator=(const CardChannel&) = delete;
    virtual ~CardChannel();

    void SetCardHandle(CardHandle handle) { handle_ = handle; }
    bool HasCard() const { return handle_ != 0; }
    CardHandle handle() const { return handle_; }

    // Installs the exchange beneath this channel and returns the previous
    // one; nullptr makes the channel follow the process's default transport.
    Transport* setTransport(Transport* transport);
    Transport& transport() const;

    // Any command; with no handle held nothing is sent.
    Response send(const Apdu& apdu);

    Response select(std::uint16_t fileId) { return send(Apdu::select(fileId)); }
    Response readBinary(std::uint16_t offset, std::uint8_t length) {
        return send(Apdu::readBinary(offset, length));
    }
    Response updateBinary(std::uint16_t offset, ByteView data);
    Response readRecord(std::uint8_t recordIndex, std::uint8_t length) {
        return send(Apdu::readRecord(recordIndex, length));
    }
    Response updateRecord(std::uint8_t recordIndex, ByteView data);
    Response getResponse(std::uint8_t length) { return send(Apdu::getResponse(length)); }
    Response status(std::uint8_t length) { return send(Apdu::status(length)); }
    // The command bytes are wiped once sent.
    Response verifyChv(std::uint8_t chvNumber, const Apdu::ChvBlock& chv);

    // The selected transparent file from offset 0: READ BINARY / UPDATE
    // BINARY in pieces of at most 255 bytes. A read piece must come back
    // whole; the first failing piece ends the transfer.
    Transfer readTransparent(std::uint8_t* destination, std::size_t length);
    Transfer updateTransparent(const std::uint8_t* source, std::size_t length);

    // The channel's named operations with boolean results. The raw exchange:
    bool Transmit(const std::uint8_t* command, std::uint32_t commandLength, std::uint8_t* response,
                  std::uint32_t* responseLength);
    // Succeeds on SW1 = 9F only; then SW2 (the response length) goes to responseLength.
    bool SelectFile(std::uint16_t fileId, std::uint8_t& responseLength);
    // The reading commands succeed on 90 00 and copy at most `length` data
    // bytes; `dataLength`, when given, receives how many.
    bool ReadBinary(std::uint8_t* destination, std::uint8_t length, std::uint16_t offset,
                    std::uint8_t* dataLength = nullptr);
    bool UpdateBinary(const std::uint8_t* source, std::uint8_t length, std::uint16_t offset);
    bool ReadRecord(std::uint8_t recordIndex, std::uint8_t* destination, std::uint8_t length,
                    std::uint8_t* dataLength = nullptr);
    bool UpdateRecord(std::uint8_t recordIndex, const std::uint8_t* source, std::uint8_t length);
    bool GetResponse(std::uint8_t* destination, std::uint8_t length,
                     std::uint8_t* dataLength = nullptr);

  private:
    CardHandle handle_ = 0;
    Transport* transport_ = nullptr;
};

// The one channel of the process.
CardChannel& cardChannel();

// The transport of every channel that was given none of its own: PC/SC in the
// shipped library, the simulated reader while a test or tool has inserted a
// card, and otherwise one that reaches no reader. Returns the previous one;
// nullptr restores the one that reaches no reader.
Transport* setDefaultTransport(Transport* transport);

// Installs a transport on a channel for one scope.
class ScopedTransport {
  public:
    ScopedTransport(CardChannel& channel, Transport& transport)
        : channel_(channel), previous_(channel.setTransport(&transport)) {}
    ~ScopedTransport() { channel_.setTransport(previous_); }
    ScopedTransport(const ScopedTransport&) = delete;
    ScopedTransport& operator=(const ScopedTransport&) = delete;

  private:
    CardChannel& channel_;
    Transport* previous_;
};

}  // namespace zrn::channel
