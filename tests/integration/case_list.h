#pragma once

// The end-to-end cases that every real stack runs: the Linux host through
// pcscd and zrn-virtual-card against libzrn.so, and the Win32 host under Wine
// against ZRN.dll. A case sees the library only through its seven exports
// and the reader only through CardStack, so the same code serves both.

#include <array>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/card_image.h"
#include "zrn.h"

namespace zrn::integration {

// The seven exports as a host finds them in the loaded library.
struct Exports {
    std::int32_t(ZRN_CALL* ConnectReader)(ZRN_CARD_HANDLE handle) = nullptr;
    std::int32_t(ZRN_CALL* GetConfig)(char* text) = nullptr;
    std::int32_t(ZRN_CALL* GetErrMsg)(std::int32_t code, char* text) = nullptr;
    std::int32_t(ZRN_CALL* ReadSMS)(std::int32_t* count, std::int32_t* length,
                                    unsigned char* buffer) = nullptr;
    std::int32_t(ZRN_CALL* ReadZRN)(std::int32_t* count, std::int32_t* length,
                                    unsigned char* buffer) = nullptr;
    std::int32_t(ZRN_CALL* WriteSMS)(std::int32_t count, std::int32_t length,
                                     const unsigned char* stream) = nullptr;
    std::int32_t(ZRN_CALL* WriteZRN)(std::int32_t count, std::int32_t length,
                                     const unsigned char* stream) = nullptr;
};

// The export names in ordinal order: name i has ordinal i + 1.
constexpr std::array<const char*, 7> kExportNames = {
    "ConnectReader", "GetConfig", "GetErrMsg", "ReadSMS", "ReadZRN", "WriteSMS", "WriteZRN"};

// Fills `exports` from a lookup by name (the order of kExportNames); returns
// the names that were not found.
template <typename Lookup>
std::vector<std::string> resolveExports(Exports& exports, Lookup&& lookup) {
    std::vector<std::string> missing;
    auto take = [&](auto& slot, const char* name) {
        void* address = lookup(name);
        if (address == nullptr) {
            missing.emplace_back(name);
        }
        slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(address);
    };
    take(exports.ConnectReader, kExportNames[0]);
    take(exports.GetConfig, kExportNames[1]);
    take(exports.GetErrMsg, kExportNames[2]);
    take(exports.ReadSMS, kExportNames[3]);
    take(exports.ReadZRN, kExportNames[4]);
    take(exports.WriteSMS, kExportNames[5]);
    take(exports.WriteZRN, kExportNames[6]);
    return missing;
}

// A reader with one slot, reached through the platform's PC/SC interface.
class CardStack {
  public:
    virtual ~CardStack() = default;
    // Puts the card into the reader and connects to it (shared, T=0) the way
    // a host does; returns the host's card handle.
    virtual ZRN_CARD_HANDLE insert(const sim::CardImage& image) = 0;
    // Disconnects, takes the card out and returns it as the commands left it.
    virtual sim::CardImage remove() = 0;
};

// A stack that cannot go on (a daemon died, a card was not detected).
class StackError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Collects the failed expectations of one case.
class Checks {
  public:
    void expect(bool ok, const std::string& what);
    void expectCode(std::int32_t actual, std::int32_t expected, const std::string& what);
    void expectText(const std::string& actual, const std::string& expected,
                    const std::string& what);
    void expectBytes(ByteView actual, ByteView expected, const std::string& what);
    const std::vector<std::string>& failures() const { return failures_; }

  private:
    std::vector<std::string> failures_;
};

struct Case {
    const char* name;
    void (*run)(const Exports& exports, CardStack& stack, Checks& checks);
};

// Every case, in the order the hosts run them.
std::span<const Case> integrationCases();

}  // namespace zrn::integration
