# Checks of what an installation puts on a desktop. The validators run where
# they are installed (tools/setup-debian.sh installs them).
find_program(DESKTOP_FILE_VALIDATE desktop-file-validate)
find_program(APPSTREAMCLI appstreamcli)
find_program(GROFF groff)
set(desktop_dir ${CMAKE_SOURCE_DIR}/resources/desktop)

if(DESKTOP_FILE_VALIDATE)
    add_test(NAME desktop_entry COMMAND ${DESKTOP_FILE_VALIDATE} ${desktop_dir}/velloran.desktop)
    # It exits with 0 after a warning.
    set_tests_properties(desktop_entry PROPERTIES FAIL_REGULAR_EXPRESSION "error|warning")
else()
    message(STATUS "desktop-file-validate not found (Debian package desktop-file-utils): no desktop_entry test")
endif()

if(APPSTREAMCLI)
    add_test(NAME appstream_metainfo
             COMMAND ${APPSTREAMCLI} validate --no-net ${desktop_dir}/example.tarnwick.velloran.metainfo.xml)
else()
    message(STATUS "appstreamcli not found (Debian package appstream): no appstream_metainfo test")
endif()

if(GROFF)
    add_test(NAME man_pages COMMAND ${GROFF} -man -ww -z ${VELLORAN_MAN_PAGES})
    # Any word from groff is a fault in a page.
    set_tests_properties(man_pages PROPERTIES FAIL_REGULAR_EXPRESSION ".")
endif()

# An installation into a staging folder puts exactly these files there.
set(expected
    bin/velloran
    share/applications/velloran.desktop
    share/doc/velloran/copyright
    share/icons/hicolor/scalable/apps/velloran.svg
    share/metainfo/example.tarnwick.velloran.metainfo.xml)
foreach(size 16 32 48 64 128 256)
    list(APPEND expected share/icons/hicolor/${size}x${size}/apps/velloran.png)
endforeach()
if(TARGET velloran-cli)
    list(APPEND expected bin/velloran-cli)
    list(APPEND expected libexec/velloran/velloran-worker libexec/velloran/poppler-compat/pdfinfo
         libexec/velloran/poppler-compat/pdftocairo libexec/velloran/poppler-compat/pdftoppm
         libexec/velloran/velloran-poppler.so)
    if(TARGET velloran-mupdf)
        list(APPEND expected libexec/velloran/velloran-mupdf.so)
    endif()
endif()
if(VELLORAN_MANUAL_CHM)
    list(APPEND expected share/velloran/Velloran.chm)
endif()
foreach(page ${VELLORAN_MAN_PAGES_INSTALLED})
    get_filename_component(name ${page} NAME)
    list(APPEND expected share/man/man1/${name})
endforeach()
get_filename_component(name ${VELLORAN_CHANGELOG} NAME)
list(APPEND expected share/doc/velloran/${name})
list(SORT expected)
string(REPLACE ";" "\n" expected "${expected}")
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/install_files.txt "${expected}\n")

add_test(NAME install_files
         COMMAND ${CMAKE_COMMAND}
                 -DBUILD_DIR=${CMAKE_BINARY_DIR}
                 -DSTAGING=${CMAKE_CURRENT_BINARY_DIR}/install_files
                 -DEXPECTED=${CMAKE_CURRENT_BINARY_DIR}/install_files.txt
                 -P ${CMAKE_CURRENT_SOURCE_DIR}/check_install.cmake)

# The command line alone (component "cli"): the program and its manual page.
if(TARGET velloran-cli)
    set(expected_cli bin/velloran-cli libexec/velloran/poppler-compat/pdfinfo libexec/velloran/poppler-compat/pdftocairo
        libexec/velloran/poppler-compat/pdftoppm
        libexec/velloran/velloran-mupdf.so libexec/velloran/velloran-poppler.so libexec/velloran/velloran-worker)
    if(NOT TARGET velloran-mupdf)
        list(REMOVE_ITEM expected_cli libexec/velloran/velloran-mupdf.so)
    endif()
    if(VELLORAN_CLI_MAN_PAGE)
        get_filename_component(name ${VELLORAN_CLI_MAN_PAGE} NAME)
        list(APPEND expected_cli share/man/man1/${name})
    endif()
    string(REPLACE ";" "\n" expected_cli "${expected_cli}")
    file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/install_cli_files.txt "${expected_cli}\n")
    add_test(NAME install_cli_component
             COMMAND ${CMAKE_COMMAND}
                     -DBUILD_DIR=${CMAKE_BINARY_DIR}
                     -DSTAGING=${CMAKE_CURRENT_BINARY_DIR}/install_cli_files
                     -DEXPECTED=${CMAKE_CURRENT_BINARY_DIR}/install_cli_files.txt
                     -DCOMPONENT=cli
                     -DSAMPLE_PDF=${CMAKE_CURRENT_SOURCE_DIR}/data/owner-password.pdf
                     -P ${CMAKE_CURRENT_SOURCE_DIR}/check_install.cmake)
endif()
