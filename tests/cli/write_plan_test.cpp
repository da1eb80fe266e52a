// Imports and restores send only what changed: on the bundled samples as they
// ship and on the largest cards, an unchanged phone book or backup sends no
// updating command, one changed number at most two.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "bench/bench_cards.h"
#include "cli/card_data.h"
#include "cli/card_session.h"
#include "cli/errors.h"
#include "cli/image_json.h"
#include "core/card_images.h"
#include "sim/card_builder.h"
#include "sim/samples.h"
#include "sim/sim_card.h"
#include "sms/sms.h"

namespace zrn {
namespace {

constexpr std::uint8_t kUpdateBinary = 0xD6;
constexpr std::uint8_t kUpdateRecord = 0xDC;

struct NamedCard {
    const char* name;
    sim::CardImage image;
};

std::vector<NamedCard> planCards() {
    return {{"extended sample", sim::extendedSample()},
            {"standard sample", sim::standardSample()},
            {"largest extended", bench::buildLargestExtendedCard(bench::CardSize::kFull).image},
            {"largest standard", bench::buildLargestStandardCard(bench::CardSize::kFull).image}};
}

class WritePlan : public ::testing::Test {
  public:
    void SetUp() override {
        char pattern[] = "/tmp/zrn-plan-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::unique_ptr<cli::CardSession> open(const sim::CardImage& image) {
        const std::string path = (dir_ / "card.json").string();
        sim::saveImage(image, path);
        cli::SessionOptions options;
        options.simImage = path;
        auto session = cli::CardSession::open(options);
        session->simulatedCard()->clearLog();
        return session;
    }
    static std::size_t updates(cli::CardSession& session) {
        std::size_t n = 0;
        for (const sim::Exchange& e : session.simulatedCard()->log()) {
            n += e.command[1] == kUpdateBinary || e.command[1] == kUpdateRecord ? 1u : 0u;
        }
        return n;
    }
    static std::size_t commands(cli::CardSession& session) {
        return session.simulatedCard()->commandCount();
    }

