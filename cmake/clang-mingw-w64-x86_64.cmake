# Cross-compiling for Windows x64 with clang and lld (the release build, preset "release-win64").
# Same target and runtime as the MinGW-w64 GCC toolchain (mingw-w64-x86_64.cmake): Debian's
# MinGW-w64 headers, import libraries, libstdc++ and winpthreads (posix thread model), linked
# statically. clang is used for one reason: it writes CodeView debug information and lld turns
# it into a PDB, the symbol file a Windows debugger (WinDbg, Visual Studio) reads; GCC only
# writes DWARF.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(DERUZ_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER clang)
set(CMAKE_C_COMPILER_TARGET ${DERUZ_TRIPLE})
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET ${DERUZ_TRIPLE})
set(CMAKE_RC_COMPILER ${DERUZ_TRIPLE}-windres)
set(DERUZ_WIDL ${DERUZ_TRIPLE}-widl)

# Debian installs the posix-thread GCC runtime under .../gcc/x86_64-w64-mingw32/<major>-posix,
# a folder name clang's MinGW driver does not look for: name its libstdc++ headers and its
# libraries here.
file(GLOB DERUZ_MINGW_GCC_DIRS LIST_DIRECTORIES true /usr/lib/gcc/${DERUZ_TRIPLE}/*-posix)
list(SORT DERUZ_MINGW_GCC_DIRS COMPARE NATURAL ORDER DESCENDING)
list(GET DERUZ_MINGW_GCC_DIRS 0 DERUZ_MINGW_GCC_DIR)
if(NOT IS_DIRECTORY "${DERUZ_MINGW_GCC_DIR}/include/c++")
    message(FATAL_ERROR "no posix-thread MinGW-w64 GCC runtime under /usr/lib/gcc/${DERUZ_TRIPLE}")
endif()
# libstdc++ and winpthreads were built by GCC, whose MinGW target keeps thread_local variables
# in emulated TLS; clang must do the same to link with them.
set(CMAKE_C_FLAGS_INIT "-femulated-tls")
set(CMAKE_CXX_FLAGS_INIT "-femulated-tls -nostdinc++")
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES
    ${DERUZ_MINGW_GCC_DIR}/include/c++
    ${DERUZ_MINGW_GCC_DIR}/include/c++/${DERUZ_TRIPLE}
    ${DERUZ_MINGW_GCC_DIR}/include/c++/backward)
# lld as the linker; winpthreads after libstdc++, which needs it in the posix thread model.
foreach(kind EXE SHARED MODULE)
    set(CMAKE_${kind}_LINKER_FLAGS_INIT
        "-fuse-ld=lld -L${DERUZ_MINGW_GCC_DIR} -Wno-unused-command-line-argument")
endforeach()
set(CMAKE_CXX_STANDARD_LIBRARIES "-lpthread")
set(CMAKE_C_STANDARD_LIBRARIES "-lpthread")

set(CMAKE_FIND_ROOT_PATH /usr/${DERUZ_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
