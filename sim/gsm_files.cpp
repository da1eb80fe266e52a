// The everyday files of a Phase 2 SIM (GSM 11.11 chapter 10), with contents a
// phone would find on a freshly issued card of the test network 001-01.
#include <string_view>

#include "sim/card_builder.h"

namespace zrn::sim {

namespace {

constexpr std::uint8_t kAdnLikeRecordLength = 28;  // 14 alpha bytes + 14
constexpr std::uint8_t kSmspAlphaLength = 12;
constexpr std::uint8_t kSmspRecordLength = kSmspAlphaLength + 28;
constexpr std::uint8_t kExtensionRecordLength = 13;
constexpr std::uint8_t kAcmRecordLength = 3;

Bytes hexBytes(std::string_view text) {
    Bytes bytes;
    fromHex(text, bytes);
    return bytes;
}

// The access conditions of one file (GSM 11.11 chapter 10).
struct Conditions {
    Access read;
    Access update;
    Access invalidate = Access::kAdm;
    Access rehabilitate = Access::kAdm;
    Access increase = Access::kNever;
};

void setConditions(SimFile& file, const Conditions& c) {
    file.readAccess = c.read;
    file.updateAccess = c.update;
    file.invalidateAccess = c.invalidate;
    file.rehabilitateAccess = c.rehabilitate;
    file.increaseAccess = c.increase;
}

void transparent(CardImage& image, std::initializer_list<std::uint16_t> path, std::string_view hex,
                 const Conditions& conditions) {
    if (image.find(path) == nullptr) {
        setConditions(image.putTransparent(path, hexBytes(hex)), conditions);
    }
}

// A record file of `count` empty records; `first` (if any) goes into record 1.
void records(CardImage& image, std::initializer_list<std::uint16_t> path, FileKind kind,
             std::uint8_t length, std::size_t count, const Bytes& first,
             const Conditions& conditions) {
    if (image.find(path) != nullptr) {
        return;
    }
    SimFile& file = kind == FileKind::kCyclic ? image.putCyclic(path, length, count)
                                              : image.putLinearFixed(path, length, count);
    setConditions(file, conditions);
    if (!first.empty()) {
        image.setRecord(path, 0, first);
    }
}

// TS 24.008 address as EF_SMSP holds it: length of TON/NPI and BCD, TON/NPI, BCD.
Bytes smscAddress(std::string_view number) {
    const bool international = !number.empty() && number.front() == '+';
    const Bytes bcd = packBcd(international ? number.substr(1) : number);
    Bytes out{static_cast<std::uint8_t>(bcd.size() + 1),
              static_cast<std::uint8_t>(international ? 0x91 : 0x81)};
    out.insert(out.end(), bcd.begin(), bcd.end());
    return out;
}

// EF_SMSP record (GSM 11.11 10.5.6): alpha, parameter indicators (0 = present),
// destination, service centre, PID, DCS, validity period.
Bytes smspRecord() {
    Bytes record(kSmspRecordLength, 0xFF);
    const Bytes name = asciiBytes(kSampleServiceCentreName);
    std::copy(name.begin(), name.end(), record.begin());
    std::size_t at = kSmspAlphaLength;
    record[at++] = 0xE1;  // destination absent; centre, PID, DCS, validity present
    at += 12;             // TP-Destination Address: absent
    const Bytes centre = smscAddress(kSampleServiceCentre);
    std::copy(centre.begin(), centre.end(), record.begin() + static_cast<std::ptrdiff_t>(at));
    at += 12;
    record[at++] = 0x00;  // TP-PID: plain message
    record[at++] = 0x00;  // TP-DCS: GSM 7-bit
    record[at] = 0xA7;    // TP-VP: 24 hours
    return record;
}

// EF_SPN: display condition, then the name in the GSM alphabet padded FF.
std::string spnHex() {
    Bytes spn(17, 0xFF);
    spn[0] = 0x01;  // show the registered network's name as well
    const Bytes name = gsmBytes(kSampleProviderName);
    std::copy(name.begin(), name.end(), spn.begin() + 1);
    return toHex(spn, false);
}

}  // namespace

void addGsmFiles(CardImage& image) {
    using enum Access;
    using files::kGsm;
    using files::kTelecom;

    transparent(image, {files::kElp}, "656E7A68FFFFFFFFFFFF", {kAlways, kChv1});  // en, zh

    // DF_GSM. 6F07: IMSI 001010123456789 (odd length, parity 9).
    transparent(image, {kGsm, files::kLp}, "0100FFFF", {kAlways, kChv1});  // English, German
    transparent(image, {kGsm, files::kImsi}, "080910101032547698", {kChv1, kAdm});
    transparent(image, {kGsm, files::kKc}, "FFFFFFFFFFFFFFFF07", {kChv1, kChv1});  // no key yet
    transparent(image, {kGsm, files::kPlmnSelector},
                "00F110FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF", {kChv1, kChv1});
    transparent(image, {kGsm, files::kHplmnPeriod}, "0A", {kChv1, kAdm});  // 10 x 6 minutes
    transparent(image, {kGsm, files::kAcmMax}, "000000", {kChv1, kChv2});  // no limit
    // SST: services 1-4, 5 (AOC), 7 (PLMN selector), 9-12 (MSISDN, EXT1, EXT2,
    // SMSP), 13-14 (LND, CBMI) and 17 (SPN) allocated and activated.
    transparent(image, {kGsm, files::kSst}, "FF33FF0F03", {kChv1, kAdm});
    records(image, {kGsm, files::kAcm}, FileKind::kCyclic, kAcmRecordLength, 5, hexBytes("000000"),
            {kChv1, kChv1, kAdm, kAdm, kChv1});
    transparent(image, {kGsm, files::kPuct}, "FFFFFF0000", {kChv1, kChv2});
    transparent(image, {kGsm, files::kCbmi}, "FFFFFFFFFFFFFFFFFFFF", {kChv1, kChv1});
    transparent(image, {kGsm, files::kSpn}, spnHex(), {kAlways, kAdm});
    transparent(image, {kGsm, files::kBcch}, "00000000000000000000000000000000", {kChv1, kChv1});
    transparent(image, {kGsm, files::kAcc}, "0200",
                {kChv1, kAdm});  // class 9, the IMSI's last digit
    transparent(image, {kGsm, files::kFplmn}, "FFFFFFFFFFFFFFFFFFFFFFFF", {kChv1, kChv1});
    // LOCI: no TMSI, LAI 001-01 area 0001, location update status "not updated".
    transparent(image, {kGsm, files::kLoci}, "FFFFFFFF00F1100001FF01", {kChv1, kChv1});
    transparent(image, {kGsm, files::kAd}, "00000002", {kAlways, kAdm});  // normal operation
    transparent(image, {kGsm, files::kPhase}, "02", {kAlways, kAdm});     // Phase 2

    // DF_TELECOM.
    records(image, {kTelecom, files::kFdn}, FileKind::kLinearFixed, kAdnLikeRecordLength, 10, {},
            {kChv1, kChv2});
    records(
        image, {kTelecom, files::kMsisdn}, FileKind::kLinearFixed, kAdnLikeRecordLength, 2,
        adnRecordBytes(kAdnLikeRecordLength, asciiBytes(kSampleOwnNumberName), kSampleOwnNumber),
        {kChv1, kChv1});
    records(image, {kTelecom, files::kSmsp}, FileKind::kLinearFixed, kSmspRecordLength, 2,
            smspRecord(), {kChv1, kChv1});
    transparent(image, {kTelecom, files::kSmss}, "00FF",
                {kChv1, kChv1});  // last TP-MR, memory free
    records(image, {kTelecom, files::kLnd}, FileKind::kCyclic, kAdnLikeRecordLength, 5, {},
            {kChv1, kChv1});
    records(image, {kTelecom, files::kExt1}, FileKind::kLinearFixed, kExtensionRecordLength, 5, {},
            {kChv1, kChv1});
    records(image, {kTelecom, files::kExt2}, FileKind::kLinearFixed, kExtensionRecordLength, 5, {},
            {kChv1, kChv2});
}

}  // namespace zrn::sim
