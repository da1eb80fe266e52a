#include "sim/card_image.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include <nlohmann/json.hpp>

namespace zrn::sim {

// ---------------------------------------------------------------------------
// The file tree.

SimFile* SimFile::child(std::uint16_t childId) {
    for (SimFile& file : children) {
        if (file.id == childId) {
            return &file;
        }
    }
    return nullptr;
}

const SimFile* SimFile::child(std::uint16_t childId) const {
    return const_cast<SimFile*>(this)->child(childId);
}

namespace {

template <typename Path>
SimFile* findIn(SimFile& master, const Path& path) {
    SimFile* file = &master;
    for (std::uint16_t id : path) {
        if (!file->isDirectory()) {
            return nullptr;
        }
        file = file->child(id);
        if (file == nullptr) {
            return nullptr;
        }
    }
    return file;
}

std::string idText(std::uint16_t id) {
    char text[5];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(id));
    return text;
}

template <typename Path>
std::string pathText(const Path& path) {
    std::string text = "3F00";
    for (std::uint16_t id : path) {
        text += '/';
        text += idText(id);
    }
    return text;
}

// Walks to the parent of the last path element, creating DFs on the way,
// then puts `file` there in place of any file with the same id.
SimFile& putFile(SimFile& master, std::initializer_list<std::uint16_t> path, SimFile file) {
    if (path.size() == 0) {
        throw std::invalid_argument("a file path needs at least one identifier below 3F00");
    }
    SimFile* directory = &master;
    const std::uint16_t* last = path.end() - 1;
    for (const std::uint16_t* it = path.begin(); it != last; ++it) {
        SimFile* next = directory->child(*it);
        if (next == nullptr) {
            directory->children.push_back(
                SimFile{*it, FileKind::kDedicated, {}, 0, Access::kAlways, Access::kAlways, {}});
            next = &directory->children.back();
        } else if (!next->isDirectory()) {
            throw std::invalid_argument(pathText(path) + ": " + idText(*it) +
                                        " is not a directory");
        }
        directory = next;
    }
    file.id = *last;
    if (SimFile* existing = directory->child(file.id)) {
        *existing = std::move(file);
        return *existing;
    }
    directory->children.push_back(std::move(file));
    return directory->children.back();
}

}  // namespace

SimFile* CardImage::find(std::initializer_list<std::uint16_t> path) {
    return findIn(master, path);
}

const SimFile* CardImage::find(std::initializer_list<std::uint16_t> path) const {
    return findIn(const_cast<SimFile&>(master), path);
}

SimFile* CardImage::find(const std::vector<std::uint16_t>& path) {
    return findIn(master, path);
}

const SimFile* CardImage::find(const std::vector<std::uint16_t>& path) const {
    return findIn(const_cast<SimFile&>(master), path);
}

SimFile& CardImage::putTransparent(std::initializer_list<std::uint16_t> path, Bytes content) {
    return putFile(master, path,
                   SimFile{0,
                           FileKind::kTransparent,
                           std::move(content),
                           0,
                           Access::kAlways,
                           Access::kAlways,
                           {}});
}

namespace {

SimFile& putRecordFile(SimFile& master, std::initializer_list<std::uint16_t> path, FileKind kind,
                       std::uint8_t recordLength, std::size_t recordCount, std::uint8_t fill) {
    if (recordLength == 0) {
        throw std::invalid_argument(pathText(path) + ": record length 0");
    }
    return putFile(master, path,
                   SimFile{0,
                           kind,
                           Bytes(recordLength * recordCount, fill),
                           recordLength,
                           Access::kAlways,
                           Access::kAlways,
                           {}});
}

}  // namespace

SimFile& CardImage::putLinearFixed(std::initializer_list<std::uint16_t> path,
                                   std::uint8_t recordLength, std::size_t recordCount,
                                   std::uint8_t fill) {
    return putRecordFile(master, path, FileKind::kLinearFixed, recordLength, recordCount, fill);
}

SimFile& CardImage::putCyclic(std::initializer_list<std::uint16_t> path, std::uint8_t recordLength,
                              std::size_t recordCount, std::uint8_t fill) {
    return putRecordFile(master, path, FileKind::kCyclic, recordLength, recordCount, fill);
}

