# Run at install time (install(SCRIPT)): installs the menu entry with the
# absolute path of the installed program in its Exec line. KDE Plasma gives its
# window list (X-KDE-Wayland-Interfaces) only to a program whose menu entry's
# Exec names its very executable, and the prefix is known only now
# (cmake --install --prefix); DESTDIR is not part of the path the entry runs.
# Set before: HUELENS_DESKTOP_TEMPLATE, HUELENS_DESKTOP_SCRATCH (a file in the
# build tree), HUELENS_INSTALL_BINDIR, HUELENS_INSTALL_DATADIR.

set(bindir "${HUELENS_INSTALL_BINDIR}")
if(NOT IS_ABSOLUTE "${bindir}")
  set(bindir "${CMAKE_INSTALL_PREFIX}/${bindir}")
endif()
set(program "${bindir}/huelens")
# A path with blanks or other reserved characters is quoted as the desktop
# entry format wants: ", `, $ and \ escaped with a backslash inside the
# quotes, and then every backslash doubled, as in any string value.
if(NOT program MATCHES "^[A-Za-z0-9/._+-]+$")
  string(REGEX REPLACE "([\"`$\\])" "\\\\\\1" program "${program}")
  string(REPLACE "\\" "\\\\" program "${program}")
  set(program "\"${program}\"")
endif()

file(READ "${HUELENS_DESKTOP_TEMPLATE}" entry)
string(REPLACE "@HUELENS_EXECUTABLE@" "${program}" entry "${entry}")
file(WRITE "${HUELENS_DESKTOP_SCRATCH}" "${entry}")
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/${HUELENS_INSTALL_DATADIR}/applications" TYPE FILE
  FILES "${HUELENS_DESKTOP_SCRATCH}")
