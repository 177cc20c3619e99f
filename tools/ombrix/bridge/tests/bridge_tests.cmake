# The bridge's tests: its configuration on its own, and the whole bridge
# in-process over loopback UDP on ports the tests pick, with the simulator
# library as the interfaces.
find_package(GTest REQUIRED)
include(GoogleTest)

add_executable(bridge_test
  bridge/tests/bridge_config_test.cpp
  bridge/tests/bridge_fixture.cpp
  bridge/tests/bridge_end_to_end_test.cpp
  bridge/tests/bridge_recovery_test.cpp
  bridge/tests/host_identity_test.cpp)
# The shared simulator library, so that an export it may lack (loopback)
# resolves to null instead of failing the link.
target_link_libraries(bridge_test PRIVATE ombrix_bridge ombrix_usb_sim GTest::gtest_main)
gtest_discover_tests(bridge_test DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
