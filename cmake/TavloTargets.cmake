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

# Every test has a time limit, so that a hang fails the suite instead of
# holding it for ctest's default of ten million seconds. The longest case
# takes a few seconds; the sanitizer build runs several times slower.
set(TAVLO_TEST_TIMEOUT 120)
if(TAVLO_SANITIZE)
  set(TAVLO_TEST_TIMEOUT 360)
endif()

# tavlo_add_test(name SOURCES a.cpp LIBS dep1 [LABELS l1 l2] [TIMEOUT seconds] [LOCK resource])
# One GoogleTest executable, registered with CTest test by test, each case
# with the time limit above unless given one.
function(tavlo_add_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT;LOCK" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT ${TAVLO_TEST_TIMEOUT})
  endif()
  add_executable(${name} ${ARG_SOURCES})
  tavlo_target_defaults(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT ${ARG_TIMEOUT})
  # Labels and locks are set on the discovered cases by a file of their own,
  # read after the discovery's: its PROPERTIES would flatten a list of labels
  # into further properties. LOCK names a resource the cases share with
  # other tests, so ctest runs none of them at the same time.
  set(case_props)
  if(ARG_LABELS)
    string(APPEND case_props " LABELS \"${ARG_LABELS}\"")
  endif()
  if(ARG_LOCK)
    string(APPEND case_props " RESOURCE_LOCK ${ARG_LOCK}")
  endif()
  if(case_props)
    set(script ${CMAKE_CURRENT_BINARY_DIR}/${name}_properties.cmake)
    file(WRITE ${script}
      "if(${name}_TESTS)\n  set_tests_properties(\${${name}_TESTS} PROPERTIES${case_props})\nendif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${script})
  endif()
  # The cases are listed with their time limit after each link: a change of
  # limit relinks, or an existing build would keep the old list.
  set(props ${CMAKE_CURRENT_BINARY_DIR}/${name}_test_properties.txt)
  file(CONFIGURE OUTPUT ${props} CONTENT "TIMEOUT ${ARG_TIMEOUT}\n")
  set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${props})
endfunction()
