# SPDX-License-Identifier: GPL-3.0-or-later
# What `cmake --install` puts beside the programs (desktop entries, icons, metainfo, file types, man
# pages, the sample data set), and the Debian package that CPack makes of it (tools/make-deb.sh).
include_guard(GLOBAL)
include(GNUInstallDirs)

set(VARNEX_PACKAGE_MAINTAINER "Varnex maintainers <maintainers@varnex.example.org>"
    CACHE STRING "Maintainer field of the Debian package")
set(VARNEX_APP_ID com.pellicore.Varnex)

# Man pages: the GUI programs' are written by hand, varnex-list's is made from its --help.
find_program(GZIP_EXECUTABLE gzip REQUIRED)
find_program(HELP2MAN_EXECUTABLE help2man REQUIRED)
set(man_dir ${PROJECT_BINARY_DIR}/man)
set(man_pages)
function(varnex_compressed_man_page page)
    # -n: no name or time stamp in the archive, so the package's bytes do not change from build to build.
    add_custom_command(OUTPUT ${man_dir}/${page}.1.gz
        COMMAND ${GZIP_EXECUTABLE} -9 -n -f -k ${page}.1
        DEPENDS ${man_dir}/${page}.1 WORKING_DIRECTORY ${man_dir} VERBATIM)
endfunction()
if(TARGET varnex-list)
    add_custom_command(OUTPUT ${man_dir}/varnex-list.1
        COMMAND ${HELP2MAN_EXECUTABLE} --no-info --section=1 --source=Varnex
            --include=${PROJECT_SOURCE_DIR}/docs/man/varnex-list.h2m
            --output=${man_dir}/varnex-list.1 $<TARGET_FILE:varnex-list>
        DEPENDS varnex-list ${PROJECT_SOURCE_DIR}/docs/man/varnex-list.h2m VERBATIM)
    varnex_compressed_man_page(varnex-list)
    list(APPEND man_pages ${man_dir}/varnex-list.1.gz)
endif()
foreach(page varnex varnex-host varnex-send)
    if(TARGET ${page})
        configure_file(${PROJECT_SOURCE_DIR}/docs/man/${page}.1 ${man_dir}/${page}.1 @ONLY)
        varnex_compressed_man_page(${page})
        list(APPEND man_pages ${man_dir}/${page}.1.gz)
    endif()
endforeach()
add_custom_target(varnex_man_pages ALL DEPENDS ${man_pages})
install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

if(TARGET varnex)
    install(FILES ${PROJECT_SOURCE_DIR}/res/${VARNEX_APP_ID}.desktop ${PROJECT_SOURCE_DIR}/res/${VARNEX_APP_ID}.Host.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${PROJECT_SOURCE_DIR}/res/${VARNEX_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
    install(FILES ${PROJECT_SOURCE_DIR}/res/mime/varnex.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
    install(FILES ${PROJECT_SOURCE_DIR}/res/icons/varnex.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
    foreach(size 16 32 48 64 128 256)
        install(FILES ${PROJECT_SOURCE_DIR}/res/icons/varnex-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME varnex.png)
    endforeach()
endif()
install(FILES ${PROJECT_SOURCE_DIR}/data/sample.mzML DESTINATION ${CMAKE_INSTALL_DATADIR}/varnex)

# Debian's documentation files, compressed the same way as the man pages.
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog ${PROJECT_BINARY_DIR}/packaging/changelog COPYONLY)
add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/packaging/changelog.gz
    COMMAND ${GZIP_EXECUTABLE} -9 -n -f -k changelog
    DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/packaging VERBATIM)
add_custom_target(varnex_package_docs ALL DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${PROJECT_BINARY_DIR}/packaging/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/varnex)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME varnex)
set(CPACK_PACKAGE_VENDOR "Varnex developers")
set(CPACK_PACKAGE_CONTACT "${VARNEX_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VARNEX_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "precursor list of data-dependent LC-MS/MS acquisitions
Varnex lists every precursor that a data-dependent (DDA) LC-MS/MS
acquisition switched to: when, on which mass, with which charge state and
how intense. A double-click on a row shows the precursor's chromatograms,
its combined MS/MS spectrum and its survey scan in the host display.

It reads mzML (indexed or not), gzip-compressed mzML and mzXML. The
command-line program varnex-list writes the same list as TSV or CSV, for
one data set or for many in one table.")
include(CPack)
