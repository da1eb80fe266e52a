#include "cli/sms_pdu.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <map>
#include <tuple>

#include "cli/element_stream.h"
#include "cli/text/alpha.h"
#include "cli/text/gsm7.h"
#include "cli/text/utf8.h"

namespace zrn::cli {

namespace {

constexpr std::size_t kSmsHexLength = 2 * kSmsRecordSize;
constexpr std::uint8_t kTonInternational = 0x10;  // TON bits 6-4 = 001
constexpr std::uint8_t kTonAlphanumeric = 0x50;   // TON bits 6-4 = 101
constexpr std::uint8_t kUdhi = 0x40;
constexpr std::uint8_t kIeiSingleShift = 0x24;
constexpr std::uint8_t kIeiLockingShift = 0x25;
constexpr std::size_t kMaxSeptets = 160;
constexpr std::size_t kMaxOctets = 140;
constexpr std::size_t kMaxCommandData = 157;  // TP-CDL, TS 23.040 9.2.3.20

// Reads a record front to back; every read past the end is noted, not performed.
class Reader {
  public:
    explicit Reader(ByteView data) : data_(data) {}

    std::uint8_t byte() {
        if (pos_ >= data_.size()) {
            short_ = true;
            return 0;
        }
        return data_[pos_++];
    }
    ByteView take(std::size_t n) {
        const std::size_t available = std::min(n, data_.size() - pos_);
        if (available < n) {
            short_ = true;
        }
        const ByteView out = data_.subspan(pos_, available);
        pos_ += available;
        return out;
    }
    ByteView rest() { return take(data_.size() - pos_); }
    bool atEnd() const { return pos_ >= data_.size(); }
    bool wasShort() const { return short_; }

