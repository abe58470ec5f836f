# Locates the CLAP ABI headers that Debian's dpf-source installs and offers
# them as the imported target tavlo_clapheaders. That package is mostly
# another plug-in framework: only its clap/ folder is ours to use, so the
# include path is a folder in the build tree holding a link to that one
# folder, and nothing else of the package can be reached from it.
include_guard(GLOBAL)

set(TAVLO_CLAP_HEADERS_DIR "/usr/share/dpf/distrho/src/clap"
  CACHE PATH "Folder of the CLAP headers (entry.h, plugin.h, ext/)")

if(NOT EXISTS "${TAVLO_CLAP_HEADERS_DIR}/entry.h" OR NOT EXISTS "${TAVLO_CLAP_HEADERS_DIR}/ext/params.h")
  message(FATAL_ERROR
    "CLAP headers not found at '${TAVLO_CLAP_HEADERS_DIR}'. Install the Debian package "
    "dpf-source (apt-get install dpf-source), or point TAVLO_CLAP_HEADERS_DIR at a folder "
    "holding entry.h, plugin.h and ext/.")
endif()

# "#include "clap/entry.h"" finds ${TAVLO_CLAP_INCLUDE_DIR}/clap/entry.h.
# Cached, so that every folder sees it after the first include.
set(TAVLO_CLAP_INCLUDE_DIR "${CMAKE_BINARY_DIR}/clap-include" CACHE INTERNAL "The CLAP headers' include folder")
# Made again when it is missing or leads elsewhere (TAVLO_CLAP_HEADERS_DIR changed).
set(_link "${TAVLO_CLAP_INCLUDE_DIR}/clap")
set(_target "")
if(IS_SYMLINK "${_link}")
  file(READ_SYMLINK "${_link}" _target)
endif()
if(NOT EXISTS "${_link}/entry.h" OR (IS_SYMLINK "${_link}" AND NOT _target STREQUAL TAVLO_CLAP_HEADERS_DIR))
  file(MAKE_DIRECTORY "${TAVLO_CLAP_INCLUDE_DIR}")
  file(REMOVE_RECURSE "${_link}")
  file(CREATE_LINK "${TAVLO_CLAP_HEADERS_DIR}" "${_link}" SYMBOLIC COPY_ON_ERROR)
endif()

if(NOT TARGET tavlo_clapheaders)
  add_library(tavlo_clapheaders INTERFACE)
  target_include_directories(tavlo_clapheaders SYSTEM INTERFACE "${TAVLO_CLAP_INCLUDE_DIR}")
endif()
