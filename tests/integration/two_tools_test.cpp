// Two programs on one card through the real pcscd (vpcd + zrn-virtual-card):
// each zrn run either has the whole card for its command or says the card is
// in use; a backup taken beside an import is the card before the import or
// after it, never a mix.
#include <gtest/gtest.h>
#include <winscard.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/samples.h"
#include "tests/integration/child_process.h"
#include "tests/integration/pcsc_stack.h"

namespace zrn::integration {
namespace {

namespace fs = std::filesystem;

bool underCi() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::string(ci) == "true";
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// What a backup says of the card, without when it was made.
std::string cardPart(const std::string& path) {
    auto doc = nlohmann::ordered_json::parse(slurp(path), nullptr, false);
    if (doc.is_discarded() || !doc.is_object()) {
        return "(not a backup)";
    }
    doc.erase("created");
    return doc.dump();
}

class ToolRun {
  public:
    ToolRun(const std::vector<std::string>& arguments, const std::string& log) : log_(log) {
        std::vector<std::string> argv = {ZRN_TOOL_PATH, "--no-progress"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        fs::remove(log);
        child_ = std::make_unique<ChildProcess>(argv, log);
    }
    // The exit status (killed after two minutes) and what the run printed.
    int wait() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
        while (child_->running() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return child_->running() ? child_->stop() : child_->poll().value_or(-1);
    }
    std::string output() const { return slurp(log_); }

  private:
    std::string log_;
    std::unique_ptr<ChildProcess> child_;
};

class TwoTools : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        try {
            stack_ = std::make_unique<PcscStack>(ZRN_VIRTUAL_CARD_PATH).release();
            dir_ = (fs::temp_directory_path() / ("zrn-two-" + std::to_string(getpid()))).string();
            fs::create_directories(dir_);
        } catch (const std::exception& e) {
            unavailable_ = e.what();
        }
    }
    static void TearDownTestSuite() {
        delete stack_;
        stack_ = nullptr;
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    void SetUp() override {
        if (stack_ == nullptr) {
            if (underCi()) {
                FAIL() << "pcscd cannot run (CI=true): " << unavailable_;
            }
            GTEST_SKIP() << "pcscd cannot run here: " << unavailable_;
        }
        stack_->insert(sim::standardSample());
    }
    void TearDown() override {
        if (stack_ != nullptr) {
            stack_->remove();
        }
    }

    static std::vector<std::string> onReader(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"--reader", stack_->readerName()});
        return arguments;
    }
    static std::string path(const std::string& name) { return dir_ + "/" + name; }

    static PcscStack* stack_;
    static std::string dir_;
    static std::string unavailable_;
};

PcscStack* TwoTools::stack_ = nullptr;
std::string TwoTools::dir_;
std::string TwoTools::unavailable_;

// The card is held in a transaction of this process; pcsc-lite's client waits
// for such a card without limit, so the tool bounds its own wait.
TEST_F(TwoTools, ACardHeldByAnotherProgramIsInUseAfterTheWait) {
    SCARDCONTEXT context = 0;
    ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context),
              SCARD_S_SUCCESS);
    SCARDHANDLE card = 0;
    DWORD protocol = 0;
    ASSERT_EQ(SCardConnect(context, stack_->readerName().c_str(), SCARD_SHARE_SHARED,
                           SCARD_PROTOCOL_T0, &card, &protocol),
              SCARD_S_SUCCESS);
    ASSERT_EQ(SCardBeginTransaction(card), SCARD_S_SUCCESS);

    const auto start = std::chrono::steady_clock::now();
    ToolRun held(onReader({"--card-wait", "2", "backup", "-o", path("held.json")}),
                 path("held.log"));
    const int status = held.wait();
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(status, 2) << held.output();
    EXPECT_TRUE(contains(held.output(), "is in use by another program")) << held.output();
    EXPECT_TRUE(contains(held.output(), "more than 2 s")) << held.output();
    EXPECT_FALSE(fs::exists(path("held.json")));
    EXPECT_GE(waited, std::chrono::seconds(2));

    // Once the other program lets go, the card is the tool's.
    SCardEndTransaction(card, SCARD_LEAVE_CARD);
    ToolRun freed(onReader({"backup", "-o", path("freed.json")}), path("freed.log"));
    EXPECT_EQ(freed.wait(), 0) << freed.output();
    SCardDisconnect(card, SCARD_LEAVE_CARD);
    SCardReleaseContext(context);
}

