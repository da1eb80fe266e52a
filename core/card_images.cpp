#include "core/card_images.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <unordered_map>

#include "phonebook/card_files.h"
#include "phonebook/element_stream.h"
#include "phonebook/extended_files.h"
#include "phonebook/extended_layout.h"
#include "phonebook/standard_layout.h"
#include "results/result_codes.h"
#include "sms/sms.h"

namespace zrn::images {

namespace files = channel::files;
using channel::CardChannel;
using channel::CardFile;

namespace {

constexpr std::uint8_t kFresh = 0xFF;
constexpr std::size_t kOptionFlagsByte = 4;
// EF_ADN: the TON/NPI byte follows the number length, 14 bytes from the end.
constexpr std::size_t kAdnTonNpiFromEnd = phonebook::kAdnTrailerLength - 1;
constexpr std::uint8_t kNoNumber = 0xFF;

std::string hexByte(std::uint8_t b) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", b);
    return text;
}

std::string fileLabel(const CardFile& file) {
    char id[5];
    std::snprintf(id, sizeof id, "%04X", file.id);
    return std::string(file.name) + " (" + id + ")";
}

Result<FileImage> readFile(CardChannel& channel, const CardFile& file,
                           std::uint16_t phonebookDirectory) {
    FileImage image;
    image.file = &file;
    if (file.parent == channel::Parent::kPhonebookDirectory && phonebookDirectory == 0) {
        return Result<FileImage>::ok(std::move(image));  // no phone-book directory: absent
    }
    const channel::FileDescription described =
        channel::DescribeFile(channel, file, phonebookDirectory);
    if (!described.path) {
        if (described.path.notFound()) {
            // A card that once says "not found" for a file it has would make
            // a backup without it: the answer must hold a second time.
            std::uint8_t responseLength = 0;
            const channel::PathSelection again =
                channel::SelectPath(channel, file, phonebookDirectory, responseLength);
            if (again.notFound()) {
                return Result<FileImage>::ok(std::move(image));
            }
            return Result<FileImage>::failed("the card answered two selections of " +
                                             fileLabel(file) + " differently");
        }
        return Result<FileImage>::failed("selecting " + fileLabel(file) +
                                         " failed: " + described.path.failure.describe());
    }
    if (!described.info) {
        return Result<FileImage>::failed("the card did not describe " + fileLabel(file) +
                                         " (GET RESPONSE failed)");
    }
    image.present = true;
    image.size = described.info->fileSize;
    if (file.structure != channel::FileStructure::kLinearFixed) {
        image.data.assign(image.size, kFresh);
        const channel::Transfer read = channel.readTransparent(image.data.data(), image.size);
        if (!read) {
            return Result<FileImage>::failed("reading " + fileLabel(file) +
                                             " failed: " + read.last.describe());
        }
        return Result<FileImage>::ok(std::move(image));
    }
    image.recordLength = described.info->recordLength;
    const std::size_t records =
        std::min<std::size_t>(described.info->recordCount(), phonebook::kMaxRecords);
    image.data.reserve(records * image.recordLength);
    for (std::size_t r = 0; r < records; ++r) {
        const channel::Response answer =
            channel.readRecord(static_cast<std::uint8_t>(r), image.recordLength);
        if (!answer.isOk() || answer.data().size() != image.recordLength) {
            return Result<FileImage>::failed(
                "reading record " + std::to_string(r + 1) + " of " + fileLabel(file) + " failed: " +
                (answer.isOk()
                     ? std::string("the card returned ") + std::to_string(answer.data().size()) +
                           " of " + std::to_string(image.recordLength) + " bytes"
                     : answer.status().describe()));
        }
        image.data.insert(image.data.end(), answer.data().begin(), answer.data().end());
    }
    return Result<FileImage>::ok(std::move(image));
}

}  // namespace

bool FileImage::linearFixed() const {
    return file != nullptr && file->structure == channel::FileStructure::kLinearFixed;
}

std::size_t FileImage::recordCount() const {
    return recordLength == 0 ? 0 : data.size() / recordLength;
}

ByteView FileImage::record(std::size_t index) const {
    return ByteView(data).subspan(index * recordLength, recordLength);
}

bool FileImage::sameShape(const FileImage& other) const {
    return present == other.present && size == other.size && recordLength == other.recordLength &&
           data.size() == other.data.size();
}

const FileImage* CardImages::find(std::uint16_t id) const {
    for (const FileImage& f : files) {
        if (f.file != nullptr && f.file->id == id) {
            return &f;
        }
    }
    return nullptr;
}

FileImage* CardImages::find(std::uint16_t id) {
    return const_cast<FileImage*>(static_cast<const CardImages&>(*this).find(id));
}

const FileImage* CardImages::present(std::uint16_t id) const {
    const FileImage* f = find(id);
    return f != nullptr && f->present ? f : nullptr;
}

std::vector<const CardFile*> filesOf(Parts parts) {
    std::vector<const CardFile*> list{&files::kIccid};
    if (parts.phonebook) {
        for (const CardFile* f : {&files::kConfig, &files::kOption, &files::kGroup, &files::kName,
                                  &files::kNumber, &files::kAdi, &files::kAdn}) {
            list.push_back(f);
        }
    }
    if (parts.messages) {
        for (const CardFile* f :
             {&files::kSms, &files::kExtraMessages, &files::kExtraMessageIndex}) {
            list.push_back(f);
        }
    }
    return list;
}

bool isWritable(const CardFile& file) {
    return file.id != files::kConfig.id && file.id != files::kOption.id &&
           file.id != files::kIccid.id;
}

Result<CardImages> readCardImages(CardChannel& channel, bool extended,
                                  std::uint16_t phonebookDirectory, Parts parts) {
    CardImages images;
    images.extended = extended;
    images.phonebookDirectory = phonebookDirectory;
    for (const CardFile* file : filesOf(parts)) {
        Result<FileImage> read = readFile(channel, *file, phonebookDirectory);
        if (!read) {
            return Result<CardImages>::failed(read.failure.what);
        }
        images.files.push_back(std::move(*read.value));
    }
    return Result<CardImages>::ok(std::move(images));
}

