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
file(REMOVE_RECURSE ${STAGING})
