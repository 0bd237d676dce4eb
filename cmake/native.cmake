# The Linux build: the plug-in's code over the stand-in for Windows services,
# its unit tests, and the tests that drive the Windows build under Wine.
add_library(tavko_native STATIC ${TAVKO_PLUGIN_SOURCES} platform/standin.cpp)
target_include_directories(tavko_native PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(tavko_native PRIVATE ${TAVKO_WARNINGS})

add_library(tavko_tools STATIC tools/qvx.cpp)
target_include_directories(tavko_tools PUBLIC ${CMAKE_SOURCE_DIR})

include(CTest)
if(BUILD_TESTING)
  find_package(GTest REQUIRED)
  include(GoogleTest)
  add_executable(tavko_unit_tests
    tests/unit/entry_tests.cpp
    tests/unit/options_tests.cpp
    tests/unit/recognize_tests.cpp
    tests/unit/decode_tests.cpp
    tests/unit/corpus_tests.cpp
    tests/unit/settings_tests.cpp
    tests/unit/helpers.cpp
    tests/common/pictures.cpp
    tests/common/files.cpp
    tests/common/stb_impl.cpp
  )
  target_include_directories(tavko_unit_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(tavko_unit_tests PRIVATE tavko_native tavko_tools GTest::gtest GTest::gtest_main)
  target_compile_definitions(tavko_unit_tests PRIVATE
    TAVKO_SHARED_DIR="${TAVKO_SHARED_DIR}" TAVKO_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  gtest_discover_tests(tavko_unit_tests DISCOVERY_TIMEOUT 60)

  add_executable(tavko_digest tests/unit/digest_main.cpp tests/common/digest.cpp
    tests/common/pictures.cpp tests/common/files.cpp tools/exports_native.cpp)
  target_include_directories(tavko_digest PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(tavko_digest PRIVATE tavko_native tavko_tools)

  include(cmake/wine-tests.cmake)
endif()

# Remakes the bundled sample pictures: cmake --build build/native --target samples
add_executable(make_samples tools/make_samples.cpp)
target_link_libraries(make_samples PRIVATE tavko_tools)
add_custom_target(samples COMMAND make_samples ${CMAKE_SOURCE_DIR}/samples DEPENDS make_samples)

# The command-line tool.
find_package(PNG REQUIRED)
add_executable(tavko tools/tavko.cpp tools/exports_native.cpp tools/png_libpng.cpp)
target_compile_options(tavko PRIVATE ${TAVKO_WARNINGS})
target_link_libraries(tavko PRIVATE tavko_native tavko_tools PNG::PNG)

if(BUILD_TESTING)
  add_executable(tavko_tool_tests tests/tool/tool_tests.cpp tests/common/pictures.cpp tests/common/files.cpp
    tests/common/stb_impl.cpp)
  target_include_directories(tavko_tool_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(tavko_tool_tests PRIVATE tavko_tools GTest::gtest GTest::gtest_main)
  target_compile_definitions(tavko_tool_tests PRIVATE TAVKO_TOOL="$<TARGET_FILE:tavko>"
    TAVKO_SHARED_DIR="${TAVKO_SHARED_DIR}" TAVKO_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  add_dependencies(tavko_tool_tests tavko)
  gtest_discover_tests(tavko_tool_tests DISCOVERY_TIMEOUT 60)
endif()

# Remakes the fuzzers' seed pictures: cmake --build build/native --target seeds
add_executable(make_seeds fuzz/make_seeds.cpp tests/common/pictures.cpp tests/common/files.cpp)
target_include_directories(make_seeds PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(make_seeds PRIVATE tavko_tools)
add_custom_target(seeds COMMAND make_seeds ${TAVKO_SHARED_DIR} ${CMAKE_SOURCE_DIR}/samples ${CMAKE_SOURCE_DIR}/fuzz/seeds
  DEPENDS make_seeds)
