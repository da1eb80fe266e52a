#pragma once

#include <cstdint>
#include <optional>

#include "channel/card_channel.h"
#include "channel/response.h"

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
constexpr std::uint16_t kIccid = 0x2FE2;
constexpr std::uint16_t kConfig = 0x9000;
constexpr std::uint16_t kName = 0x6F04;
constexpr std::uint16_t kNumber = 0x6F06;
constexpr std::uint16_t kAdi = 0x6F08;
constexpr std::uint16_t kGroup = 0x6F0C;
}  // namespace fid

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

enum class FileStructure : std::uint8_t { kDirectory, kTransparent, kLinearFixed };

// Where a file hangs: the MF, the telecom directory, or the phone-book
// directory that connection found (7F10 or 5F00; 0000 before it found one).
enum class Parent : std::uint8_t { kNone, kMasterFile, kTelecom, kPhonebookDirectory };

// One card file as the library knows it.
struct CardFile {
    const char* name;
    std::uint16_t id;
    Parent parent;
    FileStructure structure;

    // How the selection response describes it: size only for transparent
    // files, size and record length for linear fixed ones.
    InfoNeeded infoNeeded() const {
        return structure == FileStructure::kLinearFixed ? InfoNeeded::kFileSizeAndRecordLength
                                                        : InfoNeeded::kFileSize;
    }
};

// The card files the library reaches, in one table.
namespace files {
using S = FileStructure;
inline constexpr CardFile kMasterFile{"MF", fid::kMasterFile, Parent::kNone, S::kDirectory};
inline constexpr CardFile kTelecom{"DF_TELECOM", fid::kTelecom, Parent::kMasterFile, S::kDirectory};
inline constexpr CardFile kSecondDirectory{"DF 5F00", fid::kSecondDirectory, Parent::kMasterFile,
                                           S::kDirectory};
inline constexpr CardFile kAdn{"EF_ADN", fid::kAdn, Parent::kTelecom, S::kLinearFixed};
inline constexpr CardFile kSms{"EF_SMS", fid::kSms, Parent::kTelecom, S::kLinearFixed};
inline constexpr CardFile kExtraMessages{"extra message file", fid::kExtraMessages,
                                         Parent::kTelecom, S::kLinearFixed};
inline constexpr CardFile kExtraMessageIndex{"extra message index", fid::kExtraMessageIndex,
                                             Parent::kTelecom, S::kTransparent};
inline constexpr CardFile kOption{"option file", fid::kOption, Parent::kMasterFile,
                                  S::kTransparent};
inline constexpr CardFile kIccid{"EF_ICCID", fid::kIccid, Parent::kMasterFile, S::kTransparent};
inline constexpr CardFile kConfig{"configuration file", fid::kConfig, Parent::kPhonebookDirectory,
                                  S::kTransparent};
inline constexpr CardFile kName{"name file", fid::kName, Parent::kPhonebookDirectory,
                                S::kTransparent};
inline constexpr CardFile kNumber{"number file", fid::kNumber, Parent::kPhonebookDirectory,
                                  S::kTransparent};
inline constexpr CardFile kAdi{"ADI file", fid::kAdi, Parent::kPhonebookDirectory, S::kLinearFixed};
inline constexpr CardFile kGroup{"group file", fid::kGroup, Parent::kPhonebookDirectory,
                                 S::kLinearFixed};
}  // namespace files

// How a path selection ended. Each successful SELECT stores its SW2 in the
// caller's response length, so after a full path it holds the response
// length of the file; after a failure, that of the last step that succeeded.
struct PathSelection {
    bool ok = true;
    std::uint16_t failedStep = 0;  // the identifier whose SELECT failed
    Status failure = Status::fromCard({0x9F, 0x00});

    bool selected() const { return ok; }
    explicit operator bool() const { return selected(); }
    // The card said the file, or a directory on its path, does not exist.
    bool notFound() const { return !selected() && failure.notFound(); }
};

// The SELECT commands SelectPath sends for `file` when every step succeeds.
std::size_t selectionSteps(const CardFile& file, std::uint16_t phonebookDirectory);

// SELECT every step from MF 3F00 to `file`, stopping at the first that fails.
PathSelection SelectPath(CardChannel& channel, const CardFile& file,
                         std::uint16_t phonebookDirectory, std::uint8_t& responseLength);

// A file selected and described by its selection response.
struct FileDescription {
    PathSelection path;
    std::optional<FileInfo> info;  // empty when the path or GET RESPONSE failed

    explicit operator bool() const { return info.has_value(); }
};

// SelectPath, then GET RESPONSE for what the file's structure needs (or `needed`).
FileDescription DescribeFile(CardChannel& channel, const CardFile& file,
                             std::uint16_t phonebookDirectory = 0);
FileDescription DescribeFile(CardChannel& channel, const CardFile& file,
                             std::uint16_t phonebookDirectory, InfoNeeded needed);

// The named path operations. Each successful SELECT stores its SW2 in `responseLength`.
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

// Fetches the selection response with GET RESPONSE for exactly `responseLength`
// bytes. Fails when GET RESPONSE fails or the response is too short to hold
// the fields asked for.
std::optional<FileInfo> FetchFileInfo(CardChannel& channel, std::uint8_t responseLength,
                                      InfoNeeded needed);

}  // namespace zrn::channel
