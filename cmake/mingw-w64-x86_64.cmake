# Toolchain for the Windows x86-64 build: Debian's mingw-w64 cross compilers
# (posix thread model), every program linked statically, tests run under Wine.
#   cmake --preset windows        (or -DCMAKE_TOOLCHAIN_FILE=<this file>)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KVQ_MINGW_TRIPLE x86_64-w64-mingw32)
# The unsuffixed compiler names are Debian alternatives that switch to the
# win32 thread model (no std::mutex, no std::thread in GCC 12) when that
# package is installed too: name the posix ones.
set(CMAKE_C_COMPILER ${KVQ_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KVQ_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KVQ_MINGW_TRIPLE}-windres)

# Headers, libraries and packages come from the mingw tree only; programs
# run at build time are the host's.
set(CMAKE_FIND_ROOT_PATH /usr/${KVQ_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Nor may pkg-config answer with the host's libraries.
set(ENV{PKG_CONFIG_LIBDIR} /usr/${KVQ_MINGW_TRIPLE}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# -static takes libgcc, libstdc++ and winpthread into every .exe, which then
# imports only KERNEL32.dll and msvcrt.dll (-static-libgcc -static-libstdc++
# alone still leave libwinpthread-1.dll).  Libraries found by find_library
# must be asked for as static archives: the Windows platform module prefers
# the import libraries (.dll.a) whatever this file says.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# CTest and gtest_discover_tests run every test program through Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
