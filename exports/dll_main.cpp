// Process attach and detach of ZRN.dll. The library needs no per-thread set-up;
// attach records the module handle in the library's module state.
#include <windows.h>

#include "startup/module_state.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            zrn::startup::libraryModuleState().moduleHandle = instance;
            DisableThreadLibraryCalls(instance);
            break;
        case DLL_PROCESS_DETACH:
            zrn::startup::libraryModuleState().moduleHandle = nullptr;
            break;
        default:
            break;
    }
    return TRUE;
}
