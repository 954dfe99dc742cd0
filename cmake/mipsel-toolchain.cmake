# Cross build for the boxes: MIPS32 little-endian Linux.
#
# Works with any mipsel Linux toolchain and a sysroot holding the target's
# libraries, so a box vendor's SDK builds Orbiel the same way as Debian's
# cross compiler does here:
#   cmake --preset mipsel -DOB_TOOLCHAIN_PREFIX=/opt/sdk/bin/mipsel-oe-linux- \
#         -DOB_SYSROOT=/opt/sdk/sysroots/mips32el-oe-linux
# The default sysroot is the one scripts/sysroot unpacks from Debian's
# packages. Debian's cross compiler keeps its own C library outside any
# sysroot (/usr/mipsel-linux-gnu) and links that one even with --sysroot, so
# that sysroot carries no C library development files of its own.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mips)

get_filename_component(_ob_source_dir "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(OB_TOOLCHAIN_PREFIX "mipsel-linux-gnu-"
    CACHE STRING "Prefix of the cross tools (may include a directory)")
set(OB_SYSROOT "${_ob_source_dir}/build/sysroot-mipsel"
    CACHE PATH "Target root holding the libraries to link and run against")
# The boxes' Broadcom cores implement MIPS32 release 1, so our own code must
# not use the release 2 instructions that Debian's compiler emits by default.
set(OB_MIPS_ARCH "mips32" CACHE STRING "Instruction set for -march")
set(OB_EMULATOR "qemu-mipsel-static" CACHE STRING "User-mode emulator that runs target programs")

# try_compile projects re-read this file; hand them the same choices.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES
     OB_TOOLCHAIN_PREFIX OB_SYSROOT OB_MIPS_ARCH OB_EMULATOR)

set(CMAKE_C_COMPILER "${OB_TOOLCHAIN_PREFIX}gcc")
set(CMAKE_CXX_COMPILER "${OB_TOOLCHAIN_PREFIX}g++")
set(CMAKE_C_FLAGS_INIT "-march=${OB_MIPS_ARCH}")
set(CMAKE_CXX_FLAGS_INIT "-march=${OB_MIPS_ARCH}")

set(CMAKE_SYSROOT "${OB_SYSROOT}")
set(CMAKE_LIBRARY_ARCHITECTURE mipsel-linux-gnu)
# Libraries, headers and package files come from the target root only;
# programs (code generators, the emulator) from the build machine.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests, test discovery and build-time tools run under qemu-user, which finds
# the dynamic loader and libraries in the sysroot.
set(CMAKE_CROSSCOMPILING_EMULATOR "${OB_EMULATOR};-L;${OB_SYSROOT}")
