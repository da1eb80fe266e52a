// The end-to-end cases through the real Linux PC/SC stack: pcscd with the
// vpcd reader, zrn-virtual-card as the card, and the built libzrn.so loaded afresh
// for every case, as a host application would load it.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "tests/integration/case_list.h"
#include "tests/integration/pcsc_stack.h"

namespace zrn::integration {
namespace {

bool underCi() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::string(ci) == "true";
}

// libzrn.so, loaded for one case.
class LoadedLibrary {
  public:
    explicit LoadedLibrary(const char* path) : handle_(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {
        if (handle_ == nullptr) {
            error_ = dlerror();
            return;
        }
        const auto missing =
            resolveExports(exports_, [this](const char* name) { return dlsym(handle_, name); });
        for (const std::string& name : missing) {
            error_ += (error_.empty() ? "missing exports:" : "") + (" " + name);
        }
    }
    ~LoadedLibrary() {
        if (handle_ != nullptr) {
            dlclose(handle_);
        }
    }
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;

    const std::string& error() const { return error_; }
    const Exports& exports() const { return exports_; }

  private:
    void* handle_;
    Exports exports_;
    std::string error_;
};

// One stack for the whole program, started by the first case that needs it.
struct SharedStack {
    std::unique_ptr<PcscStack> stack;
    std::string unavailable;
};

SharedStack& sharedStack() {
    static SharedStack shared = [] {
        SharedStack s;
        try {
            s.stack = std::make_unique<PcscStack>(ZRN_VIRTUAL_CARD_PATH);
            std::printf("[ STACK    ] %s\n", s.stack->describe().c_str());
        } catch (const std::exception& e) {
            s.unavailable = e.what();
        }
        return s;
    }();
    return shared;
}

class StackCase : public testing::Test {
  public:
    explicit StackCase(const Case& c) : case_(c) {}

    void TestBody() override {
        SharedStack& shared = sharedStack();
        if (!shared.stack) {
            if (underCi()) {
                FAIL() << "the PC/SC stack cannot run (CI=true): " << shared.unavailable;
            }
            GTEST_SKIP() << "the PC/SC stack cannot run here: " << shared.unavailable;
        }
        LoadedLibrary library(ZRN_LIBRARY_PATH);
        ASSERT_TRUE(library.error().empty()) << ZRN_LIBRARY_PATH << ": " << library.error();
        Checks checks;
        try {
            case_.run(library.exports(), *shared.stack, checks);
        } catch (const std::exception& e) {
            ADD_FAILURE() << "the stack failed: " << e.what();
        }
        for (const std::string& failure : checks.failures()) {
            ADD_FAILURE() << failure;
        }
    }

  private:
    const Case& case_;
};

}  // namespace
}  // namespace zrn::integration

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    for (const zrn::integration::Case& c : zrn::integration::integrationCases()) {
        testing::RegisterTest(
            "PcscStack", c.name, nullptr, nullptr, __FILE__, __LINE__,
            [&c]() -> testing::Test* { return new zrn::integration::StackCase(c); });
    }
    const int result = RUN_ALL_TESTS();
    zrn::integration::sharedStack().stack.reset();
    return result;
}
