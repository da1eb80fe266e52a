// Reading the extended phone book: the group file into GRP elements, the
// name, number and ADI files into images, the images into NCD elements.
#include <algorithm>
#include <array>
#include <span>
#include <string>

#include "channel/file_map.h"
#include "phonebook/bcd_codec.h"
#include "phonebook/extended_files.h"
#include "phonebook/extended_layout.h"
#include "results/result_codes.h"

namespace zrn::phonebook {

using channel::CardChannel;
using channel::FileInfo;
using namespace extended;

namespace {

constexpr std::uint8_t kFreshImageByte = 0xFF;
constexpr std::uint8_t kErasedLength = 0xFF;

std::optional<FileInfo> describe(CardChannel& channel, const channel::CardFile& file,
                                 const PhonebookGeometry& geometry) {
    return channel::DescribeFile(channel, file, geometry.phonebookDirectory).info;
}

// A transparent file read whole; a piece that comes back short fails it.
bool loadTransparentFile(CardChannel& channel, const channel::CardFile& file,
                         const PhonebookGeometry& geometry, Bytes& image) {
    const auto info = describe(channel, file, geometry);
    if (!info) {
        return false;
    }
    image.assign(info->fileSize, kFreshImageByte);
    return channel.readTransparent(image.data(), image.size()).complete;
}

// ---- Contact building ----------------------------------------------------

// Items grouped into buckets, each bucket in the order the items were
// visited: a counting sort, one pass to count and one to place.
class Buckets {
  public:
    // `visit(onItem)` calls onItem(bucket, item) for every item, the same way
    // both times it is called.
    template <typename Visit>
    Buckets(std::size_t bucketCount, Visit visit) : start_(bucketCount + 1, 0) {
        visit([&](std::size_t bucket, std::size_t) { ++start_[bucket + 1]; });
        for (std::size_t b = 1; b < start_.size(); ++b) {
            start_[b] += start_[b - 1];
        }
        items_.resize(start_.back());
        std::vector<std::size_t> next(start_.begin(), start_.end() - 1);
        visit([&](std::size_t bucket, std::size_t item) { items_[next[bucket]++] = item; });
    }

    std::span<const std::size_t> of(std::size_t bucket) const {
        return {items_.data() + start_[bucket], start_[bucket + 1] - start_[bucket]};
    }

  private:
    std::vector<std::size_t> start_;
    std::vector<std::size_t> items_;
};

// ADN slots hold code 4 only; the other region holds codes 1, 2, 3 and 5.
std::optional<std::size_t> numberKindOf(std::uint8_t code, bool inAdnRegion) {
    for (std::size_t k = 0; k < kNumberKinds.size(); ++k) {
        if (kNumberKinds[k].typeCode == code && kNumberKinds[k].adnRegion == inAdnRegion) {
            return k;
        }
    }
    return std::nullopt;
}

// Number slots by contact index and number kind, in slot order, so that
// building every contact costs one pass over the number file.
Buckets indexNumbers(const PhonebookGeometry& geometry, const Bytes& numbers,
                     std::size_t contacts) {
    const std::size_t slotLength = asSize(geometry.numberSlotLength);
    const std::size_t slotCount =
        slotLength <= kNumberTypeByte ? 0 : wholeSlots(numbers.size(), slotLength);
    // Slots 0 to adnCount - 1 form the ADN region, the slots after it up to
    // numberSlotCount - 1 the region of the other kinds.
    const std::size_t adnEnd = std::min(asSize(geometry.adnCount), slotCount);
    const std::size_t otherEnd = std::min(asSize(geometry.numberSlotCount), slotCount);
    return Buckets(contacts * kNumberKinds.size(), [&](auto&& onSlot) {
        for (std::size_t slot = 0; slot < std::max(adnEnd, otherEnd); ++slot) {
            const std::uint8_t* p = numbers.data() + slot * slotLength;
            const std::size_t contact = readBe16(p);
            const auto kind = numberKindOf(typeCodeOf(p[kNumberTypeByte]), slot < adnEnd);
            if (contact >= 1 && contact <= contacts && kind) {
                onSlot((contact - 1) * kNumberKinds.size() + *kind, slot);
            }
        }
    });
}

// ADI entries by contact index, in entry order.
Buckets indexAdiEntries(const PhonebookGeometry& geometry, const Bytes& adi, std::size_t contacts) {
    const std::size_t entryLength = asSize(geometry.adiRecordLength);
    const std::size_t entries =
        entryLength < kAdiTextOffset ? 0 : wholeSlots(adi.size(), entryLength);
    return Buckets(contacts, [&](auto&& onEntry) {
        for (std::size_t e = 0; e < entries; ++e) {
            const std::size_t contact = readBe16(adi.data() + e * entryLength);
            if (contact >= 1 && contact <= contacts) {
                onEntry(contact - 1, e);
            }
        }
    });
}

class ContactBuilder {
  public:
    ContactBuilder(const PhonebookGeometry& geometry, const ExtendedImages& images,
                   std::vector<std::size_t>* numberSlots)
        : geometry_(geometry),
          images_(images),
          numberSlots_(numberSlots),
          nameSlotLength_(asSize(geometry.nameSlotLength)),
          contactSlots_(
              std::min(asSize(geometry.nameSlotCount),
                       nameSlotLength_ < 2 ? 0 : wholeSlots(images.names.size(), nameSlotLength_))),
          numbers_(indexNumbers(geometry, images.numbers, contactSlots_)),
          adi_(indexAdiEntries(geometry, images.adi, contactSlots_)) {}

