# Shared part of the mingw-w64 toolchains: the compilers of one target triple with the posix
# thread model (std::thread and std::mutex need it), mingw's own Windows headers and import
# libraries only, statically linked programs that need no run-time DLLs beside them.
# The including file sets TQ_MINGW_TRIPLE and CMAKE_SYSTEM_PROCESSOR first.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 10.0)

set(CMAKE_C_COMPILER ${TQ_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TQ_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TQ_MINGW_TRIPLE}-windres)

# Libraries, headers and packages come from the target's sysroot only, never from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${TQ_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Windows 10 API level; the programs are wide-character programs throughout.
set(TQ_WINDOWS_DEFINES "-D_WIN32_WINNT=0x0A00 -DWINVER=0x0A00 -DUNICODE -D_UNICODE")
set(CMAKE_C_FLAGS_INIT "${TQ_WINDOWS_DEFINES}")
set(CMAKE_CXX_FLAGS_INIT "${TQ_WINDOWS_DEFINES}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Programs whose entry point is wmain link with -municode: the platform layer's `pal_main`
# target carries it, so that test programs with a plain main can be built with this toolchain too.

# Built programs run under Wine where a test needs to start them (64-bit only here).
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR AND TQ_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TQ_WINE})
endif()
