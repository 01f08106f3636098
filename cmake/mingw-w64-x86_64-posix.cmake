# The Windows test programs: GoogleTest needs std::mutex, which only the
# posix thread model of Debian's MinGW-w64 provides. The product keeps the
# default (win32) compiler of mingw-w64-x86_64.cmake.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-x86_64.cmake)
set(CMAKE_C_COMPILER ${SAVELINK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SAVELINK_MINGW_PREFIX}-g++-posix)