std::optional<std::string> disagreement(const CardImages& images,
                                        const PhonebookGeometry& geometry) {
    const FileImage* config = images.find(files::kConfig.id);
    if (config == nullptr) {
        return std::nullopt;  // the phone-book files were not read
    }
    if (!images.extended) {
        if (config->present) {
            return "the configuration file, absent when the session began, is now there";
        }
        return std::nullopt;
    }
    if (!config->present || config->data.size() < kConfigFileLength) {
        return "the configuration file of this extended-layout card could not be found";
    }
    std::uint8_t bytes[kConfigFileLength];
    std::copy_n(config->data.begin(), kConfigFileLength, bytes);
    PhonebookGeometry read = geometry;
    applyConfigFile(bytes, read);
    const bool same =
        read.nameSlotLength == geometry.nameSlotLength &&
        read.numberSlotLength == geometry.numberSlotLength && read.adnCount == geometry.adnCount &&
        read.nameSlotCount == geometry.nameSlotCount &&
        read.numberSlotCount == geometry.numberSlotCount &&
        read.groupCount == geometry.groupCount &&
        read.groupNameLength == geometry.groupNameLength && read.adiCount == geometry.adiCount &&
        read.adiRecordLength == geometry.adiRecordLength;
    if (!same) {
        return "the configuration file differs from the one read when the session began";
    }
    const FileImage* option = images.present(files::kOption.id);
    if (option == nullptr || option->data.size() <= kOptionFlagsByte ||
        option->data[kOptionFlagsByte] != geometry.adiTypeFlags) {
        return "the option file differs from the one read when the session began";
    }
    return std::nullopt;
}

// ---- The phone book from the images --------------------------------------

namespace {

Result<PhonebookRead> extendedFromImages(const CardImages& images,
                                         const PhonebookGeometry& geometry) {
    using namespace phonebook;
    PhonebookRead read;
    StreamBuilder groups;
    const std::size_t groupCount = std::min(asSize(geometry.groupCount), kMaxRecords);
    if (groupCount > 0) {
        const FileImage* g = images.present(files::kGroup.id);
        if (g == nullptr || g->recordCount() < groupCount) {
            return Result<PhonebookRead>::failed(
                "the group file holds fewer records than the configuration names (" +
                std::to_string(groupCount) + ")");
        }
        for (std::size_t r = 0; r < groupCount; ++r) {
            AppendGroupElement(groups, g->record(r).data(), g->recordLength);
        }
    }
    const FileImage* names = images.present(files::kName.id);
    const FileImage* numbers = images.present(files::kNumber.id);
    if (names == nullptr || numbers == nullptr) {
        return Result<PhonebookRead>::failed("the name or number file is missing");
    }
    ExtendedImages source;
    source.names = names->data;
    source.numbers = numbers->data;
    if (geometry.adiCount != 0) {
        const FileImage* adi = images.present(files::kAdi.id);
        const std::size_t entries = std::min(asSize(geometry.adiCount), kMaxRecords);
        const std::size_t entryLength = asSize(geometry.adiRecordLength);
        if (adi == nullptr || adi->recordCount() < entries) {
            return Result<PhonebookRead>::failed(
                "the ADI file holds fewer records than the configuration names (" +
                std::to_string(entries) + ")");
        }
        source.adi.assign(entries * entryLength, kFresh);
        for (std::size_t e = 0; e < entries; ++e) {
            const ByteView record = adi->record(e);
            std::copy_n(record.begin(), std::min(record.size(), entryLength),
                        source.adi.begin() + static_cast<std::ptrdiff_t>(e * entryLength));
        }
    }
    Bytes contacts;
    std::vector<std::size_t> slots;
    read.count = BuildExtendedContacts(geometry, source, contacts, &slots);
    const std::size_t slotLength = asSize(geometry.numberSlotLength);
    for (const std::size_t s : slots) {
        read.tonNpi.push_back(source.numbers[s * slotLength + extended::kNumberTonNpiByte]);
    }
    read.stream = groups.take();
    read.stream.insert(read.stream.end(), contacts.begin(), contacts.end());
    return Result<PhonebookRead>::ok(std::move(read));
}

Result<PhonebookRead> standardFromImages(const CardImages& images) {
    const FileImage* adn = images.present(files::kAdn.id);
    if (adn == nullptr || adn->recordLength < phonebook::kAdnTrailerLength) {
        return Result<PhonebookRead>::failed("EF_ADN is missing or its records are too short");
    }
    PhonebookRead read;
    std::vector<std::size_t> records;
    read.count = phonebook::BuildStandardContactsFromRecords(adn->data, adn->recordLength,
                                                             read.stream, &records);
    // One ADN element per contact.
    for (const std::size_t r : records) {
        read.tonNpi.push_back(adn->record(r)[adn->recordLength - kAdnTonNpiFromEnd]);
    }
    return Result<PhonebookRead>::ok(std::move(read));
}

}  // namespace

Result<PhonebookRead> phonebookFromImages(const CardImages& images,
                                          const PhonebookGeometry& geometry) {
    return images.extended ? extendedFromImages(images, geometry) : standardFromImages(images);
}

// ---- Target images ---------------------------------------------------------

