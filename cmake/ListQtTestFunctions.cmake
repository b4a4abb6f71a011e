# Writes "set(functions ...)" with the test functions of the Qt Test program
# PROGRAM into OUTPUT (run with cmake -P after each build of the program).
set(ENV{QT_QPA_PLATFORM} offscreen)
execute_process(COMMAND ${PROGRAM} -functions
    OUTPUT_VARIABLE listing ERROR_VARIABLE errors RESULT_VARIABLE result TIMEOUT 60)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} -functions failed (${result}):\n${errors}")
endif()
string(REGEX MATCHALL "[A-Za-z_][A-Za-z0-9_]*\\(\\)" calls "${listing}")
list(TRANSFORM calls REPLACE "\\(\\)$" "")
if(NOT calls)
    message(FATAL_ERROR "${PROGRAM} lists no test functions")
endif()
file(WRITE ${OUTPUT} "set(functions ${calls})\n")
