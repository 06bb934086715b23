# Installation on a Linux desktop, in the GNU layout, honouring
# CMAKE_INSTALL_PREFIX and DESTDIR:
#   bin/velloran, bin/velloran-cli
#   libexec/velloran/velloran-worker        (draws the pages of both, found from bin/)
#   libexec/velloran/velloran-poppler.so    (the back-ends' modules, which the worker
#   libexec/velloran/velloran-mupdf.so       loads from its own folder on first use)
#   share/velloran/Velloran.chm            (Help > Manual, found from bin/)
#   share/applications/velloran.desktop     (menu entry, "Open with")
#   share/metainfo/*.metainfo.xml           (software centres)
#   share/icons/hicolor/*/apps/velloran.*   (scalable and PNG icons)
#   share/man/man1/velloran.1.gz, velloran-cli.1.gz  (.gz where gzip is found)
# The command line alone, for machines without a desktop, is the component
# "cli": build the target velloran-cli, then
#   cmake --install <build> --component cli   (bin/velloran-cli, its worker, the modules and its manual page)
#   share/doc/velloran/copyright, changelog.gz
include(GNUInstallDirs)
include(${CMAKE_CURRENT_LIST_DIR}/ManPages.cmake)

set(VELLORAN_DATA_DIR ${CMAKE_INSTALL_DATADIR}/velloran)
set(VELLORAN_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/velloran)

# The program finds its manual at ../share/velloran from its own folder.
file(RELATIVE_PATH manual_from_bin ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_DATADIR}/velloran)
if(NOT manual_from_bin STREQUAL "../share/velloran")
    message(WARNING "Help > Manual looks in ../share/velloran beside the program, "
                    "but this layout puts the manual in ${manual_from_bin}")
endif()

# Both programs find their worker at ../libexec/velloran from their own folder.
file(RELATIVE_PATH worker_from_bin ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBEXECDIR}/velloran)
if(NOT worker_from_bin STREQUAL "../libexec/velloran")
    message(WARNING "the programs look for velloran-worker in ../libexec/velloran beside them, "
                    "but this layout puts it in ${worker_from_bin}")
endif()

install(TARGETS velloran RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET velloran-cli)
    install(TARGETS velloran-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT cli)
endif()
# In the cli component, which a whole install includes too: both programs need it.
install(TARGETS velloran-worker RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/velloran COMPONENT cli)
# Beside the worker, which looks for them in its own folder (engine/helperfolder).
# Loaded, not run: not executable, as Debian has shared objects.
set(backend_modules velloran-poppler)
if(TARGET velloran-mupdf)
    list(APPEND backend_modules velloran-mupdf)
endif()
install(TARGETS ${backend_modules} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/velloran
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ COMPONENT cli)
# libexec/velloran/poppler-compat/pdftoppm, pdftocairo and pdfinfo: velloran-cli
# under their names, off the default PATH, for scripts that put this folder
# first in theirs (pdf2image asks pdfinfo for the page count, then runs
# pdftoppm, or pdftocairo with use_pdftocairo).
if(TARGET velloran-cli)
    file(RELATIVE_PATH cli_from_compat /${CMAKE_INSTALL_LIBEXECDIR}/velloran/poppler-compat /${CMAKE_INSTALL_BINDIR}/velloran-cli)
    install(CODE "
        set(compat \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBEXECDIR}/velloran/poppler-compat\")
        file(MAKE_DIRECTORY \"\${compat}\")
        foreach(name pdftoppm pdftocairo pdfinfo)
            file(CREATE_LINK \"${cli_from_compat}\" \"\${compat}/\${name}\" SYMBOLIC)
            message(STATUS \"Installing: \${compat}/\${name}\")
        endforeach()" COMPONENT cli)
endif()

if(VELLORAN_MANUAL_CHM)
    install(FILES ${VELLORAN_MANUAL_CHM} DESTINATION ${VELLORAN_DATA_DIR})
endif()

set(desktop ${CMAKE_CURRENT_SOURCE_DIR}/resources/desktop)
install(FILES ${desktop}/velloran.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${desktop}/example.tarnwick.velloran.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/resources/art/logo.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME velloran.svg)
foreach(size 16 32 48 64 128 256)
    install(FILES ${desktop}/icons/${size}x${size}/velloran.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

install(FILES ${window_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
if(VELLORAN_CLI_MAN_PAGE)
    install(FILES ${VELLORAN_CLI_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT cli)
endif()

# Debian wants these two beside every package; they do no harm elsewhere.
set(VELLORAN_CHANGELOG ${CMAKE_CURRENT_LIST_DIR}/debian/changelog)
if(GZIP_EXECUTABLE)
    set(VELLORAN_CHANGELOG ${CMAKE_BINARY_DIR}/changelog.gz)
    add_custom_command(
        OUTPUT ${VELLORAN_CHANGELOG}
        COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_LIST_DIR}/debian/changelog ${CMAKE_BINARY_DIR}/changelog
        COMMAND ${GZIP_EXECUTABLE} -9 -n -f ${CMAKE_BINARY_DIR}/changelog
        DEPENDS ${CMAKE_CURRENT_LIST_DIR}/debian/changelog
        VERBATIM)
    add_custom_target(velloran_changelog ALL DEPENDS ${VELLORAN_CHANGELOG})
endif()
install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${VELLORAN_CHANGELOG} DESTINATION ${VELLORAN_DOC_DIR})
