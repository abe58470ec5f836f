# The loadable bundle: Tavlo.vst3/Contents/x86_64-linux/Tavlo.so with the
# editor's images and fonts in Contents/Resources/. Only the three entry points leave
# the module: hidden visibility alone would still export template code from
# the static C++ runtime parts, hence the version script and --exclude-libs.
set(TAVLO_BUNDLE_DIR ${CMAKE_BINARY_DIR}/Tavlo.vst3)
set(TAVLO_BUNDLE_SO_DIR ${TAVLO_BUNDLE_DIR}/Contents/x86_64-linux)
set(TAVLO_BUNDLE_RES_DIR ${TAVLO_BUNDLE_DIR}/Contents/Resources)
set(TAVLO_EXPORTS_MAP ${CMAKE_CURRENT_LIST_DIR}/Tavlo.exports.map)

add_library(Tavlo MODULE $<TARGET_OBJECTS:tavlo_vst3_entry>
  ${CMAKE_CURRENT_LIST_DIR}/module/TavloModuleEditor.cpp)
target_link_libraries(Tavlo PRIVATE tavlo_plugin tavlo_vst3 tavlo_platform_linux)
set_target_properties(Tavlo PROPERTIES
  PREFIX ""
  OUTPUT_NAME Tavlo
  SUFFIX ".so"
  LIBRARY_OUTPUT_DIRECTORY ${TAVLO_BUNDLE_SO_DIR}
  LINK_DEPENDS ${TAVLO_EXPORTS_MAP})
target_link_options(Tavlo PRIVATE
  -Wl,--no-undefined
  -Wl,--exclude-libs,ALL
  -Wl,--version-script=${TAVLO_EXPORTS_MAP})

# Copies one file into Contents/Resources under the given name, again
# whenever it changes.
set(TAVLO_BUNDLE_RESOURCES)
function(tavlo_bundle_resource src name)
  add_custom_command(
    OUTPUT ${TAVLO_BUNDLE_RES_DIR}/${name}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${TAVLO_BUNDLE_RES_DIR}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${src} ${TAVLO_BUNDLE_RES_DIR}/${name}
    DEPENDS ${src}
    VERBATIM)
  set(TAVLO_BUNDLE_RESOURCES ${TAVLO_BUNDLE_RESOURCES} ${TAVLO_BUNDLE_RES_DIR}/${name} PARENT_SCOPE)
endfunction()

# Images: whatever PNGs exist at build time, picked up when new ones appear
# (the glob is re-checked at build time).
file(GLOB TAVLO_BUNDLE_IMAGES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/resources/img/*.png)
foreach(img IN LISTS TAVLO_BUNDLE_IMAGES)
  get_filename_component(name ${img} NAME)
  tavlo_bundle_resource(${img} ${name})
endforeach()

# The fonts of the editor's text and their licence.
include(DejaVuFonts)
foreach(font IN LISTS TAVLO_FONT_FILES)
  tavlo_bundle_resource(${TAVLO_FONT_SOURCE_DIR}/${font} ${font})
endforeach()
tavlo_bundle_resource(${TAVLO_FONT_LICENSE} ${TAVLO_FONT_LICENSE_NAME})

add_custom_target(TavloResources ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory ${TAVLO_BUNDLE_RES_DIR}
  DEPENDS ${TAVLO_BUNDLE_RESOURCES})
add_dependencies(Tavlo TavloResources)

# cmake --install puts the bundle into PREFIX/lib/vst3, a folder Linux hosts
# search. Readable by everyone whatever the umask of the build: folders and
# the module 0755, every other file 0644.
function(tavlo_install_bundle folder destination)
  install(DIRECTORY ${folder} DESTINATION ${destination}
    DIRECTORY_PERMISSIONS
      OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
    PATTERN "*.so"
      PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endfunction()
set(TAVLO_INSTALL_VST3DIR "lib/vst3" CACHE STRING "Bundle folder, relative to the install prefix")
tavlo_install_bundle(${TAVLO_BUNDLE_DIR} ${TAVLO_INSTALL_VST3DIR})
