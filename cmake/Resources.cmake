# The library's resource folder: every file of resources/ encrypted with the library's own
# definition-file operation into ${CMAKE_BINARY_DIR}/resources, beside the library, at the
# same relative path. Markdown notes are not resources.

add_executable(qz_encrypt_resource ${CMAKE_CURRENT_LIST_DIR}/EncryptResource.cpp)
target_link_libraries(qz_encrypt_resource PRIVATE qzenhanced)

file(GLOB_RECURSE QZ_RESOURCE_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/resources/*)
list(FILTER QZ_RESOURCE_SOURCES EXCLUDE REGEX "\\.md$")

set(QZ_RESOURCE_OUTPUTS)
foreach(source ${QZ_RESOURCE_SOURCES})
  file(RELATIVE_PATH relative ${CMAKE_SOURCE_DIR}/resources ${source})
  set(output ${CMAKE_BINARY_DIR}/resources/${relative})
  add_custom_command(
    OUTPUT ${output}
    COMMAND qz_encrypt_resource ${source} ${output}
    DEPENDS qz_encrypt_resource ${source}
    COMMENT "Encrypting resource ${relative}"
    VERBATIM)
  list(APPEND QZ_RESOURCE_OUTPUTS ${output})
endforeach()

add_custom_target(qz_resources ALL DEPENDS ${QZ_RESOURCE_OUTPUTS})

# The test, benchmark and demo targets are defined after this file is included; hook them up
# once the whole directory has been read.
function(qz_resources_add_dependents)
  foreach(target qz_tests qzdiag qz_bench)
    if(TARGET ${target})
      add_dependencies(${target} qz_resources)
    endif()
  endforeach()
endfunction()
cmake_language(DEFER CALL qz_resources_add_dependents)
