# The QVX codec for the imaging component under Wine: registration, the
# WIC client test of each bitness, unregistration.
add_test(NAME wine64.wic_codec COMMAND ${TAVKO_SCRIPTS}/wic-codec.sh
  ${TAVKO_WIN32_DIR} ${TAVKO_WIN64_DIR} ${CMAKE_SOURCE_DIR}/samples ${CMAKE_BINARY_DIR}/wic-codec)
set_tests_properties(wine64.wic_codec PROPERTIES
  FIXTURES_REQUIRED wine ENVIRONMENT "${TAVKO_WINE_COMMON_ENV}" RESOURCE_LOCK wine TIMEOUT 900)
