// The card's files as images: read once and whole, the phone book built from
// them with each number's TON/NPI, the writers' images, writes of only what
// differs, and backups that a single fault never leaves wrong.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "bench/bench_cards.h"
#include "channel/card_channel.h"
#include "cli/card_data.h"
#include "cli/card_session.h"
#include "cli/errors.h"
#include "cli/image_json.h"
#include "connection/geometry.h"
#include "core/card_images.h"
#include "phonebook/phonebook.h"
#include "sim/card_builder.h"
#include "sim/samples.h"
#include "sim/sim_card.h"

namespace zrn {
namespace {

namespace files = channel::files;

// A simulated card beneath the process channel, its geometry read as a
// connection reads it; the card's log starts empty.
class OnCard {
  public:
    explicit OnCard(sim::CardImage image)
        : card(std::move(image)), reader(card), scoped(channel::cardChannel(), reader) {
        channel::cardChannel().SetCardHandle(sim::kSimulatedHandle);
        EXPECT_TRUE(ReadCardGeometry(channel::cardChannel(), geometry));
        extended = probeLayout(channel::cardChannel(), geometry) == Layout::kExtended;
        card.clearLog();
    }
    ~OnCard() { channel::cardChannel().SetCardHandle(0); }

    images::Result<images::CardImages> read(images::Parts parts = {true, true}) {
        return images::readCardImages(channel::cardChannel(), extended, geometry.phonebookDirectory,
                                      parts);
    }
    std::size_t sent(std::uint8_t instruction) const {
        std::size_t n = 0;
        for (const sim::Exchange& e : card.log()) {
            n += e.command.size() > 1 && e.command[1] == instruction ? 1u : 0u;
        }
        return n;
    }