  protected:
    std::filesystem::path dir_;
};

// One digit of the first number of the first contact that has one.
void changeOneDigit(cli::Phonebook& book) {
    for (cli::Contact& c : book.contacts) {
        if (!c.numbers.empty() && !c.numbers[0].number.empty()) {
            char& last = c.numbers[0].number.back();
            last = last == '9' ? '0' : static_cast<char>(last + 1);
            return;
        }
    }
    FAIL() << "no number to change";
}

TEST_F(WritePlan, AnUnchangedImportSendsNoUpdateAndOneChangedNumberAtMostTwo) {
    for (const NamedCard& c : planCards()) {
        SCOPED_TRACE(c.name);
        std::size_t exportCommands = 0;
        {
            auto session = open(c.image);
            cli::readPhonebook(*session);
            exportCommands = commands(*session);
        }
        {
            auto session = open(c.image);
            const cli::CardCopy before = cli::readCard(*session, true, false);
            cli::writePhonebook(*session,
                                cli::encodePhonebook(before.phonebook->phonebook, session->room()),
                                before.images);
            EXPECT_EQ(updates(*session), 0u);
            EXPECT_LE(commands(*session) * 10, exportCommands * 11)
                << commands(*session) << " commands, export " << exportCommands;
            EXPECT_TRUE(session->simulatedCard()->image() == c.image);
        }
        {
            auto session = open(c.image);
            const cli::CardCopy before = cli::readCard(*session, true, false);
            cli::Phonebook book = before.phonebook->phonebook;
            changeOneDigit(book);
            cli::writePhonebook(*session, cli::encodePhonebook(book, session->room()),
                                before.images);
            EXPECT_GE(updates(*session), 1u);
            EXPECT_LE(updates(*session), 2u);
            const cli::CardCopy after = cli::readCard(*session, true, false);
            EXPECT_TRUE(after.phonebook->phonebook.contacts == book.contacts);
            // One digit of one number slot: one byte, and nothing else.
            std::size_t changed = 0;
            for (const images::FileImage& f : after.images.files) {
                const images::FileImage* was = before.images.find(f.file->id);
                ASSERT_NE(was, nullptr);
                ASSERT_EQ(f.data.size(), was->data.size());
                for (std::size_t i = 0; i < f.data.size(); ++i) {
                    changed += f.data[i] != was->data[i] ? 1u : 0u;
                }
            }
            EXPECT_EQ(changed, 1u);
        }
    }
}

TEST_F(WritePlan, RestoringOntoTheSameCardSendsNoUpdate) {
    for (const NamedCard& c : planCards()) {
        SCOPED_TRACE(c.name);
        auto session = open(c.image);
        const cli::CardCopy before = cli::readCard(*session, true, true);
        const auto backup = images::imagesFromJson(cli::backupDocument(*session, before)["images"]);
        ASSERT_TRUE(backup);
        const cli::ImageRestorePlan plan =
            cli::planImageRestore(*backup.value, before.images, {true, true});
        ASSERT_TRUE(plan.target) << plan.whyNot;
        session->simulatedCard()->clearLog();
        cli::restoreImages(*session, *plan.target, before.images);
        EXPECT_EQ(updates(*session), 0u);
        EXPECT_EQ(commands(*session), 0u);
    }
}

// A contact removed and one added: the others keep their bytes where they
// are, the card reads back (through the library's own reader) the phone book
// asked for, and the new contact's name slot was a free one.
TEST_F(WritePlan, ContactsThatStayKeepTheirSlotsAndANewOneTakesAFreeSlot) {
    // In the removed one's place, or at the end (the largest standard card
    // has no free record but its last, which the writer leaves empty).
    for (const bool atTheEnd : {false, true}) {
        for (const NamedCard& c : planCards()) {
            SCOPED_TRACE(std::string(c.name) + (atTheEnd ? ", at the end" : ", in its place"));
            if (atTheEnd && std::string(c.name) == "largest standard") {
                continue;
            }
            auto session = open(c.image);
            const cli::CardCopy before = cli::readCard(*session, true, false);
            cli::Phonebook book = before.phonebook->phonebook;
            ASSERT_GT(book.contacts.size(), 3u);
            book.contacts.erase(book.contacts.begin() + 1);
            const cli::Contact added{"Zed New", {{cli::NumberType::kGeneral, "+4930999"}}, {}, {}};
            book.contacts.insert(atTheEnd ? book.contacts.end() : book.contacts.begin() + 1, added);
            const cli::EncodedPhonebook encoded = cli::encodePhonebook(book, session->room());
            cli::writePhonebook(*session, encoded, before.images);
            const cli::CardCopy after = cli::readCard(*session, true, false);
            EXPECT_TRUE(after.phonebook->phonebook.contacts == book.contacts);
            const images::FileImage* was = before.images.present(
                session->extended() ? channel::files::kName.id : images::fileId::kAdn);
            const images::FileImage* now = after.images.present(
                session->extended() ? channel::files::kName.id : images::fileId::kAdn);
            ASSERT_TRUE(was != nullptr && now != nullptr);
            // Two slots at most change: the removed contact's and the new one's.
            const std::size_t slot =
                session->extended() ? session->room().nameSlotLength : was->recordLength;
            std::size_t changedBytes = 0;
            for (std::size_t i = 0; i < was->data.size(); ++i) {
                changedBytes += was->data[i] != now->data[i] ? 1u : 0u;
            }
            EXPECT_GT(changedBytes, 0u);
            EXPECT_LE(changedBytes, 2u * slot) << "more than two slots rewritten";
        }
    }
}

// The characters of the card's exchange on a T=0 link: header and data to
// the card, a procedure byte when data moves, the answer and SW1 SW2.
std::size_t linkCharacters(const std::vector<sim::Exchange>& log) {
    std::size_t n = 0;
    for (const sim::Exchange& e : log) {
        n += e.command.size() + e.response.size() +
             (e.command.size() > 5 || e.response.size() > 2 ? 1u : 0u);
    }
    return n;
}

// What the plan promises is what the write sends: its commands, its
// updating commands and its characters on the link, for a phone book with
// changes in several files, for messages and for a restore.
TEST_F(WritePlan, ThePlanCountsExactlyWhatTheWriteSends) {
    for (const NamedCard& c : planCards()) {
        SCOPED_TRACE(c.name);
        auto session = open(c.image);
        const cli::CardCopy before = cli::readCard(*session, true, true);
        cli::Phonebook book = before.phonebook->phonebook;
        changeOneDigit(book);
        book.contacts.erase(book.contacts.begin() + 2);
        book.contacts.push_back({"Plan Test", {{cli::NumberType::kGeneral, "0301234"}}, {}, {}});
        const cli::PhonebookWrite write = cli::planPhonebook(
            *session, cli::encodePhonebook(book, session->room()), before.images);
        ASSERT_FALSE(write.plan.nothingToWrite());
        session->simulatedCard()->clearLog();
        cli::writePhonebook(*session, write, before.images);
        EXPECT_EQ(commands(*session), write.plan.commands());
        EXPECT_EQ(updates(*session), write.plan.updates());
        EXPECT_EQ(linkCharacters(session->simulatedCard()->log()), write.plan.linkCharacters);
        EXPECT_GT(cli::planSeconds(write.plan, cli::kDefaultBaud),
                  cli::planSeconds(write.plan, cli::kFastestBaud));

        const cli::CardCopy now = cli::readCard(*session, true, true);
        std::vector<cli::StoredSms> messages = now.messages->stored;
        if (!messages.empty()) {
            messages.erase(messages.begin());
        }
        const cli::PreparedMessages prepared = cli::prepareMessages(*session, messages);
        const cli::MessagesWrite sms = cli::planMessages(prepared, now.images);
        session->simulatedCard()->clearLog();
        cli::writeMessages(*session, prepared, now.images);
        EXPECT_EQ(commands(*session), sms.plan.commands());
        EXPECT_EQ(linkCharacters(session->simulatedCard()->log()), sms.plan.linkCharacters);

        // Back to the card as it was, through its images.
        const cli::CardCopy last = cli::readCard(*session, true, true);
        const cli::ImageRestorePlan restore =
            cli::planImageRestore(before.images, last.images, {true, true});
        ASSERT_TRUE(restore.target) << restore.whyNot;
        const images::WritePlan plan = images::planWrite(last.images, *restore.target);
        session->simulatedCard()->clearLog();
        cli::restoreImages(*session, *restore.target, last.images);
        EXPECT_EQ(commands(*session), plan.commands());
        EXPECT_TRUE(session->simulatedCard()->image() == c.image);
    }
}

TEST(PlanText, SaysNothingToWriteOrTheCommandsBytesAndTimes) {
    EXPECT_NE(cli::planText({}).find("nothing to write"), std::string::npos);
    images::WritePlan plan;
    plan.records = 2;
    plan.pieces = 1;
    plan.bytes = 100;
    plan.selections = 12;
    plan.linkCharacters = 1000;
    const std::string text = cli::planText(plan);
    EXPECT_NE(text.find("3 updating command(s) (2 record(s), 1 piece(s)"), std::string::npos)
        << text;
    EXPECT_NE(text.find("100 bytes to write; 18 command(s) in all"), std::string::npos) << text;
    // 18 x 15 ms + 1,000 x 1.25 ms; 18 x 15 ms + 1,000 x 0.1075 ms.
    EXPECT_NE(text.find("1.5 s at 9,600 baud, 0.4 s at 111,600 baud"), std::string::npos) << text;
    EXPECT_NE(text.find("15.0 ms of reader latency per command"), std::string::npos) << text;
}

// A number slot that names a free name slot is read by nobody; a new contact
// that takes that name slot must not inherit it.
TEST_F(WritePlan, ANewContactInAFreeSlotInheritsNoStrayNumber) {
    sim::ExtendedGeometry g;
    g.adnCount = 8;
    g.nameSlotCount = 8;
    g.numberSlotCount = 16;
    sim::CardImage image = sim::buildExtendedCard(g);
    sim::putNameSlot(image, g, 1, sim::asciiBytes("Ann"));
    sim::putNumberSlot(image, g, 0, 1, sim::NumberType::kAdn, "030111", 0x81);
    sim::putNumberSlot(image, g, 1, 2, sim::NumberType::kAdn, "999999", 0x81);         // stray
    sim::putNumberSlot(image, g, g.adnCount, 2, sim::NumberType::kMbl, "0170", 0x81);  // stray
    auto session = open(image);
    const cli::CardCopy before = cli::readCard(*session, true, false);
    ASSERT_EQ(before.phonebook->phonebook.contacts.size(), 1u);
    cli::Phonebook book = before.phonebook->phonebook;
    book.contacts.push_back({"Bob", {{cli::NumberType::kGeneral, "040222"}}, {}, {}});
    const cli::EncodedPhonebook encoded = cli::encodePhonebook(book, session->room());
    std::vector<bool> plus(2, false);
    const images::PhonebookTarget target =
        images::phonebookTarget(before.images, encoded.stream, encoded.count, plus);
    ASSERT_EQ(target.refusal, 0);
    EXPECT_TRUE(target.slotsKept);
    cli::writePhonebook(*session, encoded, before.images);
    const cli::CardCopy after = cli::readCard(*session, true, false);
    EXPECT_TRUE(after.phonebook->phonebook.contacts == book.contacts);
    // Ann's name slot and number are where they were.
    const images::FileImage* names = after.images.present(channel::files::kName.id);
    const images::FileImage* was = before.images.present(channel::files::kName.id);
    ASSERT_TRUE(names != nullptr && was != nullptr);
    EXPECT_TRUE(
        std::equal(was->data.begin(), was->data.begin() + g.nameSlotLength, names->data.begin()));
}

// Contacts in another order: the card reads them back in the order asked
// for, whether their slots can stay or not.
TEST_F(WritePlan, ContactsInAnotherOrderReadBackInThatOrder) {
    for (const NamedCard& c : planCards()) {
        SCOPED_TRACE(c.name);
        auto session = open(c.image);
        const cli::CardCopy before = cli::readCard(*session, true, false);
        cli::Phonebook book = before.phonebook->phonebook;
        std::swap(book.contacts[0], book.contacts[1]);
        std::rotate(book.contacts.begin() + 2, book.contacts.begin() + 3, book.contacts.end());
        cli::writePhonebook(*session, cli::encodePhonebook(book, session->room()), before.images);
        const cli::CardCopy after = cli::readCard(*session, true, false);
        EXPECT_TRUE(after.phonebook->phonebook.contacts == book.contacts);
    }
}

// ---- Messages -------------------------------------------------------------

images::CardImages readStores(sim::SimCard& card) {
    sim::SimulatorTransport reader(card);
    channel::ScopedTransport scoped(channel::cardChannel(), reader);
    channel::cardChannel().SetCardHandle(sim::kSimulatedHandle);
    auto read = images::readCardImages(channel::cardChannel(), false, 0, {false, true});
    channel::cardChannel().SetCardHandle(0);
    EXPECT_TRUE(read) << read.failure.what;
    return read ? *read.value : images::CardImages{};
}

std::int32_t writeSmsOn(sim::SimCard& card, std::int32_t count, const Bytes& stream) {
    sim::SimulatorTransport reader(card);
    channel::ScopedTransport scoped(channel::cardChannel(), reader);
    channel::cardChannel().SetCardHandle(sim::kSimulatedHandle);
    const std::int32_t rv = sms::writeMessages(
        channel::cardChannel(), count, static_cast<std::int32_t>(stream.size()), stream.data());
    channel::cardChannel().SetCardHandle(0);
    return rv;
}

sms::MessageRecord messageOf(sms::MessageKind kind, std::uint8_t fill) {
    sms::MessageRecord m;
    m.kind = kind;
    m.bytes.fill(fill);
    m.bytes[0] = 0x01;  // received, read
    return m;
}

// The stores' target images are the files WriteSMS leaves on the card, and a
// stream it refuses is refused with its result code, for streams of every
// store on cards with and without the extra store and its index.
TEST(MessageTargets, AreWhatWriteSmsLeavesOnTheCard) {
    using K = sms::MessageKind;
    sim::StandardCardOptions noIndex;
    noIndex.extraMessageCount = 5;
    noIndex.extraMessageIndex = false;
    sim::StandardCardOptions withIndex;
    withIndex.extraMessageCount = 5;
    const std::vector<std::pair<const char*, sim::CardImage>> cards = {
        {"largest messages", bench::buildLargestMessageCard(bench::CardSize::kFull).image},
        {"standard sample", sim::standardSample()},
        {"extra store without index", sim::buildStandardCard(noIndex)},
        {"extra store with index", sim::buildStandardCard(withIndex)},
        {"no extra store", sim::buildStandardCard()}};
    const std::vector<std::pair<const char*, std::vector<sms::MessageRecord>>> streams = {
        {"nothing", {}},
        {"one of each",
         {messageOf(K::kCms, 0x11), messageOf(K::kLms, 0x22), messageOf(K::kEms, 0x33)}},
        {"EF_SMS only", {messageOf(K::kCms, 0x44), messageOf(K::kCms, 0x55)}},
        {"LMS only", {messageOf(K::kLms, 0x66)}},
        {"too many", std::vector<sms::MessageRecord>(300, messageOf(K::kCms, 0x77))}};
    std::size_t refused = 0;
    std::size_t written = 0;
    for (const auto& [cardName, image] : cards) {
        for (const auto& [streamName, messages] : streams) {
            SCOPED_TRACE(std::string(cardName) + ", " + streamName);
            sim::SimCard card(image);
            const images::CardImages before = readStores(card);
            const Bytes stream = sms::encodeMessageStream(messages);
            const auto count = static_cast<std::int32_t>(messages.size());
            const images::MessageTarget target = images::messageTarget(before, stream, count);
            const std::int32_t rv = writeSmsOn(card, count, stream);
            EXPECT_EQ(target.refusal, rv);
            if (rv != 0) {
                ++refused;
                continue;
            }
            ++written;
            const images::CardImages after = readStores(card);
            EXPECT_FALSE(images::firstImageDifference(target.images, after));
        }
    }
    EXPECT_GE(refused, 5u);  // too many everywhere, EMS without an index, LMS without a store
    EXPECT_GE(written, 10u);
    // Hex text only: a stream WriteSMS refuses is refused the same way.
    sim::SimCard card(sim::standardSample());
    Bytes bad = sms::encodeMessageStream({messageOf(K::kCms, 0x12)});
    bad[20] = 'x';
    EXPECT_EQ(images::messageTarget(readStores(card), bad, 1).refusal, writeSmsOn(card, 1, bad));
}

TEST_F(WritePlan, AnUnchangedMessageImportSendsNoUpdateAndOneChangedMessageOneRecord) {
    for (const sim::CardImage& image :
         {sim::standardSample(), bench::buildLargestMessageCard(bench::CardSize::kFull).image}) {
        // The stores as WriteSMS packs them: the import keeps them so.
        sim::CardImage packed;
        {
            auto session = open(image);
            const cli::CardCopy before = cli::readCard(*session, false, true);
            cli::writeMessages(*session, cli::prepareMessages(*session, before.messages->stored),
                               before.images);
            packed = session->simulatedCard()->image();
        }
        auto session = open(packed);
        const cli::CardCopy before = cli::readCard(*session, false, true);
        std::vector<cli::StoredSms> messages = before.messages->stored;
        const cli::MessagesWrite same =
            cli::planMessages(cli::prepareMessages(*session, messages), before.images);
        EXPECT_TRUE(same.plan.nothingToWrite());
        ASSERT_FALSE(messages.empty());
        messages[0].record[10] ^= 0x01;
        session->simulatedCard()->clearLog();
        cli::writeMessages(*session, cli::prepareMessages(*session, messages), before.images);
        EXPECT_EQ(updates(*session), 1u);
        const cli::CardCopy after = cli::readCard(*session, false, true);
        EXPECT_EQ(after.messages->stored.size(), messages.size());
        EXPECT_TRUE(after.messages->stored[0].record == messages[0].record);
    }
}

}  // namespace
}  // namespace zrn
