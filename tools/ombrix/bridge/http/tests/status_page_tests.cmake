# The status page's tests: its parts on their own, and GET /api/status and
# the event stream against a bridge in this process fed over loopback.
find_package(GTest REQUIRED)
include(GoogleTest)

add_executable(bridge_page_test
  bridge/http/tests/status_page_test.cpp
  bridge/http/tests/status_api_test.cpp
  bridge/tests/bridge_fixture.cpp)
target_include_directories(bridge_page_test PRIVATE bridge/http bridge/tests)
target_link_libraries(bridge_page_test PRIVATE ombrix_bridge ombrix_usb_sim GTest::gtest_main)
gtest_discover_tests(bridge_page_test DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
