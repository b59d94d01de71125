# jsoncpp as JsonCpp::JsonCpp: from its CMake package files where it has them
# (Debian), else from its header and library alone, as a board vendor's
# sysroot often holds it.
find_package(jsoncpp CONFIG QUIET)
if(TARGET JsonCpp::JsonCpp)
    set(jsoncpp_FOUND TRUE)
    return()
endif()

find_path(QUILL_JSONCPP_INCLUDE_DIR json/value.h PATH_SUFFIXES jsoncpp)
find_library(QUILL_JSONCPP_LIBRARY NAMES jsoncpp)
include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(jsoncpp
    REQUIRED_VARS QUILL_JSONCPP_LIBRARY QUILL_JSONCPP_INCLUDE_DIR
    REASON_FAILURE_MESSAGE "neither jsoncpp's CMake package files nor json/value.h and libjsoncpp were found")
if(jsoncpp_FOUND)
    add_library(JsonCpp::JsonCpp UNKNOWN IMPORTED)
    set_target_properties(JsonCpp::JsonCpp PROPERTIES
        IMPORTED_LOCATION "${QUILL_JSONCPP_LIBRARY}"
        INTERFACE_INCLUDE_DIRECTORIES "${QUILL_JSONCPP_INCLUDE_DIR}")
endif()
