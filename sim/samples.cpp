#include "sim/samples.h"

#include <string>
#include <string_view>
#include <vector>

namespace zrn::sim {

namespace {

// --- Short-message records (3GPP TS 23.040) ---------------------------------
// Just enough of an encoder to put real TPDUs on the sample cards.

constexpr std::uint8_t kStatusRead = 0x01;
constexpr std::uint8_t kStatusUnread = 0x03;
constexpr std::uint8_t kStatusSent = 0x05;
constexpr std::uint8_t kStatusUnsent = 0x07;

constexpr std::uint8_t kDcsGsm7 = 0x00;
constexpr std::uint8_t kDcsUcs2 = 0x08;

// Digits with an optional leading '+' (international) as an address value.
struct Address {
    std::string digits;
    std::uint8_t tonNpi;
};

Address address(std::string_view number) {
    if (!number.empty() && number.front() == '+') {
        return {std::string(number.substr(1)), 0x91};
    }
    return {std::string(number), 0x81};
}

// TS 24.008 style service-centre address: length in octets, TON/NPI, BCD.
Bytes serviceCentre(std::string_view number) {
    const Address a = address(number);
    const Bytes bcd = packBcd(a.digits);
    Bytes out;
    out.reserve(bcd.size() + 2);
    out.push_back(static_cast<std::uint8_t>(bcd.size() + 1));
    out.push_back(a.tonNpi);
    for (std::uint8_t b : bcd) {
        out.push_back(b);
    }
    return out;
}

// TP-OA / TP-DA: length in digits, TON/NPI, BCD.
Bytes tpAddress(std::string_view number) {
    const Address a = address(number);
    const Bytes bcd = packBcd(a.digits);
    Bytes out;
    out.reserve(bcd.size() + 2);
    out.push_back(static_cast<std::uint8_t>(a.digits.size()));
    out.push_back(a.tonNpi);
    for (std::uint8_t b : bcd) {
        out.push_back(b);
    }
    return out;
}

// "YYMMDDhhmmss" and the zone in quarter hours, as swapped semi-octets.
Bytes timestamp(std::string_view digits, int quarterHours) {
    std::string all(digits);
    all += std::to_string(quarterHours / 10) + std::to_string(quarterHours % 10);
    return packBcd(all);
}

// Packs septets with `fillBits` zero bits before them (after a user-data header).
Bytes packSeptets(std::string_view text, std::size_t fillBits) {
    Bytes out;
    std::size_t bit = fillBits;
    out.resize((fillBits + text.size() * 7 + 7) / 8, 0x00);
    for (char c : text) {
        // Letters, digits, space and the punctuation used here share their
        // codes with the GSM default alphabet.
        const auto septet = static_cast<unsigned>(static_cast<unsigned char>(c) & 0x7F);
        for (int b = 0; b < 7; ++b, ++bit) {
            if ((septet >> b) & 1u) {
                out[bit / 8] = static_cast<std::uint8_t>(out[bit / 8] | (1u << (bit % 8)));
            }
        }
    }
    return out;
}

struct UserData {
    std::uint8_t dcs;
    std::uint8_t length;  // TP-UDL: septets for GSM 7-bit, octets for UCS-2
    Bytes bytes;          // header included
};

// Concatenation header with 8-bit reference (IEI 00).
Bytes concatenationHeader(std::uint8_t reference, std::uint8_t total, std::uint8_t part) {
    return {0x05, 0x00, 0x03, reference, total, part};
}

UserData gsm7(std::string_view text, const Bytes& header = {}) {
    const std::size_t headerBits = header.size() * 8;
    const std::size_t fill = (7 - headerBits % 7) % 7;
    Bytes packed = packSeptets(text, headerBits + fill);
    std::copy(header.begin(), header.end(), packed.begin());
    const std::size_t septets = (headerBits + fill) / 7 + text.size();
    return {kDcsGsm7, static_cast<std::uint8_t>(septets), packed};
}

UserData ucs2(std::u16string_view text, const Bytes& header = {}) {
    Bytes bytes = header;
    const Bytes body = ucs2Bytes(text);
    bytes.insert(bytes.end(), body.begin(), body.end());
    return {kDcsUcs2, static_cast<std::uint8_t>(bytes.size()), bytes};
}

void append(Bytes& out, const Bytes& more) {
    out.insert(out.end(), more.begin(), more.end());
}

const char* const kServiceCentre = kSampleServiceCentre;

// Every sample has a CHV2 (GSM 11.11 6.6), as real cards do.
Chv sampleChv2(const char* pin, const char* puk) {
    Chv chv2;
    chv2.enabled = true;  // CHV2 cannot be disabled
    chv2.pin = pin;
    chv2.puk = puk;
    return chv2;
}

// SMSC address + SMS-DELIVER.
Bytes deliver(std::string_view from, std::string_view when, const UserData& ud,
              bool withHeader = false) {
    Bytes out = serviceCentre(kServiceCentre);
    out.push_back(withHeader ? 0x44 : 0x04);  // MTI deliver, no more messages, UDHI
    append(out, tpAddress(from));
    out.push_back(0x00);  // TP-PID
    out.push_back(ud.dcs);
    append(out, timestamp(when, 32));  // UTC+8
    out.push_back(ud.length);
    append(out, ud.bytes);
    return out;
}

// SMSC address + SMS-SUBMIT with a relative validity period of one day.
Bytes submit(std::string_view to, std::uint8_t reference, const UserData& ud,
             bool withHeader = false) {
    Bytes out = serviceCentre(kServiceCentre);
    out.push_back(withHeader ? 0x51 : 0x11);  // MTI submit, VPF relative, UDHI
    out.push_back(reference);                 // TP-MR
    append(out, tpAddress(to));
    out.push_back(0x00);  // TP-PID
    out.push_back(ud.dcs);
    out.push_back(0xA7);  // 24 hours
    out.push_back(ud.length);
    append(out, ud.bytes);
    return out;
}

// A free message record: status 00, the rest FF (GSM 11.11 10.5.3).
void freeRecord(CardImage& image, std::initializer_list<std::uint16_t> path, std::size_t record) {
    Bytes bytes(kSmsRecordLength, 0xFF);
    bytes[0] = 0x00;
    image.setRecord(path, record - 1, bytes);
}

// --- SIM alpha coding (GSM 11.11 annex B) ------------------------------------

Bytes alpha80(std::u16string_view text) {
    Bytes out{0x80};
    append(out, ucs2Bytes(text));
    return out;
}

// 81 form: length, base pointer bits 15-8 (base = byte << 7), then one byte per
// character: below 80 a GSM character, else 80 + offset from the base.
Bytes alpha81(std::u16string_view text, std::uint16_t base) {
    Bytes out{0x81, static_cast<std::uint8_t>(text.size()), static_cast<std::uint8_t>(base >> 7)};
    for (char16_t c : text) {
        out.push_back(c < 0x80 ? static_cast<std::uint8_t>(c)
                               : static_cast<std::uint8_t>(0x80 + (c - base)));
    }
    return out;
}

// 82 form: length, 16-bit base, then the characters as in the 81 form.
Bytes alpha82(std::u16string_view text, std::uint16_t base) {
    Bytes out{0x82, static_cast<std::uint8_t>(text.size()), static_cast<std::uint8_t>(base >> 8),
              static_cast<std::uint8_t>(base)};
    for (char16_t c : text) {
        out.push_back(c < 0x80 ? static_cast<std::uint8_t>(c)
                               : static_cast<std::uint8_t>(0x80 + (c - base)));
    }
    return out;
}

// The long message of both samples, split as a phone splits it (153 septets a part).
const std::string kLongText =
    "Hi all, the meeting moved to Thursday 10 am in room 4B. Please bring the Q3 figures "
    "and the draft budget. Lunch is provided. Reply to this message if you cannot come, "
    "and we will send the notes by e-mail afterwards. Thanks, Lin";

std::string longTextPart(int part) {
    return part == 1 ? kLongText.substr(0, 153) : kLongText.substr(153);
}

void putStandardMessages(CardImage& image) {
    putSmsRecord(image, 1, kStatusRead,
                 deliver("+8613912345678", "240315093000", gsm7("See you at 7 at the station.")));
    putSmsRecord(
        image, 2, kStatusUnread,
        deliver("10086", "240316120501",
                ucs2(u"\u60a8\u597d\uff0c\u60a8\u672c\u6708\u7684\u8bdd\u8d39\u8d26"
                     u"\u5355\u5df2\u751f\u6210\uff0c\u8bf7\u767b\u5f55\u67e5\u770b\u3002")));
    putSmsRecord(image, 3, kStatusRead,
                 deliver("+8613700001111", "240317080000",
                         gsm7(longTextPart(1), concatenationHeader(0x2A, 2, 1)), true));
    putSmsRecord(image, 4, kStatusRead,
                 deliver("+8613700001111", "240317080001",
                         gsm7(longTextPart(2), concatenationHeader(0x2A, 2, 2)), true));
    putSmsRecord(image, 5, kStatusSent,
                 submit("+8613912345678", 0x01, gsm7("OK, I will be there. Bring the tickets!")));
    putSmsRecord(image, 6, kStatusUnsent, submit("13800138000", 0x02, ucs2(u"\u660e\u5929\u89c1")));
    putSmsRecord(
        image, 7, kStatusUnread,
        deliver("+447700900123", "240318221510", gsm7("Your parcel is out for delivery.")));
    putSmsRecord(image, 8, kStatusSent, submit("95588", 0x03, gsm7("CXYE")));
    freeRecord(image, {files::kTelecom, files::kSms}, 9);
    freeRecord(image, {files::kTelecom, files::kSms}, 10);
}

}  // namespace

CardImage standardSample() {
    StandardCardOptions options;
    options.adnCount = 100;
    options.smsCount = 10;
    CardImage image = buildStandardCard(options);

    struct Entry {
        std::size_t record;
        Bytes alpha;
        const char* digits;
        std::uint8_t tonNpi;
    };
    const std::vector<Entry> entries = {
        {1, asciiBytes("Mum"), "13912345678", 0x81},
        {2, asciiBytes("Dad"), "13812345678", 0x81},
        {3, asciiBytes("Home"), "075583761234", 0x81},
        {4, asciiBytes("Office"), "2125550123", 0x81},
        {5, asciiBytes("Lin Wei"), "8613700001111", 0x91},
        {6, asciiBytes("Anna Schmidt"), "4930123456", 0x91},
        {7, asciiBytes("Dr. Brown"), "447700900123", 0x91},
        {8, asciiBytes("Taxi"), "96900", 0x81},
        {9, asciiBytes("Voicemail"), "13800755500", 0x81},
        {10, alpha80(u"\u5f20\u4f1f"), "13688889999", 0x81},                             // 张伟
        {11, alpha81(u"\u0418\u0432\u0430\u043d", 0x0400), "79161234567", 0x91},         // Иван
        {12, alpha82(u"\u0395\u03bb\u03ad\u03bd\u03b7", 0x0380), "306912345678", 0x91},  // Ελένη
        {13, alpha80(u"\u674e\u5a1c"), "15012345678", 0x81},                             // 李娜
        {14, asciiBytes("Bank"), "95588", 0x81},
        {15, asciiBytes("Pizza 24h"), "4006123123", 0x81},
        {16, asciiBytes("Carlos"), "34612345678", 0x91},
        {17, asciiBytes("Emergency"), "112", 0x81},
        {18, asciiBytes("Service"), "10086", 0x81},
        {25, asciiBytes("Old friend"), "13000000001", 0x81},
        {40, asciiBytes("No number"), "", 0x81},
    };
    for (const Entry& e : entries) {
        putAdnRecord(image, e.record, e.alpha, e.digits, e.tonNpi);
    }
    putStandardMessages(image);
    image.chv2 = sampleChv2("2222", "22222222");
    return image;
}

CardImage pinSample() {
    CardImage image = standardSample();
    image.chv1.enabled = true;
    image.chv1.pin = kPinSamplePin;
    image.chv1.puk = kPinSamplePuk;
    image.chv2 = sampleChv2(kPinSamplePin2, kPinSamplePuk2);
    // The phone book and the messages as GSM 11.11 10.5 protects them.
    for (std::uint16_t id : {files::kAdn, files::kSms}) {
        SimFile& file = *image.find({files::kTelecom, id});
        file.readAccess = Access::kChv1;
        file.updateAccess = Access::kChv1;
        if (id == files::kAdn) {
            file.invalidateAccess = Access::kChv2;
            file.rehabilitateAccess = Access::kChv2;
        }
    }
    return image;
}

ExtendedGeometry extendedSampleGeometry() {
    ExtendedGeometry g;
    g.directory = files::kTelecom;
    g.nameSlotLength = 36;
    g.numberSlotLength = 24;
    g.adnCount = 250;
    g.nameSlotCount = 250;
    g.numberSlotCount = 750;
    g.groupCount = 8;
    g.groupNameLength = 12;
    g.adiCount = 100;
    g.adiRecordLength = 64;
    g.smsCount = 20;
    g.capacity6 = 10;
    g.capacity7 = 0;
    g.optionFlags = 0x12;  // first ADI element kind 0, second kind 1
    g.adnRecords = 10;
    g.smsRecords = 20;
    g.extraMessageCount = 10;
    g.extraMessageIndex = true;
    return g;
}

CardImage extendedSample() {
    const ExtendedGeometry g = extendedSampleGeometry();
    CardImage image = buildExtendedCard(g);

    putGroupName(image, g, 1, asciiBytes("Family"));
    putGroupName(image, g, 2, asciiBytes("Work"));
    putGroupName(image, g, 3, asciiBytes("Friends"));
    putGroupName(image, g, 4, alpha80(u"\u540c\u5b66"));  // 同学, classmates
    putGroupName(image, g, 5, asciiBytes("VIP"));
    for (std::size_t r = 6; r <= 8; ++r) {
        putGroupName(image, g, r, {});
    }

    struct Contact {
        std::size_t slot;
        Bytes name;
        bool ucs2;
        std::vector<int> groups;
    };
    const std::vector<Contact> contacts = {
        {1, asciiBytes("Mum"), false, {1}},
        {2, asciiBytes("Dad"), false, {1}},
        {3, asciiBytes("Lin Wei"), false, {2, 5}},
        {4, ucs2Bytes(u"\u5f20\u4f1f"), true, {2}},  // 张伟
        {5, asciiBytes("Anna Schmidt"), false, {3}},
        {6, ucs2Bytes(u"\u674e\u5a1c"), true, {4, 3}},  // 李娜
        {8, asciiBytes("Dr. Brown"), false, {}},
        {9, ucs2Bytes(u"\u738b\u5c0f\u660e"), true, {4}},  // 王小明
        {10, asciiBytes("Carlos"), false, {3, 5}},
        {11, asciiBytes("Office"), false, {2}},
        {12, ucs2Bytes(u"\u0418\u0432\u0430\u043d"), true, {3}},  // Иван
        {13, asciiBytes("Grandma"), false, {1, 5}},
        {14, asciiBytes("Taxi"), false, {}},
        {15, {}, false, {2}},  // a contact without a name
        {20, asciiBytes("Pizza 24h"), false, {6}},
    };
    for (const Contact& c : contacts) {
        putNameSlot(image, g, c.slot, c.name, c.ucs2, c.groups);
    }

    struct Number {
        std::uint16_t contact;
        NumberType type;
        const char* digits;
    };
    const std::vector<Number> general = {
        {1, NumberType::kAdn, "075583761234"},  {2, NumberType::kAdn, "075583765678"},
        {3, NumberType::kAdn, "8613700001111"}, {4, NumberType::kAdn, "13688889999"},
        {5, NumberType::kAdn, "4930123456"},    {8, NumberType::kAdn, "447700900123"},
        {11, NumberType::kAdn, "2125550123"},   {14, NumberType::kAdn, "96900"},
        {15, NumberType::kAdn, "10086"},        {20, NumberType::kAdn, "4006123123"},
        {3, NumberType::kAdn, "075526881234"},
    };
    // General numbers go to the ADN region, the others after it; leave holes
    // as a phone that deleted entries would.
    std::size_t slot = 0;
    for (const Number& n : general) {
        putNumberSlot(image, g, slot, n.contact, n.type, n.digits);
        slot += slot == 4 ? 3 : 1;
    }
    const std::vector<Number> typed = {
        {1, NumberType::kMbl, "13912345678"},   {1, NumberType::kHme, "075583761234"},
        {2, NumberType::kMbl, "13812345678"},   {3, NumberType::kMbl, "13700001111"},
        {3, NumberType::kOfe, "075526880000"},  {3, NumberType::kMbl, "18600001111"},
        {4, NumberType::kOfe, "01065529988"},   {5, NumberType::kMbl, "491701234567"},
        {5, NumberType::kOtr, "4930987654"},    {6, NumberType::kMbl, "15012345678"},
        {6, NumberType::kHme, "02161234567"},   {9, NumberType::kMbl, "13511112222"},
        {9, NumberType::kOtr, "400800"},        {10, NumberType::kMbl, "34612345678"},
        {12, NumberType::kMbl, "79161234567"},  {12, NumberType::kHme, "74951234567"},
        {13, NumberType::kHme, "075583760001"}, {13, NumberType::kOtr, "13900001234"},
        {8, NumberType::kOfe, "442079460000"},
    };
    slot = g.adnCount;
    for (const Number& n : typed) {
        putNumberSlot(image, g, slot, n.contact, n.type, n.digits);
        slot += slot == g.adnCount + 6u ? 2 : 1;
    }

    struct Adi {
        std::uint16_t contact;
        int kind;
        bool ucs2;
        Bytes text;
    };
    const std::vector<Adi> adis = {
        {3, 0, false, gsmBytes("lin.wei@example.com")},
        {3, 1, false, asciiBytes("Project lead, prefers calls after 10")},
        {4, 0, false, gsmBytes("zhang.wei@example.cn")},
        {5, 0, false, gsmBytes("anna.schmidt@example.de")},
        {5, 1, false, asciiBytes("Birthday 12 May")},
        {6, 1, true, ucs2Bytes(u"\u5927\u5b66\u540c\u5b66")},  // 大学同学
        {8, 0, false, gsmBytes("j.brown@clinic.example.org")},
        {9, 0, false, gsmBytes("xiaoming@example.cn")},
        {9, 1, true, ucs2Bytes(u"\u751f\u65e5\u516d\u6708\u4e00\u65e5")},  // 生日六月一日
        {10, 1, false, asciiBytes("Madrid office")},
        {13, 1, false, asciiBytes("Call on Sundays")},
    };
    for (std::size_t e = 0; e < adis.size(); ++e) {
        const Adi& a = adis[e];
        putAdiEntry(image, g, e, a.contact, a.kind, a.ucs2, a.text);
    }

    // Messages: EF_SMS keeps the everyday traffic; the extra store holds the
    // overflow, marked 2 (LMS) first and 1 (EMS) after, as the writer leaves it.
    putStandardMessages(image);
    putSmsRecord(image, 9, kStatusRead,
                 deliver("+8613511112222", "240320101010", ucs2(u"\u4e0b\u5348\u89c1\u3002")));
    putSmsRecord(
        image, 10, kStatusUnread,
        deliver("+34612345678", "240321181500", gsm7("Hola! Landing at 6, see you soon.")));
    for (std::size_t r = 11; r <= 20; ++r) {
        freeRecord(image, {files::kTelecom, files::kSms}, r);
    }
    putExtraMessage(image, 1, kStatusRead,
                    deliver("+8613912345678", "240301070000", gsm7("Happy birthday! Love, Mum")));
    putExtraMessage(image, 2, kStatusUnread,
                    deliver("95588", "240302093000",
                            ucs2(u"\u60a8\u7684\u8d26\u6237\u5df2\u5165\u8d26\u0031\u0030\u0030"
                                 u"\u0030\u5143\u3002")));
    putExtraMessage(image, 3, kStatusSent,
                    submit("+8613700001111", 0x04, gsm7("Figures attached, see mail.")));
    putExtraMessage(
        image, 4, kStatusRead,
        deliver("+447700900123", "240305150000", gsm7("Appointment confirmed: 8 March 3 pm.")));
    putExtraMessage(image, 5, kStatusUnsent, submit("13800138000", 0x05, gsm7("On my way")));
    for (std::size_t r = 6; r <= 10; ++r) {
        freeRecord(image, {files::kTelecom, files::kExtraMessages}, r);
    }
    const std::uint8_t index[] = {2, 3, 2, 1, 1};  // 3 reads as LMS too
    for (std::size_t r = 1; r <= sizeof index; ++r) {
        setExtraIndex(image, r, index[r - 1]);
    }
    image.chv2 = sampleChv2("2222", "22222222");
    return image;
}

}  // namespace zrn::sim
