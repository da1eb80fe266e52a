#include "sim/sim_card.h"

#include <algorithm>
#include <array>
#include <map>
#include <optional>
#include <tuple>
#include <variant>

namespace zrn::sim {

namespace {

// Status words (GSM 11.11 9.4).
constexpr std::uint16_t kOk = 0x9000;
constexpr std::uint16_t kNoEfSelected = 0x9400;
constexpr std::uint16_t kOutOfRange = 0x9402;
constexpr std::uint16_t kFileNotFound = 0x9404;  // also: SEEK pattern not found
constexpr std::uint16_t kWrongFileType = 0x9408;
constexpr std::uint16_t kNoChvInitialised = 0x9802;
constexpr std::uint16_t kAccessNotFulfilled = 0x9804;
constexpr std::uint16_t kChvContradiction = 0x9808;
constexpr std::uint16_t kInvalidationContradiction = 0x9810;
constexpr std::uint16_t kChvBlocked = 0x9840;
constexpr std::uint16_t kIncreaseOverflow = 0x9850;
constexpr std::uint16_t kWrongLength = 0x6700;
constexpr std::uint16_t kWrongParameters = 0x6B00;
constexpr std::uint16_t kUnknownInstruction = 0x6D00;
constexpr std::uint16_t kWrongClass = 0x6E00;
constexpr std::uint16_t kTechnicalProblem = 0x6F00;

constexpr std::uint8_t kClassGsm = 0xA0;
constexpr std::uint16_t kMf = 0x3F00;
constexpr std::uint16_t kDfGsm = 0x7F20;
constexpr std::size_t kHeaderLength = 5;
constexpr std::size_t kCodeLength = 8;  // CHV and UNBLOCK CHV values, padded FF
constexpr std::size_t kMinPinDigits = 4;
constexpr int kPukMaxAttempts = 10;
constexpr std::uint16_t kFreeMemory = 0x2000;  // reported for every DF; nothing allocates
constexpr std::size_t kIncreaseLength = 3;
constexpr std::size_t kRandLength = 16;
constexpr std::size_t kSresLength = 4;
constexpr std::size_t kKcLength = 8;

enum Instruction : std::uint8_t {
    kInvalidate = 0x04,
    kVerifyChv = 0x20,
    kChangeChv = 0x24,
    kDisableChv = 0x26,
    kEnableChv = 0x28,
    kUnblockChv = 0x2C,
    kIncrease = 0x32,
    kRehabilitate = 0x44,
    kRunGsmAlgorithm = 0x88,
    kSeek = 0xA2,
    kSelect = 0xA4,
    kReadBinary = 0xB0,
    kReadRecord = 0xB2,
    kGetResponse = 0xC0,
    kUpdateBinary = 0xD6,
    kUpdateRecord = 0xDC,
    kStatus = 0xF2,
    kSleep = 0xFA,
};

// READ/UPDATE RECORD modes (P2, GSM 11.11 9.2.5).
enum RecordMode : std::uint8_t {
    kNextRecord = 0x02,
    kPreviousRecord = 0x03,
    kAbsoluteRecord = 0x04,  // P1 = 00: the current record
};

// GSM 11.11 9.3; ADM as level 4.
std::uint8_t accessNibble(Access access) {
    switch (access) {
        case Access::kAlways:
            return 0x0;
        case Access::kChv1:
            return 0x1;
        case Access::kChv2:
            return 0x2;
        case Access::kAdm:
            return 0x4;
        case Access::kNever:
            return 0xF;
    }
    return 0xF;
}

std::uint8_t structureByte(FileKind kind) {
    switch (kind) {
        case FileKind::kLinearFixed:
            return 0x01;
        case FileKind::kCyclic:
            return 0x03;
        default:
            return 0x00;
    }
}

// P3 of a command with data out of the card: 0 stands for 256 (ISO 7816-3 T=0).
std::size_t expectedLength(std::uint8_t p3) {
    return p3 == 0 ? 256 : p3;
}

void appendStatus(Bytes& response, std::uint16_t statusWord) {
    response.push_back(static_cast<std::uint8_t>(statusWord >> 8));
    response.push_back(static_cast<std::uint8_t>(statusWord));
}

Bytes statusOnly(std::uint16_t statusWord) {
    Bytes response;
    appendStatus(response, statusWord);
    return response;
}

Bytes wrongLength(std::size_t available) {
    return statusOnly(
        static_cast<std::uint16_t>(kWrongLength | std::min<std::size_t>(available, 0xFF)));
}

Bytes dataAndStatus(ByteView data) {
    Bytes response(data.begin(), data.end());
    appendStatus(response, kOk);
    return response;
}

// Digits of a CHV value up to its FF padding.
std::optional<std::string> codeDigits(ByteView value) {
    std::string digits;
    for (std::uint8_t byte : value) {
        if (byte == 0xFF) {
            break;
        }
        if (byte < '0' || byte > '9') {
            return std::nullopt;
        }
        digits.push_back(static_cast<char>(byte));
    }
    for (std::size_t i = digits.size(); i < value.size(); ++i) {
        if (value[i] != 0xFF) {
            return std::nullopt;
        }
    }
    return digits;
}

bool codeMatches(ByteView value, const std::string& code) {
    const std::optional<std::string> digits = codeDigits(value);
    return digits.has_value() && *digits == code;
}

// A new CHV value: 4 to 8 digits, padded FF.
std::optional<std::string> newCode(ByteView value) {
    std::optional<std::string> digits = codeDigits(value);
    if (!digits.has_value() || digits->size() < kMinPinDigits) {
        return std::nullopt;
    }
    return digits;
}

// What a card remembers between commands.
struct CardState {
    std::vector<std::uint16_t> directoryPath;  // from the MF, MF excluded
    std::uint16_t elementaryFile = 0;          // child of the current DF; 0: none
    std::size_t recordPointer = 0;             // in the current EF, from 1; 0: not set
    std::optional<Bytes> pendingResponse;      // GET RESPONSE data of the last command
    bool chv1Verified = false;
    bool chv2Verified = false;
};

// One command against the card state; knows nothing of logging and faults.
class CommandProcessor {
  public:
    CommandProcessor(CardImage& image, CardState& state, ByteView command)
        : image_(image), state_(state), command_(command) {}

