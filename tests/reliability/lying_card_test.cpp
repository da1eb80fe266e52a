// Cards that lie: selection responses too short or with record length 0,
// files larger than READ BINARY returns, answers longer than asked, records
// of other lengths than the geometry's, and geometries past the field widths
// of the card layout. Every export must stay inside its buffers (the
// sanitizer build checks that), give a documented result, and keep the card
// as it was when it refuses.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "channel/card_channel.h"
#include "connection/geometry.h"
#include "fuzz/harness/answer_rewriter.h"
#include "fuzz/harness/checked_calls.h"
#include "fuzz/harness/contracts.h"
#include "sim/card_builder.h"
#include "sim/samples.h"
#include "sms/sms.h"
#include "zrn.h"

namespace zrn::fuzz {
namespace {

namespace files = sim::files;

constexpr std::uint8_t kSelect = 0xA4;
constexpr std::uint8_t kGetResponse = 0xC0;
constexpr std::uint8_t kReadBinary = 0xB0;
constexpr std::uint8_t kReadRecord = 0xB2;
constexpr std::size_t kReceiveRoom = channel::CardChannel::kReceiveBufferSize;

using Change = std::function<void(Bytes& response)>;

// Rewrites the answers to one instruction while `file` is the selected file
// (for SELECT: the answer to selecting it).
AnswerRewriter::Rewrite lieAbout(std::uint16_t file, std::uint8_t instruction, Change change) {
    auto selected = std::make_shared<std::uint16_t>(0);
    return [=](ByteView command, Bytes& response) -> long {
        const bool isSelect = command.size() >= 7 && command[1] == kSelect;
        const bool selectedOk = response.size() >= 2 && response[response.size() - 2] == 0x9F;
        if (isSelect && selectedOk) {
            *selected = readBe16(&command[5]);
        }
        if (command[1] == instruction && *selected == file) {
            change(response);
        }
        return 0;
    };
}

// A selection that announces only `length` bytes of response data.
Change announce(std::uint8_t length) {
    return [=](Bytes& r) { r.back() = length; };
}

// The GET RESPONSE data with byte `at` replaced.
Change responseByte(std::size_t at, std::uint8_t value) {
    return [=](Bytes& r) {
        if (r.size() > at + 2) {
            r[at] = value;
        }
    };
}

// Only the first half of the data asked for, with 90 00.
Change halfTheData() {
    return [](Bytes& r) {
        if (r.size() > 2) {
            r.erase(r.begin() + static_cast<std::ptrdiff_t>((r.size() - 2) / 2), r.end() - 2);
        }
    };
}

// Up to 16 bytes more than asked, as many as the 260-byte receive buffer takes.
Change moreDataThanAsked() {
    return [](Bytes& r) {
        const std::size_t room = kReceiveRoom - std::min(r.size(), kReceiveRoom);
        r.insert(r.end() - 2, std::min<std::size_t>(16, room), 0x5A);
    };
}

// --- a card run behind a liar --------------------------------------------------

struct Result {
    std::int32_t connect = 0;
    std::int32_t call = 0;
    sim::CardImage after;
    bool updated = false;
};

using Call = std::function<std::int32_t()>;

Result runLying(const sim::CardImage& image, AnswerRewriter::Rewrite rewrite, const Call& call) {
    CardRun run(image);
    AnswerRewriter liar(run.card(), std::move(rewrite));
    sim::insertCard(&liar);
    Result r;
    r.connect = checkedConnect();
    run.card().clearLog();
    r.call = call();
    r.after = run.card().image();
    r.updated = sentUpdate(run.card());
    sim::insertCard(nullptr);
    return r;
}

std::int32_t readZrn() {
    return checkedReadZrn().result;
}
std::int32_t readSms() {
    return checkedReadSms(sms::kMaxStoredMessages).result;
}

// The sample's own phone book and messages, to write back.
struct SampleStreams {
    StreamRead phonebook;
    StreamRead messages;
};

SampleStreams streamsOf(const sim::CardImage& image) {
    CardRun run(image);
    checkedConnect();
    return {checkedReadZrn(), checkedReadSms(sms::kMaxStoredMessages)};
}

Call writeZrnOf(const sim::CardImage& image) {
    const StreamRead read = streamsOf(image).phonebook;
    return [read] { return checkedWriteZrn(read.count, read.stream); };
}

Call writeSmsOf(const sim::CardImage& image) {
    const StreamRead read = streamsOf(image).messages;
    return [read] { return checkedWriteSms(read.count, read.stream); };
}

const sim::CardImage& extended() {
    static const sim::CardImage kCard = sim::extendedSample();
    return kCard;
}
const sim::CardImage& standard() {
    static const sim::CardImage kCard = sim::standardSample();
    return kCard;
}

void throwOnViolation(const std::string& what) {
    throw std::runtime_error(what);
}

class LyingCards : public ::testing::Test {
  protected:
    void SetUp() override { setViolationHandler(throwOnViolation); }
    void TearDown() override { setViolationHandler(nullptr); }
};

// --- table: one lie, one export, the results it may give ------------------------

struct LieCase {
    const char* what;
    const sim::CardImage* card;
    std::uint16_t file;
    std::uint8_t instruction;
    Change change;
    Call call;
    std::set<std::int32_t> connectResults;
    std::set<std::int32_t> results;
};

void expectLie(const LieCase& c) {
    SCOPED_TRACE(c.what);
    Result r;
    try {
        r = runLying(*c.card, lieAbout(c.file, c.instruction, c.change), c.call);
    } catch (const std::runtime_error& broken) {
        ADD_FAILURE() << broken.what();
        return;
    }
    EXPECT_EQ(c.connectResults.count(r.connect), 1u) << "ConnectReader gave " << r.connect;
    EXPECT_EQ(c.results.count(r.call), 1u) << "the call gave " << r.call;
    if (r.call != 0) {
        EXPECT_FALSE(r.updated) << "refused, yet an UPDATE was sent";
        EXPECT_EQ(changedFiles(*c.card, r.after), std::vector<std::string>{});
    }
}

TEST_F(LyingCards, SelectionResponsesTooShortFailTheirStep) {
    const std::vector<LieCase> cases = {
        {"EF_ADN announces 10 bytes",
         &standard(),
         files::kAdn,
         kSelect,
         announce(10),
         readZrn,
         {3},
         {319}},
        {"EF_SMS announces 10 bytes",
         &standard(),
         files::kSms,
         kSelect,
         announce(10),
         readSms,
         {3},
         {2}},
        {"name file announces 2 bytes",
         &extended(),
         files::kName,
         kSelect,
         announce(2),
         readZrn,
         {0},
         {2}},
        {"group file announces 10 bytes",
         &extended(),
         files::kGroup,
         kSelect,
         announce(10),
         readZrn,
         {0},
         {2}},
        {"ADI file announces 10 bytes",
         &extended(),
         files::kAdi,
         kSelect,
         announce(10),
         readZrn,
         {0},
         {2}},
        {"number file announces 3 bytes",
         &extended(),
         files::kNumber,
         kSelect,
         announce(3),
         writeZrnOf(extended()),
         {0},
         {333}},
        {"extra message file announces 10 bytes",
         &extended(),
         files::kExtraMessages,
         kSelect,
         announce(10),
         readSms,
         {0},
         {2}},
        {"EF_SMS announces 10 bytes to the writer",
         &extended(),
         files::kSms,
         kSelect,
         announce(10),
         writeSmsOf(extended()),
         {3},
         {2}},
    };
    for (const LieCase& c : cases) {
        expectLie(c);
    }
}

TEST_F(LyingCards, RecordLengthZeroMeansNoRecords) {
    const std::vector<LieCase> cases = {
        {"EF_ADN record length 0: read",
         &standard(),
         files::kAdn,
         kGetResponse,
         responseByte(14, 0),
         readZrn,
         {0},
         {319}},
        {"EF_ADN record length 0: write",
         &standard(),
         files::kAdn,
         kGetResponse,
         responseByte(14, 0),
         writeZrnOf(standard()),
         {0},
         {2}},
        {"EF_SMS record length 0: read",
         &standard(),
         files::kSms,
         kGetResponse,
         responseByte(14, 0),
         readSms,
         {0},
         {2}},
        {"EF_SMS record length 0: write",
         &extended(),
         files::kSms,
         kGetResponse,
         responseByte(14, 0),
         writeSmsOf(extended()),
         {0},
         {2}},
        // No group or ADI records where the configuration counts some: failing
        // the read and reading none are both sound.
        {"group record length 0",
         &extended(),
         files::kGroup,
         kGetResponse,
         responseByte(14, 0),
         readZrn,
         {0},
         {0, 2}},
        {"ADI record length 0",
         &extended(),
         files::kAdi,
         kGetResponse,
         responseByte(14, 0),
         readZrn,
         {0},
         {0, 2}},
        {"extra message record length 0",
         &extended(),
         files::kExtraMessages,
         kGetResponse,
         responseByte(14, 0),
         readSms,
         {0},
         {2, 305}},
    };
    for (const LieCase& c : cases) {
        expectLie(c);
    }
}

TEST_F(LyingCards, ConnectionWithRecordLengthZeroCountsNoRecords) {
    const Result r =
        runLying(standard(), lieAbout(files::kAdn, kGetResponse, responseByte(14, 0)), [] {
            std::string text;
            checkedGetConfig(&text);
            EXPECT_EQ(text.substr(0, 2), "0,");
            return 0;
        });
    EXPECT_EQ(r.connect, 0);
}

// A phone book read with slots missing would, written back, erase the
// contacts in them: a file that reads short is a failed read.
TEST_F(LyingCards, FilesLargerThanReadBinaryReturnsFailTheRead) {
    const std::vector<LieCase> cases = {
        {"name file reads half of each piece",
         &extended(),
         files::kName,
         kReadBinary,
         halfTheData(),
         readZrn,
         {0},
         {2}},
        {"number file reads half of each piece",
         &extended(),
         files::kNumber,
         kReadBinary,
         halfTheData(),
         readZrn,
         {0},
         {2}},
        {"name file claims 0x3000 bytes",
         &extended(),
         files::kName,
         kGetResponse,
         responseByte(2, 0x30),
         readZrn,
         {0},
         {2}},
        {"index reads half",
         &extended(),
         files::kExtraMessageIndex,
         kReadBinary,
         halfTheData(),
         readSms,
         {0},
         {2}},
        {"ADI records read half",
         &extended(),
         files::kAdi,
         kReadRecord,
         halfTheData(),
         readZrn,
         {0},
         {2}},
        {"EF_SMS records read half",
         &extended(),
         files::kSms,
         kReadRecord,
         halfTheData(),
         readSms,
         {0},
         {2}},
        {"EF_ADN records read half",
         &standard(),
         files::kAdn,
         kReadRecord,
         halfTheData(),
         readZrn,
         {0},
         {319}},
    };
    for (const LieCase& c : cases) {
        expectLie(c);
    }
}

// A file claimed larger than it is, written: the write stops at the first
// refused piece and reports it; nothing outside the files written changes.
TEST_F(LyingCards, NameFileClaimedLargerStopsTheWrite) {
    const Result r =
        runLying(extended(), lieAbout(files::kName, kGetResponse, responseByte(2, 0x30)),
                 writeZrnOf(extended()));
    EXPECT_EQ(r.call, 363);
    for (const std::string& path : changedFiles(extended(), r.after)) {
        EXPECT_TRUE(path == "7F10/6F0C" || path == "7F10/6F04") << path;
    }
}

// Data beyond what was asked is not taken: every export answers exactly as
// the honest card makes it answer.
TEST_F(LyingCards, AnswersLongerThanAskedChangeNothing) {
    struct Read {
        StreamRead phonebook;
        StreamRead messages;
        std::string config;
    };
    auto readAll = [](const sim::CardImage& card, AnswerRewriter::Rewrite rewrite) {
        Read read;
        runLying(card, std::move(rewrite), [&] {
            checkedGetConfig(&read.config);
            read.phonebook = checkedReadZrn();
            read.messages = checkedReadSms(sms::kMaxStoredMessages);
            return 0;
        });
        return read;
    };
    const auto everyAnswerLonger = [](ByteView command, Bytes& response) -> long {
        const std::uint8_t ins = command[1];
        if (ins == kGetResponse || ins == kReadBinary || ins == kReadRecord) {
            moreDataThanAsked()(response);
        }
        return 0;
    };
    for (const sim::CardImage* card : {&extended(), &standard()}) {
        const Read honest = readAll(*card, [](ByteView, Bytes&) { return 0L; });
        const Read lying = readAll(*card, everyAnswerLonger);
        EXPECT_EQ(lying.config, honest.config);
        EXPECT_EQ(lying.phonebook.result, 0);
        EXPECT_EQ(lying.phonebook.stream, honest.phonebook.stream);
        EXPECT_EQ(lying.messages.result, 0);
        EXPECT_EQ(lying.messages.stream, honest.messages.stream);
    }
}

// --- records of other lengths than the geometry's (crafted images) ---------------

// The same records, cut or padded with FF to `recordLength`.
sim::CardImage withRecordLength(sim::CardImage image, std::initializer_list<std::uint16_t> path,
                                std::uint8_t recordLength) {
    const std::size_t count = image.find(path)->recordCount();
    std::vector<Bytes> records;
    for (std::size_t r = 0; r < count; ++r) {
        records.push_back(image.record(path, r));
        records.back().resize(std::min<std::size_t>(records.back().size(), recordLength));
    }
    image.putLinearFixed(path, recordLength, count);
    for (std::size_t r = 0; r < count; ++r) {
        image.setRecord(path, r, records[r]);
    }
    return image;
}

struct RecordLengthCase {
    const char* what;
    sim::CardImage card;
    Call call;
    std::set<std::int32_t> results;
    std::set<std::string> mayChange;
};

TEST_F(LyingCards, RecordLengthsOtherThanTheGeometrysAreBounded) {
    const sim::CardImage shortAdi =
        withRecordLength(extended(), {files::kTelecom, files::kAdi}, 40);
    const sim::CardImage longAdi = withRecordLength(extended(), {files::kTelecom, files::kAdi}, 80);
    const sim::CardImage longGroups =
        withRecordLength(extended(), {files::kTelecom, files::kGroup}, 20);
    const sim::CardImage shortSms =
        withRecordLength(extended(), {files::kTelecom, files::kSms}, 100);
    const sim::CardImage shortExtra =
        withRecordLength(extended(), {files::kTelecom, files::kExtraMessages}, 100);
    const sim::CardImage tinyAdn = withRecordLength(standard(), {files::kTelecom, files::kAdn}, 10);
    const std::set<std::string> phonebookFiles = {"7F10/6F04", "7F10/6F06", "7F10/6F08",
                                                  "7F10/6F0C"};
    const std::vector<RecordLengthCase> cases = {
        {"ADI records of 40 read", shortAdi, readZrn, {0}, {}},
        {"ADI records of 80 read", longAdi, readZrn, {0}, {}},
        {"group records of 20 read", longGroups, readZrn, {0}, {}},
        {"ADI records of 40 written", shortAdi, writeZrnOf(extended()), {2}, phonebookFiles},
        {"ADI records of 80 written", longAdi, writeZrnOf(extended()), {2}, phonebookFiles},
        {"group records of 20 written", longGroups, writeZrnOf(extended()), {2}, phonebookFiles},
        {"EF_SMS records of 100 read", shortSms, readSms, {2}, {}},
        {"EF_SMS records of 100 written", shortSms, writeSmsOf(extended()), {2}, {}},
        {"extra records of 100 read", shortExtra, readSms, {305}, {}},
        {"extra records of 100 written", shortExtra, writeSmsOf(extended()), {2}, {}},
        {"EF_ADN records of 10 read", tinyAdn, readZrn, {319}, {}},
        {"EF_ADN records of 10 written", tinyAdn, writeZrnOf(standard()), {2}, {}},
    };
    for (const RecordLengthCase& c : cases) {
        SCOPED_TRACE(c.what);
        Result r;
        try {
            r = runLying(
                c.card, [](ByteView, Bytes&) { return 0L; }, c.call);
        } catch (const std::runtime_error& broken) {
            ADD_FAILURE() << broken.what();
            continue;
        }
        EXPECT_EQ(c.results.count(r.call), 1u) << "the call gave " << r.call;
        for (const std::string& path : changedFiles(c.card, r.after)) {
            EXPECT_EQ(c.mayChange.count(path), 1u) << path << " changed";
        }
    }
}

// --- geometries past the field widths ---------------------------------------------

Bytes element(std::string_view tag, ByteView value) {
    Bytes out = {0x01,
                 static_cast<std::uint8_t>(tag[0]),
                 static_cast<std::uint8_t>(tag[1]),
                 static_cast<std::uint8_t>(tag[2]),
                 0,
                 0,
                 0,
                 0};
    const auto n = static_cast<std::uint32_t>(value.size());
    out[5] = static_cast<std::uint8_t>(n >> 16);
    out[6] = static_cast<std::uint8_t>(n >> 8);
    out[7] = static_cast<std::uint8_t>(n);
    out.insert(out.end(), value.begin(), value.end());
    return out;
}

Bytes text(std::size_t length, char first) {
    Bytes out(length);
    for (std::size_t i = 0; i < length; ++i) {
        out[i] = static_cast<std::uint8_t>(first + static_cast<char>(i % 26));
    }
    return out;
}

void append(Bytes& out, const Bytes& more) {
    out.insert(out.end(), more.begin(), more.end());
}

struct Contact {
    Bytes name;
    Bytes mobile;  // digit text; empty: none
    Bytes adi;     // empty: none
};

Bytes phonebookStream(const std::vector<Bytes>& groups, const Contact& contact) {
    Bytes stream;
    for (const Bytes& g : groups) {
        append(stream, element("GRP", g));
    }
    Bytes body = element("NMT", contact.name);
    if (!contact.mobile.empty()) {
        append(body, element("MBL", contact.mobile));
        append(body, element("GPI", {}));
    }
    append(body, element("ADI", contact.adi));
    append(body, element("ADI", {}));
    append(body, element("GPI", Bytes{'1'}));
    append(stream, element("NCD", body));
    return stream;
}

struct Parsed {
    std::vector<Bytes> groups;
    std::vector<std::pair<std::string, Bytes>> firstContact;
};

Parsed parse(ByteView stream) {
    Parsed parsed;
    bool sawContact = false;
    std::size_t at = 0;
    while (at + 8 <= stream.size()) {
        const std::string tag(stream.begin() + static_cast<std::ptrdiff_t>(at + 1),
                              stream.begin() + static_cast<std::ptrdiff_t>(at + 4));
        const std::size_t n = (std::size_t{stream[at + 5]} << 16) |
                              (std::size_t{stream[at + 6]} << 8) | stream[at + 7];
        const ByteView value = stream.subspan(at + 8, n);
        if (tag == "GRP") {
            parsed.groups.emplace_back(value.begin(), value.end());
        } else if (tag == "NCD" && !sawContact && n > 0) {
            sawContact = true;
            std::size_t inner = 0;
            while (inner + 8 <= value.size()) {
                const std::size_t m = value[inner + 7];
                parsed.firstContact.emplace_back(
                    std::string(value.begin() + static_cast<std::ptrdiff_t>(inner + 1),
                                value.begin() + static_cast<std::ptrdiff_t>(inner + 4)),
                    Bytes(value.begin() + static_cast<std::ptrdiff_t>(inner + 8),
                          value.begin() + static_cast<std::ptrdiff_t>(inner + 8 + m)));
                inner += 8 + m;
            }
        }
        at += 8 + n;
    }
    return parsed;
}

Bytes valueOf(const Parsed& parsed, const std::string& tag) {
    for (const auto& [t, v] : parsed.firstContact) {
        if (t == tag && !v.empty()) {
            return v;
        }
    }
    return {};
}

bool isPrefix(const Bytes& part, const Bytes& whole) {
    return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

// Name slots of 60 bytes, number slots of 60, ADI entries of 100 and group
// names of 40: more than the name length (5 bits), number length (5 bits),
// ADI text length (6 bits) and group table (255 bytes) can describe.
sim::CardImage pastTheFieldWidths() {
    sim::ExtendedGeometry g;
    g.nameSlotLength = 60;
    g.numberSlotLength = 60;
    g.adnCount = 10;
    g.nameSlotCount = 10;
    g.numberSlotCount = 30;
    g.groupCount = 8;
    g.groupNameLength = 40;
    g.adiCount = 10;
    g.adiRecordLength = 100;
    g.optionFlags = 0x12;
    return sim::buildExtendedCard(g);
}

struct WidthCase {
    const char* what;
    std::vector<Bytes> groups;
    Contact contact;
    std::set<std::int32_t> refusals;  // besides 0
    std::size_t fieldLimit;           // what the length field can describe
    const char* tag;                  // the element checked after reading back
};

// What is accepted is stored within the field's width: read back, it is a
// prefix of what was written, never longer than the field can say.
TEST_F(LyingCards, GeometriesPastTheFieldWidthsAreBoundedByTheFields) {
    const std::vector<Bytes> eightGroups(8, text(5, 'a'));
    const std::vector<WidthCase> cases = {
        {"a name of 50 bytes", eightGroups, {text(50, 'A'), {}, {}}, {352}, 31, "NMT"},
        {"a mobile number of 100 digits",
         eightGroups,
         {text(3, 'A'), Bytes(100, '7'), {}},
         {343},
         60,
         "MBL"},
        {"an ADI text of 80 bytes",
         eightGroups,
         {text(3, 'A'), {}, text(80, 'n')},
         {347},
         63,
         "ADI"},
    };
    for (const WidthCase& c : cases) {
        SCOPED_TRACE(c.what);
        const sim::CardImage card = pastTheFieldWidths();
        CardRun run(card);
        try {
            ASSERT_EQ(checkedConnect(), 0);
            const std::int32_t result = checkedWriteZrn(1, phonebookStream(c.groups, c.contact));
            if (result != 0) {
                EXPECT_EQ(c.refusals.count(result), 1u) << result;
                EXPECT_EQ(changedFiles(card, run.card().image()), std::vector<std::string>{});
                continue;
            }
            const StreamRead back = checkedReadZrn();
            ASSERT_EQ(back.result, 0);
            const Parsed parsed = parse(back.stream);
            const Bytes stored = valueOf(parsed, c.tag);
            const Bytes& written = std::string_view(c.tag) == "NMT"   ? c.contact.name
                                   : std::string_view(c.tag) == "MBL" ? c.contact.mobile
                                                                      : c.contact.adi;
            EXPECT_FALSE(stored.empty()) << "accepted, yet nothing is stored";
            EXPECT_TRUE(isPrefix(stored, written)) << "stored something else than was written";
            EXPECT_LE(stored.size(), c.fieldLimit);
        } catch (const std::runtime_error& broken) {
            ADD_FAILURE() << broken.what();
        }
    }
}

// Eight names of 40 bytes exceed the group table's 255 bytes (and the 300
// bytes of ReadZRN's group list): what reaches the group records stays within
// the table, each name in its own record or none, and reads back.
TEST_F(LyingCards, GroupNamesPastTheGroupTableAreBounded) {
    const sim::CardImage card = pastTheFieldWidths();
    CardRun run(card);
    ASSERT_EQ(checkedConnect(), 0);
    std::vector<Bytes> written;
    for (int i = 0; i < 8; ++i) {
        written.push_back(text(40, static_cast<char>('A' + i)));
    }
    const std::int32_t result =
        checkedWriteZrn(1, phonebookStream(written, {text(3, 'x'), {}, {}}));
    ASSERT_EQ(result, 0);
    std::size_t table = 0;
    for (std::size_t r = 0; r < written.size(); ++r) {
        const Bytes record = run.card().image().record({files::kTelecom, files::kGroup}, r);
        ASSERT_FALSE(record.empty());
        const std::size_t length = std::min<std::size_t>(record[0], record.size() - 1);
        const Bytes name(record.begin() + 1,
                         record.begin() + 1 + static_cast<std::ptrdiff_t>(length));
        table += 1 + name.size();
        EXPECT_TRUE(isPrefix(name, written[r])) << "group " << r + 1;
    }
    EXPECT_LE(table, 255u);
    EXPECT_EQ(checkedReadZrn().result, 0) << "a phone book written that cannot be read back";
}

// A card whose index is shorter than its extra message file is read as if
// the records without an index byte held 0; writing to it must work alike.
TEST_F(LyingCards, MessagesStoreOnAnIndexShorterThanTheExtraFile) {
    sim::StandardCardOptions options;
    options.smsCount = 6;
    options.extraMessageCount = 8;
    sim::CardImage card = sim::buildStandardCard(options);
    card.putLinearFixed({files::kTelecom, files::kSms}, 176, 6, 0x00);
    card.putLinearFixed({files::kTelecom, files::kExtraMessages}, 176, 8, 0x00);
    card.find({files::kTelecom, files::kExtraMessageIndex})->data.resize(3);
    const Bytes record = sim::smsRecordBytes(0x01, Bytes{0x00, 0x04, 0x00});
    Bytes stream;
    for (const char* tag : {"LMS", "EMS"}) {
        append(stream, {0x01, static_cast<std::uint8_t>(tag[0]), 'M', 'S', 0x00, 0x00, 0x01, 0x60});
        const std::string hex = toHex(record, false);
        stream.insert(stream.end(), hex.begin(), hex.end());
    }
    CardRun run(card);
    ASSERT_EQ(checkedConnect(), 0);
    EXPECT_EQ(checkedWriteSms(2, stream), 0);
    const StreamRead back = checkedReadSms(sms::kMaxStoredMessages);
    EXPECT_EQ(back.result, 0);
    EXPECT_EQ(back.count, 2);
}

}  // namespace
}  // namespace zrn::fuzz
