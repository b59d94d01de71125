# Writes the version header: cmake -DSOURCE_DIR=... -DVERSION=... -DOUTPUT=... -P write-version.cmake
#
# The version is project()'s. Built from a git checkout, it also says which
# commit: "1.1.0" at the commit tagged v1.1.0, else "1.1.0+g<commit>", and
# ".modified" after that when the files differ from the commit. The header is
# rewritten only when the text changes, so nothing is rebuilt for nothing.
set(text "${VERSION}")
find_package(Git QUIET)
if(GIT_FOUND AND EXISTS "${SOURCE_DIR}/.git")
    execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${SOURCE_DIR}" describe --tags --exact-match
                    --match "v${VERSION}" HEAD
                    RESULT_VARIABLE untagged OUTPUT_QUIET ERROR_QUIET)
    execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${SOURCE_DIR}" rev-parse --short=12 HEAD
                    OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${SOURCE_DIR}" status --porcelain
                    --untracked-files=no
                    OUTPUT_VARIABLE changes OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(untagged AND commit)
        string(APPEND text "+g${commit}")
    endif()
    if(commit AND changes)
        string(APPEND text ".modified")
    endif()
endif()
set(header "// Made by cmake/write-version.cmake.\n#pragma once\n#define QUILL_VERSION \"${text}\"\n")
if(EXISTS "${OUTPUT}")
    file(READ "${OUTPUT}" old)
endif()
if(NOT old STREQUAL header)
    file(WRITE "${OUTPUT}" "${header}")
endif()
