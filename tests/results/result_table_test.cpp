#include <gtest/gtest.h>
#include <iconv.h>

#include <cctype>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "results/messages.h"
#include "results/result_codes.h"

namespace zrn::result {
namespace {

std::string utf8FromCp936(std::string_view bytes) {
    iconv_t convert = iconv_open("UTF-8", "CP936");
    if (convert == reinterpret_cast<iconv_t>(-1)) {
        ADD_FAILURE() << "no CP936 converter";
        return {};
    }
    std::string in(bytes);
    std::string out(4 * in.size() + 4, '\0');
    char* inPointer = in.data();
    char* outPointer = out.data();
    std::size_t inLeft = in.size();
    std::size_t outLeft = out.size();
    const std::size_t converted = iconv(convert, &inPointer, &inLeft, &outPointer, &outLeft);
    iconv_close(convert);
    EXPECT_NE(converted, static_cast<std::size_t>(-1)) << "not code page 936: " << in;
    out.resize(out.size() - outLeft);
    return out;
}

std::string codeText(std::int32_t code) {
    return code < 0 ? "\u2212" + std::to_string(-static_cast<std::int64_t>(code))
                    : std::to_string(code);
}

std::string exportsText(std::uint8_t exports) {
    if (exports == kEveryExport) {
        return "all";
    }
    std::string text;
    for (Export which : exportsInOrder()) {
        if ((exports & which) != 0) {
            text += (text.empty() ? "" : ", ") + std::string(exportName(which));
        }
    }
    return text.empty() ? "none" : text;
}

// The README's row for a table row.
std::string readmeRow(const Row& row) {
    const std::string_view message = row.message.empty() ? kUnknownMessage : row.message;
    return "| " + codeText(row.code) + " | " + exportsText(row.exports) + " | " +
           utf8FromCp936(message) + " | " + std::string(row.gloss) + " | " +
           (row.mayFollowWrite ? "yes" : "no") + " |";
}

// The rows of the table under "## Result codes", header and rule left out.
std::vector<std::string> readmeRows() {
    std::ifstream in(std::string(ZRN_SOURCE_DIR) + "/README.md");
    EXPECT_TRUE(in) << "README.md not found";
    std::vector<std::string> rows;
    std::string line;
    bool inSection = false;
    while (std::getline(in, line)) {
        if (line.rfind("## ", 0) == 0) {
            if (inSection) {
                break;
            }
            inSection = line == "## Result codes";
            continue;
        }
        if (inSection && line.rfind("|", 0) == 0) {
            rows.push_back(line);
        }
    }
    return rows;
}

TEST(ResultTable, ReadmeListsEveryCodeAsTheTableSays) {
    std::vector<std::string> found = readmeRows();
    ASSERT_GE(found.size(), 2u) << "no result-code table in README.md";
    EXPECT_EQ(found[0], "| Code | Returned by | Message | Meaning | Card may be partly written |");
    found.erase(found.begin(), found.begin() + 2);
    std::string expected;
    for (const Row& row : table()) {
        expected += readmeRow(row) + "\n";
    }
    const auto rows = table();
    ASSERT_EQ(found.size(), rows.size()) << "README.md's table should read:\n" << expected;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(found[i], readmeRow(rows[i])) << "README.md's table should read:\n" << expected;
    }
}

// The codes the public header's comment on `name` lists after "Results:",
// read as the numbers in it ("331 to 374" counts as both ends).
std::vector<std::int32_t> headerResults(const std::string& header, const std::string& name) {
    const std::size_t declaration = header.find("ZRN_CALL " + name + "(");
    EXPECT_NE(declaration, std::string::npos) << name << " is not declared in zrn.h";
    const std::size_t comment = header.rfind("/*", declaration);
    const std::size_t results = header.find("Results:", comment);
    EXPECT_LT(results, declaration) << name << "'s comment lists no results";
    std::vector<std::int32_t> codes;
    const std::string text = header.substr(results, declaration - results);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool negative = text[i] == '-' && i + 1 < text.size() && std::isdigit(text[i + 1]);
        if (!negative && !std::isdigit(static_cast<unsigned char>(text[i]))) {
            continue;
        }
        // Digits inside a word (EF_ADN's "3F00", "ZRN_...") are not codes.
        if (i > 0 && std::isalnum(static_cast<unsigned char>(text[i - 1]))) {
            while (i < text.size() && std::isalnum(static_cast<unsigned char>(text[i]))) {
                ++i;
            }
            continue;
        }
        std::size_t end = i + (negative ? 1 : 0);
        while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) {
            ++end;
        }
        if (end < text.size() && std::isalpha(static_cast<unsigned char>(text[end]))) {
            i = end;
            continue;
        }
        codes.push_back(std::stoi(text.substr(i, end - i)));
        i = end;
    }
    return codes;
}

