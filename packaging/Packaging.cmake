# What the program needs beside its binary to run as a service and to be documented: the systemd unit,
# its settings file and the manual page. debian/ builds the Debian package from these install rules
# (tools/package.sh); the copyright file and the changelog are Debian's own, in debian/.

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

configure_file(${CMAKE_CURRENT_LIST_DIR}/corvantle.service.in ${CMAKE_BINARY_DIR}/packaging/corvantle.service
               @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/corvantle.service DESTINATION ${CORVANTLE_UNIT_DIR})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/settings.ini DESTINATION ${CORVANTLE_SETTINGS_DIR})
# Uncompressed: the package's tooling compresses it, and man reads it either way.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/corvantle.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
