# cmake --build BUILD --target uninstall: undoes what cmake --install placed
# from this build folder, for every component, by the install manifests it
# left (install_manifest.txt, install_manifest_COMPONENT.txt), and brings the
# loader cache and the MIME database up to date as the install did.
configure_file(${CMAKE_SOURCE_DIR}/cmake/uninstall-manifest.cmake.in ${CMAKE_BINARY_DIR}/uninstall.cmake @ONLY)
add_custom_target(uninstall COMMAND ${CMAKE_COMMAND} -P ${CMAKE_BINARY_DIR}/uninstall.cmake VERBATIM)
