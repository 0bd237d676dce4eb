# Tests of the real TAVKO.SPI and TAVKO.SPH, built in the Windows build
# folders and run under Wine in one throwaway prefix (so the 64-bit module
# shares the 32-bit one's settings). On a machine that cannot run 32-bit x86
# programs the tests of 32-bit Windows programs (marked VM) run in a single
# boot of a virtual machine under software emulation, with prefixes of its
# own (wine.vm: tests/vm/batch.sh), while the 64-bit tests run here; each
# VM test then reports the result it had there. Without the machine's kit
# they are skipped (exit 77) and say so.
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
set(TAVKO_VM_RESULTS "${CMAKE_BINARY_DIR}/vm-results")
set_property(GLOBAL PROPERTY TAVKO_VM_BATCH "")

# tavko_wine_test(NAME [VM] [SECONDS N] ENV VAR=VALUE... COMMAND ...): a
# test with its environment; VM puts it in the virtual machine's batch as
# well, where it takes about N seconds (the batch starts the longest first).
function(tavko_wine_test name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "VM" "SECONDS" "ENV;COMMAND")
  set(env ${arg_ENV})
  if(arg_VM)
    if(NOT arg_SECONDS)
      message(FATAL_ERROR "tavko_wine_test(${name} VM) needs the SECONDS it takes in the machine")
    endif()
    list(APPEND env "TAVKO_VM_RESULTS=${TAVKO_VM_RESULTS}" "TAVKO_VM_NAME=${name}")
    set(line "tavko_vm_job ${name} ${arg_SECONDS}")
    foreach(word IN LISTS env)
      string(APPEND line " '${word}'")
    endforeach()
    string(APPEND line " --")
    foreach(word IN LISTS arg_COMMAND)
      string(APPEND line " '${word}'")
    endforeach()
    set_property(GLOBAL APPEND_STRING PROPERTY TAVKO_VM_BATCH "${line}\n")
  endif()
  add_test(NAME ${name} COMMAND ${arg_COMMAND})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}")
endfunction()

# The prefix of the tests run here: of 64-bit programs only where 32-bit
# ones cannot run.
tavko_wine_test(wine.prefix ENV ${TAVKO_WINE_ENV} TAVKO_PREFIX_64=1 COMMAND ${TAVKO_SCRIPTS}/wine-prefix.sh)
set_tests_properties(wine.prefix PROPERTIES FIXTURES_SETUP wine)

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
    set(vm VM)
    set(fixtures "wine;wine_vm")
  else()
    set(suffix 64)
    set(module TAVKO.SPH)
    set(env "${TAVKO_WINE64_ENV}")
    set(timeout 600)
    set(vm "")
    set(fixtures wine)
  endif()
  set(dll dll${suffix})
  set(wine wine${suffix})
  set(dir ${TAVKO_WIN${bits}_DIR})
  add_test(NAME ${dll}.boundary COMMAND ${TAVKO_SCRIPTS}/dll-boundary.sh ${dir}/${module})
  tavko_wine_test(${wine}.dll_tests ${vm} SECONDS 32 ENV ${env} COMMAND ${TAVKO_SCRIPTS}/wine-run.sh
    ${dir}/tavko_wine_tests.exe --gtest_brief=1)
  tavko_wine_test(${wine}.digest_match ${vm} SECONDS 90 ENV ${env} COMMAND ${TAVKO_SCRIPTS}/digest-match.sh
    $<TARGET_FILE:tavko_digest> ${dir}/tavko_wine_tests.exe
    ${TAVKO_CORPUS_DIR} ${CMAKE_SOURCE_DIR}/samples ${CMAKE_SOURCE_DIR}/fuzz/seeds ${CMAKE_BINARY_DIR}/digest${suffix})
  tavko_wine_test(${wine}.registry ${vm} SECONDS 330 ENV ${env} COMMAND ${TAVKO_SCRIPTS}/wine-registry.sh
    ${dir} ${CMAKE_SOURCE_DIR}/samples ${CMAKE_BINARY_DIR}/registry${suffix})
  tavko_wine_test(${wine}.dialog ${vm} SECONDS 150 ENV ${env} COMMAND ${TAVKO_SCRIPTS}/wine-dialog.sh
    ${dir} ${CMAKE_SOURCE_DIR}/samples ${CMAKE_BINARY_DIR}/dialog${suffix})
  set_tests_properties(${wine}.dll_tests ${wine}.digest_match ${wine}.registry ${wine}.dialog PROPERTIES
    FIXTURES_REQUIRED "${fixtures}" RESOURCE_LOCK wine TIMEOUT ${timeout} SKIP_RETURN_CODE 77)
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

# The batch of the VM tests, run before them and started first (the
# longest test), beside the rest.
get_property(batch GLOBAL PROPERTY TAVKO_VM_BATCH)
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/vm-batch.sh CONTENT "${batch}")
add_test(NAME wine.vm COMMAND ${CMAKE_SOURCE_DIR}/tests/vm/batch.sh ${CMAKE_BINARY_DIR}/vm-batch.sh ${TAVKO_VM_RESULTS})
set_tests_properties(wine.vm PROPERTIES FIXTURES_SETUP wine_vm FIXTURES_REQUIRED windows_packages
  ENVIRONMENT "${TAVKO_WINE_COMMON_ENV}" TIMEOUT 5400 SKIP_RETURN_CODE 77 COST 10000)
set_tests_properties(windows.packages PROPERTIES COST 10001)
