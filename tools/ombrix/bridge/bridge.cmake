# The network bridge (ombrix bridge): sockets, timers and signals with
# standalone Asio, the configuration file with toml++, name-based CIDs with
# libuuid; the protocol codecs come from ombrix_protocols.
# On Windows the system hashes the CIDs (BCrypt) and the header-only
# libraries come from windows/windows.cmake.
if(NOT WIN32)
  find_package(tomlplusplus REQUIRED)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(UUID REQUIRED IMPORTED_TARGET uuid)
  set(OMBRIX_NAME_HASH_LIBS PkgConfig::UUID)
  if(NOT EXISTS /usr/include/asio.hpp)
    find_path(ASIO_INCLUDE_DIR asio.hpp REQUIRED)
  endif()
endif()

add_library(ombrix_bridge STATIC
  bridge/allow_list.cpp
  bridge/artnet_node.cpp
  bridge/bridge.cpp
  bridge/bridge_config.cpp
  bridge/bridge_config_file.cpp
  bridge/input_stream.cpp
  bridge/interface_port.cpp
  bridge/output_universe.cpp
  bridge/sacn_identity.cpp
  bridge/host_identity_${OMBRIX_TOOL_OS}.cpp
  bridge/sacn_receiver.cpp
  bridge/sacn_sender.cpp
  bridge/status_line.cpp
  bridge/udp_socket.cpp
  bridge/udp_socket_${OMBRIX_TOOL_OS}.cpp)
target_include_directories(ombrix_bridge PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/bridge ${ASIO_INCLUDE_DIR})
# Asio without Boost, and without its deprecated interfaces.
target_compile_definitions(ombrix_bridge PUBLIC ASIO_STANDALONE ASIO_NO_DEPRECATED)
target_link_libraries(ombrix_bridge PUBLIC ombrix_protocols ombrix_tool_core tomlplusplus::tomlplusplus
                                           ${OMBRIX_NAME_HASH_LIBS} Threads::Threads)
include(bridge/http/status_page.cmake)
