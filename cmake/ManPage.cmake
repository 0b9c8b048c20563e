# quil_add_man_page(TARGET target NAME page SUMMARY text [INCLUDE file] [HELP_OPTION option]
#                   [COMPONENT c])
# makes the manual page <page>.1 of a program from its own help with help2man, and installs it
# into man1. The help gives the synopsis, the options and, under their headings, the exit status
# ("Exit status:"), the commands ("Subcommands:"), the environment and an example; the help2man
# include file (see help2man(1)) gives what a help text does not hold: the description, files and
# see also. Programs without --version are named with the project's version. Without help2man,
# nothing is made. The page is made whenever the program is linked, so that whatever build made
# the program, `cmake --install` finds its page, and one that did not skips it.
find_program(QUIL_HELP2MAN help2man)
find_program(QUIL_SED sed)

function(quil_add_man_page)
    cmake_parse_arguments(PAGE "" "TARGET;NAME;SUMMARY;INCLUDE;HELP_OPTION;COMPONENT" "" ${ARGN})
    if(NOT QUIL_HELP2MAN OR NOT QUIL_SED)
        return()
    endif()
    if(NOT PAGE_HELP_OPTION)
        set(PAGE_HELP_OPTION --help)
    endif()
    set(page ${CMAKE_CURRENT_BINARY_DIR}/${PAGE_NAME}.1)
    set(include)
    if(PAGE_INCLUDE)
        set(include --include=${PAGE_INCLUDE})
    endif()
    # help2man makes subsections of the headings it does not know; these are sections of a
    # manual page of their own.
    add_custom_command(TARGET ${PAGE_TARGET} POST_BUILD
        COMMAND ${QUIL_HELP2MAN} --no-info --help-option=${PAGE_HELP_OPTION}
            --version-string=${PROJECT_VERSION} --name ${PAGE_SUMMARY}
            ${include} --output ${page} $<TARGET_FILE:${PAGE_TARGET}>
        COMMAND ${QUIL_SED} -i
            -e "s/^\\.SS \"Exit status:\"$/.SH \"EXIT STATUS\"/"
            -e "s/^\\.SS \"Subcommands:\"$/.SH COMMANDS/"
            -e "s/^\\.SS \"Examples\\?:\"$/.SH EXAMPLES/"
            ${page}
        BYPRODUCTS ${page}
        COMMENT "Generating the manual page ${PAGE_NAME}.1"
        VERBATIM)
    if(QUIL_INSTALL)
        include(GNUInstallDirs)
        # OPTIONAL: a build that did not make the program has no page.
        install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${PAGE_COMPONENT}
            OPTIONAL)
    endif()
endfunction()