namespace {

FileImage copyOf(const CardImages& current, const CardFile& file) {
    if (const FileImage* f = current.find(file.id)) {
        return *f;
    }
    FileImage absent;
    absent.file = &file;
    return absent;
}

PhonebookTarget refused(std::int32_t code) {
    PhonebookTarget t;
    t.refusal = code;
    return t;
}

PhonebookTarget extendedTarget(const CardImages& current, const PhonebookGeometry& geometry,
                               ByteView stream, const std::vector<bool>& international) {
    using namespace phonebook;
    PhonebookTarget target;
    target.images.extended = true;
    target.images.phonebookDirectory = current.phonebookDirectory;
    GroupTable groups;
    std::int32_t refusal = result::kOk;
    const std::size_t contactsStart = CollectGroups(stream, geometry, groups, refusal);
    if (refusal != result::kOk) {
        return refused(refusal);
    }
    FileImage names = copyOf(current, files::kName);
    FileImage numbers = copyOf(current, files::kNumber);
    if (!names.present || !numbers.present) {
        return refused(result::kCardError);
    }
    ExtendedImages made;
    made.names.assign(names.data.size(), 0x00);
    made.numbers.assign(numbers.data.size(), 0x00);
    const std::size_t entries = std::min(asSize(geometry.adiCount), kMaxRecords);
    const std::size_t entryLength = asSize(geometry.adiRecordLength);
    made.adi.assign(entries * entryLength, 0x00);
    std::vector<std::size_t> slots;
    if (const std::int32_t code =
            BuildPhonebookImages(stream.subspan(contactsStart), geometry, made, &slots);
        code != result::kOk) {
        return refused(code);
    }
    const std::size_t slotLength = asSize(geometry.numberSlotLength);
    for (std::size_t i = 0; i < slots.size() && i < international.size(); ++i) {
        if (international[i]) {
            made.numbers[slots[i] * slotLength + extended::kNumberTonNpiByte] = 0x91;
        }
    }
    const std::size_t groupRecords = std::min(asSize(geometry.groupCount), kMaxRecords);
    if (groupRecords > 0) {
        FileImage group = copyOf(current, files::kGroup);
        if (!group.present || group.recordCount() < groupRecords ||
            group.recordLength != GroupRecordLength(geometry)) {
            return refused(result::kCardError);
        }
        for (std::size_t r = 0; r < groupRecords; ++r) {
            const Bytes record = GroupRecordBytes(
                r < groups.size() ? ByteView(groups[r]) : ByteView(), group.recordLength);
            std::copy(record.begin(), record.end(),
                      group.data.begin() + static_cast<std::ptrdiff_t>(r * group.recordLength));
        }
        target.images.files.push_back(std::move(group));
    }
    names.data = std::move(made.names);
    numbers.data = std::move(made.numbers);
    target.images.files.push_back(std::move(names));
    target.images.files.push_back(std::move(numbers));
    if (entries > 0) {
        FileImage adi = copyOf(current, files::kAdi);
        if (!adi.present || adi.recordCount() < entries || adi.recordLength != entryLength) {
            return refused(result::kCardError);
        }
        std::copy(made.adi.begin(), made.adi.end(), adi.data.begin());
        target.images.files.push_back(std::move(adi));
    }
    return target;
}

PhonebookTarget standardTarget(const CardImages& current, ByteView stream, std::int32_t count,
                               const std::vector<bool>& international) {
    PhonebookTarget target;
    target.images.phonebookDirectory = current.phonebookDirectory;
    FileImage adn = copyOf(current, files::kAdn);
    if (!adn.present || adn.recordLength < phonebook::kAdnTrailerLength) {
        return refused(result::kCardError);
    }
    const std::size_t recordLength = adn.recordLength;
    const std::size_t recordCount = adn.recordCount();
    std::vector<Bytes> records;
    // An empty stream is an empty phone book: every record cleared.
    if (!stream.empty()) {
        if (const std::int32_t code =
                phonebook::planStandardRecords(stream, count, recordLength, recordCount, records);
            code != result::kOk) {
            return refused(code);
        }
    }
    std::fill(adn.data.begin(), adn.data.end(), kFresh);
    for (std::size_t r = 0; r < std::min(records.size(), recordCount); ++r) {
        Bytes& record = records[r];
        const std::size_t tonNpi = recordLength - kAdnTonNpiFromEnd;
        if (r < international.size() && international[r] && record[tonNpi] != kNoNumber) {
            record[tonNpi] = 0x91;
        }
        std::copy(record.begin(), record.end(),
                  adn.data.begin() + static_cast<std::ptrdiff_t>(r * recordLength));
    }
    target.images.files.push_back(std::move(adn));
    return target;
}

}  // namespace

PhonebookTarget packedPhonebookTarget(const CardImages& current, const PhonebookGeometry& geometry,
                                      ByteView stream, std::int32_t count,
                                      const std::vector<bool>& international) {
    return current.extended ? extendedTarget(current, geometry, stream, international)
                            : standardTarget(current, stream, count, international);
}

// ---- Keeping what is there ---------------------------------------------------