    std::int32_t build(Bytes& contacts) {
        std::int32_t count = 0;
        for (std::size_t m = 1; m <= contactSlots_; ++m) {
            const std::uint8_t* slot = nameSlot(m);
            if (isFree(slot)) {
                continue;
            }
            ++count;
            appendContact(m, slot);
        }
        if (out_.size() == 0) {
            out_.appendEmpty(tag::kNcd);
        }
        contacts = out_.take();
        return count;
    }

  private:
    const std::uint8_t* nameSlot(std::size_t m) const {
        return images_.names.data() + (m - 1) * nameSlotLength_;
    }

    static bool isFree(const std::uint8_t* slot) {
        return slot[1] == kFreeNameByte || (slot[1] & kNameLengthMask) == 0;
    }

    void appendContact(std::size_t m, const std::uint8_t* slot) {
        const std::size_t head = out_.openElement(tag::kNcd);
        appendName(slot);
        appendNumbers(m);
        appendAdiElements(m);
        out_.appendElement(tag::kGpi, groupDigits(groupsOfNameSlot(slot[0], slot[1])));
        out_.closeElement(head);
    }

    void appendName(const std::uint8_t* slot) {
        const std::size_t room =
            nameSlotLength_ > kNameTextOffset ? nameSlotLength_ - kNameTextOffset : 0;
        const std::size_t length = std::min<std::size_t>(slot[1] & kNameLengthMask, room);
        const std::uint8_t* text = slot + kNameTextOffset;
        if ((slot[1] & kNameLengthMask) == 1 && length == 1 && text[0] == kPlaceholderName) {
            out_.appendEmpty(tag::kNmt);
            return;
        }
        out_.appendText(tag::kNmt, {text, length}, (slot[1] & kNameUcs2Flag) != 0);
    }

    void appendNumbers(std::size_t m) {
        const std::size_t slotLength = asSize(geometry_.numberSlotLength);
        const std::size_t room = slotLength > kNumberBcdOffset ? slotLength - kNumberBcdOffset : 0;
        for (std::size_t kind = 0; kind < kNumberKinds.size(); ++kind) {
            for (std::size_t s : numbers_.of((m - 1) * kNumberKinds.size() + kind)) {
                const std::uint8_t* p = images_.numbers.data() + s * slotLength;
                const std::size_t stored = p[kNumberTypeByte] & kNumberLengthMask;
                const std::size_t bcdBytes = std::min(stored > 0 ? stored - 1 : 0, room);
                std::string digits;
                DecodeBcd(p + kNumberBcdOffset, static_cast<std::int32_t>(bcdBytes), digits);
                out_.appendElement(
                    kNumberKinds[kind].tag,
                    {reinterpret_cast<const std::uint8_t*>(digits.data()), digits.size()});
                out_.appendEmpty(tag::kGpi);
                if (numberSlots_ != nullptr) {
                    numberSlots_->push_back(s);
                }
            }
        }
    }

    void appendAdiEntry(std::size_t e) {
        const std::size_t entryLength = asSize(geometry_.adiRecordLength);
        const std::uint8_t* p = images_.adi.data() + e * entryLength;
        const std::size_t length =
            std::min<std::size_t>(p[kAdiHeadByte] & kAdiLengthMask, entryLength - kAdiTextOffset);
        out_.appendText(tag::kAdi, {p + kAdiTextOffset, length},
                        (p[kAdiHeadByte] & kAdiUcs2Flag) != 0);
    }

    int kindOfEntry(std::size_t e) const {
        const std::uint8_t head = images_.adi[e * asSize(geometry_.adiRecordLength) + kAdiHeadByte];
        return (head & kAdiKindFlag) != 0 ? 1 : 0;
    }

    // Adds the contact's entries of `kind`, in entry order, while fewer than
    // two ADI elements are written.
    void searchAdi(std::size_t m, int kind, int& taken) {
        for (std::size_t e : adi_.of(m - 1)) {
            if (taken >= 2) {
                return;
            }
            if (kindOfEntry(e) == kind) {
                appendAdiEntry(e);
                ++taken;
            }
        }
    }

