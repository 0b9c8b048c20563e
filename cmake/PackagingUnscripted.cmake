# Run by CPack on the finished packages. CPack gives a package with a shared library in /usr/lib
# a postinst and a postrm that call ldconfig, which the ldconfig trigger makes needless; a
# package with a postrm stays in state "rc" after `apt-get remove` until it is purged. They are
# taken out, and the package is packed again with everything else as it was.
find_program(dpkg_deb dpkg-deb REQUIRED)
foreach(package IN LISTS CPACK_PACKAGE_FILES)
    if(NOT package MATCHES "\\.deb$")
        continue()
    endif()
    set(unpacked ${package}.unpacked)
    file(REMOVE_RECURSE ${unpacked})
    execute_process(COMMAND ${dpkg_deb} --raw-extract ${package} ${unpacked}
        RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "Could not unpack ${package}")
    endif()
    if(EXISTS ${unpacked}/DEBIAN/postinst OR EXISTS ${unpacked}/DEBIAN/postrm)
        file(REMOVE ${unpacked}/DEBIAN/postinst ${unpacked}/DEBIAN/postrm)
        execute_process(COMMAND ${dpkg_deb} --root-owner-group --build ${unpacked} ${package}
            OUTPUT_QUIET RESULT_VARIABLE failed)
        if(failed)
            message(FATAL_ERROR "Could not pack ${package} again")
        endif()
    endif()
    file(REMOVE_RECURSE ${unpacked})
endforeach()