namespace {

bool isInternational(std::uint8_t tonNpi) {
    return ((tonNpi >> 4) & 0x07) == 0x01;  // type of number 001 (GSM 04.08 10.5.4.7)
}

// The extent of every contact of a stream (its NCD head up to the next one);
// empty NCD elements, which hold no contact, are left out. Nothing when the
// stream does not split so.
std::optional<std::vector<ByteView>> splitContacts(ByteView stream) {
    using namespace phonebook;
    std::vector<ByteView> contacts;
    ElementReader in(stream);
    while (!in.atEnd() && in.at(tag::kGrp)) {
        if (!in.valueFits()) {
            return std::nullopt;
        }
        in.skipElement();
    }
    while (!in.atEnd()) {
        if (!in.at(tag::kNcd)) {
            return std::nullopt;
        }
        const std::size_t start = in.position();
        const bool empty = in.head().allLengthBytesZero();
        in.skipHead();
        if (empty) {
            continue;
        }
        while (!in.atEnd() && !in.at(tag::kNcd)) {
            if (in.headFit() != HeadFit::kWhole || !in.valueFits()) {
                return std::nullopt;
            }
            in.skipElement();
        }
        contacts.push_back(stream.subspan(start, in.position() - start));
    }
    return contacts;
}

// The number elements of one contact.
std::size_t numbersOf(ByteView contact) {
    using namespace phonebook;
    ElementReader in(contact);
    in.skipHead();
    std::size_t numbers = 0;
    while (!in.atEnd()) {
        for (const extended::NumberKind& kind : extended::kNumberKinds) {
            numbers += in.at(kind.tag) ? 1u : 0u;
        }
        in.skipElement();
    }
    return numbers;
}

// Each contact's bytes with one byte per number: whether it is international.
std::optional<std::vector<Bytes>> contactKeys(ByteView stream,
                                              const std::vector<bool>& international,
                                              bool perNumber) {
    const auto contacts = splitContacts(stream);
    if (!contacts) {
        return std::nullopt;
    }
    std::vector<Bytes> keys;
    std::size_t next = 0;
    for (const ByteView c : *contacts) {
        Bytes& key = keys.emplace_back(c.begin(), c.end());
        const std::size_t numbers = perNumber ? numbersOf(c) : 1;
        for (std::size_t n = 0; n < numbers; ++n, ++next) {
            key.push_back(next < international.size() && international[next] ? 1 : 0);
        }
    }
    return keys;
}

// Where the new items go: each one equal to an old item keeps that item's
// slot (the longest run of equal items in order, so that the card reads them
// back in the new order); the others take, in order, the slots of the old
// items between the same kept neighbours, then free slots there.
struct Placement {
    std::vector<std::size_t> slot;   // per new item
    std::vector<bool> kept;          // per new item: its old item is left as it is
    std::vector<std::size_t> freed;  // slots of old items no new item took
};

std::optional<Placement> placeKeeping(const std::vector<Bytes>& oldKeys,
                                      const std::vector<std::size_t>& oldSlots,
                                      const std::vector<Bytes>& newKeys,
                                      const std::vector<bool>& freeSlot) {
    const std::size_t n = oldKeys.size();
    const std::size_t k = newKeys.size();
    // The keys as small numbers, so that the table compares integers.
    std::unordered_map<std::string, std::size_t> ids;
    const auto idOf = [&](const Bytes& key) {
        return ids.emplace(std::string(key.begin(), key.end()), ids.size()).first->second;
    };
    std::vector<std::size_t> a(n);
    std::vector<std::size_t> b(k);
    for (std::size_t i = 0; i < n; ++i) {
        a[i] = idOf(oldKeys[i]);
    }
    for (std::size_t j = 0; j < k; ++j) {
        b[j] = idOf(newKeys[j]);
    }
    std::vector<std::uint16_t> table((n + 1) * (k + 1), 0);
    const auto at = [&](std::size_t i, std::size_t j) -> std::uint16_t& {
        return table[i * (k + 1) + j];
    };
    for (std::size_t i = n; i-- > 0;) {
        for (std::size_t j = k; j-- > 0;) {
            at(i, j) = a[i] == b[j] ? static_cast<std::uint16_t>(at(i + 1, j + 1) + 1)
                                    : std::max(at(i + 1, j), at(i, j + 1));
        }
    }
    std::vector<std::pair<std::size_t, std::size_t>> pairs;  // (old, new)
    for (std::size_t i = 0, j = 0; i < n && j < k;) {
        if (a[i] == b[j]) {
            pairs.emplace_back(i++, j++);
        } else if (at(i + 1, j) >= at(i, j + 1)) {
            ++i;
        } else {
            ++j;
        }
    }
    Placement placed;
    placed.slot.assign(k, 0);
    placed.kept.assign(k, false);
    std::size_t oldFrom = 0;
    std::size_t newFrom = 0;
    std::size_t slotFrom = 0;
    pairs.emplace_back(n, k);  // the end
    for (const auto& [oi, nj] : pairs) {
        const std::size_t slotTo = oi < n ? oldSlots[oi] : freeSlot.size();
        const auto first = oldSlots.begin() + static_cast<std::ptrdiff_t>(oldFrom);
        std::vector<std::size_t> chosen(first, oldSlots.begin() + static_cast<std::ptrdiff_t>(oi));
        const std::size_t wanted = nj - newFrom;
        // Old items nobody takes free their slots; free slots make up the rest.
        while (chosen.size() > wanted) {
            placed.freed.push_back(chosen.back());
            chosen.pop_back();
        }
        for (std::size_t s = slotFrom; s < slotTo && chosen.size() < wanted; ++s) {
            if (freeSlot[s]) {
                chosen.push_back(s);
            }
        }
        if (chosen.size() < wanted) {
            return std::nullopt;
        }
        std::sort(chosen.begin(), chosen.end());
        for (std::size_t j = newFrom; j < nj; ++j) {
            placed.slot[j] = chosen[j - newFrom];
        }
        if (oi < n) {
            placed.slot[nj] = oldSlots[oi];
            placed.kept[nj] = true;
            slotFrom = oldSlots[oi] + 1;
        }
        oldFrom = oi + 1;
        newFrom = nj + 1;
    }
    return placed;
}

// The byte a card leaves in its unused slots: FF when its first free slot is
// all FF (as phones leave them), else the writer's 00.
std::uint8_t fillerOf(const Bytes& image, std::size_t slotLength,
                      const std::vector<bool>& freeSlot) {
    for (std::size_t s = 0; s < freeSlot.size(); ++s) {
        if (freeSlot[s]) {
            const auto first = image.begin() + static_cast<std::ptrdiff_t>(s * slotLength);
            return std::all_of(first, first + static_cast<std::ptrdiff_t>(slotLength),
                               [](std::uint8_t b) { return b == kFresh; })
                       ? kFresh
                       : 0x00;
        }
    }
    return 0x00;
}

void fillSlot(Bytes& image, std::size_t slot, std::size_t slotLength, std::uint8_t filler) {
    std::fill_n(image.begin() + static_cast<std::ptrdiff_t>(slot * slotLength), slotLength, filler);
}

// The phone book the images hold, as the library's reader builds it, and
// whether each number is international: what two targets must agree on.
std::optional<std::pair<Bytes, std::vector<bool>>> readView(const CardImages& current,
                                                            const CardImages& target,
                                                            const PhonebookGeometry& geometry) {
    CardImages merged = current;
    for (const FileImage& f : target.files) {
        if (FileImage* m = merged.find(f.file->id)) {
            *m = f;
        }
    }
    auto read = phonebookFromImages(merged, geometry);
    if (!read) {
        return std::nullopt;
    }
    std::vector<bool> plus;
    for (const std::uint8_t t : read.value->tonNpi) {
        plus.push_back(isInternational(t));
    }
    return std::make_pair(std::move(read.value->stream), std::move(plus));
}

// The contacts of an extended card that stay, where new ones go, and their
// numbers and ADI entries: built contact by contact with the library's own
// image builder, then moved to their slots.
class ExtendedKeeper {
  public:
    ExtendedKeeper(const CardImages& current, const PhonebookGeometry& geometry)
        : current_(current), geometry_(geometry) {}

