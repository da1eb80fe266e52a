#include "cli/errors.h"

#include "cli/library_adapter.h"
#include "cli/text/charset.h"
#include "results/result_codes.h"

namespace zrn::cli {

std::string libraryMessage(std::int32_t code) {
    const std::string raw = library::errorMessage(code);
    if (auto utf8 = text::toUtf8(raw, "CP936")) {
        return *utf8;
    }
    return raw;
}

std::string libraryGloss(std::int32_t code) {
    const result::Row* row = result::find(code);
    return std::string(row != nullptr ? row->gloss : result::kUnknownGloss);
}

std::string describeResult(const std::string& call, std::int32_t code) {
    return call + " answered " + std::to_string(code) + ": " + libraryMessage(code) + " (" +
           libraryGloss(code) + ")";
}

void failLibrary(const std::string& call, std::int32_t code, const std::string& advice) {
    fail(kExitCard, describeResult(call, code) + (advice.empty() ? "" : "\n" + advice));
}

}  // namespace zrn::cli
