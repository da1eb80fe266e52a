#include "cli/errors.h"

#include <map>

#include "cli/text/charset.h"
#include "core/card.h"

namespace zrn::cli {

namespace {

const std::map<std::int32_t, const char*>& glosses() {
    static const std::map<std::int32_t, const char*> table = {
        {0, "no error"},
        {1, "reader error: no card is attached"},
        {-1, "no card is attached"},
        {2, "SIM card error (card read or write error)"},
        {3, "SIM card cannot be recognised"},
        {4, "data parameter error"},
        {305, "a message file cannot be read, or no working memory"},
        {318, "SIM type error (no ADI)"},
        {319, "library internal error (standard layout: EF_ADN cannot be read)"},
        {331, "the number file cannot be selected"},
        {332, "no memory for the number file's selection response"},
        {333, "GET RESPONSE for the number file fails"},
        {334, "no memory for the number file image"},
        {335, "the name file cannot be selected"},
        {336, "no memory for the name file's selection response"},
        {337, "GET RESPONSE for the name file fails"},
        {338, "no memory for the name file image"},
        {339, "the stream holds another element where a contact must begin"},
        {340, "more contacts than the card holds"},
        {341, "a general number is empty or too long"},
        {342, "more general numbers than the card holds"},
        {343, "a mobile number is too long, or no number slot is left"},
        {344, "a home number is too long, or no number slot is left"},
        {345, "an office number is too long, or no number slot is left"},
        {346, "an other number is too long, or no number slot is left"},
        {347, "a free-text entry does not fit an ADI record"},
        {348, "a free-text entry on a card without ADI entries"},
        {349, "ADI entries exceed the card's capacity"},
        {351, "a contact's elements do not end with its group element"},
        {352, "a contact does not start with its name, or the name is too long"},
        {354, "a third free-text entry in one contact"},
        {360, "writing the name file: it cannot be selected"},
        {361, "writing the name file: no memory for its selection response"},
        {362, "writing the name file: GET RESPONSE fails"},
        {363, "writing the name file: an UPDATE BINARY fails"},
        {364, "writing the name file: the last UPDATE BINARY fails"},
        {370, "writing the number file: it cannot be selected"},
        {371, "writing the number file: no memory for its selection response"},
        {372, "writing the number file: GET RESPONSE fails"},
        {373, "writing the number file: an UPDATE BINARY fails"},
        {374, "writing the number file: the last UPDATE BINARY fails"},
    };
    return table;
}

}  // namespace

std::string libraryMessage(std::int32_t code) {
    const std::string raw = core::errorMessage(code);
    if (auto utf8 = text::toUtf8(raw, "CP936")) {
        return *utf8;
    }
    return raw;
}

std::string libraryGloss(std::int32_t code) {
    const auto it = glosses().find(code);
    return it != glosses().end() ? it->second : "unknown error";
}

std::string describeResult(const std::string& call, std::int32_t code) {
    return call + " answered " + std::to_string(code) + ": " + libraryMessage(code) + " (" +
           libraryGloss(code) + ")";
}

void failLibrary(const std::string& call, std::int32_t code, const std::string& advice) {
    fail(kExitCard, describeResult(call, code) + (advice.empty() ? "" : "\n" + advice));
}

}  // namespace zrn::cli
