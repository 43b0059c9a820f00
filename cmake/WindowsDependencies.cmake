# OpenCL and {fmt} for the Windows build, where neither is installed as a
# library: the build machine's Khronos headers and {fmt} used header-only, and
# a delay-load import library for OpenCL.dll (which GPU drivers install) made
# from the functions the C header declares. Windows then starts the program
# without OpenCL.dll, which loads it itself and can say when it is missing.
# Defines OpenCL::OpenCL and fmt::fmt-header-only as find_package would.

find_path(VRAMCHECK_HOST_INCLUDE_DIR
  NAMES CL/opencl.hpp fmt/format.h
  PATHS /usr/include
  NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH
  DOC "Folder holding the Khronos OpenCL headers and {fmt}'s headers")
foreach(header CL/cl.h CL/opencl.hpp fmt/format.h)
  if(NOT EXISTS ${VRAMCHECK_HOST_INCLUDE_DIR}/${header})
    message(FATAL_ERROR "The Windows build needs ${header} in "
      "VRAMCHECK_HOST_INCLUDE_DIR (${VRAMCHECK_HOST_INCLUDE_DIR})")
  endif()
endforeach()

# Only these two header folders are visible to the Windows compiler, never
# the rest of the build machine's headers.
set(windows_include_dir ${CMAKE_CURRENT_BINARY_DIR}/windows-include)
file(MAKE_DIRECTORY ${windows_include_dir})
foreach(folder CL fmt)
  file(CREATE_LINK ${VRAMCHECK_HOST_INCLUDE_DIR}/${folder}
       ${windows_include_dir}/${folder} SYMBOLIC)
endforeach()

# Module definition: every API function of CL/cl.h, named as OpenCL.dll
# exports it.
file(READ ${VRAMCHECK_HOST_INCLUDE_DIR}/CL/cl.h cl_header)
string(REGEX MATCHALL "CL_API_CALL[ \t\r\n]+cl[A-Za-z0-9]+" declarations
       "${cl_header}")
list(TRANSFORM declarations REPLACE "^CL_API_CALL[ \t\r\n]+" "")
list(REMOVE_DUPLICATES declarations)
list(JOIN declarations "\n" exports)
set(opencl_def ${CMAKE_CURRENT_BINARY_DIR}/OpenCL.def)
file(CONFIGURE OUTPUT ${opencl_def}
     CONTENT "LIBRARY OpenCL.dll\nEXPORTS\n${exports}\n")

# dlltool names the library's symbols after the path it is given: a bare
# file name keeps the build folder out of the program.
set(opencl_import_library ${CMAKE_CURRENT_BINARY_DIR}/libOpenCL_delay.a)
add_custom_command(
  OUTPUT ${opencl_import_library}
  COMMAND ${CMAKE_DLLTOOL} -d OpenCL.def -y libOpenCL_delay.a -D OpenCL.dll
  WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
  DEPENDS ${opencl_def}
  COMMENT "Making the delay-load import library for OpenCL.dll")
add_custom_target(opencl_import_library DEPENDS ${opencl_import_library})

# The first call of each OpenCL function writes the function's address into
# the library's address table, which dlltool puts among the imports
# (.idata$5). The linker of binutils 2.44 makes the .idata section read-only,
# and the program would crash there; this script, added to the linker's
# default one, gives the table a writable section of its own, .didat. Its
# entries keep the default script's order (by file name), that of the names
# they are looked up by (.idata$4), which stay in .idata.
set(delay_import_script ${CMAKE_CURRENT_BINARY_DIR}/delay-import.ld)
file(CONFIGURE OUTPUT ${delay_import_script} CONTENT [[
SECTIONS
{
  .didat BLOCK(__section_alignment__) :
  {
    SORT(*libOpenCL_delay.a:)(.idata$5)
  }
}
INSERT AFTER .idata;
]])

add_library(OpenCL::OpenCL UNKNOWN IMPORTED)
set_target_properties(OpenCL::OpenCL PROPERTIES
  IMPORTED_LOCATION ${opencl_import_library}
  INTERFACE_INCLUDE_DIRECTORIES ${windows_include_dir}
  INTERFACE_LINK_LIBRARIES delayimp
  INTERFACE_LINK_OPTIONS LINKER:-T,${delay_import_script}
  INTERFACE_LINK_DEPENDS ${delay_import_script})
add_dependencies(OpenCL::OpenCL opencl_import_library)

add_library(fmt::fmt-header-only INTERFACE IMPORTED)
set_target_properties(fmt::fmt-header-only PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES ${windows_include_dir}
  INTERFACE_COMPILE_DEFINITIONS FMT_HEADER_ONLY)
