# Installs into a scratch prefix and runs the installed tool with no library path set: it must
# find the installed library through its RUNPATH. The manual page and the completion come along.
file(REMOVE_RECURSE ${WORK_DIR})

function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output
        ERROR_VARIABLE output)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "Failed: ${ARGN}\n${output}")
    endif()
    set(output "${output}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/prefix)
run(${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH ${WORK_DIR}/prefix/bin/quil --version)
if(NOT output MATCHES "^quil [0-9]+\\.[0-9]+\\.[0-9]+")
    message(FATAL_ERROR "Unexpected version: ${output}")
endif()
run(readelf -d ${WORK_DIR}/prefix/bin/quil)
if(NOT output MATCHES "RUNPATH[^\n]*\\$ORIGIN/\\.\\./lib")
    message(FATAL_ERROR "No RUNPATH relative to the prefix:\n${output}")
endif()
foreach(file share/man/man1/quil.1 share/bash-completion/completions/quil)
    if(NOT EXISTS ${WORK_DIR}/prefix/${file})
        message(FATAL_ERROR "Not installed: ${file}")
    endif()
endforeach()
# groff-base is part of every Debian system; it renders the page as man would.
run(groff -man -Tascii -P-cbou ${WORK_DIR}/prefix/share/man/man1/quil.1)
if(NOT output MATCHES "Exit status" OR NOT output MATCHES "stream")
    message(FATAL_ERROR "The manual page lacks the commands or the exit statuses:\n${output}")
endif()
