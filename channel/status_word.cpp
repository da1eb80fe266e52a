#include "channel/status_word.h"

#include <array>
#include <cstdio>

namespace zrn::channel {

namespace {

// One row per status word or pattern; the first row that matches wins, so
// exact words come before the patterns of their group.
struct StatusRow {
    std::uint8_t sw1;
    std::uint8_t sw2;
    bool anySw2;
    StatusCategory category;
    const char* meaning;
};

using C = StatusCategory;
constexpr bool kAny = true;
constexpr bool kExact = false;

constexpr std::array kStatusTable = {
    StatusRow{0x90, 0x00, kExact, C::kSuccess, "normal ending of the command"},
    StatusRow{0x91, 0x00, kAny, C::kSuccess, "normal ending, with a proactive command pending"},
    StatusRow{0x9F, 0x00, kAny, C::kResponseAvailable, "response data available"},
    StatusRow{0x9E, 0x00, kAny, C::kResponseAvailable,
              "response data of a download error available"},
    StatusRow{0x93, 0x00, kExact, C::kCardFailure, "SIM Application Toolkit busy"},
    StatusRow{0x92, 0x40, kExact, C::kCardFailure, "memory problem"},
    StatusRow{0x92, 0x00, kAny, C::kSuccess, "command successful after internal retries"},
    StatusRow{0x94, 0x04, kExact, C::kNotFound, "file or pattern not found"},
    StatusRow{0x94, 0x00, kExact, C::kWrongParameters, "no EF selected"},
    StatusRow{0x94, 0x02, kExact, C::kWrongParameters, "out of range (invalid address)"},
    StatusRow{0x94, 0x08, kExact, C::kWrongParameters, "file inconsistent with the command"},
    StatusRow{0x98, 0x02, kExact, C::kSecurity, "no CHV initialised"},
    StatusRow{0x98, 0x04, kExact, C::kSecurity,
              "access condition not fulfilled, or wrong CHV with attempts left"},
    StatusRow{0x98, 0x08, kExact, C::kSecurity, "in contradiction with CHV status"},
    StatusRow{0x98, 0x10, kExact, C::kSecurity, "in contradiction with invalidation status"},
    StatusRow{0x98, 0x40, kExact, C::kSecurity, "wrong CHV, no attempt left: CHV blocked"},
    StatusRow{0x98, 0x50, kExact, C::kSecurity, "increase cannot be performed"},
    StatusRow{0x98, 0x00, kAny, C::kSecurity, "security error"},
    StatusRow{0x6A, 0x82, kExact, C::kNotFound, "file not found"},
    StatusRow{0x6A, 0x00, kAny, C::kWrongParameters, "wrong parameters P1 P2"},
    StatusRow{0x67, 0x00, kAny, C::kWrongParameters, "incorrect parameter P3"},
    StatusRow{0x6B, 0x00, kAny, C::kWrongParameters, "incorrect parameter P1 or P2"},
    StatusRow{0x6D, 0x00, kAny, C::kWrongParameters, "unknown instruction code"},
    StatusRow{0x6E, 0x00, kAny, C::kWrongParameters, "wrong instruction class"},
    StatusRow{0x6F, 0x00, kAny, C::kCardFailure, "technical problem with no diagnostic given"},
};

constexpr StatusRow kUndefined{0, 0, kAny, C::kCardFailure, "status word not defined for a SIM"};

const StatusRow& rowOf(StatusWord sw) {
    for (const StatusRow& row : kStatusTable) {
        if (row.sw1 == sw.sw1 && (row.anySw2 || row.sw2 == sw.sw2)) {
            return row;
        }
    }
    return kUndefined;
}

}  // namespace

const char* categoryName(StatusCategory category) {
    switch (category) {
        case C::kSuccess:
            return "success";
        case C::kResponseAvailable:
            return "response available";
        case C::kNotFound:
            return "not found";
        case C::kSecurity:
            return "security";
        case C::kWrongParameters:
            return "wrong parameters";
        case C::kCardFailure:
            return "card failure";
        case C::kTransportFailure:
            return "transport failure";
    }
    return "card failure";
}

StatusCategory StatusWord::category() const {
    return rowOf(*this).category;
}

const char* StatusWord::meaning() const {
    return rowOf(*this).meaning;
}

std::string StatusWord::text() const {
    char text[6];
    std::snprintf(text, sizeof text, "%02X %02X", sw1, sw2);
    return text;
}

}  // namespace zrn::channel
