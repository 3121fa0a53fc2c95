# Install rules for the desktop program and the Debian package built by CPack.
include(GNUInstallDirs)

install(TARGETS velmora RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/resources/desktop/velmora.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# What software centres list: the AppStream metainfo, named after its id.
install(FILES ${PROJECT_SOURCE_DIR}/resources/desktop/invalid.velmora.Velmora.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(size 48 256)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/desktop/velmora-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME velmora.png)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VENDOR "Velmora developers")
set(CPACK_PACKAGE_CONTACT "Velmora developers <developers@velmora.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Grayscale noise maps, generated and saved as BMP files")
set(CPACK_PACKAGE_DESCRIPTION
    "Velmora makes two-dimensional grayscale maps from octave value noise. Type the map size and the noise parameters into a form, press Generate, see the map at one image pixel per screen pixel, and save it as an uncompressed 24-bit BMP file.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY velmora)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
# The runtime dependencies (the Qt 6 libraries and what they need) are read
# off the binary by dpkg-shlibdeps. They bring a font: Qt's GUI library
# depends on fontconfig, whose configuration depends on one.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's Wayland plugin, for sessions without an X display.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-wayland)
include(CPack)
