# Fuzz targets (libFuzzer), built with clang and the address and undefined
# behaviour sanitizers: cmake -S . -B build/fuzz -DTAVKO_FUZZ=ON
#   -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_C_COMPILER=clang-14
set(TAVKO_FUZZ_FLAGS -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -g -O1)
add_library(tavko_fuzz_plugin STATIC ${TAVKO_CORE_SOURCES} ${TAVKO_PLUGIN_SOURCES} tests/standin/standin.cpp
  fuzz/check.cpp)
target_include_directories(tavko_fuzz_plugin PUBLIC ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
target_compile_options(tavko_fuzz_plugin PUBLIC ${TAVKO_FUZZ_FLAGS})
foreach(target is_supported picture_info get_picture get_picture_file)
  add_executable(fuzz_${target} fuzz/${target}.cpp)
  target_link_libraries(fuzz_${target} PRIVATE tavko_fuzz_plugin)
  target_link_options(fuzz_${target} PRIVATE -fsanitize=fuzzer,address,undefined)
endforeach()
