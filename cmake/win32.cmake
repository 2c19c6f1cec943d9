set(CMAKE_SYSTEM_PROCESSOR i686)
set(VOLOK_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# No emulator: this kernel runs no 32-bit programs, so the tests are built, not run.
