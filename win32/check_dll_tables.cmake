# cmake -DOBJDUMP=... -DDLL=ZRN.dll -P check_dll_tables.cmake
# Fails unless ZRN.dll is a PE32 DLL exporting exactly the seven functions
# under their plain names with ordinals 1 to 7, importing SCardTransmit and
# g_rgSCardT0Pci from WINSCARD.dll, and needing only system DLLs.
cmake_policy(VERSION 3.25)
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${DLL} failed")
endif()

set(problems "")

if(NOT dump MATCHES "Magic[\t ]+010b")
  string(APPEND problems "  not a PE32 (32-bit) image\n")
endif()

# Export table: "[Ordinal/Name Pointer] Table" lists "[index] name" with the
# ordinal = index + ordinal base.
string(REGEX MATCH "Ordinal Base[\t ]+([0-9]+)" _ "${dump}")
set(base "${CMAKE_MATCH_1}")
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n(([\t ]+\\[[ 0-9]+\\][^\n]*\n)*)" _ "${dump}")
string(REGEX MATCHALL "\\[[ 0-9]+\\] [^\n]+" rows "${CMAKE_MATCH_1}")
set(actual "")
foreach(row IN LISTS rows)
  string(REGEX MATCH "\\[ *([0-9]+)\\] (.+)" _ "${row}")
  math(EXPR ordinal "${CMAKE_MATCH_1} + ${base}")
  list(APPEND actual "${ordinal}=${CMAKE_MATCH_2}")
endforeach()
list(SORT actual COMPARE NATURAL)
set(expected 1=ConnectReader 2=GetConfig 3=GetErrMsg 4=ReadSMS 5=ReadZRN 6=WriteSMS 7=WriteZRN)
if(NOT actual STREQUAL expected)
  string(APPEND problems "  exports are [${actual}]\n  expected    [${expected}]\n")
endif()
string(REGEX MATCH "Number in:[^\n]*\n[\t ]*Export Address Table[\t ]+([0-9a-fA-F]+)" _ "${dump}")
if(CMAKE_MATCH_1 AND NOT CMAKE_MATCH_1 STREQUAL "00000007")
  string(APPEND problems "  the export address table holds 0x${CMAKE_MATCH_1} entries, not 7\n")
endif()

# Imports: the DLLs named, and what comes from WINSCARD.dll.
string(REGEX MATCHALL "DLL Name: [^\n]+" names "${dump}")
set(allowed kernel32.dll msvcrt.dll winscard.dll user32.dll advapi32.dll)
foreach(entry IN LISTS names)
  string(REPLACE "DLL Name: " "" dll "${entry}")
  string(TOLOWER "${dll}" lower)
  if(NOT lower IN_LIST allowed)
    string(APPEND problems "  imports from ${dll}, which is not a system DLL\n")
  endif()
endforeach()
string(REGEX MATCH "DLL Name: [Ww][Ii][Nn][Ss][Cc][Aa][Rr][Dd]\\.dll\n[^\n]*\n(([\t ]+[0-9a-f]+[\t ]+[0-9]+[\t ]+[^\n]+\n)*)"
       _ "${dump}")
string(REGEX MATCHALL "[0-9]+[\t ]+[A-Za-z_][A-Za-z0-9_]*\n" rows "${CMAKE_MATCH_1}")
set(winscard "")
foreach(row IN LISTS rows)
  string(REGEX MATCH "([A-Za-z_][A-Za-z0-9_]*)\n" _ "${row}")
  list(APPEND winscard "${CMAKE_MATCH_1}")
endforeach()
list(SORT winscard)
if(NOT winscard STREQUAL "SCardTransmit;g_rgSCardT0Pci")
  string(APPEND problems "  imports [${winscard}] from WINSCARD.dll, expected [SCardTransmit;g_rgSCardT0Pci]\n")
endif()

if(problems)
  message(FATAL_ERROR "${DLL}:\n${problems}")
endif()
message(STATUS "${DLL}: seven exports with ordinals 1-7, imports SCardTransmit and g_rgSCardT0Pci, system DLLs only")
