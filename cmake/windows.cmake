# The whole program on Windows: the same core as on Linux with the Win32
# back-end in place of X11 and Wayland. Included by CMakeLists.txt when
# building for Windows, which then stops reading (the rest of it is Linux
# only). The compiler is MinGW-w64 GCC (the scopes' vector paths use GCC's
# target attributes); `make windows` builds it here with Debian's mingw-w64
# against Qt, OpenCV and LittleCMS built from Debian's source packages
# (scripts/build-windows-deps.sh). The core, its source list and the
# desktop seam are made by CMakeLists.txt before it includes this file.

# Readings with the monitor's profile undone need LittleCMS 2; a build
# without it keeps the screen values.
find_path(HUELENS_LCMS2_INCLUDE lcms2.h)
find_library(HUELENS_LCMS2_LIBRARY NAMES lcms2)
if(HUELENS_LCMS2_INCLUDE AND HUELENS_LCMS2_LIBRARY)
  target_link_libraries(huelens_core PUBLIC ${HUELENS_LCMS2_LIBRARY})
  target_include_directories(huelens_core SYSTEM PUBLIC ${HUELENS_LCMS2_INCLUDE})
else()
  message(WARNING "LittleCMS 2 not found: readings keep the screen values")
  target_compile_definitions(huelens_core PRIVATE HUELENS_NO_LCMS=1)
endif()