    std::optional<CardImages> build(const PhonebookTarget& packed, ByteView stream,
                                    const std::vector<bool>& international) {
        using namespace phonebook;
        names_ = current_.present(files::kName.id);
        numbers_ = current_.present(files::kNumber.id);
        adi_ = current_.present(files::kAdi.id);
        const FileImage* adi = adi_;
        nameLength_ = asSize(geometry_.nameSlotLength);
        numberLength_ = asSize(geometry_.numberSlotLength);
        entryLength_ = asSize(geometry_.adiRecordLength);
        if (names_ == nullptr || numbers_ == nullptr || nameLength_ <= extended::kNameTextOffset ||
            numberLength_ <= extended::kNumberBcdOffset) {
            return std::nullopt;
        }
        entries_ = geometry_.adiCount == 0 || adi == nullptr
                       ? 0
                       : std::min({asSize(geometry_.adiCount), kMaxRecords, adi->recordCount()});
        if (entries_ > 0 && adi->recordLength != entryLength_) {
            return std::nullopt;
        }
        const std::size_t nameSlots =
            std::min(asSize(geometry_.nameSlotCount), wholeSlots(names_->data.size(), nameLength_));
        const std::size_t numberSlots = wholeSlots(numbers_->data.size(), numberLength_);
        adnEnd_ = std::min(asSize(geometry_.adnCount), numberSlots);
        otherEnd_ = std::min(asSize(geometry_.numberSlotCount), numberSlots);

        // The card's contacts, by name slot, and the phone book asked for.
        const auto read = phonebookFromImages(current_, geometry_);
        if (!read) {
            return std::nullopt;
        }
        std::vector<bool> oldPlus;
        for (const std::uint8_t t : read.value->tonNpi) {
            oldPlus.push_back(isInternational(t));
        }
        const auto oldKeys = contactKeys(read.value->stream, oldPlus, true);
        const auto newKeys = contactKeys(stream, international, true);
        const auto newContacts = splitContacts(stream);
        if (!oldKeys || !newKeys || !newContacts) {
            return std::nullopt;
        }
        std::vector<std::size_t> oldSlots;
        std::vector<bool> freeName(nameSlots, false);
        for (std::size_t m = 0; m < nameSlots; ++m) {
            freeName[m] = extended::isFreeNameSlot(names_->data.data() + m * nameLength_);
            if (!freeName[m]) {
                oldSlots.push_back(m);
            }
        }
        if (oldSlots.size() != oldKeys->size()) {
            return std::nullopt;
        }
        const auto placed = placeKeeping(*oldKeys, oldSlots, *newKeys, freeName);
        if (!placed) {
            return std::nullopt;
        }

        names = names_->data;
        numbersImage = numbers_->data;
        adiImage.clear();
        if (entries_ > 0) {
            adiImage.assign(adi->data.begin(), adi->data.begin() + static_cast<std::ptrdiff_t>(
                                                                       entries_ * entryLength_));
        }
        // Slots of the contacts that stay are taken; every other slot is free
        // once the references to rewritten and freed name slots are cleared.
        std::vector<bool> staying(nameSlots, false);
        std::vector<bool> rewritten(nameSlots, false);
        for (std::size_t j = 0; j < placed->slot.size(); ++j) {
            (placed->kept[j] ? staying : rewritten)[placed->slot[j]] = true;
        }
        nameFiller_ = fillerOf(names, nameLength_, freeName);
        for (const std::size_t m : placed->freed) {
            fillSlot(names, m, nameLength_, nameFiller_);
            rewritten[m] = true;  // its numbers and entries go too
        }
        const std::size_t numberSlotsUsed = std::max(adnEnd_, otherEnd_);
        freeNumber_.assign(numberSlotsUsed, true);
        ownedNumbers_.assign(nameSlots, {});
        for (std::size_t s = 0; s < numberSlotsUsed; ++s) {
            const std::size_t owner = readBe16(numbersImage.data() + s * numberLength_);
            if (owner >= 1 && owner <= nameSlots && staying[owner - 1]) {
                freeNumber_[s] = false;
            } else if (owner >= 1 && owner <= nameSlots && rewritten[owner - 1]) {
                ownedNumbers_[owner - 1].push_back(s);
            }
        }
        freeEntry_.assign(entries_, true);
        ownedEntries_.assign(nameSlots, {});
        for (std::size_t e = 0; e < entries_; ++e) {
            const std::size_t owner = readBe16(adiImage.data() + e * entryLength_);
            if (owner >= 1 && owner <= nameSlots && staying[owner - 1]) {
                freeEntry_[e] = false;
            } else if (owner >= 1 && owner <= nameSlots && rewritten[owner - 1]) {
                ownedEntries_[owner - 1].push_back(e);
            }
        }
        numberFiller_ = fillerOf(numbersImage, numberLength_, freeNumber_);
        entryFiller_ = fillerOf(adiImage, entryLength_, freeEntry_);
        for (std::size_t m = 0; m < nameSlots; ++m) {
            for (const std::size_t s : ownedNumbers_[m]) {
                fillSlot(numbersImage, s, numberLength_, numberFiller_);
            }
            for (const std::size_t e : ownedEntries_[m]) {
                fillSlot(adiImage, e, entryLength_, entryFiller_);
            }
        }

        // One contact at a time through the library's builder.
        single_.names.assign(nameLength_, 0x00);
        single_.numbers.assign(numbers_->data.size(), 0x00);
        single_.adi.assign(entries_ * entryLength_, 0x00);
        std::size_t firstNumber = 0;
        for (std::size_t j = 0; j < placed->slot.size(); ++j) {
            const ByteView contact = (*newContacts)[j];
            const std::size_t count = numbersOf(contact);
            if (!placed->kept[j] &&
                !place(contact, placed->slot[j], international, firstNumber, count)) {
                return std::nullopt;
            }
            firstNumber += count;
        }

        CardImages target;
        target.extended = true;
        target.phonebookDirectory = current_.phonebookDirectory;
        for (const FileImage& f : packed.images.files) {
            FileImage made = f;
            if (f.file->id == files::kName.id) {
                made.data = names;
            } else if (f.file->id == files::kNumber.id) {
                made.data = numbersImage;
            } else if (f.file->id == files::kAdi.id) {
                std::copy(adiImage.begin(), adiImage.end(), made.data.begin());
            }
            target.files.push_back(std::move(made));
        }
        return target;
    }

  private:
    // The byte after a slot's content: the one the slot's last byte held on
    // the card when that is a filler (00 or FF), so that a rewritten slot
    // ends as it did.
    static std::uint8_t padding(const std::uint8_t* slot, std::size_t length, std::uint8_t filler) {
        const std::uint8_t last = slot[length - 1];
        return last == 0x00 || last == kFresh ? last : filler;
    }

    // The slots of `owned` first, then free ones below `end` from `from`, in
    // slot order: `wanted` of them, or nothing.
    static std::optional<std::vector<std::size_t>> pick(const std::vector<std::size_t>& owned,
                                                        std::vector<bool>& freeSlots,
                                                        std::size_t from, std::size_t end,
                                                        std::size_t wanted) {
        std::vector<std::size_t> chosen;
        for (const std::size_t s : owned) {
            if (chosen.size() < wanted && s >= from && s < end && freeSlots[s]) {
                chosen.push_back(s);
            }
        }
        for (std::size_t s = from; s < end && chosen.size() < wanted; ++s) {
            if (freeSlots[s] && std::find(chosen.begin(), chosen.end(), s) == chosen.end()) {
                chosen.push_back(s);
            }
        }
        if (chosen.size() < wanted) {
            return std::nullopt;
        }
        std::sort(chosen.begin(), chosen.end());
        for (const std::size_t s : chosen) {
            freeSlots[s] = false;
        }
        return chosen;
    }

