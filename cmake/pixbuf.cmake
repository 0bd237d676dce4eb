# The gdk-pixbuf loader module for QVX pictures (libpixbufloader-qvx.so),
# its shared-mime-info and thumbnailer files, its tests, its benchmark, and
# the install and uninstall targets.
find_package(PkgConfig REQUIRED)
pkg_check_modules(GDK_PIXBUF REQUIRED IMPORTED_TARGET gdk-pixbuf-2.0)
pkg_get_variable(GDK_PIXBUF_SYSTEM_MODULEDIR gdk-pixbuf-2.0 gdk_pixbuf_moduledir)
pkg_get_variable(GDK_PIXBUF_QUERY_LOADERS gdk-pixbuf-2.0 gdk_pixbuf_query_loaders)
pkg_get_variable(GDK_PIXBUF_CACHE_FILE gdk-pixbuf-2.0 gdk_pixbuf_cache_file)
# gdk-pixbuf looks for modules in its own folder only, so that is where the
# module goes whatever CMAKE_INSTALL_PREFIX is; the MIME and thumbnailer
# files go under the prefix's share/ folder.
set(TAVKO_PIXBUF_MODULEDIR "${GDK_PIXBUF_SYSTEM_MODULEDIR}" CACHE PATH "Where the gdk-pixbuf loader module is installed")

# The decoding core compiled for a shared object, kept out of its exports.
add_library(tavko_pixbuf_core STATIC ${TAVKO_CORE_SOURCES} native/qvx_native.cpp pixbuf/qvx_rgb.cpp)
target_include_directories(tavko_pixbuf_core PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(tavko_pixbuf_core PRIVATE ${TAVKO_WARNINGS})
set_target_properties(tavko_pixbuf_core PROPERTIES POSITION_INDEPENDENT_CODE ON CXX_VISIBILITY_PRESET hidden)

add_library(pixbufloader-qvx MODULE pixbuf/io_qvx.cpp)
target_compile_options(pixbufloader-qvx PRIVATE ${TAVKO_WARNINGS})
target_link_libraries(pixbufloader-qvx PRIVATE tavko_pixbuf_core PkgConfig::GDK_PIXBUF)
target_link_options(pixbufloader-qvx PRIVATE -Wl,--exclude-libs,ALL -Wl,--no-undefined)
set_target_properties(pixbufloader-qvx PROPERTIES CXX_VISIBILITY_PRESET hidden
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/pixbuf)

if(BUILD_TESTING)
  # A loader cache naming Debian's loaders and the freshly built module, for
  # the tests and the benchmark (GDK_PIXBUF_MODULE_FILE).
  set(TAVKO_PIXBUF_CACHE ${CMAKE_BINARY_DIR}/pixbuf/loaders.cache)
  add_custom_command(OUTPUT ${TAVKO_PIXBUF_CACHE}
    COMMAND sh -c "\"$0\" \"$1\"/*.so \"$2\" >\"$3\"" ${GDK_PIXBUF_QUERY_LOADERS}
      ${GDK_PIXBUF_SYSTEM_MODULEDIR} $<TARGET_FILE:pixbufloader-qvx> ${TAVKO_PIXBUF_CACHE}
    DEPENDS pixbufloader-qvx VERBATIM)
  # gdk-pixbuf picks a loader for a file by the MIME type that GIO finds from
  # the content, so the tests also get a MIME database holding image/x-qvx
  # (XDG_DATA_HOME).
  set(TAVKO_PIXBUF_SHARE ${CMAKE_BINARY_DIR}/pixbuf/share)
  add_custom_command(OUTPUT ${TAVKO_PIXBUF_SHARE}/mime/mime.cache
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/pixbuf/qvx-mime.xml ${TAVKO_PIXBUF_SHARE}/mime/packages/tavko-qvx.xml
    COMMAND ${CMAKE_COMMAND} -E env XDG_DATA_HOME=${TAVKO_PIXBUF_SHARE} update-mime-database ${TAVKO_PIXBUF_SHARE}/mime
    DEPENDS ${CMAKE_SOURCE_DIR}/pixbuf/qvx-mime.xml VERBATIM)
  add_custom_target(pixbuf_cache ALL DEPENDS ${TAVKO_PIXBUF_CACHE} ${TAVKO_PIXBUF_SHARE}/mime/mime.cache)
  set(TAVKO_PIXBUF_ENV GDK_PIXBUF_MODULE_FILE=${TAVKO_PIXBUF_CACHE} XDG_DATA_HOME=${TAVKO_PIXBUF_SHARE})

  # Tests: the module loaded through gdk-pixbuf, compared with the adapter's
  # and the plug-in's own decode.
  add_executable(tavko_pixbuf_tests tests/pixbuf/loader_tests.cpp tests/pixbuf/reference.cpp)
  target_compile_options(tavko_pixbuf_tests PRIVATE ${TAVKO_WARNINGS})
  target_link_libraries(tavko_pixbuf_tests PRIVATE tavko_pixbuf_core tavko_native tavko_test_common
    PkgConfig::GDK_PIXBUF GTest::gtest GTest::gtest_main)
  target_compile_definitions(tavko_pixbuf_tests PRIVATE ${TAVKO_TEST_DEFINES}
    TAVKO_PIXBUF_CACHE="${TAVKO_PIXBUF_CACHE}" TAVKO_PIXBUF_SHARE="${TAVKO_PIXBUF_SHARE}")
  add_dependencies(tavko_pixbuf_tests pixbuf_cache)
  gtest_discover_tests(tavko_pixbuf_tests TEST_PREFIX pixbuf. DISCOVERY_TIMEOUT 60 NO_PRETTY_VALUES)

  # The same tests under valgrind: no memory fault, nothing definitely lost.
  add_test(NAME pixbuf.valgrind COMMAND valgrind -q --leak-check=full --errors-for-leak-kinds=definite
    --show-leak-kinds=definite --error-exitcode=9 $<TARGET_FILE:tavko_pixbuf_tests> --gtest_brief=1)
  set_tests_properties(pixbuf.valgrind PROPERTIES TIMEOUT 600)
  add_test(NAME pixbuf.thumbnailer COMMAND ${CMAKE_SOURCE_DIR}/tests/pixbuf/thumbnailer.sh
    ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/pixbuf/thumbnailer-test)
  add_test(NAME pixbuf.install COMMAND ${CMAKE_SOURCE_DIR}/tests/pixbuf/install.sh
    ${CMAKE_BINARY_DIR} ${CMAKE_BINARY_DIR}/pixbuf/install-test)
  add_test(NAME pixbuf.eog COMMAND ${CMAKE_SOURCE_DIR}/tests/pixbuf/eog.sh
    ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}/pixbuf/eog-test)
  set_tests_properties(pixbuf.thumbnailer pixbuf.eog PROPERTIES ENVIRONMENT "${TAVKO_PIXBUF_ENV}")
  # Both install tests write the build folder's install manifests.
  set_tests_properties(pixbuf.install tool.install PROPERTIES RESOURCE_LOCK install_manifest)
  set_tests_properties(pixbuf.eog PROPERTIES TIMEOUT 120 RUN_SERIAL TRUE)

  # Benchmark: build/native/tavko_pixbuf_bench [RUNS] [--check]
  add_executable(tavko_pixbuf_bench bench/pixbuf_bench.cpp)
  target_compile_options(tavko_pixbuf_bench PRIVATE ${TAVKO_WARNINGS})
  target_link_libraries(tavko_pixbuf_bench PRIVATE tavko_test_common PkgConfig::GDK_PIXBUF)
  target_compile_definitions(tavko_pixbuf_bench PRIVATE
    TAVKO_PIXBUF_CACHE="${TAVKO_PIXBUF_CACHE}" TAVKO_PIXBUF_SHARE="${TAVKO_PIXBUF_SHARE}")
  add_dependencies(tavko_pixbuf_bench pixbuf_cache)
