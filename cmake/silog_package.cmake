# The logging library as an installable package: `cmake --install <build> --component silog`
# puts under the prefix
#   include/silog/silog.h                    the umbrella header
#   include/silog/logging/<layer>/<file>.h   the portable public headers
#   lib/libsilog.a                           (and lib/libsilog.so.X.Y.Z with SILOG_BUILD_SHARED)
#   lib/cmake/SiLog/                         find_package(SiLog CONFIG): SiLog::silog,
#                                            SiLog::silog_shared, SiLog::silog_tool
#   lib/pkgconfig/silog.pc                   pkg-config --cflags --libs silog
#   bin/silog                                the command-line tool (silog dump, listen, ...)
#
# The headers include each other as "logging/<layer>/<file>.h", rooted at the repository. A
# user's include path could hold a "logging/" folder of its own that would then be found
# first, so the installed copies include each other relative to themselves instead
# ("../<layer>/<file>.h"): a quoted include is looked up beside the including file before any
# include path, so nothing on the user's path can stand in for one of ours. The copies are made
# at install time (cmake/silog_install_headers.cmake); the sources keep their includes. Only
# <prefix>/include is an include directory of the package, so a user's own "logging/..."
# headers are never shadowed by ours either.
#
# Included from the top-level CMakeLists.txt after logging/ and tools/ (it installs silog).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(SILOG_SOURCE_DIR ${PROJECT_SOURCE_DIR}/logging)
set(SILOG_CMAKE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/SiLog)

# The same names in the source tree as in an installed package, so that examples/ builds
# either way.
add_library(SiLog::silog ALIAS silogging)
if(TARGET silogging_shared)
    add_library(SiLog::silog_shared ALIAS silogging_shared)
endif()
add_executable(SiLog::silog_tool ALIAS silog)

# The portable public headers: the *_posix.h and *_win32.h ones are private to their sources.
set(SILOG_HEADERS)
foreach(layer IN LISTS SILOGGING_LAYERS)
    file(GLOB layer_headers CONFIGURE_DEPENDS RELATIVE ${SILOG_SOURCE_DIR}
         ${SILOG_SOURCE_DIR}/${layer}/*.h)
    list(FILTER layer_headers EXCLUDE REGEX "_(posix|win32)\\.h$")
    list(APPEND SILOG_HEADERS ${layer_headers})
endforeach()

install(CODE "
    set(SILOG_SOURCE_DIR \"${SILOG_SOURCE_DIR}\")
    set(SILOG_HEADERS \"${SILOG_HEADERS}\")
    set(SILOG_STAGE_DIR \"${CMAKE_CURRENT_BINARY_DIR}/silog-headers\")
    set(SILOG_INCLUDE_DESTINATION \"${CMAKE_INSTALL_INCLUDEDIR}/silog\")"
    COMPONENT silog)
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/silog_install_headers.cmake COMPONENT silog)
install(FILES ${SILOG_SOURCE_DIR}/include/silog/silog.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/silog COMPONENT silog)

# The tool's imported name in the package: "silog" is the library's.
set_target_properties(silog PROPERTIES EXPORT_NAME silog_tool)
set(SILOG_INSTALL_TARGETS silogging silog)
if(TARGET silogging_shared)
    list(APPEND SILOG_INSTALL_TARGETS silogging_shared)
endif()
install(TARGETS ${SILOG_INSTALL_TARGETS} EXPORT SiLogTargets COMPONENT silog
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(EXPORT SiLogTargets NAMESPACE SiLog:: DESTINATION ${SILOG_CMAKE_INSTALL_DIR}
        COMPONENT silog)

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/SiLogConfig.cmake.in
    ${CMAKE_CURRENT_BINARY_DIR}/SiLogConfig.cmake
    INSTALL_DESTINATION ${SILOG_CMAKE_INSTALL_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/SiLogConfigVersion.cmake
    VERSION ${SILOG_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/SiLogConfig.cmake
        ${CMAKE_CURRENT_BINARY_DIR}/SiLogConfigVersion.cmake
        DESTINATION ${SILOG_CMAKE_INSTALL_DIR} COMPONENT silog)

# pkg-config: the prefix is found from the .pc file's own place, so the installed tree can be
# moved or installed with `cmake --install --prefix`.
file(RELATIVE_PATH SILOG_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" SILOG_PC_TO_PREFIX "${SILOG_PC_TO_PREFIX}")
if(WIN32)
    set(SILOG_PC_SYSTEM_LIBS "-lws2_32")
else()
    set(SILOG_PC_SYSTEM_LIBS "-pthread")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/silog.pc.in ${CMAKE_CURRENT_BINARY_DIR}/silog.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/silog.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT silog)
