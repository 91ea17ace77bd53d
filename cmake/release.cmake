# The release build (preset "release-win64", scripts/release): the Windows binaries as they are
# shipped. Optimised as the tested builds are (-O2), with CodeView debug information that lld
# writes to a PDB beside each binary (scripts/release strips the binaries and packs the PDBs
# apart), and nothing in the output that depends on when or where it was built:
#   - no time stamp in the PE header (--no-insert-timestamp; lld then derives the PDB's
#     identity, which the debugger matches, from the content);
#   - the PDB is named in the binary without its folder (pdbaltpath);
#   - the source and build folders are mapped to fixed names in debug information and in
#     __FILE__ (-ffile-prefix-map); scripts/release also builds in one fixed folder, because
#     clang records its whole command line, with absolute paths, in the PDB;
#   - the commit comes in through DERUZ_SOURCE_COMMIT or git (cmake/version.cmake), never a
#     date.
if(NOT WIN32 OR NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "DERUZ_RELEASE needs the clang MinGW-w64 toolchain "
                        "(cmake/clang-mingw-w64-x86_64.cmake, preset release-win64)")
endif()
set(CMAKE_C_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "" FORCE)
set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "" FORCE)
# clang records its own command line in the debug information, and ccache (4.7) always runs
# clang with -fcolor-diagnostics, whatever it was given; saying it here keeps the line, and so
# the objects, the same with and without ccache (error messages come in colour).
add_compile_options(-g -gcodeview -fcolor-diagnostics
    -ffile-prefix-map=${CMAKE_BINARY_DIR}=build -ffile-prefix-map=${CMAKE_SOURCE_DIR}=src)
add_link_options(-Wl,--pdb= -Wl,--no-insert-timestamp -Xlinker -Xlink=-pdbaltpath:%_PDB%)

# clang 14 writes the CodeView record of a thread_local variable against the variable's own
# symbol, which emulated TLS (cmake/clang-mingw-w64-x86_64.cmake) never defines, so the link
# fails. A source file that defines one is compiled with line tables only: its functions and
# lines are still in the PDB, its variables and types are not. Every other file keeps full
# debug information.
function(deruz_release_line_tables_for_tls dir)
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target IN LISTS targets)
        get_target_property(sources ${target} SOURCES)
        get_target_property(source_dir ${target} SOURCE_DIR)
        if(NOT sources)
            continue()
        endif()
        foreach(source IN LISTS sources)
            if(NOT source MATCHES "\\.(c|cc|cpp)$")
                continue()
            endif()
            get_filename_component(path ${source} ABSOLUTE BASE_DIR ${source_dir})
            if(NOT EXISTS ${path})
                continue()
            endif()
            file(STRINGS ${path} tls REGEX "thread_local|__thread" LIMIT_COUNT 1)
            if(tls)
                set_property(SOURCE ${path} TARGET_DIRECTORY ${target} APPEND PROPERTY
                    COMPILE_OPTIONS -gline-tables-only)
            endif()
        endforeach()
    endforeach()
    get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    foreach(subdir IN LISTS subdirs)
        deruz_release_line_tables_for_tls(${subdir})
    endforeach()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR}
    CALL deruz_release_line_tables_for_tls ${CMAKE_SOURCE_DIR})
