#pragma once

// Card images for tests, samples and tools. The builders write the card files
// byte by byte from their documented layouts and share no code with the
// library, so they can serve as the oracle the library is checked against.
//
// Index conventions follow the card layouts: name slots and group records are
// 1-based (the slot number is the contact index), number slots and ADI entries
// are 0-based (ADI entry e is card record e + 1), EF_ADN, EF_SMS and extra
// message records are 1-based card record numbers.
//
// Every helper throws std::invalid_argument when its arguments do not fit the
// layout (text longer than the slot, slot beyond the file, ...). To put bytes
// on the card that no honest writer produces, use the *Bytes variants or
// CardImage::setRecord / putTransparent directly.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "channel/bytes.h"
#include "sim/card_image.h"

namespace zrn::sim {

// File identifiers the builders create.
namespace files {
constexpr std::uint16_t kMf = 0x3F00;
constexpr std::uint16_t kTelecom = 0x7F10;
constexpr std::uint16_t kGsm = 0x7F20;
constexpr std::uint16_t kSecondDirectory = 0x5F00;
constexpr std::uint16_t kIccid = 0x2FE2;
constexpr std::uint16_t kOption = 0x2F99;
constexpr std::uint16_t kAdn = 0x6F3A;
constexpr std::uint16_t kSms = 0x6F3C;
constexpr std::uint16_t kExtraMessages = 0x1F3C;
constexpr std::uint16_t kExtraMessageIndex = 0x1F02;
constexpr std::uint16_t kConfig = 0x9000;
constexpr std::uint16_t kName = 0x6F04;
constexpr std::uint16_t kNumber = 0x6F06;
constexpr std::uint16_t kAdi = 0x6F08;
constexpr std::uint16_t kGroup = 0x6F0C;
// GSM 11.11 chapter 10: the usual files of a Phase 2 SIM.
constexpr std::uint16_t kElp = 0x2F05;
constexpr std::uint16_t kLp = 0x6F05;
constexpr std::uint16_t kImsi = 0x6F07;
constexpr std::uint16_t kKc = 0x6F20;
constexpr std::uint16_t kPlmnSelector = 0x6F30;
constexpr std::uint16_t kHplmnPeriod = 0x6F31;
constexpr std::uint16_t kAcmMax = 0x6F37;
constexpr std::uint16_t kSst = 0x6F38;
constexpr std::uint16_t kAcm = 0x6F39;
constexpr std::uint16_t kPuct = 0x6F41;
constexpr std::uint16_t kCbmi = 0x6F45;
constexpr std::uint16_t kSpn = 0x6F46;
constexpr std::uint16_t kBcch = 0x6F74;
constexpr std::uint16_t kAcc = 0x6F78;
constexpr std::uint16_t kFplmn = 0x6F7B;
constexpr std::uint16_t kLoci = 0x6F7E;
constexpr std::uint16_t kAd = 0x6FAD;
constexpr std::uint16_t kPhase = 0x6FAE;
constexpr std::uint16_t kFdn = 0x6F3B;
constexpr std::uint16_t kMsisdn = 0x6F40;
constexpr std::uint16_t kSmsp = 0x6F42;
constexpr std::uint16_t kSmss = 0x6F43;
constexpr std::uint16_t kLnd = 0x6F44;
constexpr std::uint16_t kExt1 = 0x6F4A;
constexpr std::uint16_t kExt2 = 0x6F4B;
}  // namespace files

constexpr std::size_t kSmsRecordLength = 176;
constexpr std::size_t kOptionFileLength = 10;
constexpr std::size_t kConfigFileLength = 20;

// A typical T=0 SIM answer to reset, used when a builder is given none.
Bytes defaultAtr();
// ICCID 89 86 00 ... as 10 bytes of swapped-nibble BCD.
Bytes defaultIccid();

// ---------------------------------------------------------------------------
// Standard layout: EF_ADN and EF_SMS under 7F10, optional extra message store.

struct StandardCardOptions {
    std::size_t adnCount = 100;         // EF_ADN records
    std::uint8_t adnRecordLength = 28;  // alpha field = record length - 14
    std::size_t smsCount = 10;          // EF_SMS records (176 bytes each)
    std::size_t extraMessageCount = 0;  // 1F3C records; 0: no extra message file
    bool extraMessageIndex = true;      // 1F02 beside a non-empty 1F3C
    bool optionFile = false;            // 2F99 in the MF, 10 bytes
    std::uint8_t optionFlags = 0;       // its byte 4
    Bytes atr;                          // empty: defaultAtr()
    Bytes iccid;                        // empty: defaultIccid()
    bool gsmFiles = true;               // addGsmFiles()
};

// MF with ICCID 2FE2 (and 2F99 when asked), DF 7F10 with EF_ADN 6F3A and
// EF_SMS 6F3C (all records FF), DF 7F20; 1F3C and 1F02 under 7F10 when
// extraMessageCount > 0 (records FF, index bytes 00).
CardImage buildStandardCard(const StandardCardOptions& options = {});

// The files a Phase 2 SIM carries beside the phone book and the messages, with
// fictitious contents (test network 001-01, IMSI 001010123456789, service
// centre kSampleServiceCentre) and the access conditions of GSM 11.11
// chapter 10: ELP in the MF; LP, IMSI, Kc, PLMN selector, HPLMN period,
// ACM max, SST, ACM (cyclic), PUCT, CBMI, SPN, BCCH, ACC, FPLMN, LOCI, AD and
// PHASE under 7F20; FDN, MSISDN, SMSP, SMSS, LND (cyclic), EXT1 and EXT2
// under 7F10. Files already there are left as they are; EF_ADN and EF_SMS are
// not touched.
void addGsmFiles(CardImage& image);
constexpr const char* kSampleServiceCentre = "+8613800755500";
constexpr const char* kSampleImsi = "001010123456789";
constexpr const char* kSampleOwnNumber = "13800000000";
// Alpha identifiers the samples give the service-centre and own-number records.
constexpr const char* kSampleServiceCentreName = "ZRN SMSC";
constexpr const char* kSampleOwnNumberName = "My number";
constexpr const char* kSampleProviderName = "ZRN Test";

// ---------------------------------------------------------------------------
// Extended layout.

struct ExtendedGeometry {
    std::uint16_t directory = files::kTelecom;  // 7F10 or 5F00
    std::uint8_t nameSlotLength = 36;
    std::uint8_t numberSlotLength = 24;
    std::uint16_t adnCount = 250;  // number slots 0..adnCount-1 hold ADN numbers
    std::uint16_t nameSlotCount = 250;
    std::uint16_t numberSlotCount = 750;  // including the ADN region
    std::uint8_t groupCount = 8;
    std::uint8_t groupNameLength = 12;  // a group record is this + 1 bytes
    std::uint16_t adiCount = 100;
    std::uint8_t adiRecordLength = 64;
    std::uint8_t smsCount = 20;  // configuration byte 14
    std::uint16_t capacity6 = 0;
    std::uint16_t capacity7 = 0;
    std::uint8_t optionFlags = 0x12;  // option file byte 4
    std::uint8_t configByte9 = 0;     // configuration bytes nobody reads
    std::uint8_t configByte19 = 0;

