# Install rules and the Debian package (`cmake --build build --target package`).
# The configuration and the service unit depend on the prefix given at install time (the
# package installs into /usr), so they are laid out by install-time code; DESTDIR is honoured.
include(GNUInstallDirs)

install(TARGETS alarm-bridge RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET msgserver-sim)
  install(TARGETS msgserver-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(CODE "set(AB_SOURCE_DIR \"${PROJECT_SOURCE_DIR}\")\nset(AB_BINARY_DIR \"${PROJECT_BINARY_DIR}\")")
install(SCRIPT cmake/InstallService.cmake)
install(FILES README.md packaging/setup.ini.example tools/msgserver/DATASET.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR})
file(GLOB ab_docs ${PROJECT_SOURCE_DIR}/docs/*.md)
if(ab_docs)
  install(FILES ${ab_docs} DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME alarm-bridge)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "alarm-bridge developers")
set(CPACK_PACKAGE_CONTACT "alarm-bridge developers <root@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Link from a monitoring console's message server to Safe City (JSON) and SPI (SOAP)")
set(CPACK_PACKAGE_DESCRIPTION
  "alarm-bridge keeps a reliable-UDP link to a security and fire-alarm console's message\n\
server, replicates its objects, persons and map pictures, follows its event queue and\n\
answers HTTP for the city public-safety platform and the emergency ministry's alarm service.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
  ${PROJECT_SOURCE_DIR}/packaging/debian/prerm
  ${PROJECT_SOURCE_DIR}/packaging/debian/postrm
  ${PROJECT_SOURCE_DIR}/packaging/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
