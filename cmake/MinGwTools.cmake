# The MinGW tools the native build uses for what must be Windows data: the compiled
# resources the exe carries, and PE files for the tests.
find_program(MINGW_WINDRES i686-w64-mingw32-windres REQUIRED)
find_program(MINGW_CXX i686-w64-mingw32-g++-posix REQUIRED)
find_package(Python3 REQUIRED COMPONENTS Interpreter)
