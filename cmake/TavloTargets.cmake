# Shared settings for the project's own targets (never for third-party sources).

# Include roots: "kit/KitString.h", "fx/IParam.h", "tavlo/Tavlo.h", ...
function(tavlo_target_defaults target)
  target_include_directories(${target} PUBLIC
    ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/plugins)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()

# tavlo_add_library(name SOURCES a.cpp b.cpp LIBS dep1 dep2)
function(tavlo_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  tavlo_target_defaults(${name})
  if(ARG_LIBS)
    target_link_libraries(${name} PUBLIC ${ARG_LIBS})
  endif()
endfunction()

# tavlo_add_test(name SOURCES a.cpp LIBS dep1 [LABELS l1])
# One GoogleTest executable, registered with CTest test by test.
function(tavlo_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  tavlo_target_defaults(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS "${ARG_LABELS}")
endfunction()