TEST_F(TwoTools, TwoBackupsAtOnceAreEachWholeOrInUse) {
    ToolRun reference(onReader({"backup", "-o", path("reference.json")}), path("reference.log"));
    ASSERT_EQ(reference.wait(), 0) << reference.output();
    const std::string card = cardPart(path("reference.json"));

    int whole = 0;
    int inUse = 0;
    constexpr int kRounds = 12;
    for (int round = 0; round < kRounds; ++round) {
        std::vector<std::unique_ptr<ToolRun>> runs;
        for (const char* name : {"a", "b"}) {
            fs::remove(path(std::string(name) + ".json"));
            // Half the rounds wait long for the card, half briefly.
            runs.push_back(std::make_unique<ToolRun>(
                onReader({"--card-wait", round % 2 == 0 ? "5" : "1", "backup", "-o",
                          path(std::string(name) + ".json")}),
                path(std::string(name) + ".log")));
        }
        for (std::size_t i = 0; i < runs.size(); ++i) {
            const std::string file = path(i == 0 ? "a.json" : "b.json");
            const int status = runs[i]->wait();
            SCOPED_TRACE("round " + std::to_string(round) + ", run " + std::to_string(i));
            if (status == 0) {
                ++whole;
                EXPECT_EQ(cardPart(file), card);
            } else {
                ++inUse;
                EXPECT_EQ(status, 2) << runs[i]->output();
                EXPECT_TRUE(contains(runs[i]->output(), "in use")) << runs[i]->output();
                EXPECT_FALSE(fs::exists(file));
            }
        }
    }
    std::cout << "two backups at once, " << kRounds << " rounds: " << whole << " whole, " << inUse
              << " in use\n";
    EXPECT_GT(whole, 0);
}

TEST_F(TwoTools, ABackupBesideAnImportIsTheCardBeforeOrAfterIt) {
    std::string book;
    for (int i = 0; i < 5; ++i) {
        book += "BEGIN:VCARD\nVERSION:3.0\nFN:Beside " + std::to_string(i) + "\nTEL:0200" +
                std::to_string(i) + "\nEND:VCARD\n";
    }
    std::ofstream(path("beside.vcf")) << book;
    ToolRun first(onReader({"backup", "-o", path("before.json")}), path("before.log"));
    ASSERT_EQ(first.wait(), 0) << first.output();
    const std::string before = cardPart(path("before.json"));

    int sawBefore = 0;
    int sawAfter = 0;
    int inUse = 0;
    std::string after;
    constexpr int kRounds = 8;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        if (round > 0) {
            stack_->remove();
            stack_->insert(sim::standardSample());
        }
        fs::remove(path("beside.json"));
        // The import first in even rounds, the backup first in odd ones, the
        // other started a little later each time.
        const auto pause = std::chrono::milliseconds(40 * (round / 2));
        std::unique_ptr<ToolRun> importRun;
        std::unique_ptr<ToolRun> backupRun;
        const std::function<void()> startImport = [&] {
            importRun =
                std::make_unique<ToolRun>(onReader({"--card-wait", "30", "phonebook", "import",
                                                    path("beside.vcf"), "--no-backup"}),
                                          path("import.log"));
        };
        const std::function<void()> startBackup = [&] {
            backupRun = std::make_unique<ToolRun>(
                onReader({"--card-wait", "30", "backup", "-o", path("beside.json")}),
                path("beside.log"));
        };
        (round % 2 == 0 ? startImport : startBackup)();
        std::this_thread::sleep_for(pause);
        (round % 2 == 0 ? startBackup : startImport)();
        ToolRun& import = *importRun;
        ToolRun& backup = *backupRun;
        ASSERT_EQ(import.wait(), 0) << import.output();
        const int status = backup.wait();
        if (after.empty()) {
            ToolRun last(onReader({"backup", "-o", path("after.json")}), path("after.log"));
            ASSERT_EQ(last.wait(), 0) << last.output();
            after = cardPart(path("after.json"));
            ASSERT_NE(after, before);
        }
        if (status != 0) {
            ++inUse;
            EXPECT_EQ(status, 2) << backup.output();
            EXPECT_TRUE(contains(backup.output(), "in use")) << backup.output();
            continue;
        }
        const std::string seen = cardPart(path("beside.json"));
        EXPECT_TRUE(seen == before || seen == after) << "a backup that mixes two states";
        sawBefore += seen == before ? 1 : 0;
        sawAfter += seen == after ? 1 : 0;
    }
    std::cout << "backup beside an import, " << kRounds << " rounds: " << sawBefore << " before, "
              << sawAfter << " after, " << inUse << " in use\n";
}

}  // namespace
}  // namespace zrn::integration
