# TAVKOWIC.dll: the QVX decoder for the Windows imaging component, an
# in-process COM server built from the same sources for 32 and 64 bits.
string(REPLACE "." "," tavko_version_numbers "${PROJECT_VERSION}")
set_source_files_properties(wic/version.rc PROPERTIES
  COMPILE_DEFINITIONS "TAVKO_VERSION_NUMBERS=${tavko_version_numbers},0;TAVKO_VERSION_DOTTED=${PROJECT_VERSION}")
add_library(tavko_wic SHARED
  ${TAVKO_CORE_SOURCES}
  wic/picture.cpp
  wic/codec.cpp
  wic/register.cpp
  wic/module.cpp
  wic/tavkowic.def
  wic/version.rc
)
target_include_directories(tavko_wic PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(tavko_wic PRIVATE
  $<$<COMPILE_LANGUAGE:CXX>:${TAVKO_WARNINGS} -fno-exceptions -fno-rtti ${TAVKO_MODULE_FLAGS}>)
# The .def names the entries plainly; the 32-bit build matches them to
# their stdcall symbols.
target_link_options(tavko_wic PRIVATE ${TAVKO_STATIC_LINK} -Wl,--subsystem,windows -Wl,--enable-stdcall-fixup)
target_link_libraries(tavko_wic PRIVATE ole32 oleaut32 uuid windowscodecs shell32 advapi32)
set_target_properties(tavko_wic PROPERTIES PREFIX "" OUTPUT_NAME "TAVKOWIC" SUFFIX ".dll"
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR} LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
# Stripped, with a copy that keeps its symbols for the check of its machine code.
add_custom_command(TARGET tavko_wic POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:tavko_wic> ${CMAKE_BINARY_DIR}/TAVKOWIC-symbols.dll
  COMMAND ${CMAKE_STRIP} $<TARGET_FILE:tavko_wic>)

# The client of the imaging component that the Wine tests run.
if(TAVKO_GTEST_SOURCE_DIR)
  add_executable(tavko_wic_tests tests/wine/wic_tests.cpp tests/common/pictures.cpp tests/common/files.cpp
    tests/common/capture.cpp ${TAVKO_ENCODE_SOURCES} tools/dib.cpp tools/exports_win32.cpp)
  target_include_directories(tavko_wic_tests PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
  target_compile_definitions(tavko_wic_tests PRIVATE __USE_MINGW_ANSI_STDIO=1)
  target_link_libraries(tavko_wic_tests PRIVATE gtest ole32 uuid windowscodecs)
  target_link_options(tavko_wic_tests PRIVATE ${TAVKO_STATIC_LINK})
  add_dependencies(tavko_wic_tests tavko_spi tavko_wic)
endif()

# The codec's benchmark against WIC's BMP decoder (bench/wic.sh runs it).
add_executable(tavko_wic_bench bench/wic_bench.cpp tests/common/pictures.cpp ${TAVKO_ENCODE_SOURCES} tools/dib.cpp)
target_include_directories(tavko_wic_bench PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
target_compile_options(tavko_wic_bench PRIVATE -O2)
target_link_libraries(tavko_wic_bench PRIVATE ole32 uuid windowscodecs)
target_link_options(tavko_wic_bench PRIVATE ${TAVKO_STATIC_LINK})
add_dependencies(tavko_wic_bench tavko_wic)
