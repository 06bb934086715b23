# Compiles the user guide in manual/ into Velloran.chm in the build folder,
# where the program looks for it when started from there (tools/run.sh).
find_program(CHMCMD_EXECUTABLE chmcmd)

set(VELLORAN_MANUAL_PROJECT ${CMAKE_CURRENT_SOURCE_DIR}/manual/Velloran.hhp)
set(VELLORAN_MANUAL_CHM "")

if(CHMCMD_EXECUTABLE)
    file(GLOB VELLORAN_MANUAL_SOURCES CONFIGURE_DEPENDS
        ${CMAKE_CURRENT_SOURCE_DIR}/manual/*.html
        ${CMAKE_CURRENT_SOURCE_DIR}/manual/*.css
        ${CMAKE_CURRENT_SOURCE_DIR}/manual/*.hhc
        ${CMAKE_CURRENT_SOURCE_DIR}/manual/*.hhk)
    set(VELLORAN_MANUAL_CHM ${CMAKE_BINARY_DIR}/Velloran.chm)
    set(staging ${CMAKE_BINARY_DIR}/manual)
    file(MAKE_DIRECTORY ${staging})
    # chmcmd reads the pages beside the project file and writes the help file
    # into its working directory. When a page is missing it fails but leaves a
    # partial file behind, so it writes into a staging folder and only a
    # complete file is copied to the build folder.
    add_custom_command(
        OUTPUT ${VELLORAN_MANUAL_CHM}
        COMMAND ${CMAKE_COMMAND} -E remove -f ${staging}/Velloran.chm
        COMMAND ${CHMCMD_EXECUTABLE} --verbosity 0 ${VELLORAN_MANUAL_PROJECT}
        COMMAND ${CMAKE_COMMAND} -E copy ${staging}/Velloran.chm ${VELLORAN_MANUAL_CHM}
        DEPENDS ${VELLORAN_MANUAL_PROJECT} ${VELLORAN_MANUAL_SOURCES}
        WORKING_DIRECTORY ${staging}
        COMMENT "Compiling the manual Velloran.chm"
        VERBATIM)
    add_custom_target(velloran_manual ALL DEPENDS ${VELLORAN_MANUAL_CHM})
    add_dependencies(velloran velloran_manual)
else()
    message(STATUS "chmcmd not found (Debian package fp-utils): the manual Velloran.chm is not built")
endif()
