#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "channel/bytes.h"
#include "zrn.h"

namespace {

struct MessageCase {
    std::int32_t code;
    const char* gbkHex;  // the code page 936 bytes of the message
};

class ErrorMessage : public ::testing::TestWithParam<MessageCase> {};

TEST_P(ErrorMessage, WritesTheCodePage936BytesAndZeroFill) {
    std::array<char, 64> buffer;
    buffer.fill('\x7E');
    ASSERT_EQ(GetErrMsg(GetParam().code, buffer.data()), 0);
    zrn::Bytes expected;
    ASSERT_TRUE(zrn::fromHex(GetParam().gbkHex, expected));
    const std::size_t length = std::strlen(buffer.data());
    EXPECT_EQ(zrn::toHex({reinterpret_cast<const std::uint8_t*>(buffer.data()), length}),
              zrn::toHex(expected));
    for (std::size_t i = length; i < ZRN_ERRMSG_SIZE; ++i) {
        EXPECT_EQ(buffer[i], '\0') << "byte " << i;
    }
    EXPECT_EQ(buffer[ZRN_ERRMSG_SIZE], '\x7E') << "wrote past the 60 bytes";
}

constexpr const char* kUnknown = "CE B4 D6 AA B4 ED CE F3 2E";  // 未知错误.

INSTANTIATE_TEST_SUITE_P(
    Messages, ErrorMessage,
    ::testing::Values(
        MessageCase{0, "CE DE B4 ED CE F3 2E"},              // 无错误.
        MessageCase{1, "B6 C1 BF A8 C6 F7 B4 ED CE F3 2E"},  // 读卡器错误.
        MessageCase{2, "53 49 4D BF A8 B4 ED CE F3 28 B6 C1 A1 A2 D0 B4 BF A8 B4 ED CE F3 29 2E"},
        MessageCase{3, "53 49 4D BF A8 CE DE B7 A8 CA B6 B1 F0 2E"},  // SIM卡无法识别.
        MessageCase{4, "CA FD BE DD B2 CE CA FD B4 ED CE F3 2E"},     // 数据参数错误.
        MessageCase{318, "53 49 4D C0 E0 D0 CD B4 ED CE F3 28 CE DE 41 44 49 29 2E"},
        MessageCase{319, "44 6C 6C C4 DA B2 BF B4 ED CE F3 2E"},  // Dll内部错误.
        MessageCase{349, "41 44 49 D0 C5 CF A2 CA FD C1 BF B3 AC B3 F6 BF A8 C6 AC C8 DD C1 BF 2E"},
        MessageCase{305, kUnknown}, MessageCase{331, kUnknown}, MessageCase{350, kUnknown},
        MessageCase{-1, kUnknown}, MessageCase{5, kUnknown}, MessageCase{INT32_MIN, kUnknown},
        MessageCase{INT32_MAX, kUnknown}),
    [](const auto& p) {
        const std::int32_t code = p.param.code;
        return code < 0 ? "Minus" + std::to_string(-static_cast<std::int64_t>(code))
                        : std::to_string(code);
    });

TEST(ErrorMessage, NullBufferIsAParameterError) {
    EXPECT_EQ(GetErrMsg(0, nullptr), 4);
}

}  // namespace
