file(REMOVE_RECURSE ${WORK_DIR})

include(${CMAKE_CURRENT_LIST_DIR}/Run.cmake)

set(flags "")
if(SANITIZE)
    set(flags "-fsanitize=${SANITIZE}")
endif()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/prefix)
run(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/build
    -DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix -DCMAKE_CXX_FLAGS=${flags}
    -DABSENT_ADDRESS=${ABSENT_ADDRESS} -DSENSOR_ADDRESS=${SENSOR_ADDRESS} -DUDP_PORT=${UDP_PORT})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run(${WORK_DIR}/build/consumer)

# The examples as installed build against the installed package.
run(${CMAKE_COMMAND} -S ${WORK_DIR}/prefix/share/doc/libquil-dev/examples -B ${WORK_DIR}/examples
    -DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix -DCMAKE_CXX_FLAGS=${flags})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/examples)

# The same installed library through pkg-config alone, with a one-file application.
file(GLOB_RECURSE pc_file ${WORK_DIR}/prefix/*/quil.pc)
get_filename_component(pc_dir "${pc_file}" DIRECTORY)
run(${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${pc_dir} pkg-config --cflags --libs quil)
separate_arguments(pc_flags UNIX_COMMAND "${output}")
run(${CXX} -std=c++17 ${flags} -o ${WORK_DIR}/pkgconfig-consumer ${PKGCONFIG_CONSUMER}
    -DQUIL_EXPECTED_VERSION="${VERSION}" -DQUIL_ABSENT_ADDRESS="${ABSENT_ADDRESS}"
    -DQUIL_UDP_PORT=${UDP_PORT} ${pc_flags})
get_filename_component(lib_dir "${pc_dir}" DIRECTORY)
run(${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${lib_dir} ${WORK_DIR}/pkgconfig-consumer)
