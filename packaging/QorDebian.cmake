# The Debian package, made by CPack from the install rules: in the build folder, `cpack -G DEB` makes
# qor-upgrade_<version>_amd64.deb. Run-time dependencies come from dpkg-shlibdeps; libcap2-bin is added
# for the setcap of the postinst, which grants the bind helper alone the capability.
set(qor_debian ${PROJECT_SOURCE_DIR}/packaging/debian)

# Debian wants the changelog compressed, without a time stamp in the gzip header.
set(changelog ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(OUTPUT ${changelog}
  COMMAND ${CMAKE_COMMAND} -E copy ${qor_debian}/changelog ${PROJECT_BINARY_DIR}/packaging/changelog
  COMMAND gzip -9nf ${PROJECT_BINARY_DIR}/packaging/changelog
  DEPENDS ${qor_debian}/changelog VERBATIM)
add_custom_target(qor_changelog ALL DEPENDS ${changelog})
install(FILES ${changelog} DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qor-upgrade)
set(CPACK_PACKAGE_VENDOR "qor-upgrade developers")
set(CPACK_PACKAGE_CONTACT "qor-upgrade developers <maintainers@users.noreply.c-seed-fd9588cb.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "upgrade the firmware of a QOR device on the local network")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "qor-upgrade installs the firmware it carries on a QOR network voice adapter
or IP phone on the local network: it reads what the device reports, asks for
confirmation, serves the image from its own TFTP server, and checks that the
device reports the new version after its restart.

The package holds the desktop program (qor-upgrade), the same steps on the
command line (qor-upgrade-cli), their two-stage builds, and a simulated
device on loopback for trying them (qor-device-sim). On installation a small
helper without plugins, /usr/libexec/qor-upgrade/qor-bind-helper, is granted
CAP_NET_BIND_SERVICE: it binds the TFTP server's UDP port (69 to 168) for the
programs, so that any user may serve TFTP from UDP port 69. The programs
themselves carry no privilege.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${QOR_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS libcap2-bin)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${qor_debian}/postinst ${qor_debian}/prerm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_BINARY_DIR})
include(CPack)
