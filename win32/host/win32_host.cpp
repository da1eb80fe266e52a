// The test host, 32-bit or 64-bit like the ZRN.dll it is built with: loads
// ZRN.dll with LoadLibrary, as a Windows host application would, finds every
// export by name and by ordinal, and runs the shared end-to-end cases against
// it with the test winscard.dll's reader.
//
//   wine zrn_win32_host.exe PATH\TO\ZRN.dll [case-name ...]          (32-bit)
//   /usr/lib/wine/wine64 zrn_win32_host.exe PATH\TO\ZRN.dll [...]     (64-bit)
#include <windows.h>
#include <winscard.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "sim/card_image.h"
#include "tests/integration/case_list.h"
#include "win32/test_winscard/test_card.h"

namespace zrn::integration {
namespace {

// The host runs as wide as the ZRN.dll it loads: Windows loads no 32-bit DLL
// into a 64-bit process, nor the other way round.
constexpr const char* kStackName = sizeof(void*) == 8 ? "Win64Stack" : "Win32Stack";

std::string scardText(LONG rv) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(rv));
    return text;
}

// The test winscard.dll's reader, used through the PC/SC calls of a host.
class Win32Stack final : public CardStack {
  public:
    Win32Stack() {
        const HMODULE winscard = GetModuleHandleA("winscard.dll");
        insertCard_ = reinterpret_cast<ZrnTestInsertCardFn>(
            reinterpret_cast<void*>(GetProcAddress(winscard, "ZrnTestInsertCard")));
        removeCard_ = reinterpret_cast<ZrnTestRemoveCardFn>(
            reinterpret_cast<void*>(GetProcAddress(winscard, "ZrnTestRemoveCard")));
        if (insertCard_ == nullptr || removeCard_ == nullptr) {
            throw StackError(
                "the winscard.dll loaded is not the test one (run with WINEDLLOVERRIDES=winscard=n "
                "and the test winscard.dll beside this program)");
        }
    }

    ZRN_CARD_HANDLE insert(const sim::CardImage& image) override {
        check(insertCard_(sim::serializeImage(image).c_str()), "ZrnTestInsertCard");
        check(SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &context_),
              "SCardEstablishContext");
        char readers[256] = {};
        DWORD length = sizeof readers;
        check(SCardListReadersA(context_, nullptr, readers, &length), "SCardListReadersA");
        DWORD protocol = 0;
        check(SCardConnectA(context_, readers, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0, &card_,
                            &protocol),
              "SCardConnectA");
        if (protocol != SCARD_PROTOCOL_T0) {
            throw StackError("SCardConnectA chose protocol " + std::to_string(protocol));
        }
        return card_;
    }

    sim::CardImage remove() override {
        check(SCardDisconnect(card_, SCARD_LEAVE_CARD), "SCardDisconnect");
        check(SCardReleaseContext(context_), "SCardReleaseContext");
        DWORD length = 0;
        removeCard_(nullptr, &length);
        std::vector<char> json(length);
        check(removeCard_(json.data(), &length), "ZrnTestRemoveCard");
        return sim::parseImage(json.data());
    }

  private:
    static void check(LONG rv, const char* call) {
        if (rv != SCARD_S_SUCCESS) {
            throw StackError(std::string(call) + ": " + scardText(rv));
        }
    }

    ZrnTestInsertCardFn insertCard_ = nullptr;
    ZrnTestRemoveCardFn removeCard_ = nullptr;
    SCARDCONTEXT context_ = 0;
    SCARDHANDLE card_ = 0;
};

// ZRN.dll, loaded for one case.
class LoadedLibrary {
  public:
    explicit LoadedLibrary(const std::string& path) : module_(LoadLibraryA(path.c_str())) {
        if (module_ == nullptr) {
            error_ = "LoadLibrary(" + path + ") failed, error " + std::to_string(GetLastError());
            return;
        }
        const auto missing = resolveExports(exports_, [this](const char* name) {
            return reinterpret_cast<void*>(GetProcAddress(module_, name));
        });
        for (const std::string& name : missing) {
            error_ += "no export " + name + "; ";
        }
        for (std::size_t i = 0; i < kExportNames.size(); ++i) {
            const WORD ordinal = static_cast<WORD>(i + 1);
            const FARPROC byName = GetProcAddress(module_, kExportNames[i]);
            const FARPROC byOrdinal = GetProcAddress(module_, MAKEINTRESOURCEA(ordinal));
            if (byOrdinal == nullptr || byOrdinal != byName) {
                error_ +=
                    "ordinal " + std::to_string(ordinal) + " is not " + kExportNames[i] + "; ";
            }
        }
        if (GetProcAddress(module_, MAKEINTRESOURCEA(kExportNames.size() + 1)) != nullptr) {
            error_ += "an export beyond ordinal 7; ";
        }
    }
    ~LoadedLibrary() {
        if (module_ != nullptr) {
            FreeLibrary(module_);
        }
    }
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;

    const std::string& error() const { return error_; }
    const Exports& exports() const { return exports_; }

  private:
    HMODULE module_;
    Exports exports_;
    std::string error_;
};

bool selected(const char* name, int argc, char** argv) {
    if (argc <= 2) {
        return true;
    }
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], name) == 0) {
            return true;
        }
    }
    return false;
}

// Runs one case on a freshly loaded library; the failures it found.
std::vector<std::string> runCase(const Case& c, const std::string& dll, Win32Stack& stack) {
    LoadedLibrary library(dll);
    if (!library.error().empty()) {
        return {library.error()};
    }
    Checks checks;
    try {
        c.run(library.exports(), stack, checks);
    } catch (const std::exception& e) {
        std::vector<std::string> failures = checks.failures();
        failures.push_back(std::string("the stack failed: ") + e.what());
        return failures;
    }
    return checks.failures();
}

int runAll(int argc, char** argv) {
    const std::string dll = argc > 1 ? argv[1] : "ZRN.dll";
    std::unique_ptr<Win32Stack> stack;
    try {
        stack = std::make_unique<Win32Stack>();
    } catch (const std::exception& e) {
        std::printf("%s\n", e.what());
        return 1;
    }
    int ran = 0;
    int failed = 0;
    const auto start = std::chrono::steady_clock::now();
    for (const Case& c : integrationCases()) {
        if (!selected(c.name, argc, argv)) {
            continue;
        }
        ++ran;
        const auto caseStart = std::chrono::steady_clock::now();
        const std::vector<std::string> failures = runCase(c, dll, *stack);
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - caseStart)
                            .count();
        std::printf("[%s] %s.%s (%lld ms)\n", failures.empty() ? "       OK " : "  FAILED  ",
                    kStackName, c.name, static_cast<long long>(ms));
        for (const std::string& f : failures) {
            std::printf("    %s\n", f.c_str());
        }
        failed += failures.empty() ? 0 : 1;
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    std::printf("%d cases against %s, %d failed (%lld ms)\n", ran, dll.c_str(), failed,
                static_cast<long long>(ms));
    std::fflush(stdout);
    return ran > 0 && failed == 0 ? 0 : 1;
}

}  // namespace
}  // namespace zrn::integration

int main(int argc, char** argv) {
    return zrn::integration::runAll(argc, argv);
}
