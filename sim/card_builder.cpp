#include "sim/card_builder.h"

#include <algorithm>
#include <stdexcept>

namespace zrn::sim {

namespace {

constexpr std::size_t kNameTextOffset = 4;
constexpr std::size_t kNumberBcdOffset = 4;
constexpr std::size_t kAdiTextOffset = 3;
constexpr std::size_t kAdnFooterLength = 14;  // length, TON/NPI, 10 BCD, CCP, EXT
constexpr std::size_t kAdnBcdLength = 10;
constexpr std::size_t kMaxNameLength = 0x1F;  // five length bits
constexpr std::size_t kMaxNumberLength = 0x1F;
constexpr std::size_t kMaxAdiLength = 0x3F;  // six length bits
constexpr std::uint8_t kDefaultAdnRecordLength = 28;

[[noreturn]] void refuse(const std::string& what) {
    throw std::invalid_argument(what);
}

std::uint8_t byteOf(std::size_t value) {
    return static_cast<std::uint8_t>(value);
}

std::uint8_t high(std::uint16_t value) {
    return static_cast<std::uint8_t>(value >> 8);
}
std::uint8_t low(std::uint16_t value) {
    return static_cast<std::uint8_t>(value);
}

void requireFits(std::size_t length, std::size_t room, const char* what) {
    if (length > room) {
        refuse(std::string(what) + ": " + std::to_string(length) + " bytes do not fit in " +
               std::to_string(room));
    }
}

Bytes padded(ByteView bytes, std::size_t length) {
    Bytes out(length, 0xFF);
    std::copy(bytes.begin(), bytes.end(), out.begin());
    return out;
}

// Writes `bytes` into a transparent file at `offset`, refusing anything outside it.
void writeTransparent(CardImage& image, std::initializer_list<std::uint16_t> path,
                      std::size_t offset, ByteView bytes, const char* what) {
    SimFile* file = image.find(path);
    if (file == nullptr || file->kind != FileKind::kTransparent) {
        refuse(std::string(what) + ": the card has no such transparent file");
    }
    if (offset + bytes.size() > file->data.size()) {
        refuse(std::string(what) + ": beyond the end of the file");
    }
    std::copy(bytes.begin(), bytes.end(), file->data.begin() + static_cast<std::ptrdiff_t>(offset));
}

void writeRecord(CardImage& image, std::initializer_list<std::uint16_t> path, std::size_t record,
                 ByteView bytes, const char* what) {
    const SimFile* file = image.find(path);
    if (file == nullptr || file->kind != FileKind::kLinearFixed) {
        refuse(std::string(what) + ": the card has no such linear fixed file");
    }
    if (record == 0 || record > file->recordCount()) {
        refuse(std::string(what) + ": no record " + std::to_string(record));
    }
    image.setRecord(path, record - 1, bytes);
}

void addMessageFiles(CardImage& image, std::size_t smsCount, std::size_t extraCount,
                     bool extraIndex) {
    image.putLinearFixed({files::kTelecom, files::kSms}, kSmsRecordLength, smsCount);
    if (extraCount > 0) {
        image.putLinearFixed({files::kTelecom, files::kExtraMessages}, kSmsRecordLength,
                             extraCount);
        if (extraIndex) {
            image.putTransparent({files::kTelecom, files::kExtraMessageIndex},
                                 Bytes(extraCount, 0x00));
        }
    }
}

void addBaseFiles(CardImage& image, const Bytes& atr, const Bytes& iccid) {
    image.atr = atr.empty() ? defaultAtr() : atr;
    image.putTransparent({files::kIccid}, iccid.empty() ? defaultIccid() : iccid);
}

void checkRecordCount(std::size_t count, const char* what) {
    if (count > 255) {
        refuse(std::string(what) + ": more than 255 records");
    }
}

}  // namespace

Bytes defaultAtr() {
    return {0x3B, 0x9F, 0x95, 0x80, 0x1F, 0xC3, 0x80, 0x31, 0xE0, 0x73, 0xFE,
            0x21, 0x1B, 0x63, 0x3A, 0x20, 0x4E, 0x83, 0x00, 0x90, 0x00, 0x31};
}

Bytes defaultIccid() {
    // 8986 0012 3456 7890 123F in swapped-nibble BCD (GSM 11.11 10.1.1).
    return {0x98, 0x68, 0x00, 0x21, 0x43, 0x65, 0x87, 0x09, 0x21, 0xF3};
}

// ---------------------------------------------------------------------------

CardImage buildStandardCard(const StandardCardOptions& options) {
    checkRecordCount(options.adnCount, "EF_ADN");
    checkRecordCount(options.smsCount, "EF_SMS");
    checkRecordCount(options.extraMessageCount, "extra message file");
    if (options.adnRecordLength < kAdnFooterLength) {
        refuse("EF_ADN records need at least 14 bytes");
    }
    CardImage image;
    addBaseFiles(image, options.atr, options.iccid);
    if (options.optionFile) {
        Bytes option(kOptionFileLength, 0x00);
        option[4] = options.optionFlags;
        image.putTransparent({files::kOption}, option);
    }
    image.putLinearFixed({files::kTelecom, files::kAdn}, options.adnRecordLength, options.adnCount);
    addMessageFiles(image, options.smsCount, options.extraMessageCount, options.extraMessageIndex);
    image.master.children.push_back(
        SimFile{files::kGsm, FileKind::kDedicated, {}, 0, Access::kAlways, Access::kAlways, {}});
    if (options.gsmFiles) {
        addGsmFiles(image);
    }
    return image;
}

Bytes configurationBytes(const ExtendedGeometry& g) {
    Bytes config(kConfigFileLength, 0x00);
    config[0] = g.nameSlotLength;
    config[1] = g.numberSlotLength;
    writeBe16(&config[2], g.adnCount);
    writeBe16(&config[4], g.nameSlotCount);
    writeBe16(&config[6], g.numberSlotCount);
    config[8] = g.groupCount;
    config[9] = g.configByte9;
    config[10] = g.groupNameLength;
    writeBe16(&config[11], g.adiCount);
    config[13] = g.adiRecordLength;
    config[14] = g.smsCount;
    writeBe16(&config[15], g.capacity6);
    writeBe16(&config[17], g.capacity7);
    config[19] = g.configByte19;
    return config;
}

Bytes optionBytes(const ExtendedGeometry& g) {
    Bytes option(kOptionFileLength, 0x00);
    option[4] = g.optionFlags;
    return option;
}

CardImage buildExtendedCard(const ExtendedGeometry& g) {
    if (g.directory != files::kTelecom && g.directory != files::kSecondDirectory) {
        refuse("the phone-book directory must be 7F10 or 5F00");
    }
    checkRecordCount(g.adnRecords, "EF_ADN");
    checkRecordCount(g.smsRecords, "EF_SMS");
    checkRecordCount(g.extraMessageCount, "extra message file");
    checkRecordCount(g.adiCount, "ADI file");
    if (static_cast<std::size_t>(g.nameSlotLength) * g.nameSlotCount > 0xFFFF ||
        static_cast<std::size_t>(g.numberSlotLength) * g.numberSlotCount > 0xFFFF) {
        refuse("name or number file larger than 65535 bytes");
    }
    if (g.groupCount > 0 && g.groupNameLength == 0xFF) {
        refuse("group records cannot be longer than 255 bytes");
    }
    if (g.adiCount > 0 && g.adiRecordLength == 0) {
        refuse("ADI records need a length");
    }

    CardImage image;
    addBaseFiles(image, g.atr, {});
    image.putTransparent({files::kOption}, optionBytes(g));
    image.putLinearFixed({files::kTelecom, files::kAdn}, kDefaultAdnRecordLength, g.adnRecords);
    addMessageFiles(image, g.smsRecords, g.extraMessageCount, g.extraMessageIndex);
    image.master.children.push_back(
        SimFile{files::kGsm, FileKind::kDedicated, {}, 0, Access::kAlways, Access::kAlways, {}});

    image.putTransparent({g.directory, files::kConfig}, configurationBytes(g));
    image.putTransparent({g.directory, files::kName},
                         Bytes(static_cast<std::size_t>(g.nameSlotLength) * g.nameSlotCount, 0xFF));
    image.putTransparent(
        {g.directory, files::kNumber},
        Bytes(static_cast<std::size_t>(g.numberSlotLength) * g.numberSlotCount, 0xFF));
    if (g.adiCount > 0) {
        image.putLinearFixed({g.directory, files::kAdi}, g.adiRecordLength, g.adiCount);
    }
    if (g.groupCount > 0) {
        image.putLinearFixed({g.directory, files::kGroup}, byteOf(g.groupNameLength + 1u),
                             g.groupCount);
    }
    if (g.gsmFiles) {
        addGsmFiles(image);
    }
    return image;
}

// ---------------------------------------------------------------------------

Bytes packBcd(std::string_view digits) {
    Bytes out((digits.size() + 1) / 2, 0xFF);
    for (std::size_t i = 0; i < digits.size(); ++i) {
        const auto nibble =
            static_cast<std::uint8_t>((static_cast<unsigned char>(digits[i]) - 0x30u) & 0x0Fu);
        std::uint8_t& byte = out[i / 2];
        byte = i % 2 == 0 ? static_cast<std::uint8_t>((byte & 0xF0) | nibble)
                          : static_cast<std::uint8_t>((byte & 0x0F) | (nibble << 4));
    }
    return out;
}

Bytes asciiBytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

Bytes gsmBytes(std::string_view text) {
    Bytes out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '@':
                out.push_back(0x00);
                break;
            case '$':
                out.push_back(0x02);
                break;
            case '_':
                out.push_back(0x11);
                break;
            case '[':
            case '\\':
            case ']':
            case '^':
            case '`':
            case '{':
            case '|':
            case '}':
            case '~':
                throw std::invalid_argument("gsmBytes: needs the GSM extension table");
            default:
                if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) {
                    throw std::invalid_argument("gsmBytes: not in the GSM default alphabet");
                }
                out.push_back(static_cast<std::uint8_t>(c));
        }
    }
    return out;
}

