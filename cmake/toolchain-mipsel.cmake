# Cross build for the controller's board: 32-bit little-endian MIPS Linux.
#
# By default Debian's cross compiler (mipsel-linux-gnu-g++: MIPS32r2, o32,
# hard float), whose C and C++ runtimes live in /usr/mipsel-linux-gnu; jsoncpp
# and Boost come from QUILL_MIPSEL_SYSROOT, which
# cmake/fetch-mipsel-sysroot.sh fills with Debian's mipsel packages.
#
# A board vendor's toolchain is given by cache variables: the compiler prefix,
# the toolchain's own sysroot (its C library and C++ runtime, those of the
# controller), extra ABI flags such as -msoft-float or -march=mips32, and where
# jsoncpp and Boost are (by default the toolchain's sysroot). Libraries are
# looked for in lib/ and lib/QUILL_MIPSEL_LIBRARY_ARCHITECTURE of each.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mipsel)

# Projects that try_compile makes (CheckIPOSupported's) read this file without
# the build folder's cache: the settings reach them through the environment.
set(_quill_toolchain_settings QUILL_MIPSEL_PREFIX QUILL_MIPSEL_TOOLCHAIN_SYSROOT QUILL_MIPSEL_ABI_FLAGS
    QUILL_MIPSEL_SYSROOT QUILL_MIPSEL_LIBRARY_ARCHITECTURE)
foreach(_quill_setting IN LISTS _quill_toolchain_settings)
    if(NOT DEFINED ${_quill_setting} AND DEFINED ENV{${_quill_setting}})
        set(${_quill_setting} "$ENV{${_quill_setting}}")
    endif()
endforeach()

set(QUILL_MIPSEL_PREFIX "mipsel-linux-gnu-"
    CACHE STRING "Cross compiler prefix: <prefix>gcc and <prefix>g++, a path allowed")
set(QUILL_MIPSEL_TOOLCHAIN_SYSROOT ""
    CACHE PATH "The toolchain's sysroot with its C library and C++ runtime (empty: the compiler's own)")
set(QUILL_MIPSEL_ABI_FLAGS ""
    CACHE STRING "Extra ABI flags for compiling and linking, e.g. -msoft-float or -march=mips32")
if(QUILL_MIPSEL_TOOLCHAIN_SYSROOT)
    set(_quill_libraries "${QUILL_MIPSEL_TOOLCHAIN_SYSROOT}")
else()
    set(_quill_libraries "${CMAKE_CURRENT_LIST_DIR}/../build/sysroot-mipsel")
endif()
set(QUILL_MIPSEL_SYSROOT "${_quill_libraries}"
    CACHE PATH "Where jsoncpp and Boost are (default: the toolchain's sysroot, else build/sysroot-mipsel)")
set(QUILL_MIPSEL_LIBRARY_ARCHITECTURE "mipsel-linux-gnu"
    CACHE STRING "The folder under lib/ that holds libraries besides lib/ itself (Debian's multiarch name)")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ${_quill_toolchain_settings})
foreach(_quill_setting IN LISTS _quill_toolchain_settings)
    set(ENV{${_quill_setting}} "${${_quill_setting}}")
endforeach()
set(CMAKE_LIBRARY_ARCHITECTURE "${QUILL_MIPSEL_LIBRARY_ARCHITECTURE}")

get_filename_component(_quill_sysroot "${QUILL_MIPSEL_SYSROOT}" ABSOLUTE)
set(_quill_runtime /usr/mipsel-linux-gnu)
if(QUILL_MIPSEL_TOOLCHAIN_SYSROOT)
    get_filename_component(_quill_runtime "${QUILL_MIPSEL_TOOLCHAIN_SYSROOT}" ABSOLUTE)
    set(CMAKE_SYSROOT "${_quill_runtime}")
endif()

# CMake keeps the compiler and the flags a build folder was first configured
# with, so a later change of these would be ignored without a word: it is
# refused instead. (try_compile projects start with these alone.)
set(_quill_settings "prefix \"${QUILL_MIPSEL_PREFIX}\", toolchain sysroot \"${QUILL_MIPSEL_TOOLCHAIN_SYSROOT}\", ABI flags \"${QUILL_MIPSEL_ABI_FLAGS}\", libraries \"${_quill_sysroot}\", library folder \"${QUILL_MIPSEL_LIBRARY_ARCHITECTURE}\"")
if(DEFINED QUILL_MIPSEL_CONFIGURED AND NOT QUILL_MIPSEL_CONFIGURED STREQUAL _quill_settings)
    message(FATAL_ERROR "This build folder (${CMAKE_BINARY_DIR}) was configured for the toolchain with\n"
                        "  ${QUILL_MIPSEL_CONFIGURED}\n"
                        "and cannot take\n"
                        "  ${_quill_settings}\n"
                        "Configure a new build folder for them (cmake -B <new folder> ...), or delete this one.")
endif()
set(QUILL_MIPSEL_CONFIGURED "${_quill_settings}" CACHE INTERNAL "The toolchain this build folder is for")

set(CMAKE_C_COMPILER "${QUILL_MIPSEL_PREFIX}gcc")
set(CMAKE_CXX_COMPILER "${QUILL_MIPSEL_PREFIX}g++")
# The toolchain's own archiver for link-time optimisation: CMake would look
# for a versioned name (gcc-ar-12) on the PATH before this one.
foreach(_quill_tool AR RANLIB)
    string(TOLOWER "${_quill_tool}" _quill_name)
    if(EXISTS "${QUILL_MIPSEL_PREFIX}gcc-${_quill_name}")
        set(CMAKE_C_COMPILER_${_quill_tool} "${QUILL_MIPSEL_PREFIX}gcc-${_quill_name}" CACHE FILEPATH "")
        set(CMAKE_CXX_COMPILER_${_quill_tool} "${QUILL_MIPSEL_PREFIX}gcc-${_quill_name}" CACHE FILEPATH "")
    endif()
endforeach()
set(CMAKE_C_FLAGS_INIT "${QUILL_MIPSEL_ABI_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${QUILL_MIPSEL_ABI_FLAGS}")

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
    -E "LD_LIBRARY_PATH=${_quill_sysroot}/usr/lib/${QUILL_MIPSEL_LIBRARY_ARCHITECTURE}:${_quill_sysroot}/usr/lib")
