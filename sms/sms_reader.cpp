// Reading the three message stores: EF_SMS first, then the extra message
// file, sorted by its index into LMS and EMS messages.
#include <new>

#include "channel/file_map.h"
#include "sms/message_store.h"
#include "sms/sms_codec.h"

namespace zrn::sms {

namespace {

using channel::InfoNeeded;

bool isInUse(const RecordBuffer& record) {
    return record[0] != 0;
}

// Index byte k classifies extra record k + 1; records beyond a short index
// have no byte and are not read.
std::uint8_t indexValue(const Bytes& index, std::uint32_t record) {
    return record < index.size() ? index[record] : 0;
}

bool isLmsValue(std::uint8_t value) {
    return value == 2 || value == 3;
}
bool isEmsValue(std::uint8_t value) {
    return value == 1;
}

}  // namespace

int SmsCodec::ReadMessages(std::int32_t& count, std::int32_t& position, std::uint8_t* output,
                           channel::CardChannel& channel) {
    const auto info = channel::DescribeFile(channel, channel::files::kSms).info;
    if (!info) {
        return outcome::kResponseFailed;
    }
    if (!store::hasMessageRecords(*info)) {
        return outcome::kMessageReadFailed;
    }
    const std::uint32_t records = store::addressableRecords(*info);
    count = static_cast<std::int32_t>(records);

    RecordBuffer record{};
    std::int32_t written = 0;
    std::int32_t appended = 0;
    for (std::uint32_t i = 0; i < records; ++i) {
        if (!store::readMessageRecord(channel, i, record.data())) {
            return outcome::kMessageReadFailed;
        }
        if (isInUse(record)) {
            appendElement(written, output, MessageKind::kCms, record.data());
            ++appended;
        }
    }
    count = appended;
    position = written;

    int extra = ReadIndexedExtra(count, position, output, channel);
    if (extra == outcome::kNoIndex) {
        extra = ReadUnindexedExtra(count, position, output, channel);
    }
    return extra == outcome::kNoIndex ? outcome::kOk : extra;
}

int SmsCodec::ReadIndexedExtra(std::int32_t& count, std::int32_t& position, std::uint8_t* output,
                               channel::CardChannel& channel) {
    // Only a card that says the index does not exist keeps its extra
    // messages unindexed; any other failure would read them all as one kind.
    std::uint8_t responseLength = 0;
    const channel::PathSelection indexSelected =
        channel::SelectPath(channel, channel::files::kExtraMessageIndex, 0, responseLength);
    if (!indexSelected) {
        return indexSelected.notFound() ? outcome::kNoIndex : outcome::kResponseFailed;
    }
    const auto extra = channel::DescribeFile(channel, channel::files::kExtraMessages).info;
    if (!extra) {
        return outcome::kResponseFailed;
    }
    if (!store::hasMessageRecords(*extra)) {
        return outcome::kExtraReadFailed;
    }
    const auto indexInfo = channel::DescribeFile(channel, channel::files::kExtraMessageIndex).info;
    if (!indexInfo) {
        return outcome::kResponseFailed;
    }
    Bytes index;
    try {
        index.resize(indexInfo->fileSize);
    } catch (const std::bad_alloc&) {
        return outcome::kNoMemory;
    }
    if (!channel.readTransparent(index.data(), index.size())) {
        return outcome::kWriteFailed;
    }

    RecordBuffer record{};
    if (!store::open(channel::OpenExtraMessageFile, channel)) {
        return outcome::kExtraReadFailed;
    }
    const std::uint32_t records = store::addressableRecords(*extra);
    std::int32_t written = position;
    std::int32_t appended = 0;
    const auto readPass = [&](bool (*belongs)(std::uint8_t), MessageKind kind) {
        for (std::uint32_t i = 0; i < records; ++i) {
            if (!belongs(indexValue(index, i))) {
                continue;
            }
            if (!store::readMessageRecord(channel, i, record.data())) {
                return false;
            }
            if (isInUse(record)) {
                appendElement(written, output, kind, record.data());
                ++appended;
            }
        }
        return true;
    };
    if (!readPass(isLmsValue, MessageKind::kLms) || !readPass(isEmsValue, MessageKind::kEms)) {
        return outcome::kExtraReadFailed;
    }
    count += appended;
    position = written;
    return outcome::kOk;
}

int SmsCodec::ReadUnindexedExtra(std::int32_t& count, std::int32_t& position, std::uint8_t* output,
                                 channel::CardChannel& channel) {
    const channel::FileDescription extraFile =
        channel::DescribeFile(channel, channel::files::kExtraMessages);
    if (!extraFile.path) {
        // Only a card that says so keeps no extra messages; a failed
        // selection would silently drop them from the read.
        return extraFile.path.notFound() ? outcome::kOk : outcome::kResponseFailed;
    }
    const auto& extra = extraFile.info;
    if (!extra) {
        return outcome::kResponseFailed;
    }
    if (!store::hasMessageRecords(*extra)) {
        return outcome::kExtraReadFailed;
    }
    RecordBuffer record{};
    const std::uint32_t records = store::addressableRecords(*extra);
    std::int32_t written = position;
    std::int32_t appended = 0;
    for (std::uint32_t i = 0; i < records; ++i) {
        if (!store::readMessageRecord(channel, i, record.data())) {
            return outcome::kExtraReadFailed;
        }
        if (isInUse(record)) {
            appendElement(written, output, MessageKind::kLms, record.data());
            ++appended;
        }
    }
    count += appended;
    position = written;
    return outcome::kOk;
}

}  // namespace zrn::sms
