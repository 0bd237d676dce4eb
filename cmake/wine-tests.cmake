# Tests of the real TAVKO.SPI and TAVKO.SPH, built in the Windows build
# folders and run under Wine in one throwaway prefix (so the 64-bit module
# shares the 32-bit one's settings). On a machine that cannot run 32-bit x86
# programs the tests of 32-bit Windows programs run in a virtual machine
# under software emulation (tests/scripts/vm-run.sh), given the time that
# takes (TAVKO_WINE32_TIMEOUT); without its kit they are skipped (exit 77)
# and say so.
set(TAVKO_WIN32_DIR "${CMAKE_SOURCE_DIR}/build/win32" CACHE PATH "Windows build folder")
set(TAVKO_WIN64_DIR "${CMAKE_SOURCE_DIR}/build/win64" CACHE PATH "64-bit Windows build folder")
set(TAVKO_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
set(TAVKO_SCRIPTS "${CMAKE_SOURCE_DIR}/tests/scripts")
set(TAVKO_WINE32_TIMEOUT 2400)
set(TAVKO_WINE_COMMON_ENV "TAVKO_WINEPREFIX=${TAVKO_WINEPREFIX}"
  "TAVKO_CORPUS_DIR=Z:${TAVKO_CORPUS_DIR}"
  "TAVKO_SAMPLES_DIR=Z:${CMAKE_SOURCE_DIR}/samples")
set(TAVKO_WINE_ENV ${TAVKO_WINE_COMMON_ENV} "TAVKO_SPI=Z:${TAVKO_WIN32_DIR}/TAVKO.SPI")
set(TAVKO_WINE64_ENV ${TAVKO_WINE_COMMON_ENV} "TAVKO_SPI=Z:${TAVKO_WIN64_DIR}/TAVKO.SPH")

add_test(NAME wine.prefix COMMAND ${TAVKO_SCRIPTS}/wine-prefix.sh)
set_tests_properties(wine.prefix PROPERTIES FIXTURES_SETUP wine ENVIRONMENT "${TAVKO_WINE_ENV}")

# The virtual machine reaches a repository cloned into root's home folder
# or /tmp, and says what failed when it cannot run a job.
add_test(NAME vm.repo_paths COMMAND ${CMAKE_SOURCE_DIR}/tests/vm/repo-paths.sh)
set_tests_properties(vm.repo_paths PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 900)

add_test(NAME dll.stack_alignment COMMAND ${TAVKO_SCRIPTS}/stack-alignment.sh ${TAVKO_WIN32_DIR}/TAVKO-symbols.dll)

# Each module: its exports and imports, its test host, the digest match
# with the Linux build, the options in Wine's real registry, and the
# configuration dialog under Xvfb.
foreach(bits 32 64)
  if(bits EQUAL 32)
    set(suffix "")
    set(module TAVKO.SPI)
    set(env "${TAVKO_WINE_ENV}")
    set(timeout ${TAVKO_WINE32_TIMEOUT})
  else()
    set(suffix 64)
    set(module TAVKO.SPH)
    set(env "${TAVKO_WINE64_ENV}")
    set(timeout 600)
  endif()
  set(dll dll${suffix})
  set(wine wine${suffix})
  set(dir ${TAVKO_WIN${bits}_DIR})
  add_test(NAME ${dll}.boundary COMMAND ${TAVKO_SCRIPTS}/dll-boundary.sh ${dir}/${module})
  add_test(NAME ${wine}.dll_tests COMMAND ${TAVKO_SCRIPTS}/wine-run.sh ${dir}/tavko_wine_tests.exe --gtest_brief=1)
  add_test(NAME ${wine}.digest_match COMMAND ${TAVKO_SCRIPTS}/digest-match.sh
    $<TARGET_FILE:tavko_digest> ${dir}/tavko_wine_tests.exe
    ${TAVKO_CORPUS_DIR} ${CMAKE_SOURCE_DIR}/samples ${CMAKE_SOURCE_DIR}/fuzz/seeds ${CMAKE_BINARY_DIR}/digest${suffix})
  add_test(NAME ${wine}.registry COMMAND ${TAVKO_SCRIPTS}/wine-registry.sh
    ${dir} ${CMAKE_SOURCE_DIR}/samples ${CMAKE_BINARY_DIR}/registry${suffix})
  add_test(NAME ${wine}.dialog COMMAND ${TAVKO_SCRIPTS}/wine-dialog.sh
    ${dir} ${CMAKE_SOURCE_DIR}/samples ${CMAKE_BINARY_DIR}/dialog${suffix})
  set_tests_properties(${wine}.dll_tests ${wine}.digest_match ${wine}.registry ${wine}.dialog PROPERTIES
    FIXTURES_REQUIRED wine ENVIRONMENT "${env}" RESOURCE_LOCK wine TIMEOUT ${timeout} SKIP_RETURN_CODE 77)
endforeach()

add_test(NAME wine.tool_match COMMAND ${TAVKO_SCRIPTS}/tool-wine-match.sh
  $<TARGET_FILE:tavko> ${TAVKO_WIN32_DIR} ${CMAKE_SOURCE_DIR}/samples ${CMAKE_BINARY_DIR}/tool-match
  ${TAVKO_WIN64_DIR})
add_test(NAME wine64.tool_unicode COMMAND ${TAVKO_SCRIPTS}/tool-unicode.sh
  ${TAVKO_WIN32_DIR} ${TAVKO_WIN64_DIR} ${CMAKE_SOURCE_DIR}/samples ${CMAKE_BINARY_DIR}/tool-unicode)
set_tests_properties(wine.tool_match wine64.tool_unicode PROPERTIES
  FIXTURES_REQUIRED wine ENVIRONMENT "${TAVKO_WINE_ENV}" RESOURCE_LOCK wine TIMEOUT 600 SKIP_RETURN_CODE 77)
set_tests_properties(wine.prefix PROPERTIES TIMEOUT ${TAVKO_WINE32_TIMEOUT})

# A pixel block over 2 GiB: about 3.5 GB of memory for ten seconds.
add_test(NAME wine64.large_picture COMMAND ${TAVKO_SCRIPTS}/wine-run.sh
  ${TAVKO_WIN64_DIR}/tavko_wine_tests.exe --gtest_brief=1 --gtest_filter=*TwoGigabytes*)
# A pixel block of 4 GiB or more, read from a sparse file: about 4.5 GB of
# memory.
add_test(NAME wine64.four_gigabyte_picture COMMAND ${TAVKO_SCRIPTS}/wine-run.sh
  ${TAVKO_WIN64_DIR}/tavko_wine_tests.exe --gtest_brief=1 --gtest_filter=DllWide.APixelBlockOfFourGigabytesFromASparseFile)
set_tests_properties(wine64.large_picture wine64.four_gigabyte_picture PROPERTIES
  FIXTURES_REQUIRED wine ENVIRONMENT "${TAVKO_WINE64_ENV};TAVKO_LARGE=1" RESOURCE_LOCK wine TIMEOUT 600
  SKIP_RETURN_CODE 77)
include(cmake/wic-tests.cmake)
