# Fuzz targets: one file per target in fuzz/targets/ (see fuzz/FuzzTarget.hpp).
# - With QZ_FUZZ (clang, scripts/fuzz) each becomes the libFuzzer executable fuzz_<name>.
# - Every build with tests compiles them into qz_tests too, where FuzzCorpus replays the
#   checked-in inputs of fuzz/corpus/<name>/ under the build's sanitizers.

file(GLOB QZ_FUZZ_TARGET_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/targets/*.cpp)

if(QZ_FUZZ)
  foreach(source ${QZ_FUZZ_TARGET_SOURCES})
    get_filename_component(name ${source} NAME_WE)
    add_executable(fuzz_${name} ${source} ${CMAKE_SOURCE_DIR}/fuzz/FuzzMain.cpp)
    target_compile_definitions(fuzz_${name} PRIVATE QZ_FUZZER)
    target_include_directories(fuzz_${name} PRIVATE ${CMAKE_SOURCE_DIR}/fuzz)
    target_link_libraries(fuzz_${name} PRIVATE qzenhanced qzsim)
    target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
  endforeach()
endif()

function(qz_fuzz_add_replay)
  if(TARGET qz_tests)
    target_sources(qz_tests PRIVATE ${QZ_FUZZ_TARGET_SOURCES})
    target_include_directories(qz_tests PRIVATE ${CMAKE_SOURCE_DIR}/fuzz)
  endif()
endfunction()
cmake_language(DEFER CALL qz_fuzz_add_replay)
