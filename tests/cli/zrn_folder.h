#pragma once

// zrn run as a separate program in a temporary folder of its own.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace zrn::test {

struct ZrnRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

inline std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void spit(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

class ZrnFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/zrn-run-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    // Runs zrn with `args` (shell words) in the folder.
    ZrnRun zrn(const std::string& args) const {
        const std::string out = path(".stdout");
        const std::string err = path(".stderr");
        const std::string command = "cd '" + dir_.string() + "' && '" + ZRN_CLI_BINARY +
                                    "' --no-progress " + args + " >'" + out + "' 2>'" + err +
                                    "' </dev/null";
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(out), slurp(err)};
    }

    std::filesystem::path dir_;
};

}  // namespace zrn::test
