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
        const std::string want = eq == std::string::npos ? "" : pair.substr(eq + 1);
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

}  // namespace

void addSmsOperations(std::map<std::string, Operation>& operations) {
    operations["sms-decode"] = smsDecode;
}

}  // namespace zrn::cli::testing
