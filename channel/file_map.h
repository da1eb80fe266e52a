#pragma once

#include <cstdint>
#include <optional>

#include "channel/card_channel.h"

namespace zrn::channel {

// GSM 11.11 and vendor file identifiers the library reaches.
namespace fid {
constexpr std::uint16_t kMasterFile = 0x3F00;
constexpr std::uint16_t kTelecom = 0x7F10;
constexpr std::uint16_t kSecondDirectory = 0x5F00;
constexpr std::uint16_t kAdn = 0x6F3A;
constexpr std::uint16_t kSms = 0x6F3C;
constexpr std::uint16_t kExtraMessages = 0x1F3C;
constexpr std::uint16_t kExtraMessageIndex = 0x1F02;
constexpr std::uint16_t kOption = 0x2F99;
constexpr std::uint16_t kConfig = 0x9000;
constexpr std::uint16_t kName = 0x6F04;
constexpr std::uint16_t kNumber = 0x6F06;
constexpr std::uint16_t kAdi = 0x6F08;
constexpr std::uint16_t kGroup = 0x6F0C;
}  // namespace fid

// Path operations: SELECT every step from MF 3F00, stopping at the first that
// fails. Each successful SELECT stores its SW2 in `responseLength`, so after a
// full path it holds the response length of the elementary file.
bool SelectAdnFile(CardChannel& channel, std::uint8_t& responseLength);
bool SelectSmsFile(CardChannel& channel, std::uint8_t& responseLength);
bool SelectOptionFile(CardChannel& channel, std::uint8_t& responseLength);
bool SelectConfigFile(CardChannel& channel, std::uint16_t phonebookDirectory,
                      std::uint8_t& responseLength);
bool SelectNameFile(CardChannel& channel, std::uint16_t phonebookDirectory,
                    std::uint8_t& responseLength);
bool SelectNumberFile(CardChannel& channel, std::uint16_t phonebookDirectory,
                      std::uint8_t& responseLength);
bool SelectAdiFile(CardChannel& channel, std::uint16_t phonebookDirectory,
                   std::uint8_t& responseLength);
bool SelectGroupFile(CardChannel& channel, std::uint16_t phonebookDirectory,
                     std::uint8_t& responseLength);

// The short-message paths answer 1 on success and -1 on failure.
int OpenMessageFile(std::uint8_t& responseLength, CardChannel& channel);
int OpenExtraMessageFile(std::uint8_t& responseLength, CardChannel& channel);
int OpenExtraMessageIndex(std::uint8_t& responseLength, CardChannel& channel);

// Looks for the name file under 7F10, then under 5F00; on success stores the
// directory that holds it. A failed search leaves `phonebookDirectory` alone.
bool FindPhonebookDirectory(CardChannel& channel, std::uint16_t& phonebookDirectory);

// What a caller learns from a selection response (GSM 11.11 9.2.1).
struct FileInfo {
    std::uint16_t fileSize = 0;
    std::uint8_t recordLength = 0;

    // A record length of 0 describes no records at all.
    std::uint32_t recordCount() const {
        return recordLength == 0 ? 0u : static_cast<std::uint32_t>(fileSize / recordLength);
    }
};

enum class InfoNeeded {
    kFileSize,                 // bytes 2-3
    kFileSizeAndRecordLength,  // bytes 2-3 and byte 14
};

// Fetches the selection response with GET RESPONSE for exactly `responseLength`
// bytes. Fails when GET RESPONSE fails or the response is too short to hold
// the fields asked for.
std::optional<FileInfo> FetchFileInfo(CardChannel& channel, std::uint8_t responseLength,
                                      InfoNeeded needed);

}  // namespace zrn::channel
