# Cross-building the Windows programs on Debian with MinGW-w64 (x86_64, the POSIX thread model
# that std::thread needs), against the libraries scripts/build-windows-libs.sh made:
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
#         -DOMBRIK_WINDOWS_PREFIX=$(scripts/build-windows-libs.sh | tail -n1)
# Programs are linked statically and need only the DLLs that every Windows has; tests run under
# Wine (the cross-compiling emulator).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ombrik_host x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ombrik_host}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ombrik_host}-g++-posix)
set(CMAKE_RC_COMPILER ${ombrik_host}-windres)

set(OMBRIK_WINDOWS_PREFIX "$ENV{OMBRIK_WINDOWS_PREFIX}" CACHE PATH "The libraries built by scripts/build-windows-libs.sh")
# CMake's own test projects read this file again and need the folder too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES OMBRIK_WINDOWS_PREFIX)
if(NOT IS_DIRECTORY "${OMBRIK_WINDOWS_PREFIX}")
  message(FATAL_ERROR "OMBRIK_WINDOWS_PREFIX: run scripts/build-windows-libs.sh and pass the folder it prints")
endif()
# OpenSSL and libetpan, for the upload to a mail server (scripts/build-windows-mail-libs.sh);
# without them the build leaves the upload out.
set(OMBRIK_WINDOWS_MAIL_PREFIX "$ENV{OMBRIK_WINDOWS_MAIL_PREFIX}" CACHE PATH "The libraries built by scripts/build-windows-mail-libs.sh")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES OMBRIK_WINDOWS_MAIL_PREFIX)
set(CMAKE_FIND_ROOT_PATH ${OMBRIK_WINDOWS_PREFIX} ${OMBRIK_WINDOWS_MAIL_PREFIX} /usr/${ombrik_host})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config sees only the Windows libraries, and names everything a static link needs.
set(ENV{PKG_CONFIG_LIBDIR} ${OMBRIK_WINDOWS_PREFIX}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
set(PKG_CONFIG_ARGN --static)
set(wxWidgets_CONFIG_EXECUTABLE ${OMBRIK_WINDOWS_PREFIX}/bin/wx-config)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
find_program(OMBRIK_WINE wine)
if(OMBRIK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${OMBRIK_WINE})
endif()
