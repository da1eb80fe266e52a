#include "tests/integration/case_list.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <sstream>
#include <string_view>

#include "sim/card_builder.h"
#include "sim/samples.h"

namespace zrn::integration {

void Checks::expect(bool ok, const std::string& what) {
    if (!ok) {
        failures_.push_back(what);
    }
}

void Checks::expectCode(std::int32_t actual, std::int32_t expected, const std::string& what) {
    if (actual != expected) {
        failures_.push_back(what + ": result " + std::to_string(actual) + ", expected " +
                            std::to_string(expected));
    }
}

void Checks::expectText(const std::string& actual, const std::string& expected,
                        const std::string& what) {
    if (actual != expected) {
        failures_.push_back(what + ": \"" + actual + "\", expected \"" + expected + "\"");
    }
}

void Checks::expectBytes(ByteView actual, ByteView expected, const std::string& what) {
    if (!std::equal(actual.begin(), actual.end(), expected.begin(), expected.end())) {
        failures_.push_back(what + ":\n    got      " + toHex(actual) + "\n    expected " +
                            toHex(expected));
    }
}

namespace {

using sim::CardImage;
namespace files = sim::files;

constexpr std::int32_t kOk = 0;
constexpr std::int32_t kNoCard = 1;
constexpr std::int32_t kUnrecognisedCard = 3;
constexpr std::int32_t kDataDoesNotFit = 4;
constexpr std::int32_t kNoCardSms = -1;

// ---------------------------------------------------------------------------
// A card in the reader for the length of a case.

class Session {
  public:
    Session(CardStack& stack, const CardImage& image)
        : stack_(stack), handle_(stack.insert(image)) {}
    ~Session() {
        if (!removed_) {
            try {
                stack_.remove();
            } catch (...) {
                // The case is already failing; the stack reports its own trouble.
            }
        }
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    ZRN_CARD_HANDLE handle() const { return handle_; }
    // The card as the case left it.
    CardImage remove() {
        removed_ = true;
        return stack_.remove();
    }

  private:
    CardStack& stack_;
    ZRN_CARD_HANDLE handle_;
    bool removed_ = false;
};

// ---------------------------------------------------------------------------
// Element streams, built and taken apart independently of the library.

Bytes text(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

Bytes element(const char* tag, ByteView value) {
    Bytes out{0x01, static_cast<std::uint8_t>(tag[0]), static_cast<std::uint8_t>(tag[1]),
              static_cast<std::uint8_t>(tag[2])};
    const auto n = static_cast<std::uint32_t>(value.size());
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<std::uint8_t>(n >> shift));
    }
    out.insert(out.end(), value.begin(), value.end());
    return out;
}

Bytes element(const char* tag, std::string_view value) {
    return element(tag, text(value));
}

const Bytes kEmptyGpi = element("GPI", Bytes{});

Bytes contact(std::initializer_list<Bytes> parts) {
    return element("NCD", concat(parts));
}

struct Element {
    std::string tag;
    Bytes value;
};

// The elements of one level of a stream; false when the stream breaks the
// element framing anywhere.
bool splitElements(ByteView stream, std::vector<Element>& out) {
    std::size_t at = 0;
    while (at < stream.size()) {
        if (stream.size() - at < 8 || stream[at] != 0x01) {
            return false;
        }
        const std::size_t length = (std::size_t{stream[at + 4]} << 24) |
                                   (std::size_t{stream[at + 5]} << 16) |
                                   (std::size_t{stream[at + 6]} << 8) | stream[at + 7];
        if (length > stream.size() - at - 8) {
            return false;
        }
        out.push_back({std::string(stream.begin() + static_cast<std::ptrdiff_t>(at) + 1,
                                   stream.begin() + static_cast<std::ptrdiff_t>(at) + 4),
                       Bytes(stream.begin() + static_cast<std::ptrdiff_t>(at) + 8,
                             stream.begin() + static_cast<std::ptrdiff_t>(at + 8 + length))});
        at += 8 + length;
    }
    return true;
}

std::string tagsOf(const std::vector<Element>& elements) {
    std::string out;
    for (const Element& e : elements) {
        out += (out.empty() ? "" : " ") + e.tag;
    }
    return out;
}

// ---------------------------------------------------------------------------
// Calls with their buffers.

struct StreamResult {
    std::int32_t code = -1000;
    std::int32_t count = -1;
    Bytes stream;
};

StreamResult readPhonebook(const Exports& zrn) {
    Bytes buffer(ZRN_PHONEBOOK_BUFFER_SIZE, 0xCC);
    StreamResult r;
    std::int32_t length = -1;
    r.code = zrn.ReadZRN(&r.count, &length, buffer.data());
    if (r.code == kOk && length >= 0 && static_cast<std::size_t>(length) <= buffer.size()) {
        r.stream.assign(buffer.begin(), buffer.begin() + length);
    }
    return r;
}

std::size_t messageCapacity(const CardImage& image) {
    std::size_t records = 0;
    for (std::uint16_t id : {files::kSms, files::kExtraMessages}) {
        if (const sim::SimFile* f = image.find({files::kTelecom, id})) {
            records += f->recordCount();
        }
    }
    return records;
}

StreamResult readMessages(const Exports& zrn, const CardImage& image) {
    Bytes buffer(ZRN_SMS_ELEMENT_SIZE * std::max<std::size_t>(1, messageCapacity(image)), 0xCC);
    StreamResult r;
    std::int32_t length = -1;
    r.code = zrn.ReadSMS(&r.count, &length, buffer.data());
    if (r.code == kOk && length >= 0 && static_cast<std::size_t>(length) <= buffer.size()) {
        r.stream.assign(buffer.begin(), buffer.begin() + length);
    }
    return r;
}

std::string configText(const Exports& zrn, Checks& checks) {
    char buffer[ZRN_CONFIG_TEXT_SIZE + 8];
    std::memset(buffer, 0x7E, sizeof buffer);
    checks.expectCode(zrn.GetConfig(buffer), kOk, "GetConfig");
    const auto* end = static_cast<const char*>(std::memchr(buffer, 0, ZRN_CONFIG_TEXT_SIZE));
    if (end == nullptr) {
        checks.expect(false, "GetConfig: no terminating zero within 41 bytes");
        return {};
    }
    return std::string(buffer, static_cast<std::size_t>(end - buffer));
}

std::string joined(std::initializer_list<long> values) {
    std::ostringstream out;
    const char* separator = "";
    for (long v : values) {
        out << separator << v;
        separator = ",";
    }
    return out.str();
}

std::size_t recordsOf(const CardImage& image, std::uint16_t id) {
    const sim::SimFile* f = image.find({files::kTelecom, id});
    return f == nullptr ? 0 : f->recordCount();
}

std::string standardConfigText(const CardImage& image) {
    return joined({static_cast<long>(recordsOf(image, files::kAdn)), 0,
                   static_cast<long>(recordsOf(image, files::kSms)), 0, 0, 0, 0});
}

std::string extendedConfigText(const sim::ExtendedGeometry& g) {
    return joined({g.adnCount, g.numberSlotCount - g.adnCount, g.smsCount, g.adiCount, g.groupCount,
                   g.capacity6, g.capacity7});
}

// The bytes of a transparent file from `offset`, `length` long.
Bytes slotOf(const CardImage& image, std::initializer_list<std::uint16_t> path, std::size_t offset,
             std::size_t length) {
    const sim::SimFile* f = image.find(path);
    if (f == nullptr || offset + length > f->data.size()) {
        return {};
    }
    return Bytes(f->data.begin() + static_cast<std::ptrdiff_t>(offset),
                 f->data.begin() + static_cast<std::ptrdiff_t>(offset + length));
}

// `prefix`, then `fill` up to `length` bytes.
Bytes padded(Bytes prefix, std::size_t length, std::uint8_t fill) {
    prefix.resize(length, fill);
    return prefix;
}

// A small extended-layout card: quick to serve and to compare.
sim::ExtendedGeometry smallGeometry() {
    sim::ExtendedGeometry g;
    g.nameSlotCount = 20;
    g.adnCount = 20;
    g.numberSlotCount = 40;
    g.adiCount = 10;
    g.smsCount = 5;
    g.smsRecords = 5;
    g.adnRecords = 10;
    return g;
}

// Marks every EF_SMS and extra-message record free (status 00, GSM 11.11 10.5.3).
void freeAllMessageRecords(CardImage& image) {
    for (std::uint16_t id : {files::kSms, files::kExtraMessages}) {
        for (std::size_t r = 0; r < recordsOf(image, id); ++r) {
            image.setRecord({files::kTelecom, id}, r, Bytes{0x00});
        }
    }
}

Bytes sampleMessage(std::uint8_t status, std::uint8_t marker) {
    // SMSC +8613800100500, then a deliver TPDU whose user data carries `marker`.
    return sim::smsRecordBytes(
        status, Bytes{0x08, 0x91, 0x68, 0x31, 0x08, 0x10, 0x00, 0x05, 0xF0, 0x04, 0x04, 0x81,  0x21,
                      0x43, 0x00, 0x00, 0x52, 0x10, 0x01, 0x21, 0x43, 0x65, 0x00, 0x01, marker});
}

Bytes smsElement(const char* tag, ByteView record) {
    return element(tag, text(toHex(record, false)));
}

// ---------------------------------------------------------------------------
// Connection and configuration.

void connectStandardCard(const Exports& zrn, CardStack& stack, Checks& checks) {
    const CardImage image = sim::standardSample();
    Session card(stack, image);
    checks.expectCode(zrn.ConnectReader(card.handle()), kOk, "ConnectReader");
    checks.expectText(configText(zrn, checks), standardConfigText(image), "GetConfig");
    checks.expect(card.remove() == image, "connecting changed the card");
}

void connectExtendedCard(const Exports& zrn, CardStack& stack, Checks& checks) {
    const CardImage image = sim::extendedSample();
    Session card(stack, image);
    checks.expectCode(zrn.ConnectReader(card.handle()), kOk, "ConnectReader");
    checks.expectText(configText(zrn, checks), extendedConfigText(sim::extendedSampleGeometry()),
                      "GetConfig");
    checks.expect(card.remove() == image, "connecting changed the card");
}

void connectExtendedCardIn5F00(const Exports& zrn, CardStack& stack, Checks& checks) {
    sim::ExtendedGeometry g = smallGeometry();
    g.directory = files::kSecondDirectory;
    g.capacity6 = 7;
    g.capacity7 = 300;
    Session card(stack, sim::buildExtendedCard(g));
    checks.expectCode(zrn.ConnectReader(card.handle()), kOk, "ConnectReader");
    checks.expectText(configText(zrn, checks), extendedConfigText(g), "GetConfig");
    const StreamResult read = readPhonebook(zrn);
    checks.expectCode(read.code, kOk, "ReadZRN");
    checks.expectCode(read.count, 0, "ReadZRN contact count");
    std::vector<Element> top;
    checks.expect(splitElements(read.stream, top), "ReadZRN: malformed stream");
    checks.expectText(tagsOf(top), "GRP GRP GRP GRP GRP GRP GRP GRP NCD",
                      "ReadZRN of an empty phone book");
}

void connectRefusals(const Exports& zrn, CardStack& stack, Checks& checks) {
    CardImage image = sim::buildStandardCard();
    image.remove({files::kTelecom, files::kSms});
    Session card(stack, image);
    checks.expectCode(zrn.ConnectReader(0), kNoCard, "ConnectReader(0)");
    char config[ZRN_CONFIG_TEXT_SIZE] = {};
    checks.expectCode(zrn.GetConfig(config), kNoCard, "GetConfig after ConnectReader(0)");
    checks.expectCode(zrn.ConnectReader(card.handle()), kUnrecognisedCard,
                      "ConnectReader on a card without EF_SMS");
}

// Runs on a freshly loaded library: nothing has been connected yet.
void noCardBeforeConnect(const Exports& zrn, CardStack& stack, Checks& checks) {
    const CardImage image = sim::standardSample();
    Session card(stack, image);
    Bytes buffer(ZRN_PHONEBOOK_BUFFER_SIZE);
    std::int32_t count = 0;
    std::int32_t length = 0;
    char config[ZRN_CONFIG_TEXT_SIZE] = {};
    const Bytes stream = contact({element("NMT", "AB"), element("ADN", "1"), kEmptyGpi});
    checks.expectCode(zrn.GetConfig(config), kNoCard, "GetConfig");
    checks.expectCode(zrn.ReadZRN(&count, &length, buffer.data()), kNoCard, "ReadZRN");
    checks.expectCode(zrn.WriteZRN(1, static_cast<std::int32_t>(stream.size()), stream.data()),
                      kNoCard, "WriteZRN");
    checks.expectCode(zrn.ReadSMS(&count, &length, buffer.data()), kNoCardSms, "ReadSMS");
    checks.expectCode(zrn.WriteSMS(0, 0, buffer.data()), kNoCardSms, "WriteSMS");
    checks.expect(card.remove() == image, "calls without a connection changed the card");
}

void errorMessages(const Exports& zrn, CardStack& /*stack*/, Checks& checks) {
    struct Message {
        std::int32_t code;
        const char* gbkHex;
    };
    // The texts in code page 936.
    static constexpr Message kMessages[] = {
        {0, "CEDEB4EDCEF32E"},
        {3, "53494DBFA8CEDEB7A8CAB6B1F02E"},
        {318, "53494DC0E0D0CDB4EDCEF328CEDE414449292E"},
        {349, "414449D0C5CFA2CAFDC1BFB3ACB3F6BFA8C6ACC8DDC1BF2E"},
        {305, "CEB4D6AAB4EDCEF32E"},
        {-1, "CEB4D6AAB4EDCEF32E"},
    };
    for (const Message& m : kMessages) {
        Bytes expected;
        fromHex(m.gbkHex, expected);
        expected.push_back(0x00);
        Bytes buffer(ZRN_ERRMSG_SIZE + 4, 0xCC);
        const std::string what = "GetErrMsg(" + std::to_string(m.code) + ")";
        checks.expectCode(zrn.GetErrMsg(m.code, reinterpret_cast<char*>(buffer.data())), kOk, what);
        checks.expectBytes(ByteView(buffer).first(expected.size()), expected, what);
        checks.expectBytes(ByteView(buffer).subspan(ZRN_ERRMSG_SIZE), Bytes(4, 0xCC),
                           what + " wrote past 60 bytes");
    }
}

// ---------------------------------------------------------------------------
// Phone book.

// Alpha fields of the used EF_ADN records, trailing FF removed: the names
// ReadZRN must give, in order.
std::vector<Bytes> usedAdnNames(const CardImage& image) {
    std::vector<Bytes> names;
    const sim::SimFile* adn = image.find({files::kTelecom, files::kAdn});
    for (std::size_t r = 0; adn != nullptr && r < adn->recordCount(); ++r) {
        const Bytes record = image.record({files::kTelecom, files::kAdn}, r);
        const std::size_t alphaLength = record.size() - 14;
        auto end = record.begin() + static_cast<std::ptrdiff_t>(alphaLength);
        while (end != record.begin() && *(end - 1) == 0xFF) {
            --end;
        }
        const std::uint8_t numberLength = record[alphaLength];
        if (end != record.begin() || (numberLength != 0x00 && numberLength != 0xFF)) {
            names.emplace_back(record.begin(), end);
        }
    }
    return names;
}

void standardPhonebookReadsSample(const Exports& zrn, CardStack& stack, Checks& checks) {
    const CardImage image = sim::standardSample();
    Session card(stack, image);
    checks.expectCode(zrn.ConnectReader(card.handle()), kOk, "ConnectReader");
    const StreamResult read = readPhonebook(zrn);
    checks.expectCode(read.code, kOk, "ReadZRN");
    const std::vector<Bytes> names = usedAdnNames(image);
    checks.expectCode(read.count, static_cast<std::int32_t>(names.size()), "ReadZRN contact count");
    std::vector<Element> contacts;
    checks.expect(splitElements(read.stream, contacts), "ReadZRN: malformed stream");
    checks.expectCode(static_cast<std::int32_t>(contacts.size()),
                      static_cast<std::int32_t>(names.size()), "NCD elements");
    for (std::size_t i = 0; i < std::min(contacts.size(), names.size()); ++i) {
        std::vector<Element> inner;
        const std::string what = "contact " + std::to_string(i + 1);
        checks.expect(contacts[i].tag == "NCD" && splitElements(contacts[i].value, inner) &&
                          tagsOf(inner) == "NMT ADN GPI",
                      what + ": not NCD{NMT ADN GPI}");
        if (!inner.empty()) {
            checks.expectBytes(inner[0].value, names[i], what + " name");
        }
    }
    checks.expect(card.remove() == image, "reading changed the card");
}

void standardPhonebookWriteAndReadBack(const Exports& zrn, CardStack& stack, Checks& checks) {
    sim::StandardCardOptions options;
    options.adnCount = 10;
    options.smsCount = 2;
    CardImage image = sim::buildStandardCard(options);
    sim::putAdnRecord(image, 6, text("OLD"), "999");
    const Bytes ucs2Name{0x80, 0x00, 0x41, 0x00, 0x42};
    const Bytes stream = concat({
        contact({element("NMT", "AB"), element("ADN", "123"), kEmptyGpi}),
        contact({element("NMT", ucs2Name), element("ADN", "5551234"), kEmptyGpi}),
        contact({element("NMT", ""), element("ADN", "112"), kEmptyGpi}),
    });

    Session card(stack, image);
    checks.expectCode(zrn.ConnectReader(card.handle()), kOk, "ConnectReader");
    checks.expectCode(zrn.WriteZRN(3, static_cast<std::int32_t>(stream.size()), stream.data()), kOk,
                      "WriteZRN");
    const StreamResult read = readPhonebook(zrn);
    checks.expectCode(read.code, kOk, "ReadZRN");
    checks.expectCode(read.count, 3, "ReadZRN contact count");
    checks.expectBytes(read.stream, stream, "ReadZRN after WriteZRN");

    const CardImage after = card.remove();
    const std::initializer_list<std::uint16_t> adn = {files::kTelecom, files::kAdn};
    checks.expectBytes(after.record(adn, 0), sim::adnRecordBytes(28, text("AB"), "123"),
                       "EF_ADN record 1");
    checks.expectBytes(after.record(adn, 1), sim::adnRecordBytes(28, ucs2Name, "5551234"),
                       "EF_ADN record 2");
    checks.expectBytes(after.record(adn, 2), sim::adnRecordBytes(28, {}, "112"), "EF_ADN record 3");
    for (std::size_t r = 3; r < options.adnCount; ++r) {
        checks.expectBytes(after.record(adn, r), Bytes(28, 0xFF),
                           "EF_ADN record " + std::to_string(r + 1) + " (cleared)");
    }
}

void extendedPhonebookWriteAndReadBack(const Exports& zrn, CardStack& stack, Checks& checks) {
    const sim::ExtendedGeometry g = smallGeometry();
    const Bytes ucs2Name{0x80, 0x00, 0x41, 0x00, 0x42};
    const Bytes groups = concat({element("GRP", "Family"), element("GRP", "Work"),
                                 element("GRP", ""), element("GRP", ""), element("GRP", ""),
                                 element("GRP", ""), element("GRP", ""), element("GRP", "")});
    // The first contact is the one whose bytes GSM phone-book tools agree on:
    // "AB", 123 and mobile 456, no ADI, groups 2 and 5.
    const Bytes first = contact({element("NMT", "AB"), element("ADN", "123"), kEmptyGpi,
                                 element("MBL", "456"), kEmptyGpi, element("ADI", ""),
                                 element("ADI", ""), element("GPI", Bytes{0x32, 0x01, 0x35})});
    const Bytes second = contact({element("NMT", ucs2Name), element("ADN", "5551234"), kEmptyGpi,
                                  element("OFE", "0123456789"), kEmptyGpi, element("ADI", "note"),
                                  element("ADI", ""), element("GPI", "1")});
    const Bytes stream = concat({groups, first, second});

    Session card(stack, sim::buildExtendedCard(g));
    checks.expectCode(zrn.ConnectReader(card.handle()), kOk, "ConnectReader");
    checks.expectCode(zrn.WriteZRN(2, static_cast<std::int32_t>(stream.size()), stream.data()), kOk,
                      "WriteZRN");

    const StreamResult read = readPhonebook(zrn);
    checks.expectCode(read.code, kOk, "ReadZRN");
    checks.expectCode(read.count, 2, "ReadZRN contact count");
    std::vector<Element> top;
    checks.expect(splitElements(read.stream, top), "ReadZRN: malformed stream");
    checks.expectText(tagsOf(top), "GRP GRP GRP GRP GRP GRP GRP GRP NCD NCD", "ReadZRN elements");
    if (top.size() == 10) {
        checks.expectBytes(ByteView(read.stream).first(groups.size()), groups, "group list");
        checks.expectBytes(element("NCD", top[8].value), first, "first contact");
        std::vector<Element> inner;
        splitElements(top[9].value, inner);
        checks.expectText(tagsOf(inner), "NMT ADN GPI OFE GPI ADI ADI GPI", "second contact");
        if (inner.size() == 8) {
            checks.expectBytes(inner[0].value, ucs2Name, "second contact name");
            checks.expectBytes(inner[3].value, text("0123456789"), "second contact OFE");
            checks.expect((inner[5].value == text("note") && inner[6].value.empty()) ||
                              (inner[6].value == text("note") && inner[5].value.empty()),
                          "second contact ADI: expected one \"note\" and one empty");
            checks.expectBytes(inner[7].value, text("1"), "second contact groups");
        }
    }

    // The card as the writer lays it out: unused places 00.
    const CardImage after = card.remove();
    const std::uint16_t dir = g.directory;
    checks.expectBytes(after.record({dir, files::kGroup}, 0),
                       sim::groupRecordBytes(g, text("Family")), "group record 1");
    checks.expectBytes(after.record({dir, files::kGroup}, 1),
                       sim::groupRecordBytes(g, text("Work")), "group record 2");
    checks.expectBytes(after.record({dir, files::kGroup}, 2), sim::groupRecordBytes(g, {}),
                       "group record 3");
    const std::size_t L = g.nameSlotLength;
    const std::size_t N = g.numberSlotLength;
    checks.expectBytes(slotOf(after, {dir, files::kName}, 0, L),
                       padded({0x04, 0x82, 0x00, 0x00, 'A', 'B'}, L, 0x00), "name slot 1");
    checks.expectBytes(slotOf(after, {dir, files::kName}, L, L),
                       padded({0x00, 0x64, 0x00, 0x00, 0x00, 0x41, 0x00, 0x42}, L, 0x00),
                       "name slot 2");
    checks.expectBytes(slotOf(after, {dir, files::kName}, 2 * L, L), Bytes(L, 0x00), "name slot 3");
    checks.expectBytes(slotOf(after, {dir, files::kNumber}, 0, N),
                       padded({0x00, 0x01, 0x83, 0x81, 0x21, 0xF3}, N, 0x00), "number slot 0");
    checks.expectBytes(slotOf(after, {dir, files::kNumber}, N, N),
                       padded({0x00, 0x02, 0x85, 0x81, 0x55, 0x15, 0x32, 0xF4}, N, 0x00),
                       "number slot 1");
    checks.expectBytes(slotOf(after, {dir, files::kNumber}, g.adnCount * N, N),
                       padded({0x00, 0x01, 0x23, 0x81, 0x54, 0xF6}, N, 0x00),
                       "first additional number slot");
    checks.expectBytes(slotOf(after, {dir, files::kNumber}, (g.adnCount + 1u) * N, N),
                       padded({0x00, 0x02, 0x66, 0x81, 0x10, 0x32, 0x54, 0x76, 0x98}, N, 0x00),
                       "second additional number slot");
    checks.expectBytes(after.record({dir, files::kAdi}, 0),
                       padded({0x00, 0x02, 0x04, 'n', 'o', 't', 'e'}, g.adiRecordLength, 0x00),
                       "ADI entry 1");
    checks.expectBytes(after.record({dir, files::kAdi}, 1), Bytes(g.adiRecordLength, 0x00),
                       "ADI entry 2");
}

void extendedPhonebookReadsSampleBack(const Exports& zrn, CardStack& stack, Checks& checks) {
    Session card(stack, sim::extendedSample());
    checks.expectCode(zrn.ConnectReader(card.handle()), kOk, "ConnectReader");
    const StreamResult read = readPhonebook(zrn);
    checks.expectCode(read.code, kOk, "ReadZRN");
    checks.expectCode(read.count, 15, "ReadZRN contact count of the sample");
    checks.expectCode(
        zrn.WriteZRN(read.count, static_cast<std::int32_t>(read.stream.size()), read.stream.data()),
        kOk, "WriteZRN of what ReadZRN gave");
    const StreamResult again = readPhonebook(zrn);
    checks.expectCode(again.code, kOk, "second ReadZRN");
    checks.expectCode(again.count, read.count, "second ReadZRN contact count");
    checks.expectBytes(again.stream, read.stream, "phone book after writing it back");
}

// ---------------------------------------------------------------------------
// Short messages.

void smsReadsEveryStoredMessage(const Exports& zrn, CardStack& stack, Checks& checks) {
    const CardImage image = sim::standardSample();
    Session card(stack, image);
    checks.expectCode(zrn.ConnectReader(card.handle()), kOk, "ConnectReader");
    Bytes expected;
    std::int32_t used = 0;
    for (std::size_t r = 0; r < recordsOf(image, files::kSms); ++r) {
        const Bytes record = image.record({files::kTelecom, files::kSms}, r);
        if (record[0] != 0x00) {
            const Bytes e = smsElement("CMS", record);
            expected.insert(expected.end(), e.begin(), e.end());
            ++used;
        }
    }
    const StreamResult read = readMessages(zrn, image);
    checks.expectCode(read.code, kOk, "ReadSMS");
    checks.expectCode(read.count, used, "ReadSMS element count");
    checks.expectBytes(read.stream, expected, "ReadSMS stream");
    checks.expect(card.remove() == image, "reading changed the card");
}

void smsWriteFillsAllThreeStores(const Exports& zrn, CardStack& stack, Checks& checks) {
    sim::ExtendedGeometry g = smallGeometry();
    g.extraMessageCount = 5;
    CardImage image = sim::buildExtendedCard(g);
    freeAllMessageRecords(image);
    const Bytes m1 = sampleMessage(0x01, 0x31);
    const Bytes m2 = sampleMessage(0x03, 0x32);
    const Bytes m3 = sampleMessage(0x05, 0x33);
    const Bytes m4 = sampleMessage(0x07, 0x34);
    // Mixed order: each store keeps the order of its own elements.
    const Bytes stream = concat({smsElement("CMS", m1), smsElement("LMS", m2),
                                 smsElement("CMS", m3), smsElement("EMS", m4)});

    Session card(stack, image);
    checks.expectCode(zrn.ConnectReader(card.handle()), kOk, "ConnectReader");
    checks.expectCode(zrn.WriteSMS(4, static_cast<std::int32_t>(stream.size()), stream.data()), kOk,
                      "WriteSMS");
    const StreamResult read = readMessages(zrn, image);
    checks.expectCode(read.code, kOk, "ReadSMS");
    checks.expectCode(read.count, 4, "ReadSMS element count");
    checks.expectBytes(read.stream,
                       concat({smsElement("CMS", m1), smsElement("CMS", m3), smsElement("LMS", m2),
                               smsElement("EMS", m4)}),
                       "ReadSMS after WriteSMS");

    const CardImage after = card.remove();
    const std::initializer_list<std::uint16_t> sms = {files::kTelecom, files::kSms};
    const std::initializer_list<std::uint16_t> extra = {files::kTelecom, files::kExtraMessages};
    checks.expectBytes(after.record(sms, 0), m1, "EF_SMS record 1");
    checks.expectBytes(after.record(sms, 1), m3, "EF_SMS record 2");
    checks.expectBytes(after.record(sms, 2), image.record(sms, 2), "EF_SMS record 3 (unchanged)");
    checks.expectBytes(after.record(extra, 0), m2, "extra message record 1");
    checks.expectBytes(after.record(extra, 1), m4, "extra message record 2");
    checks.expectBytes(slotOf(after, {files::kTelecom, files::kExtraMessageIndex}, 0, 5),
                       Bytes{0x02, 0x01, 0x00, 0x00, 0x00}, "extra message index");
}

void smsRefusesMoreThanTheCardHolds(const Exports& zrn, CardStack& stack, Checks& checks) {
    sim::StandardCardOptions options;
    options.smsCount = 3;
    CardImage image = sim::buildStandardCard(options);
    freeAllMessageRecords(image);
    Bytes stream;
    for (std::uint8_t i = 0; i < 4; ++i) {
        const Bytes e = smsElement("CMS", sampleMessage(0x01, static_cast<std::uint8_t>(0x41 + i)));
        stream.insert(stream.end(), e.begin(), e.end());
    }
    Session card(stack, image);
    checks.expectCode(zrn.ConnectReader(card.handle()), kOk, "ConnectReader");
    checks.expectCode(zrn.WriteSMS(4, static_cast<std::int32_t>(stream.size()), stream.data()),
                      kDataDoesNotFit, "WriteSMS of 4 messages into 3 records");
    checks.expect(card.remove() == image, "a refused WriteSMS changed the card");
}

constexpr Case kCases[] = {
    {"ConnectStandardCard", connectStandardCard},
    {"ConnectExtendedCard", connectExtendedCard},
    {"ConnectExtendedCardIn5F00", connectExtendedCardIn5F00},
    {"ConnectRefusals", connectRefusals},
    {"NoCardBeforeConnect", noCardBeforeConnect},
    {"ErrorMessages", errorMessages},
    {"StandardPhonebookReadsSample", standardPhonebookReadsSample},
    {"StandardPhonebookWriteAndReadBack", standardPhonebookWriteAndReadBack},
    {"ExtendedPhonebookWriteAndReadBack", extendedPhonebookWriteAndReadBack},
    {"ExtendedPhonebookReadsSampleBack", extendedPhonebookReadsSampleBack},
    {"SmsReadsEveryStoredMessage", smsReadsEveryStoredMessage},
    {"SmsWriteFillsAllThreeStores", smsWriteFillsAllThreeStores},
    {"SmsRefusesMoreThanTheCardHolds", smsRefusesMoreThanTheCardHolds},
};

}  // namespace

std::span<const Case> integrationCases() {
    return kCases;
}

}  // namespace zrn::integration
