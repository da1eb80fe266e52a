// Storing an SMS element stream: count the heads, check them against the
// stores, then write EF_SMS, the extra message file and its index.
#include <algorithm>
#include <cstring>
#include <new>

#include "channel/file_map.h"
#include "sms/message_store.h"
#include "sms/sms_codec.h"

namespace zrn::sms {

namespace {

using channel::InfoNeeded;

constexpr std::uint8_t kIndexLms = 2;
constexpr std::uint8_t kIndexEms = 1;

struct HeadCounts {
    std::uint32_t cms = 0;
    std::uint32_t lms = 0;
    std::uint32_t ems = 0;

    std::uint32_t extra() const { return lms + ems; }
};

// Heads at every byte offset, not only at element boundaries: the checks
// must hold for anything in the stream that looks like a message.
HeadCounts countHeads(ByteView stream) {
    HeadCounts counts;
    for (std::size_t offset = 0; offset < stream.size(); ++offset) {
        if (isHeadAt(stream, offset, MessageKind::kCms)) {
            ++counts.cms;
        } else if (isHeadAt(stream, offset, MessageKind::kLms)) {
            ++counts.lms;
        } else if (isHeadAt(stream, offset, MessageKind::kEms)) {
            ++counts.ems;
        }
    }
    return counts;
}

// Steps over `count` elements of 360 bytes and hands each whole element of
// `kind` to `take`, stopping at the first outcome other than success. An
// element cut by the end of the stream ends the walk unwritten.
template <typename Take>
int walkElements(ByteView stream, std::int32_t count, MessageKind kind, Take&& take) {
    for (std::size_t i = 0; i < static_cast<std::size_t>(count); ++i) {
        const std::size_t offset = i * kElementLength;
        if (offset >= stream.size()) {
            break;
        }
        if (!isHeadAt(stream, offset, kind)) {
            continue;
        }
        if (stream.size() - offset < kElementLength) {
            break;
        }
        const int result = take(stream.subspan(offset, kElementLength));
        if (result != outcome::kOk) {
            return result;
        }
    }
    return outcome::kOk;
}

// Every element the walks will store must carry hex text: anything else
// would be written to the card as bytes nobody sent.
bool storesOnlyHexText(ByteView stream, std::int32_t count) {
    const auto checkText = [](ByteView element) {
        return isHexText(element.subspan(kHeadLength)) ? outcome::kOk : outcome::kBadStream;
    };
    for (MessageKind kind : {MessageKind::kCms, MessageKind::kLms, MessageKind::kEms}) {
        if (walkElements(stream, count, kind, checkText) != outcome::kOk) {
            return false;
        }
    }
    return true;
}

// The element's value decoded into one record, through the working buffers.
class ElementDecoder {
  public:
    const std::uint8_t* decode(ByteView element) {
        std::memcpy(unit_.data(), element.data(), kElementLength);
        std::int32_t unitLength = static_cast<std::int32_t>(kElementLength);
        SmsCodec::TakeUnitPayload(unitLength, unit_, payload_);
        record_.fill(0);
        SmsCodec::HexToBytes(ByteView(payload_.data(), kHexTextLength),
                             std::span(record_.data(), kRecordLength));
        return record_.data();
    }

