# Fuzz targets (libFuzzer), built with clang and the address and undefined
# behaviour sanitizers: cmake -S . -B build/fuzz -DTAVKO_FUZZ=ON
#   -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_C_COMPILER=clang-14
set(TAVKO_FUZZ_FLAGS -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -g -O1)
add_library(tavko_fuzz_plugin STATIC ${TAVKO_CORE_SOURCES} ${TAVKO_PLUGIN_SOURCES} tests/standin/standin.cpp
  fuzz/check.cpp)
target_include_directories(tavko_fuzz_plugin PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
target_compile_options(tavko_fuzz_plugin PUBLIC ${TAVKO_FUZZ_FLAGS})
foreach(target is_supported picture_info get_picture get_picture_file push_rows)
  add_executable(fuzz_${target} fuzz/${target}.cpp)
  target_link_libraries(fuzz_${target} PRIVATE tavko_fuzz_plugin)
  target_link_options(fuzz_${target} PRIVATE -fsanitize=fuzzer,address,undefined)
endforeach()

# The gdk-pixbuf loader module's incremental loading, split at chosen points.
find_package(PkgConfig REQUIRED)
pkg_check_modules(GDK_PIXBUF REQUIRED IMPORTED_TARGET gdk-pixbuf-2.0)
add_executable(fuzz_pixbuf_incremental fuzz/pixbuf_incremental.cpp pixbuf/io_qvx.cpp pixbuf/qvx_rgb.cpp
  native/qvx_native.cpp)
target_link_libraries(fuzz_pixbuf_incremental PRIVATE tavko_fuzz_plugin PkgConfig::GDK_PIXBUF)
target_link_options(fuzz_pixbuf_incremental PRIVATE -fsanitize=fuzzer,address,undefined)

# The Qt plug-in through QImageReader, linked in as a static plug-in.
set(QT_NO_CREATE_VERSIONLESS_TARGETS ON)
find_package(Qt6 COMPONENTS Gui QUIET)
if(TARGET Qt6::Gui)
  add_executable(fuzz_qt_reader fuzz/qt_reader.cpp qt/qvx_plugin.cpp qt/qvx_image.cpp)
  target_compile_definitions(fuzz_qt_reader PRIVATE QT_STATICPLUGIN)
  target_link_libraries(fuzz_qt_reader PRIVATE tavko_fuzz_plugin Qt6::Gui)
  target_link_options(fuzz_qt_reader PRIVATE -fsanitize=fuzzer,address,undefined)
  set_target_properties(fuzz_qt_reader PROPERTIES AUTOMOC ON)
endif()
