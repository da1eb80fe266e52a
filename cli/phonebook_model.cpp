#include "cli/phonebook_model.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "cli/element_stream.h"
#include "cli/text/utf8.h"

namespace zrn::cli {

namespace {

constexpr std::array<NumberType, 5> kTypeOrder = {NumberType::kGeneral, NumberType::kMobile,
                                                  NumberType::kHome, NumberType::kWork,
                                                  NumberType::kOther};
// The element stream and the library's buffers: what ReadZRN can hand back.
constexpr std::size_t kContactBufferSize = 40000;
constexpr std::size_t kGroupNameBudget = 236;  // 300-byte group list less eight heads
constexpr std::size_t kMaxNumberDigits = 60;   // five length bits: (n + 1) / 2 + 1 <= 31
constexpr std::size_t kStandardNumberDigits = 20;
constexpr std::size_t kMaxGroups = 8;

const Bytes kEmptyGpiValue;

std::optional<NumberType> typeFromTag(const std::string& tag) {
    for (const NumberType type : kTypeOrder) {
        if (tag == numberTypeTag(type)) {
            return type;
        }
    }
    return std::nullopt;
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

std::size_t typeRank(NumberType type) {
    return static_cast<std::size_t>(std::find(kTypeOrder.begin(), kTypeOrder.end(), type) -
                                    kTypeOrder.begin());
}

std::size_t saturatingSub(std::size_t a, std::size_t b) {
    return a > b ? a - b : 0;
}

std::string contactLabel(std::size_t index, const std::string& name) {
    std::string label = "contact " + std::to_string(index + 1);
    if (!name.empty()) {
        label += " (\"" + name + "\")";
    }
    return label;
}

std::string groupDigitsOf(const std::vector<int>& groups) {
    std::string out;
    for (const int g : groups) {
        if (!out.empty()) {
            out.push_back('\x01');
        }
        out.push_back(static_cast<char>('0' + g));
    }
    return out;
}

Bytes bytesOf(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

// People's number to digit text; fills `problem` when it cannot be stored.
struct NumberCoding {
    Bytes digits;
    std::string problem;
    bool refused = false;
    bool international = false;
};

NumberCoding numberToDigitText(std::string_view number, const EncodeOptions& options) {
    NumberCoding result;
    std::string text;
    for (const char c : number) {
        if (c == ' ' || c == '-' || c == '(' || c == ')' || c == '.' || c == '/' || c == '\t') {
            continue;  // formatting people add; not part of the number
        }
        text.push_back(c);
    }
    if (!text.empty() && text[0] == '+') {
        if (options.plusAs00) {
            text = "00" + text.substr(1);
        } else {
            text = text.substr(1);
            result.international = true;
        }
        if (text.empty()) {
            result.problem = "number " + std::string(number) + " holds no digit after '+': dropped";
            return result;
        }
    }
    for (const char c : text) {
        std::uint8_t d = 0;
        if (c >= '0' && c <= '9') {
            d = static_cast<std::uint8_t>(c);
        } else if (c == '*') {
            d = 0x3A;
        } else if (c == '#') {
            d = 0x3B;
        } else if (c == 'p' || c == 'P' || c == ',') {
            d = 0x3C;
        } else if (c == '?') {
            d = 0x3D;
        } else if (c == 'e' || c == 'E') {
            d = 0x3E;
        } else {
            result.problem = "number " + std::string(number) + " holds '" + std::string(1, c) +
                             "', which a SIM number cannot hold (digits, * # p ? only): dropped";
            result.digits.clear();
            return result;
        }
        result.digits.push_back(d);
    }
    return result;
}

struct ContactBudget {
    std::size_t adnLeft = 0;
    std::size_t otherLeft = 0;
    std::size_t adiLeft = 0;
};

class Encoder {
  public:
    Encoder(const PhonebookRoom& room, const EncodeOptions& options)
        : room_(room), options_(options) {}

    EncodedPhonebook run(const Phonebook& phonebook) {
        if (room_.extended) {
            encodeGroups(phonebook);
            encodeExtendedContacts(phonebook);
        } else {
            encodeStandardContacts(phonebook);
        }
        buildStream();
        out_.stored = decodePhonebook(out_.raw);
        return std::move(out_);
    }

  private:
    void loss(std::string where, std::string what) {
        out_.issues.push_back({Issue::Kind::kLoss, std::move(where), std::move(what)});
    }
    void refuse(std::string where, std::string what) {
        out_.issues.push_back({Issue::Kind::kRefused, std::move(where), std::move(what)});
    }

    Bytes encodeText(const std::string& where, const char* field, const std::string& text,
                     const text::AlphaRoom& room) {
        const text::EncodedAlpha coded = text::encodeAlpha(text, room);
        if (!coded.unencodable.empty()) {
            loss(where, std::string(field) + " \"" + text + "\" holds " +
                            std::to_string(coded.unencodable.size()) +
                            " character(s) outside UCS-2 (such as emoji), stored as '?'");
        }
        if (coded.cut) {
            loss(where, std::string(field) + " \"" + text + "\" is cut to \"" + coded.stored +
                            "\" (" + std::to_string(coded.keptChars) + " of " +
                            std::to_string(coded.totalChars) + " characters fit)");
        }
        return coded.value;
    }

    void encodeGroups(const Phonebook& phonebook) {
        out_.raw.groups.assign(kMaxGroups, Bytes{});
        const text::AlphaRoom room{room_.groupNameLength,
                                   room_.groupNameLength > 0 ? (room_.groupNameLength - 1) / 2 : 0,
                                   true};
        std::size_t budget = kGroupNameBudget;
        for (const Group& group : phonebook.groups) {
            const std::string where = "group " + std::to_string(group.number);
            if (group.number < 1 || group.number > static_cast<int>(kMaxGroups)) {
                loss(where, "only groups 1 to 8 exist: \"" + group.name + "\" dropped");
                continue;
            }
            if (group.name.empty()) {
                continue;
            }
            if (static_cast<std::size_t>(group.number) > room_.groupCount) {
                loss(where, "the card has " + std::to_string(room_.groupCount) +
                                " group records: the name \"" + group.name +
                                "\" is not kept (memberships are)");
                continue;
            }
            text::AlphaRoom fitted = room;
            fitted.bytes = std::min(fitted.bytes, budget);
            fitted.ucs2Chars = std::min(fitted.ucs2Chars, budget > 0 ? (budget - 1) / 2 : 0);
            Bytes value = encodeText(where, "name", group.name, fitted);
            budget -= value.size();
            out_.raw.groups[static_cast<std::size_t>(group.number - 1)] = std::move(value);
        }
    }

    std::vector<RawNumber> encodeNumbers(const std::string& where, const Contact& contact,
                                         std::size_t maxDigits, ContactBudget* budget) {
        std::vector<PhoneNumber> sorted = contact.numbers;
        std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) {
            return typeRank(a.type) < typeRank(b.type);
        });
        std::vector<RawNumber> numbers;
        for (const PhoneNumber& number : sorted) {
            NumberCoding coded = numberToDigitText(number.number, options_);
            if (coded.refused) {
                refuse(where, coded.problem);
                continue;
            }
            if (!coded.problem.empty()) {
                loss(where, coded.problem);
                continue;
            }
            if (coded.digits.empty()) {
                continue;
            }
            const std::string label =
                std::string(numberTypeName(number.type)) + " number " + number.number;
            if (coded.digits.size() > maxDigits) {
                loss(where, label + " has " + std::to_string(coded.digits.size()) +
                                " digits, the card holds " + std::to_string(maxDigits) +
                                ": dropped");
                continue;
            }
            if (budget != nullptr) {
                std::size_t& left =
                    number.type == NumberType::kGeneral ? budget->adnLeft : budget->otherLeft;
                if (left == 0) {
                    loss(where, label + ": the card's " +
                                    (number.type == NumberType::kGeneral ? "general-number"
                                                                         : "additional-number") +
                                    " slots are all taken: dropped");
                    continue;
                }
                --left;
            }
            numbers.push_back({number.type, std::move(coded.digits), coded.international});
        }
        return numbers;
    }

    void encodeExtendedContacts(const Phonebook& phonebook) {
        const std::size_t nameBytes =
            std::min<std::size_t>(saturatingSub(room_.nameSlotLength, 4), 31);
        const text::AlphaRoom nameRoom{nameBytes, nameBytes / 2, false};
        const std::size_t adiBytes =
            std::min<std::size_t>(saturatingSub(room_.adiRecordLength, 3), 63);
        const text::AlphaRoom adiRoom{adiBytes, adiBytes / 2, false};
        const std::size_t maxDigits =
            std::min(saturatingSub(2 * room_.numberSlotLength, 8), kMaxNumberDigits);
        ContactBudget budget{room_.adnCount, saturatingSub(room_.numberSlotCount, room_.adnCount),
                             room_.adiCount};
        std::size_t bytesUsed = 0;
        for (std::size_t i = 0; i < phonebook.contacts.size(); ++i) {
            const Contact& contact = phonebook.contacts[i];
            const std::string where = contactLabel(i, contact.name);
            if (out_.raw.contacts.size() >= room_.nameSlotCount) {
                loss(where, "the card holds " + std::to_string(room_.nameSlotCount) +
                                " contacts: dropped");
                continue;
            }
            RawContact raw;
            raw.name = encodeText(where, "name", contact.name, nameRoom);
            if (raw.name == Bytes{' '}) {
                raw.name.clear();  // the card's empty-name placeholder
            }
            raw.numbers = encodeNumbers(where, contact, maxDigits, &budget);
            encodeNotes(where, contact, adiRoom, budget, raw);
            raw.groupDigits = groupDigits(where, contact);
            const std::size_t size = extendedContactSize(raw);
            if (bytesUsed + size > kContactBufferSize) {
                loss(where, "the library hands back at most 40,000 bytes of contacts: dropped");
                continue;
            }
            bytesUsed += size;
            out_.raw.contacts.push_back(std::move(raw));
        }
    }

    void encodeNotes(const std::string& where, const Contact& contact,
                     const text::AlphaRoom& adiRoom, ContactBudget& budget, RawContact& raw) {
        std::size_t kept = 0;
        for (const std::string& note : contact.notes) {
            if (note.empty()) {
                continue;
            }
            if (room_.adiCount == 0) {
                loss(where, "note \"" + note + "\": this card has no free-text entries: dropped");
                continue;
            }
            if (kept == 2) {
                loss(where,
                     "note \"" + note + "\": a contact holds two free-text entries: dropped");
                continue;
            }
            if (budget.adiLeft == 0) {
                loss(where, "note \"" + note + "\": all " + std::to_string(room_.adiCount) +
                                " free-text entries of the card are taken: dropped");
                continue;
            }
            Bytes value = encodeText(where, "note", note, adiRoom);
            if (value.empty()) {
                continue;
            }
            --budget.adiLeft;
            ++kept;
            raw.adi.push_back(std::move(value));
        }
        raw.adi.resize(2);
    }

    Bytes groupDigits(const std::string& where, const Contact& contact) {
        std::vector<int> groups;
        for (const int g : contact.groups) {
            if (g < 1 || g > static_cast<int>(kMaxGroups)) {
                loss(where, "group " + std::to_string(g) + " does not exist (1 to 8): dropped");
                continue;
            }
            groups.push_back(g);
        }
        std::sort(groups.begin(), groups.end());
        groups.erase(std::unique(groups.begin(), groups.end()), groups.end());
        return bytesOf(groupDigitsOf(groups));
    }

    static std::size_t extendedContactSize(const RawContact& raw) {
        std::size_t size = 8 + 8 + raw.name.size();
        for (const auto& n : raw.numbers) {
            size += 8 + n.digits.size() + 8;
        }
        for (const auto& a : raw.adi) {
            size += 8 + a.size();
        }
        return size + 8 + raw.groupDigits.size();
    }

    void encodeStandardContacts(const Phonebook& phonebook) {
        const std::size_t alpha = saturatingSub(room_.adnRecordLength, 14);
        const text::AlphaRoom nameRoom{alpha, alpha > 0 ? (alpha - 1) / 2 : 0, true};
        // The writer leaves the last record of EF_ADN empty.
        const std::size_t capacity = saturatingSub(room_.adnRecordCount, 1);
        bool groupsReported = false;
        for (const Group& group : phonebook.groups) {
            if (!group.name.empty() && !groupsReported) {
                loss("groups", "standard-layout cards have no groups: group names dropped");
                groupsReported = true;
            }
        }
        std::size_t bytesUsed = 0;
        for (std::size_t i = 0; i < phonebook.contacts.size(); ++i) {
            const Contact& contact = phonebook.contacts[i];
            const std::string where = contactLabel(i, contact.name);
            if (out_.raw.contacts.size() >= capacity) {
                loss(where, "the card's phone book holds " + std::to_string(capacity) +
                                " contacts: dropped");
                continue;
            }
            RawContact raw;
            raw.name = encodeText(where, "name", contact.name, nameRoom);
            std::vector<RawNumber> numbers =
                encodeNumbers(where, contact, kStandardNumberDigits, nullptr);
            if (!numbers.empty()) {
                for (std::size_t n = 1; n < numbers.size(); ++n) {
                    loss(where, "a standard-layout card holds one number per contact: " +
                                    rawNumberText(numbers[n]) + " dropped");
                }
                numbers.resize(1);
                numbers[0].type = NumberType::kGeneral;
            }
            raw.numbers = std::move(numbers);
            for (const std::string& note : contact.notes) {
                if (!note.empty()) {
                    loss(where, "standard-layout cards have no free-text entries: note \"" + note +
                                    "\" dropped");
                }
            }
            if (!contact.groups.empty()) {
                loss(where, "standard-layout cards have no groups: memberships dropped");
            }
            if (raw.name.empty() && raw.numbers.empty()) {
                loss(where, "neither a name nor a number is left: the contact is dropped");
                continue;
            }
            const std::size_t size = 8 + 8 + raw.name.size() + 8 +
                                     (raw.numbers.empty() ? 0 : raw.numbers[0].digits.size()) + 8;
            if (bytesUsed + size > kContactBufferSize) {
                loss(where, "the library hands back at most 40,000 bytes of contacts: dropped");
                continue;
            }
            bytesUsed += size;
            out_.raw.contacts.push_back(std::move(raw));
        }
    }

    void buildStream() {
        out_.stream = phonebookStream(out_.raw, room_.extended);
        out_.count = static_cast<std::int32_t>(out_.raw.contacts.size());
    }

    const PhonebookRoom& room_;
    const EncodeOptions& options_;
    EncodedPhonebook out_;
};

std::string describeName(const Bytes& name) {
    return name.empty() ? std::string("(no name)") : "\"" + text::decodeAlpha(name) + "\"";
}

Bytes withoutTrailingPadding(Bytes value) {
    while (!value.empty() && value.back() == 0xFF) {
        value.pop_back();
    }
    return value;
}

std::vector<Bytes> nonEmptySorted(const std::vector<Bytes>& values) {
    std::vector<Bytes> out;
    for (const auto& v : values) {
        if (!v.empty()) {
            out.push_back(v);
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::string numbersText(const std::vector<RawNumber>& numbers) {
    std::string out;
    for (const auto& n : numbers) {
        if (!out.empty()) {
            out += ", ";
        }
        out += std::string(numberTypeName(n.type)) + " " + rawNumberText(n);
    }
    return out.empty() ? "none" : out;
}

std::vector<RawNumber> sortedByType(std::vector<RawNumber> numbers) {
    std::stable_sort(numbers.begin(), numbers.end(), [](const auto& a, const auto& b) {
        return typeRank(a.type) < typeRank(b.type);
    });
    return numbers;
}

bool sameNumbers(const std::vector<RawNumber>& a, const std::vector<RawNumber>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].type != b[i].type || a[i].digits != b[i].digits ||
            a[i].international != b[i].international) {
            return false;
        }
    }
    return true;
}

}  // namespace

const char* numberTypeName(NumberType type) {
    switch (type) {
        case NumberType::kGeneral:
            return "general";
        case NumberType::kMobile:
            return "mobile";
        case NumberType::kHome:
            return "home";
        case NumberType::kWork:
            return "work";
        case NumberType::kOther:
            return "other";
    }
    return "general";
}

const char* numberTypeTag(NumberType type) {
    switch (type) {
        case NumberType::kGeneral:
            return "ADN";
        case NumberType::kMobile:
            return "MBL";
        case NumberType::kHome:
            return "HME";
        case NumberType::kWork:
            return "OFE";
        case NumberType::kOther:
            return "OTR";
    }
    return "ADN";
}

std::optional<NumberType> numberTypeFromName(std::string_view name) {
    const std::string n = lower(name);
    for (const NumberType type : kTypeOrder) {
        if (n == numberTypeName(type) || n == lower(numberTypeTag(type))) {
            return type;
        }
    }
    if (n == "cell" || n == "mbl") {
        return NumberType::kMobile;
    }
    if (n == "office") {
        return NumberType::kWork;
    }
    return std::nullopt;
}

const Group* Phonebook::group(int number) const {
    for (const Group& g : groups) {
        if (g.number == number) {
            return &g;
        }
    }
    return nullptr;
}

namespace {
// GSM 11.11 10.5.1: nibble F pads the number to the length stored and ends it.
constexpr std::uint8_t kFillerDigit = 0x3F;
}  // namespace

std::string digitTextToNumber(ByteView digits) {
    static constexpr char kHigh[] = {'*', '#', 'p', '?', 'e'};
    std::string out;
    for (const std::uint8_t d : digits) {
        if (d == kFillerDigit) {
            break;
        }
        if (d >= '0' && d <= '9') {
            out.push_back(static_cast<char>(d));
        } else if (d >= 0x3A && d < kFillerDigit) {
            out.push_back(kHigh[d - 0x3A]);
        } else {
            out.push_back('?');  // not a nibble: nothing the card could hold
        }
    }
    return out;
}

std::vector<std::string> numbersWithDigitsAfterTheirEnd(const RawPhonebook& raw) {
    std::vector<std::string> found;
    for (std::size_t i = 0; i < raw.contacts.size(); ++i) {
        const RawContact& contact = raw.contacts[i];
        for (const RawNumber& n : contact.numbers) {
            const auto end = std::find(n.digits.begin(), n.digits.end(), kFillerDigit);
            const auto more =
                std::find_if(end, n.digits.end(), [](std::uint8_t d) { return d != kFillerDigit; });
            if (more == n.digits.end()) {
                continue;
            }
            const std::string number = digitTextToNumber(n.digits);
            std::string after;
            for (auto d = more; d != n.digits.end(); ++d) {
                after +=
                    *d == kFillerDigit ? std::string("F") : digitTextToNumber(ByteView(&*d, 1));
            }
            found.push_back(contactLabel(i, text::decodeAlpha(contact.name)) + ": the " +
                            numberTypeName(n.type) + " number " + number +
                            " is followed on the card by digits after its end mark F (" + after +
                            "), a damaged record; shown as " +
                            (number.empty() ? std::string("empty") : number));
        }
    }
    return found;
}

std::vector<int> parseGroupDigits(ByteView digits) {
    std::vector<int> groups;
    std::size_t i = 0;
    while (i < digits.size()) {
        if (digits[i] == 0x01) {
            ++i;
            continue;
        }
        long value = 0;
        bool inRange = true;
        while (i < digits.size() && digits[i] != 0x01) {
            value = value * 10 + (static_cast<long>(digits[i]) - 0x30);
            if (value < -1000 || value > 1000) {
                inRange = false;  // keep scanning, the number is out of range anyway
                value = 1000;
            }
            ++i;
        }
        if (inRange && value >= 1 && value <= 8) {
            groups.push_back(static_cast<int>(value));
        }
    }
    std::sort(groups.begin(), groups.end());
    groups.erase(std::unique(groups.begin(), groups.end()), groups.end());
    return groups;
}

Outcome<RawPhonebook> parsePhonebookStream(ByteView stream,
                                           const std::vector<std::uint8_t>* tonNpi) {
    std::size_t numberElements = 0;
    auto top = splitElements(stream);
    if (!top) {
        return Outcome<RawPhonebook>::failure("phone-book stream: " + top.error());
    }
    RawPhonebook book;
    for (const Element& element : top.value()) {
        if (element.tag == "GRP") {
            if (!book.contacts.empty()) {
                return Outcome<RawPhonebook>::failure(
                    "phone-book stream: group element after the contacts, at offset " +
                    std::to_string(element.offset));
            }
            book.groups.emplace_back(element.value.begin(), element.value.end());
            continue;
        }
        if (element.tag != "NCD") {
            return Outcome<RawPhonebook>::failure("phone-book stream: unexpected element " +
                                                  element.tag + " at offset " +
                                                  std::to_string(element.offset));
        }
        if (element.value.empty()) {
            continue;  // the stand-in for an empty phone book
        }
        auto nested = splitElements(element.value);
        if (!nested) {
            return Outcome<RawPhonebook>::failure("phone-book stream: contact at offset " +
                                                  std::to_string(element.offset) + ": " +
                                                  nested.error());
        }
        RawContact contact;
        bool afterNumber = false;
        for (const Element& e : nested.value()) {
            const Bytes value(e.value.begin(), e.value.end());
            if (e.tag == "NMT") {
                contact.name = value;
            } else if (const auto type = typeFromTag(e.tag)) {
                const std::size_t k = numberElements++;
                if (!value.empty()) {
                    const bool international = tonNpi != nullptr && k < tonNpi->size() &&
                                               isInternationalTonNpi((*tonNpi)[k]);
                    contact.numbers.push_back({*type, value, international});
                }
                afterNumber = true;
                continue;
            } else if (e.tag == "ADI") {
                contact.adi.push_back(value);
            } else if (e.tag == "GPI") {
                if (!(afterNumber && value.empty())) {
                    contact.groupDigits = value;
                }
            }
            afterNumber = false;
        }
        book.contacts.push_back(std::move(contact));
    }
    return book;
}

std::string rawNumberText(const RawNumber& number) {
    const std::string digits = digitTextToNumber(number.digits);
    return number.international && !digits.empty() ? "+" + digits : digits;
}

Phonebook decodePhonebook(const RawPhonebook& raw) {
    Phonebook book;
    for (std::size_t i = 0; i < raw.groups.size(); ++i) {
        book.groups.push_back({static_cast<int>(i + 1), text::decodeAlpha(raw.groups[i])});
    }
    for (const RawContact& rc : raw.contacts) {
        Contact c;
        c.name = text::decodeAlpha(rc.name);
        for (const RawNumber& n : rc.numbers) {
            c.numbers.push_back({n.type, rawNumberText(n)});
        }
        for (const Bytes& a : rc.adi) {
            if (!a.empty()) {
                c.notes.push_back(text::decodeAlpha(a));
            }
        }
        c.groups = parseGroupDigits(rc.groupDigits);
        book.contacts.push_back(std::move(c));
    }
    return book;
}

bool EncodedPhonebook::refused() const {
    return std::any_of(issues.begin(), issues.end(),
                       [](const Issue& i) { return i.kind == Issue::Kind::kRefused; });
}

bool EncodedPhonebook::lossy() const {
    return std::any_of(issues.begin(), issues.end(),
                       [](const Issue& i) { return i.kind == Issue::Kind::kLoss; });
}

Bytes phonebookStream(const RawPhonebook& raw, bool extended) {
    Bytes s;
    if (extended) {
        // The writer takes the first eight elements as the group list, whatever
        // the card's group count.
        for (std::size_t g = 0; g < kMaxGroups; ++g) {
            appendElement(s, "GRP", g < raw.groups.size() ? raw.groups[g] : Bytes{});
        }
    }
    for (const RawContact& c : raw.contacts) {
        Bytes body;
        appendElement(body, "NMT", c.name);
        if (extended) {
            for (const RawNumber& n : c.numbers) {
                appendElement(body, numberTypeTag(n.type), n.digits);
                appendElement(body, "GPI", kEmptyGpiValue);
            }
            for (std::size_t a = 0; a < std::max<std::size_t>(2, c.adi.size()); ++a) {
                appendElement(body, "ADI", a < c.adi.size() ? c.adi[a] : Bytes{});
            }
            appendElement(body, "GPI", c.groupDigits);
        } else {
            appendElement(body, "ADN", c.numbers.empty() ? Bytes{} : c.numbers[0].digits);
            appendElement(body, "GPI", kEmptyGpiValue);
        }
        appendElement(s, "NCD", body);
    }
    if (extended && raw.contacts.empty()) {
        appendElement(s, "NCD", Bytes{});  // how an empty phone book travels
    }
    return s;
}

std::optional<std::string> rawDoesNotFit(const RawPhonebook& raw, const PhonebookRoom& room) {
    if (!room.extended) {
        const std::size_t alpha = saturatingSub(room.adnRecordLength, 14);
        if (raw.contacts.size() > saturatingSub(room.adnRecordCount, 1)) {
            return "more contacts than the card's EF_ADN holds";
        }
        for (const RawContact& c : raw.contacts) {
            if (c.name.size() > alpha) {
                return "a name is longer than the card's alpha field";
            }
            if (c.numbers.size() > 1 ||
                (!c.numbers.empty() && c.numbers[0].digits.size() > kStandardNumberDigits)) {
                return "a contact has more than one number or a number too long";
            }
        }
        return std::nullopt;
    }
    if (raw.contacts.size() > room.nameSlotCount) {
        return "more contacts than the card's name slots";
    }
    const std::size_t nameBytes = std::min<std::size_t>(saturatingSub(room.nameSlotLength, 4), 31);
    const std::size_t adiBytes = std::min<std::size_t>(saturatingSub(room.adiRecordLength, 3), 63);
    const std::size_t maxDigits =
        std::min(saturatingSub(2 * room.numberSlotLength, 8), kMaxNumberDigits);
    std::size_t general = 0;
    std::size_t others = 0;
    std::size_t adi = 0;
    for (const RawContact& c : raw.contacts) {
        const std::size_t stored =
            !c.name.empty() && c.name[0] == 0x80 ? c.name.size() - 1 : c.name.size();
        if (stored > nameBytes) {
            return "a name is longer than the card's name slot";
        }
        for (const RawNumber& n : c.numbers) {
            if (n.digits.size() > maxDigits) {
                return "a number is longer than the card's number slot";
            }
            (n.type == NumberType::kGeneral ? general : others) += 1;
        }
        std::size_t entries = 0;
        for (const Bytes& a : c.adi) {
            if (a.empty()) {
                continue;
            }
            const std::size_t text = a[0] == 0x80 ? a.size() - 1 : a.size();
            if (text > adiBytes) {
                return "a free-text entry is longer than the card's ADI record";
            }
            ++entries;
        }
        if (entries > 2) {
            return "a contact has more than two free-text entries";
        }
        adi += entries;
    }
    if (general > room.adnCount || others > saturatingSub(room.numberSlotCount, room.adnCount)) {
        return "more numbers than the card's number slots";
    }
    if (adi > room.adiCount) {
        return "more free-text entries than the card holds";
    }
    for (std::size_t g = 0; g < raw.groups.size() && g < kMaxGroups; ++g) {
        if (raw.groups[g].size() > room.groupNameLength) {
            return "a group name is longer than the card's group record";
        }
    }
    return std::nullopt;
}

EncodedPhonebook encodePhonebook(const Phonebook& phonebook, const PhonebookRoom& room,
                                 const EncodeOptions& options) {
    return Encoder(room, options).run(phonebook);
}

std::optional<std::string> firstDifference(const RawPhonebook& expected, const RawPhonebook& actual,
                                           const PhonebookRoom& room) {
    if (room.extended) {
        const std::size_t groups = std::min(kMaxGroups, room.groupCount);
        for (std::size_t g = 0; g < groups; ++g) {
            const Bytes want = g < expected.groups.size() ? expected.groups[g] : Bytes{};
            const Bytes got = g < actual.groups.size() ? actual.groups[g] : Bytes{};
            if (want != got) {
                return "group " + std::to_string(g + 1) + ": wrote " + describeName(want) +
                       ", the card holds " + describeName(got);
            }
        }
    }
    const std::size_t common = std::min(expected.contacts.size(), actual.contacts.size());
    for (std::size_t i = 0; i < common; ++i) {
        const RawContact& want = expected.contacts[i];
        const RawContact& got = actual.contacts[i];
        const std::string where = contactLabel(i, text::decodeAlpha(want.name));
        const Bytes wantName = room.extended ? want.name : withoutTrailingPadding(want.name);
        const Bytes gotName = room.extended ? got.name : withoutTrailingPadding(got.name);
        if (wantName != gotName) {
            return where + ": name: wrote " + describeName(wantName) + ", the card holds " +
                   describeName(gotName);
        }
        const auto wantNumbers = sortedByType(want.numbers);
        const auto gotNumbers = sortedByType(got.numbers);
        if (!sameNumbers(wantNumbers, gotNumbers)) {
            return where + ": numbers: wrote " + numbersText(wantNumbers) + ", the card holds " +
                   numbersText(gotNumbers);
        }
        if (room.extended) {
            if (nonEmptySorted(want.adi) != nonEmptySorted(got.adi)) {
                return where + ": the free-text entries differ (wrote " +
                       std::to_string(nonEmptySorted(want.adi).size()) + ", the card returns " +
                       std::to_string(nonEmptySorted(got.adi).size()) + ")";
            }
            if (parseGroupDigits(want.groupDigits) != parseGroupDigits(got.groupDigits)) {
                return where + ": group memberships differ";
            }
        }
    }
    if (expected.contacts.size() != actual.contacts.size()) {
        return "wrote " + std::to_string(expected.contacts.size()) + " contacts, the card holds " +
               std::to_string(actual.contacts.size());
    }
    return std::nullopt;
}

}  // namespace zrn::cli
