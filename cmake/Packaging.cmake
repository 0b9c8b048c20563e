# Debian packages of the install components, made by CPack (`cpack -G DEB` in a build tree;
# scripts/package builds and packs). The version is the project's, with Debian revision 1.
#
#   component    package        contents
#   library      libquil0       the shared library (SONAME libquil.so.<major>)
#   development  libquil-dev    header, link name, CMake package (with Quil::sim), pkg-config,
#                               examples
#   tools        quil-tools     quil and quil-sim, their manual pages, bash completion
#   python       python3-quil   the Python package
#   gateway      quil-gateway   quil-gateway, its manual page, unit, README and example
#                               configuration; systemd reloaded on installation, gateways stopped
#                               on removal
#
# Every package carries its copyright and changelog.Debian.gz in /usr/share/doc/<package>.

set(QUIL_DEB_REVISION 1)
set(QUIL_DEB_VERSION ${PROJECT_VERSION}-${QUIL_DEB_REVISION})
set(QUIL_DEB_MAINTAINER "Quil developers <quil@example.org>")

set(QUIL_PACKAGE_COMPONENTS library development tools)
set(QUIL_DEB_library libquil${PROJECT_VERSION_MAJOR})
set(QUIL_DEB_development libquil-dev)
set(QUIL_DEB_tools quil-tools)
if(TARGET quil_python)
    list(APPEND QUIL_PACKAGE_COMPONENTS python)
    set(QUIL_DEB_python python3-quil)
endif()
if(TARGET quil-gateway)
    list(APPEND QUIL_PACKAGE_COMPONENTS gateway)
    set(QUIL_DEB_gateway quil-gateway)
endif()

# The documentation files every package needs; installed only when a component is installed
# on its own (as CPack does), so that `cmake --install` leaves them out.
string(TIMESTAMP QUIL_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(QUIL_DEB_DOC_DIR ${PROJECT_BINARY_DIR}/debian-doc)
foreach(component IN LISTS QUIL_PACKAGE_COMPONENTS)
    set(package ${QUIL_DEB_${component}})
    set(dir ${QUIL_DEB_DOC_DIR}/${package})
    configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/copyright ${dir}/copyright COPYONLY)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/changelog.Debian.in ${dir}/changelog.Debian
        @ONLY)
    # gzip -n: no name or time stamp inside, so the same changelog packs the same.
    execute_process(COMMAND gzip -9nf ${dir}/changelog.Debian RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "Could not compress ${dir}/changelog.Debian")
    endif()
    install(FILES ${dir}/copyright ${dir}/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package}
        COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quil)
set(CPACK_PACKAGE_VENDOR "Quil developers")
set(CPACK_PACKAGE_CONTACT ${QUIL_DEB_MAINTAINER})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL ${QUIL_PACKAGE_COMPONENTS})
set(CPACK_DEB_COMPONENT_INSTALL ON)
# What a package in /usr needs beyond `cmake --install` (no RPATH, compressed manual pages,
# Debian's place for Python packages) is done to the staged files.
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/PackagingStage.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/PackagingUnscripted.cmake)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${QUIL_DEB_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${QUIL_DEB_REVISION})
set(CPACK_DEBIAN_PACKAGE_SOURCE quil)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://example.org/quil")
# Dependencies on shared libraries from the libraries each package's binaries need; the
# library's own package is found in the build tree, and named explicitly below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME ${QUIL_DEB_library})
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
# Descriptions: the synopsis, then the text (CPack indents it as Debian wants).
set(CPACK_COMPONENT_LIBRARY_DESCRIPTION "client library for a networked 2D laser profile sensor
quil configures a 2D laser profile sensor over its WebSocket interface
(JSON on TCP port 80), reads its settings, measurements, profiles and camera
images, and receives, records and replays its UDP measurement stream.

This package contains the shared library.")
# The shared library's links come from the ldconfig trigger. No maintainer scripts (see
# PackagingUnscripted.cmake) and no conffiles: removing the package leaves nothing ("rc").
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/triggers)

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME ${QUIL_DEB_development})
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
# The virtual sensor's headers include Boost.Asio and nlohmann/json, and its CMake component
# finds them.
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS
    "${QUIL_DEB_library} (= ${QUIL_DEB_VERSION}), libboost-dev (>= 1.74), libboost-system-dev (>= 1.74), nlohmann-json3-dev (>= 3.10)")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
    "client library for a networked 2D laser profile sensor (development files)
quil configures a 2D laser profile sensor over its WebSocket interface and
receives its UDP measurement stream.

This package contains the headers (quil/Quil.h, and quil/Json.h with the
records' JSON forms), the CMake package Quil (with the component sim, a virtual
sensor for an application's own tests), the pkg-config file and examples in
C++ and Python.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME ${QUIL_DEB_tools})
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "${QUIL_DEB_library} (= ${QUIL_DEB_VERSION})")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
    "command-line tool and virtual sensor for a 2D laser profile sensor
quil reads and changes the sensor's settings, backs them up and restores them,
and captures, records, replays and plots its measurement stream. quil-sim is a
virtual sensor on a loopback address, for trying the tool and testing
applications without hardware.")

if(TARGET quil_python)
    string(REGEX REPLACE "^([0-9]+)\\.([0-9]+)$" "\\2" minor ${QUIL_PYTHON_VERSION})
    math(EXPR minor "${minor} + 1")
    string(REGEX REPLACE "\\.[0-9]+$" ".${minor}" QUIL_PYTHON_VERSION_NEXT ${QUIL_PYTHON_VERSION})
    set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME ${QUIL_DEB_python})
    set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
    # The extension module is built for this interpreter's version only.
    set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
        "python3 (>= ${QUIL_PYTHON_VERSION}), python3 (<< ${QUIL_PYTHON_VERSION_NEXT}), python3-numpy")
    set(CPACK_COMPONENT_PYTHON_DESCRIPTION
        "Python package for a networked 2D laser profile sensor
The package quil offers the client library in Python: every operation,
records as classes, profiles and images as numpy arrays, the measurement
stream as an iterator, recordings, and the virtual sensor for tests.")
endif()

if(TARGET quil-gateway)
    set(CPACK_DEBIAN_GATEWAY_PACKAGE_NAME ${QUIL_DEB_gateway})
    set(CPACK_DEBIAN_GATEWAY_PACKAGE_SECTION net)
    set(CPACK_DEBIAN_GATEWAY_PACKAGE_DEPENDS "${QUIL_DEB_library} (= ${QUIL_DEB_VERSION})")
    set(CPACK_COMPONENT_GATEWAY_DESCRIPTION
        "gateway from 2D laser profile sensors to an MQTT broker
quil-gateway keeps a group of sensors streaming and publishes their state as a
Sparkplug B edge node and their profiles, in millimetres, on a binary lane.
One systemd unit per configuration file (quil-gateway@.service).")
    # systemd reloads its units on installation; removal stops the running gateways. No postrm,
    # so that a removed package is not kept as configuration files only ("rc").
    set(CPACK_DEBIAN_GATEWAY_PACKAGE_CONTROL_EXTRA
        ${PROJECT_SOURCE_DIR}/cmake/debian/gateway/postinst
        ${PROJECT_SOURCE_DIR}/cmake/debian/gateway/prerm)
    set(CPACK_DEBIAN_GATEWAY_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

include(CPack)
