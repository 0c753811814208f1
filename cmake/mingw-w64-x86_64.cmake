# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (the posix-thread variant, which
# std::thread and Qt need). Qt for the target is found under CMAKE_PREFIX_PATH (the cross-built
# qtbase); its host tools (moc, rcc, uic) come from the build machine's own Qt of the same
# version, named by QT_HOST_PATH.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(LORVANE_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${LORVANE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LORVANE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${LORVANE_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${LORVANE_MINGW_TRIPLE})
# Programs run on the build machine; libraries and headers come from the target's trees.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

if(NOT DEFINED QT_HOST_PATH)
  set(QT_HOST_PATH /usr CACHE PATH "Prefix of the build machine's Qt (host tools)")
endif()
if(NOT DEFINED QT_HOST_PATH_CMAKE_DIR)
  set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH
    "CMake package folder of the build machine's Qt")
endif()
# Packages of the target Qt sit outside the mingw root; let find_package look there too.
list(APPEND CMAKE_FIND_ROOT_PATH ${CMAKE_PREFIX_PATH})

# Windows programs run on the build machine through Wine, for tests and try_run.
find_program(LORVANE_WINE NAMES wine)
if(LORVANE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${LORVANE_WINE})
endif()
