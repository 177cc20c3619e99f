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

# ombrix_export_plain_names(<target> <dll name> <name:argument bytes>...)
function(ombrix_export_plain_names target dllname)
  set(def "LIBRARY ${dllname}\nEXPORTS\n")
  foreach(entry ${ARGN})
    string(REPLACE ":" ";" parts "${entry}")
    list(GET parts 0 name)
    list(GET parts 1 bytes)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      string(APPEND def "  ${name}@${bytes}\n")
    else()
      string(APPEND def "  ${name}\n")
    endif()
  endforeach()
  set(def_file ${CMAKE_CURRENT_BINARY_DIR}/${dllname}.def)
  file(WRITE ${def_file}.new "${def}")
  # Rewritten only when it changes, so that the DLL is not relinked needlessly.
  configure_file(${def_file}.new ${def_file} COPYONLY)
  target_sources(${target} PRIVATE ${def_file})
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    target_link_options(${target} PRIVATE "LINKER:--kill-at")
    # The linker's --kill-at strips the decoration from the import library's
    # symbols too, so callers that refer to OpenLink@12 would not link. The
    # import library is made again from the definition file by dlltool, whose
    # --kill-at keeps the decorated symbols and imports the plain names.
    find_program(OMBRIX_DLLTOOL NAMES ${OMBRIX_MINGW_TRIPLE}-dlltool dlltool REQUIRED)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${OMBRIX_DLLTOOL} --kill-at --def ${def_file} --dllname ${dllname}.dll
              --output-lib $<TARGET_LINKER_FILE:${target}>
      VERBATIM)
  endif()
endfunction()

ombrix_export_plain_names(Ombrix_USB Ombrix_USB ${OMBRIX_EXPORTS})

# The simulator DLL: the same 24 functions and the simulator's control API.
set_target_properties(ombrix_usb_sim PROPERTIES PREFIX "" OUTPUT_NAME Ombrix_USB_Sim)
ombrix_export_plain_names(ombrix_usb_sim Ombrix_USB_Sim ${OMBRIX_EXPORTS}
  OmbrixSimReset:0 OmbrixSimAddDevice:20 OmbrixSimSetDeviceSetAvailable:4 OmbrixSimSetFault:12
  OmbrixSimUnplug:4 OmbrixSimReplug:4 OmbrixSimSetWriteBehaviour:12 OmbrixSimSetReadBehaviour:8
  OmbrixSimInjectInput:12 OmbrixSimStreamInput:8 OmbrixSimWriteCount:4 OmbrixSimGetWrite:20
  OmbrixSimClearWrites:4 OmbrixSimWalkCount:0 OmbrixSimOpenHandles:4 OmbrixSimLibraryThreads:0
  OmbrixSimPendingTransfers:4 OmbrixSimSetLoopback:8)

if(OMBRIX_BUILD_TESTS AND EXISTS ${PROJECT_SOURCE_DIR}/tests/win32/CMakeLists.txt)
  enable_testing()
  add_subdirectory(tests/win32)
endif()
