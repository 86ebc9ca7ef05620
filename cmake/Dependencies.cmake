# Imported targets for the system libraries every folder may use.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)

pkg_check_modules(ACE REQUIRED IMPORTED_TARGET ACE)
pkg_check_modules(YAJL REQUIRED IMPORTED_TARGET yajl)
pkg_check_modules(MHD REQUIRED IMPORTED_TARGET libmicrohttpd)
pkg_check_modules(CURL REQUIRED IMPORTED_TARGET libcurl)
find_package(SQLite3 REQUIRED)
find_package(PostgreSQL REQUIRED)
find_package(Boost REQUIRED)
find_package(GTest REQUIRED)
find_package(benchmark QUIET)

find_library(SGUTILS_LIBRARY sgutils2 REQUIRED)
find_path(SGUTILS_INCLUDE_DIR scsi/sg_pt.h REQUIRED)
add_library(sgutils2 INTERFACE IMPORTED)
target_link_libraries(sgutils2 INTERFACE ${SGUTILS_LIBRARY})
target_include_directories(sgutils2 INTERFACE ${SGUTILS_INCLUDE_DIR})

# ACE as the whole tree uses it.
add_library(d2t_ace INTERFACE)
target_link_libraries(d2t_ace INTERFACE PkgConfig::ACE Threads::Threads ${CMAKE_DL_LIBS})
target_include_directories(d2t_ace INTERFACE ${Boost_INCLUDE_DIRS})
