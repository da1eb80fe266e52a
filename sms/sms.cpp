// The steps behind ReadSMS and WriteSMS, and the same steps for tools that
// work with records rather than a host buffer.
#include "sms/sms.h"

#include "results/result_codes.h"
#include "sms/sms_codec.h"

namespace zrn::sms {

namespace {

std::optional<MessageKind> kindOfHead(ByteView stream, std::size_t offset) {
    for (MessageKind kind : {MessageKind::kCms, MessageKind::kLms, MessageKind::kEms}) {
        if (isHeadAt(stream, offset, kind)) {
            return kind;
        }
    }
    return std::nullopt;
}

}  // namespace

std::int32_t readMessages(channel::CardChannel& channel, std::int32_t& count, std::int32_t& length,
                          std::uint8_t* buffer) {
    SmsCodec codec;
    return translateOutcome(codec.ReadMessages(count, length, buffer, channel));
}

std::int32_t writeMessages(channel::CardChannel& channel, std::int32_t count, std::int32_t length,
                           const std::uint8_t* stream) {
    SmsCodec codec;
    return translateOutcome(codec.WriteMessages(count, length, stream, channel));
}

std::int32_t writeMessageImages(StoreImages& images, std::int32_t count, ByteView stream) {
    if (count < 0) {
        return translateOutcome(outcome::kBadStream);
    }
    SmsCodec codec;
    return translateOutcome(codec.WriteMessageImages(count, stream, images));
}

std::int32_t readMessageRecords(channel::CardChannel& channel,
                                std::vector<MessageRecord>& messages) {
    Bytes buffer(kMaxStoredMessages * kElementLength);
    std::int32_t count = 0;
    std::int32_t length = 0;
    const std::int32_t result = readMessages(channel, count, length, buffer.data());
    if (result != zrn::result::kOk) {
        return result;
    }
    buffer.resize(static_cast<std::size_t>(length));
    auto decoded = decodeMessageStream(buffer);
    if (!decoded) {
        return zrn::result::kInternal;  // the reader wrote something it cannot parse back
    }
    messages = std::move(*decoded);
    return result;
}

std::int32_t writeMessageRecords(channel::CardChannel& channel,
                                 const std::vector<MessageRecord>& messages) {
    const Bytes stream = encodeMessageStream(messages);
    return writeMessages(channel, static_cast<std::int32_t>(messages.size()),
                         static_cast<std::int32_t>(stream.size()), stream.data());
}

Bytes encodeMessageStream(const std::vector<MessageRecord>& messages) {
    Bytes stream(messages.size() * kElementLength);
    std::int32_t position = 0;
    for (const MessageRecord& message : messages) {
        SmsCodec::PutSmsHead(position, stream.data(), message.kind);
        SmsCodec::PutHexRecord(kRecordLength, message.bytes.data(), stream.data(), position);
    }
    return stream;
}

std::optional<std::vector<MessageRecord>> decodeMessageStream(ByteView stream) {
    if (stream.size() % kElementLength != 0) {
        return std::nullopt;
    }
    std::vector<MessageRecord> messages;
    messages.reserve(stream.size() / kElementLength);
    for (std::size_t offset = 0; offset < stream.size(); offset += kElementLength) {
        const auto kind = kindOfHead(stream, offset);
        const ByteView text = stream.subspan(offset + kHeadLength, kHexTextLength);
        if (!kind || !isHexText(text)) {
            return std::nullopt;
        }
        MessageRecord& message = messages.emplace_back();
        message.kind = *kind;
        SmsCodec::HexToBytes(text, message.bytes);
    }
    return messages;
}

}  // namespace zrn::sms
