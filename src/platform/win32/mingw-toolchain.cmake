# Cross-compiling for Windows with MinGW-w64, included by the two per-word-size
# toolchain files after they set OMBRIX_MINGW_TRIPLE.
#
# The posix-thread flavour of the compilers is used so that the C++ runtime
# is complete; everything from the toolchain is linked statically, so the DLL
# and the test programs need no DLL beyond those of Windows itself.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${OMBRIX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${OMBRIX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${OMBRIX_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${OMBRIX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Anything on CMAKE_PREFIX_PATH (the cross-built GoogleTest) is searched as
# it stands, not below the root path.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Test programs run under Wine with the loader of their word size. Test
# discovery happens when CTest runs, not when the programs are built, so
# the DLLs and the test programs build on any machine, also where Wine or
# this word size cannot run.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh ${OMBRIX_WINE_BITS})
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