bool CardImage::remove(std::initializer_list<std::uint16_t> path) {
    if (path.size() == 0) {
        return false;
    }
    SimFile* directory = findIn(master, std::vector<std::uint16_t>(path.begin(), path.end() - 1));
    if (directory == nullptr || !directory->isDirectory()) {
        return false;
    }
    const std::uint16_t id = *(path.end() - 1);
    auto& children = directory->children;
    auto it = std::find_if(children.begin(), children.end(),
                           [id](const SimFile& file) { return file.id == id; });
    if (it == children.end()) {
        return false;
    }
    children.erase(it);
    return true;
}

Bytes CardImage::record(std::initializer_list<std::uint16_t> path, std::size_t index) const {
    const SimFile* file = find(path);
    if (file == nullptr || !file->hasRecords() || index >= file->recordCount()) {
        return {};
    }
    const auto begin = file->data.begin() + static_cast<std::ptrdiff_t>(index * file->recordLength);
    return Bytes(begin, begin + file->recordLength);
}

void CardImage::setRecord(std::initializer_list<std::uint16_t> path, std::size_t index,
                          ByteView bytes) {
    SimFile* file = find(path);
    if (file == nullptr || !file->hasRecords()) {
        throw std::invalid_argument(pathText(path) + ": no linear fixed or cyclic file");
    }
    if (index >= file->recordCount()) {
        throw std::invalid_argument(pathText(path) + ": no record " + std::to_string(index + 1));
    }
    if (bytes.size() > file->recordLength) {
        throw std::invalid_argument(pathText(path) + ": " + std::to_string(bytes.size()) +
                                    " bytes do not fit a record of " +
                                    std::to_string(file->recordLength));
    }
    auto begin = file->data.begin() + static_cast<std::ptrdiff_t>(index * file->recordLength);
    std::fill(begin, begin + file->recordLength, std::uint8_t{0xFF});
    std::copy(bytes.begin(), bytes.end(), begin);
}

std::string accessName(Access access) {
    switch (access) {
        case Access::kAlways:
            return "always";
        case Access::kChv1:
            return "chv1";
        case Access::kChv2:
            return "chv2";
        case Access::kAdm:
            return "adm";
        case Access::kNever:
            return "never";
    }
    return "never";
}

// ---------------------------------------------------------------------------
// JSON images.

namespace {

// Reading uses the sorted object (logarithmic key lookup, whatever the input);
// writing keeps the keys in the order a reader expects them.
using json = nlohmann::json;
using OrderedJson = nlohmann::ordered_json;

constexpr int kFormatVersion = 1;
constexpr std::size_t kMaxFileSize = 0xFFFF;  // the selection response holds 16 bits
constexpr std::size_t kMaxRecords = 255;      // record numbers are one byte
constexpr std::size_t kMaxDepth = 8;          // directories below the MF
constexpr std::size_t kMaxAtr = 33;           // ISO 7816-3
constexpr std::size_t kKiLength = 16;
constexpr std::size_t kMaxJsonNesting = 16;
constexpr std::size_t kMaxFiles = 4096;
constexpr std::size_t kHexChunk = 32;  // bytes per line of a long transparent file

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error("card image: " + what);
}

// Real images are four levels deep. Refusing anything much deeper before
// parsing keeps hostile input from costing stack or time in the parser, in
// the destruction of the parsed tree and in our own recursive reading.
void checkNesting(const std::string& text) {
    std::size_t depth = 0;
    bool inString = false;
    bool escaped = false;
    for (char c : text) {
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
            }
            continue;
        }
        if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kMaxJsonNesting) {
                fail("JSON nested more than " + std::to_string(kMaxJsonNesting) + " levels deep");
            }
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
}

constexpr Access kAccessConditions[] = {Access::kAlways, Access::kChv1, Access::kChv2, Access::kAdm,
                                        Access::kNever};

Access accessFrom(const json& value, const std::string& where) {
    if (!value.is_string()) {
        fail(where + ": access condition must be \"always\", \"chv1\", \"chv2\", \"adm\" or " +
             "\"never\"");
    }
    const auto& text = value.get_ref<const std::string&>();
    for (Access access : kAccessConditions) {
        if (text == accessName(access)) {
            return access;
        }
    }
    fail(where + ": unknown access condition \"" + text + "\"");
}

void checkKeys(const json& object, std::initializer_list<const char*> allowed,
               const std::string& where) {
    for (const auto& item : object.items()) {
        const bool known = std::any_of(allowed.begin(), allowed.end(),
                                       [&](const char* key) { return item.key() == key; });
        if (!known) {
            fail(where + ": unknown key \"" + item.key() + "\"");
        }
    }
}

