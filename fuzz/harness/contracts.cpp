#include "fuzz/harness/contracts.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string_view>

namespace zrn::fuzz {

namespace {

std::set<std::int32_t> withRange(std::set<std::int32_t> codes, std::int32_t first,
                                 std::int32_t last) {
    for (std::int32_t code = first; code <= last; ++code) {
        codes.insert(code);
    }
    return codes;
}

std::set<std::int32_t> writeZrnResults() {
    std::set<std::int32_t> codes{0, 1, 2, 4, 351, 352, 354};
    codes = withRange(codes, 331, 349);
    codes = withRange(codes, 360, 364);
    return withRange(codes, 370, 374);
}

void abortOnViolation(const std::string& what) {
    std::fprintf(stderr, "contract broken: %s\n", what.c_str());
    std::abort();
}

ViolationHandler handler = abortOnViolation;

constexpr std::size_t kHeadLength = 8;

struct Head {
    std::string_view tag;
    std::uint32_t length = 0;
};

bool readHead(ByteView stream, std::size_t at, Head& head) {
    if (stream.size() - at < kHeadLength || stream[at] != 0x01) {
        return false;
    }
    head.tag = std::string_view(reinterpret_cast<const char*>(&stream[at + 1]), 3);
    head.length = (std::uint32_t{stream[at + 4]} << 24) | (std::uint32_t{stream[at + 5]} << 16) |
                  (std::uint32_t{stream[at + 6]} << 8) | stream[at + 7];
    return head.length <= stream.size() - at - kHeadLength;
}

bool isContactPart(std::string_view tag) {
    static constexpr std::string_view kTags[] = {"NMT", "ADN", "MBL", "HME",
                                                 "OFE", "OTR", "ADI", "GPI"};
    return std::find(std::begin(kTags), std::end(kTags), tag) != std::end(kTags);
}

std::string contactProblem(ByteView value) {
    std::size_t at = 0;
    while (at < value.size()) {
        Head head;
        if (!readHead(value, at, head)) {
            return "a contact's element runs past the contact at " + std::to_string(at);
        }
        if (!isContactPart(head.tag)) {
            return "tag " + std::string(head.tag) + " inside a contact";
        }
        at += kHeadLength + head.length;
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
    static const std::map<Export, std::set<std::int32_t>> kResults = {
        {Export::kConnectReader, {0, 1, 3}},    {Export::kGetConfig, {0, 1, 2, 4}},
        {Export::kReadZRN, {0, 1, 2, 4, 319}},  {Export::kWriteZRN, writeZrnResults()},
        {Export::kReadSMS, {0, -1, 2, 4, 305}}, {Export::kWriteSMS, {0, -1, 2, 4, 305}},
    };
    return kResults.at(which);
}

bool isDocumentedResult(Export which, std::int32_t result) {
    return documentedResults(which).count(result) != 0;
}

bool isStreamRefusal(std::int32_t result) {
    return result == 4 || (result >= 339 && result <= 354);
}

void setViolationHandler(ViolationHandler newHandler) {
    handler = newHandler == nullptr ? abortOnViolation : newHandler;
}

void violation(const std::string& what) {
    handler(what);
}

int countContacts(ByteView stream, std::string& why) {
    int contacts = 0;
    bool inContacts = false;
    std::size_t at = 0;
    while (at < stream.size()) {
        Head head;
        if (!readHead(stream, at, head)) {
            why = "element at " + std::to_string(at) + " is cut or has no marker";
            return -1;
        }
        const ByteView value = stream.subspan(at + kHeadLength, head.length);
        if (head.tag == "GRP") {
            if (inContacts) {
                why = "GRP after a contact at " + std::to_string(at);
                return -1;
            }
        } else if (head.tag == "NCD") {
            inContacts = true;
            why = contactProblem(value);
            if (!why.empty()) {
                return -1;
            }
            contacts += head.length > 0 ? 1 : 0;
        } else {
            why = "unexpected tag " + std::string(head.tag) + " at " + std::to_string(at);
            return -1;
        }
        at += kHeadLength + head.length;
    }
    return contacts;
}

std::string smsStreamProblem(ByteView stream, std::int32_t count) {
    constexpr std::size_t kElement = 360;
    if (count < 0 || stream.size() != kElement * static_cast<std::size_t>(count)) {
        return "length " + std::to_string(stream.size()) + " for " + std::to_string(count) +
               " elements";
    }
    static constexpr std::uint8_t kLength[] = {0x00, 0x00, 0x01, 0x60};
    for (std::size_t at = 0; at < stream.size(); at += kElement) {
        const ByteView element = stream.subspan(at, kElement);
        const std::string_view tag(reinterpret_cast<const char*>(&element[1]), 3);
        if (element[0] != 0x01 || (tag != "CMS" && tag != "LMS" && tag != "EMS") ||
            !std::equal(std::begin(kLength), std::end(kLength), element.begin() + 4)) {
            return "bad head at " + std::to_string(at);
        }
        if (!std::all_of(element.begin() + 8, element.end(), isUpperHex)) {
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
