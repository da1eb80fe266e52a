#include "tools/virtual_card/card_server.h"

#include "sim/card_builder.h"

namespace zrn::virtual_card {

namespace {
// Answer to a command the card model could not answer at all (its transport
// failed): "technical problem, no precise diagnosis" (GSM 11.11 9.4.1).
const Bytes kTechnicalProblem{0x6F, 0x00};

constexpr std::size_t kHeaderLength = 5;

// Commands whose data are secret codes (GSM 11.11 9.2): VERIFY, CHANGE,
// DISABLE, ENABLE and UNBLOCK CHV.
bool carriesSecretCode(ByteView apdu) {
    if (apdu.size() <= kHeaderLength) {
        return false;
    }
    switch (apdu[1]) {
        case 0x20:
        case 0x24:
        case 0x26:
        case 0x28:
        case 0x2C:
            return true;
        default:
            return false;
    }
}
}  // namespace

std::string commandForLog(ByteView apdu) {
    if (!carriesSecretCode(apdu)) {
        return toHex(apdu);
    }
    std::string text = toHex(apdu.first(kHeaderLength));
    for (std::size_t i = kHeaderLength; i < apdu.size(); ++i) {
        text += " **";
    }
    return text;
}

Bytes servedAtr(const sim::CardImage& image) {
    return image.atr.empty() ? sim::defaultAtr() : image.atr;
}

CardServer::CardServer(sim::SimCard& card, Bytes atr, std::ostream* log)
    : card_(card), atr_(std::move(atr)), log_(log) {}

std::optional<Bytes> CardServer::handle(ByteView message) {
    if (message.size() == 1) {
        return control(message[0]);
    }
    return command(message);
}

std::optional<Bytes> CardServer::control(std::uint8_t code) {
    switch (code) {
        case kPowerOff:
            logNote("power off");
            card_.reset();
            return std::nullopt;
        case kPowerOn:
            logNote("power on");
            card_.reset();
            return std::nullopt;
        case kReset:
            logNote("reset");
            card_.reset();
            return std::nullopt;
        case kSendAtr:
            // The driver asks for the ATR every few hundred milliseconds to
            // see whether the card is still there; not worth a log line.
            return atr_;
        default:
            logLine("? control", ByteView(&code, 1));
            return std::nullopt;
    }
}

Bytes CardServer::command(ByteView apdu) {
    ++commands_;
    if (log_ != nullptr) {
        *log_ << "> " << commandForLog(apdu) << std::endl;
    }
    Bytes response;
    if (card_.transmit(apdu, response) != 0 || response.size() < 2) {
        response = kTechnicalProblem;
    }
    logLine("<", response);
    return response;
}

void CardServer::logLine(const char* direction, ByteView bytes) {
    if (log_ != nullptr) {
        *log_ << direction << ' ' << toHex(bytes) << std::endl;
    }
}

void CardServer::logNote(const char* note) {
    if (log_ != nullptr) {
        *log_ << "# " << note << std::endl;
    }
}

}  // namespace zrn::virtual_card
