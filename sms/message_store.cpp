#include "sms/message_store.h"

#include <algorithm>

namespace zrn::sms::store {

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

}  // namespace zrn::sms::store
