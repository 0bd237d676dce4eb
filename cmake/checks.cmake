# Runs of the sanitizer builds, valgrind and the fuzzers, from the main
# test run. scripts/test.sh builds build/asan and build/tsan first.
set(TAVKO_ASAN_DIR "${CMAKE_SOURCE_DIR}/build/asan" CACHE PATH "AddressSanitizer build folder")
set(TAVKO_TSAN_DIR "${CMAKE_SOURCE_DIR}/build/tsan" CACHE PATH "ThreadSanitizer build folder")

add_test(NAME sanitize.address_undefined COMMAND ${TAVKO_ASAN_DIR}/tavko_unit_tests --gtest_brief=1)
add_test(NAME sanitize.thread COMMAND ${TAVKO_TSAN_DIR}/tavko_thread_tests)
set_tests_properties(sanitize.address_undefined sanitize.thread PROPERTIES TIMEOUT 900)

add_test(NAME valgrind.tool COMMAND ${CMAKE_SOURCE_DIR}/tests/scripts/valgrind-tool.sh
  $<TARGET_FILE:tavko> ${CMAKE_SOURCE_DIR}/samples ${CMAKE_BINARY_DIR}/valgrind)
set_tests_properties(valgrind.tool PROPERTIES TIMEOUT 900)

# About a minute of fuzzing in all, which also replays every regression input.
add_test(NAME fuzz.smoke COMMAND ${CMAKE_SOURCE_DIR}/fuzz/run.sh 15)
set_tests_properties(fuzz.smoke PROPERTIES TIMEOUT 900)