// zrn.h documents each export's results for hosts; every code it names must
// be one the table says that export returns.
TEST(ResultTable, PublicHeaderNamesOnlyCodesTheExportReturns) {
    std::ifstream in(std::string(ZRN_SOURCE_DIR) + "/include/zrn.h");
    ASSERT_TRUE(in) << "include/zrn.h not found";
    std::ostringstream content;
    content << in.rdbuf();
    const std::string header = content.str();
    for (Export which : exportsInOrder()) {
        const std::string name(exportName(which));
        const auto codes = headerResults(header, name);
        EXPECT_FALSE(codes.empty()) << name;
        for (std::int32_t code : codes) {
            const Row* row = find(code);
            ASSERT_NE(row, nullptr) << "zrn.h names " << code << " for " << name;
            EXPECT_TRUE(row->returnedBy(which))
                << "zrn.h says " << name << " returns " << code << "; the table does not";
        }
    }
}

TEST(ResultTable, EveryCodeIsReturnedByAnExportOrOnlyHasAMessage) {
    for (const Row& row : table()) {
        SCOPED_TRACE(row.code);
        EXPECT_EQ(row.exports == 0, row.kind == Kind::kMessageOnly);
        EXPECT_FALSE(row.gloss.empty());
        EXPECT_EQ(row.kind == Kind::kSuccess, row.code == kOk);
        EXPECT_EQ(find(row.code), &row);
    }
}

TEST(ResultTable, OnlyFailuresOfWritingExportsMayFollowAWrite) {
    for (const Row& row : table()) {
        if (row.mayFollowWrite) {
            SCOPED_TRACE(row.code);
            EXPECT_TRUE(row.returnedBy(kWriteZRN) || row.returnedBy(kWriteSMS));
            EXPECT_EQ(row.kind, Kind::kCardFailure);
        }
    }
}

TEST(ResultTable, RefusalsComeBeforeAnyWrite) {
    for (std::int32_t code :
         {kBadArgument, kNotAContact, kTooManyContacts, kBadAdn, kBadOtr, kAdiOverCapacity,
          kContactNotClosed, kThirdAdi, kNumberFileUnselectable, kNameImageNoMemory}) {
        ASSERT_NE(find(code), nullptr) << code;
        EXPECT_FALSE(find(code)->mayFollowWrite) << code;
    }
    for (std::int32_t code : {kCardError, kNameWriteUnselectable, kNumberWriteLastPieceFailed}) {
        ASSERT_NE(find(code), nullptr) << code;
        EXPECT_TRUE(find(code)->mayFollowWrite) << code;
    }
}

TEST(ResultTable, CodesOutsideTheTableAndCodesWithoutTextGetTheUnknownText) {
    EXPECT_EQ(find(350), nullptr);
    EXPECT_EQ(find(353), nullptr);
    EXPECT_EQ(errorMessage(350), kUnknownMessage);
    EXPECT_EQ(errorMessage(kNoCardSms), kUnknownMessage);
    EXPECT_EQ(errorMessage(kBadMbl), kUnknownMessage);
    EXPECT_NE(errorMessage(kNoAdi), kUnknownMessage);
}

}  // namespace
}  // namespace zrn::result
