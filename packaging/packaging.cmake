# Install rules and the Debian package (CPack DEB): the executable, the
# service unit, and the maintainer scripts that make the shared data
# directory and enable the service. Built by scripts/build-deb.sh.
include(GNUInstallDirs)

install(TARGETS zeb_onvif RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(ZEB_INSTALLED_EXE ${CMAKE_INSTALL_FULL_BINDIR}/zeb_onvif)
configure_file(${CMAKE_SOURCE_DIR}/packaging/vistrel.service.in
               ${CMAKE_BINARY_DIR}/packaging/vistrel.service @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/vistrel.service DESTINATION lib/systemd/system)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vistrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Vistrel developers <vistrel@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Screen camera: the PC's screen as an RTSP and ONVIF IP camera")
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Grabs the X11 screen, encodes H.264 with OpenH264, serves it over RTSP with\n"
    "optional G.711 sound, answers as an ONVIF Profile S device and has a web panel.\n"
    "A systemd service keeps the camera on the sign-in screen and in the active\n"
    "user's session.")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# OpenH264 is opened at run time, so dpkg-shlibdeps cannot see it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libopenh264-7, acl")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/packaging/postinst ${CMAKE_SOURCE_DIR}/packaging/prerm
    ${CMAKE_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR})
include(CPack)