  private:
    ByteView data_;
    std::size_t pos_ = 0;
    bool short_ = false;
};

char semiOctetChar(unsigned nibble) {
    static constexpr char kChars[] = "0123456789*#abc";
    return nibble < 15 ? kChars[nibble] : '\0';
}

std::string semiOctetDigits(ByteView bytes, std::size_t maxDigits) {
    std::string out;
    for (const std::uint8_t b : bytes) {
        for (const unsigned nibble : {b & 0x0Fu, static_cast<unsigned>(b >> 4)}) {
            if (out.size() >= maxDigits || nibble == 0x0F) {
                return out;
            }
            out.push_back(semiOctetChar(nibble));
        }
    }
    return out;
}

std::string withPlus(std::uint8_t tonNpi, std::string digits) {
    if ((tonNpi & 0x70) == kTonInternational && !digits.empty()) {
        return "+" + digits;
    }
    return digits;
}

// TP-OA / TP-DA / TP-RA (TS 23.040 9.1.2.5): length in digits, TON/NPI, digits.
std::string readAddress(Reader& r) {
    const std::uint8_t digits = r.byte();
    const std::uint8_t tonNpi = r.byte();
    const ByteView value = r.take((digits + 1u) / 2u);
    if ((tonNpi & 0x70) == kTonAlphanumeric) {
        const std::size_t septets = static_cast<std::size_t>(digits) * 4 / 7;
        return text::decodeGsmUnpacked(text::unpackSeptets(value, septets));
    }
    return withPlus(tonNpi, semiOctetDigits(value, digits));
}

int bcdSwapped(std::uint8_t b) {
    const int low = b & 0x0F;
    const int high = b >> 4;
    return low > 9 || high > 9 ? -1 : low * 10 + high;
}

// TP-SCTS (TS 23.040 9.2.3.11) as ISO 8601; empty when a field is not a date.
std::string readTimestamp(Reader& r) {
    const ByteView t = r.take(7);
    if (t.size() < 7) {
        return {};
    }
    std::array<int, 6> f{};
    for (std::size_t i = 0; i < 6; ++i) {
        f[i] = bcdSwapped(t[i]);
        if (f[i] < 0) {
            return {};
        }
    }
    const int tzTens = t[6] & 0x07;
    const int tzUnits = t[6] >> 4;
    if (tzUnits > 9 || f[1] < 1 || f[1] > 12 || f[2] < 1 || f[2] > 31 || f[3] > 23 || f[4] > 59 ||
        f[5] > 59) {
        return {};
    }
    const int quarters = tzTens * 10 + tzUnits;
    const bool negative = (t[6] & 0x08) != 0;
    const int year = f[0] >= 90 ? 1900 + f[0] : 2000 + f[0];
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", year, f[1],
                  f[2], f[3], f[4], f[5], negative ? '-' : '+', quarters / 4, (quarters % 4) * 15);
    return buffer;
}

std::string alphabetOf(std::uint8_t dcs) {
    const unsigned group = dcs >> 4;
    if (group <= 0x7) {
        if ((dcs & 0x20) != 0) {
            return "compressed";
        }
        switch ((dcs >> 2) & 0x03) {
            case 1:
                return "8bit";
            case 2:
                return "ucs2";
            default:
                return "gsm7";
        }
    }
    if (group == 0xE) {
        return "ucs2";
    }
    if (group == 0xF) {
        return (dcs & 0x04) != 0 ? "8bit" : "gsm7";
    }
    return "gsm7";
}

// A national language shift (IE 0x24 single, 0x25 locking; TS 23.040
// 9.2.3.24.15-16). An identifier without a table leaves the default one.
void takeNationalShift(std::uint8_t iei, std::uint8_t language, DecodedSms& sms) {
    const bool locking = iei == kIeiLockingShift;
    const bool known =
        locking ? text::hasLockingShiftTable(language) : text::hasSingleShiftTable(language);
    if (!known) {
        sms.problem = std::string("no national ") + (locking ? "locking" : "single") +
                      " shift table for language " + std::to_string(language) +
                      "; the default one is used";
        return;
    }
    (locking ? sms.nationalTables.locking : sms.nationalTables.single) = language;
}

void parseHeader(ByteView header, DecodedSms& sms) {
    std::size_t i = 0;
    while (i + 2 <= header.size()) {
        const std::uint8_t iei = header[i];
        const std::uint8_t length = header[i + 1];
        if (i + 2 + length > header.size()) {
            sms.problem = "user-data header element runs past the header";
            return;
        }
        const ByteView data = header.subspan(i + 2, length);
        if (iei == 0x00 && length == 3 && data[1] != 0 && data[2] >= 1 && data[2] <= data[1]) {
            sms.concatenation = Concatenation{data[0], data[1], data[2]};
        } else if (iei == 0x08 && length == 4 && data[2] != 0 && data[3] >= 1 &&
                   data[3] <= data[2]) {
            sms.concatenation = Concatenation{data[0] << 8 | data[1], data[2], data[3]};
        } else if ((iei == kIeiSingleShift || iei == kIeiLockingShift) && length == 1) {
            takeNationalShift(iei, data[0], sms);
        }
        i += 2 + length;
    }
}

// The user data of a record is at most what is left of the record; a length
// that says more is cut there, without the 0xFF padding that fills a record
// after its message (TS 23.040 9.2.3.16 allows 160 septets or 140 octets).
ByteView userDataInRecord(Reader& r, std::uint8_t udl, bool septets, DecodedSms& sms) {
    const std::size_t octets = septets ? (udl * 7u + 7u) / 8u : udl;
    ByteView ud = r.take(octets);
    const std::size_t limit = septets ? kMaxSeptets : kMaxOctets;
    if (ud.size() < octets || udl > limit) {
        while (!ud.empty() && ud.back() == 0xFF) {
            ud = ud.first(ud.size() - 1);
        }
        sms.problem = "the user data length (" + std::to_string(udl) +
                      (septets ? " septets" : " octets") +
                      ") runs past the record: the text is cut at the record's end";
    }
    return ud;
}

void readUserData(Reader& r, std::uint8_t firstOctet, DecodedSms& sms) {
    const std::uint8_t udl = r.byte();
    sms.encoding = alphabetOf(static_cast<std::uint8_t>(sms.dataCoding));
    const bool septets = sms.encoding == "gsm7";
    const ByteView ud = userDataInRecord(r, udl, septets, sms);
    std::size_t headerOctets = 0;
    if ((firstOctet & kUdhi) != 0 && !ud.empty()) {
        headerOctets = std::min<std::size_t>(ud[0] + 1u, ud.size());
        sms.userDataHeader.assign(ud.begin() + 1, ud.begin() + static_cast<long>(headerOctets));
        parseHeader(sms.userDataHeader, sms);
    }
    if (septets) {
        const std::size_t headerSeptets = (headerOctets * 8 + 6) / 7;
        const std::size_t fill = headerSeptets * 7 - headerOctets * 8;
        const std::size_t count = udl > headerSeptets ? udl - headerSeptets : 0;
        sms.text = text::decodeGsmUnpacked(
            text::unpackSeptets(ud.subspan(headerOctets), count, fill), sms.nationalTables);
    } else if (sms.encoding == "ucs2") {
        sms.text = text::decodeUcs2Text(ud.subspan(headerOctets), false);
    } else {
        sms.text = toHex(ud.subspan(headerOctets), false);
    }
}

void decodeDeliver(Reader& r, std::uint8_t first, DecodedSms& sms) {
    sms.kind = SmsKind::kDeliver;
    sms.address = readAddress(r);
    sms.protocolId = r.byte();
    sms.dataCoding = r.byte();
    sms.timestamp = readTimestamp(r);
    readUserData(r, first, sms);
}

void decodeSubmit(Reader& r, std::uint8_t first, DecodedSms& sms) {
    sms.kind = SmsKind::kSubmit;
    sms.messageReference = r.byte();
    sms.address = readAddress(r);
    sms.protocolId = r.byte();
    sms.dataCoding = r.byte();
    switch ((first >> 3) & 0x03) {
        case 2:
            r.take(1);  // relative validity period
            break;
        case 1:
        case 3:
            r.take(7);  // enhanced or absolute
            break;
        default:
            break;
    }
    readUserData(r, first, sms);
}

// TS 23.040 9.2.2.3. The optional parameters follow TP-ST when TP-PI says
// so; a record's 0xFF padding is no TP-PI.
void decodeStatusReport(Reader& r, std::uint8_t first, DecodedSms& sms) {
    sms.kind = SmsKind::kStatusReport;
    sms.messageReference = r.byte();
    sms.address = readAddress(r);
    sms.timestamp = readTimestamp(r);
    sms.dischargeTime = readTimestamp(r);
    sms.reportStatus = r.byte();
    sms.encoding = "gsm7";
    const std::string report = "status report: " + reportStatusMeaning(sms.reportStatus);
    if (r.atEnd()) {
        sms.text = report;
        return;
    }
    const std::uint8_t pi = r.byte();
    if (r.wasShort() || (pi & 0xF8) != 0) {
        sms.text = report;
        return;
    }
    if ((pi & 0x01) != 0) {
        sms.protocolId = r.byte();
    }
    if ((pi & 0x02) != 0) {
        sms.dataCoding = r.byte();
    }
    if ((pi & 0x04) != 0) {
        readUserData(r, first, sms);
        sms.text = report + (sms.text.empty() ? "" : "\n" + sms.text);
    } else {
        sms.text = report;
    }
}

// TS 23.040 9.2.2.4: a request about a message sent before.
void decodeCommand(Reader& r, DecodedSms& sms) {
    sms.kind = SmsKind::kCommand;
    sms.messageReference = r.byte();
    sms.protocolId = r.byte();
    sms.commandType = r.byte();
    sms.messageNumber = r.byte();
    sms.address = readAddress(r);
    const std::uint8_t length = r.byte();
    const ByteView data = r.take(std::min<std::size_t>(length, kMaxCommandData));
    sms.encoding = "8bit";
    sms.text = "command: " + commandTypeMeaning(sms.commandType) + " (message " +
               std::to_string(sms.messageNumber) + ")";
    if (!data.empty()) {
        sms.text += ", data " + toHex(data, false);
    }
    if (length > kMaxCommandData) {
        sms.problem = "command data length " + std::to_string(length) + " is over " +
                      std::to_string(kMaxCommandData) + " octets";
    }
}

// A record of message type 2 is a status report when the phone received it
// and a command when the phone sent it; phones also keep status reports with
// a sent status, so a record that holds a whole status report (two valid
// time stamps) is read as one whatever its status says.
void decodeReportOrCommand(const Reader& at, std::uint8_t first, bool received, DecodedSms& sms) {
    Reader report = at;
    DecodedSms asReport = sms;
    decodeStatusReport(report, first, asReport);
    const bool wholeReport =
        !asReport.timestamp.empty() && !asReport.dischargeTime.empty() && !report.wasShort();
    if (received || wholeReport) {
        sms = std::move(asReport);
        if (report.wasShort() && sms.problem.empty()) {
            sms.problem = "the record ends inside the message";
        }
        return;
    }
    Reader command = at;
    decodeCommand(command, sms);
    if (command.wasShort() && sms.problem.empty()) {
        sms.problem = "the record ends inside the message";
    }
}

// --- encoding ----------------------------------------------------------------

struct Address {
    std::uint8_t tonNpi = 0x81;
    Bytes bcd;
    std::size_t digits = 0;
};

Outcome<Address> parseAddress(std::string_view text) {
    Address a;
    std::string digits(text);
    if (!digits.empty() && digits[0] == '+') {
        a.tonNpi = 0x91;
        digits.erase(0, 1);
    }
    if (digits.size() > 20) {
        return Outcome<Address>::failure("address " + std::string(text) +
                                         " is longer than 20 digits");
    }
    std::vector<unsigned> nibbles;
    for (const char c : digits) {
        if (c >= '0' && c <= '9') {
            nibbles.push_back(static_cast<unsigned>(c - '0'));
        } else if (c == '*') {
            nibbles.push_back(0xA);
        } else if (c == '#') {
            nibbles.push_back(0xB);
        } else {
            return Outcome<Address>::failure("address " + std::string(text) +
                                             " holds a character that is not a digit, * or #");
        }
    }
    a.digits = nibbles.size();
    for (std::size_t i = 0; i < nibbles.size(); i += 2) {
        const unsigned high = i + 1 < nibbles.size() ? nibbles[i + 1] : 0xF;
        a.bcd.push_back(static_cast<std::uint8_t>(high << 4 | nibbles[i]));
    }
    return a;
}

bool parseIso(std::string_view text, std::array<int, 6>& f, int& offsetMinutes) {
    int n = 0;
    char sign = 'Z';
    int tzh = 0;
    int tzm = 0;
    const std::string s(text);
    if (std::sscanf(s.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &f[0], &f[1], &f[2], &f[3], &f[4],
                    &f[5], &n) != 6) {
        return false;
    }
    const std::string zone = s.substr(static_cast<std::size_t>(n));
    if (zone == "Z" || zone.empty()) {
        offsetMinutes = 0;
    } else if (std::sscanf(zone.c_str(), "%c%2d:%2d", &sign, &tzh, &tzm) == 3 &&
               (sign == '+' || sign == '-')) {
        offsetMinutes = (sign == '-' ? -1 : 1) * (tzh * 60 + tzm);
    } else {
        return false;
    }
    return f[0] >= 1990 && f[0] <= 2089 && f[1] >= 1 && f[1] <= 12 && f[2] >= 1 && f[2] <= 31 &&
           f[3] <= 23 && f[4] <= 59 && f[5] <= 59 && offsetMinutes % 15 == 0 &&
           offsetMinutes / 15 >= -79 && offsetMinutes / 15 <= 79;
}

std::uint8_t swapped(int value) {
    return static_cast<std::uint8_t>((value % 10) << 4 | (value / 10));
}

Outcome<Bytes> timestampBytes(std::string_view text) {
    std::array<int, 6> f{};
    int offset = 0;
    if (text.empty()) {
        const std::time_t now = std::time(nullptr);
        std::tm utc{};
        gmtime_r(&now, &utc);
        f = {utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec};
    } else if (!parseIso(text, f, offset)) {
        return Outcome<Bytes>::failure("time stamp \"" + std::string(text) +
                                       "\" is not of the form 2024-05-01T12:30:00+02:00");
    }
    Bytes out;
    out.push_back(swapped(f[0] % 100));
    for (std::size_t i = 1; i < 6; ++i) {
        out.push_back(swapped(f[i]));
    }
    const int quarters = std::abs(offset) / 15;
    out.push_back(static_cast<std::uint8_t>(swapped(quarters) | (offset < 0 ? 0x08 : 0x00)));
    return out;
}

struct Segment {
    Bytes userData;  // header included
    std::size_t udl = 0;
};

// How a new message's text is coded: UCS-2, or septets read with a pair of
// tables (the default ones, or national ones named in the header).
struct Coding {
    bool ucs2 = false;
    text::Gsm7Tables tables;
};

// The header elements that name national tables (TS 23.040 9.2.3.24.15-16).
Bytes nationalShiftElements(const Coding& coding) {
    Bytes out;
    if (coding.tables.locking != 0) {
        out.insert(out.end(),
                   {kIeiLockingShift, 0x01, static_cast<std::uint8_t>(coding.tables.locking)});
    }
    if (coding.tables.single != 0) {
        out.insert(out.end(),
                   {kIeiSingleShift, 0x01, static_cast<std::uint8_t>(coding.tables.single)});
    }
    return out;
}

Bytes utf16Of(char32_t c) {
    if (c <= 0xFFFF) {
        return {static_cast<std::uint8_t>(c >> 8), static_cast<std::uint8_t>(c)};
    }
    const char32_t v = c - 0x10000;
    const char32_t hi = 0xD800 + (v >> 10);
    const char32_t lo = 0xDC00 + (v & 0x3FF);
    return {static_cast<std::uint8_t>(hi >> 8), static_cast<std::uint8_t>(hi),
            static_cast<std::uint8_t>(lo >> 8), static_cast<std::uint8_t>(lo)};
}

// The septets of each character, or its UTF-16 bytes; nothing when a
// character has no code in the tables.
std::optional<std::vector<Bytes>> unitsOf(const std::u32string& text, const Coding& coding) {
    std::vector<Bytes> units;
    units.reserve(text.size());
    for (const char32_t c : text) {
        if (coding.ucs2) {
            units.push_back(utf16Of(c));
        } else if (auto septets = text::gsmSeptetsOf(c, coding.tables)) {
            units.push_back(std::move(*septets));
        } else {
            return std::nullopt;
        }
    }
    return units;
}

// The user data a header of `elements` octets (its length octet added) takes:
// octets for UCS-2, septets (the header padded to a septet boundary) otherwise.
std::size_t headerUnits(std::size_t elements, bool ucs2) {
    if (elements == 0) {
        return 0;
    }
    const std::size_t octets = elements + 1;
    return ucs2 ? octets : (octets * 8 + 6) / 7;
}

constexpr std::size_t kConcatenationElement = 5;  // 00 03 reference total sequence

// The text split into the parts of one coding; a character's units (an
// escape and its code, a surrogate pair) never straddle two parts.
struct Plan {
    Coding coding;
    std::vector<Bytes> chunks;
    std::size_t octets = 0;  // user data of all parts, headers included
};

Plan planParts(const std::vector<Bytes>& units, const Coding& coding) {
    const std::size_t room = coding.ucs2 ? kMaxOctets : kMaxSeptets;
    const std::size_t shifts = nationalShiftElements(coding).size();
    std::size_t total = 0;
    for (const auto& u : units) {
        total += u.size();
    }
    Plan plan{coding, {}, 0};
    const std::size_t single = room - headerUnits(shifts, coding.ucs2);
    if (total <= single) {
        plan.chunks.emplace_back();
        for (const auto& u : units) {
            plan.chunks[0].insert(plan.chunks[0].end(), u.begin(), u.end());
        }
    } else {
        const std::size_t perPart = room - headerUnits(shifts + kConcatenationElement, coding.ucs2);
        Bytes current;
        for (const auto& u : units) {
            if (current.size() + u.size() > perPart) {
                plan.chunks.push_back(std::move(current));
                current.clear();
            }
            current.insert(current.end(), u.begin(), u.end());
        }
        plan.chunks.push_back(std::move(current));
    }
    const std::size_t header =
        headerUnits(shifts + (plan.chunks.size() > 1 ? kConcatenationElement : 0), coding.ucs2);
    for (const Bytes& chunk : plan.chunks) {
        const std::size_t used = header + chunk.size();
        plan.octets += coding.ucs2 ? used : (used * 7 + 7) / 8;
    }
    return plan;
}

bool shorter(const Plan& a, const Plan& b) {
    return std::pair(a.chunks.size(), a.octets) < std::pair(b.chunks.size(), b.octets);
}

// The default alphabet when it codes the text; otherwise UCS-2, unless a
// national language's tables code it in fewer parts or fewer octets.
Plan choosePlan(const std::u32string& text) {
    if (const auto units = unitsOf(text, Coding{})) {
        return planParts(*units, Coding{});
    }
    Plan best = planParts(*unitsOf(text, Coding{true, {}}), Coding{true, {}});
    for (int language = 1; language < text::kNationalLanguageCount; ++language) {
        std::vector<text::Gsm7Tables> candidates = {{0, language}};
        if (text::hasLockingShiftTable(language)) {
            candidates.push_back({language, language});
            candidates.push_back({language, 0});
        }
        for (const text::Gsm7Tables& tables : candidates) {
            const Coding coding{false, tables};
            if (const auto units = unitsOf(text, coding)) {
                Plan plan = planParts(*units, coding);
                if (shorter(plan, best)) {
                    best = std::move(plan);
                }
            }
        }
    }
    return best;
}

// Splits the text into the user data of one or more parts.
Outcome<std::vector<Segment>> segmentText(const std::u32string& text, int reference,
                                          Coding& coding) {
    const Plan plan = choosePlan(text);
    coding = plan.coding;
    const std::vector<Bytes>& chunks = plan.chunks;
    if (chunks.size() > 255) {
        return Outcome<std::vector<Segment>>::failure("the text needs more than 255 parts");
    }
    const Bytes shifts = nationalShiftElements(coding);
    std::vector<Segment> segments;
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        Segment s;
        Bytes elements;
        if (chunks.size() > 1) {
            elements = {0x00, 0x03, static_cast<std::uint8_t>(reference),
                        static_cast<std::uint8_t>(chunks.size()), static_cast<std::uint8_t>(i + 1)};
        }
        elements.insert(elements.end(), shifts.begin(), shifts.end());
        Bytes header;
        if (!elements.empty()) {
            header.push_back(static_cast<std::uint8_t>(elements.size()));
            header.insert(header.end(), elements.begin(), elements.end());
        }
        s.userData = header;
        if (coding.ucs2) {
            s.userData.insert(s.userData.end(), chunks[i].begin(), chunks[i].end());
            s.udl = s.userData.size();
        } else {
            const std::size_t headerSeptets = (header.size() * 8 + 6) / 7;
            const std::size_t fill = headerSeptets * 7 - header.size() * 8;
            const Bytes packed = text::packSeptets(chunks[i], fill);
            s.userData.insert(s.userData.end(), packed.begin(), packed.end());
            s.udl = headerSeptets + chunks[i].size();
        }
        segments.push_back(std::move(s));
    }
    return segments;
}

