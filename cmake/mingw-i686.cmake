# 32-bit Windows with mingw-w64; the posix-threads compiler, which GoogleTest needs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Nothing beside the system's own DLLs may be needed at run time.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(TELVARIO_WINE_LOADER wine)
set(TELVARIO_WINEARCH win32)
# widl finds the standard IDL files in Wine's headers and stdole2.tlb beside Wine's DLLs, or
# where scripts/install-deps unpacked it when 32-bit Wine could not be installed.
set(TELVARIO_WIDL i686-w64-mingw32-widl --win32 -L/usr/lib/i386-linux-gnu/wine/i386-windows
    -L/var/cache/telvario-build/i386-windows)
