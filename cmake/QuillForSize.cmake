# The board's flash is scarce and a poll cycle is a tiny share of its time on
# the wire, so the board's module is built for size: -Os, link-time
# optimisation across its sources, and every section nothing refers to
# dropped at the link.
include(CheckIPOSupported)
include(CheckCXXCompilerFlag)

# Plain -Os keeps even the smallest functions of the regular-expression
# engine out of line, and a poll cycle then costs 1.6 times as much under
# qemu-mipsel; letting functions of up to 12 instructions inline brings it back
# to about what -O3 costs, for 9 KB. A compiler without the parameter gets -Os.
#
# Link-time optimisation turns the module's weak copies of library templates
# into global definitions; the export map keeps get_providers its only export.
#
# RELRO would pad the module's read-only-after-relocation part to a page
# boundary: 7 KB of flash (127,124 to 134,196 bytes). The module is linked
# -z norelro; -z now (cmake/QuillHardening.cmake), which costs 48 bytes, stays.
#
# OBJECTS is the module's object library, MODULE the library linked from it.
# Whatever else links OBJECTS runs the same code: its objects carry only
# the intermediate form, which each link optimises as compiled.
function(quill_for_size objects module)
    check_ipo_supported(RESULT lto OUTPUT why LANGUAGES CXX)
    if(NOT lto)
        message(FATAL_ERROR "the module is built for size with link-time optimisation, which "
                            "this compiler cannot do (QUILL_MODULE_FOR_SIZE=OFF builds without): ${why}")
    endif()
    set(size_flags -Os -ffunction-sections -fdata-sections)
    check_cxx_compiler_flag(--param=max-inline-insns-size=12 QUILL_CXX_INLINE_SIZE_PARAM)
    if(QUILL_CXX_INLINE_SIZE_PARAM)
        list(APPEND size_flags --param=max-inline-insns-size=12)
    endif()
    target_compile_options(${objects} PRIVATE ${size_flags})
    set_target_properties(${objects} ${module} PROPERTIES INTERPROCEDURAL_OPTIMIZATION ON)
    set(exports "${PROJECT_SOURCE_DIR}/cmake/module-exports.map")
    target_link_options(${module} PRIVATE ${size_flags} -Wl,--gc-sections -Wl,-z,norelro
                        "-Wl,--version-script=${exports}")
    set_target_properties(${module} PROPERTIES LINK_DEPENDS "${exports}")
endfunction()
