# What quil-gateway needs beyond the library: yaml-cpp for its configuration, libmosquitto for
# MQTT, protobuf for its payloads, zstd for compressed profile batches and libsystemd to tell
# systemd how it is doing.
find_package(yaml-cpp QUIET)
find_package(Protobuf QUIET)
find_package(PkgConfig QUIET)
pkg_check_modules(MOSQUITTO QUIET IMPORTED_TARGET libmosquitto)
pkg_check_modules(ZSTD QUIET IMPORTED_TARGET libzstd)
pkg_check_modules(SYSTEMD QUIET IMPORTED_TARGET libsystemd)
if(yaml-cpp_FOUND AND Protobuf_FOUND AND MOSQUITTO_FOUND AND ZSTD_FOUND AND SYSTEMD_FOUND)
    set(QUIL_GATEWAY_DEPENDENCIES_FOUND ON)
else()
    set(QUIL_GATEWAY_DEPENDENCIES_FOUND OFF)
    message(STATUS "quil-gateway: off (needs libyaml-cpp-dev, libmosquitto-dev, libprotobuf-dev, "
        "protobuf-compiler, libzstd-dev and libsystemd-dev)")
endif()
