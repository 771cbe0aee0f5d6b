# The Debian package (scripts/package, configured with -DVEXOR_PACKAGE=ON):
# the installed tree for the prefix /usr plus what a package holds beyond it
# (every icon size, AppStream metadata, manual pages, copyright and changelog,
# a start at login), and CPack's DEB generator. The launcher of a package
# runs the packaged client with a program folder of the user's own
# (data/package/vexor-launcher).
set(VEXOR_PACKAGE_MAINTAINER "Vexor Labs Ltd. <info@vexor.example>")
set(package_source ${PROJECT_SOURCE_DIR}/data/package)
set(package_build ${PROJECT_BINARY_DIR}/package)

# The revision comes from the changelog's first entry, as dpkg-buildpackage
# takes a package's version from debian/changelog: a package must say what
# changed in the version it is, so a new revision is one new entry there and
# nothing else. The entry's upstream version must be the project's.
file(STRINGS ${package_source}/changelog.Debian changelog_head LIMIT_COUNT 1)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${package_source}/changelog.Debian)
set(changelog_version)
if(changelog_head MATCHES "^vexor \\(([0-9][0-9A-Za-z.+~]*)-([0-9][0-9A-Za-z.+~]*)\\) ")
  set(changelog_version ${CMAKE_MATCH_1})
  set(VEXOR_PACKAGE_REVISION ${CMAKE_MATCH_2})
endif()
if(NOT changelog_version STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "data/package/changelog.Debian starts with '${changelog_head}'; "
          "its first entry must be 'vexor (${PROJECT_VERSION}-<revision>) ...'")
endif()

# Debian wants compressed manual pages and changelog, without the time stamp
# of the build in the gzip header (gzip -n).
set(compressed)
foreach(source IN ITEMS ${PROJECT_SOURCE_DIR}/docs/man/vexor.1 ${PROJECT_SOURCE_DIR}/docs/man/vexor-reg.1
                        ${package_source}/changelog.Debian)
  get_filename_component(name ${source} NAME)
  add_custom_command(OUTPUT ${package_build}/${name}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${package_build}/${name}
    COMMAND gzip -9nf ${package_build}/${name}
    DEPENDS ${source} VERBATIM)
  list(APPEND compressed ${package_build}/${name}.gz)
endforeach()
add_custom_target(vexor_package_files ALL DEPENDS ${compressed})

install(FILES ${package_build}/vexor.1.gz ${package_build}/vexor-reg.1.gz DESTINATION share/man/man1)
install(FILES ${package_source}/copyright DESTINATION share/doc/vexor)
install(FILES ${package_build}/changelog.Debian.gz DESTINATION share/doc/vexor)
install(FILES ${package_source}/example.vexor.Vexor.metainfo.xml DESTINATION share/metainfo)
foreach(size IN ITEMS 48 128)
  install(FILES ${PROJECT_SOURCE_DIR}/data/desktop/icons/vexor-${size}.png
          DESTINATION share/icons/hicolor/${size}x${size}/apps RENAME vexor.png)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/data/desktop/icons/vexor.svg DESTINATION share/icons/hicolor/scalable/apps)

# Start at login, for every user; a user's own ~/.config/autostart/vexor.desktop
# with Hidden=true switches it off. A file in /etc is a configuration file.
install(CODE "
  file(READ \"${package_source}/vexor-autostart.desktop.in\" entry)
  string(REPLACE \"@VEXOR_LAUNCHER@\" \"\${CMAKE_INSTALL_PREFIX}/bin/vexor\" entry \"\${entry}\")
  file(WRITE \"\$ENV{DESTDIR}/etc/xdg/autostart/vexor.desktop\" \"\${entry}\")
")
file(WRITE ${package_build}/conffiles "/etc/xdg/autostart/vexor.desktop\n")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vexor)
set(CPACK_PACKAGE_VENDOR "Vexor Labs Ltd.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${VEXOR_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "rotating banners and plug-in tool modules in a tiny window")
# (No semicolons: CMake would take them for list separators.)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Vexor is a small, always-running desktop client. Its tiny window shows\n"
  "rotating HTML banners and one button per installed plug-in module, which\n"
  "opens a tool window of its own. In the background Vexor keeps its\n"
  "banners, languages and module list in step with the vendor's server.\n"
  "\n"
  "Each user's settings, banners and languages stay in ~/.local/share/vexor.\n"
  "Vexor starts at login. The sample modules Notes and Clock come with it.")
string(JOIN "" CPACK_DEBIAN_PACKAGE_DESCRIPTION ${CPACK_DEBIAN_PACKAGE_DESCRIPTION})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${VEXOR_PACKAGE_REVISION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VEXOR_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://vexor.example/")
# Libraries from the binaries (dpkg-shlibdeps), OpenSSL (opened at the first
# https request, so the binaries do not name it) with the trust store it
# checks servers against (libssl3 pulls in no certificates), and xdg-open for
# web pages.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libssl3, ca-certificates, xdg-utils")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${package_build}/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
# The prefix of the install rules stays /usr while CPack installs below its
# staging folder, so that the launcher and entries name the real paths, and
# /etc lands in the package.
set(CPACK_SET_DESTDIR ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
