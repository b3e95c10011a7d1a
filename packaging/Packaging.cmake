# The Debian package, built by `cpack -G DEB` from the install rules (tools/package.sh does it all):
# build-package/corvantle_<version>_<arch>.deb with the program, its desktop entry, icons, AppStream
# metainfo and manual page under /usr, the service unit and its settings file, and the changelog and
# copyright file Debian asks of every package. tools/check-package.sh holds it to lintian.

# The date of the newest changelog entry, in the changelog's own form.
set(CORVANTLE_RELEASE_DATE "Thu, 10 Dec 2026 12:00:00 +0000")
set(CORVANTLE_SERVICE_SETTINGS ${CMAKE_INSTALL_FULL_SYSCONFDIR}/corvantle/settings.ini)
# Debian 12 keeps units in /lib and settings in /etc. Any other prefix keeps both under itself, as relative
# destinations, so that `cmake --install --prefix ~/.local` writes nothing outside it.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(CORVANTLE_UNIT_DIR /lib/systemd/system)
  set(CORVANTLE_SETTINGS_DIR /etc/corvantle)
else()
  set(CORVANTLE_UNIT_DIR lib/systemd/system)
  set(CORVANTLE_SETTINGS_DIR ${CMAKE_INSTALL_SYSCONFDIR}/corvantle)
endif()
set(CPACK_PACKAGE_NAME corvantle)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "corvantle developers")
set(CPACK_PACKAGE_CONTACT "corvantle developers <corvantle@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "DX cluster connection over packet radio for logging programs")
# Lines under 80 columns, as Debian's package tools show them.
set(CPACK_PACKAGE_DESCRIPTION
    "corvantle listens on 127.0.0.1 for one telnet client, such as the DX cluster
window of a logging program, asks a software packet engine that speaks the AGW
Packet Engine TCP API (Dire Wolf, the soundmodems, LinBPQ, AGWPE) to connect to
a DX cluster station over AX.25, and relays text both ways. No hardware TNC is
needed. Several instances, each with its own settings file and local port,
serve several radios. It also runs headless as a systemd service beside the
engine, serving logging programs on the local network from an allow-list.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://example.org/corvantle)
# dpkg-shlibdeps names the libraries the program links (libqt6*, libstdc++, libc); the Qt platform plugins
# come with libqt6gui6.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Useless without a packet engine, but the engine may run on another machine.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS direwolf)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The settings file in /etc is the user's: an upgrade keeps their edits.
file(WRITE ${CMAKE_BINARY_DIR}/packaging/conffiles "${CORVANTLE_SERVICE_SETTINGS}\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/packaging/conffiles)

configure_file(${CMAKE_CURRENT_LIST_DIR}/corvantle.service.in ${CMAKE_BINARY_DIR}/packaging/corvantle.service
               @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/corvantle.service DESTINATION ${CORVANTLE_UNIT_DIR})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/settings.ini DESTINATION ${CORVANTLE_SETTINGS_DIR})

# Debian's documentation files, compressed as Debian wants them: gzip -9n, without a name or a time in
# the header, so that the same sources give the same package.
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
set(corvantle_compressed_docs)
function(corvantle_gzip source target)
  add_custom_command(OUTPUT ${target}
                     COMMAND sh -c "gzip -9n -c \"$1\" > \"$2\"" gzip ${source} ${target}
                     DEPENDS ${source} VERBATIM)
  set(corvantle_compressed_docs ${corvantle_compressed_docs} ${target} PARENT_SCOPE)
endfunction()
corvantle_gzip(${CMAKE_BINARY_DIR}/packaging/changelog ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
corvantle_gzip(${CMAKE_CURRENT_LIST_DIR}/corvantle.1 ${CMAKE_BINARY_DIR}/packaging/corvantle.1.gz)
add_custom_target(corvantle_compressed_docs ALL DEPENDS ${corvantle_compressed_docs})
install(FILES ${CMAKE_BINARY_DIR}/packaging/corvantle.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz ${CMAKE_CURRENT_LIST_DIR}/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

include(CPack)