std::uint8_t statusByte(SmsStatus status) {
    switch (status) {
        case SmsStatus::kFree:
            return 0x00;
        case SmsStatus::kRead:
            return 0x01;
        case SmsStatus::kUnread:
            return 0x03;
        case SmsStatus::kSent:
            return 0x05;
        case SmsStatus::kUnsent:
            return 0x07;
    }
    return 0x07;
}

}  // namespace

const char* smsStatusName(SmsStatus status) {
    switch (status) {
        case SmsStatus::kFree:
            return "free";
        case SmsStatus::kRead:
            return "read";
        case SmsStatus::kUnread:
            return "unread";
        case SmsStatus::kSent:
            return "sent";
        case SmsStatus::kUnsent:
            return "unsent";
    }
    return "free";
}

std::optional<SmsStatus> smsStatusFromName(std::string_view name) {
    for (const SmsStatus s : {SmsStatus::kFree, SmsStatus::kRead, SmsStatus::kUnread,
                              SmsStatus::kSent, SmsStatus::kUnsent}) {
        if (name == smsStatusName(s)) {
            return s;
        }
    }
    return std::nullopt;
}

SmsStatus smsStatusOf(std::uint8_t statusByte) {
    if ((statusByte & 0x01) == 0) {
        return SmsStatus::kFree;
    }
    switch (statusByte & 0x07) {
        case 0x01:
            return SmsStatus::kRead;
        case 0x03:
            return SmsStatus::kUnread;
        case 0x05:
            return SmsStatus::kSent;
        default:
            return SmsStatus::kUnsent;
    }
}

