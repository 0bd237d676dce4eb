# The Qt image-format plug-ins for QVX pictures, for Qt 5 and Qt 6 from one
# source: build/native/qt5/imageformats/libqvx.so and
# build/native/qt6/imageformats/libqvx.so, their tests (QT_PLUGIN_PATH at
# those folders), and the install components qt5 and qt6. A Qt that is not
# installed is left out.
# Both in one project: neither may define the version-less Qt:: targets.
set(QT_NO_CREATE_VERSIONLESS_TARGETS ON)
set(QT_NO_CREATE_VERSIONLESS_FUNCTIONS ON)
find_package(Qt5 COMPONENTS Gui QUIET)
find_package(Qt6 COMPONENTS Gui QUIET)

foreach(qt 5 6)
  if(NOT TARGET Qt${qt}::Gui)
    message(STATUS "Qt ${qt} not found: its QVX plug-in is not built")
    continue()
  endif()
  add_library(qvx_qt${qt} MODULE qt/qvx_plugin.cpp qt/qvx_image.cpp)
  target_compile_options(qvx_qt${qt} PRIVATE ${TAVKO_WARNINGS})
  target_include_directories(qvx_qt${qt} PRIVATE ${CMAKE_SOURCE_DIR})
  # The core and the row helpers, compiled for shared objects and kept out of the exports.
  target_link_libraries(qvx_qt${qt} PRIVATE tavko_pixbuf_core Qt${qt}::Gui)
  target_link_options(qvx_qt${qt} PRIVATE -Wl,--exclude-libs,ALL -Wl,--no-undefined)
  set_target_properties(qvx_qt${qt} PROPERTIES AUTOMOC ON OUTPUT_NAME qvx CXX_VISIBILITY_PRESET hidden
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/qt${qt}/imageformats)

  # Each Qt's own plug-in folder, as qmake -query QT_INSTALL_PLUGINS names it.
  if(qt EQUAL 6)
    set(plugins "${QT6_INSTALL_PREFIX}/${QT6_INSTALL_PLUGINS}")
  else()
    get_target_property(qmake Qt5::qmake IMPORTED_LOCATION)
    execute_process(COMMAND ${qmake} -query QT_INSTALL_PLUGINS OUTPUT_VARIABLE plugins OUTPUT_STRIP_TRAILING_WHITESPACE)
  endif()
  set(TAVKO_QT${qt}_PLUGINDIR "${plugins}" CACHE PATH "Qt ${qt}'s plug-in folder: libqvx.so goes into its imageformats/")
  install(TARGETS qvx_qt${qt} LIBRARY DESTINATION ${TAVKO_QT${qt}_PLUGINDIR}/imageformats COMPONENT qt${qt})

  if(NOT BUILD_TESTING)
    continue()
  endif()
  # The same tests for both: the plug-in loaded by Qt itself.
  add_executable(tavko_qt${qt}_tests tests/qt/qt_tests.cpp tests/pixbuf/reference.cpp)
  target_compile_options(tavko_qt${qt}_tests PRIVATE ${TAVKO_WARNINGS})
  target_link_libraries(tavko_qt${qt}_tests PRIVATE tavko_native tavko_test_common Qt${qt}::Gui GTest::gtest GTest::gtest_main)
  target_compile_definitions(tavko_qt${qt}_tests PRIVATE ${TAVKO_TEST_DEFINES})
  add_dependencies(tavko_qt${qt}_tests qvx_qt${qt})
  gtest_discover_tests(tavko_qt${qt}_tests TEST_PREFIX qt${qt}. DISCOVERY_TIMEOUT 60 NO_PRETTY_VALUES
    PROPERTIES ENVIRONMENT "QT_PLUGIN_PATH=${CMAKE_BINARY_DIR}/qt${qt};QT_QPA_PLATFORM=offscreen")

  # Benchmark: build/native/tavko_qt${qt}_bench [RUNS] [--check], or bench/qt.sh for both.
  add_executable(tavko_qt${qt}_bench bench/qt_bench.cpp)
  target_compile_options(tavko_qt${qt}_bench PRIVATE ${TAVKO_WARNINGS})
  target_link_libraries(tavko_qt${qt}_bench PRIVATE tavko_test_common Qt${qt}::Gui)
  target_compile_definitions(tavko_qt${qt}_bench PRIVATE TAVKO_QT_PLUGINS="${CMAKE_BINARY_DIR}/qt${qt}")
  add_dependencies(tavko_qt${qt}_bench qvx_qt${qt})
endforeach()

# The reverse: the uninstall target (pixbuf/uninstall.cmake.in) takes these too.
configure_file(qt/uninstall.cmake.in ${CMAKE_BINARY_DIR}/qt/uninstall.cmake @ONLY)
# pixbuf.install stages the plug-ins and uninstalls them with the rest.
# A real Qt 5 viewer opens a QVX picture under Xvfb (qt/screenshot.sh takes
# the README's picture the same way).
if(TARGET qvx_qt5 AND BUILD_TESTING)
  add_test(NAME qt.lximage COMMAND ${CMAKE_SOURCE_DIR}/tests/pixbuf/eog.sh ${CMAKE_SOURCE_DIR}
    ${CMAKE_BINARY_DIR}/qt/lximage-test)
  set_tests_properties(qt.lximage PROPERTIES TIMEOUT 120 RUN_SERIAL TRUE ENVIRONMENT
    "VIEWER=lximage-qt;QT_PLUGIN_PATH=${CMAKE_BINARY_DIR}/qt5;XDG_DATA_HOME=${TAVKO_PIXBUF_SHARE};QT_QPA_PLATFORM=xcb")
endif()
