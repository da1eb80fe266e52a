#include "cli/card_session.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#include <winscard.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <thread>

#include "cli/atomic_file.h"
#include "cli/command_counter.h"
#include "cli/errors.h"
#include "cli/interrupt.h"
#include "cli/select_guard.h"
#include "cli/text/terminal.h"
#include "cli/trace.h"
#include "core/card.h"
#include "sim/card_image.h"
#include "sim/sim_card.h"
#include "sim/virtual_card.h"

namespace zrn::cli {

namespace {

constexpr const char* kNoCardAdvice =
    "To try the tool without a card, use the bundled sample card: "
    "zrn --sim samples/extended.json info";

std::string pcscError(long rv) {
    return pcsc_stringify_error(static_cast<LONG>(rv));
}

std::vector<std::string> splitMultiString(const char* list, DWORD length) {
    std::vector<std::string> names;
    const char* p = list;
    const char* end = list + length;
    while (p < end && *p != '\0') {
        const std::size_t n = strnlen(p, static_cast<std::size_t>(end - p));
        names.emplace_back(p, n);
        p += n + 1;
    }
    return names;
}

class Context {
  public:
    Context() {
        const LONG rv = SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context_);
        if (rv != SCARD_S_SUCCESS) {
            fail(kExitCard, "cannot reach the PC/SC service (" + pcscError(rv) +
                                "). Start pcscd and connect a reader. " + kNoCardAdvice);
        }
    }
    ~Context() {
        if (context_ != 0) {
            SCardReleaseContext(context_);
        }
    }
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;
    SCARDCONTEXT get() const { return context_; }
    SCARDCONTEXT release() {
        const SCARDCONTEXT c = context_;
        context_ = 0;
        return c;
    }

  private:
    SCARDCONTEXT context_ = 0;
};

std::vector<ReaderInfo> readersOf(SCARDCONTEXT context) {
    DWORD length = 0;
    LONG rv = SCardListReaders(context, nullptr, nullptr, &length);
    if (rv == static_cast<LONG>(SCARD_E_NO_READERS_AVAILABLE) || length == 0) {
        return {};
    }
    if (rv != SCARD_S_SUCCESS) {
        fail(kExitCard, "cannot list the PC/SC readers: " + pcscError(rv));
    }
    std::vector<char> list(length + 1, '\0');
    rv = SCardListReaders(context, nullptr, list.data(), &length);
    if (rv != SCARD_S_SUCCESS) {
        return {};
    }
    std::vector<ReaderInfo> readers;
    for (const std::string& name : splitMultiString(list.data(), length)) {
        ReaderInfo info;
        info.name = name;
        SCARD_READERSTATE state{};
        state.szReader = name.c_str();
        state.dwCurrentState = SCARD_STATE_UNAWARE;
        if (SCardGetStatusChange(context, 0, &state, 1) == SCARD_S_SUCCESS) {
            info.cardPresent = (state.dwEventState & SCARD_STATE_PRESENT) != 0;
            const std::size_t atrLength = std::min<std::size_t>(state.cbAtr, sizeof state.rgbAtr);
            info.atr.assign(state.rgbAtr, state.rgbAtr + (info.cardPresent ? atrLength : 0));
        }
        readers.push_back(std::move(info));
    }
    return readers;
}

// Reads a line from the terminal without echo; the PIN never reaches stdout.
std::string promptPin() {
    const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY);
    if (fd < 0) {
        fail(kExitPin,
             "the card wants its PIN (CHV1) and there is no terminal to ask on: put the PIN in "
             "an environment variable and name it with --pin-env VAR");
    }
    termios saved{};
    const bool isTerminal = tcgetattr(fd, &saved) == 0;
    if (isTerminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(fd, TCSAFLUSH, &quiet);
    }
    const char prompt[] = "PIN (CHV1): ";
    (void)!::write(fd, prompt, sizeof prompt - 1);
    std::string pin;
    char c = 0;
    while (::read(fd, &c, 1) == 1 && c != '\n' && c != '\r' && pin.size() < 64) {
        pin.push_back(c);
    }
    if (isTerminal) {
        tcsetattr(fd, TCSAFLUSH, &saved);
    }
    (void)!::write(fd, "\n", 1);
    ::close(fd);
    return pin;
}

