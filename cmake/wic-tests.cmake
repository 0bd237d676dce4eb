add_test(NAME dll.wic_boundary COMMAND ${TAVKO_SCRIPTS}/dll-boundary.sh ${TAVKO_WIN32_DIR}/TAVKOWIC.dll)
add_test(NAME dll64.wic_boundary COMMAND ${TAVKO_SCRIPTS}/dll-boundary.sh ${TAVKO_WIN64_DIR}/TAVKOWIC.dll)
add_test(NAME dll.wic_stack_alignment COMMAND ${TAVKO_SCRIPTS}/stack-alignment.sh ${TAVKO_WIN32_DIR}/TAVKOWIC-symbols.dll)

# The QVX codec for the imaging component under Wine, each bitness:
# registration, the WIC client test, unregistration.
foreach(bits 32 64)
  if(bits EQUAL 32)
    set(name wine.wic_codec)
    set(vm VM)
    set(fixtures "wine;wine_vm")
  else()
    set(name wine64.wic_codec)
    set(vm "")
    set(fixtures wine)
  endif()
  tavko_wine_test(${name} ${vm} SECONDS 480 ENV ${TAVKO_WINE_COMMON_ENV} COMMAND ${TAVKO_SCRIPTS}/wic-codec.sh ${bits}
    ${TAVKO_WIN32_DIR} ${TAVKO_WIN64_DIR} ${CMAKE_SOURCE_DIR}/samples ${CMAKE_BINARY_DIR}/wic-codec${bits})
  set_tests_properties(${name} PROPERTIES
    FIXTURES_REQUIRED "${fixtures}" RESOURCE_LOCK wine TIMEOUT ${TAVKO_WINE32_TIMEOUT} SKIP_RETURN_CODE 77)
endforeach()

# The installer and the zip from the Windows builds, then the installer in
# the prefix.
add_test(NAME windows.packages COMMAND ${CMAKE_COMMAND} -E env TAVKO_NO_BUILD=1
  ${CMAKE_SOURCE_DIR}/scripts/package-windows.sh ${CMAKE_BINARY_DIR}/packages)
set_tests_properties(windows.packages PROPERTIES FIXTURES_SETUP windows_packages)
add_test(NAME windows.reproducible COMMAND ${TAVKO_SCRIPTS}/windows-reproducible.sh ${CMAKE_BINARY_DIR}/packages)
set_tests_properties(windows.reproducible PROPERTIES FIXTURES_REQUIRED windows_packages)
tavko_wine_test(wine64.installer VM SECONDS 320 ENV ${TAVKO_WINE_COMMON_ENV} COMMAND ${TAVKO_SCRIPTS}/wic-installer.sh
  ${CMAKE_BINARY_DIR}/packages/tavko-${PROJECT_VERSION}-setup.exe ${TAVKO_WIN64_DIR}
  ${CMAKE_SOURCE_DIR}/samples ${CMAKE_BINARY_DIR}/wic-installer)
set_tests_properties(wine64.installer PROPERTIES
  FIXTURES_REQUIRED "wine;windows_packages;wine_vm" RESOURCE_LOCK wine
  TIMEOUT ${TAVKO_WINE32_TIMEOUT})
