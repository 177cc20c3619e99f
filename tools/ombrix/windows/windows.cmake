# The tool cross-built for Windows with MinGW-w64.
#
# CLI11, Asio, toml++ and nlohmann's JSON are header-only and come from the build machine's
# Debian packages, used as they stand. Their directory, /usr/include, must
# not go on the include path as a whole: glibc's headers there would be
# found before MinGW's and break the build. A directory of symbolic links
# to just these libraries takes its place.
set(OMBRIX_HOST_INCLUDE /usr/include CACHE PATH
  "Where the build machine's header-only CLI11, Asio and toml++ are (for cross builds)")
set(header_only_dir ${PROJECT_BINARY_DIR}/header-only-include)
file(MAKE_DIRECTORY ${header_only_dir})
foreach(entry CLI asio asio.hpp toml++ nlohmann)
  if(NOT EXISTS ${OMBRIX_HOST_INCLUDE}/${entry})
    # The DLLs still build; only the tool needs these.
    message(STATUS "ombrix.exe is not built: ${OMBRIX_HOST_INCLUDE}/${entry} is missing "
                   "(install libcli11-dev, libasio-dev, libtomlplusplus-dev and nlohmann-json3-dev)")
    return()
  endif()
  file(CREATE_LINK ${OMBRIX_HOST_INCLUDE}/${entry} ${header_only_dir}/${entry} SYMBOLIC)
endforeach()

add_library(CLI11::CLI11 INTERFACE IMPORTED)
target_include_directories(CLI11::CLI11 INTERFACE ${header_only_dir})
add_library(tomlplusplus::tomlplusplus INTERFACE IMPORTED)
target_include_directories(tomlplusplus::tomlplusplus INTERFACE ${header_only_dir})
# nlohmann's JSON (the status page's JSON, built without its server here).
include_directories(${header_only_dir})
set(ASIO_INCLUDE_DIR ${header_only_dir})

# Sockets for Asio (ws2_32, mswsock), adapter addresses (iphlpapi), SHA-1
# for name-based CIDs (bcrypt). Windows 7 is the oldest system served, so
# that Asio uses the interfaces every supported Windows has.
add_library(ombrix_windows_system INTERFACE)
target_link_libraries(ombrix_windows_system INTERFACE ws2_32 mswsock iphlpapi bcrypt)
# MinGW's headers offer the POSIX localtime_r (the status lines' clock)
# only when asked for it.
target_compile_definitions(ombrix_windows_system INTERFACE _WIN32_WINNT=0x0601 WIN32_LEAN_AND_MEAN NOMINMAX
                                                           _POSIX_THREAD_SAFE_FUNCTIONS=200112L)

# Which source serves each operating-system concern: the POSIX file or its
# Windows counterpart. Unset when the tool cannot be built.
set(OMBRIX_TOOL_OS win32)

# ombrix.exe loads the DLLs from its own directory only, so in the build
# tree it is made beside them.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
