# Installs the build into an empty folder and checks that exactly the
# program, its manual page, the README and the licence arrive.
# Arguments: -DBUILD=<build folder> -DPREFIX=<staging folder>.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${PREFIX}
  RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${status}")
endif()
file(GLOB_RECURSE installed RELATIVE ${PREFIX} LIST_DIRECTORIES false
     ${PREFIX}/*)
list(SORT installed)
set(expected
  bin/vramcheck
  share/doc/vramcheck/LICENSE
  share/doc/vramcheck/README.md
  share/man/man1/vramcheck.1.gz)
if(NOT installed STREQUAL expected)
  message(FATAL_ERROR "installed:\n  ${installed}\nexpected:\n  ${expected}")
endif()
