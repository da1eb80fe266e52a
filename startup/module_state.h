#pragma once

namespace zrn::startup {

// A module's state as the host's class library would keep it: which module a
// thread is working for. The library has one of its own; every export makes
// it current for the length of the call and restores the caller's on exit.
struct ModuleState {
    const char* moduleName = nullptr;
    void* moduleHandle = nullptr;  // set at process attach on Win32
};

ModuleState& libraryModuleState();
// The state current on the calling thread (nullptr while no module made one current).
ModuleState* currentModuleState();

// Entered before anything else an export does and left on every way out.
class ModuleStateGuard {
  public:
    ModuleStateGuard() noexcept;
    ~ModuleStateGuard();
    ModuleStateGuard(const ModuleStateGuard&) = delete;
    ModuleStateGuard& operator=(const ModuleStateGuard&) = delete;

  private:
    ModuleState* previous_;
};

}  // namespace zrn::startup
