// Card and file text printed on a terminal.
#include "cli/text/terminal.h"

#include <gtest/gtest.h>

namespace zrn::cli::text {
namespace {

TEST(TerminalText, ControlsBecomeVisibleEscapes) {
    const struct {
        std::string_view in;
        const char* shown;
    } cases[] = {
        {"Anna", "Anna"},
        {"Jürgen 日本 €", "Jürgen 日本 €"},
        {"back\\slash", "back\\slash"},
        {"\x1b[31mRed", "\\x1b[31mRed"},
        {"bell\a", "bell\\x07"},
        {"over\rwrite", "over\\rwrite"},
        {"two\nlines\tand tab", "two\\nlines\\tand tab"},
        {std::string_view("nul\0byte", 8), "nul\\x00byte"},
        {"del\x7f", "del\\x7f"},
        {"c1 \xC2\x9B csi", "c1 \\u009b csi"},
        {"\xC2\xA0nbsp", "\xC2\xA0nbsp"},
        {"rtl \xE2\x80\xAE", "rtl \\u202e"},
        {"bad \xFF utf-8", "bad \\xff utf-8"},
        {"cut \xE6\x97", "cut \\xe6\\x97"},
        {"overlong \xC0\xAF", "overlong \\xc0\\xaf"},
        {"surrogate \xED\xA0\x80", "surrogate \\xed\\xa0\\x80"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown);
        EXPECT_EQ(terminalText(c.in), c.shown);
    }
}

TEST(TerminalText, LinesKeepTheirBreaksOnly) {
    EXPECT_EQ(terminalLines("first\nsecond\r\n\x1b"), "first\nsecond\\r\n\\x1b");
}

}  // namespace
}  // namespace zrn::cli::text
