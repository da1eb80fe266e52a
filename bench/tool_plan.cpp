// zrn-bench-tool: what the zrn tool's own card work puts on the link, on the
// bundled samples and the largest cards: a phone-book export, an import of
// the card's own phone book unchanged, the same with one digit of one number
// changed, and a restore of the card's own backup; for messages the same with
// `sms export`, `sms import` and one changed message. Each run goes through
// the tool's functions against a simulated card; its exchange, counted with
// the benchmarks' wire model, gives the commands and bytes, and the time
// follows at 15 ms of reader latency per command and 12 etu per character at
// 111,600 and at 9,600 baud.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bench/bench_cards.h"
#include "bench/replay_transport.h"
#include "bench/wire_accounting.h"
#include "cli/card_data.h"
#include "cli/card_session.h"
#include "cli/progress.h"
#include "sim/samples.h"
#include "sim/sim_card.h"

namespace zrn::bench {
namespace {

constexpr double kLatencySeconds = 0.015;
constexpr double kToolBaud = 111600.0;

// The simulated card's log as a tape, for the wire model.
Tape tapeOf(const std::vector<sim::Exchange>& log) {
    Tape tape;
    for (const sim::Exchange& e : log) {
        TapeStep step;
        step.commandLength = static_cast<std::uint32_t>(e.command.size());
        step.responseLength = static_cast<std::uint32_t>(e.response.size());
        tape.steps.push_back(step);
    }
    return tape;
}

struct Row {
    std::string card;
    std::string operation;
    WireCount wire;
    std::size_t updates = 0;
};

class Folder {
  public:
    Folder() {
        char pattern[] = "/tmp/zrn-bench-tool-XXXXXX";
        if (mkdtemp(pattern) == nullptr) {
            std::perror("mkdtemp");
            std::exit(2);
        }
        dir_ = pattern;
    }
    ~Folder() { std::filesystem::remove_all(dir_); }

    // Runs `work` on a session over `image`, counting from after the session opened.
    Row run(const std::string& card, const std::string& operation, const sim::CardImage& image,
            const std::function<void(cli::CardSession&)>& work) {
        const std::string path = (dir_ / "card.json").string();
        sim::saveImage(image, path);
        cli::SessionOptions options;
        options.simImage = path;
        auto session = cli::CardSession::open(options);
        sim::SimCard& sim = *session->simulatedCard();
        sim.clearLog();
        work(*session);
        Row row{card, operation, countWire(tapeOf(sim.log())), 0};
        for (const sim::Exchange& e : sim.log()) {
            row.updates += e.command.size() > 1 && (e.command[1] == 0xD6 || e.command[1] == 0xDC);
        }
        return row;
    }

  private:
    std::filesystem::path dir_;
};

void changeOneDigit(cli::Phonebook& book) {
    for (cli::Contact& c : book.contacts) {
        if (!c.numbers.empty() && !c.numbers[0].number.empty()) {
            char& last = c.numbers[0].number.back();
            last = last == '9' ? '0' : static_cast<char>(last + 1);
            return;
        }
    }
}

// As `phonebook import`: read, plan, and write only when the plan has something.
void importPhonebook(cli::CardSession& session, bool changeOne) {
    const cli::CardCopy before = cli::readCard(session, true, false);
    cli::Phonebook book = before.phonebook->phonebook;
    if (changeOne) {
        changeOneDigit(book);
    }
    const cli::PhonebookWrite write =
        cli::planPhonebook(session, cli::encodePhonebook(book, session.room()), before.images);
    if (!write.plan.nothingToWrite()) {
        cli::writePhonebook(session, write, before.images);
    }
}

void importMessages(cli::CardSession& session, bool changeOne) {
    const cli::CardCopy before = cli::readCard(session, false, true);
    std::vector<cli::StoredSms> messages = before.messages->stored;
    if (changeOne && !messages.empty()) {
        messages[0].record[10] ^= 0x01;
    }
    const cli::PreparedMessages prepared = cli::prepareMessages(session, messages);
    if (!cli::planMessages(prepared, before.images).plan.nothingToWrite()) {
        cli::writeMessages(session, prepared, before.images);
    }
}

// As `restore` of the card's own backup.
void restoreOwnBackup(cli::CardSession& session, bool phonebook, bool messages) {
    const cli::CardCopy before = cli::readCard(session, phonebook, messages);
    const cli::ImageRestorePlan plan =
        cli::planImageRestore(before.images, before.images, {phonebook, messages});
    if (plan.target) {
        cli::restoreImages(session, *plan.target, before.images);
    }
}

double seconds(const WireCount& w, double baud) {
    return static_cast<double>(w.commands) * kLatencySeconds + linkSeconds(w, baud);
}

std::string withCommas(std::size_t n) {
    const std::string digits = std::to_string(n);
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) {
            out.push_back(',');
        }
        out.push_back(digits[i]);
    }
    return out;
}

