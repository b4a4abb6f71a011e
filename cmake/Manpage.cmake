# Makes the man page OUTPUT (roff, "name.1") and OUTPUT.gz from the scdoc
# source SOURCE, with @PROJECT_VERSION@ filled in from VERSION. Run by the
# build with cmake -P; SCDOC and GZIP name the tools.
file(READ ${SOURCE} text)
string(REPLACE "@PROJECT_VERSION@" "${VERSION}" text "${text}")
file(WRITE ${OUTPUT}.scd "${text}")
execute_process(COMMAND ${SCDOC} INPUT_FILE ${OUTPUT}.scd OUTPUT_FILE ${OUTPUT} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "scdoc failed on ${SOURCE}")
endif()
# -n: no name or time stamp inside, so the same page gives the same bytes.
execute_process(COMMAND ${GZIP} -9 -n -c ${OUTPUT} OUTPUT_FILE ${OUTPUT}.gz RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "gzip failed on ${OUTPUT}")
endif()
