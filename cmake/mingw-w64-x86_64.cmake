# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (the posix thread
# model, for std::thread). Dependencies come from KORVANE_WIN_PREFIX, which
# scripts/test-windows.sh fills from Debian's sources; Debian's header-only
# libraries (Boost, nlohmann-json) are linked into that prefix one folder at a
# time, so that the rest of the host's /usr/include stays out of the build.
# cmake/mingw-w64-i686.cmake sets the triple and loader for 32-bit Windows
# and includes this file.
set(CMAKE_SYSTEM_NAME Windows)
if(NOT KORVANE_MINGW_TRIPLE)
  set(KORVANE_MINGW_TRIPLE x86_64-w64-mingw32)
  set(CMAKE_SYSTEM_PROCESSOR x86_64)
  set(KORVANE_WINE_LOADER wine64)
endif()

set(CMAKE_C_COMPILER ${KORVANE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KORVANE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KORVANE_MINGW_TRIPLE}-windres)

# Passed on to try_compile and to the dependencies' own builds.
set(KORVANE_WIN_PREFIX "$ENV{KORVANE_WIN_PREFIX}" CACHE PATH "Windows dependencies (include, lib)")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KORVANE_WIN_PREFIX)

set(CMAKE_FIND_ROOT_PATH /usr/${KORVANE_MINGW_TRIPLE} ${KORVANE_WIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C++ runtime and winpthreads go inside each binary: Korvanu.dll and the
# programs then need nothing but Windows' own DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Tests (and test discovery) run the programs through wine.
find_program(KORVANE_WINE NAMES ${KORVANE_WINE_LOADER} PATHS /usr/lib/wine /usr/lib64/wine NO_CMAKE_FIND_ROOT_PATH)
if(KORVANE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KORVANE_WINE})
endif()
