// Storing an SMS element stream: count the heads, check them against the
// stores, then write EF_SMS, the extra message file and its index.
#include <algorithm>
#include <cstring>
#include <new>
#include <optional>

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
    // Heads are rare among the hex characters: jump from marker to marker.
    const std::uint8_t* const begin = stream.data();
    const std::uint8_t* const end = begin + stream.size();
    for (const std::uint8_t* p = begin; p < end; ++p) {
        p = static_cast<const std::uint8_t*>(
            std::memchr(p, kElementMarker, static_cast<std::size_t>(end - p)));
        if (p == nullptr) {
            break;
        }
        const auto offset = static_cast<std::size_t>(p - begin);
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

// What the checks found out about the stores.
struct StoreCheck {
    int outcome = outcome::kOk;
    bool hasIndex = false;
    std::size_t indexLength = 0;     // one index byte per record of the extra message file
    std::uint32_t extraRecords = 0;  // extra records a message can go to
};

// The stores as the card answers for them, asked in the checks' order.
class CardStores {
  public:
    explicit CardStores(channel::CardChannel& channel) : channel_(channel) {}

    channel::PathSelection selectIndex() {
        return channel::SelectPath(channel_, channel::files::kExtraMessageIndex, 0,
                                   indexResponseLength_);
    }
    std::optional<std::size_t> indexSize() {
        const auto index =
            channel::FetchFileInfo(channel_, indexResponseLength_, InfoNeeded::kFileSize);
        return index ? std::optional<std::size_t>(index->fileSize) : std::nullopt;
    }
    channel::PathSelection selectExtra() {
        std::uint8_t responseLength = 0;
        return channel::SelectPath(channel_, channel::files::kExtraMessages, 0, responseLength);
    }
    std::optional<channel::FileInfo> describeSms() {
        return channel::DescribeFile(channel_, channel::files::kSms).info;
    }
    channel::FileDescription describeExtra() {
        return channel::DescribeFile(channel_, channel::files::kExtraMessages);
    }

  private:
    channel::CardChannel& channel_;
    std::uint8_t indexResponseLength_ = 0;
};

// The same answers from the stores' images: a store that is not there is
// "not found", every other one selects and describes itself.
class ImageStores {
  public:
    explicit ImageStores(const StoreImages& images) : images_(images) {}

    static channel::PathSelection selection(const StoreImage& image) {
        channel::PathSelection s;
        if (!image.present) {
            s.ok = false;
            s.failure = channel::Status::fromCard({0x94, 0x04});
        }
        return s;
    }
    static std::optional<channel::FileInfo> info(const StoreImage& image) {
        if (!image.present) {
            return std::nullopt;
        }
        return channel::FileInfo{image.size, image.recordLength};
    }
    channel::PathSelection selectIndex() { return selection(images_.index); }
    std::optional<std::size_t> indexSize() { return images_.index.size; }
    channel::PathSelection selectExtra() { return selection(images_.extra); }
    std::optional<channel::FileInfo> describeSms() { return info(images_.sms); }
    channel::FileDescription describeExtra() {
        return {selection(images_.extra), info(images_.extra)};
    }

  private:
    const StoreImages& images_;
};

// The checks, in their order; nothing is written by any of them.
template <typename Stores>
StoreCheck checkStores(Stores& stores, const HeadCounts& heads) {
    StoreCheck check;
    const auto refuse = [&check](int code) {
        check.outcome = code;
        return check;
    };
    // With messages for the extra store, the index's own size is learnt here:
    // a record without an index byte could be written but never read again.
    // Only a card that says a store is not there lacks it: any other failure
    // of these selections is a card failure, before anything is written.
    const channel::PathSelection indexSelected = stores.selectIndex();
    if (!indexSelected && !indexSelected.notFound()) {
        return refuse(outcome::kResponseFailed);
    }
    check.hasIndex = indexSelected.selected();
    if (!check.hasIndex && heads.ems > 0) {
        return refuse(outcome::kNoRoom);
    }
    std::optional<std::size_t> indexSize;
    if (check.hasIndex && heads.extra() > 0) {
        indexSize = stores.indexSize();
        if (!indexSize) {
            return refuse(outcome::kResponseFailed);
        }
    }
    const channel::PathSelection extraSelected = stores.selectExtra();
    if (!extraSelected && !extraSelected.notFound()) {
        return refuse(outcome::kResponseFailed);
    }
    const bool hasExtraFile = extraSelected.selected();
    if (!hasExtraFile && heads.lms > 0) {
        return refuse(outcome::kNoRoom);
    }
    const auto messageFile = stores.describeSms();
    if (!messageFile) {
        return refuse(outcome::kResponseFailed);
    }
    if (heads.cms > 0 && !store::hasMessageRecords(*messageFile)) {
        return refuse(outcome::kWriteFailed);
    }
    if (heads.cms > store::addressableRecords(*messageFile)) {
        return refuse(outcome::kNoRoom);
    }
    const channel::FileDescription extraFile = stores.describeExtra();
    if (!extraFile.path) {
        if (heads.extra() > 0) {
            return refuse(hasExtraFile ? outcome::kExtraFileLost : outcome::kNoRoom);
        }
        return check;
    }
    const auto& extra = extraFile.info;
    if (!extra) {
        return refuse(outcome::kResponseFailed);
    }
    if (heads.extra() > 0 && !store::hasMessageRecords(*extra)) {
        return refuse(outcome::kWriteFailed);
    }
    check.indexLength = store::recordsInFile(*extra);
    check.extraRecords = store::addressableRecords(*extra);
    if (indexSize && *indexSize < check.indexLength) {
        check.indexLength = *indexSize;
        check.extraRecords =
            std::min<std::uint32_t>(check.extraRecords, static_cast<std::uint32_t>(*indexSize));
    }
    if (heads.extra() > check.extraRecords) {
        return refuse(outcome::kNoRoom);
    }
    return check;
}

// Writes the elements of one kind to consecutive records of the selected
// store. A failed SELECT leaves the card's previous file current, so a
// selection that fails stops the write rather than letting a record land in
// another store.
class RecordWriter {
  public:
    RecordWriter(channel::CardChannel& channel, ByteView stream, std::int32_t count)
        : channel_(channel), stream_(stream), count_(count) {}

    int write(MessageKind kind, store::OpenPath reopenBeforeEach, std::uint32_t& nextRecord) {
        return walkElements(stream_, count_, kind, [&](ByteView element) {
            if (reopenBeforeEach != nullptr && !store::open(reopenBeforeEach, channel_)) {
                return outcome::kWriteFailed;
            }
            if (!store::updateMessageRecord(channel_, nextRecord, decoder_.decode(element))) {
                return outcome::kWriteFailed;
            }
            ++nextRecord;
            return outcome::kOk;
        });
    }

  private:
    channel::CardChannel& channel_;
    ByteView stream_;
    std::int32_t count_;
    ElementDecoder decoder_;
};

// The index marks the records just written, and nothing else: records after
// them keep their bytes but are no longer messages.
void markIndex(Bytes& index, std::uint32_t lmsRecords, std::uint32_t extraRecords) {
    std::fill(index.begin(), index.end(), 0);
    std::fill_n(index.data(), lmsRecords, kIndexLms);
    std::fill(index.data() + lmsRecords, index.data() + extraRecords, kIndexEms);
}

}  // namespace

