# Cross build of the 64-bit ZRN.dll with MinGW-w64 (Debian g++-mingw-w64-x86-64).
#   cmake --preset win64 && cmake --build --preset win64
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZRN_MINGW_TRIPLET x86_64-w64-mingw32)
# The win32 thread model: nothing here needs POSIX threads, and the DLL then
# depends on no winpthread runtime.
find_program(CMAKE_C_COMPILER NAMES ${ZRN_MINGW_TRIPLET}-gcc-win32 ${ZRN_MINGW_TRIPLET}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${ZRN_MINGW_TRIPLET}-g++-win32 ${ZRN_MINGW_TRIPLET}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${ZRN_MINGW_TRIPLET}-windres)
find_program(ZRN_MINGW_OBJDUMP NAMES ${ZRN_MINGW_TRIPLET}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${ZRN_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under the 64-bit Wine where one is installed; it also
# runs where the kernel starts no 32-bit programs.
find_program(ZRN_WINE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(ZRN_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZRN_WINE})
endif()
