# Cross-compiles for Windows with Debian's MinGW-w64 (posix thread model).
#   VORLAND_TRIPLET   x86_64-w64-mingw32 (default) or i686-w64-mingw32
#   VORLAND_WIN_SDK   the folder with Qt, libpng and libsquish built for it
if(NOT VORLAND_TRIPLET)
    set(VORLAND_TRIPLET x86_64-w64-mingw32)
endif()
# try_compile projects see the toolchain file again, without the cache.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VORLAND_TRIPLET VORLAND_WIN_SDK)

set(CMAKE_SYSTEM_NAME Windows)
string(REGEX MATCH "^[^-]+" CMAKE_SYSTEM_PROCESSOR ${VORLAND_TRIPLET})
set(CMAKE_C_COMPILER ${VORLAND_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VORLAND_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VORLAND_TRIPLET}-windres)
# A 32-bit program may use 4 GiB of address space on 64-bit Windows, not 2.
if(VORLAND_TRIPLET MATCHES "^i686-")
    foreach(kind EXE SHARED MODULE)
        set(CMAKE_${kind}_LINKER_FLAGS_INIT "-Wl,--large-address-aware")
    endforeach()
endif()

set(CMAKE_FIND_ROOT_PATH ${VORLAND_WIN_SDK} /usr/${VORLAND_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests and helper programs run under Wine, quietly.
find_program(VORLAND_WINE NAMES wine wine64)
if(VORLAND_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${VORLAND_WINE})
endif()