Bytes hexFrom(const json& value, const std::string& where) {
    Bytes bytes;
    if (value.is_string()) {
        if (!fromHex(value.get_ref<const std::string&>(), bytes)) {
            fail(where + ": not a hex string (pairs of 0-9, A-F, spaces allowed)");
        }
        return bytes;
    }
    if (value.is_array()) {
        // Long contents may be split into several strings, one per line.
        for (std::size_t i = 0; i < value.size(); ++i) {
            if (!value[i].is_string()) {
                fail(where + "[" + std::to_string(i) + "]: must be a hex string");
            }
            Bytes piece = hexFrom(value[i], where + "[" + std::to_string(i) + "]");
            if (bytes.size() + piece.size() > kMaxFileSize) {
                fail(where + ": longer than " + std::to_string(kMaxFileSize) + " bytes");
            }
            bytes.insert(bytes.end(), piece.begin(), piece.end());
        }
        return bytes;
    }
    fail(where + ": must be a hex string");
}

long long integerFrom(const json& value, long long low, long long high, const std::string& where) {
    if (!value.is_number_integer()) {
        fail(where + ": must be a whole number");
    }
    long long number = 0;
    if (value.is_number_unsigned()) {
        const auto unsignedNumber = value.get<unsigned long long>();
        if (unsignedNumber > static_cast<unsigned long long>(high)) {
            fail(where + ": " + std::to_string(unsignedNumber) + " is out of range " +
                 std::to_string(low) + " to " + std::to_string(high));
        }
        number = static_cast<long long>(unsignedNumber);
    } else {
        number = value.get<long long>();
    }
    if (number < low || number > high) {
        fail(where + ": " + std::to_string(number) + " is out of range " + std::to_string(low) +
             " to " + std::to_string(high));
    }
    return number;
}

std::string digitsFrom(const json& value, std::size_t minLength, std::size_t maxLength,
                       const std::string& where) {
    if (!value.is_string()) {
        fail(where + ": must be a string of digits");
    }
    const auto& text = value.get_ref<const std::string&>();
    const bool digitsOnly =
        std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!digitsOnly || text.size() < minLength || text.size() > maxLength) {
        fail(where + ": must be " + std::to_string(minLength) + " to " + std::to_string(maxLength) +
             " decimal digits");
    }
    return text;
}

Chv chvFrom(const json& object, const std::string& where) {
    if (!object.is_object()) {
        fail(where + ": must be an object");
    }
    checkKeys(object, {"enabled", "pin", "attemptsLeft", "maxAttempts", "puk", "pukAttemptsLeft"},
              where);
    Chv chv;
    if (object.contains("enabled")) {
        if (!object["enabled"].is_boolean()) {
            fail(where + ".enabled: must be true or false");
        }
        chv.enabled = object["enabled"].get<bool>();
    }
    if (object.contains("pin")) {
        chv.pin = digitsFrom(object["pin"], 4, 8, where + ".pin");
    }
    if (object.contains("puk")) {
        chv.puk = digitsFrom(object["puk"], 8, 8, where + ".puk");
    }
    // Attempt counters live in one nibble of the CHV status byte.
    if (object.contains("maxAttempts")) {
        chv.maxAttempts =
            static_cast<int>(integerFrom(object["maxAttempts"], 1, 15, where + ".maxAttempts"));
    }
    chv.attemptsLeft = chv.maxAttempts;
    if (object.contains("attemptsLeft")) {
        chv.attemptsLeft = static_cast<int>(
            integerFrom(object["attemptsLeft"], 0, chv.maxAttempts, where + ".attemptsLeft"));
    }
    if (object.contains("pukAttemptsLeft")) {
        chv.pukAttemptsLeft = static_cast<int>(
            integerFrom(object["pukAttemptsLeft"], 0, 15, where + ".pukAttemptsLeft"));
    }
    return chv;
}