    Bytes run() {
        if (command_.size() < kHeaderLength) {
            return statusOnly(kWrongLength);
        }
        if (command_[0] != kClassGsm) {
            return statusOnly(kWrongClass);
        }
        std::optional<Bytes> pending;
        pending.swap(state_.pendingResponse);  // the response lives until the next command
        switch (ins()) {
            case kSelect:
                return select();
            case kGetResponse:
                return getResponse(std::move(pending));
            case kStatus:
                return status();
            case kReadBinary:
                return readBinary();
            case kUpdateBinary:
                return updateBinary();
            case kReadRecord:
                return readRecord();
            case kUpdateRecord:
                return updateRecord();
            case kSeek:
                return seek();
            case kIncrease:
                return increase();
            case kVerifyChv:
                return verifyChv();
            case kChangeChv:
                return changeChv();
            case kDisableChv:
                return disableChv();
            case kEnableChv:
                return enableChv();
            case kUnblockChv:
                return unblockChv();
            case kInvalidate:
                return setInvalidated(true, &SimFile::invalidateAccess);
            case kRehabilitate:
                return setInvalidated(false, &SimFile::rehabilitateAccess);
            case kRunGsmAlgorithm:
                return runGsmAlgorithm();
            case kSleep:
                return sleep();
            default:
                return statusOnly(kUnknownInstruction);
        }
    }

  private:
    std::uint8_t ins() const { return command_[1]; }
    std::uint8_t p1() const { return command_[2]; }
    std::uint8_t p2() const { return command_[3]; }
    std::uint8_t p3() const { return command_[4]; }
    ByteView body() const { return command_.subspan(kHeaderLength); }
    bool hasBodyOfP3() const { return command_.size() == kHeaderLength + p3(); }
    bool isCase2() const { return command_.size() == kHeaderLength; }
    bool parametersAreZero() const { return p1() == 0 && p2() == 0; }

    SimFile* currentDirectory() {
        SimFile* directory = image_.find(state_.directoryPath);
        if (directory == nullptr || !directory->isDirectory()) {
            // The tree was changed under the card: fall back to the MF.
            state_.directoryPath.clear();
            state_.elementaryFile = 0;
            state_.recordPointer = 0;
            return &image_.master;
        }
        return directory;
    }

    SimFile* currentElementaryFile() {
        if (state_.elementaryFile == 0) {
            return nullptr;
        }
        SimFile* file = currentDirectory()->child(state_.elementaryFile);
        if (file == nullptr || file->isDirectory()) {
            state_.elementaryFile = 0;
            state_.recordPointer = 0;
            return nullptr;
        }
        return file;
    }

    // The refusal an access condition gives now, if any (GSM 11.11 9.4.5).
    std::optional<std::uint16_t> accessRefusal(Access access) const {
        switch (access) {
            case Access::kAlways:
                return std::nullopt;
            case Access::kChv1:
                if (!image_.chv1.enabled || state_.chv1Verified) {
                    return std::nullopt;
                }
                return kAccessNotFulfilled;
            case Access::kChv2:
                if (!image_.chv2.has_value()) {
                    return kNoChvInitialised;
                }
                if (state_.chv2Verified) {
                    return std::nullopt;
                }
                return kAccessNotFulfilled;
            case Access::kAdm:
            case Access::kNever:
                return kAccessNotFulfilled;
        }
        return kAccessNotFulfilled;
    }

