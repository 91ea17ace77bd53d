# The release number and the commit a build comes from, for the version resources of the DLL
# and the tools and for the package name (scripts/release).
#
# The number is the project's version (project() in the top CMakeLists.txt), MAJOR.MINOR.PATCH;
# the file version of every binary is MAJOR.MINOR.PATCH.0. The commit is recorded in the
# resources' product version text and comments: DERUZ_SOURCE_COMMIT when given (a copy of the
# tree without its git folder, scripts/release-check), else what git says of the source tree,
# with "-modified" when the work tree differs from that commit, else "unknown".
set(DERUZ_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH})
set(DERUZ_VERSION_COMMAS
    ${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},0)

set(DERUZ_SOURCE_COMMIT "" CACHE STRING
    "The commit the sources come from (empty: ask git at configure time)")
set(DERUZ_COMMIT "${DERUZ_SOURCE_COMMIT}")
if(DERUZ_COMMIT STREQUAL "")
    set(DERUZ_COMMIT unknown)
    find_package(Git QUIET)
    if(GIT_FOUND)
        execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse HEAD
            WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
            OUTPUT_VARIABLE head OUTPUT_STRIP_TRAILING_WHITESPACE
            RESULT_VARIABLE head_status ERROR_QUIET)
        if(head_status EQUAL 0)
            set(DERUZ_COMMIT ${head})
            execute_process(COMMAND ${GIT_EXECUTABLE} update-index -q --refresh
                WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_QUIET ERROR_QUIET)
            execute_process(COMMAND ${GIT_EXECUTABLE} diff-index --quiet HEAD --
                WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} RESULT_VARIABLE dirty ERROR_QUIET)
            if(NOT dirty EQUAL 0)
                string(APPEND DERUZ_COMMIT -modified)
            endif()
            # Configure again when HEAD moves, so the resources never name a stale commit.
            foreach(ref HEAD index)
                execute_process(COMMAND ${GIT_EXECUTABLE} rev-parse --git-path ${ref}
                    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                    OUTPUT_VARIABLE ref_path OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
                get_filename_component(ref_path ${ref_path} ABSOLUTE BASE_DIR ${PROJECT_SOURCE_DIR})
                if(EXISTS ${ref_path})
                    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ref_path})
                endif()
            endforeach()
        endif()
    endif()
endif()
# The product version text: "1.2.3 (commit 0123abcd...)".
set(DERUZ_PRODUCT_VERSION "${DERUZ_VERSION} (commit ${DERUZ_COMMIT})")

# deruz_version_resource(TARGET DESCRIPTION TEXT FILETYPE VFT_APP|VFT_DLL [TYPELIB FILE]): gives
# a Windows program or DLL its version resource (cmake/version.rc.in): file and product version,
# the commit in the comments; TYPELIB adds a type library as resource TYPELIB 1. One generated
# .rc a binary, because the linkers take one resource object.
function(deruz_version_resource target)
    cmake_parse_arguments(V "" "DESCRIPTION;FILETYPE;TYPELIB" "" ${ARGN})
    get_target_property(output ${target} OUTPUT_NAME)
    if(NOT output)
        set(output ${target})
    endif()
    get_target_property(kind ${target} TYPE)
    if(kind STREQUAL "SHARED_LIBRARY")
        set(DERUZ_RC_FILENAME ${output}.dll)
    else()
        set(DERUZ_RC_FILENAME ${output}.exe)
    endif()
    set(DERUZ_RC_NAME ${output})
    set(DERUZ_RC_DESCRIPTION "${V_DESCRIPTION}")
    set(DERUZ_RC_FILETYPE ${V_FILETYPE})
    set(DERUZ_RC_TYPELIB "")
    if(V_TYPELIB)
        set(DERUZ_RC_TYPELIB "1 TYPELIB \"${V_TYPELIB}\"")
    endif()
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${output}.rc)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
    if(V_TYPELIB)
        set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${V_TYPELIB})
    endif()
endfunction()

# The release number and commit for scripts/release, which names the package after them.
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/release-version.txt
    CONTENT "VERSION=@DERUZ_VERSION@\nCOMMIT=@DERUZ_COMMIT@\n" @ONLY)
