#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "channel/bytes.h"

namespace zrn::sim {

enum class FileKind { kMaster, kDedicated, kTransparent, kLinearFixed, kCyclic };
// GSM 11.11 9.3: ADM stands for the administrative levels 4 to E, which no
// holder of the card can fulfil.
enum class Access { kAlways, kChv1, kChv2, kAdm, kNever };

struct SimFile {
    std::uint16_t id = 0;
    FileKind kind = FileKind::kTransparent;
    // Transparent: the content. Linear fixed: records back to back. Cyclic:
    // records back to back, record 1 (the last one written) first.
    Bytes data;
    std::uint8_t recordLength = 0;  // linear fixed and cyclic only
    Access readAccess = Access::kAlways;
    Access updateAccess = Access::kAlways;
    std::vector<SimFile> children;  // MF and DFs
    Access increaseAccess = Access::kNever;
    Access invalidateAccess = Access::kAdm;
    Access rehabilitateAccess = Access::kAdm;
    bool invalidated = false;

    bool isDirectory() const { return kind == FileKind::kMaster || kind == FileKind::kDedicated; }
    bool hasRecords() const { return kind == FileKind::kLinearFixed || kind == FileKind::kCyclic; }
    std::size_t recordCount() const { return recordLength == 0 ? 0 : data.size() / recordLength; }
    // Looks among the direct children only.
    SimFile* child(std::uint16_t childId);
    const SimFile* child(std::uint16_t childId) const;

    bool operator==(const SimFile& other) const = default;
};

struct Chv {
    bool enabled = false;
    std::string pin = "0000";
    int attemptsLeft = 3;
    int maxAttempts = 3;
    std::string puk = "00000000";
    int pukAttemptsLeft = 10;

    bool operator==(const Chv& other) const = default;
};

// A whole card: its ATR, the file tree under MF 3F00, CHV1 and, when the
// card has one, CHV2.
struct CardImage {
    Bytes atr;
    SimFile master{0x3F00, FileKind::kMaster, {}, 0, Access::kAlways, Access::kAlways, {}};
    Chv chv1;
    std::optional<Chv> chv2;  // absent: CHV2 not initialised
    Bytes ki;                 // 16 bytes for RUN GSM ALGORITHM; empty: defaultKi()

    bool operator==(const CardImage& other) const = default;

    // Path from the MF, MF excluded: {0x7F10, 0x6F3A}; {} is the MF itself.
    // Pointers and references into the tree stay valid until a file is added
    // to or removed from the same directory.
    SimFile* find(std::initializer_list<std::uint16_t> path);
    const SimFile* find(std::initializer_list<std::uint16_t> path) const;
    // Creates missing directories on the way; replaces an existing file of the same id.
    // Throws std::invalid_argument when the path is empty or runs through an EF.
    SimFile& putTransparent(std::initializer_list<std::uint16_t> path, Bytes content);
    SimFile& putLinearFixed(std::initializer_list<std::uint16_t> path, std::uint8_t recordLength,
                            std::size_t recordCount, std::uint8_t fill = 0xFF);
    SimFile& putCyclic(std::initializer_list<std::uint16_t> path, std::uint8_t recordLength,
                       std::size_t recordCount, std::uint8_t fill = 0xFF);
    bool remove(std::initializer_list<std::uint16_t> path);
    // Record `index` (0-based) of a linear fixed or cyclic file; empty when absent.
    Bytes record(std::initializer_list<std::uint16_t> path, std::size_t index) const;
    // Writes `bytes` at the start of the record and fills the rest with FF.
    // Throws std::invalid_argument when the file or record is absent or the
    // bytes are longer than the record.
    void setRecord(std::initializer_list<std::uint16_t> path, std::size_t index, ByteView bytes);

    // The same operations with a path held in a vector.
    SimFile* find(const std::vector<std::uint16_t>& path);
    const SimFile* find(const std::vector<std::uint16_t>& path) const;
};

// The names of access conditions in card images: "always", "chv1", "chv2", "adm", "never".
std::string accessName(Access access);

// Card images as JSON text (see sim/README.md). Loading throws std::runtime_error
// naming what is wrong.
CardImage parseImage(const std::string& json);
std::string serializeImage(const CardImage& image);
CardImage loadImage(const std::string& path);
void saveImage(const CardImage& image, const std::string& path);

}  // namespace zrn::sim