    // The checks every EF command makes before its own: an EF is selected, it
    // has one of the structures the command works on, the access condition
    // is fulfilled and the file is not invalidated.
    std::optional<Bytes> checkElementaryFile(SimFile*& file,
                                             std::initializer_list<FileKind> structures,
                                             Access SimFile::*access) {
        file = currentElementaryFile();
        if (file == nullptr) {
            return statusOnly(kNoEfSelected);
        }
        if (std::find(structures.begin(), structures.end(), file->kind) == structures.end()) {
            return statusOnly(kWrongFileType);
        }
        if (auto refusal = accessRefusal(file->*access)) {
            return statusOnly(*refusal);
        }
        if (file->invalidated) {
            return statusOnly(kInvalidationContradiction);
        }
        return std::nullopt;
    }

    // Data for GET RESPONSE, announced as 9F xx.
    Bytes respondLater(Bytes responseData) {
        const auto length = static_cast<std::uint8_t>(responseData.size());
        state_.pendingResponse = std::move(responseData);
        return statusOnly(static_cast<std::uint16_t>(0x9F00 | length));
    }

    // --- SELECT (GSM 11.11 8.1 and the selection rules of 6.5) -------------

    Bytes select() {
        if (!hasBodyOfP3()) {
            return statusOnly(kWrongLength);
        }
        if (p3() != 2) {
            return statusOnly(kWrongLength | 0x02);
        }
        if (!parametersAreZero()) {
            return statusOnly(kWrongParameters);
        }
        const std::uint16_t id = readBe16(body().data());
        SimFile* directory = currentDirectory();

        if (id == kMf) {
            return enterDirectory({});
        }
        if (!state_.directoryPath.empty() && id == directory->id) {
            return enterDirectory(state_.directoryPath);
        }
        if (SimFile* child = directory->child(id)) {
            if (child->isDirectory()) {
                std::vector<std::uint16_t> path = state_.directoryPath;
                path.push_back(id);
                return enterDirectory(std::move(path));
            }
            state_.elementaryFile = id;
            state_.recordPointer = 0;
            return respondLater(elementaryResponse(*child));
        }
        if (!state_.directoryPath.empty()) {
            std::vector<std::uint16_t> parentPath(state_.directoryPath.begin(),
                                                  state_.directoryPath.end() - 1);
            SimFile* parent = image_.find(parentPath);
            if (parent != nullptr && id == parent->id) {
                return enterDirectory(std::move(parentPath));
            }
            SimFile* sibling = parent != nullptr ? parent->child(id) : nullptr;
            if (sibling != nullptr && sibling->isDirectory()) {
                parentPath.push_back(id);
                return enterDirectory(std::move(parentPath));
            }
        }
        return statusOnly(kFileNotFound);
    }

    Bytes enterDirectory(std::vector<std::uint16_t> path) {
        state_.directoryPath = std::move(path);
        state_.elementaryFile = 0;
        state_.recordPointer = 0;
        return respondLater(directoryResponse(*currentDirectory()));
    }

    // GSM 11.11 9.2.1, EF: 15 bytes.
    Bytes elementaryResponse(const SimFile& file) const {
        Bytes data(15, 0x00);
        writeBe16(&data[2],
                  static_cast<std::uint16_t>(std::min<std::size_t>(file.data.size(), 0xFFFF)));
        writeBe16(&data[4], file.id);
        data[6] = 0x04;  // EF
        if (file.kind == FileKind::kCyclic && file.increaseAccess != Access::kNever) {
            data[7] = 0x40;  // INCREASE allowed
        }
        data[8] = static_cast<std::uint8_t>(accessNibble(file.readAccess) << 4 |
                                            accessNibble(file.updateAccess));
        data[9] = static_cast<std::uint8_t>(accessNibble(file.increaseAccess) << 4);  // b4-b1 RFU
        data[10] = static_cast<std::uint8_t>(accessNibble(file.rehabilitateAccess) << 4 |
                                             accessNibble(file.invalidateAccess));
        data[11] = file.invalidated ? 0x00 : 0x01;
        data[12] = 0x02;  // length of the following data
        data[13] = structureByte(file.kind);
        data[14] = file.hasRecords() ? file.recordLength : 0x00;
        return data;
    }

