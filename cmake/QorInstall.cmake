# Install rules: the programs, their manual pages, the desktop entry with its icons and AppStream data,
# README and licence; then the Debian package (packaging/QorDebian.cmake). Included at the end of the
# top CMakeLists.txt, once every target exists.
include(GNUInstallDirs)

set(QOR_HOMEPAGE "https://qor-upgrade.example.org" CACHE STRING
    "Web site of the project: the package's homepage; AppStream expects the screenshot at <it>/screenshots/confirm.png")
set(QOR_APPSTREAM_ID "org.example.qor_upgrade")
set(qor_packaging ${PROJECT_SOURCE_DIR}/packaging)
set(qor_staging ${PROJECT_BINARY_DIR}/packaging)

# The programs. The two-stage builds carry the sample images; they are installed where they are built.
set(qor_programs qor-upgrade qor-upgrade-two-stage qor-upgrade-cli qor-upgrade-cli-two-stage qor-device-sim)
foreach(program IN LISTS qor_programs)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

# The bind helper, beside the programs' own directory (net/CMakeLists.txt finds it from there). It alone
# is given the capability, by the package's postinst or by hand after `cmake --install`.
if(TARGET qor-bind-helper)
  install(TARGETS qor-bind-helper RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/qor-upgrade)
  install(CODE "message(STATUS \"To let ordinary users serve TFTP from UDP port 69, grant the helper alone the capability: \
setcap cap_net_bind_service=+ep \$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBEXECDIR}/qor-upgrade/qor-bind-helper\")")
endif()

# Manual pages: help2man over each program's --help, with its own packaging/man/<program>.h2m; the two
# upgrade programs also get the README's Troubleshooting section. The two-stage builds share the page of
# their program through a link.
find_program(QOR_HELP2MAN help2man)
find_program(QOR_AWK NAMES awk mawk gawk)
find_program(QOR_GZIP gzip)
if(QOR_HELP2MAN AND QOR_AWK AND QOR_GZIP)
  set(man_dir ${qor_staging}/man)
  file(MAKE_DIRECTORY ${man_dir})
  set(troubleshooting ${man_dir}/troubleshooting.h2m)
  add_custom_command(OUTPUT ${troubleshooting}
    COMMAND ${QOR_AWK} -v title=Troubleshooting -v out=${troubleshooting}
            -f ${qor_packaging}/man/readme-section.awk ${PROJECT_SOURCE_DIR}/README.md
    DEPENDS ${qor_packaging}/man/readme-section.awk ${PROJECT_SOURCE_DIR}/README.md
    COMMENT "Taking the Troubleshooting section of the README for the manual pages" VERBATIM)
  set(man_pages)
  set(man_links)
  foreach(program qor-upgrade qor-upgrade-cli qor-device-sim)
    if(NOT TARGET ${program})
      continue()
    endif()
    set(includes --include ${qor_packaging}/man/${program}.h2m)
    set(depends ${qor_packaging}/man/${program}.h2m)
    if(NOT program STREQUAL "qor-device-sim")
      list(APPEND includes --include ${troubleshooting})
      list(APPEND depends ${troubleshooting})
    endif()
    add_custom_command(OUTPUT ${man_dir}/${program}.1.gz
      COMMAND ${QOR_HELP2MAN} --no-info --no-discard-stderr --version-string=${PROJECT_VERSION}
              ${includes} --output ${man_dir}/${program}.1 $<TARGET_FILE:${program}>
      COMMAND ${QOR_GZIP} -9nf ${man_dir}/${program}.1
      DEPENDS ${program} ${depends}
      COMMENT "Manual page of ${program}" VERBATIM)
    list(APPEND man_pages ${man_dir}/${program}.1.gz)
    if(TARGET ${program}-two-stage)
      file(CREATE_LINK ${program}.1.gz ${man_dir}/${program}-two-stage.1.gz SYMBOLIC)
      list(APPEND man_links ${man_dir}/${program}-two-stage.1.gz)
    endif()
  endforeach()
  add_custom_target(qor_man_pages ALL DEPENDS ${man_pages})
  install(FILES ${man_pages} ${man_links} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "help2man, awk or gzip not found: no manual pages")
endif()

# With the desktop program: its icon in the usual sizes, drawn from our own picture of the adapter
# (res/icons/106.xpm), the desktop entry and the AppStream data.
if(TARGET qor-upgrade)
  find_package(Qt6 REQUIRED COMPONENTS Gui)
  add_executable(qor_render_icon ${qor_packaging}/render_icon.cpp)
  target_link_libraries(qor_render_icon PRIVATE Qt6::Gui)
  set(icon_dir ${qor_staging}/icons)
  set(icon_sizes 16 24 32 48 64 128 256)
  set(icons)
  foreach(size IN LISTS icon_sizes)
    list(APPEND icons ${icon_dir}/${size}x${size}/apps/qor-upgrade.png)
  endforeach()
  add_custom_command(OUTPUT ${icons}
    COMMAND qor_render_icon ${PROJECT_SOURCE_DIR}/res/icons/106.xpm ${icon_dir} qor-upgrade ${icon_sizes}
    DEPENDS qor_render_icon ${PROJECT_SOURCE_DIR}/res/icons/106.xpm
    COMMENT "Drawing the icons" VERBATIM)
  add_custom_target(qor_icons ALL DEPENDS ${icons})
  install(DIRECTORY ${icon_dir}/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor)

  install(FILES ${qor_packaging}/qor-upgrade.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  configure_file(${qor_packaging}/qor-upgrade.metainfo.xml.in
                 ${qor_staging}/${QOR_APPSTREAM_ID}.metainfo.xml @ONLY)
  install(FILES ${qor_staging}/${QOR_APPSTREAM_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endif()

# README, and the licence in the machine-readable form Debian reads at /usr/share/doc/<package>/copyright.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
if(NOT licence MATCHES "^MIT License\n\nCopyright \\(c\\) ([^\n]*)\n\n(.*[^\n])\n*$")
  message(FATAL_ERROR "LICENSE: expected the MIT licence with one copyright line")
endif()
set(QOR_COPYRIGHT "${CMAKE_MATCH_1}")
string(REPLACE "\n\n" "\n.\n" QOR_LICENCE_TEXT " ${CMAKE_MATCH_2}")
string(REPLACE "\n" "\n " QOR_LICENCE_TEXT "${QOR_LICENCE_TEXT}")
configure_file(${qor_packaging}/debian/copyright.in ${qor_staging}/copyright @ONLY)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${qor_staging}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

include(${qor_packaging}/QorDebian.cmake)