// A word for the shell: quoted when it holds anything but plain characters.
std::string shellWord(const std::string& word) {
    if (!word.empty() &&
        word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
                               "._-/+:=@") == std::string::npos) {
        return word;
    }
    std::string quoted = "'";
    for (const char c : word) {
        if (c == '\'') {
            quoted.append("'\\''");
        } else {
            quoted.push_back(c);
        }
    }
    return quoted + "'";
}

[[noreturn]] void failInUse(const std::string& reader, const std::string& why) {
    fail(kExitCard, "the card in \"" + reader + "\" is in use by another program (" + why +
                        "); nothing was read or written. Close the other program, or wait "
                        "for it to finish, and run again.");
}

void wipe(std::string& secret) {
    volatile char* p = secret.data();
    for (std::size_t i = 0; i < secret.size(); ++i) {
        p[i] = '\0';
    }
    secret.clear();
}

}  // namespace

struct CardSession::Simulator {
    explicit Simulator(sim::CardImage image) : card(std::move(image)), reader(card) {}
    sim::SimCard card;
    sim::SimulatorTransport reader;
};

std::vector<ReaderInfo> listReaders() {
    Context context;
    return readersOf(context.get());
}

std::unique_ptr<CardSession> CardSession::open(const SessionOptions& options) {
    std::unique_ptr<CardSession> session(new CardSession());
    if (!options.simImage.empty()) {
        session->openSimulator(options);
    } else {
        session->openReader(options);
    }
    session->readChvState();
    session->presentPin(options);
    session->connectLibrary();
    session->readRoom();
    session->readStartFacts();
    return session;
}

CardSession::~CardSession() {
    try {
        if (written_) {
            save();
        }
    } catch (const std::exception& e) {
        // A destructor must not throw; the command has failed already or
        // only the PIN counter changed.
        std::cerr << "zrn: " << text::terminalLines(e.what()) << "\n";
    }
    if (counter_) {
        core::useTransport(previousTransport_);
    }
    if (inTransaction_) {
        SCardEndTransaction(static_cast<SCARDHANDLE>(handle_), SCARD_LEAVE_CARD);
    }
    if (handle_ != 0 && !simulated()) {
        SCardDisconnect(static_cast<SCARDHANDLE>(handle_), SCARD_LEAVE_CARD);
    }
    if (context_ != 0) {
        SCardReleaseContext(static_cast<SCARDCONTEXT>(context_));
    }
}

void CardSession::openSimulator(const SessionOptions& options) {
    try {
        simulator_ = std::make_unique<Simulator>(sim::loadImage(options.simImage));
    } catch (const std::exception& e) {
        fail(kExitUsage, "cannot load the card image " + options.simImage + ": " + e.what() +
                             "\nThe bundled samples are samples/standard.json and "
                             "samples/extended.json.");
    }
    simImage_ = options.simImage;
    source_ = "simulator: " + options.simImage;
    atr_ = simulator_->card.image().atr;
    handle_ = sim::kSimulatedHandle;
    restorePrefix_ = "zrn --sim " + shellWord(options.simImage);
    useTransport(simulator_->reader, options);
}

void CardSession::useTransport(core::Transport& base, const SessionOptions& options) {
    core::Transport* card = &base;
    if (options.wrapCard) {
        wrapped_ = options.wrapCard(*card);
        card = wrapped_.get();
    }
    if (!options.tracePath.empty()) {
        trace_ = std::make_unique<TraceTransport>(*card, options.tracePath);
        card = trace_.get();
    }
    guard_ = std::make_unique<SelectGuard>(*card);
    interrupt_ = std::make_unique<InterruptTransport>(*guard_);
    counter_ = std::make_unique<CountingTransport>(*interrupt_);
    previousTransport_ = core::useTransport(counter_.get());
}

