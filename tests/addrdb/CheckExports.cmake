# Fails unless `nm -D --defined-only LIBRARY` lists exactly the twelve
# exports of quelladdr.h, each a function.
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY} OUTPUT_VARIABLE out
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${out}")
set(found)
foreach(line IN LISTS lines)
  if(NOT line MATCHES "^[0-9a-fA-F]+ T ([A-Za-z_][A-Za-z0-9_]*)$")
    message(FATAL_ERROR "unexpected exported symbol: ${line}")
  endif()
  list(APPEND found ${CMAKE_MATCH_1})
endforeach()
list(SORT found)
set(expected addSpamAddrFrom addSpamAddrScore addSpamAddrTo deleteSpamAddrEntry freeSpamAddrH
             getSpamAddrFrom getSpamAddrH getSpamAddrHTotals getSpamAddrScore getSpamAddrTo
             saveSpamAddrH setSpamAddrFrom)
if(NOT found STREQUAL expected)
  message(FATAL_ERROR "exports are\n  ${found}\nexpected\n  ${expected}")
endif()
message(STATUS "exactly the twelve exports")
