# CLAP plug-ins loaded with dlopen through the host library of src/host and
# checked as a CLAP host checks them: Debian's ZamComp.clap as the control,
# a plug-in of our own with faults to plant, and Tavlo.clap where the build
# has it.
# Included from this folder's CMakeLists.txt, beside the binding's own
# tests; it needs no Tavlo.clap to run.
if(NOT TARGET tavlo_claphost)
  return()
endif()

# A small stereo effect that keeps every contract the checks ask, and breaks
# one when CLAP_FAULT_PLUG_FAULT names it.
add_library(clap_fault_plug MODULE FaultPlug.cpp)
set_target_properties(clap_fault_plug PROPERTIES PREFIX "" SUFFIX ".clap")
target_link_libraries(clap_fault_plug PRIVATE tavlo_clapheaders)
target_compile_options(clap_fault_plug PRIVATE -Wall -Wextra -Werror)
target_link_options(clap_fault_plug PRIVATE -Wl,--no-undefined)

# The control: Debian's zam-plugins. Missing, its checks skip, or fail
# where TAVLO_REQUIRE_HOSTS=1 requires every host and peer.
find_file(TAVLO_ZAMCOMP_CLAP ZamComp.clap PATHS /usr/lib/clap /usr/local/lib/clap NO_DEFAULT_PATH)
if(NOT TAVLO_ZAMCOMP_CLAP)
  set(zamcomp /usr/lib/clap/ZamComp.clap)
else()
  set(zamcomp ${TAVLO_ZAMCOMP_CLAP})
endif()

tavlo_add_test(tavlo_clap_tests SOURCES ClapValidation.cpp ClapHostTest.cpp LIBS tavlo_claphost Threads::Threads LABELS clap)
add_dependencies(tavlo_clap_tests clap_fault_plug)
target_compile_definitions(tavlo_clap_tests PRIVATE
  TAVLO_ZAMCOMP_CLAP="${zamcomp}"
  CLAP_FAULT_PLUG_PATH="$<TARGET_FILE:clap_fault_plug>")
# Tavlo.clap from this build, when the tree builds it (the environment
# variable TAVLO_CLAP_BUNDLE names another at run time). TavloCLAPBundle
# puts the module and its resources in place.
if(TARGET TavloCLAP)
  target_compile_definitions(tavlo_clap_tests PRIVATE TAVLO_CLAP_BUNDLE_PATH="${CMAKE_BINARY_DIR}/Tavlo.clap")
  add_dependencies(tavlo_clap_tests TavloCLAP)
  if(TARGET TavloCLAPBundle)
    add_dependencies(tavlo_clap_tests TavloCLAPBundle)
  endif()
endif()

# Each check fails on the fault planted for it: the run passes when gtest
# reports that check (and only through the fault plug-in) as failed.
set(planted
  "bad-features=ClapValidation.DescriptorsAreConsistent"
  "two-mains=ClapValidation.AudioPortsAreConsistent"
  "nan-64=ClapValidation.ProcessesIn32And64BitsInAndOutOfPlace"
  "subnormal=ClapValidation.ProcessesIn32And64BitsInAndOutOfPlace"
  "writes-input=ClapValidation.ProcessesIn32And64BitsInAndOutOfPlace"
  "inplace-corrupt=ClapValidation.ProcessesIn32And64BitsInAndOutOfPlace"
  "bad-out-event=ClapValidation.ProcessesIn32And64BitsInAndOutOfPlace"
  "wrong-thread=ClapValidation.ProcessesIn32And64BitsInAndOutOfPlace"
  "rate-fraction=ClapValidation.ProcessesAtEverySampleRate"
  "short-write=ClapValidation.ProcessesEveryBlockSize"
  "reset-noop=ClapValidation.ResetAndReactivationStartClean"
  "reactivate-stale=ClapValidation.ResetAndReactivationStartClean"
  "dup-id=ClapValidation.ParameterInfoIsConsistent"
  "default-mismatch=ClapValidation.ValuesStartAtTheirDefaults"
  "cookie-required=ClapValidation.ParameterEventsWithAndWithoutCookies"
  "no-clamp=ClapValidation.OutOfRangeAndNonFiniteValuesAreSafe"
  "last-offset-dropped=ClapValidation.EventsAtEveryOffsetOfABlock"
  "text-roundtrip=ClapValidation.TextAndValueConvertBothWays"
  "flush-ignored=ClapValidation.FlushAppliesValuesOutsideProcessing"
  "latency-no-restart=ClapValidation.LatencyChangesOnlyThroughARestart"
  "needs-host-latency=ClapValidation.CopesWithAHostOfferingNoExtensions"
  "null-transport=ClapValidation.NullAndFuzzedTransport"
  "fuzzed-transport=ClapValidation.NullAndFuzzedTransport"
  "no-64=ClapStrictValidation.DeclaresWhatItPromises"
  "block-start-events=ClapStrictValidation.EventsTakeEffectAtTheirSample"
  "events-ignored=ClapStrictValidation.EventsTakeEffectAtTheirSample"
  "per-block-smoothing=ClapStrictValidation.OutputDoesNotDependOnBlockSizes"
  "accept-empty=ClapStrictValidation.StateRefusesEmptyAndForeignData"
  "accept-random=ClapStrictValidation.StateRefusesEmptyAndForeignData"
  "state-unstable=ClapStrictValidation.StateSavesLoadsAndSavesTheSameBytes"
  "single-read=ClapStrictValidation.StateMovesThroughStreamsInPieces"
  "single-write=ClapStrictValidation.StateMovesThroughStreamsInPieces")
foreach(entry IN LISTS planted)
  string(REPLACE "=" ";" entry "${entry}")
  list(GET entry 0 fault)
  list(GET entry 1 check)
  string(REPLACE "." "\\." check_re "${check}")
  add_test(NAME clap_check_catches_${fault}
    COMMAND tavlo_clap_tests --gtest_filter=Plugins/${check}/FaultPlug)
  set_tests_properties(clap_check_catches_${fault} PROPERTIES
    ENVIRONMENT CLAP_FAULT_PLUG_FAULT=${fault}
    PASS_REGULAR_EXPRESSION "\\[  FAILED  \\] Plugins/${check_re}/FaultPlug"
    LABELS clap TIMEOUT ${TAVLO_TEST_TIMEOUT})
endforeach()
