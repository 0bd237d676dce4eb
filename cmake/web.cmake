# The decoder on the web: the core compiled to WebAssembly by clang for
# wasm32-wasi (Debian's wasi-libc and wasm32 libc++ headers), laid out as the
# npm package in build/native/web/package, with the viewer; its tests run
# under Node and headless Chromium. Without such a clang, or without Node,
# none of it is built.
find_program(TAVKO_NODE NAMES node nodejs)
find_program(TAVKO_WASM_CLANG NAMES clang-14 clang)
set(TAVKO_WEB_DIR ${CMAKE_BINARY_DIR}/web)
set(TAVKO_WEB_READY FALSE)
if(TAVKO_NODE AND TAVKO_WASM_CLANG)
  # The probe links what the module needs: C++ headers, malloc and a reactor's start.
  file(WRITE ${TAVKO_WEB_DIR}/probe.cpp "#include <cstdint>\n#include <cstdlib>\n#include <cstring>\n"
    "extern \"C\" __attribute__((export_name(\"f\"))) void* f(uint32_t n) { return std::malloc(n); }\n")
  execute_process(COMMAND ${TAVKO_WASM_CLANG} --target=wasm32-wasi -mexec-model=reactor -fno-exceptions
    -msimd128 ${TAVKO_WEB_DIR}/probe.cpp -o ${TAVKO_WEB_DIR}/probe.wasm
    RESULT_VARIABLE TAVKO_WEB_PROBE OUTPUT_QUIET ERROR_QUIET)
  if(TAVKO_WEB_PROBE EQUAL 0)
    set(TAVKO_WEB_READY TRUE)
  endif()
endif()
if(NOT TAVKO_WEB_READY)
  message(STATUS "The WebAssembly decoder is not built: it needs Node and clang-14 for wasm32-wasi "
    "(wasi-libc, libc++-14-dev-wasm32, libclang-rt-14-dev-wasm32, lld-14)")
  return()
endif()

set(TAVKO_WEB_PACKAGE ${TAVKO_WEB_DIR}/package)
file(GLOB TAVKO_WEB_INPUTS ${CMAKE_SOURCE_DIR}/web/src/* ${CMAKE_SOURCE_DIR}/web/lib/*.js
  ${CMAKE_SOURCE_DIR}/web/viewer/*.js ${CMAKE_SOURCE_DIR}/web/viewer/*.html ${CMAKE_SOURCE_DIR}/web/*.json
  ${CMAKE_SOURCE_DIR}/web/*.ts ${CMAKE_SOURCE_DIR}/web/*.md ${CMAKE_SOURCE_DIR}/web/build.mjs)
list(TRANSFORM TAVKO_CORE_SOURCES PREPEND ${CMAKE_SOURCE_DIR}/ OUTPUT_VARIABLE TAVKO_WEB_CORE)
add_custom_command(OUTPUT ${TAVKO_WEB_PACKAGE}/lib/qvx.wasm ${TAVKO_WEB_PACKAGE}/viewer/qvx-worker.js
  COMMAND ${TAVKO_NODE} ${CMAKE_SOURCE_DIR}/web/build.mjs --out ${TAVKO_WEB_PACKAGE} --clang ${TAVKO_WASM_CLANG}
  DEPENDS ${TAVKO_WEB_INPUTS} ${TAVKO_WEB_CORE} ${CMAKE_SOURCE_DIR}/decode/qvx.h ${CMAKE_SOURCE_DIR}/decode/qvx_rows.h
  COMMENT "Building the WebAssembly decoder and its npm package")
add_custom_target(web ALL DEPENDS ${TAVKO_WEB_PACKAGE}/lib/qvx.wasm)

if(NOT BUILD_TESTING)
  return()
endif()

# The native baseline of the web benchmark (bench/web.sh).
add_executable(web_bench_native bench/web_native.cpp)
target_link_libraries(web_bench_native PRIVATE tavko_core)

find_program(TAVKO_CHROMIUM NAMES chromium chromium-browser)
set(TAVKO_WEB_ENV TAVKO_WEB_PACKAGE=${TAVKO_WEB_PACKAGE} TAVKO_SOURCE_DIR=${CMAKE_SOURCE_DIR}
  TAVKO_TOOL=$<TARGET_FILE:tavko> TAVKO_WEB_OUT=${TAVKO_WEB_DIR} TAVKO_CHROMIUM=${TAVKO_CHROMIUM})
foreach(part package viewer)
  add_test(NAME web.${part} COMMAND ${TAVKO_NODE} --test ${CMAKE_SOURCE_DIR}/web/test/${part}.test.mjs)
  set_tests_properties(web.${part} PROPERTIES ENVIRONMENT "${TAVKO_WEB_ENV}" TIMEOUT 900)
endforeach()
