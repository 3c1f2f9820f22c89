# What both mingw-w64 toolchains share. The compilers of the posix thread model
# give the full C++ thread library; everything of the compiler's own runtime is
# linked statically, so the DLL and the programs run on a bare Windows (and
# under Wine) without any DLL besides the system's.
set(CMAKE_C_COMPILER ${SK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${SK_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${SK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(SK_STATIC_RUNTIME "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${SK_STATIC_RUNTIME}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${SK_STATIC_RUNTIME}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${SK_STATIC_RUNTIME}")

# 64-bit programs run under wine64 where it is installed (tests and hosts);
# 32-bit ones would need Wine's 32-bit half, which is not assumed.
if(SK_MINGW_TRIPLE STREQUAL "x86_64-w64-mingw32")
  find_program(SK_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
  if(NOT SK_WINE64)
    find_program(SK_WINE64 NAMES wine64)
  endif()
  if(SK_WINE64)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${SK_WINE64})
  endif()
endif()