std::vector<std::uint16_t> pathFrom(const json& value, const std::string& where) {
    if (!value.is_string()) {
        fail(where + ": \"path\" must be a string like \"3F00/7F10/6F3A\"");
    }
    const auto& text = value.get_ref<const std::string&>();
    std::vector<std::uint16_t> ids;
    std::size_t start = 0;
    while (true) {
        const std::size_t slash = text.find('/', start);
        const std::string part =
            text.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        Bytes id;
        if (part.size() != 4 || part.find(' ') != std::string::npos || !fromHex(part, id)) {
            fail(where + ": path \"" + text + "\": \"" + part + "\" is not 4 hex digits");
        }
        ids.push_back(readBe16(id.data()));
        if (slash == std::string::npos) {
            break;
        }
        start = slash + 1;
    }
    if (ids.front() != 0x3F00) {
        fail(where + ": path \"" + text + "\" must start at the MF 3F00");
    }
    ids.erase(ids.begin());
    if (ids.size() > kMaxDepth) {
        fail(where + ": path \"" + text + "\" is deeper than " + std::to_string(kMaxDepth) +
             " levels");
    }
    for (std::size_t i = 0; i < ids.size(); ++i) {
        const std::uint16_t parent = i == 0 ? std::uint16_t{0x3F00} : ids[i - 1];
        if (ids[i] == 0x3F00 || ids[i] == parent) {
            fail(where + ": path \"" + text + "\": " + idText(ids[i]) +
                 " cannot be selected below " + idText(parent));
        }
    }
    return ids;
}

// Creates the DFs a path implies and returns the directory to hold its last file.
SimFile& directoryFor(CardImage& image, const std::vector<std::uint16_t>& path,
                      const std::string& where) {
    SimFile* directory = &image.master;
    for (std::size_t i = 0; i + 1 < path.size(); ++i) {
        SimFile* next = directory->child(path[i]);
        if (next == nullptr) {
            directory->children.push_back(SimFile{
                path[i], FileKind::kDedicated, {}, 0, Access::kAlways, Access::kAlways, {}});
            next = &directory->children.back();
        } else if (!next->isDirectory()) {
            fail(where + ": " + idText(path[i]) + " in the path is not a directory");
        }
        directory = next;
    }
    return *directory;
}

// The access conditions an entry may give, with their keys.
constexpr std::pair<const char*, Access SimFile::*> kAccessKeys[] = {
    {"read", &SimFile::readAccess},
    {"update", &SimFile::updateAccess},
    {"increase", &SimFile::increaseAccess},
    {"invalidate", &SimFile::invalidateAccess},
    {"rehabilitate", &SimFile::rehabilitateAccess},
};

// What a file has when its entry says nothing.
const SimFile kDefaultFile{};

void readAccessConditions(const json& entry, SimFile& file, const std::string& where) {
    for (const auto& [key, member] : kAccessKeys) {
        if (entry.contains(key)) {
            file.*member = accessFrom(entry[key], where + "." + key);
        }
    }
}

// EF entries may also say whether the file is invalidated.
void readFileStatus(const json& entry, SimFile& file, const std::string& where) {
    if (entry.contains("invalidated")) {
        if (!entry["invalidated"].is_boolean()) {
            fail(where + ".invalidated: must be true or false");
        }
        file.invalidated = entry["invalidated"].get<bool>();
    }
}

void readTransparent(const json& entry, SimFile& file, const std::string& where) {
    checkKeys(entry,
              {"path", "kind", "read", "update", "increase", "invalidate", "rehabilitate",
               "invalidated", "data", "comment"},
              where);
    if (entry.contains("data")) {
        file.data = hexFrom(entry["data"], where + ".data");
    }
    if (file.data.size() > kMaxFileSize) {
        fail(where + ": data longer than " + std::to_string(kMaxFileSize) + " bytes");
    }
}

void readRecords(const json& entry, SimFile& file, const std::string& where) {
    checkKeys(entry,
              {"path", "kind", "read", "update", "increase", "invalidate", "rehabilitate",
               "invalidated", "recordLength", "records", "comment"},
              where);
    if (!entry.contains("recordLength")) {
        fail(where + ": a linear fixed or cyclic file needs \"recordLength\"");
    }
    file.recordLength = static_cast<std::uint8_t>(
        integerFrom(entry["recordLength"], 1, 255, where + ".recordLength"));
    if (!entry.contains("records")) {
        return;
    }
    const json& records = entry["records"];
    if (!records.is_array()) {
        fail(where + ".records: must be an array of hex strings");
    }
    if (records.size() > kMaxRecords || records.size() * file.recordLength > kMaxFileSize) {
        fail(where + ": " + std::to_string(records.size()) + " records are more than a file holds");
    }
    for (std::size_t i = 0; i < records.size(); ++i) {
        const std::string at = where + ".records[" + std::to_string(i) + "]";
        if (!records[i].is_string()) {
            fail(at + ": must be a hex string");
        }
        Bytes record = hexFrom(records[i], at);
        if (record.size() != file.recordLength) {
            fail(at + ": " + std::to_string(record.size()) + " bytes, the record length is " +
                 std::to_string(file.recordLength));
        }
        file.data.insert(file.data.end(), record.begin(), record.end());
    }
}

