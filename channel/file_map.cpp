#include "channel/file_map.h"

#include <array>
#include <initializer_list>

namespace zrn::channel {

namespace {

bool selectPath(CardChannel& channel, std::initializer_list<std::uint16_t> path,
                std::uint8_t& responseLength) {
    for (std::uint16_t id : path) {
        if (!channel.SelectFile(id, responseLength)) {
            return false;
        }
    }
    return true;
}

bool selectInPhonebookDirectory(CardChannel& channel, std::uint16_t directory, std::uint16_t file,
                                std::uint8_t& responseLength) {
    return selectPath(channel, {fid::kMasterFile, directory, file}, responseLength);
}

int asOpenResult(bool selected) {
    return selected ? 1 : -1;
}

constexpr std::size_t kFileSizeEnd = 4;       // bytes 2-3
constexpr std::size_t kRecordLengthEnd = 15;  // byte 14

}  // namespace

bool SelectAdnFile(CardChannel& channel, std::uint8_t& responseLength) {
    return selectPath(channel, {fid::kMasterFile, fid::kTelecom, fid::kAdn}, responseLength);
}

bool SelectSmsFile(CardChannel& channel, std::uint8_t& responseLength) {
    return selectPath(channel, {fid::kMasterFile, fid::kTelecom, fid::kSms}, responseLength);
}

bool SelectOptionFile(CardChannel& channel, std::uint8_t& responseLength) {
    return selectPath(channel, {fid::kMasterFile, fid::kOption}, responseLength);
}

bool SelectConfigFile(CardChannel& channel, std::uint16_t phonebookDirectory,
                      std::uint8_t& responseLength) {
    return selectInPhonebookDirectory(channel, phonebookDirectory, fid::kConfig, responseLength);
}

bool SelectNameFile(CardChannel& channel, std::uint16_t phonebookDirectory,
                    std::uint8_t& responseLength) {
    return selectInPhonebookDirectory(channel, phonebookDirectory, fid::kName, responseLength);
}

bool SelectNumberFile(CardChannel& channel, std::uint16_t phonebookDirectory,
                      std::uint8_t& responseLength) {
    return selectInPhonebookDirectory(channel, phonebookDirectory, fid::kNumber, responseLength);
}

bool SelectAdiFile(CardChannel& channel, std::uint16_t phonebookDirectory,
                   std::uint8_t& responseLength) {
    return selectInPhonebookDirectory(channel, phonebookDirectory, fid::kAdi, responseLength);
}

bool SelectGroupFile(CardChannel& channel, std::uint16_t phonebookDirectory,
                     std::uint8_t& responseLength) {
    return selectInPhonebookDirectory(channel, phonebookDirectory, fid::kGroup, responseLength);
}

int OpenMessageFile(std::uint8_t& responseLength, CardChannel& channel) {
    return asOpenResult(
        selectPath(channel, {fid::kMasterFile, fid::kTelecom, fid::kSms}, responseLength));
}

int OpenExtraMessageFile(std::uint8_t& responseLength, CardChannel& channel) {
    return asOpenResult(selectPath(channel, {fid::kMasterFile, fid::kTelecom, fid::kExtraMessages},
                                   responseLength));
}

int OpenExtraMessageIndex(std::uint8_t& responseLength, CardChannel& channel) {
    return asOpenResult(selectPath(
        channel, {fid::kMasterFile, fid::kTelecom, fid::kExtraMessageIndex}, responseLength));
}

bool FindPhonebookDirectory(CardChannel& channel, std::uint16_t& phonebookDirectory) {
    std::uint8_t ignored = 0;
    if (!channel.SelectFile(fid::kMasterFile, ignored)) {
        return false;
    }
    if (channel.SelectFile(fid::kTelecom, ignored) && channel.SelectFile(fid::kName, ignored)) {
        phonebookDirectory = fid::kTelecom;
        return true;
    }
    if (!selectPath(channel, {fid::kMasterFile, fid::kSecondDirectory, fid::kName}, ignored)) {
        return false;
    }
    phonebookDirectory = fid::kSecondDirectory;
    return true;
}

std::optional<FileInfo> FetchFileInfo(CardChannel& channel, std::uint8_t responseLength,
                                      InfoNeeded needed) {
    const std::size_t required = needed == InfoNeeded::kFileSize ? kFileSizeEnd : kRecordLengthEnd;
    if (responseLength < required) {
        return std::nullopt;
    }
    std::array<std::uint8_t, 255> response{};
    std::uint8_t received = 0;
    if (!channel.GetResponse(response.data(), responseLength, &received) || received < required) {
        return std::nullopt;
    }
    FileInfo info;
    info.fileSize = readBe16(&response[2]);
    if (needed == InfoNeeded::kFileSizeAndRecordLength) {
        info.recordLength = response[14];
    }
    return info;
}

}  // namespace zrn::channel
