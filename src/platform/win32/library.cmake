# The real Windows library, Ombrix_USB.dll, from the core, the Win32 OS half
# and the Win32 HID half; included by the top-level build after the
# simulator library, once ombrix_add_library exists.
ombrix_add_library(Ombrix_USB ombrix_hid_win32)
set_target_properties(Ombrix_USB PROPERTIES PREFIX "" OUTPUT_NAME Ombrix_USB)
target_link_libraries(Ombrix_USB PRIVATE hid setupapi)
target_link_libraries(Ombrix_USB_static PUBLIC hid setupapi)

# The module exports its 24 functions under their plain names. On 32-bit
# Windows they are stdcall, so the definition file names each with its
# argument bytes (which the linker checks against the compiled functions)
# and --kill-at strips that decoration from the exported names, while the
# import library still resolves the decorated names that callers compiled
# against the public header refer to.
set(OMBRIX_EXPORTS
  GetAllConnectedInterfaces:4 GetDeviceTyp:4 GetDeviceVersion:4
  OpenLink:12 CloseLink:4 CloseAllLinks:0 GetAllOpenedInterfaces:4
  SendDmxUniverse:8
  SetInterfaceMode:8 SetInterfaceAdvTxConfig:32 StoreInterfaceAdvTxConfig:4 GetInterfaceConfig:32
  RegisterInputChangeNotification:4 UnregisterInputChangeNotification:0
  RegisterInputChangeBlockNotification:4 UnregisterInputChangeBlockNotification:0
  RegisterInterfaceChangeNotification:4 UnregisterInterfaceChangeNotification:0
  RegisterHeartbeatNotification:8 UnregisterHeartbeatNotification:4
  RegisterInputChangeBlockNotificationSerial:8 UnregisterInputChangeBlockNotificationSerial:4
  RegisterInterfaceChangeNotificationSerial:8 UnregisterInterfaceChangeNotificationSerial:4)

set(def "LIBRARY Ombrix_USB\nEXPORTS\n")
foreach(entry ${OMBRIX_EXPORTS})
  string(REPLACE ":" ";" parts "${entry}")
  list(GET parts 0 name)
  list(GET parts 1 bytes)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    string(APPEND def "  ${name}@${bytes}\n")
  else()
    string(APPEND def "  ${name}\n")
  endif()
endforeach()
set(OMBRIX_DEF_FILE ${CMAKE_CURRENT_BINARY_DIR}/Ombrix_USB.def)
file(WRITE ${OMBRIX_DEF_FILE}.new "${def}")
# Rewritten only when it changes, so that the DLL is not relinked needlessly.
configure_file(${OMBRIX_DEF_FILE}.new ${OMBRIX_DEF_FILE} COPYONLY)
target_sources(Ombrix_USB PRIVATE ${OMBRIX_DEF_FILE})
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  target_link_options(Ombrix_USB PRIVATE "LINKER:--kill-at")
  # The linker's --kill-at strips the decoration from the import library's
  # symbols too, so callers that refer to OpenLink@12 would not link. The
  # import library is made again from the definition file by dlltool, whose
  # --kill-at keeps the decorated symbols and imports the plain names.
  find_program(OMBRIX_DLLTOOL NAMES ${OMBRIX_MINGW_TRIPLE}-dlltool dlltool REQUIRED)
  add_custom_command(TARGET Ombrix_USB POST_BUILD
    COMMAND ${OMBRIX_DLLTOOL} --kill-at --def ${OMBRIX_DEF_FILE} --dllname Ombrix_USB.dll
            --output-lib $<TARGET_LINKER_FILE:Ombrix_USB>
    VERBATIM)
endif()

if(OMBRIX_BUILD_TESTS AND EXISTS ${PROJECT_SOURCE_DIR}/tests/win32/CMakeLists.txt)
  enable_testing()
  add_subdirectory(tests/win32)
endif()
