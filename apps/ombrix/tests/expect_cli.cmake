# Runs the tool once and checks its exit code and output:
#   cmake -DTOOL=... -DARGS="a|b" -DEXIT=n [-DOUT=regex] [-DERR=regex] [-DEMULATOR="x|y"] -P expect_cli.cmake
# Both regular expressions must match (stdout and stderr respectively), and
# stderr must be empty when the run is expected to succeed: the tool
# reports problems there and nowhere else.
string(REPLACE "|" ";" ARGS "${ARGS}")
string(REPLACE "|" ";" EMULATOR "${EMULATOR}")
execute_process(COMMAND ${EMULATOR} ${TOOL} ${ARGS} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err
                TIMEOUT 120)
# Windows ends lines with CR LF in text mode; the expectations are the same.
string(REPLACE "\r\n" "\n" out "${out}")
string(REPLACE "\r\n" "\n" err "${err}")
set(failed "")
if(NOT code STREQUAL "${EXIT}")
  string(APPEND failed "exit code ${code}, expected ${EXIT}\n")
endif()
if(DEFINED OUT AND NOT out MATCHES "${OUT}")
  string(APPEND failed "stdout does not match: ${OUT}\n")
endif()
if(DEFINED ERR AND NOT err MATCHES "${ERR}")
  string(APPEND failed "stderr does not match: ${ERR}\n")
endif()
if(EXIT STREQUAL "0" AND NOT err STREQUAL "")
  string(APPEND failed "stderr is not empty\n")
endif()
if(NOT EXIT STREQUAL "0" AND err MATCHES "terminate|Segmentation|Aborted|Sanitizer")
  string(APPEND failed "the tool crashed instead of failing cleanly\n")
endif()
if(failed)
  message(FATAL_ERROR "ombrix ${ARGS}\n${failed}--- stdout\n${out}--- stderr\n${err}")
endif()