    // GSM 11.11 9.2.1, MF/DF: the 22 mandatory bytes.
    Bytes directoryResponse(const SimFile& directory) const {
        Bytes data(22, 0x00);
        writeBe16(&data[2], kFreeMemory);
        writeBe16(&data[4], directory.id);
        data[6] = directory.kind == FileKind::kMaster ? 0x01 : 0x02;
        data[12] = 0x09;  // length of the GSM specific data (bytes 13 to 21)
        // File characteristics: clock stop allowed, 13/4 MHz; b8 set = CHV1 disabled.
        data[13] = static_cast<std::uint8_t>(0x13 | (image_.chv1.enabled ? 0x00 : 0x80));
        const auto directories = std::count_if(directory.children.begin(), directory.children.end(),
                                               [](const SimFile& f) { return f.isDirectory(); });
        const auto files = static_cast<std::ptrdiff_t>(directory.children.size()) - directories;
        data[14] = static_cast<std::uint8_t>(std::min<std::ptrdiff_t>(directories, 0xFF));
        data[15] = static_cast<std::uint8_t>(std::min<std::ptrdiff_t>(files, 0xFF));
        data[16] = 0x04;  // CHV1, CHV2, UNBLOCK CHV1, UNBLOCK CHV2
        data[18] = codeStatus(image_.chv1.attemptsLeft);
        data[19] = codeStatus(image_.chv1.pukAttemptsLeft);
        if (image_.chv2.has_value()) {
            data[20] = codeStatus(image_.chv2->attemptsLeft);
            data[21] = codeStatus(image_.chv2->pukAttemptsLeft);
        }
        return data;
    }

    static std::uint8_t codeStatus(int attemptsLeft) {
        return static_cast<std::uint8_t>(0x80 | (std::clamp(attemptsLeft, 0, 15)));
    }

    // --- GET RESPONSE, STATUS, SLEEP -----------------------------------------

    Bytes getResponse(std::optional<Bytes> pending) {
        if (!isCase2()) {
            return statusOnly(kWrongLength);
        }
        if (!parametersAreZero()) {
            return statusOnly(kWrongParameters);
        }
        if (!pending.has_value()) {
            return statusOnly(kTechnicalProblem);
        }
        const std::size_t wanted = expectedLength(p3());
        if (wanted > pending->size()) {
            // Refused for its length only: the data stays for a retry with the right Le.
            const std::size_t available = pending->size();
            state_.pendingResponse = std::move(pending);
            return wrongLength(available);
        }
        return dataAndStatus(ByteView(*pending).first(wanted));
    }

    Bytes status() {
        if (!isCase2()) {
            return statusOnly(kWrongLength);
        }
        if (!parametersAreZero()) {
            return statusOnly(kWrongParameters);
        }
        const Bytes data = directoryResponse(*currentDirectory());
        const std::size_t wanted = expectedLength(p3());
        if (wanted > data.size()) {
            return wrongLength(data.size());
        }
        return dataAndStatus(ByteView(data).first(wanted));
    }

    // A Phase 1 command that Phase 2 cards still answer, changing nothing.
    Bytes sleep() {
        if (!isCase2() || p3() != 0) {
            return statusOnly(kWrongLength);
        }
        if (!parametersAreZero()) {
            return statusOnly(kWrongParameters);
        }
        return statusOnly(kOk);
    }

    // --- Transparent files ---------------------------------------------------

    std::size_t offset() const { return static_cast<std::size_t>(p1()) << 8 | p2(); }

    // Checks shared by READ and UPDATE BINARY; returns the refusal, if any.
    std::optional<Bytes> checkBinary(SimFile*& file, Access SimFile::*access, std::size_t length) {
        if (auto refusal = checkElementaryFile(file, {FileKind::kTransparent}, access)) {
            return refusal;
        }
        if (offset() >= file->data.size()) {
            return statusOnly(kWrongParameters);
        }
        if (offset() + length > file->data.size()) {
            return wrongLength(file->data.size() - offset());
        }
        return std::nullopt;
    }

    Bytes readBinary() {
        if (!isCase2()) {
            return statusOnly(kWrongLength);
        }
        SimFile* file = nullptr;
        const std::size_t length = expectedLength(p3());
        if (auto refusal = checkBinary(file, &SimFile::readAccess, length)) {
            return *refusal;
        }
        return dataAndStatus(ByteView(file->data).subspan(offset(), length));
    }

    Bytes updateBinary() {
        if (!hasBodyOfP3()) {
            return statusOnly(kWrongLength);
        }
        SimFile* file = nullptr;
        if (auto refusal = checkBinary(file, &SimFile::updateAccess, p3())) {
            return *refusal;
        }
        std::copy(body().begin(), body().end(),
                  file->data.begin() + static_cast<std::ptrdiff_t>(offset()));
        return statusOnly(kOk);
    }

    // --- Record files (GSM 11.11 8.4, 8.5, 8.6, 8.7) --------------------------

