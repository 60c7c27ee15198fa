# Cross build for 64-bit Windows with clang, on Debian's mingw-w64: its
# headers, libraries, linker and GCC's C++ library (g++-mingw-w64-x86-64).
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-w64-x86_64.cmake)

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${HOSTSWEEP_MINGW_TRIPLET})
set(CMAKE_CXX_COMPILER_TARGET ${HOSTSWEEP_MINGW_TRIPLET})

# clang looks for libstdc++ in /usr/include/c++, but Debian keeps the
# mingw-w64 copy in GCC's own folder: name it, and its libraries.
execute_process(COMMAND ${HOSTSWEEP_MINGW_TRIPLET}-g++ -print-libgcc-file-name
                OUTPUT_VARIABLE libgcc OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
cmake_path(GET libgcc PARENT_PATH gcc_folder)
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES
    ${gcc_folder}/include/c++ ${gcc_folder}/include/c++/${HOSTSWEEP_MINGW_TRIPLET})
string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT " -L${gcc_folder}")
