// Writing EF_ADN: every record cleared, then the stream's contacts one per
// record from record 1 on. The stream is checked whole first, so a refused
// stream leaves the card as it was.
#include <algorithm>
#include <string>

#include "channel/file_map.h"
#include "phonebook/bcd_codec.h"
#include "phonebook/card_files.h"
#include "phonebook/element_stream.h"
#include "phonebook/standard_layout.h"
#include "results/result_codes.h"

namespace zrn::phonebook {

using channel::CardChannel;

namespace {

constexpr std::uint8_t kUnused = 0xFF;
constexpr std::uint8_t kTonNpiInternationalIsdn = 0x81;

// How much of a name the alpha field keeps: all of it when it fits, else the
// field's length, and a UCS-2 name (0x80 and two bytes per character) only
// whole characters.
std::size_t keptNameLength(ByteView name, std::size_t alphaLength) {
    if (name.size() <= alphaLength) {
        return name.size();
    }
    if (name[0] == kUcs2Marker && alphaLength > 0) {
        return 1 + (alphaLength - 1) / 2 * 2;
    }
    return alphaLength;
}

class RecordPlanner {
  public:
    RecordPlanner(ByteView stream, std::int32_t contactCount, std::size_t recordLength,
                  std::size_t recordCount, std::vector<Bytes>& records)
        : in_(stream),
          contactCount_(contactCount),
          recordLength_(recordLength),
          recordCount_(recordCount),
          records_(records) {}

    std::int32_t run() {
        records_.clear();
        while (true) {
            if (!in_.at(tag::kNcd)) {
                return result::kNotAContact;
            }
            const bool empty = in_.head().allLengthBytesZero();
            in_.skipHead();
            Bytes record(recordLength_, kUnused);
            if (!empty) {
                if (const std::int32_t refusal = fillRecord(record); refusal != result::kOk) {
                    return refusal;
                }
            }
            records_.push_back(std::move(record));
            if (contactCount_ > 0 && records_.size() == static_cast<std::size_t>(contactCount_)) {
                return result::kOk;
            }
            // Whatever else the contact holds is passed over up to the next NCD.
            while (!in_.atEnd() && !in_.at(tag::kNcd)) {
                if (!in_.valueFits()) {
                    return result::kContactNotClosed;
                }
                in_.skipElement();
            }
            if (in_.atEnd()) {
                return result::kOk;
            }
        }
    }

  private:
    // A contact without a leading NMT keeps its record blank.
    std::int32_t fillRecord(Bytes& record) {
        if (in_.headFit() == HeadFit::kTruncated) {
            return result::kContactNotClosed;
        }
        if (!in_.at(tag::kNmt)) {
            return result::kOk;
        }
        // The last record is never filled.
        if (records_.size() + 1 >= recordCount_) {
            return result::kTooManyContacts;
        }
        if (!in_.valueFits()) {
            return result::kContactNotClosed;
        }
        const ByteView name = in_.value();
        std::copy_n(name.begin(), keptNameLength(name, recordLength_ - kAdnTrailerLength),
                    record.begin());
        in_.skipElement();
        if (in_.headFit() == HeadFit::kTruncated) {
            return result::kContactNotClosed;
        }
        if (!in_.at(tag::kAdn)) {
            return result::kOk;
        }
        return takeNumber(record);
    }

    std::int32_t takeNumber(Bytes& record) {
        const ElementHead head = in_.head();
        if (!head.upperLengthBytesZero() || head.lengthByte() > kAdnMaxDigits) {
            return result::kBadAdn;
        }
        if (!in_.valueFits()) {
            return result::kContactNotClosed;
        }
        const ByteView value = in_.value();
        if (!value.empty()) {
            std::string text;
            if (!NumberValueToText(value.data(), static_cast<std::uint32_t>(value.size()), text)) {
                throw std::bad_alloc();
            }
            const std::size_t trailer = recordLength_ - kAdnTrailerLength;
            record[trailer] = static_cast<std::uint8_t>((value.size() + 1) / 2 + 1);
            record[trailer + 1] = kTonNpiInternationalIsdn;
            EncodeBcd(std::move(text), record.data() + trailer + 2);
        }
        in_.skipElement();
        // The element after the number (ReadZRN's empty GPI) is passed over unread.
        if (!in_.valueFits()) {
            return result::kContactNotClosed;
        }
        in_.skipElement();
        return result::kOk;
    }

    ElementReader in_;
    std::int32_t contactCount_;
    std::size_t recordLength_;
    std::size_t recordCount_;
    std::vector<Bytes>& records_;
};

}  // namespace

std::int32_t planStandardRecords(ByteView stream, std::int32_t contactCount,
                                 std::size_t recordLength, std::size_t recordCount,
                                 std::vector<Bytes>& records) {
    return RecordPlanner(stream, contactCount, recordLength, recordCount, records).run();
}

std::int32_t WriteStandardPhonebook(CardChannel& channel, ByteView stream,
                                    std::int32_t contactCount) {
    if (stream.empty()) {
        return result::kOk;
    }
    const auto info = channel::DescribeFile(channel, channel::files::kAdn).info;
    if (!info || info->recordLength < kAdnTrailerLength) {
        return result::kCardError;
    }
    const std::uint8_t recordLength = info->recordLength;
    const std::size_t recordCount = std::min<std::size_t>(info->recordCount(), kMaxRecords);
    std::vector<Bytes> records;
    if (const std::int32_t refusal =
            planStandardRecords(stream, contactCount, recordLength, recordCount, records);
        refusal != result::kOk) {
        return refusal;
    }
    const Bytes cleared(recordLength, kUnused);
    for (std::size_t r = 0; r < recordCount; ++r) {
        if (!channel.UpdateRecord(static_cast<std::uint8_t>(r), cleared.data(), recordLength)) {
            return result::kCardError;
        }
    }
    // Blank records past the end of the file are already what the clearing
    // left; there is no record to send them to.
    for (std::size_t r = 0; r < std::min(records.size(), recordCount); ++r) {
        if (!channel.UpdateRecord(static_cast<std::uint8_t>(r), records[r].data(), recordLength)) {
            return result::kCardError;
        }
    }
    return result::kOk;
}

}  // namespace zrn::phonebook