    // The record (from 1) a READ or UPDATE RECORD addresses, or the refusal.
    // Next and previous move the record pointer; a cyclic file wraps round,
    // a linear fixed one stops at its ends (94 02, pointer unchanged).
    std::variant<std::size_t, std::uint16_t> addressRecord(const SimFile& file) {
        const std::size_t count = file.recordCount();
        const std::size_t pointer = state_.recordPointer;
        const bool cyclic = file.kind == FileKind::kCyclic;
        if (count == 0) {
            return kOutOfRange;
        }
        switch (p2()) {
            case kAbsoluteRecord:
                if (p1() == 0) {
                    return pointer == 0 ? std::variant<std::size_t, std::uint16_t>(kOutOfRange)
                                        : pointer;
                }
                if (p1() > count) {
                    return kOutOfRange;
                }
                return std::size_t{p1()};
            case kNextRecord:
                if (pointer == 0) {
                    return state_.recordPointer = 1;
                }
                if (pointer == count) {
                    return cyclic ? state_.recordPointer = 1
                                  : std::variant<std::size_t, std::uint16_t>(kOutOfRange);
                }
                return state_.recordPointer = pointer + 1;
            case kPreviousRecord:
                if (pointer == 0) {
                    return state_.recordPointer = count;
                }
                if (pointer == 1) {
                    return cyclic ? state_.recordPointer = count
                                  : std::variant<std::size_t, std::uint16_t>(kOutOfRange);
                }
                return state_.recordPointer = pointer - 1;
            default:
                return kWrongParameters;
        }
    }

    static ByteView recordOf(const SimFile& file, std::size_t record) {
        return ByteView(file.data).subspan((record - 1) * file.recordLength, file.recordLength);
    }

    Bytes readRecord() {
        if (!isCase2()) {
            return statusOnly(kWrongLength);
        }
        SimFile* file = nullptr;
        if (auto refusal = checkElementaryFile(file, {FileKind::kLinearFixed, FileKind::kCyclic},
                                               &SimFile::readAccess)) {
            return *refusal;
        }
        if (p2() != kAbsoluteRecord && p2() != kNextRecord && p2() != kPreviousRecord) {
            return statusOnly(kWrongParameters);
        }
        if (p3() != file->recordLength) {
            return wrongLength(file->recordLength);
        }
        const auto record = addressRecord(*file);
        if (const auto* refusal = std::get_if<std::uint16_t>(&record)) {
            return statusOnly(*refusal);
        }
        return dataAndStatus(recordOf(*file, std::get<std::size_t>(record)));
    }

    Bytes updateRecord() {
        if (!hasBodyOfP3()) {
            return statusOnly(kWrongLength);
        }
        SimFile* file = nullptr;
        if (auto refusal = checkElementaryFile(file, {FileKind::kLinearFixed, FileKind::kCyclic},
                                               &SimFile::updateAccess)) {
            return *refusal;
        }
        // A cyclic file is only ever written in previous mode, into its oldest record.
        const bool cyclic = file->kind == FileKind::kCyclic;
        const bool modeAllowed =
            cyclic ? p2() == kPreviousRecord
                   : (p2() == kAbsoluteRecord || p2() == kNextRecord || p2() == kPreviousRecord);
        if (!modeAllowed) {
            return statusOnly(kWrongParameters);
        }
        if (p3() != file->recordLength) {
            return wrongLength(file->recordLength);
        }
        if (cyclic) {
            pushCyclicRecord(*file, body());
            return statusOnly(kOk);
        }
        const auto record = addressRecord(*file);
        if (const auto* refusal = std::get_if<std::uint16_t>(&record)) {
            return statusOnly(*refusal);
        }
        std::copy(
            body().begin(), body().end(),
            file->data.begin() + static_cast<std::ptrdiff_t>((std::get<std::size_t>(record) - 1) *
                                                             file->recordLength));
        return statusOnly(kOk);
    }

    // The oldest record of a cyclic file takes `record` and becomes record 1,
    // where the record pointer then stands (GSM 11.11 8.4, 8.7).
    void pushCyclicRecord(SimFile& file, ByteView record) {
        if (file.recordCount() == 0) {
            return;
        }
        file.data.resize(file.data.size() - file.recordLength);
        file.data.insert(file.data.begin(), record.begin(), record.end());
        state_.recordPointer = 1;
    }

    Bytes seek() {
        if (!hasBodyOfP3()) {
            return statusOnly(kWrongLength);
        }
        SimFile* file = nullptr;
        if (auto refusal =
                checkElementaryFile(file, {FileKind::kLinearFixed}, &SimFile::readAccess)) {
            return *refusal;
        }
        const std::uint8_t type = p2() >> 4;  // 0: type 1, 1: type 2
        const std::uint8_t mode = p2() & 0x0F;
        if (p1() != 0 || type > 1 || mode > 3) {
            return statusOnly(kWrongParameters);
        }
        if (p3() == 0 || p3() > file->recordLength) {
            return wrongLength(file->recordLength);
        }
        const std::size_t count = file->recordCount();
        const std::size_t pointer = state_.recordPointer;
        // Modes: 0 from the first record forward, 1 from the last backward,
        // 2 forward from the record after the pointer, 3 backward from the one before.
        const bool forward = mode == 0 || mode == 2;
        std::size_t from = 0;
        if (mode == 0) {
            from = 1;
        } else if (mode == 1) {
            from = count;
        } else if (mode == 2) {
            from = pointer + 1;
        } else {
            from = pointer == 0 ? count : pointer - 1;
        }
        for (std::size_t r = from; r >= 1 && r <= count; r = forward ? r + 1 : r - 1) {
            const ByteView record = recordOf(*file, r);
            if (std::equal(body().begin(), body().end(), record.begin())) {
                state_.recordPointer = r;
                if (type == 0) {
                    return statusOnly(kOk);
                }
                return respondLater(Bytes{static_cast<std::uint8_t>(r)});
            }
        }
        return statusOnly(kFileNotFound);
    }

