# Every binary's relocations read-only once loaded and its symbols bound at
# load time (-z relro -z now), as Debian links its own packages; Debian's
# cross linker for the board does neither by itself. A module whose host
# lacks a symbol is then refused by dlopen, rather than stopping the
# controller when the call comes.
include(CheckLinkerFlag)

function(quill_hardening)
    check_linker_flag(CXX "LINKER:-z,relro,-z,now" QUILL_LINKER_RELRO_NOW)
    if(QUILL_LINKER_RELRO_NOW)
        add_link_options("LINKER:-z,relro,-z,now")
    endif()
endfunction()
