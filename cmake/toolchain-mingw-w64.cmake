# Cross build for Windows x86-64 with Debian's MinGW-w64 (posix thread model, which GoogleTest
# needs for std::mutex). Programs are linked statically and run under Wine by CTest.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
# The static Qt for Windows that scripts/build-qt-windows.sh builds (it prints the prefix): a
# second root, since packages are searched only below the roots.
if(FACELUME_QT_PREFIX)
    list(APPEND CMAKE_FIND_ROOT_PATH ${FACELUME_QT_PREFIX})
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES FACELUME_QT_PREFIX)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C++ runtime and winpthread go into every program and DLL: nothing else is shipped beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

find_program(FACELUME_WINE wine REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${FACELUME_WINE})
