# The tool's behaviour as a user meets it: what it prints, and that every
# mistake ends in one sentence on stderr and a non-zero exit, never a crash.
enable_testing()

# ombrix_cli_test(<name> EXIT <code> [OUT <regex>] [ERR <regex>] ARGS <args...>)
function(ombrix_cli_test name)
  cmake_parse_arguments(PARSE_ARGV 1 T "" "EXIT;OUT;ERR" "ARGS")
  # add_test would split a ;-list into separate arguments; pass it joined.
  list(JOIN T_ARGS "|" joined)
  set(defines -DTOOL=$<TARGET_FILE:ombrix> "-DARGS=${joined}" -DEXIT=${T_EXIT})
  if(CMAKE_CROSSCOMPILING_EMULATOR)
    # The Windows tool runs under Wine (src/platform/win32/wine-run.sh).
    list(JOIN CMAKE_CROSSCOMPILING_EMULATOR "|" emulator)
    list(APPEND defines "-DEMULATOR=${emulator}")
  endif()
  if(DEFINED T_OUT)
    list(APPEND defines "-DOUT=${T_OUT}")
  endif()
  if(DEFINED T_ERR)
    list(APPEND defines "-DERR=${T_ERR}")
  endif()
  add_test(NAME cli.${name} COMMAND ${CMAKE_COMMAND} ${defines} -P ${CMAKE_CURRENT_SOURCE_DIR}/expect_cli.cmake)
  set_tests_properties(cli.${name} PROPERTIES TIMEOUT 180 LABELS "${OMBRIX_TOOL_TEST_LABELS}")
endfunction()

ombrix_cli_test(sim_list EXIT 0
  OUT "SIM0000000000001 +1 +0x0106\nSIM0000000000002 +2 +0x0200\n$"
  ARGS --sim list)
ombrix_cli_test(sim_list_mixed_types EXIT 0
  OUT "SIM0000000000003 +3 +0x0201\nSIM0000000000004 +1 +0x0105\nSIM0000000000005 +1 +0x0106\n$"
  ARGS --sim --sim-devices 5 list)
ombrix_cli_test(serial_too_short EXIT 2
  ERR "ombrix: The serial \"SIM1\" is 4 characters long; a serial has exactly 16.\n$"
  ARGS --sim monitor SIM1)
ombrix_cli_test(serial_too_long EXIT 2
  ERR "is 17 characters long"
  ARGS --sim send SIM00000000000001 1=1)
ombrix_cli_test(unknown_serial EXIT 1
  ERR "No interface with serial SIM0000000000099 is attached \\(attached: SIM0000000000001 SIM0000000000002\\)\\.\n$"
  ARGS --sim send SIM0000000000099 1=1 --seconds 0)
ombrix_cli_test(send_reaches_wire EXIT 0
  OUT "channel 1 = 255\nsimulated wire: channel 40 = 7\nsimulated wire: channel 512 = 1\n"
  ARGS --sim send SIM0000000000001 1=255 40=7 512=1 --seconds 0.2)
ombrix_cli_test(send_queue_variant_product EXIT 0
  OUT "channel 100 = 9\n"
  ARGS --sim send SIM0000000000002 100=9 --seconds 0.1)
ombrix_cli_test(send_channel_out_of_range EXIT 2
  ERR "\"513=1\" is not CHANNEL=VALUE"
  ARGS --sim send SIM0000000000001 513=1)
ombrix_cli_test(send_value_out_of_range EXIT 2
  ERR "\"1=256\" is not CHANNEL=VALUE"
  ARGS --sim send SIM0000000000001 1=256)
ombrix_cli_test(send_nothing EXIT 2
  ERR "Nothing to send"
  ARGS --sim send SIM0000000000001)
ombrix_cli_test(send_fade EXIT 0
  ARGS --sim send SIM0000000000001 --fade 1..8 --seconds 0.2)
ombrix_cli_test(send_bad_range EXIT 2
  ERR "\"9..3\" is not a channel range"
  ARGS --sim send SIM0000000000001 --fade 9..3)
ombrix_cli_test(mode EXIT 0
  OUT "Mode 3 is active on SIM0000000000001"
  ARGS --sim mode SIM0000000000001 3)
ombrix_cli_test(config_set_and_show EXIT 0
  OUT "byte value 1, parameters 2 3 4 250, length 512, final byte 0\n"
  ARGS --sim config SIM0000000000002 --set 1 2 3 4 250 --store)