const char* smsKindName(SmsKind kind) {
    switch (kind) {
        case SmsKind::kNone:
            return "none";
        case SmsKind::kDeliver:
            return "deliver";
        case SmsKind::kSubmit:
            return "submit";
        case SmsKind::kStatusReport:
            return "status-report";
        case SmsKind::kCommand:
            return "command";
    }
    return "none";
}

namespace {

// Anything but the uniform 0xFF (or 0x00) a cleared record is filled with.
bool hasBytesBeyondPadding(ByteView record) {
    const ByteView rest = record.subspan(1);
    return std::any_of(rest.begin(), rest.end(), [](std::uint8_t b) { return b != 0xFF; }) &&
           std::any_of(rest.begin(), rest.end(), [](std::uint8_t b) { return b != 0x00; });
}

// The service centre address and the TPDU after the status byte.
void decodeTransfer(ByteView record, DecodedSms& sms) {
    Reader r(record.subspan(1));
    const std::uint8_t smscLength = r.byte();
    if (smscLength != 0 && smscLength != 0xFF) {
        if (smscLength > 11) {
            sms.problem = "service centre address longer than GSM allows";
            return;
        }
        const std::uint8_t tonNpi = r.byte();
        sms.smsc = withPlus(tonNpi, semiOctetDigits(r.take(smscLength - 1u), 20));
    }
    const std::uint8_t first = r.byte();
    const bool received = sms.status == SmsStatus::kRead || sms.status == SmsStatus::kUnread;
    switch (first & 0x03) {
        case 0:
            decodeDeliver(r, first, sms);
            break;
        case 1:
            decodeSubmit(r, first, sms);
            break;
        case 2:
            decodeReportOrCommand(r, first, received, sms);
            return;
        default:
            sms.problem = "reserved message type";
            break;
    }
    if (r.wasShort() && sms.problem.empty()) {
        sms.problem = "the record ends inside the message";
    }
}

}  // namespace

