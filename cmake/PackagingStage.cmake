# Run by CPack on the staged files of every package (CPACK_TEMPORARY_DIRECTORY/<component>/usr),
# before packing. A package installs into /usr, where Debian wants what `cmake --install` into
# an arbitrary prefix does differently:
# - programs without an RPATH: the system's loader finds the library in /usr/lib;
# - static libraries without debugging information (CPACK_STRIP_FILES strips only programs
#   and shared libraries);
# - manual pages compressed (gzip -n: no name or time stamp inside, so a page packs the same);
# - Python packages in /usr/lib/python3/dist-packages, where Debian's python3 looks (under
#   /usr/local it looks in /usr/local/lib/python3.X/dist-packages).
file(GLOB programs "${CPACK_TEMPORARY_DIRECTORY}/*/usr/bin/*")
foreach(program IN LISTS programs)
    file(RPATH_REMOVE FILE ${program})
endforeach()

file(GLOB_RECURSE archives "${CPACK_TEMPORARY_DIRECTORY}/*/usr/lib/*.a")
if(archives)
    find_program(strip strip REQUIRED)
    execute_process(COMMAND ${strip} --strip-debug ${archives} RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "Could not strip ${archives}")
    endif()
endif()

file(GLOB_RECURSE pages "${CPACK_TEMPORARY_DIRECTORY}/*/usr/share/man/man[1-9]/*.[1-9]")
foreach(page IN LISTS pages)
    execute_process(COMMAND gzip -9nf ${page} RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "Could not compress ${page}")
    endif()
endforeach()

file(GLOB versioned "${CPACK_TEMPORARY_DIRECTORY}/*/usr/lib/python3.*/dist-packages")
foreach(dir IN LISTS versioned)
    get_filename_component(lib ${dir} DIRECTORY)
    get_filename_component(lib ${lib} DIRECTORY)
    file(MAKE_DIRECTORY ${lib}/python3)
    file(RENAME ${dir} ${lib}/python3/dist-packages)
    get_filename_component(empty ${dir} DIRECTORY)
    file(REMOVE_RECURSE ${empty})
endforeach()
