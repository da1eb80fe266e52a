// Runs every *.vectors file kept beside the tool's codecs: one vector a line,
// the operation first, fields separated by tabs.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "test_vectors.h"

namespace {

namespace fs = std::filesystem;

struct Vector {
    std::string file;
    int line;
    std::vector<std::string> fields;
};

std::vector<std::string> splitTabs(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    while (true) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(
            line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) {
            return fields;
        }
        start = tab + 1;
    }
}

std::vector<Vector> loadVectors() {
    std::vector<Vector> vectors;
    for (const auto& entry : fs::recursive_directory_iterator(fs::path(ZRN_SOURCE_DIR) / "cli")) {
        if (entry.path().extension() != ".vectors") {
            continue;
        }
        std::ifstream in(entry.path());
        std::string line;
        int number = 0;
        while (std::getline(in, line)) {
            ++number;
            if (line.empty() || line[0] == '#') {
                continue;
            }
            vectors.push_back({entry.path().filename().string(), number, splitTabs(line)});
        }
    }
    return vectors;
}

TEST(CodecVectors, EveryVectorHolds) {
    const auto vectors = loadVectors();
    ASSERT_GT(vectors.size(), 20u) << "the vector files were not found";
    const auto& operations = zrn::cli::testing::vectorOperations();
    for (const Vector& v : vectors) {
        SCOPED_TRACE(v.file + ":" + std::to_string(v.line));
        const auto op = operations.find(v.fields[0]);
        ASSERT_NE(op, operations.end()) << "unknown operation " << v.fields[0];
        const std::vector<std::string> args(v.fields.begin() + 1, v.fields.end());
        const std::string problem = op->second(args);
        EXPECT_EQ(problem, "") << v.fields[0];
    }
}

}  // namespace
