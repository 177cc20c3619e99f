# The universe view: its layout as a pure function (GoogleTest), and the
# screens of demo and monitor as a user sees them in a tmux terminal of a
# given size (tmux comes with the tool's packages, scripts/deps-cli.sh).
find_package(GTest REQUIRED)
include(GoogleTest)

set(view_dir ${CMAKE_CURRENT_SOURCE_DIR})
add_executable(ombrix_view_test tests/view_layout_test.cpp ${view_dir}/universe_layout.cpp
                                ${view_dir}/demo_figures.cpp ${view_dir}/demo_traffic.cpp)
target_include_directories(ombrix_view_test PRIVATE ${PROJECT_SOURCE_DIR}/include)
target_link_libraries(ombrix_view_test PRIVATE GTest::gtest_main Threads::Threads)
gtest_discover_tests(ombrix_view_test TEST_PREFIX view. DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)

add_executable(ombrix_screen_check tests/screen_check.cpp)
add_dependencies(ombrix_view_test ombrix_screen_check ombrix)

# ombrix_tty_test(<name> SIZE WxH [RESIZE WxH] [NO_COLOR] CHECK <screen_check args...> COMMAND <args...>)
function(ombrix_tty_test name)
  cmake_parse_arguments(PARSE_ARGV 1 T "NO_COLOR" "SIZE;RESIZE" "CHECK;COMMAND")
  set(options --checker $<TARGET_FILE:ombrix_screen_check> --size ${T_SIZE})
  if(T_RESIZE)
    list(APPEND options --resize ${T_RESIZE})
  endif()
  if(T_NO_COLOR)
    list(APPEND options --no-color)
  endif()
  add_test(NAME view.tty.${name}
           COMMAND bash ${view_dir}/tests/view_tty_test.sh ${options} ${T_CHECK} -- $<TARGET_FILE:ombrix> ${T_COMMAND})
  set_tests_properties(view.tty.${name} PROPERTIES TIMEOUT 300)
endfunction()

set(demo_panels --title "polled out" --title "polled in" --title "queue out" --title "queue in")
# One short line per link, whole, in 80 columns.
set(demo_figures
  --expect "^polled  out +[0-9]+ reports/s +[0-9.]+ universes/s  latency +[0-9.]+ ms  in +[0-9]+ blocks/s$"
  --expect "^queue   out +[0-9]+ reports/s +[0-9.]+ universes/s +in +[0-9]+ blocks/s$")

ombrix_tty_test(demo_80x24_resized SIZE 80x24 RESIZE 50x30
  CHECK ${demo_panels} ${demo_figures}
    --expect-resized "^polled  out +[0-9]+/s +[0-9.]+ univ/s +[0-9.]+ ms  in +[0-9]+/s$"
    --expect-resized "^queue   out +[0-9]+/s +[0-9.]+ univ/s +in +[0-9]+/s$"
  COMMAND demo --seconds 120)
ombrix_tty_test(demo_200x60_all_channels SIZE 200x60
  CHECK --whole ${demo_panels} ${demo_figures}
  COMMAND demo --seconds 120)
ombrix_tty_test(demo_no_color_details_pct SIZE 100x40 NO_COLOR
  CHECK --format pct ${demo_panels}
    --expect "^    SIM0000000000001  [0-9.]+ of 1000 reports/s  p99 +[0-9.]+ ms  heartbeats [0-9]+$"
  COMMAND demo --seconds 120 --details --format pct)
ombrix_tty_test(monitor_hex_80x24 SIZE 80x24
  CHECK --format hex --title input --expect "^input [1-9][0-9]* blocks/s  heartbeat calls"
  COMMAND --sim monitor SIM0000000000002 --format hex --seconds 120)
ombrix_tty_test(monitor_narrow_and_short SIZE 30x8 RESIZE 120x50
  CHECK --title input
  COMMAND --sim monitor SIM0000000000001 --seconds 120)
