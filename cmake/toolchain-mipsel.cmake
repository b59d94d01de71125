# Cross build for the controller's board: 32-bit little-endian MIPS Linux.
#
# By default Debian's cross compiler (mipsel-linux-gnu-g++: MIPS32r2, o32,
# hard float), whose C and C++ runtimes live in /usr/mipsel-linux-gnu; jsoncpp
# and Boost come from QUILL_MIPSEL_SYSROOT, which
# cmake/fetch-mipsel-sysroot.sh fills with Debian's mipsel packages.
#
# A board vendor's toolchain is given by three cache variables: the compiler
# prefix, the toolchain's own sysroot (its C library and C++ runtime, those of
# the controller) and extra ABI flags such as -msoft-float or -march=mips32.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mipsel)
set(CMAKE_LIBRARY_ARCHITECTURE mipsel-linux-gnu)

set(QUILL_MIPSEL_PREFIX "mipsel-linux-gnu-"
    CACHE STRING "Cross compiler prefix: <prefix>gcc and <prefix>g++, a path allowed")
set(QUILL_MIPSEL_TOOLCHAIN_SYSROOT ""
    CACHE PATH "The toolchain's sysroot with its C library and C++ runtime (empty: the compiler's own)")
set(QUILL_MIPSEL_ABI_FLAGS ""
    CACHE STRING "Extra ABI flags for compiling and linking, e.g. -msoft-float or -march=mips32")
set(QUILL_MIPSEL_SYSROOT "${CMAKE_CURRENT_LIST_DIR}/../build/sysroot-mipsel"
    CACHE PATH "Unpacked mipsel packages of jsoncpp and Boost")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES
     QUILL_MIPSEL_PREFIX QUILL_MIPSEL_TOOLCHAIN_SYSROOT QUILL_MIPSEL_ABI_FLAGS QUILL_MIPSEL_SYSROOT)

set(CMAKE_C_COMPILER "${QUILL_MIPSEL_PREFIX}gcc")
set(CMAKE_CXX_COMPILER "${QUILL_MIPSEL_PREFIX}g++")
set(CMAKE_C_FLAGS_INIT "${QUILL_MIPSEL_ABI_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${QUILL_MIPSEL_ABI_FLAGS}")

set(_quill_runtime /usr/mipsel-linux-gnu)
if(QUILL_MIPSEL_TOOLCHAIN_SYSROOT)
    set(CMAKE_SYSROOT "${QUILL_MIPSEL_TOOLCHAIN_SYSROOT}")
    set(_quill_runtime "${QUILL_MIPSEL_TOOLCHAIN_SYSROOT}")
endif()
get_filename_component(_quill_sysroot "${QUILL_MIPSEL_SYSROOT}" ABSOLUTE)

set(CMAKE_FIND_ROOT_PATH "${_quill_sysroot}" "${_quill_runtime}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest, gtest_discover_tests and add_custom_command run target programs
# through user-mode emulation: the loader and libc from the toolchain, the
# sysroot's libraries on the library path.
set(CMAKE_CROSSCOMPILING_EMULATOR
    qemu-mipsel -L "${_quill_runtime}"
    -E "LD_LIBRARY_PATH=${_quill_sysroot}/usr/lib/mipsel-linux-gnu:${_quill_sysroot}/usr/lib")
