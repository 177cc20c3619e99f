# The Linux HID backend over the kernel's hidraw nodes, found through
# libudev. Included by the top level on non-Windows systems.
find_package(PkgConfig REQUIRED)
pkg_check_modules(OMBRIX_LIBUDEV REQUIRED IMPORTED_TARGET libudev)

add_library(ombrix_hid_hidraw OBJECT
  src/platform/hidraw/hidraw_codec.cpp
  src/platform/hidraw/hidraw_walk.cpp
  src/platform/hidraw/hidraw_device.cpp
  src/platform/hidraw/hidraw_transfers.cpp
  src/platform/hidraw/hidraw_overlapped.cpp)
target_link_libraries(ombrix_hid_hidraw PUBLIC ombrix_core PkgConfig::OMBRIX_LIBUDEV)

ombrix_add_library(ombrix_usb ombrix_hid_hidraw)
target_link_libraries(ombrix_usb PRIVATE PkgConfig::OMBRIX_LIBUDEV)
target_link_libraries(ombrix_usb_static PUBLIC PkgConfig::OMBRIX_LIBUDEV)

# Lets the desktop user at the seat open the interfaces without root.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/udev/70-ombrix-usb.rules DESTINATION lib/udev/rules.d
  COMPONENT runtime)

if(OMBRIX_BUILD_TESTS)
  enable_testing()
  add_subdirectory(${PROJECT_SOURCE_DIR}/tests/hidraw ${PROJECT_BINARY_DIR}/tests/hidraw)
endif()
