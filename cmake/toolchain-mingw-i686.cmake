# Cross-build for 32-bit Windows with MinGW-w64: the release build, since the
# terminal control is a 32-bit in-process component. Its programs run under
# the private 32-bit Wine that tools/wine-i686/setup prepares (this kernel
# runs no 32-bit code, so that Wine's 32-bit half is emulated).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
# The posix thread model, as for x86_64.
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
if(DEFINED ENV{VORLUND_WINE_I686})
    set(VORLUND_WINE_I686 $ENV{VORLUND_WINE_I686})
else()
    set(VORLUND_WINE_I686 /var/tmp/vorlund-wine-i686)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR
    env VORLUND_WINE_I686=${VORLUND_WINE_I686} ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run)