    // The files every card carries beside the phone book, under 7F10.
    std::size_t adnRecords = 10;        // EF_ADN records of 28 bytes
    std::size_t smsRecords = 20;        // EF_SMS records
    std::size_t extraMessageCount = 0;  // 1F3C records; 0: none
    bool extraMessageIndex = true;      // 1F02 beside a non-empty 1F3C
    Bytes atr;                          // empty: defaultAtr()
    bool gsmFiles = true;               // addGsmFiles()
};

// The 20 bytes of configuration file 9000 for `geometry`.
Bytes configurationBytes(const ExtendedGeometry& geometry);
// The 10 bytes of option file 2F99 (byte 4 = optionFlags, the rest 00).
Bytes optionBytes(const ExtendedGeometry& geometry);

// MF with 2FE2 and 2F99; DFs 7F10 and 7F20 (and 5F00 when it is the
// directory); under the directory 9000, 6F04 and 6F06 (transparent,
// slotCount x slotLength, FF), 6F08 (adiCount records of adiRecordLength,
// left out when adiCount is 0), 6F0C (groupCount records of
// groupNameLength + 1, left out when groupCount is 0); under 7F10 EF_ADN,
// EF_SMS and the optional extra message store.
CardImage buildExtendedCard(const ExtendedGeometry& geometry);

// ---------------------------------------------------------------------------
// Content encoders: the exact card bytes of one slot or record.

enum class NumberType : std::uint8_t { kMbl = 1, kHme = 2, kOfe = 3, kAdn = 4, kOtr = 5 };

// Digit text to packed BCD: each character is a nibble (c - 0x30, so
// ':'..'?' are A..F), the earlier digit in the low nibble, filler F.
Bytes packBcd(std::string_view digits);
// Text helpers: ASCII bytes unchanged (letters, digits and space coincide with
// the GSM default alphabet), and UTF-16 as big-endian UCS-2.
Bytes asciiBytes(std::string_view text);
// ASCII text in the GSM 7-bit default alphabet (GSM 03.38): '@' is 00, '$' 02,
// '_' 11; characters that need the extension table or lie outside it throw.
Bytes gsmBytes(std::string_view text);
Bytes ucs2Bytes(std::u16string_view text);

// Name slot: byte 0 groups 3-8 in bits 0-5; byte 1 name length (bits 0-4),
// UCS-2 flag (bit 5), group 1 (bit 6), group 2 (bit 7); bytes 2-3 00; name
// from byte 4; the rest FF. `groups` holds group numbers 1 to 8. An empty
// name is stored as the placeholder: length 1, text 20.
Bytes nameSlotBytes(const ExtendedGeometry& geometry, ByteView name, bool ucs2,
                    const std::vector<int>& groups);
// Number slot: contact index (big-endian), type code << 5 | (BCD bytes + 1),
// TON/NPI, BCD digits; the rest FF.
Bytes numberSlotBytes(const ExtendedGeometry& geometry, std::uint16_t contactIndex, NumberType type,
                      std::string_view digits, std::uint8_t tonNpi = 0x81);
// ADI entry: contact index, kind << 7 | ucs2 << 6 | text length, text; the rest FF.
Bytes adiEntryBytes(const ExtendedGeometry& geometry, std::uint16_t contactIndex, int kind,
                    bool ucs2, ByteView text);
// Group record: name length, name; the rest FF.
Bytes groupRecordBytes(const ExtendedGeometry& geometry, ByteView name);
// EF_ADN record (GSM 11.11 10.5.1): alpha field padded FF, number length
// (BCD bytes + 1; FF without number), TON/NPI (FF without number), 10 BCD
// bytes padded FF, CCP FF, EXT FF.
Bytes adnRecordBytes(std::uint8_t recordLength, ByteView alpha, std::string_view digits,
                     std::uint8_t tonNpi = 0x81);
// EF_SMS record (GSM 11.11 10.5.3): status byte, then `body` (SMSC address
// followed by the TPDU), padded with FF to 176 bytes.
Bytes smsRecordBytes(std::uint8_t status, ByteView body);

// ---------------------------------------------------------------------------
// Content writers: the encoders above, put into an image built by
// buildExtendedCard / buildStandardCard.

// Name slot m (1-based, the contact index).
void putNameSlot(CardImage& image, const ExtendedGeometry& geometry, std::size_t slot,
                 ByteView name, bool ucs2 = false, const std::vector<int>& groups = {});
// Number slot s (0-based).
void putNumberSlot(CardImage& image, const ExtendedGeometry& geometry, std::size_t slot,
                   std::uint16_t contactIndex, NumberType type, std::string_view digits,
                   std::uint8_t tonNpi = 0x81);
// ADI entry e (0-based, card record e + 1).
void putAdiEntry(CardImage& image, const ExtendedGeometry& geometry, std::size_t entry,
                 std::uint16_t contactIndex, int kind, bool ucs2, ByteView text);
// Group record r (1-based, group r).
void putGroupName(CardImage& image, const ExtendedGeometry& geometry, std::size_t record,
                  ByteView name);
// Raw slot bytes (shorter input is padded FF, longer is refused).
void putNameSlotBytes(CardImage& image, const ExtendedGeometry& geometry, std::size_t slot,
                      ByteView bytes);
void putNumberSlotBytes(CardImage& image, const ExtendedGeometry& geometry, std::size_t slot,
                        ByteView bytes);

// EF_ADN record n (1-based) under 7F10, laid out for the file's record length.
void putAdnRecord(CardImage& image, std::size_t record, ByteView alpha, std::string_view digits,
                  std::uint8_t tonNpi = 0x81);
// EF_SMS record n (1-based).
void putSmsRecord(CardImage& image, std::size_t record, std::uint8_t status, ByteView body);
// Extra message file record n (1-based) and its index byte (record n is index
// byte n - 1).
void putExtraMessage(CardImage& image, std::size_t record, std::uint8_t status, ByteView body);
void setExtraIndex(CardImage& image, std::size_t record, std::uint8_t value);

}  // namespace zrn::sim