void CardSession::beginWrite(const std::string& what) {
    if (pendingSignal() != 0) {
        fail(kExitCard, "stopped before writing; nothing was written");
    }
    writing_ = true;
    beginWritePhase(what);
}

void CardSession::endWrite() {
    wrote_ = true;
    writing_ = false;
    endWritePhase();
}

void CardSession::noteBackup(const std::string& path) {
    writeState().restoreCommand = restorePrefix_ + " restore " + shellWord(path);
}

void CardSession::openReader(const SessionOptions& options) {
    Context context;
    const auto readers = readersOf(context.get());
    if (readers.empty()) {
        fail(kExitCard, std::string("no PC/SC reader is connected. ") + kNoCardAdvice);
    }
    const ReaderInfo* chosen = nullptr;
    if (options.reader.empty()) {
        for (const auto& r : readers) {
            if (r.cardPresent) {
                chosen = &r;
                break;
            }
        }
        if (chosen == nullptr) {
            fail(kExitCard, "no reader holds a card (readers: " + std::to_string(readers.size()) +
                                "; see zrn readers). Insert a SIM. " + kNoCardAdvice);
        }
    } else {
        const bool numeric = options.reader.find_first_not_of("0123456789") == std::string::npos;
        for (std::size_t i = 0; i < readers.size(); ++i) {
            if ((numeric && std::to_string(i) == options.reader) ||
                readers[i].name == options.reader ||
                (!numeric && readers[i].name.find(options.reader) != std::string::npos)) {
                chosen = &readers[i];
                break;
            }
        }
        if (chosen == nullptr) {
            fail(kExitUsage, "no reader matches \"" + options.reader +
                                 "\"; zrn readers lists them with their index");
        }
    }
    source_ = chosen->name;
    atr_ = chosen->atr;
    restorePrefix_ = "zrn --reader " + shellWord(source_);
    claimCard(options);
    pcsc_ = core::makePcscTransport();
    useTransport(*pcsc_, options);
}

namespace {

// The card taken for one command: a context of its own, the connection and a
// transaction. Filled by a thread that may wait inside pcsc-lite.
struct CardClaim {
    std::atomic<bool> done{false};
    SCARDCONTEXT context = 0;
    SCARDHANDLE handle = 0;
    LONG rv = SCARD_S_SUCCESS;
    bool connected = false;

    void take(const std::string& reader) {
        rv = SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context);
        if (rv != SCARD_S_SUCCESS) {
            return;
        }
        DWORD protocol = 0;
        rv = SCardConnect(context, reader.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0, &handle,
                          &protocol);
        if (rv != SCARD_S_SUCCESS) {
            return;
        }
        connected = true;
        rv = SCardBeginTransaction(handle);
    }
    void release() {
        if (connected) {
            SCardDisconnect(handle, SCARD_LEAVE_CARD);
        }
        if (context != 0) {
            SCardReleaseContext(context);
        }
    }
};

}  // namespace

