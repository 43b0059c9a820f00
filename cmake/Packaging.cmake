# Packages of the installed files: on Linux a Debian package (cpack -G DEB)
# and an archive that runs where it is unpacked (cpack -G TGZ); for a Windows
# build a ZIP archive of the program and its documents (cpack -G ZIP).

set(VRAMCHECK_PACKAGE_CONTACT "The vramcheck authors <vramcheck@example.org>"
    CACHE STRING "Maintainer named in the Debian package")

set(CPACK_PACKAGE_NAME vramcheck)
set(CPACK_PACKAGE_VENDOR "the vramcheck authors")
set(CPACK_PACKAGE_CONTACT "${VRAMCHECK_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "test the memory of a graphics card through OpenCL")
set(CPACK_PACKAGE_DESCRIPTION
    "vramcheck fills blocks of a GPU's memory with a pattern derived from each
word's position, reads them back in a scrambled order and counts every
32-bit word and every bit that came back wrong, pass after pass. One status
line shows the write and read bandwidth and the errors found. It tests the
GPU devices that the installed OpenCL drivers present.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB TGZ)
  # Each generator packs its own components (cmake/CPackComponents.cmake).
  set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/CPackComponents.cmake)
  set(CPACK_VRAMCHECK_ARCHIVE_NAME
      "vramcheck-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR}")
  # Debian's documents of every package: the copyright file, the licence
  # of LICENSE in Debian's format, and the changelog. They go into the Debian
  # package only, not into a plain installation.
  file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog
       changelog_head LIMIT_COUNT 1)
  if(NOT changelog_head MATCHES "^vramcheck \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "packaging/debian/changelog has no entry for "
                        "version ${PROJECT_VERSION} at its top")
  endif()
  set(debian_docs ${PROJECT_BINARY_DIR}/packaging/debian)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/copyright.in
                 ${debian_docs}/copyright @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/changelog
                 ${debian_docs}/changelog COPYONLY)
  vramcheck_gzip(debian_changelog ${debian_docs}/changelog)
  install(FILES ${debian_docs}/copyright ${debian_docs}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR}
          COMPONENT debian EXCLUDE_FROM_ALL)

  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  # What the programs need, one package or group each: dpkg-shlibdeps
  # would name the loader twice and pin each library to the build machine's
  # release. A test holds the release programs' libraries and symbol
  # versions to the first line.
  if(VRAMCHECK_SYSROOT)
    # The release builds (cmake/linux-sysroot.cmake): glibc 2.17, the C++
    # runtime compiled in, any OpenCL loader.
    set(CPACK_DEBIAN_PACKAGE_DEPENDS
        "libc6 (>= 2.17), ocl-icd-libopencl1 | libopencl1")
    if(CMAKE_SYSTEM_PROCESSOR STREQUAL "aarch64")
      set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
    else()
      set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
    endif()
  else()
    # A build on Debian 12 or later: glibc 2.34 and GCC 11's C++ runtime.
    set(CPACK_DEBIAN_PACKAGE_DEPENDS
        "libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 11), ocl-icd-libopencl1 | libopencl1")
  endif()
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS clinfo)
  # The OpenCL GPU drivers of Debian and Ubuntu: NVIDIA's (a package in
  # Debian's non-free section, provided by libnvidia-compute-* on Ubuntu),
  # AMD's ROCm (Debian 13, Ubuntu 25.10 and later), Intel's compute runtime
  # and Mesa's.
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS
      "nvidia-opencl-icd | rocm-opencl-icd | intel-opencl-icd | mesa-opencl-icd")
endif()

include(CPack)