int SmsCodec::WriteMessages(std::int32_t count, std::int32_t length, const std::uint8_t* stream,
                            channel::CardChannel& channel) {
    const ByteView data =
        length > 0 ? ByteView(stream, static_cast<std::size_t>(length)) : ByteView();
    const HeadCounts heads = countHeads(data);
    if (!storesOnlyHexText(data, count)) {
        return outcome::kBadStream;
    }
    CardStores stores(channel);
    const StoreCheck check = checkStores(stores, heads);
    if (check.outcome != outcome::kOk) {
        return check.outcome;
    }

    RecordWriter writer(channel, data, count);
    if (!store::open(channel::OpenMessageFile, channel)) {
        return outcome::kWriteFailed;
    }
    std::uint32_t nextMessageRecord = 0;
    if (const int result = writer.write(MessageKind::kCms, nullptr, nextMessageRecord);
        result != outcome::kOk) {
        return result;
    }
    if (heads.extra() == 0) {
        return outcome::kOk;  // the extra message file and its index stay as they are
    }

    Bytes index;
    Bytes indexAsRead;
    try {
        index.resize(check.indexLength);
        indexAsRead.resize(check.indexLength);
    } catch (const std::bad_alloc&) {
        return outcome::kNoMemory;
    }
    if (!store::open(channel::OpenExtraMessageFile, channel)) {
        return outcome::kWriteFailed;
    }
    std::uint32_t nextExtraRecord = 0;
    if (const int result =
            writer.write(MessageKind::kLms, channel::OpenExtraMessageFile, nextExtraRecord);
        result != outcome::kOk) {
        return result;
    }
    const std::uint32_t lmsWritten = nextExtraRecord;

    if (!store::open(channel::OpenExtraMessageIndex, channel)) {
        // Without an index there were no EMS elements; an index that has
        // gone since the checks cannot be brought up to date.
        return check.hasIndex ? outcome::kWriteFailed : outcome::kOk;
    }
    // The established command sequence reads the index once before
    // rewriting it; its content is not needed.
    if (!channel.readTransparent(indexAsRead.data(), indexAsRead.size())) {
        return outcome::kWriteFailed;
    }
    if (!store::open(channel::OpenExtraMessageFile, channel)) {
        return outcome::kWriteFailed;
    }
    if (const int result =
            writer.write(MessageKind::kEms, channel::OpenExtraMessageFile, nextExtraRecord);
        result != outcome::kOk) {
        return result;
    }

    if (!store::open(channel::OpenExtraMessageIndex, channel)) {
        return outcome::kWriteFailed;
    }
    markIndex(index, lmsWritten, nextExtraRecord);
    if (!channel.updateTransparent(index.data(), index.size())) {
        return outcome::kWriteFailed;
    }
    return outcome::kOk;
}

