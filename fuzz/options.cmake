# Fuzz build: clang++ with libFuzzer, ASan and UBSan on every object.
option(PIDSIFT_FUZZ "Build the libFuzzer targets (clang++ only; turns the tests off)" OFF)
if(PIDSIFT_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "PIDSIFT_FUZZ needs clang++: configure with -DCMAKE_CXX_COMPILER=clang++")
  endif()
  set(PIDSIFT_TESTS OFF)
  # Every object gets coverage counters; only the targets link libFuzzer's main.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
