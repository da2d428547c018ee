# Huelens' GNOME Shell extension, which tells the program the window in front
# (resources/gnome-shell-extension). GNOME Shell 43 and 44 load an extension
# only as a script read through `imports`, 45 and later only as an ES module,
# and both look for the same extension.js, so one folder cannot serve both:
# the build writes both forms into the build tree,
#   gnome-shell-extension/imports/<uuid>/   for GNOME Shell 43 and 44
#   gnome-shell-extension/module/<uuid>/    for GNOME Shell 45 and later
# each from the same body (window-in-front.js), and installs the one for the
# GNOME Shell of the machine it is built for (HUELENS_GNOME_SHELL_FORM).

set(HUELENS_GNOME_EXTENSION_UUID window-in-front@huelens.korvant.org)
set(HUELENS_GNOME_EXTENSION_SOURCE ${CMAKE_SOURCE_DIR}/resources/gnome-shell-extension)
set(HUELENS_GNOME_EXTENSION_BUILD ${CMAKE_BINARY_DIR}/gnome-shell-extension)

set(HUELENS_GNOME_SHELL_FORM auto CACHE STRING
  "Which form of the GNOME Shell extension to install: imports (GNOME Shell 43, 44), module (45 and later) or auto")
set_property(CACHE HUELENS_GNOME_SHELL_FORM PROPERTY STRINGS auto imports module)

# The GNOME Shell this machine has: the program's own answer, else the version
# of its data package (which a package build depends on), else none.
function(huelens_gnome_shell_major result)
  set(version "")
  execute_process(COMMAND gnome-shell --version OUTPUT_VARIABLE out ERROR_QUIET RESULT_VARIABLE rc)
  if(rc EQUAL 0 AND out MATCHES "GNOME Shell ([0-9]+)")
    set(version ${CMAKE_MATCH_1})
  else()
    execute_process(COMMAND dpkg-query -W -f=\${Version} gnome-shell-common
      OUTPUT_VARIABLE out ERROR_QUIET RESULT_VARIABLE rc)
    if(rc EQUAL 0 AND out MATCHES "^([0-9]+:)?([0-9]+)")
      set(version ${CMAKE_MATCH_2})
    endif()
  endif()
  set(${result} "${version}" PARENT_SCOPE)
endfunction()

set(HUELENS_GNOME_SHELL_FORM_USED ${HUELENS_GNOME_SHELL_FORM})
if(HUELENS_GNOME_SHELL_FORM STREQUAL auto)
  huelens_gnome_shell_major(major)
  if(major STREQUAL "")
    set(HUELENS_GNOME_SHELL_FORM_USED module)
    message(STATUS "GNOME Shell extension: no GNOME Shell found, installing the form of GNOME Shell 45 and later "
      "(-DHUELENS_GNOME_SHELL_FORM=imports for 43 and 44)")
  elseif(major LESS 45)
    set(HUELENS_GNOME_SHELL_FORM_USED imports)
  else()
    set(HUELENS_GNOME_SHELL_FORM_USED module)
  endif()
  if(NOT major STREQUAL "")
    message(STATUS "GNOME Shell extension: for GNOME Shell ${major} (${HUELENS_GNOME_SHELL_FORM_USED} form)")
  endif()
elseif(NOT HUELENS_GNOME_SHELL_FORM MATCHES "^(imports|module)$")
  message(FATAL_ERROR "HUELENS_GNOME_SHELL_FORM is '${HUELENS_GNOME_SHELL_FORM}': use auto, imports or module")
endif()

# Both forms, written when CMake runs (again whenever a source file changed).
file(READ ${HUELENS_GNOME_EXTENSION_SOURCE}/window-in-front.js body)
file(READ ${HUELENS_GNOME_EXTENSION_SOURCE}/metadata.json.in metadata)
foreach(form imports module)
  if(form STREQUAL imports)
    set(versions "[\"43\", \"44\"]")
  else()
    set(versions "[\"45\", \"46\", \"47\", \"48\", \"49\"]")
  endif()
  file(READ ${HUELENS_GNOME_EXTENSION_SOURCE}/extension-${form}.js.in script)
  string(REPLACE "@WINDOW_IN_FRONT@" "${body}" script "${script}")
  string(REPLACE "@UUID@" "${HUELENS_GNOME_EXTENSION_UUID}" meta "${metadata}")
  string(REPLACE "@SHELL_VERSIONS@" "${versions}" meta "${meta}")
  string(REPLACE "@VERSION@" "${PROJECT_VERSION}" meta "${meta}")
  set(folder ${HUELENS_GNOME_EXTENSION_BUILD}/${form}/${HUELENS_GNOME_EXTENSION_UUID})
  # Copied only when they change, so the build tree's copies keep their times.
  set(scratch ${CMAKE_BINARY_DIR}/CMakeFiles/gnome-shell-extension-${form})
  file(WRITE ${scratch}/extension.js "${script}")
  file(WRITE ${scratch}/metadata.json "${meta}")
  configure_file(${scratch}/extension.js ${folder}/extension.js COPYONLY)
  configure_file(${scratch}/metadata.json ${folder}/metadata.json COPYONLY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    ${HUELENS_GNOME_EXTENSION_SOURCE}/extension-${form}.js.in)
endforeach()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${HUELENS_GNOME_EXTENSION_SOURCE}/window-in-front.js ${HUELENS_GNOME_EXTENSION_SOURCE}/metadata.json.in)

install(DIRECTORY ${HUELENS_GNOME_EXTENSION_BUILD}/${HUELENS_GNOME_SHELL_FORM_USED}/${HUELENS_GNOME_EXTENSION_UUID}
  DESTINATION ${CMAKE_INSTALL_DATADIR}/gnome-shell/extensions)
