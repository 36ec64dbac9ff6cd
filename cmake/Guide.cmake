# The code of docs/guide.md: its ```cpp blocks, extracted into one file that the tests include
# (tests/docs/ runs the guide's walkthrough against the simulated sensor), so the guide cannot
# show code that does not build or does not work.

add_executable(qz_extract_guide_code ${CMAKE_CURRENT_LIST_DIR}/ExtractGuideCode.cpp)

function(qz_guide_add)
  if(NOT TARGET qz_tests)
    return()
  endif()
  set(code ${CMAKE_BINARY_DIR}/guide/GuideCode.inc)
  add_custom_command(
    OUTPUT ${code}
    COMMAND qz_extract_guide_code ${CMAKE_SOURCE_DIR}/docs/guide.md ${code}
    DEPENDS qz_extract_guide_code ${CMAKE_SOURCE_DIR}/docs/guide.md
    COMMENT "Extracting the guide's code"
    VERBATIM)
  target_sources(qz_tests PRIVATE ${code})
  target_include_directories(qz_tests PRIVATE ${CMAKE_BINARY_DIR}/guide)
endfunction()
cmake_language(DEFER CALL qz_guide_add)
