# OpenCL and {fmt} for a release build against a Debian 11 sysroot
# (cmake/linux-sysroot.cmake): the OpenCL loader to link comes from the
# sysroot; the headers of OpenCL, its C++ bindings and {fmt} (used
# header-only) and nlohmann's JSON library from the build machine, the same
# that the tests are built with. Defines OpenCL::OpenCL, OpenCL_LIBRARY,
# fmt::fmt-header-only and nlohmann_json::nlohmann_json as find_package
# would.

set(host_include_dir ${CMAKE_CURRENT_BINARY_DIR}/host-include)
file(MAKE_DIRECTORY ${host_include_dir})
foreach(folder CL fmt nlohmann)
  if(NOT EXISTS /usr/include/${folder})
    message(FATAL_ERROR "The release build needs the build machine's "
      "/usr/include/${folder} (scripts/build-release installs it)")
  endif()
  file(CREATE_LINK /usr/include/${folder} ${host_include_dir}/${folder}
       SYMBOLIC)
endforeach()

set(OpenCL_INCLUDE_DIR ${host_include_dir} CACHE PATH "")
set(OpenCL_LIBRARY
    ${CMAKE_SYSROOT}/usr/lib/${CMAKE_LIBRARY_ARCHITECTURE}/libOpenCL.so.1
    CACHE FILEPATH "")
find_package(OpenCL REQUIRED)

add_library(fmt::fmt-header-only INTERFACE IMPORTED)
set_target_properties(fmt::fmt-header-only PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES ${host_include_dir}
  INTERFACE_COMPILE_DEFINITIONS FMT_HEADER_ONLY)

add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES ${host_include_dir})
