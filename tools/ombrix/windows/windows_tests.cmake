# The Windows tool's tests, run under Wine by scripts/tier-windows-tool.sh
# (label windows-tool, so that the library's own Windows tier leaves them
# out): the command line as the Linux tool's tests expect it, with the
# simulator DLL, and what only Windows has.
set(OMBRIX_TOOL_TEST_LABELS windows-tool)
include(cli_tests.cmake)

# Alone in a directory, without the DLL beside it, the tool says in one
# sentence which file it could not find and where it looked.
set(alone_dir ${CMAKE_CURRENT_BINARY_DIR}/without-dll)
add_custom_command(TARGET ombrix POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E make_directory ${alone_dir}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:ombrix> ${alone_dir}/ombrix.exe)
list(JOIN CMAKE_CROSSCOMPILING_EMULATOR "|" emulator)
foreach(variant "sim;--sim|list;Ombrix_USB_Sim.dll" "real;list;Ombrix_USB.dll")
  list(GET variant 0 name)
  list(GET variant 1 arguments)
  list(GET variant 2 dll)
  add_test(NAME cli.windows_${name}_dll_missing
    COMMAND ${CMAKE_COMMAND} -DTOOL=${alone_dir}/ombrix.exe "-DEMULATOR=${emulator}" "-DARGS=${arguments}" -DEXIT=1
      "-DERR=^ombrix: The [A-Za-z_]+ library ${dll} could not be loaded \\(it is not in [^\n]*without-dll\\\\, the directory of ombrix.exe, where it must be\\)\\.[^\n]*\n$"
      -P ${CMAKE_CURRENT_SOURCE_DIR}/expect_cli.cmake)
  set_tests_properties(cli.windows_${name}_dll_missing PROPERTIES TIMEOUT 180 LABELS windows-tool)
endforeach()

# Name-based CIDs from the system's SHA-1 against the same vectors as
# libuuid's on Linux; the console's control events.
if(OMBRIX_BUILD_TESTS)
  find_package(GTest REQUIRED)
  include(GoogleTest)
  add_executable(windows_tool_test bridge/tests/host_identity_test.cpp windows/console_control_test.cpp)
  target_include_directories(windows_tool_test PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(windows_tool_test PRIVATE ombrix_bridge GTest::gtest_main)
  gtest_discover_tests(windows_tool_test TEST_PREFIX windows_tool. DISCOVERY_TIMEOUT 120
                       PROPERTIES TIMEOUT 120 LABELS windows-tool)
endif()
