# The Windows programs as a release: each with its manifest, version information and icon; stripped, for
# Vista and later; and the installer (CPack with NSIS), which puts them under Program Files with a
# Start-menu entry and opens the firewall for their TFTP ports. Included by the top CMakeLists.txt on
# Windows, once the programs exist.

# GetTickCount64, which the thread library uses, came with Vista: the image says 6.0 rather than 4.0.
foreach(target qor-upgrade qor-upgrade-two-stage qor-upgrade-cli qor-upgrade-cli-two-stage)
  target_link_options(${target} PRIVATE -Wl,--major-subsystem-version,6,--minor-subsystem-version,0
                      -Wl,--major-os-version,6,--minor-os-version,0)
  if(CMAKE_BUILD_TYPE MATCHES "^(Release|MinSizeRel)$")
    target_link_options(${target} PRIVATE -s)  # a third smaller; nothing reads their symbols
  endif()
endforeach()

file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE copyright REGEX "^Copyright \\(c\\) ")
string(REGEX REPLACE "^Copyright \\(c\\) " "" QOR_RC_COPYRIGHT "${copyright}")
set(QOR_RC_PRODUCT "QOR Firmware Upgrade")
set(QOR_RC_VERSION_DOTS "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0")
string(REPLACE "." "," QOR_RC_VERSION_COMMAS "${QOR_RC_VERSION_DOTS}")

# qor_windows_resources(TARGET KIND DESCRIPTION): KIND gui for the desktop programs (common controls 6,
# aware of the screen's DPI: their dialogs scale with their font), console for the command line.
function(qor_windows_resources target kind description)
  set(QOR_RC_NAME ${target})
  set(QOR_RC_FILE ${target}.exe)
  set(QOR_RC_DESCRIPTION "${description}")
  set(QOR_RC_MANIFEST_SETTINGS "")
  set(QOR_RC_MANIFEST_DEPENDENCIES "")
  set(QOR_RC_ICON "")
  if(kind STREQUAL "gui")
    string(CONCAT QOR_RC_MANIFEST_SETTINGS "\n"
      "      <dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true</dpiAware>")
    string(CONCAT QOR_RC_MANIFEST_DEPENDENCIES "\n"
      "  <dependency>\n"
      "    <dependentAssembly>\n"
      "      <assemblyIdentity type=\"win32\" name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"\n"
      "                        processorArchitecture=\"*\" publicKeyToken=\"6595b64144ccf1df\" language=\"*\"/>\n"
      "    </dependentAssembly>\n"
      "  </dependency>")
  else()
    # The desktop program's picture of the adapter; the desktop program has it from its dialogs' icons.
    get_target_property(icons qor_win32_icons INCLUDE_DIRECTORIES)
    set(QOR_RC_ICON "1 ICON \"${icons}/106.ico\"")
    add_dependencies(${target} qor_win32_icons)
  endif()
  set(dir ${CMAKE_BINARY_DIR}/resources/${target})
  set(QOR_RC_MANIFEST ${dir}/${target}.manifest)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/program.manifest.in ${QOR_RC_MANIFEST} @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/program.rc.in ${dir}/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${dir}/${target}.rc)
  set_source_files_properties(${dir}/${target}.rc TARGET_DIRECTORY ${target} PROPERTIES
                              OBJECT_DEPENDS ${QOR_RC_MANIFEST})
endfunction()

qor_windows_resources(qor-upgrade gui "QOR firmware upgrade")
qor_windows_resources(qor-upgrade-two-stage gui "QOR firmware upgrade, two stages")
qor_windows_resources(qor-upgrade-cli console "QOR firmware upgrade, command line")
qor_windows_resources(qor-upgrade-cli-two-stage console "QOR firmware upgrade, command line, two stages")

# The installer: cpack in the build folder makes it.
set(qor_windows_programs qor-upgrade qor-upgrade-cli qor-upgrade-two-stage qor-upgrade-cli-two-stage)
install(TARGETS ${qor_windows_programs} RUNTIME DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION . RENAME README.txt)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)

set(CPACK_GENERATOR NSIS)
set(CPACK_PACKAGE_NAME qor-upgrade)
set(CPACK_PACKAGE_VENDOR "qor-upgrade developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Upgrades the firmware of a QOR device on the local network")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "${QOR_RC_PRODUCT}")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY qor-upgrade)
set(CPACK_PACKAGE_FILE_NAME qor-upgrade-${PROJECT_VERSION}-setup-${CMAKE_SYSTEM_PROCESSOR})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_EXECUTABLES qor-upgrade "${QOR_RC_PRODUCT}")
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
set(CPACK_NSIS_PACKAGE_NAME "${QOR_RC_PRODUCT}")  # also the Start-menu folder
set(CPACK_NSIS_DISPLAY_NAME "${QOR_RC_PRODUCT} ${PROJECT_VERSION}")
set(CPACK_NSIS_INSTALLED_ICON_NAME qor-upgrade.exe)
set(CPACK_NSIS_MUI_ICON ${CMAKE_BINARY_DIR}/front/win32/icons/106.ico)
set(CPACK_NSIS_MUI_UNIICON ${CMAKE_BINARY_DIR}/front/win32/icons/106.ico)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_MANIFEST_DPI_AWARE ON)
set(CPACK_NSIS_COMPRESSOR "/SOLID lzma")
# The device fetches the image from UDP 69 (or the next free port up to 168) on this PC: each program
# gets an inbound rule of its own, made on install and removed on uninstall. Binding those ports needs
# no privilege on Windows; only the firewall stands in the way.
set(install_rules "")
set(uninstall_rules "")
foreach(program IN LISTS qor_windows_programs)
  set(netsh "nsExec::ExecToLog '\"$SYSDIR\\netsh.exe\" advfirewall firewall")
  set(rule "name=\"${QOR_RC_PRODUCT} (${program})\"")
  set(delete "${netsh} delete rule ${rule}'\n  Pop $0\n")
  string(APPEND install_rules "${delete}  ${netsh} add rule ${rule} dir=in action=allow protocol=UDP "
         "localport=69-168 program=\"$INSTDIR\\${program}.exe\" enable=yes'\n  Pop $0\n")
  string(APPEND uninstall_rules "  ${delete}")
endforeach()
set(CPACK_VERBATIM_VARIABLES ON)
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS "${install_rules}")
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS "${uninstall_rules}")
# With QOR_SIGN_KEY and QOR_SIGN_CERT in the environment, the programs are signed before they go in.
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/windows/sign-staged.cmake)
include(CPack)