ombrix_cli_test(config_show_empty EXIT 0
  OUT "nothing cached"
  ARGS --sim config SIM0000000000002)
ombrix_cli_test(config_value_out_of_range EXIT 2
  ERR "The configuration value 300 is out of range"
  ARGS --sim config SIM0000000000002 --set 1 2 3 300 4)
ombrix_cli_test(monitor_plain EXIT 0
  OUT "monitoring SIM0000000000002; Ctrl-C closes the link\n\\[  1 s\\] input [0-9]+ blocks/s"
  ARGS --sim monitor SIM0000000000002 --seconds 1.5)
ombrix_cli_test(demo_plain EXIT 0
  OUT "\\[  1 s\\] SIM0000000000001 polled +[0-9]+ reports/s.*latency median.*\n\\[  1 s\\] SIM0000000000002 queue +[0-9]+ reports/s.*\\[  2 s\\] SIM0000000000002 queue"
  ARGS demo --seconds 2)
ombrix_cli_test(demo_plain_details_format EXIT 0
  OUT "\\[  1 s\\] SIM0000000000001 polled +[0-9]+ reports/s"
  ARGS demo --seconds 1.2 --plain --details --format pct)
ombrix_cli_test(demo_format_unknown EXIT 2
  ERR "--format: oct not in \\{dec,hex,pct\\}"
  ARGS demo --format oct)
ombrix_cli_test(monitor_plain_format EXIT 0
  OUT "\\[  1 s\\] input [0-9]+ blocks/s"
  ARGS --sim monitor SIM0000000000001 --format hex --seconds 1.2)
ombrix_cli_test(no_command EXIT 2
  ARGS --sim)

# The real library sees no interface on a build machine: listing says so
# and succeeds, a command that needs one fails with a sentence.
if(TARGET ombrix_usb OR TARGET Ombrix_USB)
  ombrix_cli_test(list_nothing_attached EXIT 0 OUT "^No interface is attached.\n$" ARGS list)
  ombrix_cli_test(send_nothing_attached EXIT 1
    ERR "^ombrix: No interface is attached.\n$" ARGS send 0123456789ABCDEF 1=1)
endif()

if(NOT WIN32)
  include(tests/view_tests.cmake)
endif()
ombrix_cli_test(mode_out_of_range EXIT 2
  ERR "N: Value 300 not in range"
  ARGS --sim mode SIM0000000000001 300)
# ombrix bridge: every mistake in its mappings and options is one sentence.
ombrix_cli_test(bridge_nothing_mapped EXIT 2
  ERR "Nothing to bridge: give at least one --out or --in mapping"
  ARGS --sim bridge)
ombrix_cli_test(bridge_bad_universe EXIT 2
  ERR "\"sacn:64000\" is not a network universe"
  ARGS --sim bridge --out SIM0000000000001=sacn:64000)
ombrix_cli_test(bridge_two_outputs EXIT 2
  ERR "has one output but two universes are mapped to it \\(sacn:1 and artnet:0:0:1\\)"
  ARGS --sim bridge --out SIM0000000000001=sacn:1 --out SIM0000000000001=artnet:0:0:1)
ombrix_cli_test(bridge_bad_allow EXIT 2
  ERR "\"10.0.0.0/40\" is not an address block"
  ARGS --sim bridge --out SIM0000000000001=sacn:1 --allow 10.0.0.0/40)
ombrix_cli_test(bridge_missing_config EXIT 2
  ERR "The configuration file /nonexistent.toml could not be read"
  ARGS --sim bridge --config /nonexistent.toml)
ombrix_cli_test(bridge_loopback_needs_sim EXIT 2
  ERR "--sim-loopback works only with --sim"
  ARGS --sim-loopback bridge --out SIM0000000000001=sacn:1)
if(WIN32)
  # The Windows build has no status page (windows/status_server_unavailable.cpp).
  ombrix_cli_test(bridge_http_not_on_windows EXIT 2
    ERR "--http 8080: the status page is not part of the Windows build of ombrix\\."
    ARGS --sim bridge --out SIM0000000000001=sacn:1 --http 8080)
else()
  ombrix_cli_test(bridge_bad_http_address EXIT 2
    ERR "--http host.example:80: \"host.example\" is not an IP address"
    ARGS --sim bridge --out SIM0000000000001=sacn:1 --http host.example:80)
  ombrix_cli_test(bridge_bad_http_port EXIT 2
    ERR "--http 99999: the port must be a number from 0 to 65535"
    ARGS --sim bridge --out SIM0000000000001=sacn:1 --http 99999)
endif()
