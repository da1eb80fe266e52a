#pragma once

#include <string>
#include <vector>

#include "sim/scripted_card.h"

// Building blocks for APDU scripts: the exact commands the library sends and
// typical card answers.
namespace zrn::test {

using Step = sim::ScriptedCard::Step;
using Script = std::vector<Step>;

inline std::string hex2(unsigned v) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    return {kDigits[(v >> 4) & 0xF], kDigits[v & 0xF]};
}

inline std::string hex4(unsigned v) {
    return hex2(v >> 8) + " " + hex2(v & 0xFF);
}

inline Step selectOk(unsigned fileId, unsigned responseLength = 0x0F) {
    return {"A0 A4 00 00 02 " + hex4(fileId), "9F " + hex2(responseLength)};
}

inline Step selectMissing(unsigned fileId) {
    return {"A0 A4 00 00 02 " + hex4(fileId), "94 04"};
}

// GET RESPONSE for an EF of `size` bytes with records of `recordLength` bytes.
inline Step efResponse(unsigned size, unsigned recordLength, unsigned asked = 0x0F) {
    std::string data =
        "00 00 " + hex4(size) + " 6F 3A 04 00 11 F4 44 01 02 01 " + hex2(recordLength);
    return {"A0 C0 00 00 " + hex2(asked), data + " 90 00"};
}

inline void append(Script& script, const Script& more) {
    script.insert(script.end(), more.begin(), more.end());
}

inline Script selectPath(std::initializer_list<unsigned> path) {
    Script script;
    for (unsigned id : path) {
        script.push_back(
            selectOk(id, id == 0x3F00 || (id >> 8) == 0x7F || (id >> 8) == 0x5F ? 0x16 : 0x0F));
    }
    return script;
}

// The connection of a card whose phone book lives in 7F10, EF_ADN and EF_SMS
// as given; `config` (20 bytes hex) and `option` (10 bytes hex) make it an
// extended-layout card when not empty.
inline Script connectionScript(unsigned adnSize, unsigned adnRecord, unsigned smsSize,
                               const std::string& config, const std::string& option) {
    Script script = selectPath({0x3F00, 0x7F10, 0x6F04});
    append(script, selectPath({0x3F00, 0x7F10, 0x6F3A}));
    script.push_back(efResponse(adnSize, adnRecord));
    append(script, selectPath({0x3F00, 0x7F10, 0x6F3C}));
    script.push_back(efResponse(smsSize, 176));
    if (config.empty()) {
        append(script, selectPath({0x3F00, 0x7F10}));
        script.push_back(selectMissing(0x9000));
        return script;
    }
    append(script, selectPath({0x3F00, 0x7F10, 0x9000}));
    script.push_back({"A0 B0 00 00 14", config + " 90 00"});
    append(script, selectPath({0x3F00, 0x2F99}));
    script.push_back({"A0 B0 00 00 0A", option + " 90 00"});
    return script;
}

}  // namespace zrn::test
