#include "fuzz/harness/checked_calls.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "fuzz/harness/contracts.h"
#include "fuzz/harness/targets.h"
#include "sim/card_builder.h"
#include "zrn.h"

namespace zrn::fuzz {

namespace {

constexpr std::uint8_t kUntouched = 0xA5;
constexpr std::int32_t kUntouchedLength = -0x5A5A;
constexpr std::size_t kSmsElementLength = ZRN_SMS_ELEMENT_SIZE;

class HostBuffer {
  public:
    explicit HostBuffer(std::size_t size)
        : size_(size), bytes_(std::make_unique<std::uint8_t[]>(std::max<std::size_t>(size, 1))) {
        std::fill_n(bytes_.get(), size_, kUntouched);
    }
    std::uint8_t* data() { return bytes_.get(); }
    std::size_t size() const { return size_; }
    bool untouched() const {
        return std::all_of(bytes_.get(), bytes_.get() + size_,
                           [](std::uint8_t b) { return b == kUntouched; });
    }
    Bytes prefix(std::int32_t length) const { return Bytes(bytes_.get(), bytes_.get() + length); }

  private:
    std::size_t size_;
    std::unique_ptr<std::uint8_t[]> bytes_;
};

std::unique_ptr<std::uint8_t[]> exactCopy(ByteView bytes) {
    auto copy = std::make_unique<std::uint8_t[]>(std::max<std::size_t>(bytes.size(), 1));
    std::copy(bytes.begin(), bytes.end(), copy.get());
    return copy;
}

std::string resultText(Export which, std::int32_t result) {
    return std::string(exportName(which)) + " returned " + std::to_string(result);
}

void requireDocumented(Export which, std::int32_t result) {
    require(isDocumentedResult(which, result), resultText(which, result) + ", not documented");
}

bool isConfigText(const std::string& text) {
    int numbers = 0;
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t end = text.find(',', at);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string_view field(text.data() + at, end - at);
        if (!field.empty() && field.front() == '-') {
            field.remove_prefix(1);
        }
        if (field.empty() ||
            !std::all_of(field.begin(), field.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            return false;
        }
        ++numbers;
        at = end + 1;
    }
    return numbers == 7;
}

std::size_t inUse(const sim::SimFile* store) {
    if (store == nullptr || store->recordLength != sim::kSmsRecordLength) {
        return 0;
    }
    std::size_t used = 0;
    for (std::size_t r = 0; r < std::min<std::size_t>(store->recordCount(), 255); ++r) {
        used += store->data[r * sim::kSmsRecordLength] != 0 ? 1u : 0u;
    }
    return used;
}

}  // namespace

CardRun::CardRun(sim::CardImage image) : card_(std::move(image)) {
    resetLibrary();
    sim::insertCard(&card_);
}

CardRun::~CardRun() {
    sim::insertCard(nullptr);
}

std::int32_t checkedConnect() {
    const std::int32_t result = ConnectReader(sim::kSimulatedHandle);
    requireDocumented(Export::kConnectReader, result);
    require(result != 1, "ConnectReader refused a non-zero handle");
    return result;
}

std::int32_t checkedGetConfig(std::string* text) {
    HostBuffer buffer(ZRN_CONFIG_TEXT_SIZE);
    const std::int32_t result = GetConfig(reinterpret_cast<char*>(buffer.data()));
    requireDocumented(Export::kGetConfig, result);
    if (result != 0) {
        require(buffer.untouched(), "GetConfig wrote its buffer and failed");
        return result;
    }
    const std::uint8_t* begin = buffer.data();
    const std::uint8_t* end = std::find(begin, begin + buffer.size(), std::uint8_t{0});
    require(end != begin + buffer.size(), "GetConfig text not terminated within 41 bytes");
    const std::string config(begin, end);
    require(isConfigText(config), "GetConfig text \"" + config + "\" is not seven numbers");
    if (text != nullptr) {
        *text = config;
    }
    return result;
}

StreamRead checkedReadZrn() {
    HostBuffer buffer(ZRN_PHONEBOOK_BUFFER_SIZE);
    StreamRead read;
    std::int32_t length = kUntouchedLength;
    read.result = ReadZRN(&read.count, &length, buffer.data());
    requireDocumented(Export::kReadZRN, read.result);
    if (read.result != 0) {
        require(length == kUntouchedLength && buffer.untouched(),
                resultText(Export::kReadZRN, read.result) + " and changed length or buffer");
        return read;
    }
    require(length >= 0 && static_cast<std::size_t>(length) <= buffer.size(),
            "ReadZRN length " + std::to_string(length) + " outside its buffer");
    read.stream = buffer.prefix(length);
    std::string why;
    const int contacts = countContacts(read.stream, why);
    require(contacts >= 0, "ReadZRN stream malformed: " + why);
    require(contacts == read.count, "ReadZRN count " + std::to_string(read.count) + " for " +
                                        std::to_string(contacts) + " contacts");
    return read;
}

StreamRead checkedReadSms(std::size_t messageCapacity) {
    HostBuffer buffer(kSmsElementLength * messageCapacity);
    StreamRead read;
    std::int32_t length = kUntouchedLength;
    read.result = ReadSMS(&read.count, &length, buffer.data());
    requireDocumented(Export::kReadSMS, read.result);
    if (read.result != 0) {
        return read;
    }
    require(length >= 0 && static_cast<std::size_t>(length) <= buffer.size(),
            "ReadSMS length " + std::to_string(length) + " outside its buffer");
    read.stream = buffer.prefix(length);
    const std::string why = smsStreamProblem(read.stream, read.count);
    require(why.empty(), "ReadSMS stream malformed: " + why);
    return read;
}

std::int32_t checkedWriteZrn(std::int32_t count, ByteView stream) {
    const auto copy = exactCopy(stream);
    const std::int32_t result =
        WriteZRN(count, static_cast<std::int32_t>(stream.size()), copy.get());
    requireDocumented(Export::kWriteZRN, result);
    return result;
}

std::int32_t checkedWriteSms(std::int32_t count, ByteView stream) {
    const auto copy = exactCopy(stream);
    const std::int32_t result =
        WriteSMS(count, static_cast<std::int32_t>(stream.size()), copy.get());
    requireDocumented(Export::kWriteSMS, result);
    return result;
}

bool sentUpdate(const sim::SimCard& card) {
    constexpr std::uint8_t kUpdateBinary = 0xD6;
    constexpr std::uint8_t kUpdateRecord = 0xDC;
    return std::any_of(card.log().begin(), card.log().end(), [](const sim::Exchange& e) {
        return e.command.size() > 1 &&
               (e.command[1] == kUpdateBinary || e.command[1] == kUpdateRecord);
    });
}

std::size_t storedMessageBound(const sim::CardImage& image) {
    using namespace sim::files;
    return inUse(image.find({kTelecom, kSms})) + inUse(image.find({kTelecom, kExtraMessages}));
}

}  // namespace zrn::fuzz
