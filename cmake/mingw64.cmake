# Cross build for 64-bit Windows with Debian's mingw-w64 toolchain.
#
# The product is 32-bit (cmake/mingw32.cmake). This build of the same sources
# is the test flavour for machines whose kernel cannot run 32-bit programs,
# where Wine can start only its 64-bit loader; see docs/testing.md.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

# As in the 32-bit build: posix thread model, everything linked statically.
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# ctest runs the Windows test programs under Wine's 64-bit loader. Debian
# installs it outside PATH; scripts/wine-env.sh with KANTIQ_WINE_ARCH=win64
# puts it on PATH for the run.
set(CMAKE_CROSSCOMPILING_EMULATOR wine64)
