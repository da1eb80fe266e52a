#include "library/messages.h"

#include <cstring>

#include "library/result_codes.h"

namespace zrn {

namespace {

struct Message {
    std::int32_t code;
    std::string_view text;  // code page 936 bytes
};

// The texts are kept as their GBK bytes so that the host gets them unchanged
// whatever the compiler's source character set.
constexpr Message kMessages[] = {
    {result::kOk, "\xCE\xDE\xB4\xED\xCE\xF3."},                      // 无错误.
    {result::kNoCard, "\xB6\xC1\xBF\xA8\xC6\xF7\xB4\xED\xCE\xF3."},  // 读卡器错误.
    {result::kCardError,
     "SIM\xBF\xA8\xB4\xED\xCE\xF3(\xB6\xC1\xA1\xA2\xD0\xB4\xBF\xA8\xB4\xED\xCE\xF3)."},
    // SIM卡错误(读、写卡错误).
    {result::kUnrecognisedCard, "SIM\xBF\xA8\xCE\xDE\xB7\xA8\xCA\xB6\xB1\xF0."},  // SIM卡无法识别.
    {result::kBadArgument, "\xCA\xFD\xBE\xDD\xB2\xCE\xCA\xFD\xB4\xED\xCE\xF3."},  // 数据参数错误.
    {result::kNoAdi,
     "SIM\xC0\xE0\xD0\xCD\xB4\xED\xCE\xF3(\xCE\xDE"
     "ADI)."},                                                    // SIM类型错误(无ADI).
    {result::kInternal, "Dll\xC4\xDA\xB2\xBF\xB4\xED\xCE\xF3."},  // Dll内部错误.
    {result::kAdiOverCapacity,
     "ADI\xD0\xC5\xCF\xA2\xCA\xFD\xC1\xBF\xB3\xAC\xB3\xF6\xBF\xA8\xC6\xAC\xC8\xDD\xC1\xBF."},
    // ADI信息数量超出卡片容量.
};

constexpr std::string_view kUnknown = "\xCE\xB4\xD6\xAA\xB4\xED\xCE\xF3.";  // 未知错误.

}  // namespace

std::string_view errorMessage(std::int32_t code) {
    for (const Message& message : kMessages) {
        if (message.code == code) {
            return message.text;
        }
    }
    return kUnknown;
}

void writeErrorMessage(std::int32_t code, char* buffer) {
    const std::string_view text = errorMessage(code);
    std::memset(buffer, 0, kErrorMessageSize);
    std::memcpy(buffer, text.data(), text.size());
}

}  // namespace zrn
