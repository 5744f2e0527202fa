# Runs at install time (see LumvaneInstall.cmake): writes the desktop launcher and the
# systemd user unit from their templates in ${lumvane_templates}, naming the program at
# its installed path.
set(lumvane_root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
set(lumvane_program "${CMAKE_INSTALL_PREFIX}/bin/lumvane")

# Desktop Entry Exec: quoted whole; inside the quotes \ " ` $ take a backslash, and the
# string-value rules then double every backslash; % would start a field code.
set(exec "${lumvane_program}")
string(REPLACE "\\" "\\\\" exec "${exec}")
foreach(special "\"" "`" "$")
  string(REPLACE "${special}" "\\${special}" exec "${exec}")
endforeach()
string(REPLACE "\\" "\\\\" exec "${exec}")
string(REPLACE "%" "%%" exec "${exec}")
set(LUMVANE_EXEC "\"${exec}\"")
set(lumvane_desktop "share/applications/io.lumvane.Lumvane.desktop")
message(STATUS "Installing: ${lumvane_root}/${lumvane_desktop}")
configure_file("${lumvane_templates}/io.lumvane.Lumvane.desktop.in"
               "${lumvane_root}/${lumvane_desktop}" @ONLY)

# systemd ExecStart: quoted whole; \ and " take a backslash, % and $ are doubled.
set(exec "${lumvane_program}")
string(REPLACE "\\" "\\\\" exec "${exec}")
string(REPLACE "\"" "\\\"" exec "${exec}")
string(REPLACE "%" "%%" exec "${exec}")
string(REPLACE "$" "$$" exec "${exec}")
set(LUMVANE_EXEC "\"${exec}\"")
# share/systemd/user is searched for user units under /usr, /usr/local and ~/.local alike.
set(lumvane_unit "share/systemd/user/lumvane.service")
message(STATUS "Installing: ${lumvane_root}/${lumvane_unit}")
configure_file("${lumvane_templates}/lumvane.service.in" "${lumvane_root}/${lumvane_unit}" @ONLY)

# The manifest names files by their final paths (without DESTDIR).
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_PREFIX}/${lumvane_desktop}"
     "${CMAKE_INSTALL_PREFIX}/${lumvane_unit}")
