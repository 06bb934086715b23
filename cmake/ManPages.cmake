# Manual pages: velloran(1) is written by hand; velloran-cli(1) is made from
# the program's own --help by help2man, so that it always lists the options
# the program has. Both are compressed where gzip is found, as Debian installs them.
find_program(HELP2MAN_EXECUTABLE help2man)
find_program(GZIP_EXECUTABLE gzip)

set(VELLORAN_MAN_DIR ${CMAKE_BINARY_DIR}/man)
set(VELLORAN_MAN_PAGES "")
set(VELLORAN_MAN_PAGES_INSTALLED "")
file(MAKE_DIRECTORY ${VELLORAN_MAN_DIR})

configure_file(${CMAKE_CURRENT_SOURCE_DIR}/manual/velloran.1.in ${VELLORAN_MAN_DIR}/velloran.1 @ONLY)
list(APPEND VELLORAN_MAN_PAGES ${VELLORAN_MAN_DIR}/velloran.1)

if(HELP2MAN_EXECUTABLE AND TARGET velloran-cli)
    set(include_file ${CMAKE_CURRENT_SOURCE_DIR}/manual/velloran-cli.h2m)
    add_custom_command(
        OUTPUT ${VELLORAN_MAN_DIR}/velloran-cli.1
        COMMAND ${HELP2MAN_EXECUTABLE} --no-info
                --name "convert the pages of PDF files to image files"
                --include ${include_file}
                --output ${VELLORAN_MAN_DIR}/velloran-cli.1
                $<TARGET_FILE:velloran-cli>
        DEPENDS velloran-cli ${include_file}
        COMMENT "Making the manual page velloran-cli.1"
        VERBATIM)
    list(APPEND VELLORAN_MAN_PAGES ${VELLORAN_MAN_DIR}/velloran-cli.1)
elseif(TARGET velloran-cli)
    message(STATUS "help2man not found (Debian package help2man): velloran-cli.1 is not made")
endif()

if(GZIP_EXECUTABLE)
    foreach(page ${VELLORAN_MAN_PAGES})
        # -n leaves the name and time out, so that equal pages give equal files.
        add_custom_command(
            OUTPUT ${page}.gz
            COMMAND ${GZIP_EXECUTABLE} -9 -n -k -f ${page}
            DEPENDS ${page}
            VERBATIM)
        list(APPEND VELLORAN_MAN_PAGES_INSTALLED ${page}.gz)
    endforeach()
else()
    set(VELLORAN_MAN_PAGES_INSTALLED ${VELLORAN_MAN_PAGES})
endif()
add_custom_target(velloran_man_pages ALL DEPENDS ${VELLORAN_MAN_PAGES_INSTALLED})
