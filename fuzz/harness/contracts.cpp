#include "fuzz/harness/contracts.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string_view>

#include "results/result_codes.h"
#include "sms/sms_codec.h"
#include "stream/element_stream.h"

namespace zrn::fuzz {

namespace {

result::Export resultExport(Export which) {
    switch (which) {
        case Export::kConnectReader:
            return result::kConnectReader;
        case Export::kGetConfig:
            return result::kGetConfig;
        case Export::kReadZRN:
            return result::kReadZRN;
        case Export::kWriteZRN:
            return result::kWriteZRN;
        case Export::kReadSMS:
            return result::kReadSMS;
        case Export::kWriteSMS:
            return result::kWriteSMS;
    }
    return result::kConnectReader;
}

std::set<std::int32_t> resultsOf(Export which) {
    std::set<std::int32_t> codes;
    for (const result::Row& row : result::table()) {
        if (row.returnedBy(resultExport(which))) {
            codes.insert(row.code);
        }
    }
    return codes;
}

bool isOfKind(std::int32_t code, result::Kind kind) {
    const result::Row* row = result::find(code);
    return row != nullptr && row->kind == kind;
}

void abortOnViolation(const std::string& what) {
    std::fprintf(stderr, "contract broken: %s\n", what.c_str());
    std::abort();
}

ViolationHandler handler = abortOnViolation;

bool isContactPart(std::string_view tag) {
    static constexpr std::string_view kTags[] = {"NMT", "ADN", "MBL", "HME",
                                                 "OFE", "OTR", "ADI", "GPI"};
    return std::find(std::begin(kTags), std::end(kTags), tag) != std::end(kTags);
}

std::string contactProblem(ByteView value) {
    const stream::Walk walk = stream::readLenient(value);
    for (const stream::Element& element : walk.elements) {
        if (!isContactPart(stream::tagText(element.tag))) {
            return "tag " + std::string(stream::tagText(element.tag)) + " inside a contact";
        }
    }
    if (!walk.whole()) {
        return "a contact's element runs past the contact at " + std::to_string(walk.damageOffset);
    }
    return {};
}

std::string idText(std::uint16_t id) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (int shift = 12; shift >= 0; shift -= 4) {
        text += kDigits[(id >> shift) & 0xF];
    }
    return text;
}

bool isUpperHex(std::uint8_t c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

}  // namespace

const char* exportName(Export which) {
    switch (which) {
        case Export::kConnectReader:
            return "ConnectReader";
        case Export::kGetConfig:
            return "GetConfig";
        case Export::kReadZRN:
            return "ReadZRN";
        case Export::kWriteZRN:
            return "WriteZRN";
        case Export::kReadSMS:
            return "ReadSMS";
        case Export::kWriteSMS:
            return "WriteSMS";
    }
    return "?";
}

const std::set<std::int32_t>& documentedResults(Export which) {
    static const std::map<Export, std::set<std::int32_t>> kResults = [] {
        std::map<Export, std::set<std::int32_t>> results;
        for (Export each : {Export::kConnectReader, Export::kGetConfig, Export::kReadZRN,
                            Export::kWriteZRN, Export::kReadSMS, Export::kWriteSMS}) {
            results[each] = resultsOf(each);
        }
        return results;
    }();
    return kResults.at(which);
}

bool isDocumentedResult(Export which, std::int32_t result) {
    return documentedResults(which).count(result) != 0;
}

bool isStreamRefusal(std::int32_t result) {
    return isOfKind(result, result::Kind::kRefusal);
}

bool isCardFailure(std::int32_t result) {
    return isOfKind(result, result::Kind::kNoHandle) ||
           isOfKind(result, result::Kind::kCardFailure);
}

void setViolationHandler(ViolationHandler newHandler) {
    handler = newHandler == nullptr ? abortOnViolation : newHandler;
}

void violation(const std::string& what) {
    handler(what);
}

int countContacts(ByteView bytes, std::string& why) {
    int contacts = 0;
    bool inContacts = false;
    const stream::Walk walk = stream::readLenient(bytes);
    for (const stream::Element& element : walk.elements) {
        const std::string_view tag = stream::tagText(element.tag);
        const std::size_t at = element.offset;
        if (tag == "GRP") {
            if (inContacts) {
                why = "GRP after a contact at " + std::to_string(at);
                return -1;
            }
        } else if (tag == "NCD") {
            inContacts = true;
            why = contactProblem(element.value);
            if (!why.empty()) {
                return -1;
            }
            contacts += element.value.empty() ? 0 : 1;
        } else {
            why = "unexpected tag " + std::string(tag) + " at " + std::to_string(at);
            return -1;
        }
    }
    if (!walk.whole()) {
        why = "element at " + std::to_string(walk.damageOffset) + " is cut or has no marker";
        return -1;
    }
    return contacts;
}

std::string smsStreamProblem(ByteView bytes, std::int32_t count) {
    constexpr std::size_t kElement = sms::kElementLength;
    if (count < 0 || bytes.size() != kElement * static_cast<std::size_t>(count)) {
        return "length " + std::to_string(bytes.size()) + " for " + std::to_string(count) +
               " elements";
    }
    for (std::size_t at = 0; at < bytes.size(); at += kElement) {
        const ByteView element = bytes.subspan(at, kElement);
        const stream::Head head = stream::Head::at(element.data());
        const std::string_view tag = stream::tagText(head.tag);
        if (head.marker != stream::kMarker || (tag != "CMS" && tag != "LMS" && tag != "EMS") ||
            head.fullLength() != sms::kHexTextLength) {
            return "bad head at " + std::to_string(at);
        }
        if (!std::all_of(element.begin() + stream::kHeadSize, element.end(), isUpperHex)) {
            return "value at " + std::to_string(at) + " is not upper-case hex";
        }
    }
    return {};
}

namespace {

void collectFiles(const sim::SimFile& file, const std::string& prefix,
                  std::map<std::string, const sim::SimFile*>& out) {
    for (const sim::SimFile& child : file.children) {
        const std::string id = idText(child.id);
        const std::string path = prefix.empty() ? id : prefix + "/" + id;
        out[path] = &child;
        collectFiles(child, path, out);
    }
}

bool sameContent(const sim::SimFile& a, const sim::SimFile& b) {
    return a.kind == b.kind && a.data == b.data && a.recordLength == b.recordLength &&
           a.readAccess == b.readAccess && a.updateAccess == b.updateAccess;
}

}  // namespace

std::vector<std::string> changedFiles(const sim::CardImage& before, const sim::CardImage& after) {
    std::map<std::string, const sim::SimFile*> a;
    std::map<std::string, const sim::SimFile*> b;
    collectFiles(before.master, "", a);
    collectFiles(after.master, "", b);
    std::vector<std::string> changed;
    for (const auto& [path, file] : a) {
        auto other = b.find(path);
        if (other == b.end() || !sameContent(*file, *other->second)) {
            changed.push_back(path);
        }
    }
    for (const auto& [path, file] : b) {
        if (a.count(path) == 0) {
            changed.push_back(path);
        }
    }
    if (before.chv1 != after.chv1 || before.atr != after.atr) {
        changed.push_back("card");
    }
    return changed;
}

std::string pathText(std::initializer_list<std::uint16_t> path) {
    std::string text;
    for (std::uint16_t id : path) {
        text += (text.empty() ? "" : "/") + idText(id);
    }
    return text;
}

}  // namespace zrn::fuzz