DecodedSms decodeSmsRecord(ByteView record) {
    DecodedSms sms;
    if (record.empty()) {
        sms.problem = "empty record";
        return sms;
    }
    sms.status = smsStatusOf(record[0]);
    if (sms.status != SmsStatus::kFree) {
        decodeTransfer(record, sms);
        return sms;
    }
    if (!hasBytesBeyondPadding(record)) {
        return sms;
    }
    // A deleted message keeps its bytes; what decodes to no message at all is
    // left as the free record it is.
    DecodedSms recovered = sms;
    recovered.deleted = true;
    decodeTransfer(record, recovered);
    const bool isMessage =
        recovered.kind != SmsKind::kNone && (!recovered.address.empty() || !recovered.text.empty());
    return isMessage ? recovered : sms;
}

bool holdsDeletedMessage(ByteView record) {
    return decodeSmsRecord(record).deleted;
}

std::string reportStatusMeaning(int status) {
    static const std::map<int, const char*> kMeanings = {
        {0x00, "short message received by the SME"},
        {0x01, "forwarded by the SC to the SME, delivery not confirmed"},
        {0x02, "short message replaced by the SC"},
        {0x20, "congestion; the SC is still trying"},
        {0x21, "SME busy; the SC is still trying"},
        {0x22, "no response from SME; the SC is still trying"},
        {0x23, "service rejected; the SC is still trying"},
        {0x24, "quality of service not available; the SC is still trying"},
        {0x25, "error in SME; the SC is still trying"},
        {0x40, "remote procedure error"},
        {0x41, "incompatible destination"},
        {0x42, "connection rejected by SME"},
        {0x43, "not obtainable"},
        {0x44, "quality of service not available"},
        {0x45, "no interworking available"},
        {0x46, "SM validity period expired"},
        {0x47, "SM deleted by originating SME"},
        {0x48, "SM deleted by SC administration"},
        {0x49, "SM does not exist"},
        {0x60, "congestion; the SC has stopped trying"},
        {0x61, "SME busy; the SC has stopped trying"},
        {0x62, "no response from SME; the SC has stopped trying"},
        {0x63, "service rejected; the SC has stopped trying"},
        {0x64, "quality of service not available; the SC has stopped trying"},
        {0x65, "error in SME; the SC has stopped trying"},
    };
    char code[8];
    std::snprintf(code, sizeof code, "%02X", static_cast<unsigned>(status & 0xFF));
    const auto it = kMeanings.find(status);
    if (it != kMeanings.end()) {
        return std::string(it->second) + " (" + code + ")";
    }
    // The service centre's own values in each range (TS 23.040 9.2.3.15).
    const char* range =
        status >= 0x10 && status <= 0x1F   ? "delivered"
        : status >= 0x30 && status <= 0x3F ? "not yet delivered; the SC is still trying"
        : status >= 0x50 && status <= 0x5F ? "not delivered"
        : status >= 0x70 && status <= 0x7F ? "not delivered; the SC has stopped trying"
                                           : "reserved status";
    return std::string(range) + " (" + code + ")";
}

