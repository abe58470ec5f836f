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

# Images: whatever PNGs exist at build time, re-copied when they change and
# picked up when new ones appear (the glob is re-checked at build time).
file(GLOB TAVLO_BUNDLE_IMAGES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/resources/img/*.png)
set(TAVLO_BUNDLE_IMAGE_OUTPUTS)
foreach(img IN LISTS TAVLO_BUNDLE_IMAGES)
  get_filename_component(name ${img} NAME)
  add_custom_command(
    OUTPUT ${TAVLO_BUNDLE_RES_DIR}/${name}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${TAVLO_BUNDLE_RES_DIR}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${img} ${TAVLO_BUNDLE_RES_DIR}/${name}
    DEPENDS ${img}
    VERBATIM)
  list(APPEND TAVLO_BUNDLE_IMAGE_OUTPUTS ${TAVLO_BUNDLE_RES_DIR}/${name})
endforeach()
# The fonts of the editor's text and their licence.
include(DejaVuFonts)
set(TAVLO_FONT_SOURCES)
foreach(font IN LISTS TAVLO_FONT_FILES)
  list(APPEND TAVLO_FONT_SOURCES ${TAVLO_FONT_SOURCE_DIR}/${font})
endforeach()
set(TAVLO_BUNDLE_FONT_OUTPUTS)
foreach(src IN LISTS TAVLO_FONT_SOURCES TAVLO_FONT_LICENSE)
  get_filename_component(name ${src} NAME)
  if(src STREQUAL TAVLO_FONT_LICENSE)
    set(name ${TAVLO_FONT_LICENSE_NAME})
  endif()
  add_custom_command(
    OUTPUT ${TAVLO_BUNDLE_RES_DIR}/${name}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${TAVLO_BUNDLE_RES_DIR}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${src} ${TAVLO_BUNDLE_RES_DIR}/${name}
    DEPENDS ${src}
    VERBATIM)
  list(APPEND TAVLO_BUNDLE_FONT_OUTPUTS ${TAVLO_BUNDLE_RES_DIR}/${name})
endforeach()

add_custom_target(TavloResources ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory ${TAVLO_BUNDLE_RES_DIR}
  DEPENDS ${TAVLO_BUNDLE_IMAGE_OUTPUTS} ${TAVLO_BUNDLE_FONT_OUTPUTS})
add_dependencies(Tavlo TavloResources)

# cmake --install puts the bundle into PREFIX/lib/vst3, a folder Linux hosts
# search. Readable by everyone whatever the umask of the build: folders and
# the module 0755, every other file 0644.
set(TAVLO_INSTALL_VST3DIR "lib/vst3" CACHE STRING "Bundle folder, relative to the install prefix")
install(DIRECTORY ${TAVLO_BUNDLE_DIR} DESTINATION ${TAVLO_INSTALL_VST3DIR}
  DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
  PATTERN "*.so"
    PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
