#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "channel/bytes.h"
#include "sim/card_builder.h"
#include "sim/sim_card.h"
#include "sim/virtual_card.h"
#include "zrn.h"

// Short-message tests on the simulated card. The expected element bytes are
// built here from the element layout, without the library's codec.
namespace zrn::test {

constexpr std::size_t kRecordSize = 176;
constexpr std::size_t kElementSize = 360;

constexpr std::uint16_t kSmsFile = sim::files::kSms;
constexpr std::uint16_t kExtraFile = sim::files::kExtraMessages;
constexpr std::uint16_t kIndexFile = sim::files::kExtraMessageIndex;

constexpr std::uint8_t kInsSelect = 0xA4;
constexpr std::uint8_t kInsGetResponse = 0xC0;
constexpr std::uint8_t kInsReadBinary = 0xB0;
constexpr std::uint8_t kInsUpdateBinary = 0xD6;
constexpr std::uint8_t kInsReadRecord = 0xB2;
constexpr std::uint8_t kInsUpdateRecord = 0xDC;

// A message record whose body names it: status, then `mark` repeated.
inline Bytes messageRecord(std::uint8_t status, std::uint8_t mark) {
    const Bytes body(20, mark);
    return sim::smsRecordBytes(status, body);
}

inline Bytes element(const char* tag, ByteView record) {
    Bytes out = {0x01,
                 static_cast<std::uint8_t>(tag[0]),
                 static_cast<std::uint8_t>(tag[1]),
                 static_cast<std::uint8_t>(tag[2]),
                 0x00,
                 0x00,
                 0x01,
                 0x60};
    const std::string hex = toHex(record, false);
    out.insert(out.end(), hex.begin(), hex.end());
    return out;
}

inline Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

struct MessageCardOptions {
    std::size_t smsRecords = 10;
    std::size_t extraRecords = 0;  // 0: no extra message file
    bool index = true;
};

inline sim::CardImage messageCardImage(const MessageCardOptions& options) {
    sim::StandardCardOptions standard;
    standard.smsCount = options.smsRecords;
    standard.extraMessageCount = options.extraRecords;
    standard.extraMessageIndex = options.index;
    sim::CardImage image = sim::buildStandardCard(standard);
    // Free records as GSM 11.11 describes them: status 00, the rest FF.
    for (std::size_t r = 1; r <= options.smsRecords; ++r) {
        sim::putSmsRecord(image, r, 0x00, {});
    }
    for (std::size_t r = 1; r <= options.extraRecords; ++r) {
        sim::putExtraMessage(image, r, 0x00, {});
    }
    return image;
}

// A simulated card in the reader, connected through the exports, with the
// connection's commands cleared from the log.
class ConnectedCard {
  public:
    explicit ConnectedCard(sim::CardImage image) : sim_(std::move(image)) {
        sim::insertCard(&sim_);
        connected_ = ConnectReader(sim::kSimulatedHandle) == 0;
        sim_.clearLog();
    }
    ~ConnectedCard() { sim::insertCard(nullptr); }
    ConnectedCard(const ConnectedCard&) = delete;
    ConnectedCard& operator=(const ConnectedCard&) = delete;

    bool connected() const { return connected_; }
    sim::SimCard& sim() { return sim_; }
    sim::CardImage& image() { return sim_.image(); }

    Bytes smsRecord(std::size_t record) const {
        return sim_.image().record({0x7F10, kSmsFile}, record - 1);
    }
    Bytes extraRecord(std::size_t record) const {
        return sim_.image().record({0x7F10, kExtraFile}, record - 1);
    }
    Bytes index() const {
        const sim::SimFile* file = sim_.image().find({0x7F10, kIndexFile});
        return file == nullptr ? Bytes{} : file->data;
    }

    // Each command sent: SELECT whole, every other command by its 5-byte header.
    std::vector<std::string> commands() const {
        std::vector<std::string> out;
        for (const sim::Exchange& exchange : sim_.log()) {
            const bool select = exchange.command.size() > 1 && exchange.command[1] == kInsSelect;
            const std::size_t n = select ? exchange.command.size()
                                         : std::min<std::size_t>(exchange.command.size(), 5);
            out.push_back(toHex(ByteView(exchange.command.data(), n)));
        }
        return out;
    }
    std::size_t countInstruction(std::uint8_t instruction) const {
        std::size_t n = 0;
        for (const sim::Exchange& exchange : sim_.log()) {
            if (exchange.command.size() > 1 && exchange.command[1] == instruction) {
                ++n;
            }
        }
        return n;
    }
    std::size_t writes() const {
        return countInstruction(kInsUpdateRecord) + countInstruction(kInsUpdateBinary);
    }

  private:
    sim::SimCard sim_;
    bool connected_ = false;
};

// What ReadSMS returned, in a buffer with guard bytes after the room asked for.
struct ReadResult {
    std::int32_t result = 0;
    std::int32_t count = 0;
    std::int32_t length = 0;
    Bytes stream;  // the first `length` bytes of the buffer
    bool guardKept = true;
};

constexpr std::uint8_t kGuard = 0xEE;

inline ReadResult readSms(std::size_t room, std::int32_t initialCount = -7,
                          std::int32_t initialLength = -7) {
    Bytes buffer(room * kElementSize + 64, kGuard);
    ReadResult read;
    read.count = initialCount;
    read.length = initialLength;
    read.result = ReadSMS(&read.count, &read.length, buffer.data());
    const std::size_t used =
        read.length > 0
            ? std::min<std::size_t>(static_cast<std::size_t>(read.length), room * kElementSize)
            : 0;
    read.stream.assign(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(used));
    for (std::size_t i = room * kElementSize; i < buffer.size(); ++i) {
        read.guardKept = read.guardKept && buffer[i] == kGuard;
    }
    return read;
}

inline std::int32_t writeSms(const Bytes& stream, std::int32_t count) {
    return WriteSMS(count, static_cast<std::int32_t>(stream.size()), stream.data());
}

inline std::int32_t writeSms(const Bytes& stream) {
    return writeSms(stream, static_cast<std::int32_t>(stream.size() / kElementSize));
}

// Expected commands, in the form ConnectedCard::commands() gives them.
using Commands = std::vector<std::string>;

inline std::string hexByte(unsigned value) {
    return toHex(Bytes{static_cast<std::uint8_t>(value)});
}

inline Commands path(std::uint16_t file) {
    const auto select = [](unsigned id) {
        return "A0 A4 00 00 02 " + hexByte(id >> 8) + " " + hexByte(id & 0xFF);
    };
    return {select(0x3F00), select(0x7F10), select(file)};
}
inline std::string getResponse() {
    return "A0 C0 00 00 0F";
}
inline std::string readRecord(unsigned record) {
    return "A0 B2 " + hexByte(record) + " 04 B0";
}
inline std::string updateRecord(unsigned record) {
    return "A0 DC " + hexByte(record) + " 04 B0";
}
inline std::string readBinary(unsigned offset, unsigned length) {
    return "A0 B0 " + hexByte(offset >> 8) + " " + hexByte(offset & 0xFF) + " " + hexByte(length);
}
inline std::string updateBinary(unsigned offset, unsigned length) {
    return "A0 D6 " + hexByte(offset >> 8) + " " + hexByte(offset & 0xFF) + " " + hexByte(length);
}

// Appends commands: append(expected, path(kSmsFile), {getResponse()}).
inline void append(Commands& to, std::initializer_list<Commands> parts) {
    for (const Commands& part : parts) {
        to.insert(to.end(), part.begin(), part.end());
    }
}

}  // namespace zrn::test
