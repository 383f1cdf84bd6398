# Cross-build for 64-bit Windows with MinGW-w64 (Debian's g++-mingw-w64-x86-64-posix).
# The posix flavour is needed for std::thread and std::mutex. The runtime is linked
# statically so the .exe files run under Wine or on a bare Windows without extra DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KLR_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KLR_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KLR_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KLR_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KLR_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# The C99 printf family (%zu, %lld, %hhx) instead of the old system runtime's.
set(CMAKE_C_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=1")
set(CMAKE_CXX_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=1")

# ctest (and test discovery) run the .exe files through Wine.
get_filename_component(KLR_WINE_RUN ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${KLR_WINE_RUN})
