# Writes a module-definition file listing every function declared in the C
# header (cmake -DHEADER=... -DOUT=... -P WriteDef.cmake).
file(READ ${HEADER} text)
string(REGEX MATCHALL "KORVANE_CALL[ \t\n]+korvane_[a-z0-9_]+[ \t\n]*\\(" calls "${text}")
set(def "LIBRARY Korvanu.dll\nEXPORTS\n")
foreach(call IN LISTS calls)
  string(REGEX REPLACE "KORVANE_CALL[ \t\n]+(korvane_[a-z0-9_]+).*" "\\1" name "${call}")
  string(APPEND def "    ${name}\n")
endforeach()
if(NOT calls)
  message(FATAL_ERROR "no C functions found in ${HEADER}")
endif()
file(WRITE ${OUT} "${def}")