void readFile(CardImage& image, const json& entry, const std::string& where) {
    if (!entry.is_object()) {
        fail(where + ": must be an object");
    }
    if (!entry.contains("path")) {
        fail(where + ": \"path\" is missing");
    }
    const std::vector<std::uint16_t> path = pathFrom(entry["path"], where);
    const std::string at = where + " (" + pathText(path) + ")";
    if (!entry.contains("kind") || !entry["kind"].is_string()) {
        fail(at + ": \"kind\" must be \"df\", \"transparent\", \"linear-fixed\" or \"cyclic\"");
    }
    const auto& kind = entry["kind"].get_ref<const std::string&>();

    if (path.empty()) {
        // The MF always exists; an entry for it only carries access conditions.
        if (kind != "mf" && kind != "df") {
            fail(at + ": the MF is a directory");
        }
        checkKeys(entry, {"path", "kind", "read", "update", "comment"}, at);
        readAccessConditions(entry, image.master, at);
        return;
    }

    SimFile file{path.back(), FileKind::kTransparent, {}, 0, Access::kAlways, Access::kAlways, {}};
    if (kind == "df") {
        checkKeys(entry, {"path", "kind", "read", "update", "comment"}, at);
        file.kind = FileKind::kDedicated;
    } else if (kind == "transparent") {
        readTransparent(entry, file, at);
    } else if (kind == "linear-fixed" || kind == "cyclic") {
        file.kind = kind == "cyclic" ? FileKind::kCyclic : FileKind::kLinearFixed;
        readRecords(entry, file, at);
    } else {
        fail(at + ": unknown kind \"" + kind + "\"");
    }
    readAccessConditions(entry, file, at);
    readFileStatus(entry, file, at);

    SimFile& directory = directoryFor(image, path, at);
    if (SimFile* existing = directory.child(file.id)) {
        // A DF first created because a path ran through it may be declared later.
        const bool impliedDirectory =
            existing->kind == FileKind::kDedicated && file.kind == FileKind::kDedicated &&
            existing->readAccess == Access::kAlways && existing->updateAccess == Access::kAlways;
        if (!impliedDirectory) {
            fail(at + ": listed twice");
        }
        existing->readAccess = file.readAccess;
        existing->updateAccess = file.updateAccess;
        return;
    }
    directory.children.push_back(std::move(file));
}

OrderedJson fileEntry(const SimFile& file, const std::string& path) {
    OrderedJson entry = OrderedJson::object();
    entry["path"] = path;
    switch (file.kind) {
        case FileKind::kMaster:
            entry["kind"] = "mf";
            break;
        case FileKind::kDedicated:
            entry["kind"] = "df";
            break;
        case FileKind::kTransparent:
            entry["kind"] = "transparent";
            break;
        case FileKind::kLinearFixed:
            entry["kind"] = "linear-fixed";
            break;
        case FileKind::kCyclic:
            entry["kind"] = "cyclic";
            break;
    }
    for (const auto& [key, member] : kAccessKeys) {
        const bool onlyForEfs = member != &SimFile::readAccess && member != &SimFile::updateAccess;
        if (file.*member != kDefaultFile.*member && !(onlyForEfs && file.isDirectory())) {
            entry[key] = accessName(file.*member);
        }
    }
    if (file.invalidated) {
        entry["invalidated"] = true;
    }
    if (file.kind == FileKind::kTransparent) {
        if (file.data.size() <= 2 * kHexChunk) {
            entry["data"] = toHex(file.data, false);
        } else {
            OrderedJson lines = OrderedJson::array();
            for (std::size_t at = 0; at < file.data.size(); at += kHexChunk) {
                const std::size_t n = std::min(kHexChunk, file.data.size() - at);
                lines.push_back(toHex(ByteView(file.data).subspan(at, n), false));
            }
            entry["data"] = std::move(lines);
        }
    } else if (file.hasRecords()) {
        entry["recordLength"] = file.recordLength;
        OrderedJson records = OrderedJson::array();
        for (std::size_t i = 0; i < file.recordCount(); ++i) {
            records.push_back(toHex(
                ByteView(file.data).subspan(i * file.recordLength, file.recordLength), false));
        }
        entry["records"] = std::move(records);
    }
    return entry;
}

