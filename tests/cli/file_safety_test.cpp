// The files zrn writes (backups, exports, card images) and reads, when the
// disk is full, the program is killed or the input never ends.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "zrn_folder.h"

namespace {

namespace fs = std::filesystem;

using zrn::test::slurp;
using zrn::test::spit;

bool isJson(const std::string& text) {
    return nlohmann::json::accept(text);
}

std::set<std::string> namesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

class FileSafety : public zrn::test::ZrnFolder {
  protected:
    void SetUp() override {
        ZrnFolder::SetUp();
        fs::copy_file(fs::path(ZRN_SOURCE_DIR) / "samples" / "standard.json", dir_ / "card.json");
        spit(path("one.csv"), "name,mobile\nBob,0123\n");
    }
    void TearDown() override {
        if (mounted_) {
            ::umount2(path("small").c_str(), MNT_DETACH);
        } else if (fs::exists(path("small"))) {
            fs::permissions(path("small"), fs::perms::owner_all);
        }
        ZrnFolder::TearDown();
    }

    // Starts zrn in the temporary folder; output goes nowhere.
    pid_t start(const std::vector<std::string>& args) const {
        const pid_t child = ::fork();
        if (child == 0) {
            if (::chdir(dir_.c_str()) != 0) {
                ::_exit(127);
            }
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 0);
            ::dup2(null, 1);
            ::dup2(null, 2);
            std::vector<char*> argv{const_cast<char*>(ZRN_CLI_BINARY),
                                    const_cast<char*>("--no-progress")};
            for (const std::string& a : args) {
                argv.push_back(const_cast<char*>(a.c_str()));
            }
            argv.push_back(nullptr);
            ::execv(ZRN_CLI_BINARY, argv.data());
            ::_exit(127);
        }
        return child;
    }

    // A folder `small` where nothing more fits: a full 64 KiB tmpfs, or for
    // someone other than root a read-only folder. False when neither can be had.
    bool fullFolder() {
        fs::create_directory(path("small"));
        if (::mount("tmpfs", path("small").c_str(), "tmpfs", 0, "size=64k") == 0) {
            mounted_ = true;
            return true;
        }
        return ::geteuid() != 0;
    }
    // Takes the last free byte of `small`, or makes it read-only.
    void fill() const {
        if (!mounted_) {
            fs::permissions(path("small"), fs::perms::owner_read | fs::perms::owner_exec);
            return;
        }
        const int fd = ::open(path("small/filler").c_str(), O_WRONLY | O_CREAT, 0600);
        const std::string block(4096, 'f');
        while (::write(fd, block.data(), block.size()) > 0) {
        }
        ::close(fd);
    }

    bool mounted_ = false;
};

TEST_F(FileSafety, AFullDiskIsAnErrorAndLeavesEveryFileAsItWas) {
    if (!fullFolder()) {
        GTEST_SKIP() << "root without a mountable tmpfs: no folder can be made unwritable";
    }
    fs::copy_file(path("card.json"), path("small/card.json"));
    spit(path("small/book.json"), R"({"old": "export"})");
    spit(path("small/backup.json"), R"({"old": "backup"})");
    const std::string card = slurp(path("small/card.json"));
    fill();
    const std::set<std::string> before = namesIn(path("small"));

    const struct {
        const char* args;
        const char* file;
        const char* old;
    } runs[] = {
        {"--sim small/card.json phonebook export -o small/book.json", "small/book.json",
         R"({"old": "export"})"},
        {"--sim small/card.json backup -o small/backup.json", "small/backup.json",
         R"({"old": "backup"})"},
        {"--sim small/card.json phonebook import one.csv --no-backup", "small/card.json",
         card.c_str()},
        {"--sim small/card.json phonebook import one.csv --backup small/backup.json",
         "small/card.json", card.c_str()},
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(run.args);
        const zrn::test::ZrnRun result = zrn(run.args);
        EXPECT_EQ(result.exitCode, 2) << result.err;
        EXPECT_NE(result.err.find("cannot write"), std::string::npos) << result.err;
        EXPECT_EQ(result.err.find("verified"), std::string::npos) << result.err;
        EXPECT_TRUE(slurp(path(run.file)) == run.old);
        EXPECT_EQ(namesIn(path("small")), before) << "no temporary file stays behind";
    }
    EXPECT_TRUE(slurp(path("small/backup.json")) == R"({"old": "backup"})");
}

