#include "sms/message_store.h"

#include <algorithm>

namespace zrn::sms::store {

namespace {
constexpr std::size_t kMaxPiece = 255;
}  // namespace

std::optional<channel::FileInfo> openAndDescribe(OpenPath openPath, channel::CardChannel& channel,
                                                 channel::InfoNeeded needed) {
    std::uint8_t responseLength = 0;
    if (openPath(responseLength, channel) != 1) {
        return std::nullopt;
    }
    return channel::FetchFileInfo(channel, responseLength, needed);
}

bool open(OpenPath openPath, channel::CardChannel& channel) {
    std::uint8_t responseLength = 0;
    return openPath(responseLength, channel) == 1;
}

std::uint32_t recordsInFile(const channel::FileInfo& info) {
    return static_cast<std::uint32_t>(info.fileSize / kRecordLength);
}

std::uint32_t addressableRecords(const channel::FileInfo& info) {
    return std::min(recordsInFile(info), kMaxAddressableRecords);
}

bool hasMessageRecords(const channel::FileInfo& info) {
    return info.recordLength == kRecordLength;
}

bool readMessageRecord(channel::CardChannel& channel, std::uint32_t index,
                       std::uint8_t* destination) {
    std::uint8_t received = 0;
    return index < kMaxAddressableRecords &&
           channel.ReadRecord(static_cast<std::uint8_t>(index), destination,
                              static_cast<std::uint8_t>(kRecordLength), &received) &&
           received == kRecordLength;
}

bool updateMessageRecord(channel::CardChannel& channel, std::uint32_t index,
                         const std::uint8_t* source) {
    return index < kMaxAddressableRecords &&
           channel.UpdateRecord(static_cast<std::uint8_t>(index), source,
                                static_cast<std::uint8_t>(kRecordLength));
}

bool readTransparent(channel::CardChannel& channel, std::uint8_t* destination, std::size_t length) {
    for (std::size_t offset = 0; offset < length; offset += kMaxPiece) {
        const auto piece = static_cast<std::uint8_t>(std::min(kMaxPiece, length - offset));
        std::uint8_t received = 0;
        if (!channel.ReadBinary(destination + offset, piece, static_cast<std::uint16_t>(offset),
                                &received) ||
            received != piece) {
            return false;
        }
    }
    return true;
}

bool updateTransparent(channel::CardChannel& channel, const std::uint8_t* source,
                       std::size_t length) {
    for (std::size_t offset = 0; offset < length; offset += kMaxPiece) {
        const auto piece = static_cast<std::uint8_t>(std::min(kMaxPiece, length - offset));
        if (!channel.UpdateBinary(source + offset, piece, static_cast<std::uint16_t>(offset))) {
            return false;
        }
    }
    return true;
}

}  // namespace zrn::sms::store
