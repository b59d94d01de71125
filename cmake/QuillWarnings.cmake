# Warnings that fail the build, on the project's own targets only.
function(quill_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()
