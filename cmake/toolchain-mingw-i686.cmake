# Cross build of the 32-bit Windows artefacts (the host's platform).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# The three files must be all a host machine needs: no libgcc/libstdc++ DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Test programs run under wine, in a prefix of the build's own (made on first
# use), with wine's diagnostics off.
get_filename_component(JYN_WINE_RUN ${CMAKE_CURRENT_LIST_DIR}/../tests/windows/wine-run.sh ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${JYN_WINE_RUN} ${CMAKE_BINARY_DIR}/wine)
# -O2 rather than CMake's -O3: the driver spends its time waiting on the
# serial line, and -O3 only adds build time (a quarter more for the test
# programs) and code size.
# (CMake appends its -O3 to the _INIT flags, so the cache entries are set.)
set(CMAKE_C_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "Flags of Release builds")
set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "Flags of Release builds")
