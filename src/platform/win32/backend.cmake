# The Win32 backends: the OS half over kernel32, user32 and winmm, and the
# HID half over hid.dll and setupapi. Included by the top-level build on
# Windows in place of the POSIX OS half; library.cmake then builds the real
# Ombrix_USB.dll from them.
add_library(ombrix_os OBJECT ${CMAKE_CURRENT_LIST_DIR}/os_win32.cpp)
target_link_libraries(ombrix_os PUBLIC ombrix_core)
# Windows 7 is the oldest system the backends are written for.
target_compile_definitions(ombrix_core PUBLIC WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
set(OMBRIX_OS_LIBS winmm user32)

add_library(ombrix_hid_win32 OBJECT ${CMAKE_CURRENT_LIST_DIR}/hid_win32.cpp)
target_link_libraries(ombrix_hid_win32 PUBLIC ombrix_core)
