# The bridge's status page (--http): cpp-httplib for the server, nlohmann's
# JSON for GET /api/status, and the page's files built in as byte arrays.
# Windows: without the HTTP server (windows/status_server_unavailable.cpp).
if(WIN32)
  set(status_server_sources windows/status_server_unavailable.cpp)
else()
  pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
  find_package(nlohmann_json 3.9 REQUIRED)
  set(status_server_sources bridge/http/status_server.cpp bridge/http/worker_pool.cpp)
  set(status_server_libs PkgConfig::HTTPLIB nlohmann_json::nlohmann_json)
endif()

set(page_dir ${CMAKE_CURRENT_SOURCE_DIR}/bridge/http/page)
set(page_source ${CMAKE_CURRENT_BINARY_DIR}/bridge_page_assets.cpp)
set(page_files ${page_dir}/index.html ${page_dir}/page.js ${page_dir}/page.css)
add_custom_command(
  OUTPUT ${page_source}
  COMMAND ${CMAKE_COMMAND} -DPAGE_DIR=${page_dir} -DOUTPUT=${page_source}
          -P ${CMAKE_CURRENT_SOURCE_DIR}/bridge/http/embed_page.cmake
  DEPENDS ${page_files} ${CMAKE_CURRENT_SOURCE_DIR}/bridge/http/embed_page.cmake
  COMMENT "Building the status page into the bridge")

target_sources(ombrix_bridge PRIVATE
  bridge/http/rate_meter.cpp
  bridge/http/snapshot_board.cpp
  bridge/http/source_view.cpp
  bridge/http/status_collector.cpp
  bridge/http/status_json.cpp
  bridge/http/status_page.cpp
  ${status_server_sources}
  ${page_source})
target_include_directories(ombrix_bridge PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/bridge/http)
target_compile_definitions(ombrix_bridge PRIVATE OMBRIX_VERSION="${PROJECT_VERSION}")
target_link_libraries(ombrix_bridge PUBLIC ${status_server_libs})

if(OMBRIX_BUILD_TESTS AND NOT WIN32)
  include(bridge/http/tests/status_page_tests.cmake)
endif()
