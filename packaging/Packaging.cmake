# The Debian package, built by `cpack -G DEB` from the install rules (tools/package.sh does it all):
# build-package/corvantle_<version>_<arch>.deb with the program, its desktop entry, icons, AppStream
# metainfo and manual page under /usr.
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
serve several radios.")
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

include(CPack)