std::string time(double s) {
    char text[32];
    if (s >= 60) {
        std::snprintf(text, sizeof text, "%.1f min", s / 60);
    } else {
        std::snprintf(text, sizeof text, "%.1f s", s);
    }
    return text;
}

}  // namespace
}  // namespace zrn::bench

int main() {
    using namespace zrn;
    using namespace zrn::bench;
    cli::Progress::setEnabled(false);
    // The tool's own messages ("wrote ...") are not the table.
    if (std::freopen("/dev/null", "w", stderr) == nullptr) {
        return 2;
    }
    Folder folder;
    struct Card {
        const char* name;
        sim::CardImage image;
    };
    const std::vector<Card> cards = {
        {"extended sample", sim::extendedSample()},
        {"standard sample", sim::standardSample()},
        {"largest extended", buildLargestExtendedCard(CardSize::kFull).image},
        {"largest standard", buildLargestStandardCard(CardSize::kFull).image},
        {"largest messages", buildLargestMessageCard(CardSize::kFull).image}};
    std::vector<Row> rows;
    for (const Card& c : cards) {
        rows.push_back(folder.run(c.name, "phonebook export", c.image,
                                  [](cli::CardSession& s) { cli::readPhonebook(s); }));
        rows.push_back(folder.run(c.name, "phonebook import, unchanged", c.image,
                                  [](cli::CardSession& s) { importPhonebook(s, false); }));
        rows.push_back(folder.run(c.name, "phonebook import, one digit changed", c.image,
                                  [](cli::CardSession& s) { importPhonebook(s, true); }));
        rows.push_back(folder.run(c.name, "sms export", c.image,
                                  [](cli::CardSession& s) { cli::readMessages(s); }));
        // The first import packs the stores as WriteSMS does; the next ones
        // find them so.
        sim::CardImage packed;
        rows.push_back(folder.run(c.name, "sms import, unchanged, first time", c.image,
                                  [&](cli::CardSession& s) {
                                      importMessages(s, false);
                                      packed = s.simulatedCard()->image();
                                  }));
        rows.push_back(folder.run(c.name, "sms import, unchanged, again", packed,
                                  [](cli::CardSession& s) { importMessages(s, false); }));
        rows.push_back(folder.run(c.name, "sms import, one message changed", packed,
                                  [](cli::CardSession& s) { importMessages(s, true); }));
        rows.push_back(folder.run(c.name, "restore onto the same card", c.image,
                                  [&](cli::CardSession& s) { restoreOwnBackup(s, true, true); }));
    }
    std::printf(
        "| Card | Operation | Commands | Updating | Bytes to card | Bytes from card | x export | "
        "Time at 111,600 | Time at 9,600 |\n|---|---|---:|---:|---:|---:|---:|---:|---:|\n");
    // Each operation against its export; a restore (both parts) against both.
    std::size_t phonebookExport = 0;
    std::size_t smsExport = 0;
    for (const Row& r : rows) {
        if (r.operation == "phonebook export") {
            phonebookExport = r.wire.commands;
        } else if (r.operation == "sms export") {
            smsExport = r.wire.commands;
        }
        const std::size_t exportCommands = r.operation.starts_with("phonebook") ? phonebookExport
                                           : r.operation.starts_with("sms")
                                               ? smsExport
                                               : phonebookExport + smsExport;
        std::printf(
            "| %s | %s | %s | %zu | %s | %s | %.2f | %s | %s |\n", r.card.c_str(),
            r.operation.c_str(), withCommas(r.wire.commands).c_str(), r.updates,
            withCommas(r.wire.bytesToCard).c_str(),
            withCommas(r.wire.bytesFromCard + r.wire.procedureBytes).c_str(),
            exportCommands == 0
                ? 0.0
                : static_cast<double>(r.wire.commands) / static_cast<double>(exportCommands),
            time(seconds(r.wire, kToolBaud)).c_str(), time(seconds(r.wire, kDefaultBaud)).c_str());
    }
    return 0;
}
