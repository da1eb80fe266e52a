#include "channel/file_map.h"

#include <array>
#include <initializer_list>

namespace zrn::channel {

namespace {

constexpr std::size_t kFileSizeEnd = 4;       // bytes 2-3
constexpr std::size_t kRecordLengthEnd = 15;  // byte 14

std::uint16_t parentId(Parent parent, std::uint16_t phonebookDirectory) {
    switch (parent) {
        case Parent::kMasterFile:
            return fid::kMasterFile;
        case Parent::kTelecom:
            return fid::kTelecom;
        case Parent::kPhonebookDirectory:
            return phonebookDirectory;
        case Parent::kNone:
            break;
    }
    return 0;
}

// MF, then the parent directory when the file lives below one, then the file.
struct Path {
    std::array<std::uint16_t, 3> ids{};
    std::size_t length = 0;
};

Path pathOf(const CardFile& file, std::uint16_t phonebookDirectory) {
    Path path;
    path.ids[path.length++] = fid::kMasterFile;
    if (file.parent != Parent::kNone && file.parent != Parent::kMasterFile) {
        path.ids[path.length++] = parentId(file.parent, phonebookDirectory);
    }
    if (file.id != fid::kMasterFile) {
        path.ids[path.length++] = file.id;
    }
    return path;
}

PathSelection selectIds(CardChannel& channel, const std::uint16_t* ids, std::size_t count,
                        std::uint8_t& responseLength) {
    PathSelection selection;
    for (std::size_t i = 0; i < count; ++i) {
        const Response response = channel.select(ids[i]);
        if (!response.hasResponseWaiting()) {
            selection.ok = false;
            selection.failedStep = ids[i];
            selection.failure = response.status();
            return selection;
        }
        responseLength = response.sw().sw2;
    }
    return selection;
}

PathSelection selectIds(CardChannel& channel, std::initializer_list<std::uint16_t> ids,
                        std::uint8_t& responseLength) {
    return selectIds(channel, ids.begin(), ids.size(), responseLength);
}

int asOpenResult(bool selected) {
    return selected ? 1 : -1;
}

}  // namespace

std::size_t selectionSteps(const CardFile& file, std::uint16_t phonebookDirectory) {
    return pathOf(file, phonebookDirectory).length;
}

PathSelection SelectPath(CardChannel& channel, const CardFile& file,
                         std::uint16_t phonebookDirectory, std::uint8_t& responseLength) {
    const Path path = pathOf(file, phonebookDirectory);
    return selectIds(channel, path.ids.data(), path.length, responseLength);
}

FileDescription DescribeFile(CardChannel& channel, const CardFile& file,
                             std::uint16_t phonebookDirectory, InfoNeeded needed) {
    FileDescription description;
    std::uint8_t responseLength = 0;
    description.path = SelectPath(channel, file, phonebookDirectory, responseLength);
    if (description.path) {
        description.info = FetchFileInfo(channel, responseLength, needed);
    }
    return description;
}

FileDescription DescribeFile(CardChannel& channel, const CardFile& file,
                             std::uint16_t phonebookDirectory) {
    return DescribeFile(channel, file, phonebookDirectory, file.infoNeeded());
}

bool SelectAdnFile(CardChannel& channel, std::uint8_t& responseLength) {
    return SelectPath(channel, files::kAdn, 0, responseLength).selected();
}

bool SelectSmsFile(CardChannel& channel, std::uint8_t& responseLength) {
    return SelectPath(channel, files::kSms, 0, responseLength).selected();
}

bool SelectOptionFile(CardChannel& channel, std::uint8_t& responseLength) {
    return SelectPath(channel, files::kOption, 0, responseLength).selected();
}

bool SelectConfigFile(CardChannel& channel, std::uint16_t phonebookDirectory,
                      std::uint8_t& responseLength) {
    return SelectPath(channel, files::kConfig, phonebookDirectory, responseLength).selected();
}

bool SelectNameFile(CardChannel& channel, std::uint16_t phonebookDirectory,
                    std::uint8_t& responseLength) {
    return SelectPath(channel, files::kName, phonebookDirectory, responseLength).selected();
}

bool SelectNumberFile(CardChannel& channel, std::uint16_t phonebookDirectory,
                      std::uint8_t& responseLength) {
    return SelectPath(channel, files::kNumber, phonebookDirectory, responseLength).selected();
}

bool SelectAdiFile(CardChannel& channel, std::uint16_t phonebookDirectory,
                   std::uint8_t& responseLength) {
    return SelectPath(channel, files::kAdi, phonebookDirectory, responseLength).selected();
}

bool SelectGroupFile(CardChannel& channel, std::uint16_t phonebookDirectory,
                     std::uint8_t& responseLength) {
    return SelectPath(channel, files::kGroup, phonebookDirectory, responseLength).selected();
}

int OpenMessageFile(std::uint8_t& responseLength, CardChannel& channel) {
    return asOpenResult(SelectPath(channel, files::kSms, 0, responseLength).selected());
}

int OpenExtraMessageFile(std::uint8_t& responseLength, CardChannel& channel) {
    return asOpenResult(SelectPath(channel, files::kExtraMessages, 0, responseLength).selected());
}

int OpenExtraMessageIndex(std::uint8_t& responseLength, CardChannel& channel) {
    return asOpenResult(
        SelectPath(channel, files::kExtraMessageIndex, 0, responseLength).selected());
}

bool FindPhonebookDirectory(CardChannel& channel, std::uint16_t& phonebookDirectory) {
    std::uint8_t ignored = 0;
    if (!selectIds(channel, {fid::kMasterFile}, ignored)) {
        return false;
    }
    if (selectIds(channel, {fid::kTelecom, fid::kName}, ignored)) {
        phonebookDirectory = fid::kTelecom;
        return true;
    }
    if (!selectIds(channel, {fid::kMasterFile, fid::kSecondDirectory, fid::kName}, ignored)) {
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