    void appendAdiElements(std::size_t m) {
        const std::uint8_t flags = geometry_.adiTypeFlags;
        int taken = 0;
        if (geometry_.adiCount != 0) {
            if (const auto first = firstAdiKind(flags)) {
                searchAdi(m, *first, taken);
            }
        }
        if (taken == 0) {
            out_.appendEmpty(tag::kAdi);
            taken = 1;
        }
        if (geometry_.adiCount != 0 && hasSecondAdiSearch(flags)) {
            if (const auto second = secondAdiKind(flags)) {
                searchAdi(m, *second, taken);
            }
        }
        if (taken == 1) {
            out_.appendEmpty(tag::kAdi);
        }
    }

    const PhonebookGeometry& geometry_;
    const ExtendedImages& images_;
    std::vector<std::size_t>* numberSlots_;
    std::size_t nameSlotLength_;
    std::size_t contactSlots_;
    Buckets numbers_;
    Buckets adi_;
    StreamBuilder out_;
};

}  // namespace

void AppendGroupElement(StreamBuilder& out, const std::uint8_t* record, std::size_t received) {
    // An erased record (length byte FF) holds no name; any other length is
    // held to the record.
    const std::size_t length = received == 0 || record[0] == kErasedLength
                                   ? 0
                                   : std::min<std::size_t>(record[0], received - 1u);
    out.appendElement(tag::kGrp, {record + 1, length});
}

bool ReadGroupList(CardChannel& channel, const PhonebookGeometry& geometry, Bytes& groupList) {
    const std::size_t groupCount = std::min(asSize(geometry.groupCount), kMaxRecords);
    const auto info = describe(channel, channel::files::kGroup, geometry);
    StreamBuilder out;
    if (!info) {
        // A card without groups needs no group file.
        groupList.clear();
        return groupCount == 0;
    }
    std::array<std::uint8_t, kMaxCommandData> record{};
    for (std::size_t r = 0; r < groupCount; ++r) {
        std::uint8_t received = 0;
        if (!channel.ReadRecord(static_cast<std::uint8_t>(r), record.data(), info->recordLength,
                                &received)) {
            return false;
        }
        AppendGroupElement(out, record.data(), received);
    }
    groupList = out.take();
    return true;
}

bool LoadNameFile(CardChannel& channel, const PhonebookGeometry& geometry, Bytes& image) {
    return loadTransparentFile(channel, channel::files::kName, geometry, image);
}

bool LoadNumberFile(CardChannel& channel, const PhonebookGeometry& geometry, Bytes& image) {
    return loadTransparentFile(channel, channel::files::kNumber, geometry, image);
}

bool LoadAdiFile(CardChannel& channel, const PhonebookGeometry& geometry, Bytes& image) {
    const auto info = describe(channel, channel::files::kAdi, geometry);
    if (!info) {
        return false;
    }
    const std::size_t entries = std::min(asSize(geometry.adiCount), kMaxRecords);
    const std::size_t entryLength = asSize(geometry.adiRecordLength);
    image.assign(entries * entryLength, kFreshImageByte);
    // The card's record may be longer than the entry the configuration gives:
    // it is read whole, as the card has it, and cut to the entry.
    std::array<std::uint8_t, kMaxCommandData> record{};
    for (std::size_t e = 0; e < entries; ++e) {
        std::uint8_t received = 0;
        if (!channel.ReadRecord(static_cast<std::uint8_t>(e), record.data(), info->recordLength,
                                &received) ||
            received != info->recordLength) {
            return false;
        }
        std::copy_n(record.begin(), std::min<std::size_t>(received, entryLength),
                    image.begin() + static_cast<std::ptrdiff_t>(e * entryLength));
    }
    return true;
}

std::int32_t BuildExtendedContacts(const PhonebookGeometry& geometry, const ExtendedImages& images,
                                   Bytes& contacts, std::vector<std::size_t>* numberSlots) {
    return ContactBuilder(geometry, images, numberSlots).build(contacts);
}

ExtendedRead readExtendedPhonebook(CardChannel& channel, const PhonebookGeometry& geometry) {
    ExtendedRead read;
    ExtendedImages images;
    if (!ReadGroupList(channel, geometry, read.groups) ||
        !LoadNameFile(channel, geometry, images.names) ||
        !LoadNumberFile(channel, geometry, images.numbers) ||
        (geometry.adiCount != 0 && !LoadAdiFile(channel, geometry, images.adi))) {
        read.result = result::kCardError;
        read.groups.clear();
        return read;
    }
    read.contactCount = BuildExtendedContacts(geometry, images, read.contacts);
    return read;
}

}  // namespace zrn::phonebook
