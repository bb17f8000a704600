# I/O fault injection for the tests, preloaded into the tools. It is never built with the
# sanitizers: a preloaded library must not drag its own runtime in ahead of the program's.
if(PIDSIFT_TESTS)
  add_library(io_fault_shim SHARED tests/support/shim/io_fault_shim.cpp)
  set_target_properties(io_fault_shim PROPERTIES COMPILE_OPTIONS "-Wall;-Wextra;-Wpedantic" LINK_OPTIONS "")
  target_link_libraries(io_fault_shim PRIVATE ${CMAKE_DL_LIBS})
  add_executable(fault_probe tests/support/shim/fault_probe.cpp)
  target_link_libraries(fault_probe PRIVATE transport_stream)
  if(TARGET test_io_faults)
    add_dependencies(test_io_faults io_fault_shim fault_probe)
  endif()

  # Recordings past 4 GiB: minutes of work, so labelled long and left out of the default run
  # (make test-long runs them).
  find_package(Threads REQUIRED)
  add_executable(test_large_file tests/long/test_large_file.cpp)
  target_link_libraries(test_large_file PRIVATE ts_testsupport GTest::gtest_main Threads::Threads)
  add_dependencies(test_large_file pidsift)
  gtest_discover_tests(test_large_file DISCOVERY_TIMEOUT 120 PROPERTIES LABELS long TIMEOUT 1800)
endif()

# Fuzz targets: libFuzzer binaries in a PIDSIFT_FUZZ build; in the test builds the same entry
# points replay the seed corpus and every kept finding under fuzz/regressions/ as ctest cases.
file(GLOB PIDSIFT_FUZZ_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/fuzz_*.cpp)
if(PIDSIFT_FUZZ OR PIDSIFT_TESTS)
  add_library(pidsift_fuzzsupport STATIC fuzz/support.cpp)
  target_include_directories(pidsift_fuzzsupport PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/fuzz)
  target_link_libraries(pidsift_fuzzsupport PUBLIC transport_stream_internal)
  find_package(Threads REQUIRED)

  if(PIDSIFT_FUZZ)
    add_library(fuzz_streambuilder STATIC tests/support/stream_builder.cpp tests/support/capture.cpp)
    target_include_directories(fuzz_streambuilder PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/tests/support)
    target_link_libraries(fuzz_streambuilder PUBLIC transport_stream_internal)
    target_compile_definitions(fuzz_streambuilder PUBLIC
      PIDSIFT_SOURCE_DIR="${CMAKE_CURRENT_SOURCE_DIR}" PIDSIFT_BINARY_DIR="${CMAKE_CURRENT_BINARY_DIR}")
    add_executable(make_seeds fuzz/make_seeds.cpp)
    target_link_libraries(make_seeds PRIVATE fuzz_streambuilder)
  else()
    add_executable(make_seeds fuzz/make_seeds.cpp)
    target_link_libraries(make_seeds PRIVATE ts_testsupport)
    add_test(NAME fuzz_seeds COMMAND make_seeds ${CMAKE_CURRENT_BINARY_DIR}/fuzz-seeds
             ${CMAKE_CURRENT_SOURCE_DIR}/samples/sample.ts)
    set_tests_properties(fuzz_seeds PROPERTIES FIXTURES_SETUP fuzz_seeds)
  endif()

  foreach(fuzz_source ${PIDSIFT_FUZZ_SOURCES})
    get_filename_component(fuzz_target ${fuzz_source} NAME_WE)
    if(PIDSIFT_FUZZ)
      add_executable(${fuzz_target} fuzz/${fuzz_target}.cpp)
      target_link_options(${fuzz_target} PRIVATE -fsanitize=fuzzer)
      target_link_libraries(${fuzz_target} PRIVATE pidsift_fuzzsupport Threads::Threads)
    else()
      add_executable(replay_${fuzz_target} fuzz/${fuzz_target}.cpp fuzz/standalone_main.cpp)
      target_link_libraries(replay_${fuzz_target} PRIVATE pidsift_fuzzsupport Threads::Threads)
      set(replay_inputs ${CMAKE_CURRENT_BINARY_DIR}/fuzz-seeds/${fuzz_target})
      if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/regressions/${fuzz_target})
        list(APPEND replay_inputs ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/regressions/${fuzz_target})
      endif()
      add_test(NAME replay_${fuzz_target} COMMAND replay_${fuzz_target} ${replay_inputs})
      set_tests_properties(replay_${fuzz_target} PROPERTIES FIXTURES_REQUIRED fuzz_seeds TIMEOUT 300)
    endif()
  endforeach()
endif()
