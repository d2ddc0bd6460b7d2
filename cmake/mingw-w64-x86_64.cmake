# Cross-build for 64-bit Windows with MinGW-w64 from Linux:
#   cmake -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The tests then run under Wine through ctest.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(SALVORA_MINGW_TRIPLE x86_64-w64-mingw32)

# The "posix" thread model: the default "win32" one of GCC 12 has no std::thread or std::mutex.
set(CMAKE_C_COMPILER ${SALVORA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SALVORA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${SALVORA_MINGW_TRIPLE}-windres)

# Libraries and headers come from the MinGW sysroot only; build tools from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${SALVORA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Lets ctest and gtest_discover_tests run the Windows programs. Without Wine the build still
# works; only running the tests needs it.
find_program(SALVORA_WINE NAMES wine64 wine)
if(SALVORA_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${SALVORA_WINE})
endif()
