# The board's binaries are stripped where they are built, so that the file in
# the build tree is the one to copy; each keeps its build id, and its debug
# information goes to a file beside it (NAME.debug). The `debug` install
# component puts those where debuggers look them up by build id:
# lib/debug/.build-id/XX/YYYY.debug.
include(CheckLinkerFlag)

function(quill_debug_files)
    check_linker_flag(CXX "LINKER:--build-id" QUILL_LINKER_BUILD_ID)
    if(NOT QUILL_LINKER_BUILD_ID)
        message(FATAL_ERROR "the linker gives no build id (--build-id), by which the debug files are found; "
                            "QUILL_SPLIT_DEBUG=OFF keeps the debug information in the binaries")
    endif()
    set(script "${PROJECT_SOURCE_DIR}/cmake/debug-file.sh")
    foreach(target IN LISTS ARGN)
        target_link_options(${target} PRIVATE "LINKER:--build-id")
        # The link itself runs through the script, which splits what it made:
        # this works from any folder, where a step after the build would not.
        set_property(TARGET ${target} PROPERTY RULE_LAUNCH_LINK
                     "${script} link ${CMAKE_OBJCOPY} ${CMAKE_STRIP}")
        install(CODE "execute_process(COMMAND \"${script}\" install \"${CMAKE_READELF}\"
                          \"$<TARGET_FILE:${target}>\" \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/debug\"
                          COMMAND_ERROR_IS_FATAL ANY)"
                COMPONENT debug EXCLUDE_FROM_ALL)
    endforeach()
endfunction()

# The debug information names files relative to the checkout and the build
# folder, so that the build id, which covers it, does not depend on where they
# are: two build folders give the same stripped binary.
function(quill_relative_debug_paths)
    include(CheckCXXCompilerFlag)
    check_cxx_compiler_flag(-ffile-prefix-map=/a=. QUILL_CXX_FILE_PREFIX_MAP)
    if(QUILL_CXX_FILE_PREFIX_MAP)
        set(maps "-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=" "-ffile-prefix-map=${PROJECT_BINARY_DIR}=.")
        # At the link as well: link-time optimisation compiles there.
        add_compile_options(${maps})
        add_link_options(${maps})
    endif()
endfunction()
