// The human-readable and JSON views of the messages, live and deleted; no
// card work here, so the views are tested without one.
#include <sstream>

#include "cli/card_data.h"
#include "cli/formats/json_format.h"
#include "cli/text/terminal.h"

namespace zrn::cli {

namespace {

// Who a message is from or to, as its kind has it.
std::string partyOf(const DecodedSms& d) {
    const std::string address = d.address.empty() ? "?" : text::terminalText(d.address);
    switch (d.kind) {
        case SmsKind::kSubmit:
        case SmsKind::kCommand:
            return "to " + address;
        case SmsKind::kStatusReport:
            return "report on the message to " + address;
        default:
            return "from " + address;
    }
}

void listMessages(std::ostream& out, const std::vector<StoredSms>& stored) {
    const auto messages = assembleMessages(stored);
    for (std::size_t i = 0; i < messages.size(); ++i) {
        const SmsMessage& m = messages[i];
        const DecodedSms& d = m.first;
        out << "  " << i + 1 << ". [" << (d.deleted ? "deleted" : smsStatusName(d.status)) << "] "
            << partyOf(d);
        if (!d.timestamp.empty()) {
            out << "  " << text::terminalText(d.timestamp);
        }
        if (!d.dischargeTime.empty()) {
            out << "  discharged " << text::terminalText(d.dischargeTime);
        }
        const StoredSms& first = stored[m.parts.front()];
        out << "  (" << first.store;
        if (d.deleted) {
            out << " record " << first.position;
        }
        if (m.totalParts > 1) {
            out << ", " << m.parts.size() << " of " << m.totalParts << " parts";
        }
        out << ")\n";
        if (!d.problem.empty()) {
            out << "     (" << text::terminalText(d.problem) << ")\n";
        }
        std::istringstream lines(m.text);
        std::string line;
        while (std::getline(lines, line)) {
            out << "     " << text::terminalText(line) << "\n";
        }
    }
}

}  // namespace

std::string messagesText(const std::vector<StoredSms>& stored) {
    std::ostringstream out;
    out << assembleMessages(stored).size() << " message(s)\n";
    listMessages(out, stored);
    return out.str();
}

std::string deletedMessagesText(const std::vector<StoredSms>& deleted) {
    std::ostringstream out;
    out << assembleMessages(deleted).size()
        << " deleted message(s), recovered from free records (not messages on the card)\n";
    listMessages(out, deleted);
    return out.str();
}

nlohmann::ordered_json deletedMessagesJson(const std::vector<StoredSms>& deleted) {
    nlohmann::ordered_json entries = formats::messagesToJson(deleted)["messages"];
    for (auto& entry : entries) {
        entry["deleted"] = true;
    }
    return entries;
}

}  // namespace zrn::cli
