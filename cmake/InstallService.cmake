# Install-time part of the install rules: the example configuration as setup.ini (under /etc for
# the /usr prefix, <prefix>/etc otherwise) and the systemd unit pointing at the installed binary.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(ab_etc /etc)
else()
  set(ab_etc "${CMAKE_INSTALL_PREFIX}/etc")
endif()
set(CMAKE_INSTALL_FULL_BINDIR "${CMAKE_INSTALL_PREFIX}/bin")
set(CMAKE_INSTALL_FULL_DOCDIR "${CMAKE_INSTALL_PREFIX}/share/doc/alarm-bridge")
configure_file("${AB_SOURCE_DIR}/packaging/alarm-bridge.service.in"
  "${AB_BINARY_DIR}/packaging/alarm-bridge.service" @ONLY)
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/systemd/system" TYPE FILE
  FILES "${AB_BINARY_DIR}/packaging/alarm-bridge.service")
file(INSTALL DESTINATION "${ab_etc}/alarm-bridge" TYPE FILE RENAME setup.ini
  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ
  FILES "${AB_SOURCE_DIR}/packaging/setup.ini.example")
