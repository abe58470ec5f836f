# Locates the LV2 headers (Debian lv2-dev) as the imported target
# tavlo_lv2headers, failing with the package to install when they are missing.
include_guard(GLOBAL)

find_package(PkgConfig REQUIRED)
pkg_check_modules(TAVLO_LV2 QUIET IMPORTED_TARGET lv2>=1.18)
find_path(TAVLO_LV2_INCLUDE_DIR lv2/core/lv2.h HINTS ${TAVLO_LV2_INCLUDE_DIRS})
if(NOT TAVLO_LV2_INCLUDE_DIR OR NOT EXISTS "${TAVLO_LV2_INCLUDE_DIR}/lv2/ui/ui.h")
  message(FATAL_ERROR
    "LV2 headers (lv2/core/lv2.h, lv2/ui/ui.h) not found. Install the Debian package "
    "lv2-dev (apt-get install lv2-dev), or set TAVLO_LV2_INCLUDE_DIR to the folder holding lv2/.")
endif()
if(NOT TARGET tavlo_lv2headers)
  add_library(tavlo_lv2headers INTERFACE)
  target_include_directories(tavlo_lv2headers SYSTEM INTERFACE "${TAVLO_LV2_INCLUDE_DIR}")
endif()
