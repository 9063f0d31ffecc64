# The rule function table check passes on the tree as it stands, and fails,
# naming the function, when a definition, a #declare or a row differs.
#   cmake -DSOURCE_DIR=<tree> -DWORK_DIR=<empty folder> -P RuleFunctionTableTest.cmake
cmake_minimum_required(VERSION 3.25)

function(check_copy name expected)
    set(tree "${WORK_DIR}/${name}")
    file(REMOVE_RECURSE "${tree}")
    foreach(file filter/RuleFunctionTable.h filter/RuleFunctions.cpp data/rules/spamfltr.inc)
        configure_file("${SOURCE_DIR}/${file}" "${tree}/${file}" COPYONLY)
    endforeach()
    foreach(edit IN LISTS ARGN)
        string(REPLACE "|" ";" fields "${edit}")
        list(GET fields 0 file)
        list(GET fields 1 from)
        list(GET fields 2 to)
        file(READ "${tree}/${file}" text)
        string(REPLACE "${from}" "${to}" changed "${text}")
        if(changed STREQUAL text)
            message(FATAL_ERROR "${name}: '${from}' is not in ${file}")
        endif()
        file(WRITE "${tree}/${file}" "${changed}")
    endforeach()
    execute_process(COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${tree} -DEXPORTS=${tree}/exports.list
                            -P ${SOURCE_DIR}/cmake/RuleFunctionTable.cmake
                    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(expected STREQUAL "")
        if(NOT result EQUAL 0 OR NOT EXISTS "${tree}/exports.list")
            message(FATAL_ERROR "${name}: the check failed:\n${err}")
        endif()
        file(READ "${tree}/exports.list" exports)
        if(NOT exports MATCHES "\n    ISSPAM;\n" OR NOT exports MATCHES "\n    FreeString;\n};\n$")
            message(FATAL_ERROR "${name}: the export list lacks a function:\n${exports}")
        endif()
    elseif(result EQUAL 0 OR NOT err MATCHES "${expected}")
        message(FATAL_ERROR "${name}: expected a failure saying '${expected}', got ${result}:\n${err}")
    endif()
endfunction()

check_copy(as-it-stands "")
check_copy(undeclared "ISOK: in the table, not declared in spamfltr.inc"
           "data/rules/spamfltr.inc|#declare ISOK()\n|")
check_copy(other-arguments "spamfltr.inc has '#declare SETRULERATING\\(string\\)'"
           "data/rules/spamfltr.inc|SETRULERATING(integer)|SETRULERATING(string)")
check_copy(undefined "FILECLOSE: in the table, not defined"
           "filter/RuleFunctions.cpp|RULE_FUNCTION int32_t FILECLOSE(|static int32_t fileClose(")
check_copy(no-row "ISOK: defined in RuleFunctions.cpp, not in the table|spamfltr.inc declares ISOK"
           "filter/RuleFunctionTable.h|    ROW(ISOK, \"\", none) \\\n|")