std::string commandTypeMeaning(int type) {
    switch (type) {
        case 0x00:
            return "enquiry about a previously submitted message";
        case 0x01:
            return "cancel the status report request of a previously submitted message";
        case 0x02:
            return "delete a previously submitted message";
        case 0x03:
            return "enable the status report request of a previously submitted message";
        default:
            break;
    }
    char code[8];
    std::snprintf(code, sizeof code, "%02X", static_cast<unsigned>(type & 0xFF));
    return std::string(type >= 0xE0 ? "service centre's own command " : "reserved command type ") +
           code;
}

std::vector<SmsMessage> assembleMessages(const std::vector<StoredSms>& stored) {
    std::vector<SmsMessage> messages;
    std::vector<DecodedSms> decoded;
    decoded.reserve(stored.size());
    for (const StoredSms& s : stored) {
        decoded.push_back(decodeSmsRecord(s.record));
    }
    using Key = std::tuple<int, std::string, int, int>;
    std::map<Key, std::size_t> open;  // concatenated message -> index in messages
    for (std::size_t i = 0; i < stored.size(); ++i) {
        const DecodedSms& d = decoded[i];
        if (d.concatenation) {
            const Key key{static_cast<int>(d.kind), d.address, d.concatenation->reference,
                          d.concatenation->total};
            const auto it = open.find(key);
            if (it != open.end()) {
                SmsMessage& m = messages[it->second];
                const bool duplicate = std::any_of(m.parts.begin(), m.parts.end(), [&](auto p) {
                    return decoded[p].concatenation->sequence == d.concatenation->sequence;
                });
                if (!duplicate) {
                    m.parts.push_back(i);
                    continue;
                }
            }
            open[key] = messages.size();
        }
        SmsMessage m;
        m.parts.push_back(i);
        m.totalParts = d.concatenation ? d.concatenation->total : 1;
        messages.push_back(std::move(m));
    }
    for (SmsMessage& m : messages) {
        std::stable_sort(m.parts.begin(), m.parts.end(), [&](std::size_t a, std::size_t b) {
            const auto& ca = decoded[a].concatenation;
            const auto& cb = decoded[b].concatenation;
            return (ca ? ca->sequence : 0) < (cb ? cb->sequence : 0);
        });
        m.first = decoded[m.parts.front()];
        int expected = 1;
        for (const std::size_t p : m.parts) {
            const auto& c = decoded[p].concatenation;
            if (c) {
                for (; expected < c->sequence; ++expected) {
                    m.text += "[part " + std::to_string(expected) + " missing]";
                }
                expected = c->sequence + 1;
            }
            m.text += decoded[p].text;
        }
        if (m.first.concatenation) {
            for (; expected <= m.totalParts; ++expected) {
                m.text += "[part " + std::to_string(expected) + " missing]";
            }
            m.complete = static_cast<int>(m.parts.size()) == m.totalParts;
        }
    }
    return messages;
}

