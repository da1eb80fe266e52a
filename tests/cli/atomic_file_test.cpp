// Files written so that a failure or a kill leaves the old file or the new one.
#include "cli/atomic_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace zrn::cli {
namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void spit(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The failures a test injects: the write call that fails, and how.
struct Fault {
    int failingWrite = -1;  // 0-based count of write calls; -1: none
    int writeError = ENOSPC;
    bool writeNothing = false;  // the call returns 0 instead of failing
    bool failFsync = false;
    bool failRename = false;
    bool killMidWrite = false;
};
Fault fault;
int writes = 0;

ssize_t faultyWrite(int fd, const void* data, std::size_t size) {
    if (writes++ == fault.failingWrite) {
        // Part of the data reaches the file first, as on a disk that fills up.
        (void)!::write(fd, data, size / 2);
        if (fault.killMidWrite) {
            ::raise(SIGKILL);
        }
        if (fault.writeNothing) {
            return 0;
        }
        errno = fault.writeError;
        return -1;
    }
    // One byte short each time: the writer must carry on after a short write.
    return ::write(fd, data, size > 1 ? size - 1 : size);
}
int faultyFsync(int fd) {
    if (fault.failFsync) {
        errno = EIO;
        return -1;
    }
    return ::fsync(fd);
}
int faultyRename(const char* from, const char* to) {
    if (fault.failRename) {
        errno = EXDEV;
        return -1;
    }
    return ::rename(from, to);
}

FileCalls faulty(const Fault& f) {
    fault = f;
    writes = 0;
    return {faultyWrite, faultyFsync, faultyRename};
}

class AtomicFile : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/zrn-atomic-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        if (mounted_) {
            ::umount2(dir_.c_str(), MNT_DETACH);
        }
        fs::remove_all(dir_);
    }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    fs::path dir_;
    bool mounted_ = false;
};

