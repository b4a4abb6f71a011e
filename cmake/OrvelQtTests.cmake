# orvel_add_qt_test(<target> <source> PROPERTIES <name> <value>...): the CTest
# tests of a Qt Test program. A function that calls QSKIP shows as a skipped
# test in CTest's summary, never as a pass: a program whose source can skip
# becomes one CTest test per test function (listed after each build, as
# gtest_discover_tests does), so that its other functions still count as
# passes; any other program is one test, which keeps the suite quick (a Qt
# program takes some 60 ms to start), and is reported skipped should it ever
# skip a function.
function(orvel_add_qt_test target source)
    cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "PROPERTIES")
    # A run with at least one function skipped and none failed.
    set(skipped "Totals: [0-9]+ passed, 0 failed, [1-9][0-9]* skipped")
    file(STRINGS ${source} skips REGEX "QSKIP\\(")
    if(NOT skips)
        add_test(NAME ${target} COMMAND ${target})
        set_tests_properties(${target} PROPERTIES SKIP_REGULAR_EXPRESSION "${skipped}" ${arg_PROPERTIES})
        return()
    endif()

    set(list_file ${CMAKE_CURRENT_BINARY_DIR}/${target}_functions.cmake)
    set(include_file ${CMAKE_CURRENT_BINARY_DIR}/${target}_include.cmake)
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_COMMAND} -D PROGRAM=$<TARGET_FILE:${target}> -D OUTPUT=${list_file}
                -P ${CMAKE_SOURCE_DIR}/cmake/ListQtTestFunctions.cmake
        BYPRODUCTS ${list_file}
        VERBATIM)
    set(properties "")
    foreach(item IN LISTS arg_PROPERTIES)
        string(APPEND properties " [==[${item}]==]")
    endforeach()
    file(GENERATE OUTPUT ${include_file} CONTENT
"if(EXISTS [==[${list_file}]==])
    include([==[${list_file}]==])
    foreach(function IN LISTS functions)
        add_test(${target}.\${function} [==[$<TARGET_FILE:${target}>]==] \${function})
        set_tests_properties(${target}.\${function} PROPERTIES
            SKIP_REGULAR_EXPRESSION [==[${skipped}]==] RESOURCE_LOCK ${target}${properties})
    endforeach()
else()
    add_test(${target}_NOT_BUILT ${target}_NOT_BUILT)
endif()
")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${include_file})
endfunction()
