#pragma once

// The card's files as they are: every file the tool reads, byte for byte,
// with its size and record length. Backups keep them, restores write them
// back, and the phone book and messages the tool shows are built from them,
// so that every view comes from one reading of each file.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "channel/bytes.h"
#include "channel/card_channel.h"
#include "channel/file_map.h"
#include "connection/geometry.h"
#include "phonebook/card_files.h"

namespace zrn::images {

// The files the tool names, by identifier.
namespace fileId {
inline constexpr std::uint16_t kIccid = channel::files::kIccid.id;
inline constexpr std::uint16_t kAdn = channel::files::kAdn.id;
inline constexpr std::uint16_t kSms = channel::files::kSms.id;
inline constexpr std::uint16_t kExtraMessages = channel::files::kExtraMessages.id;
inline constexpr std::uint16_t kExtraMessageIndex = channel::files::kExtraMessageIndex.id;
}  // namespace fileId

// Linear fixed files are addressed by a one-byte record number.
using phonebook::kMaxRecords;
// A card file as the card layer describes it.
using CardFile = channel::CardFile;

// One card file. A linear fixed file holds its records one after the other
// (at most the 255 a one-byte record number reaches); a transparent file its
// bytes from offset 0.
struct FileImage {
    const channel::CardFile* file = nullptr;
    bool present = false;
    std::uint16_t size = 0;         // the selection response's file size
    std::uint8_t recordLength = 0;  // linear fixed files only
    Bytes data;

    bool linearFixed() const;
    std::size_t recordCount() const;
    ByteView record(std::size_t index) const;
    // Present or not, size and record length: what a byte-for-byte write needs.
    bool sameShape(const FileImage& other) const;
};

// Which files: those of the phone book (both layouts' files, the
// configuration and option files) and those of the messages; the ICCID always.
struct Parts {
    bool phonebook = false;
    bool messages = false;
};

struct CardImages {
    bool extended = false;
    std::uint16_t phonebookDirectory = 0;
    std::vector<FileImage> files;

    const FileImage* find(std::uint16_t id) const;
    FileImage* find(std::uint16_t id);
    // The file's bytes, or nothing when it is absent or was not read.
    const FileImage* present(std::uint16_t id) const;
};

// The files of `parts`, in the order they are read (and written back).
std::vector<const channel::CardFile*> filesOf(Parts parts);
// The files a write of `parts` may change: the configuration, option and
// ICCID files never are.
bool isWritable(const channel::CardFile& file);

// A reading or writing step that did not go through: what failed, in words.
struct Failure {
    std::string what;
};

template <typename T>
struct Result {
    std::optional<T> value;
    Failure failure;

    static Result ok(T v) { return {std::move(v), {}}; }
    static Result failed(std::string what) { return {std::nullopt, {std::move(what)}}; }
    explicit operator bool() const { return value.has_value(); }
};

// Reads every file of `parts` once: a transparent file in pieces of at most
// 255 bytes, a linear fixed one with one READ RECORD per record. A file the
// card says does not exist (94 04, 6A 82) is recorded absent; any other
// failure fails the whole reading.
Result<CardImages> readCardImages(channel::CardChannel& channel, bool extended,
                                  std::uint16_t phonebookDirectory, Parts parts);

// Why the images do not describe the card the session connected to (layout,
// configuration, option flags), or nothing when they do.
std::optional<std::string> disagreement(const CardImages& images,
                                        const PhonebookGeometry& geometry);

// ---- The phone book from the images --------------------------------------

struct PhonebookRead {
    Bytes stream;  // as the library's reader builds it
    std::int32_t count = 0;
    // The TON/NPI byte of every number element, in stream order.
    std::vector<std::uint8_t> tonNpi;
};

Result<PhonebookRead> phonebookFromImages(const CardImages& images,
                                          const PhonebookGeometry& geometry);

// ---- Target images ---------------------------------------------------------

// The phone-book files as the library's writer would leave them after
// writing `stream` (the same refusals, as result codes), with the TON/NPI
// byte of every number marked in `international` (stream order) set to 91.
// `current` gives the files' sizes and the bytes the writer does not touch.
struct PhonebookTarget {
    std::int32_t refusal = 0;  // 0, or the result code WriteZRN gives the stream
    CardImages images;         // the phone-book files only
};
PhonebookTarget phonebookTarget(const CardImages& current, const PhonebookGeometry& geometry,
                                ByteView stream, std::int32_t count,
                                const std::vector<bool>& international);

// ---- Writing -----------------------------------------------------------------

// One record or transparent piece sent.
struct WrittenUnit {
    const channel::CardFile* file = nullptr;
    std::size_t offset = 0;  // into the file's image
    std::size_t length = 0;
};

struct WriteReport {
    bool complete = false;
    std::size_t recordsWritten = 0;
    std::size_t piecesWritten = 0;
    std::vector<WrittenUnit> written;  // in the order sent
    std::string failure;               // when not complete
    bool anythingWritten() const { return recordsWritten + piecesWritten > 0; }
};

// What writeDifferences would send: the records and pieces that differ.
struct Differences {
    std::size_t records = 0;
    std::size_t pieces = 0;
};
Differences countDifferences(const CardImages& current, const CardImages& target);

// Writes the records and 255-byte pieces of `target` that differ from
// `current` (files absent from `current`, or of another shape, are refused
// before anything is written). Files are taken in the order of `target`.
WriteReport writeDifferences(channel::CardChannel& channel, const CardImages& current,
                             const CardImages& target);

// Reads back every unit `report` wrote and compares it with `target`.
struct ReadBack {
    bool readFailed = false;
    std::optional<std::string> difference;  // the read failure or the first difference
};
ReadBack readBackWritten(channel::CardChannel& channel, const CardImages& target,
                         const WriteReport& report);

// The first byte where `actual` differs from `expected`, in words, for the
// files of `expected`; nothing when all agree.
std::optional<std::string> firstImageDifference(const CardImages& expected,
                                                const CardImages& actual);

// Only the files of `expected` that `parts` names, in its order.
CardImages select(const CardImages& images, Parts parts, bool writableOnly);

// ---- The same on the process channel and the geometry connection read ----
// (the tool's entry points: it names no channel and no geometry)

Result<CardImages> readCardImages(bool extended, Parts parts);
std::optional<std::string> disagreement(const CardImages& images);
Result<PhonebookRead> phonebookFromImages(const CardImages& images);
PhonebookTarget phonebookTarget(const CardImages& current, ByteView stream, std::int32_t count,
                                const std::vector<bool>& international);
WriteReport writeDifferences(const CardImages& current, const CardImages& target);
ReadBack readBackWritten(const CardImages& target, const WriteReport& report);

// ---- Messages from the images ---------------------------------------------

// The message stream of the stores' images as ReadSMS builds it: EF_SMS,
// then the extra file's records its index marks 2 or 3 (all of them without
// an index), then those it marks 1; free records left out.
Result<Bytes> messageStreamOf(const CardImages& images);

// A free record (status 00) of a message store, by its place.
struct FreeRecord {
    const char* store;  // "CMS", "LMS" or "EMS" (by the index)
    int position;       // the record number in its file, from 1
    ByteView bytes;     // into the images
};
std::vector<FreeRecord> freeMessageRecords(const CardImages& images);

}  // namespace zrn::images
