# Cross build for 64-bit Windows with Debian's mingw-w64 (the POSIX thread model, which
# std::thread needs), against the static libraries scripts/windows-deps.sh builds.
# Pass the prefix that script printed: -DMIRKA_WINDOWS_PREFIX=<prefix>.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(mirka_host x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${mirka_host}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mirka_host}-g++-posix)
set(CMAKE_RC_COMPILER ${mirka_host}-windres)

# The toolchain file is read again for every try_compile: keep the prefix across.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MIRKA_WINDOWS_PREFIX)
if(NOT MIRKA_WINDOWS_PREFIX)
    set(MIRKA_WINDOWS_PREFIX "$ENV{MIRKA_WINDOWS_PREFIX}")
endif()
if(NOT MIRKA_WINDOWS_PREFIX OR NOT EXISTS "${MIRKA_WINDOWS_PREFIX}/.complete")
    message(FATAL_ERROR "Set MIRKA_WINDOWS_PREFIX to the prefix scripts/windows-deps.sh prints")
endif()

set(CMAKE_FIND_ROOT_PATH ${MIRKA_WINDOWS_PREFIX} /usr/${mirka_host})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config reads only the prefix's own .pc files, never the host's.
set(ENV{PKG_CONFIG_LIBDIR} "${MIRKA_WINDOWS_PREFIX}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
set(OPENSSL_USE_STATIC_LIBS TRUE)

# Everything linked in (the C++ runtime and winpthread too): a test program runs under wine
# without a DLL beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# The test programs run under wine; Debian's wine64 keeps its binary off PATH.
find_program(MIRKA_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(MIRKA_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${MIRKA_WINE})
endif()