// The whole command runs in one PC/SC transaction: no other program's
// command reaches the card between two of ours. pcsc-lite waits without limit
// for a card another program holds in a transaction (SCardConnect and
// SCardBeginTransaction both do), so the card is taken on a thread of its
// own and the wait is bounded here.
void CardSession::claimCard(const SessionOptions& options) {
    auto claim = std::make_shared<CardClaim>();
    std::thread([claim, reader = source_] {
        claim->take(reader);
        claim->done.store(true, std::memory_order_release);
    }).detach();
    const auto deadline = std::chrono::steady_clock::now() + options.cardWait;
    while (!claim->done.load(std::memory_order_acquire) &&
           std::chrono::steady_clock::now() < deadline && pendingSignal() == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!claim->done.load(std::memory_order_acquire)) {
        // The thread still waits inside pcsc-lite; what it holds is left to
        // the end of the process.
        if (pendingSignal() != 0) {
            fail(kExitCard, "stopped while waiting for the card; nothing was read or written");
        }
        failInUse(source_, "it kept the card for more than " +
                               std::to_string(options.cardWait.count()) + " s");
    }
    if (claim->rv != SCARD_S_SUCCESS) {
        const LONG rv = claim->rv;
        const bool connected = claim->connected;
        claim->release();
        if (rv == static_cast<LONG>(SCARD_E_SHARING_VIOLATION)) {
            failInUse(source_, "it holds the card for itself");
        }
        fail(kExitCard, std::string(connected ? "cannot take the card in \""
                                              : "cannot connect to the card in \"") +
                            source_ + "\" with T=0 (" + pcscError(rv) +
                            "); nothing was read or written. Check that a SIM sits in the "
                            "reader.");
    }
    context_ = static_cast<long>(claim->context);
    handle_ = static_cast<CardHandle>(claim->handle);
    inTransaction_ = true;
}

// What the commands build on, read when the session starts: the geometry the
// connection stored must be the card's shape read once more, the layout the
// room names the shape's; the ICCID is kept to compare with a later read.
void CardSession::readStartFacts() {
    const core::CardShape connected = core::connectedShape();
    shape_ = core::cardShape();
    const bool layoutsAgree = room_.extended == (shape_.layout == core::Layout::kExtended);
    if (!shape_.sameAs(connected) || !layoutsAgree) {
        fail(kExitCard,
             "the card gave different answers when its layout and geometry were read twice "
             "(a card or reader fault); nothing was read or written. Check the card and the "
             "reader and run again.");
    }
    iccid_ = readIccidOrFail();
}

std::string CardSession::readIccidOrFail() {
    const std::optional<std::string> iccid = core::readIccid();
    if (!iccid) {
        fail(kExitCard,
             "the card failed while its ICCID was read; nothing was written. Check the card "
             "and the reader and run again.");
    }
    return *iccid;
}

void CardSession::readChvState() {
    core::attachCard(handle_);
    const core::ChvStatus status = core::chv1Status();
    chv_.known = status.known;
    chv_.enabled = status.enabled;
    chv_.attemptsLeft = status.attemptsLeft;
}

void CardSession::presentPin(const SessionOptions& options) {
    if (!chv_.known || !chv_.enabled) {
        return;
    }
    if (chv_.attemptsLeft == 0) {
        fail(kExitPin,
             "the card's PIN (CHV1) is blocked. Unblock it with the PUK in a phone; "
             "this tool does not send PUKs.");
    }
    if (chv_.attemptsLeft == 1 && !options.forceLastAttempt) {
        fail(kExitPin,
             "the card's PIN (CHV1) has one attempt left; a wrong PIN would block the "
             "card. Nothing was sent. If you are sure of the PIN, run again with "
             "--force-last-attempt.");
    }
    std::string pin;
    if (!options.pinEnv.empty()) {
        const char* value = std::getenv(options.pinEnv.c_str());
        if (value == nullptr) {
            fail(kExitPin, "the card wants its PIN (CHV1), but the environment variable " +
                               options.pinEnv + " is not set");
        }
        pin = value;
        // Read once: no later code or child process finds the PIN there.
        ::unsetenv(options.pinEnv.c_str());
    } else {
        pin = promptPin();
    }
    if (pin.size() < 4 || pin.size() > 8 ||
        pin.find_first_not_of("0123456789") != std::string::npos) {
        wipe(pin);
        fail(kExitPin, "a PIN is 4 to 8 digits; nothing was sent to the card");
    }
    const core::VerifyResult answer = core::verifyChv1(pin);
    wipe(pin);
    if (answer.verdict == core::Verification::kNotDelivered) {
        fail(kExitCard, "the reader did not deliver the PIN to the card; check the reader");
    }
    const int attemptsBefore = chv_.attemptsLeft;
    readChvState();
    // The card's counter changed: a simulator image keeps it, as a card would.
    if (chv_.attemptsLeft != attemptsBefore && simulated()) {
        markWritten();
    }
    if (answer.verdict == core::Verification::kAccepted) {
        return;
    }
    if (answer.verdict == core::Verification::kBlocked || (chv_.known && chv_.attemptsLeft == 0)) {
        fail(kExitPin,
             "wrong PIN: the card has now blocked CHV1. Unblock it with the PUK in a "
             "phone.");
    }
    if (answer.verdict == core::Verification::kWrong) {
        fail(kExitPin, "wrong PIN; " + std::to_string(chv_.attemptsLeft) +
                           " attempt(s) left. Not retried: check the PIN and run again.");
    }
    fail(kExitPin, "the card refused the PIN (status " + answer.status + "); not retried");
}