    sim::SimCard card;
    sim::SimulatorTransport reader;
    channel::ScopedTransport scoped;
    PhonebookGeometry geometry;
    bool extended = false;
};

constexpr std::uint8_t kReadBinary = 0xB0;
constexpr std::uint8_t kReadRecord = 0xB2;
constexpr std::uint8_t kUpdateBinary = 0xD6;
constexpr std::uint8_t kUpdateRecord = 0xDC;

const sim::SimFile* simFile(const sim::CardImage& image, const channel::CardFile& file,
                            std::uint16_t directory) {
    switch (file.parent) {
        case channel::Parent::kMasterFile:
            return image.find({file.id});
        case channel::Parent::kTelecom:
            return image.find({files::kTelecom.id, file.id});
        case channel::Parent::kPhonebookDirectory:
            return image.find({directory, file.id});
        case channel::Parent::kNone:
            break;
    }
    return nullptr;
}

std::string dump(const images::CardImages& images) {
    return images::imagesToJson(images).dump();
}

struct NamedCard {
    const char* name;
    sim::CardImage image;
};

std::vector<NamedCard> cards() {
    return {{"extended sample", sim::extendedSample()},
            {"standard sample", sim::standardSample()},
            {"largest extended", bench::buildLargestExtendedCard(bench::CardSize::kFull).image},
            {"largest messages", bench::buildLargestMessageCard(bench::CardSize::kFull).image}};
}

TEST(CardImages, AreTheCardsFilesReadOnceInPiecesAndRecords) {
    for (const NamedCard& c : cards()) {
        SCOPED_TRACE(c.name);
        OnCard on(c.image);
        const auto read = on.read();
        ASSERT_TRUE(read) << read.failure.what;
        std::size_t pieces = 0;
        std::size_t records = 0;
        for (const images::FileImage& f : read.value->files) {
            SCOPED_TRACE(f.file->name);
            const sim::SimFile* card = simFile(c.image, *f.file, on.geometry.phonebookDirectory);
            ASSERT_EQ(f.present, card != nullptr);
            if (card == nullptr) {
                continue;
            }
            EXPECT_EQ(f.recordLength, card->recordLength);
            EXPECT_EQ(f.data, card->data);
            pieces += f.linearFixed() ? 0 : (f.data.size() + 254) / 255;
            records += f.recordCount();
        }
        EXPECT_EQ(on.sent(kReadBinary), pieces);
        EXPECT_EQ(on.sent(kReadRecord), records);
        for (const sim::Exchange& e : on.card.log()) {
            EXPECT_FALSE(e.command[1] == kUpdateBinary || e.command[1] == kUpdateRecord);
        }
    }
}

struct Fault {
    const char* what;
    std::uint16_t statusWord;  // 0: the exchange itself fails
};
const Fault kFaults[] = {{"not found", 0x9404},        {"not found (ISO)", 0x6A82},
                         {"security", 0x9804},         {"wrong length", 0x6700},
                         {"card failure", 0x6F00},     {"memory problem", 0x9240},
                         {"transport failure", 0x0000}};

void inject(sim::SimCard& card, std::size_t command, const Fault& fault) {
    if (fault.statusWord == 0) {
        card.failTransportAt(command, 0x80100016L);
    } else {
        card.failCommand(command, fault.statusWord);
    }
}

TEST(CardImages, OneFaultAtAnyCommandFailsTheReadingOrLeavesItWhole) {
    for (const sim::CardImage& image : {sim::extendedSample(), sim::standardSample()}) {
        OnCard clean(image);
        const auto base = clean.read();
        ASSERT_TRUE(base);
        const std::size_t commands = clean.card.commandCount();
        for (const Fault& fault : kFaults) {
            std::size_t failed = 0;
            for (std::size_t n = 1; n <= commands; ++n) {
                SCOPED_TRACE(std::string(fault.what) + " at command " + std::to_string(n));
                OnCard on(image);
                inject(on.card, n, fault);
                const auto read = on.read();
                if (read) {
                    EXPECT_TRUE(dump(*read.value) == dump(*base.value));
                } else {
                    ++failed;
                }
            }
            // Only "not found" for a file that is absent anyway passes.
            const bool notFound = fault.statusWord == 0x9404 || fault.statusWord == 0x6A82;
            if (!notFound) {
                EXPECT_EQ(failed, commands) << fault.what;
            }
            EXPECT_GT(failed, 0u);
        }
    }
}

// Two contacts whose numbers lie in slots out of contact order, one of them
// international: the TON/NPI follows the slot each number came from.
TEST(CardImages, EachNumberKeepsTheTonOfItsOwnSlot) {
    sim::ExtendedGeometry g;
    g.adnCount = 4;
    g.nameSlotCount = 4;
    g.numberSlotCount = 8;
    sim::CardImage image = sim::buildExtendedCard(g);
    sim::putNameSlot(image, g, 1, sim::asciiBytes("Ann"));
    sim::putNameSlot(image, g, 2, sim::asciiBytes("Bob"));
    sim::putNumberSlot(image, g, 0, 2, sim::NumberType::kAdn, "4930123456", 0x91);
    sim::putNumberSlot(image, g, 1, 1, sim::NumberType::kAdn, "030123", 0x81);
    sim::putNumberSlot(image, g, 5, 1, sim::NumberType::kMbl, "447700900123", 0x91);
    sim::putNumberSlot(image, g, 4, 1, sim::NumberType::kMbl, "0170", 0xA1);
    OnCard on(image);
    const auto read = on.read({true, false});
    ASSERT_TRUE(read);
    const auto book = images::phonebookFromImages(*read.value, on.geometry);
    ASSERT_TRUE(book);
    EXPECT_EQ(book.value->stream,
              phonebook::readPhonebookStream(channel::cardChannel(), on.geometry).joined());
    auto raw = cli::parsePhonebookStream(book.value->stream, &book.value->tonNpi);
    ASSERT_TRUE(raw);
    const cli::Phonebook shown = cli::decodePhonebook(raw.value());
    ASSERT_EQ(shown.contacts.size(), 2u);
    const std::vector<cli::PhoneNumber> ann = {{cli::NumberType::kGeneral, "030123"},
                                               {cli::NumberType::kMobile, "0170"},
                                               {cli::NumberType::kMobile, "+447700900123"}};
    EXPECT_EQ(shown.contacts[0].numbers, ann);
    EXPECT_EQ(shown.contacts[1].numbers,
              (std::vector<cli::PhoneNumber>{{cli::NumberType::kGeneral, "+4930123456"}}));
}

TEST(CardImages, StandardNumbersKeepTheTonOfTheirRecord) {
    sim::CardImage image = sim::buildStandardCard();
    sim::putAdnRecord(image, 2, sim::asciiBytes("Anna"), "4930123456", 0x91);
    sim::putAdnRecord(image, 5, sim::asciiBytes("Home"), "030123", 0x81);
    sim::putAdnRecord(image, 9, sim::asciiBytes("Lin"), "8613700001111", 0x91);
    OnCard on(image);
    const auto read = on.read({true, false});
    ASSERT_TRUE(read);
    const auto book = images::phonebookFromImages(*read.value, on.geometry);
    ASSERT_TRUE(book);
    EXPECT_EQ(book.value->stream,
              phonebook::readPhonebookStream(channel::cardChannel(), on.geometry).joined());
    EXPECT_EQ(book.value->tonNpi, (std::vector<std::uint8_t>{0x91, 0x81, 0x91}));
    auto raw = cli::parsePhonebookStream(book.value->stream, &book.value->tonNpi);
    ASSERT_TRUE(raw);
    const cli::Phonebook shown = cli::decodePhonebook(raw.value());
    ASSERT_EQ(shown.contacts.size(), 3u);
    EXPECT_EQ(shown.contacts[0].numbers[0].number, "+4930123456");
    EXPECT_EQ(shown.contacts[1].numbers[0].number, "030123");
    EXPECT_EQ(shown.contacts[2].numbers[0].number, "+8613700001111");
}

// Without international numbers the target images are the files the
// library's writer leaves; with them, only the TON/NPI bytes differ.
TEST(CardImages, TargetsAreTheWritersFilesWithTheTonSet) {
    for (const sim::CardImage& image : {sim::extendedSample(), sim::standardSample()}) {
        OnCard on(image);
        const auto before = on.read({true, false});
        ASSERT_TRUE(before);
        const auto book = images::phonebookFromImages(*before.value, on.geometry);
        ASSERT_TRUE(book);
        const auto plain = images::phonebookTarget(*before.value, on.geometry, book.value->stream,
                                                   book.value->count, {});
        ASSERT_EQ(plain.refusal, 0);
        ASSERT_EQ(phonebook::writePhonebookStream(channel::cardChannel(), on.geometry,
                                                  book.value->count, book.value->stream),
                  0);
        for (const images::FileImage& f : plain.images.files) {
            SCOPED_TRACE(f.file->name);
            const sim::SimFile* written =
                simFile(on.card.image(), *f.file, on.geometry.phonebookDirectory);
            ASSERT_NE(written, nullptr);
            EXPECT_EQ(f.data, written->data);
        }
        const std::vector<bool> all(book.value->tonNpi.size(), true);
        const auto plus = images::phonebookTarget(*before.value, on.geometry, book.value->stream,
                                                  book.value->count, all);
        ASSERT_EQ(plus.refusal, 0);
        std::size_t changed = 0;
        for (std::size_t i = 0; i < plus.images.files.size(); ++i) {
            const Bytes& a = plain.images.files[i].data;
            const Bytes& b = plus.images.files[i].data;
            ASSERT_EQ(a.size(), b.size());
            for (std::size_t k = 0; k < a.size(); ++k) {
                if (a[k] != b[k]) {
                    EXPECT_EQ(a[k], 0x81);
                    EXPECT_EQ(b[k], 0x91);
                    ++changed;
                }
            }
        }
        EXPECT_GT(changed, 0u);
        EXPECT_LE(changed, book.value->tonNpi.size());
    }
}

TEST(CardImages, OnlyWhatDiffersIsWrittenAndReadBack) {
    OnCard on(sim::extendedSample());
    const auto current = on.read({true, false});
    ASSERT_TRUE(current);
    images::CardImages target = images::select(*current.value, {true, false}, true);
    on.card.clearLog();
    const images::WriteReport none =
        images::writeDifferences(channel::cardChannel(), *current.value, target);
    EXPECT_TRUE(none.complete);
    EXPECT_FALSE(none.anythingWritten());
    EXPECT_EQ(on.card.commandCount(), 0u);

    target.find(files::kName.id)->data[300] ^= 0x01;
    images::FileImage& adn = *target.find(files::kAdn.id);
    adn.data[adn.recordLength + 3] ^= 0x01;  // record 2
    const images::Differences counted = images::countDifferences(*current.value, target);
    EXPECT_EQ(counted.records, 1u);
    EXPECT_EQ(counted.pieces, 1u);
    EXPECT_EQ(on.card.commandCount(), 0u);
    const images::WriteReport two =
        images::writeDifferences(channel::cardChannel(), *current.value, target);
    ASSERT_TRUE(two.complete) << two.failure;
    EXPECT_EQ(on.sent(kUpdateBinary), 1u);
    EXPECT_EQ(on.sent(kUpdateRecord), 1u);
    ASSERT_EQ(two.written.size(), 2u);
    EXPECT_EQ(two.written[0].offset, 255u);
    EXPECT_EQ(two.written[0].length, 255u);
    EXPECT_EQ(two.written[1].offset, adn.recordLength);
    EXPECT_FALSE(images::readBackWritten(channel::cardChannel(), target, two).difference);
    const auto after = on.read({true, false});
    ASSERT_TRUE(after);
    EXPECT_FALSE(images::firstImageDifference(target, *after.value));

    // A card that answers 90 00 to an update and keeps its old bytes is caught.
    target.find(files::kName.id)->data[300] ^= 0x01;
    on.card.setInterceptor([](ByteView command, Bytes& response) {
        if (command.size() > 1 && command[1] == kUpdateBinary) {
            response = {0x90, 0x00};
            return true;
        }
        return false;
    });
    const images::WriteReport ignored =
        images::writeDifferences(channel::cardChannel(), *after.value, target);
    ASSERT_TRUE(ignored.complete);
    const images::ReadBack back = images::readBackWritten(channel::cardChannel(), target, ignored);
    EXPECT_FALSE(back.readFailed);
    ASSERT_TRUE(back.difference);
    EXPECT_NE(back.difference->find("name file"), std::string::npos) << *back.difference;
}

TEST(CardImages, JsonKeepsEveryByteAndRefusesWhatDoesNotAddUp) {
    OnCard on(sim::extendedSample());
    const auto read = on.read();
    ASSERT_TRUE(read);
    const nlohmann::json json = images::imagesToJson(*read.value);
    const auto back = images::imagesFromJson(json);
    ASSERT_TRUE(back) << back.failure.what;
    EXPECT_EQ(dump(*back.value), dump(*read.value));
    EXPECT_FALSE(images::firstImageDifference(*read.value, *back.value));

    const auto broken = [&](auto&& change) {
        nlohmann::json j = json;
        change(j);
        return !images::imagesFromJson(j);
    };
    EXPECT_TRUE(broken([](nlohmann::json& j) { j["files"][1]["data"] = "00"; }));
    EXPECT_TRUE(broken([](nlohmann::json& j) { j["files"][1]["data"] = "zz"; }));
    EXPECT_TRUE(broken([](nlohmann::json& j) { j["files"][3]["records"].erase(0); }));
    EXPECT_TRUE(broken([](nlohmann::json& j) { j["files"][3]["records"][0] = "00"; }));
    EXPECT_TRUE(broken([](nlohmann::json& j) { j["files"][0]["file"] = "1234"; }));
    EXPECT_TRUE(broken([](nlohmann::json& j) { j["files"].push_back(j["files"][0]); }));
    EXPECT_TRUE(broken([](nlohmann::json& j) { j["layout"] = "other"; }));
    EXPECT_TRUE(broken([](nlohmann::json& j) { j["files"][2]["size"] = -1; }));
}

// ---- Through the tool's session ------------------------------------------

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class SessionOnFile : public ::testing::Test {
  public:
    void SetUp() override {
        char pattern[] = "/tmp/zrn-images-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string put(const sim::CardImage& image, const std::string& name) {
        const std::string path = (dir_ / name).string();
        sim::saveImage(image, path);
        return path;
    }
    std::unique_ptr<cli::CardSession> open(const std::string& path) {
        cli::SessionOptions options;
        options.simImage = path;
        return cli::CardSession::open(options);
    }
    static std::string backupText(cli::CardSession& session, const cli::CardCopy& copy) {
        nlohmann::ordered_json doc = cli::backupDocument(session, copy);
        doc.erase("created");
        return doc.dump();
    }

  protected:
    std::filesystem::path dir_;
};

TEST_F(SessionOnFile, ABackupWithOneFaultFailsAndWritesNothingOrIsTheSame) {
    for (const sim::CardImage& image : {sim::extendedSample(), sim::standardSample()}) {
        const std::string card = put(image, "card.json");
        std::string expected;
        std::size_t commands = 0;
        {
            auto session = open(card);
            session->simulatedCard()->clearLog();
            expected = backupText(*session, cli::readCard(*session, true, true));
            commands = session->simulatedCard()->commandCount();
        }
        ASSERT_GT(commands, 20u);
        const std::string backup = (dir_ / "backup.json").string();
        for (const Fault& fault : kFaults) {
            for (std::size_t n = 1; n <= commands; ++n) {
                SCOPED_TRACE(std::string(fault.what) + " at command " + std::to_string(n));
                auto session = open(card);
                session->simulatedCard()->clearLog();
                inject(*session->simulatedCard(), n, fault);
                try {
                    const cli::CardCopy copy = cli::readCard(*session, true, true);
                    cli::saveBackup(*session, backup, copy);
                } catch (const cli::CliError& e) {
                    EXPECT_EQ(e.exitCode(), cli::kExitCard) << e.what();
                    EXPECT_FALSE(std::filesystem::exists(backup));
                    continue;
                }
                // Compared whole; printed only as a verdict (the texts are long).
                auto saved = nlohmann::ordered_json::parse(slurp(backup));
                saved.erase("created");
                EXPECT_TRUE(saved.dump() == expected);
                std::filesystem::remove(backup);
            }
        }
    }
}

// Runs `write` (which reads the card first) with one fault at every command
// of its fault-free run: it either fails with exit code 2, writing nothing
// when the fault came before its first update, or leaves the card exactly as
// the fault-free run does.
template <typename Write>
void sweepFaults(SessionOnFile& folder, const sim::CardImage& image, Write write) {
    const std::string card = folder.put(image, "card.json");
    sim::CardImage expected;
    std::size_t commands = 0;
    std::size_t firstUpdate = 0;
    {
        auto session = folder.open(card);
        sim::SimCard& sim = *session->simulatedCard();
        sim.clearLog();
        write(*session);
        expected = sim.image();
        commands = sim.commandCount();
        for (std::size_t i = 0; i < commands && firstUpdate == 0; ++i) {
            const std::uint8_t ins = sim.log()[i].command[1];
            firstUpdate = ins == kUpdateBinary || ins == kUpdateRecord ? i + 1 : 0;
        }
    }
    ASSERT_GT(firstUpdate, 0u) << "the fault-free run writes nothing";
    for (const Fault& fault : kFaults) {
        for (std::size_t n = 1; n <= commands; ++n) {
            SCOPED_TRACE(std::string(fault.what) + " at command " + std::to_string(n));
            folder.put(image, "card.json");
            auto session = folder.open(card);
            sim::SimCard& sim = *session->simulatedCard();
            sim.clearLog();
            inject(sim, n, fault);
            try {
                write(*session);
            } catch (const cli::CliError& e) {
                EXPECT_EQ(e.exitCode(), cli::kExitCard) << e.what();
                if (n < firstUpdate) {
                    EXPECT_TRUE(sim.image() == image) << "written after a failed read";
                }
                continue;
            }
            EXPECT_TRUE(sim.image() == expected) << "exit 0 with another card";
        }
    }
}

TEST_F(SessionOnFile, AnImportWithOneFaultFailsOrWritesWhatTheFaultFreeRunWrites) {
    for (const sim::CardImage& sample : {sim::extendedSample(), sim::standardSample()}) {
        // The sample as the tool's writer packs it, so that the import below
        // changes a few records and pieces only.
        sim::CardImage image;
        {
            auto session = open(put(sample, "packed.json"));
            const cli::CardCopy before = cli::readCard(*session, true, false);
            cli::writePhonebook(*session,
                                cli::encodePhonebook(before.phonebook->phonebook, session->room()),
                                before.images);
            image = session->simulatedCard()->image();
        }
        sweepFaults(*this, image, [](cli::CardSession& session) {
            const cli::CardCopy before = cli::readCard(session, true, false);
            cli::Phonebook book = before.phonebook->phonebook;
            book.contacts[0].numbers = {{cli::NumberType::kGeneral, "+4930123456"}};
            book.contacts.pop_back();
            const cli::EncodedPhonebook encoded = cli::encodePhonebook(book, session.room());
            cli::writePhonebook(session, encoded, before.images);
        });
    }
}

TEST_F(SessionOnFile, ARestoreWithOneFaultFailsOrRestoresWhatTheFaultFreeRunRestores) {
    for (const sim::CardImage& image : {sim::extendedSample(), sim::standardSample()}) {
        const std::string card = put(image, "card.json");
        std::optional<images::CardImages> backup;
        {
            auto session = open(card);
            backup = cli::readCard(*session, true, true).images;
        }
        sim::CardImage changed = image;
        sim::SimFile* adn = changed.find({files::kTelecom.id, files::kAdn.id});
        ASSERT_NE(adn, nullptr);
        adn->data[3] ^= 0x01;
        sim::SimFile* sms = changed.find({files::kTelecom.id, files::kSms.id});
        ASSERT_NE(sms, nullptr);
        sms->data[0] ^= 0x02;
        sweepFaults(*this, changed, [&](cli::CardSession& session) {
            const cli::CardCopy before = cli::readCard(session, true, true);
            const cli::ImageRestorePlan plan =
                cli::planImageRestore(*backup, before.images, {true, true});
            ASSERT_TRUE(plan.target);
            cli::restoreImages(session, *plan.target, before.images);
        });
    }
}

TEST_F(SessionOnFile, RestoringTheCardsOwnImagesSendsNoUpdatingCommand) {
    for (const sim::CardImage& image : {sim::extendedSample(), sim::standardSample()}) {
        const std::string card = put(image, "card.json");
        auto session = open(card);
        const cli::CardCopy before = cli::readCard(*session, true, true);
        const auto fromBackup =
            images::imagesFromJson(cli::backupDocument(*session, before)["images"]);
        ASSERT_TRUE(fromBackup);
        const cli::ImageRestorePlan plan =
            cli::planImageRestore(*fromBackup.value, before.images, {true, true});
        ASSERT_TRUE(plan.target) << plan.whyNot;
        session->simulatedCard()->clearLog();
        const cli::RestoredImages restored =
            cli::restoreImages(*session, *plan.target, before.images);
        EXPECT_FALSE(restored.report.anythingWritten());
        EXPECT_EQ(session->simulatedCard()->commandCount(), 0u);

        // The same phone book imported twice: the second import changes nothing.
        const cli::EncodedPhonebook encoded =
            cli::encodePhonebook(before.phonebook->phonebook, session->room());
        cli::writePhonebook(*session, encoded, before.images);
        const cli::CardCopy once = cli::readCard(*session, true, false);
        session->simulatedCard()->clearLog();
        cli::writePhonebook(*session, encoded, once.images);
        for (const sim::Exchange& e : session->simulatedCard()->log()) {
            EXPECT_NE(e.command[1], kUpdateBinary);
            EXPECT_NE(e.command[1], kUpdateRecord);
        }
    }
}

TEST_F(SessionOnFile, ImagesOfAnotherGeometryAreNotWrittenBack) {
    sim::StandardCardOptions small;
    small.adnCount = 50;
    auto other = open(put(sim::buildStandardCard(small), "small.json"));
    const cli::CardCopy smallCopy = cli::readCard(*other, true, true);
    other.reset();
    auto session = open(put(sim::standardSample(), "card.json"));
    const cli::CardCopy card = cli::readCard(*session, true, true);
    const cli::ImageRestorePlan plan =
        cli::planImageRestore(smallCopy.images, card.images, {true, true});
    EXPECT_FALSE(plan.target);
    EXPECT_NE(plan.whyNot.find("EF_ADN"), std::string::npos) << plan.whyNot;
    auto ext = open(put(sim::extendedSample(), "ext.json"));
    const cli::CardCopy extCopy = cli::readCard(*ext, true, true);
    EXPECT_FALSE(cli::planImageRestore(extCopy.images, card.images, {true, false}).target);
}

}  // namespace
}  // namespace zrn
