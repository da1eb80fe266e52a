#include "cli/text/charset.h"

#include <iconv.h>

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

}  // namespace zrn::cli::text
