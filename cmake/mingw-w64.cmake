# Cross-builds tolmex.exe for Windows with MinGW-w64 (the POSIX threads
# variant, which GoogleTest needs) and runs its tests under Wine. The
# architecture is x86_64 unless TOLMEX_MINGW_ARCH says i686 (the toolchain
# file cmake/mingw-w64-i686.cmake does): 32-bit Windows, run by Wine's
# 32-bit loader.
if(NOT TOLMEX_MINGW_ARCH)
  set(TOLMEX_MINGW_ARCH x86_64)
endif()
set(TOLMEX_MINGW_PREFIX ${TOLMEX_MINGW_ARCH}-w64-mingw32)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${TOLMEX_MINGW_ARCH})
set(CMAKE_C_COMPILER ${TOLMEX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOLMEX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TOLMEX_MINGW_PREFIX}-windres)
set(CMAKE_MC_COMPILER ${TOLMEX_MINGW_PREFIX}-windmc)
set(CMAKE_OBJDUMP ${TOLMEX_MINGW_PREFIX}-objdump)
set(CMAKE_FIND_ROOT_PATH /usr/${TOLMEX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
if(TOLMEX_MINGW_ARCH STREQUAL "x86_64")
  find_program(TOLMEX_WINE NAMES wine64 PATHS /usr/lib/wine)
else()
  find_program(TOLMEX_WINE NAMES wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
endif()
if(TOLMEX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TOLMEX_WINE})
endif()
