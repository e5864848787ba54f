# Installs both programs as a desktop program (menu entry, icon, metainfo,
# man pages) and packs the same tree into a .deb with `make package`.
include(GNUInstallDirs)

install(TARGETS trackmill RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET trackmill-batch)
  install(TARGETS trackmill-batch RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

set(TM_APP_ID org.example.trackmill)
install(FILES ${CMAKE_SOURCE_DIR}/data/${TM_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
configure_file(${CMAKE_SOURCE_DIR}/data/${TM_APP_ID}.metainfo.xml
               ${CMAKE_BINARY_DIR}/data/${TM_APP_ID}.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/data/${TM_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

install(FILES ${CMAKE_SOURCE_DIR}/data/icons/trackmill.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 16 32 48 64 128 256)
  install(FILES ${CMAKE_SOURCE_DIR}/data/icons/trackmill-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME trackmill.png)
endforeach()

foreach(page trackmill trackmill-batch)
  configure_file(${CMAKE_SOURCE_DIR}/data/man/${page}.1 ${CMAKE_BINARY_DIR}/data/man/${page}.1 @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/data/man/${page}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

# The About box's link opens the README installed here.
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME trackmill)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_CONTACT "trackmill@example.org")
set(CPACK_PACKAGE_FILE_NAME "trackmill_${PROJECT_VERSION}_${CMAKE_SYSTEM_PROCESSOR}")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's own dialogs in the Polish window; the program runs without them.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
include(CPack)
