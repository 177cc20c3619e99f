# What `cmake --install` puts in place: the headers, the shared libraries
# (the real one when this platform builds it, and the simulator), the
# command-line tool, a CMake package with imported targets and pkg-config
# files. Both the package and the .pc files locate the prefix relative to
# themselves, so an installed tree can be moved or unpacked anywhere.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(OMBRIX_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/OmbrixUSB)

# Every rule names its component, which cmake/packaging.cmake turns into a
# Debian package: runtime (the real library and its udev rule), simulator,
# development (headers, CMake package, pkg-config, link names), tools and
# python.
set(ombrix_installed_libraries ombrix_usb_sim)
set(ombrix_component_ombrix_usb_sim simulator)
if(TARGET ombrix_usb)
  list(APPEND ombrix_installed_libraries ombrix_usb)
  set(ombrix_component_ombrix_usb runtime)
endif()

foreach(library ${ombrix_installed_libraries})
  install(TARGETS ${library} EXPORT OmbrixUSBTargets
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${ombrix_component_${library}}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT ${ombrix_component_${library}}
      NAMELINK_COMPONENT development
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/include/ombrix_usb.h ${PROJECT_SOURCE_DIR}/include/ombrix_usb_sim.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)

# The pure-Python package, where the system's python3 finds it when the
# prefix is /usr (Debian's dist-packages).
if(NOT WIN32)
  set(OMBRIX_INSTALL_PYTHONDIR "lib/python3/dist-packages" CACHE STRING
    "Where the ombrix_usb Python package is installed, relative to the prefix")
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/bindings/python/ombrix_usb DESTINATION ${OMBRIX_INSTALL_PYTHONDIR}
    COMPONENT python PATTERN __pycache__ EXCLUDE)
endif()

install(EXPORT OmbrixUSBTargets NAMESPACE OmbrixUSB:: FILE OmbrixUSBTargets.cmake
  DESTINATION ${OMBRIX_INSTALL_CMAKEDIR} COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/OmbrixUSBConfig.cmake.in
  ${PROJECT_BINARY_DIR}/OmbrixUSBConfig.cmake INSTALL_DESTINATION ${OMBRIX_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/OmbrixUSBConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/OmbrixUSBConfig.cmake ${PROJECT_BINARY_DIR}/OmbrixUSBConfigVersion.cmake
  DESTINATION ${OMBRIX_INSTALL_CMAKEDIR} COMPONENT development)

# pkg-config: prefix=${pcfiledir}/<back to the prefix>, so the file is
# right wherever the tree ends up.
file(RELATIVE_PATH OMBRIX_PC_PREFIX_FROM_PCDIR "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
string(REGEX REPLACE "/$" "" OMBRIX_PC_PREFIX_FROM_PCDIR "${OMBRIX_PC_PREFIX_FROM_PCDIR}")
foreach(library ${ombrix_installed_libraries})
  set(OMBRIX_PC_LIBRARY ${library})
  if(library STREQUAL "ombrix_usb_sim")
    set(OMBRIX_PC_DESCRIPTION "USB DMX512 interface driver over simulated interfaces, for tests without hardware")
  else()
    set(OMBRIX_PC_DESCRIPTION "USB DMX512 interface driver")
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/packaging/pkgconfig/ombrix_usb.pc.in
    ${PROJECT_BINARY_DIR}/pkgconfig/${library}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/pkgconfig/${library}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
    COMPONENT development)
endforeach()
