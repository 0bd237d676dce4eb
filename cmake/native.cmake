# The Linux build: the plug-in's code over the stand-in for Windows services,
# the tavko command, the unit tests, and the tests that drive the Windows
# build under Wine. With TAVKO_SANITIZE set (address,undefined or thread)
# only the library and its unit tests are built, for the sanitizer runs.
set(TAVKO_SANITIZE "" CACHE STRING "Sanitizers for this build: address,undefined or thread")
if(TAVKO_SANITIZE)
  add_compile_options(-fsanitize=${TAVKO_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${TAVKO_SANITIZE})
endif()

# The decoding core, as the tool and the desktop loader use it.
add_library(tavko_core STATIC ${TAVKO_CORE_SOURCES})
target_include_directories(tavko_core PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(tavko_core PRIVATE ${TAVKO_WARNINGS})

# The core on Linux: plain memory and pread, for the tool and the loader.
add_library(tavko_linux STATIC native/qvx_native.cpp)
target_compile_options(tavko_linux PRIVATE ${TAVKO_WARNINGS})
target_link_libraries(tavko_linux PUBLIC tavko_core)

add_library(tavko_tools STATIC ${TAVKO_ENCODE_SOURCES} tools/dib.cpp)
target_include_directories(tavko_tools PUBLIC ${CMAKE_SOURCE_DIR})

include(CTest)
# BUILD_TESTING off (as the Debian packages build) makes the product alone:
# tavko and the desktop loader, with none of the tests' or benchmarks' needs
# (GoogleTest, Google Benchmark, stb, Wine, mingw).
if(BUILD_TESTING)
  # The plug-in's front end over the stand-in for Windows services, which
  # can make any acquiring call fail.
  add_library(tavko_native STATIC ${TAVKO_PLUGIN_SOURCES} tests/standin/standin.cpp)
  target_include_directories(tavko_native PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
  target_compile_options(tavko_native PRIVATE ${TAVKO_WARNINGS})
  target_link_libraries(tavko_native PUBLIC tavko_core)

  find_package(GTest REQUIRED)
  include(GoogleTest)

  add_library(tavko_test_common STATIC tests/common/pictures.cpp tests/common/files.cpp tests/common/stb_impl.cpp)
  add_library(tavko_test_capture STATIC tests/common/capture.cpp)
  target_include_directories(tavko_test_capture PUBLIC ${CMAKE_SOURCE_DIR}/tests ${CMAKE_SOURCE_DIR})
  target_link_libraries(tavko_test_capture PUBLIC tavko_native GTest::gtest)
  target_include_directories(tavko_test_common PUBLIC ${CMAKE_SOURCE_DIR}/tests ${CMAKE_SOURCE_DIR} ${TAVKO_STB_INCLUDE_DIR})
  target_link_libraries(tavko_test_common PUBLIC tavko_tools)

  set(TAVKO_TEST_DEFINES TAVKO_CORPUS_DIR="${TAVKO_CORPUS_DIR}" TAVKO_SOURCE_DIR="${CMAKE_SOURCE_DIR}")

  add_executable(tavko_unit_tests
    tests/unit/helpers.cpp
    tests/unit/entry_tests.cpp
    tests/unit/options_tests.cpp
    tests/unit/recognize_tests.cpp
    tests/unit/decode_tests.cpp
    tests/unit/corpus_tests.cpp
    tests/unit/settings_tests.cpp
    tests/unit/fault_tests.cpp
    tests/unit/thread_tests.cpp
    tests/unit/rows_tests.cpp
    tests/unit/core_tests.cpp
  )
  target_link_libraries(tavko_unit_tests PRIVATE tavko_linux tavko_native tavko_test_common tavko_test_capture GTest::gtest GTest::gtest_main)
  target_compile_definitions(tavko_unit_tests PRIVATE ${TAVKO_TEST_DEFINES})

  add_executable(tavko_thread_tests tests/unit/thread_tests.cpp)
  target_link_libraries(tavko_thread_tests PRIVATE tavko_native tavko_test_common tavko_test_capture GTest::gtest GTest::gtest_main)
  target_compile_definitions(tavko_thread_tests PRIVATE ${TAVKO_TEST_DEFINES})
endif()

if(TAVKO_SANITIZE)
  return()
endif()

# The command-line tool.
find_package(PNG REQUIRED)
find_package(ZLIB REQUIRED)
find_package(Threads REQUIRED)
# CLI11 parses the arguments (header only, Debian's libcli11-dev).
find_path(TAVKO_CLI11_INCLUDE_DIR CLI/CLI.hpp DOC "Folder holding CLI/CLI.hpp")
if(NOT TAVKO_CLI11_INCLUDE_DIR)
  message(FATAL_ERROR "CLI11 (CLI/CLI.hpp) was not found: install libcli11-dev")
endif()
add_executable(tavko tools/tavko.cpp tools/command.cpp tools/cmd_info.cpp tools/cmd_decode.cpp tools/cmd_encode.cpp
  tools/cmd_config.cpp tools/cmd_help.cpp tools/backend_native.cpp tools/output.cpp tools/paths.cpp tools/png_write.cpp tools/render.cpp
  tools/png_read_common.cpp tools/png_read_libpng.cpp)
include(cmake/cli-unity.cmake)
target_compile_options(tavko PRIVATE ${TAVKO_WARNINGS})
# PNG rows are filtered in loops the compiler vectorises at -O3; the fast
# levels compress runs of rows side by side with ISA-L, the smaller ones
# whole pictures with libdeflate.
find_library(TAVKO_LIBDEFLATE deflate REQUIRED)
find_library(TAVKO_LIBISAL isal REQUIRED)
set_source_files_properties(tools/png_write.cpp PROPERTIES COMPILE_OPTIONS -O3
  COMPILE_DEFINITIONS "TAVKO_LIBDEFLATE;TAVKO_ISAL")
target_include_directories(tavko SYSTEM PRIVATE ${TAVKO_CLI11_INCLUDE_DIR})
target_link_libraries(tavko PRIVATE tavko_linux tavko_tools PNG::PNG ZLIB::ZLIB ${TAVKO_LIBDEFLATE} ${TAVKO_LIBISAL}
  Threads::Threads)

# cmake --install build/native [--prefix DIR] [--component tavko]: the
# command, its man page and its bash completion.
include(GNUInstallDirs)
install(TARGETS tavko RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tavko)
install(FILES docs/tavko.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tavko)
install(FILES docs/tavko.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME tavko
  COMPONENT tavko)

if(BUILD_TESTING)
  # The tests labelled "unit" need nothing but the build: the package build
  # runs them (ctest -L unit).
  gtest_discover_tests(tavko_unit_tests DISCOVERY_TIMEOUT 60 NO_PRETTY_VALUES PROPERTIES LABELS unit)

  add_executable(tavko_tool_tests tests/tool/tool_tests.cpp)
  target_link_libraries(tavko_tool_tests PRIVATE tavko_test_common tavko_core GTest::gtest GTest::gtest_main)
  target_compile_definitions(tavko_tool_tests PRIVATE TAVKO_TOOL="$<TARGET_FILE:tavko>" ${TAVKO_TEST_DEFINES})
  add_dependencies(tavko_tool_tests tavko)
  gtest_discover_tests(tavko_tool_tests DISCOVERY_TIMEOUT 60 NO_PRETTY_VALUES PROPERTIES LABELS unit)
  add_test(NAME tool.install COMMAND ${CMAKE_SOURCE_DIR}/tests/scripts/tool-install.sh ${CMAKE_BINARY_DIR}
    ${CMAKE_BINARY_DIR}/install-check)
  set_tests_properties(tool.install PROPERTIES LABELS unit)

  # Writes the Linux build's answers for every test picture, to compare with
  # TAVKO.SPI under Wine.
  add_executable(tavko_digest tests/unit/digest_main.cpp tests/common/digest.cpp tools/exports_native.cpp)
  target_link_libraries(tavko_digest PRIVATE tavko_native tavko_test_common)

  # The recorded digests of the samples and seeds; remake them, after a
  # deliberate change, with tests/scripts/digest-expected.sh ... --update.
  add_test(NAME digest.expected COMMAND ${CMAKE_SOURCE_DIR}/tests/scripts/digest-expected.sh
    $<TARGET_FILE:tavko_digest> ${TAVKO_CORPUS_DIR} ${CMAKE_SOURCE_DIR}/samples ${CMAKE_SOURCE_DIR}/fuzz/seeds
    ${CMAKE_SOURCE_DIR}/tests/data ${CMAKE_BINARY_DIR}/digest-expected)

  # Remakes the bundled sample pictures: cmake --build build/native --target samples
  add_executable(make_samples tools/make_samples.cpp)
  target_link_libraries(make_samples PRIVATE tavko_tools)
  add_custom_target(samples COMMAND make_samples ${CMAKE_SOURCE_DIR}/samples DEPENDS make_samples)

  # Remakes the fuzzers' seed pictures: cmake --build build/native --target seeds
  add_executable(make_seeds fuzz/make_seeds.cpp)
  target_link_libraries(make_seeds PRIVATE tavko_test_common)
  add_custom_target(seeds COMMAND make_seeds ${TAVKO_CORPUS_DIR} ${CMAKE_SOURCE_DIR}/samples
    ${CMAKE_SOURCE_DIR}/fuzz/seeds DEPENDS make_seeds)

  include(cmake/wine-tests.cmake)
  include(cmake/checks.cmake)

  # Benchmarks: build/native/tavko_bench, or bench/run.sh for both builds
  # (not in the package build, which has no Google Benchmark).
  find_package(benchmark QUIET)
  if(benchmark_FOUND)
    add_executable(tavko_bench bench/bench.cpp tools/exports_native.cpp)
    target_include_directories(tavko_bench PRIVATE ${TAVKO_STB_INCLUDE_DIR})
    target_link_libraries(tavko_bench PRIVATE tavko_linux tavko_native tavko_test_common benchmark::benchmark)
  endif()

  # What PNG writing costs in whole runs of tavko: build/native/png_bench build/native/tavko
  add_executable(png_bench bench/png_bench.cpp)
  target_link_libraries(png_bench PRIVATE tavko_test_common PNG::PNG)
endif()

# The desktop front ends; the main job, which runs tavko alone, leaves them out.
option(TAVKO_DESKTOP "Build the gdk-pixbuf loader and the Qt plug-ins" ON)
if(TAVKO_DESKTOP)
  include(cmake/pixbuf.cmake)
  include(cmake/qt.cmake)
endif()
include(cmake/uninstall.cmake)
# The WebAssembly decoder, an npm package of its own (not in the Debian packages).
option(TAVKO_WEB "Build the WebAssembly decoder and its npm package where clang can" ON)
if(TAVKO_WEB)
  include(cmake/web.cmake)
endif()
include(cmake/python.cmake)
