# The Windows downloads: velmora.exe alone, statically linked, in a zip
# (--target velmora_zip, or cpack -G ZIP), and, where msitools' wixl is
# installed, an installer with a Start-menu entry (--target velmora_msi).
# Both need only the program built, not the tests.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)
install(TARGETS velmora RUNTIME DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VENDOR "Velmora developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Grayscale noise maps, generated and saved as BMP files")
set(CPACK_PACKAGE_FILE_NAME velmora-${PROJECT_VERSION}-windows-x86_64)
# The zip holds the program itself, not a folder around it.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
include(CPack)
add_custom_target(velmora_zip
  COMMAND ${CMAKE_CPACK_COMMAND} -G ZIP --config ${CMAKE_BINARY_DIR}/CPackConfig.cmake
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
  COMMENT "Making ${CPACK_PACKAGE_FILE_NAME}.zip")
add_dependencies(velmora_zip velmora)

find_program(VELMORA_WIXL wixl)
if(VELMORA_WIXL)
  set(VELMORA_MSI ${CMAKE_BINARY_DIR}/velmora-${PROJECT_VERSION}-windows-x86_64.msi)
  configure_file(${PROJECT_SOURCE_DIR}/ui_win32/velmora.wxs.in ${CMAKE_BINARY_DIR}/velmora.wxs @ONLY)
  # wixl takes the files' names relative to the .wxs file's folder only; the
  # program is built in ui_win32/ of this tree.
  file(RELATIVE_PATH icon ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR}/ui_win32/velmora.ico)
  add_custom_command(OUTPUT ${VELMORA_MSI}
    COMMAND ${VELMORA_WIXL} --arch x64 -D Program=ui_win32/$<TARGET_FILE_NAME:velmora>
            -D Icon=${icon} -o ${VELMORA_MSI} velmora.wxs
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    DEPENDS velmora ${CMAKE_BINARY_DIR}/velmora.wxs ${PROJECT_SOURCE_DIR}/ui_win32/velmora.ico
    COMMENT "Making the installer ${VELMORA_MSI}")
  add_custom_target(velmora_msi DEPENDS ${VELMORA_MSI})
endif()
