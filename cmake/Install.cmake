# Installation on Linux and the Debian package (`make package`): the programs, the desktop
# entry, the AppStream metainfo, the icon theme, the manual pages and the documents.
include(GNUInstallDirs)

set(VELOMARK_MAINTAINER "Velomark developers <velomark@example.org>" CACHE STRING
  "Maintainer of the Debian package, as \"Name <address>\"")
# The day release 1.3 Build 96 was packaged; the metainfo and the package changelog show it.
set(VELOMARK_RELEASE_DATE "2026-12-07")
set(VELOMARK_RELEASE ${PROJECT_VERSION})

set(linux_dir ${PROJECT_SOURCE_DIR}/resources/linux)
set(gen_dir ${PROJECT_BINARY_DIR}/install)

install(TARGETS velomark velomark-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The simulator is a test tool, not a program for the operator: it stays out of the PATH.
if(TARGET lidar-sim)
  install(TARGETS lidar-sim RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/velomark)
endif()

install(FILES ${linux_dir}/velomark.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
configure_file(${linux_dir}/velomark.metainfo.xml.in ${gen_dir}/com.veltrazon.velomark.metainfo.xml @ONLY)
install(FILES ${gen_dir}/com.veltrazon.velomark.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/resources/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)

set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/velomark)
string(SUBSTRING "${VELOMARK_RELEASE_DATE}" 0 4 release_year)
configure_file(${linux_dir}/copyright.in ${gen_dir}/copyright @ONLY)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${gen_dir}/copyright DESTINATION ${doc_dir})

find_program(GZIP gzip)
# Debian wants the changelog and the manual pages compressed, without a time stamp (-n).
execute_process(COMMAND date -R -u -d "${VELOMARK_RELEASE_DATE}" OUTPUT_VARIABLE changelog_date
                OUTPUT_STRIP_TRAILING_WHITESPACE)
# The manual pages carry the release's month, not the build's (help2man reads this).
execute_process(COMMAND date -u -d "${VELOMARK_RELEASE_DATE}" +%s OUTPUT_VARIABLE release_epoch
                OUTPUT_STRIP_TRAILING_WHITESPACE)
configure_file(${linux_dir}/changelog.in ${gen_dir}/changelog @ONLY)
add_custom_command(OUTPUT ${gen_dir}/changelog.gz
  COMMAND ${GZIP} -9nf -k ${gen_dir}/changelog
  DEPENDS ${gen_dir}/changelog)

# The manual pages are made from the programs' own --help, so they cannot drift from it.
find_program(HELP2MAN help2man)
set(man_pages)
if(HELP2MAN AND NOT VELOMARK_SANITIZE)
  foreach(program velomark velomark-cli)
    add_custom_command(OUTPUT ${gen_dir}/${program}.1.gz
      COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${release_epoch}
              ${PROJECT_SOURCE_DIR}/scripts/make-manpage.sh $<TARGET_FILE:${program}> ${gen_dir}/${program}.1
      COMMAND ${GZIP} -9nf -k ${gen_dir}/${program}.1
      DEPENDS ${program} ${PROJECT_SOURCE_DIR}/scripts/make-manpage.sh
      COMMENT "Manual page ${program}(1)")
    list(APPEND man_pages ${gen_dir}/${program}.1.gz)
  endforeach()
  install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "help2man not found (or a sanitizer build): no manual pages")
endif()
add_custom_target(install-files ALL DEPENDS ${gen_dir}/changelog.gz ${man_pages})
install(FILES ${gen_dir}/changelog.gz DESTINATION ${doc_dir})

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velomark)
set(CPACK_PACKAGE_VENDOR "${VELOMARK_COMPANY_NAME}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${VELOMARK_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "data logger for hand-held traffic-speed lidars")
set(CPACK_PACKAGE_DESCRIPTION
"Velomark lists the lidars paired with the workstation over Bluetooth, records
every live measurement into a CSV data file, retrieves, shows, saves and erases
the log stored in a lidar, and exports saved data encrypted for a certificate.

The package holds the window (velomark), the command-line program for scripts
(velomark-cli) and, for tests and the demo, a lidar simulator on a
pseudo-terminal.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VELOMARK_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Discovery asks BlueZ over D-Bus; the certificate tools import recipients' certificates.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "bluez")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "libnss3-tools")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
include(CPack)
