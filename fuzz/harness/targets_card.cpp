// The reading exports over fuzzed card contents, and every export against a
// card that lies in its answers.
#include <algorithm>

#include "fuzz/harness/answer_rewriter.h"
#include "fuzz/harness/byte_source.h"
#include "fuzz/harness/card_recipe.h"
#include "fuzz/harness/checked_calls.h"
#include "fuzz/harness/contracts.h"
#include "fuzz/harness/targets.h"
#include "sim/samples.h"
#include "sms/sms.h"

namespace zrn::fuzz {

namespace {

void requireReadOnly(const sim::SimCard& card, const sim::CardImage& before, const char* what) {
    require(!sentUpdate(card), std::string(what) + " sent an UPDATE command");
    require(card.image() == before, std::string(what) + " changed the card");
}

// Mangles the honest answer as the fuzz input says: one control byte per
// command, honest when the input has run out.
class Lies {
  public:
    explicit Lies(ByteSource& in) : in_(in) {}

    long operator()(ByteView, Bytes& response) {
        const std::uint8_t control = in_.u8();
        const std::size_t amount = control & 0x1Fu;
        switch (control >> 5) {
            case 4:
                replaceStatus(response);
                break;
            case 5:
                response.resize(std::min(response.size(), amount));
                break;
            case 6:
                addData(response, amount + 1);
                break;
            case 7:
                if (control == 0xFF) {
                    return kTransportError;
                }
                patchByte(response);
                break;
            default:
                break;  // honest
        }
        return 0;
    }

  private:
    static constexpr long kTransportError = 0x80100016L;  // SCARD_E_NOT_TRANSACTED

    void replaceStatus(Bytes& response) {
        response.resize(std::max<std::size_t>(response.size(), 2));
        response[response.size() - 2] = in_.u8();
        response[response.size() - 1] = in_.u8();
    }
    void addData(Bytes& response, std::size_t count) {
        const std::size_t at = response.size() >= 2 ? response.size() - 2 : 0;
        Bytes extra(count, 0x00);
        const ByteView given = in_.take(count);
        std::copy(given.begin(), given.end(), extra.begin());
        response.insert(response.begin() + static_cast<std::ptrdiff_t>(at), extra.begin(),
                        extra.end());
    }
    void patchByte(Bytes& response) {
        const std::uint8_t where = in_.u8();
        const std::uint8_t value = in_.u8();
        if (!response.empty()) {
            response[where % response.size()] = value;
        }
    }

    ByteSource& in_;
};

const sim::CardImage& sampleCard(bool extended) {
    static const sim::CardImage kExtended = sim::extendedSample();
    static const sim::CardImage kStandard = sim::standardSample();
    return extended ? kExtended : kStandard;
}

}  // namespace

void runReadZrn(ByteView input) {
    auto image = cardFromRecipe(input);
    if (!image) {
        return;
    }
    const sim::CardImage before = *image;
    CardRun run(std::move(*image));
    checkedConnect();
    checkedGetConfig();
    checkedReadZrn();
    requireReadOnly(run.card(), before, "ConnectReader, GetConfig or ReadZRN");
}

void runReadSms(ByteView input) {
    auto image = cardFromRecipe(input);
    if (!image) {
        return;
    }
    const sim::CardImage before = *image;
    const std::size_t bound = storedMessageBound(before);
    CardRun run(std::move(*image));
    checkedConnect();
    checkedReadSms(bound);
    requireReadOnly(run.card(), before, "ConnectReader or ReadSMS");
}

void runLyingCard(ByteView input) {
    ByteSource in(input);
    const bool extended = in.flag();
    CardRun run(sampleCard(extended));
    AnswerRewriter liar(run.card(), Lies(in));
    sim::insertCard(&liar);

    checkedConnect();
    checkedGetConfig();
    const StreamRead phonebook = checkedReadZrn();
    const StreamRead messages = checkedReadSms(sms::kMaxStoredMessages);
    require(!sentUpdate(run.card()), "a reading export sent an UPDATE command");
    if (phonebook.result == 0) {
        checkedWriteZrn(phonebook.count, phonebook.stream);
    }
    if (messages.result == 0) {
        checkedWriteSms(messages.count, messages.stream);
    }
}

}  // namespace zrn::fuzz
