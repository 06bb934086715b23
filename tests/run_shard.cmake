# Runs one share of a Qt Test executable's test functions: every SHARDS-th
# function, starting at SHARD (0-based), as listed by -functions. CTest gives
# each share a test, a time limit and a working folder of its own, so that
# the heaviest executables run side by side and none passes its limit on a
# busy machine.
#   cmake -DEXE=<test> -DSHARD=<i> -DSHARDS=<n> -P run_shard.cmake
execute_process(COMMAND ${EXE} -functions OUTPUT_VARIABLE listed RESULT_VARIABLE listing)
if(NOT listing EQUAL 0)
    message(FATAL_ERROR "${EXE} -functions failed: ${listing}")
endif()
string(REPLACE "()" "" listed "${listed}")
string(REGEX REPLACE "[ \t]" "" listed "${listed}")
string(REPLACE "\n" ";" listed "${listed}")
set(chosen)
set(index 0)
foreach(function IN LISTS listed)
    if(function STREQUAL "")
        continue()
    endif()
    math(EXPR turn "${index} % ${SHARDS}")
    if(turn EQUAL SHARD)
        list(APPEND chosen ${function})
    endif()
    math(EXPR index "${index} + 1")
endforeach()
if(NOT chosen)
    return()
endif()
execute_process(COMMAND ${EXE} ${chosen} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${EXE} (share ${SHARD} of ${SHARDS}) failed: ${result}")
endif()
