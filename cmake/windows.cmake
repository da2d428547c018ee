# The whole program on Windows: the same core as on Linux with the Win32
# back-end in place of X11 and Wayland. Included by CMakeLists.txt when
# building for Windows, which then stops reading (the rest of it is Linux
# only). The compiler must be GCC or Clang (the scopes' vector paths use
# their target attributes): MinGW-w64 as MSYS2 ships it, with Qt 5.15 and
# OpenCV 4.5 or later built by the same compiler. README, "Windows", says how.
# The core, its source list and the desktop seam are made by CMakeLists.txt
# before it includes this file.

# Readings with the monitor's profile undone need LittleCMS 2 (MSYS2:
# mingw-w64-x86_64-lcms2); a build without it keeps the screen values.
find_path(HUELENS_LCMS2_INCLUDE lcms2.h)
find_library(HUELENS_LCMS2_LIBRARY NAMES lcms2)
if(HUELENS_LCMS2_INCLUDE AND HUELENS_LCMS2_LIBRARY)
  target_link_libraries(huelens_core PUBLIC ${HUELENS_LCMS2_LIBRARY})
  target_include_directories(huelens_core SYSTEM PUBLIC ${HUELENS_LCMS2_INCLUDE})
else()
  target_compile_definitions(huelens_core PRIVATE HUELENS_NO_LCMS=1)
endif()

# The desktop: GDI, the window manager and the process interface.
file(GLOB HUELENS_WIN32_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/platform/win32/*.cpp ${CMAKE_SOURCE_DIR}/src/platform/win32/*.h)
add_library(huelens_win32 STATIC ${HUELENS_WIN32_SOURCES})
target_link_libraries(huelens_win32 PUBLIC huelens_platform user32 gdi32)

add_library(huelens_resources OBJECT ${CMAKE_SOURCE_DIR}/resources/huelens.qrc)
target_link_libraries(huelens_resources PUBLIC Qt5::Core)

# A GUI program (no console window); help.html lies beside it, in the build
# folder and in the installed folder alike.
add_executable(huelens WIN32 ${CMAKE_SOURCE_DIR}/src/shell/main.cpp $<TARGET_OBJECTS:huelens_resources>)
target_link_libraries(huelens PRIVATE huelens_core huelens_win32)
add_custom_command(TARGET huelens POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${CMAKE_SOURCE_DIR}/resources/help.html $<TARGET_FILE_DIR:huelens>/help.html)
install(TARGETS huelens RUNTIME DESTINATION .)
install(FILES ${CMAKE_SOURCE_DIR}/resources/help.html DESTINATION .)

add_subdirectory(tools)

# The unit tests on the in-memory desktop. The X11 tests are Linux only, and
# so is test_settings_file (it makes a FIFO), and test_settings_oracle (its
# oracle is QSettings as it reads INI files on Linux: on Windows it ignores
# the case of keys).
include(CTest)
if(BUILD_TESTING)
  file(GLOB HUELENS_MEMORY_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/platform/memory/*.cpp ${CMAKE_SOURCE_DIR}/src/platform/memory/*.h)
  add_library(huelens_memory STATIC ${HUELENS_MEMORY_SOURCES})
  target_link_libraries(huelens_memory PUBLIC huelens_platform ${OpenCV_LIBS})
  target_include_directories(huelens_memory SYSTEM PUBLIC ${OpenCV_INCLUDE_DIRS})
  file(GLOB HUELENS_UNIT_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/test_*.cpp)
  list(REMOVE_ITEM HUELENS_UNIT_TESTS ${CMAKE_SOURCE_DIR}/tests/test_settings_file.cpp
    ${CMAKE_SOURCE_DIR}/tests/test_settings_oracle.cpp)
  # The readings' tests undo the profiles Debian installs in /usr/share/color/icc.
  list(REMOVE_ITEM HUELENS_UNIT_TESTS ${CMAKE_SOURCE_DIR}/tests/test_readings.cpp)
  foreach(src ${HUELENS_UNIT_TESTS})
    get_filename_component(name ${src} NAME_WE)
    add_executable(${name} ${src} ${CMAKE_SOURCE_DIR}/tests/support/TestSupport.cpp $<TARGET_OBJECTS:huelens_resources>)
    target_link_libraries(${name} PRIVATE huelens_core huelens_memory Qt5::Test)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 300)
  endforeach()
  target_compile_definitions(test_huelens_render PRIVATE HUELENS_RENDER="$<TARGET_FILE:huelens-render>")
  add_dependencies(test_huelens_render huelens-render)
endif()
