# The product: TAVKO.SPI, a 32-bit Windows DLL, or from the 64-bit toolchain
# its sibling TAVKO.SPH with the wide-character entries, and the Windows
# programs that load it as a host does.
enable_language(RC)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(TAVKO_MODULE_SUFFIX ".SPH")
  set(TAVKO_MODULE_SOURCES plugin/wide.cpp plugin/tavko64.def)
  set(TAVKO_HOST_TESTS tests/wine/wide_tests.cpp)
  set(TAVKO_MODULE_FLAGS "")
else()
  set(TAVKO_MODULE_SUFFIX ".SPI")
  set(TAVKO_MODULE_SOURCES plugin/tavko.def)
  # 32-bit Windows promises a called function a stack aligned to 4 bytes
  # only, so no code in the DLL may assume more: functions whose SSE spills
  # need 16 align their own stack.
  set(TAVKO_MODULE_FLAGS -mincoming-stack-boundary=2)
endif()

# Everything links statically so the DLL and programs import only system DLLs.
set(TAVKO_STATIC_LINK -static -static-libgcc -static-libstdc++)

add_library(tavko_spi SHARED
  ${TAVKO_CORE_SOURCES}
  ${TAVKO_PLUGIN_SOURCES}
  plugin/module.cpp
  settings/dialog.cpp
  ${TAVKO_MODULE_SOURCES}
  plugin/version.rc
  settings/dialog.rc
)
target_include_directories(tavko_spi PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(tavko_spi PRIVATE
  $<$<COMPILE_LANGUAGE:CXX>:${TAVKO_WARNINGS} -fno-exceptions -fno-rtti ${TAVKO_MODULE_FLAGS}>)
target_link_options(tavko_spi PRIVATE ${TAVKO_STATIC_LINK} -Wl,--subsystem,windows)
set_target_properties(tavko_spi PROPERTIES PREFIX "" OUTPUT_NAME "TAVKO" SUFFIX ${TAVKO_MODULE_SUFFIX}
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR} LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
# The shipped DLL is stripped; a copy with symbols is kept for the check of
# its machine code.
add_custom_command(TARGET tavko_spi POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:tavko_spi> ${CMAKE_BINARY_DIR}/TAVKO-symbols.dll
  COMMAND ${CMAKE_STRIP} $<TARGET_FILE:tavko_spi>)

# GoogleTest built from its sources for the Windows test host.
find_path(TAVKO_GTEST_SOURCE_DIR googletest/include/gtest/gtest.h PATHS /usr/src/googletest
  NO_CMAKE_FIND_ROOT_PATH DOC "GoogleTest sources, built for the Windows test hosts")
if(TAVKO_GTEST_SOURCE_DIR)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(${TAVKO_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  add_executable(tavko_wine_tests
    tests/wine/host.cpp
    tests/wine/entry_tests.cpp
    tests/wine/decode_tests.cpp
    tests/wine/host_tests.cpp
    ${TAVKO_HOST_TESTS}
    tests/common/pictures.cpp
    tests/common/files.cpp
    tests/common/digest.cpp
    tests/common/capture.cpp
    ${TAVKO_ENCODE_SOURCES}
    tools/dib.cpp
    tools/exports_win32.cpp
  )
  target_include_directories(tavko_wine_tests PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
  target_compile_definitions(tavko_wine_tests PRIVATE __USE_MINGW_ANSI_STDIO=1)
  target_link_libraries(tavko_wine_tests PRIVATE gtest version gdi32)
  target_link_options(tavko_wine_tests PRIVATE ${TAVKO_STATIC_LINK})
  add_dependencies(tavko_wine_tests tavko_spi)
endif()

# The command-line tool: loads TAVKO.SPI from beside itself to decode, and
# reads headers with the core, as the plug-in reads them.
add_library(tavko_tool_core STATIC ${TAVKO_CORE_SOURCES})
target_include_directories(tavko_tool_core PRIVATE ${CMAKE_SOURCE_DIR})
add_executable(tavko tools/tavko.cpp tools/command.cpp tools/cmd_info.cpp tools/cmd_decode.cpp tools/cmd_encode.cpp
  tools/cmd_config.cpp tools/cmd_help.cpp ${TAVKO_ENCODE_SOURCES} tools/dib.cpp tools/backend_win32.cpp tools/exports_win32.cpp tools/output.cpp tools/paths.cpp
  tools/png_write.cpp tools/render.cpp tools/png_read_common.cpp tools/png_read_wic.cpp)
include(cmake/cli-unity.cmake)
# CLI11 parses the arguments: header only, so Debian's copy serves this
# build too, copied alone into the build folder (its folder holds the Linux
# C library's headers as well).
find_path(TAVKO_CLI11_INCLUDE_DIR CLI/CLI.hpp NO_CMAKE_FIND_ROOT_PATH DOC "Folder holding CLI/CLI.hpp")
if(NOT TAVKO_CLI11_INCLUDE_DIR)
  message(FATAL_ERROR "CLI11 (CLI/CLI.hpp) was not found: install libcli11-dev")
endif()
file(COPY ${TAVKO_CLI11_INCLUDE_DIR}/CLI DESTINATION ${CMAKE_BINARY_DIR}/cli11)
target_include_directories(tavko PRIVATE ${CMAKE_SOURCE_DIR})
target_include_directories(tavko SYSTEM PRIVATE ${CMAKE_BINARY_DIR}/cli11)
target_compile_definitions(tavko PRIVATE __USE_MINGW_ANSI_STDIO=1)
target_compile_options(tavko PRIVATE ${TAVKO_WARNINGS})
target_link_libraries(tavko PRIVATE tavko_tool_core z windowscodecs ole32 uuid shell32)
# PNG rows are filtered in loops the compiler vectorises.
set_source_files_properties(tools/png_write.cpp TARGET_DIRECTORY tavko PROPERTIES COMPILE_OPTIONS "-O3;-msse2")
target_link_options(tavko PRIVATE ${TAVKO_STATIC_LINK})
add_dependencies(tavko tavko_spi)

# A viewer-like host that opens the configuration dialog for the dialog tests.
add_executable(dialog_host tests/wine/dialog_host.cpp tools/exports_win32.cpp)
target_include_directories(dialog_host PRIVATE ${CMAKE_SOURCE_DIR})
target_link_options(dialog_host PRIVATE ${TAVKO_STATIC_LINK})
add_dependencies(dialog_host tavko_spi)

# The same benchmarks against the real TAVKO.SPI, to run under Wine.
# (stb_image, which they compare with, comes with the test tools.)
if(TAVKO_STB_INCLUDE_DIR)
  add_executable(tavko_bench bench/bench.cpp tests/common/pictures.cpp ${TAVKO_ENCODE_SOURCES} tools/dib.cpp tools/exports_win32.cpp)
  target_include_directories(tavko_bench PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests ${TAVKO_STB_INCLUDE_DIR})
  target_compile_options(tavko_bench PRIVATE -O2)
  target_link_options(tavko_bench PRIVATE ${TAVKO_STATIC_LINK})
  add_dependencies(tavko_bench tavko_spi)
endif()
include(cmake/wic.cmake)
