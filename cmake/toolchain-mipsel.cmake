# Cross build for the controller's board: 32-bit little-endian MIPS Linux
# (Debian's mipsel ABI: MIPS32r2, o32, hard float).
#
# The C and C++ runtimes come with the cross toolchain in /usr/mipsel-linux-gnu;
# jsoncpp and Boost from QUILL_MIPSEL_SYSROOT, which
# cmake/fetch-mipsel-sysroot.sh fills with Debian's mipsel packages.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mipsel)
set(CMAKE_LIBRARY_ARCHITECTURE mipsel-linux-gnu)

set(CMAKE_C_COMPILER mipsel-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER mipsel-linux-gnu-g++)

set(QUILL_MIPSEL_SYSROOT "${CMAKE_CURRENT_LIST_DIR}/../build/sysroot-mipsel"
    CACHE PATH "Unpacked mipsel packages of jsoncpp and Boost")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUILL_MIPSEL_SYSROOT)
get_filename_component(_quill_sysroot "${QUILL_MIPSEL_SYSROOT}" ABSOLUTE)

set(CMAKE_FIND_ROOT_PATH "${_quill_sysroot}" /usr/mipsel-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest, gtest_discover_tests and add_custom_command run target programs
# through user-mode emulation: the loader and libc from the cross toolchain,
# the sysroot's libraries on the library path.
set(CMAKE_CROSSCOMPILING_EMULATOR
    qemu-mipsel -L /usr/mipsel-linux-gnu
    -E "LD_LIBRARY_PATH=${_quill_sysroot}/usr/lib/mipsel-linux-gnu")