    bool place(ByteView contact, std::size_t m, const std::vector<bool>& international,
               std::size_t firstNumber, std::size_t count) {
        using namespace phonebook;
        std::vector<std::size_t> slots;
        if (BuildPhonebookImages(contact, geometry_, single_, &slots) != result::kOk ||
            slots.size() != count) {
            return false;
        }
        // What the reader reads of each slot comes from the builder; the
        // bytes it never reads (a name slot's unused bytes 2 and 3, what
        // follows a name, a number or a text) keep the card's filler.
        std::uint8_t* name = names.data() + m * nameLength_;
        const std::size_t nameEnd =
            std::min(nameLength_,
                     extended::kNameTextOffset + (single_.names[1] & extended::kNameLengthMask));
        name[0] = single_.names[0];
        name[1] = single_.names[1];
        std::copy(single_.names.begin() + extended::kNameTextOffset,
                  single_.names.begin() + static_cast<std::ptrdiff_t>(nameEnd),
                  name + extended::kNameTextOffset);
        std::fill(name + nameEnd, name + nameLength_,
                  padding(names_->data.data() + m * nameLength_, nameLength_, nameFiller_));
        std::fill(single_.names.begin(), single_.names.end(), 0x00);
        const auto index = static_cast<std::uint16_t>(m + 1);
        std::vector<std::size_t> adn;
        std::vector<std::size_t> other;
        for (const std::size_t s : slots) {
            (s < asSize(geometry_.adnCount) ? adn : other).push_back(s);
        }
        const auto adnTo = pick(ownedNumbers_[m], freeNumber_, 0, adnEnd_, adn.size());
        const auto otherTo = pick(ownedNumbers_[m], freeNumber_, asSize(geometry_.adnCount),
                                  otherEnd_, other.size());
        if (!adnTo || !otherTo) {
            return false;
        }
        const auto move = [&](std::size_t from, std::size_t to) {
            const auto src =
                single_.numbers.begin() + static_cast<std::ptrdiff_t>(from * numberLength_);
            std::uint8_t* dst = numbersImage.data() + to * numberLength_;
            const std::size_t bcd = src[extended::kNumberTypeByte] & extended::kNumberLengthMask;
            const std::size_t end =
                std::min(numberLength_, extended::kNumberBcdOffset + (bcd > 0 ? bcd - 1 : 0));
            const std::uint8_t pad =
                padding(numbers_->data.data() + to * numberLength_, numberLength_, numberFiller_);
            std::copy_n(src, end, dst);
            std::fill(dst + end, dst + numberLength_, pad);
            std::fill_n(src, numberLength_, 0x00);
            writeBe16(dst, index);
            return dst;
        };
        for (std::size_t i = 0; i < adn.size(); ++i) {
            move(adn[i], (*adnTo)[i]);
        }
        for (std::size_t i = 0; i < other.size(); ++i) {
            move(other[i], (*otherTo)[i]);
        }
        // The TON of each number, in stream order, follows it to its slot.
        for (std::size_t i = 0; i < slots.size(); ++i) {
            const bool inAdn = slots[i] < asSize(geometry_.adnCount);
            const auto& from = inAdn ? adn : other;
            const auto& to = inAdn ? *adnTo : *otherTo;
            const std::size_t at = to[static_cast<std::size_t>(
                std::find(from.begin(), from.end(), slots[i]) - from.begin())];
            if (firstNumber + i < international.size() && international[firstNumber + i]) {
                numbersImage[at * numberLength_ + extended::kNumberTonNpiByte] = 0x91;
            }
        }
        // The contact's ADI entries: the leading entries of the single image.
        std::size_t made = 0;
        while (made < entries_ && readBe16(single_.adi.data() + made * entryLength_) == 1) {
            ++made;
        }
        const auto entriesTo = pick(ownedEntries_[m], freeEntry_, 0, entries_, made);
        if (!entriesTo) {
            return false;
        }
        for (std::size_t e = 0; e < made; ++e) {
            const auto src = single_.adi.begin() + static_cast<std::ptrdiff_t>(e * entryLength_);
            std::uint8_t* dst = adiImage.data() + (*entriesTo)[e] * entryLength_;
            const std::size_t end =
                std::min(entryLength_, extended::kAdiTextOffset + (src[extended::kAdiHeadByte] &
                                                                   extended::kAdiLengthMask));
            const std::uint8_t pad = padding(adi_->data.data() + (*entriesTo)[e] * entryLength_,
                                             entryLength_, entryFiller_);
            std::copy_n(src, end, dst);
            std::fill(dst + end, dst + entryLength_, pad);
            std::fill_n(src, entryLength_, 0x00);
            writeBe16(dst, index);
        }
        return true;
    }

    const CardImages& current_;
    const PhonebookGeometry& geometry_;
    const FileImage* names_ = nullptr;
    const FileImage* numbers_ = nullptr;
    const FileImage* adi_ = nullptr;
    std::size_t nameLength_ = 0;
    std::size_t numberLength_ = 0;
    std::size_t entryLength_ = 0;
    std::size_t entries_ = 0;
    std::size_t adnEnd_ = 0;
    std::size_t otherEnd_ = 0;
    std::uint8_t nameFiller_ = 0;
    std::uint8_t numberFiller_ = 0;
    std::uint8_t entryFiller_ = 0;
    std::vector<bool> freeNumber_;
    std::vector<bool> freeEntry_;
    std::vector<std::vector<std::size_t>> ownedNumbers_;
    std::vector<std::vector<std::size_t>> ownedEntries_;
    phonebook::ExtendedImages single_;
    Bytes names;
    Bytes numbersImage;
    Bytes adiImage;
};

// EF_ADN with the records that did not change left where they are, new
// contacts in free records (the last record stays free, as the writer leaves
// it) and freed records cleared to FF.
std::optional<CardImages> keptStandardTarget(const CardImages& current,
                                             const PhonebookTarget& packed, std::size_t count) {
    const FileImage* adn = current.present(files::kAdn.id);
    const FileImage* made = packed.images.present(files::kAdn.id);
    if (adn == nullptr || made == nullptr || !adn->sameShape(*made)) {
        return std::nullopt;
    }
    std::vector<std::size_t> oldRecords;
    Bytes ignored;
    phonebook::BuildStandardContactsFromRecords(adn->data, adn->recordLength, ignored, &oldRecords);
    std::vector<Bytes> oldKeys;
    for (const std::size_t r : oldRecords) {
        oldKeys.emplace_back(adn->record(r).begin(), adn->record(r).end());
    }
    std::vector<Bytes> newKeys;
    for (std::size_t r = 0; r < std::min(count, made->recordCount()); ++r) {
        newKeys.emplace_back(made->record(r).begin(), made->record(r).end());
    }
    std::vector<bool> freeRecord(adn->recordCount(), true);
    for (const std::size_t r : oldRecords) {
        freeRecord[r] = false;
    }
    if (!freeRecord.empty()) {
        freeRecord.back() = false;
    }
    const auto placed = placeKeeping(oldKeys, oldRecords, newKeys, freeRecord);
    if (!placed) {
        return std::nullopt;
    }
    FileImage kept = *adn;
    const std::size_t length = adn->recordLength;
    for (const std::size_t r : placed->freed) {
        fillSlot(kept.data, r, length, kFresh);
    }
    for (std::size_t j = 0; j < newKeys.size(); ++j) {
        if (!placed->kept[j]) {
            std::copy(newKeys[j].begin(), newKeys[j].end(),
                      kept.data.begin() + static_cast<std::ptrdiff_t>(placed->slot[j] * length));
        }
    }
    CardImages target;
    target.phonebookDirectory = current.phonebookDirectory;
    target.files.push_back(std::move(kept));
    return target;
}

}  // namespace

PhonebookTarget phonebookTarget(const CardImages& current, const PhonebookGeometry& geometry,
                                ByteView stream, std::int32_t count,
                                const std::vector<bool>& international) {
    PhonebookTarget packed = packedPhonebookTarget(current, geometry, stream, count, international);
    if (packed.refusal != result::kOk) {
        return packed;
    }
    std::optional<CardImages> kept;
    if (current.extended) {
        kept = ExtendedKeeper(current, geometry).build(packed, stream, international);
    } else if (const auto contacts = splitContacts(stream)) {
        kept = keptStandardTarget(current, packed, contacts->size());
    }
    // The slots kept only when the card then reads back exactly the phone
    // book the packed files hold.
    if (kept) {
        const auto want = readView(current, packed.images, geometry);
        const auto got = readView(current, *kept, geometry);
        if (want && got && *want == *got) {
            packed.images = std::move(*kept);
            packed.slotsKept = true;
        }
    }
    return packed;
}

