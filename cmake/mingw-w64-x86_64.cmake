# Cross-compiles the Windows programs with mingw-w64. The posix thread model
# is required: GoogleTest needs std::thread and friends.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QF_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${QF_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QF_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER  ${QF_TRIPLET}-windres)
set(QF_MC_COMPILER     ${QF_TRIPLET}-windmc)

set(CMAKE_FIND_ROOT_PATH /usr/${QF_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
