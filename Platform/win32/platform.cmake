# The platform layer of the Windows build: the compiler's Windows headers and libraries are
# the Win32 face, so only what they lack is built here. The class-library subset is the same
# source as on Linux (written on Win32 calls); the run-time's time formatting and the COM
# support conversions get Windows sources of their own. The headers under include/ forward
# to the shared class-library headers; the Linux include folder stays off the include path.
add_library(platform STATIC
  src/atlstr.cpp
  src/atltime.cpp
  src/afx_app.cpp
  src/afx_file.cpp
  src/afx_find.cpp
  win32/atltime_win32.cpp
  win32/comsupp.cpp
  win32/taskschd_iids.cpp)
target_include_directories(platform PUBLIC win32/include)
target_link_libraries(platform PRIVATE tq_warnings PUBLIC Threads::Threads
  taskschd ole32 oleaut32 uuid winspool mscms shlwapi shell32 dbghelp rpcrt4 version advapi32)

# Programs enter at wmain: mingw's start-up code for it comes with -municode.
add_library(pal_main INTERFACE)
target_link_libraries(pal_main INTERFACE platform)
target_link_options(pal_main INTERFACE -municode)