TEST_F(AtomicFile, ReplacesTheFileAndKeepsItsPermissions) {
    spit(path("card.json"), "old");
    ASSERT_EQ(::chmod(path("card.json").c_str(), 0640), 0);
    const std::string data(200000, 'n');
    replaceFile(path("card.json"), data, faulty({}));
    EXPECT_TRUE(slurp(path("card.json")) == data);
    struct stat st {};
    ASSERT_EQ(::stat(path("card.json").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(namesIn(dir_), std::vector<std::string>{"card.json"});

    replaceFile(path("fresh.json"), "new");
    EXPECT_EQ(slurp(path("fresh.json")), "new");
}

TEST_F(AtomicFile, ALinkKeepsPointingAtTheFileItNames) {
    spit(path("real.json"), "old");
    fs::create_symlink("real.json", path("link.json"));
    replaceFile(path("link.json"), "new");
    EXPECT_TRUE(fs::is_symlink(path("link.json")));
    EXPECT_EQ(slurp(path("real.json")), "new");
}

TEST_F(AtomicFile, AFailureAnywhereLeavesTheOldFileAndNoTemporaryFile) {
    const struct {
        const char* what;
        Fault fault;
    } cases[] = {
        {"disk full mid-write", {.failingWrite = 1}},
        {"disk full at the first write", {.failingWrite = 0}},
        {"write takes nothing", {.failingWrite = 1, .writeNothing = true}},
        {"I/O error", {.failingWrite = 1, .writeError = EIO}},
        {"flush fails", {.failFsync = true}},
        {"rename fails", {.failRename = true}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        spit(path("backup.json"), "the old backup");
        try {
            replaceFile(path("backup.json"), std::string(300000, 'x'), faulty(c.fault));
            ADD_FAILURE() << "no error reported";
        } catch (const CliError& e) {
            EXPECT_EQ(e.exitCode(), kExitFileWrite);
            EXPECT_NE(std::string(e.what()).find("backup.json"), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find("old file was left"), std::string::npos);
        }
        EXPECT_EQ(slurp(path("backup.json")), "the old backup");
        EXPECT_EQ(namesIn(dir_), std::vector<std::string>{"backup.json"});
        if (c.fault.failRename) {
            continue;  // new files are linked into place, not renamed
        }
        // A new file is not created at all.
        EXPECT_THROW(createNewFile(path("new"), ".json", std::string(300000, 'x'), faulty(c.fault)),
                     CliError);
        EXPECT_EQ(namesIn(dir_), std::vector<std::string>{"backup.json"});
    }
}

TEST_F(AtomicFile, DevicesAreWrittenInPlaceNeverReplaced) {
    replaceFile("/dev/null", "data");
    struct stat st {};
    ASSERT_EQ(::stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_THROW(replaceFile("/dev/full", "data"), CliError);  // always full
}

TEST_F(AtomicFile, NewFilesNeverReplaceOneAlreadyThere) {
    spit(path("zrn-backup-3.json"), "someone else's");
    EXPECT_EQ(createNewFile(path("zrn-backup"), ".json", "a"), path("zrn-backup.json"));
    EXPECT_EQ(createNewFile(path("zrn-backup"), ".json", "b"), path("zrn-backup-2.json"));
    EXPECT_EQ(createNewFile(path("zrn-backup"), ".json", "c"), path("zrn-backup-4.json"));
    EXPECT_EQ(slurp(path("zrn-backup.json")), "a");
    EXPECT_EQ(slurp(path("zrn-backup-2.json")), "b");
    EXPECT_EQ(slurp(path("zrn-backup-3.json")), "someone else's");
    EXPECT_EQ(slurp(path("zrn-backup-4.json")), "c");
    EXPECT_EQ(namesIn(dir_).size(), 4u);
}

TEST_F(AtomicFile, AKillDuringTheWriteLeavesTheOldFile) {
    spit(path("card.json"), "{\"old\": true}");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        replaceFile(path("card.json"), std::string(300000, 'x'),
                    faulty({.failingWrite = 1, .killMidWrite = true}));
        ::_exit(0);  // not reached: the write kills the process
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(slurp(path("card.json")), "{\"old\": true}");
}

TEST_F(AtomicFile, AFullDiskLeavesTheOldFile) {
    if (::mount("tmpfs", dir_.c_str(), "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "cannot mount a small tmpfs here (" << std::strerror(errno)
                     << "); the injected failures cover the same path";
    }
    mounted_ = true;
    spit(path("card.json"), std::string(20000, 'o'));
    EXPECT_THROW(replaceFile(path("card.json"), std::string(100000, 'n')), CliError);
    EXPECT_TRUE(slurp(path("card.json")) == std::string(20000, 'o'));
    EXPECT_THROW(createNewFile(path("zrn-backup"), ".json", std::string(100000, 'n')), CliError);
    EXPECT_EQ(namesIn(dir_), std::vector<std::string>{"card.json"});
    // What fits is written whole.
    replaceFile(path("card.json"), std::string(30000, 'n'));
    EXPECT_TRUE(slurp(path("card.json")) == std::string(30000, 'n'));
}

TEST_F(AtomicFile, InputIsLimitedWhileItIsRead) {
    spit(path("exact"), std::string(1000, 'e'));
    EXPECT_EQ(readFileLimited(path("exact"), 1000).size(), 1000u);
    EXPECT_THROW(readFileLimited(path("exact"), 999), CliError);
    EXPECT_THROW(readFileLimited(path("absent"), 1000), CliError);
    EXPECT_THROW(readFileLimited(dir_.string(), 1000), CliError);  // a folder
    try {
        readFileLimited("/dev/zero", 1 << 20);
        ADD_FAILURE() << "an endless source was accepted";
    } catch (const CliError& e) {
        EXPECT_EQ(e.exitCode(), kExitUsage);
        EXPECT_NE(std::string(e.what()).find("more than 1 MiB"), std::string::npos) << e.what();
    }

    // A FIFO is read until its writer closes it.
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
    std::thread writer([&] {
        const int fd = ::open(path("fifo").c_str(), O_WRONLY);
        for (int i = 0; i < 10; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            (void)!::write(fd, "0123456789", 10);
        }
        ::close(fd);
    });
    const std::string got = readFileLimited(path("fifo"), 1000);
    writer.join();
    EXPECT_EQ(got.size(), 100u);
}

}  // namespace
}  // namespace zrn::cli
