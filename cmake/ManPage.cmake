# quil_add_man_page(TARGET target NAME page SUMMARY text [HELP_OPTION option] [COMPONENT c])
# makes the manual page <page>.1 of a program from its own help with help2man, and installs it
# into man1. Programs without --version are named with the project's version. Without help2man,
# nothing is made. The page is made whenever the program is linked, so that whatever build made
# the program, `cmake --install` finds its page, and one that did not skips it.
find_program(QUIL_HELP2MAN help2man)

function(quil_add_man_page)
    cmake_parse_arguments(PAGE "" "TARGET;NAME;SUMMARY;HELP_OPTION;COMPONENT" "" ${ARGN})
    if(NOT QUIL_HELP2MAN)
        return()
    endif()
    if(NOT PAGE_HELP_OPTION)
        set(PAGE_HELP_OPTION --help)
    endif()
    set(page ${CMAKE_CURRENT_BINARY_DIR}/${PAGE_NAME}.1)
    add_custom_command(TARGET ${PAGE_TARGET} POST_BUILD
        COMMAND ${QUIL_HELP2MAN} --no-info --help-option=${PAGE_HELP_OPTION}
            --version-string=${PROJECT_VERSION} --name ${PAGE_SUMMARY} --output ${page}
            $<TARGET_FILE:${PAGE_TARGET}>
        BYPRODUCTS ${page}
        COMMENT "Generating the manual page ${PAGE_NAME}.1")
    if(QUIL_INSTALL)
        include(GNUInstallDirs)
        # OPTIONAL: a build that did not make the program has no page.
        install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${PAGE_COMPONENT}
            OPTIONAL)
    endif()
endfunction()