void appendEntries(const SimFile& directory, const std::string& path, OrderedJson& files) {
    for (const SimFile& file : directory.children) {
        const std::string childPath = path + "/" + idText(file.id);
        files.push_back(fileEntry(file, childPath));
        if (file.isDirectory()) {
            appendEntries(file, childPath, files);
        }
    }
}

}  // namespace

namespace {

CardImage imageFrom(const json& root) {
    if (!root.is_object()) {
        fail("the top level must be an object");
    }
    checkKeys(root, {"format", "version", "atr", "chv1", "chv2", "ki", "files", "comment"},
              "top level");
    if (root.contains("format") &&
        (!root["format"].is_string() ||
         root["format"].get_ref<const std::string&>() != "zrn-card-image")) {
        fail("\"format\" must be \"zrn-card-image\"");
    }
    if (root.contains("version") &&
        integerFrom(root["version"], 0, 1000, "version") != kFormatVersion) {
        fail("unsupported version (this simulator reads version " + std::to_string(kFormatVersion) +
             ")");
    }

    CardImage image;
    if (root.contains("atr")) {
        image.atr = hexFrom(root["atr"], "atr");
        if (!root["atr"].is_string() || image.atr.size() > kMaxAtr) {
            fail("atr: must be a hex string of at most " + std::to_string(kMaxAtr) + " bytes");
        }
    }
    if (root.contains("chv1")) {
        image.chv1 = chvFrom(root["chv1"], "chv1");
    }
    if (root.contains("chv2")) {
        image.chv2 = chvFrom(root["chv2"], "chv2");
    }
    if (root.contains("ki")) {
        image.ki = hexFrom(root["ki"], "ki");
        if (!root["ki"].is_string() || image.ki.size() != kKiLength) {
            fail("ki: must be a hex string of " + std::to_string(kKiLength) + " bytes");
        }
    }
    if (root.contains("files")) {
        const json& files = root["files"];
        if (!files.is_array()) {
            fail("\"files\" must be an array");
        }
        if (files.size() > kMaxFiles) {
            fail("more than " + std::to_string(kMaxFiles) + " files");
        }
        for (std::size_t i = 0; i < files.size(); ++i) {
            readFile(image, files[i], "files[" + std::to_string(i) + "]");
        }
    }
    return image;
}

}  // namespace

CardImage parseImage(const std::string& text) {
    checkNesting(text);
    json root;
    try {
        root = json::parse(text);
    } catch (const json::exception& error) {
        fail(std::string("not valid JSON: ") + error.what());
    }
    try {
        return imageFrom(root);
    } catch (const json::exception& error) {
        // Every value is type-checked before use; this is the last guard.
        fail(std::string("unexpected content: ") + error.what());
    }
}

namespace {

OrderedJson chvEntry(const Chv& chv) {
    return {{"enabled", chv.enabled},
            {"pin", chv.pin},
            {"attemptsLeft", chv.attemptsLeft},
            {"maxAttempts", chv.maxAttempts},
            {"puk", chv.puk},
            {"pukAttemptsLeft", chv.pukAttemptsLeft}};
}

}  // namespace

std::string serializeImage(const CardImage& image) {
    OrderedJson root = OrderedJson::object();
    root["format"] = "zrn-card-image";
    root["version"] = kFormatVersion;
    root["atr"] = toHex(image.atr, true);
    root["chv1"] = chvEntry(image.chv1);
    if (image.chv2.has_value()) {
        root["chv2"] = chvEntry(*image.chv2);
    }
    if (!image.ki.empty()) {
        root["ki"] = toHex(image.ki, true);
    }
    OrderedJson files = OrderedJson::array();
    if (image.master.readAccess != Access::kAlways ||
        image.master.updateAccess != Access::kAlways) {
        files.push_back(fileEntry(image.master, "3F00"));
    }
    appendEntries(image.master, "3F00", files);
    root["files"] = std::move(files);
    return root.dump(2) + "\n";
}

CardImage loadImage(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("card image: cannot open " + path);
    }
    std::ostringstream text;
    text << in.rdbuf();
    try {
        return parseImage(text.str());
    } catch (const std::runtime_error& error) {
        throw std::runtime_error(path + ": " + error.what());
    }
}

void saveImage(const CardImage& image, const std::string& path) {
    const std::string text = serializeImage(image);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        throw std::runtime_error("card image: cannot write " + path);
    }
    out << text;
    out.flush();
    if (!out) {
        throw std::runtime_error("card image: writing " + path + " failed");
    }
}

}  // namespace zrn::sim