  private:
    UnitBuffer unit_{};
    PayloadBuffer payload_{};
    RecordBuffer record_{};
};

// The capacity of the extra message file as the checks found it.
struct ExtraStore {
    std::size_t indexLength = 0;  // one index byte per record of the file
    std::uint32_t records = 0;    // records a message can go to
};

}  // namespace

int SmsCodec::WriteMessages(std::int32_t count, std::int32_t length, const std::uint8_t* stream,
                            channel::CardChannel& channel) {
    const ByteView data =
        length > 0 ? ByteView(stream, static_cast<std::size_t>(length)) : ByteView();
    const HeadCounts heads = countHeads(data);
    if (!storesOnlyHexText(data, count)) {
        return outcome::kBadStream;
    }

    // Checks: nothing is written until every one has passed.
    const bool hasIndex = store::open(channel::OpenExtraMessageIndex, channel);
    if (!hasIndex && heads.ems > 0) {
        return outcome::kNoRoom;
    }
    const bool hasExtraFile = store::open(channel::OpenExtraMessageFile, channel);
    if (!hasExtraFile && heads.lms > 0) {
        return outcome::kNoRoom;
    }
    const auto messageFile = store::openAndDescribe(channel::OpenMessageFile, channel,
                                                    InfoNeeded::kFileSizeAndRecordLength);
    if (!messageFile) {
        return outcome::kResponseFailed;
    }
    if (heads.cms > 0 && !store::hasMessageRecords(*messageFile)) {
        return outcome::kWriteFailed;
    }
    if (heads.cms > store::addressableRecords(*messageFile)) {
        return outcome::kNoRoom;
    }
    ExtraStore extra;
    {
        std::uint8_t responseLength = 0;
        if (channel::OpenExtraMessageFile(responseLength, channel) != 1) {
            if (heads.extra() > 0) {
                return hasExtraFile ? outcome::kExtraFileLost : outcome::kNoRoom;
            }
        } else {
            const auto info = channel::FetchFileInfo(channel, responseLength,
                                                     InfoNeeded::kFileSizeAndRecordLength);
            if (!info) {
                return outcome::kResponseFailed;
            }
            if (heads.extra() > 0 && !store::hasMessageRecords(*info)) {
                return outcome::kWriteFailed;
            }
            extra.indexLength = store::recordsInFile(*info);
            extra.records = store::addressableRecords(*info);
            if (heads.extra() > extra.records) {
                return outcome::kNoRoom;
            }
        }
    }

    ElementDecoder decoder;
    // Each record goes to the file just selected: a failed selection leaves
    // the card's previous file current, so it must stop the write.
    const auto writeRecords = [&](MessageKind kind, store::OpenPath reopenBeforeEach,
                                  std::uint32_t& nextRecord) {
        return walkElements(data, count, kind, [&](ByteView element) {
            if (reopenBeforeEach != nullptr && !store::open(reopenBeforeEach, channel)) {
                return outcome::kWriteFailed;
            }
            if (!store::updateMessageRecord(channel, nextRecord, decoder.decode(element))) {
                return outcome::kWriteFailed;
            }
            ++nextRecord;
            return outcome::kOk;
        });
    };

    if (!store::open(channel::OpenMessageFile, channel)) {
        return outcome::kWriteFailed;
    }
    std::uint32_t nextMessageRecord = 0;
    if (const int result = writeRecords(MessageKind::kCms, nullptr, nextMessageRecord);
        result != outcome::kOk) {
        return result;
    }
    if (heads.extra() == 0) {
        return outcome::kOk;  // the extra message file and its index stay as they are
    }

    Bytes index;
    Bytes indexAsRead;
    try {
        index.assign(extra.indexLength, 0);
        indexAsRead.resize(extra.indexLength);
    } catch (const std::bad_alloc&) {
        return outcome::kNoMemory;
    }
    if (!store::open(channel::OpenExtraMessageFile, channel)) {
        return outcome::kWriteFailed;
    }
    std::uint32_t nextExtraRecord = 0;
    if (const int result =
            writeRecords(MessageKind::kLms, channel::OpenExtraMessageFile, nextExtraRecord);
        result != outcome::kOk) {
        return result;
    }
    const std::uint32_t lmsWritten = nextExtraRecord;

    if (!store::open(channel::OpenExtraMessageIndex, channel)) {
        // Without an index there were no EMS elements; an index that has
        // gone since the checks cannot be brought up to date.
        return hasIndex ? outcome::kWriteFailed : outcome::kOk;
    }
    if (!store::readTransparent(channel, indexAsRead.data(), indexAsRead.size())) {
        return outcome::kWriteFailed;
    }
    if (!store::open(channel::OpenExtraMessageFile, channel)) {
        return outcome::kWriteFailed;
    }
    if (const int result =
            writeRecords(MessageKind::kEms, channel::OpenExtraMessageFile, nextExtraRecord);
        result != outcome::kOk) {
        return result;
    }

    if (!store::open(channel::OpenExtraMessageIndex, channel)) {
        return outcome::kWriteFailed;
    }
    // The index marks the records just written, and nothing else: records
    // after them keep their bytes but are no longer messages.
    std::fill_n(index.data(), lmsWritten, kIndexLms);
    std::fill(index.data() + lmsWritten, index.data() + nextExtraRecord, kIndexEms);
    if (!store::updateTransparent(channel, index.data(), index.size())) {
        return outcome::kWriteFailed;
    }
    return outcome::kOk;
}

}  // namespace zrn::sms