Outcome<std::vector<Bytes>> encodeSmsDraft(const SmsDraft& draft) {
    using Result = Outcome<std::vector<Bytes>>;
    if (draft.status == SmsStatus::kFree) {
        return Result::failure("a message to store needs a status other than free");
    }
    const bool deliver = draft.status == SmsStatus::kRead || draft.status == SmsStatus::kUnread;
    auto address = parseAddress(draft.address);
    if (!address) {
        return Result::failure(address.error());
    }
    Bytes smsc{0x00};
    if (!draft.smsc.empty()) {
        auto centre = parseAddress(draft.smsc);
        if (!centre) {
            return Result::failure("service centre: " + centre.error());
        }
        smsc = {static_cast<std::uint8_t>(centre->bcd.size() + 1), centre->tonNpi};
        smsc.insert(smsc.end(), centre->bcd.begin(), centre->bcd.end());
    }
    Bytes timestamp;
    if (deliver) {
        auto ts = timestampBytes(draft.timestamp);
        if (!ts) {
            return Result::failure(ts.error());
        }
        timestamp = ts.value();
    }
    Coding coding;
    auto segments = segmentText(text::decodeUtf8(draft.text), draft.reference, coding);
    if (!segments) {
        return Result::failure(segments.error());
    }
    std::vector<Bytes> records;
    for (const Segment& s : segments.value()) {
        Bytes r{statusByte(draft.status)};
        r.insert(r.end(), smsc.begin(), smsc.end());
        const bool header = segments->size() > 1 || coding.tables != text::Gsm7Tables{};
        if (deliver) {
            r.push_back(static_cast<std::uint8_t>(0x04 | (header ? kUdhi : 0)));
        } else {
            r.push_back(static_cast<std::uint8_t>(0x01 | (header ? kUdhi : 0)));
            r.push_back(0x00);  // message reference, set by the phone when it sends
        }
        r.push_back(static_cast<std::uint8_t>(address->digits));
        r.push_back(address->tonNpi);
        r.insert(r.end(), address->bcd.begin(), address->bcd.end());
        r.push_back(0x00);                       // protocol identifier
        r.push_back(coding.ucs2 ? 0x08 : 0x00);  // data coding: UCS-2 or the 7-bit alphabet
        r.insert(r.end(), timestamp.begin(), timestamp.end());
        r.push_back(static_cast<std::uint8_t>(s.udl));
        r.insert(r.end(), s.userData.begin(), s.userData.end());
        if (r.size() > kSmsRecordSize) {
            return Result::failure("the message does not fit a 176-byte record");
        }
        r.resize(kSmsRecordSize, 0xFF);
        records.push_back(std::move(r));
    }
    return records;
}