// ---- Writing -----------------------------------------------------------------

namespace {

// The records of a linear fixed file that differ; of a transparent file,
// within each 255-byte piece, the run from its first differing byte to its
// last.
struct Unit {
    std::size_t offset;
    std::size_t length;
};

std::vector<Unit> differingUnits(const FileImage& current, const FileImage& target) {
    std::vector<Unit> units;
    const std::size_t step =
        target.linearFixed() ? target.recordLength : phonebook::kMaxCommandData;
    if (step == 0) {
        return units;
    }
    for (std::size_t offset = 0; offset < target.data.size(); offset += step) {
        const std::size_t length = std::min(step, target.data.size() - offset);
        std::size_t first = offset;
        std::size_t end = offset + length;
        while (first < end && target.data[first] == current.data[first]) {
            ++first;
        }
        if (first == end) {
            continue;
        }
        if (target.linearFixed()) {
            units.push_back({offset, length});  // a record is written whole
            continue;
        }
        // Of a piece, only the bytes from its first difference to its last.
        while (target.data[end - 1] == current.data[end - 1]) {
            --end;
        }
        units.push_back({first, end - first});
    }
    return units;
}

}  // namespace

Differences countDifferences(const CardImages& current, const CardImages& target) {
    Differences d;
    for (const FileImage& t : target.files) {
        const FileImage* c = current.find(t.file->id);
        if (!t.present || c == nullptr || !c->sameShape(t)) {
            continue;
        }
        (t.linearFixed() ? d.records : d.pieces) += differingUnits(*c, t).size();
    }
    return d;
}

WritePlan planWrite(const CardImages& current, const CardImages& target) {
    // T=0: a 5-byte header, a procedure byte, the data, SW1 SW2.
    constexpr std::size_t kCommandCharacters = 5 + 1 + 2;
    constexpr std::size_t kFileIdLength = 2;
    WritePlan plan;
    for (const FileImage& t : target.files) {
        const FileImage* c = current.find(t.file->id);
        if (!t.present || c == nullptr || !c->sameShape(t)) {
            continue;
        }
        const std::vector<Unit> units = differingUnits(*c, t);
        if (units.empty()) {
            continue;
        }
        const std::size_t steps = channel::selectionSteps(*t.file, target.phonebookDirectory);
        plan.selections += 2 * steps;  // once to write, once to read back
        plan.linkCharacters += 2 * steps * (kCommandCharacters + kFileIdLength);
        for (const Unit& u : units) {
            (t.linearFixed() ? plan.records : plan.pieces) += 1;
            plan.bytes += u.length;
            plan.linkCharacters += 2 * (kCommandCharacters + u.length);
        }
    }
    return plan;
}

WriteReport writeDifferences(CardChannel& channel, const CardImages& current,
                             const CardImages& target) {
    WriteReport report;
    for (const FileImage& t : target.files) {
        const FileImage* c = current.find(t.file->id);
        if (c != nullptr && !c->present && !t.present) {
            continue;  // absent on both: nothing to write
        }
        if (c == nullptr || !c->present || !t.present || !c->sameShape(t)) {
            report.failure = fileLabel(*t.file) + " is not on the card as the images need it";
            return report;
        }
    }
    for (const FileImage& t : target.files) {
        if (!t.present) {
            continue;
        }
        const std::vector<Unit> units = differingUnits(*current.find(t.file->id), t);
        if (units.empty()) {
            continue;
        }
        std::uint8_t responseLength = 0;
        const channel::PathSelection selected =
            channel::SelectPath(channel, *t.file, target.phonebookDirectory, responseLength);
        if (!selected) {
            report.failure =
                "selecting " + fileLabel(*t.file) + " failed: " + selected.failure.describe();
            return report;
        }
        for (const Unit& u : units) {
            const ByteView bytes = ByteView(t.data).subspan(u.offset, u.length);
            const channel::Response answer =
                t.linearFixed() ? channel.updateRecord(
                                      static_cast<std::uint8_t>(u.offset / t.recordLength), bytes)
                                : channel.updateBinary(static_cast<std::uint16_t>(u.offset), bytes);
            if (!answer.isOk()) {
                report.failure =
                    "writing " + fileLabel(*t.file) +
                    (t.linearFixed() ? " record " + std::to_string(u.offset / t.recordLength + 1)
                                     : " at offset " + std::to_string(u.offset)) +
                    " failed: " + answer.status().describe();
                return report;
            }
            (t.linearFixed() ? report.recordsWritten : report.piecesWritten) += 1;
            report.written.push_back({t.file, u.offset, u.length});
        }
    }
    report.complete = true;
    return report;
}

ReadBack readBackWritten(CardChannel& channel, const CardImages& target,
                         const WriteReport& report) {
    ReadBack back;
    const CardFile* selected = nullptr;
    for (const WrittenUnit& u : report.written) {
        const FileImage* t = target.find(u.file->id);
        if (t == nullptr) {
            continue;
        }
        if (selected != u.file) {
            std::uint8_t responseLength = 0;
            const channel::PathSelection path =
                channel::SelectPath(channel, *u.file, target.phonebookDirectory, responseLength);
            if (!path) {
                back.readFailed = true;
                back.difference =
                    "selecting " + fileLabel(*u.file) + " failed: " + path.failure.describe();
                return back;
            }
            selected = u.file;
        }
        const channel::Response answer =
            t->linearFixed()
                ? channel.readRecord(static_cast<std::uint8_t>(u.offset / t->recordLength),
                                     t->recordLength)
                : channel.readBinary(static_cast<std::uint16_t>(u.offset),
                                     static_cast<std::uint8_t>(u.length));
        const std::string where =
            fileLabel(*u.file) + (t->linearFixed()
                                      ? " record " + std::to_string(u.offset / t->recordLength + 1)
                                      : " at offset " + std::to_string(u.offset));
        if (!answer.isOk() || answer.data().size() != u.length) {
            back.readFailed = true;
            back.difference =
                "reading back " + where + " failed: " +
                (answer.isOk() ? std::string("a short answer") : answer.status().describe());
            return back;
        }
        const ByteView want = ByteView(t->data).subspan(u.offset, u.length);
        const auto [w, g] = std::mismatch(want.begin(), want.end(), answer.data().begin());
        if (w != want.end()) {
            back.difference = where + " byte " + std::to_string(w - want.begin()) + ": wrote " +
                              hexByte(*w) + ", the card holds " + hexByte(*g);
            return back;
        }
    }
    return back;
}

