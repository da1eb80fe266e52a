#include "cli/card_session.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#include <winscard.h>

#include <cstdlib>
#include <cstring>
#include <iostream>

#include "channel/card_channel.h"
#include "channel/file_map.h"
#include "channel/transport.h"
#include "cli/atomic_file.h"
#include "cli/command_counter.h"
#include "cli/errors.h"
#include "cli/library_adapter.h"
#include "cli/text/terminal.h"
#include "library/geometry.h"
#include "sim/card_image.h"
#include "sim/sim_card.h"
#include "sim/virtual_card.h"

namespace zrn::cli {

namespace {

// GSM 11.11 9.4.5: a wrong CHV with attempts left, and the last attempt spent.
constexpr channel::StatusWord kWrongChv{0x98, 0x04};
constexpr channel::StatusWord kChvBlocked{0x98, 0x40};
constexpr std::size_t kSmsRecordLength = 176;
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
        channel::cardChannel().setTransport(previousTransport_);
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
    useTransport(simulator_->reader);
}

void CardSession::useTransport(channel::Transport& base) {
    counter_ = std::make_unique<CountingTransport>(base);
    previousTransport_ = channel::cardChannel().setTransport(counter_.get());
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
    SCARDHANDLE handle = 0;
    DWORD protocol = 0;
    const LONG rv = SCardConnect(context.get(), chosen->name.c_str(), SCARD_SHARE_SHARED,
                                 SCARD_PROTOCOL_T0, &handle, &protocol);
    if (rv != SCARD_S_SUCCESS) {
        fail(kExitCard, "cannot connect to the card in \"" + chosen->name + "\" with T=0 (" +
                            pcscError(rv) + "). Check that a SIM sits in the reader.");
    }
    handle_ = static_cast<CardHandle>(handle);
    source_ = chosen->name;
    atr_ = chosen->atr;
    context_ = static_cast<long>(context.release());
    pcsc_ = std::make_unique<channel::PcscTransport>();
    useTransport(*pcsc_);
    channel::cardChannel().SetCardHandle(handle_);
}

// GSM 11.11 9.2.1: the MF's status: byte 13 bit 8 set means CHV1 is disabled,
// byte 18 holds CHV1's remaining attempts in bits 1-4.
void CardSession::readChvState() {
    auto& channel = channel::cardChannel();
    channel.SetCardHandle(handle_);
    std::uint8_t length = 0;
    if (!channel.SelectFile(0x3F00, length) || length == 0) {
        return;
    }
    std::uint8_t status[256] = {};
    std::uint8_t got = 0;
    if (!channel.GetResponse(status, length, &got) || got < 19) {
        return;
    }
    chv_.known = true;
    chv_.enabled = (status[13] & 0x80) == 0;
    chv_.attemptsLeft = status[18] & 0x0F;
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
    const channel::Response answer =
        channel::cardChannel().verifyChv(1, channel::Apdu::chvBlock(pin));
    wipe(pin);
    if (!answer.delivered()) {
        fail(kExitCard, "the reader did not deliver the PIN to the card; check the reader");
    }
    const int attemptsBefore = chv_.attemptsLeft;
    readChvState();
    // The card's counter changed: a simulator image keeps it, as a card would.
    if (chv_.attemptsLeft != attemptsBefore && simulated()) {
        markWritten();
    }
    if (answer.isOk()) {
        return;
    }
    if (answer.sw() == kChvBlocked || (chv_.known && chv_.attemptsLeft == 0)) {
        fail(kExitPin,
             "wrong PIN: the card has now blocked CHV1. Unblock it with the PUK in a "
             "phone.");
    }
    if (answer.sw() == kWrongChv) {
        fail(kExitPin, "wrong PIN; " + std::to_string(chv_.attemptsLeft) +
                           " attempt(s) left. Not retried: check the PIN and run again.");
    }
    fail(kExitPin, "the card refused the PIN (status " + answer.sw().text() + ": " +
                       answer.sw().meaning() + "); not retried");
}

void CardSession::connectLibrary() {
    const std::int32_t rv = library::connect(handle_);
    if (rv != 0) {
        failLibrary("ConnectReader", rv,
                    "The card lacks the files a SIM phone book needs (EF_ADN, EF_SMS), or does "
                    "not answer as a GSM SIM.");
    }
}

void CardSession::readRoom() {
    auto& channel = channel::cardChannel();
    const PhonebookGeometry& g = phonebookGeometry();
    room_.extended = isExtendedLayout(channel, g);
    if (room_.extended) {
        room_.nameSlotLength = static_cast<std::size_t>(std::max(0, g.nameSlotLength));
        room_.numberSlotLength = static_cast<std::size_t>(std::max(0, g.numberSlotLength));
        room_.adnCount = static_cast<std::size_t>(std::max(0, g.adnCount));
        room_.nameSlotCount = static_cast<std::size_t>(std::max(0, g.nameSlotCount));
        room_.numberSlotCount = static_cast<std::size_t>(std::max(0, g.numberSlotCount));
        room_.groupCount = static_cast<std::size_t>(std::max(0, g.groupCount));
        room_.groupNameLength = static_cast<std::size_t>(std::max(0, g.groupNameLength));
        room_.adiCount = static_cast<std::size_t>(std::max(0, g.adiCount));
        room_.adiRecordLength = static_cast<std::size_t>(std::max(0, g.adiRecordLength));
    } else {
        if (auto info = channel::DescribeFile(channel, channel::files::kAdn).info) {
            room_.adnRecordLength = info->recordLength;
            room_.adnRecordCount = info->recordCount();
        }
    }
    if (auto info = channel::DescribeFile(channel, channel::files::kSms).info) {
        stores_.smsRecords = info->fileSize / kSmsRecordLength;
    }
    if (auto info = channel::DescribeFile(channel, channel::files::kExtraMessages).info) {
        stores_.extraFile = true;
        stores_.extraRecords = info->fileSize / kSmsRecordLength;
    }
    std::uint8_t length = 0;
    stores_.extraIndex =
        channel::SelectPath(channel, channel::files::kExtraMessageIndex, 0, length).selected();
}

std::string CardSession::iccid() {
    auto& channel = channel::cardChannel();
    if (!channel::DescribeFile(channel, channel::files::kIccid)) {
        return {};
    }
    std::uint8_t data[10] = {};
    std::uint8_t got = 0;
    if (!channel.ReadBinary(data, sizeof data, 0, &got)) {
        return {};
    }
    std::string digits;
    for (std::size_t i = 0; i < got; ++i) {
        for (const unsigned nibble : {data[i] & 0x0Fu, static_cast<unsigned>(data[i] >> 4)}) {
            if (nibble <= 9) {
                digits.push_back(static_cast<char>('0' + nibble));
            }
        }
    }
    return digits;
}

std::string CardSession::configText() {
    std::string text;
    const std::int32_t rv = library::config(text);
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
