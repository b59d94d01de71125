# Read by cpack. Each package's description carries its own synopsis, which
# CPack would otherwise put under the project's.
unset(CPACK_PACKAGE_DESCRIPTION_SUMMARY)

# The Depends of each package, from dpkg-shlibdeps on the files of its
# components as installed (package/depends.sh).
foreach(group IN ITEMS module tools)
    execute_process(
        COMMAND "${CPACK_QUILL_DEPENDS_SCRIPT}" "${CPACK_DEBIAN_PACKAGE_ARCHITECTURE}"
                "${CPACK_QUILL_BUILD_DIR}" ${group}
        OUTPUT_VARIABLE depends OUTPUT_STRIP_TRAILING_WHITESPACE
        RESULT_VARIABLE status)
    if(NOT status EQUAL 0 OR depends STREQUAL "")
        message(FATAL_ERROR "the Depends of the ${group} package could not be computed")
    endif()
    string(TOUPPER "${group}" group)
    set(CPACK_DEBIAN_${group}_PACKAGE_DEPENDS "${depends}")
endforeach()
