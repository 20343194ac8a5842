# Cross-builds tolmex.exe for 32-bit Windows (MinGW-w64 i686) and runs its
# tests under Wine's 32-bit loader: cmake/mingw-w64.cmake for i686.
set(TOLMEX_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
