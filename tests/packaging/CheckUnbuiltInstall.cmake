# `cmake --install` of a build that made none of the installed targets (as one that built only
# some of them) installs what there is and fails on nothing: every target's files are optional.
# Configures a scratch build of the same sources; builds nothing.
file(REMOVE_RECURSE ${WORK_DIR})

include(${CMAKE_CURRENT_LIST_DIR}/Run.cmake)

run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/build -G ${GENERATOR} -DQUIL_BUILD_TESTS=OFF
    -DQUIL_BUILD_BENCH=OFF)
run(${CMAKE_COMMAND} --install ${WORK_DIR}/build --prefix ${WORK_DIR}/prefix)
# What needs no build is there.
foreach(file include/quil/Quil.h include/quil/catalogue/Document.h share/bash-completion/completions/quil)
    if(NOT EXISTS ${WORK_DIR}/prefix/${file})
        message(FATAL_ERROR "${file} was not installed")
    endif()
endforeach()
