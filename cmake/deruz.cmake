# Helpers shared by the subsystem folders.

# deruz_sources(OUT DIR): the portable sources of DIR plus the ones of this platform.
# Platform files are named *_win32.cpp or *_posix.cpp; every other .cpp is portable.
function(deruz_sources out dir)
    file(GLOB all CONFIGURE_DEPENDS ${dir}/*.cpp)
    set(result)
    foreach(f IN LISTS all)
        if(f MATCHES "_win32\\.cpp$")
            if(WIN32)
                list(APPEND result ${f})
            endif()
        elseif(f MATCHES "_posix\\.cpp$")
            if(NOT WIN32)
                list(APPEND result ${f})
            endif()
        else()
            list(APPEND result ${f})
        endif()
    endforeach()
    set(${out} ${result} PARENT_SCOPE)
endfunction()

# deruz_test(NAME SOURCES... LIBS ...): one GoogleTest program, one ctest entry
# (under Wine a program start is not free, so tests are not split per case).
# THREADS marks a program whose code under test runs on several threads: it gets the ctest
# label "threads", and the target "threads_tests" builds every such program, so that the
# ThreadSanitizer step (scripts/test) runs exactly them, whole.
function(deruz_test name)
    cmake_parse_arguments(T "THREADS" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
    add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
    set_tests_properties(${name} PROPERTIES TIMEOUT 600)
    if(T_THREADS)
        set_tests_properties(${name} PROPERTIES LABELS threads)
        if(NOT TARGET threads_tests)
            add_custom_target(threads_tests)
        endif()
        add_dependencies(threads_tests ${name})
    endif()
endfunction()