Bytes ucs2Bytes(std::u16string_view text) {
    Bytes out;
    out.reserve(text.size() * 2);
    for (char16_t unit : text) {
        out.push_back(high(static_cast<std::uint16_t>(unit)));
        out.push_back(low(static_cast<std::uint16_t>(unit)));
    }
    return out;
}

Bytes nameSlotBytes(const ExtendedGeometry& g, ByteView name, bool ucs2,
                    const std::vector<int>& groups) {
    if (g.nameSlotLength < kNameTextOffset) {
        refuse("name slots need at least 4 bytes");
    }
    requireFits(name.size(),
                std::min<std::size_t>(kMaxNameLength, g.nameSlotLength - kNameTextOffset), "name");
    static constexpr std::uint8_t kEmptyNamePlaceholder[] = {0x20};
    if (name.empty()) {
        name = kEmptyNamePlaceholder;
    }
    Bytes slot(g.nameSlotLength, 0xFF);
    std::uint16_t bits = 0;  // byte 0 high, byte 1 low; group d is bit d - 1 of bits >> 6
    for (int group : groups) {
        if (group < 1 || group > 8) {
            refuse("group numbers are 1 to 8");
        }
        bits = static_cast<std::uint16_t>(bits | (1u << (group - 1 + 6)));
    }
    slot[0] = high(bits);
    slot[1] = static_cast<std::uint8_t>(low(bits) | (ucs2 ? 0x20 : 0x00) | name.size());
    slot[2] = 0x00;
    slot[3] = 0x00;
    std::copy(name.begin(), name.end(), slot.begin() + kNameTextOffset);
    return slot;
}

