# The LV2 bundle, Tavlo.lv2/: the Turtle files written from the plug-in by
# a build-time tool, the plug-in module Tavlo.so, the UI module TavloUI.so
# (the only one that needs X11), and Resources/ with whatever the VST 3
# bundle's resources hold (images, fonts), so both editors look alike.
set(TAVLO_LV2_DIR ${CMAKE_BINARY_DIR}/Tavlo.lv2)
set(TAVLO_LV2_EXPORTS_MAP ${CMAKE_CURRENT_LIST_DIR}/Tavlo.lv2.exports.map)

function(tavlo_lv2_module target output)
  set_target_properties(${target} PROPERTIES
    PREFIX ""
    OUTPUT_NAME ${output}
    SUFFIX ".so"
    LIBRARY_OUTPUT_DIRECTORY ${TAVLO_LV2_DIR}
    LINK_DEPENDS ${TAVLO_LV2_EXPORTS_MAP})
  target_link_options(${target} PRIVATE
    -Wl,--no-undefined
    -Wl,--exclude-libs,ALL
    -Wl,--version-script=${TAVLO_LV2_EXPORTS_MAP})
endfunction()

add_library(TavloLV2 MODULE $<TARGET_OBJECTS:tavlo_lv2_entry>)
target_link_libraries(TavloLV2 PRIVATE tavlo_plugin tavlo_lv2)
tavlo_lv2_module(TavloLV2 Tavlo)

add_library(TavloLV2UI MODULE $<TARGET_OBJECTS:tavlo_lv2_ui_entry>
  ${CMAKE_CURRENT_LIST_DIR}/module/TavloModuleEditor.cpp)
target_link_libraries(TavloLV2UI PRIVATE tavlo_plugin tavlo_lv2 tavlo_platform_linux)
tavlo_lv2_module(TavloLV2UI TavloUI)

add_executable(tavlo-lv2-turtle $<TARGET_OBJECTS:tavlo_lv2_turtle_main>)
target_link_libraries(tavlo-lv2-turtle PRIVATE tavlo_plugin tavlo_lv2)
set(TAVLO_LV2_TURTLE
  ${TAVLO_LV2_DIR}/manifest.ttl ${TAVLO_LV2_DIR}/Tavlo.ttl
  ${TAVLO_LV2_DIR}/TavloUI.ttl ${TAVLO_LV2_DIR}/presets.ttl)
add_custom_command(
  OUTPUT ${TAVLO_LV2_TURTLE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${TAVLO_LV2_DIR}
  COMMAND tavlo-lv2-turtle ${TAVLO_LV2_DIR} Tavlo.so TavloUI.so
  DEPENDS tavlo-lv2-turtle
  COMMENT "Writing the Turtle files of Tavlo.lv2"
  VERBATIM)

add_custom_target(TavloLV2Bundle ALL
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${TAVLO_BUNDLE_RES_DIR} ${TAVLO_LV2_DIR}/Resources
  DEPENDS ${TAVLO_LV2_TURTLE} TavloResources TavloLV2 TavloLV2UI
  VERBATIM)

# cmake --install puts the bundle into PREFIX/lib/lv2, where LV2 hosts look,
# with the same modes as the VST 3 bundle.
set(TAVLO_INSTALL_LV2DIR "lib/lv2" CACHE STRING "LV2 bundle folder, relative to the install prefix")
tavlo_install_bundle(${TAVLO_LV2_DIR} ${TAVLO_INSTALL_LV2DIR})
