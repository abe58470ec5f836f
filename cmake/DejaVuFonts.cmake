# The fonts the editor draws its text with: DejaVu Sans and DejaVu Sans Mono,
# regular and bold, from Debian's fonts-dejavu-core. The bundle carries copies
# with their licence, so the editor looks the same whatever fonts a machine
# has installed.
include_guard(DIRECTORY)

set(TAVLO_FONT_SOURCE_DIR "/usr/share/fonts/truetype/dejavu"
  CACHE PATH "Folder holding the DejaVu font files the bundle carries")
set(TAVLO_FONT_LICENSE "/usr/share/doc/fonts-dejavu-core/copyright"
  CACHE FILEPATH "Licence of the DejaVu fonts, shipped beside them")
# Keep in step with the families of src/platform/linux/GdiText.cpp.
set(TAVLO_FONT_FILES
  DejaVuSans.ttf DejaVuSans-Bold.ttf DejaVuSansMono.ttf DejaVuSansMono-Bold.ttf)

foreach(font IN LISTS TAVLO_FONT_FILES)
  if(NOT EXISTS "${TAVLO_FONT_SOURCE_DIR}/${font}")
    message(FATAL_ERROR
      "Font ${font} not found in '${TAVLO_FONT_SOURCE_DIR}'. Install the Debian package "
      "fonts-dejavu-core (apt-get install fonts-dejavu-core), or point TAVLO_FONT_SOURCE_DIR "
      "at a folder holding ${TAVLO_FONT_FILES}.")
  endif()
endforeach()
if(NOT EXISTS "${TAVLO_FONT_LICENSE}")
  message(FATAL_ERROR
    "Licence of the DejaVu fonts not found at '${TAVLO_FONT_LICENSE}'. Install the Debian "
    "package fonts-dejavu-core, or point TAVLO_FONT_LICENSE at it.")
endif()
# Its name inside the bundle.
set(TAVLO_FONT_LICENSE_NAME "DejaVu-LICENSE.txt")
