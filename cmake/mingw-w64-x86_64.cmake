# Cross-building for 64-bit Windows with Debian's mingw-w64 (the POSIX thread
# model: g++-mingw-w64-x86-64-posix). Programs run on this machine through
# Wine, which the test configuration sets up in the build folder.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(mingw_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${mingw_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${mingw_triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${mingw_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# C99 formatting (%lld, %zu) from the compiler's own stdio rather than the
# old system runtime's.
add_compile_definitions(__USE_MINGW_ANSI_STDIO=1)

# The C and C++ runtimes and the thread library are linked in, so the
# programs and the library need nothing beside them on a bare Windows.
set(mingw_static_runtime "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${mingw_static_runtime}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${mingw_static_runtime}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${mingw_static_runtime}")

# Windows programs run here through Wine, in a prefix of the build folder's
# own, so no test touches the user's ~/.wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh ${CMAKE_BINARY_DIR}/wine)
