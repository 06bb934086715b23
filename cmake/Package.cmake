# A Debian package of what cmake/Install.cmake installs:
#   cpack -G DEB   ->   velloran_<version>_amd64.deb
# Build it from a Release folder: a sanitizer build would package the sanitizers.
if(VELLORAN_SANITIZE OR VELLORAN_TSAN)
    message(STATUS "This build carries sanitizers: do not package it")
endif()

set(CPACK_PACKAGE_NAME velloran)
set(CPACK_PACKAGE_VENDOR Tarnwick)
set(CPACK_PACKAGE_CONTACT "Tarnwick <packages@tarnwick.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "convert the pages of PDF documents to image files")
set(CPACK_PACKAGE_DESCRIPTION
    "A window in which a PDF document is opened, its pages looked through in a\n"
    "small preview, and the chosen pages written as JPEG, PNG, BMP or TIFF files\n"
    "at a chosen resolution and quality, one file per page. The command\n"
    "velloran-cli converts several documents from a terminal, several pages at\n"
    "once.")
string(CONCAT CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.tarnwick.example/pdf-to-image")
# Every library comes from the binaries: the image files are written by the
# engine's own encoders, not by Qt's plug-ins.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Help > Manual starts a CHM viewer, else the desktop's opener, which also
# shows the output folder ("View in Explorer"); the window says what to
# install where neither is there.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "xdg-utils, xchm | kchmviewer")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