    Bytes increase() {
        if (!hasBodyOfP3()) {
            return statusOnly(kWrongLength);
        }
        if (!parametersAreZero()) {
            return statusOnly(kWrongParameters);
        }
        if (p3() != kIncreaseLength) {
            return wrongLength(kIncreaseLength);
        }
        SimFile* file = nullptr;
        if (auto refusal =
                checkElementaryFile(file, {FileKind::kCyclic}, &SimFile::increaseAccess)) {
            return *refusal;
        }
        if (file->recordCount() == 0 || file->recordLength < kIncreaseLength) {
            return statusOnly(kWrongFileType);
        }
        // Record 1 (the last written) plus the value, as big-endian numbers.
        Bytes sum(recordOf(*file, 1).begin(), recordOf(*file, 1).end());
        unsigned carry = 0;
        for (std::size_t i = 0; i < sum.size(); ++i) {
            const std::size_t at = sum.size() - 1 - i;
            const unsigned add = i < kIncreaseLength ? body()[kIncreaseLength - 1 - i] : 0u;
            const unsigned total = sum[at] + add + carry;
            sum[at] = static_cast<std::uint8_t>(total);
            carry = total >> 8;
        }
        if (carry != 0) {
            return statusOnly(kIncreaseOverflow);
        }
        pushCyclicRecord(*file, sum);
        Bytes answer = sum;
        answer.insert(answer.end(), body().begin(), body().end());
        return respondLater(std::move(answer));
    }

    // --- INVALIDATE and REHABILITATE -----------------------------------------

    Bytes setInvalidated(bool invalidated, Access SimFile::*access) {
        if (!isCase2() || p3() != 0) {
            return statusOnly(kWrongLength);
        }
        if (!parametersAreZero()) {
            return statusOnly(kWrongParameters);
        }
        SimFile* file = currentElementaryFile();
        if (file == nullptr) {
            return statusOnly(kNoEfSelected);
        }
        if (auto refusal = accessRefusal(file->*access)) {
            return statusOnly(*refusal);
        }
        file->invalidated = invalidated;
        return statusOnly(kOk);
    }

    // --- RUN GSM ALGORITHM ---------------------------------------------------

    Bytes runGsmAlgorithm() {
        if (!hasBodyOfP3()) {
            return statusOnly(kWrongLength);
        }
        if (!parametersAreZero()) {
            return statusOnly(kWrongParameters);
        }
        if (p3() != kRandLength) {
            return wrongLength(kRandLength);
        }
        if (state_.directoryPath != std::vector<std::uint16_t>{kDfGsm}) {
            return statusOnly(kFileNotFound);
        }
        if (auto refusal = accessRefusal(Access::kChv1)) {
            return statusOnly(*refusal);
        }
        return respondLater(runTestAlgorithm(image_.ki.empty() ? defaultKi() : image_.ki, body()));
    }

    // --- CHV commands (GSM 11.11 8.9 to 8.13) ----------------------------------

    // The CHV P2 names (01 CHV1, 02 CHV2), or nullptr.
    Chv* chvOf(std::uint8_t reference) {
        if (reference == 0x01) {
            return &image_.chv1;
        }
        if (reference == 0x02 && image_.chv2.has_value()) {
            return &*image_.chv2;
        }
        return nullptr;
    }

    bool& verifiedFlag(std::uint8_t reference) {
        return reference == 0x02 ? state_.chv2Verified : state_.chv1Verified;
    }

    // Length and parameter checks of the CHV commands. `references` lists the
    // P2 values the command takes; 00 in it means P2 = 00 stands for CHV1.
    std::optional<Bytes> checkChvCommand(std::initializer_list<std::uint8_t> references,
                                         std::size_t dataLength) {
        if (!hasBodyOfP3()) {
            return statusOnly(kWrongLength);
        }
        const bool knownReference =
            std::find(references.begin(), references.end(), p2()) != references.end();
        if (p1() != 0 || !knownReference) {
            return statusOnly(kWrongParameters);
        }
        if (p3() != dataLength) {
            return wrongLength(dataLength);
        }
        if (p2() == 0x02 && !image_.chv2.has_value()) {
            return statusOnly(kNoChvInitialised);
        }
        return std::nullopt;
    }

