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

    // Copies the bundled sample cards into the folder.
    void copySamples() const {
        for (const char* sample : {"extended.json", "standard.json"}) {
            std::filesystem::copy_file(std::filesystem::path(ZRN_SOURCE_DIR) / "samples" / sample,
                                       dir_ / sample);
        }
    }

    // Runs zrn with `args` (shell words) in the folder; `env` goes before the
    // program (VAR=value words).
    ZrnRun zrn(const std::string& args, const std::string& env = "") const {
        const std::string out = path(".stdout");
        const std::string err = path(".stderr");
        const std::string command = "cd '" + dir_.string() + "' && " + env + " '" + ZRN_CLI_BINARY +
                                    "' --no-progress " + args + " >'" + out + "' 2>'" + err +
                                    "' </dev/null";
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(out), slurp(err)};
    }

    std::filesystem::path dir_;
};

}  // namespace zrn::test