std::optional<std::string> firstImageDifference(const CardImages& expected,
                                                const CardImages& actual) {
    for (const FileImage& e : expected.files) {
        const FileImage* a = actual.find(e.file->id);
        if (a == nullptr || a->present != e.present) {
            return fileLabel(*e.file) + (e.present ? " is missing" : " appeared");
        }
        if (!a->sameShape(e)) {
            return fileLabel(*e.file) + " changed its size or record length";
        }
        const auto [want, got] = std::mismatch(e.data.begin(), e.data.end(), a->data.begin());
        if (want != e.data.end()) {
            const auto at = static_cast<std::size_t>(want - e.data.begin());
            const std::string where = e.linearFixed()
                                          ? "record " + std::to_string(at / e.recordLength + 1) +
                                                " byte " + std::to_string(at % e.recordLength)
                                          : "byte " + std::to_string(at);
            return fileLabel(*e.file) + " " + where + ": wrote " + hexByte(*want) +
                   ", the card holds " + hexByte(*got);
        }
    }
    return std::nullopt;
}

CardImages select(const CardImages& images, Parts parts, bool writableOnly) {
    CardImages out;
    out.extended = images.extended;
    out.phonebookDirectory = images.phonebookDirectory;
    for (const CardFile* file : filesOf(parts)) {
        if (writableOnly && !isWritable(*file)) {
            continue;
        }
        if (const FileImage* f = images.find(file->id)) {
            out.files.push_back(*f);
        }
    }
    return out;
}

Result<CardImages> readCardImages(bool extended, Parts parts) {
    return readCardImages(channel::cardChannel(), extended, phonebookGeometry().phonebookDirectory,
                          parts);
}

std::optional<std::string> disagreement(const CardImages& images) {
    return disagreement(images, phonebookGeometry());
}

Result<PhonebookRead> phonebookFromImages(const CardImages& images) {
    return phonebookFromImages(images, phonebookGeometry());
}

PhonebookTarget phonebookTarget(const CardImages& current, ByteView stream, std::int32_t count,
                                const std::vector<bool>& international) {
    return phonebookTarget(current, phonebookGeometry(), stream, count, international);
}

WriteReport writeDifferences(const CardImages& current, const CardImages& target) {
    return writeDifferences(channel::cardChannel(), current, target);
}

ReadBack readBackWritten(const CardImages& target, const WriteReport& report) {
    return readBackWritten(channel::cardChannel(), target, report);
}

namespace {

// A message store's records, or nothing when the store is absent or does not
// hold whole message records.
const FileImage* messageStore(const CardImages& images, std::uint16_t id) {
    const FileImage* f = images.present(id);
    return f != nullptr && f->recordLength == sms::kRecordLength ? f : nullptr;
}

// The index byte of extra record `i` (0-based), 0 past the index's end.
std::uint8_t indexByte(const FileImage* index, std::size_t i) {
    return index != nullptr && i < index->data.size() ? index->data[i] : 0;
}

}  // namespace

Result<Bytes> messageStreamOf(const CardImages& images) {
    const FileImage* store = messageStore(images, fileId::kSms);
    if (store == nullptr) {
        return Result<Bytes>::failed("EF_SMS does not hold 176-byte message records");
    }
    const FileImage* extra = images.present(fileId::kExtraMessages);
    if (extra != nullptr && extra->recordLength != sms::kRecordLength) {
        return Result<Bytes>::failed("the extra message file does not hold 176-byte records");
    }
    const FileImage* index = images.present(fileId::kExtraMessageIndex);
    std::vector<sms::MessageRecord> records;
    const auto take = [&](const FileImage& file, std::size_t r, sms::MessageKind kind) {
        const ByteView bytes = file.record(r);
        if (bytes[0] == 0) {
            return;  // a free record
        }
        sms::MessageRecord& m = records.emplace_back();
        m.kind = kind;
        std::copy(bytes.begin(), bytes.end(), m.bytes.begin());
    };
    for (std::size_t r = 0; r < store->recordCount(); ++r) {
        take(*store, r, sms::MessageKind::kCms);
    }
    if (extra != nullptr) {
        for (std::size_t r = 0; r < extra->recordCount(); ++r) {
            const std::uint8_t mark = indexByte(index, r);
            if (index == nullptr || mark == 2 || mark == 3) {
                take(*extra, r, sms::MessageKind::kLms);
            }
        }
        for (std::size_t r = 0; index != nullptr && r < extra->recordCount(); ++r) {
            if (indexByte(index, r) == 1) {
                take(*extra, r, sms::MessageKind::kEms);
            }
        }
    }
    return Result<Bytes>::ok(sms::encodeMessageStream(records));
}

MessageTarget messageTarget(const CardImages& current, ByteView stream, std::int32_t count) {
    const auto storeOf = [&](std::uint16_t id) {
        sms::StoreImage store;
        if (const FileImage* f = current.present(id)) {
            store.present = true;
            store.size = f->size;
            store.recordLength = f->recordLength;
            store.data = f->data;
        }
        return store;
    };
    sms::StoreImages stores{storeOf(fileId::kSms), storeOf(fileId::kExtraMessages),
                            storeOf(fileId::kExtraMessageIndex)};
    MessageTarget target;
    target.refusal = sms::writeMessageImages(stores, count, stream);
    if (target.refusal != result::kOk) {
        return target;
    }
    target.images.extended = current.extended;
    target.images.phonebookDirectory = current.phonebookDirectory;
    for (const auto& [file, store] :
         {std::pair{&files::kSms, &stores.sms}, std::pair{&files::kExtraMessages, &stores.extra},
          std::pair{&files::kExtraMessageIndex, &stores.index}}) {
        FileImage made = copyOf(current, *file);
        if (made.present) {
            made.data = store->data;
        }
        target.images.files.push_back(std::move(made));
    }
    return target;
}

std::vector<FreeRecord> freeMessageRecords(const CardImages& images) {
    std::vector<FreeRecord> found;
    const FileImage* index = images.present(fileId::kExtraMessageIndex);
    for (const std::uint16_t id : {fileId::kSms, fileId::kExtraMessages}) {
        const FileImage* store = messageStore(images, id);
        const bool extra = id == fileId::kExtraMessages;
        for (std::size_t r = 0; store != nullptr && r < store->recordCount(); ++r) {
            const ByteView bytes = store->record(r);
            if (bytes[0] == 0) {
                const bool ems = extra && indexByte(index, r) == 1;
                found.push_back(
                    {extra ? (ems ? "EMS" : "LMS") : "CMS", static_cast<int>(r + 1), bytes});
            }
        }
    }
    return found;
}

}  // namespace zrn::images
