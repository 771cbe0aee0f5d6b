# Installation: a relocatable program folder <prefix>/lib/vexor (the executable
# beside Languages/, advs/, modules/ and the sample modules), a launcher on the
# PATH, a freedesktop .desktop entry and an icon. The default prefix is
# per-user (~/.local) because the client writes beside its executable.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT AND DEFINED ENV{HOME})
  set(CMAKE_INSTALL_PREFIX "$ENV{HOME}/.local" CACHE PATH "Install prefix" FORCE)
endif()

set(VEXOR_PROGRAM_DIR_REL lib/vexor)
install(CODE "
  set(program_dir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${VEXOR_PROGRAM_DIR_REL}\")
  set(real_dir \"\${CMAKE_INSTALL_PREFIX}/${VEXOR_PROGRAM_DIR_REL}\")
  file(READ \"${PROJECT_SOURCE_DIR}/data/desktop/vexor-launcher.in\" launcher)
  string(REPLACE \"@VEXOR_PROGRAM_DIR@\" \"\${real_dir}\" launcher \"\${launcher}\")
  file(WRITE \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/vexor\" \"\${launcher}\")
  file(CHMOD \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/vexor\"
       PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  file(READ \"${PROJECT_SOURCE_DIR}/data/desktop/vexor.desktop.in\" desktop)
  string(REPLACE \"@VEXOR_LAUNCHER@\" \"\${CMAKE_INSTALL_PREFIX}/bin/vexor\" desktop \"\${desktop}\")
  file(WRITE \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/share/applications/vexor.desktop\" \"\${desktop}\")
  message(STATUS \"Installed launcher and desktop entry for \${real_dir}\")
")
install(FILES ${PROJECT_SOURCE_DIR}/data/desktop/vexor.png
        DESTINATION share/icons/hicolor/64x64/apps)