Bytes numberSlotBytes(const ExtendedGeometry& g, std::uint16_t contactIndex, NumberType type,
                      std::string_view digits, std::uint8_t tonNpi) {
    if (g.numberSlotLength < kNumberBcdOffset) {
        refuse("number slots need at least 4 bytes");
    }
    const Bytes bcd = packBcd(digits);
    requireFits(bcd.size() + 1, std::min<std::size_t>(kMaxNumberLength, g.numberSlotLength - 3),
                "number");
    Bytes slot(g.numberSlotLength, 0xFF);
    writeBe16(&slot[0], contactIndex);
    slot[2] = static_cast<std::uint8_t>(static_cast<unsigned>(type) << 5 | (bcd.size() + 1));
    slot[3] = tonNpi;
    std::copy(bcd.begin(), bcd.end(), slot.begin() + kNumberBcdOffset);
    return slot;
}

Bytes adiEntryBytes(const ExtendedGeometry& g, std::uint16_t contactIndex, int kind, bool ucs2,
                    ByteView text) {
    if (kind != 0 && kind != 1) {
        refuse("ADI kinds are 0 and 1");
    }
    if (g.adiRecordLength < kAdiTextOffset) {
        refuse("ADI records need at least 3 bytes");
    }
    requireFits(text.size(),
                std::min<std::size_t>(kMaxAdiLength, g.adiRecordLength - kAdiTextOffset),
                "ADI text");
    Bytes entry(g.adiRecordLength, 0xFF);
    writeBe16(&entry[0], contactIndex);
    entry[2] = static_cast<std::uint8_t>((kind << 7) | (ucs2 ? 0x40 : 0x00) |
                                         static_cast<int>(text.size()));
    std::copy(text.begin(), text.end(), entry.begin() + kAdiTextOffset);
    return entry;
}

Bytes groupRecordBytes(const ExtendedGeometry& g, ByteView name) {
    requireFits(name.size(), g.groupNameLength, "group name");
    Bytes record(static_cast<std::size_t>(g.groupNameLength) + 1, 0xFF);
    record[0] = byteOf(name.size());
    std::copy(name.begin(), name.end(), record.begin() + 1);
    return record;
}

