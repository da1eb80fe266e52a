#include "startup/module_state.h"

namespace zrn::startup {

namespace {
thread_local ModuleState* tCurrent = nullptr;
}  // namespace

ModuleState& libraryModuleState() {
    static ModuleState state{"ZRN", nullptr};
    return state;
}

ModuleState* currentModuleState() {
    return tCurrent;
}

ModuleStateGuard::ModuleStateGuard() noexcept : previous_(tCurrent) {
    tCurrent = &libraryModuleState();
}

ModuleStateGuard::~ModuleStateGuard() {
    tCurrent = previous_;
}

}  // namespace zrn::startup
