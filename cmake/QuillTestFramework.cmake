# GoogleTest: Debian's package natively; built from the sources that Debian's
# libgtest-dev ships when cross-compiling, where no target build is installed.
include(GoogleTest)
if(CMAKE_CROSSCOMPILING)
    if(NOT TARGET GTest::gtest_main)
        set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
        set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
        add_subdirectory(/usr/src/googletest "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
        add_library(GTest::gtest ALIAS gtest)
        add_library(GTest::gtest_main ALIAS gtest_main)
    endif()
else()
    find_package(GTest REQUIRED)
endif()
