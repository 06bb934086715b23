# Manual pages: velloran(1) is written by hand; velloran-cli(1) is made from
# the program's own --help by help2man, so that it always lists the options
# the program has. Both are compressed where gzip is found, as Debian installs them.
find_program(HELP2MAN_EXECUTABLE help2man)
find_program(GZIP_EXECUTABLE gzip)

set(VELLORAN_MAN_DIR ${CMAKE_BINARY_DIR}/man)
set(VELLORAN_MAN_PAGES "")
file(MAKE_DIRECTORY ${VELLORAN_MAN_DIR})

configure_file(${CMAKE_CURRENT_SOURCE_DIR}/manual/velloran.1.in ${VELLORAN_MAN_DIR}/velloran.1 @ONLY)
list(APPEND VELLORAN_MAN_PAGES ${VELLORAN_MAN_DIR}/velloran.1)

# velloran-cli.1 is made in cli/CMakeLists.txt, each time the program is
# linked (VELLORAN_CLI_MAN_PAGE: the page to install, compressed or not).
if(VELLORAN_CLI_MAN_PAGE_SOURCE)
    list(APPEND VELLORAN_MAN_PAGES ${VELLORAN_CLI_MAN_PAGE_SOURCE})
endif()

set(VELLORAN_MAN_PAGES_INSTALLED "")
set(window_page ${VELLORAN_MAN_DIR}/velloran.1)
if(GZIP_EXECUTABLE)
    # -n leaves the name and time out, so that equal pages give equal files.
    add_custom_command(
        OUTPUT ${window_page}.gz
        COMMAND ${GZIP_EXECUTABLE} -9 -n -k -f ${window_page}
        DEPENDS ${window_page}
        VERBATIM)
    set(window_page ${window_page}.gz)
endif()
add_custom_target(velloran_man_pages ALL DEPENDS ${window_page})
if(TARGET velloran-cli)
    add_dependencies(velloran_man_pages velloran-cli)
endif()
list(APPEND VELLORAN_MAN_PAGES_INSTALLED ${window_page} ${VELLORAN_CLI_MAN_PAGE})
