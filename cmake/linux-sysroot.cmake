# Builds the Linux release programs with Debian 12's GCC 12 against a
# Debian 11 tree (scripts/make-sysroot) for VRAMCHECK_ARCH, x86_64 or
# aarch64. The programs then need glibc 2.17's symbols or older and
# libOpenCL.so.1: the C++ runtime and libgcc are Debian 11's static ones,
# compiled against its older glibc (GCC 12's own need glibc 2.36).
#   cmake -S . -B build/linux-aarch64 -DVRAMCHECK_ARCH=aarch64 \
#     -DVRAMCHECK_SYSROOT=build/sysroot-aarch64 \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/linux-sysroot.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${VRAMCHECK_ARCH})
set(CMAKE_SYSROOT ${VRAMCHECK_SYSROOT})
# try_compile projects see the same settings.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES
     VRAMCHECK_ARCH VRAMCHECK_SYSROOT)

set(triple ${VRAMCHECK_ARCH}-linux-gnu)
if(VRAMCHECK_ARCH STREQUAL "x86_64")
  set(CMAKE_C_COMPILER gcc-12)
  set(CMAKE_CXX_COMPILER g++-12)
else()
  set(CMAKE_C_COMPILER ${triple}-gcc-12)
  set(CMAKE_CXX_COMPILER ${triple}-g++-12)
endif()

# Debian 11's C++ headers and libraries in place of GCC 12's own.
set(gcc_dir ${CMAKE_SYSROOT}/usr/lib/gcc/${triple}/10)
string(JOIN " " CMAKE_CXX_FLAGS_INIT -nostdinc++
  -isystem ${CMAKE_SYSROOT}/usr/include/c++/10
  -isystem ${CMAKE_SYSROOT}/usr/include/${triple}/c++/10)
string(JOIN " " CMAKE_EXE_LINKER_FLAGS_INIT
  -B ${CMAKE_SYSROOT}/usr/lib/${triple} -L ${gcc_dir}
  -static-libstdc++ -static-libgcc)
set(CMAKE_SHARED_LINKER_FLAGS_INIT ${CMAKE_EXE_LINKER_FLAGS_INIT})

# Libraries and packages come from the sysroot only; tools from the build
# machine.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
