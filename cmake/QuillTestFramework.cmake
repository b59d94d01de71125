# GoogleTest: Debian's package natively; built from the sources that Debian's
# libgtest-dev ships when cross-compiling, where no target build is installed.
include(GoogleTest)
if(CMAKE_CROSSCOMPILING)
    if(NOT TARGET GTest::gtest_main)
        set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
        set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
        # Its own CMakeLists defines the GTest::gtest and GTest::gtest_main aliases.
        add_subdirectory(/usr/src/googletest "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
    endif()
else()
    find_package(GTest REQUIRED)
endif()

# A test program: the project's warnings, and no optimisation. Its own code only
# drives what it tests (the module, the tools and the libraries keep the build's
# optimisation); optimised, the test files were half of every build's compile time.
function(quill_test_program target)
    quill_warnings(${target})
    target_compile_options(${target} PRIVATE -O0)
endfunction()
