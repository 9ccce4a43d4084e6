# Fails unless the export table of the Windows library LIBRARY (as
# `OBJDUMP -p` prints it) names exactly the twelve exports of quelladdr.h,
# under their plain names: no "_name@N" decoration, no other export.
#   cmake -DOBJDUMP=x86_64-w64-mingw32-objdump -DLIBRARY=quelladdr.dll -P CheckPeExports.cmake
execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${out}")
set(found)
set(in_names FALSE)
foreach(line IN LISTS lines)
  if(line MATCHES "^\\[Ordinal/Name Pointer\\] Table")
    set(in_names TRUE)
  elseif(in_names AND line MATCHES "^[ \t]+\\[ *[0-9]+\\] (.+)$")
    list(APPEND found "${CMAKE_MATCH_1}")
  elseif(in_names)
    break()
  endif()
endforeach()
list(SORT found)
set(expected addSpamAddrFrom addSpamAddrScore addSpamAddrTo deleteSpamAddrEntry freeSpamAddrH
             getSpamAddrFrom getSpamAddrH getSpamAddrHTotals getSpamAddrScore getSpamAddrTo
             saveSpamAddrH setSpamAddrFrom)
if(NOT found STREQUAL expected)
  message(FATAL_ERROR "${LIBRARY} exports\n  ${found}\nexpected\n  ${expected}")
endif()
message(STATUS "${LIBRARY}: exactly the twelve exports, undecorated")
