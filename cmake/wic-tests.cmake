add_test(NAME dll.wic_boundary COMMAND ${TAVKO_SCRIPTS}/dll-boundary.sh ${TAVKO_WIN32_DIR}/TAVKOWIC.dll)
add_test(NAME dll64.wic_boundary COMMAND ${TAVKO_SCRIPTS}/dll-boundary.sh ${TAVKO_WIN64_DIR}/TAVKOWIC.dll)
add_test(NAME dll.wic_stack_alignment COMMAND ${TAVKO_SCRIPTS}/stack-alignment.sh ${TAVKO_WIN32_DIR}/TAVKOWIC-symbols.dll)

# The QVX codec for the imaging component under Wine: registration, the
# WIC client test of each bitness, unregistration.
tavko_wine_test(wine64.wic_codec VM 720 ENV ${TAVKO_WINE_COMMON_ENV} COMMAND ${TAVKO_SCRIPTS}/wic-codec.sh
  ${TAVKO_WIN32_DIR} ${TAVKO_WIN64_DIR} ${CMAKE_SOURCE_DIR}/samples ${CMAKE_BINARY_DIR}/wic-codec)
set_tests_properties(wine64.wic_codec PROPERTIES
  FIXTURES_REQUIRED "wine;wine_vm" RESOURCE_LOCK wine TIMEOUT ${TAVKO_WINE32_TIMEOUT})

# The installer and the zip from the Windows builds, then the installer in
# the prefix.
add_test(NAME windows.packages COMMAND ${CMAKE_COMMAND} -E env TAVKO_NO_BUILD=1
  ${CMAKE_SOURCE_DIR}/scripts/package-windows.sh ${CMAKE_BINARY_DIR}/packages)
set_tests_properties(windows.packages PROPERTIES FIXTURES_SETUP windows_packages)
tavko_wine_test(wine64.installer VM 320 ENV ${TAVKO_WINE_COMMON_ENV} COMMAND ${TAVKO_SCRIPTS}/wic-installer.sh
  ${CMAKE_BINARY_DIR}/packages/tavko-${PROJECT_VERSION}-setup.exe ${TAVKO_WIN64_DIR}
  ${CMAKE_SOURCE_DIR}/samples ${CMAKE_BINARY_DIR}/wic-installer)
set_tests_properties(wine64.installer PROPERTIES
  FIXTURES_REQUIRED "wine;windows_packages;wine_vm" RESOURCE_LOCK wine
  TIMEOUT ${TAVKO_WINE32_TIMEOUT})
