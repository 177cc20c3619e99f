# Debian packages with CPack, one per group of install components:
#
#   libombrix-usb0      runtime      the library for real interfaces, udev rule
#   libombrix-usb-sim0  simulator    the library over simulated interfaces
#   libombrix-usb-dev   development  headers, CMake package, pkg-config files
#   ombrix-tools        tools        the ombrix tool, and whatever else is
#                                    installed under another component
#   python3-ombrix-usb  python       the pure-Python module for python3
#
# Included last, so that it sees every install rule of the tree. Configure
# with -DCMAKE_INSTALL_PREFIX=/usr -DOMBRIX_PACKAGE_DEBIAN=ON and run
# `cpack -G DEB` (scripts/tier-packages.sh does, and checks the result).
option(OMBRIX_PACKAGE_DEBIAN "Add the files Debian packages need (copyright, changelog)" OFF)
if(WIN32)
  return()
endif()

set(OMBRIX_PACKAGE_MAINTAINER "Ombrix_USB developers <ombrix-usb@example.org>" CACHE STRING
  "Maintainer field of the Debian packages")
set(OMBRIX_PACKAGE_LICENSE "other" CACHE STRING "License field of the packages' copyright file")

# group -> Debian package name, section, component that defines it
set(ombrix_package_lib libombrix-usb0 libs runtime)
set(ombrix_package_sim libombrix-usb-sim0 libs simulator)
set(ombrix_package_dev libombrix-usb-dev libdevel development)
set(ombrix_package_cli ombrix-tools electronics tools)
set(ombrix_package_py python3-ombrix-usb python python)
set(ombrix_package_groups lib sim dev cli py)

# Descriptions below: CPack indents the lines after the synopsis itself and
# turns an empty line into the paragraph separator.

# Every package carries its copyright file and changelog, as Debian requires.
if(OMBRIX_PACKAGE_DEBIAN)
  string(TIMESTAMP OMBRIX_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
  foreach(group ${ombrix_package_groups})
    list(GET ombrix_package_${group} 0 OMBRIX_PACKAGE_NAME)
    list(GET ombrix_package_${group} 2 component)
    set(docs ${PROJECT_BINARY_DIR}/debian-docs/${OMBRIX_PACKAGE_NAME})
    configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/copyright ${docs}/copyright @ONLY)
    configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/changelog ${docs}/changelog @ONLY)
    execute_process(COMMAND gzip -9nf ${docs}/changelog RESULT_VARIABLE gzipped)
    if(NOT gzipped EQUAL 0)
      message(FATAL_ERROR "gzip of ${docs}/changelog failed")
    endif()
    install(FILES ${docs}/copyright ${docs}/changelog.gz
      DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${OMBRIX_PACKAGE_NAME} COMPONENT ${component})
  endforeach()
endif()

set(CPACK_PACKAGE_NAME ombrix-usb)
set(CPACK_PACKAGE_VENDOR "Ombrix_USB developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${OMBRIX_PACKAGE_MAINTAINER})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ONE_PER_GROUP)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

set(ombrix_version "${PROJECT_VERSION}")
set(ombrix_debian ${PROJECT_SOURCE_DIR}/packaging/debian)
# The shared libraries activate the ldconfig trigger rather than calling
# ldconfig from maintainer scripts.
set(CPACK_DEBIAN_LIB_PACKAGE_CONTROL_EXTRA ${ombrix_debian}/libombrix-usb0/triggers
  ${ombrix_debian}/libombrix-usb0/postinst ${ombrix_debian}/libombrix-usb0/postrm)
set(CPACK_DEBIAN_SIM_PACKAGE_CONTROL_EXTRA ${ombrix_debian}/libombrix-usb-sim0/triggers)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS
  "libombrix-usb0 (= ${ombrix_version}), libombrix-usb-sim0 (= ${ombrix_version})")
# The tool loads the libraries at run time, so shlibdeps cannot see them.
set(CPACK_DEBIAN_CLI_PACKAGE_DEPENDS "libombrix-usb0 (>= ${ombrix_version})")
set(CPACK_DEBIAN_CLI_PACKAGE_RECOMMENDS "libombrix-usb-sim0 (>= ${ombrix_version})")
set(CPACK_DEBIAN_PY_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PY_PACKAGE_DEPENDS "python3:any, libombrix-usb0 (>= ${ombrix_version})")
set(CPACK_DEBIAN_PY_PACKAGE_SUGGESTS "libombrix-usb-sim0, python3-numpy")
set(CPACK_DEBIAN_PY_PACKAGE_CONTROL_EXTRA
  ${ombrix_debian}/python3-ombrix-usb/postinst ${ombrix_debian}/python3-ombrix-usb/prerm)

set(CPACK_DEBIAN_LIB_DESCRIPTION "driver library for USB DMX512 interfaces
Ombrix_USB is a user-mode driver library for a family of USB DMX512
interfaces that present themselves as HID devices. Applications list the
attached interfaces, stream universes out, receive DMX input and get
callbacks through a flat C API.

This package holds the shared library, which reaches the interfaces through
the kernel's hidraw nodes, and a udev rule that gives the user at the seat
access to them.")
set(CPACK_DEBIAN_SIM_DESCRIPTION "driver library for USB DMX512 interfaces - simulator
Ombrix_USB is a user-mode driver library for a family of USB DMX512
interfaces that present themselves as HID devices.

This package holds the same API over simulated interfaces, with functions
to script them, for testing applications without hardware.")
set(CPACK_DEBIAN_DEV_DESCRIPTION "driver library for USB DMX512 interfaces - development files
Ombrix_USB is a user-mode driver library for a family of USB DMX512
interfaces that present themselves as HID devices.

This package holds the C headers, the CMake package (find_package(OmbrixUSB))
and the pkg-config files for the library and the simulator library.")
set(CPACK_DEBIAN_CLI_DESCRIPTION "command-line tool for USB DMX512 interfaces
The ombrix tool lists the attached interfaces of the Ombrix_USB family, sets
channels, fades, monitors DMX input, sets the mode and the transmit
configuration, and runs all of it on simulated interfaces as well.")
set(CPACK_DEBIAN_PY_DESCRIPTION "Python module for USB DMX512 interfaces
The ombrix_usb module drives the interfaces of the Ombrix_USB family from
Python: list them, open links, write channels through a buffer shared with
the library (numpy views included), read DMX input and get callbacks. It is
pure Python over ctypes and loads the shared library at run time.")

# Components the table above does not know (another tool's files, a service
# unit) go into ombrix-tools rather than a package of their own.
get_cmake_property(ombrix_install_components COMPONENTS)
set(ombrix_known_components runtime simulator development tools python)
set(CPACK_COMPONENTS_ALL)
foreach(component ${ombrix_install_components})
  set(group cli)
  foreach(candidate ${ombrix_package_groups})
    list(GET ombrix_package_${candidate} 2 owner)
    if(component STREQUAL owner)
      set(group ${candidate})
    endif()
  endforeach()
  if(NOT component IN_LIST ombrix_known_components)
    message(STATUS "Debian packages: install component '${component}' goes into ombrix-tools")
  endif()
  list(APPEND CPACK_COMPONENTS_ALL ${component})
  string(TOUPPER ${component} upper)
  set(CPACK_COMPONENT_${upper}_GROUP ${group})
endforeach()

foreach(group ${ombrix_package_groups})
  string(TOUPPER ${group} upper)
  list(GET ombrix_package_${group} 0 name)
  list(GET ombrix_package_${group} 1 section)
  set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${name})
  set(CPACK_DEBIAN_${upper}_PACKAGE_SECTION ${section})
endforeach()

include(CPack)
