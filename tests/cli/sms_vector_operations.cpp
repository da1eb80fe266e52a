// The short-message operations of the *.vectors files.
#include <map>
#include <string>

#include "channel/bytes.h"
#include "cli/sms_pdu.h"
#include "test_vectors.h"

namespace zrn::cli::testing {

namespace {

std::map<std::string, std::string> fieldsOf(const DecodedSms& sms) {
    std::map<std::string, std::string> f;
    f["status"] = smsStatusName(sms.status);
    f["kind"] = smsKindName(sms.kind);
    f["smsc"] = sms.smsc;
    f["address"] = sms.address;
    f["timestamp"] = sms.timestamp;
    f["encoding"] = sms.encoding;
    f["text"] = sms.text;
    f["problem"] = sms.problem.empty() ? "" : "yes";
    f["deleted"] = sms.deleted ? "yes" : "no";
    f["discharge"] = sms.dischargeTime;
    f["report-status"] = std::to_string(sms.reportStatus);
    f["command-type"] = std::to_string(sms.commandType);
    f["number"] = std::to_string(sms.messageNumber);
    f["shift"] = std::to_string(sms.nationalTables.locking) + "/" +
                 std::to_string(sms.nationalTables.single);
    if (sms.concatenation) {
        f["concat"] = std::to_string(sms.concatenation->reference) + "/" +
                      std::to_string(sms.concatenation->total) + "/" +
                      std::to_string(sms.concatenation->sequence);
    }
    return f;
}

std::string smsDecode(const std::vector<std::string>& a) {
    if (a.size() != 2) {
        return "expected 2 fields";
    }
    Bytes record;
    if (!fromHex(a[0], record)) {
        throw std::invalid_argument("bad hex in vector: " + a[0]);
    }
    record.resize(kSmsRecordSize, 0xFF);
    const auto got = fieldsOf(decodeSmsRecord(record));
    std::string problems;
    std::size_t start = 0;
    while (start <= a[1].size()) {
        const std::size_t bar = a[1].find('|', start);
        const std::string pair =
            a[1].substr(start, bar == std::string::npos ? std::string::npos : bar - start);
        const std::size_t eq = pair.find('=');
        const std::string name = pair.substr(0, eq);
        std::string want = eq == std::string::npos ? "" : pair.substr(eq + 1);
        for (std::size_t n = want.find("\\n"); n != std::string::npos; n = want.find("\\n", n)) {
            want.replace(n, 2, "\n");
        }
        const auto it = got.find(name);
        const std::string have = it == got.end() ? "(absent)" : it->second;
        if (have != want) {
            problems += name + ": got [" + have + "], want [" + want + "]; ";
        }
        if (bar == std::string::npos) {
            break;
        }
        start = bar + 1;
    }
    return problems;
}

// Fields: status, address, text, the records expected (without their 0xFF
// padding, separated by '/'), reference 42. Each record must also decode back
// to the text.
std::string smsEncode(const std::vector<std::string>& a) {
    if (a.size() != 4) {
        return "expected 4 fields";
    }
    SmsDraft draft;
    const auto status = smsStatusFromName(a[0]);
    if (!status) {
        throw std::invalid_argument("bad status in vector: " + a[0]);
    }
    draft.status = *status;
    draft.address = a[1];
    draft.text = a[2];
    draft.reference = 42;
    const auto records = encodeSmsDraft(draft);
    if (!records) {
        return "refused: " + records.error();
    }
    std::string got;
    std::vector<StoredSms> stored;
    for (const Bytes& r : records.value()) {
        std::size_t end = r.size();
        while (end > 0 && r[end - 1] == 0xFF) {
            --end;
        }
        got += (got.empty() ? "" : "/") + toHex(ByteView(r).first(end), false);
        stored.push_back({"CMS", static_cast<int>(stored.size() + 1), r});
    }
    std::string want;
    for (const char c : a[3]) {
        if (c != ' ') {
            want.push_back(c);
        }
    }
    std::string problems;
    if (got != want) {
        problems += "records: got [" + got + "], want [" + want + "]; ";
    }
    const auto messages = assembleMessages(stored);
    if (messages.size() != 1 || messages[0].text != a[2]) {
        problems += "does not decode back to the text; ";
    }
    return problems;
}

}  // namespace

void addSmsOperations(std::map<std::string, Operation>& operations) {
    operations["sms-decode"] = smsDecode;
    operations["sms-encode"] = smsEncode;
}

}  // namespace zrn::cli::testing