int SmsCodec::WriteMessageImages(std::int32_t count, ByteView data, StoreImages& images) {
    const HeadCounts heads = countHeads(data);
    if (!storesOnlyHexText(data, count)) {
        return outcome::kBadStream;
    }
    ImageStores stores(images);
    const StoreCheck check = checkStores(stores, heads);
    if (check.outcome != outcome::kOk) {
        return check.outcome;
    }
    // The records WriteMessages would update, in the same order.
    ElementDecoder decoder;
    const auto place = [&](StoreImage& image, MessageKind kind, std::uint32_t& next) {
        return walkElements(data, count, kind, [&](ByteView element) {
            const std::size_t offset = static_cast<std::size_t>(next) * image.recordLength;
            if (next >= kMaxAddressableRecords || image.recordLength != kRecordLength ||
                offset + kRecordLength > image.data.size()) {
                return outcome::kWriteFailed;
            }
            std::memcpy(image.data.data() + offset, decoder.decode(element), kRecordLength);
            ++next;
            return outcome::kOk;
        });
    };
    std::uint32_t nextMessageRecord = 0;
    if (const int result = place(images.sms, MessageKind::kCms, nextMessageRecord);
        result != outcome::kOk) {
        return result;
    }
    if (heads.extra() == 0) {
        return outcome::kOk;  // the extra message file and its index stay as they are
    }
    std::uint32_t nextExtraRecord = 0;
    if (const int result = place(images.extra, MessageKind::kLms, nextExtraRecord);
        result != outcome::kOk) {
        return result;
    }
    const std::uint32_t lmsWritten = nextExtraRecord;
    if (!check.hasIndex) {
        return outcome::kOk;
    }
    if (const int result = place(images.extra, MessageKind::kEms, nextExtraRecord);
        result != outcome::kOk) {
        return result;
    }
    if (images.index.data.size() < check.indexLength) {
        return outcome::kWriteFailed;
    }
    Bytes index(check.indexLength);
    markIndex(index, lmsWritten, nextExtraRecord);
    std::copy(index.begin(), index.end(), images.index.data.begin());
    return outcome::kOk;
}

}  // namespace zrn::sms