Bytes smsElement(std::string_view store, ByteView record) {
    Bytes out;
    appendHead(out, store, static_cast<std::uint32_t>(kSmsHexLength));
    Bytes full(record.begin(), record.end());
    full.resize(kSmsRecordSize, 0xFF);
    const std::string hex = toHex(full, false);
    out.insert(out.end(), hex.begin(), hex.end());
    return out;
}

Outcome<std::vector<StoredSms>> parseSmsStream(ByteView stream) {
    using Result = Outcome<std::vector<StoredSms>>;
    auto elements = splitElements(stream);
    if (!elements) {
        return Result::failure("message stream: " + elements.error());
    }
    std::vector<StoredSms> out;
    std::map<std::string, int> positions;
    for (const Element& e : elements.value()) {
        if (e.tag != "CMS" && e.tag != "LMS" && e.tag != "EMS") {
            return Result::failure("message stream: unexpected element " + e.tag + " at offset " +
                                   std::to_string(e.offset));
        }
        Bytes record;
        if (e.value.size() != kSmsHexLength ||
            !fromHex(
                std::string_view(reinterpret_cast<const char*>(e.value.data()), e.value.size()),
                record) ||
            record.size() != kSmsRecordSize) {
            return Result::failure("message stream: element at offset " + std::to_string(e.offset) +
                                   " does not hold a 176-byte record as hex text");
        }
        out.push_back({e.tag, ++positions[e.tag], std::move(record)});
    }
    return out;
}

}  // namespace zrn::cli
