# 64-bit Windows.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(OMBRIX_MINGW_TRIPLE x86_64-w64-mingw32)
set(OMBRIX_WINE_BITS 64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)
