# Installation: a relocatable program folder <prefix>/lib/vexor (the executable
# beside Languages/, advs/, modules/ and the sample modules), a launcher on the
# PATH, a freedesktop .desktop entry and an icon. The default prefix is
# per-user (~/.local) because the client writes beside its executable.
# VEXOR_PACKAGE builds the Debian package instead (VexorPackage.cmake): its
# launcher gives every user a program folder of their own.
option(VEXOR_PACKAGE "Install for the Debian package (prefix /usr, a program folder per user)" OFF)
if(VEXOR_PACKAGE)
  set(CMAKE_INSTALL_PREFIX /usr CACHE PATH "Install prefix" FORCE)
  set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
      OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
elseif(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT AND DEFINED ENV{HOME})
  set(CMAKE_INSTALL_PREFIX "$ENV{HOME}/.local" CACHE PATH "Install prefix" FORCE)
endif()

set(VEXOR_PROGRAM_DIR_REL lib/vexor)
if(VEXOR_PACKAGE)
  install(PROGRAMS ${PROJECT_SOURCE_DIR}/data/package/vexor-launcher DESTINATION bin RENAME vexor)
else()
  install(CODE "
    set(real_dir \"\${CMAKE_INSTALL_PREFIX}/${VEXOR_PROGRAM_DIR_REL}\")
    file(READ \"${PROJECT_SOURCE_DIR}/data/desktop/vexor-launcher.in\" launcher)
    string(REPLACE \"@VEXOR_PROGRAM_DIR@\" \"\${real_dir}\" launcher \"\${launcher}\")
    file(WRITE \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/vexor\" \"\${launcher}\")
    file(CHMOD \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/vexor\"
         PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    message(STATUS \"Installed the launcher for \${real_dir}\")
  ")
endif()
install(CODE "
  file(READ \"${PROJECT_SOURCE_DIR}/data/desktop/vexor.desktop.in\" desktop)
  string(REPLACE \"@VEXOR_LAUNCHER@\" \"\${CMAKE_INSTALL_PREFIX}/bin/vexor\" desktop \"\${desktop}\")
  file(WRITE \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/share/applications/vexor.desktop\" \"\${desktop}\")
")
install(FILES ${PROJECT_SOURCE_DIR}/data/desktop/icons/vexor-64.png
        DESTINATION share/icons/hicolor/64x64/apps RENAME vexor.png)
if(VEXOR_PACKAGE)
  include(VexorPackage)
endif()
