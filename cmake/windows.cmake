# Settings of the Windows build (included by the top-level CMakeLists on WIN32).

if(NOT MINGW)
  message(FATAL_ERROR "The Windows build is made with the mingw-w64 toolchains in cmake/")
endif()

# Boost.Format is header-only. The host's Boost headers are made visible to the Windows
# compiler through a folder of the build tree that holds only a link to them, so that the
# host's /usr/include (with its Linux C library headers) never reaches the include path.
find_path(TQ_HOST_BOOST_INCLUDE boost/format.hpp PATHS /usr/include NO_DEFAULT_PATH
          NO_CMAKE_FIND_ROOT_PATH)
if(NOT TQ_HOST_BOOST_INCLUDE)
  message(FATAL_ERROR "Boost headers not found (Debian package libboost-dev)")
endif()
set(TQ_BOOST_INCLUDE_DIR ${CMAKE_BINARY_DIR}/host-boost)
file(MAKE_DIRECTORY ${TQ_BOOST_INCLUDE_DIR})
if(NOT EXISTS ${TQ_BOOST_INCLUDE_DIR}/boost)
  file(CREATE_LINK ${TQ_HOST_BOOST_INCLUDE}/boost ${TQ_BOOST_INCLUDE_DIR}/boost SYMBOLIC)
endif()
add_library(tq_boost_headers INTERFACE)
target_include_directories(tq_boost_headers SYSTEM INTERFACE ${TQ_BOOST_INCLUDE_DIR})
