#include "cli/text/charset.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace zrn::cli::text {

namespace {

class Converter {
  public:
    explicit Converter(const std::string& from) : cd_(iconv_open("UTF-8", from.c_str())) {}
    ~Converter() {
        if (valid()) {
            iconv_close(cd_);
        }
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

  private:
    iconv_t cd_;
};

}  // namespace

std::optional<std::string> toUtf8(std::string_view bytes, const std::string& charset) {
    Converter converter(charset);
    if (!converter.valid()) {
        return std::nullopt;
    }
    std::string input(bytes);
    std::vector<char> output(input.size() * 4 + 16);
    char* in = input.data();
    std::size_t inLeft = input.size();
    char* out = output.data();
    std::size_t outLeft = output.size();
    while (inLeft > 0) {
        if (iconv(converter.get(), &in, &inLeft, &out, &outLeft) == static_cast<std::size_t>(-1)) {
            if (errno != E2BIG) {
                return std::nullopt;
            }
            const std::size_t used = output.size() - outLeft;
            output.resize(output.size() * 2);
            out = output.data() + used;
            outLeft = output.size() - used;
        }
    }
    return std::string(output.data(), output.size() - outLeft);
}

namespace {

std::string upperAscii(std::string s) {
    for (char& c : s) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return s;
}

bool startsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

// UTF-16 without a mark: text that is mostly ASCII has a zero in every other byte.
std::string wideWithoutMark(std::string_view bytes) {
    const std::size_t n = std::min<std::size_t>(bytes.size(), 4096) & ~std::size_t{1};
    if (n < 4) {
        return {};
    }
    std::size_t zeroEven = 0;
    std::size_t zeroOdd = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (bytes[i] == '\0') {
            (i % 2 == 0 ? zeroEven : zeroOdd) += 1;
        }
    }
    const std::size_t pairs = n / 2;
    if (zeroOdd * 10 >= pairs * 3 && zeroEven * 10 < pairs) {
        return "UTF-16LE";
    }
    if (zeroEven * 10 >= pairs * 3 && zeroOdd * 10 < pairs) {
        return "UTF-16BE";
    }
    return {};
}

Outcome<DecodedText> converted(std::string_view bytes, const std::string& charset) {
    auto text = toUtf8(bytes, charset);
    if (!text) {
        return Outcome<DecodedText>::failure("the file is not valid " + charset +
                                             " text (or iconv does not know that charset)");
    }
    if (startsWith(*text, "\xEF\xBB\xBF")) {
        text->erase(0, 3);  // the mark itself, kept by iconv for explicit byte orders
    }
    return DecodedText{std::move(*text), charset};
}

}  // namespace

bool isWideCharset(const std::string& charset) {
    const std::string name = upperAscii(charset);
    return startsWith(name, "UTF-16") || startsWith(name, "UTF-32") || startsWith(name, "UCS-2") ||
           startsWith(name, "UCS-4") || name == "UNICODE";
}

Outcome<DecodedText> decodeTextFile(std::string_view bytes, const std::string& charset) {
    const std::string name = upperAscii(charset);
    if (!charset.empty() && name != "UTF-8" && name != "UTF8") {
        return converted(bytes, charset);
    }
    if (startsWith(bytes, "\xEF\xBB\xBF")) {
        bytes.remove_prefix(3);
        return DecodedText{std::string(bytes), "UTF-8"};
    }
    if (charset.empty()) {
        if (startsWith(bytes, "\xFF\xFE") || startsWith(bytes, "\xFE\xFF")) {
            return converted(bytes, "UTF-16");  // iconv takes the order from the mark
        }
        if (const std::string wide = wideWithoutMark(bytes); !wide.empty()) {
            return converted(bytes, wide);
        }
    }
    return DecodedText{std::string(bytes), "UTF-8"};
}

std::string likelyLegacyCharset(std::string_view bytes) {
    bool anyPair = false;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        if (lead < 0x80) {
            continue;
        }
        if (i + 1 >= bytes.size()) {
            return "windows-1252";
        }
        const auto trail = static_cast<unsigned char>(bytes[i + 1]);
        if (lead < 0xA1 || lead > 0xF7 || trail < 0xA1 || trail > 0xFE) {
            return "windows-1252";
        }
        anyPair = true;
        ++i;
    }
    return anyPair ? "GBK" : "windows-1252";
}

}  // namespace zrn::cli::text
