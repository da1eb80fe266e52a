// Writing the extended phone book: the whole stream is parsed into images of
// the name, number and ADI files before the first card file is changed; then
// the group file, the name file, the number file and the ADI file are
// rewritten in that order.
#include <algorithm>
#include <new>
#include <optional>
#include <string>

#include "channel/file_map.h"
#include "phonebook/bcd_codec.h"
#include "phonebook/extended_files.h"
#include "phonebook/extended_layout.h"
#include "phonebook/phonebook.h"
#include "results/result_codes.h"

namespace zrn::phonebook {

using channel::CardChannel;
using namespace extended;

namespace {

// The 5-bit length of a number slot counts the BCD bytes plus one: at most 30
// BCD bytes, 60 digits.
constexpr std::size_t kMaxNumberDigits = 60;
constexpr std::size_t kMaxNameLength = kNameLengthMask;
constexpr std::size_t kMaxAdiText = kAdiLengthMask;
constexpr std::uint8_t kClearedGroupName = 0xFF;

std::size_t adiEntryCount(const PhonebookGeometry& geometry) {
    return std::min(asSize(geometry.adiCount), kMaxRecords);
}

std::optional<Bytes> zeroImage(std::size_t size) {
    try {
        return Bytes(size, 0x00);
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

// The ADI kind of the first and the second ADI element of a contact: the
// kinds that the reader's first and second searches look for, so that what is
// written reads back in the same places.
int adiKindForOrdinal(std::uint8_t optionFlags, int ordinal) {
    const auto first = firstAdiKind(optionFlags);
    const auto second = secondAdiKind(optionFlags);
    const auto kind = ordinal == 0 ? (first ? first : second) : (second ? second : first);
    return kind.value_or(0);
}

// Parses the contacts part of a stream into the images.
class ImageBuilder {
  public:
    ImageBuilder(ByteView contacts, const PhonebookGeometry& geometry, ExtendedImages& images,
                 std::vector<std::size_t>* numberSlots)
        : in_(contacts),
          geometry_(geometry),
          images_(images),
          numberSlots_(numberSlots),
          nameSlotLength_(asSize(geometry.nameSlotLength)),
          numberSlotLength_(asSize(geometry.numberSlotLength)),
          adiEntryLength_(asSize(geometry.adiRecordLength)) {
        // A name slot needs its two head bytes, the two unused ones and room
        // for at least the one-space placeholder.
        const std::size_t nameSlots = nameSlotLength_ <= kNameTextOffset
                                          ? 0
                                          : wholeSlots(images.names.size(), nameSlotLength_);
        contactCapacity_ = std::min(asSize(geometry.nameSlotCount), nameSlots);
        const std::size_t slotsInFile = wholeSlots(images.numbers.size(), numberSlotLength_);
        adnEnd_ = std::min(asSize(geometry.adnCount), slotsInFile);
        otherEnd_ = std::min(asSize(geometry.numberSlotCount), slotsInFile);
        nextOther_ = asSize(geometry.adnCount);
        adiEntries_ =
            std::min(adiEntryCount(geometry), wholeSlots(images.adi.size(), adiEntryLength_));
    }

    std::int32_t run() {
        while (!in_.atEnd()) {
            if (!in_.at(tag::kNcd)) {
                return result::kNotAContact;
            }
            const bool empty = in_.head().allLengthBytesZero();
            in_.skipHead();
            if (empty) {
                continue;
            }
            if (const std::int32_t refusal = takeContact(); refusal != result::kOk) {
                return refusal;
            }
        }
        return result::kOk;
    }

  private:
    std::int32_t takeContact() {
        if (in_.headFit() == HeadFit::kTruncated) {
            return result::kContactNotClosed;
        }
        if (!in_.at(tag::kNmt) || in_.head().lengthByte() > nameSlotLength_) {
            return result::kNoName;
        }
        if (made_ == contactCapacity_) {
            return result::kTooManyContacts;
        }
        if (!in_.valueFits()) {
            return result::kContactNotClosed;
        }
        const std::size_t contact = ++made_;
        std::uint8_t* slot = images_.names.data() + (contact - 1) * nameSlotLength_;
        fillNameSlot(slot, in_.value());
        in_.skipElement();
        for (const NumberKind& kind : kNumberKinds) {
            while (in_.at(kind.tag)) {
                if (const std::int32_t refusal = takeNumber(kind, contact);
                    refusal != result::kOk) {
                    return refusal;
                }
            }
        }
        if (const std::int32_t refusal = takeAdiElements(contact); refusal != result::kOk) {
            return refusal;
        }
        if (!in_.at(tag::kGpi) || !in_.valueFits()) {
            return result::kContactNotClosed;
        }
        setNameSlotGroups(parseGroupDigits(in_.value()), slot[0], slot[1]);
        in_.skipElement();
        return result::kOk;
    }

    void fillNameSlot(std::uint8_t* slot, ByteView name) const {
        const std::size_t room = std::min(nameSlotLength_ - kNameTextOffset, kMaxNameLength);
        std::uint8_t* text = slot + kNameTextOffset;
        if (name.empty()) {
            text[0] = kPlaceholderName;
            slot[1] = 1;
            return;
        }
        const bool ucs2 = name[0] == kUcs2Marker;
        const ByteView stored = ucs2 ? name.subspan(1) : name;
        const std::size_t kept = std::min(stored.size(), room);
        std::copy_n(stored.begin(), kept, text);
        slot[1] = static_cast<std::uint8_t>(kept | (ucs2 ? kNameUcs2Flag : 0u));
    }

    std::int32_t takeNumber(const NumberKind& kind, std::size_t contact) {
        const ElementHead head = in_.head();
        const std::size_t digits = head.lengthByte();
        const std::size_t maxDigits =
            numberSlotLength_ > kNumberBcdOffset
                ? std::min(2 * (numberSlotLength_ - kNumberBcdOffset), kMaxNumberDigits)
                : 0;
        if (!head.upperLengthBytesZero() || digits == 0 || digits > maxDigits) {
            return kind.refusal;
        }
        std::size_t& next = kind.adnRegion ? nextAdn_ : nextOther_;
        if (next >= (kind.adnRegion ? adnEnd_ : otherEnd_)) {
            return kind.adnRegion ? result::kAdnRegionFull : kind.refusal;
        }
        if (!in_.valueFits()) {
            return result::kContactNotClosed;
        }
        std::string text;
        const ByteView value = in_.value();
        if (!NumberValueToText(value.data(), static_cast<std::uint32_t>(value.size()), text)) {
            throw std::bad_alloc();
        }
        std::uint8_t* slot = images_.numbers.data() + next * numberSlotLength_;
        writeBe16(slot, static_cast<std::uint16_t>(contact));
        slot[kNumberTypeByte] =
            static_cast<std::uint8_t>((kind.typeCode << 5) | ((digits + 1) / 2 + 1));
        slot[kNumberTonNpiByte] = kTonNpiInternationalIsdn;
        EncodeBcd(std::move(text), slot + kNumberBcdOffset);
        if (numberSlots_ != nullptr) {
            numberSlots_->push_back(next);
        }
        ++next;
        in_.skipElement();
        // The element after a number (ReadZRN's empty GPI) is passed over unread.
        if (!in_.valueFits()) {
            return result::kContactNotClosed;
        }
        in_.skipElement();
        return result::kOk;
    }

    std::int32_t takeAdiElements(std::size_t contact) {
        const std::size_t room = adiEntryLength_ > kAdiTextOffset
                                     ? std::min(adiEntryLength_ - kAdiTextOffset, kMaxAdiText)
                                     : 0;
        for (int ordinal = 0; in_.at(tag::kAdi); ++ordinal) {
            if (!in_.head().upperLengthBytesZero()) {
                return result::kBadAdi;
            }
            if (!in_.valueFits()) {
                return result::kContactNotClosed;
            }
            const ByteView value = in_.value();
            const bool ucs2 = !value.empty() && value[0] == kUcs2Marker;
            const ByteView text = ucs2 ? value.subspan(1) : value;
            if (text.size() > room) {
                return result::kBadAdi;
            }
            if (!value.empty()) {
                if (geometry_.adiCount == 0) {
                    return result::kNoAdiOnCard;
                }
                if (nextAdi_ == adiEntries_) {
                    return result::kAdiOverCapacity;
                }
                if (ordinal == 2) {
                    return result::kThirdAdi;
                }
                if (ordinal < 2) {
                    fillAdiEntry(contact, text, ucs2,
                                 adiKindForOrdinal(geometry_.adiTypeFlags, ordinal));
                }
            }
            in_.skipElement();
        }
        return result::kOk;
    }

    void fillAdiEntry(std::size_t contact, ByteView text, bool ucs2, int kind) {
        std::uint8_t* entry = images_.adi.data() + nextAdi_ * adiEntryLength_;
        writeBe16(entry, static_cast<std::uint16_t>(contact));
        entry[kAdiHeadByte] = static_cast<std::uint8_t>(text.size() | (ucs2 ? kAdiUcs2Flag : 0u) |
                                                        (kind != 0 ? kAdiKindFlag : 0u));
        std::copy(text.begin(), text.end(), entry + kAdiTextOffset);
        ++nextAdi_;
    }

    ElementReader in_;
    const PhonebookGeometry& geometry_;
    ExtendedImages& images_;
    std::vector<std::size_t>* numberSlots_;
    std::size_t nameSlotLength_;
    std::size_t numberSlotLength_;
    std::size_t adiEntryLength_;
    std::size_t contactCapacity_ = 0;
    std::size_t adnEnd_ = 0;
    std::size_t otherEnd_ = 0;
    std::size_t adiEntries_ = 0;
    std::size_t made_ = 0;
    std::size_t nextAdn_ = 0;
    std::size_t nextOther_ = 0;
    std::size_t nextAdi_ = 0;
};

// ---- Card files -------------------------------------------------------------

struct ImageRefusals {
    std::int32_t unselectable;
    std::int32_t responseFailed;
    std::int32_t noMemory;
};

std::int32_t makeImageForFile(CardChannel& channel, const channel::CardFile& file,
                              const PhonebookGeometry& geometry, const ImageRefusals& refusals,
                              Bytes& image) {
    const auto described = channel::DescribeFile(channel, file, geometry.phonebookDirectory);
    if (!described.path) {
        return refusals.unselectable;
    }
    if (!described.info) {
        return refusals.responseFailed;
    }
    auto fresh = zeroImage(described.info->fileSize);
    if (!fresh) {
        return refusals.noMemory;
    }
    image = std::move(*fresh);
    return result::kOk;
}

std::int32_t WriteGroupRecords(CardChannel& channel, const PhonebookGeometry& geometry,
                               const GroupTable& groups) {
    const std::size_t records = std::min(asSize(geometry.groupCount), kMaxRecords);
    std::uint8_t responseLength = 0;
    if (!channel::SelectGroupFile(channel, geometry.phonebookDirectory, responseLength)) {
        return records == 0 ? result::kOk : result::kCardError;
    }
    const auto recordLength = static_cast<std::uint8_t>(GroupRecordLength(geometry));
    Bytes record = GroupRecordBytes({}, recordLength);
    for (std::size_t r = 0; r < records; ++r) {
        if (!channel.UpdateRecord(static_cast<std::uint8_t>(r), record.data(), recordLength)) {
            return result::kCardError;
        }
    }
    // Names beyond the card's group records have no record to go to.
    for (std::size_t k = 0; k < std::min(groups.size(), records); ++k) {
        if (groups[k].empty()) {
            continue;
        }
        record = GroupRecordBytes(groups[k], recordLength);
        if (!channel.UpdateRecord(static_cast<std::uint8_t>(k), record.data(), recordLength)) {
            return result::kCardError;
        }
    }
    return result::kOk;
}

// The failures of writing back one transparent file.
struct WriteBackFailures {
    std::int32_t unselectable;
    std::int32_t responseFailed;
    std::int32_t fullPieceFailed;
    std::int32_t lastPieceFailed;
};
constexpr WriteBackFailures kNameWriteBack{
    result::kNameWriteUnselectable, result::kNameWriteResponseFailed,
    result::kNameWriteFullPieceFailed, result::kNameWriteLastPieceFailed};
constexpr WriteBackFailures kNumberWriteBack{
    result::kNumberWriteUnselectable, result::kNumberWriteResponseFailed,
    result::kNumberWriteFullPieceFailed, result::kNumberWriteLastPieceFailed};

std::int32_t writeTransparentFile(CardChannel& channel, const channel::CardFile& file,
                                  const PhonebookGeometry& geometry, const Bytes& image,
                                  const WriteBackFailures& failures) {
    const auto described = channel::DescribeFile(channel, file, geometry.phonebookDirectory);
    if (!described.path) {
        return failures.unselectable;
    }
    if (!described.info) {
        return failures.responseFailed;
    }
    // The image was made for the size the card reported before; never more
    // than the image is sent.
    const std::size_t size = std::min<std::size_t>(described.info->fileSize, image.size());
    const channel::Transfer written = channel.updateTransparent(image.data(), size);
    if (!written) {
        return written.failedPiece == kMaxCommandData ? failures.fullPieceFailed
                                                      : failures.lastPieceFailed;
    }
    return result::kOk;
}

std::int32_t WriteAdiRecords(CardChannel& channel, const PhonebookGeometry& geometry,
                             const Bytes& image) {
    const std::size_t entries = adiEntryCount(geometry);
    std::uint8_t responseLength = 0;
    if (!channel::SelectAdiFile(channel, geometry.phonebookDirectory, responseLength)) {
        return entries == 0 ? result::kOk : result::kCardError;
    }
    const std::size_t entryLength = asSize(geometry.adiRecordLength);
    for (std::size_t e = 0; e < entries; ++e) {
        if (!channel.UpdateRecord(static_cast<std::uint8_t>(e), image.data() + e * entryLength,
                                  static_cast<std::uint8_t>(entryLength))) {
            return result::kCardError;
        }
    }
    return result::kOk;
}

}  // namespace

namespace {

// The names collected must fit the group table (one byte holds the total of
// its entries, length bytes included) and must read back within the 300-byte
// group list ReadZRN hands the host (a head of 8 bytes per group record plus
// the names). A name that would overflow either is cut to the room left, so
// that a phone book written can always be read again.
class GroupNameBudget {
  public:
    explicit GroupNameBudget(const PhonebookGeometry& geometry) {
        const std::size_t heads = 8 * asSize(geometry.groupCount);
        listRoom_ = heads < kGroupListLimit ? kGroupListLimit - heads : 0;
    }

    std::size_t take(std::size_t wanted) {
        const std::size_t tableRoom = tableRoom_ > 0 ? tableRoom_ - 1 : 0;
        const std::size_t granted = std::min({wanted, tableRoom, listRoom_});
        tableRoom_ -= std::min<std::size_t>(tableRoom_, granted + 1);
        listRoom_ -= granted;
        return granted;
    }

  private:
    std::size_t tableRoom_ = 255;
    std::size_t listRoom_ = 0;
};

}  // namespace

std::size_t CollectGroups(ByteView stream, const PhonebookGeometry& geometry, GroupTable& groups,
                          std::int32_t& refusal) {
    constexpr std::size_t kCollected = 8;  // the name slot has eight group bits
    groups.clear();
    refusal = result::kOk;
    GroupNameBudget budget(geometry);
    ElementReader in(stream);
    for (std::size_t seen = 0; in.at(tag::kGrp); ++seen) {
        if (!in.valueFits()) {
            refusal = result::kNotAContact;
            return in.position();
        }
        const ElementHead head = in.head();
        if (seen < kCollected && head.upperLengthBytesZero() &&
            head.lengthByte() <= asSize(geometry.groupNameLength)) {
            const ByteView name = in.value().first(budget.take(in.value().size()));
            groups.emplace_back(name.begin(), name.end());
        }
        in.skipElement();
    }
    return in.position();
}

std::int32_t BuildPhonebookImages(ByteView contacts, const PhonebookGeometry& geometry,
                                  ExtendedImages& images, std::vector<std::size_t>* numberSlots) {
    return ImageBuilder(contacts, geometry, images, numberSlots).run();
}

std::size_t GroupRecordLength(const PhonebookGeometry& geometry) {
    return std::min<std::size_t>(asSize(geometry.groupNameLength) + 1, kMaxCommandData);
}

Bytes GroupRecordBytes(ByteView name, std::size_t recordLength) {
    Bytes record(recordLength, kClearedGroupName);
    if (recordLength == 0) {
        return record;
    }
    const std::size_t length = std::min<std::size_t>(name.size(), recordLength - 1u);
    record[0] = static_cast<std::uint8_t>(length);
    std::copy_n(name.begin(), length, record.begin() + 1);
    return record;
}

std::int32_t writeExtendedPhonebook(CardChannel& channel, const PhonebookGeometry& geometry,
                                    ByteView stream) {
    if (stream.empty()) {
        return result::kOk;
    }
    GroupTable groups;
    std::int32_t refusal = result::kOk;
    const std::size_t contactsStart = CollectGroups(stream, geometry, groups, refusal);
    if (refusal != result::kOk) {
        return refusal;
    }
    ExtendedImages images;
    if (const std::int32_t failed =
            makeImageForFile(channel, channel::files::kNumber, geometry,
                             {result::kNumberFileUnselectable, result::kNumberResponseFailed,
                              result::kNumberImageNoMemory},
                             images.numbers);
        failed != result::kOk) {
        return failed;
    }
    if (const std::int32_t failed =
            makeImageForFile(channel, channel::files::kName, geometry,
                             {result::kNameFileUnselectable, result::kNameResponseFailed,
                              result::kNameImageNoMemory},
                             images.names);
        failed != result::kOk) {
        return failed;
    }
    images.adi.assign(adiEntryCount(geometry) * asSize(geometry.adiRecordLength), 0x00);
    if (const std::int32_t refused =
            BuildPhonebookImages(stream.subspan(contactsStart), geometry, images);
        refused != result::kOk) {
        return refused;
    }
    if (const std::int32_t failed = WriteGroupRecords(channel, geometry, groups);
        failed != result::kOk) {
        return failed;
    }
    if (const std::int32_t failed = writeTransparentFile(channel, channel::files::kName, geometry,
                                                         images.names, kNameWriteBack);
        failed != result::kOk) {
        return failed;
    }
    if (const std::int32_t failed = writeTransparentFile(
            channel, channel::files::kNumber, geometry, images.numbers, kNumberWriteBack);
        failed != result::kOk) {
        return failed;
    }
    return WriteAdiRecords(channel, geometry, images.adi);
}

}  // namespace zrn::phonebook
