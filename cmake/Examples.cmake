# examples/scan: a scan of a simulated vehicle through the public API, built in the tree (it
# needs the simulated sensor) unless QZ_BUILD_EXAMPLES is off, and run as one of the tests when
# they are built: its waits scaled down, a user account of its own, and a backend that is not
# there.
# (examples/vin-lookup is built against the installed package: scripts/install-check.)

function(qz_examples_add)
  if(NOT QZ_BUILD_EXAMPLES OR NOT TARGET qzsim)
    return()
  endif()
  add_executable(qz_example_scan ${CMAKE_SOURCE_DIR}/examples/scan/main.cpp)
  target_link_libraries(qz_example_scan PRIVATE qzenhanced qzsim)
  add_dependencies(qz_example_scan qz_resources)
  if(NOT QZ_BUILD_TESTS)
    return()
  endif()
  set(user ${CMAKE_BINARY_DIR}/example-user)
  add_test(NAME ExampleScan COMMAND qz_example_scan)
  set_tests_properties(ExampleScan PROPERTIES TIMEOUT 300 ENVIRONMENT
    "QZ_TIME_SCALE=0.05;QZ_BACKEND_HOST=http://127.0.0.1:9;HOME=${user};XDG_DATA_HOME=${user}/data;XDG_CONFIG_HOME=${user}/config;XDG_CACHE_HOME=${user}/cache")
endfunction()
cmake_language(DEFER CALL qz_examples_add)
