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
    # Only CPack's own ldconfig scripts: a package's own (CONTROL_EXTRA) stay.
    set(ldconfig_only "")
    foreach(script IN ITEMS postinst postrm)
        if(EXISTS ${unpacked}/DEBIAN/${script})
            file(READ ${unpacked}/DEBIAN/${script} text)
            if(text MATCHES "ldconfig")
                list(APPEND ldconfig_only ${unpacked}/DEBIAN/${script})
            endif()
        endif()
    endforeach()
    if(ldconfig_only)
        file(REMOVE ${ldconfig_only})
        execute_process(COMMAND ${dpkg_deb} --root-owner-group --build ${unpacked} ${package}
            OUTPUT_QUIET RESULT_VARIABLE failed)
        if(failed)
            message(FATAL_ERROR "Could not pack ${package} again")
        endif()
    endif()
    file(REMOVE_RECURSE ${unpacked})
endforeach()
