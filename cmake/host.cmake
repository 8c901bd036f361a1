# Native build: the packing tool, host tests of the portable code, the fuzzer.
find_package(GTest REQUIRED)
include(GoogleTest)

add_subdirectory(tools/packer)
add_subdirectory(tests/host)
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  add_subdirectory(tests/fuzz)
endif()
