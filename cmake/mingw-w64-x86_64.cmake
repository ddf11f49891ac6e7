# Cross build for 64-bit Windows with Debian's mingw-w64 (packages
# g++-mingw-w64-x86-64-posix and mingw-w64). The compilers of the posix
# thread model are used: only they give std::thread and std::mutex.
#   cmake --preset windows
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KORVIK_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KORVIK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KORVIK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KORVIK_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KORVIK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs built here (the tests) run under Wine, in a prefix of the build
# tree's own.
get_filename_component(KORVIK_WINE_RUN ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run
                       ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${KORVIK_WINE_RUN} ${CMAKE_BINARY_DIR}/wineprefix)
