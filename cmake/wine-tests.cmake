# Tests of the real TAVKO.SPI, built in the Windows build folder and run
# under Wine in a throwaway prefix.
set(TAVKO_WIN32_DIR "${CMAKE_SOURCE_DIR}/build/win32" CACHE PATH "Windows build folder")
set(TAVKO_WIN64_DIR "${CMAKE_SOURCE_DIR}/build/win64" CACHE PATH "64-bit Windows build folder")
set(TAVKO_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
set(TAVKO_SCRIPTS "${CMAKE_SOURCE_DIR}/tests/scripts")
set(TAVKO_WINE_ENV "TAVKO_WINEPREFIX=${TAVKO_WINEPREFIX}"
  "TAVKO_SPI=Z:${TAVKO_WIN32_DIR}/TAVKO.SPI"
  "TAVKO_SHARED_DIR=Z:${TAVKO_SHARED_DIR}"
  "TAVKO_SAMPLES_DIR=Z:${CMAKE_SOURCE_DIR}/samples")

add_test(NAME wine.prefix COMMAND ${TAVKO_SCRIPTS}/wine-prefix.sh)
set_tests_properties(wine.prefix PROPERTIES FIXTURES_SETUP wine ENVIRONMENT "${TAVKO_WINE_ENV}")

add_test(NAME dll.boundary COMMAND ${TAVKO_SCRIPTS}/dll-boundary.sh ${TAVKO_WIN32_DIR}/TAVKO.SPI)
add_test(NAME dll.stack_alignment COMMAND ${TAVKO_SCRIPTS}/stack-alignment.sh ${TAVKO_WIN32_DIR}/TAVKO-symbols.dll)

add_test(NAME wine.dll_tests COMMAND ${TAVKO_SCRIPTS}/wine-run.sh
  ${TAVKO_WIN32_DIR}/tavko_wine_tests.exe --gtest_brief=1)
add_test(NAME wine.digest_match COMMAND ${TAVKO_SCRIPTS}/digest-match.sh
  $<TARGET_FILE:tavko_digest> ${TAVKO_WIN32_DIR}/tavko_wine_tests.exe
  ${TAVKO_SHARED_DIR} ${CMAKE_SOURCE_DIR}/samples ${CMAKE_SOURCE_DIR}/fuzz/seeds ${CMAKE_BINARY_DIR}/digest)
set_tests_properties(wine.dll_tests wine.digest_match PROPERTIES
  FIXTURES_REQUIRED wine ENVIRONMENT "${TAVKO_WINE_ENV}" RESOURCE_LOCK wine TIMEOUT 600)

add_test(NAME wine.tool_match COMMAND ${TAVKO_SCRIPTS}/tool-wine-match.sh
  $<TARGET_FILE:tavko> ${TAVKO_WIN32_DIR} ${CMAKE_SOURCE_DIR}/samples ${CMAKE_BINARY_DIR}/tool-match)
set_tests_properties(wine.tool_match PROPERTIES
  FIXTURES_REQUIRED wine ENVIRONMENT "${TAVKO_WINE_ENV}" RESOURCE_LOCK wine TIMEOUT 600)

add_test(NAME wine.registry COMMAND ${TAVKO_SCRIPTS}/wine-registry.sh
  ${TAVKO_WIN32_DIR} ${CMAKE_SOURCE_DIR}/samples ${CMAKE_BINARY_DIR}/registry)
add_test(NAME wine.dialog COMMAND ${TAVKO_SCRIPTS}/wine-dialog.sh
  ${TAVKO_WIN32_DIR} ${CMAKE_SOURCE_DIR}/samples ${CMAKE_BINARY_DIR}/dialog)
set_tests_properties(wine.registry wine.dialog PROPERTIES
  FIXTURES_REQUIRED wine ENVIRONMENT "${TAVKO_WINE_ENV}" RESOURCE_LOCK wine TIMEOUT 600)

# The 64-bit module under wine64, in the same prefix: it shares the 32-bit
# module's settings.
set(TAVKO_WINE64_ENV ${TAVKO_WINE_ENV} "TAVKO_SPI=Z:${TAVKO_WIN64_DIR}/TAVKO.SPH")
list(REMOVE_ITEM TAVKO_WINE64_ENV "TAVKO_SPI=Z:${TAVKO_WIN32_DIR}/TAVKO.SPI")
add_test(NAME dll64.boundary COMMAND ${TAVKO_SCRIPTS}/dll-boundary.sh ${TAVKO_WIN64_DIR}/TAVKO.SPH)
add_test(NAME wine64.dll_tests COMMAND ${TAVKO_SCRIPTS}/wine-run.sh
  ${TAVKO_WIN64_DIR}/tavko_wine_tests.exe --gtest_brief=1)
add_test(NAME wine64.digest_match COMMAND ${TAVKO_SCRIPTS}/digest-match.sh
  $<TARGET_FILE:tavko_digest> ${TAVKO_WIN64_DIR}/tavko_wine_tests.exe
  ${TAVKO_SHARED_DIR} ${CMAKE_SOURCE_DIR}/samples ${CMAKE_SOURCE_DIR}/fuzz/seeds ${CMAKE_BINARY_DIR}/digest64)
# A pixel block over 2 GiB: about 3.5 GB of memory for ten seconds.
add_test(NAME wine64.large_picture COMMAND ${TAVKO_SCRIPTS}/wine-run.sh
  ${TAVKO_WIN64_DIR}/tavko_wine_tests.exe --gtest_brief=1 --gtest_filter=*TwoGigabytes*)
set_tests_properties(wine64.dll_tests wine64.digest_match PROPERTIES
  FIXTURES_REQUIRED wine ENVIRONMENT "${TAVKO_WINE64_ENV}" RESOURCE_LOCK wine TIMEOUT 600)
set_tests_properties(wine64.large_picture PROPERTIES
  FIXTURES_REQUIRED wine ENVIRONMENT "${TAVKO_WINE64_ENV};TAVKO_LARGE=1" RESOURCE_LOCK wine TIMEOUT 600)
add_test(NAME wine64.tool_unicode COMMAND ${TAVKO_SCRIPTS}/tool-unicode.sh
  ${TAVKO_WIN32_DIR} ${TAVKO_WIN64_DIR} ${CMAKE_SOURCE_DIR}/samples ${CMAKE_BINARY_DIR}/tool-unicode)
set_tests_properties(wine64.tool_unicode PROPERTIES
  FIXTURES_REQUIRED wine ENVIRONMENT "${TAVKO_WINE_ENV}" RESOURCE_LOCK wine TIMEOUT 600)
# The same registry and dialog checks through the 64-bit module and programs.
add_test(NAME wine64.registry COMMAND ${TAVKO_SCRIPTS}/wine-registry.sh
  ${TAVKO_WIN64_DIR} ${CMAKE_SOURCE_DIR}/samples ${CMAKE_BINARY_DIR}/registry64)
add_test(NAME wine64.dialog COMMAND ${TAVKO_SCRIPTS}/wine-dialog.sh
  ${TAVKO_WIN64_DIR} ${CMAKE_SOURCE_DIR}/samples ${CMAKE_BINARY_DIR}/dialog64)
set_tests_properties(wine64.registry wine64.dialog PROPERTIES
  FIXTURES_REQUIRED wine ENVIRONMENT "${TAVKO_WINE64_ENV}" RESOURCE_LOCK wine TIMEOUT 600)