# The desktop: GDI, the window manager and the process interface.
file(GLOB HUELENS_WIN32_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/platform/win32/*.cpp ${CMAKE_SOURCE_DIR}/src/platform/win32/*.h)
add_library(huelens_win32 STATIC ${HUELENS_WIN32_SOURCES})
target_link_libraries(huelens_win32 PUBLIC huelens_platform user32 gdi32)

add_library(huelens_resources OBJECT ${CMAKE_SOURCE_DIR}/resources/huelens.qrc)
target_link_libraries(huelens_resources PUBLIC Qt5::Core)

# Each program carries the icon, its version information and the manifest
# (resources/windows/version.rc.in).
function(huelens_windows_resources target description)
  set(HUELENS_PROGRAM ${target})
  set(HUELENS_FILE_DESCRIPTION ${description})
  set(HUELENS_ICO ${CMAKE_SOURCE_DIR}/resources/windows/huelens.ico)
  set(HUELENS_MANIFEST ${CMAKE_SOURCE_DIR}/resources/windows/huelens.manifest)
  configure_file(${CMAKE_SOURCE_DIR}/resources/windows/version.rc.in ${CMAKE_BINARY_DIR}/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_BINARY_DIR}/${target}.rc)
  set_property(SOURCE ${CMAKE_BINARY_DIR}/${target}.rc APPEND PROPERTY OBJECT_DEPENDS
    ${HUELENS_ICO} ${HUELENS_MANIFEST})
endfunction()

# A GUI program (no console window); help.html lies beside it, in the build
# folder and in the installed folder alike.
add_executable(huelens WIN32 ${CMAKE_SOURCE_DIR}/src/shell/main.cpp $<TARGET_OBJECTS:huelens_resources>)
target_link_libraries(huelens PRIVATE huelens_core huelens_win32)
huelens_windows_resources(huelens "Huelens colour scopes")
add_custom_command(TARGET huelens POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${CMAKE_SOURCE_DIR}/resources/help.html $<TARGET_FILE_DIR:huelens>/help.html)

add_subdirectory(tools)
huelens_windows_resources(huelens-render "Huelens scope renderer")

# The portable folder (cmake --install): the two programs and the help page,
# Qt's DLLs with the platform and style plugins in the folders Qt looks in
# beside the program, and the compiler's runtime DLLs, which Qt's DLLs and
# the programs share. Nothing else: the toolbar images are compiled in.
install(TARGETS huelens huelens-render RUNTIME DESTINATION .)
install(FILES ${CMAKE_SOURCE_DIR}/resources/help.html DESTINATION .)
install(FILES $<TARGET_FILE:Qt5::Core> $<TARGET_FILE:Qt5::Gui> $<TARGET_FILE:Qt5::Widgets> DESTINATION .)
install(FILES $<TARGET_FILE:Qt5::QWindowsIntegrationPlugin> DESTINATION platforms)
install(FILES $<TARGET_FILE:Qt5::QWindowsVistaStylePlugin> DESTINATION styles)
foreach(runtime libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${runtime}
    OUTPUT_VARIABLE runtime_path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${runtime_path}" OR NOT EXISTS "${runtime_path}")
    message(FATAL_ERROR "the compiler's ${runtime} was not found (${CMAKE_CXX_COMPILER} -print-file-name)")
  endif()
  install(FILES ${runtime_path} DESTINATION .)
  list(APPEND HUELENS_RUNTIME_DLLS ${runtime_path})
endforeach()

# The cycle under Wine (bench/measure-windows.sh): on the in-memory desktop,
# the program's own part, and on the Win32 desktop, with GDI's.
option(HUELENS_BENCHMARKS "Build the benchmarks" OFF)
if(HUELENS_BENCHMARKS)
  file(GLOB HUELENS_BENCH_MEMORY_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/platform/memory/*.cpp)
  add_library(huelens_bench_memory STATIC ${HUELENS_BENCH_MEMORY_SOURCES})
  target_link_libraries(huelens_bench_memory PUBLIC huelens_platform ${OpenCV_LIBS})
  target_include_directories(huelens_bench_memory SYSTEM PUBLIC ${OpenCV_INCLUDE_DIRS})
  add_executable(huelens-cycle-timer ${CMAKE_SOURCE_DIR}/bench/cycle_timer.cpp $<TARGET_OBJECTS:huelens_resources>)
  target_link_libraries(huelens-cycle-timer PRIVATE huelens_core huelens_bench_memory)
  add_executable(huelens-cycle-timer-win32 ${CMAKE_SOURCE_DIR}/bench/cycle_timer.cpp $<TARGET_OBJECTS:huelens_resources>)
  target_compile_definitions(huelens-cycle-timer-win32 PRIVATE HUELENS_BENCH_WIN32=1)
  target_link_libraries(huelens-cycle-timer-win32 PRIVATE huelens_core huelens_win32)
  foreach(timer huelens-cycle-timer huelens-cycle-timer-win32)
    target_include_directories(${timer} PRIVATE ${CMAKE_SOURCE_DIR}/bench)
  endforeach()
endif()

# The tests: the unit tests on the in-memory desktop, the Win32 back-end's own
# test, and the program that drives the installed program (tests/windows/).
# All run under Wine (tests/windows/run-tests.sh).
include(CTest)
if(BUILD_TESTING)
  get_target_property(HUELENS_QT_CORE_DLL Qt5::Core LOCATION)
  get_filename_component(HUELENS_QT_BIN ${HUELENS_QT_CORE_DLL} DIRECTORY)
  get_filename_component(HUELENS_QT_PREFIX ${HUELENS_QT_BIN} DIRECTORY)
  list(GET HUELENS_RUNTIME_DLLS 0 HUELENS_RUNTIME_DLL)
  get_filename_component(HUELENS_RUNTIME_BIN ${HUELENS_RUNTIME_DLL} DIRECTORY)
  list(GET HUELENS_RUNTIME_DLLS 2 HUELENS_PTHREAD_DLL)
  get_filename_component(HUELENS_PTHREAD_BIN ${HUELENS_PTHREAD_DLL} DIRECTORY)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/tests/windows/wine-test.sh
    ${HUELENS_QT_PREFIX} ${HUELENS_RUNTIME_BIN} ${HUELENS_PTHREAD_BIN})
  # The same, for the scripts that run the build's programs themselves.
  file(WRITE ${CMAKE_BINARY_DIR}/wine-test.sh "#!/bin/sh\nexec ${CMAKE_SOURCE_DIR}/tests/windows/wine-test.sh \"${HUELENS_QT_PREFIX}\" \"${HUELENS_RUNTIME_BIN}\" \"${HUELENS_PTHREAD_BIN}\" \"$@\"\n")
  file(CHMOD ${CMAKE_BINARY_DIR}/wine-test.sh PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

  file(GLOB HUELENS_MEMORY_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/platform/memory/*.cpp ${CMAKE_SOURCE_DIR}/src/platform/memory/*.h)
  add_library(huelens_memory STATIC ${HUELENS_MEMORY_SOURCES})
  target_link_libraries(huelens_memory PUBLIC huelens_platform ${OpenCV_LIBS})
  target_include_directories(huelens_memory SYSTEM PUBLIC ${OpenCV_INCLUDE_DIRS})
  # Cross-built here, the tests run under Wine, where the build's folders are
  # on drive Z:.
  set(HUELENS_WINE_DRIVE "")
  if(CMAKE_HOST_UNIX)
    set(HUELENS_WINE_DRIVE "Z:")
  endif()
  file(GLOB HUELENS_UNIT_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/test_*.cpp)
  # Linux only: test_settings_file makes FIFOs; test_settings_oracle holds the
  # store to QSettings as it reads INI files on Linux (on Windows it ignores
  # the case of keys); the readings' tests undo the profiles Debian installs
  # in /usr/share/color/icc.
  list(REMOVE_ITEM HUELENS_UNIT_TESTS ${CMAKE_SOURCE_DIR}/tests/test_settings_file.cpp
    ${CMAKE_SOURCE_DIR}/tests/test_settings_oracle.cpp ${CMAKE_SOURCE_DIR}/tests/test_readings.cpp)
  foreach(src ${HUELENS_UNIT_TESTS})
    get_filename_component(name ${src} NAME_WE)
    add_executable(${name} ${src} ${CMAKE_SOURCE_DIR}/tests/support/TestSupport.cpp $<TARGET_OBJECTS:huelens_resources>)
    target_link_libraries(${name} PRIVATE huelens_core huelens_memory Qt5::Test)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
    target_compile_definitions(${name} PRIVATE HUELENS_SOURCE_DIR="${HUELENS_WINE_DRIVE}${CMAKE_SOURCE_DIR}")
    add_test(NAME ${name} COMMAND ${name})
    # On Qt's own Windows platform, with Windows' fonts and style, not the
    # offscreen one: what a user sees. Tests that show windows run one at a
    # time, since Wine has one window in front for all of them.
    file(READ ${src} test_text)
    if(test_text MATCHES "MainWindow|QWidget|QTest::mouse|QTest::key")
      set_tests_properties(${name} PROPERTIES RUN_SERIAL TRUE)
    endif()
    set_tests_properties(${name} PROPERTIES TIMEOUT 300)
  endforeach()
  target_compile_definitions(test_huelens_render PRIVATE HUELENS_RENDER="${HUELENS_WINE_DRIVE}$<TARGET_FILE:huelens-render>")
  add_dependencies(test_huelens_render huelens-render)

  # The back-end on Wine's own GDI, on the two-monitor screen run-tests.sh
  # makes; linked statically, so it needs only Windows' own DLLs.
  add_executable(test_win32_desktop ${CMAKE_SOURCE_DIR}/tests/windows/test_win32_desktop.cpp)
  target_link_libraries(test_win32_desktop PRIVATE huelens_win32)
  target_link_options(test_win32_desktop PRIVATE -static)
  add_test(NAME test_win32_desktop COMMAND test_win32_desktop)
  set_tests_properties(test_win32_desktop PROPERTIES TIMEOUT 300 FAIL_REGULAR_EXPRESSION "[1-9][0-9]* failed")

  # Drives the installed program (tests/windows/test-installed.sh); not a
  # ctest test, since it needs the installer run first.
  add_executable(test_installed_program ${CMAKE_SOURCE_DIR}/tests/windows/test_installed_program.cpp)
  target_link_libraries(test_installed_program PRIVATE ${OpenCV_LIBS} user32 gdi32 shell32 version)
  target_include_directories(test_installed_program PRIVATE ${CMAKE_SOURCE_DIR}/src)
  target_include_directories(test_installed_program SYSTEM PRIVATE ${OpenCV_INCLUDE_DIRS})
  target_link_options(test_installed_program PRIVATE -municode -static)
endif()