TEST_F(FileSafety, AKillDuringAWriteLeavesTheOldFileOrTheNewOneWhole) {
    const std::string oldCard = slurp(path("card.json"));
    spit(path("backup.json"), R"({"old": "backup"})");
    // The card image after a complete write, and the time a write takes.
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_EQ(zrn("--sim card.json phonebook import one.csv --backup backup.json").exitCode, 0);
    const auto whole = std::chrono::steady_clock::now() - begin;
    const std::string newCard = slurp(path("card.json"));
    ASSERT_NE(newCard, oldCard);

    constexpr int kRuns = 24;
    for (int i = 0; i < kRuns; ++i) {
        SCOPED_TRACE("kill " + std::to_string(i));
        spit(path("card.json"), oldCard);
        spit(path("backup.json"), R"({"old": "backup"})");
        const pid_t child = start(
            {"--sim", "card.json", "phonebook", "import", "one.csv", "--backup", "backup.json"});
        ASSERT_GT(child, 0);
        std::this_thread::sleep_for(whole * i / kRuns);
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        const std::string card = slurp(path("card.json"));
        EXPECT_TRUE(card == oldCard || card == newCard) << card.size() << " bytes";
        const std::string backup = slurp(path("backup.json"));
        EXPECT_TRUE(isJson(backup)) << backup.size() << " bytes";
    }
}

TEST_F(FileSafety, BackupsInTheSameSecondGetTheirOwnNames) {
    const zrn::test::ZrnRun run =
        zrn("--sim card.json backup && '" + std::string(ZRN_CLI_BINARY) +
            "' --sim card.json backup && '" + ZRN_CLI_BINARY + "' --sim card.json backup");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    int backups = 0;
    for (const std::string& name : namesIn(dir_)) {
        if (name.rfind("zrn-backup-", 0) == 0) {
            ++backups;
            EXPECT_TRUE(isJson(slurp(path(name)))) << name;
        }
    }
    EXPECT_EQ(backups, 3);
}

TEST_F(FileSafety, EndlessInputIsRefusedAndAFifoIsReadToItsEnd) {
    const zrn::test::ZrnRun zero =
        zrn("--sim card.json phonebook import /dev/zero --format raw --dry-run");
    EXPECT_EQ(zero.exitCode, 1);
    EXPECT_NE(zero.err.find("more than 64 MiB"), std::string::npos) << zero.err;

    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
    const std::string fifo = path("fifo");
    std::thread writer([&] { spit(fifo, "name,mobile\nBob,0123\n"); });
    const zrn::test::ZrnRun piped =
        zrn("--sim card.json phonebook import fifo --format csv --dry-run");
    writer.join();
    EXPECT_EQ(piped.exitCode, 0) << piped.err;
}

TEST_F(FileSafety, OutputsThatCannotBeWrittenAreErrors) {
    fs::create_directory(path("folder"));
    for (const char* args : {"phonebook export -o folder", "backup -o folder",
                             "phonebook export -o /proc/zrn-none/book.json"}) {
        SCOPED_TRACE(args);
        const zrn::test::ZrnRun run = zrn(std::string("--sim card.json ") + args);
        EXPECT_EQ(run.exitCode, 2) << run.err;
        EXPECT_NE(run.err.find("cannot write"), std::string::npos) << run.err;
    }
    EXPECT_TRUE(fs::is_empty(path("folder")));
    // Standard output on a full device.
    const std::string full = "cd '" + dir_.string() + "' && '" + ZRN_CLI_BINARY +
                             "' --sim card.json phonebook export >/dev/full 2>/dev/null";
    const int status = std::system(full.c_str());
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 2);
}

}  // namespace
