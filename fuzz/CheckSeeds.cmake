# Fails when the seeds in the source tree differ from what fuzz_seed_writer
# writes now. Run by ctest with -DWRITER=, -DSOURCE= (fuzz/) and -DOUT=.
file(REMOVE_RECURSE "${OUT}")
execute_process(COMMAND "${WRITER}" "${OUT}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "fuzz_seed_writer failed: ${result}")
endif()

file(GLOB_RECURSE written RELATIVE "${OUT}" "${OUT}/*")
file(GLOB_RECURSE kept RELATIVE "${SOURCE}" "${SOURCE}/corpus/receive/*" "${SOURCE}/corpus/answer/*"
     "${SOURCE}/corpus/cache/*"
     "${SOURCE}/ups.dict")
list(SORT written)
list(SORT kept)
set(stale "")
if(NOT written STREQUAL kept)
    set(stale "the file lists differ:\n  written: ${written}\n  kept: ${kept}\n")
endif()
# Compared by their digests here, not by a process per file.
foreach(file IN LISTS written)
    set(kept_digest "")
    if(EXISTS "${SOURCE}/${file}")
        file(SHA256 "${SOURCE}/${file}" kept_digest)
    endif()
    file(SHA256 "${OUT}/${file}" written_digest)
    if(NOT written_digest STREQUAL kept_digest)
        string(APPEND stale "  ${file}\n")
    endif()
endforeach()
if(stale)
    message(FATAL_ERROR "seeds out of date; run `make fuzz-seeds`:\n${stale}")
endif()
