# korvane.exe demo with no COM-port pair: the serial part says it is skipped,
# the other three modes deliver every command, and the demo succeeds.
#   cmake -DRUN=EMULATOR -DTOOL=korvane.exe -P windows_demo_check.cmake
execute_process(COMMAND ${RUN} ${TOOL} demo RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 100)
message("${out}${err}")
if(NOT out MATCHES "serial +skipped: no COM-port pair")
  message(FATAL_ERROR "the demo's summary does not say the serial part was skipped")
endif()
foreach(mode tracking relay onvif)
  if(NOT out MATCHES "${mode} +([0-9]+) of ([0-9]+) commands arrived" OR NOT CMAKE_MATCH_1 EQUAL CMAKE_MATCH_2
     OR CMAKE_MATCH_2 EQUAL 0)
    message(FATAL_ERROR "the demo's summary lacks ${mode} with every command arrived")
  endif()
endforeach()
if(NOT code EQUAL 0)
  message(FATAL_ERROR "korvane demo exited with ${code}")
endif()
