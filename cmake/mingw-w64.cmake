# CMake toolchain file: 64-bit Windows cross build with Debian's mingw-w64.
#
#   cmake -G Ninja -S . -B build-win \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
#         [-DMT4BRIDGE_WIN_DEPS=/path/to/deps]
#
# Needs: g++-mingw-w64-x86-64-posix (posix thread model, for std::thread).
# Dependencies built for Windows by scripts/windows-deps.sh are looked for in
# MT4BRIDGE_WIN_DEPS (default: <repo>/build-win/deps, the script's default;
# the environment variable of the same name overrides the default too).
# Executables and DLLs link the GCC, C++ and winpthread runtimes statically,
# so they need no MinGW DLL next to them.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_mingw_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${_mingw_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_mingw_triple}-g++-posix)
set(CMAKE_RC_COMPILER  ${_mingw_triple}-windres)
set(CMAKE_AR           ${_mingw_triple}-gcc-ar-posix CACHE FILEPATH "ar")
set(CMAKE_RANLIB       ${_mingw_triple}-gcc-ranlib-posix CACHE FILEPATH "ranlib")

# Where the Windows dependencies live.
if(NOT DEFINED MT4BRIDGE_WIN_DEPS OR MT4BRIDGE_WIN_DEPS STREQUAL "")
  if(DEFINED ENV{MT4BRIDGE_WIN_DEPS} AND NOT "$ENV{MT4BRIDGE_WIN_DEPS}" STREQUAL "")
    set(_mt4_deps_default "$ENV{MT4BRIDGE_WIN_DEPS}")
  else()
    get_filename_component(_mt4_deps_default
      "${CMAKE_CURRENT_LIST_DIR}/../build-win/deps" ABSOLUTE)
  endif()
  set(MT4BRIDGE_WIN_DEPS "${_mt4_deps_default}" CACHE PATH
      "Prefix holding the Windows builds of Proton, JsonCpp, simdjson and GoogleTest (scripts/windows-deps.sh)")
endif()
# try_compile() projects re-read this file: hand them the same value.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MT4BRIDGE_WIN_DEPS)

set(CMAKE_FIND_ROOT_PATH /usr/${_mingw_triple} "${MT4BRIDGE_WIN_DEPS}")
# Libraries, headers and packages only from the roots above; programs
# (python, wine, code generators) always from the build machine.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config (if anything uses it) must not report the Linux packages.
set(ENV{PKG_CONFIG_LIBDIR}
    "${MT4BRIDGE_WIN_DEPS}/lib/pkgconfig:${MT4BRIDGE_WIN_DEPS}/share/pkgconfig:/usr/${_mingw_triple}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

# No interprocedural register allocation: with it GCC lets a caller keep
# values in call-clobbered registers across a call to a template function it
# compiled itself, but on Windows the linker may keep another object's copy
# of that function (COMDAT), which clobbers them. Seen with Proton's
# uuid::random() calling mt19937's _M_gen_rand: a corrupt pointer and a
# crash. Every Windows object, the dependencies' included, is built so.
set(CMAKE_C_FLAGS_INIT "-fno-ipa-ra")
set(CMAKE_CXX_FLAGS_INIT "-fno-ipa-ra")

# Static runtime: no libgcc_s_seh-1.dll, libstdc++-6.dll, libwinpthread-1.dll.
set(_mingw_static_link "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT    "${_mingw_static_link}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_mingw_static_link}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${_mingw_static_link}")

# Lets ctest / gtest_discover_tests run the .exe files through wine.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(MT4BRIDGE_WINE64 NAMES wine64
               HINTS /usr/lib/wine /usr/lib64/wine NO_CMAKE_FIND_ROOT_PATH)
  if(MT4BRIDGE_WINE64)
    set(CMAKE_CROSSCOMPILING_EMULATOR "${MT4BRIDGE_WINE64}")
  endif()
endif()
