# What `cmake --install` puts in place besides the programs and the word list (their rules
# sit with their targets): the desktop launcher and its icon, the systemd user unit of the
# headless service, and the list of everything installed, which lumvane-uninstall reads to
# remove exactly that again. `cpack -G DEB` makes a Debian package of the same files.
# Included last, so that the list is written after every other install rule has run.

install(FILES ${PROJECT_SOURCE_DIR}/src/app/install/io.lumvane.Lumvane.svg
  DESTINATION share/icons/hicolor/scalable/apps)

# The launcher and the unit name the installed program, so they are written at install
# time, when the prefix (cmake --install --prefix) is known.
install(CODE "
  set(lumvane_templates \"${PROJECT_SOURCE_DIR}/src/app/install\")
  include(\"${PROJECT_SOURCE_DIR}/cmake/InstallLaunchers.cmake\")
")

install(CODE [[
  # Paths relative to the prefix, one a line, this list included. The manifest names
  # files by their final paths (without DESTDIR).
  set(lumvane_list "share/lumvane/installed-files")
  set(lumvane_lines "${lumvane_list}\n")
  string(LENGTH "${CMAKE_INSTALL_PREFIX}/" prefix_length)
  foreach(file IN LISTS CMAKE_INSTALL_MANIFEST_FILES)
    string(SUBSTRING "${file}" 0 ${prefix_length} head)
    if(head STREQUAL "${CMAKE_INSTALL_PREFIX}/")
      string(SUBSTRING "${file}" ${prefix_length} -1 relative)
      string(APPEND lumvane_lines "${relative}\n")
    endif()
  endforeach()
  message(STATUS "Installing: $ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${lumvane_list}")
  file(WRITE "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${lumvane_list}" "${lumvane_lines}")
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_PREFIX}/${lumvane_list}")
]])

# The Debian package: cpack -G DEB in a Release build folder.
set(CPACK_PACKAGE_NAME lumvane)
set(CPACK_PACKAGE_VENDOR "Lumvane")
set(CPACK_PACKAGE_CONTACT "Lumvane <lumvane@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Your phone's passwords in your browsers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Staged with DESTDIR (below), a package takes this prefix.
set(CPACK_INSTALL_PREFIX /usr)
# The launcher and the unit name the program by its final path, so the files are staged
# with DESTDIR instead of under a moved prefix.
set(CPACK_SET_DESTDIR ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
include(CPack)
