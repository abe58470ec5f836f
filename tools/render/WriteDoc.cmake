# cmake -DPROGRAM=... -DOPTION=... -DOUT=... -P WriteDoc.cmake
# Writes what PROGRAM OPTION prints to OUT, whole or not at all.
set(ENV{ASAN_OPTIONS} "detect_leaks=0")
get_filename_component(dir ${OUT} DIRECTORY)
file(MAKE_DIRECTORY ${dir})
execute_process(COMMAND ${PROGRAM} ${OPTION} OUTPUT_FILE ${OUT}.tmp RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  file(REMOVE ${OUT}.tmp)
  message(FATAL_ERROR "${PROGRAM} ${OPTION} failed: ${rc}")
endif()
file(RENAME ${OUT}.tmp ${OUT})
