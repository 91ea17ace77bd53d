# Install step of the logging library's headers (see silog_package.cmake): copies each public
# header with its includes of the library made relative to itself ("logging/base/x.h" becomes
# "../base/x.h"), then installs the copies. Fails when a public header includes a header
# that is not installed, so the installed tree is never missing one.
#
# Set by the install(CODE) before it: SILOG_SOURCE_DIR (logging/), SILOG_HEADERS (paths
# relative to it), SILOG_STAGE_DIR (a scratch folder), SILOG_INCLUDE_DESTINATION.
cmake_policy(PUSH)
cmake_policy(VERSION 3.25)
set(include_regex "(#[ \t]*include[ \t]*\")logging/([^\"]*)\"")

file(REMOVE_RECURSE ${SILOG_STAGE_DIR})
set(missing)
foreach(header IN LISTS SILOG_HEADERS)
    file(READ ${SILOG_SOURCE_DIR}/${header} text)
    string(REGEX MATCHALL "${include_regex}" includes "${text}")
    foreach(include IN LISTS includes)
        string(REGEX REPLACE "${include_regex}" "\\2" included "${include}")
        if(NOT included IN_LIST SILOG_HEADERS)
            list(APPEND missing "logging/${header} includes logging/${included}")
        endif()
    endforeach()
    string(REGEX REPLACE "${include_regex}" "\\1../\\2\"" text "${text}")
    file(WRITE ${SILOG_STAGE_DIR}/logging/${header} "${text}")
endforeach()
if(missing)
    list(JOIN missing "\n  " missing)
    message(FATAL_ERROR "Public headers include headers that are not installed:\n  ${missing}")
endif()

file(INSTALL DESTINATION ${CMAKE_INSTALL_PREFIX}/${SILOG_INCLUDE_DESTINATION}
     TYPE DIRECTORY FILES ${SILOG_STAGE_DIR}/logging)
cmake_policy(POP)
