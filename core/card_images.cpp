#include "core/card_images.h"

#include <algorithm>
#include <cstdio>

#include "phonebook/card_files.h"
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

PhonebookTarget phonebookTarget(const CardImages& current, const PhonebookGeometry& geometry,
                                ByteView stream, std::int32_t count,
                                const std::vector<bool>& international) {
    return current.extended ? extendedTarget(current, geometry, stream, international)
                            : standardTarget(current, stream, count, international);
}

// ---- Writing -----------------------------------------------------------------

namespace {

// The 255-byte pieces of a transparent file, or the records of a linear
// fixed one, that differ.
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
        if (!std::equal(target.data.begin() + static_cast<std::ptrdiff_t>(offset),
                        target.data.begin() + static_cast<std::ptrdiff_t>(offset + length),
                        current.data.begin() + static_cast<std::ptrdiff_t>(offset))) {
            units.push_back({offset, length});
        }
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
