# The CLAP bundle: Tavlo.clap, the one shared object a CLAP host loads
# (hosts look for files named *.clap), and beside it Tavlo.clap.resources/
# with whatever the VST 3 bundle's resources hold (images, fonts), which the
# editor finds by the module's own path. Only clap_entry leaves the module.
set(TAVLO_CLAP_FILE ${CMAKE_BINARY_DIR}/Tavlo.clap)
set(TAVLO_CLAP_RES_DIR ${CMAKE_BINARY_DIR}/Tavlo.clap.resources)
set(TAVLO_CLAP_EXPORTS_MAP ${CMAKE_CURRENT_LIST_DIR}/Tavlo.clap.exports.map)

add_library(TavloCLAP MODULE $<TARGET_OBJECTS:tavlo_clap_entry>
  ${CMAKE_CURRENT_LIST_DIR}/module/TavloModuleEditor.cpp)
target_link_libraries(TavloCLAP PRIVATE tavlo_plugin tavlo_clap tavlo_platform_linux)
set_target_properties(TavloCLAP PROPERTIES
  PREFIX ""
  OUTPUT_NAME Tavlo
  SUFFIX ".clap"
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}
  LINK_DEPENDS ${TAVLO_CLAP_EXPORTS_MAP})
target_link_options(TavloCLAP PRIVATE
  -Wl,--no-undefined
  -Wl,--exclude-libs,ALL
  -Wl,--version-script=${TAVLO_CLAP_EXPORTS_MAP})

add_custom_target(TavloCLAPBundle ALL
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${TAVLO_BUNDLE_RES_DIR} ${TAVLO_CLAP_RES_DIR}
  DEPENDS TavloResources TavloCLAP
  VERBATIM)

# cmake --install puts both into PREFIX/lib/clap, where CLAP hosts look,
# with the same modes as the other bundles.
set(TAVLO_INSTALL_CLAPDIR "lib/clap" CACHE STRING "CLAP folder, relative to the install prefix")
install(FILES ${TAVLO_CLAP_FILE} DESTINATION ${TAVLO_INSTALL_CLAPDIR}
  PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
tavlo_install_bundle(${TAVLO_CLAP_RES_DIR} ${TAVLO_INSTALL_CLAPDIR})
