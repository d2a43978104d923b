# Runs kelp on every bundled sample, in a fresh output folder: each package and archive, and the
# overlay sample laid over the base sample.
file(REMOVE_RECURSE "${OUT}")
file(MAKE_DIRECTORY "${OUT}")

function(run_kelp)
  execute_process(COMMAND "${KELP}" ${ARGN} WORKING_DIRECTORY "${OUT}" RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "kelp ${ARGN} failed (exit ${result})")
  endif()
endfunction()

file(GLOB containers "${SAMPLES}/*.img" "${SAMPLES}/*.dat")
foreach(sample IN LISTS containers)
  run_kelp("${sample}")
endforeach()
# The overlay is named relative to the output folder, since /b, /x or /y in a path would be
# taken for options.
file(RELATIVE_PATH overlay "${OUT}" "${SAMPLES}/overlay.bmp")
run_kelp("${SAMPLES}/base.bmp" /x70 /y40 "/b${overlay}")

file(GLOB written RELATIVE "${OUT}" "${OUT}/*.bmp")
list(LENGTH written count)
message(STATUS "kelp wrote ${count} bitmaps into ${OUT}")
