# The project's version, as the module and every program show it: a header
# made at each build from project()'s version and the git commit
# (cmake/write-version.cmake), so a new commit never leaves an old text.
set(QUILL_VERSION_DIR "${PROJECT_BINARY_DIR}/generated")
add_custom_target(quill_version_header
    COMMAND "${CMAKE_COMMAND}" "-DSOURCE_DIR=${PROJECT_SOURCE_DIR}"
            "-DVERSION=${PROJECT_VERSION}" "-DOUTPUT=${QUILL_VERSION_DIR}/QuillVersion.h"
            -P "${PROJECT_SOURCE_DIR}/cmake/write-version.cmake"
    BYPRODUCTS "${QUILL_VERSION_DIR}/QuillVersion.h"
    VERBATIM)

# Gives `target` the header QuillVersion.h, made before it is compiled.
function(quill_version target)
    target_include_directories(${target} PRIVATE "${QUILL_VERSION_DIR}")
    add_dependencies(${target} quill_version_header)
endfunction()
