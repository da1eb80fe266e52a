#include "sim/sim_card.h"

#include <algorithm>
#include <map>
#include <optional>
#include <tuple>

namespace zrn::sim {

namespace {

// Status words (GSM 11.11 9.4).
constexpr std::uint16_t kOk = 0x9000;
constexpr std::uint16_t kNoEfSelected = 0x9400;
constexpr std::uint16_t kOutOfRange = 0x9402;
constexpr std::uint16_t kFileNotFound = 0x9404;
constexpr std::uint16_t kWrongFileType = 0x9408;
constexpr std::uint16_t kAccessNotFulfilled = 0x9804;
constexpr std::uint16_t kChvContradiction = 0x9808;
constexpr std::uint16_t kChvBlocked = 0x9840;
constexpr std::uint16_t kWrongLength = 0x6700;
constexpr std::uint16_t kWrongParameters = 0x6B00;
constexpr std::uint16_t kUnknownInstruction = 0x6D00;
constexpr std::uint16_t kWrongClass = 0x6E00;
constexpr std::uint16_t kTechnicalProblem = 0x6F00;

constexpr std::uint8_t kClassGsm = 0xA0;
constexpr std::uint16_t kMf = 0x3F00;
constexpr std::size_t kHeaderLength = 5;
constexpr std::size_t kCodeLength = 8;  // CHV and UNBLOCK CHV values, padded FF
constexpr int kPukMaxAttempts = 10;
constexpr std::uint16_t kFreeMemory = 0x2000;  // reported for every DF; nothing allocates

enum Instruction : std::uint8_t {
    kVerifyChv = 0x20,
    kUnblockChv = 0x2C,
    kSelect = 0xA4,
    kReadBinary = 0xB0,
    kReadRecord = 0xB2,
    kGetResponse = 0xC0,
    kUpdateBinary = 0xD6,
    kUpdateRecord = 0xDC,
    kStatus = 0xF2,
};

std::uint8_t accessNibble(Access access) {
    switch (access) {
        case Access::kAlways:
            return 0x0;
        case Access::kChv1:
            return 0x1;
        case Access::kNever:
            return 0xF;
    }
    return 0xF;
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

// What a card remembers between commands.
struct CardState {
    std::vector<std::uint16_t> directoryPath;  // from the MF, MF excluded
    std::uint16_t elementaryFile = 0;          // child of the current DF; 0: none
    std::optional<Bytes> pendingResponse;      // GET RESPONSE data of the last SELECT
    bool chv1Verified = false;
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
            case kVerifyChv:
                return verifyChv();
            case kUnblockChv:
                return unblockChv();
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

    SimFile* currentDirectory() {
        SimFile* directory = image_.find(state_.directoryPath);
        if (directory == nullptr || !directory->isDirectory()) {
            // The tree was changed under the card: fall back to the MF.
            state_.directoryPath.clear();
            state_.elementaryFile = 0;
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
            return nullptr;
        }
        return file;
    }

    bool allowed(Access access) const {
        switch (access) {
            case Access::kAlways:
                return true;
            case Access::kChv1:
                return !image_.chv1.enabled || state_.chv1Verified;
            case Access::kNever:
                return false;
        }
        return false;
    }

    // --- SELECT (GSM 11.11 8.1 and the selection rules of 6.5) -------------

    Bytes select() {
        if (!hasBodyOfP3()) {
            return statusOnly(kWrongLength);
        }
        if (p3() != 2) {
            return statusOnly(kWrongLength | 0x02);
        }
        if (p1() != 0 || p2() != 0) {
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
            return answerSelection(elementaryResponse(*child));
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
        return answerSelection(directoryResponse(*currentDirectory()));
    }

    Bytes answerSelection(Bytes responseData) {
        const auto length = static_cast<std::uint8_t>(responseData.size());
        state_.pendingResponse = std::move(responseData);
        return statusOnly(static_cast<std::uint16_t>(0x9F00 | length));
    }

    // GSM 11.11 9.2.1, EF: 15 bytes.
    Bytes elementaryResponse(const SimFile& file) const {
        Bytes data(15, 0x00);
        writeBe16(&data[2],
                  static_cast<std::uint16_t>(std::min<std::size_t>(file.data.size(), 0xFFFF)));
        writeBe16(&data[4], file.id);
        data[6] = 0x04;  // EF
        data[8] = static_cast<std::uint8_t>(accessNibble(file.readAccess) << 4 |
                                            accessNibble(file.updateAccess));
        data[9] = 0xF0;   // INCREASE never, RFU
        data[10] = 0x44;  // REHABILITATE and INVALIDATE: administrative
        data[11] = 0x01;  // not invalidated
        data[12] = 0x02;  // length of the following data
        data[13] = file.kind == FileKind::kLinearFixed ? 0x01 : 0x00;
        data[14] = file.kind == FileKind::kLinearFixed ? file.recordLength : 0x00;
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
        data[20] = 0x00;  // CHV2 not initialised
        data[21] = 0x00;
        return data;
    }

    static std::uint8_t codeStatus(int attemptsLeft) {
        return static_cast<std::uint8_t>(0x80 | (std::clamp(attemptsLeft, 0, 15)));
    }

    // --- GET RESPONSE and STATUS -----------------------------------------

    Bytes getResponse(std::optional<Bytes> pending) {
        if (!isCase2()) {
            return statusOnly(kWrongLength);
        }
        if (p1() != 0 || p2() != 0) {
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
        if (p1() != 0 || p2() != 0) {
            return statusOnly(kWrongParameters);
        }
        const Bytes data = directoryResponse(*currentDirectory());
        const std::size_t wanted = expectedLength(p3());
        if (wanted > data.size()) {
            return wrongLength(data.size());
        }
        return dataAndStatus(ByteView(data).first(wanted));
    }

    // --- Transparent files ---------------------------------------------------

    // Checks shared by READ and UPDATE BINARY; returns the refusal, if any.
    std::optional<Bytes> checkBinary(SimFile*& file, Access SimFile::*access, std::size_t length) {
        file = currentElementaryFile();
        if (file == nullptr) {
            return statusOnly(kNoEfSelected);
        }
        if (file->kind != FileKind::kTransparent) {
            return statusOnly(kWrongFileType);
        }
        if (!allowed(file->*access)) {
            return statusOnly(kAccessNotFulfilled);
        }
        const std::size_t offset = static_cast<std::size_t>(p1()) << 8 | p2();
        if (offset >= file->data.size()) {
            return statusOnly(kWrongParameters);
        }
        if (offset + length > file->data.size()) {
            return wrongLength(file->data.size() - offset);
        }
        return std::nullopt;
    }

    std::size_t offset() const { return static_cast<std::size_t>(p1()) << 8 | p2(); }

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

    // --- Linear fixed files (absolute mode only) ------------------------------

    std::optional<Bytes> checkRecord(SimFile*& file, Access SimFile::*access) {
        file = currentElementaryFile();
        if (file == nullptr) {
            return statusOnly(kNoEfSelected);
        }
        if (file->kind != FileKind::kLinearFixed) {
            return statusOnly(kWrongFileType);
        }
        if (!allowed(file->*access)) {
            return statusOnly(kAccessNotFulfilled);
        }
        if (p2() != 0x04) {
            return statusOnly(kWrongParameters);
        }
        if (p1() == 0 || p1() > file->recordCount()) {
            return statusOnly(kOutOfRange);
        }
        if (p3() != file->recordLength) {
            return wrongLength(file->recordLength);
        }
        return std::nullopt;
    }

    std::size_t recordStart(const SimFile& file) const {
        return static_cast<std::size_t>(p1() - 1) * file.recordLength;
    }

    Bytes readRecord() {
        if (!isCase2()) {
            return statusOnly(kWrongLength);
        }
        SimFile* file = nullptr;
        if (auto refusal = checkRecord(file, &SimFile::readAccess)) {
            return *refusal;
        }
        return dataAndStatus(ByteView(file->data).subspan(recordStart(*file), file->recordLength));
    }

    Bytes updateRecord() {
        if (!hasBodyOfP3()) {
            return statusOnly(kWrongLength);
        }
        SimFile* file = nullptr;
        if (auto refusal = checkRecord(file, &SimFile::updateAccess)) {
            return *refusal;
        }
        std::copy(body().begin(), body().end(),
                  file->data.begin() + static_cast<std::ptrdiff_t>(recordStart(*file)));
        return statusOnly(kOk);
    }

    // --- CHV1 ------------------------------------------------------------------

    Bytes verifyChv() {
        if (!hasBodyOfP3()) {
            return statusOnly(kWrongLength);
        }
        if (p1() != 0 || p2() != 0x01) {
            return statusOnly(kWrongParameters);
        }
        if (p3() != kCodeLength) {
            return statusOnly(kWrongLength | kCodeLength);
        }
        Chv& chv = image_.chv1;
        if (!chv.enabled) {
            return statusOnly(kChvContradiction);
        }
        if (chv.attemptsLeft <= 0) {
            return statusOnly(kChvBlocked);
        }
        if (codeMatches(body(), chv.pin)) {
            chv.attemptsLeft = chv.maxAttempts;
            state_.chv1Verified = true;
            return statusOnly(kOk);
        }
        state_.chv1Verified = false;
        --chv.attemptsLeft;
        return statusOnly(chv.attemptsLeft == 0 ? kChvBlocked : kAccessNotFulfilled);
    }

    Bytes unblockChv() {
        if (!hasBodyOfP3()) {
            return statusOnly(kWrongLength);
        }
        if (p1() != 0 || p2() != 0x00) {
            return statusOnly(kWrongParameters);
        }
        if (p3() != 2 * kCodeLength) {
            return statusOnly(kWrongLength | (2 * kCodeLength));
        }
        Chv& chv = image_.chv1;
        if (chv.pukAttemptsLeft <= 0) {
            return statusOnly(kChvBlocked);
        }
        const std::optional<std::string> newPin = codeDigits(body().subspan(kCodeLength));
        if (!newPin.has_value() || newPin->size() < 4) {
            return statusOnly(kWrongParameters);
        }
        if (!codeMatches(body().first(kCodeLength), chv.puk)) {
            --chv.pukAttemptsLeft;
            return statusOnly(chv.pukAttemptsLeft == 0 ? kChvBlocked : kAccessNotFulfilled);
        }
        chv.pukAttemptsLeft = kPukMaxAttempts;
        chv.pin = *newPin;
        chv.attemptsLeft = chv.maxAttempts;
        chv.enabled = true;
        state_.chv1Verified = true;
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