void CardSession::connectLibrary() {
    const std::int32_t rv = core::connect(handle_);
    if (rv != 0) {
        failLibrary("ConnectReader", rv,
                    "The card lacks the files a SIM phone book needs (EF_ADN, EF_SMS), or does "
                    "not answer as a GSM SIM.");
    }
}

void CardSession::readRoom() {
    const core::CardRoom card = core::room();
    if (card.layout != core::Layout::kUnknown && !(core::room() == card)) {
        // Read twice: one answer that went wrong must not pass for the card's
        // own (a store read as absent would be backed up as empty).
        fail(kExitCard,
             "the card gave different answers when its files were described twice (a card or "
             "reader fault); nothing was read or written. Check the card and the reader and "
             "run again.");
    }
    if (card.layout == core::Layout::kUnknown) {
        fail(kExitCard,
             "the card failed while its phone-book layout was being read (a card or reader "
             "fault, not a missing file); nothing was read or written. Check the card and the "
             "reader and run again.");
    }
    const auto size = [](std::int32_t v) { return static_cast<std::size_t>(std::max(0, v)); };
    room_.extended = card.layout == core::Layout::kExtended;
    room_.nameSlotLength = size(card.nameSlotLength);
    room_.numberSlotLength = size(card.numberSlotLength);
    room_.adnCount = size(card.adnCount);
    room_.nameSlotCount = size(card.nameSlotCount);
    room_.numberSlotCount = size(card.numberSlotCount);
    room_.groupCount = size(card.groupCount);
    room_.groupNameLength = size(card.groupNameLength);
    room_.adiCount = size(card.adiCount);
    room_.adiRecordLength = size(card.adiRecordLength);
    room_.adnRecordLength = card.adnRecordLength;
    room_.adnRecordCount = card.adnRecordCount;
    stores_.smsRecords = card.smsRecords;
    stores_.extraFile = card.extraFile;
    stores_.extraRecords = card.extraRecords;
    stores_.extraIndex = card.extraIndex;
}

std::string CardSession::iccid() {
    if (readIccidOrFail() != iccid_) {
        fail(kExitCard,
             "the card gave two different ICCIDs in one session (a card or reader fault); "
             "nothing was written. Run again.");
    }
    return iccid_;
}

std::string CardSession::configText() {
    std::string text;
    const std::int32_t rv = core::config(text);
    if (rv != 0) {
        failLibrary("GetConfig", rv, "");
    }
    return text;
}

sim::SimCard* CardSession::simulatedCard() {
    return simulator_ ? &simulator_->card : nullptr;
}

void CardSession::save() {
    if (!simulator_) {
        return;
    }
    try {
        replaceFile(simImage_, sim::serializeImage(simulator_->card.image()));
        written_ = false;
    } catch (const CliError& e) {
        fail(e.exitCode(), std::string("the card image was not saved: ") + e.what());
    }
}

}  // namespace zrn::cli
