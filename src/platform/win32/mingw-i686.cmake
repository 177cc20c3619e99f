# 32-bit Windows (the word size the library's exports were designed for).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(OMBRIX_MINGW_TRIPLE i686-w64-mingw32)
set(OMBRIX_WINE_BITS 32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)