    // Compares a presented code; a wrong one costs an attempt and closes the
    // CHV, the right one restores the counter and opens it.
    std::optional<Bytes> presentCode(Chv& chv, bool& verified, ByteView code) {
        if (chv.attemptsLeft <= 0) {
            return statusOnly(kChvBlocked);
        }
        if (!codeMatches(code, chv.pin)) {
            verified = false;
            --chv.attemptsLeft;
            return statusOnly(chv.attemptsLeft == 0 ? kChvBlocked : kAccessNotFulfilled);
        }
        chv.attemptsLeft = chv.maxAttempts;
        verified = true;
        return std::nullopt;
    }

    // CHV1 checks that CHV1 is enabled for VERIFY and CHANGE; CHV2 is never disabled.
    bool disabledForUse(std::uint8_t reference) const {
        return reference == 0x01 && !image_.chv1.enabled;
    }

    Bytes verifyChv() {
        if (auto refusal = checkChvCommand({0x01, 0x02}, kCodeLength)) {
            return *refusal;
        }
        if (disabledForUse(p2())) {
            return statusOnly(kChvContradiction);
        }
        if (auto refusal = presentCode(*chvOf(p2()), verifiedFlag(p2()), body())) {
            return *refusal;
        }
        return statusOnly(kOk);
    }

    Bytes changeChv() {
        if (auto refusal = checkChvCommand({0x01, 0x02}, 2 * kCodeLength)) {
            return *refusal;
        }
        if (disabledForUse(p2())) {
            return statusOnly(kChvContradiction);
        }
        Chv& chv = *chvOf(p2());
        if (chv.attemptsLeft <= 0) {
            return statusOnly(kChvBlocked);
        }
        const std::optional<std::string> replacement = newCode(body().subspan(kCodeLength));
        if (!replacement.has_value()) {
            return statusOnly(kWrongParameters);
        }
        if (auto refusal = presentCode(chv, verifiedFlag(p2()), body().first(kCodeLength))) {
            return *refusal;
        }
        chv.pin = *replacement;
        return statusOnly(kOk);
    }

    // DISABLE and ENABLE CHV work on CHV1 only.
    Bytes switchChv1(bool enable) {
        if (auto refusal = checkChvCommand({0x01}, kCodeLength)) {
            return *refusal;
        }
        Chv& chv = image_.chv1;
        if (chv.enabled == enable) {
            return statusOnly(kChvContradiction);
        }
        if (auto refusal = presentCode(chv, state_.chv1Verified, body())) {
            return *refusal;
        }
        chv.enabled = enable;
        return statusOnly(kOk);
    }

    Bytes disableChv() { return switchChv1(false); }
    Bytes enableChv() { return switchChv1(true); }

    Bytes unblockChv() {
        // P2 = 00 unblocks CHV1, 02 CHV2.
        if (auto refusal = checkChvCommand({0x00, 0x02}, 2 * kCodeLength)) {
            return *refusal;
        }
        const std::uint8_t reference = p2() == 0x00 ? 0x01 : 0x02;
        Chv& chv = *chvOf(reference);
        if (chv.pukAttemptsLeft <= 0) {
            return statusOnly(kChvBlocked);
        }
        const std::optional<std::string> replacement = newCode(body().subspan(kCodeLength));
        if (!replacement.has_value()) {
            return statusOnly(kWrongParameters);
        }
        if (!codeMatches(body().first(kCodeLength), chv.puk)) {
            --chv.pukAttemptsLeft;
            return statusOnly(chv.pukAttemptsLeft == 0 ? kChvBlocked : kAccessNotFulfilled);
        }
        chv.pukAttemptsLeft = kPukMaxAttempts;
        chv.pin = *replacement;
        chv.attemptsLeft = chv.maxAttempts;
        chv.enabled = true;
        verifiedFlag(reference) = true;
        return statusOnly(kOk);
    }