Bytes adnRecordBytes(std::uint8_t recordLength, ByteView alpha, std::string_view digits,
                     std::uint8_t tonNpi) {
    if (recordLength < kAdnFooterLength) {
        refuse("EF_ADN records need at least 14 bytes");
    }
    const std::size_t alphaLength = recordLength - kAdnFooterLength;
    requireFits(alpha.size(), alphaLength, "alpha identifier");
    const Bytes bcd = packBcd(digits);
    requireFits(bcd.size(), kAdnBcdLength, "dialling number");
    Bytes record(recordLength, 0xFF);
    std::copy(alpha.begin(), alpha.end(), record.begin());
    if (!digits.empty()) {
        record[alphaLength] = byteOf(bcd.size() + 1);
        record[alphaLength + 1] = tonNpi;
        std::copy(bcd.begin(), bcd.end(),
                  record.begin() + static_cast<std::ptrdiff_t>(alphaLength + 2));
    }
    return record;
}

Bytes smsRecordBytes(std::uint8_t status, ByteView body) {
    requireFits(body.size(), kSmsRecordLength - 1, "message");
    Bytes record(kSmsRecordLength, 0xFF);
    record[0] = status;
    std::copy(body.begin(), body.end(), record.begin() + 1);
    return record;
}

// ---------------------------------------------------------------------------

void putNameSlotBytes(CardImage& image, const ExtendedGeometry& g, std::size_t slot,
                      ByteView bytes) {
    if (slot == 0 || slot > g.nameSlotCount) {
        refuse("name slot " + std::to_string(slot) + " does not exist (1 to " +
               std::to_string(g.nameSlotCount) + ")");
    }
    requireFits(bytes.size(), g.nameSlotLength, "name slot");
    writeTransparent(image, {g.directory, files::kName}, (slot - 1) * g.nameSlotLength,
                     padded(bytes, g.nameSlotLength), "name slot");
}

void putNumberSlotBytes(CardImage& image, const ExtendedGeometry& g, std::size_t slot,
                        ByteView bytes) {
    if (slot >= g.numberSlotCount) {
        refuse("number slot " + std::to_string(slot) + " does not exist (0 to " +
               std::to_string(g.numberSlotCount) + " - 1)");
    }
    requireFits(bytes.size(), g.numberSlotLength, "number slot");
    writeTransparent(image, {g.directory, files::kNumber}, slot * g.numberSlotLength,
                     padded(bytes, g.numberSlotLength), "number slot");
}

void putNameSlot(CardImage& image, const ExtendedGeometry& g, std::size_t slot, ByteView name,
                 bool ucs2, const std::vector<int>& groups) {
    putNameSlotBytes(image, g, slot, nameSlotBytes(g, name, ucs2, groups));
}

void putNumberSlot(CardImage& image, const ExtendedGeometry& g, std::size_t slot,
                   std::uint16_t contactIndex, NumberType type, std::string_view digits,
                   std::uint8_t tonNpi) {
    putNumberSlotBytes(image, g, slot, numberSlotBytes(g, contactIndex, type, digits, tonNpi));
}

void putAdiEntry(CardImage& image, const ExtendedGeometry& g, std::size_t entry,
                 std::uint16_t contactIndex, int kind, bool ucs2, ByteView text) {
    writeRecord(image, {g.directory, files::kAdi}, entry + 1,
                adiEntryBytes(g, contactIndex, kind, ucs2, text), "ADI entry");
}

void putGroupName(CardImage& image, const ExtendedGeometry& g, std::size_t record, ByteView name) {
    writeRecord(image, {g.directory, files::kGroup}, record, groupRecordBytes(g, name),
                "group record");
}

void putAdnRecord(CardImage& image, std::size_t record, ByteView alpha, std::string_view digits,
                  std::uint8_t tonNpi) {
    const SimFile* adn = image.find({files::kTelecom, files::kAdn});
    if (adn == nullptr || adn->kind != FileKind::kLinearFixed) {
        refuse("EF_ADN: the card has none");
    }
    writeRecord(image, {files::kTelecom, files::kAdn}, record,
                adnRecordBytes(adn->recordLength, alpha, digits, tonNpi), "EF_ADN record");
}

void putSmsRecord(CardImage& image, std::size_t record, std::uint8_t status, ByteView body) {
    writeRecord(image, {files::kTelecom, files::kSms}, record, smsRecordBytes(status, body),
                "EF_SMS record");
}

void putExtraMessage(CardImage& image, std::size_t record, std::uint8_t status, ByteView body) {
    writeRecord(image, {files::kTelecom, files::kExtraMessages}, record,
                smsRecordBytes(status, body), "extra message record");
}

void setExtraIndex(CardImage& image, std::size_t record, std::uint8_t value) {
    if (record == 0) {
        refuse("extra message records are numbered from 1");
    }
    const std::uint8_t byte[] = {value};
    writeTransparent(image, {files::kTelecom, files::kExtraMessageIndex}, record - 1, byte,
                     "extra message index");
}

}  // namespace zrn::sim
