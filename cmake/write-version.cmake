# Writes the version header: cmake -DSOURCE_DIR=... -DVERSION=... -DOUTPUT=... -P write-version.cmake
#
# The version is project()'s. Built from a git checkout, it also says which
# commit: "1.2.0+g<12 digits of the commit>", always of the same length, so
# that the module's size does not move with a tag or an edit. A source export
# (git archive) says its commit in package/export-commit instead; without
# either the version is project()'s alone. The header is rewritten only when
# the text changes, so nothing is rebuilt for nothing.
set(text "${VERSION}")
find_package(Git QUIET)
set(exported "")
if(EXISTS "${SOURCE_DIR}/package/export-commit")
    file(STRINGS "${SOURCE_DIR}/package/export-commit" exported LIMIT_COUNT 1)
endif()
if(GIT_FOUND AND EXISTS "${SOURCE_DIR}/.git")
    execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${SOURCE_DIR}" rev-parse --short=12 HEAD
                    OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(commit)
        string(APPEND text "+g${commit}")
    endif()
elseif(exported MATCHES "^([0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f])[0-9a-f]* [0-9]+$")
    string(APPEND text "+g${CMAKE_MATCH_1}")
endif()
set(header "// Made by cmake/write-version.cmake.\n#pragma once\n#define QUILL_VERSION \"${text}\"\n")
if(EXISTS "${OUTPUT}")
    file(READ "${OUTPUT}" old)
endif()
if(NOT old STREQUAL header)
    file(WRITE "${OUTPUT}" "${header}")
endif()
