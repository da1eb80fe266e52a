// zrn stopped by SIGINT or SIGTERM in the middle of a write on a --sim card,
// as a user's Ctrl-C or a service manager would stop it. The trace goes to a
// FIFO with a small buffer that this test reads: the tool cannot run ahead of
// it by more than the buffer, so the signal arrives in the middle of the write.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "zrn_folder.h"

namespace {

using zrn::test::slurp;
using zrn::test::spit;

class Interrupted : public zrn::test::ZrnFolder {
  protected:
    void SetUp() override {
        ZrnFolder::SetUp();
        copySamples();
        std::string book;
        for (int i = 0; i < 3; ++i) {
            book += "BEGIN:VCARD\nVERSION:3.0\nFN:Signal " + std::to_string(i) + "\nTEL:0300" +
                    std::to_string(i) + "\nEND:VCARD\n";
        }
        spit(path("book.vcf"), book);
    }

    struct Stopped {
        int exitCode = -1;
        std::string err;
        std::string trace;
    };

    // Runs an import with its trace in a FIFO; sends `signal` once the trace
    // shows the first update command.
    Stopped importStoppedBy(int signal) {
        const std::string fifo = path("trace.fifo");
        EXPECT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        // Read and write ends held here: the tool's open does not wait, and
        // the buffer is made small before it writes.
        const int reader = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
        EXPECT_GE(reader, 0);
        fcntl(reader, F_SETPIPE_SZ, 4096);
        const std::string err = path("stderr.txt");
        const pid_t pid = fork();
        if (pid == 0) {
            ::close(reader);
            if (chdir(dir_.c_str()) != 0) {
                _exit(120);
            }
            const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(errFd, 2);
            const int null = ::open("/dev/null", O_RDWR);
            dup2(null, 0);
            dup2(null, 1);
            execl(ZRN_CLI_BINARY, "zrn", "--no-progress", "--sim", "standard.json", "--trace",
                  "trace.fifo", "phonebook", "import", "book.vcf", "--backup", "before.json",
                  static_cast<char*>(nullptr));
            _exit(121);
        }
        Stopped stopped;
        bool signalled = false;
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        for (;;) {
            char buffer[512];
            const ssize_t n = ::read(reader, buffer, sizeof buffer);
            if (n > 0) {
                stopped.trace.append(buffer, static_cast<std::size_t>(n));
                if (!signalled && stopped.trace.find("\nA0 DC") != std::string::npos) {
                    kill(pid, signal);
                    signalled = true;
                }
                continue;
            }
            if (waitpid(pid, &status, WNOHANG) == pid) {
                break;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                ADD_FAILURE() << "zrn did not end";
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        for (char buffer[512];;) {
            const ssize_t n = ::read(reader, buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            stopped.trace.append(buffer, static_cast<std::size_t>(n));
        }
        ::close(reader);
        EXPECT_TRUE(signalled);
        stopped.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        stopped.err = slurp(err);
        return stopped;
    }
};

TEST_F(Interrupted, AWriteStoppedByASignalSaysWhatWasWrittenAndTheRestoreBringsTheCardBack) {
    // A card with 90 contacts: the import of three rewrites 90 records, more
    // than the trace's buffer lets the tool run ahead.
    std::string big;
    for (int i = 0; i < 90; ++i) {
        big += "BEGIN:VCARD\nVERSION:3.0\nFN:Many " + std::to_string(i) + "\nTEL:0400" +
               std::to_string(i) + "\nEND:VCARD\n";
    }
    spit(path("big.vcf"), big);
    ASSERT_EQ(zrn("--sim standard.json phonebook import big.vcf --no-backup").exitCode, 0);
    std::filesystem::copy_file(path("standard.json"), path("prepared.json"));
    ASSERT_EQ(zrn("--sim standard.json phonebook export -o original.json").exitCode, 0);
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE("signal " + std::to_string(signal));
        std::filesystem::copy_file(path("prepared.json"), path("standard.json"),
                                   std::filesystem::copy_options::overwrite_existing);
        std::filesystem::remove(path("trace.fifo"));
        const Stopped stopped = importStoppedBy(signal);
        EXPECT_EQ(stopped.exitCode, 128 + signal) << stopped.err;

        // The updates the card accepted, by the trace, are the ones reported.
        std::size_t updates = 0;
        const std::regex accepted("A0 DC [0-9A-F]{2} 04 .* => 90 00");
        std::istringstream lines(stopped.trace);
        for (std::string line; std::getline(lines, line);) {
            updates += std::regex_match(line, accepted) ? 1u : 0u;
        }
        ASSERT_GT(updates, 0u) << stopped.err;
        // The write was cut short: 90 records differ.
        EXPECT_LT(updates, 90u) << stopped.err;
        const std::string written =
            updates == 1 ? "record(s) 1." : "record(s) 1-" + std::to_string(updates) + ".";
        EXPECT_NE(stopped.err.find("file 6F3A: " + written), std::string::npos) << stopped.err;
        EXPECT_NE(stopped.err.find("may hold a partial phone book"), std::string::npos);
        const std::string restore = "zrn --sim standard.json restore before.json";
        ASSERT_NE(stopped.err.find(restore), std::string::npos) << stopped.err;

        // The image holds what reached the card; the command given brings the book back.
        EXPECT_EQ(zrn("--sim standard.json phonebook export -o partial.json").exitCode, 0);
        EXPECT_NE(slurp(path("partial.json")), slurp(path("original.json")));
        const auto restored = zrn("--sim standard.json restore before.json --no-backup");
        EXPECT_EQ(restored.exitCode, 0) << restored.err;
        ASSERT_EQ(zrn("--sim standard.json phonebook export -o after.json").exitCode, 0);
        EXPECT_EQ(slurp(path("after.json")), slurp(path("original.json")));
    }
}

}  // namespace
