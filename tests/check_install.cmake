# Installs the build folder BUILD_DIR with prefix /usr into the staging folder
# STAGING (through DESTDIR) and compares the files there with the list in EXPECTED.
# COMPONENT, when given, installs that component alone.
set(component_option "")
if(COMPONENT)
    set(component_option --component ${COMPONENT})
endif()
file(REMOVE_RECURSE ${STAGING})
execute_process(
    COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${STAGING} ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix /usr
            ${component_option}
    RESULT_VARIABLE result
    OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE ${STAGING}/usr ${STAGING}/*)
list(SORT installed)
file(STRINGS ${EXPECTED} expected)
if(NOT installed STREQUAL expected)
    string(REPLACE ";" "\n  " installed "${installed}")
    string(REPLACE ";" "\n  " expected "${expected}")
    message(FATAL_ERROR "installed:\n  ${installed}\nexpected:\n  ${expected}")
endif()

foreach(program velloran velloran-cli)
    if(EXISTS ${STAGING}/usr/bin/${program} AND NOT IS_DIRECTORY ${STAGING}/usr/bin/${program})
        execute_process(COMMAND test -x ${STAGING}/usr/bin/${program} RESULT_VARIABLE not_executable)
        if(not_executable)
            message(FATAL_ERROR "${program} is not executable")
        endif()
    endif()
endforeach()
# An installed program draws through its own worker, which has none of the
# tests' switches: asked to crash, it converts the page all the same.
if(SAMPLE_PDF)
    set(out ${STAGING}/converted)
    execute_process(
        COMMAND ${CMAKE_COMMAND} -E env --unset=VELLORAN_WORKER "VELLORAN_TEST_WORKER=crash 0:0"
                ${STAGING}/usr/bin/velloran-cli -q -t png -r 20 -o ${out} ${SAMPLE_PDF}
        RESULT_VARIABLE converted
        ERROR_VARIABLE said)
    if(NOT converted EQUAL 0 OR NOT EXISTS ${out}/owner-password_1.png)
        message(FATAL_ERROR "the installed velloran-cli obeyed a test switch or failed (${converted}): ${said}")
    endif()
endif()
file(REMOVE_RECURSE ${STAGING})
