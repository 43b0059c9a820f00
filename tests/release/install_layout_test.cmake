# Installs the build into an empty folder and checks that exactly the
# programs, their manual pages, the benchmark that gpu-check runs, the job
# array's sbatch file and Slurm hooks, the README and the licence arrive.
# Arguments: -DBUILD=<build folder> -DPREFIX=<staging folder>
# -DWITH_GPU_CHECK=<ON where the build installs gpu-check and the benchmark>.
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
if(WITH_GPU_CHECK)
  list(APPEND expected
    bin/gpu-check
    libexec/vramcheck/vramcheck-epilog
    libexec/vramcheck/vramcheck-healthcheck
    libexec/vramcheck/vramcheck_bench
    share/man/man1/gpu-check.1.gz
    share/vramcheck/vramcheck-array.sbatch)
  list(SORT expected)
endif()
if(NOT installed STREQUAL expected)
  message(FATAL_ERROR "installed:\n  ${installed}\nexpected:\n  ${expected}")
endif()
