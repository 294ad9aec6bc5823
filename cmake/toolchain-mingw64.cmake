# Cross build for 64-bit Windows with MinGW-w64 (Debian's
# g++-mingw-w64-x86-64-posix: the posix threads flavour, which std::thread
# and std::mutex need).
#
#   cmake -S . -B build/win -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
#         -DDB_SETUP_BUILD_GUI=OFF -DDB_SETUP_BUILD_STANDIN=OFF
#
# Executables are linked statically, so they need no MinGW DLLs beside them
# (under Wine as on Windows).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(DB_SETUP_MINGW_TRIPLET x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${DB_SETUP_MINGW_TRIPLET}-gcc-posix ${DB_SETUP_MINGW_TRIPLET}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${DB_SETUP_MINGW_TRIPLET}-g++-posix ${DB_SETUP_MINGW_TRIPLET}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${DB_SETUP_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${DB_SETUP_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Tests and test discovery run the executables through Wine when it is there.
find_program(DB_SETUP_WINE NAMES wine wine64)
if(DB_SETUP_WINE AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${DB_SETUP_WINE})
endif()
