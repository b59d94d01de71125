# Warnings on the project's own targets only; they fail the build where
# QUILL_WARNINGS_AS_ERRORS is on (the project's presets), and are only shown
# with another toolchain, whose compiler may warn of what ours does not.
function(quill_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra)
    if(QUILL_WARNINGS_AS_ERRORS)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()
