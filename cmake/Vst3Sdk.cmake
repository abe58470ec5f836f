# Locates the VST 3 SDK subset that Debian ships inside juce-modules-source-data
# and builds the few of its sources we use into the static library
# tavlo_vst3sdk. Its headers are SYSTEM includes so that our warnings-as-errors
# never apply to them.
include_guard(GLOBAL)

set(TAVLO_VST3_SDK_DIR
  "/usr/share/juce/modules/juce_audio_processors/format_types/VST3_SDK"
  CACHE PATH "Folder of the VST 3 SDK (pluginterfaces, base, public.sdk)")

if(NOT EXISTS "${TAVLO_VST3_SDK_DIR}/pluginterfaces/vst/ivstaudioprocessor.h"
   OR NOT EXISTS "${TAVLO_VST3_SDK_DIR}/public.sdk/source/vst/vsteditcontroller.cpp")
  message(FATAL_ERROR
    "VST 3 SDK not found at '${TAVLO_VST3_SDK_DIR}'. Install the Debian package "
    "juce-modules-source-data (apt-get install juce-modules-source-data), or point "
    "TAVLO_VST3_SDK_DIR at a folder holding pluginterfaces/, base/ and public.sdk/.")
endif()

if(NOT TARGET tavlo_vst3sdk)
  set(_sdk "${TAVLO_VST3_SDK_DIR}")
  set(TAVLO_VST3_SDK_SOURCES
    ${_sdk}/pluginterfaces/base/funknown.cpp
    ${_sdk}/pluginterfaces/base/coreiids.cpp
    ${_sdk}/pluginterfaces/base/ustring.cpp
    ${_sdk}/base/source/baseiids.cpp
    ${_sdk}/base/source/fobject.cpp
    ${_sdk}/base/source/fstring.cpp
    ${_sdk}/base/source/updatehandler.cpp
    ${_sdk}/base/source/fstreamer.cpp
    ${_sdk}/base/source/fbuffer.cpp
    ${_sdk}/base/source/fdebug.cpp
    ${_sdk}/base/thread/source/flock.cpp
    ${_sdk}/public.sdk/source/vst/vstinitiids.cpp
    ${_sdk}/public.sdk/source/vst/vstbus.cpp
    ${_sdk}/public.sdk/source/vst/vstcomponentbase.cpp
    ${_sdk}/public.sdk/source/vst/vsteditcontroller.cpp
    ${_sdk}/public.sdk/source/vst/vstparameters.cpp
    ${_sdk}/public.sdk/source/common/pluginview.cpp
    ${PROJECT_SOURCE_DIR}/src/vst3/Vst3Iids.cpp)

  add_library(tavlo_vst3sdk STATIC ${TAVLO_VST3_SDK_SOURCES})
  target_include_directories(tavlo_vst3sdk SYSTEM PUBLIC "${_sdk}")
  # fdebug.h refuses to build unless exactly one of the two is defined.
  target_compile_definitions(tavlo_vst3sdk PUBLIC
    $<IF:$<CONFIG:Debug>,DEVELOPMENT=1,RELEASE=1>)
  target_compile_options(tavlo_vst3sdk PRIVATE -w)
  set_target_properties(tavlo_vst3sdk PROPERTIES
    POSITION_INDEPENDENT_CODE ON
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  find_package(Threads REQUIRED)
  target_link_libraries(tavlo_vst3sdk PUBLIC Threads::Threads)
endif()