    CardImage& image_;
    CardState& state_;
    ByteView command_;
};

// The file a command of `instruction` acts on, for instruction faults.
std::uint16_t targetFile(const CardState& state, const CardImage& image, ByteView command) {
    if (command.size() >= 7 && command[1] == kSelect) {
        return readBe16(&command[5]);
    }
    if (state.elementaryFile != 0) {
        return state.elementaryFile;
    }
    const SimFile* directory = image.find(state.directoryPath);
    return directory != nullptr ? directory->id : kMf;
}

}  // namespace

struct SimCard::Impl {
    CardState card;
    std::map<std::size_t, std::uint16_t> failedCommands;
    std::map<std::size_t, long> transportFailures;
    std::map<std::pair<std::uint8_t, std::uint16_t>, std::uint16_t> failedInstructions;
    Interceptor interceptor;
};

SimCard::SimCard(CardImage image) : image_(std::move(image)), impl_(std::make_shared<Impl>()) {}

SimCard::SimCard(const SimCard& other)
    : image_(other.image_), log_(other.log_), impl_(std::make_shared<Impl>(*other.impl_)) {}

SimCard& SimCard::operator=(const SimCard& other) {
    if (this != &other) {
        image_ = other.image_;
        log_ = other.log_;
        impl_ = std::make_shared<Impl>(*other.impl_);
    }
    return *this;
}

SimCard::~SimCard() = default;

long SimCard::transmit(ByteView command, Bytes& response) {
    response.clear();
    try {
        if (!impl_) {
            impl_ = std::make_shared<Impl>();
        }
        Impl& state = *impl_;
        CardState& card = state.card;
        const std::size_t number = log_.size() + 1;
        log_.push_back(Exchange{Bytes(command.begin(), command.end()), {}, 0});

        if (auto failure = state.transportFailures.find(number);
            failure != state.transportFailures.end()) {
            log_.back().transportError = failure->second;
            return failure->second;
        }
        if (auto failure = state.failedCommands.find(number);
            failure != state.failedCommands.end()) {
            response = statusOnly(failure->second);
        } else if (state.interceptor && state.interceptor(command, response)) {
            // answered by the interceptor as it stands
        } else {
            response.clear();
            const std::uint8_t instruction = command.size() >= 2 ? command[1] : 0;
            const auto fault =
                state.failedInstructions.find({instruction, targetFile(card, image_, command)});
            if (command.size() >= kHeaderLength && fault != state.failedInstructions.end()) {
                response = statusOnly(fault->second);
            } else {
                response = CommandProcessor(image_, card, command).run();
            }
        }
        log_.back().response = response;
        return 0;
    } catch (...) {
        // Out of memory or a throwing interceptor: answer as a card with a fault would.
        response = statusOnly(kTechnicalProblem);
        return 0;
    }
}

void SimCard::reset() {
    impl_->card = CardState{};
}

std::uint16_t SimCard::currentDirectory() const {
    const SimFile* directory = image_.find(impl_->card.directoryPath);
    return directory != nullptr ? directory->id : kMf;
}

std::uint16_t SimCard::currentElementaryFile() const {
    return impl_->card.elementaryFile;
}

bool SimCard::chv1Verified() const {
    return impl_->card.chv1Verified;
}

bool SimCard::chv2Verified() const {
    return impl_->card.chv2Verified;
}

std::size_t SimCard::recordPointer() const {
    return impl_->card.recordPointer;
}

Bytes defaultKi() {
    Bytes ki(kRandLength);
    for (std::size_t i = 0; i < ki.size(); ++i) {
        ki[i] = static_cast<std::uint8_t>(i);
    }
    return ki;
}

namespace {
std::uint8_t rotateLeft(std::uint8_t value, int bits) {
    return static_cast<std::uint8_t>(value << bits | value >> (8 - bits));
}
}  // namespace

Bytes runTestAlgorithm(ByteView ki, ByteView rand) {
    std::array<std::uint8_t, kRandLength> mixed{};
    for (std::size_t i = 0; i < mixed.size(); ++i) {
        const std::uint8_t k = i < ki.size() ? ki[i] : 0;
        const std::uint8_t r = i < rand.size() ? rand[i] : 0;
        mixed[i] = static_cast<std::uint8_t>(k ^ r);
    }
    Bytes out;
    for (std::size_t j = 0; j < kSresLength; ++j) {
        out.push_back(static_cast<std::uint8_t>(mixed[j] ^ rotateLeft(mixed[j + 4], 1) ^
                                                rotateLeft(mixed[j + 8], 2) ^
                                                rotateLeft(mixed[j + 12], 3)));
    }
    for (std::size_t j = 0; j < kKcLength; ++j) {
        out.push_back(static_cast<std::uint8_t>(mixed[j] + mixed[j + 8]));
    }
    return out;
}

std::vector<std::string> SimCard::commandsHex() const {
    std::vector<std::string> commands;
    commands.reserve(log_.size());
    for (const Exchange& exchange : log_) {
        commands.push_back(toHex(exchange.command, true));
    }
    return commands;
}

void SimCard::failCommand(std::size_t commandNumber, std::uint16_t statusWord) {
    impl_->failedCommands[commandNumber] = statusWord;
}

void SimCard::failTransportAt(std::size_t commandNumber, long pcscError) {
    impl_->transportFailures[commandNumber] = pcscError;
}

void SimCard::failInstruction(std::uint8_t instruction, std::uint16_t fileId,
                              std::uint16_t statusWord) {
    impl_->failedInstructions[{instruction, fileId}] = statusWord;
}

void SimCard::setInterceptor(Interceptor interceptor) {
    impl_->interceptor = std::move(interceptor);
}

void SimCard::clearFaults() {
    impl_->failedCommands.clear();
    impl_->transportFailures.clear();
    impl_->failedInstructions.clear();
    impl_->interceptor = nullptr;
}

}  // namespace zrn::sim