endif()

# Install: the module into gdk-pixbuf's folder and the loader cache brought
# up to date, the MIME type and the thumbnailer under the prefix. A staged
# install (DESTDIR set) leaves the running system's caches alone.
include(GNUInstallDirs)
# The loader and its thumbnailer entry are the component "pixbuf"; the MIME
# type serves the Qt plug-ins too and is a component of its own, "mime"
# (cmake --install BUILD --component pixbuf).
install(TARGETS pixbufloader-qvx LIBRARY DESTINATION ${TAVKO_PIXBUF_MODULEDIR} COMPONENT pixbuf)
install(FILES pixbuf/qvx-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME tavko-qvx.xml
  COMPONENT mime)
install(FILES pixbuf/qvx.thumbnailer DESTINATION ${CMAKE_INSTALL_DATADIR}/thumbnailers RENAME tavko-qvx.thumbnailer
  COMPONENT pixbuf)
configure_file(pixbuf/refresh.cmake.in ${CMAKE_BINARY_DIR}/pixbuf/refresh.cmake @ONLY)
install(SCRIPT ${CMAKE_BINARY_DIR}/pixbuf/refresh.cmake COMPONENT pixbuf)
install(SCRIPT ${CMAKE_BINARY_DIR}/pixbuf/refresh.cmake COMPONENT mime)
# The loader's files alone, for an install made with another prefix:
# cmake -DCMAKE_INSTALL_PREFIX=PREFIX -P BUILD/pixbuf/uninstall.cmake
# (the uninstall target undoes whatever cmake --install placed).
configure_file(pixbuf/uninstall.cmake.in ${CMAKE_BINARY_DIR}/pixbuf/uninstall.cmake @ONLY)
