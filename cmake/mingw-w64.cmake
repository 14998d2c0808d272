# Cross-compiles for 64-bit Windows with MinGW-w64 on a Debian host:
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
# The posix-threads compiler variant is used because its C++ library has
# std::thread and std::mutex; the runtime is linked statically (see the top
# CMakeLists), so the .exe files need no DLLs beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KEL_MINGW_PREFIX x86_64-w64-mingw32)
find_program(KEL_MINGW_CXX NAMES ${KEL_MINGW_PREFIX}-g++-posix ${KEL_MINGW_PREFIX}-g++ REQUIRED)
find_program(KEL_MINGW_CC NAMES ${KEL_MINGW_PREFIX}-gcc-posix ${KEL_MINGW_PREFIX}-gcc REQUIRED)
set(CMAKE_CXX_COMPILER ${KEL_MINGW_CXX})
set(CMAKE_C_COMPILER ${KEL_MINGW_CC})
set(CMAKE_ASM_COMPILER ${KEL_MINGW_CC})
set(CMAKE_RC_COMPILER ${KEL_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KEL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests run the .exe files through wine when it is there.
find_program(KEL_WINE NAMES wine wine64)
if(KEL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KEL_WINE})
endif()

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
